// The main window: the task list with its toolbar, menus and log pane, the commands that add,
// remove and convert tasks, and the handlers of the conversion component's and the log
// bridge's events.
#ifndef SOUNDPICK_APP_MAINFRM_H
#define SOUNDPICK_APP_MAINFRM_H

#include "FolderAdd.h"
#include "GainPass.h"
#include "InputReads.h"
#include "MainActions.h"
#include "TaskEventRelay.h"

#include "OptionFrm.h"

#include "component/FFmpegComponent.h"
#include "component/OutputPlanner.h"
#include "ffbind/FFmpegLogger.h"

#include <QElapsedTimer>
#include <QMainWindow>

#include <deque>
#include <functional>
#include <memory>

class QLabel;
class QProgressBar;
class QTreeView;
class TInputReader;
class TLogView;
class TTaskListModel;

// Settings that the window holds at fixed values: no control shows them and nothing stores
// them, so every run converts one task at a time on a worker thread of "Lower" priority.
// (The choices the user makes are remembered: see UserSettings.)
struct THiddenMainSettings {
    static constexpr bool ThreadMode = true;           // "Thread Mode"
    static constexpr const char* ThreadCount = "1";    // "Thread Count"
    static constexpr TTaskPriority Priority = tpLower; // "Thread Priority"
};

class TfrmMain : public QMainWindow {
    Q_OBJECT
public:
    explicit TfrmMain(QWidget* parent = nullptr);
    ~TfrmMain() override;

    // ---- Commands (window's thread) -----------------------------------------------------------
    void btnAddClick();
    // Adds files one after another, each through the options dialog. The files are read on the
    // input reader's thread (MainFileAdd.cpp): this returns at once, the rows come later.
    void AddFiles(const QStringList& files);
    void btnAddFolderClick();
    // Adds every file with sound under a folder (hidden ones left out, in path order) with the
    // options chosen once, in the dialog shown for the first; with an output folder the
    // folder's tree is kept under it. Files without sound are counted, not reported one by one.
    // Walked and read on the input reader's thread (MainFolderAdd.cpp): this returns at once;
    // a folder given meanwhile waits for what is being added.
    void AddFolder(const QString& folder);
    // Files or folders are being added (Stop ends it).
    bool Adding() const { return !FileAdds.empty() || !FolderAdds.empty(); }
    void btnRemoveClick();
    void btnClearClick();
    void btnStartClick();
    // Runs the selected row's stopped or failed task again (with any waiting ones).
    void popRunAgainClick();
    void btnStopClick();
    void btnPauseClick();
    void btnResumeClick();
    void ToolButtonSettingsClick() {} // the settings have no window
    void ToolButtonHelpClick();
    void MoreRatedSoftware1Click();
    void PopupMenu1Popup();
    void mnuPlayClick();
    void mnuOpenFolderClick();

    // ---- Event handlers -------------------------------------------------------------------------
    // The component's events, on any thread: their effects take place on the window's thread in
    // the order raised.
    void TesselStart(int AIndex, const TPathFileName& AOutputFileName);
    void TesselProgress(int AIndex, const TProgressInfo& AProgress);
    void TesselTerminate(int AIndex, TTaskEnd AEnd, const std::string& AMessage);
    // The log bridge's lines, on the window's thread: the libraries' warnings only in the verbose
    // log.
    void FFLoggerLog(const void* Sender, unsigned AThreadID, TLogLevel ALogLevel,
                     const std::string& ALogMsg);

    // ---- Parts --------------------------------------------------------------------------------
    const TMainActions& Actions() const { return *Commands; }
    TTaskListModel& TaskList() const { return *Rows; }
    TLogView& LogPane() const { return *mmoLog; }
    QTreeView& FileList() const { return *lvFiles; }
    // Created on the first Add.
    TfrmOption* OptionForm() const { return frmOption; }
    TFFmpegComponent& Tessel() const { return *Component; }
    // The application-data folder made at start-up (left empty).
    QString SettingsFolder() const { return SettingsPath; }
    // The status bar: the run's state, its time left and its overall progress (percent).
    QString RunStatusText() const;
    QString TimeLeftText() const;
    int OverallPercent() const;

protected:
    void closeEvent(QCloseEvent* event) override; // FormCloseQuery
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    void FormCreate();
    void BuildWindow();
    void ConnectCommands();
    void MakeSettingsFolder();
    void RestoreWindowSettings();
    void SaveWindowSettings() const;

