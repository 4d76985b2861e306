// The main window's Add Folder: the folder's files are probed and added one per turn of the
// window's event loop, so that a library of thousands of files neither freezes the window nor
// must be waited for; Stop ends the adding with what was added so far.
#include "MainFrm.h"

#include "LogView.h"
#include "OptionFrm.h"
#include "ProbeCloser.h"
#include "UtilFuncs.h"

#include "component/CueLeadIns.h"

#include <QLabel>
#include <QTimer>

void TfrmMain::AddFolder(const QString& folder) {
    // A second folder (several dropped at once) waits for the one being added.
    if (!AddingFolder() && (!Commands->btnAddFolder->isEnabled() || !LoadLibraries()))
        return;
    TFolderAdd add;
    add.Folder = folder;
    add.Inputs.Add(ToPath(folder));
    FolderAdds.push_back(std::move(add));
    if (FolderAdds.size() > 1)
        return;
    UpdateCommands();
    // The first file, and the dialog it brings, come at once.
    AddFolderStep();
}

void TfrmMain::AddFolderStep() {
    if (!AddingFolder())
        return;
    if (!AddNextFolderFile(FolderAdds.front()))
        EndFolderAdd();
    if (!AddingFolder()) {
        UpdateCommands();
        StatusPane0->setText(RunStatusText());
        return;
    }
    const TFolderAdd& add = FolderAdds.front();
    StatusPane0->setText(QStringLiteral("Adding %1: %2 added").arg(add.Folder).arg(add.Added));
    QTimer::singleShot(0, this, [this] { RunGuarded([this] { AddFolderStep(); }); });
}

namespace {

// The dialog's clip and pieces, chosen on the folder's first file, do not apply to its others.
void ForFolder(TOutputChoices& choices) {
    choices.CutClip = false;
    choices.Pieces = pcOneFile;
}

} // namespace

bool TfrmMain::AddNextFolderFile(TFolderAdd& add) {
    const std::optional<TLibraryInput> found = add.Inputs.Next();
    if (!found)
        return false;
    const bool sheet = IsCueSheetName(found->Path);
    if (sheet || add.CueCovered.Covers(found->Path)) {
        if (UseFolderCueSheets(add))
            return !sheet || AddFolderCueSheet(add, *found); // a file a sheet covers: its tracks
        if (sheet) {
            ++add.UnusedCueSheets;
            return true;
        }
    }
    const TProbedInput probed = Component->ProbeInput(found->Path);
    TProbeCloser closer{Component->Probe()};
    // A damaged sound or video file is said as Add says it; other files without sound are
    // counted.
    if (const std::optional<TOutputPlan> verdict = ProbeVerdict(*found, probed)) {
        if (verdict->Verdict == pvPassedOver)
            ++add.WithoutSound;
        else
            mmoLog->AppendWithBlankLines(QString::fromStdString(verdict->Reason));
        return true;
    }
    const TPlanInput input{*found, probed, ProbedTags(Component->Probe())};
    if (!ChooseFolderOptions(add, [this, input](TOutputChoices choices) {
            ForFolder(choices);
            return PlannedNames(input, choices);
        }))
        return false;
    // Read before the planner probes a sibling of the same name.
    const int64_t fileSizeBytes = Component->Probe().GetFileSize();
    if (AddPlanned(add.Planner->Plan(input, *add.Chosen), *add.Chosen, fileSizeBytes))
        ++add.Added;
    return true;
}

bool TfrmMain::ChooseFolderOptions(TFolderAdd& add, TfrmOption::TOutputPlan plan) {
    if (add.Chosen)
        return true;
    MakeOptionForm();
    frmOption->SetClaimedNames(ListedOutputs());
    frmOption->SetOutputPlan(std::move(plan), TfrmOption::mfFolder);
    frmOption->FillFromProbe(Component->Probe());
    if (frmOption->exec() != QDialog::Accepted) {
        add.WithoutSound = add.UnusedCueSheets = 0; // nothing is added, nothing is reported
        return false;
    }
    add.Chosen = frmOption->Choices();
    ForFolder(*add.Chosen);
    add.Planner = std::make_unique<TOutputPlanner>(MakePlanner(puAdd));
    return true;
}

