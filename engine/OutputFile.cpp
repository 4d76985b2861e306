// Creating an output file of the engine: option conflicts, the container format, which kinds
// of stream it gets, metadata, opening the file for writing, muxing settings and joining.
#include "engine/FFmpeg.h"

#include "engine/Mp4Gapless.h"
#include "ffbind/FFUtils.h"
#include "ffbind/FFmpegLogger.h"
#include "ffbind/TextUtils.h"

#include <algorithm>
#include <cmath>
#include <ctime>
#include <sstream>

namespace {

// A filter chain naming a filter that changes the frame size (crop, rotate, scale, transpose).
bool HasResizingFilter(const std::string& filters) {
    std::stringstream chain(LowerCase(filters));
    std::string piece;
    while (std::getline(chain, piece, ',')) {
        std::string name = piece.substr(0, piece.find('='));
        if (name == "crop" || name == "rotate" || name == "scale" || name == "transpose")
            return true;
    }
    return false;
}

// Containers such as mp3 and flac name an image codec as their video codec for cover art
// only: they cannot carry moving pictures.
bool CoverArtOnly(const AVOutputFormat* format) {
    if (format->video_codec == AV_CODEC_ID_NONE || format->audio_codec == AV_CODEC_ID_NONE)
        return false;
    int answer = ff::avformat_query_codec(format, format->video_codec, FF_COMPLIANCE_NORMAL);
    return answer == static_cast<int>(MKTAG('A', 'P', 'I', 'C')) ||
           (format->flags & AVFMT_NOTIMESTAMPS) != 0;
}

// "2010-01-02T03:04:05.000000Z" for seconds since 1970, UTC.
std::string CreationTimeText(int64_t seconds) {
    std::time_t time = static_cast<std::time_t>(seconds);
    std::tm utc{};
    gmtime_r(&time, &utc);
    char text[40];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S.000000Z", &utc);
    return text;
}

// Local files are created by the output's target; other URLs are opened by the libraries.
bool IsLocalFile(const std::string& url) {
    if (IsUnicodeURL(url))
        return true;
    const char* protocol = ff::avio_find_protocol_name(url.c_str());
    return protocol && std::string(protocol) == "file";
}

// A name that is (through links, or as another hard link) one of the engine's inputs: replacing
// it would write the output over what it is read from.
bool IsAnInput(const TCustomFFmpeg& engine, const std::filesystem::path& fileName) {
    for (int i = 0; i < engine.InputFileCount(); ++i) {
        std::error_code error;
        if (std::filesystem::equivalent(fileName, engine.InputFileName(i), error))
            return true;
    }
    return false;
}

} // namespace

