// The main window's Add Folder: the folder's files are probed and added one per turn of the
// window's event loop, so that a library of thousands of files neither freezes the window nor
// must be waited for; Stop ends the adding with what was added so far.
#include "MainFrm.h"

#include "LogView.h"
#include "OptionFrm.h"
#include "ProbeCloser.h"
#include "UtilFuncs.h"

#include "component/CoverImages.h"

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

bool TfrmMain::AddNextFolderFile(TFolderAdd& add) {
    const std::optional<TLibraryInput> input = add.Inputs.Next();
    if (!input)
        return false;
    const TProbedInput probed = Component->ProbeInput(input->Path);
    TProbeCloser closer{Component->Probe()};
    if (!probed.ErrorText.empty() || !probed.HasSound) {
        ++add.WithoutSound;
        return true;
    }
    if (!add.Chosen) {
        MakeOptionForm();
        frmOption->SetClaimedNames(ListedOutputs());
        frmOption->SetOutputPlan(
            [first = *input, probed,
             tags = ProbedTags(Component->Probe())](const TOutputChoices& choices) {
                return std::vector{
                    OutputFileNameFor(ChoicesForFolderInput(choices, first, probed, tags))};
            },
            TfrmOption::mfFolder);
        frmOption->FillFromProbe(Component->Probe());
        if (frmOption->exec() != QDialog::Accepted) {
            add.WithoutSound = 0; // nothing is added, nothing is reported
            return false;
        }
        add.Chosen = frmOption->Choices();
    }
    TOutputChoices choices =
        ChoicesForFolderInput(*add.Chosen, *input, probed, ProbedTags(Component->Probe()));
    choices.ClaimedNames = ListedOutputs();
    const TPathFileName output = OutputFileNameFor(choices);
    // The tree's folders are made with the outputs; the pictures make theirs.
    const TPathFileName folder = input->Path.parent_path();
    if (!choices.TreeName.empty() && choices.CopyImages && add.ImageFolders.insert(folder).second)
        CopyAlbumImages(folder, output.parent_path());
    AddTask(choices, Component->Probe().GetFileSize(), output);
    ++add.Added;
    return true;
}

// The folder at the front is done (or stopped): what it skipped is said, the next one follows.
void TfrmMain::EndFolderAdd() {
    const int withoutSound = FolderAdds.front().WithoutSound;
    FolderAdds.pop_front();
    if (withoutSound > 0)
        mmoLog->AppendWithBlankLines(QString::fromStdString(WithoutSoundText(withoutSound)));
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
