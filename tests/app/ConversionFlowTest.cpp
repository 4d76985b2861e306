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
#include "component/OutputManifest.h"
#include "ffbind/FFUtils.h"
#include "ffbind/FFmpegLoader.h"
#include "ffbind/FileIdentity.h"
#include "support/PipeRescue.h"
#include "support/TestMedia.h"

#include <QApplication>
#include <QCheckBox>
#include <QColor>

#include <QDir>
#include <QDropEvent>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QMimeData>
#include <QSlider>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QTreeView>

#include <atomic>
#include <chrono>
#include <memory>
#include <optional>
#include <thread>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

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

// A dialog answer: the format, the bit-rate field ticked with the text or unticked, then OK.
std::function<void(TfrmOption&)> Answer(const QString& format, const QString& bitRate = {}) {
    return [format, bitRate](TfrmOption& dialog) {
        ChooseCaption(dialog, format);
        dialog.findChild<QCheckBox*>(QStringLiteral("chkAudioBitRate"))
            ->setChecked(!bitRate.isEmpty());
        if (!bitRate.isEmpty())
            dialog.findChild<QLineEdit*>(QStringLiteral("edtAudioBitRate"))->setText(bitRate);
        ClickOk(dialog);
    };
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
        QVERIFY(AddingEnds(*Window));
        QVERIFY(driver.Done());
    }
    // Starts converting the two-hour fixture to wav at the input's own pace, so that a stop
    // surely comes before the end; returns once the run is under way.
    // Tasks added before it run first.
    void StartPacedLongConversion() {
        const QString input = CopyFixture(QStringLiteral("long_2h.mp3"), Work->path());
        Add({input}, Answer(QStringLiteral("Wav")));
        const int row = Rows().RowCount() - 1;
        // Through the task's input record: the task sets its engine up from it at the start.
        Window->Tessel().Task(row)->InputOptions.ExtraOptions += "\nre=1";
        Buttons().btnStart->trigger();
        QTRY_VERIFY_WITH_TIMEOUT(!Rows().Cell(row, tcCurrentTime).isEmpty(), RunTimeoutMs);
    }
    // Copies a fixture to path, with its folders.
    static void Put(const char* fixture, const QString& path) {
        QVERIFY(QDir().mkpath(QFileInfo(path).path()));
        QVERIFY(QFile::copy(FixturePath(QString::fromLatin1(fixture)), path));
    }
    // Adds a folder into the output folder out, the dialog set further by more.
    void AddFolderInto(const QString& in, const QString& out,
                       const std::function<void(TfrmOption&)>& more = nullptr) {
        QVERIFY(QDir().mkpath(out));
        TDialogDriver driver(*Window);
        driver.Then([out, more](TfrmOption& dialog) {
            dialog.findChild<QLineEdit*>(QStringLiteral("edtOutPath"))->setText(out);
            if (more)
                more(dialog);
            ClickOk(dialog);
        });
        Window->AddFolder(in);
        QVERIFY(AddingEnds(*Window));
        QVERIFY(driver.Done());
    }
    void RunToTheEnd() {
        Buttons().btnStart->trigger();
        QTRY_VERIFY_WITH_TIMEOUT(Buttons().btnClear->isEnabled(), RunTimeoutMs);
    }
    // The writing end of a pipe, opened once a reader waits in the pipe's open (the reader then
    // waits for the first bytes); -1 when none came.
    static int WriterOnceReadersWait(const QString& pipe) {
        int writer = -1;
        QTest::qWaitFor(
            [&] {
                return (writer = ::open(QFile::encodeName(pipe).constData(),
                                        O_WRONLY | O_NONBLOCK)) >= 0;
            },
            RunTimeoutMs);
        return writer;
    }

