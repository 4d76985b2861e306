// The main window's inputs with several outputs: cue sheets, every audio track, chapters.
#include "MainFrm.h"

#include "OptionFrm.h"
#include "UtilFuncs.h"

#include <QFileInfo>

#include <algorithm>
#include <cmath>

TCueRead TfrmMain::CueSheetFor(const QString& fileName) {
    const TPathFileName file = ToPath(fileName);
    if (QFileInfo(fileName).suffix().compare(QStringLiteral("cue"), Qt::CaseInsensitive) == 0)
        return ReadCueSheet(file);
    const TPathFileName beside = CueSheetBeside(file);
    if (beside.empty())
        return {};
    TCueRead read = ReadCueSheet(beside);
    // A sheet that cannot be used is left alone: the file itself is still wanted.
    if (!read.ErrorText.empty())
        return {};
    const QString question =
        QStringLiteral("%1 has a cue sheet beside it (%2 tracks): add the tracks instead?")
            .arg(QFileInfo(fileName).fileName())
            .arg(read.Sheet.Tracks.size());
    return AskQuestion(question) ? read : TCueRead();
}

namespace {

// A piece's part of its input's size, by its share of the input's length: the whole size when
// the piece is of another file (a cue sheet's next FILE) or a length is unknown.
int64_t PieceSizeBytes(const TOutputChoices& piece, const TOutputChoices& whole,
                       int64_t wholeSizeBytes) {
    if (piece.InputFileName != whole.InputFileName || piece.InputDurationUs <= 0 ||
        whole.InputDurationUs <= 0 || wholeSizeBytes < 0)
        return wholeSizeBytes;
    const double share = std::min(1.0, static_cast<double>(piece.InputDurationUs) /
                                           static_cast<double>(whole.InputDurationUs));
    return static_cast<int64_t>(std::llround(static_cast<double>(wholeSizeBytes) * share));
}

} // namespace

void TfrmMain::AddPieceTasks(const std::vector<TPieceTask>& pieces, const TOutputChoices& whole,
                             int64_t fileSizeBytes) {
    for (const TPieceTask& piece : pieces) {
        TOutputChoices choices = piece.Choices;
        choices.ClaimedNames = ListedOutputs();
        AddTask(choices, PieceSizeBytes(choices, whole, fileSizeBytes), piece.OutputFileName);
    }
}

std::vector<TPieceTask> TfrmMain::DialogPieces(const TOutputChoices& choices) const {
    const TSoundTrackGroup& group = frmOption->SoundTrack();
    switch (group.PieceChoice()) {
    case pcAllTracks:
        return AudioTrackTasks(group.Tracks(), choices);
    case pcChapters:
        return ChapterTasks(group.Chapters(), choices);
    case pcOneFile:
        break;
    }
    return {};
}
