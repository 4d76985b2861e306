// Tags as taggers write them in each container: the track and disc numbers with their totals,
// the album artist and the compilation flag under the keys each muxer turns into its own frames.
#ifndef SOUNDPICK_ENGINE_CONTAINERTAGS_H
#define SOUNDPICK_ENGINE_CONTAINERTAGS_H

#include "ffbind/FFmpegApi.h"

#include <filesystem>

// Rewrites tags for the muxer named muxerName. ID3v2 (TRCK, TPOS) and MPEG-4 (trkn, disk) hold
// a number and its total together as "n/N", so TRACKTOTAL/TOTALTRACKS and DISCTOTAL/TOTALDISCS
// are folded into "track" and "disc" (instead of landing in TXXX frames or being lost); Vorbis
// comments (flac, ogg, opus) and ASF keep them apart, so an "n/N" is split into the number and
// TRACKTOTAL/DISCTOTAL. Every spelling of the album artist becomes "album_artist" (TPE2, aART)
// and of the compilation flag "compilation" (TCMP, cpil). Other muxers' tags are left as they are.
void MapTagsForContainer(AVDictionary** tags, const char* muxerName);

// The ID3v2 writer of the libraries knows no TCMP frame (an iTunes one, as taggers write the
// compilation flag) and writes "compilation" as a TXXX frame named TCMP: this turns that frame of
// a written mp3 into a TCMP frame in place, the tag's size kept (its padding grows). False when
// the file could not be read or written; true also when there was nothing to do.
bool WriteCompilationFrame(const std::filesystem::path& mp3File);

#endif
