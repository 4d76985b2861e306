// The options dialog over the real probe and fixture files: the slider's set-up for inputs of
// every kind, the clip controls, the preview picture, the refusals and what the dialog hands
// to the output assembly; the waveform's scan (kept per file, cancelled on close), Trim
// Silence, the strip's keys and mouse, and Play Selection without a sound output.
#include "AppTestSupport.h"

#include "ClipSlider.h"
#include "EnvelopeWorker.h"
#include "OptionFrm.h"
#include "PcmQueue.h"
#include "PreviewImage.h"
#include "WaveformStrip.h"

#include "component/FFmpegComponent.h"
#include "probe/AVProbe.h"

#include <QApplication>
#include <QAudioDevice>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMediaDevices>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSettings>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <QTimer>

#include <atomic>
#include <future>
#include <memory>
#include <thread>
#include <tuple>

class TOptionDialogTest : public QObject {
    Q_OBJECT
private:
    std::unique_ptr<TFFmpegComponent> Component;
    std::unique_ptr<TfrmOption> Dialog;
    QTemporaryDir Made; // inputs made by the tests themselves

    void Fill(const QString& file) {
        auto probe = std::make_shared<TAVProbe>();
        QVERIFY2(probe->LoadFile(ToPath(file)), probe->LastError().c_str());
        Dialog->FillFromProbe(probe);
    }
    template <class T> T* Control(const char* name) {
        return Dialog->findChild<T*>(QString::fromLatin1(name));
    }
    QString Text(const char* name) { return Control<QLineEdit>(name)->text(); }
    void SaveScreenshot(const QString& name) {
        Dialog->show();
        ::SaveScreenshot(*Dialog, name);
        Dialog->hide();
    }
    bool CutClipEnabled() { return Control<QCheckBox>("chkCutClip")->isEnabled(); }
    void SetAt(int position, const char* button) {
        Dialog->Slider().setValue(position);
        ClickButton(*Dialog, button);
    }

    // The state the scan ends in: Trim Silence waits for the whole sound.
    void WaitForWholeEnvelope() {
        QTRY_VERIFY_WITH_TIMEOUT(Control<QPushButton>("btnTrimSilence")->isEnabled(), 120000);
    }
    double SecondsOf(const char* field) { return Text(field).toDouble(); }

private slots:
    void initTestCase() {
        Component = std::make_unique<TFFmpegComponent>();
        QVERIFY2(Component->LoadLibraries(ToPath(ExecutableFolder() + QStringLiteral("/LibAV"))),
                 Component->LastErrorText().c_str());
        // Exactly ten seconds of sound.
        QVERIFY(RunFfmpeg({"-f", "lavfi", "-i", "sine=frequency=440:duration=10:sample_rate=8000",
                           Made.filePath("ten_seconds.wav")}));
    }

    void init() {
        TDesktopRecorder::Reset();
        ResetSettings();
        Dialog = std::make_unique<TfrmOption>();
    }
    void cleanup() {
        Dialog.reset();
        SetOpticalDriveTest(nullptr);
    }