    // Whether the FFmpeg libraries are loaded; the first asking starts loading them on the input
    // reader, ahead of every read, and the adding goes on once they are (LibrariesLoaded).
    bool LibrariesReady();
    void LibrariesLoaded(const std::string& error);
    // The libraries' detail follows the log's verbose mode.
    void ApplyLogLevel();
    // The options dialog, made on first need.
    void MakeOptionForm();
    // Adding, one step per result of the input reader: the next file or folder; a file's
    // sheet, probe and options; a folder's next file, its sheets and options.
    void AddNext();
    void FileAdded();
    void FileSheetRead(const QString& fileName, const TSheetRead& sheet);
    void FileProbed(const QString& fileName, TCueRead cue, TPlanInput input,
                    const TReadInput& read);
    void ChooseFileOptions(const TCueRead& cue, const TPlanInput& input, const TReadInput& read);
    void AddFolderStep();
    void FolderFileFound(const std::shared_ptr<TFolderAdd>& add, const TFolderFind& find);
    void FolderFileRead(const std::shared_ptr<TFolderAdd>& add, const TLibraryInput& found,
                        const TReadInput& read);
    void FolderSheetRead(const std::shared_ptr<TFolderAdd>& add, const TLibraryInput& sheet,
                         const TFolderSheet& read);
    // The options for the folder's files, chosen in the dialog for its first file with sound
    // (plan: the output names of that file); false when the dialog was cancelled (the folder
    // is then done) or the adding stopped meanwhile.
    bool ChooseFolderOptions(const std::shared_ptr<TFolderAdd>& add, TfrmOption::TOutputPlan plan,
                             const TReadInput& read);
    // A folder run's cue sheets: asked once per run whether to use them.
    bool UseFolderCueSheets(TFolderAdd& add);
    void EndFolderAdd();
    // Ends every add: a read under way is left to end on its own, its result dropped.
    void StopAdding();
    // The options dialog on a read file; true when accepted.
    bool ShowOptionsFor(const TReadInput& read);
    // Adds ready tasks as rows; how many outputs were planned.
    int AddReady(TReadyPlan ready);
    void AddTask(TReadyOutput output);
    std::shared_ptr<const std::vector<TPathFileName>> ListedSnapshot() const;
    std::vector<TPathFileName> ListedOutputs() const;
    int SelectedRow() const;
    // Every command is enabled exactly when it can act, in the toolbar and the menus alike.
    void UpdateCommands();
    void UpdateRunStatus();
    int64_t RunActiveMs() const;
    // Opens a file or folder with the desktop, saying so when it cannot.
    void OpenWithDesktop(const QString& fileOrFolder);

    void ApplyProgress(int AIndex, const TProgressInfo& progress);
    void ApplyTerminate(int AIndex, TTaskEnd AEnd, const std::string& AMessage);
    // A finished task's output goes into its output folder's record, as soundpick-cli's do.
    void RecordFinished(int row, const TTaskResult& result);
    // After the run's last task: ReplayGain's album pass, or the run's end.
    void EndTasks();
    void EndRun();
    // What the album pass wrote, in the log; then the run ends.
    void GainPassEnded(const TGainPass::TWritten& written);

    std::unique_ptr<TFFmpegComponent> Component; // Tessel
    // Reads the files being added, off the window's thread.
    std::unique_ptr<TInputReader> Reader;
    // Writes the ended tasks' outputs into their output folders' records, off the window's thread
    // (the record reads each output back); never cancelled with the adding.
    std::unique_ptr<TInputReader> Recorder;
    std::unique_ptr<TMainActions> Commands;
    TTaskEventRelay* Relay = nullptr;
    // ReplayGain's album pass over the run's outputs, once the run's tasks have ended.
    std::unique_ptr<TGainPass> GainPass;
    TTaskListModel* Rows = nullptr;
    QTreeView* lvFiles = nullptr;
    TLogView* mmoLog = nullptr;
    QMenu* PopupMenu1 = nullptr;
    TfrmOption* frmOption = nullptr;
    QLabel* StatusPane0 = nullptr;
    QLabel* StatusPane1 = nullptr;
    QProgressBar* ProgressStatus = nullptr;
    QString SettingsPath;
    std::deque<QString> FileAdds;                       // being added, the first one now
    std::deque<std::shared_ptr<TFolderAdd>> FolderAdds; // after the files, the first one now
    unsigned AddRound = 0;                              // bumped by each stop of the adding
    enum TLibraries { lbNotLoaded, lbLoading, lbLoaded } Libraries = lbNotLoaded;
    bool Running = false;       // between Start and the run's end
    bool Paused = false;        // between Pause and Resume
    bool Stopping = false;      // between Stop and the run's end
    bool AskingToClose = false; // the question whether to stop the run and close is up
    QElapsedTimer RunClock;     // since Start
    QElapsedTimer PauseClock;   // since Pause
    int64_t PausedMs = 0;       // of the run, before the current pause
};

#endif
