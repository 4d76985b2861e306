// Joins two mp3 pieces encoded apart. An mp3 frame may begin its data in the bytes of the frames
// before it (the bit reservoir), so the first frame taken from the later piece needs its
// borrowed bytes where the earlier piece's kept frames leave room for them.
#ifndef SOUNDPICK_ENGINE_MP3SEAM_H
#define SOUNDPICK_ENGINE_MP3SEAM_H

#include "ffbind/FFHandles.h"

#include <cstdint>
#include <vector>

// before: the earlier piece's packets (one frame each) over the frames around the seam; after:
// the later piece's packets over the same frames, the same time stamps. Looks for the first
// frame at or after fromTicks whose borrowed bytes fit into what the earlier piece's frames
// before it leave unused, copies them there and returns that frame's time stamp: the earlier
// piece's packets before it and the later piece's from it on make a valid stream. INT64_MIN
// when no frame fits.
int64_t JoinMp3Pieces(std::vector<PacketPtr>& before, const std::vector<PacketPtr>& after,
                      int64_t fromTicks);

#endif
