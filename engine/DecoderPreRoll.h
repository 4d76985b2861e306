// How far before a cut a lossy decoder starts, so that the sound it gives from the cut on is
// what a decode from the file's start gives there.
#ifndef SOUNDPICK_ENGINE_DECODERPREROLL_H
#define SOUNDPICK_ENGINE_DECODERPREROLL_H

#include "ffbind/FFmpegApi.h"

// Microseconds to decode (and drop) before a cut in a stream of these parameters: 0 for lossless
// codecs, whose frames stand alone; for lossy ones the stream's own pre-roll or enough frames
// for the overlap of the transform and for what an mp3 frame's bit reservoir reaches back to,
// whichever is longer.
int64_t DecoderPreRollUs(const AVCodecParameters& parameters);

#endif