    void TheSliderFollowsTheInputsDuration_data() {
        QTest::addColumn<QString>("file");
        QTest::addColumn<bool>("visible");
        QTest::addColumn<qint64>("scaleUs");
        QTest::addColumn<int>("maximum");
        QTest::addColumn<int>("lineSize");
        QTest::addColumn<int>("pageSize");
        QTest::newRow("two hours")
            << FixturePath("long_2h.mp3") << true << qint64(1000000) << 7200 << 100 << 500;
        QTest::newRow("ten seconds")
            << Made.filePath("ten_seconds.wav") << true << qint64(1000) << 10000 << 100 << 500;
        QTest::newRow("four seconds")
            << FixturePath("video_h264_aac.mp4") << true << qint64(1000) << 4000 << 100 << 500;
        QTest::newRow("unknown duration")
            << FixturePath("no_duration.h264") << true << qint64(10) << 0 << 1 << 5;
        QTest::newRow("still picture")
            << FixturePath("still.jpg") << false << qint64(-1) << 0 << -1 << -1;
    }
    void TheSliderFollowsTheInputsDuration() {
        QFETCH(QString, file);
        QFETCH(bool, visible);
        QFETCH(qint64, scaleUs);
        QFETCH(int, maximum);
        QFETCH(int, lineSize);
        QFETCH(int, pageSize);
        Fill(file);
        TClipSlider& slider = Dialog->Slider();
        QCOMPARE(slider.isVisibleTo(Dialog.get()), visible);
        QCOMPARE(slider.minimum(), 0);
        QCOMPARE(slider.maximum(), maximum);
        QCOMPARE(slider.value(), 0);
        if (scaleUs > 0)
            QCOMPARE(slider.ScaleUs(), scaleUs);
        if (lineSize > 0) {
            QCOMPARE(slider.singleStep(), lineSize);
            QCOMPARE(slider.pageStep(), pageSize);
        }
        QVERIFY(!CutClipEnabled());
        QVERIFY(!Control<QCheckBox>("chkCutClip")->isChecked());
        QVERIFY2(TDesktopRecorder::Boxes.empty(), "the preview raises no box");
        QCOMPARE(Text("edtStartTime"), QStringLiteral("N/A"));
        QCOMPARE(Text("edtEndTime"), QStringLiteral("N/A"));
        // Read on the dialog's worker (it asks the file for its size).
        QTRY_VERIFY(Control<QPlainTextEdit>("mmoAVFileInfo")
                        ->toPlainText()
                        .startsWith(QStringLiteral("File Name: ") + file + u'\n'));
        // A clip cannot be chosen where there is no time line.
        if (maximum == 0) {
            SetAt(0, "btnSetStart");
            SetAt(0, "btnSetEnd");
            QVERIFY(!CutClipEnabled());
        }
    }

    void SetStartAndSetEndEnableCutClipOnlyForAForwardSelection() {
        Fill(FixturePath("video_h264_aac.mp4"));
        SetAt(0, "btnSetEnd");
        QVERIFY(!CutClipEnabled());
        QCOMPARE(Text("edtEndTime"), QStringLiteral("0.000"));
        SetAt(5, "btnSetStart");
        SetAt(3, "btnSetEnd");
        QVERIFY(!CutClipEnabled());
        QCOMPARE(Text("edtStartTime"), QStringLiteral("0.005"));
        SetAt(2500, "btnSetEnd");
        QVERIFY(CutClipEnabled());
        QCOMPARE(Text("edtEndTime"), QStringLiteral("2.500"));
        QCOMPARE(Control<QLabel>("lblPTS")->text(), QStringLiteral("PTS: 2.500"));
        // Both ends set with the start first: the box ticks itself; the user may untick it.
        QVERIFY(Control<QCheckBox>("chkCutClip")->isChecked());
        Control<QCheckBox>("chkCutClip")->setChecked(false);
        QVERIFY(!Dialog->Choices().Clip);
        Control<QCheckBox>("chkCutClip")->setChecked(true);
        const TOutputChoices choices = Dialog->Choices();
        QVERIFY(choices.Clip);
        QCOMPARE(BuildInputOptions(choices).StartMs, 5);
        QCOMPARE(BuildOutputOptions(choices).DurationMs, 2495);
        // A new file starts with a fresh clip.
        Fill(FixturePath("video_h264_aac.mp4"));
        QVERIFY(!CutClipEnabled());
        QVERIFY(!Dialog->Choices().Clip);
    }

    void AClipToTheEndOfTheSliderEndsAtTheDuration() {
        const QString file = Made.filePath("ten_seconds.wav");
        Fill(file);
        SetAt(2000, "btnSetStart");
        SetAt(Dialog->Slider().maximum(), "btnSetEnd");
        const TOutputChoices choices = Dialog->Choices();
        const int durationMs = qRound(ProbeText(file, "format=duration").toDouble() * 1000);
        QCOMPARE(BuildInputOptions(choices).StartMs, 2000);
        QCOMPARE(BuildOutputOptions(choices).DurationMs, durationMs - 2000);
    }