bool TfrmMain::UseFolderCueSheets(TFolderAdd& add) {
    if (!add.UseCueSheets)
        add.UseCueSheets = AskQuestion(
            QStringLiteral("%1 holds cue sheets: add their tracks instead of the files they "
                           "describe?")
                .arg(add.Folder));
    return *add.UseCueSheets;
}

// The sheet's tracks, into the output folder's tree where the sheet lies; a sheet that cannot
// be used is said in the log, and its files are left to it.
bool TfrmMain::AddFolderCueSheet(TFolderAdd& add, const TLibraryInput& sheet) {
    TCueRead cue = ReadCueSheet(sheet.Path);
    if (!cue.ErrorText.empty()) {
        mmoLog->AppendWithBlankLines(QString::fromStdString(cue.ErrorText));
        return true;
    }
    const TPathFileName audio = cue.Sheet.Tracks.front().AudioFile;
    const TProbedInput probed = Component->ProbeInput(audio);
    TProbeCloser closer{Component->Probe()};
    if (const std::optional<TOutputPlan> verdict =
            ProbeVerdict({audio, audio.filename(), false}, probed)) {
        mmoLog->AppendWithBlankLines(QString::fromStdString(verdict->Reason));
        return true;
    }
    PlaceCueLeadIns(cue.Sheet, sheet.Path.filename().string(), cue.Notes);
    // The tracks are named by the sheet, into the tree where the sheet lies; each is cut, so never
    // a copy of the whole file. Held by value: the dialog keeps the plan.
    const auto choicesFor = [audio, probed](TOutputChoices choices) {
        TakeProbe(audio, probed, {}, choices);
        return choices;
    };
    if (!ChooseFolderOptions(
            add, [this, tracks = cue.Sheet, sheet, choicesFor](const TOutputChoices& chosen) {
                return PlannedCueNames(tracks, choicesFor(chosen), sheet);
            }))
        return false;
    for (const std::string& note : cue.Notes)
        mmoLog->AppendLine(QString::fromStdString(note));
    const TOutputChoices whole = choicesFor(*add.Chosen);
    const TOutputPlan plan = add.Planner->PlanCueTracks(cue.Sheet, whole, sheet);
    AddPlanned(plan, whole, Component->Probe().GetFileSize());
    add.Added += static_cast<int>(plan.Outputs.size());
    return true;
}

// The folder at the front is done (or stopped): what it skipped is said, the next one follows.
void TfrmMain::EndFolderAdd() {
    const int withoutSound = FolderAdds.front().WithoutSound;
    const int unusedSheets = FolderAdds.front().UnusedCueSheets;
    FolderAdds.pop_front();
    if (withoutSound > 0)
        mmoLog->AppendWithBlankLines(QString::fromStdString(WithoutSoundText(withoutSound)));
    if (unusedSheets > 0)
        mmoLog->AppendWithBlankLines(
            unusedSheets == 1 ? QStringLiteral("1 cue sheet not used")
                              : QStringLiteral("%1 cue sheets not used").arg(unusedSheets));
}

void TfrmMain::StopAddingFolders() {
    const TFolderAdd& add = FolderAdds.front();
    const QString said =
        QStringLiteral("Adding %1 stopped: %2 added.")
            .arg(add.Folder, add.Added == 1 ? QStringLiteral("1 file")
                                            : QStringLiteral("%1 files").arg(add.Added));
    while (AddingFolder())
        EndFolderAdd();
    mmoLog->AppendWithBlankLines(said);
    UpdateCommands();
    StatusPane0->setText(RunStatusText());
}
