// The options dialog's "Sound track" group.
#include "SoundTrackGroup.h"

#include <QCheckBox>
#include <QComboBox>
#include <QVBoxLayout>

namespace {

// The combo box item that stands for every track.
constexpr int AllTracksItem = -1;

} // namespace

TSoundTrackGroup::TSoundTrackGroup(QWidget* parent)
    : QGroupBox(QStringLiteral("Sound track"), parent) {
    setObjectName(QStringLiteral("grpSoundTrack"));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(6, 2, 6, 4);
    cmbSoundTrack = new QComboBox(this);
    cmbSoundTrack->setObjectName(QStringLiteral("cmbSoundTrack"));
    chkSplitChapters = new QCheckBox(QStringLiteral("Split at chapters"), this);
    chkSplitChapters->setObjectName(QStringLiteral("chkSplitChapters"));
    chkSplitChapters->setToolTip(
        QStringLiteral("One file per chapter, \"NN Chapter title\", in a folder named after the "
                       "input"));
    layout->addWidget(cmbSoundTrack);
    layout->addWidget(chkSplitChapters);
    connect(cmbSoundTrack, &QComboBox::currentIndexChanged, this, &TSoundTrackGroup::TrackChanged);
    connect(cmbSoundTrack, &QComboBox::currentIndexChanged, this, &TSoundTrackGroup::PiecesChanged);
    connect(chkSplitChapters, &QCheckBox::toggled, this, &TSoundTrackGroup::PiecesChanged);
}

void TSoundTrackGroup::Fill(const std::vector<TAudioTrack>& tracks,
                            const std::vector<TChapter>& chapters) {
    AudioTracks = tracks;
    ChapterList = chapters;
    cmbSoundTrack->clear();
    const TAudioTrack* chosen = DefaultAudioTrack(tracks);
    for (const TAudioTrack& track : tracks) {
        cmbSoundTrack->addItem(QString::fromStdString(AudioTrackCaption(track)), track.StreamIndex);
        if (&track == chosen)
            cmbSoundTrack->setCurrentIndex(cmbSoundTrack->count() - 1);
    }
    if (tracks.size() > 1)
        cmbSoundTrack->addItem(QStringLiteral("All tracks, one file each"), AllTracksItem);
    cmbSoundTrack->setEnabled(tracks.size() > 1);
    chkSplitChapters->setChecked(false);
    chkSplitChapters->setEnabled(!chapters.empty());
    chkSplitChapters->setText(chapters.empty()
                                  ? QStringLiteral("Split at chapters (none)")
                                  : QStringLiteral("Split at chapters (%1)").arg(chapters.size()));
}

void TSoundTrackGroup::ApplyTo(TOutputChoices& choices) const {
    choices.Pieces = PieceChoice();
    const int stream = cmbSoundTrack->currentData().toInt();
    for (const TAudioTrack& track : AudioTracks)
        if (track.StreamIndex == stream) {
            choices.AudioStream = stream;
            choices.InputAudioCodec = track.Codec;
        }
}

const TAudioTrack* TSoundTrackGroup::ShownTrack() const {
    const int stream = cmbSoundTrack->currentData().toInt();
    for (const TAudioTrack& track : AudioTracks)
        if (track.StreamIndex == stream)
            return &track;
    return DefaultAudioTrack(AudioTracks);
}

TPieceChoice TSoundTrackGroup::PieceChoice() const {
    if (chkSplitChapters->isEnabled() && chkSplitChapters->isChecked())
        return pcChapters;
    return cmbSoundTrack->currentData().toInt() == AllTracksItem ? pcAllTracks : pcOneFile;
}
