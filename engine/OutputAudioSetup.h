// Makes an audio encoder's sample format, rate and channel layout ones the encoder accepts, so
// opening it does not fail where a near choice exists.
#ifndef SOUNDPICK_ENGINE_OUTPUTAUDIOSETUP_H
#define SOUNDPICK_ENGINE_OUTPUTAUDIOSETUP_H

#include "ffbind/FFmpegApi.h"

// Before the encoder is opened: the sample format becomes preferredFormat when the encoder
// lists it, else its planar/packed twin, else the encoder's first; a rate the encoder does not
// list becomes the nearest listed one; a layout it does not list becomes a listed one with the
// same channel count, else the one with most channels not above the count asked (else the
// first); a layout without channel order gets the default order; an encoder without a layout
// list that refuses more than two channels gets stereo; one without a rate list that refuses a
// rate above 48 kHz gets the highest lower common rate it takes, one dividing the rate asked
// where possible. The time base becomes one sample. Encoders without lists otherwise keep what was
// asked.
void PrepareAudioEncoder(AVCodecContext* encoder, const AVCodec* codec,
                         AVSampleFormat preferredFormat);

#endif
