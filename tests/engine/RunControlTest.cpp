// The engine's run control: the three endings and their flags, the end notification delivered
// exactly once, stop, pause and resume of a worker, destruction of a running engine and the
// removal of outputs that received nothing.
#include "RunHarness.h"

#include "ffbind/MainThread.h"
#include "support/TestMedia.h"

#include <chrono>
#include <sys/resource.h>
#include <thread>
#include <unistd.h>

namespace {

// Waits on the main thread (serving hand-overs) for at most a few seconds.
bool WaitFor(const std::function<bool()>& done) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    WaitServingMainThread([&] { return done() || std::chrono::steady_clock::now() > deadline; });
    return done();
}

class RunControlTest : public ::testing::Test {
protected:
    // A copy paced in real time: long enough to be stopped or paused while it runs.
    void PrepareSlowCopy(TEngineUnderTest& run, const std::filesystem::path& output) {
        run.OpenInputs({{"re", "1"}}, {Fixture("long_2h.mp3")});
        run.CreateOutput({{"acodec", "copy"}}, output);
        run.Engine->ProgressIntervalUs = 20000;
    }

    TTempFolder Folder;
};

TEST_F(RunControlTest, StopDuringALongCopyLeavesAValidShorterFile) {
    TEngineUnderTest run;
    PrepareSlowCopy(run, Folder / "stopped.mp3");
    run.Start();
    ASSERT_TRUE(WaitFor([&] { return run.Progresses > 3; }));
    run.Engine->Stop(swWaitForEnd);
    EXPECT_EQ(run.Terminations, 1); // Stop with waiting returns after the notification
    EXPECT_FALSE(run.Engine->Finished);
    EXPECT_FALSE(run.Engine->ErrorOccurred);
    const double duration = ProbeDuration(Folder / "stopped.mp3");
    EXPECT_GT(duration, 0.0);
    EXPECT_LT(duration, 60.0);
}

TEST_F(RunControlTest, PauseHoldsTheWorkerAndResumeContinuesIt) {
    TEngineUnderTest run;
    PrepareSlowCopy(run, Folder / "paused.mp3");
    run.Start();
    ASSERT_TRUE(WaitFor([&] { return run.Progresses > 2; }));
    run.Engine->Pause();
    ASSERT_TRUE(WaitFor([&] { return run.Engine->Paused(); }));
    const int heldAt = run.Progresses;
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(300);
    WaitServingMainThread([&] { return std::chrono::steady_clock::now() > until; });
    EXPECT_EQ(run.Progresses, heldAt);
    EXPECT_TRUE(run.Engine->Paused());
    run.Engine->Resume();
    EXPECT_TRUE(WaitFor([&] { return run.Progresses > heldAt + 2; }));
    // A stop wakes a paused worker too.
    run.Engine->Pause();
    run.Engine->Stop(swWaitForEnd);
    EXPECT_EQ(run.Terminations, 1);
    EXPECT_FALSE(run.Engine->Finished);
}

// With async a gap in the time stamps is filled with silence piece by piece: a stop ends even a
// gap of years (a billion seconds here), which would otherwise be filled to its end.
TEST_F(RunControlTest, StopEndsAHugeSilenceFill) {
    const auto input = Folder / "gap.mkv";
    int exitCode = 0;
    RunCommand("ffmpeg -nostdin -loglevel error -y -f lavfi -i sine=duration=2:sample_rate=8000 "
               "-af \"asetpts='if(gte(T,1),PTS+1e9/TB,PTS)'\" -c:a pcm_s16le " +
                   ShellQuote(input.string()),
               &exitCode);
    ASSERT_EQ(exitCode, 0);
    TEngineUnderTest run;
    run.OpenInputs({{"async", "1"}}, {input});
    run.CreateOutput({{"f", "null"}}, Folder / "gap.null");
    run.Start();
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(300);
    WaitServingMainThread([&] { return std::chrono::steady_clock::now() > until; });
    run.Engine->Stop(swWaitForEnd);
    EXPECT_EQ(run.Terminations, 1);
    EXPECT_FALSE(run.Engine->Finished);
    EXPECT_FALSE(run.Engine->ErrorOccurred) << run.Engine->ErrorMessage;
}

TEST_F(RunControlTest, DestroyingARunningEngineStopsAndWaitsForIt) {
    auto run = std::make_unique<TEngineUnderTest>();
    PrepareSlowCopy(*run, Folder / "destroyed.mp3");
    run->Start();
    ASSERT_TRUE(WaitFor([&] { return run->Progresses > 1; }));
    std::atomic<int>* terminations = &run->Terminations;
    run->Engine.reset();
    EXPECT_EQ(*terminations, 1);
    run.reset();
    EXPECT_GT(ProbeDuration(Folder / "destroyed.mp3"), 0.0);
}

TEST_F(RunControlTest, StopOnAnEngineThatNeverRanNotifiesOnce) {
    TEngineUnderTest run;
    run.Engine->Stop(swWaitForEnd);
    EXPECT_EQ(run.Terminations, 1);
    EXPECT_TRUE(run.Engine->Terminated);
    run.Engine->Stop(swWaitForEnd);
    run.Engine->Stop(swNoWait);
    EXPECT_EQ(run.Terminations, 1);
}

