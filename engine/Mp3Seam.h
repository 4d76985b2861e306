// Joins two mp3 pieces encoded apart. An mp3 frame may begin its data in the bytes of the frames
// before it (the bit reservoir), so the first frame taken from the later piece needs its
// borrowed bytes where the earlier piece's kept frames leave room for them; where they leave too
// little, frames at the seam are given a larger size (a higher bit-rate index) to make the room.
#ifndef SOUNDPICK_ENGINE_MP3SEAM_H
#define SOUNDPICK_ENGINE_MP3SEAM_H

#include "ffbind/FFHandles.h"

#include <cstdint>
#include <vector>

// How a seam was joined.
struct TMp3Join {
    bool Joined = false;   // false: the frames around the seam could not be read or made to fit
    int BorrowedBytes = 0; // what the later piece's first frame takes from the bytes before it
    int FreeBytes = 0;     // what the earlier piece's frames leave unused before the seam
    int RaisedFrames = 0;  // frames given a higher bit-rate index to hold the borrowed bytes
};

// Whether every seam of pieces of this encoder's stream can be joined: a constant bit rate low
// enough that two frames raised to the top bit rate hold the most a frame may borrow.
bool Mp3SeamsAlwaysJoin(const AVCodecContext& encoder, const AVDictionary* options);

// before: the earlier piece's packets (one frame each) up to and past the seam; after: the later
// piece's packets from some frames before the seam on, the same time stamps. Makes the earlier
// piece's packets before seamTicks and the later piece's from it on a valid stream in which every
// frame decodes as its own encoder made it: the later piece's borrowed bytes are copied into the
// earlier piece's unused bytes, and when these are too few the earlier piece's last frame (and
// if need be the later piece's first) is enlarged and the later piece's main data moved to fit.
TMp3Join JoinMp3Pieces(std::vector<PacketPtr>& before, std::vector<PacketPtr>& after,
                       int64_t seamTicks);

#endif
