// The main window.
#include "MainFrm.h"

#include "HTMLHelp_Decl.h"
#include "InputReader.h"
#include "LogView.h"
#include "NameDelegate.h"
#include "OptionFrm.h"
#include "ProgressDelegate.h"
#include "TaskListModel.h"
#include "UtilFuncs.h"

#include "component/CueLeadIns.h"
#include "component/LibraryInputs.h"
#include "component/OutputAssembly.h"
#include "probe/AVProbe.h"

#include <QCloseEvent>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QHeaderView>
#include <QLabel>
#include <QMimeData>
#include <QProgressBar>
#include <QScreen>
#include <QScrollBar>
#include <QSettings>
#include <QSplitter>
#include <QStandardPaths>
#include <QStatusBar>
#include <QTreeView>

#include <filesystem>
#include <stdexcept>

namespace {

constexpr int ClientHeight = 417;
constexpr int ToolBarRowHeight = 55;
constexpr int ToolButtonWidth = 60;
constexpr int LogHeight = 114;

// Where the settings keep the window's own choices.
const QString GeometryKey = QStringLiteral("Window/Geometry");
const QString ColumnsKey = QStringLiteral("Window/Columns");
const QString AddFolderKey = QStringLiteral("Window/AddFolder");
const QString VerboseLogKey = QStringLiteral("Window/VerboseLog");

// Where "More Free Software..." leads: the libraries this program is built on.
const QUrl MoreSoftwarePage(QStringLiteral("https://ffmpeg.org/"));

} // namespace

TfrmMain::TfrmMain(QWidget* parent)
    : QMainWindow(parent), Component(std::make_unique<TFFmpegComponent>()),
      Commands(std::make_unique<TMainActions>(this)) {
    // A read that throws ends the adding with the box, as a command's exception does.
    Reader = std::make_unique<TInputReader>([this](const std::string& what) {
        if (Adding())
            StopAdding();
        ShowException(std::runtime_error(what));
    });
    Recorder = std::make_unique<TInputReader>([this](const std::string& what) {
        mmoLog->AppendWithBlankLines(QString::fromStdString("***" + what));
    });
    GainPass = std::make_unique<TGainPass>(
        this, [this](const TGainPass::TWritten& written) { GainPassEnded(written); });
    Relay = new TTaskEventRelay(
        [this](int AIndex, const TProgressInfo& progress) { ApplyProgress(AIndex, progress); },
        [this](int AIndex, TTaskEnd AEnd, const std::string& AMessage) {
            ApplyTerminate(AIndex, AEnd, AMessage);
        },
        [this](int AIndex, const QString& outputFile) { Rows->SetOutputFile(AIndex, outputFile); },
        this);
    // A task creates its output when it starts, under the name it can take then.
    Component->OnStart = [this](int AIndex, const TPathFileName& AOutputFileName) {
        TesselStart(AIndex, AOutputFileName);
    };
    Component->OnProgress = [this](int AIndex, const TProgressInfo& AProgress) {
        TesselProgress(AIndex, AProgress);
    };
    Component->OnTerminate = [this](int AIndex, TTaskEnd AEnd, const std::string& AMessage) {
        TesselTerminate(AIndex, AEnd, AMessage);
    };
    // No task of this window enables hooks; the handlers leave the engine's defaults.
    Component->OnBeforeHook = [](int, int64_t, TTaskHookAction&) {};
    Component->OnCustomHook = [](int, TBitmap24&, int, int64_t, bool&, bool&) {};
    GetLogger()->SetOnLog(
        [this](const void* Sender, unsigned AThreadID, TLogLevel ALogLevel,
               const std::string& ALogMsg) { FFLoggerLog(Sender, AThreadID, ALogLevel, ALogMsg); });
    BuildWindow();
    ConnectCommands();
    connect(&mmoLog->VerboseAction(), &QAction::toggled, this, [this](bool verbose) {
        UserSettings()->setValue(VerboseLogKey, verbose);
        ApplyLogLevel();
    });
    FormCreate();
    RestoreWindowSettings();
    ApplyLogLevel();
}

