// Whole runs through the window: files added through the options dialog, converted by the
// engine, checked with ffprobe and the ffmpeg tool's decoding; and closing the window while a
// conversion runs.
#include "AppTestSupport.h"

#include "ClipSlider.h"
#include "LogView.h"
#include "MainFrm.h"
#include "OptionFrm.h"
#include "TaskListModel.h"

#include "component/FFmpegTask.h"
#include "support/TestMedia.h"

#include <QApplication>
#include <QCheckBox>
#include <QDropEvent>
#include <QFile>
#include <QFileInfo>
#include <QMimeData>
#include <QSlider>
#include <QTemporaryDir>
#include <QTest>
#include <QTreeView>

#include <memory>

namespace {

constexpr int RunTimeoutMs = 120000;

// Copies a fixture into the folder, so that outputs land beside the copy.
QString CopyFixture(const QString& name, const QString& folder) {
    const QString copy = folder + u'/' + name;
    QFile::copy(FixturePath(name), copy);
    return copy;
}

void ClickOk(TfrmOption& dialog) {
    ClickButton(dialog, "btnOk");
}

} // namespace

class TConversionFlowTest : public QObject {
    Q_OBJECT
private:
    std::unique_ptr<TfrmMain> Window;
    std::unique_ptr<QTemporaryDir> Work;

    TTaskListModel& Rows() { return Window->TaskList(); }
    const TMainActions& Buttons() { return Window->Actions(); }
    QString Log() { return Window->LogPane().Text(); }
    // Adds the files, answering each dialog with the given action.
    void Add(const QStringList& files, const std::function<void(TfrmOption&)>& answer) {
        TDialogDriver driver(*Window);
        for (int i = 0; i < files.size(); ++i)
            driver.Then(answer);
        Window->AddFiles(files);
        QVERIFY(driver.Done());
    }
    // Starts converting the two-hour fixture to wav at the input's own pace, so that a stop
    // surely comes before the end; returns once the run is under way.
    void StartPacedLongConversion() {
        const QString input = CopyFixture(QStringLiteral("long_2h.mp3"), Work->path());
        Add({input}, [](TfrmOption& dialog) {
            ChooseCaption(dialog, QStringLiteral("Wav"));
            ClickOk(dialog);
        });
        Window->Tessel().Task(0)->SetOption("re", "1");
        QCOMPARE(Rows().RowCount(), 1);
        Buttons().btnStart->trigger();
        QTRY_VERIFY_WITH_TIMEOUT(!Rows().Cell(0, tcCurrentTime).isEmpty(), RunTimeoutMs);
    }
    void RunToTheEnd() {
        Buttons().btnStart->trigger();
        QTRY_VERIFY_WITH_TIMEOUT(Buttons().btnClear->isEnabled(), RunTimeoutMs);
    }

private slots:
    void init() {
        TDesktopRecorder::Reset();
        Work = std::make_unique<QTemporaryDir>();
        Window = std::make_unique<TfrmMain>();
        Window->show();
    }
    void cleanup() {
        Window.reset();
        Work.reset();
    }

