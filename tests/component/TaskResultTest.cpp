// The owned result of each task: its end state, texts, output names and loudness figures, read
// after one run over tasks that finish, finish with a warning, measure loudness and fail.
#include "component/ComponentHarness.h"
#include "support/TestLibs.h"
#include "support/TestMedia.h"

#include <gtest/gtest.h>

#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace {

struct TResultCase {
    const char* Fixture;
    const char* Output; // nullptr: no output, so that the task cannot start
    std::optional<double> LoudnessLufs;
    TTaskEnd End;
    const char* WarningSummary;
};

} // namespace

TEST(TaskResult, EndStatesTextsAndFigures) {
    EnsureLibsLoaded();
    const TResultCase cases[] = {
        {"tone_mono.wav", "plain.mp3", {}, teFinished, ""},
        {"truncated_30.mp3", "cut.wav", {}, teFinishedWithWarning, "ended at 0:01 of 0:04"},
        {"tone_mono.wav", "loud.mp3", -16.0, teFinished, ""},
        {"tone_mono.wav", nullptr, {}, teFailed, ""},
    };
    TScratchFolder folder;
    TFFmpegComponent component;
    TEventRecorder events(component);
    for (const TResultCase& c : cases) {
        const int index = component.AddTaskInput(Fixture(c.Fixture));
        ASSERT_GE(index, 0) << component.LastErrorText();
        if (!c.Output)
            continue;
        TOutputOptions options;
        options.NoSubtitle = true;
        options.LoudnessTargetLufs = c.LoudnessLufs;
        ASSERT_TRUE(component.SetTaskOutput(index, folder / c.Output, &options));
    }
    EXPECT_EQ(component.TaskResult(0).End, teNotEnded) << "not run yet";
    EXPECT_EQ(component.TaskResult(99).End, teNotEnded) << "no such task";
    // The file a run created is known from its start on, while the task holds it.
    std::mutex writtenLock;
    std::vector<TPathFileName> written(std::size(cases));
    component.OnStart = [&](int index, const TPathFileName&) {
        const TPathFileName name = component.TaskResult(index).WrittenFileName;
        std::lock_guard<std::mutex> guard(writtenLock);
        written[index] = name;
    };
    component.StartTasks(2);
    ASSERT_TRUE(events.WaitForRunEnd());

    for (int i = 0; i < static_cast<int>(std::size(cases)); ++i) {
        const TResultCase& c = cases[i];
        SCOPED_TRACE(std::string(c.Fixture) + " -> " + (c.Output ? c.Output : "(none)"));
        const TTaskResult result = component.TaskResult(i);
        EXPECT_EQ(result.End, c.End);
        EXPECT_EQ(result.WarningSummary, c.WarningSummary);
        EXPECT_EQ(result.WarningText.empty(), c.End != teFinishedWithWarning) << result.WarningText;
        EXPECT_EQ(result.ErrorText.empty(), c.End != teFailed);
        EXPECT_EQ(result.Loudness.has_value(), c.LoudnessLufs.has_value());
        if (!c.Output) {
            EXPECT_EQ(result.ErrorText, "At least one output file must be specified");
            EXPECT_TRUE(written[i].empty());
            continue;
        }
        EXPECT_EQ(result.OutputFileName, folder / c.Output);
        EXPECT_EQ(written[i], folder / c.Output);
        EXPECT_TRUE(result.WrittenFileName.empty()) << "closed at the end";
        EXPECT_GT(ProbeDuration(folder / c.Output), 0.0);
    }
    const TTaskResult loud = component.TaskResult(2);
    ASSERT_TRUE(loud.Loudness);
    EXPECT_NEAR(loud.Loudness->OutputLufs, -16.0, 1.0);
    EXPECT_NEAR(loud.Loudness->OutputLufs - loud.Loudness->InputLufs, loud.Loudness->GainDb, 1.0);
    EXPECT_EQ(loud.Loudness->SummaryText.rfind("Loudness: input ", 0), 0u)
        << loud.Loudness->SummaryText;
    // A released task has no result left to give.
    component.ReleaseEndedTask(0);
    EXPECT_EQ(component.TaskResult(0).End, teNotEnded);
}
