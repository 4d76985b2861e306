// The initialisation of a transcode: the stream tables, the mapping of output streams to input
// streams, stream copy parameters, encoders and decoders opened, metadata, headers and the
// mapping log.
#include "engine/AudioVolume.h"
#include "engine/ContainerTags.h"
#include "engine/EncoderCopy.h"
#include "engine/GainTags.h"
#include "engine/Mp4Gapless.h"
#include "engine/OutputAudioSetup.h"
#include "engine/OutputSubtitle.h"
#include "engine/TranscodeRun.h"

#include "ffbind/AudioStreamChoice.h"
#include "ffbind/FFUtils.h"
#include "ffbind/FFmpegLogger.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <sstream>

namespace {

AVMediaType KindOf(const AVStream* stream) {
    return stream->codecpar->codec_type;
}

bool IsCover(const AVStream* stream) {
    return (stream->disposition & AV_DISPOSITION_ATTACHED_PIC) != 0;
}

// Tags that describe the input file itself rather than its content.
bool IsFileTag(const char* key) {
    for (const char* fileTag :
         {"encoder", "creation_time", "major_brand", "minor_version", "compatible_brands"})
        if (std::strcmp(key, fileTag) == 0)
            return true;
    return false;
}

void DropEmptyTags(AVFormatContext& output) {
    std::vector<std::string> empty;
    const AVDictionaryEntry* entry = nullptr;
    while ((entry = ff::av_dict_get(output.metadata, "", entry, AV_DICT_IGNORE_SUFFIX)))
        if (!*entry->value)
            empty.emplace_back(entry->key);
    for (const std::string& key : empty)
        ff::av_dict_set(&output.metadata, key.c_str(), nullptr, 0);
}

// The frame duration of a video stream as a time base (1 / frame rate), or 0/0 when unknown.
AVRational FrameDurationOf(const AVStream* stream) {
    const AVRational rate =
        stream->avg_frame_rate.num > 0 ? stream->avg_frame_rate : stream->r_frame_rate;
    return rate.num > 0 && rate.den > 0 ? av_inv_q(rate) : AVRational{0, 0};
}

// The codec tag of a copied stream: kept unless the output format's tag table gives the input's
// codec another tag.
uint32_t CopiedCodecTag(const AVOutputFormat* format, const AVCodecParameters* input) {
    const AVCodecTag* const* table = format->codec_tag;
    if (!table || ff::av_codec_get_id(table, input->codec_tag) == input->codec_id ||
        ff::av_codec_get_tag(table, input->codec_id) == 0)
        return input->codec_tag;
    return 0;
}

} // namespace

