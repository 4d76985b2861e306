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
    return AddPlanned(
        audio, Planner.PlanCueTracks(read.Sheet, ChoicesFor(audio, probed, std::nullopt), found));
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
