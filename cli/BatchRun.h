// One run of soundpick-cli over its files: adds each file as a task with the shared option
// assembly, runs the tasks on worker threads and follows their events on the main thread.
#ifndef SOUNDPICK_CLI_BATCHRUN_H
#define SOUNDPICK_CLI_BATCHRUN_H

#include "cli/CliOptions.h"
#include "cli/CliReporter.h"
#include "component/FFmpegComponent.h"
#include "component/OutputAssembly.h"

#include <condition_variable>
#include <deque>
#include <mutex>
#include <string>
#include <vector>

class TBatchRun {
public:
    TBatchRun(const TCliOptions& options, TFFmpegComponent& component, TCliReporter& reporter);
    ~TBatchRun();

    // Prints the media information of every file; false when any could not be read.
    bool PrintInfo();
    // Adds every file; the ones that cannot be added are reported and counted as skipped.
    void AddFiles();
    // Runs the added tasks to their end; an interrupt request stops them. True when every file
    // was added and every task finished.
    bool Run();

    const std::vector<TCliTask>& Tasks() const { return CliTasks; }

private:
    // An event of a worker or delivery thread, handled on the main thread.
    struct TEvent {
        int Index = 0;
        bool Terminate = false;
        bool Finished = false, Exception = false;
        std::string Message;
        std::string Warning;
        int CurrentMs = 0, TotalMs = 0;
        int64_t SizeBytes = 0;
    };

    bool AddFile(const std::string& file);
    TOutputChoices ChoicesFor(const std::filesystem::path& input, int64_t durationUs) const;
    void Post(TEvent event);
    void HandleEvent(const TEvent& event);
    void HandleProgress(const TEvent& event);
    void HandleTerminate(const TEvent& event);

    const TCliOptions& Options;
    TFFmpegComponent& Component;
    TCliReporter& Reporter;
    std::vector<TCliTask> CliTasks;
    // By task: the file its run created (a new output or the part file of a replacement), the
    // only one a second Ctrl-C may remove; empty when it created none.
    std::vector<std::filesystem::path> CreatedFiles;
    int Skipped = 0;
    bool AllEnded = false;
    bool Changed = false; // the live lines need a redraw

    std::mutex EventsLock; // guards Events and Woken
    std::condition_variable EventsSignal;
    std::deque<TEvent> Events;
    bool Woken = false;
};

#endif
