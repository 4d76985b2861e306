// A bound on floating-point samples before an encoder: damaged input can decode to values
// thousands of times full scale, on which an encoder may abort the whole program (the mp3
// encoder asserts in its bit allocation).
#ifndef SOUNDPICK_ENGINE_SAMPLELIMIT_H
#define SOUNDPICK_ENGINE_SAMPLELIMIT_H

#include "ffbind/FFmpegApi.h"

// The largest magnitude kept: +18 dB over full scale, far above the few dB by which real sound
// decoded from a lossy format exceeds it.
constexpr double SampleMagnitudeLimit = 8.0;

// Clamps the first samples (per channel) of a writable frame of a floating-point format to
// +-SampleMagnitudeLimit, and not-a-number to silence; other formats are left alone.
void LimitFloatSamples(AVFrame& frame, int samples, int channels);

#endif
