// soundpick-cli's inputs that give several outputs: cue sheets, chapters, every audio track, and
// the choice of one track.
#include "cli/BatchRun.h"

#include "component/CueLeadIns.h"
#include "ffbind/TextUtils.h"
#include "probe/AVProbe.h"

namespace fs = std::filesystem;

bool TBatchRun::AddCueTracks(const fs::path& cueFile, const TLibraryInput& found) {
    return AddCueSheet(ReadCueSheet(cueFile), cueFile, found);
}

bool TBatchRun::AddCueSheet(TCueRead read, const fs::path& shownFile, const TLibraryInput& found) {
    for (const std::string& note : read.Notes)
        Reporter.Warning(note);
    if (!read.ErrorText.empty())
        return Refuse(shownFile, read.ErrorText);
    const fs::path audio = read.Sheet.Tracks.front().AudioFile;
    const TProbedInput probed = Component.ProbeInput(audio);
    Component.Probe().CloseFile();
    if (!Convertible(audio, probed))
        return false;
    std::vector<std::string> notes;
    PlaceCueLeadIns(read.Sheet, shownFile.filename().string(), notes);
    for (const std::string& note : notes)
        Reporter.Warning(note);
    TOutputChoices choices = ChoicesFor(audio, probed, std::nullopt);
    // Under an added folder the tracks keep its tree in the output folder (a name template
    // makes a tree of its own).
    const fs::path subfolder =
        choices.OutputFolder && found.InFolder && Options.NameTemplate.empty()
            ? found.Relative.parent_path()
            : fs::path();
    choices.ClaimedNames.assign(ClaimedOutputs.begin(), ClaimedOutputs.end());
    return AddPieces(CueTrackTasks(read.Sheet, choices, subfolder));
}

bool TBatchRun::AddEmbeddedCue(const fs::path& input, const TTagMap& tags,
                               const TLibraryInput& found) {
    const auto tag = tags.find("cuesheet");
    if (tag == tags.end())
        return false;
    TCueRead read = ParseEmbeddedCueSheet(tag->second, input);
    if (!read.ErrorText.empty()) {
        Reporter.Warning(read.ErrorText + "; converting the file whole");
        return false;
    }
    return AddCueSheet(std::move(read), input, found);
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