void TTranscodeRun::TranscodeInit() {
    TEngineRun& run = State;
    // Input tables.
    int firstStream = 0;
    for (int file = 0; file < Setup.InputFileCount(); ++file) {
        AVFormatContext* input = Setup.InputFiles[file];
        const int count = static_cast<int>(input->nb_streams);
        run.InputFileTable.push_back({false, firstStream, count});
        for (int k = 0; k < count; ++k) {
            auto ist = std::make_unique<TInputStream>();
            ist->FileIndex = file;
            ist->Index = k;
            ist->St = input->streams[k];
            const std::size_t global = static_cast<std::size_t>(firstStream + k);
            ist->Dec = global < Setup.InputDecoders.size() ? Setup.InputDecoders[global] : nullptr;
            if (Setup.Options.RateEmulation)
                ist->StartUs = ff::av_gettime();
            run.InputStreams.push_back(std::move(ist));
        }
        firstStream += count;
    }

    // Output streams and the checks of the stream maps.
    int total = 0;
    for (int j = 0; j < Setup.OutputFileCount(); ++j) {
        AVFormatContext* output = Setup.OutputFiles[j];
        if (output->nb_streams == 0) {
            ff::av_dump_format(output, j, output->url, 1);
            throw FFmpegException(FormatText("Output file #%d does not contain any stream", j));
        }
        total += static_cast<int>(output->nb_streams);
    }
    if (!Setup.Options.StreamMaps.empty() &&
        static_cast<int>(Setup.Options.StreamMaps.size()) != total)
        throw FFmpegException("Number of stream maps must match number of output streams");
    auto validStream = [this](int file, int stream) {
        return file >= 0 && file < Setup.InputFileCount() && stream >= 0 &&
               stream < static_cast<int>(Setup.InputFiles[file]->nb_streams);
    };
    for (const TStreamMap& map : Setup.Options.StreamMaps) {
        if (!validStream(map.FileIndex, map.StreamIndex))
            throw FFmpegException(
                FormatText("Could not find input stream #%d.%d", map.FileIndex, map.StreamIndex));
        if (!validStream(map.SyncFileIndex, map.SyncStreamIndex))
            throw FFmpegException(FormatText("Could not find sync stream #%d.%d", map.SyncFileIndex,
                                             map.SyncStreamIndex));
    }
    for (int j = 0; j < Setup.OutputFileCount(); ++j) {
        for (unsigned k = 0; k < Setup.OutputFiles[j]->nb_streams; ++k) {
            auto ost = std::make_unique<TOutputStream>();
            const TOutputStreamSetup& setup = Setup.OutputSetupOf(j).Streams.at(k);
            ost->FileIndex = j;
            ost->Index = static_cast<int>(k);
            ost->St = Setup.OutputFiles[j]->streams[k];
            ost->Enc = setup.Encoder.get();
            ost->Codec = setup.Codec;
            run.OutputStreams.push_back(std::move(ost));
        }
    }

    MapStreams();
    for (auto& ost : run.OutputStreams)
        PrepareOutputCodec(*ost, *run.InputStreams[ost->SourceIndex]);
    OpenOutputEncoders();
    OpenInputDecoders();
    for (auto& ist : run.InputStreams) {
        ist->PtsUs = 0;
        ist->NextPtsUs = NoPts;
        ist->IsStart = true;
    }
    CopyMappedMetadata();
    CreateBitstreamFilters();
    for (int j = 0;
         j < (Setup.JoinMode ? std::min(1, Setup.OutputFileCount()) : Setup.OutputFileCount()); ++j)
        AddCoverArt(j);
    WriteHeaders();
    LogStreamMapping();
}

void TTranscodeRun::MapStreams() {
    TEngineRun& run = State;
    int i = 0;
    for (auto& ostPtr : run.OutputStreams) {
        TOutputStream& ost = *ostPtr;
        const AVMediaType kind = KindOf(ost.St);
        AVFormatContext* output = Setup.OutputFiles[ost.FileIndex];
        if (!Setup.Options.StreamMaps.empty()) {
            const TStreamMap& map = Setup.Options.StreamMaps[i];
            ost.SourceIndex = run.InputFileTable[map.FileIndex].IstIndex + map.StreamIndex;
            const AVMediaType sourceKind = KindOf(run.InputStreams[ost.SourceIndex]->St);
            if (sourceKind != kind) {
                ff::av_dump_format(output, ost.FileIndex, output->url, 1);
                throw FFmpegException(
                    FormatText("Codec type mismatch for mapping #%d.%d (%s) -> #%d.%d (%s)",
                               map.FileIndex, map.StreamIndex, MediaTypeName(sourceKind).c_str(),
                               ost.FileIndex, ost.Index, MediaTypeName(kind).c_str()));
            }
            ost.SyncIst = run.InputStreams[run.InputFileTable[map.SyncFileIndex].IstIndex +
                                           map.SyncStreamIndex]
                              .get();
        } else {
            const int source = FindSource(ost, kind);
            if (source < 0) {
                ff::av_dump_format(output, ost.FileIndex, output->url, 1);
                throw FFmpegException(
                    FormatText("Could not find input stream matching output stream #%d.%d (%s)",
                               ost.FileIndex, ost.Index, MediaTypeName(kind).c_str()));
            }
            ost.SourceIndex = source;
            ost.SyncIst = run.InputStreams[source].get();
        }
        run.InputStreams[ost.SourceIndex]->Discard = false;
        ++i;
    }
}

