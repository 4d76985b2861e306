// The progress report of a run: the status line, the values of the progress event and the
// closing size summary, built from the run's figures so they can be checked without a run.
#ifndef SOUNDPICK_ENGINE_PROGRESSREPORT_H
#define SOUNDPICK_ENGINE_PROGRESSREPORT_H

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

// What a progress event tells of a running conversion. A figure that does not apply is -1: an
// output without video has no frame number, fps or quality, and an unknown total is -1.
struct TProgressInfo {
    int FrameNumber = -1; // video frames written
    int Fps = -1;         // video frames written per second of wall-clock time
    int CurrentDurationMs = 0;
    float Quality = -1.0f; // the video encoder's last quantiser
    float BitRateKbps = 0;
    int64_t CurrentSizeBytes = 0;
    int TotalDurationMs = -1; // the output's expected length
};

// One output stream as a report sees it.
struct TProgressStream {
    bool IsVideo = false;
    bool Copied = false;       // a stream copy has no encoder quality
    int FrameNumber = 0;       // video: frames written
    int QualityLambda = 0;     // video: the encoder's last quality in lambda units
    bool ComputesPsnr = false; // video: the encoder sums its squared errors per plane
    uint64_t PlaneErrors[3] = {0, 0, 0};
    int Width = 0, Height = 0;
    double CurrentTimeS = 0; // the stream's current presentation time
};

// Everything one report reads.
struct TProgressFigures {
    std::vector<TProgressStream> Streams; // in output-stream table order
    int64_t TotalSizeBytes = 0;           // the first output's size
    double ElapsedS = 0;                  // wall-clock time since the loop started
    bool Last = false;
    bool HasHandler = false; // OnProgress is assigned
    int Verbose = 1;
    bool QpHistogram = false;
    int64_t VideoSizeBytes = 0, AudioSizeBytes = 0, ExtraSizeBytes = 0;
    int FramesDuplicated = 0, FramesDropped = 0;
    int RecordingTimeMs = -1;
};

// What one report says.
struct TProgressReport {
    // A video output without a frame yet: nothing is reported, not even on the last report.
    bool Skipped = false;
    // The status line is complete and goes to the handler or the log.
    bool HasStatus = false;
    std::string StatusLine;
    TProgressInfo Progress; // the event's values
    // The last report's size summary (empty when none is logged).
    std::string Summary;
};

TProgressReport BuildProgressReport(const TProgressFigures& figures);

// The quantiser histogram shared by every engine of the process (statistics only).
constexpr int QpHistogramSize = 52;
std::atomic<int>* QpHistogramCounters();

#endif
