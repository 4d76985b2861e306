// soundpick-cli's library outputs: which output each input gets, what --update does with it,
// and the output folder's record of what the run made.
#include "cli/BatchRun.h"

#include "component/UpdateCheck.h"
#include "engine/WrittenSound.h"
#include "probe/AVProbe.h"

#include <algorithm>

namespace fs = std::filesystem;

namespace {

bool Exists(const fs::path& file) {
    std::error_code error;
    return fs::exists(fs::symlink_status(file, error));
}

} // namespace

TOutputManifest* TBatchRun::ManifestFor(const TOutputChoices& choices) {
    if (!choices.OutputFolder)
        return nullptr;
    std::unique_ptr<TOutputManifest>& manifest = Manifests[*choices.OutputFolder];
    if (!manifest) {
        manifest = std::make_unique<TOutputManifest>(*choices.OutputFolder);
        if (const std::string error = manifest->Load(); !error.empty())
            Reporter.Warning("the record of the output folder cannot be read: " + error);
    }
    return manifest.get();
}

// Whether a file beside the input, with its name before the extension, gives an output of the
// same extension: a sibling the tree would give the same name.
bool TBatchRun::MakesOutputLike(const fs::path& sibling, const TOutputChoices& choices) {
    const TProbedInput probed = Component.ProbeInput(sibling);
    Component.Probe().CloseFile();
    if (!probed.ErrorText.empty() || !probed.HasSound)
        return false;
    TOutputChoices other = choices;
    other.InputAudioCodec = probed.AudioCodec;
    return OutputExtension(other) == OutputExtension(choices);
}

std::optional<fs::path> TBatchRun::PlanOutput(const TLibraryInput& found, TOutputChoices& choices) {
    const TWantedOutput wanted = WantedOutputFor(choices);
    const std::vector<fs::path> claimed = ClaimedNamesLike(wanted.Base);
    TOutputManifest* manifest = ManifestFor(choices);
    if (!manifest)
        return PlanOutputBeside(choices, claimed);
    const std::string input = choices.InputFileName.string();
    // Files of one folder that a tree names alike are told apart by their place among them.
    const bool tree = found.InFolder && choices.NameTemplateText.empty();
    const int rank = tree ? SameStemRank(found.Path,
                                         [&](const fs::path& sibling) {
                                             return MakesOutputLike(sibling, choices);
                                         })
                          : 0;
    bool adopted = false;
    const fs::path output = OwnOutputName(wanted, rank, [&](const fs::path& name) {
        if (std::find(claimed.begin(), claimed.end(), name) != claimed.end())
            return nhOtherInput;
        if (const TManifestEntry* entry = manifest->ForOutput(name))
            return entry->Input == input ? nhThisInput : nhOtherInput;
        if (!Exists(name))
            return nhNobody;
        if (Options.Overwrite)
            return nhThisInput;
        // An output of a run before the folder kept a record: the input's when complete and
        // newer than the input, as --update judged before.
        adopted = Options.Update && OutputStateFor(choices, name) == osUpToDate;
        return adopted ? nhThisInput : nhUnknown;
    });
    const std::string settings = OutputSettingsText(choices);
    TManifestEntry entry{manifest->Relative(output), input, settings, StampOf(found.Path), -1, {}};
    if (adopted) {
        RecordOutput(*manifest, entry, output);
        return PassOverUpToDate(choices, output);
    }
    const TManifestEntry* own = manifest->ForOutput(output);
    if (own && Options.Update) {
        const TUpdateDecision decision = DecideUpdate(*own, found.Path, output, settings);
        if (decision.Action == uaSkip) {
            if (StampOf(output) != own->OutputStamp)
                RecordOutput(*manifest, *own, output); // read back and still whole
            return PassOverUpToDate(choices, output);
        }
        choices.Overwrite = decision.Action == uaReplace;
        if (Options.DryRun)
            PlanReasons[CliTasks.size()] = decision.Reason;
    } else if (own && Exists(output) && !Options.Overwrite) {
        // Without --update an output is never replaced unasked: the next free name.
        return PlanFreeOutput(choices, *manifest, std::move(entry));
    }
    PendingRecords[CliTasks.size()] = {manifest, std::move(entry)};
    return output;
}

// Without --update or --overwrite, beside the outputs of earlier runs.
std::optional<fs::path> TBatchRun::PlanFreeOutput(TOutputChoices& choices,
                                                  TOutputManifest& manifest, TManifestEntry entry) {
    choices.ClaimedNames = ClaimedNamesLike(WantedOutputFor(choices).Base);
    const fs::path output = OutputFileNameFor(choices);
    choices.ClaimedNames.clear();
    entry.Output = manifest.Relative(output);
    PendingRecords[CliTasks.size()] = {&manifest, std::move(entry)};
    return output;
}

// Beside the input (no output folder): the "_(new)" names, and --update's check of the times
// and the length.
std::optional<fs::path> TBatchRun::PlanOutputBeside(TOutputChoices& choices,
                                                    const std::vector<fs::path>& claimed) {
    // With --update an output that is there but not done is replaced, never numbered beside it.
    if (Options.Update)
        choices.Overwrite = true;
    choices.ClaimedNames = claimed;
    const fs::path output = OutputFileNameFor(choices);
    choices.ClaimedNames.clear();
    if (!Options.Update)
        return output;
    const TOutputState state = OutputStateFor(choices, output);
    if (state == osUpToDate)
        return PassOverUpToDate(choices, output);
    if (Options.DryRun && state != osMissing)
        PlanReasons[CliTasks.size()] =
            state == osOutdated ? "the input changed" : "the output is cut short";
    return output;
}

std::optional<fs::path> TBatchRun::PassOverUpToDate(const TOutputChoices& choices,
                                                    const fs::path& output) {
    ++UpToDate;
    if (Options.DryRun)
        Reporter.Planned("skip", choices.InputFileName, output, "up to date");
    std::error_code error;
    OutputsByInput[fs::absolute(choices.InputFileName, error).lexically_normal()] = output;
    CopyImagesBeside(choices, output);
    Report.Line(choices.InputFileName, output, "up-to-date", "", 0);
    return std::nullopt;
}

void TBatchRun::RecordOutput(TOutputManifest& manifest, TManifestEntry entry,
                             const fs::path& output) {
    if (Options.DryRun)
        return;
    entry.Output = manifest.Relative(output);
    entry.OutputStamp = StampOf(output);
    entry.WrittenUs = ReadWrittenSound(output, 0, rbDecodeSound).LengthUs;
    if (const std::string error = manifest.Record(entry); !error.empty()) {
        ManifestFailed = true;
        Reporter.Warning("the record of the output folder cannot be written: " + error);
    }
}

// A task's output goes into its folder's record: a finished one, or the start of one a stop
// left (which the next --update replaces).
void TBatchRun::RecordEnded(int index, const TCliTask& task, bool outputExists) {
    const auto pending = PendingRecords.find(static_cast<std::size_t>(index));
    if (pending == PendingRecords.end())
        return;
    TPendingRecord record = std::move(pending->second);
    PendingRecords.erase(pending);
    record.Entry.Complete = task.State == tsFinished;
    if (outputExists)
        RecordOutput(*record.Manifest, std::move(record.Entry), task.Output);
}