int TTranscodeRun::FindSource(const TOutputStream& ost, AVMediaType kind) const {
    const TEngineRun& run = State;
    auto fits = [&](int index) {
        const TInputStream& ist = *run.InputStreams[index];
        return ist.Discard && KindOf(ist.St) == kind && !IsCover(ist.St) &&
               (!Setup.JoinMode || ist.FileIndex == ost.FileIndex);
    };
    if (Setup.Options.ProgramId != 0) {
        for (int file = 0; file < Setup.InputFileCount(); ++file) {
            AVFormatContext* input = Setup.InputFiles[file];
            for (unsigned p = 0; p < input->nb_programs; ++p) {
                const AVProgram* program = input->programs[p];
                if (program->id != Setup.Options.ProgramId)
                    continue;
                for (unsigned s = 0; s < program->nb_stream_indexes; ++s) {
                    const int index = run.InputFileTable[file].IstIndex +
                                      static_cast<int>(program->stream_index[s]);
                    if (fits(index))
                        return index;
                }
            }
        }
        return -1;
    }
    // Each file's own sound first: the stream asked for, else its default, else its first.
    if (kind == AVMEDIA_TYPE_AUDIO)
        for (int file = 0; file < Setup.InputFileCount(); ++file)
            if (const int chosen =
                    ChosenAudioStream(*Setup.InputFiles[file], Setup.Options.PreferredAudioStream);
                chosen >= 0 && fits(run.InputFileTable[file].IstIndex + chosen))
                return run.InputFileTable[file].IstIndex + chosen;
    const int count = static_cast<int>(run.InputStreams.size());
    for (int index = 0; index < count; ++index)
        if (fits(index))
            return index;
    if (Setup.JoinMode)
        return -1;
    // More outputs of a kind than inputs: the last input stream of the kind is used again.
    for (int index = count - 1; index >= 0; --index)
        if (KindOf(run.InputStreams[index]->St) == kind && !IsCover(run.InputStreams[index]->St))
            return index;
    return -1;
}

void TTranscodeRun::PrepareOutputCodec(TOutputStream& ost, TInputStream& ist) {
    const AVDictionaryEntry* language = ff::av_dict_get(ist.St->metadata, "language", nullptr, 0);
    if (language && !ff::av_dict_get(ost.St->metadata, "language", nullptr, 0))
        ff::av_dict_set(&ost.St->metadata, "language", language->value, 0);
    ost.St->disposition = ist.St->disposition;
    if (StreamSetupOf(ost).StreamCopy) {
        PrepareStreamCopy(ost, ist);
        return;
    }
    ost.Enc->bits_per_raw_sample = ist.St->codecpar->bits_per_raw_sample;
    ost.Enc->chroma_sample_location = ist.St->codecpar->chroma_location;
    switch (ost.Enc->codec_type) {
    case AVMEDIA_TYPE_AUDIO: {
        // The encoder gets a format, rate and layout it accepts, the chosen or the input's
        // sample format where it can.
        const AVCodec* codec = ost.Codec ? ost.Codec : ff::avcodec_find_encoder(ost.Enc->codec_id);
        const AVSampleFormat preferred =
            ost.Enc->sample_fmt != AV_SAMPLE_FMT_NONE
                ? ost.Enc->sample_fmt
                : static_cast<AVSampleFormat>(ist.St->codecpar->format);
        if (!codec)
            break;
        const int askedHz = ost.Enc->sample_rate;
        PrepareAudioEncoder(ost.Enc, codec, preferred);
        if (askedHz > 0 && ost.Enc->sample_rate != askedHz)
            GetLogger()->Log(Link.LogSender(), llInfo,
                             FormatText("The %s encoder does not take %d Hz; the sound is "
                                        "resampled to %d Hz.",
                                        codec->name, askedHz, ost.Enc->sample_rate));
        break;
    }
    case AVMEDIA_TYPE_SUBTITLE:
        PrepareSubtitleOutput(ost, ist);
        break;
    case AVMEDIA_TYPE_VIDEO:
        PrepareVideoOutput(ost, ist);
        break;
    default:
        throw FFmpegException("invalid codec_type of output stream");
    }
    ost.EncodingNeeded = true;
    ist.DecodingNeeded = true;
    OpenPassLog(ost);
}

