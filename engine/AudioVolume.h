// The volume change of decoded sound, applied in the decoder's own sample format.
#ifndef SOUNDPICK_ENGINE_AUDIOVOLUME_H
#define SOUNDPICK_ENGINE_AUDIOVOLUME_H

#include "ffbind/FFmpegApi.h"

#include <cstdint>

// 256 leaves the sound unchanged.
constexpr int UnityVolume = 256;

// Scales every sample of every channel plane by volume / 256 in place. Integer samples are
// rounded and clamped to their format's range (signed 16-bit: (v x volume + 128) >> 8);
// floating-point samples are clamped to -1 .. 1. The frame must be writable.
void ApplyAudioVolume(AVFrame& frame, int volume);
// The same on the first samples of the frame only.
void ApplyAudioVolume(AVFrame& frame, int samples, int volume);

// The same on raw samples: count samples (all channels) of one plane in format.
void ApplyAudioVolume(uint8_t* samples, int count, AVSampleFormat format, int volume);

#endif
