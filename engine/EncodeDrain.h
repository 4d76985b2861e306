// One encoder step for every encoding path: a frame (or the end of the stream) goes in, every
// packet the encoder has ready comes out, with one rule for the encoder's end.
#ifndef SOUNDPICK_ENGINE_ENCODEDRAIN_H
#define SOUNDPICK_ENGINE_ENCODEDRAIN_H

#include "ffbind/FFHandles.h"

#include <functional>

// Receives each packet in the encoder's time base. The packet is the step's own: the sink may
// take its content (av_packet_move_ref, a muxer's write); what it leaves is released after it.
using TEncodedPacketSink = std::function<void(AVPacket* packet)>;

// Sends the frame to the encoder (nullptr: the end of the stream, the encoder drains) and hands
// every packet it gives to the sink, in order.
// The end of the stream is asked for once but may be asked again (joined outputs, a duration
// reached before the input's end): an encoder drained already has nothing more and the step
// gives no packet. A frame for a drained encoder would be lost, so it is a failure like any
// other refusal; an encoder that wants more input or has given its last packet ends the step.
// Failures raise FFmpegException ("Video encoding failed" / "Audio encoding failed", followed by
// the encoder's own reason when it logged one).
void EncodeAndDrain(AVCodecContext* encoder, const AVFrame* frame, const TEncodedPacketSink& sink);

#endif
