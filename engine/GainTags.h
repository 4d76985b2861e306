// ReplayGain tags (REPLAYGAIN_TRACK_GAIN, _PEAK, REPLAYGAIN_ALBUM_GAIN, _PEAK; in Opus
// R128_TRACK_GAIN and R128_ALBUM_GAIN): set as placeholders when an output is made, filled in
// the written file once its sound, and its album's, has been measured.
#ifndef SOUNDPICK_ENGINE_GAINTAGS_H
#define SOUNDPICK_ENGINE_GAINTAGS_H

#include "engine/LoudnessMeter.h"
#include "ffbind/FFmpegApi.h"

#include <filesystem>
#include <string>

// ReplayGain 2.0's reference loudness, and Opus's for its R128 gains.
inline constexpr double ReplayGainReferenceLufs = -18.0;
inline constexpr double R128ReferenceLufs = -23.0;

// Which gain tags an output carries: R128's for Opus sound, ReplayGain's in mp3, flac, ogg, m4a
// and wma, none in other containers.
enum TGainTagKind { gkNone, gkReplayGain, gkR128 };
TGainTagKind GainTagKindOf(const char* muxerName, AVCodecID soundCodec);

// Removes every ReplayGain and R128 gain tag: a copied one is stale once the level changes.
void DropGainTags(AVDictionary** tags);

// Sets the tags of a kind with placeholder values as wide as the values filled in later, so
// that the filling changes no size (an MPEG-4 muxer writes none of them: the filling adds them).
void AddGainPlaceholders(AVDictionary** tags, TGainTagKind kind);

// Fills a written file's gain tags with a track's and its album's measured loudness (the peak
// written is the true peak, as a linear ratio). The placeholders, or values filled before, are
// overwritten in place; MPEG-4's atoms are added when missing, through a copy that then takes
// the file's place. Returns an error text, empty on success.
std::string WriteGainTags(const std::filesystem::path& file, const TLoudness& track,
                          const TLoudness& album);

#endif
