// The main window's log pane.
#include "LogView.h"

#include <QContextMenuEvent>
#include <QFontDatabase>
#include <QMenu>
#include <QScrollBar>
#include <QTextBlock>

#include <algorithm>
#include <memory>

TLogView::TLogView(QWidget* parent)
    : QPlainTextEdit(parent), Verbose(QStringLiteral("&Verbose Log"), this) {
    Verbose.setObjectName(QStringLiteral("actVerboseLog"));
    Verbose.setCheckable(true);
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
    AppendKeepingSelection(batch);
    if (following) {
        bar->setValue(bar->maximum());
        return;
    }
    const int droppedLines = std::max(0, linesBefore + added - blockCount());
    bar->setValue(std::max(0, firstShownLine - droppedLines));
}

// A selection reaching the last line would take in every line appended after it: the selection
// keeps its own characters (moved up by those the oldest lines took with them).
void TLogView::AppendKeepingSelection(const QString& batch) {
    // Plain numbers: a cursor kept across the change would move with it.
    const bool selected = textCursor().hasSelection();
    const int anchor = textCursor().anchor();
    const int position = textCursor().position();
    const int charactersBefore = document()->characterCount();
    appendPlainText(batch);
    if (!selected)
        return;
    const int appended = static_cast<int>(batch.size()) + 1; // and the line break before it
    const int dropped = charactersBefore + appended - document()->characterCount();
    QTextCursor kept(document());
    kept.setPosition(std::max(0, anchor - dropped));
    kept.setPosition(std::max(0, position - dropped), QTextCursor::KeepAnchor);
    setTextCursor(kept);
}

void TLogView::contextMenuEvent(QContextMenuEvent* event) {
    const std::unique_ptr<QMenu> menu(createStandardContextMenu(event->pos()));
    menu->addSeparator();
    menu->addAction(&Verbose);
    menu->exec(event->globalPos());
}

QString TLogView::Text() {
    Flush();
    return toPlainText();
}
