// The main window's commands and event handling, driven through its real actions and the
// component's event entry points (raised from other threads, as the component raises them).
#include "AppTestSupport.h"

#include "HTMLHelp_Decl.h"
#include "LogView.h"
#include "MainFrm.h"
#include "TaskListModel.h"
#include "UtilFuncs.h"

#include "engine/EngineErrors.h"
#include "ffbind/FFUtils.h"
#include "ffbind/MainThread.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QHeaderView>
#include <QRegularExpression>
#include <QScrollBar>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>
#include <QTextBlock>
#include <QTreeView>

#include <memory>
#include <stdexcept>
#include <thread>

namespace {

// Runs fn on a thread of its own and waits for it, as a worker or delivery thread would call.
void OnOtherThread(const std::function<void()>& fn) {
    std::thread(fn).join();
}

QMap<QString, bool> ButtonStates(const TfrmMain& window) {
    const TMainActions& a = window.Actions();
    QMap<QString, bool> states;
    for (QAction* button :
         {a.btnAdd, a.btnRemove, a.btnClear, a.btnStart, a.btnStop, a.btnPause, a.btnResume})
        states[button->objectName()] = button->isEnabled();
    return states;
}

// The enabled commands among Add, Remove, Clear, Start, Stop, Pause, Resume, as a word of
// their initials; the menu items must agree with the buttons.
QString Enabled(const TfrmMain& window) {
    const TMainActions& a = window.Actions();
    const std::pair<QAction*, QAction*> commands[] = {
        {a.btnAdd, a.menu1},  {a.btnRemove, a.menu2}, {a.btnClear, a.menu3}, {a.btnStart, a.menu4},
        {a.btnStop, a.menu5}, {a.btnPause, a.menu6},  {a.btnResume, a.menu7}};
    QString word;
    for (const auto& [button, item] : commands) {
        if (button->isEnabled() != item->isEnabled())
            return QStringLiteral("menu differs: ") + item->objectName();
        if (button->isEnabled())
            word += button->text().at(0);
    }
    return word;
}

// A progress event of an audio task: frame 1 as the window's handlers have always been given.
TProgressInfo ProgressAt(int fps, int currentMs, int64_t sizeBytes, int totalMs) {
    return {.FrameNumber = 1,
            .Fps = fps,
            .CurrentDurationMs = currentMs,
            .Quality = 0,
            .CurrentSizeBytes = sizeBytes,
            .TotalDurationMs = totalMs};
}

} // namespace

class TMainWindowTest : public QObject {
    Q_OBJECT
private:
    std::unique_ptr<TfrmMain> Window;
    QTemporaryDir Outputs;

    TTaskListModel& Rows() { return Window->TaskList(); }
    QString Cell(int row, int column) { return Rows().Cell(row, column); }
    // A row as the window adds it, with an output file that exists.
    QString AddRow(const QString& name) {
        const QString output = Outputs.filePath(name + QStringLiteral("_(new).mp3"));
        QFile file(output);
        file.open(QIODevice::WriteOnly);
        file.write("ID3");
        Rows().AddTask(QStringLiteral("/videos/") + name + QStringLiteral(".avi"), 12000, 3456,
                       output);
        return output;
    }
    void Progress(int index, int fps, int currentMs, int64_t sizeBytes, int totalMs) {
        OnOtherThread(
            [&] { Window->TesselProgress(index, ProgressAt(fps, currentMs, sizeBytes, totalMs)); });
    }
    void Terminate(int index, TTaskEnd end, const std::string& message = {}) {
        OnOtherThread([&] { Window->TesselTerminate(index, end, message); });
    }

private slots:
    void init() {
        TDesktopRecorder::Reset();
        ResetSettings();
        Window = std::make_unique<TfrmMain>();
    }
    void cleanup() { Window.reset(); }

    void StartWithAnEmptyListShowsItsBoxAndChangesNoButton() {
        const auto before = ButtonStates(*Window);
        Window->Actions().btnStart->trigger();
        QCOMPARE(TDesktopRecorder::Boxes.size(), size_t(1));
        QCOMPARE(TDesktopRecorder::Boxes[0].Icon, TBoxIcon::Information);
        QCOMPARE(TDesktopRecorder::Boxes[0].Caption, QStringLiteral("Soundpick"));
        QCOMPARE(TDesktopRecorder::Boxes[0].Text,
                 QStringLiteral("There are no files in the list!"));
        QCOMPARE(ButtonStates(*Window), before);
    }

