// The "Output Options" dialog.
#include "OptionFrm.h"

#include "ClipSlider.h"
#include "EnvelopeWorker.h"
#include "InputReader.h"
#include "PreviewImage.h"
#include "SelectionPlayer.h"
#include "UtilFuncs.h"
#include "WaveformStrip.h"

#include "component/ChoiceTexts.h"
#include "component/OutputFormats.h"
#include "probe/AVProbe.h"
#include "probe/SoundEnvelope.h"

#include <QCheckBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QFontDatabase>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpressionValidator>
#include <QSettings>
#include <QSignalBlocker>
#include <QSpinBox>

#include <algorithm>
#include <filesystem>
#include <stdexcept>

// What OK asks of the file system: whether the chosen output folder is gone, and whether the
// folder the outputs then go to (the input's, when none is chosen or it is gone) lies on an
// optical disc. A share that does not answer holds the dialog's worker, not the window.
struct TFolderCheck {
    bool Gone = false;
    QString Folder; // the folder judged
    bool Optical = false;
};

namespace {

constexpr int ClientWidth = 679;
constexpr int ClientHeight = 336;
const QString NotAvailable = QStringLiteral("N/A");
const QString Planning = QStringLiteral("…"); // the output names until they are planned
constexpr int PreviewHeight = 145;
constexpr int WaveformHeight = 60; // under a picture; a file without one has it in its place

// Where the settings keep the choices that last from one start to the next.
const QString FormatKey = QStringLiteral("Output/Format");
const QString SampleRateKey = QStringLiteral("Output/SampleRate");
const QString ChannelsKey = QStringLiteral("Output/Channels");
const QString AdjustBitRateKey = QStringLiteral("Output/AdjustBitRate");
const QString BitRateKey = QStringLiteral("Output/BitRate");
const QString FolderKey = QStringLiteral("Output/Folder");
const QString NameTemplateKey = QStringLiteral("Output/NameTemplate");
const QString OverwriteKey = QStringLiteral("Output/Overwrite");
const QString CopyImagesKey = QStringLiteral("Output/CopyImages");
const QString CopyLossyKey = QStringLiteral("Output/CopyLossy");
const QString ScaleCoversKey = QStringLiteral("Output/ScaleCovers");
const QString CoverSizeKey = QStringLiteral("Output/CoverSize");
const QString ReplayGainKey = QStringLiteral("Output/ReplayGain");

// Number fields take digits only: "320k" is refused as it is typed, not read as no number.
void TakeDigitsOnly(QLineEdit* field) {
    field->setValidator(
        new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]{0,6}")), field));
}

// The format table's texts are UTF-8.
QString FromView(std::string_view text) {
    return QString::fromUtf8(text.data(), qsizetype(text.size()));
}

void CheckCaption(QButtonGroup& group, const QString& caption) {
    for (QAbstractButton* button : group.buttons()) {
        if (button->text() == caption)
            button->setChecked(true);
    }
}

// A group of exclusive choices laid out in a number of columns; the first is checked.
QGroupBox* ChoiceGroup(const QString& title, const char* objectName, const QStringList& captions,
                       int columns, QButtonGroup& buttons, QWidget* parent) {
    auto* box = new QGroupBox(title, parent);
    box->setObjectName(QString::fromLatin1(objectName));
    auto* grid = new QGridLayout(box);
    grid->setContentsMargins(6, 2, 6, 2);
    grid->setVerticalSpacing(0);
    for (int i = 0; i < captions.size(); ++i) {
        auto* button = new QRadioButton(captions[i], box);
        buttons.addButton(button, i);
        grid->addWidget(button, i / columns, i % columns);
    }
    buttons.button(0)->setChecked(true);
    return box;
}

// The picture at a time of the probe's stream; null when it cannot be sought or decoded (the
// probe has logged why).
QImage PictureAt(TAVProbe& probe, int stream, int64_t timeUs) {
    const TBitmap24* bitmap = probe.Seek(stream, timeUs) ? &probe.GetFrameBitmap(stream) : nullptr;
    if (!bitmap || bitmap->Width() == 0 || bitmap->Height() == 0)
        return {};
    // A view of the probe's bitmap: the probe overwrites its own with the next picture.
    return QImage(bitmap->Data(), bitmap->Width(), bitmap->Height(), bitmap->Stride(),
                  QImage::Format_BGR888)
        .copy();
}

// The outputs' names, and whether the chosen output folder is gone when asked to check.
struct TPlannedNames {
    bool FolderGone = false;
    std::vector<TPathFileName> Names;
};

bool FolderGone(const std::optional<TPathFileName>& folder) {
    std::error_code error;
    return folder && !std::filesystem::is_directory(*folder, error);
}

TPlannedNames PlanNames(const TfrmOption::TOutputPlan& plan, const TOutputChoices& choices,
                        bool checkFolder) {
    TPlannedNames planned;
    planned.FolderGone = checkFolder && FolderGone(choices.OutputFolder);
    planned.Names = plan ? plan(choices) : std::vector{OutputFileNameFor(choices)};
    return planned;
}

TFolderCheck CheckOutputFolder(const std::optional<TPathFileName>& chosen,
                               const QString& inputFolder) {
    TFolderCheck check;
    check.Gone = FolderGone(chosen);
    check.Folder = chosen && !check.Gone ? FromPath(*chosen) : inputFolder;
    check.Optical = IsOpticalDriveFolder(check.Folder);
    return check;
}

QLineEdit* ReadOnlyField(const char* objectName, QWidget* parent) {
    auto* field = new QLineEdit(parent);
    field->setObjectName(QString::fromLatin1(objectName));
    field->setReadOnly(true);
    return field;
}

QPushButton* Button(const QString& caption, const char* objectName, QWidget* parent) {
    auto* button = new QPushButton(caption, parent);
    button->setObjectName(QString::fromLatin1(objectName));
    return button;
}

// A check box that enables its edit field.
QGroupBox* CheckedFieldGroup(const QString& title, QCheckBox* check, QLineEdit* field,
                             QWidget* parent) {
    auto* box = new QGroupBox(title, parent);
    auto* row = new QHBoxLayout(box);
    row->setContentsMargins(6, 2, 6, 2);
    row->addWidget(check);
    row->addWidget(field);
    field->setEnabled(false);
    QObject::connect(check, &QCheckBox::toggled, field, &QWidget::setEnabled);
    return box;
}

} // namespace

