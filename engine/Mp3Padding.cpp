// Whole-stream padding of mp3 packets.
#include "engine/Mp3Padding.h"

#include <cstdint>

void SignalMp3Padding(AVPacket& packet, const AVCodecContext& encoder, int64_t framesWritten,
                      int64_t samplesEncoded) {
    const int64_t padding =
        framesWritten * encoder.frame_size - encoder.initial_padding - samplesEncoded;
    size_t bytes = 0;
    uint8_t* skip = ff::av_packet_get_side_data(&packet, AV_PKT_DATA_SKIP_SAMPLES, &bytes);
    // A packet the encoder gave no padding holds sound to its end: so do those before it.
    if (!skip || bytes < 10 || padding <= 0 || padding > INT32_MAX)
        return;
    // The samples to drop at the end, little-endian after those at the start.
    for (int i = 0; i < 4; ++i)
        skip[4 + i] = static_cast<uint8_t>(padding >> (8 * i));
}