TfrmMain::~TfrmMain() {
    Reader.reset(); // no result comes to a window going away
    Recorder.reset();
    GainPass.reset(); // its worker measures with the libraries the component holds
    GetLogger()->SetOnLog(nullptr);
    Component->DetachEvents();
    Relay->Detach();
    Component.reset(); // stops and waits for every task while the window still exists
}

void TfrmMain::BuildWindow() {
    setWindowTitle(QStringLiteral("Soundpick 2015 8.1.2"));
    setWindowIcon(QIcon(QStringLiteral(":/icons/soundpick.svg")));
    setAcceptDrops(true);

    auto* ToolBarMain = new QToolBar(this);
    ToolBarMain->setObjectName(QStringLiteral("ToolBarMain"));
    ToolBarMain->setMovable(false);
    ToolBarMain->setFloatable(false);
    ToolBarMain->setIconSize(QSize(32, 32));
    ToolBarMain->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    ToolBarMain->setContextMenuPolicy(Qt::PreventContextMenu);
    ToolBarMain->setMinimumHeight(ToolBarRowHeight);
    Commands->BuildToolBar(ToolBarMain);
    for (QAction* action : ToolBarMain->actions()) {
        if (QWidget* button = ToolBarMain->widgetForAction(action);
            button && !action->isSeparator())
            button->setMinimumWidth(ToolButtonWidth);
    }
    addToolBar(Qt::TopToolBarArea, ToolBarMain);
    Commands->BuildMainMenu(menuBar());

    Rows = new TTaskListModel(this);
    lvFiles = new QTreeView(this);
    lvFiles->setObjectName(QStringLiteral("lvFiles"));
    lvFiles->setModel(Rows);
    lvFiles->setRootIsDecorated(false);
    lvFiles->setUniformRowHeights(true);
    lvFiles->setItemsExpandable(false);
    lvFiles->setAllColumnsShowFocus(true);
    lvFiles->setSelectionBehavior(QAbstractItemView::SelectRows);
    lvFiles->setSelectionMode(QAbstractItemView::SingleSelection);
    lvFiles->setEditTriggers(QAbstractItemView::NoEditTriggers);
    lvFiles->setIconSize(QSize(20, 20));
    lvFiles->setItemDelegateForColumn(tcProgress, new TProgressDelegate(lvFiles));
    for (int column : {tcInput, tcOutput})
        lvFiles->setItemDelegateForColumn(column, new TNameDelegate(lvFiles));
    lvFiles->header()->setStretchLastSection(false);
    for (int column = 0; column < tcColumnCount; ++column)
        lvFiles->setColumnWidth(column, TTaskListModel::ColumnWidth(column));
    lvFiles->setContextMenuPolicy(Qt::CustomContextMenu);
    // The selection stays visible when the list loses the focus.
    QPalette palette = lvFiles->palette();
    palette.setColor(QPalette::Inactive, QPalette::Highlight,
                     palette.color(QPalette::Active, QPalette::Highlight));
    palette.setColor(QPalette::Inactive, QPalette::HighlightedText,
                     palette.color(QPalette::Active, QPalette::HighlightedText));
    lvFiles->setPalette(palette);

    PopupMenu1 = new QMenu(this);
    Commands->BuildPopupMenu(PopupMenu1);

    mmoLog = new TLogView(this);
    mmoLog->setObjectName(QStringLiteral("mmoLog"));

    auto* Splitter = new QSplitter(Qt::Vertical, this);
    Splitter->setObjectName(QStringLiteral("Splitter"));
    Splitter->setHandleWidth(3);
    Splitter->setChildrenCollapsible(false);
    Splitter->addWidget(lvFiles);
    Splitter->addWidget(mmoLog);
    Splitter->setStretchFactor(0, 1);
    Splitter->setStretchFactor(1, 0);
    Splitter->setSizes({ClientHeight - LogHeight, LogHeight});
    setCentralWidget(Splitter);

    // The run's state, its time left and its overall progress.
    QStatusBar* RzStatusBar = statusBar();
    RzStatusBar->setObjectName(QStringLiteral("RzStatusBar"));
    StatusPane0 = new QLabel(RzStatusBar);
    StatusPane0->setObjectName(QStringLiteral("StatusPane0"));
    StatusPane1 = new QLabel(RzStatusBar);
    StatusPane1->setObjectName(QStringLiteral("StatusPane1"));
    StatusPane1->setFixedWidth(145);
    ProgressStatus = new QProgressBar(RzStatusBar);
    ProgressStatus->setObjectName(QStringLiteral("ProgressStatus"));
    ProgressStatus->setFixedWidth(176);
    ProgressStatus->setRange(0, 100);
    ProgressStatus->setValue(0);
    RzStatusBar->addWidget(StatusPane0, 1);
    RzStatusBar->addPermanentWidget(StatusPane1);
    RzStatusBar->addPermanentWidget(ProgressStatus);

    // Wide enough for every column of the list, its frame and its scroll bar.
    int listWidth = 2 * lvFiles->frameWidth() + lvFiles->verticalScrollBar()->sizeHint().width();
    for (int column = 0; column < tcColumnCount; ++column)
        listWidth += TTaskListModel::ColumnWidth(column);
    resize(listWidth, ClientHeight + menuBar()->sizeHint().height());
    if (const QScreen* screen = this->screen())
        move(screen->availableGeometry().center() - rect().center());
}

