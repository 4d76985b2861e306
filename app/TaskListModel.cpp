// The rows of the main window's task list.
#include "TaskListModel.h"

#include "UtilFuncs.h"

#include <QFileInfo>

namespace {

struct TColumn {
    const char* Caption;
    int Width;
};

constexpr TColumn Columns[tcColumnCount] = {
    {"Input", 180},   {"Total Time", 90}, {"File Size", 90},    {"Output", 180},
    {"Progress", 80}, {"FPS", 80},        {"Current Time", 80}, {"File Size", 80}};

} // namespace

TTaskListModel::TTaskListModel(QObject* parent)
    : QAbstractTableModel(parent), RowIcon(QStringLiteral(":/icons/row.svg")) {}

QString TTaskListModel::ColumnCaption(int column) {
    return QString::fromLatin1(Columns[column].Caption);
}

int TTaskListModel::ColumnWidth(int column) {
    return Columns[column].Width;
}

void TTaskListModel::AddTask(const QString& inputFile, int64_t totalSeconds, int64_t fileSizeBytes,
                             const QString& outputFile) {
    TRow row;
    row.Cells[tcInput] = QFileInfo(inputFile).fileName();
    row.Cells[tcTotalTime] = QString::number(totalSeconds);
    row.Cells[tcFileSize] = QString::number(fileSizeBytes);
    row.Cells[tcOutput] = QFileInfo(outputFile).fileName();
    row.OutputFolder = WithTrailingSlash(QFileInfo(outputFile).path());
    row.OutputFile = outputFile;
    beginInsertRows({}, RowCount(), RowCount());
    Rows.append(row);
    endInsertRows();
}

void TTaskListModel::RemoveTask(int row) {
    if (!ValidRow(row))
        return;
    beginRemoveRows({}, row, row);
    Rows.removeAt(row);
    endRemoveRows();
}

void TTaskListModel::ClearTasks() {
    beginResetModel();
    Rows.clear();
    endResetModel();
}

QString TTaskListModel::Cell(int row, int column) const {
    return ValidRow(row) ? Rows.at(row).Cells.at(column) : QString();
}

void TTaskListModel::SetCell(int row, int column, const QString& text) {
    if (!ValidRow(row) || Rows[row].Cells.at(column) == text)
        return;
    Rows[row].Cells.at(column) = text;
    emit dataChanged(index(row, column), index(row, column), {Qt::DisplayRole});
}

void TTaskListModel::SetConverted(int row) {
    if (ValidRow(row))
        Rows[row].Converted = true;
}

int TTaskListModel::ChosenEntry(int selectedRow) const {
    if (selectedRow >= 0 && selectedRow < RowCount())
        return selectedRow;
    return RowCount() - 1;
}

int TTaskListModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : RowCount();
}

int TTaskListModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : tcColumnCount;
}

QVariant TTaskListModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || !ValidRow(index.row()))
        return {};
    switch (role) {
    case Qt::DisplayRole:
    case Qt::ToolTipRole:
        return Rows.at(index.row()).Cells.at(index.column());
    case Qt::DecorationRole:
        return index.column() == tcInput ? QVariant(RowIcon) : QVariant();
    default:
        return {};
    }
}

QVariant TTaskListModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole || section < 0 ||
        section >= tcColumnCount)
        return {};
    return ColumnCaption(section);
}
