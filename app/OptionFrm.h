// The "Output Options" dialog: shows an input's media information and takes the choices for
// its task: format, sample rate, channels, volume, bit rate, a clip picked on a preview with a
// slider, the output folder and two switches. Its choices last from file to file, and the main
// ones from one start to the next; the component's output assembly turns them into the task's
// records. Under the picture (in its place for a file without pictures) a waveform of the sound,
// measured on workers while the dialog shows and kept per file while the window lives, takes
// the position and the marks too; "Play Selection" plays the clip and "Trim Silence" sets it
// around the sound. The video settings (frame size, rate, aspect, encoders, norm, video bit rate,
// filters, crop, pad and hooks) have no controls: they stay at "Auto" or off, where they add
// nothing to a task. The dialog reads no file on the window's thread: its pictures are decoded,
// its output names and OK's output folder checked on workers of its own, a placeholder shown
// until they come.
#ifndef SOUNDPICK_APP_OPTIONFRM_H
#define SOUNDPICK_APP_OPTIONFRM_H

#include "SoundTrackGroup.h"
#include "component/OutputAssembly.h"
#include "probe/SoundDecoder.h"

#include <QButtonGroup>
#include <QDialog>
#include <QImage>

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

class QCheckBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QRadioButton;
class QSpinBox;
class TAVProbe;
class TClipSlider;
class TEnvelopeWorker;
class TInputReader;
class TPreviewImage;
class TSelectionPlayer;
class TWaveformStrip;
struct TFolderCheck;
struct TSoundEnvelope;

struct TOutputFormat;

class TfrmOption : public QDialog {
    Q_OBJECT
public:
    explicit TfrmOption(QWidget* parent = nullptr);

    // Takes a new input: the picture, slider, clip fields and information text start afresh;
    // every other choice stays as the user left it. The probe, open on the input, is the
    // dialog's from now: its pictures are decoded on the dialog's worker, which closes it once
    // the dialog hides.
    void FillFromProbe(std::shared_ptr<TAVProbe> probe);

    // The output names other tasks hold: the name shown, and the one the task takes, passes
    // them over.
    void SetClaimedNames(std::vector<TPathFileName> names);
    // The names the tasks of the input being added take with the dialog's choices (its tracks,
    // chapters, a cue sheet's tracks, a folder's tree or name template), as the window will
    // make them; the first is shown with the count of the others. More: the dialog speaks for
    // further files (a folder's) named the same way. Unset: the one name the choices give.
    // The plan runs on the dialog's worker: whatever it captures must stay valid on its own.
    enum TMoreFiles { mfNone, mfFolder };
    using TOutputPlan = std::function<std::vector<TPathFileName>(const TOutputChoices&)>;
    void SetOutputPlan(TOutputPlan plan, TMoreFiles more = mfNone);
    // The dialog's state for the output assembly, with the claimed names.
    TOutputChoices Choices() const;
    // The track, every track or the chapters, with the lists they come from.
    const TSoundTrackGroup& SoundTrack() const { return *grpSoundTrack; }

    // The slider and the picture at its position (null until decoded), for the window's own
    // tests and screenshots.
    TClipSlider& Slider() const { return *trcPreview; }
    const QImage& PictureHolder() const { return Picture; }
    // The waveform's scan, for the same.
    const TEnvelopeWorker& EnvelopeScan() const { return *EnvelopeWorker; }

    // OK checks the output folder on the dialog's worker, OK disabled meanwhile: a folder gone
    // since it was chosen falls back to "<same as input>", one on an optical disc is refused.
    void done(int result) override;

signals:
    // The chosen output folder (remembered, or chosen for an earlier file) no longer exists:
    // the dialog has gone back to "<same as input>".
    void outputFolderGone(const QString& folder);

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    QWidget* BuildInfoGroup();
    QWidget* BuildFormatGroups();
    QWidget* BuildClipGroup();
    QWidget* BuildOutputControls();