void TfrmMain::ConnectCommands() {
    const TMainActions& a = *Commands;
    const auto on = [this](QAction* action, void (TfrmMain::*handler)()) {
        connect(action, &QAction::triggered, this,
                [this, handler] { RunGuarded([this, handler] { (this->*handler)(); }); });
    };
    on(a.btnAdd, &TfrmMain::btnAddClick);
    on(a.btnAddFolder, &TfrmMain::btnAddFolderClick);
    on(a.menuAddFolder, &TfrmMain::btnAddFolderClick);
    on(a.btnRemove, &TfrmMain::btnRemoveClick);
    on(a.btnClear, &TfrmMain::btnClearClick);
    on(a.btnStart, &TfrmMain::btnStartClick);
    on(a.btnStop, &TfrmMain::btnStopClick);
    on(a.btnPause, &TfrmMain::btnPauseClick);
    on(a.btnResume, &TfrmMain::btnResumeClick);
    on(a.ToolButtonSettings, &TfrmMain::ToolButtonSettingsClick);
    on(a.ToolButtonHelp, &TfrmMain::ToolButtonHelpClick);
    on(a.menu1, &TfrmMain::btnAddClick);
    on(a.menu2, &TfrmMain::btnRemoveClick);
    on(a.menu3, &TfrmMain::btnClearClick);
    on(a.menu4, &TfrmMain::btnStartClick);
    on(a.menu5, &TfrmMain::btnStopClick);
    on(a.menu6, &TfrmMain::btnPauseClick);
    on(a.menu7, &TfrmMain::btnResumeClick);
    on(a.menu8, &TfrmMain::ToolButtonSettingsClick);
    connect(a.menu9, &QAction::triggered, this, &QWidget::close);
    on(a.HelpContent1, &TfrmMain::ToolButtonHelpClick);
    on(a.MoreRatedSoftware1, &TfrmMain::MoreRatedSoftware1Click);
    on(a.popAdd, &TfrmMain::btnAddClick);
    on(a.popRemove, &TfrmMain::btnRemoveClick);
    on(a.popClear, &TfrmMain::btnClearClick);
    on(a.mnuPlay, &TfrmMain::mnuPlayClick);
    on(a.mnuOpenFolder, &TfrmMain::mnuOpenFolderClick);
    on(a.popRunAgain, &TfrmMain::popRunAgainClick);

    connect(PopupMenu1, &QMenu::aboutToShow, this, &TfrmMain::PopupMenu1Popup);
    connect(lvFiles, &QWidget::customContextMenuRequested, this, [this](const QPoint& point) {
        PopupMenu1->popup(lvFiles->viewport()->mapToGlobal(point));
    });
    connect(lvFiles, &QAbstractItemView::doubleClicked, this,
            [this] { RunGuarded([this] { mnuPlayClick(); }); });
    // The pop-up's keys work without opening it, so its enabling follows the list.
    connect(lvFiles->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            &TfrmMain::UpdateCommands);
    connect(Rows, &QAbstractItemModel::rowsInserted, this, &TfrmMain::UpdateCommands);
    connect(Rows, &QAbstractItemModel::rowsRemoved, this, &TfrmMain::UpdateCommands);
    connect(Rows, &QAbstractItemModel::modelReset, this, &TfrmMain::UpdateCommands);
}

