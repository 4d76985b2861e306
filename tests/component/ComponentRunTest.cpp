// Runs over the task list: thread counts 0, 1 and 5, an empty list, stopping, pausing (also in a
// loudness measuring pass), deleting, tasks that cannot start, the progress interval, the preview
// flags and the cores each task may encode its sound on; a stress run that must never hang.
#include "component/ComponentHarness.h"
#include "component/FFmpegTask.h"
#include "component/PieceBudget.h"
#include "ffbind/MainThread.h"
#include "support/PipeRescue.h"
#include "support/TestLibs.h"
#include "support/TestMedia.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <optional>
#include <string>
#include <thread>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

constexpr const char* LongFixture = "long_2h.mp3";

class ComponentRun : public ::testing::Test {
protected:
    void SetUp() override {
        EnsureLibsLoaded();
        // Whatever else the machine runs: the piece counts below are the idle machine's.
        Component.SetRunQueueReading([] { return 0; });
    }

    // Adds a fixture as a task with an mp3 output in the scratch folder; its index. The long
    // fixture is read at its own pace (two hours): a stop surely comes while it converts, however
    // fast the machine.
    int AddTask(const std::string& fixture, const std::string& output, bool setOutput = true,
                std::optional<double> loudnessLufs = {}) {
        TInputOptions input;
        input.ExtraOptions = fixture == LongFixture ? "vn=1\nre=1" : "vn=1";
        const int index = Component.AddTaskInput(Fixture(fixture), &input);
        EXPECT_GE(index, 0) << Component.LastErrorText();
        if (index >= 0 && setOutput) {
            TOutputOptions options;
            options.NoSubtitle = true;
            options.LoudnessTargetLufs = loudnessLufs;
            EXPECT_TRUE(Component.SetTaskOutput(index, Folder / output, &options))
                << Component.LastErrorText();
        }
        return index;
    }
    bool Started(int index) const {
        const TFFmpeg* task = Component.Task(index);
        return task->Running || task->Terminated;
    }
    // Waits a moment serving hand-overs (for events that must not come).
    static void Linger(int ms) {
        const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
        WaitServingMainThread([&] { return std::chrono::steady_clock::now() > until; });
    }

    TScratchFolder Folder;
    TFFmpegComponent Component;
};

} // namespace

// Thread count 0: the call converts all three, reporting 0, 1, 2 and -1 on the calling thread.
TEST_F(ComponentRun, ThreadCountZeroRunsOnTheCallingThread) {
    TEventRecorder events(Component);
    AddTask("tone_mono.wav", "a.mp3");
    AddTask("mono_8k.wav", "b.mp3");
    AddTask("tone_1k_stereo.wav", "c.mp3");
    Component.StartTasks(0);
    ASSERT_EQ(events.TerminateIndexes(), (std::vector<int>{0, 1, 2, -1}));
    for (const TTerminateRecord& end : events.Terminates()) {
        EXPECT_TRUE(end.OnMainThread);
        EXPECT_TRUE(end.Finished()) << end.Message;
        EXPECT_FALSE(end.Failed());
    }
    EXPECT_FALSE(Component.ThreadMode());
    EXPECT_NEAR(ProbeDuration(Folder / "b.mp3"), 2.0, 0.25); // 8 kHz mp3 frames are 72 ms
    EXPECT_NEAR(ProbeDuration(Folder / "c.mp3"), 4.0, 0.15);
}

