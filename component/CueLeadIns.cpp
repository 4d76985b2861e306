// Finding the sound before a cue sheet's first tracks.
#include "component/CueLeadIns.h"

#include "ffbind/FFUtils.h"
#include "probe/EnvelopeScan.h"

#include <algorithm>
#include <atomic>
#include <cmath>

namespace {

// Quieter than this is silence: a rip's pre-gap is digital silence or the noise floor of a
// tape, a hidden track's sound far above it.
constexpr double SilenceDb = -60;

// Whether the sound from the file's start to toUs rises above silence; true when it cannot be
// measured.
bool HoldsSound(const TPathFileName& file, int64_t toUs) {
    float peak = 0;
    const std::atomic<bool> cancel{false};
    std::string error;
    const TScanEnd end = ScanSoundEnvelope(
        file, {0, toUs}, cancel,
        [&](std::size_t firstBin, const std::vector<float>& peaks) {
            // Only whole bins: the last may hold the first track's opening.
            for (std::size_t i = 0; i < peaks.size(); ++i)
                if (static_cast<int64_t>(firstBin + i + 1) * TSoundEnvelope::BinUs <= toUs)
                    peak = std::max(peak, peaks[i]);
        },
        error);
    return end != TScanEnd::Complete || PeakToDb(peak) > SilenceDb;
}

std::string SecondsText(int64_t frames) {
    return FormatText("%.2f s", static_cast<double>(frames) / 75);
}

} // namespace

void PlaceCueLeadIns(TCueSheet& sheet, const std::string& shownName,
                     std::vector<std::string>& notes) {
    std::vector<TCueTrack> tracks;
    for (std::size_t i = 0; i < sheet.Tracks.size(); ++i) {
        TCueTrack track = sheet.Tracks[i];
        const bool firstOfFile = i == 0 || sheet.Tracks[i - 1].AudioFile != track.AudioFile;
        if (firstOfFile && track.StartFrames > 0) {
            const std::string before = "the " + SecondsText(track.StartFrames) + " before track " +
                                       std::to_string(track.Number);
            if (!HoldsSound(track.AudioFile, CueFramesToUs(track.StartFrames))) {
                notes.push_back(shownName + ": " + before + " are silent: left out");
            } else if (i == 0) {
                notes.push_back(shownName + ": " + before + " hold sound: kept as track 00");
                TCueTrack hidden;
                hidden.AudioFile = track.AudioFile;
                hidden.Title = "Hidden Track";
                hidden.Performer = track.Performer;
                tracks.push_back(std::move(hidden));
            } else {
                notes.push_back(shownName + ": " + before + " hold sound: kept in track " +
                                std::to_string(track.Number));
                track.StartFrames = 0;
            }
        }
        tracks.push_back(std::move(track));
    }
    sheet.Tracks = std::move(tracks);
}
