// The padding an mp3 file's LAME header declares, counted over the whole stream.
#ifndef SOUNDPICK_ENGINE_MP3PADDING_H
#define SOUNDPICK_ENGINE_MP3PADDING_H

#include "ffbind/FFmpegApi.h"

// The mp3 encoder signals at most one frame of padding per packet, and the muxer's header takes
// the last packet's: when the encoder's drain gives a frame wholly past the sound, the header
// forgets the padding of the frame before it and the file decodes longer than its sound. A
// packet of an mp3 file with padding, framesWritten frames into it, carries the padding of all
// frames so far past the samplesEncoded samples the encoder was given.
void SignalMp3Padding(AVPacket& packet, const AVCodecContext& encoder, int64_t framesWritten,
                      int64_t samplesEncoded);

#endif