// Thread count 1: one task at a time, in list order; ends are delivered off the main thread,
// one at a time, -1 after the third.
TEST_F(ComponentRun, ThreadCountOneRunsOneAtATime) {
    TEventRecorder events(Component);
    std::atomic<int> mostRunning{0};
    Component.SetProgressInterval(100);
    Component.OnProgress = [&](int, const TProgressInfo&) {
        int running = 0;
        for (int i = 0; i < Component.TaskCount(); ++i)
            running += Component.Task(i)->Running ? 1 : 0;
        mostRunning = std::max(mostRunning.load(), running);
    };
    AddTask("bursts_30s.mp4", "a.mp3");
    AddTask("tone_mono.wav", "b.mp3");
    AddTask("bursts_30s.mp4", "c.mp3");
    Component.StartTasks(1);
    EXPECT_TRUE(Component.ThreadMode());
    EXPECT_FALSE(Started(1)) << "the second task waits for the first one's end";
    EXPECT_FALSE(Started(2));
    ASSERT_TRUE(events.WaitForRunEnd());
    EXPECT_EQ(events.TerminateIndexes(), (std::vector<int>{0, 1, 2, -1}));
    for (const TTerminateRecord& end : events.Terminates()) {
        EXPECT_FALSE(end.OnMainThread);
        EXPECT_TRUE(end.Finished()) << end.Message;
    }
    EXPECT_EQ(events.OverlappingTerminates(), 0);
    EXPECT_EQ(mostRunning, 1);
    EXPECT_NEAR(ProbeDuration(Folder / "c.mp3"), 30.0, 0.2);
}

// Thread count 5 with two tasks: both start at once; -1 follows the second end.
TEST_F(ComponentRun, ThreadCountAboveTaskCountStartsAll) {
    TEventRecorder events(Component);
    AddTask("bursts_30s.mp4", "a.mp3");
    AddTask("bursts_30s.mp4", "b.mp3");
    Component.StartTasks(5);
    EXPECT_TRUE(Started(0));
    EXPECT_TRUE(Started(1));
    ASSERT_TRUE(events.WaitForRunEnd());
    const std::vector<int> indexes = events.TerminateIndexes();
    ASSERT_EQ(indexes.size(), 3u);
    EXPECT_EQ(indexes[0] + indexes[1], 1) << "0 and 1 in either order";
    EXPECT_EQ(indexes[2], -1);
}

// An input that does not answer (a pipe no one writes to, as a share that hangs) is opened on
// the task's worker: the start returns while the worker waits in the pipe's open, and so do a
// stop and freeing the component while it waits for the first bytes. Once the pipe answers the
// task converts, or ends stopped leaving no output, or (its component gone) ends unheard of.
TEST_F(ComponentRun, AnInputThatDoesNotAnswerHoldsNeitherStartNorStopNorTheEnd) {
    for (const std::string end : {"released", "stopped", "freed"}) {
        SCOPED_TRACE(end);
        auto component = std::make_unique<TFFmpegComponent>();
        auto events = std::make_unique<TEventRecorder>(*component);
        const fs::path input = Folder / (end + ".wav"), output = Folder / (end + ".mp3");
        fs::copy_file(Fixture("tone_mono.wav"), input);
        ASSERT_EQ(component->AddTaskInput(input), 0) << component->LastErrorText();
        ASSERT_TRUE(component->SetTaskOutput(0, output)) << component->LastErrorText();
        fs::remove(input);
        ASSERT_EQ(mkfifo(input.c_str(), 0600), 0);
        // A start that waits in the pipe's open itself is let go after a while, failing the test.
        TPipeRescue rescue(input.c_str());
        component->StartTasks(1);
        ASSERT_TRUE(rescue.Returned());
        // The writing end, once the worker waits in the pipe's open: it then waits for the
        // first bytes.
        int writer = -1;
        const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        WaitServingMainThread([&] {
            writer = ::open(input.c_str(), O_WRONLY | O_NONBLOCK);
            return writer >= 0 || std::chrono::steady_clock::now() > until;
        });
        ASSERT_GE(writer, 0);
        // The sound through the pipe, serving the worker's hand-overs meanwhile.
        const auto pour = [&] {
            std::atomic<bool> poured{false};
            std::thread cat([&] {
                RunCommand("cat " + ShellQuote(Fixture("tone_mono.wav").string()) + " > " +
                           ShellQuote(input.string()) + " 2>/dev/null");
                poured = true;
            });
            WaitServingMainThread([&] { return poured.load(); });
            cat.join();
        };
        if (end != "released")
            component->StopTasks(true);
        if (end == "freed") {
            events.reset();
            component.reset();
        }
        // Stopped or freed, it makes its output once its input opens and removes it again.
        pour();
        ::close(writer);
        if (!component) {
            // The task has ended once it closed its input: the pipe has no reader any more.
            WaitServingMainThread([&] {
                const int probe = ::open(input.c_str(), O_WRONLY | O_NONBLOCK);
                ::close(probe);
                return probe < 0 || std::chrono::steady_clock::now() > until;
            });
            EXPECT_FALSE(fs::exists(output));
            continue;
        }
        ASSERT_TRUE(events->WaitForRunEnd());
        ASSERT_EQ(events->TerminateIndexes(), (std::vector<int>{0, -1}));
        const TTerminateRecord ended = events->Terminates()[0];
        if (end == "released") {
            EXPECT_TRUE(ended.Finished()) << ended.Message;
            EXPECT_NEAR(ProbeDuration(output), 3.0, 0.15);
        } else {
            EXPECT_EQ(ended.End, teStopped) << ended.Message;
            EXPECT_FALSE(fs::exists(output));
        }
    }
}

