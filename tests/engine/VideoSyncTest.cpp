// Frame-rate synchronisation of the video path: which pictures are dropped or duplicated to
// keep the output clock with the input's, with the counters and log lines that report it.
#include "VideoPathHarness.h"

#include "RunHarness.h"
#include "engine/EngineRun.h"
#include "engine/OutputVideo.h"
#include "support/TestMedia.h"

#include <gtest/gtest.h>

namespace {

constexpr int64_t FrameUs = 40000; // one frame at 25 per second

TVideoSyncInput SyncInput(int method, double inputFrames, bool variableRate = false) {
    TVideoSyncInput input;
    input.VideoSyncMethod = method;
    input.EncoderTimeBase = {1, 25};
    input.VariableFrameRateFormat = variableRate;
    input.InputSyncTimeS = inputFrames / 25.0;
    return input;
}

} // namespace

// The decision table: constant rate, variable rate, no synchronisation.
TEST(VideoSyncDecisionTest, CopiesFollowTheClockDifference) {
    int64_t clock = 10;
    // Constant rate: up to 1.1 frames ahead is one picture, beyond it the rounded difference.
    EXPECT_EQ(VideoFramesToEmit(SyncInput(1, 11.1), clock), 1);
    EXPECT_EQ(VideoFramesToEmit(SyncInput(1, 13.0), clock), 3);
    EXPECT_EQ(VideoFramesToEmit(SyncInput(1, 12.6), clock), 3);
    EXPECT_EQ(VideoFramesToEmit(SyncInput(1, 8.8), clock), 0);
    EXPECT_EQ(VideoFramesToEmit(SyncInput(1, 9.0), clock), 1);
    EXPECT_EQ(clock, 10);
    // Variable rate: more than 0.6 behind drops, more than 0.6 ahead moves the clock.
    EXPECT_EQ(VideoFramesToEmit(SyncInput(2, 9.3), clock), 0);
    EXPECT_EQ(VideoFramesToEmit(SyncInput(2, 9.5), clock), 1);
    EXPECT_EQ(clock, 10);
    EXPECT_EQ(VideoFramesToEmit(SyncInput(2, 13.0), clock), 1);
    EXPECT_EQ(clock, 13);
    // Automatic: variable rate where the container allows it, constant rate elsewhere.
    clock = 10;
    EXPECT_EQ(VideoFramesToEmit(SyncInput(-1, 13.0, true), clock), 1);
    EXPECT_EQ(clock, 13);
    EXPECT_EQ(VideoFramesToEmit(SyncInput(-1, 16.0, false), clock), 3);
    // Off: the clock simply takes the input's time.
    EXPECT_EQ(VideoFramesToEmit(SyncInput(0, 20.4), clock), 1);
    EXPECT_EQ(clock, 20);
    // Automatic with a time base of a millisecond or finer: no synchronisation.
    TVideoSyncInput fine = SyncInput(-1, 0);
    fine.EncoderTimeBase = {1, 1000};
    fine.InputSyncTimeS = 0.5;
    EXPECT_EQ(VideoFramesToEmit(fine, clock), 1);
    EXPECT_EQ(clock, 500);
}

class VideoSyncTest : public ::testing::Test {
protected:
    TTempFolder Folder;
};

// An input three frames ahead gives three copies of its picture and one dup line of 2; an input
// 1.2 frames behind loses its picture with a drop line.
TEST_F(VideoSyncTest, AheadDuplicatesAndBehindDrops) {
    TLogCapture log;
    const auto file = Folder / "sync.nut";
    {
        TVideoPathHarness video(file, 64, 48);
        video.Engine->Options().VideoSyncMethod = 1;
        video.Engine->Options().Verbose = 3;
        video.Open(64, 48);
        video.Feed(MakePicture(64, 48, 10).get(), 0);
        EXPECT_EQ(video.Ost.SyncOpts, 1);
        // The output clock stands at 1; the input is at 4: three frames ahead.
        video.Feed(MakePicture(64, 48, 100).get(), 4 * FrameUs);
        EXPECT_EQ(video.Run->State.FramesDuplicated, 2);
        EXPECT_EQ(video.Ost.SyncOpts, 4);
        // The output clock stands at 4; the input at 2.8: 1.2 frames behind.
        video.Feed(MakePicture(64, 48, 200).get(), 28 * FrameUs / 10);
        EXPECT_EQ(video.Run->State.FramesDropped, 1);
        EXPECT_EQ(video.Ost.SyncOpts, 4);
        EXPECT_EQ(video.Ost.FrameNumber, 4);
        video.Finish();
    }
    EXPECT_TRUE(log.Contains("*** 2 dup!"));
    EXPECT_TRUE(log.Contains("*** drop!"));
    const TGreyPictures pictures = DecodeGrey(file);
    ASSERT_EQ(pictures.Frames.size(), 4u);
    EXPECT_EQ(pictures.At(0, 5, 5), 10);
    for (int frame = 1; frame < 4; ++frame)
        EXPECT_EQ(pictures.At(frame, 5, 5), 100) << "copy " << frame;
}

// Without the verbose level the counters still count but nothing is logged; the video frame
// limit ends the output.
TEST_F(VideoSyncTest, QuietCountingAndFrameLimit) {
    TLogCapture log;
    const auto file = Folder / "limit.nut";
    {
        TVideoPathHarness video(file, 64, 48);
        video.Engine->Options().VideoSyncMethod = 1;
        video.Engine->Options().MaxFrames[0] = 3;
        video.Open(64, 48);
        video.Feed(MakePicture(64, 48, 10).get(), 0);
        video.Feed(MakePicture(64, 48, 20).get(), 5 * FrameUs);
        EXPECT_EQ(video.Run->State.FramesDuplicated, 3);
        video.Feed(MakePicture(64, 48, 30).get(), 6 * FrameUs);
        EXPECT_EQ(video.Ost.FrameNumber, 3);
        video.Finish();
    }
    EXPECT_FALSE(log.Contains("dup!"));
    EXPECT_EQ(ProbePacketCount(file, "v"), 3);
}

// Found by the conversion fuzzer: a damaged input whose times jump by hours was filled with
// copies of one picture for all of them, although the recording time ends the output long
// before. The copies stop there.
TEST_F(VideoSyncTest, GapFilledOnlyUpToTheRecordingTime) {
    const auto file = Folder / "gap.nut";
    {
        TVideoPathHarness video(file, 64, 48);
        video.Engine->Options().VideoSyncMethod = 1;
        video.Engine->Options().RecordingTimeUs = 10 * FrameUs;
        video.Open(64, 48);
        video.Feed(MakePicture(64, 48, 10).get(), 0);
        video.Feed(MakePicture(64, 48, 20).get(), 100000 * FrameUs);
        EXPECT_EQ(video.Ost.FrameNumber, 10);
        video.Finish();
    }
    EXPECT_EQ(ProbePacketCount(file, "v"), 10);
}
