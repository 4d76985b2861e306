// Time stamps and codec state across a run: a jump back in a format with discontinuities is
// absorbed, a time-stamp scale stretches a stream, and two-pass encoding writes its statistics
// in pass 1 and reads them in pass 2.
#include "RunHarness.h"

#include "support/TestMedia.h"

#include <fstream>

namespace {

class TranscodeTimingTest : public ::testing::Test {
protected:
    TTempFolder Folder;
};

// An MPEG-TS file repeated back to back: the second half's time stamps start again.
TEST_F(TranscodeTimingTest, TimestampJumpOfATransportStreamIsAbsorbed) {
    const auto once = Folder / "once.ts";
    const auto twice = Folder / "twice.ts";
    int status = 0;
    RunCommand("ffmpeg -nostdin -v error -y -f lavfi -i sine=frequency=1000:duration=1 "
               "-c:a mp2 -b:a 64k -f mpegts " +
                   ShellQuote(once.string()) + " && cat " + ShellQuote(once.string()) + " " +
                   ShellQuote(once.string()) + " > " + ShellQuote(twice.string()),
               &status);
    ASSERT_EQ(status, 0);
    TLogCapture log;
    TEngineUnderTest run;
    run.OpenInputs({{"v", "3"}}, {twice});
    run.CreateOutput({{"acodec", "copy"}}, Folder / "out.mka");
    run.RunToEnd();
    ASSERT_TRUE(run.Engine->Finished) << run.Engine->ErrorMessage;
    EXPECT_TRUE(log.Contains("timestamp discontinuity"));
    EXPECT_NEAR(ProbeDuration(Folder / "out.mka"), 2.0, 0.1);
}

TEST_F(TranscodeTimingTest, TimeStampScaleStretchesTheCopiedStream) {
    TEngineUnderTest run;
    run.OpenInputs({{"itsscale", "0:2"}}, {Fixture("tone_1k_stereo.mp3")});
    run.CreateOutput({{"acodec", "copy"}}, Folder / "out.mka");
    run.RunToEnd();
    ASSERT_TRUE(run.Engine->Finished) << run.Engine->ErrorMessage;
    const std::string lastTime = RunCommand(
        "ffprobe -v error -select_streams a:0 -show_entries packet=pts_time -of csv=p=0 " +
        ShellQuote((Folder / "out.mka").string()) + " | grep -v '^$' | tail -1");
    // Packets 26 ms apart arrive 52 ms apart: the last one near 8 s instead of 4 s.
    EXPECT_NEAR(std::atof(lastTime.c_str()), 7.95, 0.1);
}

TEST_F(TranscodeTimingTest, TwoPassEncodingWritesAndReadsItsLog) {
    const auto logBase = (Folder / "stats").string();
    for (const char* pass : {"1", "2"}) {
        TEngineUnderTest run;
        run.OpenInputs({}, {Fixture("video_only.mp4")});
        run.CreateOutput({{"vcodec", "mpeg4"}, {"pass", pass}, {"passlogfile", logBase}},
                         Folder / (std::string("pass") + pass + ".avi"));
        run.RunToEnd();
        ASSERT_TRUE(run.Engine->Finished) << "pass " << pass << ": " << run.Engine->ErrorMessage;
        // The log of output stream 0 is named after the stream.
        const auto logFile = Folder / "stats-0.log";
        ASSERT_TRUE(std::filesystem::exists(logFile));
        EXPECT_GT(std::filesystem::file_size(logFile), 0u);
    }
    EXPECT_EQ(ProbeValue(Folder / "pass2.avi", "stream=codec_name", "v:0"), "mpeg4");
}

TEST_F(TranscodeTimingTest, MissingPassOneLogRefusesPassTwo) {
    TEngineUnderTest run;
    run.OpenInputs({}, {Fixture("video_only.mp4")});
    const auto logBase = (Folder / "absent").string();
    run.CreateOutput({{"vcodec", "mpeg4"}, {"pass", "2"}, {"passlogfile", logBase}},
                     Folder / "out.avi");
    run.RunToEnd();
    EXPECT_TRUE(run.Engine->ErrorOccurred);
    EXPECT_EQ(run.Engine->ErrorMessage,
              "Cannot read log file " + logBase + "-0.log for pass-2 encoding");
}

} // namespace
