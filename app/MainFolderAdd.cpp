// The main window's Add Folder: the folder is walked and each file read on the input reader's
// thread, and its tasks made ready there too; the window only asks (the options once, the cue
// sheets once) and adds the rows, one file after another in path order. A library of
// thousands of files neither freezes the window nor must be waited for; Stop ends the adding
// with what was added so far.
#include "MainFrm.h"

#include "InputReader.h"
#include "LogView.h"
#include "OptionFrm.h"
#include "UtilFuncs.h"

#include "component/CueLeadIns.h"

#include <QLabel>

namespace {

// The dialog's clip and pieces, chosen on the folder's first file, do not apply to its others.
void ForFolder(TOutputChoices& choices) {
    choices.Clip.reset();
    choices.Pieces = pcOneFile;
}

TFolderFind FindNext(TFolderAdd& add) {
    TFolderFind find;
    find.Input = add.Inputs.Next();
    if (!find.Input)
        return find;
    find.Sheet = IsCueSheetName(find.Input->Path);
    find.Covered = !find.Sheet && add.CueCovered.Covers(find.Input->Path);
    if (!find.Sheet && !(find.Covered && add.UseCueSheets.value_or(true)))
        find.Read = ReadInput(find.Input->Path);
    return find;
}

TFolderSheet ReadFolderSheet(const TLibraryInput& sheet) {
    TFolderSheet read;
    read.Cue = ReadCueSheet(sheet.Path);
    if (!read.Cue.ErrorText.empty())
        return read;
    read.Audio = read.Cue.Sheet.Tracks.front().AudioFile;
    read.Read = ReadInput(read.Audio);
    read.Verdict = ProbeVerdict({read.Audio, read.Audio.filename(), false}, read.Read.Probed);
    if (!read.Verdict)
        PlaceCueLeadIns(read.Cue.Sheet, sheet.Path.filename().string(), read.Cue.Notes);
    return read;
}

} // namespace

void TfrmMain::AddFolder(const QString& folder) {
    // A folder given while others are added (several dropped at once) waits for them.
    const bool waits = Adding();
    if (!waits && !Commands->btnAddFolder->isEnabled())
        return;
    auto add = std::make_shared<TFolderAdd>();
    add->Folder = folder;
    add->Inputs.Add(ToPath(folder));
    FolderAdds.push_back(std::move(add));
    if (waits)
        return;
    UpdateCommands();
    AddNext();
}

void TfrmMain::AddFolderStep() {
    const std::shared_ptr<TFolderAdd> add = FolderAdds.front();
    StatusPane0->setText(QStringLiteral("Adding %1: %2 added").arg(add->Folder).arg(add->Added));
    Reader->Read([add] { return FindNext(*add); },
                 [this, add](TFolderFind find) { FolderFileFound(add, find); });
}

void TfrmMain::FolderFileFound(const std::shared_ptr<TFolderAdd>& add, const TFolderFind& find) {
    if (!find.Input) {
        EndFolderAdd();
        AddNext();
        return;
    }
    if (find.Sheet || find.Covered) {
        const unsigned round = AddRound;
        const bool use = UseFolderCueSheets(*add);
        if (round != AddRound) // stopped while asked
            return;
        if (use && find.Covered) { // its tracks come with its sheet
            AddFolderStep();
        } else if (use) {
            Reader->Read([sheet = *find.Input] { return ReadFolderSheet(sheet); },
                         [this, add, sheet = *find.Input](TFolderSheet read) {
                             FolderSheetRead(add, sheet, read);
                         });
        } else if (find.Sheet) {
            ++add->UnusedCueSheets;
            AddFolderStep();
        } else if (!find.Read) {
            Reader->Read([file = find.Input->Path] { return ReadInput(file); },
                         [this, add, input = *find.Input](TReadInput read) {
                             FolderFileRead(add, input, read);
                         });
        } else {
            FolderFileRead(add, *find.Input, *find.Read);
        }
        return;
    }
    FolderFileRead(add, *find.Input, *find.Read);
}

void TfrmMain::FolderFileRead(const std::shared_ptr<TFolderAdd>& add, const TLibraryInput& found,
                              const TReadInput& read) {
    // A damaged sound or video file is said as Add says it; other files without sound are
    // counted.
    if (const std::optional<TOutputPlan> verdict = ProbeVerdict(found, read.Probed)) {
        if (verdict->Verdict == pvPassedOver)
            ++add->WithoutSound;
        else
            mmoLog->AppendWithBlankLines(QString::fromStdString(verdict->Reason));
        AddFolderStep();
        return;
    }
    const TPlanInput input{found, read.Probed, read.Tags};
    if (!ChooseFolderOptions(
            add,
            [listed = ListedSnapshot(), input](TOutputChoices choices) {
                ForFolder(choices);
                return PreviewNames(listed, input, choices);
            },
            read))
        return;
    *add->Listed = ListedOutputs();
    Reader->Read(
        [add, input, size = read.SizeBytes] {
            return MakeReady(add->Planner->Plan(input, *add->Chosen), *add->Chosen, size);
        },
        [this, add](TReadyPlan ready) {
            if (AddReady(std::move(ready)) > 0)
                ++add->Added;
            AddFolderStep();
        });
}