void TTranscodeRun::PrepareStreamCopy(TOutputStream& ost, TInputStream& ist) {
    const AVCodecParameters* input = ist.St->codecpar;
    AVCodecParameters* output = ost.St->codecpar;
    const uint32_t forcedTag = ost.Enc ? ost.Enc->codec_tag : 0;
    switch (input->codec_type) {
    case AVMEDIA_TYPE_VIDEO:
        if (Link.HasCustomHook())
            throw FFmpegException(
                "-vcodec copy and CustomHook are incompatible (frames are not decoded)");
        if (Link.UsingVhook())
            throw FFmpegException(
                "-vcodec copy and -vhook are incompatible (frames are not decoded)");
        if (Link.PreviewFlags() != 0)
            throw FFmpegException(
                "-vcodec copy and PostHooks are incompatible (frames are not decoded)");
        break;
    case AVMEDIA_TYPE_AUDIO:
        if (Setup.Options.AudioVolume != 256)
            throw FFmpegException(
                "-acodec copy and -vol are incompatible (frames are not decoded)");
        break;
    case AVMEDIA_TYPE_SUBTITLE:
        break;
    default:
        throw FFmpegException("invalid codec_type of output stream");
    }
    if (ff::avcodec_parameters_copy(output, input) < 0)
        throw FFmpegException("avcodec_parameters_copy failed");
    output->codec_tag =
        forcedTag ? forcedTag : CopiedCodecTag(Setup.OutputFiles[ost.FileIndex]->oformat, input);
    // The stream was created with the aspect asked for; a copied one differing from it would make
    // the muxer refuse the header.
    if (input->codec_type == AVMEDIA_TYPE_VIDEO && ost.St->sample_aspect_ratio.num)
        output->sample_aspect_ratio = ost.St->sample_aspect_ratio;
    if (input->codec_type == AVMEDIA_TYPE_AUDIO &&
        ((input->codec_id == AV_CODEC_ID_MP3 && input->block_align == 1) ||
         input->codec_id == AV_CODEC_ID_AC3))
        output->block_align = 0;
    // The stream keeps the input's time base (the muxer may choose its own); the codec-level
    // time base is the frame duration when that is coarser, as the output clock of video.
    ost.St->time_base = ist.St->time_base;
    AVRational codecTimeBase = ist.St->time_base;
    if (input->codec_type == AVMEDIA_TYPE_VIDEO) {
        const AVRational frame = FrameDurationOf(ist.St);
        if (frame.num > 0 && av_q2d(ist.St->time_base) < av_q2d(frame) &&
            av_q2d(ist.St->time_base) < 0.001)
            codecTimeBase = frame;
    }
    if (ost.Enc) {
        ff::avcodec_parameters_to_context(ost.Enc, output);
        ost.Enc->time_base = codecTimeBase;
    }
}

