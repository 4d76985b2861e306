// ReplayGain over albums (see GainAlbums.h).
#include "component/GainAlbums.h"

#include "engine/GainTags.h"
#include "ffbind/FFUtils.h"

#include <algorithm>
#include <stdexcept>

namespace fs = std::filesystem;

void TGainAlbums::Add(const fs::path& input, const fs::path& output) {
    Albums[input.parent_path()].push_back({input, output, false});
}

void TGainAlbums::AddKept(const fs::path& input, const fs::path& output) {
    Albums[input.parent_path()].push_back({input, output, true});
}

std::vector<TGainAlbums::TWritten> TGainAlbums::WriteAll() {
    std::vector<TWritten> written;
    for (auto& [folder, tracks] : Albums) {
        if (std::all_of(tracks.begin(), tracks.end(), [](const TTrack& t) { return t.Kept; }))
            continue;
        // The gate of the album's measure spans the joins: the tracks go in the album's order.
        std::sort(tracks.begin(), tracks.end());
        std::vector<fs::path> outputs;
        for (const TTrack& track : tracks)
            outputs.push_back(track.Output);
        TAlbumLoudness measured;
        std::string error;
        try {
            measured = MeasureAlbumLoudness(outputs);
        } catch (const std::runtime_error& failure) {
            error = failure.what();
        }
        for (std::size_t i = 0; i < outputs.size(); ++i) {
            TWritten entry{outputs[i], {}, measured.Album, error};
            if (error.empty()) {
                entry.Track = measured.Tracks[i];
                entry.Error = WriteGainTags(outputs[i], entry.Track, entry.Album);
            }
            written.push_back(entry);
        }
    }
    Albums.clear();
    return written;
}

std::string GainSummary(const TGainAlbums::TWritten& written) {
    const auto gain = [](const TLoudness& loudness) {
        return loudness.IntegratedLufs > SilenceLufs
                   ? FormatText("%+.2f dB", ReplayGainReferenceLufs - loudness.IntegratedLufs)
                   : std::string("silent");
    };
    return "ReplayGain " + gain(written.Track) + " (track), " + gain(written.Album) + " (album)";
}