    void ThePreviewShowsTheVideoPictureAtTheSlidersTime() {
        Fill(FixturePath("video_h264_aac.mp4"));
        // Decoded on the dialog's worker: black until it comes.
        QVERIFY(Dialog->PictureHolder().isNull());
        QTRY_COMPARE(Dialog->PictureHolder().size(), QSize(320, 240));
        const QImage first = Dialog->PictureHolder();
        Dialog->Slider().setValue(2000);
        QTRY_VERIFY2(Dialog->PictureHolder() != first, "the picture did not follow the slider");
        const QImage later = Dialog->PictureHolder();
        QCOMPARE(later.size(), QSize(320, 240));
        // Not a black frame: the test pattern has bright colours.
        int bright = 0;
        for (int y = 0; y < later.height(); y += 8)
            for (int x = 0; x < later.width(); x += 8)
                bright += qGray(later.pixel(x, y)) > 100;
        QVERIFY(bright > 100);
        QCOMPARE(Control<QLabel>("lblPTS")->text(), QStringLiteral("PTS: 2.000"));

        // The picture is letterboxed into the preview area: 320x240 in 220x145 spans the height.
        QCOMPARE(TPreviewImage::FitRect(QSize(320, 240), QSize(220, 145)), QRect(13, 0, 194, 145));
        QCOMPARE(TPreviewImage::FitRect(QSize(720, 300), QSize(220, 145)), QRect(0, 27, 220, 91));

        // A click shows the picture at its own size; Escape closes it.
        QString caption;
        QSize size;
        QTimer::singleShot(0, [&] {
            QWidget* window = QApplication::activeModalWidget();
            caption = window->windowTitle();
            size = window->size();
            QTest::keyClick(window, Qt::Key_Escape);
        });
        QTest::mouseClick(Control<TPreviewImage>("imgPreview"), Qt::LeftButton);
        QCOMPARE(caption, QStringLiteral("320x240 PTS: 2.000"));
        QCOMPARE(size, QSize(320, 240));

        SaveScreenshot(QStringLiteral("options_dialog.png"));
    }

    void ASoundOnlyInputShowsNoPicture() {
        Fill(FixturePath("tone_1k_stereo.mp3"));
        QVERIFY(Dialog->PictureHolder().isNull());
        QVERIFY(TDesktopRecorder::Boxes.empty());
    }

    // A music file with a cover: no box, the cover as the preview at every slider position,
    // and the slider still sets the clip.
    void AMusicFileShowsItsCover() {
        Fill(FixturePath("cover_id3.mp3"));
        QVERIFY(TDesktopRecorder::Boxes.empty());
        QTRY_COMPARE(Dialog->PictureHolder().size(), QSize(64, 64));
        SetAt(Dialog->Slider().maximum() / 2, "btnSetStart");
        SetAt(Dialog->Slider().maximum(), "btnSetEnd");
        QCOMPARE(Dialog->PictureHolder().size(), QSize(64, 64));
        QVERIFY(CutClipEnabled());
        QVERIFY(TDesktopRecorder::Boxes.empty());
        SaveScreenshot(QStringLiteral("options_dialog_cover.png"));
    }