bool TfrmMain::ChooseFolderOptions(const std::shared_ptr<TFolderAdd>& add,
                                   TfrmOption::TOutputPlan plan, const TReadInput& read) {
    if (add->Chosen)
        return true;
    MakeOptionForm();
    frmOption->SetClaimedNames(ListedOutputs());
    frmOption->SetOutputPlan(std::move(plan), TfrmOption::mfFolder);
    const unsigned round = AddRound;
    const bool accepted = ShowOptionsFor(read);
    if (round != AddRound) // stopped meanwhile
        return false;
    if (!accepted) {
        add->WithoutSound = add->UnusedCueSheets = 0; // nothing is added, nothing is reported
        EndFolderAdd();
        AddNext();
        return false;
    }
    add->Chosen = frmOption->Choices();
    ForFolder(*add->Chosen);
    add->Planner = std::make_unique<TOutputPlanner>(ReaderPlanner(add->Listed));
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
void TfrmMain::FolderSheetRead(const std::shared_ptr<TFolderAdd>& add, const TLibraryInput& sheet,
                               const TFolderSheet& read) {
    if (!read.Cue.ErrorText.empty() || read.Verdict) {
        mmoLog->AppendWithBlankLines(
            QString::fromStdString(read.Verdict ? read.Verdict->Reason : read.Cue.ErrorText));
        AddFolderStep();
        return;
    }
    // The tracks are named by the sheet, into the tree where the sheet lies; each is cut, so never
    // a copy of the whole file. Held by value: the dialog keeps the plan.
    const auto choicesFor = [audio = read.Audio,
                             probed = read.Read.Probed](TOutputChoices choices) {
        TakeProbe(audio, probed, {}, choices);
        return choices;
    };
    if (!ChooseFolderOptions(
            add,
            [listed = ListedSnapshot(), tracks = read.Cue.Sheet, sheet,
             choicesFor](const TOutputChoices& chosen) {
                return PreviewCueNames(listed, tracks, choicesFor(chosen), sheet);
            },
            read.Read))
        return;
    for (const std::string& note : read.Cue.Notes)
        mmoLog->AppendLine(QString::fromStdString(note));
    *add->Listed = ListedOutputs();
    Reader->Read(
        [add, tracks = read.Cue.Sheet, whole = choicesFor(*add->Chosen), sheet,
         size = read.Read.SizeBytes] {
            return MakeReady(add->Planner->PlanCueTracks(tracks, whole, sheet), whole, size);
        },
        [this, add](TReadyPlan ready) {
            add->Added += AddReady(std::move(ready));
            AddFolderStep();
        });
}

// The folder at the front is done (or stopped): what it skipped is said.
void TfrmMain::EndFolderAdd() {
    const int withoutSound = FolderAdds.front()->WithoutSound;
    const int unusedSheets = FolderAdds.front()->UnusedCueSheets;
    FolderAdds.pop_front();
    if (withoutSound > 0)
        mmoLog->AppendWithBlankLines(QString::fromStdString(WithoutSoundText(withoutSound)));
    if (unusedSheets > 0)
        mmoLog->AppendWithBlankLines(
            unusedSheets == 1 ? QStringLiteral("1 cue sheet not used")
                              : QStringLiteral("%1 cue sheets not used").arg(unusedSheets));
}

void TfrmMain::StopAdding() {
    ++AddRound;
    // The next add must not wait behind a read that may never return; a load under way is
    // asked for again then (the loader lets one load at a time).
    Reader->Abandon();
    if (Libraries == lbLoading)
        Libraries = lbNotLoaded;
    QString said;
    if (!FileAdds.empty()) {
        said = QStringLiteral("Adding %1 stopped.").arg(FileAdds.front());
    } else {
        const TFolderAdd& add = *FolderAdds.front();
        said = QStringLiteral("Adding %1 stopped: %2 added.")
                   .arg(add.Folder, add.Added == 1 ? QStringLiteral("1 file")
                                                   : QStringLiteral("%1 files").arg(add.Added));
    }
    FileAdds.clear();
    while (!FolderAdds.empty())
        EndFolderAdd();
    mmoLog->AppendWithBlankLines(said);
    UpdateCommands();
    StatusPane0->setText(RunStatusText());
}
