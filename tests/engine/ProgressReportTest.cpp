// The progress report built from run figures: event values, status line and summary texts.
#include "engine/ProgressReport.h"

#include <gtest/gtest.h>

namespace {

TProgressStream AudioStream(double timeS) {
    TProgressStream stream;
    stream.CurrentTimeS = timeS;
    return stream;
}

TProgressStream VideoStream(int frames, int qualityLambda, double timeS) {
    TProgressStream stream;
    stream.IsVideo = true;
    stream.FrameNumber = frames;
    stream.QualityLambda = qualityLambda;
    stream.CurrentTimeS = timeS;
    return stream;
}

// An audio-only run reports no frame, fps or quality, its time and size, and the expected
// duration; the status line carries size, time and bit rate.
TEST(ProgressReportTest, AudioOnlyValuesAndStatusLine) {
    TProgressFigures figures;
    figures.Streams = {AudioStream(2.5)};
    figures.TotalSizeBytes = 40960;
    figures.HasHandler = true;
    figures.RecordingTimeMs = 15500;
    const TProgressReport report = BuildProgressReport(figures);
    EXPECT_FALSE(report.Skipped);
    EXPECT_TRUE(report.HasStatus);
    EXPECT_EQ(report.Progress.FrameNumber, -1);
    EXPECT_EQ(report.Progress.Fps, -1);
    EXPECT_FLOAT_EQ(report.Progress.Quality, -1.0f);
    EXPECT_EQ(report.Progress.CurrentDurationMs, 2500);
    EXPECT_FLOAT_EQ(report.Progress.BitRateKbps, 40960 * 8 / 2.5 / 1000);
    EXPECT_EQ(report.Progress.CurrentSizeBytes, 40960);
    EXPECT_EQ(report.Progress.TotalDurationMs, 15500);
    EXPECT_EQ(report.StatusLine, "size=      40kB time=2.50 bitrate= 131.1kbits/s");
    EXPECT_TRUE(report.Summary.empty());
}

// The smallest positive stream time is the report's time; streams without a time yet are
// left out, and a tiny time is raised to 0.01 s for the bit rate.
TEST(ProgressReportTest, TimeIsTheSmallestPositiveStreamTime) {
    TProgressFigures figures;
    figures.Streams = {AudioStream(3.0), AudioStream(0), AudioStream(1.25)};
    figures.TotalSizeBytes = 1000;
    EXPECT_EQ(BuildProgressReport(figures).Progress.CurrentDurationMs, 1250);
    figures.Streams = {AudioStream(0.001)};
    const TProgressReport tiny = BuildProgressReport(figures);
    EXPECT_EQ(tiny.Progress.CurrentDurationMs, 1);
    EXPECT_FLOAT_EQ(tiny.Progress.BitRateKbps, 1000 * 8 / 0.01 / 1000);
}

// Before any stream has a time the report says 0 s and no bit rate (not a huge start value).
TEST(ProgressReportTest, NoStreamTimeYetGivesZero) {
    TProgressFigures figures;
    figures.Streams = {AudioStream(0)};
    figures.TotalSizeBytes = 44;
    const TProgressReport report = BuildProgressReport(figures);
    EXPECT_EQ(report.Progress.CurrentDurationMs, 0);
    EXPECT_FLOAT_EQ(report.Progress.BitRateKbps, 0);
    EXPECT_EQ(report.StatusLine, "size=       0kB time=0.00 bitrate=   0.0kbits/s");
}

// A video output sets frame, fps and quality and leads the status line; without a frame yet
// nothing is reported, not even at the end.
TEST(ProgressReportTest, VideoValuesAndSkippedReport) {
    TProgressFigures figures;
    figures.Streams = {VideoStream(50, 5 * 118, 2.0), AudioStream(2.1)};
    figures.ElapsedS = 4;
    figures.TotalSizeBytes = 2048;
    figures.Last = true;
    figures.Verbose = 2;
    figures.FramesDuplicated = 3;
    figures.FramesDropped = 1;
    const TProgressReport report = BuildProgressReport(figures);
    EXPECT_EQ(report.Progress.FrameNumber, 50);
    EXPECT_EQ(report.Progress.Fps, 13); // trunc(50 / 4 + 0.5)
    EXPECT_FLOAT_EQ(report.Progress.Quality, 5.0f);
    EXPECT_EQ(report.StatusLine, "frame=   50 fps= 13 q=5.0 Lsize=       2kB time=2.00 "
                                 "bitrate=   8.2kbits/s dup=3 drop=1");

    figures.ElapsedS = 0.5;
    EXPECT_EQ(BuildProgressReport(figures).Progress.Fps, 0);
    figures.Streams[0].Copied = true;
    EXPECT_FLOAT_EQ(BuildProgressReport(figures).Progress.Quality, -1.0f);
    figures.Streams[0].FrameNumber = 0;
    const TProgressReport skipped = BuildProgressReport(figures);
    EXPECT_TRUE(skipped.Skipped);
    EXPECT_TRUE(skipped.StatusLine.empty());
    EXPECT_TRUE(skipped.Summary.empty());
}

// A second video stream adds its quality; the quantiser histogram appends 32 digits.
TEST(ProgressReportTest, SecondVideoQualityAndHistogram) {
    TProgressFigures figures;
    figures.Streams = {VideoStream(10, 2 * 118, 1.0), VideoStream(10, 7 * 118, 1.0)};
    figures.QpHistogram = true;
    const TProgressReport report = BuildProgressReport(figures);
    const std::string prefix = "frame=   10 fps=  0 q=2.0 ";
    ASSERT_EQ(report.StatusLine.compare(0, prefix.size(), prefix), 0) << report.StatusLine;
    const std::string histogram = report.StatusLine.substr(prefix.size(), 32);
    EXPECT_EQ(histogram.find_first_not_of("0123456789ABCDEF"), std::string::npos);
    EXPECT_NE(histogram[2], '0'); // quantiser 2 was counted
    EXPECT_NE(report.StatusLine.find("q=7.0 size="), std::string::npos) << report.StatusLine;
}

// Handler, verbosity and the last report decide whether the status is complete; the summary
// comes with the last report unless Verbose is negative.
TEST(ProgressReportTest, StatusAndSummaryByVerbosity) {
    TProgressFigures figures;
    figures.Streams = {AudioStream(1.0)};
    figures.TotalSizeBytes = 10240 + 512;
    figures.AudioSizeBytes = 10240;
    figures.ExtraSizeBytes = 0;
    figures.Verbose = 0;
    EXPECT_FALSE(BuildProgressReport(figures).HasStatus);
    figures.Last = true;
    const TProgressReport last = BuildProgressReport(figures);
    EXPECT_TRUE(last.HasStatus);
    EXPECT_EQ(last.Summary, "video:0kB audio:10kB global headers:0kB muxing overhead 5.000000%\n");
    figures.Verbose = -1;
    EXPECT_TRUE(BuildProgressReport(figures).Summary.empty());
    figures.Verbose = 1;
    figures.AudioSizeBytes = 0;
    EXPECT_EQ(BuildProgressReport(figures).Summary,
              "video:0kB audio:0kB global headers:0kB muxing overhead unknown\n");
}

// The status line is cut at 1023 characters however much is appended.
TEST(ProgressReportTest, StatusLineIsBounded) {
    TProgressFigures figures;
    figures.Streams.push_back(VideoStream(1, 118, 1.0));
    for (int i = 0; i < 200; ++i)
        figures.Streams.push_back(VideoStream(1, 118, 1.0));
    EXPECT_EQ(BuildProgressReport(figures).StatusLine.size(), 1023u);
}

} // namespace
