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
#include <QFile>
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
        Add(Work->filePath(QStringLiteral("album.cue")), ClickOkOnly());
        QCOMPARE(Outputs().mid(1),
                 (QStringList{"01 One.mp3", "02 Two.mp3", "03 Three.mp3", "01 One_(new_1).mp3",
                              "02 Two_(new_1).mp3", "03 Three_(new_1).mp3"}));
    }

private:
    static std::function<void(TfrmOption&)> ClickOkOnly() {
        return [](TfrmOption& dialog) { ClickButton(dialog, "btnOk"); };
    }
};

QObject* NewSoundTrackTest() {
    return new TSoundTrackTest;
}

#include "SoundTrackTest.moc"