void TTranscodeRun::OpenPassLog(TOutputStream& ost) {
    TEngineRun& run = State;
    const int flags = ost.Enc->flags & (AV_CODEC_FLAG_PASS1 | AV_CODEC_FLAG_PASS2);
    if (!flags)
        return;
    const int index = static_cast<int>(std::distance(
        run.OutputStreams.begin(),
        std::find_if(run.OutputStreams.begin(), run.OutputStreams.end(),
                     [&](const auto& candidate) { return candidate.get() == &ost; })));
    std::string name =
        FormatText("%s-%d.log",
                   Setup.Options.PassLogFileName.empty() ? "ffmpeg2pass"
                                                         : Setup.Options.PassLogFileName.c_str(),
                   index);
    if (name.size() > 1023)
        name.resize(1023);
    if (flags & AV_CODEC_FLAG_PASS1) {
        ost.LogFile = std::fopen(name.c_str(), "w");
        if (!ost.LogFile)
            throw FFmpegException(
                FormatText("Cannot write log file %s for pass-1 encoding", name.c_str()));
        return;
    }
    std::ifstream file(name, std::ios::binary);
    if (!file)
        throw FFmpegException(
            FormatText("Cannot read log file %s for pass-2 encoding", name.c_str()));
    const std::string text{std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
    char* statistics = static_cast<char*>(ff::av_malloc(text.size() + 1));
    if (!statistics)
        throw FFmpegException("Could not allocate log buffer");
    std::memcpy(statistics, text.c_str(), text.size() + 1);
    ff::av_freep(&ost.Enc->stats_in);
    ost.Enc->stats_in = statistics;
}

void TTranscodeRun::OpenOutputEncoders() {
    TEngineRun& run = State;
    for (auto& ostPtr : run.OutputStreams) {
        TOutputStream& ost = *ostPtr;
        if (!ost.EncodingNeeded || (Setup.JoinMode && ost.FileIndex != 0))
            continue;
        const AVCodec* codec = ost.Codec ? ost.Codec : ff::avcodec_find_encoder(ost.Enc->codec_id);
        const std::string kind = MediaTypeName(ost.Enc->codec_type);
        if (!codec)
            FailWithMapping(
                FormatText("Encoder (codec id %d) not found for output stream #%d.%d (%s)",
                           ost.Enc->codec_id, ost.FileIndex, ost.Index, kind.c_str()));
        if (ost.Enc->codec_type == AVMEDIA_TYPE_AUDIO && ost.Enc->time_base.num <= 0 &&
            ost.Enc->sample_rate > 0)
            ost.Enc->time_base = AVRational{1, ost.Enc->sample_rate};
        if (OpenCodec(*ost.Enc, codec, StreamSetupOf(ost).EncoderOptions.get()) < 0) {
            std::string refusal =
                FormatText("Error while opening encoder for output stream #%d.%d (%s) - "
                           "maybe incorrect parameters such as bit_rate, rate, width or "
                           "height",
                           ost.FileIndex, ost.Index, kind.c_str());
            // The encoder's own reason, when it logged one, is the part a user can act on.
            if (const std::string why = LastLibraryError(); !why.empty())
                refusal += " (" + why + ")";
            if (Setup.SoundAloneFallback(ost.St))
                throw EVideoEncoderRefused(refusal);
            FailWithMapping(refusal);
        }
        run.OpenEncoders.insert(run.OpenEncoders.begin(), ost.Enc);
        run.ExtraSizeBytes += ost.Enc->extradata_size;
        // The stream carries the opened encoder's parameters into the header.
        ff::avcodec_parameters_from_context(ost.St->codecpar, ost.Enc);
        ost.St->time_base = ost.Enc->time_base;
    }
}

void TTranscodeRun::OpenInputDecoders() {
    TEngineRun& run = State;
    for (std::size_t i = 0; i < run.InputStreams.size(); ++i) {
        TInputStream& ist = *run.InputStreams[i];
        if (!ist.DecodingNeeded)
            continue;
        const std::string kind = MediaTypeName(KindOf(ist.St));
        const AVCodec* codec = i < Setup.InputCodecs.size() ? Setup.InputCodecs[i] : nullptr;
        if (!codec)
            codec = ff::avcodec_find_decoder(ist.St->codecpar->codec_id);
        if (!codec || !ist.Dec)
            FailWithMapping(
                FormatText("Decoder (codec id %d) not found for input stream #%d.%d (%s)",
                           ist.St->codecpar->codec_id, ist.FileIndex, ist.Index, kind.c_str()));
        ist.Dec->pkt_timebase = ist.St->time_base;
        int result;
        {
            std::lock_guard guard(CodecLock());
            result = ff::avcodec_open2(ist.Dec, codec, nullptr);
        }
        if (result < 0 && KindOf(ist.St) == AVMEDIA_TYPE_AUDIO)
            // A decoder refuses what its header says (damaged, or a variant it lacks).
            FailWithMapping(UndecodableSoundText(
                Setup.InputSetups[ist.FileIndex]->FileName.string(), ist.St->codecpar->codec_id));
        if (result < 0)
            FailWithMapping(FormatText("Error while opening decoder for input stream #%d.%d (%s)",
                                       ist.FileIndex, ist.Index, kind.c_str()));
        run.OpenDecoders.insert(run.OpenDecoders.begin(), ist.Dec);
    }
}

void TTranscodeRun::CopyMappedMetadata() {
    std::vector<TMetadataMap> maps = Setup.Options.MetadataMaps;
    if (Setup.Options.Choices.KeepTags)
        maps.insert(maps.begin(), TMetadataMap{0, 0});
    for (const TMetadataMap& map : maps) {
        if (map.OutFile < 0 || map.OutFile >= Setup.OutputFileCount())
            FailWithMapping(FormatText("Invalid output file index %d map_meta_data(%d,%d)",
                                       map.OutFile, map.OutFile, map.InFile));
        if (map.InFile < 0 || map.InFile >= Setup.InputFileCount())
            FailWithMapping(FormatText("Invalid input file index %d map_meta_data(%d,%d)",
                                       map.InFile, map.OutFile, map.InFile));
        CopyTags(Setup.InputFiles[map.InFile], Setup.OutputFiles[map.OutFile]);
    }
    for (AVFormatContext* output : Setup.OutputFiles) {
        // A pair with an empty value ("metadata=CUESHEET=") kept the input's tag of its key off
        // the output, as the command line's -metadata key= does; it is not written itself either.
        DropEmptyTags(*output);
        MapTagsForContainer(&output->metadata, output->oformat->name);
        for (unsigned s = 0; s < output->nb_streams; ++s)
            MapTagsForContainer(&output->streams[s]->metadata, output->oformat->name);
        SetGainTags(output);
    }
}

// A changed level makes the input's gain tags stale: they go, and with `replaygain` come back
// as placeholders. Ogg gets them on its sound stream, ahead of a cover's long comment.
void TTranscodeRun::SetGainTags(AVFormatContext* Output) {
    const bool levelChanged =
        Setup.Options.AudioVolume != UnityVolume || Setup.Options.ConvertedVolume != UnityVolume;
    if (!levelChanged && !Setup.Options.Choices.ReplayGain)
        return;
    DropGainTags(&Output->metadata);
    AVStream* sound = nullptr;
    for (unsigned s = 0; s < Output->nb_streams; ++s) {
        DropGainTags(&Output->streams[s]->metadata);
        if (!sound && KindOf(Output->streams[s]) == AVMEDIA_TYPE_AUDIO)
            sound = Output->streams[s];
    }
    if (!Setup.Options.Choices.ReplayGain || !sound)
        return;
    const TGainTagKind kind = GainTagKindOf(Output->oformat->name, sound->codecpar->codec_id);
    const bool ogg = std::strcmp(Output->oformat->name, "ogg") == 0 ||
                     std::strcmp(Output->oformat->name, "opus") == 0 ||
                     std::strcmp(Output->oformat->name, "oga") == 0;
    AddGainPlaceholders(ogg ? &sound->metadata : &Output->metadata, kind);
}

// The input's tags onto the output: the container's, or where the container keeps none (Ogg,
// some flac) the first sound stream's. Tags set for the output itself (its creation time and
// the metadata pairs) win, and the muxer writes its own encoder tag.
void TTranscodeRun::CopyTags(const AVFormatContext* Input, AVFormatContext* Output) {
    const AVDictionary* tags = Input->metadata;
    if (ff::av_dict_count(tags) == 0)
        for (unsigned s = 0; s < Input->nb_streams; ++s)
            if (KindOf(Input->streams[s]) == AVMEDIA_TYPE_AUDIO) {
                tags = Input->streams[s]->metadata;
                break;
            }
    const AVDictionaryEntry* entry = nullptr;
    while ((entry = ff::av_dict_get(tags, "", entry, AV_DICT_IGNORE_SUFFIX)))
        if (!IsFileTag(entry->key))
            ff::av_dict_set(&Output->metadata, entry->key, entry->value, AV_DICT_DONT_OVERWRITE);
    // The RealMedia muxer writes "author", not "artist".
    const AVDictionaryEntry* artist = ff::av_dict_get(Output->metadata, "artist", nullptr, 0);
    if (artist && std::strcmp(Output->oformat->name, "rm") == 0)
        ff::av_dict_set(&Output->metadata, "author", artist->value, AV_DICT_DONT_OVERWRITE);
}

void TTranscodeRun::CreateBitstreamFilters() {
    for (auto& ostPtr : State.OutputStreams) {
        TOutputStream& ost = *ostPtr;
        const std::vector<std::string>& names = StreamSetupOf(ost).BitstreamFilters;
        if (names.empty())
            continue;
        std::string chain;
        for (const std::string& name : names)
            chain += (chain.empty() ? "" : ",") + name;
        AVBSFContext* context = nullptr;
        int result = ff::av_bsf_list_parse_str(chain.c_str(), &context);
        BsfPtr filters(context);
        if (result >= 0) {
            ff::avcodec_parameters_copy(context->par_in, ost.St->codecpar);
            context->time_base_in = ost.St->time_base;
            result = ff::av_bsf_init(context);
        }
        if (result < 0) {
            // A chain that cannot take this stream is reported like a failing filter: the
            // stream goes on unfiltered unless errors are to end the run.
            const std::string message =
                FormatText("%s failed for stream %d, codec %s", chain.c_str(), ost.Index,
                           ost.EncodingNeeded && ost.Codec ? ost.Codec->name : "copy") +
                ": " + ErrorText(result);
            if (Setup.Options.ExitOnError)
                throw FFmpegException(message);
            GetLogger()->Log(Link.LogSender(), llError, message);
            continue;
        }
        ost.Bsf = std::move(filters);
        // What the filters produce is what the stream carries.
        ff::avcodec_parameters_copy(ost.St->codecpar, context->par_out);
    }
}

void TTranscodeRun::WriteHeaders() {
    const int count =
        Setup.JoinMode ? std::min(1, Setup.OutputFileCount()) : Setup.OutputFileCount();
    for (int j = 0; j < count; ++j) {
        AVDictionary* options = nullptr;
        ff::av_dict_copy(&options, Setup.OutputSetupOf(j).MuxerOptions.get(), 0);
        ChooseMovieTimescale(*Setup.OutputFiles[j], &options);
        const int result = ff::avformat_write_header(Setup.OutputFiles[j], &options);
        ff::av_dict_free(&options);
        const AVIOContext* written = Setup.OutputFiles[j]->pb;
        if (result < 0 && written && written->error < 0)
            throw FFmpegException(WriteErrorText(Setup.OutputSetupOf(j).FileName, written->error));
        if (result < 0)
            FailWithMapping(FormatText(
                "Could not write header for output file #%d (incorrect codec parameters ?)", j));
        WriteCoverArt(j);
    }
    bool allRtp = Setup.OutputFileCount() > 0;
    for (AVFormatContext* output : Setup.OutputFiles)
        allRtp = allRtp && std::strcmp(output->oformat->name, "rtp") == 0;
    if (allRtp) {
        char sdp[2048] = {};
        std::vector<AVFormatContext*> outputs = Setup.OutputFiles;
        ff::av_sdp_create(outputs.data(), Setup.OutputFileCount(), sdp, sizeof sdp);
        std::string text = sdp;
        while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back())))
            text.pop_back();
        GetLogger()->Log(Link.LogSender(), llInfo, "SDP:\n" + text);
    }
}