int TCustomFFmpeg::OpenOutputFile(const std::filesystem::path& FileName, TOutputJoin Join) {
    std::size_t codecsBefore = OutputCodecs.size();
    auto fail = [&](const std::string& message) {
        LastError = message;
        OutputCodecs.resize(codecsBefore);
        InputFormat = nullptr;
        OutputFormat = nullptr;
        return -1;
    };
    if (JoinMode)
        return fail("Cannot join more than one output file.");
    if (OutputFileCount() >= MAX_FILES)
        return fail("Too many output files (at most 20)");
    bool cropped = CropTop || CropBottom || CropLeft || CropRight;
    bool padded = PadTop || PadBottom || PadLeft || PadRight;
    if (!VideoFilters.empty() && cropped)
        return fail("Cannot enable crop options and filters at the same time.");
    if (padded && HasResizingFilter(VideoFilters))
        return fail("Cannot enable pad options and the filters which resize frame at the same "
                    "time. (crop, rotate, scale, transpose, etc.)");
    UseVideoFilters = !VideoFilters.empty();
    if (ReplaceExistingOutputs && IsAnInput(*this, FileName))
        return fail(FileName.string() + " is the input itself; choose another name or folder");
    if (!OptionContexts.Created())
        CreateOptionContexts();

    std::string url = FileNameToURL(FileName);
    const AVOutputFormat* format =
        OutputFormat ? OutputFormat : ff::av_guess_format(nullptr, url.c_str(), nullptr);
    if (!format)
        return fail(FormatText("Unable to find a suitable output format for '%s'",
                               FileName.string().c_str()));
    auto output = std::make_unique<TOutputFileSetup>();
    output->FileName = FileName;
    AVFormatContext* raw = nullptr;
    if (ff::avformat_alloc_output_context2(&raw, format, nullptr, url.c_str()) < 0 || !raw)
        throw FFmpegException("avformat_alloc_context failed");
    output->Context.reset(raw);
    AVFormatContext* oc = raw;

    bool useVideo = VideoStreamCopy || !VideoCodecName.empty() ||
                    (format->video_codec != AV_CODEC_ID_NONE && !CoverArtOnly(format));
    bool useAudio =
        AudioStreamCopy || !AudioCodecName.empty() || format->audio_codec != AV_CODEC_ID_NONE;
    bool useSubtitle = SubtitleStreamCopy || !SubtitleCodecName.empty() ||
                       format->subtitle_codec != AV_CODEC_ID_NONE;
    if (InputFileCount() > 0) {
        bool has[AVMEDIA_TYPE_NB] = {};
        int scanned = Join == ojJoin ? 1 : InputFileCount();
        for (int i = 0; i < scanned; ++i)
            for (unsigned s = 0; s < InputFiles[i]->nb_streams; ++s) {
                int kind = InputFiles[i]->streams[s]->codecpar->codec_type;
                if (kind < AVMEDIA_TYPE_UNKNOWN || kind >= AVMEDIA_TYPE_NB)
                    return fail("check_audio_video_sub_inputs fail: invalid codec_type of input "
                                "file");
                // A cover is not video: it never asks for a video stream.
                const bool cover =
                    InputFiles[i]->streams[s]->disposition & AV_DISPOSITION_ATTACHED_PIC;
                if (kind >= 0 && !cover)
                    has[kind] = true;
            }
        useVideo = useVideo && has[AVMEDIA_TYPE_VIDEO];
        useAudio = useAudio && has[AVMEDIA_TYPE_AUDIO];
        useSubtitle = useSubtitle && has[AVMEDIA_TYPE_SUBTITLE];
    }
    useVideo = useVideo && !VideoDisable;
    useAudio = useAudio && !AudioDisable;
    useSubtitle = useSubtitle && !SubtitleDisable;

    const char* creator = "new_video_stream";
    try {
        if (useVideo)
            new_video_stream(*output);
        creator = "new_audio_stream";
        if (useAudio)
            new_audio_stream(*output);
        creator = "new_subtitle_stream";
        if (useSubtitle)
            new_subtitle_stream(*output);
    } catch (const FFmpegException& e) {
        return fail(std::string(creator) + " fail: " + e.what());
    }

    ApplyOutputMetadata(oc);

    if ((format->flags & AVFMT_NEEDNUMBER) && !ff::av_filename_number_test(url.c_str()))
        return fail(OpenErrorText(FileName.string(), AVERROR(EDOM)));
    if (!(format->flags & AVFMT_NOFILE)) {
        const int opened =
            !IsLocalFile(url) ? OpenOutputIO(oc, url, output->IO)
            : OutputCreation == ocCheckOnly
                ? TOutputTarget::CheckFolder(FileName, OutputFoldersFrom)
                : output->Target.Create(oc, FileName, ReplaceExistingOutputs ? eoReplace : eoKeep,
                                        output->IO, OutputFoldersFrom);
        if (opened < 0) {
            output->Target.Discard();
            return fail(FormatText("Could not open '%s'", FileName.string().c_str()) + ": " +
                        ErrorText(opened));
        }
        output->FileName = output->Target.Created() ? output->Target.FileName() : FileName;
    }

    ApplyMuxingSettings(*output);

    OutputFiles.push_back(oc);
    OutputSetups.push_back(std::move(output));
    if (Join == ojJoin && InputFileCount() > 1) {
        JoinMode = true;
        int64_t totalMs = 0;
        for (AVFormatContext* input : InputFiles)
            if (input->duration != AV_NOPTS_VALUE && input->duration > 0)
                totalMs += input->duration / 1000;
        RecordingTimeMs =
            totalMs == 0 ? -1 : static_cast<int>(std::min<int64_t>(totalMs, INT32_MAX));
        for (int i = 1; i < InputFileCount(); ++i)
            OutputFiles.push_back(oc);
    }
    InputFormat = nullptr;
    OutputFormat = nullptr;
    return OutputFileCount();
}

// The creation time and the metadata pairs (the first pair of a key wins); the pairs are
// consumed by this output.
void TCustomFFmpeg::ApplyOutputMetadata(AVFormatContext* Output) {
    if (RecordingTimestampSeconds != 0)
        ff::av_dict_set(&Output->metadata, "creation_time",
                        CreationTimeText(RecordingTimestampSeconds).c_str(), 0);
    for (auto pair = MetadataPairs.rbegin(); pair != MetadataPairs.rend(); ++pair)
        ff::av_dict_set(&Output->metadata, pair->first.c_str(), pair->second.c_str(), 0);
    MetadataPairs.clear();
    // The generic key "author" is "artist" to this library generation's muxers.
    const AVDictionaryEntry* author = ff::av_dict_get(Output->metadata, "author", nullptr, 0);
    if (author && !ff::av_dict_get(Output->metadata, "artist", nullptr, 0))
        ff::av_dict_set(&Output->metadata, "artist", author->value, 0);
}