    // "Original" keeps the sound as it is: the controls that change it are disabled, and the
    // label shows the name the output would take now.
    void UpdateFormatControls();
    // The output names are planned on the name worker, one plan at a time: a change made
    // meanwhile plans again once the plan under way is back.
    void PlanOutputNames();
    void OutputNamesPlanned(const TOutputChoices& choices, bool folderGone,
                            const std::vector<TPathFileName>& names);
    void ShowOutputNames(const QString& names);
    QString PlannedNamesText(const TOutputChoices& choices,
                             const std::vector<TPathFileName>& names) const;
    void UpdateRateChoices(const TOutputFormat& format);
    const TOutputFormat& ChosenFormat() const;
    // Shows why when the bit rate chosen is outside the format's limits.
    bool RefusedBitRate();
    void SetUpSlider();
    void UpdatePreview();
    // The picture at the slider's position is decoded on the picture worker, one at a time:
    // the position the slider reached meanwhile is decoded next.
    void ReadPicture();
    void PictureRead(const QImage& picture);
    void btnSetStartClick();
    void btnSetEndClick();
    void SetStartAt(int position);
    void SetEndAt(int position);
    void UpdateWaveformMarks();
    // The sound shown, played and trimmed: the chosen track's.
    TSoundSource ShownSound() const;
    // The envelope of the shown sound: the one kept for it, or a scan that fills it in.
    void ShowEnvelope();
    void EnvelopeFinished(bool complete);
    void btnPlaySelectionClick();
    void btnTrimSilenceClick();
    void UpdateCutClip();
    void imgPreviewClick();
    void btnOutPathClick();
    // OK's answer, once its check (see done) is back.
    void OutputFolderChecked(const QString& chosen, const TFolderCheck& check);
    // Shows why when OK refuses the choices: a sound that cannot be kept, a bit rate outside
    // the format's limits.
    bool Refused();
    // A chosen folder that has gone away (as the name worker found) is not offered again.
    void FallBackFromGoneFolder();
    QString InputFolder() const;
    QString OutputFolder() const; // the chosen folder, or the input's
    // The choices remembered between starts: format, rate, channels, bit rate, output folder
    // and overwriting; read at creation, written on OK.
    void LoadSettings();
    void SaveSettings() const;

    // Controls.
    QPlainTextEdit* mmoAVFileInfo;
    QButtonGroup grpFormats;
    QButtonGroup grpAudioSampleRate;
    QButtonGroup grpAudioChannels;
    QCheckBox* chkAudioVolume;
    QLineEdit* edtAudioVolume;
    QCheckBox* chkAudioBitRate;
    QLineEdit* edtAudioBitRate;
    QLabel* lblOutputExtension;
    QCheckBox* chkLoudness;
    QLineEdit* edtLoudness;
    QList<QWidget*> SoundChangingGroups; // rate, channels, volume and bit rate
    TPreviewImage* imgPreview;
    TClipSlider* trcPreview;
    QLabel* lblPTS;
    QPushButton* btnSetStart;
    QLineEdit* edtStartTime;
    QPushButton* btnSetEnd;
    QLineEdit* edtEndTime;
    QCheckBox* chkCutClip;
    TWaveformStrip* wavSound;
    QPushButton* btnPlaySelection;
    QPushButton* btnTrimSilence;
    TSoundTrackGroup* grpSoundTrack;
    QCheckBox* chkCopyTimestamp;
    QCheckBox* chkOverwrite;
    QLineEdit* edtOutPath;
    QLineEdit* edtNameTemplate; // names from tags for the files of an added folder
    QCheckBox* chkCopyImages;   // an added folder's cover pictures beside its outputs
    QCheckBox* chkCopyLossy;    // an added folder's lossy files kept when small enough
    QCheckBox* chkCoverSize;    // covers scaled down to fit spnCoverSize
    QSpinBox* spnCoverSize;
    QCheckBox* chkReplayGain; // gain tags filled by an album pass at the run's end
    QPushButton* btnOutPath;
    QPushButton* btnSameAsInput;
    QPushButton* btnOk;
    QPushButton* btnCancel;

    // The input being shown, what the window's thread knows of it once it is filled in (the
    // probe itself is the picture worker's).
    std::shared_ptr<TAVProbe> Probe;
    bool HasPictures = false;
    bool HasSound = false;
    bool HasTimeLine = false;
    int VideoStream = -1;
    int64_t DurationUs = -1;
    TPathFileName InputFileName;
    std::string InputFormatName;
    std::string InputAudioCodec;
    std::vector<TPathFileName> ClaimedNames;
    TOutputPlan OutputPlan;
    TMoreFiles MoreFiles = mfNone;
    QImage Picture;     // the last picture at the video's own size
    QString OutputNote; // what the label says after the output names
    TInputReader* PictureReader;
    TInputReader* NameReader;
    std::optional<int> WantedPicture; // a position to decode once the picture worker is free
    bool NamesWanted = false;         // a plan to make once the name worker is free
    bool CheckFolder = false;         // the next plan checks that the output folder exists
    bool Updating = false; // no preview work while the slider is set up or the dialog hides
    bool StartSet = false; // "Set Start" pressed for this input
    bool EndSet = false;   // "Set End" pressed for this input

    TEnvelopeWorker* EnvelopeWorker;
    TSelectionPlayer* Player;
    // The complete envelopes of the files' tracks shown (by file and stream), kept while the
    // window lives.
    using TEnvelopeKey = std::pair<TPathFileName, int>;
    std::map<TEnvelopeKey, std::shared_ptr<const TSoundEnvelope>> Envelopes;
};

#endif
