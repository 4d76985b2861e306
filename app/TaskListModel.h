// The rows of the main window's task list, each kept together with its task's output folder,
// output file, converted mark and state, so that row i, task i of the component and output
// entry i can never drift apart. The rows also give the figures of a run's overall progress.
#ifndef SOUNDPICK_APP_TASKLISTMODEL_H
#define SOUNDPICK_APP_TASKLISTMODEL_H

#include "component/OutputManifest.h"
#include "component/TaskResult.h"
#include "engine/ProgressReport.h"

#include <QAbstractTableModel>
#include <QIcon>
#include <QVector>

#include <array>
#include <cstdint>
#include <optional>

enum TTaskColumn {
    tcInput,
    tcTotalTime,
    tcInputSize,
    tcOutput,
    tcProgress,
    tcStatus,
    tcFPS,
    tcCurrentTime,
    tcOutputSize,
    tcColumnCount
};

// Where a row's task stands. Only a waiting task is converted by the next Start.
enum TRowState { rsWaiting, rsConverting, rsPaused, rsDone, rsStopped, rsFailed };

// A run's figures over the rows it converts, in media time.
struct TRunFigures {
    int64_t ConvertedMs = 0;    // written so far
    int64_t LeftMs = 0;         // still to write by the rows not ended
    bool LengthUnknown = false; // a row not ended has no known length: LeftMs is too short
    // For the overall progress: the run's whole length, and the part of it that is settled
    // (written, or given up by a failed row; a stopped row's rest stays unsettled).
    int64_t LengthMs = 0;
    int64_t SettledMs = 0;
};

class TTaskListModel : public QAbstractTableModel {
    Q_OBJECT
public:
    explicit TTaskListModel(QObject* parent = nullptr);

    static QString ColumnCaption(int column);
    static int ColumnWidth(int column);
    // "Failed: " and the first line of the engine's message, its reason before the path it is
    // about (the whole message is in the cell's tooltip).
    static QString FailedText(const QString& message);

    // A new, waiting row: the input's name part, the length its output will have (ms; -1 when
    // unknown), the input's size and the output's full name, and what its output folder's record
    // is to say of the output once the task ends (none outside an output folder).
    void AddTask(const QString& inputFile, int64_t lengthMs, int64_t fileSizeBytes,
                 const QString& outputFile, std::optional<TOutputRecord> record = {});
    void RemoveTask(int row);
    // The output name the row's task took when it started.
    void SetOutputFile(int row, const QString& outputFile);
    // A stopped or failed row waits again, its last run's figures cleared; false for others.
    bool RunAgain(int row);
    void ClearTasks();

    int RowCount() const { return static_cast<int>(Rows.size()); }
    QString Cell(int row, int column) const;

    QString OutputFolder(int row) const { return Rows.at(row).OutputFolder; }
    QString OutputFile(int row) const { return Rows.at(row).OutputFile; }
    bool IsConverted(int row) const { return Rows.at(row).Converted; }
    const std::optional<TOutputRecord>& Record(int row) const { return Rows.at(row).Record; }
    TRowState State(int row) const { return Rows.at(row).State; }
    int WaitingCount() const;
    // The row ended stopped or failed (false for no row).
    bool Unfinished(int row) const;

    // The waiting rows make up the run that starts now.
    void BeginRun();
    // A progress report of the row's task.
    void ApplyProgress(int row, const TProgressInfo& progress);
    // The task's end: done, stopped or failed with the message. Every end but a failure marks
    // the output converted.
    void ApplyEnd(int row, TTaskEnd end, const QString& message);
    // A done row whose output is not all it should be: the status reads "Done — " and the
    // summary in a warning colour, the tooltip the whole message first.
    void SetWarning(int row, const QString& summary, const QString& message);
    bool HasWarning(int row) const { return !Rows.at(row).WarningSummary.isEmpty(); }
    // The figures of the row's loudness normalisation, shown in its tooltip.
    void SetLoudnessText(int row, const QString& text);
    // Converting rows become paused, or paused rows converting again.
    void SetPaused(bool paused);
    TRunFigures RunFigures() const;

    // The output entry that "Play Output" and "Open Folder" act on: the selected row when there
    // is one, else the last entry; -1 with no entries.
    int ChosenEntry(int selectedRow) const;

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

private:
    struct TRow {
        std::array<QString, tcColumnCount> Cells;
        QString OutputFolder; // with its trailing "/"
        QString OutputFile;
        bool Converted = false;
        TRowState State = rsWaiting;
        bool InRun = false;
        int64_t LengthMs = -1; // the output's expected length
        int64_t CurrentMs = 0; // written so far
        int Percent = -1;      // the last percentage shown
        QString EndMessage;    // the engine's whole message of a failed or stopped task
        QString WarningSummary, WarningMessage;
        QString LoudnessText;
        std::optional<TOutputRecord> Record;
    };
    bool ValidRow(int row) const { return row >= 0 && row < RowCount(); }
    void SetCell(int row, int column, const QString& text);
    void SetState(int row, TRowState state);
    QString StatusText(const TRow& row) const;
    QString ToolTip(const TRow& row, int column) const;

    QVector<TRow> Rows;
    QIcon RowIcon;
    QIcon FailedIcon;
};

#endif
