// Volume change per sample format: integer formats in fixed point (the factor is volume / 256,
// rounded to nearest), floating-point formats by multiplication.
#include "engine/AudioVolume.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace {

// (v x volume + 128) >> 8 in 64 bits, clamped to T's range: rounds to nearest as the
// arithmetic shift does for the signed 16-bit formula.
template <typename T> void ScaleSigned(T* samples, int count, int volume) {
    constexpr int64_t low = std::numeric_limits<T>::min();
    constexpr int64_t high = std::numeric_limits<T>::max();
    for (int i = 0; i < count; ++i) {
        const int64_t scaled = (static_cast<int64_t>(samples[i]) * volume + 128) >> 8;
        samples[i] = static_cast<T>(std::clamp(scaled, low, high));
    }
}

// Unsigned 8-bit samples are centred on 128.
void ScaleUnsigned8(uint8_t* samples, int count, int volume) {
    for (int i = 0; i < count; ++i) {
        const int64_t centred = static_cast<int64_t>(samples[i]) - 128;
        const int64_t scaled = (centred * volume + 128) >> 8;
        samples[i] = static_cast<uint8_t>(std::clamp<int64_t>(scaled, -128, 127) + 128);
    }
}

template <typename T> void ScaleFloat(T* samples, int count, int volume) {
    const T factor = static_cast<T>(volume) / 256;
    for (int i = 0; i < count; ++i)
        samples[i] = std::clamp<T>(samples[i] * factor, -1, 1);
}

} // namespace

void ApplyAudioVolume(uint8_t* samples, int count, AVSampleFormat format, int volume) {
    if (volume == UnityVolume || !samples || count <= 0)
        return;
    switch (format) {
    case AV_SAMPLE_FMT_U8:
    case AV_SAMPLE_FMT_U8P:
        ScaleUnsigned8(samples, count, volume);
        break;
    case AV_SAMPLE_FMT_S16:
    case AV_SAMPLE_FMT_S16P:
        ScaleSigned(reinterpret_cast<int16_t*>(samples), count, volume);
        break;
    case AV_SAMPLE_FMT_S32:
    case AV_SAMPLE_FMT_S32P:
        ScaleSigned(reinterpret_cast<int32_t*>(samples), count, volume);
        break;
    case AV_SAMPLE_FMT_S64:
    case AV_SAMPLE_FMT_S64P:
        // 64-bit samples would overflow the fixed-point product: scale in long double.
        for (int i = 0; i < count; ++i) {
            int64_t& sample = reinterpret_cast<int64_t*>(samples)[i];
            const long double scaled =
                std::nearbyint(static_cast<long double>(sample) * volume / 256);
            sample = scaled >= static_cast<long double>(std::numeric_limits<int64_t>::max())
                         ? std::numeric_limits<int64_t>::max()
                     : scaled <= static_cast<long double>(std::numeric_limits<int64_t>::min())
                         ? std::numeric_limits<int64_t>::min()
                         : static_cast<int64_t>(scaled);
        }
        break;
    case AV_SAMPLE_FMT_FLT:
    case AV_SAMPLE_FMT_FLTP:
        ScaleFloat(reinterpret_cast<float*>(samples), count, volume);
        break;
    case AV_SAMPLE_FMT_DBL:
    case AV_SAMPLE_FMT_DBLP:
        ScaleFloat(reinterpret_cast<double*>(samples), count, volume);
        break;
    default:
        break;
    }
}

void ApplyAudioVolume(AVFrame& frame, int volume) {
    ApplyAudioVolume(frame, frame.nb_samples, volume);
}

void ApplyAudioVolume(AVFrame& frame, int samples, int volume) {
    const auto format = static_cast<AVSampleFormat>(frame.format);
    const int channels = frame.ch_layout.nb_channels;
    // Planar formats keep one plane per channel, packed ones interleave all in plane 0.
    const bool planar = format == AV_SAMPLE_FMT_U8P || format == AV_SAMPLE_FMT_S16P ||
                        format == AV_SAMPLE_FMT_S32P || format == AV_SAMPLE_FMT_FLTP ||
                        format == AV_SAMPLE_FMT_DBLP || format == AV_SAMPLE_FMT_S64P;
    if (planar) {
        for (int channel = 0; channel < channels; ++channel)
            ApplyAudioVolume(frame.extended_data[channel], samples, format, volume);
    } else {
        ApplyAudioVolume(frame.extended_data[0], samples * channels, format, volume);
    }
}