void TfrmMain::FormCreate() {
    try {
        MakeSettingsFolder();
    } catch (const std::exception& error) {
        ShowException(error);
    }
    mmoLog->Clear();
    UpdateCommands();
}

void TfrmMain::MakeSettingsFolder() {
    SettingsPath = QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
    if (SettingsPath.isEmpty())
        SettingsPath = QDir::homePath() + u'/' + AppTitle;
    if (!QDir().mkpath(SettingsPath))
        throw std::runtime_error(("Cannot create the folder " + SettingsPath).toStdString());
}

void TfrmMain::RestoreWindowSettings() {
    const std::unique_ptr<QSettings> settings = UserSettings();
    restoreGeometry(settings->value(GeometryKey).toByteArray());
    lvFiles->header()->restoreState(settings->value(ColumnsKey).toByteArray());
    mmoLog->VerboseAction().setChecked(settings->value(VerboseLogKey, false).toBool());
}

void TfrmMain::SaveWindowSettings() const {
    const std::unique_ptr<QSettings> settings = UserSettings();
    settings->setValue(GeometryKey, saveGeometry());
    settings->setValue(ColumnsKey, lvFiles->header()->saveState());
}

// ---- Adding tasks --------------------------------------------------------------------------

void TfrmMain::btnAddClick() {
    // Refused while a run is on: its tasks are counted at its start.
    if (!Commands->btnAdd->isEnabled())
        return;
    const QString lastFolder = UserSettings()->value(AddFolderKey).toString();
    const QStringList files = QFileDialog::getOpenFileNames(
        this, QString(), lastFolder, OpenFileFilters().join(QStringLiteral(";;")), nullptr,
        QFileDialog::HideNameFilterDetails);
    if (files.isEmpty())
        return;
    UserSettings()->setValue(AddFolderKey, QFileInfo(files.first()).absolutePath());
    AddFiles(files);
}

void TfrmMain::btnAddFolderClick() {
    if (!Commands->btnAddFolder->isEnabled())
        return;
    const QString folder = QFileDialog::getExistingDirectory(
        this, QString(), UserSettings()->value(AddFolderKey).toString());
    if (folder.isEmpty())
        return;
    UserSettings()->setValue(AddFolderKey, folder);
    AddFolder(folder);
}

bool TfrmMain::LibrariesReady() {
    if (Libraries == lbNotLoaded) {
        Libraries = lbLoading;
        StatusPane0->setText(QStringLiteral("Loading the FFmpeg libraries"));
        Reader->Read(
            [folder = ToPath(ExecutableFolder() + QStringLiteral("/LibAV"))] {
                return LoadComponentLibraries(folder);
            },
            [this](const std::string& error) { LibrariesLoaded(error); });
    }
    return Libraries == lbLoaded;
}

void TfrmMain::LibrariesLoaded(const std::string& error) {
    if (!error.empty()) {
        Libraries = lbNotLoaded;
        mmoLog->AppendLine(QString::fromStdString(error));
        FileAdds.clear();
        while (!FolderAdds.empty())
            EndFolderAdd();
    } else {
        Libraries = lbLoaded;
        ApplyLogLevel();
    }
    AddNext();
}

void TfrmMain::MakeOptionForm() {
    if (frmOption)
        return;
    frmOption = new TfrmOption(this);
    connect(frmOption, &TfrmOption::outputFolderGone, this, [this](const QString& folder) {
        mmoLog->AppendWithBlankLines(
            QStringLiteral("***The output folder %1 no longer exists: the outputs go beside "
                           "their inputs (%2).")
                .arg(folder, QString::fromLatin1(SameAsInputFolder)));
    });
}