TfrmOption::TfrmOption(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowCloseButtonHint),
      EnvelopeWorker(new TEnvelopeWorker(this)), Player(new TSelectionPlayer(this)) {
    setObjectName(QStringLiteral("frmOption"));
    // A picture that cannot be had is no reason to stop the user: the preview says so.
    PictureReader = new TInputReader([this](const std::string&) { PictureRead(QImage()); }, this);
    NameReader = new TInputReader(
        [this](const std::string& what) {
            ShowOutputNames(QString::fromStdString(what));
            if (std::exchange(NamesWanted, false))
                PlanOutputNames();
        },
        this);
    setWindowTitle(QStringLiteral("Output Options"));
    auto* columns = new QHBoxLayout(this);
    columns->setContentsMargins(6, 6, 6, 6);
    auto* left = new QVBoxLayout;
    left->addWidget(BuildInfoGroup(), 1);
    left->addWidget(BuildFormatGroups());
    auto* right = new QVBoxLayout;
    right->addWidget(BuildClipGroup());
    grpSoundTrack = new TSoundTrackGroup(this);
    right->addWidget(grpSoundTrack);
    connect(grpSoundTrack, &TSoundTrackGroup::TrackChanged, this, [this] { ShowEnvelope(); });
    connect(grpSoundTrack, &TSoundTrackGroup::PiecesChanged, this,
            [this] { UpdateFormatControls(); });
    right->addWidget(BuildOutputControls());
    right->addStretch(1);
    auto* buttons = new QHBoxLayout;
    btnOk = Button(QStringLiteral("OK"), "btnOk", this);
    btnOk->setDefault(true);
    btnCancel = Button(QStringLiteral("Cancel"), "btnCancel", this);
    buttons->addStretch(1);
    buttons->addWidget(btnOk);
    buttons->addWidget(btnCancel);
    right->addLayout(buttons);
    columns->addLayout(left, 1);
    columns->addLayout(right);
    connect(btnOk, &QPushButton::clicked, this, &QDialog::accept);
    connect(btnCancel, &QPushButton::clicked, this, &QDialog::reject);
    LoadSettings();
    UpdateFormatControls();
    // The name shown follows the folder, the name template and the overwriting switch.
    connect(edtOutPath, &QLineEdit::textChanged, this, [this] { UpdateFormatControls(); });
    connect(edtNameTemplate, &QLineEdit::textChanged, this, [this] { UpdateFormatControls(); });
    connect(chkOverwrite, &QCheckBox::toggled, this, [this] { UpdateFormatControls(); });
    resize(ClientWidth, ClientHeight);
    if (parent)
        move(parent->geometry().center() - rect().center());
}

QWidget* TfrmOption::BuildInfoGroup() {
    auto* box = new QGroupBox(QStringLiteral("Source Media File Info"), this);
    auto* layout = new QVBoxLayout(box);
    layout->setContentsMargins(4, 2, 4, 4);
    mmoAVFileInfo = new QPlainTextEdit(box);
    mmoAVFileInfo->setObjectName(QStringLiteral("mmoAVFileInfo"));
    mmoAVFileInfo->setReadOnly(true);
    mmoAVFileInfo->setLineWrapMode(QPlainTextEdit::NoWrap);
    mmoAVFileInfo->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    mmoAVFileInfo->setFocusPolicy(Qt::ClickFocus);
    mmoAVFileInfo->setMinimumHeight(100);
    mmoAVFileInfo->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    mmoAVFileInfo->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    layout->addWidget(mmoAVFileInfo);
    return box;
}

