// soundpick-cli's library outputs: the output folder's record of what the run made.
#include "cli/BatchRun.h"

// A task's output goes into its folder's record: a finished one, or the start of one a stop
// left (which the next --update replaces).
void TBatchRun::RecordEnded(int index, const TCliTask& task, bool outputExists) {
    const auto pending = PendingRecords.find(static_cast<std::size_t>(index));
    if (pending == PendingRecords.end())
        return;
    TOutputRecord record = std::move(pending->second);
    PendingRecords.erase(pending);
    if (!outputExists)
        return;
    if (const std::string error =
            Planner.RecordEnded(std::move(record), task.Output, task.State == tsFinished);
        !error.empty()) {
        ManifestFailed = true;
        Reporter.Warning(error);
    }
}