// An empty list: nothing starts and no event fires, with or without threads.
TEST_F(ComponentRun, EmptyListFiresNothing) {
    TEventRecorder events(Component);
    Component.StartTasks(0);
    Component.StartTasks(3);
    Linger(200);
    EXPECT_TRUE(events.Terminates().empty());
}

// Stop with waiting while task 0 runs and 1 and 2 wait: 0 ends stopped with a valid, shorter
// output; 1 and 2 report their end without converting; -1 follows.
TEST_F(ComponentRun, StopWithWaitingWhileTheFirstRuns) {
    TEventRecorder events(Component);
    Component.SetProgressInterval(100);
    AddTask(LongFixture, "long.mp3");
    AddTask("tone_mono.wav", "b.mp3");
    AddTask("tone_mono.wav", "c.mp3");
    Component.StartTasks(1);
    ASSERT_TRUE(events.WaitForProgress(0));
    Component.StopTasks(true);
    EXPECT_FALSE(Component.Task(0)->Running) << "the worker has ended when the call returns";
    ASSERT_TRUE(events.WaitForRunEnd());
    EXPECT_EQ(events.TerminateIndexes(), (std::vector<int>{0, 1, 2, -1}));
    for (int i = 0; i < 3; ++i) {
        EXPECT_FALSE(events.Terminates()[i].Finished());
        EXPECT_FALSE(events.Terminates()[i].Failed()) << events.Terminates()[i].Message;
        EXPECT_EQ(Component.TaskResult(i).End, teStopped);
    }
    EXPECT_EQ(events.ProgressCount(1) + events.ProgressCount(2), 0);
    // Also while the ended tasks stay in the list (a window keeps them for a later run).
    EXPECT_FALSE(fs::exists(Folder / "b.mp3")) << "a task that never ran leaves no file";
    EXPECT_FALSE(fs::exists(Folder / "c.mp3"));
    Component.ClearTaskList();
    // The run encodes its sound in pieces: the pieces handed to workers before the stop are
    // finished, so the output holds the sound read up to it.
    const double seconds = ProbeDuration(Folder / "long.mp3");
    EXPECT_GT(seconds, 0.0);
    EXPECT_LT(seconds, 7000.0);
    EXPECT_EQ(events.Terminates()[0].Message, "");
}

// A paused run resumes to its end; a paused run stops when asked.
TEST_F(ComponentRun, PauseResumeAndStopWhilePaused) {
    TEventRecorder events(Component);
    Component.SetProgressInterval(100);
    AddTask("bursts_30s.mp4", "a.mp3");
    // The second task is paused in its loudness measuring pass (its conversion then reads at
    // the input's pace: the stop surely comes before its end).
    AddTask(LongFixture, "long.mp3", true, -16.0);
    Component.StartTasks(1);
    ASSERT_TRUE(events.WaitForProgress(0));
    Component.PauseTasks();
    Component.ResumeTasks();
    ASSERT_TRUE(events.WaitForProgress(1));
    Component.PauseTasks();
    // The worker holds at its next packet; a busy machine may take a while to get it there.
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(120);
    WaitServingMainThread(
        [&] { return Component.Task(1)->Paused() || std::chrono::steady_clock::now() > until; });
    EXPECT_TRUE(Component.Task(1)->Paused());
    Component.StopTasks(true);
    ASSERT_TRUE(events.WaitForRunEnd());
    ASSERT_EQ(events.TerminateIndexes(), (std::vector<int>{0, 1, -1}));
    EXPECT_TRUE(events.Terminates()[0].Finished());
    EXPECT_FALSE(events.Terminates()[1].Finished());
    EXPECT_NEAR(ProbeDuration(Folder / "a.mp3"), 30.0, 0.2);
}

