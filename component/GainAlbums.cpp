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
        TLoudness album;
        std::string albumError;
        try {
            album = MeasureLoudnessOfAll(outputs);
        } catch (const std::runtime_error& error) {
            albumError = error.what();
        }
        for (const fs::path& output : outputs) {
            TWritten entry{output, {}, album, albumError};
            try {
                entry.Track = MeasureLoudnessOfAll({output});
            } catch (const std::runtime_error& error) {
                entry.Error = error.what();
            }
            if (entry.Error.empty())
                entry.Error = WriteGainTags(output, entry.Track, entry.Album);
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
