// The options dialog's "Sound track" group and the window's inputs with several outputs: the
// default-flagged track chosen, every track one file each, chapters, and a cue sheet beside an
// audio file. Inputs are made here by the ffmpeg tool.
#include "AppTestSupport.h"

#include "MainFrm.h"
#include "OptionFrm.h"
#include "TaskListModel.h"

#include "probe/AVProbe.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

namespace {

const QString Chapters = QStringLiteral(";FFMETADATA1\n"
                                        "[CHAPTER]\nTIMEBASE=1/1000\nSTART=0\nEND=1000\ntitle=A\n"
                                        "[CHAPTER]\nTIMEBASE=1/1000\nSTART=1000\nEND=2000\n");
const QString Cue = QStringLiteral("TITLE \"Album\"\nFILE \"album.flac\" WAVE\n"
                                   "TRACK 01 AUDIO\nTITLE \"One\"\nINDEX 01 00:00:00\n"
                                   "TRACK 02 AUDIO\nTITLE \"Two\"\nINDEX 01 00:00:40\n"
                                   "TRACK 03 AUDIO\nTITLE \"Three\"\nINDEX 01 00:01:10\n");

void WriteText(const QString& file, const QString& text) {
    QFile out(file);
    QVERIFY(out.open(QIODevice::WriteOnly));
    out.write(text.toUtf8());
}

} // namespace

class TSoundTrackTest : public QObject {
    Q_OBJECT
private:
    std::unique_ptr<QTemporaryDir> Work;
    std::unique_ptr<TfrmMain> Window;
    QString Film, Book, Album;

    QComboBox& Tracks(TfrmOption& dialog) {
        return *dialog.findChild<QComboBox*>(QStringLiteral("cmbSoundTrack"));
    }
    QCheckBox& SplitChapters(TfrmOption& dialog) {
        return *dialog.findChild<QCheckBox*>(QStringLiteral("chkSplitChapters"));
    }
    // Adds a file, answering the dialog with the action (none: no dialog may show).
    void Add(const QString& file, const std::function<void(TfrmOption&)>& answer) {
        TDialogDriver driver(*Window);
        if (answer)
            driver.Then(answer);
        Window->AddFiles({file});
        QVERIFY(AddingEnds(*Window));
        QVERIFY(driver.Done());
    }
    QStringList Outputs() {
        QStringList names;
        for (int row = 0; row < Window->TaskList().RowCount(); ++row)
            names << Window->TaskList().Cell(row, tcOutput);
        return names;
    }

private slots:
    void initTestCase() {
        Work = std::make_unique<QTemporaryDir>();
        Film = Work->filePath(QStringLiteral("film.mkv"));
        Book = Work->filePath(QStringLiteral("book.m4a"));
        Album = Work->filePath(QStringLiteral("album.flac"));
        // English first, a German commentary flagged as the default second, French third.
        QVERIFY(RunFfmpeg({"-f",
                           "lavfi",
                           "-i",
                           "sine=f=440:d=2",
                           "-f",
                           "lavfi",
                           "-i",
                           "sine=f=880:d=2",
                           "-f",
                           "lavfi",
                           "-i",
                           "sine=f=1320:d=2",
                           "-filter_complex",
                           "[1]pan=stereo|c0=c0|c1=c0[two]",
                           "-map",
                           "0",
                           "-map",
                           "[two]",
                           "-map",
                           "2",
                           "-c:a",
                           "flac",
                           "-metadata:s:a:0",
                           "language=eng",
                           "-metadata:s:a:1",
                           "language=ger",
                           "-metadata:s:a:1",
                           "title=Kommentar",
                           "-metadata:s:a:2",
                           "language=fre",
                           "-disposition:a:0",
                           "0",
                           "-disposition:a:1",
                           "default",
                           "-disposition:a:2",
                           "0",
                           Film}));
        WriteText(Work->filePath(QStringLiteral("chapters.txt")), Chapters);
        QVERIFY(RunFfmpeg({"-f", "lavfi", "-i", "sine=f=440:d=2", "-i",
                           Work->filePath(QStringLiteral("chapters.txt")), "-map", "0",
                           "-map_chapters", "1", "-c:a", "aac", Book}));
        QVERIFY(RunFfmpeg({"-f", "lavfi", "-i", "sine=f=440:d=2", "-c:a", "flac", Album}));
        WriteText(Work->filePath(QStringLiteral("album.cue")), Cue);
        QVERIFY(QDir().mkpath(Work->filePath(QStringLiteral("lib/sub"))));
        QVERIFY(QDir().mkpath(Work->filePath(QStringLiteral("out"))));
        QVERIFY(QFile::copy(Album, Work->filePath(QStringLiteral("lib/sub/song.flac"))));
    }
    void init() {
        TDesktopRecorder::Reset();
        ResetSettings();
        Window = std::make_unique<TfrmMain>();
        Window->show();
    }
    void cleanup() { Window.reset(); }