void TTranscodeRun::LogStreamMapping() {
    TEngineRun& run = State;
    const int count =
        Setup.JoinMode ? std::min(1, Setup.OutputFileCount()) : Setup.OutputFileCount();
    for (int j = 0; j < count; ++j)
        ff::av_dump_format(Setup.OutputFiles[j], j, Setup.OutputFiles[j]->url, 1);
    if (Setup.Options.Verbose < 0)
        return;
    GetLogger()->Log(Link.LogSender(), llVerbose, "Stream mapping:");
    for (const auto& ost : run.OutputStreams) {
        const TInputStream& source = *run.InputStreams[ost->SourceIndex];
        const std::string kind = MediaTypeName(KindOf(ost->St));
        GetLogger()->LogF(Link.LogSender(), llVerbose, "  Stream #%d.%d -> #%d.%d (%s)",
                          source.FileIndex, source.Index, Setup.JoinMode ? 0 : ost->FileIndex,
                          ost->Index, kind.c_str());
        if (ost->SyncIst && ost->SyncIst != &source)
            GetLogger()->LogF(Link.LogSender(), llVerbose, " [sync #%d.%d (%s)]",
                              ost->SyncIst->FileIndex, ost->SyncIst->Index, kind.c_str());
    }
}

void TTranscodeRun::FailWithMapping(const std::string& message) {
    LogStreamMapping();
    GetLogger()->Log(Link.LogSender(), llError, message);
    throw FFmpegException(message);
}
