// soundpick-cli's inputs that give several outputs: cue sheets, chapters, every audio track, and
// the choice of one track.
#include "cli/BatchRun.h"

#include "ffbind/TextUtils.h"
#include "probe/AVProbe.h"

namespace fs = std::filesystem;

bool IsCueSheetName(const fs::path& file) {
    return LowerCase(file.extension().string()) == ".cue";
}

bool TBatchRun::AddCueTracks(const fs::path& cueFile) {
    const TCueRead read = ReadCueSheet(cueFile);
    if (!read.ErrorText.empty()) {
        Reporter.Skipped(cueFile, read.ErrorText);
        ++Skipped;
        return false;
    }
    const fs::path audio = read.Sheet.Tracks.front().AudioFile;
    const TProbedInput probed = Component.ProbeInput(audio);
    Component.Probe().CloseFile();
    if (!Convertible(audio, probed))
        return false;
    TOutputChoices choices = ChoicesFor(audio, probed, std::nullopt);
    choices.ClaimedNames.assign(ClaimedOutputs.begin(), ClaimedOutputs.end());
    return AddPieces(CueTrackTasks(read.Sheet, choices));
}

bool TBatchRun::AddPieces(const std::vector<TPieceTask>& pieces) {
    for (const TPieceTask& piece : pieces) {
        TOutputChoices choices = piece.Choices;
        choices.ClaimedNames.clear(); // the name is chosen already
        AddCliTask(piece.OutputFileName, std::move(choices), piece.Label);
    }
    return !pieces.empty();
}

std::string TBatchRun::TrackError(const fs::path& input, const TProbedInput& probed) const {
    if (Options.Track.empty() || FindAudioTrack(probed.AudioTracks, Options.Track))
        return "";
    std::string tracks;
    for (const TAudioTrack& track : probed.AudioTracks)
        tracks += "\n  " + AudioTrackCaption(track);
    return input.string() + ": no audio track '" + Options.Track + "'; it has:" + tracks;
}

void TBatchRun::ChooseTrack(const TProbedInput& probed, TOutputChoices& choices) const {
    if (const TAudioTrack* track =
            Options.Track.empty() ? nullptr : FindAudioTrack(probed.AudioTracks, Options.Track)) {
        choices.AudioStream = track->StreamIndex;
        choices.InputAudioCodec = track->Codec;
    }
}
