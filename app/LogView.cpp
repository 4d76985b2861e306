// The main window's log pane.
#include "LogView.h"

#include <QFontDatabase>
#include <QScrollBar>

#include <algorithm>

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
    QScrollBar* bar = verticalScrollBar();
    connect(bar, &QScrollBar::valueChanged, this,
            [this, bar](int value) { Following = value >= bar->maximum(); });
    connect(bar, &QScrollBar::rangeChanged, this, [this, bar](int, int maximum) {
        if (Following)
            bar->setValue(maximum);
    });
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
    Following = true;
}

void TLogView::Flush() {
    FlushTimer.stop();
    if (Pending.isEmpty())
        return;
    // The view follows new lines while it shows the last one; a user reading further up keeps
    // the lines in view, even when the oldest lines give way.
    QScrollBar* bar = verticalScrollBar();
    const bool following = Following;
    const int firstShownLine = bar->value();
    const int linesBefore = blockCount();
    const int added = static_cast<int>(Pending.size());
    // One block per line: appendPlainText of the joined batch makes a block per line break.
    const QString batch = Pending.join(u'\n');
    Pending.clear();
    appendPlainText(batch);
    if (following) {
        bar->setValue(bar->maximum());
        return;
    }
    const int droppedLines = std::max(0, linesBefore + added - blockCount());
    bar->setValue(std::max(0, firstShownLine - droppedLines));
}

QString TLogView::Text() {
    Flush();
    return toPlainText();
}