// Delays, looping, the non-blocking flag and the generic and private muxer options.
void TCustomFFmpeg::ApplyMuxingSettings(TOutputFileSetup& Output) {
    AVFormatContext* oc = Output.Context.get();
    const AVOutputFormat* format = oc->oformat;
    auto muxerHas = [format](const char* name) {
        return format->priv_class &&
               ff::av_opt_find(const_cast<const AVClass**>(&format->priv_class), name, nullptr, 0,
                               AV_OPT_SEARCH_FAKE_OBJ);
    };
    oc->max_delay = static_cast<int>(std::lround(MuxMaxDelaySeconds * 1000000.0));
    if (muxerHas("preload"))
        DictSet(Output.MuxerOptions, "preload",
                std::to_string(std::lround(MuxPreloadSeconds * 1000000.0)));
    if (muxerHas("loop"))
        DictSet(Output.MuxerOptions, "loop", std::to_string(LoopOutput));
    oc->flags |= AVFMT_FLAG_NONBLOCK;
    CopyGenericOptions(oc, OptionContexts.Format.get(), AV_OPT_FLAG_ENCODING_PARAM);
    const AVDictionaryEntry* entry = nullptr;
    while ((entry = ff::av_dict_get(OptionContexts.FormatPrivate.get(), "", entry,
                                    AV_DICT_IGNORE_SUFFIX)))
        if (muxerHas(entry->key))
            DictSet(Output.MuxerOptions, entry->key, entry->value);
}

// Puts a finished output in place of the file it replaces. A failed replacement fails the run
// and keeps the written file, so neither the old file nor the new sound is lost.
void TCustomFFmpeg::ReplaceOutput(const TOutputFileSetup& Output) {
    const std::error_code error = Output.Target.Commit();
    if (!error)
        return;
    const std::string message = "Could not replace " + Output.FileName.string() + " (" +
                                error.message() + "); the output is kept as " +
                                Output.Target.WrittenName().string();
    GetLogger()->Log(this, llError, message);
    ErrorMessage = message;
    ErrorOccurred = true;
}

// "Done" means the file the run wrote is at the output's name: a file removed or put in its
// place meanwhile fails the run.
bool TCustomFFmpeg::OutputInPlace(const TOutputFileSetup& Output) {
    const std::string lost = Output.Target.LostReason();
    if (lost.empty())
        return true;
    ErrorMessage = Output.FileName.string() + ": " + lost;
    ErrorOccurred = true;
    GetLogger()->Log(this, llError, ErrorMessage);
    return false;
}

// What a run leaves of one output: a finished one takes its place; a stopped one keeps its
// sound under a new name; anything else (failed, empty, stopped onto an existing file, never
// run) is removed, and the file it would have replaced stays as it was.
void TCustomFFmpeg::SettleOutput(TOutputFileSetup& Output) {
    TOutputTarget& target = Output.Target;
    // What is at the name now is not the run's to keep or to remove, whatever the run's end.
    if (target.Created() && !target.LostReason().empty()) {
        if (Finished && !ErrorOccurred)
            OutputInPlace(Output);
        return;
    }
    const bool stoppedKept = !target.Replacing() || StoppedRunReplaces;
    const bool keep =
        !ErrorOccurred && !target.Empty() && (Finished || (Output.HasSound && stoppedKept));
    if (keep) {
        if (Finished || target.Replacing())
            ReplaceOutput(Output);
        return;
    }
    if (StopRequested && !Finished && !ErrorOccurred && !Output.HasSound && target.Created())
        ErrorMessage = StoppedWithoutSoundText;
    if (!target.Discard())
        return;
    if (target.Replacing())
        GetLogger()->Log(this, llInfo,
                         Output.FileName.string() +
                             " is left as it was; the unfinished output was removed");
    else
        GetLogger()->Log(this, llInfo,
                         Output.FileName.string() + ": the unfinished output was removed");
}

// Closes every output file, settles what stays of it and frees its context.
void TCustomFFmpeg::CloseOutputFiles() {
    for (auto& output : OutputSetups) {
        const int closed = output->IO ? output->IO.Close() : 0;
        output->Context->pb = nullptr;
        if (closed < 0 && Finished && !ErrorOccurred)
            FailWriting(*output, closed);
        if (Finished && !ErrorOccurred && !output->Target.Empty() &&
            !TagMp4Gapless(*output->Context, output->Target.WrittenName()))
            FailWriting(*output, AVERROR(EIO));
        SettleOutput(*output);
        output->Streams.clear();
        output->Context.reset();
    }
    OutputSetups.clear();
    OutputFiles.clear();
    OutputCodecs.clear();
}

void TCustomFFmpeg::FailWriting(const TOutputFileSetup& Output, int Code) {
    ErrorMessage = WriteErrorText(Output.FileName, Code);
    ErrorOccurred = true;
    GetLogger()->Log(this, llError, ErrorMessage);
}
