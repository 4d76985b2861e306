// The progress report: status line, progress event values and size summary.
#include "engine/ProgressReport.h"

#include "ffbind/FFmpegApi.h"

#include <algorithm>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <limits>

namespace {

// The status line: pieces appended with bounded formatting, cut at 1023 characters.
class TStatusLine {
public:
    void Append(const char* format, ...) __attribute__((format(printf, 2, 3))) {
        if (Length >= sizeof Buffer - 1)
            return;
        va_list args;
        va_start(args, format);
        const int written = std::vsnprintf(Buffer + Length, sizeof Buffer - Length, format, args);
        va_end(args);
        if (written > 0)
            Length = std::min(sizeof Buffer - 1, Length + static_cast<std::size_t>(written));
    }
    std::string Text() const { return std::string(Buffer, Length); }

private:
    char Buffer[1024] = {};
    std::size_t Length = 0;
};

int ClampedMs(double seconds) {
    const double ms = std::trunc(seconds * 1000);
    if (!(ms > std::numeric_limits<int>::min()))
        return std::numeric_limits<int>::min();
    if (!(ms < std::numeric_limits<int>::max()))
        return std::numeric_limits<int>::max();
    return static_cast<int>(ms);
}

float QualityOf(const TProgressStream& stream) {
    return stream.Copied ? -1.0f : static_cast<float>(stream.QualityLambda) / FF_QP2LAMBDA;
}

void AppendQpHistogram(TStatusLine& line, const TProgressStream& stream) {
    std::atomic<int>* counters = QpHistogramCounters();
    const long quantiser = std::lround(static_cast<double>(stream.QualityLambda) / FF_QP2LAMBDA);
    if (quantiser >= 0 && quantiser < QpHistogramSize)
        counters[quantiser].fetch_add(1, std::memory_order_relaxed);
    for (int i = 0; i < 32; ++i)
        line.Append("%X", static_cast<int>(std::lround(std::log2(counters[i].load() + 1))));
}

// The encoder's summed errors against the frames written: the average PSNR of the run so far.
void AppendPsnr(TStatusLine& line, const TProgressStream& stream) {
    static const char planes[3] = {'Y', 'U', 'V'};
    double errorSum = 0, scaleSum = 0;
    line.Append("PSNR=");
    for (int plane = 0; plane < 3; ++plane) {
        const double error = static_cast<double>(stream.PlaneErrors[plane]);
        double scale = static_cast<double>(stream.Width) * stream.Height * 255.0 * 255.0 *
                       std::max(stream.FrameNumber, 1);
        if (plane > 0)
            scale /= 4;
        errorSum += error;
        scaleSum += scale;
        line.Append("%c:%2.2f ", planes[plane], -10.0 * std::log10(error / scale));
    }
    line.Append("*:%2.2f ", -10.0 * std::log10(errorSum / scaleSum));
}

} // namespace

std::atomic<int>* QpHistogramCounters() {
    static std::atomic<int> counters[QpHistogramSize] = {};
    return counters;
}

TProgressReport BuildProgressReport(const TProgressFigures& figures) {
    TProgressReport report;
    TProgressInfo& progress = report.Progress;
    TStatusLine line;
    // No stream has a time yet while this stays unknown.
    double timeS = std::numeric_limits<double>::infinity();
    bool videoSeen = false;
    for (const TProgressStream& stream : figures.Streams) {
        if (stream.IsVideo && videoSeen)
            line.Append("q=%2.1f ", QualityOf(stream));
        if (stream.IsVideo && !videoSeen) {
            videoSeen = true;
            if (stream.FrameNumber < 1) {
                report.Skipped = true;
                return report;
            }
            progress.FrameNumber = stream.FrameNumber;
            progress.Fps = figures.ElapsedS > 1
                               ? static_cast<int>(stream.FrameNumber / figures.ElapsedS + 0.5)
                               : 0;
            progress.Quality = QualityOf(stream);
            line.Append("frame=%5d fps=%3d q=%3.1f ", progress.FrameNumber, progress.Fps,
                        progress.Quality);
            if (figures.Last)
                line.Append("L");
            if (figures.QpHistogram)
                AppendQpHistogram(line, stream);
            if (stream.ComputesPsnr)
                AppendPsnr(line, stream);
        }
        if (stream.CurrentTimeS > 0 && stream.CurrentTimeS < timeS)
            timeS = stream.CurrentTimeS;
    }
    const bool timeKnown = std::isfinite(timeS);
    if (!timeKnown)
        timeS = 0;
    const double bitRate =
        timeKnown ? static_cast<double>(figures.TotalSizeBytes) * 8 / std::max(timeS, 0.01) / 1000
                  : 0;
    progress.CurrentDurationMs = ClampedMs(timeS);
    progress.BitRateKbps = static_cast<float>(bitRate);
    progress.CurrentSizeBytes = figures.TotalSizeBytes;
    progress.TotalDurationMs = figures.RecordingTimeMs;

    if (figures.HasHandler || figures.Verbose > 0 || figures.Last) {
        report.HasStatus = true;
        line.Append("size=%8.0fkB time=%0.2f bitrate=%6.1fkbits/s",
                    static_cast<double>(figures.TotalSizeBytes) / 1024, timeS, bitRate);
        if (figures.Verbose > 1)
            line.Append(" dup=%d drop=%d", figures.FramesDuplicated, figures.FramesDropped);
    }
    report.StatusLine = line.Text();

    if (figures.Last && figures.Verbose >= 0) {
        const int64_t raw =
            figures.VideoSizeBytes + figures.AudioSizeBytes + figures.ExtraSizeBytes;
        char summary[256];
        const int used = std::snprintf(summary, sizeof summary,
                                       "video:%1.0fkB audio:%1.0fkB global headers:%1.0fkB ",
                                       static_cast<double>(figures.VideoSizeBytes) / 1024,
                                       static_cast<double>(figures.AudioSizeBytes) / 1024,
                                       static_cast<double>(figures.ExtraSizeBytes) / 1024);
        // Nothing written: the overhead has no meaning.
        if (raw > 0)
            std::snprintf(summary + used, sizeof summary - used, "muxing overhead %f%%\n",
                          static_cast<double>(figures.TotalSizeBytes - raw) * 100 / raw);
        else
            std::snprintf(summary + used, sizeof summary - used, "muxing overhead unknown\n");
        report.Summary = summary;
    }
    return report;
}
