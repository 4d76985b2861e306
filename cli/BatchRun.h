// One run of soundpick-cli over its files: adds each file as a task with the shared option
// assembly, runs the tasks on worker threads and follows their events on the main thread.
// Files are probed and named up front, but become component tasks (with their engines) only a
// few per job ahead of the run, so a batch of any length holds the memory of a few tasks per
// job; a task opens its files when it starts.
#ifndef SOUNDPICK_CLI_BATCHRUN_H
#define SOUNDPICK_CLI_BATCHRUN_H

#include "cli/CliOptions.h"
#include "cli/CliReporter.h"
#include "component/FFmpegComponent.h"
#include "component/OutputAssembly.h"

#include <condition_variable>
#include <deque>
#include <mutex>
#include <set>
#include <string>
#include <vector>

class TBatchRun {
public:
    TBatchRun(const TCliOptions& options, TFFmpegComponent& component, TCliReporter& reporter);
    ~TBatchRun();

    // Prints the media information of every file; false when any could not be read.
    bool PrintInfo();
    // Adds every file to the list; the ones that cannot be read are reported and counted as
    // skipped.
    void AddFiles();
    // Runs the added tasks to their end; an interrupt request stops them. True when every file
    // was added and every task finished.
    bool Run();

    const std::vector<TCliTask>& Tasks() const { return CliTasks; }

private:
    // An event of a worker or delivery thread, handled on the main thread.
    struct TEvent {
        int Index = 0;     // in CliTasks; -1 after the last task's end
        int TaskIndex = 0; // in the component's list
        bool Terminate = false;
        bool Start = false;
        std::filesystem::path Output;  // a start's output name
        std::filesystem::path Created; // the file a start created; empty when none
        bool Finished = false, Exception = false;
        std::string Message;
        std::string Warning;
        TProgressInfo Progress;
    };

    bool AddFile(const std::string& file);
    TOutputChoices ChoicesFor(const std::filesystem::path& input, const TProbedInput& probed) const;
    std::vector<std::filesystem::path>
    ClaimedNamesLike(const std::filesystem::path& unclaimed) const;
    // Makes component tasks of waiting files until a few per job are waiting or running.
    void FeedTasks();
    bool MakeTask(int index);
    void PostStart(int taskIndex, const std::filesystem::path& output);
    // Ends a file that never became a task, as the component reports a task's end.
    void EndUnmade(int index, TTaskState state, const std::string& message);
    int CliIndex(int taskIndex) const; // call inside EventsLock
    void Post(TEvent event);
    void HandleEvent(const TEvent& event);
    void HandleProgress(const TEvent& event);
    void HandleStart(const TEvent& event);
    void HandleTerminate(const TEvent& event);

    const TCliOptions& Options;
    TFFmpegComponent& Component;
    TCliReporter& Reporter;
    std::vector<TCliTask> CliTasks;
    // By CliTasks index: the file its run created (a new output or the part file of a replacement),
    // the only one a second Ctrl-C may remove; empty when it created none.
    std::vector<std::filesystem::path> CreatedFiles;
    std::set<std::string> ClaimedOutputs; // the outputs of CliTasks
    // By CliTasks index: what a file waiting to become a component task needs besides its
    // TCliTask.
    std::vector<TProbedInput> ProbedFiles;
    std::size_t NextToMake = 0;      // the first file not yet made a task
    std::vector<int> CliIndexOfTask; // by component index; guarded by EventsLock
    int TasksEnded = 0;              // component tasks whose end was handled
    bool Stopping = false;
    int Skipped = 0;
    bool AllEnded = false;
    bool Changed = false; // the live lines need a redraw

    std::mutex EventsLock; // guards Events and Woken
    std::condition_variable EventsSignal;
    std::deque<TEvent> Events;
    bool Woken = false;
};

#endif