std::vector<TPathFileName> TfrmMain::ListedOutputs() const {
    std::vector<TPathFileName> names;
    for (int row = 0; row < Rows->RowCount(); ++row)
        names.push_back(ToPath(Rows->OutputFile(row)));
    return names;
}

// ---- Removing, clearing and converting --------------------------------------------------------

void TfrmMain::btnRemoveClick() {
    const int row = SelectedRow();
    if (!Commands->btnRemove->isEnabled() || row < 0)
        return;
    Component->DeleteTask(row);
    Rows->RemoveTask(row);
    UpdateCommands();
}

void TfrmMain::btnClearClick() {
    if (!Commands->btnClear->isEnabled())
        return;
    Component->ClearTaskList();
    Rows->ClearTasks();
    UpdateCommands();
    UpdateRunStatus();
}

void TfrmMain::btnStartClick() {
    // The menu item calls this whatever the button shows: an empty list still gets its box,
    // while a run that is on or a list with nothing left to convert is not started.
    if (Rows->RowCount() == 0) {
        ShowMessageBox(TBoxIcon::Information, QStringLiteral("There are no files in the list!"));
        return;
    }
    if (!Commands->btnStart->isEnabled())
        return;
    Component->SetThreadPriority(THiddenMainSettings::Priority);
    bool isNumber = false;
    int threadCount = QString::fromLatin1(THiddenMainSettings::ThreadCount).toInt(&isNumber);
    if (!isNumber)
        threadCount = 1;
    Rows->BeginRun();
    Running = true;
    Paused = Stopping = false;
    PausedMs = 0;
    RunClock.start();
    UpdateCommands();
    UpdateRunStatus();
    Component->StartTasks(THiddenMainSettings::ThreadMode ? threadCount : 0);
}

void TfrmMain::popRunAgainClick() {
    const int row = SelectedRow();
    if (!Commands->popRunAgain->isEnabled() || row < 0)
        return;
    // The component's task first: a row waits again only for a task that will run.
    if (!Component->RunAgain(row) || !Rows->RunAgain(row))
        return;
    UpdateCommands();
    btnStartClick();
}

void TfrmMain::btnStopClick() {
    if (!Commands->btnStop->isEnabled())
        return;
    if (Adding()) {
        StopAdding();
        return;
    }
    Stopping = true;
    UpdateCommands();
    Component->StopTasks(true);
}

void TfrmMain::btnPauseClick() {
    if (!Commands->btnPause->isEnabled())
        return;
    Paused = true;
    PauseClock.start();
    Rows->SetPaused(true);
    UpdateCommands();
    UpdateRunStatus();
    Component->PauseTasks();
}

void TfrmMain::btnResumeClick() {
    if (!Commands->btnResume->isEnabled())
        return;
    Paused = false;
    PausedMs += PauseClock.elapsed();
    Rows->SetPaused(false);
    UpdateCommands();
    UpdateRunStatus();
    Component->ResumeTasks();
}

void TfrmMain::UpdateCommands() {
    const TMainActions& a = *Commands;
    const bool hasRows = Rows->RowCount() > 0;
    // Adding a folder and running exclude each other; both end with Stop.
    const bool idle = !Running && !Adding();
    const bool converting = Running && !Stopping;
    const std::pair<QAction*, bool> states[] = {
        {a.btnAdd, idle},
        {a.btnAddFolder, idle},
        {a.btnRemove, idle && SelectedRow() >= 0},
        {a.btnClear, idle && hasRows},
        {a.btnStart, idle && (!hasRows || Rows->WaitingCount() > 0)},
        {a.popRunAgain, idle && Rows->Unfinished(SelectedRow())},
        {a.btnStop, converting || Adding()},
        {a.btnPause, converting && !Paused},
        {a.btnResume, converting && Paused}};
    for (const auto& [button, enabled] : states)
        button->setEnabled(enabled);
    // The menus offer the same commands, so they follow the same state.
    const std::pair<QAction*, QAction*> mirrors[] = {{a.menu1, a.btnAdd},
                                                     {a.menu2, a.btnRemove},
                                                     {a.menu3, a.btnClear},
                                                     {a.menu4, a.btnStart},
                                                     {a.menu5, a.btnStop},
                                                     {a.menu6, a.btnPause},
                                                     {a.menu7, a.btnResume},
                                                     {a.popAdd, a.btnAdd},
                                                     {a.popRemove, a.btnRemove},
                                                     {a.popClear, a.btnClear},
                                                     {a.menuAddFolder, a.btnAddFolder}};
    for (const auto& [item, button] : mirrors)
        item->setEnabled(button->isEnabled());
    a.mnuOpenFolder->setEnabled(hasRows);
    const int entry = Rows->ChosenEntry(SelectedRow());
    a.mnuPlay->setEnabled(entry >= 0 && Rows->IsConverted(entry));
}