QWidget* TfrmOption::BuildFormatGroups() {
    auto* panel = new QWidget(this);
    auto* layout = new QGridLayout(panel);
    layout->setContentsMargins(0, 0, 0, 0);
    const std::span<const TOutputFormat> table = OutputFormats();
    QStringList formats;
    for (const TOutputFormat& format : table)
        formats << FromView(format.Caption);
    layout->addWidget(
        ChoiceGroup(QStringLiteral("Output Formats"), "grpFormats", formats, 6, grpFormats, panel),
        0, 0, 1, 2);
    // Each format's button tells what the format writes.
    for (std::size_t i = 0; i < table.size(); ++i)
        grpFormats.button(int(i))->setToolTip(FromView(table[i].Description));
    QGroupBox* rates =
        ChoiceGroup(QStringLiteral("Audio Sample Rate (Hz)"), "grpAudioSampleRate",
                    {QStringLiteral("Auto"), QStringLiteral("8000"), QStringLiteral("11025"),
                     QStringLiteral("22050"), QStringLiteral("44100"), QStringLiteral("48000")},
                    6, grpAudioSampleRate, panel);
    layout->addWidget(rates, 1, 0, 1, 2);

    chkAudioVolume = new QCheckBox(QStringLiteral("Adjust Volume"), panel);
    chkAudioVolume->setObjectName(QStringLiteral("chkAudioVolume"));
    edtAudioVolume = new QLineEdit(QStringLiteral("256"), panel);
    edtAudioVolume->setObjectName(QStringLiteral("edtAudioVolume"));
    edtAudioVolume->setToolTip(
        QStringLiteral("256=normal: 256 keeps the original level, 128 halves it, 512 doubles it"));
    TakeDigitsOnly(edtAudioVolume);
    edtAudioVolume->setMinimumWidth(50);
    QGroupBox* volume =
        CheckedFieldGroup(QStringLiteral("Audio Volume"), chkAudioVolume, edtAudioVolume, panel);
    layout->addWidget(volume, 2, 0);
    QGroupBox* channels =
        ChoiceGroup(QStringLiteral("Audio Channel"), "grpAudioChannels",
                    {QStringLiteral("Auto"), QStringLiteral("Mono"), QStringLiteral("Stereo")}, 3,
                    grpAudioChannels, panel);
    layout->addWidget(channels, 2, 1);

    chkAudioBitRate = new QCheckBox(QStringLiteral("Audio Bit Rate"), panel);
    chkAudioBitRate->setObjectName(QStringLiteral("chkAudioBitRate"));
    edtAudioBitRate = new QLineEdit(QStringLiteral("64"), panel);
    edtAudioBitRate->setObjectName(QStringLiteral("edtAudioBitRate"));
    TakeDigitsOnly(edtAudioBitRate);
    QGroupBox* bitRate = CheckedFieldGroup(QStringLiteral("Bit Rate (Kbps)"), chkAudioBitRate,
                                           edtAudioBitRate, panel);
    chkLoudness = new QCheckBox(QStringLiteral("Normalize loudness"), panel);
    chkLoudness->setObjectName(QStringLiteral("chkLoudness"));
    edtLoudness = new QLineEdit(QStringLiteral("-16"), panel);
    edtLoudness->setObjectName(QStringLiteral("edtLoudness"));
    edtLoudness->setToolTip(QStringLiteral("Target in LUFS (EBU R128), e.g. -16 or -23; the true "
                                           "peak stays under -1 dBTP"));
    edtLoudness->setValidator(new QRegularExpressionValidator(
        QRegularExpression(QStringLiteral("-?[0-9]{0,2}([.][0-9]?)?")), edtLoudness));
    QGroupBox* loudness =
        CheckedFieldGroup(QStringLiteral("Loudness (LUFS)"), chkLoudness, edtLoudness, panel);
    layout->addWidget(loudness, 4, 0, 1, 2);
    layout->addWidget(bitRate, 3, 0, 1, 2);
    SoundChangingGroups = {rates, volume, channels, bitRate, loudness};

    lblOutputExtension = new QLabel(panel);
    lblOutputExtension->setObjectName(QStringLiteral("lblOutputExtension"));
    layout->addWidget(lblOutputExtension, 5, 0, 1, 2);
    connect(&grpFormats, &QButtonGroup::buttonToggled, this, [this] { UpdateFormatControls(); });
    return panel;
}

QWidget* TfrmOption::BuildClipGroup() {
    auto* box = new QGroupBox(QStringLiteral("Cut a piece clip (seconds)"), this);
    auto* grid = new QGridLayout(box);
    grid->setContentsMargins(6, 2, 6, 4);
    imgPreview = new TPreviewImage(box);
    imgPreview->setObjectName(QStringLiteral("imgPreview"));
    imgPreview->setFixedSize(220, PreviewHeight);
    imgPreview->setToolTip(QStringLiteral("Click to view current picture in actual size"));
    trcPreview = new TClipSlider(box);
    trcPreview->setObjectName(QStringLiteral("trcPreview"));
    lblPTS = new QLabel(box);
    lblPTS->setObjectName(QStringLiteral("lblPTS"));
    btnSetStart = Button(QStringLiteral("Set Start"), "btnSetStart", box);
    edtStartTime = ReadOnlyField("edtStartTime", box);
    btnSetEnd = Button(QStringLiteral("Set End"), "btnSetEnd", box);
    edtEndTime = ReadOnlyField("edtEndTime", box);
    chkCutClip = new QCheckBox(QStringLiteral("Cut Clip"), box);
    chkCutClip->setObjectName(QStringLiteral("chkCutClip"));
    wavSound = new TWaveformStrip(box);
    wavSound->setObjectName(QStringLiteral("wavSound"));
    wavSound->setFixedHeight(WaveformHeight);
    btnPlaySelection = Button(QStringLiteral("Play Selection"), "btnPlaySelection", box);
    btnTrimSilence = Button(QStringLiteral("Trim Silence"), "btnTrimSilence", box);
    btnTrimSilence->setToolTip(
        QStringLiteral("Start and End at the first and last moment the sound rises above %1 dBFS")
            .arg(TSoundEnvelope::SilenceDb));

    auto* side = new QVBoxLayout;
    for (QWidget* control : std::initializer_list<QWidget*>{lblPTS, btnSetStart, edtStartTime,
                                                            btnSetEnd, edtEndTime, chkCutClip})
        side->addWidget(control);
    side->addStretch(1);
    grid->addWidget(imgPreview, 0, 0);
    grid->addWidget(trcPreview, 1, 0);
    grid->addLayout(side, 0, 1, 2, 1);
    grid->addWidget(wavSound, 2, 0, 1, 2);
    auto* sound = new QHBoxLayout;
    sound->addWidget(btnPlaySelection);
    sound->addWidget(btnTrimSilence);
    sound->addStretch(1);
    grid->addLayout(sound, 3, 0, 1, 2);

    connect(trcPreview, &QSlider::valueChanged, this, [this] { UpdatePreview(); });
    connect(btnSetStart, &QPushButton::clicked, this, &TfrmOption::btnSetStartClick);
    connect(btnSetEnd, &QPushButton::clicked, this, &TfrmOption::btnSetEndClick);
    connect(wavSound, &TWaveformStrip::positionPicked, trcPreview, &QSlider::setValue);
    connect(wavSound, &TWaveformStrip::startDragged, this, &TfrmOption::SetStartAt);
    connect(wavSound, &TWaveformStrip::endDragged, this, &TfrmOption::SetEndAt);
    connect(wavSound, &TWaveformStrip::startAtPosition, this, &TfrmOption::btnSetStartClick);
    connect(wavSound, &TWaveformStrip::endAtPosition, this, &TfrmOption::btnSetEndClick);
    connect(wavSound, &TWaveformStrip::playRequested, this, &TfrmOption::btnPlaySelectionClick);
    connect(btnPlaySelection, &QPushButton::clicked, this, &TfrmOption::btnPlaySelectionClick);
    connect(btnTrimSilence, &QPushButton::clicked, this, &TfrmOption::btnTrimSilenceClick);
    connect(EnvelopeWorker, &TEnvelopeWorker::binsArrived, wavSound, qOverload<>(&QWidget::update));
    connect(EnvelopeWorker, &TEnvelopeWorker::finished, this, &TfrmOption::EnvelopeFinished);
    connect(imgPreview, &TPreviewImage::clicked, this, &TfrmOption::imgPreviewClick);
    return box;
}