    // Choices last from file to file; on OK the main ones are written and read back by the next
    // dialog (a next start), the volume is not.
    void ChoicesLastFromFileToFileAndBetweenStarts() {
        Fill(FixturePath("video_h264_aac.mp4"));
        ChooseCaption(*Dialog, QStringLiteral("Flac"));
        ChooseCaption(*Dialog, QStringLiteral("22050"));
        ChooseCaption(*Dialog, QStringLiteral("Mono"));
        Control<QCheckBox>("chkAudioVolume")->setChecked(true);
        QVERIFY(Control<QLineEdit>("edtAudioVolume")->isEnabled());
        Control<QLineEdit>("edtAudioVolume")->setText(QStringLiteral("512"));
        Control<QCheckBox>("chkAudioBitRate")->setChecked(true);
        Control<QLineEdit>("edtAudioBitRate")->setText(QStringLiteral("192"));
        Control<QCheckBox>("chkOverwrite")->setChecked(true);
        const auto checkKept = [&](bool withVolume) {
            const TOutputChoices choices = Dialog->Choices();
            QVERIFY(choices.Format == fmFlac);
            QCOMPARE(choices.SampleRateHz, std::optional<int>(22050));
            QCOMPARE(choices.Channels, std::optional<int>(1));
            QVERIFY(choices.BitRateKbps && choices.Overwrite);
            QCOMPARE(choices.BitRateKbps, std::optional<int>(192));
            QCOMPARE(choices.Volume.has_value(), withVolume);
        };
        Fill(FixturePath("tone_1k_stereo.wav"));
        checkKept(true);
        const TOutputChoices choices = Dialog->Choices();
        QCOMPARE(choices.InputFileName, ToPath(FixturePath("tone_1k_stereo.wav")));
        const TOutputOptions output = BuildOutputOptions(choices);
        QCOMPARE(output.SampleRate, 22050);
        QCOMPARE(output.Channels, 1);
        QCOMPARE(output.Volume, 512);
        QCOMPARE(FromPath(output.FileName),
                 FixturePath("tone_1k_stereo") + QStringLiteral("_(new).flac"));

        Control<QLineEdit>("edtOutPath")->setText(Made.path() + u'/');
        Dialog->show();
        ClickButton(*Dialog, "btnOk");
        QTRY_COMPARE(Dialog->result(), int(QDialog::Accepted));
        Dialog = std::make_unique<TfrmOption>();
        Fill(FixturePath("tone_mono.wav"));
        checkKept(false);
        QCOMPARE(Text("edtOutPath"), Made.path() + u'/');
        // Cancel writes nothing; a folder that has gone away is not offered, and the window is
        // told so for its log; Reset goes back to the input's folder.
        ChooseCaption(*Dialog, QStringLiteral("Mp3"));
        Dialog->show();
        ClickButton(*Dialog, "btnCancel");
        const QString gone = Made.path() + QStringLiteral("/gone/");
        UserSettings()->setValue(QStringLiteral("Output/Folder"), gone);
        // The format is kept by its command-line name; a caption kept by earlier versions reads
        // too.
        const QString formatKey = QStringLiteral("Output/Format");
        QCOMPARE(UserSettings()->value(formatKey).toString(), QStringLiteral("flac"));
        UserSettings()->setValue(formatKey, QStringLiteral("Original"));
        Dialog = std::make_unique<TfrmOption>();
        QSignalSpy told(Dialog.get(), &TfrmOption::outputFolderGone);
        Fill(FixturePath("tone_mono.wav"));
        QVERIFY(Dialog->Choices().Format == fmCopy);
        QTRY_COMPARE(Text("edtOutPath"), QString::fromLatin1(SameAsInputFolder));
        QCOMPARE(told.size(), 1);
        QCOMPARE(told[0][0].toString(), gone);
        QVERIFY(!Control<QPushButton>("btnSameAsInput")->isEnabled());
        Control<QLineEdit>("edtOutPath")->setText(Made.path() + u'/');
        ClickButton(*Dialog, "btnSameAsInput");
        QCOMPARE(Text("edtOutPath"), QString::fromLatin1(SameAsInputFolder));
    }

    // "Original" disables what would change the sound and shows the container it will write.
    void OriginalShowsItsExtensionAndDisablesSoundChanges() {
        Fill(FixturePath("video_mpeg4_mp3.avi"));
        QVERIFY(PlannedOutputText(*Dialog).contains(QStringLiteral("_(new).mp3")));
        QVERIFY(Control<QWidget>("grpAudioSampleRate")->isEnabled());
        ChooseCaption(*Dialog, QStringLiteral("Original"));
        QVERIFY(
            PlannedOutputText(*Dialog).contains(QStringLiteral("_(new).mp3 (mp3 kept as it is")));
        for (const char* name : {"grpAudioSampleRate", "grpAudioChannels", "chkAudioVolume",
                                 "chkAudioBitRate", "chkLoudness"})
            QVERIFY2(!Control<QWidget>(name)->isEnabledTo(Dialog.get()), name);
        Fill(FixturePath("video_h264_aac.mp4"));
        QVERIFY(PlannedOutputText(*Dialog).contains(QStringLiteral("_(new).m4a")));
        ChooseCaption(*Dialog, QStringLiteral("Opus"));
        QVERIFY(PlannedOutputText(*Dialog).endsWith(QStringLiteral("_(new).opus")));
        QVERIFY(Control<QWidget>("grpAudioChannels")->isEnabled());
        Control<QCheckBox>("chkLoudness")->setChecked(true);
        QCOMPARE(Text("edtLoudness"), QStringLiteral("-16"));
        Control<QLineEdit>("edtLoudness")->setText(QStringLiteral("-23"));
        QCOMPARE(*BuildOutputOptions(Dialog->Choices()).LoudnessTargetLufs, -23.0);
    }