int TfrmMain::SelectedRow() const {
    const QModelIndexList rows = lvFiles->selectionModel()->selectedRows();
    return rows.isEmpty() ? -1 : rows.first().row();
}

// ---- The component's events -------------------------------------------------------------------

void TfrmMain::TesselStart(int AIndex, const TPathFileName& AOutputFileName) {
    Relay->PostStart(AIndex, FromPath(AOutputFileName));
}

void TfrmMain::TesselProgress(int AIndex, const TProgressInfo& AProgress) {
    Relay->PostProgress(AIndex, AProgress);
}

void TfrmMain::TesselTerminate(int AIndex, TTaskEnd AEnd, const std::string& AMessage) {
    Relay->PostTerminate(AIndex, AEnd, AMessage);
}

void TfrmMain::ApplyProgress(int AIndex, const TProgressInfo& progress) {
    Rows->ApplyProgress(AIndex, progress);
    UpdateRunStatus();
}

void TfrmMain::ApplyTerminate(int AIndex, TTaskEnd AEnd, const std::string& AMessage) {
    if (AIndex < 0) {
        // The album pass writes into outputs whose records are still being read back: it waits
        // for them.
        if (Recorder->Busy())
            Recorder->Read([] { return 0; }, [this](int) { EndTasks(); });
        else
            EndTasks();
        return;
    }
    Rows->ApplyEnd(AIndex, AEnd, QString::fromStdString(AMessage));
    const TTaskResult result = Component->TaskResult(AIndex);
    if (IsFinished(AEnd))
        RecordFinished(AIndex, result);
    if (IsFinished(AEnd) && result.GainPlaceholders)
        GainPass->Add(result.InputFileName, result.OutputFileName);
    if (IsFinished(AEnd) && !result.WarningSummary.empty())
        Rows->SetWarning(AIndex, QString::fromStdString(result.WarningSummary),
                         QString::fromStdString(result.WarningText));
    if (result.Loudness)
        Rows->SetLoudnessText(AIndex, QString::fromStdString(result.Loudness->SummaryText));
    UpdateCommands();
    UpdateRunStatus();
    // A failure is the row's and the summary's to show: a box would halt the batch's watcher.
    if (AEnd == teFailed)
        mmoLog->AppendWithBlankLines(
            QStringLiteral("***%1 failed: %2")
                .arg(Rows->Cell(AIndex, tcInput), QString::fromStdString(AMessage)));
}

void TfrmMain::RecordFinished(int row, const TTaskResult& result) {
    std::optional<TOutputRecord> record = Rows->Record(row);
    if (!record)
        return;
    record->Entry.Complete = true;
    Recorder->Read(
        [record = std::move(*record), output = result.OutputFileName] {
            TOutputManifest manifest(record.Folder);
            return RecordOutput(manifest, record.Entry, output);
        },
        [this](const std::string& error) {
            if (!error.empty())
                mmoLog->AppendWithBlankLines(QString::fromStdString("***" + error));
        });
}

void TfrmMain::EndTasks() {
    // The run goes on while ReplayGain's album pass writes its tags; its end ends the run.
    if (GainPass->Running())
        return;
    if (GainPass->Start())
        UpdateRunStatus();
    else
        EndRun();
}

void TfrmMain::EndRun() {
    // The tasks stay with their rows: a later Start converts only the ones added since.
    Running = Paused = Stopping = false;
    if (AskingToClose)
        DismissQuestion();
    UpdateCommands();
    UpdateRunStatus();
}