private slots:
    void init() {
        TDesktopRecorder::Reset();
        ResetSettings();
        Work = std::make_unique<QTemporaryDir>();
        Window = std::make_unique<TfrmMain>();
        Window->show();
    }
    void cleanup() {
        Window.reset();
        Work.reset();
    }

    // The libraries load on the input reader's thread: the window says so while they load and
    // adds once they have; an add stopped meanwhile lets the next one ask again. First of the
    // suite, so that no test before it has loaded them.
    void TheLibrariesLoadOffTheWindowsThread() {
        QVERIFY(!Loader().LibsLoaded(DefaultLibraries));
        const QString tone = CopyFixture(QStringLiteral("tone_mono.wav"), Work->path());
        Window->AddFiles({tone});
        QCOMPARE(Window->findChild<QLabel*>(QStringLiteral("StatusPane0"))->text(),
                 QStringLiteral("Loading the FFmpeg libraries"));
        Buttons().btnStop->trigger();
        QVERIFY(!Window->Adding());
        Add({tone}, ClickOk);
        QCOMPARE(Rows().RowCount(), 1);
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
            // Both ends set: "Cut Clip" is ticked without the user.
            QVERIFY(dialog.findChild<QCheckBox*>(QStringLiteral("chkCutClip"))->isChecked());
            ClickOk(dialog);
        });
        Add({tone}, [](TfrmOption& dialog) {
            ChooseCaption(dialog, QStringLiteral("Mp3"));
            ClickOk(dialog);
        });
        QCOMPARE(Rows().RowCount(), 2);
        QCOMPARE(Rows().Cell(0, tcInput), QStringLiteral("video_h264_aac.mp4"));
        // The clip's length, not the file's; sizes in the probe's wording; the full output name
        // in the tooltip.
        QCOMPARE(Rows().Cell(0, tcTotalTime), QStringLiteral("0:02"));
        QCOMPARE(Rows().Cell(1, tcTotalTime), QStringLiteral("0:04"));
        QCOMPARE(Rows().Cell(0, tcInputSize),
                 QString::fromStdString(SizeText(QFileInfo(video).size())));
        QCOMPARE(Rows().data(Rows().index(1, tcInput), Qt::ToolTipRole).toString(),
                 Work->filePath(QStringLiteral("tone_1k_stereo_(new).mp3")));
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
        QVERIFY(Rows().Cell(1, tcOutputSize).endsWith(QStringLiteral(" KB")));
        QCOMPARE(Rows().Cell(1, tcStatus), QStringLiteral("Done"));

        SaveScreenshot(*Window, QStringLiteral("main_window.png"));

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
        QCOMPARE(Rows().Cell(0, tcTotalTime), QStringLiteral("0:00"));
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
        QTRY_COMPARE_WITH_TIMEOUT(Rows().RowCount(), 2, RunTimeoutMs);
        QVERIFY(driver.Done());
        QCOMPARE(Rows().Cell(0, tcInput), QStringLiteral("tone_mono.wav"));
        QCOMPARE(Rows().Cell(1, tcInput), QStringLiteral("mono_8k.wav"));
    }

    // A folder dropped on the window: one dialog for all its files, the tree kept under the
    // output folder with equal names apart, the hidden folder left out and the picture counted
    // among the files without sound.
    void DroppedFolderKeepsItsTreeUnderTheOutputFolder() {
        const QString in = Work->path() + QStringLiteral("/in");
        const QString out = Work->path() + QStringLiteral("/out");
        for (const char* folder : {"/in/A", "/in/B", "/in/.hidden", "/out"})
            QVERIFY(QDir().mkpath(Work->path() + QString::fromLatin1(folder)));
        const std::pair<const char*, const char*> files[] = {{"tone_mono.wav", "/A/01.wav"},
                                                             {"mono_8k.wav", "/B/01.wav"},
                                                             {"tone_mono.wav", "/.hidden/x.wav"},
                                                             {"cover_64.jpg", "/A/cover.jpg"}};
        for (const auto& [fixture, name] : files)
            QVERIFY(QFile::copy(FixturePath(QString::fromLatin1(fixture)),
                                in + QString::fromUtf8(name)));
        TDialogDriver driver(*Window);
        driver.Then([out](TfrmOption& dialog) {
            dialog.findChild<QLineEdit*>(QStringLiteral("edtOutPath"))->setText(out);
            ChooseCaption(dialog, QStringLiteral("Mp3"));
            ClickOk(dialog);
        });
        QMimeData data;
        data.setUrls({QUrl::fromLocalFile(in)});
        QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &data, Qt::LeftButton,
                              Qt::NoModifier);
        QApplication::sendEvent(Window.get(), &enter);
        QDropEvent drop(QPointF(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(Window.get(), &drop);
        QTRY_COMPARE_WITH_TIMEOUT(Rows().RowCount(), 2, RunTimeoutMs);
        QVERIFY(driver.Done());
        QCOMPARE(Rows().OutputFile(0), out + QStringLiteral("/A/01.mp3"));
        QCOMPARE(Rows().OutputFile(1), out + QStringLiteral("/B/01.mp3"));
        QTRY_VERIFY2(Log().contains(QStringLiteral("1 file without sound skipped")),
                     qPrintable(Log()));
        RunToTheEnd();
        QCOMPARE(
            qRound(ProbeText(out + QStringLiteral("/A/01.mp3"), QStringLiteral("format=duration"))
                       .toDouble()),
            3);
        QCOMPARE(
            qRound(ProbeText(out + QStringLiteral("/B/01.mp3"), QStringLiteral("format=duration"))
                       .toDouble()),
            2);
        QVERIFY(!QFileInfo::exists(out + QStringLiteral("/.hidden")));
        // In the output folder's record, as soundpick-cli's outputs: a later --update knows them.
        TOutputManifest record(ToPath(out));
        QCOMPARE(QString::fromStdString(record.Load()), QString());
        for (const QString& name : {QStringLiteral("/A/01"), QStringLiteral("/B/01")}) {
            const TManifestEntry* entry = record.ForOutput(ToPath(out + name + ".mp3"));
            QVERIFY2(entry && entry->Complete && entry->WrittenUs > 0, qPrintable(name));
            QCOMPARE(QString::fromStdString(entry->Input), in + name + ".wav");
        }
        QCOMPARE(Buttons().menuAddFolder->text(), QStringLiteral("Add &Folder…"));
        QVERIFY(Buttons().btnAddFolder->isEnabled() && Buttons().menuAddFolder->isEnabled());
    }

    // A folder is added a file at a time: Start waits for the adding, and Stop ends it with
    // the files added so far (here the first, Stop pressed as its row comes).
    void StopEndsTheAddingOfAFolder() {
        const QString in = Work->path() + QStringLiteral("/many");
        QVERIFY(QDir().mkpath(in));
        for (int i = 0; i < 5; ++i)
            QVERIFY(QFile::copy(FixturePath(QStringLiteral("tone_mono.wav")),
                                in + QStringLiteral("/%1.wav").arg(i)));
        TDialogDriver driver(*Window);
        driver.Then(ClickOk);
        bool sawAdding = false;
        connect(
            &Rows(), &QAbstractItemModel::rowsInserted, this,
            [this, &sawAdding] {
                sawAdding = Window->Adding() && !Buttons().btnStart->isEnabled() &&
                            !Buttons().btnAddFolder->isEnabled();
                Buttons().btnStop->trigger();
            },
            static_cast<Qt::ConnectionType>(Qt::SingleShotConnection | Qt::QueuedConnection));
        Window->AddFolder(in);
        QVERIFY(AddingEnds(*Window));
        QVERIFY(driver.Done());
        QVERIFY(sawAdding);
        QCoreApplication::processEvents();
        QCOMPARE(Rows().RowCount(), 1);
        QVERIFY2(Log().contains(QStringLiteral("stopped: 1 file added.")), qPrintable(Log()));
        QVERIFY(Buttons().btnStart->isEnabled() && Buttons().btnAddFolder->isEnabled());
        QVERIFY(!Buttons().btnStop->isEnabled());
    }

    // The options' name template names a folder's files from their tags, and each input
    // folder's cover pictures go beside its outputs when asked.
    void FolderNamesFromTagsWithTheirPictures() {
        const QString in = Work->path() + QStringLiteral("/in");
        const QString out = Work->path() + QStringLiteral("/out");
        Put("tagged.flac", in + QStringLiteral("/x/a.flac"));
        Put("tone_mono.wav", in + QStringLiteral("/b.wav"));
        Put("cover_64.jpg", in + QStringLiteral("/x/cover.jpg"));
        Put("cover_64.png", in + QStringLiteral("/front.png"));
        AddFolderInto(in, out, [](TfrmOption& dialog) {
            dialog.findChild<QLineEdit*>(QStringLiteral("edtNameTemplate"))
                ->setText(QStringLiteral("{artist}/{track:02} {title}"));
            dialog.findChild<QCheckBox*>(QStringLiteral("chkCopyImages"))->setChecked(true);
            ChooseCaption(dialog, QStringLiteral("Mp3"));
        });
        QTRY_COMPARE(Rows().RowCount(), 2);
        QCOMPARE(Rows().OutputFile(0), out + QStringLiteral("/Unknown Artist/00 b.mp3"));
        QCOMPARE(Rows().OutputFile(1), out + QStringLiteral("/Test Artist/07 Test Title.mp3"));
        QVERIFY(QFileInfo::exists(out + QStringLiteral("/Unknown Artist/front.png")));
        QVERIFY(QFileInfo::exists(out + QStringLiteral("/Test Artist/cover.jpg")));
        QVERIFY(!QFileInfo::exists(out + QStringLiteral("/Test Artist/front.png")));
    }

    // Add Folder offers the library choices and remembers them: a lossy file already small
    // enough in the format is copied as it is (the default), covers are scaled for devices.
    void FolderLossyCopyAndCoverSizeRemembered() {
        const QString in = Work->path() + QStringLiteral("/in");
        const QString out = Work->path() + QStringLiteral("/out");
        Put("cover_id3.mp3", in + QStringLiteral("/a.mp3"));
        AddFolderInto(in, out, [](TfrmOption& dialog) {
            QVERIFY(dialog.findChild<QCheckBox*>(QStringLiteral("chkCopyLossy"))->isChecked());
            dialog.findChild<QCheckBox*>(QStringLiteral("chkCoverSize"))->setChecked(true);
            dialog.findChild<QSpinBox*>(QStringLiteral("spnCoverSize"))->setValue(32);
            ChooseCaption(dialog, QStringLiteral("Mp3"));
        });
        QVERIFY(AddingEnds(*Window));
        RunToTheEnd();
        const QString output = out + QStringLiteral("/a.mp3");
        QCOMPARE(ProbeText(output, QStringLiteral("stream=bit_rate"), QStringLiteral("a:0")),
                 ProbeText(in + QStringLiteral("/a.mp3"), QStringLiteral("stream=bit_rate"),
                           QStringLiteral("a:0")));
        QCOMPARE(ProbeText(output, QStringLiteral("stream=width"), QStringLiteral("v:0")),
                 QStringLiteral("32"));
        TfrmOption again(Window.get());
        QVERIFY(again.findChild<QCheckBox*>(QStringLiteral("chkCoverSize"))->isChecked());
        QCOMPARE(again.findChild<QSpinBox*>(QStringLiteral("spnCoverSize"))->value(), 32);
    }

    // Add Folder writes ReplayGain when asked, and remembers it: once the run has converted the
    // folder, each file's tags hold the gain of what was written as the ffmpeg tool measures it,
    // alone and with the folder as one album.
    void FolderReplayGainOfTheWrittenFiles() {
        const QString in = Work->path() + QStringLiteral("/in");
        const QString out = Work->path() + QStringLiteral("/out");
        QVERIFY(QDir().mkpath(in));
        for (const char* level : {"0.05", "0.5"})
            QVERIFY(RunFfmpeg({"-f", "lavfi", "-i",
                               QStringLiteral("anoisesrc=d=2:a=%1:r=44100").arg(level),
                               in + QStringLiteral("/noise_%1.wav").arg(level)}));
        AddFolderInto(in, out, [](TfrmOption& dialog) {
            dialog.findChild<QCheckBox*>(QStringLiteral("chkReplayGain"))->setChecked(true);
            ChooseCaption(dialog, QStringLiteral("Flac"));
        });
        QVERIFY(AddingEnds(*Window));
        RunToTheEnd();
        std::vector<std::filesystem::path> written;
        for (const char* level : {"0.05", "0.5"})
            written.push_back(ToPath(out + QStringLiteral("/noise_%1.flac").arg(level)));
        const double albumLufs = ToolLoudness(written).first;
        for (const std::filesystem::path& file : written) {
            const auto tag = [&file](const char* key) {
                return std::stod(ProbeValue(file, std::string("format_tags=") + key));
            };
            QVERIFY(std::abs(tag("REPLAYGAIN_TRACK_GAIN") - (-18 - ToolLoudness({file}).first)) <
                    0.1);
            QVERIFY(std::abs(tag("REPLAYGAIN_ALBUM_GAIN") - (-18 - albumLufs)) < 0.1);
        }
        TfrmOption again(Window.get());
        QVERIFY(again.findChild<QCheckBox*>(QStringLiteral("chkReplayGain"))->isChecked());
    }

    // A folder run asks once whether to use the cue sheets it meets, not once per album; the
    // tracks keep the tree, and the albums are not added whole as well.
    void FolderCueSheetsAreAskedForOnce() {
        const QString in = Work->path() + QStringLiteral("/albums");
        const QString out = Work->path() + QStringLiteral("/albums_out");
        for (const QString& album : {QStringLiteral("/A/"), QStringLiteral("/B/")}) {
            Put("tone_mono.wav", in + album + QStringLiteral("album.wav"));
            QFile sheet(in + album + QStringLiteral("album.cue"));
            QVERIFY(sheet.open(QIODevice::WriteOnly));
            sheet.write("FILE \"album.wav\" WAVE\nTRACK 01 AUDIO\nTITLE \"One\"\n"
                        "INDEX 01 00:00:00\nTRACK 02 AUDIO\nTITLE \"Two\"\nINDEX 01 00:00:30\n");
        }
        TDesktopRecorder::AnswerYes = true;
        AddFolderInto(in, out,
                      [](TfrmOption& dialog) { ChooseCaption(dialog, QStringLiteral("Wav")); });
        QTRY_COMPARE(Rows().RowCount(), 4);
        QCOMPARE(TDesktopRecorder::Questions.size(), size_t(1));
        QCOMPARE(Rows().OutputFile(0), out + QStringLiteral("/A/01 One.wav"));
        QCOMPARE(Rows().OutputFile(3), out + QStringLiteral("/B/02 Two.wav"));
    }

    // A tree's folder is made with its first output: before the run, Open Folder shows the
    // output folder it will be made in.
    void OpenFolderBeforeTheTreeIsMade() {
        const QString in = Work->path() + QStringLiteral("/tree");
        const QString out = Work->path() + QStringLiteral("/tree_out");
        Put("tone_mono.wav", in + QStringLiteral("/Album/01.wav"));
        AddFolderInto(in, out);
        QTRY_COMPARE(Rows().RowCount(), 1);
        QVERIFY(!QFileInfo::exists(out + QStringLiteral("/Album")));
        Window->FileList().selectionModel()->select(Window->FileList().model()->index(0, 0),
                                                    QItemSelectionModel::ClearAndSelect |
                                                        QItemSelectionModel::Rows);
        Buttons().mnuOpenFolder->trigger();
        QCOMPARE(TDesktopRecorder::Opened.size(), size_t(1));
        QCOMPARE(TDesktopRecorder::Opened[0], QUrl::fromLocalFile(out));
    }

    // An input that does not answer (a cue sheet that is a pipe no one writes to: the probe
    // refuses pipes, a sheet is read as it is) is read off the window's thread: the window's
    // events go on while it waits; the add ends with the reason once the pipe does, at once on
    // Stop (a file added after it comes alone, even while the pipe still holds its read), and
    // the window closes without waiting for it.
    void AHungInputHoldsNeitherTheWindowNorStopNorClose_data() {
        QTest::addColumn<QString>("end");
        for (const char* end : {"released", "stopped", "stopped, added while hung", "closed"})
            QTest::newRow(end) << QString::fromLatin1(end);
    }
    void AHungInputHoldsNeitherTheWindowNorStopNorClose() {
        QFETCH(QString, end);
        const bool stopped = end.startsWith(QStringLiteral("stopped"));
        const QString pipe = Work->path() + QStringLiteral("/pipe.cue");
        QVERIFY(mkfifo(QFile::encodeName(pipe).constData(), 0600) == 0);
        auto driver = std::make_unique<TDialogDriver>(*Window);
        driver->Then(ClickOk); // only for the file added after a stop
        Window->AddFiles({pipe});
        bool ran = false;
        QTimer::singleShot(0, this, [&ran] { ran = true; });
        QVERIFY(QTest::qWaitFor([&ran] { return ran; }));
        QVERIFY(Window->Adding() && Buttons().btnStop->isEnabled());
        const int writer = WriterOnceReadersWait(pipe);
        QVERIFY(writer >= 0);
        QVERIFY(Window->Adding());
        if (stopped) {
            Buttons().btnStop->trigger();
            QVERIFY(!Window->Adding());
            QVERIFY2(Log().contains(QStringLiteral("Adding %1 stopped.").arg(pipe)),
                     qPrintable(Log()));
        } else if (end == QStringLiteral("closed")) {
            driver.reset();
            QVERIFY(Window->close());
            Window.reset();
        }
        const QString tone = CopyFixture(QStringLiteral("tone_mono.wav"), Work->path());
        if (end == QStringLiteral("stopped, added while hung")) {
            Window->AddFiles({tone});
            QVERIFY(AddingEnds(*Window));
        }
        ::close(writer);
        if (!Window)
            return;
        if (end == QStringLiteral("stopped")) // once the pipe's read has ended, unheard
            Window->AddFiles({tone});
        QVERIFY(AddingEnds(*Window));
        QCOMPARE(Rows().RowCount(), stopped ? 1 : 0);
        QCOMPARE(Log().contains(QStringLiteral("pipe.cue line 0: the sheet has no TRACK")),
                 end == QStringLiteral("released"));
        QCOMPARE(driver->Done(), stopped);
    }

    // A run's input that does not answer (the added file replaced by a pipe no one writes to)
    // is opened on the task's worker: Start returns and the window's events go on while the
    // worker waits; Stop and Close return at once, the stopped task ending once the pipe does;
    // released, the pipe's sound is converted.
    void AHungRunInputHoldsNeitherTheWindowNorStopNorClose_data() {
        QTest::addColumn<QString>("end");
        for (const char* end : {"released", "stopped", "closed"})
            QTest::newRow(end) << QString::fromLatin1(end);
    }
    void AHungRunInputHoldsNeitherTheWindowNorStopNorClose() {
        QFETCH(QString, end);
        const QString input = CopyFixture(QStringLiteral("tone_mono.wav"), Work->path());
        Add({input}, Answer(QStringLiteral("Wav")));
        QVERIFY(QFile::remove(input));
        const QByteArray pipe = QFile::encodeName(input);
        QVERIFY(mkfifo(pipe.constData(), 0600) == 0);
        // A start that waits in the pipe's open itself is let go after a while, failing the test.
        TPipeRescue rescue(pipe.constData());
        Buttons().btnStart->trigger();
        QVERIFY(rescue.Returned());
        int ticks = 0;
        QTimer ticker;
        connect(&ticker, &QTimer::timeout, this, [&ticks] { ++ticks; });
        ticker.start(1);
        const int writer = WriterOnceReadersWait(input);
        QVERIFY(writer >= 0);
        QVERIFY(QTest::qWaitFor([&ticks] { return ticks >= 3; }));
        QVERIFY(Buttons().btnStop->isEnabled() && !Buttons().btnClear->isEnabled());
        SaveScreenshot(*Window, QStringLiteral("run_input_waits_%1.png").arg(end));
        if (end == QStringLiteral("stopped")) {
            Buttons().btnStop->trigger();
            QVERIFY(!Buttons().btnStop->isEnabled());
        } else if (end == QStringLiteral("closed")) {
            QVERIFY(Window->close());
            Window.reset();
        }
        // The sound through the pipe: stopped or closed, the task makes its output once its
        // input opens and removes it again.
        std::atomic<bool> poured{false};
        std::thread cat([&] {
            RunCommand("cat " +
                       ShellQuote(FixturePath(QStringLiteral("tone_mono.wav")).toStdString()) +
                       " > " + ShellQuote(input.toStdString()) + " 2>/dev/null");
            poured = true;
        });
        const bool pouredInTime =
            QTest::qWaitFor([&poured] { return poured.load(); }, RunTimeoutMs);
        if (!pouredInTime) // a reader for cat's open, so that its thread ends with the test
            ::close(::open(pipe.constData(), O_RDONLY | O_NONBLOCK));
        cat.join();
        ::close(writer);
        QVERIFY(pouredInTime);
        if (!Window)
            return;
        QTRY_VERIFY_WITH_TIMEOUT(Buttons().btnClear->isEnabled(), RunTimeoutMs);
        const QString output = Work->filePath(QStringLiteral("tone_mono_(new).wav"));
        if (end == QStringLiteral("released")) {
            QVERIFY(Rows().IsConverted(0));
            QCOMPARE(ProbeText(output, "format=duration").toDouble(), 3.0);
        } else {
            QVERIFY2(
                Rows().Cell(0, tcStatus).contains(QStringLiteral("stopped"), Qt::CaseInsensitive),
                qPrintable(Rows().Cell(0, tcStatus)));
            QVERIFY(!QFileInfo::exists(output));
        }
    }

    void FilesThatCannotBeReadOrHaveNoSoundLeaveTheListAlone() {
        TDialogDriver driver(*Window);
        driver.Then(ClickOk); // must stay unused: no dialog shows for these files
        Window->AddFiles({FixturePath(QStringLiteral("random.bin")),
                          FixturePath(QStringLiteral("video_only.mp4"))});
        QVERIFY(AddingEnds(*Window));
        QVERIFY(!driver.Done());
        QCOMPARE(Rows().RowCount(), 0);
        // A worker an earlier test let go may still add its library lines ahead.
        QVERIFY2(Log().contains(QStringLiteral("\n***File load error: ")), qPrintable(Log()));
        QVERIFY(Log().contains(QStringLiteral("\nvideo_only.mp4 has no sound to extract.\n")));
        QVERIFY(TDesktopRecorder::Boxes.empty());
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

    // A run with a task the encoder refuses (5 kbit/s), one that finishes and one that is stopped;
    // then a file added after the run is the only one the next Start converts.
    void ARunEndsInStatusesAndAddAfterItConvertsOnlyTheNewTask() {
        const QString tone = CopyFixture(QStringLiteral("tone_mono.wav"), Work->path());
        const QString refused = CopyFixture(QStringLiteral("mono_8k.wav"), Work->path());
        Add({tone}, Answer(QStringLiteral("Wav")));
        Add({refused}, Answer(QStringLiteral("Wma"), QStringLiteral("5")));
        StartPacedLongConversion();
        if (QTest::currentTestFailed())
            return;
        QCOMPARE(Rows().Cell(0, tcStatus), QStringLiteral("Done"));
        QVERIFY2(Rows()
                     .Cell(1, tcStatus)
                     .startsWith(QStringLiteral("Failed: Error while opening "
                                                "encoder")),
                 qPrintable(Rows().Cell(1, tcStatus)));
        QCOMPARE(Rows().Cell(2, tcStatus), QStringLiteral("Converting"));
        Buttons().btnStop->trigger();
        QTRY_VERIFY_WITH_TIMEOUT(Buttons().btnAdd->isEnabled(), RunTimeoutMs);
        QVERIFY(Rows().Cell(2, tcStatus).startsWith(QStringLiteral("Stopped at ")));
        // The failure is the row's, the summary's and the log's: no box halts the batch.
        QVERIFY(TDesktopRecorder::Boxes.empty());
        QVERIFY(Log().contains(QStringLiteral("***mono_8k.wav failed: Error while opening")));
        SaveScreenshot(*Window, QStringLiteral("finished_run_failed_row.png"));

        const QString firstOutput = Work->filePath(QStringLiteral("tone_mono_(new).wav"));
        const QString stoppedOutput = Work->filePath(QStringLiteral("long_2h_(new).wav"));
        const QDateTime firstWritten = QFileInfo(firstOutput).lastModified();
        const qint64 stoppedSize = QFileInfo(stoppedOutput).size();
        Add({CopyFixture(QStringLiteral("tone_48k_stereo.wav"), Work->path())},
            Answer(QStringLiteral("Wav")));
        QCOMPARE(Rows().RowCount(), 4);
        QCOMPARE(Rows().Cell(3, tcStatus), QStringLiteral("Waiting"));
        RunToTheEnd();
        QCOMPARE(Rows().Cell(3, tcStatus), QStringLiteral("Done"));
        QCOMPARE(ProbeText(Work->filePath(QStringLiteral("tone_48k_stereo_(new).wav")),
                           "stream=sample_rate", "a:0"),
                 QStringLiteral("48000"));
        QCOMPARE(QFileInfo(firstOutput).lastModified(), firstWritten);
        QCOMPARE(QFileInfo(stoppedOutput).size(), stoppedSize);
        QVERIFY(Rows().Cell(1, tcStatus).startsWith(QStringLiteral("Failed: ")));
        QVERIFY(TDesktopRecorder::Boxes.empty());
    }

    // An input that ends well before its declared length is done with a warning: the row
    // says where it ended, in a warning colour, and the summary counts it apart.
    void ATruncatedInputIsDoneWithAWarning() {
        Add({CopyFixture(QStringLiteral("truncated_30.mp3"), Work->path()),
             CopyFixture(QStringLiteral("tone_mono.wav"), Work->path())},
            Answer(QStringLiteral("Wav")));
        RunToTheEnd();
        QCOMPARE(Rows().Cell(0, tcStatus), QStringLiteral("Done — ended at 0:01 of 0:04"));
        QCOMPARE(Rows().Cell(1, tcStatus), QStringLiteral("Done"));
        const auto colour = [&](int row) {
            return Rows().data(Rows().index(row, tcStatus), Qt::ForegroundRole);
        };
        QVERIFY(colour(0).value<QColor>().isValid());
        QVERIFY(!colour(1).isValid());
        QVERIFY(Rows()
                    .data(Rows().index(0, tcStatus), Qt::ToolTipRole)
                    .toString()
                    .contains(QStringLiteral(": the input ended at 0:01 of its declared 0:04.\n")));
        QCOMPARE(Window->RunStatusText(),
                 QStringLiteral("1 done, 1 with a warning, 0 stopped, 0 failed"));
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
        QVERIFY(Rows().Cell(0, tcStatus).startsWith(QStringLiteral("Stopped at ")));
        const QString output = Work->filePath(QStringLiteral("long_2h_(new).wav"));
        const double seconds = ProbeText(output, "format=duration").toDouble();
        QVERIFY2(seconds > 0 && seconds < 7200, qPrintable(QString::number(seconds)));
        Buttons().mnuPlay->trigger();
        QCOMPARE(TDesktopRecorder::Opened.size(), size_t(1));
    }

    // Run Again over what the task's own stopped run left replaces it, the sound of a new stop
    // too; another file put at that name meanwhile is left alone and the run takes the next name.
    void RunAgainReplacesItsOwnStoppedPart_data() {
        QTest::addColumn<bool>("foreign");
        QTest::newRow("its own part") << false;
        QTest::newRow("another file in its place") << true;
    }
    void RunAgainReplacesItsOwnStoppedPart() {
        QFETCH(bool, foreign);
        StartPacedLongConversion();
        if (QTest::currentTestFailed())
            return;
        Buttons().btnStop->trigger();
        QTRY_VERIFY_WITH_TIMEOUT(Buttons().btnClear->isEnabled(), RunTimeoutMs);
        const QString output = Work->filePath(QStringLiteral("long_2h_(new).wav"));
        const QString numbered = Work->filePath(QStringLiteral("long_2h_(new_1).wav"));
        const QString other = FixturePath(QStringLiteral("tone_mono.wav"));
        if (foreign)
            QVERIFY(QFile::remove(output) && QFile::copy(other, output));
        const std::optional<TFileIdentity> before = FileIdentityAt(ToPath(output));
        Window->FileList().selectionModel()->select(
            Rows().index(0, 0), QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
        Buttons().popRunAgain->trigger();
        QTRY_VERIFY_WITH_TIMEOUT(!Rows().Cell(0, tcCurrentTime).isEmpty(), RunTimeoutMs);
        Buttons().btnStop->trigger();
        QTRY_VERIFY_WITH_TIMEOUT(Buttons().btnClear->isEnabled(), RunTimeoutMs);
        QVERIFY(Rows().Cell(0, tcStatus).startsWith(QStringLiteral("Stopped at ")));
        QCOMPARE(Rows().OutputFile(0), foreign ? numbered : output);
        QCOMPARE(QFileInfo::exists(numbered), foreign);
        // The foreign file as it was; the task's own part replaced by the new one.
        QCOMPARE(FileIdentityAt(ToPath(output)) == before, foreign);
        if (foreign)
            QCOMPARE(QFileInfo(output).size(), QFileInfo(other).size());
        QVERIFY(ProbeText(Rows().OutputFile(0), "format=duration").toDouble() > 0);
        if (!foreign)
            SaveScreenshot(*Window, QStringLiteral("run_again_replaced.png"));
    }

    // The output folder removed after the task was added: the row fails with the reason at the
    // start, the run goes on without a box. Removed while the next file's dialog is up (it
    // remembers the folder), OK goes back to "<same as input>" with a line in the log.
    void ARemovedOutputFolderFailsTheRowWithoutABox() {
        const QString out = Work->filePath(QStringLiteral("out"));
        QVERIFY(QDir().mkpath(out));
        const QStringList inputs = {CopyFixture(QStringLiteral("tone_mono.wav"), Work->path()),
                                    CopyFixture(QStringLiteral("mono_8k.wav"), Work->path())};
        Add({inputs[0]}, [out](TfrmOption& dialog) {
            dialog.findChild<QLineEdit*>(QStringLiteral("edtOutPath"))->setText(out + u'/');
            ChooseCaption(dialog, QStringLiteral("Wav"));
            ClickOk(dialog);
        });
        Add({inputs[1]}, [](TfrmOption& dialog) {
            ClickButton(dialog, "btnSameAsInput");
            ClickOk(dialog);
        });
        QVERIFY(QDir(out).removeRecursively());
        RunToTheEnd();
        QVERIFY(TDesktopRecorder::Boxes.empty());
        QVERIFY2(Rows().Cell(0, tcStatus).startsWith(QStringLiteral("Failed: No such file")),
                 qPrintable(Rows().Cell(0, tcStatus)));
        QCOMPARE(Rows().Cell(1, tcStatus), QStringLiteral("Done"));
        QCOMPARE(Window->RunStatusText(), QStringLiteral("1 done, 0 stopped, 1 failed"));
        SaveScreenshot(*Window, QStringLiteral("output_folder_removed.png"));

        QVERIFY(QDir().mkpath(out));
        Add({inputs[0]}, [out](TfrmOption& dialog) {
            dialog.findChild<QLineEdit*>(QStringLiteral("edtOutPath"))->setText(out + u'/');
            ClickOk(dialog);
        });
        Add({inputs[1]}, [out](TfrmOption& dialog) {
            QVERIFY(QDir(out).removeRecursively());
            ClickOk(dialog);
        });
        QVERIFY(Log().contains(QStringLiteral("***The output folder ") + out +
                               QStringLiteral("/ no longer exists")));
        QCOMPARE(Rows().RowCount(), 4);
        QCOMPARE(FromPath(Window->Tessel().Task(3)->OutputOptions.FileName.parent_path()),
                 Work->path());
        RunToTheEnd();
        QCOMPARE(Rows().Cell(3, tcStatus), QStringLiteral("Done"));
        QVERIFY(TDesktopRecorder::Boxes.empty());
    }

    // The run ends while the question to stop it and close is up: the question goes, and the
    // window stays, showing the run's end.
    void TheCloseQuestionGoesWhenTheRunEnds() {
        StartPacedLongConversion();
        if (QTest::currentTestFailed())
            return;
        TDesktopRecorder::WhileAsked = [this] {
            Window->Tessel().StopTasks(false);
            QTRY_VERIFY_WITH_TIMEOUT(Buttons().btnClear->isEnabled(), RunTimeoutMs);
        };
        QVERIFY(!Window->close());
        QVERIFY(Window->isVisible());
        QCOMPARE(TDesktopRecorder::Questions.size(), size_t(1));
        QVERIFY(Rows().Cell(0, tcStatus).startsWith(QStringLiteral("Stopped at ")));
        TDesktopRecorder::WhileAsked = nullptr;
        QVERIFY(Window->close());
        QCOMPARE(TDesktopRecorder::Questions.size(), size_t(1));
    }

    void ClosingDuringAConversionAsksWaitsAndNoHandlerRunsAfterwards() {
        StartPacedLongConversion();
        if (QTest::currentTestFailed())
            return;
        TDesktopRecorder::AnswerYes = false;
        QVERIFY(!Window->close());
        QVERIFY(Window->isVisible() && Buttons().btnStop->isEnabled());
        TDesktopRecorder::AnswerYes = true;
        QVERIFY(Window->close());
        QCOMPARE(
            TDesktopRecorder::Questions,
            std::vector<QString>(2, QStringLiteral("A conversion is running. Stop it and close?")));
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