QWidget* TfrmOption::BuildOutputControls() {
    auto* panel = new QWidget(this);
    auto* layout = new QVBoxLayout(panel);
    layout->setContentsMargins(0, 0, 0, 0);
    chkCopyTimestamp =
        new QCheckBox(QStringLiteral("Copy Timestamp (decoding rm/rmvb maybe need this)"), panel);
    chkCopyTimestamp->setObjectName(QStringLiteral("chkCopyTimestamp"));
    chkOverwrite = new QCheckBox(QStringLiteral("Overwrite Existing File"), panel);
    chkOverwrite->setObjectName(QStringLiteral("chkOverwrite"));
    layout->addWidget(chkCopyTimestamp);
    layout->addWidget(chkOverwrite);

    auto* folder = new QGroupBox(QStringLiteral("Output Folder"), panel);
    auto* rows = new QVBoxLayout(folder);
    rows->setContentsMargins(6, 2, 6, 4);
    auto* row = new QHBoxLayout();
    edtOutPath = ReadOnlyField("edtOutPath", folder);
    edtOutPath->setText(QString::fromLatin1(SameAsInputFolder));
    btnOutPath = Button(QStringLiteral("..."), "btnOutPath", folder);
    btnOutPath->setFixedWidth(30);
    btnSameAsInput = Button(QStringLiteral("Reset"), "btnSameAsInput", folder);
    btnSameAsInput->setToolTip(
        QStringLiteral("Back to <same as input>: each output beside its input"));
    row->addWidget(edtOutPath);
    row->addWidget(btnOutPath);
    row->addWidget(btnSameAsInput);
    rows->addLayout(row);
    // Applies to the files of an added folder with an output folder chosen; empty keeps the
    // folder's own tree.
    edtNameTemplate = new QLineEdit(folder);
    edtNameTemplate->setObjectName(QStringLiteral("edtNameTemplate"));
    edtNameTemplate->setPlaceholderText(
        QStringLiteral("Names in folders, e.g. {albumartist}/{album}/{track:02} {title}"));
    edtNameTemplate->setToolTip(
        QStringLiteral("Fields: {artist} {albumartist} {album} {title} {track} {track:02} {disc} "
                       "{date} {genre} {filename} {dir}"));
    rows->addWidget(edtNameTemplate);
    chkCopyImages = new QCheckBox(QStringLiteral("Copy Cover Pictures Beside the Outputs"), folder);
    chkCopyImages->setObjectName(QStringLiteral("chkCopyImages"));
    chkCopyImages->setToolTip(
        QStringLiteral("For an added folder with an output folder chosen: cover.jpg, folder.jpg "
                       "and the other pictures of each of its folders go beside that folder's "
                       "outputs"));
    rows->addWidget(chkCopyImages);
    chkCopyLossy = new QCheckBox(
        QStringLiteral("Copy Lossy Files Already in the Format at or Below Its Bit Rate"), folder);
    chkCopyLossy->setObjectName(QStringLiteral("chkCopyLossy"));
    chkCopyLossy->setToolTip(
        QStringLiteral("For an added folder: an mp3 into mp3 (AAC into m4a, ...) whose bit rate "
                       "is no higher than the output's is copied as it is, not re-encoded"));
    rows->addWidget(chkCopyLossy);
    auto* coverRow = new QHBoxLayout();
    chkCoverSize = new QCheckBox(QStringLiteral("Scale Covers to at Most"), folder);
    chkCoverSize->setObjectName(QStringLiteral("chkCoverSize"));
    spnCoverSize = new QSpinBox(folder);
    spnCoverSize->setObjectName(QStringLiteral("spnCoverSize"));
    spnCoverSize->setRange(16, 4096);
    spnCoverSize->setValue(500);
    spnCoverSize->setSuffix(QStringLiteral(" pixels"));
    spnCoverSize->setToolTip(QStringLiteral("A larger cover is scaled down to fit this square, "
                                            "its aspect kept, as JPEG, for devices"));
    coverRow->addWidget(chkCoverSize);
    coverRow->addWidget(spnCoverSize);
    coverRow->addStretch();
    rows->addLayout(coverRow);
    chkReplayGain = new QCheckBox(QStringLiteral("Write ReplayGain (Track and Album)"), folder);
    chkReplayGain->setObjectName(QStringLiteral("chkReplayGain"));
    chkReplayGain->setToolTip(
        QStringLiteral("Gain and peak tags measured on the written files once the run has "
                       "converted them; an album is the files of one folder"));
    rows->addWidget(chkReplayGain);
    layout->addWidget(folder);
    connect(btnOutPath, &QPushButton::clicked, this, &TfrmOption::btnOutPathClick);
    connect(btnSameAsInput, &QPushButton::clicked, this,
            [this] { edtOutPath->setText(QString::fromLatin1(SameAsInputFolder)); });
    connect(edtOutPath, &QLineEdit::textChanged, this, [this](const QString& text) {
        btnSameAsInput->setEnabled(text != QString::fromLatin1(SameAsInputFolder));
    });
    btnSameAsInput->setEnabled(false);
    return panel;
}

