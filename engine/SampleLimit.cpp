// Clamping of floating-point samples, per plane or interleaved.
#include "engine/SampleLimit.h"

#include <algorithm>
#include <cmath>

namespace {

template <typename T> void Limit(uint8_t* data, int count) {
    T* samples = reinterpret_cast<T*>(data);
    constexpr T limit = static_cast<T>(SampleMagnitudeLimit);
    for (int i = 0; i < count; ++i)
        samples[i] = std::isnan(samples[i]) ? T(0) : std::clamp(samples[i], -limit, limit);
}

} // namespace

void LimitFloatSamples(AVFrame& frame, int samples, int channels) {
    const auto format = static_cast<AVSampleFormat>(frame.format);
    const bool planar = ff::av_sample_fmt_is_planar(format);
    const int planes = planar ? channels : 1;
    const int count = planar ? samples : samples * channels;
    for (int plane = 0; plane < planes; ++plane) {
        if (format == AV_SAMPLE_FMT_FLT || format == AV_SAMPLE_FMT_FLTP)
            Limit<float>(frame.extended_data[plane], count);
        else if (format == AV_SAMPLE_FMT_DBL || format == AV_SAMPLE_FMT_DBLP)
            Limit<double>(frame.extended_data[plane], count);
    }
}
