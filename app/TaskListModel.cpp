// The rows of the main window's task list.
#include "TaskListModel.h"

#include "UtilFuncs.h"

#include "ffbind/FFUtils.h"

#include <QApplication>
#include <QColor>
#include <QFileInfo>
#include <QRegularExpression>
#include <QStyle>

#include <algorithm>

namespace {

struct TColumn {
    const char* Caption;
    int Width;
};

// The window's default width shows them all.
// The status is the widest: a failure's reason reads there.
constexpr TColumn Columns[tcColumnCount] = {
    {"Input", 130},  {"Total Time", 72}, {"Input Size", 72},   {"Output", 150},    {"Progress", 66},
    {"Status", 260}, {"FPS", 50},        {"Current Time", 80}, {"Output Size", 80}};

// The status colours: a failure, and an end with a warning (amber, readable on white).
const QColor FailedColor(176, 0, 32);
const QColor WarningColor(160, 96, 0);

QString SizeCell(int64_t sizeBytes) {
    return QString::fromStdString(SizeText(sizeBytes));
}

// The words that say why before the file they are about, which a narrow cell would show alone:
// "Could not open '/a/b.mp3': Permission denied" reads "Permission denied: could not open
// /a/b.mp3", and "/a/b.mp3: the output was removed" reads "The output was removed: /a/b.mp3".
QString ReasonFirst(const QString& line) {
    static const QRegularExpression quotedPath(
        QStringLiteral("^(.*?)\\s*'(/[^']*)'\\s*:\\s*(.+)$"));
    static const QRegularExpression leadingPath(QStringLiteral("^(/[^:]*):\\s*(.+)$"));
    const auto capital = [](QString text) {
        if (!text.isEmpty())
            text[0] = text[0].toUpper();
        return text;
    };
    // "Could" but not "AAC": a word of capitals stays as it is.
    const auto small = [](QString text) {
        if (text.size() > 1 && text[1].isLower())
            text[0] = text[0].toLower();
        return text;
    };
    if (const QRegularExpressionMatch match = quotedPath.match(line); match.hasMatch())
        return capital(match.captured(3)) + QStringLiteral(": ") + small(match.captured(1)) + u' ' +
               match.captured(2);
    if (const QRegularExpressionMatch match = leadingPath.match(line); match.hasMatch())
        return capital(match.captured(2)) + QStringLiteral(": ") + match.captured(1);
    return line;
}

} // namespace

TTaskListModel::TTaskListModel(QObject* parent)
    : QAbstractTableModel(parent), RowIcon(QStringLiteral(":/icons/row.svg")),
      FailedIcon(QApplication::style()->standardIcon(QStyle::SP_MessageBoxCritical)) {}

QString TTaskListModel::ColumnCaption(int column) {
    return QString::fromLatin1(Columns[column].Caption);
}

int TTaskListModel::ColumnWidth(int column) {
    return Columns[column].Width;
}

QString TTaskListModel::FailedText(const QString& message) {
    return QStringLiteral("Failed: ") + ReasonFirst(message.section(u'\n', 0, 0).trimmed());
}

void TTaskListModel::AddTask(const QString& inputFile, int64_t lengthMs, int64_t fileSizeBytes,
                             const QString& outputFile, std::optional<TOutputRecord> record) {
    TRow row;
    row.Cells[tcInput] = QFileInfo(inputFile).fileName();
    row.Cells[tcTotalTime] = ClockText(lengthMs);
    row.Cells[tcInputSize] = SizeCell(fileSizeBytes);
    row.Cells[tcOutput] = QFileInfo(outputFile).fileName();
    row.OutputFolder = WithTrailingSlash(QFileInfo(outputFile).path());
    row.OutputFile = outputFile;
    row.LengthMs = lengthMs;
    row.Record = std::move(record);
    beginInsertRows({}, RowCount(), RowCount());
    Rows.append(row);
    endInsertRows();
}

void TTaskListModel::SetOutputFile(int row, const QString& outputFile) {
    if (!ValidRow(row))
        return;
    Rows[row].OutputFolder = WithTrailingSlash(QFileInfo(outputFile).path());
    Rows[row].OutputFile = outputFile;
    SetCell(row, tcOutput, QFileInfo(outputFile).fileName());
}

bool TTaskListModel::RunAgain(int row) {
    if (!Unfinished(row))
        return false;
    TRow& entry = Rows[row];
    entry.CurrentMs = 0;
    entry.Percent = -1;
    entry.Converted = false;
    entry.EndMessage.clear();
    entry.LoudnessText.clear();
    for (const int column : {tcProgress, tcFPS, tcCurrentTime, tcOutputSize})
        SetCell(row, column, QString());
    SetState(row, rsWaiting);
    return true;
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
    if (!ValidRow(row))
        return {};
    return column == tcStatus ? StatusText(Rows.at(row)) : Rows.at(row).Cells.at(column);
}

void TTaskListModel::SetCell(int row, int column, const QString& text) {
    if (Rows[row].Cells.at(column) == text)
        return;
    Rows[row].Cells.at(column) = text;
    emit dataChanged(index(row, column), index(row, column), {Qt::DisplayRole});
}

void TTaskListModel::SetState(int row, TRowState state) {
    Rows[row].State = state;
    emit dataChanged(index(row, 0), index(row, tcColumnCount - 1));
}

int TTaskListModel::WaitingCount() const {
    return static_cast<int>(std::count_if(Rows.begin(), Rows.end(),
                                          [](const TRow& row) { return row.State == rsWaiting; }));
}