void TfrmMain::GainPassEnded(const TGainPass::TWritten& written) {
    int filled = 0;
    for (const TGainAlbums::TWritten& output : written) {
        if (output.Error.empty())
            ++filled;
        else
            mmoLog->AppendWithBlankLines(
                QStringLiteral("***%1: ReplayGain not written: %2")
                    .arg(FromPath(output.Output), QString::fromStdString(output.Error)));
    }
    mmoLog->AppendWithBlankLines(
        QStringLiteral("ReplayGain written into %1 of %2 files").arg(filled).arg(written.size()));
    EndRun();
}

// ---- The status bar -----------------------------------------------------------------------------

int64_t TfrmMain::RunActiveMs() const {
    if (!RunClock.isValid())
        return 0;
    return RunClock.elapsed() - PausedMs - (Paused ? PauseClock.elapsed() : 0);
}

QString TfrmMain::RunStatusText() const {
    if (Running)
        return GainPass->Running() ? QStringLiteral("Writing ReplayGain")
               : Stopping          ? QStringLiteral("Stopping")
               : Paused            ? QStringLiteral("Paused")
                                   : QStringLiteral("Converting");
    int counts[rsFailed + 1] = {};
    int warned = 0; // done rows with a warning, counted apart
    for (int row = 0; row < Rows->RowCount(); ++row) {
        const bool warning = Rows->State(row) == rsDone && Rows->HasWarning(row);
        warned += warning;
        counts[Rows->State(row)] += !warning;
    }
    if (counts[rsDone] + warned + counts[rsStopped] + counts[rsFailed] == 0)
        return {};
    const QString warnedText =
        warned > 0 ? QStringLiteral("%1 with a warning, ").arg(warned) : QString();
    return QStringLiteral("%1 done, %2%3 stopped, %4 failed")
        .arg(counts[rsDone])
        .arg(warnedText)
        .arg(counts[rsStopped])
        .arg(counts[rsFailed]);
}

QString TfrmMain::TimeLeftText() const {
    if (!Running)
        return {};
    const TRunFigures figures = Rows->RunFigures();
    const int64_t activeMs = RunActiveMs();
    if (figures.LengthUnknown || figures.ConvertedMs <= 0 || activeMs <= 0)
        return QStringLiteral("Time left: --");
    // The media still to convert at the speed of the run so far.
    const double msPerMediaMs = static_cast<double>(activeMs) / figures.ConvertedMs;
    return QStringLiteral("Time left: ") +
           ClockText(static_cast<int64_t>(figures.LeftMs * msPerMediaMs + 999));
}

int TfrmMain::OverallPercent() const {
    const TRunFigures figures = Rows->RunFigures();
    return figures.LengthMs > 0 ? static_cast<int>(figures.SettledMs * 100 / figures.LengthMs) : 0;
}

void TfrmMain::UpdateRunStatus() {
    StatusPane0->setText(RunStatusText());
    StatusPane1->setText(TimeLeftText());
    ProgressStatus->setValue(OverallPercent());
    ProgressStatus->setTextVisible(!StatusPane0->text().isEmpty()); // no "0%" before any run
}

void TfrmMain::ApplyLogLevel() {
    GetLogger()->SetLogLevel(mmoLog->VerboseAction().isChecked() ? llVerbose : llInfo);
}

void TfrmMain::FFLoggerLog(const void* Sender, unsigned AThreadID, TLogLevel ALogLevel,
                           const std::string& ALogMsg) {
    // The libraries warn of what they handle themselves (an encoder's queue, a muxer's guess):
    // noise to a user unless the log is verbose. The program's own warnings always show.
    const bool libraryLine = Sender == GetLogger();
    if (libraryLine && ALogLevel >= llWarning && ALogLevel != llInfo &&
        !mmoLog->VerboseAction().isChecked())
        return;
    mmoLog->AppendLine(u'#' + QString::number(AThreadID) + u'.' +
                       QString::number(static_cast<int>(ALogLevel)) + QStringLiteral(": ") +
                       QString::fromStdString(ALogMsg));
}