    // Only the rates the format's encoder takes can be chosen; a rate chosen for another format
    // goes back to "Auto" when the format does not take it.
    void OnlyRatesTheFormatTakesAreOffered() {
        Fill(FixturePath("tone_1k_stereo.wav"));
        ChooseCaption(*Dialog, QStringLiteral("Mp3"));
        ChooseCaption(*Dialog, QStringLiteral("8000"));
        const auto rateButton = [&](const QString& caption) {
            for (QRadioButton* button : Dialog->findChildren<QRadioButton*>())
                if (button->text() == caption)
                    return button;
            return static_cast<QRadioButton*>(nullptr);
        };
        ChooseCaption(*Dialog, QStringLiteral("Ac3"));
        for (const char* rate : {"8000", "11025", "22050"})
            QVERIFY2(!rateButton(QString::fromLatin1(rate))->isEnabled(), rate);
        QVERIFY(rateButton(QStringLiteral("48000"))->isEnabled());
        QVERIFY(!Dialog->Choices().SampleRateHz);
        ChooseCaption(*Dialog, QStringLiteral("Flac"));
        QVERIFY(rateButton(QStringLiteral("8000"))->isEnabled());
    }

    // The label names the file the task would take now: past the names on disk and those other
    // tasks hold, in the chosen folder, the plain name again when overwriting.
    void TheOutputNameShownIsTheOneTheTaskWouldTake() {
        const QString input = Made.filePath(QStringLiteral("ten_seconds.wav"));
        QFile taken(Made.filePath(QStringLiteral("ten_seconds_(new).mp3")));
        QVERIFY(taken.open(QIODevice::WriteOnly));
        taken.close();
        Dialog->SetClaimedNames({ToPath(Made.filePath(QStringLiteral("ten_seconds_(new_1).mp3")))});
        Fill(input);
        ChooseCaption(*Dialog, QStringLiteral("Mp3"));
        // Checked on the dialog's worker: a placeholder until the name comes.
        QCOMPARE(Control<QLabel>("lblOutputExtension")->text(), QStringLiteral("Output file: …"));
        QCOMPARE(PlannedOutputText(*Dialog),
                 QStringLiteral("Output file: ten_seconds_(new_2).mp3"));
        Control<QCheckBox>("chkOverwrite")->setChecked(true);
        QCOMPARE(PlannedOutputText(*Dialog), QStringLiteral("Output file: ten_seconds_(new).mp3"));
        Control<QCheckBox>("chkOverwrite")->setChecked(false);
        QTemporaryDir elsewhere;
        Control<QLineEdit>("edtOutPath")->setText(elsewhere.path() + u'/');
        QCOMPARE(PlannedOutputText(*Dialog), QStringLiteral("Output file: ten_seconds_(new).mp3"));
        taken.remove();
    }

    // Digits only: what a user types beside them is refused as typed, not read as "no number".
    void NumberFieldsTakeDigitsOnly() {
        Fill(FixturePath("tone_1k_stereo.wav"));
        Control<QCheckBox>("chkAudioVolume")->setChecked(true);
        Control<QCheckBox>("chkAudioBitRate")->setChecked(true);
        for (const char* name : {"edtAudioVolume", "edtAudioBitRate"})
            Control<QLineEdit>(name)->clear();
        QTest::keyClicks(Control<QLineEdit>("edtAudioBitRate"), QStringLiteral("320k"));
        QTest::keyClicks(Control<QLineEdit>("edtAudioVolume"), QStringLiteral("-1x28"));
        QCOMPARE(Text("edtAudioBitRate"), QStringLiteral("320"));
        QCOMPARE(Text("edtAudioVolume"), QStringLiteral("128"));
        ChooseCaption(*Dialog, QStringLiteral("48000"));
        const TOutputOptions output = BuildOutputOptions(Dialog->Choices());
        QCOMPARE(output.AudioBitrate, 320000);
        QCOMPARE(output.Volume, 128);
        QCOMPARE(output.SampleRate, 48000);
        QVERIFY(Control<QLineEdit>("edtAudioVolume")
                    ->toolTip()
                    .startsWith(QStringLiteral("256=normal")));
        QVERIFY(Control<QLineEdit>("edtAudioVolume")
                    ->toolTip()
                    .contains(QStringLiteral("original level")));
        // A bit rate outside the format's limits keeps the dialog open, as the command line
        // refuses it.
        Control<QLineEdit>("edtAudioBitRate")->setText(QStringLiteral("0"));
        Dialog->show();
        ClickButton(*Dialog, "btnOk");
        QVERIFY(Dialog->isVisible());
        QCOMPARE(TDesktopRecorder::Boxes.size(), size_t(1));
        QCOMPARE(TDesktopRecorder::Boxes[0].Text,
                 QStringLiteral("Mp3 takes a bit rate of 1 to 2000000 Kbps."));
    }

