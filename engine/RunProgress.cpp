// The run's progress report: gathers the run's figures and delivers the report.
#include "engine/OutputVideo.h"
#include "engine/ProgressReport.h"
#include "engine/TranscodeRun.h"
#include "ffbind/FFmpegLogger.h"

#include <algorithm>

namespace {

// The first output's size, or its write position when the size is unknown.
int64_t FirstOutputSize(const std::vector<AVFormatContext*>& outputs) {
    if (outputs.empty() || !outputs[0]->pb)
        return 0;
    AVIOContext* io = outputs[0]->pb;
    const int64_t size = ff::avio_size(io);
    return size >= 0 ? size : ff::avio_seek(io, 0, SEEK_CUR);
}

TProgressStream StreamFigures(const TOutputStream& ost) {
    TProgressStream stream;
    stream.CurrentTimeS = ost.CurrentTimeSeconds();
    const AVCodecParameters* parameters = ost.St ? ost.St->codecpar : nullptr;
    stream.IsVideo = parameters && parameters->codec_type == AVMEDIA_TYPE_VIDEO;
    if (!stream.IsVideo)
        return stream;
    stream.Copied = !ost.EncodingNeeded;
    stream.FrameNumber = ost.FrameNumber;
    stream.QualityLambda = ost.Video ? ost.Video->LastQuality : 0;
    if (const AVCodecContext* enc = ost.Enc) {
        stream.ComputesPsnr = (enc->flags & AV_CODEC_FLAG_PSNR) != 0;
        std::copy(enc->error, enc->error + 3, stream.PlaneErrors);
        stream.Width = enc->width;
        stream.Height = enc->height;
    }
    return stream;
}

} // namespace

void TTranscodeRun::ReportProgress(bool Last) {
    TEngineRun& run = State;
    TProgressFigures figures;
    for (const auto& ost : run.OutputStreams)
        figures.Streams.push_back(StreamFigures(*ost));
    figures.TotalSizeBytes = FirstOutputSize(Setup.OutputFiles);
    figures.ElapsedS = static_cast<float>(ff::av_gettime() - run.TimerStartUs) / 1000000.0f;
    figures.Last = Last;
    figures.HasHandler = static_cast<bool>(Link.HasProgress());
    figures.Verbose = Setup.Options.Verbose;
    figures.QpHistogram = Setup.Options.QpHistogram;
    figures.VideoSizeBytes = run.VideoSizeBytes;
    figures.AudioSizeBytes = run.AudioSizeBytes;
    figures.ExtraSizeBytes = run.ExtraSizeBytes;
    figures.FramesDuplicated = run.FramesDuplicated;
    figures.FramesDropped = run.FramesDropped;
    figures.RecordingTimeMs = Setup.Options.RecordingTimeMs;

    const TProgressReport report = BuildProgressReport(figures);
    if (report.Skipped)
        return;
    if (report.HasStatus) {
        if (Link.HasProgress())
            Link.Progress(report.Progress);
        else if (Setup.Options.Verbose >= 0)
            GetLogger()->Log(Link.LogSender(), llVerbose, report.StatusLine);
    }
    if (!report.Summary.empty())
        GetLogger()->Log(Link.LogSender(), llVerbose, report.Summary);
}
