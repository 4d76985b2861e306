// The main window's log pane.
#include "LogView.h"

#include <QFontDatabase>

TLogView::TLogView(QWidget* parent) : QPlainTextEdit(parent) {
    setReadOnly(true);
    setUndoRedoEnabled(false);
    setLineWrapMode(QPlainTextEdit::NoWrap);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    setMaximumBlockCount(MaxLogLines);
    setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    FlushTimer.setSingleShot(true);
    FlushTimer.setInterval(FlushPeriodMs);
    connect(&FlushTimer, &QTimer::timeout, this, &TLogView::Flush);
}

void TLogView::AppendLine(const QString& line) {
    Pending.append(line);
    if (!FlushTimer.isActive())
        FlushTimer.start();
}

void TLogView::AppendWithBlankLines(const QString& message) {
    AppendLine(QString());
    AppendLine(message);
    AppendLine(QString());
}

void TLogView::Clear() {
    Pending.clear();
    FlushTimer.stop();
    clear();
}

void TLogView::Flush() {
    FlushTimer.stop();
    if (Pending.isEmpty())
        return;
    // One block per line: appendPlainText of the joined batch makes a block per line break.
    const QString batch = Pending.join(u'\n');
    Pending.clear();
    appendPlainText(batch);
}

QString TLogView::Text() {
    Flush();
    return toPlainText();
}