    // OK checks the output folder on the dialog's worker (here held until the test lets it
    // go): the window's events go on meanwhile, a second OK waits with the first and Cancel
    // closes at once; then a folder on an optical disc keeps the dialog open with the box, and
    // a folder gone before OK is pressed (at once after filling) falls back to "<same as
    // input>".
    void OkChecksTheOutputFolderOnTheDialogsWorker_data() {
        QTest::addColumn<QString>("end");
        for (const char* end : {"accepted", "optical disc", "folder gone", "cancelled"})
            QTest::newRow(end) << QString::fromLatin1(end);
    }
    void OkChecksTheOutputFolderOnTheDialogsWorker() {
        QFETCH(QString, end);
        const bool optical = end == QStringLiteral("optical disc");
        const bool gone = end == QStringLiteral("folder gone");
        const bool cancelled = end == QStringLiteral("cancelled");
        std::promise<void> release;
        std::atomic<int> checks{0};
        std::atomic<bool> onWindowsThread{false};
        SetOpticalDriveTest([&checks, &onWindowsThread, optical,
                             released = release.get_future().share()](const QString&) {
            if (QThread::currentThread() == QCoreApplication::instance()->thread())
                onWindowsThread = true;
            else {
                ++checks;
                released.wait();
            }
            return optical;
        });
        QSignalSpy told(Dialog.get(), &TfrmOption::outputFolderGone);
        QSignalSpy accepted(Dialog.get(), &QDialog::accepted);
        if (gone)
            Control<QLineEdit>("edtOutPath")->setText(Made.path() + QStringLiteral("/gone/"));
        Fill(FixturePath("tone_1k_stereo.wav"));
        Dialog->show();
        ClickButton(*Dialog, "btnOk");
        QVERIFY(!onWindowsThread);
        QTRY_COMPARE(checks.load(), 1);
        QTRY_COMPARE(told.size(), qsizetype(gone)); // the names' plan found it gone meanwhile
        Dialog->accept();
        QVERIFY(Dialog->isVisible());
        QVERIFY(!Control<QPushButton>("btnOk")->isEnabled());
        if (end == QStringLiteral("accepted"))
            ::SaveScreenshot(*Dialog, QStringLiteral("options_dialog_ok_checking.png"));
        if (cancelled)
            ClickButton(*Dialog, "btnCancel");
        QCOMPARE(Dialog->isVisible(), !cancelled);
        release.set_value();
        QTRY_VERIFY(Control<QPushButton>("btnOk")->isEnabled());
        QCOMPARE(Dialog->isVisible(), optical);
        QCOMPARE(accepted.size(), qsizetype(!optical && !cancelled));
        QCOMPARE(checks.load(), 1);
        QCOMPARE(told.size(), qsizetype(gone));
        QVERIFY(!Dialog->Choices().OutputFolder);
        QCOMPARE(TDesktopRecorder::Boxes.size(), size_t(optical));
        if (optical) {
            QCOMPARE(TDesktopRecorder::Boxes[0].Icon, TBoxIcon::Information);
            QCOMPARE(
                TDesktopRecorder::Boxes[0].Text,
                QStringLiteral("Input folder is located in CD-ROM, please select output folder."));
        }
    }