    void ProgressFillsTheRowOnTheWindowsThread() {
        AddRow(QStringLiteral("Talk"));
        Progress(0, 25, 30500, 123456, 61000);
        QTRY_COMPARE(Cell(0, tcProgress), QStringLiteral("50%"));
        QCOMPARE(Cell(0, tcCurrentTime), QStringLiteral("0:30"));
        QCOMPARE(Cell(0, tcFPS), QStringLiteral("25"));
        QCOMPARE(Cell(0, tcOutputSize), QStringLiteral("120.56 KB"));
        QCOMPARE(Cell(0, tcOutputSize), QString::fromStdString(SizeText(123456)));

        // FPS 0 leaves the cell; an unknown total leaves the percentage.
        Progress(0, 0, 31999, 130000, 0);
        QTRY_COMPARE(Cell(0, tcCurrentTime), QStringLiteral("0:31"));
        QCOMPARE(Cell(0, tcFPS), QStringLiteral("25"));
        QCOMPARE(Cell(0, tcProgress), QStringLiteral("50%"));

        // Hours of output: the percentage must not overflow.
        Progress(0, 0, 7000000, 1, 7200000);
        QTRY_COMPARE(Cell(0, tcProgress), QStringLiteral("97%"));
        QCOMPARE(Cell(0, tcCurrentTime), QStringLiteral("1:56:40"));
    }

    void ProgressAndEndKeepTheirOrderUnderAFlood() {
        AddRow(QStringLiteral("Talk"));
        OnOtherThread([&] {
            for (int ms = 0; ms <= 60000; ms += 10)
                Window->TesselProgress(0, ProgressAt(1, ms, ms, 60000));
            Window->TesselTerminate(0, teFinished, {});
        });
        // The end comes last: nothing later writes an older percentage over "100%".
        QTRY_VERIFY(Rows().IsConverted(0));
        QCOMPARE(Cell(0, tcProgress), QStringLiteral("100%"));
        QCOMPARE(Cell(0, tcCurrentTime), QStringLiteral("1:00"));
    }

    void AStoppedTaskKeepsItsPercentageAndBecomesPlayableWhenItWroteSome() {
        const QString output = AddRow(QStringLiteral("Talk"));
        Progress(0, 25, 24400, 1000, 61000);
        Terminate(0, teStopped);
        QTRY_VERIFY(Rows().IsConverted(0));
        QCOMPARE(Cell(0, tcProgress), QStringLiteral("40%"));
        QCOMPARE(Cell(0, tcStatus), QStringLiteral("Stopped at 40 %"));
        QVERIFY(TDesktopRecorder::Boxes.empty());
        QVERIFY(Window->Actions().mnuPlay->isEnabled());
        Window->Actions().mnuPlay->trigger();
        QCOMPARE(TDesktopRecorder::Opened.size(), size_t(1));
        QCOMPARE(TDesktopRecorder::Opened[0], QUrl::fromLocalFile(output));

        // Stopped before it started: no percentage, and no output to play.
        QFile::remove(AddRow(QStringLiteral("Never")));
        Terminate(1, teStopped);
        QTRY_COMPARE(Cell(1, tcStatus), QStringLiteral("Stopped"));
        QVERIFY(!Rows().IsConverted(1));
    }

    // The row shows the name the task took at its start; a task stopped before it wrote any
    // sound says that it kept no file.
    void TheRowFollowsTheStartAndAStopWithoutSound() {
        AddRow(QStringLiteral("Talk"));
        const QString taken = Outputs.filePath(QStringLiteral("Talk_(new_1).mp3"));
        OnOtherThread([&] { Window->TesselStart(0, ToPath(taken)); });
        QTRY_COMPARE(Cell(0, tcOutput), QStringLiteral("Talk_(new_1).mp3"));
        QCOMPARE(Rows().OutputFile(0), taken);
        Terminate(0, teStopped, StoppedWithoutSoundText);
        QTRY_COMPARE(Cell(0, tcStatus), QString::fromLatin1(StoppedWithoutSoundText));
        QVERIFY(TDesktopRecorder::Boxes.empty());
        QVERIFY(!Rows().IsConverted(0));
    }

