// soundpick-cli's inputs that give several outputs: cue sheets, chapters, every audio track, and
// the choice of one track.
#include "cli/BatchRun.h"

#include "component/CueLeadIns.h"
#include "component/OutputNaming.h"
#include "component/UpdateCheck.h"
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
    TOutputManifest* manifest = ManifestFor(choices);
    if (!manifest)
        return AddPieces(CueTrackTasks(read.Sheet, choices, subfolder));
    // With --update the tracks take their own names, and each is judged by its record.
    choices.Overwrite = choices.Overwrite || Options.Update;
    std::vector<TPieceTask> pieces = CueTrackTasks(read.Sheet, choices, subfolder);
    std::vector<fs::path> claimed = choices.ClaimedNames;
    for (const TPieceTask& piece : pieces)
        claimed.push_back(piece.OutputFileName);
    bool added = false;
    for (TPieceTask& piece : pieces) // one by one: a record waits under its task's index
        if (PlanRecordedPiece(*manifest, piece, claimed))
            added = AddPieces({piece}) || added;
    return added;
}

bool TBatchRun::PlanRecordedPiece(TOutputManifest& manifest, TPieceTask& piece,
                                  std::vector<fs::path>& claimed) {
    TOutputChoices& choices = piece.Choices;
    choices.Overwrite = Options.Overwrite;
    const fs::path& input = choices.InputFileName;
    const std::string settings = OutputSettingsText(choices);
    const TManifestEntry* own = manifest.ForOutput(piece.OutputFileName);
    if (own && own->Input == input.string() && Options.Update) {
        const TUpdateDecision decision = DecideUpdate(*own, input, piece.OutputFileName, settings);
        if (decision.Action == uaSkip) {
            ++UpToDate;
            if (Options.DryRun)
                Reporter.Planned("skip", input, piece.OutputFileName, "up to date");
            Report.Line(input, piece.OutputFileName, "up-to-date", "", 0);
            return false;
        }
        choices.Overwrite = decision.Action == uaReplace;
        if (Options.DryRun)
            PlanReasons[CliTasks.size()] = decision.Reason;
    } else if (Options.Update && !Options.Overwrite) {
        // Another input's output, or a file no run recorded: never replaced unasked.
        std::error_code error;
        if (own || fs::exists(fs::symlink_status(piece.OutputFileName, error))) {
            const fs::path& name = piece.OutputFileName;
            piece.OutputFileName =
                FreeOutputName({.Base = (name.parent_path() / name.stem()).string(),
                                .Suffix = {},
                                .Extension = name.extension().string(),
                                .Marked = false,
                                .Replace = false},
                               claimed);
            claimed.push_back(piece.OutputFileName);
        }
    }
    PendingRecords[CliTasks.size()] = {&manifest,
                                       {manifest.Relative(piece.OutputFileName),
                                        input.string(),
                                        settings,
                                        StampOf(input),
                                        -1,
                                        {}}};
    return true;
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
