// The options dialog's "Sound track" group: which audio track of the input to convert, or every
// track one file each, and whether to split the input at its chapters.
#ifndef SOUNDPICK_APP_SOUNDTRACKGROUP_H
#define SOUNDPICK_APP_SOUNDTRACKGROUP_H

#include "component/PieceTasks.h"

#include <QGroupBox>

class QCheckBox;
class QComboBox;

class TSoundTrackGroup : public QGroupBox {
    Q_OBJECT
public:
    explicit TSoundTrackGroup(QWidget* parent);

    // Lists the input's tracks with its default one chosen; the chapter switch starts off.
    void Fill(const std::vector<TAudioTrack>& tracks, const std::vector<TChapter>& chapters);
    // The chosen track's stream and codec (all tracks: the default's) and what the input
    // becomes into the choices.
    void ApplyTo(TOutputChoices& choices) const;
    TPieceChoice PieceChoice() const;
    // The track whose sound the dialog shows and plays: the chosen one (all tracks: the
    // default's); nullptr for an input without sound.
    const TAudioTrack* ShownTrack() const;
    const std::vector<TAudioTrack>& Tracks() const { return AudioTracks; }
    const std::vector<TChapter>& Chapters() const { return ChapterList; }

signals:
    void TrackChanged();
    // The track or the chapter switch changed what the input becomes.
    void PiecesChanged();

private:
    QComboBox* cmbSoundTrack;
    QCheckBox* chkSplitChapters;
    std::vector<TAudioTrack> AudioTracks;
    std::vector<TChapter> ChapterList;
};

#endif