    void TheDialogListsTheTracksWithTheDefaultChosen() {
        Add(Film, [this](TfrmOption& dialog) {
            QComboBox& tracks = Tracks(dialog);
            QCOMPARE(tracks.count(), 4);
            QCOMPARE(tracks.itemText(0), QStringLiteral("1: eng, flac, 1 ch"));
            QCOMPARE(tracks.currentText(),
                     QStringLiteral("2: ger, flac, 2 ch, Kommentar (default)"));
            QCOMPARE(tracks.itemText(3), QStringLiteral("All tracks, one file each"));
            QCOMPARE(dialog.Choices().AudioStream, 1);
            QVERIFY(!SplitChapters(dialog).isEnabled());
            SaveScreenshot(dialog, QStringLiteral("options_dialog_sound_track.png"));
            tracks.setCurrentIndex(2);
            QCOMPARE(dialog.Choices().AudioStream, 2);
            ClickButton(dialog, "btnOk");
        });
        QCOMPARE(Outputs(), QStringList{QStringLiteral("film_(new).mp3")});
    }

    void AllTracksGiveOneTaskEach() {
        Add(Film, [this](TfrmOption& dialog) {
            Tracks(dialog).setCurrentIndex(3);
            ChooseCaption(dialog, QStringLiteral("Wav"));
            ClickButton(dialog, "btnOk");
        });
        QCOMPARE(Outputs(), (QStringList{"film_(new)_1_eng.wav", "film_(new)_2_ger.wav",
                                         "film_(new)_3_fre.wav"}));
    }

    void ChaptersGiveOneTaskEach() {
        Add(Book, [this](TfrmOption& dialog) {
            QCOMPARE(SplitChapters(dialog).text(), QStringLiteral("Split at chapters (2)"));
            SplitChapters(dialog).setChecked(true);
            ChooseCaption(dialog, QStringLiteral("Wav"));
            ClickButton(dialog, "btnOk");
        });
        QCOMPARE(Outputs(), (QStringList{"01 A.wav", "02 Chapter 2.wav"}));
        // The last piece runs to the end: the list shows its own length, not the input's.
        QCOMPARE(Window->TaskList().Cell(1, tcTotalTime), QStringLiteral("0:01"));
    }

    // The question for an audio file with a sheet beside it; a sheet added itself asks nothing.
    void ACueSheetBesideAsksForItsTracks() {
        TDesktopRecorder::AnswerYes = false;
        Add(Album, ClickOkOnly());
        QCOMPARE(TDesktopRecorder::Questions,
                 std::vector<QString>{QStringLiteral(
                     "album.flac has a cue sheet beside it (3 tracks): add the tracks instead?")});
        QCOMPARE(Outputs(), QStringList{QStringLiteral("album_(new).mp3")});
        TDesktopRecorder::AnswerYes = true;
        Add(Album, ClickOkOnly());
        // Each track's row shows its own part of the album's size.
        double kib = 0;
        for (int row = 1; row <= 3; ++row) {
            const QString size = Window->TaskList().Cell(row, tcInputSize);
            QVERIFY2(size.endsWith(QStringLiteral(" KB")), qPrintable(size));
            kib += size.chopped(3).toDouble();
        }
        QVERIFY2(qAbs(kib - QFileInfo(Album).size() / 1024.0) < 0.05,
                 qPrintable(QString::number(kib)));
        Add(Work->filePath(QStringLiteral("album.cue")), ClickOkOnly());
        QCOMPARE(Outputs().mid(1),
                 (QStringList{"01 One.mp3", "02 Two.mp3", "03 Three.mp3", "01 One_(new_1).mp3",
                              "02 Two_(new_1).mp3", "03 Three_(new_1).mp3"}));
    }