void TfrmOption::UpdateFormatControls() {
    const TOutputChoices choices = Choices();
    const TOutputFormat& format = OutputFormatOf(choices.Format);
    const bool original = format.StreamCopy;
    for (QWidget* group : SoundChangingGroups)
        group->setEnabled(!original);
    UpdateRateChoices(format);
    OutputNote.clear();
    if (original)
        OutputNote = choices.InputAudioCodec.empty()
                         ? QStringLiteral(" (the input has no sound to keep)")
                         : QStringLiteral(" (%1 kept as it is; a clip ends on the sound's "
                                          "packets, within about 30 ms)")
                               .arg(QString::fromStdString(choices.InputAudioCodec));
    ShowOutputNames(Planning);
    PlanOutputNames();
}

void TfrmOption::ShowOutputNames(const QString& names) {
    lblOutputExtension->setText(QStringLiteral("Output file: ") + names + OutputNote);
}

void TfrmOption::PlanOutputNames() {
    if (NameReader->Busy()) {
        NamesWanted = true;
        return;
    }
    const TOutputChoices choices = Choices();
    if (InputFileName.empty())
        return ShowOutputNames(FromPath(NewOutputName("NAME", OutputExtension(choices), 0)));
    NameReader->Read(
        [plan = OutputPlan, choices, checkFolder = std::exchange(CheckFolder, false)] {
            return PlanNames(plan, choices, checkFolder);
        },
        [this, choices](const TPlannedNames& planned) {
            OutputNamesPlanned(choices, planned.FolderGone, planned.Names);
        });
}

void TfrmOption::OutputNamesPlanned(const TOutputChoices& choices, bool folderGone,
                                    const std::vector<TPathFileName>& names) {
    // A change made meanwhile makes these names old: the newer ones are planned instead.
    const bool old = std::exchange(NamesWanted, false);
    if (folderGone && edtOutPath->text() == FromPath(*choices.OutputFolder))
        return FallBackFromGoneFolder(); // the change plans them again
    if (old)
        return PlanOutputNames();
    ShowOutputNames(PlannedNamesText(choices, names));
}

// Only the rates the format's encoder takes are offered (it would take the nearest instead); a
// choice it does not take goes back to "Auto".
void TfrmOption::UpdateRateChoices(const TOutputFormat& format) {
    for (QAbstractButton* button : grpAudioSampleRate.buttons()) {
        bool isRate = false;
        const int rateHz = button->text().toInt(&isRate);
        button->setEnabled(!isRate || TakesSampleRate(format, rateHz));
    }
    if (QAbstractButton* checked = grpAudioSampleRate.checkedButton();
        checked && !checked->isEnabled())
        grpAudioSampleRate.buttons().front()->setChecked(true);
}

// ---- Filling ---------------------------------------------------------------------------------

void TfrmOption::SetOutputPlan(TOutputPlan plan, TMoreFiles more) {
    OutputPlan = std::move(plan);
    MoreFiles = more;
}

QString TfrmOption::PlannedNamesText(const TOutputChoices& choices,
                                     const std::vector<TPathFileName>& names) const {
    if (names.empty())
        return {};
    // Below the output folder (a tree, a template, a chapter folder) the name shows from there.
    const TPathFileName base = choices.OutputFolder.value_or(InputFileName.parent_path());
    const TPathFileName relative = names.front().lexically_relative(base);
    const bool below = !relative.empty() && *relative.begin() != "..";
    QString text = FromPath(below ? relative : names.front());
    if (names.size() > 1)
        text += QStringLiteral(" (and %1 more)").arg(names.size() - 1);
    else if (MoreFiles == mfFolder)
        text += QStringLiteral(" (and the folder's other files alike)");
    return text;
}

void TfrmOption::SetClaimedNames(std::vector<TPathFileName> names) {
    ClaimedNames = std::move(names);
    UpdateFormatControls();
}

void TfrmOption::FillFromProbe(std::shared_ptr<TAVProbe> shown) {
    // What is still read or planned for the input shown before is not waited for, and its
    // results are dropped.
    PictureReader->Abandon();
    NameReader->Abandon();
    WantedPicture.reset();
    NamesWanted = false;
    Picture = QImage();
    imgPreview->SetPicture(Picture);
    Probe = std::move(shown);
    TAVProbe& probe = *Probe;
    HasPictures = probe.VideoStreamCount() > 0 || probe.CoverStreamCount() > 0;
    HasSound = probe.FirstAudioStream() >= 0;
    // A still picture has no time line.
    HasTimeLine = QString::fromStdString(probe.GetFormatName())
                      .compare(QStringLiteral("image2"), Qt::CaseInsensitive) != 0;
    VideoStream = probe.FirstVideoStream();
    TFileStreamInfo info;
    probe.GetFileStreamInfo(info);
    DurationUs = info.Duration;
    InputFileName = probe.GetFileName();
    InputFormatName = probe.ForcedFormatName();
    CheckFolder = true;
    {
        // The new input is shown whole below, once every field is set.
        const QSignalBlocker quiet(grpSoundTrack);
        grpSoundTrack->Fill(AudioTracksOf(*probe.FormatContext()),
                            ChaptersOf(*probe.FormatContext()));
    }
    InputAudioCodec = probe.FirstAudioCodecName();
    if (const TAudioTrack* track = DefaultAudioTrack(grpSoundTrack->Tracks()))
        InputAudioCodec = track->Codec;
    // Its size is asked of the file: read before the pictures, on their worker too.
    mmoAVFileInfo->clear();
    PictureReader->Read([probe = Probe] { return probe->GetInfoText(); },
                        [this](const std::string& text) {
                            // The text ends its lines with CR LF; the edit wants bare line feeds.
                            mmoAVFileInfo->setPlainText(QString::fromStdString(text).replace(
                                QStringLiteral("\r\n"), QStringLiteral("\n")));
                            if (WantedPicture)
                                ReadPicture();
                        });
    UpdateFormatControls();
    SetUpSlider();
    UpdatePreview();
    ShowEnvelope();
}