    // 2 s of tone between 2 s of silence: Start at 2.000 s, End within a bin of 4 s, the clip
    // chosen; the file's envelope is kept, so the next showing needs no scan.
    void TrimSilenceSetsTheClipAroundTheSound() {
        Fill(FixturePath("tone_padded_2s.wav"));
        QVERIFY(Control<TWaveformStrip>("wavSound")->isVisibleTo(Dialog.get()));
        QVERIFY(!Control<QPushButton>("btnTrimSilence")->isEnabled());
        WaitForWholeEnvelope();
        QCOMPARE(Dialog->EnvelopeScan().Envelope()->Peaks.size(), size_t(600));
        ClickButton(*Dialog, "btnTrimSilence");
        QCOMPARE(Text("edtStartTime"), QStringLiteral("2.000"));
        QVERIFY2(qAbs(SecondsOf("edtEndTime") - 4.0) <= 0.010, qPrintable(Text("edtEndTime")));
        QVERIFY(Control<QCheckBox>("chkCutClip")->isChecked());
        Dialog->Slider().setValue(3000);
        Dialog->show();
        ::SaveScreenshot(*Dialog, QStringLiteral("options_dialog_waveform.png"));
        ClickButton(*Dialog, "btnCancel");

        Fill(FixturePath("tone_padded_2s.wav"));
        QVERIFY(Control<QPushButton>("btnTrimSilence")->isEnabled());
        QVERIFY(!Dialog->EnvelopeScan().Running());
        QCOMPARE(Text("edtStartTime"), QStringLiteral("N/A"));
    }

    // Two tracks with their sound in different places: the strip and Trim Silence follow the
    // track chosen, starting with the default-flagged second one.
    void TheWaveformFollowsTheChosenTrack() {
        const QString file = Made.filePath(QStringLiteral("two_tracks.mkv"));
        QVERIFY(RunFfmpeg({"-f", "lavfi", "-i", "sine=f=440:d=1:sample_rate=8000,apad=whole_dur=3",
                           "-f", "lavfi", "-i",
                           "sine=f=880:d=1:sample_rate=8000,adelay=2000,apad=whole_dur=3", "-map",
                           "0", "-map", "1", "-c:a", "flac", "-disposition:a:0", "0",
                           "-disposition:a:1", "default", file}));
        Fill(file);
        Dialog->show();
        auto& tracks = *Control<QComboBox>("cmbSoundTrack");
        for (const auto& [item, startText, endS] :
             {std::tuple{1, "2.000", 3.0}, {0, "0.000", 1.0}}) {
            tracks.setCurrentIndex(item);
            WaitForWholeEnvelope();
            ClickButton(*Dialog, "btnTrimSilence");
            QCOMPARE(Text("edtStartTime"), QString::fromLatin1(startText));
            QVERIFY2(qAbs(SecondsOf("edtEndTime") - endS) <= 0.010, qPrintable(Text("edtEndTime")));
            ::SaveScreenshot(*Dialog, QStringLiteral("options_dialog_track_%1.png").arg(item + 1));
        }
        ClickButton(*Dialog, "btnCancel");
    }

    // Closing the dialog part-way through a two-hour file leaves no scan running and no bins
    // arriving afterwards.
    void ClosingTheDialogCancelsTheScan() {
        Fill(FixturePath("long_2h.mp3"));
        QVERIFY(Dialog->EnvelopeScan().Running());
        Dialog->show();
        QVERIFY(QTest::qWaitForWindowExposed(Dialog.get()));
        ClickButton(*Dialog, "btnCancel");
        QVERIFY(!Dialog->EnvelopeScan().Running());
        const std::size_t bins = Dialog->EnvelopeScan().Envelope()->Peaks.size();
        QCoreApplication::processEvents();
        QCOMPARE(Dialog->EnvelopeScan().Envelope()->Peaks.size(), bins);
        QVERIFY(bins < 720000);
    }

