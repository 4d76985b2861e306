// Progress reports of real runs: the event's values for an audio-only conversion, and the
// status lines and summary logged without a handler at each verbosity.
#include "AudioCoreHarness.h"
#include "RunHarness.h"

#include "support/TestMedia.h"

#include <gtest/gtest.h>
#include <mutex>

namespace {

// Every report of an audio-only run carries no frame, fps or quality, a rising time and size,
// and the expected duration; nothing is logged as a status line.
TEST(ProgressRunTest, AudioOnlyRunFiresTheEventWithItsValues) {
    TLogCapture log;
    TEngineUnderTest run;
    std::mutex lock;
    std::vector<TProgressInfo> calls;
    run.Engine->OnProgress = [&](TCustomFFmpeg*, const TProgressInfo& progress) {
        std::lock_guard<std::mutex> guard(lock);
        calls.push_back(progress);
    };
    run.Engine->ProgressIntervalUs = 0; // a report after every packet
    run.OpenInputs({{"vn", "1"}}, {Fixture("bursts_30s.mp4")});
    run.CreateOutput({{"t", "5"}}, TempOutput("progress.mp3"));
    const int expectedMs = run.Engine->Options().RecordingTimeMs;
    run.RunToEnd();

    ASSERT_GT(calls.size(), 10u);
    for (const TProgressInfo& call : calls) {
        EXPECT_EQ(call.FrameNumber, -1);
        EXPECT_EQ(call.Fps, -1);
        EXPECT_FLOAT_EQ(call.Quality, -1.0f);
        EXPECT_EQ(call.TotalDurationMs, expectedMs);
    }
    EXPECT_EQ(expectedMs, 5000);
    for (std::size_t i = 1; i < calls.size(); ++i) {
        EXPECT_GE(calls[i].CurrentDurationMs, calls[i - 1].CurrentDurationMs);
        EXPECT_GE(calls[i].CurrentSizeBytes, calls[i - 1].CurrentSizeBytes);
    }
    EXPECT_GT(calls.back().CurrentDurationMs, calls.front().CurrentDurationMs);
    EXPECT_NEAR(calls.back().CurrentDurationMs, 5000, 100);
    EXPECT_GT(calls.back().CurrentSizeBytes, calls.front().CurrentSizeBytes);
    EXPECT_GT(calls.back().BitRateKbps, 0.0f);
    EXPECT_FALSE(log.Contains("size="));
}

// Without a handler, Verbose 1 logs status lines and the summary; Verbose -1 logs neither.
TEST(ProgressRunTest, WithoutHandlerTheLogCarriesStatusByVerbosity) {
    for (const char* verbose : {"1", "-1"}) {
        TLogCapture log;
        TEngineUnderTest run;
        run.Engine->OnProgress = nullptr;
        run.Engine->ProgressIntervalUs = 0;
        run.OpenInputs({{"v", verbose}}, {Fixture("tone_1k_stereo.wav")});
        run.CreateOutput({}, TempOutput("status.mp3"));
        run.RunToEnd();
        const bool logged = std::string(verbose) == "1";
        EXPECT_EQ(log.Contains("kB time="), logged) << verbose;
        EXPECT_EQ(log.Contains("bitrate="), logged) << verbose;
        EXPECT_EQ(log.Contains("video:0kB audio:"), logged) << verbose;
    }
}

} // namespace