    void AddedFilesConvertToTheChosenFormatsAndClip() {
        const QString video = CopyFixture(QStringLiteral("video_h264_aac.mp4"), Work->path());
        const QString tone = CopyFixture(QStringLiteral("tone_1k_stereo.wav"), Work->path());
        Add({video}, [](TfrmOption& dialog) {
            ChooseCaption(dialog, QStringLiteral("Flac"));
            dialog.Slider().setValue(1000);
            ClickButton(dialog, "btnSetStart");
            dialog.Slider().setValue(3000);
            ClickButton(dialog, "btnSetEnd");
            dialog.findChild<QCheckBox*>(QStringLiteral("chkCutClip"))->setChecked(true);
            ClickOk(dialog);
        });
        Add({tone}, [](TfrmOption& dialog) {
            ChooseCaption(dialog, QStringLiteral("Mp3"));
            ClickOk(dialog);
        });
        QCOMPARE(Rows().RowCount(), 2);
        QCOMPARE(Rows().Cell(0, tcInput), QStringLiteral("video_h264_aac.mp4"));
        QCOMPARE(Rows().Cell(0, tcTotalTime), QStringLiteral("4"));
        QCOMPARE(Rows().Cell(0, tcFileSize), QString::number(QFileInfo(video).size()));
        QCOMPARE(Rows().Cell(0, tcOutput), QStringLiteral("video_h264_aac_(new).flac"));
        QCOMPARE(Rows().Cell(1, tcOutput), QStringLiteral("tone_1k_stereo_(new).mp3"));
        QVERIFY(Log().contains(QStringLiteral("\n***File has been added to convert list.\n")));
        QVERIFY(Buttons().btnStart->isEnabled());

        RunToTheEnd();
        if (!TDesktopRecorder::Boxes.empty())
            QFAIL(qPrintable(TDesktopRecorder::Boxes[0].Text));
        const QString flac = Work->filePath(QStringLiteral("video_h264_aac_(new).flac"));
        const QString mp3 = Work->filePath(QStringLiteral("tone_1k_stereo_(new).mp3"));
        QCOMPARE(Rows().Cell(0, tcProgress), QStringLiteral("100%"));
        QCOMPARE(Rows().Cell(1, tcProgress), QStringLiteral("100%"));
        QVERIFY(Rows().IsConverted(0) && Rows().IsConverted(1));
        QCOMPARE(ProbeText(flac, "stream=codec_name", "a:0"), QStringLiteral("flac"));
        QCOMPARE(ProbeText(mp3, "stream=codec_name", "a:0"), QStringLiteral("mp3"));
        // The clip: two seconds from the first, of a tone that never stops.
        const double clipSeconds = ProbeText(flac, "format=duration").toDouble();
        QVERIFY2(qAbs(clipSeconds - 2.0) < 0.1, qPrintable(QString::number(clipSeconds)));
        const TDecodedAudio sound = DecodeAudio(flac.toStdString());
        QVERIFY(sound.Rms(0, 0.1, 1.9) > 0.01);
        QVERIFY(qAbs(ProbeText(mp3, "format=duration").toDouble() - 4.0) < 0.1);
        // The last cells show the output's final size.
        QVERIFY(Rows().Cell(1, tcCurrentSize).toLongLong() > 0);

        QVERIFY(QTest::qWaitForWindowExposed(Window.get()));
        const QString shot = ScreenshotFolder() + QStringLiteral("/main_window.png");
        QVERIFY(Window->grab().save(shot));
        qInfo("screenshot: %s", qPrintable(shot));

        Buttons().mnuPlay->trigger(); // no selection: the last output
        QCOMPARE(TDesktopRecorder::Opened.size(), size_t(1));
        QCOMPARE(TDesktopRecorder::Opened[0], QUrl::fromLocalFile(mp3));
    }

    void AnInputOfUnknownDurationShowsZeroSeconds() {
        const QString stream = Work->filePath(QStringLiteral("streamed.webm"));
        QVERIFY(RunFfmpeg(
            {"-f", "lavfi", "-i", "sine=duration=2", "-c:a", "libvorbis", "-f", "webm", "pipe:1"},
            stream));
        QCOMPARE(ProbeText(stream, "format=duration"), QStringLiteral("N/A"));
        Add({stream}, ClickOk);
        QCOMPARE(Rows().RowCount(), 1);
        QCOMPARE(Rows().Cell(0, tcTotalTime), QStringLiteral("0"));
    }

