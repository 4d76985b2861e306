// soundpick-cli's mirror of a library: --delete removes the outputs of inputs that are gone, and
// --dry-run tells what a run would do without doing it.
#include "cli/BatchRun.h"

#include "cli/Interrupt.h"
#include "component/OutputMirror.h"

namespace fs = std::filesystem;

namespace {

constexpr const char* Gone = "the input is gone";

} // namespace

// Every input is planned as the run would (names, --update's decisions, collisions) but none
// becomes a task, and nothing is recorded, copied or made.
bool TBatchRun::ListPlan() {
    while (FoldersLeft && InterruptRequests() == 0)
        AddFromFolders();
    for (std::size_t index = 0; index < CliTasks.size(); ++index) {
        const TCliTask& task = CliTasks[index];
        std::error_code error;
        const bool replaces = fs::exists(fs::symlink_status(task.Output, error));
        const auto reason = PlanReasons.find(index);
        std::string why = reason != PlanReasons.end() ? reason->second
                          : replaces                  ? "--overwrite"
                                                      : "no output yet";
        if (!task.Piece.empty())
            why = "piece " + task.Piece + ", " + why;
        Reporter.Planned(replaces ? "replace" : "convert", task.Input, task.Output, why);
        Report.Line(task.Input, task.Output, replaces ? "would-replace" : "would-convert", why, 0);
    }
    if (InterruptRequests() == 0)
        DeleteGoneOutputs();
    Reporter.PassedOver(WithoutSound, UpToDate, UnusedCueSheets);
    return Skipped == 0 && !Report.Failed();
}

void TBatchRun::DeleteGoneOutputs() {
    if (!Options.Delete)
        return;
    // Read again: runs over other shares may have recorded outputs since this one began.
    std::error_code error;
    TOutputManifest manifest(fs::absolute(Options.OutputFolder, error).lexically_normal());
    if (const std::string loadError = manifest.Load(); !loadError.empty()) {
        ManifestFailed = true;
        Reporter.Warning("nothing removed: the record of the output folder cannot be read: " +
                         loadError);
        return;
    }
    std::vector<std::pair<TManifestEntry, const char*>> removals; // with why
    std::vector<fs::path> folders;
    for (const std::string& file : Options.Files)
        if (fs::path folder = fs::absolute(file, error).lexically_normal();
            !error && fs::is_directory(folder, error))
            folders.push_back(std::move(folder));
    const TShard shard = ParseShard(Options.Shard).value_or(TShard());
    for (TManifestEntry& entry : GoneInputOutputs(manifest, folders, shard))
        removals.emplace_back(std::move(entry), Gone);
    // An input whose conversion did not finish keeps what it had.
    for (const fs::path& input : UnsettledInputs)
        CurrentOutputs.erase(input);
    for (TManifestEntry& entry : FormerOutputs(manifest, CurrentOutputs))
        removals.emplace_back(std::move(entry), "it is no longer the input's output");
    for (const auto& [entry, whyText] : removals) {
        const std::string why = whyText;
        const fs::path output = manifest.Folder() / entry.Output;
        if (Options.DryRun) {
            const std::string refusal = RemovalRefusal(entry, output);
            Reporter.Planned(refusal.empty() ? "delete" : "keep", entry.Input, output,
                             refusal.empty() ? why : why + ", but " + refusal);
            if (refusal.empty())
                Report.Line(entry.Input, output, "would-delete", why, 0);
            continue;
        }
        if (const std::string refusal = RemoveGoneOutput(manifest, entry); !refusal.empty()) {
            Reporter.Warning(output.string() + " is kept although " + why + ": " + refusal);
            continue;
        }
        Reporter.Removed(entry.Input, output,
                         why == Gone ? "its input " + entry.Input + " is gone"
                                     : "it is no longer the output of " + entry.Input);
        Report.Line(entry.Input, output, "removed", why, 0);
    }
}
