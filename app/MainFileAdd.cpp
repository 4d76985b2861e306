// The main window's Add of files given by themselves (Add, drops): each file is read on the
// input reader's thread, its options chosen in the dialog, its tasks made ready on the reader's
// thread again and added here, one file after another in the order given.
#include "MainFrm.h"

#include "InputReader.h"
#include "LogView.h"
#include "OptionFrm.h"
#include "TaskListModel.h"
#include "UtilFuncs.h"

#include "probe/AVProbe.h"

#include <QFileInfo>
#include <QLabel>

namespace {

// The sheet when the user wants its tracks rather than the whole file; where: "has a cue sheet
// beside it", "holds a cue sheet".
TCueRead TracksIfWanted(const QString& fileName, const QString& where, TCueRead read) {
    const QString question = QStringLiteral("%1 %2 (%3 tracks): add the tracks instead?")
                                 .arg(QFileInfo(fileName).fileName(), where)
                                 .arg(read.Sheet.Tracks.size());
    return AskQuestion(question) ? read : TCueRead();
}

std::string ShownName(const QString& fileName) {
    return QFileInfo(fileName).fileName().toStdString();
}

} // namespace

void TfrmMain::AddFiles(const QStringList& files) {
    if (!Commands->btnAdd->isEnabled() || files.isEmpty())
        return;
    for (const QString& file : files)
        FileAdds.push_back(file);
    UpdateCommands();
    AddNext();
}

// The next file, else the next folder, else the adding is over.
void TfrmMain::AddNext() {
    if (Adding() && !LibrariesReady())
        return; // goes on once they are
    if (!FileAdds.empty()) {
        StatusPane0->setText(QStringLiteral("Adding %1").arg(FileAdds.front()));
        const QString fileName = FileAdds.front();
        Reader->Read([file = ToPath(fileName)] { return ReadSheetOf(file); },
                     [this, fileName](TSheetRead sheet) { FileSheetRead(fileName, sheet); });
    } else if (!FolderAdds.empty()) {
        AddFolderStep();
    } else {
        UpdateCommands();
        StatusPane0->setText(RunStatusText());
    }
}

void TfrmMain::FileAdded() {
    FileAdds.pop_front();
    AddNext();
}

void TfrmMain::FileSheetRead(const QString& fileName, const TSheetRead& sheet) {
    if (!sheet.Read.ErrorText.empty()) {
        mmoLog->AppendWithBlankLines(QString::fromStdString(sheet.Read.ErrorText));
        FileAdded();
        return;
    }
    const unsigned round = AddRound;
    const TCueRead cue =
        sheet.Beside
            ? TracksIfWanted(fileName, QStringLiteral("has a cue sheet beside it"), sheet.Read)
            : sheet.Read;
    if (round != AddRound) // stopped while asked
        return;
    const bool cueTracks = !cue.Sheet.Tracks.empty();
    const TPathFileName file = cueTracks ? cue.Sheet.Tracks.front().AudioFile : ToPath(fileName);
    Reader->Read([file] { return ReadInput(file); },
                 [this, fileName, cue, file](TReadInput read) {
                     FileProbed(fileName, cue, {{file, file.filename(), false}, {}, {}}, read);
                 });
}

void TfrmMain::FileProbed(const QString& fileName, TCueRead cue, TPlanInput input,
                          const TReadInput& read) {
    const unsigned round = AddRound;
    input.Probed = read.Probed;
    input.Tags = read.Tags;
    // What cannot be added is said in the log, as every refusal of Add is: a box would halt
    // the files still to come.
    if (const std::optional<TOutputPlan> verdict = ProbeVerdict(input.Input, input.Probed)) {
        mmoLog->AppendWithBlankLines(QString::fromStdString(
            verdict->Verdict == pvNoSound ? NoSoundText(ShownName(fileName)) : verdict->Reason));
        FileAdded();
        return;
    }
    if (cue.Sheet.Tracks.empty() && read.Embedded) {
        if (!read.Embedded->ErrorText.empty())
            mmoLog->AppendLine(QString::fromStdString(read.Embedded->ErrorText));
        else
            cue = TracksIfWanted(fileName, QStringLiteral("holds a cue sheet"), *read.Embedded);
        if (round != AddRound)
            return;
    }
    if (cue.Sheet.Tracks.empty()) {
        ChooseFileOptions(cue, input, read);
        return;
    }
    // Before the dialog, so that the names it shows include a hidden track.
    Reader->Read(
        [cue, shown = ShownName(fileName)] { return WithLeadIns(cue, shown); },
        [this, fileName, input, read](TCueRead placed) { ChooseFileOptions(placed, input, read); });
}

void TfrmMain::ChooseFileOptions(const TCueRead& cue, const TPlanInput& input,
                                 const TReadInput& read) {
    const bool cueTracks = !cue.Sheet.Tracks.empty();
    MakeOptionForm();
    frmOption->SetClaimedNames(ListedOutputs());
    frmOption->SetOutputPlan(
        [listed = ListedSnapshot(), cue, cueTracks, input](TOutputChoices choices) {
            choices.NameTemplateText.clear(); // the dialog's template names a folder's files
            return cueTracks ? PreviewCueNames(listed, cue.Sheet, choices, input.Input)
                             : PreviewNames(listed, input, choices);
        });
    const unsigned round = AddRound;
    const bool accepted = ShowOptionsFor(read);
    if (round != AddRound)
        return;
    if (!accepted) {
        FileAdded();
        return;
    }
    TOutputChoices choices = frmOption->Choices();
    choices.NameTemplateText.clear();
    for (const std::string& note : cue.Notes)
        mmoLog->AppendLine(QString::fromStdString(note));
    Reader->Read(
        [listed = ListedSnapshot(), cue, cueTracks, input, choices, size = read.SizeBytes] {
            TOutputPlanner planner = ReaderPlanner(listed);
            return MakeReady(cueTracks ? planner.PlanCueTracks(cue.Sheet, choices, input.Input)
                                       : planner.Plan(input, choices),
                             choices, size);
        },
        [this](TReadyPlan ready) {
            AddReady(std::move(ready));
            FileAdded();
        });
}

bool TfrmMain::ShowOptionsFor(const TReadInput& read) {
    frmOption->FillFromProbe(read.Probe);
    return frmOption->exec() == QDialog::Accepted;
}

std::shared_ptr<const std::vector<TPathFileName>> TfrmMain::ListedSnapshot() const {
    return std::make_shared<const std::vector<TPathFileName>>(ListedOutputs());
}

int TfrmMain::AddReady(TReadyPlan ready) {
    for (const std::string& warning : ready.Warnings)
        mmoLog->AppendWithBlankLines(QString::fromStdString(warning));
    for (TReadyOutput& output : ready.Outputs)
        AddTask(std::move(output));
    return static_cast<int>(ready.Outputs.size());
}

void TfrmMain::AddTask(TReadyOutput output) {
    const TAddedTask added = Component->AdoptTask(std::move(output.Task));
    if (added.Index < 0) {
        mmoLog->AppendWithBlankLines(QString::fromStdString(added.ErrorText));
        return;
    }
    Rows->AddTask(FromPath(output.Input), added.LengthMs, output.SizeBytes,
                  FromPath(added.OutputFileName), std::move(output.Record));
    mmoLog->AppendWithBlankLines(QStringLiteral("***File has been added to convert list."));
    UpdateCommands();
}