TEST_F(RunControlTest, StartWithoutOutputFailsAtOnceAndOnlyOnce) {
    TLogCapture log;
    TEngineUnderTest run;
    EXPECT_EQ(run.Engine->StartConvert(ctWorkerThread, cpLower), nullptr);
    EXPECT_TRUE(run.Engine->ErrorOccurred);
    EXPECT_EQ(run.Engine->ErrorMessage, "At least one output file must be specified");
    EXPECT_EQ(log.LevelOf("At least one output file must be specified"), llQuiet);
    EXPECT_EQ(run.Terminations, 1);
    EXPECT_EQ(run.Engine->StartConvert(ctWorkerThread, cpLower), nullptr);
    EXPECT_EQ(run.Terminations, 1);
}

TEST_F(RunControlTest, FinishedRunCannotStartAgainAndUnthreadedRunEndsBeforeReturning) {
    TEngineUnderTest run;
    run.OpenInputs({}, {Fixture("tone_1k_stereo.mp3")});
    run.CreateOutput({{"acodec", "copy"}}, Folder / "out.mp3");
    EXPECT_EQ(run.Engine->StartConvert(ctCallerThread, cpNormal), nullptr);
    EXPECT_EQ(run.Terminations, 1);
    EXPECT_TRUE(run.Engine->Finished);
    EXPECT_FALSE(run.Engine->Running);
    EXPECT_EQ(run.Engine->StartConvert(ctWorkerThread, cpNormal), nullptr);
    run.Engine->Stop(swWaitForEnd);
    EXPECT_EQ(run.Terminations, 1);
}

TEST_F(RunControlTest, WorkerRunsAtTheGivenPriority) {
    TEngineUnderTest run;
    run.OpenInputs({}, {Fixture("tone_1k_stereo.mp3")});
    run.CreateOutput({{"acodec", "copy"}}, Folder / "out.mp3");
    std::atomic<int> nice{-100};
    run.Engine->OnTerminate = [&](TCustomFFmpeg*) {
        nice = getpriority(PRIO_PROCESS, static_cast<id_t>(gettid()));
        ++run.Terminations;
    };
    TServedThread* worker = run.Engine->StartConvert(ctWorkerThread, cpLowest);
    ASSERT_NE(worker, nullptr);
    EXPECT_FALSE(worker->Started()); // created suspended; the caller starts it
    worker->Start();
    run.WaitForEnd();
    EXPECT_EQ(nice, 10);
}

// An output that received no bytes is deleted whether the run finished, stopped (which says
// that no file was kept) or failed.
TEST_F(RunControlTest, EmptyOutputIsDeletedInEveryEnding) {
    const auto input = Fixture("audio_only.m4a");
    TEngineUnderTest finished;
    finished.OpenInputs({}, {input});
    finished.CreateOutput({{"acodec", "copy"}, {"aframes", "0"}}, Folder / "finished.aac");
    finished.RunToEnd();
    EXPECT_TRUE(finished.Engine->Finished) << finished.Engine->ErrorMessage;
    EXPECT_FALSE(std::filesystem::exists(Folder / "finished.aac"));

    TEngineUnderTest stopped;
    stopped.OpenInputs({}, {input});
    stopped.CreateOutput({{"acodec", "copy"}}, Folder / "stopped.aac");
    ASSERT_NE(stopped.Start(false), nullptr);
    stopped.Engine->Stop(swWaitForEnd); // starts the suspended worker, which stops at once
    EXPECT_EQ(stopped.Terminations, 1);
    EXPECT_FALSE(stopped.Engine->Finished);
    EXPECT_FALSE(stopped.Engine->ErrorOccurred);
    EXPECT_EQ(stopped.Engine->ErrorMessage, StoppedWithoutSoundText);
    EXPECT_FALSE(std::filesystem::exists(Folder / "stopped.aac"));

    TEngineUnderTest failed;
    failed.OpenInputs({}, {input});
    failed.CreateOutput({{"acodec", "copy"}, {"vol", "300"}}, Folder / "failed.aac");
    failed.RunToEnd();
    EXPECT_TRUE(failed.Engine->ErrorOccurred);
    EXPECT_FALSE(std::filesystem::exists(Folder / "failed.aac"));
}

} // namespace

// A stop cuts mp3 from mp3 a few samples past a whole frame (the decoder's skipped start): the
// stopped output ends at that frame, without the encoder's complaint about a frame it was not
// given, on one encoder and in pieces alike.
class StoppedMp3Test : public ::testing::TestWithParam<const char*> {};

TEST_P(StoppedMp3Test, EndsAtAWholeFrameWithoutTheEncodersComplaint) {
    TTempFolder folder;
    TLogCapture log;
    TEngineUnderTest run;
    // At the input's own pace (two hours): the stop surely comes while it converts.
    run.OpenInputs({{"re", "1"}}, {Fixture("long_2h.mp3")});
    run.CreateOutput({{"acodec", "libmp3lame"}, {"split", GetParam()}}, folder / "stopped.mp3");
    run.Engine->ProgressIntervalUs = 20000;
    run.Start();
    ASSERT_TRUE(WaitFor([&] { return run.Progresses > 3; }));
    run.Engine->Stop(swWaitForEnd);
    EXPECT_FALSE(run.Engine->ErrorOccurred);
    EXPECT_FALSE(log.Contains("queue is empty"));
    EXPECT_GT(ProbeDuration(folder / "stopped.mp3"), 0.0);
}

INSTANTIATE_TEST_SUITE_P(OneEncoderAndPieces, StoppedMp3Test, ::testing::Values("0", "2"));