bool TTaskListModel::Unfinished(int row) const {
    return ValidRow(row) && (Rows[row].State == rsStopped || Rows[row].State == rsFailed);
}

void TTaskListModel::BeginRun() {
    for (TRow& row : Rows)
        row.InRun = row.State == rsWaiting;
}

void TTaskListModel::ApplyProgress(int row, const TProgressInfo& progress) {
    if (!ValidRow(row))
        return;
    TRow& entry = Rows[row];
    if (progress.TotalDurationMs > 0) {
        entry.LengthMs = progress.TotalDurationMs;
        // 64-bit: a run of more than about six hours would overflow 32 bits here.
        entry.Percent =
            static_cast<int>(int64_t{progress.CurrentDurationMs} * 100 / progress.TotalDurationMs);
        SetCell(row, tcProgress, QString::number(entry.Percent) + u'%');
    }
    entry.CurrentMs = progress.CurrentDurationMs;
    if (progress.Fps > 0)
        SetCell(row, tcFPS, QString::number(progress.Fps));
    SetCell(row, tcCurrentTime, ClockText(progress.CurrentDurationMs));
    SetCell(row, tcOutputSize, SizeCell(progress.CurrentSizeBytes));
    if (entry.State == rsWaiting)
        SetState(row, rsConverting);
}

void TTaskListModel::ApplyEnd(int row, TTaskEnd end, const QString& message) {
    if (!ValidRow(row))
        return;
    TRow& entry = Rows[row];
    const bool finished = IsFinished(end);
    const bool failed = end == teFailed;
    if (finished) {
        SetCell(row, tcProgress, QStringLiteral("100%"));
        if (entry.LengthMs > 0)
            entry.CurrentMs = entry.LengthMs;
    }
    // Playable when the task left its output: a task stopped before it started has none.
    entry.Converted = !failed && QFileInfo(entry.OutputFile).isFile();
    // A failure's reason, or why a stopped task kept no file.
    entry.EndMessage = finished ? QString() : message;
    entry.WarningSummary.clear();
    entry.WarningMessage.clear();
    SetState(row, failed ? rsFailed : finished ? rsDone : rsStopped);
}

void TTaskListModel::SetWarning(int row, const QString& summary, const QString& message) {
    if (!ValidRow(row))
        return;
    Rows[row].WarningSummary = summary;
    Rows[row].WarningMessage = message;
    SetState(row, Rows[row].State); // the status cell's text and colour
}

void TTaskListModel::SetPaused(bool paused) {
    const TRowState from = paused ? rsConverting : rsPaused;
    for (int row = 0; row < RowCount(); ++row) {
        if (Rows[row].State == from)
            SetState(row, paused ? rsPaused : rsConverting);
    }
}

TRunFigures TTaskListModel::RunFigures() const {
    TRunFigures figures;
    for (const TRow& row : Rows) {
        if (!row.InRun)
            continue;
        const int64_t lengthMs = std::max(row.LengthMs, row.CurrentMs);
        figures.ConvertedMs += row.CurrentMs;
        figures.LengthMs += lengthMs;
        figures.SettledMs += row.State == rsFailed ? lengthMs : row.CurrentMs;
        const bool ended = row.State == rsDone || row.State == rsStopped || row.State == rsFailed;
        if (ended)
            continue;
        if (row.LengthMs > 0)
            figures.LeftMs += lengthMs - row.CurrentMs;
        else
            figures.LengthUnknown = true;
    }
    return figures;
}

QString TTaskListModel::StatusText(const TRow& row) const {
    switch (row.State) {
    case rsWaiting:
        return QStringLiteral("Waiting");
    case rsConverting:
        return QStringLiteral("Converting");
    case rsPaused:
        return QStringLiteral("Paused");
    case rsDone:
        return row.WarningSummary.isEmpty() ? QStringLiteral("Done")
                                            : QStringLiteral("Done — ") + row.WarningSummary;
    case rsStopped:
        if (!row.EndMessage.isEmpty())
            return row.EndMessage;
        return row.Percent < 0 ? QStringLiteral("Stopped")
                               : QStringLiteral("Stopped at %1 %").arg(std::max(row.Percent, 0));
    case rsFailed:
        break;
    }
    return FailedText(row.EndMessage);
}

QString TTaskListModel::ToolTip(const TRow& row, int column) const {
    // The status's whole reason, which the cell may cut, comes first; the output's path last.
    QString tip = row.OutputFile;
    if (column == tcStatus && row.State == rsFailed)
        tip = row.EndMessage + u'\n' + tip;
    if (column == tcStatus && row.State == rsDone && !row.WarningMessage.isEmpty())
        tip = row.WarningMessage + u'\n' + tip;
    if (!row.LoudnessText.isEmpty())
        tip += u'\n' + row.LoudnessText;
    return tip;
}

void TTaskListModel::SetLoudnessText(int row, const QString& text) {
    if (ValidRow(row))
        Rows[row].LoudnessText = text;
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
    const TRow& row = Rows.at(index.row());
    const bool failedStatus = index.column() == tcStatus && row.State == rsFailed;
    switch (role) {
    case Qt::DisplayRole:
        return Cell(index.row(), index.column());
    case Qt::ToolTipRole:
        return ToolTip(row, index.column());
    case Qt::DecorationRole:
        if (index.column() == tcInput)
            return RowIcon;
        return failedStatus ? QVariant(FailedIcon) : QVariant();
    case Qt::ForegroundRole:
        if (failedStatus)
            return FailedColor;
        if (index.column() == tcStatus && row.State == rsDone && !row.WarningSummary.isEmpty())
            return WarningColor;
        return {};
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