    void FilesDroppedOnTheWindowAreAddedOneAfterAnother() {
        QStringList files;
        for (const char* name : {"tone_mono.wav", "mono_8k.wav"})
            files << CopyFixture(QString::fromLatin1(name), Work->path());
        TDialogDriver driver(*Window);
        driver.Then(ClickOk);
        driver.Then(ClickOk);
        QMimeData data;
        data.setUrls({QUrl::fromLocalFile(files[0]), QUrl::fromLocalFile(files[1])});
        QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &data, Qt::LeftButton,
                              Qt::NoModifier);
        QApplication::sendEvent(Window.get(), &enter);
        QVERIFY(enter.isAccepted());
        QDropEvent drop(QPointF(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(Window.get(), &drop);
        QTRY_COMPARE(Rows().RowCount(), 2);
        QVERIFY(driver.Done());
        QCOMPARE(Rows().Cell(0, tcInput), QStringLiteral("tone_mono.wav"));
        QCOMPARE(Rows().Cell(1, tcInput), QStringLiteral("mono_8k.wav"));
    }

    void FilesThatCannotBeReadLeaveTheListAlone() {
        Window->AddFiles({FixturePath(QStringLiteral("random.bin"))}); // no dialog shows
        QCOMPARE(Rows().RowCount(), 0);
        QVERIFY(Log().startsWith(QStringLiteral("\n***File load error: ")));
        QVERIFY(Buttons().btnAdd->isEnabled());
    }

    void RemoveKeepsRowsTasksAndOutputsAligned() {
        QStringList files;
        for (const char* name : {"tone_mono.wav", "mono_8k.wav", "tone_48k_stereo.wav"})
            files << CopyFixture(QString::fromLatin1(name), Work->path());
        Add(files, [](TfrmOption& dialog) {
            ChooseCaption(dialog, QStringLiteral("Wav"));
            ClickOk(dialog);
        });
        QCOMPARE(Rows().RowCount(), 3);
        QCOMPARE(Window->Tessel().TaskCount(), 3);
        Window->FileList().selectionModel()->select(
            Rows().index(1, 0), QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
        Buttons().btnRemove->trigger();
        QCOMPARE(Rows().RowCount(), 2);
        QCOMPARE(Window->Tessel().TaskCount(), 2);
        RunToTheEnd();
        QVERIFY(Rows().IsConverted(0) && Rows().IsConverted(1));
        QVERIFY(QFileInfo::exists(Work->filePath(QStringLiteral("tone_mono_(new).wav"))));
        QVERIFY(!QFileInfo::exists(Work->filePath(QStringLiteral("mono_8k_(new).wav"))));
        const QString last = Work->filePath(QStringLiteral("tone_48k_stereo_(new).wav"));
        QCOMPARE(ProbeText(last, "stream=sample_rate", "a:0"), QStringLiteral("48000"));
    }

    void PauseResumeAndStopKeepWhatWasWritten() {
        StartPacedLongConversion();
        if (QTest::currentTestFailed())
            return;
        Buttons().btnPause->trigger();
        QVERIFY(!Buttons().btnPause->isEnabled() && Buttons().btnResume->isEnabled());
        Buttons().btnResume->trigger();
        QVERIFY(Buttons().btnPause->isEnabled() && !Buttons().btnResume->isEnabled());
        Buttons().btnStop->trigger();
        QVERIFY(!Buttons().btnStop->isEnabled());
        QTRY_VERIFY_WITH_TIMEOUT(Buttons().btnClear->isEnabled(), RunTimeoutMs);
        // Stopped, not failed: playable, with the part written so far complete.
        QVERIFY(TDesktopRecorder::Boxes.empty());
        QVERIFY(Rows().IsConverted(0));
        QVERIFY(Rows().Cell(0, tcProgress) != QStringLiteral("100%"));
        const QString output = Work->filePath(QStringLiteral("long_2h_(new).wav"));
        const double seconds = ProbeText(output, "format=duration").toDouble();
        QVERIFY2(seconds > 0 && seconds < 7200, qPrintable(QString::number(seconds)));
        Buttons().mnuPlay->trigger();
        QCOMPARE(TDesktopRecorder::Opened.size(), size_t(1));
    }

    void ClosingDuringAConversionWaitsAndNoHandlerRunsAfterwards() {
        StartPacedLongConversion();
        if (QTest::currentTestFailed())
            return;
        QVERIFY(Window->close());
        // Every task has ended: the output is complete and no longer grows.
        const QString output = Work->filePath(QStringLiteral("long_2h_(new).wav"));
        const qint64 sizeAtClose = QFileInfo(output).size();
        const QString cellsAtClose = Rows().Cell(0, tcProgress) + Rows().Cell(0, tcCurrentTime);
        QTest::qWait(500);
        QCOMPARE(QFileInfo(output).size(), sizeAtClose);
        QVERIFY(ProbeText(output, "format=duration").toDouble() > 0);
        // Neither the end of the task nor the end of the run reached the window.
        QCOMPARE(Rows().Cell(0, tcProgress) + Rows().Cell(0, tcCurrentTime), cellsAtClose);
        QVERIFY(!Rows().IsConverted(0));
        QVERIFY(!Buttons().btnClear->isEnabled());
        QVERIFY(TDesktopRecorder::Boxes.empty());
    }
};

QObject* NewConversionFlowTest() {
    return new TConversionFlowTest;
}

#include "ConversionFlowTest.moc"
