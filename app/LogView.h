// The main window's log pane: lines are appended only, collected and written in batches so
// that a flood of library messages keeps the window responsive; the oldest lines give way
// beyond MaxLogLines. The view follows new lines only while it is scrolled to the bottom. Its
// context menu switches the verbose log on and off.
#ifndef SOUNDPICK_APP_LOGVIEW_H
#define SOUNDPICK_APP_LOGVIEW_H

#include <QAction>
#include <QPlainTextEdit>
#include <QStringList>
#include <QTimer>

class TLogView : public QPlainTextEdit {
    Q_OBJECT
public:
    static constexpr int MaxLogLines = 100000;
    static constexpr int FlushPeriodMs = 50;

    explicit TLogView(QWidget* parent = nullptr);

    void AppendLine(const QString& line);
    // An empty line, the message and an empty line: how the window's own task messages look.
    void AppendWithBlankLines(const QString& message);
    void Clear();

    // Writes the pending lines now (the timer does it otherwise).
    void Flush();
    // Every line, pending ones included.
    QString Text();

    // Checked: the log also takes what the window leaves out of it otherwise (the libraries'
    // warnings and their detail). The window follows the action's toggled signal.
    QAction& VerboseAction() { return Verbose; }

protected:
    void contextMenuEvent(QContextMenuEvent* event) override;

private:
    void AppendKeepingSelection(const QString& batch);

    QAction Verbose;
    QStringList Pending;
    QTimer FlushTimer;
    // Whether the view shows the last line: kept as the user scrolls rather than read at each
    // flush, since the range can grow after a flush has gone to the bottom (a long line brings
    // the horizontal bar, which takes a line's height) and leave the view short of it.
    bool Following = true;
};

#endif
