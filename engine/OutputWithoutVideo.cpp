// The sound alone when the picture cannot be encoded: an output whose video encoder refuses the
// input's picture (a size or format it cannot take) is made again without its video, on the file
// already created, and the run converts its sound instead of failing.
#include "engine/FFmpeg.h"
#include "engine/TranscodeRun.h"

#include "ffbind/FFmpegLogger.h"

#include <algorithm>
#include <utility>

namespace {

AVMediaType SetupKind(const TOutputStreamSetup& setup) {
    return setup.Stream->codecpar->codec_type;
}

// A new stream of Output carrying what the set-up put on the old one.
AVStream* CopyStream(AVFormatContext* Output, const AVStream* Old) {
    AVStream* stream = ff::avformat_new_stream(Output, nullptr);
    if (!stream || ff::avcodec_parameters_copy(stream->codecpar, Old->codecpar) < 0)
        throw FFmpegException("Could not alloc stream");
    stream->id = static_cast<int>(Output->nb_streams) - 1;
    stream->time_base = Old->time_base;
    stream->disposition = Old->disposition;
    ff::av_dict_copy(&stream->metadata, Old->metadata, 0);
    return stream;
}

} // namespace

bool TCustomFFmpeg::SoundAloneFallback(const AVStream* Refused) const {
    if (Refused->codecpar->codec_type != AVMEDIA_TYPE_VIDEO || OutputSetups.size() != 1 ||
        JoinMode || !StreamMaps.empty())
        return false;
    const auto& streams = OutputSetups.front()->Streams;
    return std::any_of(streams.begin(), streams.end(), [](const TOutputStreamSetup& setup) {
        return SetupKind(setup) == AVMEDIA_TYPE_AUDIO;
    });
}

bool TCustomFFmpeg::TranscodeOrSoundAlone() {
    try {
        return CurrentRun->Transcode();
    } catch (const EVideoEncoderRefused& refusal) {
        GetLogger()->Log(this, llVerbose, refusal.what());
    }
    // The refused run opened codecs on the streams about to go; nothing was written yet.
    CurrentRun.reset();
    DropOutputVideo();
    const TOutputFileSetup& output = *OutputSetups.front();
    std::string format = output.FileName.extension().string();
    format = format.size() > 1 ? format.substr(1) : output.Context->oformat->name;
    // Said in the log, not as a warning of the task: the sound, the program's subject, is whole.
    GetLogger()->Log(this, llWarning,
                     InputFileName(0).string() + ": its video cannot be encoded for " + format +
                         "; the sound alone is converted.");
    CurrentRun = MakeRun();
    return CurrentRun->Transcode();
}

// The output's context is made again with every stream but the video ones, keeping the file,
// the metadata and each kept stream's set-up (encoder, options, filters).
void TCustomFFmpeg::DropOutputVideo() {
    TOutputFileSetup& output = *OutputSetups.front();
    AVFormatContext* old = output.Context.get();
    AVFormatContext* raw = nullptr;
    if (ff::avformat_alloc_output_context2(&raw, old->oformat, nullptr, old->url) < 0 || !raw)
        throw FFmpegException("avformat_alloc_context failed");
    OutputFormatPtr rebuilt(raw);
    ff::av_dict_copy(&raw->metadata, old->metadata, 0);
    raw->pb = std::exchange(old->pb, nullptr);
    std::vector<TOutputStreamSetup> kept;
    std::vector<const AVCodec*> keptCodecs;
    for (std::size_t i = 0; i < output.Streams.size(); ++i) {
        TOutputStreamSetup& setup = output.Streams[i];
        if (SetupKind(setup) == AVMEDIA_TYPE_VIDEO)
            continue;
        setup.Stream = CopyStream(raw, setup.Stream);
        kept.push_back(std::move(setup));
        keptCodecs.push_back(i < OutputCodecs.size() ? OutputCodecs[i] : nullptr);
    }
    output.Streams = std::move(kept);
    OutputCodecs = std::move(keptCodecs);
    output.Context = std::move(rebuilt);
    OutputFiles.front() = raw;
    ApplyMuxingSettings(output);
    VideoDisable = true;
}