    // The name the dialog shows is the one the tasks take: the first (from the output folder
    // down), with the count of the others.
    void TheNameShownIsTheOneTheTasksTake_data() {
        QTest::addColumn<QString>("input"); // a file, or a folder added into "out"
        QTest::addColumn<int>("choice");
        QTest::addColumn<bool>("taken"); // the plain name is taken by a file
        QTest::newRow("plain") << "book.m4a" << int(cPlain) << false;
        QTest::newRow("numbered") << "book.m4a" << int(cPlain) << true;
        QTest::newRow("overwrite") << "book.m4a" << int(cOverwrite) << true;
        QTest::newRow("chapters") << "book.m4a" << int(cChapters) << false;
        QTest::newRow("all tracks") << "film.mkv" << int(cAllTracks) << false;
        QTest::newRow("cue") << "album.cue" << int(cPlain) << false;
        QTest::newRow("tree") << "lib" << int(cPlain) << false;
        QTest::newRow("template") << "lib" << int(cTemplate) << false;
    }
    void TheNameShownIsTheOneTheTasksTake() {
        QFETCH(QString, input);
        QFETCH(int, choice);
        QFETCH(bool, taken);
        const QString path = Work->filePath(input);
        const bool folder = QFileInfo(path).isDir();
        const QString out = Work->filePath(QStringLiteral("out"));
        const QString plain = Work->filePath(QStringLiteral("book_(new).wav"));
        if (taken)
            WriteText(plain, QStringLiteral("taken"));
        QString shown;
        TDialogDriver driver(*Window);
        driver.Then([&](TfrmOption& dialog) {
            ChooseCaption(dialog, QStringLiteral("Wav"));
            if (folder)
                dialog.findChild<QLineEdit*>(QStringLiteral("edtOutPath"))->setText(out + u'/');
            dialog.findChild<QCheckBox*>(QStringLiteral("chkOverwrite"))
                ->setChecked(choice == cOverwrite);
            dialog.findChild<QLineEdit*>(QStringLiteral("edtNameTemplate"))
                ->setText(choice == cTemplate ? QStringLiteral("{dir}/x {filename}") : QString());
            SplitChapters(dialog).setChecked(choice == cChapters);
            if (choice == cAllTracks)
                Tracks(dialog).setCurrentIndex(Tracks(dialog).count() - 1);
            shown = PlannedOutputText(dialog);
            SaveScreenshot(
                dialog, QStringLiteral("options_dialog_planned_names_%1.png")
                            .arg(QString::fromLatin1(QTest::currentDataTag()).replace(u' ', u'_')));
            ClickButton(dialog, "btnOk");
        });
        if (folder)
            Window->AddFolder(path);
        else
            Window->AddFiles({path});
        QVERIFY(AddingEnds(*Window));
        QFile::remove(plain);
        QVERIFY(driver.Done());
        const TTaskListModel& rows = Window->TaskList();
        QVERIFY(rows.RowCount() > 0);
        QString expected = QStringLiteral("Output file: ") +
                           QDir(folder ? out : Work->path()).relativeFilePath(rows.OutputFile(0));
        if (rows.RowCount() > 1)
            expected += QStringLiteral(" (and %1 more)").arg(rows.RowCount() - 1);
        else if (folder)
            expected += QStringLiteral(" (and the folder's other files alike)");
        QCOMPARE(shown, expected);
        QCOMPARE(rows.OutputFile(0).endsWith(QStringLiteral("(new_1).wav")),
                 taken && choice != cOverwrite);
    }

    // A sheet in the file's CUESHEET tag is asked for as one beside it.
    void ASheetInATagAsksForItsTracks() {
        const QString tagged = Work->filePath(QStringLiteral("tagged.flac"));
        QVERIFY(RunFfmpeg({"-i", Album, "-c", "copy", "-metadata", "CUESHEET=" + Cue, tagged}));
        TDesktopRecorder::AnswerYes = true;
        Add(tagged, ClickOkOnly());
        QCOMPARE(TDesktopRecorder::Questions,
                 std::vector<QString>{QStringLiteral(
                     "tagged.flac holds a cue sheet (3 tracks): add the tracks instead?")});
        QCOMPARE(Outputs(), (QStringList{"01 One.mp3", "02 Two.mp3", "03 Three.mp3"}));
    }

private:
    enum TChoice { cPlain, cOverwrite, cChapters, cAllTracks, cTemplate };
    static std::function<void(TfrmOption&)> ClickOkOnly() {
        return [](TfrmOption& dialog) { ClickButton(dialog, "btnOk"); };
    }
};

QObject* NewSoundTrackTest() {
    return new TSoundTrackTest;
}

#include "SoundTrackTest.moc"