// Deleting task 0 renumbers the others: they report 0 and 1.
TEST_F(ComponentRun, DeleteTaskRenumbers) {
    TEventRecorder events(Component);
    AddTask("tone_mono.wav", "a.mp3");
    AddTask("mono_8k.wav", "b.mp3");
    AddTask("tone_1k_stereo.wav", "c.mp3");
    Component.DeleteTask(0);
    ASSERT_EQ(Component.TaskCount(), 2);
    EXPECT_EQ(Component.Task(0)->Index, 0);
    EXPECT_EQ(Component.Task(0)->OutputOptions.FileName, Folder / "b.mp3");
    EXPECT_EQ(Component.Task(1)->Index, 1);
    Component.StartTasks(0);
    EXPECT_EQ(events.TerminateIndexes(), (std::vector<int>{0, 1, -1}));
    EXPECT_FALSE(fs::exists(Folder / "a.mp3"));
    EXPECT_TRUE(fs::exists(Folder / "c.mp3"));
}

// A second start converts only the task added since the first run; with nothing left to run, a
// start fires nothing.
TEST_F(ComponentRun, ASecondStartConvertsOnlyTheNewTask) {
    TEventRecorder events(Component);
    AddTask("tone_mono.wav", "a.mp3");
    Component.StartTasks(1);
    ASSERT_TRUE(events.WaitForRunEnd());
    const auto firstOutput = fs::last_write_time(Folder / "a.mp3");
    AddTask("mono_8k.wav", "b.mp3");
    Component.StartTasks(0);
    EXPECT_EQ(events.TerminateIndexes(), (std::vector<int>{0, -1, 1, -1}));
    EXPECT_TRUE(events.Terminates()[2].Finished());
    EXPECT_EQ(fs::last_write_time(Folder / "a.mp3"), firstOutput);
    EXPECT_GT(ProbeDuration(Folder / "b.mp3"), 1.5);
    Component.StartTasks(1);
    Linger(100);
    EXPECT_EQ(events.TerminateIndexes().size(), 4u);
}

// A task without an output reports its failure; the run goes on with the next task.
TEST_F(ComponentRun, TaskThatCannotStartReportsAndTheRunGoesOn) {
    TEventRecorder events(Component);
    AddTask("tone_mono.wav", "a.mp3", false);
    AddTask("tone_mono.wav", "b.mp3");
    Component.StartTasks(1);
    ASSERT_TRUE(events.WaitForRunEnd());
    ASSERT_EQ(events.TerminateIndexes(), (std::vector<int>{0, 1, -1}));
    EXPECT_TRUE(events.Terminates()[0].Failed());
    EXPECT_EQ(events.Terminates()[0].Message, "At least one output file must be specified");
    EXPECT_TRUE(events.Terminates()[1].Finished());
    EXPECT_TRUE(events.Terminates()[2].Finished());
    EXPECT_FALSE(events.Terminates()[2].Failed());
}

