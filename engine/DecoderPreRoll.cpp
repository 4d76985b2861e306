// The decoder pre-roll before a cut.
#include "engine/DecoderPreRoll.h"

#include <algorithm>

namespace {

// An mp3 frame's data may begin up to 511 bytes (255 in MPEG-2) before its header, which at the
// lowest bit rates lies up to 11 frames back; then a frame of transform overlap and one for the
// synthesis filter's memory. AAC, Vorbis, AC-3 and WMA need one frame of overlap only.
constexpr int64_t PreRollFrames = 16;
// Frames of unknown size are taken as this many samples.
constexpr int64_t UnknownFrameSamples = 2048;

} // namespace

int64_t DecoderPreRollUs(const AVCodecParameters& parameters) {
    const AVCodecDescriptor* descriptor = ff::avcodec_descriptor_get(parameters.codec_id);
    if (parameters.codec_type != AVMEDIA_TYPE_AUDIO || parameters.sample_rate <= 0 || !descriptor ||
        !(descriptor->props & AV_CODEC_PROP_LOSSY))
        return 0;
    const int64_t frameSamples =
        parameters.frame_size > 0 ? parameters.frame_size : UnknownFrameSamples;
    const int64_t samples =
        std::max<int64_t>(parameters.seek_preroll, PreRollFrames * frameSamples);
    return ff::av_rescale(samples, AV_TIME_BASE, parameters.sample_rate);
}
