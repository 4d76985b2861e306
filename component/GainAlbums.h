// ReplayGain over albums: a run's written outputs grouped by album (the files of one input
// folder, which holds a cue sheet's tracks too), measured once all of them are written, and
// their gain tags filled in.
#ifndef SOUNDPICK_COMPONENT_GAINALBUMS_H
#define SOUNDPICK_COMPONENT_GAINALBUMS_H

#include "engine/LoudnessMeter.h"

#include <filesystem>
#include <map>
#include <string>
#include <vector>

class TGainAlbums {
public:
    // Notes an output written with gain placeholders from input.
    void Add(const std::filesystem::path& input, const std::filesystem::path& output);
    // Notes an output of an earlier run that this one passes over (up to date): measured with
    // its album, and filled anew with it, when the album has an output written now.
    void AddKept(const std::filesystem::path& input, const std::filesystem::path& output);

    struct TWritten {
        std::filesystem::path Output;
        TLoudness Track, Album;
        std::string Error; // empty when the tags were written
    };
    // Measures each album with an output written now, each output alone and all together one
    // after another in the order of their inputs (and a cue sheet's tracks in the order of
    // their names), and fills their tags; one entry per output, in that order. Forgets the
    // albums.
    std::vector<TWritten> WriteAll();

private:
    struct TTrack {
        std::filesystem::path Input, Output;
        bool Kept = false;
        auto operator<=>(const TTrack&) const = default;
    };
    // By input folder: the outputs with their inputs, in the order they were noted.
    std::map<std::filesystem::path, std::vector<TTrack>> Albums;
};

// "-7.52 dB (track), -8.01 dB (album)" for an output's ReplayGain figures.
std::string GainSummary(const TGainAlbums::TWritten& written);

#endif
