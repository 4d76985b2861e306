// The iTunes gapless tag (iTunSMPB) of an MPEG-4 file with AAC sound: players that skip the
// encoder's priming and padding by it rather than by the edit list play the sound's own samples.
#ifndef SOUNDPICK_ENGINE_ITUNESGAPLESSTAG_H
#define SOUNDPICK_ENGINE_ITUNESGAPLESSTAG_H

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

// What the tag says: the priming samples, the padding after the sound and the sound's samples.
struct TGaplessCounts {
    int64_t PrimingSamples = 0;
    int64_t PaddingSamples = 0;
    int64_t Samples = 0;
};

// The tag's text.
std::string ItunesGaplessText(const TGaplessCounts& counts);

// Adds the tag to a finished file whose movie box is its last box (the layout the muxer writes
// without fast start), from the edit list and frame count of its sound track, each frame holding
// frameSamples. Returns false, the file unchanged, where the file has no such track or layout;
// a write that fails midway leaves the file damaged, so callers treat false after a write as
// a failed output (writeFailed is set).
bool AddItunesGaplessTag(const std::filesystem::path& file, int frameSamples, bool& writeFailed);

#endif
