// Opening, counting and the figures and tags of a media file.
#include "CustomAVProbe.h"

#include "ffbind/FFUtils.h"
#include "ffbind/FFmpegLoader.h"

#include <cctype>
#include <cstdlib>
#include <stdexcept>
#include <system_error>

namespace {

constexpr const char* NotLoaded = "file not loaded.";

// The libraries the probe calls; the first missing one is an exception.
void CheckLibraries() {
    const std::pair<TLibraryKind, const char*> required[] = {
        {LibAVCodec, "LibAVCodec not loaded."},
        {LibAVFormat, "LibAVFormat not loaded."},
        {LibAVUtil, "LibAVUtil not loaded."},
        {LibSwScale, "LibSwScale not loaded."},
    };
    for (const auto& [kind, text] : required) {
        if (!Loader().LibLoaded(kind))
            throw std::runtime_error(text);
    }
}

int64_t OrMinusOne(int64_t libraryTime) {
    return libraryTime == AV_NOPTS_VALUE ? -1 : libraryTime;
}

// The leading decimal number of a tag such as "2021-05-01" or "3/12"; 0 when there is none.
int32_t LeadingNumber(const std::string& text) {
    return text.empty() || !std::isdigit(static_cast<unsigned char>(text[0]))
               ? 0
               : static_cast<int32_t>(std::strtol(text.c_str(), nullptr, 10));
}

// A pipe, socket or device: opening it may wait for a writer that never comes, and reading it
// may never end.
bool WouldBlock(const std::filesystem::path& fileName) {
    std::error_code error;
    const auto status = std::filesystem::status(fileName, error);
    return !error && !std::filesystem::is_regular_file(status) &&
           !std::filesystem::is_directory(status);
}

} // namespace

TCustomAVProbe::TCustomAVProbe() = default;

TCustomAVProbe::~TCustomAVProbe() {
    TCustomAVProbe::CloseFile();
}

void TCustomAVProbe::Fail(TLogLevel level, const std::string& text) {
    ff::av_log(nullptr, LogLevelToLibrary(level), "%s\n", text.c_str());
    LastErrorText = text;
}

bool TCustomAVProbe::CheckFileLoaded() {
    if (Context)
        return true;
    Fail(llWarning, NotLoaded);
    return false;
}

bool TCustomAVProbe::LoadFile(const std::filesystem::path& fileName,
                              const std::string& formatName) {
    CheckLibraries();
    CloseFile();
    const AVInputFormat* format = nullptr;
    if (!formatName.empty()) {
        format = ff::av_find_input_format(formatName.c_str());
        if (!format) {
            LastErrorText = FormatText("Unknown input format: %s", formatName.c_str());
            return false;
        }
    }
    if (WouldBlock(fileName)) {
        LastErrorText = OpenErrorText(fileName.string(), AVERROR(ESPIPE));
        return false;
    }
    int error = 0;
    Owned = OpenInputContext(FileNameToURL(fileName), format, nullptr, &error);
    if (!Owned) {
        LastErrorText = LoggedOpenErrorText(fileName.string(), error);
        return false;
    }
    Context = Owned.Format.get();
    int result;
    {
        // The analysis may open decoders, as engines on other threads do.
        std::lock_guard lock(CodecLock());
        result = ff::avformat_find_stream_info(Context, nullptr);
    }
    if (result < 0) {
        LastErrorText = FormatText("%s: could not find codec parameters", fileName.c_str());
        CloseFile();
        return false;
    }
    CountStreams();
    ForcedFormat = formatName;
    return true;
}

void TCustomAVProbe::AttachContext(AVFormatContext* context) {
    CheckLibraries();
    CloseFile();
    Context = context;
    if (Context)
        CountStreams();
}

void TCustomAVProbe::CloseFile() {
    ForcedFormat.clear();
    {
        std::lock_guard lock(CodecLock());
        Decoders.clear();
    }
    Owned.Format.reset(); // the input before the I/O serving it
    Owned = TInputContext();
    Context = nullptr;
    StreamCountValue = ProgramCountValue = -1;
    AudioStreams = VideoStreams = SubtitleStreams = CoverStreams = -1;
    FirstAudio = FirstVideo = FirstSubtitle = FirstCover = -1;
}

void TCustomAVProbe::CountStreams() {
    StreamCountValue = static_cast<int>(Context->nb_streams);
    ProgramCountValue = static_cast<int>(Context->nb_programs);
    AudioStreams = VideoStreams = SubtitleStreams = CoverStreams = 0;
    FirstAudio = FirstVideo = FirstSubtitle = FirstCover = -1;
    for (int i = 0; i < StreamCountValue; ++i) {
        switch (Context->streams[i]->codecpar->codec_type) {
        case AVMEDIA_TYPE_VIDEO:
            if (IsCoverStream(i)) {
                ++CoverStreams;
                FirstCover = FirstCover < 0 ? i : FirstCover;
                break;
            }
            ++VideoStreams;
            FirstVideo = FirstVideo < 0 ? i : FirstVideo;
            break;
        case AVMEDIA_TYPE_AUDIO:
            ++AudioStreams;
            FirstAudio = FirstAudio < 0 ? i : FirstAudio;
            break;
        case AVMEDIA_TYPE_SUBTITLE:
            ++SubtitleStreams;
            FirstSubtitle = FirstSubtitle < 0 ? i : FirstSubtitle;
            break;
        default: // data and attachments are not counted
            break;
        }
    }
    Decoders.clear();
    Decoders.resize(StreamCountValue);
}