// A run that takes tasks as it goes: it outlives its tasks until told that no more come; tasks
// joined later run in order (one that cannot start included), the released first task keeping
// its index; a stop ends a run waiting for more at once.
TEST_F(ComponentRun, TasksJoinARunAsItGoes) {
    TEventRecorder events(Component);
    AddTask("mono_8k.wav", "a.mp3");
    Component.StartTasks(1, true);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    WaitServingMainThread([&] {
        return !events.Terminates().empty() || std::chrono::steady_clock::now() > deadline;
    });
    Linger(200);
    ASSERT_EQ(events.TerminateIndexes(), (std::vector<int>{0}));
    Component.ReleaseEndedTask(0);
    EXPECT_EQ(Component.Task(0), nullptr);
    AddTask("mono_8k.wav", "b.mp3", false);
    AddTask("mono_8k.wav", "c.mp3");
    Component.JoinAddedTasks(true);
    Component.JoinAddedTasks(false);
    ASSERT_TRUE(events.WaitForRunEnd());
    ASSERT_EQ(events.TerminateIndexes(), (std::vector<int>{0, 1, 2, -1}));
    EXPECT_TRUE(events.Terminates()[1].Failed());
    EXPECT_TRUE(events.Terminates()[2].Finished());
    EXPECT_NEAR(ProbeDuration(Folder / "c.mp3"), 2.0, 0.25);

    Component.ClearTaskList();
    TEventRecorder empty(Component);
    Component.StartTasks(2, true);
    Component.StopTasks(false);
    ASSERT_TRUE(empty.WaitForRunEnd());
    EXPECT_EQ(empty.TerminateIndexes(), (std::vector<int>{-1}));

    // The last task to join cannot start: its end is the run's end, reported once.
    Component.ClearTaskList();
    TEventRecorder refused(Component);
    Component.StartTasks(1, true);
    AddTask("mono_8k.wav", "d.mp3", false);
    Component.JoinAddedTasks(false);
    ASSERT_TRUE(refused.WaitForRunEnd());
    Linger(100);
    EXPECT_EQ(refused.TerminateIndexes(), (std::vector<int>{0, -1}));
}

// A run fed as the command line feeds it (each task told how many files follow) with 2 workers:
// the first task's sound gets the cores shared among min(2, files) tasks, all of them for one
// file.
TEST_F(ComponentRun, FirstTaskGetsTheCoresOfTheTasksThatCanRun) {
    const int cores = UsableCores();
    for (const int files : {1, 2, 3}) {
        SCOPED_TRACE(std::to_string(files) + " files");
        Component.ClearTaskList();
        TEventRecorder events(Component);
        Component.StartTasks(2, true);
        for (int file = 0; file < files; ++file) {
            Component.AnnounceTasks(files - file - 1);
            AddTask("mono_8k.wav", std::to_string(files) + "_" + std::to_string(file) + ".mp3");
            Component.JoinAddedTasks(true);
        }
        Component.JoinAddedTasks(false);
        ASSERT_TRUE(events.WaitForRunEnd());
        EXPECT_EQ(Component.Task(0)->Options().SplitPieces,
                  std::max(1, cores / std::min(2, files)));
    }
}

// The progress interval's floor of 100 ms reaches the engines in microseconds.
TEST_F(ComponentRun, ProgressIntervalFloor) {
    EXPECT_EQ(Component.GetProgressInterval(), 500);
    Component.SetProgressInterval(50);
    EXPECT_EQ(Component.GetProgressInterval(), 100);
    Component.SetProgressInterval(101);
    EXPECT_EQ(Component.GetProgressInterval(), 101);
    TEventRecorder events(Component);
    AddTask("tone_mono.wav", "a.mp3");
    Component.StartTasks(0);
    EXPECT_EQ(Component.Task(0)->ProgressIntervalUs, 101000);
}

// Preview flags reach the tasks in the list and the ones created later.
TEST_F(ComponentRun, PreviewFlagsFollowTheProperties) {
    AddTask("tone_mono.wav", "a.mp3");
    Component.SetPreview(true);
    EXPECT_EQ(Component.Task(0)->PreviewFlags & 3, 1);
    AddTask("tone_mono.wav", "b.mp3");
    EXPECT_EQ(Component.Task(1)->PreviewFlags & 3, 1);
    Component.SetPreviewBitmap(true);
    Component.SetPreview(false);
    EXPECT_EQ(Component.Task(0)->PreviewFlags & 3, 2);
    EXPECT_EQ(Component.Task(1)->PreviewFlags & 3, 2);
}