    // A failure shows in the row, the summary and the log, never in a box that would halt the
    // run's watcher; the row gives the reason first and the path last.
    void AFailedTaskShowsItsReasonInTheRowAndStaysUnplayable() {
        AddRow(QStringLiteral("Talk"));
        Terminate(0, teFailed, "Could not write header for output file #0");
        QTRY_VERIFY(Window->LogPane().Text().contains(
            QStringLiteral("***Talk.avi failed: Could not write header for output file #0")));
        QVERIFY(TDesktopRecorder::Boxes.empty());
        QVERIFY(!Rows().IsConverted(0));
        QVERIFY(Cell(0, tcProgress).isEmpty());
        QCOMPARE(Cell(0, tcStatus),
                 QStringLiteral("Failed: Could not write header for output file #0"));
        QCOMPARE(Rows().data(Rows().index(0, tcStatus), Qt::ToolTipRole).toString(),
                 QStringLiteral("Could not write header for output file #0\n") +
                     Rows().OutputFile(0));
        const std::pair<const char*, const char*> texts[] = {
            {"Could not open '/m/a b.mp3': Permission denied",
             "Failed: Permission denied: could not open /m/a b.mp3"},
            {"/m/a.mp3: the output was removed while it was written",
             "Failed: The output was removed while it was written: /m/a.mp3"},
            {"AAC for '/m/a.mp3': not supported", "Failed: Not supported: AAC for /m/a.mp3"},
            {"Error while opening encoder", "Failed: Error while opening encoder"}};
        for (const auto& [message, shown] : texts)
            QCOMPARE(TTaskListModel::FailedText(QString::fromUtf8(message)),
                     QString::fromUtf8(shown));
        // The whole first line: the view cuts what its column cannot show, the tooltip not.
        QCOMPARE(TTaskListModel::FailedText(QString(200, u'x') + QStringLiteral("\nmore")),
                 QStringLiteral("Failed: ") + QString(200, u'x'));
        Window->PopupMenu1Popup();
        QVERIFY(!Window->Actions().mnuPlay->isEnabled());
        Window->Actions().mnuPlay->trigger();
        QVERIFY(TDesktopRecorder::Opened.empty());
    }