// ---- Outputs, help and the pop-up menu ---------------------------------------------------------

void TfrmMain::PopupMenu1Popup() {
    UpdateCommands();
}

void TfrmMain::OpenWithDesktop(const QString& fileOrFolder) {
    if (!ShellOpen(QUrl::fromLocalFile(fileOrFolder)))
        ShowMessageBox(TBoxIcon::Warning,
                       QStringLiteral("The desktop could not open ") + fileOrFolder + u'.');
}

void TfrmMain::mnuPlayClick() {
    const int entry = Rows->ChosenEntry(SelectedRow());
    if (entry < 0 || !Rows->IsConverted(entry))
        return;
    const QString file = Rows->OutputFile(entry);
    if (QFileInfo(file).isFile())
        OpenWithDesktop(file);
}

void TfrmMain::mnuOpenFolderClick() {
    const int entry = Rows->ChosenEntry(SelectedRow());
    if (entry < 0)
        return;
    // A folder of a tree or of chapters is made with its first output: until then its nearest
    // existing parent is shown.
    QString folder = Rows->OutputFolder(entry);
    while (!folder.isEmpty() && !QFileInfo(folder).isDir() && QFileInfo(folder).path() != folder)
        folder = QFileInfo(folder).path();
    if (!folder.isEmpty() && QFileInfo(folder).isDir())
        OpenWithDesktop(folder);
}

void TfrmMain::ToolButtonHelpClick() {
    ShowHelpTopic(ExecutableFolder(), HelpIntroductionTopic);
}

void TfrmMain::MoreRatedSoftware1Click() {
    if (!ShellOpen(MoreSoftwarePage))
        ShowMessageBox(TBoxIcon::Warning, QStringLiteral("The browser could not be started for ") +
                                              MoreSoftwarePage.toString() + u'.');
}

// ---- Closing and dropping ----------------------------------------------------------------------

void TfrmMain::closeEvent(QCloseEvent* event) {
    if (Running) {
        // A run that ends while the question is up takes the question with it: the window
        // stays, showing how the run ended.
        AskingToClose = true;
        const bool yes = AskQuestion(QStringLiteral("A conversion is running. Stop it and close?"));
        AskingToClose = false;
        if (!yes) {
            event->ignore();
            return;
        }
    }
    SaveWindowSettings();
    // A read under way is not waited for: it may be blocked on an input that never answers.
    ++AddRound;
    Reader->Cancel();
    FileAdds.clear();
    FolderAdds.clear();
    // No handler may touch the window once it is closing; the stop below still serves the
    // workers' hand-overs (log lines) while it waits.
    Component->DetachEvents();
    Relay->Detach();
    Component->StopTasks(true);
    event->accept();
}

void TfrmMain::dragEnterEvent(QDragEnterEvent* event) {
    if (event->mimeData()->hasUrls() && Commands->btnAdd->isEnabled())
        event->acceptProposedAction();
}

void TfrmMain::dropEvent(QDropEvent* event) {
    std::vector<TPathFileName> dropped;
    for (const QUrl& url : event->mimeData()->urls())
        if (url.isLocalFile())
            dropped.push_back(ToPath(url.toLocalFile()));
    event->acceptProposedAction();
    // What is a file and what a folder is asked on the reader's thread, as a dropped name on a
    // share that does not answer would hold the window; the dialogs come after the drop has
    // been answered, never inside the drag's own loop.
    Reader->Read(
        [dropped] {
            std::pair<QStringList, QStringList> filesAndFolders;
            for (const TPathFileName& path : dropped) {
                std::error_code error;
                const std::filesystem::file_status status = std::filesystem::status(path, error);
                if (std::filesystem::is_regular_file(status))
                    filesAndFolders.first << FromPath(path);
                else if (std::filesystem::is_directory(status))
                    filesAndFolders.second << FromPath(path);
            }
            return filesAndFolders;
        },
        [this](const std::pair<QStringList, QStringList>& filesAndFolders) {
            AddFiles(filesAndFolders.first);
            for (const QString& folder : filesAndFolders.second)
                AddFolder(folder);
        });
}