// Starting and stopping at once, over and over, always ends with every task reported and -1;
// also when the run takes tasks as it goes and frees the ones that ended.
TEST_F(ComponentRun, StartStopStressNeverHangs) {
    for (int round = 0; round < 8; ++round) {
        SCOPED_TRACE(round);
        TEventRecorder events(Component);
        const bool fed = round >= 4;
        auto add = [&](int i) {
            AddTask("tone_mono.wav",
                    "r" + std::to_string(round) + "_" + std::to_string(i) + ".mp3");
        };
        for (int i = 0; i < (fed ? 1 : 3); ++i)
            add(i);
        Component.StartTasks(2, fed);
        if (fed) {
            add(1);
            add(2);
            Component.JoinAddedTasks(true);
            Component.ReleaseEndedTask(0);
        }
        Component.StopTasks(round % 2 == 0);
        ASSERT_TRUE(events.WaitForRunEnd(60));
        Linger(20);
        EXPECT_EQ(events.TerminateIndexes().size(), 4u);
        EXPECT_EQ(events.OverlappingTerminates(), 0);
        Component.ClearTaskList();
    }
}

// A progress handler that hands work to the main thread (as a window may) holds the event lock
// while it waits; stopping from the main thread at that moment serves it instead of locking up.
TEST_F(ComponentRun, StopWhileAProgressHandlerWaitsForTheMainThread) {
    AddTask(LongFixture, "long.mp3");
    std::atomic<bool> handingOver{false};
    std::atomic<bool> runEnded{false};
    Component.OnProgress = [&](int, const TProgressInfo&) {
        handingOver = true;
        Synchronize([] {});
    };
    Component.OnTerminate = [&](int index, TTaskEnd, const std::string&) {
        if (index == -1)
            runEnded = true;
    };
    Component.SetProgressInterval(100);
    Component.StartTasks(1);
    while (!handingOver) // deliberately not serving: the handler is now waiting for us
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    Component.StopTasks(true);
    WaitServingMainThread([&] { return runEnded.load(); });
    EXPECT_FALSE(Component.Task(0)->Finished);
}

// With a thread count of 0 a waiting stop from an OnProgress or OnTerminate handler (which runs
// inside the event lock on the calling thread) returns without the wait: the run ends, every
// task reports its end once, the waiting ones without converting.
TEST_F(ComponentRun, WaitingStopFromAHandlerDoesNotWaitOnItself) {
    for (const bool fromProgress : {true, false}) {
        SCOPED_TRACE(fromProgress ? "from OnProgress" : "from OnTerminate");
        TEventRecorder events(Component);
        const TTerminateEvent record = Component.OnTerminate;
        std::atomic<bool> stopped{false};
        auto stop = [&] {
            if (!stopped.exchange(true))
                Component.StopTasks(true);
        };
        if (fromProgress)
            Component.OnProgress = [&](int, const TProgressInfo&) { stop(); };
        Component.OnTerminate = [&](int index, TTaskEnd end, const std::string& message) {
            record(index, end, message);
            if (!fromProgress && index == 0)
                stop();
        };
        Component.SetProgressInterval(100);
        // Outputs are created exclusively, so each round writes names of its own.
        const std::string round = fromProgress ? "p" : "t";
        AddTask(fromProgress ? LongFixture : "mono_8k.wav", round + "a.mp3");
        AddTask("tone_mono.wav", round + "b.mp3");
        AddTask("tone_mono.wav", round + "c.mp3");
        Component.StartTasks(0);
        ASSERT_TRUE(events.WaitForRunEnd(60));
        std::vector<int> indexes = events.TerminateIndexes();
        std::sort(indexes.begin(), indexes.end());
        EXPECT_EQ(indexes, (std::vector<int>{-1, 0, 1, 2}));
        EXPECT_FALSE(Component.Task(1)->Finished);
        Component.ClearTaskList();
        EXPECT_FALSE(fs::exists(Folder / (round + "c.mp3")))
            << "a task that never ran leaves no file";
    }
}