void TfrmOption::FallBackFromGoneFolder() {
    const QString folder = edtOutPath->text();
    edtOutPath->setText(QString::fromLatin1(SameAsInputFolder));
    emit outputFolderGone(folder);
}

void TfrmOption::SetUpSlider() {
    trcPreview->setVisible(HasTimeLine);
    Updating = true;
    trcPreview->SetSelStart(0);
    trcPreview->SetSelEnd(0);
    chkCutClip->setEnabled(false);
    chkCutClip->setChecked(false);
    StartSet = EndSet = false;
    edtStartTime->setText(NotAvailable);
    edtEndTime->setText(NotAvailable);
    if (HasTimeLine)
        trcPreview->SetUpForDuration(DurationUs);
    else
        trcPreview->setRange(0, 0);
    wavSound->SetScale(trcPreview->maximum(), trcPreview->ScaleUs());
    wavSound->SetPosition(0);
    wavSound->SetMarks(std::nullopt, std::nullopt);
    Updating = false;
}

void TfrmOption::UpdatePreview() {
    if (Updating || !Probe)
        return;
    const int position = trcPreview->value();
    if (HasPictures) {
        WantedPicture = position;
        if (!PictureReader->Busy())
            ReadPicture();
    }
    lblPTS->setText(QStringLiteral("PTS: ") + TimeText(trcPreview->PositionUs(position)));
    wavSound->SetPosition(position);
}

void TfrmOption::ReadPicture() {
    const int position = *std::exchange(WantedPicture, std::nullopt);
    // The end of a file of unknown duration is its start.
    const int64_t timeUs = position == trcPreview->maximum() ? std::max<int64_t>(DurationUs, 0)
                                                             : trcPreview->PositionUs(position);
    PictureReader->Read(
        [probe = Probe, stream = VideoStream, timeUs] { return PictureAt(*probe, stream, timeUs); },
        [this](const QImage& picture) { PictureRead(picture); });
}

void TfrmOption::PictureRead(const QImage& picture) {
    Picture = picture;
    if (Picture.isNull())
        imgPreview->ShowNoPicture();
    else
        imgPreview->SetPicture(Picture);
    if (WantedPicture)
        ReadPicture();
}

// ---- Clip ------------------------------------------------------------------------------------

void TfrmOption::btnSetStartClick() {
    SetStartAt(trcPreview->value());
}

void TfrmOption::btnSetEndClick() {
    SetEndAt(trcPreview->value());
}

void TfrmOption::SetStartAt(int position) {
    trcPreview->SetSelStart(position);
    edtStartTime->setText(TimeText(trcPreview->PositionUs(position)));
    StartSet = true;
    UpdateCutClip();
    UpdateWaveformMarks();
}

void TfrmOption::SetEndAt(int position) {
    trcPreview->SetSelEnd(position);
    edtEndTime->setText(TimeText(trcPreview->PositionUs(position)));
    EndSet = true;
    UpdateCutClip();
    UpdateWaveformMarks();
}

void TfrmOption::UpdateWaveformMarks() {
    wavSound->SetMarks(StartSet ? std::optional<int>(trcPreview->SelStart()) : std::nullopt,
                       EndSet ? std::optional<int>(trcPreview->SelEnd()) : std::nullopt);
}

// Enabled for a forward selection; ticked once both ends were set (the user may untick it).
void TfrmOption::UpdateCutClip() {
    chkCutClip->setEnabled(trcPreview->SelEnd() >= 1 &&
                           trcPreview->SelStart() < trcPreview->SelEnd());
    if (StartSet && EndSet && chkCutClip->isEnabled())
        chkCutClip->setChecked(true);
}

// ---- Sound -----------------------------------------------------------------------------------

TSoundSource TfrmOption::ShownSound() const {
    const TAudioTrack* track = grpSoundTrack->ShownTrack();
    return {InputFileName, InputFormatName, track ? track->StreamIndex : -1};
}

void TfrmOption::ShowEnvelope() {
    EnvelopeWorker->Stop();
    Player->Stop();
    const bool hasSound = HasSound && trcPreview->isVisibleTo(this);
    imgPreview->setVisible(HasPictures || !hasSound);
    wavSound->setVisible(hasSound);
    wavSound->setFixedHeight(HasPictures ? WaveformHeight : PreviewHeight);
    btnPlaySelection->setEnabled(hasSound);
    btnTrimSilence->setEnabled(false); // until the whole sound is measured
    wavSound->SetEnvelope(nullptr);
    if (!hasSound)
        return;
    const TSoundSource sound = ShownSound();
    const auto kept = Envelopes.find({sound.File, sound.Stream});
    if (kept != Envelopes.end()) {
        wavSound->SetEnvelope(kept->second);
        btnTrimSilence->setEnabled(true);
        return;
    }
    EnvelopeWorker->Start(sound, DurationUs);
    wavSound->SetEnvelope(EnvelopeWorker->Envelope());
}

void TfrmOption::EnvelopeFinished(bool complete) {
    if (!complete)
        return; // the strip keeps what was measured; the file is measured again next time
    const TSoundSource sound = ShownSound();
    Envelopes[{sound.File, sound.Stream}] = EnvelopeWorker->Envelope();
    btnTrimSilence->setEnabled(true);
    wavSound->update();
}

