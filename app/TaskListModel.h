// The rows of the main window's task list, each kept together with its task's output folder,
// output file and converted mark, so that row i, task i of the component and output entry i
// can never drift apart.
#ifndef SOUNDPICK_APP_TASKLISTMODEL_H
#define SOUNDPICK_APP_TASKLISTMODEL_H

#include <QAbstractTableModel>
#include <QIcon>
#include <QVector>

#include <array>
#include <cstdint>

enum TTaskColumn {
    tcInput,
    tcTotalTime,
    tcFileSize,
    tcOutput,
    tcProgress,
    tcFPS,
    tcCurrentTime,
    tcCurrentSize,
    tcColumnCount
};

class TTaskListModel : public QAbstractTableModel {
    Q_OBJECT
public:
    explicit TTaskListModel(QObject* parent = nullptr);

    static QString ColumnCaption(int column);
    static int ColumnWidth(int column);

    // A new row: the input's name part, its length in whole seconds, its size in bytes and the
    // output's full name (its folder and file are kept for playing and opening).
    void AddTask(const QString& inputFile, int64_t totalSeconds, int64_t fileSizeBytes,
                 const QString& outputFile);
    void RemoveTask(int row);
    void ClearTasks();

    int RowCount() const { return static_cast<int>(Rows.size()); }
    QString Cell(int row, int column) const;
    void SetCell(int row, int column, const QString& text);

    QString OutputFolder(int row) const { return Rows.at(row).OutputFolder; }
    QString OutputFile(int row) const { return Rows.at(row).OutputFile; }
    bool IsConverted(int row) const { return Rows.at(row).Converted; }
    void SetConverted(int row);

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
    };
    bool ValidRow(int row) const { return row >= 0 && row < RowCount(); }

    QVector<TRow> Rows;
    QIcon RowIcon;
};

#endif