// Freeing the component while a task converts stops and waits for it.
TEST_F(ComponentRun, DestroyingWhileRunning) {
    auto component = std::make_unique<TFFmpegComponent>();
    TInputOptions input;
    input.ExtraOptions = "re=1";
    ASSERT_EQ(component->AddTaskInput(Fixture(LongFixture), &input), 0);
    TOutputOptions output;
    ASSERT_TRUE(component->SetTaskOutput(0, Folder / "long.mp3", &output));
    std::atomic<bool> progressed{false};
    component->OnProgress = [&](int, const TProgressInfo&) { progressed = true; };
    component->SetProgressInterval(100);
    component->StartTasks(1);
    WaitServingMainThread([&] { return progressed.load(); });
    component.reset();
    EXPECT_GT(ProbeDuration(Folder / "long.mp3"), 0.0);
}

// Two batches choosing one name together: the first to start creates it, the second takes the
// next free number and says so in its start event; both outputs are whole.
TEST_F(ComponentRun, TwoBatchesRacingForOneNameKeepBothOutputs) {
    TFFmpegComponent other;
    TEventRecorder events(Component), otherEvents(other);
    TOutputOptions options;
    options.NumberedName = true;
    const fs::path chosen = Folder / "clip_(new).mp3";
    for (TFFmpegComponent* batch : {&Component, &other}) {
        const int index = batch->AddTaskInput(Fixture("tone_1k_stereo.wav"));
        ASSERT_TRUE(batch->SetTaskOutput(index, chosen, &options)) << batch->LastErrorText();
    }
    EXPECT_EQ(other.Task(0)->OutputOptions.FileName, chosen) << "nothing is taken before a start";
    Component.StartTasks(1);
    other.StartTasks(1);
    ASSERT_TRUE(events.WaitForRunEnd());
    ASSERT_TRUE(otherEvents.WaitForRunEnd());
    const std::vector<fs::path> taken = {events.StartedOutputs().at(0),
                                         otherEvents.StartedOutputs().at(0)};
    EXPECT_NE(taken[0], taken[1]);
    for (const fs::path& output : {chosen, Folder / "clip_(new_1).mp3"}) {
        EXPECT_NE(std::find(taken.begin(), taken.end(), output), taken.end()) << output;
        EXPECT_NEAR(ProbeDuration(output), 4.0, 0.15) << output;
    }
}

// The first task of a run gets the cores the tasks running at once leave it, as far as the
// machine's other work leaves them idle; none when the sound is not to be encoded in pieces.
TEST_F(ComponentRun, PiecesFollowTheThreadBudget) {
    const int cores = UsableCores();
    const struct {
        int Threads, Tasks;
        bool Split;
        int Pieces;
        bool MoreToCome = false;
        int OtherRunning = 0;
    } cases[] = {{0, 2, true, cores},
                 {1, 2, true, cores},
                 {2, 1, true, cores},
                 {2, 2, true, std::max(1, cores / 2)},
                 {2, 1, true, std::max(1, cores / 2), true},
                 {1, 1, false, 0},
                 // Every core busy: one encoder, on the calling thread or a worker.
                 {0, 1, true, 1, false, cores},
                 {1, 1, true, 1, false, 4 * cores},
                 // All but one busy: a piece on the idle core and one beside the busy ones.
                 {1, 1, true, std::min(cores, 2), false, cores - 1}};
    int outputs = 0;
    for (const auto& c : cases) {
        Component.ClearTaskList();
        TEventRecorder events(Component);
        for (int i = 0; i < c.Tasks; ++i)
            AddTask("tone_mono.wav", std::to_string(outputs++) + ".mp3");
        Component.SetSplitEncoding(c.Split);
        Component.SetRunQueueReading([running = c.OtherRunning] { return running; });
        Component.StartTasks(c.Threads, c.MoreToCome);
        Component.JoinAddedTasks(false);
        ASSERT_TRUE(events.WaitForRunEnd());
        EXPECT_EQ(Component.Task(0)->Options().SplitPieces, c.Pieces)
            << c.Threads << " threads, " << c.Tasks << " tasks, more to come " << c.MoreToCome
            << ", " << c.OtherRunning << " other threads running";
    }
}