// From Start to End, or from the position when no forward selection is set; again stops.
void TfrmOption::btnPlaySelectionClick() {
    if (Player->Playing())
        return Player->Stop();
    const int start = trcPreview->SelStart();
    const int end = trcPreview->SelEnd();
    const bool selected = StartSet && EndSet && start < end;
    const int64_t fromUs = trcPreview->PositionUs(selected ? start : trcPreview->value());
    const int64_t toUs = selected ? trcPreview->PositionUs(end) : -1;
    const TAudioTrack* track = grpSoundTrack->ShownTrack();
    if (Player->Play(ShownSound(), track ? track->Channels : 2, fromUs, toUs) ==
        TSelectionPlayer::TStart::NoOutput)
        ShowMessageBox(TBoxIcon::Information, QStringLiteral("No sound output is available."));
}

void TfrmOption::btnTrimSilenceClick() {
    const TSoundSource sound = ShownSound();
    const auto kept = Envelopes.find({sound.File, sound.Stream});
    if (kept == Envelopes.end())
        return;
    const std::optional<TSoundBounds> bounds = kept->second->SoundAbove(TSoundEnvelope::SilenceDb);
    if (!bounds) {
        ShowMessageBox(
            TBoxIcon::Information,
            QStringLiteral("No sound rises above %1 dBFS.").arg(TSoundEnvelope::SilenceDb));
        return;
    }
    // The start rounds down and the end up to the slider's steps, so no sound is cut.
    const int64_t scaleUs = trcPreview->ScaleUs();
    const auto position = [this](int64_t steps) {
        return static_cast<int>(std::clamp<int64_t>(steps, 0, trcPreview->maximum()));
    };
    SetStartAt(position(bounds->StartUs / scaleUs));
    SetEndAt(position((bounds->EndUs + scaleUs - 1) / scaleUs));
}

void TfrmOption::imgPreviewClick() {
    if (Picture.isNull())
        return;
    const QString caption = QStringLiteral("%1x%2 PTS: %3")
                                .arg(Picture.width())
                                .arg(Picture.height())
                                .arg(TimeText(trcPreview->PositionUs(trcPreview->value())));
    TPictureWindow window(Picture, caption, this);
    window.exec();
}

// ---- Output folder and closing ---------------------------------------------------------------

QString TfrmOption::InputFolder() const {
    return QFileInfo(FromPath(InputFileName)).path();
}

QString TfrmOption::OutputFolder() const {
    const QString chosen = edtOutPath->text();
    return chosen == QString::fromLatin1(SameAsInputFolder) ? InputFolder() : chosen;
}

void TfrmOption::btnOutPathClick() {
    const QString folder = QFileDialog::getExistingDirectory(
        this, QStringLiteral("Select Output Folder"), OutputFolder(), QFileDialog::ShowDirsOnly);
    if (folder.isEmpty())
        return;
    if (IsOpticalDriveFolder(folder)) {
        ShowMessageBox(TBoxIcon::Information,
                       QStringLiteral("Output folder cannot be located in CD-ROM."));
        return;
    }
    edtOutPath->setText(WithTrailingSlash(folder));
}

void TfrmOption::done(int result) {
    if (result != QDialog::Accepted)
        return QDialog::done(result);
    // While OK's check is under way, another OK waits for its answer.
    if (!btnOk->isEnabled() || Refused())
        return;
    btnOk->setEnabled(false);
    NameReader->Read([chosen = Choices().OutputFolder,
                      input = InputFolder()] { return CheckOutputFolder(chosen, input); },
                     [this, chosen = edtOutPath->text()](const TFolderCheck& check) {
                         OutputFolderChecked(chosen, check);
                     });
}

void TfrmOption::OutputFolderChecked(const QString& chosen, const TFolderCheck& check) {
    btnOk->setEnabled(true);
    if (check.Gone && edtOutPath->text() == chosen)
        FallBackFromGoneFolder();
    // A folder changed meanwhile (by the user, or by the fall-back of a plan that found it gone)
    // is checked as by a fresh OK.
    if (OutputFolder() != check.Folder)
        return done(QDialog::Accepted);
    if (check.Optical) {
        ShowMessageBox(TBoxIcon::Information,
                       QStringLiteral("Input folder is located in CD-ROM, please select "
                                      "output folder."));
        btnOutPath->setFocus();
    } else if (!Refused()) { // a choice changed meanwhile is refused as by OK
        SaveSettings();
        return QDialog::done(QDialog::Accepted);
    }
    // The dialog stays: names asked for while the folder was checked are planned now.
    if (std::exchange(NamesWanted, false))
        PlanOutputNames();
}

bool TfrmOption::Refused() {
    const std::string refusal = CopyRefusalText(Choices(), InputFileName.filename().string());
    if (!refusal.empty()) {
        ShowMessageBox(TBoxIcon::Warning, QString::fromStdString(refusal));
        return true;
    }
    return RefusedBitRate();
}

// A bit rate the format does not take is refused, as on the command line.
bool TfrmOption::RefusedBitRate() {
    const TOutputFormat& format = ChosenFormat();
    const std::optional<int> kbps = Choices().BitRateKbps;
    if (!kbps || format.StreamCopy || TakesBitRate(format, *kbps))
        return false;
    ShowMessageBox(TBoxIcon::Information, QStringLiteral("%1 takes a bit rate of %2 to %3 Kbps.")
                                              .arg(FromView(format.Caption))
                                              .arg(format.MinBitRateKbps)
                                              .arg(format.MaxBitRateKbps));
    edtAudioBitRate->setFocus();
    return true;
}

// ---- Settings --------------------------------------------------------------------------------

