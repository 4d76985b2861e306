// Gapless signalling of MPEG-4 sound outputs: an edit list that counts the sound to the sample,
// and for AAC the iTunes tag that says the same.
#ifndef SOUNDPICK_ENGINE_MP4GAPLESS_H
#define SOUNDPICK_ENGINE_MP4GAPLESS_H

#include "ffbind/FFmpegApi.h"

#include <filesystem>

// Before the header of an MPEG-4 family output with sound: the movie's time scale becomes the
// sound's sample rate, so that the edit list (counted in it) gives the sound's length to the
// sample rather than to the millisecond. A time scale the options already name stays.
void ChooseMovieTimescale(const AVFormatContext& output, AVDictionary** muxerOptions);

// After the trailer, with the file closed: the iTunes gapless tag into a finished MPEG-4 file
// whose one sound track is AAC. Returns false when writing it failed (the file is damaged);
// a file it does not apply to is left as it is.
bool TagMp4Gapless(const AVFormatContext& output, const std::filesystem::path& writtenFile);

#endif
