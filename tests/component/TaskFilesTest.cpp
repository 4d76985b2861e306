// Tasks open their files when they start: adding a task creates nothing and holds nothing open;
// the start creates the output under the name free then and says which; an output folder gone
// or refusing files fails the add or the start with the reason; a task whose output was tidied
// away before its start is no false "Done"; stopped and failed tasks run again.
#include "component/ComponentHarness.h"
#include "component/FFmpegTask.h"
#include "component/OutputAssembly.h"
#include "support/TestLibs.h"
#include "support/TestMedia.h"

#include <gtest/gtest.h>

#include <fstream>

namespace fs = std::filesystem;

namespace {

int OpenDescriptors() {
    return static_cast<int>(std::distance(fs::directory_iterator("/proc/self/fd"), {}));
}

class TaskFiles : public ::testing::Test {
protected:
    void SetUp() override { EnsureLibsLoaded(); }

    // Adds a fixture as the window does, its mp3 output in a folder.
    TAddedTask Add(const std::string& fixture, const fs::path& folder) {
        TOutputChoices choices;
        choices.InputFileName = Fixture(fixture);
        choices.OutputFolder = folder;
        return Component.AddTask(choices);
    }
    // Starts the waiting tasks one at a time and waits for the run's end.
    void Run(TEventRecorder& events) {
        Component.StartTasks(1);
        ASSERT_TRUE(events.WaitForRunEnd());
    }

    TScratchFolder Folder;
    TFFmpegComponent Component;
};

} // namespace

// Added tasks hold no file and create none; each start creates its output under the name free
// then (the next number when the chosen one was taken meanwhile) and reports it.
TEST_F(TaskFiles, AddingCreatesNothingAndTheStartTakesAFreeName) {
    Component.DeleteTask(Add("tone_mono.wav", Folder.Path()).Index); // what loads once is loaded
    const int before = OpenDescriptors();
    for (int i = 0; i < 3; ++i) {
        const TAddedTask added = Add("tone_mono.wav", Folder.Path());
        ASSERT_EQ(added.Index, i) << added.ErrorText;
        EXPECT_EQ(added.OutputFileName, Folder / "tone_mono_(new).mp3");
    }
    EXPECT_EQ(OpenDescriptors(), before) << "no input or output held open";
    EXPECT_TRUE(fs::is_empty(Folder.Path())) << "no output made before the start";

    TEventRecorder events(Component);
    Run(events);
    const std::vector<fs::path> names = {Folder / "tone_mono_(new).mp3",
                                         Folder / "tone_mono_(new_1).mp3",
                                         Folder / "tone_mono_(new_2).mp3"};
    EXPECT_EQ(events.StartedOutputs(), names);
    for (int i = 0; i < 3; ++i) {
        EXPECT_TRUE(events.Terminates()[i].Finished()) << events.Terminates()[i].Message;
        EXPECT_EQ(Component.Task(i)->OutputOptions.FileName, names[i]);
        EXPECT_NEAR(ProbeDuration(names[i]), 3.0, 0.1);
    }
}

// An output folder that cannot take the output fails the add with the reason, and creates
// nothing.
TEST_F(TaskFiles, AddRefusesAFolderThatCannotTakeTheOutput) {
    std::ofstream(Folder / "file") << "x";
    const struct {
        fs::path OutputFolder;
        const char* Reason;
    } cases[] = {{Folder / "missing", "No such file or directory"},
                 {Folder / "file", "Not a directory"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.OutputFolder.string());
        const TAddedTask added = Add("tone_mono.wav", c.OutputFolder);
        EXPECT_EQ(added.Index, -1);
        EXPECT_EQ(added.ErrorText, "***Cannot do convert, error: Could not open '" +
                                       (c.OutputFolder / "tone_mono_(new).mp3").string() +
                                       "': " + c.Reason);
    }
    EXPECT_EQ(Component.TaskCount(), 0);
    EXPECT_FALSE(fs::exists(Folder / "missing"));
}

// The output folder removed between the add and the start: the task fails with the reason and
// leaves nothing; made again, the failed task runs again to its end. A finished task does not.
TEST_F(TaskFiles, FolderRemovedBeforeTheStartFailsAndRunsAgainOnceItIsBack) {
    const fs::path folder = Folder / "out";
    fs::create_directory(folder);
    const TAddedTask added = Add("tone_mono.wav", folder);
    ASSERT_EQ(added.Index, 0) << added.ErrorText;
    fs::remove_all(folder);

    TEventRecorder events(Component);
    Run(events);
    ASSERT_EQ(events.TerminateIndexes(), (std::vector<int>{0, -1}));
    const TTerminateRecord failed = events.Terminates()[0];
    EXPECT_TRUE(failed.Failed());
    EXPECT_EQ(failed.Message,
              "Could not open '" + added.OutputFileName.string() + "': No such file or directory");
    EXPECT_FALSE(fs::exists(folder));

    fs::create_directory(folder);
    EXPECT_TRUE(Component.RunAgain(0));
    TEventRecorder again(Component);
    Run(again);
    ASSERT_EQ(again.TerminateIndexes(), (std::vector<int>{0, -1}));
    EXPECT_TRUE(again.Terminates()[0].Finished()) << again.Terminates()[0].Message;
    EXPECT_NEAR(ProbeDuration(added.OutputFileName), 3.0, 0.1);
    EXPECT_FALSE(Component.RunAgain(0)) << "a finished task stays done";
}

// A user tidying the folder between the add and the start deletes whatever is at the output's
// name: the task still ends "Done" only with its whole output at that name.
TEST_F(TaskFiles, OutputDeletedBetweenAddAndStartIsNoFalseDone) {
    const TAddedTask added = Add("tone_mono.wav", Folder.Path());
    ASSERT_EQ(added.Index, 0) << added.ErrorText;
    std::error_code ignored;
    fs::remove(added.OutputFileName, ignored);
    TEventRecorder events(Component);
    Run(events);
    ASSERT_EQ(events.TerminateIndexes(), (std::vector<int>{0, -1}));
    ASSERT_TRUE(events.Terminates()[0].Finished()) << events.Terminates()[0].Message;
    ASSERT_TRUE(fs::exists(added.OutputFileName));
    EXPECT_NEAR(ProbeDuration(added.OutputFileName), 3.0, 0.1);
    EXPECT_GT(DecodeAudio(added.OutputFileName).Rms(0, 0.5, 2.5), 0.05);
}