void TfrmOption::LoadSettings() {
    const std::unique_ptr<QSettings> settings = UserSettings();
    // Earlier versions stored the button's caption: the row is found by either name.
    if (const TOutputFormat* format =
            FindOutputFormat(settings->value(FormatKey).toString().toStdString()))
        grpFormats.button(format->Id)->setChecked(true);
    CheckCaption(grpAudioSampleRate, settings->value(SampleRateKey).toString());
    CheckCaption(grpAudioChannels, settings->value(ChannelsKey).toString());
    chkAudioBitRate->setChecked(settings->value(AdjustBitRateKey, false).toBool());
    edtAudioBitRate->setText(settings->value(BitRateKey, edtAudioBitRate->text()).toString());
    // A remembered folder that has gone away is not offered again (see FallBackFromGoneFolder).
    if (const QString folder = settings->value(FolderKey).toString(); !folder.isEmpty())
        edtOutPath->setText(folder);
    chkOverwrite->setChecked(settings->value(OverwriteKey, false).toBool());
    edtNameTemplate->setText(settings->value(NameTemplateKey).toString());
    chkCopyImages->setChecked(settings->value(CopyImagesKey, false).toBool());
    chkCopyLossy->setChecked(settings->value(CopyLossyKey, true).toBool());
    chkCoverSize->setChecked(settings->value(ScaleCoversKey, false).toBool());
    spnCoverSize->setValue(settings->value(CoverSizeKey, spnCoverSize->value()).toInt());
    chkReplayGain->setChecked(settings->value(ReplayGainKey, false).toBool());
}

void TfrmOption::SaveSettings() const {
    const std::unique_ptr<QSettings> settings = UserSettings();
    settings->setValue(FormatKey, FromView(ChosenFormat().CliName));
    settings->setValue(SampleRateKey, grpAudioSampleRate.checkedButton()->text());
    settings->setValue(ChannelsKey, grpAudioChannels.checkedButton()->text());
    settings->setValue(AdjustBitRateKey, chkAudioBitRate->isChecked());
    settings->setValue(BitRateKey, edtAudioBitRate->text());
    settings->setValue(FolderKey, edtOutPath->text());
    settings->setValue(OverwriteKey, chkOverwrite->isChecked());
    settings->setValue(NameTemplateKey, edtNameTemplate->text());
    settings->setValue(CopyImagesKey, chkCopyImages->isChecked());
    settings->setValue(CopyLossyKey, chkCopyLossy->isChecked());
    settings->setValue(ScaleCoversKey, chkCoverSize->isChecked());
    settings->setValue(CoverSizeKey, spnCoverSize->value());
    settings->setValue(ReplayGainKey, chkReplayGain->isChecked());
}

void TfrmOption::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (QAbstractButton* format = grpFormats.checkedButton())
        format->setFocus();
}

void TfrmOption::hideEvent(QHideEvent* event) {
    // Nothing of the input is worked on once the dialog has closed (a minimised window only
    // hides it for a while).
    if (!event->spontaneous()) {
        EnvelopeWorker->Stop();
        Player->Stop();
        PictureReader->Cancel();
        NameReader->Cancel();
        WantedPicture.reset();
        NamesWanted = false;
        btnOk->setEnabled(true); // OK's check, if any, is dropped with the rest
        // Closed after the picture being decoded, on the thread that decodes it.
        if (Probe)
            PictureReader->Read(
                [probe = std::exchange(Probe, nullptr)] {
                    probe->CloseFile();
                    return true;
                },
                [](bool) {});
    }
    Updating = true;
    trcPreview->setMaximum(0);
    Updating = false;
    QDialog::hideEvent(event);
}

// ---- Choices ---------------------------------------------------------------------------------

// The buttons are the table's rows in its order.
const TOutputFormat& TfrmOption::ChosenFormat() const {
    return OutputFormats()[std::size_t(grpFormats.checkedId())];
}

TOutputChoices TfrmOption::Choices() const {
    TOutputChoices choices;
    choices.InputFileName = InputFileName;
    choices.InputFormatName = InputFormatName;
    choices.InputDurationUs = DurationUs;
    choices.InputAudioCodec = InputAudioCodec;
    choices.Format = ChosenFormat().Id;
    choices.SampleRateHz =
        SampleRateOfCaption(grpAudioSampleRate.checkedButton()->text().toStdString());
    choices.Channels = ChannelsOfCaption(grpAudioChannels.checkedButton()->text().toStdString());
    if (chkAudioVolume->isChecked())
        choices.Volume = VolumeOfText(edtAudioVolume->text().toStdString());
    if (chkAudioBitRate->isChecked())
        choices.BitRateKbps = BitRateKbpsOfText(edtAudioBitRate->text().toStdString());
    if (chkLoudness->isChecked())
        choices.LoudnessTargetLufs = LoudnessTargetOfText(edtLoudness->text().toStdString());
    if (chkCutClip->isEnabled() && chkCutClip->isChecked())
        choices.Clip = ClipBetween(trcPreview->SelStart() * trcPreview->ScaleUs(),
                                   trcPreview->SelEnd() * trcPreview->ScaleUs());
    if (const QString folder = edtOutPath->text(); folder != QString::fromLatin1(SameAsInputFolder))
        choices.OutputFolder = ToPath(folder);
    choices.CopyTimestamp = chkCopyTimestamp->isChecked();
    choices.Overwrite = chkOverwrite->isChecked();
    choices.NameTemplateText = edtNameTemplate->text().trimmed().toStdString();
    choices.CopyImages = chkCopyImages->isChecked();
    choices.LossyPolicy = chkCopyLossy->isChecked() ? lpCopy : lpConvert;
    choices.Engine.CoverSizePixels = chkCoverSize->isChecked() ? spnCoverSize->value() : 0;
    choices.Engine.ReplayGain = chkReplayGain->isChecked();
    grpSoundTrack->ApplyTo(choices);
    choices.ClaimedNames = ClaimedNames;
    return choices;
}
