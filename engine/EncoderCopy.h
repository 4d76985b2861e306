// A second encoder like a stream's own: the settings an unopened encoder context takes from
// another, so that it encodes as that one would (the split pieces, the loudness trial), and the
// one way an encoder is opened with its options.
#ifndef SOUNDPICK_ENGINE_ENCODERCOPY_H
#define SOUNDPICK_ENGINE_ENCODERCOPY_H

#include "ffbind/FFmpegApi.h"

// Copies codec parameters (format, rate, layout, bit rate), time base, flags, quality and rate
// control from one encoder context to another, unopened one; not the header data, which
// opening makes anew. Throws FFmpegException when out of memory.
void CopyEncoderSettings(AVCodecContext& to, const AVCodecContext& from);

// Opens a codec context with a copy of the options (null: none), under the codec lock as every
// opening; the library's last error is cleared first, so that it then tells this refusal's
// reason. Returns avcodec_open2's result.
int OpenCodec(AVCodecContext& context, const AVCodec* codec, const AVDictionary* options);

#endif