    // Statuses and commands through a run of three: one done, one failed, one stopped.
    void StatusesAndCommandsFollowTheRun() {
        QCOMPARE(Enabled(*Window), QStringLiteral("AS")); // Start still tells of the empty list
        for (const char* name : {"One", "Two", "Three"})
            AddRow(QString::fromLatin1(name));
        QCOMPARE(Enabled(*Window), QStringLiteral("ACS"));
        Window->FileList().selectionModel()->select(
            Rows().index(2, 0), QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
        QCOMPARE(Enabled(*Window), QStringLiteral("ARCS"));
        QCOMPARE(Cell(2, tcStatus), QStringLiteral("Waiting"));

        const TMainActions& a = Window->Actions();
        a.menu4->trigger();
        QCOMPARE(Enabled(*Window), QStringLiteral("SP")); // Stop, Pause
        Progress(0, 1, 30000, 1000, 60000);
        QTRY_COMPARE(Cell(0, tcStatus), QStringLiteral("Converting"));
        // 30 s of 60 s done, two rows of 12 s to come.
        QCOMPARE(Window->OverallPercent(), 35);
        QVERIFY(Window->TimeLeftText().startsWith(QStringLiteral("Time left: ")));
        a.btnPause->trigger();
        QCOMPARE(Cell(0, tcStatus), QStringLiteral("Paused"));
        QCOMPARE(Window->RunStatusText(), QStringLiteral("Paused"));
        QCOMPARE(Enabled(*Window), QStringLiteral("SR"));
        a.menu7->trigger();
        QCOMPARE(Cell(0, tcStatus), QStringLiteral("Converting"));
        Terminate(0, teFinished);
        Progress(1, 1, 1000, 1000, 12000);
        Terminate(1, teFailed, "Error while opening encoder for output stream #0.0");
        Progress(2, 1, 3000, 1000, 12000);
        QTRY_COMPARE(Cell(2, tcStatus), QStringLiteral("Converting"));
        a.btnStop->trigger();
        QCOMPARE(Enabled(*Window), QString());
        Terminate(2, teStopped);
        Terminate(-1, teFinished);
        QTRY_COMPARE(Cell(2, tcStatus), QStringLiteral("Stopped at 25 %"));
        QCOMPARE(Cell(0, tcStatus), QStringLiteral("Done"));
        QCOMPARE(Cell(1, tcStatus),
                 QStringLiteral("Failed: Error while opening encoder for output stream #0.0"));
        QCOMPARE(Window->RunStatusText(), QStringLiteral("1 done, 1 stopped, 1 failed"));
        // Failed rows count as settled, a stopped row's rest does not: (60 + 12 + 3) of 84 s.
        QCOMPARE(Window->OverallPercent(), 89);
        QVERIFY(Window->TimeLeftText().isEmpty());

        // After the run: nothing left to start, but Add, Remove and Clear work again, and the
        // rows stay for playing.
        QCOMPARE(Enabled(*Window), QStringLiteral("ARC"));
        a.mnuOpenFolder->trigger();
        QCOMPARE(TDesktopRecorder::Opened.size(), size_t(1));
        QCOMPARE(TDesktopRecorder::Opened[0].toLocalFile(), Outputs.path() + u'/');
        AddRow(QStringLiteral("Four"));
        QCOMPARE(Enabled(*Window), QStringLiteral("ARCS"));
        a.btnClear->trigger();
        QCOMPARE(Rows().RowCount(), 0);
        QCOMPARE(Enabled(*Window), QStringLiteral("AS"));
        a.menu4->trigger();
        QCOMPARE(TDesktopRecorder::Boxes.back().Text,
                 QStringLiteral("There are no files in the list!"));
    }

    void PlayOutputTakesTheSelectedOrElseTheLastOutput() {
        const QString first = AddRow(QStringLiteral("One"));
        const QString last = AddRow(QStringLiteral("Two"));
        Terminate(0, teFinished);
        Terminate(1, teFinished);
        QTRY_VERIFY(Rows().IsConverted(1));
        Window->Actions().mnuPlay->trigger();
        Window->FileList().selectionModel()->select(
            Rows().index(0, 0), QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
        Window->Actions().mnuPlay->trigger();
        QCOMPARE(TDesktopRecorder::Opened.size(), size_t(2));
        QCOMPARE(TDesktopRecorder::Opened[0], QUrl::fromLocalFile(last));
        QCOMPARE(TDesktopRecorder::Opened[1], QUrl::fromLocalFile(first));
        // A converted output that has gone missing is not opened.
        QFile::remove(first);
        Window->Actions().mnuPlay->trigger();
        QCOMPARE(TDesktopRecorder::Opened.size(), size_t(2));
    }

    void StopPauseAndResumeDoNothingOutsideARun() {
        AddRow(QStringLiteral("One"));
        const auto before = ButtonStates(*Window);
        Window->btnStopClick();
        Window->btnPauseClick();
        Window->btnResumeClick();
        QCOMPARE(ButtonStates(*Window), before);
        QTest::qWait(50);
        QVERIFY(!Rows().IsConverted(0));
    }

    void LibraryLinesFromWorkerThreadsReachTheLogPane() {
        unsigned threadId = 0;
        std::thread worker([&] {
            threadId = CurrentThreadId();
            GetLogger()->Log(nullptr, llQuiet, "first line");
            GetLogger()->Log(nullptr, llQuiet, "second line");
        });
        // The worker waits until the window's loop has taken each line.
        QTRY_VERIFY(Window->LogPane().Text().contains(QStringLiteral("second line")));
        worker.join();
        const QString prefix = u'#' + QString::number(threadId) + QStringLiteral(".0: ");
        QCOMPARE(Window->LogPane().Text(),
                 prefix + QStringLiteral("first line\n") + prefix + QStringLiteral("second line"));
    }

    // The libraries' warnings show only in the verbose log (a choice that is remembered); their
    // errors and the program's own warnings always show.
    void LibraryWarningsShowOnlyInTheVerboseLog_data() {
        QTest::addColumn<bool>("fromLibrary");
        QTest::addColumn<int>("level");
        QTest::addColumn<bool>("verbose");
        QTest::addColumn<bool>("shown");
        QTest::newRow("library warning") << true << int(llWarning) << false << false;
        QTest::newRow("library warning, verbose") << true << int(llWarning) << true << true;
        QTest::newRow("library detail") << true << int(llVerbose) << false << false;
        QTest::newRow("library error") << true << int(llError) << false << true;
        QTest::newRow("library information") << true << int(llInfo) << false << true;
        QTest::newRow("program's warning") << false << int(llWarning) << false << true;
    }
    void LibraryWarningsShowOnlyInTheVerboseLog() {
        QFETCH(bool, fromLibrary);
        QFETCH(int, level);
        QFETCH(bool, verbose);
        QFETCH(bool, shown);
        Window->LogPane().VerboseAction().setChecked(verbose);
        const void* sender = fromLibrary ? static_cast<const void*>(GetLogger()) : this;
        Window->FFLoggerLog(sender, 7, static_cast<TLogLevel>(level), "the line");
        QCOMPARE(Window->LogPane().Text().contains(QStringLiteral("the line")), shown);
        QCOMPARE(std::make_unique<TfrmMain>()->LogPane().VerboseAction().isChecked(), verbose);
    }

    // The view follows new lines from the bottom; a user reading further up keeps the lines in
    // view, even while the oldest lines give way.
    void TheLogPaneKeepsItsNewestLinesUnderAFlood() {
        Window->show();
        TLogView& pane = Window->LogPane();
        QScrollBar* bar = pane.verticalScrollBar();
        const auto log = [&](int from, int to) {
            for (int i = from; i < to; ++i)
                Window->FFLoggerLog(nullptr, 7, llDebug, "line " + std::to_string(i));
            pane.Flush();
        };
        const auto topLine = [&] { return pane.cursorForPosition(QPoint(0, 0)).block().text(); };
        log(0, TLogView::MaxLogLines);
        QCOMPARE(bar->value(), bar->maximum());
        log(TLogView::MaxLogLines, TLogView::MaxLogLines + 100);
        QCOMPARE(bar->value(), bar->maximum());
        bar->setValue(bar->maximum() / 2);
        const QString reading = topLine();
        log(TLogView::MaxLogLines + 100, TLogView::MaxLogLines + 500);
        QCOMPARE(topLine(), reading);
        const QString text = pane.Text();
        QCOMPARE(Window->LogPane().document()->blockCount(), TLogView::MaxLogLines);
        QVERIFY(text.endsWith(QStringLiteral("#7.7: line ") +
                              QString::number(TLogView::MaxLogLines + 499)));
        QVERIFY(text.startsWith(QStringLiteral("#7.7: line 500\n")));
    }

    // The last line selected (as a triple click does), or the one before it: the selection keeps
    // to its own text as lines arrive, also when the oldest lines give way under it.
    void TheLogSelectionKeepsToItsOwnLines() {
        Window->show();
        TLogView& pane = Window->LogPane();
        for (const int linesBack : {0, 1}) {
            pane.Clear();
            for (int i = 0; i < TLogView::MaxLogLines; ++i)
                pane.AppendLine(QStringLiteral("line %1").arg(i));
            pane.Flush();
            QTextCursor cursor(pane.document()->lastBlock());
            for (int i = 0; i < linesBack; ++i)
                cursor.movePosition(QTextCursor::PreviousBlock);
            cursor.movePosition(QTextCursor::EndOfBlock, QTextCursor::KeepAnchor);
            pane.setTextCursor(cursor);
            const QString selected = pane.textCursor().selectedText();
            for (int i = 0; i < 3; ++i)
                pane.AppendLine(QStringLiteral("later %1").arg(i));
            pane.Flush();
            QCOMPARE(pane.textCursor().selectedText(), selected);
        }
        QCOMPARE(pane.textCursor().selectedText(), QStringLiteral("line 99998"));
        SaveScreenshot(*Window, QStringLiteral("log_selection_kept.png"));
    }

    // A very long line brings the horizontal bar, which takes a line's height once laid out:
    // the view still follows the lines after it.
    void TheLogPaneFollowsPastAVeryLongLine() {
        Window->show();
        TLogView& pane = Window->LogPane();
        QScrollBar* bar = pane.verticalScrollBar();
        const auto log = [&](const QString& line) {
            pane.AppendLine(line);
            pane.Flush();
            QCoreApplication::processEvents();
        };
        for (int i = 0; i < 200; ++i)
            log(QStringLiteral("line %1").arg(i));
        log(QString(5000, u'x'));
        QVERIFY(pane.horizontalScrollBar()->isVisible());
        for (int i = 0; i < 3; ++i)
            log(QStringLiteral("after %1").arg(i));
        QCOMPARE(bar->value(), bar->maximum());
        bar->setValue(bar->maximum() - 10);
        log(QStringLiteral("while reading"));
        QVERIFY(bar->value() < bar->maximum());
        bar->setValue(bar->maximum());
        log(QStringLiteral("back at the bottom"));
        QCOMPARE(bar->value(), bar->maximum());
    }

    void TheErrorBoxEndsMessagesWithAFullStop() {
        QCOMPARE(ErrorBoxText(QStringLiteral("Unknown input format: xyz")),
                 QStringLiteral("Unknown input format: xyz."));
        QCOMPARE(ErrorBoxText(QStringLiteral("Done.")), QStringLiteral("Done."));
        QCOMPARE(ErrorBoxText(QStringLiteral("HTMLHELP cannot displayed!")),
                 QStringLiteral("HTMLHELP cannot displayed!"));
        QCOMPARE(ErrorBoxText(QStringLiteral("Really?")), QStringLiteral("Really?."));
        QCOMPARE(ErrorBoxText(QStringLiteral("stream #1 (audio)")),
                 QStringLiteral("stream #1 (audio)"));
        QCOMPARE(ErrorBoxText(QString()), QString());

        RunGuarded([] { throw FFmpegException("Incorrect frame size"); });
        RunGuarded([] { throw std::runtime_error("'abc' is not a valid integer value"); });
        QCOMPARE(TDesktopRecorder::Boxes.size(), size_t(2));
        QCOMPARE(TDesktopRecorder::Boxes[0].Icon, TBoxIcon::Warning);
        QCOMPARE(TDesktopRecorder::Boxes[0].Text, QStringLiteral("Incorrect frame size."));
        QCOMPARE(TDesktopRecorder::Boxes[1].Icon, TBoxIcon::Error);
        QCOMPARE(TDesktopRecorder::Boxes[1].Caption, QStringLiteral("Soundpick"));
    }

    void HelpOpensThePageBesideTheProgramOrReportsItMissing() {
        Window->Actions().HelpContent1->trigger();
        QCOMPARE(TDesktopRecorder::Opened.size(), size_t(1));
        const QString page = TDesktopRecorder::Opened[0].toLocalFile();
        QVERIFY(page.endsWith(QStringLiteral("/help/introduction.htm")));
        QFile file(page);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QVERIFY(file.readAll().contains("Output Options"));

        QTemporaryDir empty;
        RunGuarded([&] { ShowHelpTopic(empty.path(), HelpIntroductionTopic); });
        QCOMPARE(TDesktopRecorder::Boxes.size(), size_t(1));
        QCOMPARE(TDesktopRecorder::Boxes[0].Icon, TBoxIcon::Error);
        QCOMPARE(TDesktopRecorder::Boxes[0].Text, QStringLiteral("Help file not found: ") +
                                                      empty.path() +
                                                      QStringLiteral("/help/introduction.htm."));
    }

    // The help page's column table names the list's own columns, in the list's order, and the
    // page names the options dialog's sound controls.
    void TheHelpPageDescribesTheWindowsOwnColumnsAndControls() {
        QFile file(ExecutableFolder() + QStringLiteral("/help/introduction.htm"));
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QString page = QString::fromUtf8(file.readAll());
        const qsizetype from = page.indexOf(QStringLiteral("<th>Column</th>"));
        QVERIFY(from >= 0);
        const QString table = page.mid(from, page.indexOf(QStringLiteral("</table>"), from) - from);
        QStringList named;
        const QRegularExpression firstCell(QStringLiteral("<tr><td>([^<]*)</td>"));
        for (const QRegularExpressionMatch& match : firstCell.globalMatch(table))
            named << match.captured(1);
        QStringList columns;
        for (int column = 0; column < tcColumnCount; ++column)
            columns << TTaskListModel::ColumnCaption(column);
        QCOMPARE(named, columns);
        for (const char* text :
             {"Play Selection", "Trim Silence", "No sound output is available.", "<kbd>[</kbd>",
              "<kbd>Home</kbd>", "wait for the next Start, which converts only them"})
            QVERIFY2(page.contains(QString::fromUtf8(text)), text);
    }

    void ADesktopThatCannotOpenIsReported() {
        const QString output = AddRow(QStringLiteral("Talk"));
        Terminate(0, teFinished);
        QTRY_VERIFY(Rows().IsConverted(0));
        TDesktopRecorder::OpenWorks = false;
        const TMainActions& a = Window->Actions();
        for (QAction* command : {a.mnuPlay, a.mnuOpenFolder, a.HelpContent1, a.MoreRatedSoftware1})
            command->trigger();
        QCOMPARE(TDesktopRecorder::Opened.size(), size_t(4));
        QStringList texts;
        for (const TShownBox& box : TDesktopRecorder::Boxes)
            texts << box.Text;
        QCOMPARE(texts.size(), 4);
        QCOMPARE(texts[0], QStringLiteral("The desktop could not open ") + output + u'.');
        QCOMPARE(texts[1], QStringLiteral("The desktop could not open ") + Outputs.path() +
                               QStringLiteral("/."));
        QVERIFY(texts[2].startsWith(QStringLiteral("The browser could not show the help file ")));
        QCOMPARE(texts[3],
                 QStringLiteral("The browser could not be started for https://ffmpeg.org/."));
    }

    void WindowGeometryAndColumnWidthsAreRemembered() {
        ResetSettings();
        Window->show();
        // Fresh, the default size shows every column of the list whole.
        QVERIFY(QTest::qWaitForWindowExposed(Window.get()));
        const QTreeView& list = Window->FileList();
        QCOMPARE(list.horizontalScrollBar()->maximum(), 0);
        for (int column = 0; column < tcColumnCount; ++column)
            QVERIFY2(list.header()->sectionViewportPosition(column) +
                             list.header()->sectionSize(column) <=
                         list.viewport()->width(),
                     qPrintable(TTaskListModel::ColumnCaption(column)));
        Window->resize(900, 500);
        Window->FileList().setColumnWidth(tcOutput, 222);
        QVERIFY(Window->close());
        Window = std::make_unique<TfrmMain>();
        Window->show();
        QCOMPARE(Window->size(), QSize(900, 500));
        QCOMPARE(Window->FileList().columnWidth(tcOutput), 222);
        QVERIFY(UserSettings()->contains(QStringLiteral("Window/Geometry")));
        ResetSettings();
    }

    void TheSettingsFolderIsMadeAndLeftEmpty() {
        const QString folder = Window->SettingsFolder();
        QVERIFY(folder.endsWith(QStringLiteral("/Soundpick")));
        QVERIFY(QDir(folder).exists());
        QVERIFY(QDir(folder).isEmpty(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden));
        // A second start finds it and neither complains nor writes.
        Window.reset();
        Window = std::make_unique<TfrmMain>();
        QVERIFY(TDesktopRecorder::Boxes.empty());
        QVERIFY(QDir(folder).isEmpty(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden));
    }

    void TheMenusOpenWithAltFAndAltH() {
        Window->show();
        Window->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(Window.get()));
        for (const auto& [key, title] : {std::pair{Qt::Key_F, "&File"}, {Qt::Key_H, "&Help"}}) {
            QTest::keyClick(Window.get(), key, Qt::AltModifier);
            QTRY_VERIFY(QApplication::activePopupWidget());
            auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
            QVERIFY(menu);
            QCOMPARE(menu->title(), QString::fromLatin1(title));
            menu->close();
        }
    }

    void TheOpenFileFiltersMatchExtensionsInAnyCase() {
        const QStringList filters = OpenFileFilters();
        QCOMPARE(filters.size(), 4);
        QVERIFY(filters[0].startsWith(QStringLiteral("Video/Audio (")));
        QCOMPARE(filters[3], QStringLiteral("All Files (*)"));
        const auto matches = [&](int filter, const QString& name) {
            const QString list = filters[filter].section(u'(', 1).chopped(1);
            for (const QString& pattern : list.split(u' ')) {
                if (QRegularExpression(QRegularExpression::wildcardToRegularExpression(pattern))
                        .match(name)
                        .hasMatch())
                    return true;
            }
            return false;
        };
        QVERIFY(matches(0, QStringLiteral("holiday.MP4")));
        QVERIFY(matches(0, QStringLiteral("holiday.mp4")));
        QVERIFY(matches(0, QStringLiteral("song.Flac")));
        QVERIFY(!matches(1, QStringLiteral("song.flac")));
        QVERIFY(matches(2, QStringLiteral("song.flac")));
        QVERIFY(matches(0, QStringLiteral("album.cue")) && matches(2, QStringLiteral("Album.CUE")));
        QVERIFY(!matches(0, QStringLiteral("notes.txt")));
        QVERIFY(matches(3, QStringLiteral("recording"))); // no extension
    }
};

QObject* NewMainWindowTest() {
    return new TMainWindowTest;
}

#include "MainWindowTest.moc"