bool TCustomAVProbe::IsCoverStream(int index) const {
    return Context && index >= 0 && index < static_cast<int>(Context->nb_streams) &&
           (Context->streams[index]->disposition & AV_DISPOSITION_ATTACHED_PIC) != 0;
}

std::string TCustomAVProbe::FirstAudioCodecName() const {
    if (!Context || FirstAudio < 0)
        return "";
    return ff::avcodec_get_name(Context->streams[FirstAudio]->codecpar->codec_id);
}

AVCodecContext* TCustomAVProbe::StreamDecoder(int index) {
    TStreamDecoder& decoder = Decoders.at(index);
    if (decoder.Context)
        return decoder.Context.get();
    const AVStream* stream = Context->streams[index];
    const AVCodec* codec = ff::avcodec_find_decoder(stream->codecpar->codec_id);
    decoder.Context.reset(ff::avcodec_alloc_context3(codec));
    if (!decoder.Context)
        throw std::bad_alloc();
    if (ff::avcodec_parameters_to_context(decoder.Context.get(), stream->codecpar) < 0)
        return decoder.Context.get();
    decoder.Context->pkt_timebase = stream->time_base;
    if (codec) {
        std::lock_guard lock(CodecLock());
        decoder.Open = ff::avcodec_open2(decoder.Context.get(), codec, nullptr) >= 0;
    }
    return decoder.Context.get();
}

bool TCustomAVProbe::StreamDecoderOpen(int index) {
    StreamDecoder(index);
    return Decoders.at(index).Open;
}

void TCustomAVProbe::GetFileStreamInfo(TFileStreamInfo& info) {
    info.Reset();
    if (!CheckFileLoaded())
        return;
    // Tags live at the container level, except in containers such as Ogg that keep them with
    // the sound.
    const AVDictionary* tags = Context->metadata;
    if (ff::av_dict_count(tags) == 0 && FirstAudio >= 0)
        tags = Context->streams[FirstAudio]->metadata;
    info.StartTime = OrMinusOne(Context->start_time);
    info.Duration = OrMinusOne(Context->duration);
    info.BitRate = Context->bit_rate;
    info.TimeStamp = 0;
    const std::string created = MetadataValue(tags, "creation_time");
    int64_t createdUs = 0;
    if (!created.empty() && ff::av_parse_time(&createdUs, created.c_str(), 0) >= 0)
        info.TimeStamp = createdUs / 1000000;
    info.Year = LeadingNumber(MetadataValue(tags, "date", MetadataValue(tags, "year")));
    info.Track = LeadingNumber(MetadataValue(tags, "track"));
    info.Title = MetadataValue(tags, "title");
    info.Author = MetadataValue(tags, "artist", MetadataValue(tags, "author"));
    info.Copyright = MetadataValue(tags, "copyright");
    info.Comment = MetadataValue(tags, "comment");
    info.Album = MetadataValue(tags, "album");
    info.Genre = MetadataValue(tags, "genre");
}

void TCustomAVProbe::GetVideoStreamInfo(int index, TVideoStreamInfo& info) {
    info.Reset();
    if (!CheckFileLoaded())
        return;
    if (index < 0) {
        index = FirstVideo;
        if (index < 0) {
            Fail(llError, "no video stream.");
            return;
        }
    } else if (index >= StreamCountValue) {
        Fail(llError, FormatText("stream index #%d is invalid.", index));
        return;
    }
    AVStream* stream = Context->streams[index];
    if (stream->codecpar->codec_type != AVMEDIA_TYPE_VIDEO) {
        Fail(llError, FormatText("stream #%d is not video stream.", index));
        return;
    }
    const AVCodecContext* decoder = StreamDecoder(index);
    if (stream->time_base.den == 0)
        stream->time_base.den = stream->time_base.num ? stream->time_base.num : 1;
    const AVRational microseconds = {1, 1000000};
    info.Language = MetadataValue(stream->metadata, "language");
    info.CodecName = CodecDescription(decoder, crDecoder);
    info.StartTime = stream->start_time;
    if (stream->start_time != AV_NOPTS_VALUE)
        info.StartTimeUs = ff::av_rescale_q(stream->start_time, stream->time_base, microseconds);
    info.Duration = stream->duration;
    if (stream->duration != AV_NOPTS_VALUE)
        info.DurationUs = ff::av_rescale_q(stream->duration, stream->time_base, microseconds);
    info.BitRate = decoder->bit_rate;
    info.Height = decoder->height;
    info.Width = decoder->width;
    if (decoder->height > 0 && decoder->sample_aspect_ratio.den != 0)
        info.DisplayAspect = static_cast<float>(av_q2d(decoder->sample_aspect_ratio) *
                                                decoder->width / decoder->height);
    info.PixelFormat = decoder->pix_fmt;
    info.FrameRateNum = stream->r_frame_rate.num;
    info.FrameRateDen = stream->r_frame_rate.den;
}

std::filesystem::path TCustomAVProbe::GetFileName() {
    if (!CheckFileLoaded())
        return {};
    return URLToFileName(Context->url ? Context->url : "");
}

std::string TCustomAVProbe::GetFormatName() {
    if (!CheckFileLoaded())
        return {};
    return Context->iformat->name;
}

int64_t TCustomAVProbe::GetFileSize() {
    if (!CheckFileLoaded())
        return -1;
    const int64_t librarySize = Context->pb ? ff::avio_size(Context->pb) : 0;
    if (librarySize > 0)
        return librarySize;
    std::error_code error;
    const std::filesystem::path name = GetFileName();
    if (std::filesystem::is_regular_file(name, error)) {
        const auto size = std::filesystem::file_size(name, error);
        if (!error)
            return static_cast<int64_t>(size);
    }
    return librarySize;
}
