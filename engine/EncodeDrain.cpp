// One encoder step for every encoding path: send, then receive until the encoder wants more.
#include "engine/EncodeDrain.h"

#include "engine/EngineErrors.h"
#include "ffbind/FFmpegLoader.h"
#include "ffbind/FFmpegLogger.h"

namespace {

[[noreturn]] void Fail(const AVCodecContext* encoder) {
    std::string text = encoder->codec_type == AVMEDIA_TYPE_VIDEO ? "Video encoding failed"
                                                                 : "Audio encoding failed";
    if (const std::string why = LastLibraryError(); !why.empty())
        text += ": " + why;
    throw FFmpegException(text);
}

} // namespace

void EncodeAndDrain(AVCodecContext* encoder, const AVFrame* frame, const TEncodedPacketSink& sink) {
    ClearLibraryError();
    const int sent = ff::avcodec_send_frame(encoder, frame);
    if (sent == AVERROR_EOF && !frame)
        return; // drained already
    if (sent < 0)
        Fail(encoder);
    PacketPtr packet(ff::av_packet_alloc());
    if (!packet)
        throw FFmpegException("av_packet_alloc failed");
    for (;;) {
        const int received = ff::avcodec_receive_packet(encoder, packet.get());
        if (received == AVERROR(EAGAIN) || received == AVERROR_EOF)
            return;
        if (received < 0)
            Fail(encoder);
        sink(packet.get());
        ff::av_packet_unref(packet.get());
    }
}
