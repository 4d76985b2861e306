// What loudness normalisation aims at for one output: the format its encoder will get (the
// loudness is measured after the same conversion) and the true-peak ceiling for its codec.
#ifndef SOUNDPICK_COMPONENT_LOUDNESSTARGET_H
#define SOUNDPICK_COMPONENT_LOUDNESSTARGET_H

#include "engine/FFmpeg.h"
#include "ffbind/FFHandles.h"

// The first encoded sound stream of an output as the run will open it: a copy of its setup's
// encoder (bit rate and quality too) with the sample format, rate and channel layout the run's
// preparation gives it (the input's sample format preferred), and its private options.
struct TEncoderAsRun {
    CodecContextPtr Encoder; // none when the output encodes no sound
    const AVDictionary* Options = nullptr;
};
TEncoderAsRun AudioEncoderAsRun(const TOutputFileSetup& output, AVSampleFormat inputFormat);

// The first sound stream's sample format in a file, or none.
AVSampleFormat FirstSoundFormat(const AVFormatContext* input);

// The true-peak ceiling for an encoder's output: lower for lossy codecs.
double TruePeakCeilingFor(AVCodecID codec);

#endif