    // With the focus on the strip: 10 ms and 1 s steps, [ and ] at the position, Home and End.
    void KeysMoveThePositionAndSetTheMarks() {
        Fill(FixturePath("tone_padded_2s.wav"));
        auto* strip = Control<TWaveformStrip>("wavSound");
        TClipSlider& slider = Dialog->Slider();
        QTest::keyClick(strip, Qt::Key_Right);
        QCOMPARE(slider.value(), 10);
        QTest::keyClick(strip, Qt::Key_Right, Qt::ShiftModifier);
        QCOMPARE(slider.value(), 1010);
        QTest::keyClick(strip, Qt::Key_Left);
        QCOMPARE(slider.value(), 1000);
        QTest::keyClick(strip, Qt::Key_BracketLeft);
        QCOMPARE(Text("edtStartTime"), QStringLiteral("1.000"));
        QTest::keyClick(strip, Qt::Key_End);
        QCOMPARE(slider.value(), slider.maximum());
        QTest::keyClick(strip, Qt::Key_BracketRight);
        QVERIFY(Control<QCheckBox>("chkCutClip")->isChecked());
        QTest::keyClick(strip, Qt::Key_Home);
        QCOMPARE(slider.value(), 0);
    }

    // A click moves the position; dragging the End mark moves the mark.
    void TheMouseMovesThePositionAndTheMarks() {
        Fill(FixturePath("tone_padded_2s.wav"));
        Dialog->show();
        QVERIFY(QTest::qWaitForWindowExposed(Dialog.get()));
        auto* strip = Control<TWaveformStrip>("wavSound");
        TClipSlider& slider = Dialog->Slider();
        const int y = strip->height() / 2;
        QTest::mouseClick(strip, Qt::LeftButton, {}, QPoint(strip->XOf(3000), y));
        QVERIFY(qAbs(slider.value() - 3000) <= slider.maximum() / strip->width() + 1);
        slider.setValue(slider.maximum());
        ClickButton(*Dialog, "btnSetEnd");
        const QPoint from(strip->XOf(slider.maximum()), y);
        const QPoint to(strip->XOf(4500), y);
        QTest::mousePress(strip, Qt::LeftButton, {}, from);
        QMouseEvent move(QEvent::MouseMove, QPointF(to), strip->mapToGlobal(QPointF(to)),
                         Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(strip, &move);
        QTest::mouseRelease(strip, Qt::LeftButton, {}, to);
        QVERIFY2(qAbs(SecondsOf("edtEndTime") - 4.5) < 0.05, qPrintable(Text("edtEndTime")));
    }

    // The offscreen platform has no sound output: a message, and nothing else changes.
    void PlaySelectionWithoutASoundOutputSaysSo() {
        if (!QMediaDevices::defaultAudioOutput().isNull())
            QSKIP("this machine has a sound output");
        Fill(FixturePath("tone_padded_2s.wav"));
        ClickButton(*Dialog, "btnPlaySelection");
        QCOMPARE(TDesktopRecorder::Boxes.size(), size_t(1));
        QCOMPARE(TDesktopRecorder::Boxes[0].Icon, TBoxIcon::Information);
        QCOMPARE(TDesktopRecorder::Boxes[0].Text, QStringLiteral("No sound output is available."));
        QCOMPARE(Text("edtStartTime"), QStringLiteral("N/A"));
    }

    // The player's queue: a writer twice its size waits for the reader and every byte arrives
    // in order; Abort ends a writer waiting on a full queue.
    void ThePlayersQueueHandsOverEveryByteAndAbortEndsAWaitingWriter() {
        TPcmQueue queue(64);
        queue.open(QIODevice::ReadOnly | QIODevice::Unbuffered);
        QByteArray sent(128, Qt::Uninitialized);
        for (int i = 0; i < sent.size(); ++i)
            sent[i] = char(i);
        std::thread writer([&] {
            QVERIFY(queue.Push(sent.constData(), sent.size()));
            queue.Finish();
        });
        QByteArray received;
        while (!queue.atEnd())
            received += queue.read(16);
        writer.join();
        QCOMPARE(received, sent);

        TPcmQueue full(8);
        full.open(QIODevice::ReadOnly | QIODevice::Unbuffered);
        std::atomic<bool> pushed{true};
        std::thread blocked([&] { pushed = full.Push(sent.constData(), sent.size()); });
        QTRY_COMPARE(full.bytesAvailable(), qint64(8));
        full.Abort();
        blocked.join();
        QVERIFY(!pushed);
        QVERIFY(full.atEnd());
    }
};

QObject* NewOptionDialogTest() {
    return new TOptionDialogTest;
}

#include "OptionDialogTest.moc"
