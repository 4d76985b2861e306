// Decoded sound placed on the sample grid.
#include "engine/SoundGridClock.h"

#include <cstdlib>

int64_t FrameTimeOnGridUs(TSoundGridClock& clock, const AVStream& stream, const AVFrame& frame,
                          int64_t tsOffsetUs) {
    const int64_t stamp = frame.best_effort_timestamp;
    const AVRational timeBase = stream.time_base;
    const int rate = frame.sample_rate;
    const int64_t stampUs = ff::av_rescale_q(stamp, timeBase, AV_TIME_BASE_Q);
    // (A damaged file's shift may have saturated.)
    if (stamp == AV_NOPTS_VALUE || tsOffsetUs == std::numeric_limits<int64_t>::min() || rate <= 0 ||
        frame.nb_samples <= 0 || timeBase.den <= 0 ||
        int64_t{timeBase.num} * rate <= timeBase.den) {
        clock.NextSample = TSoundGridClock::Unknown;
        return stampUs;
    }
    // The stamp as written, before the packets' shift, in samples; a tick spans several.
    const int64_t written = stamp - ff::av_rescale_q(tsOffsetUs, AV_TIME_BASE_Q, timeBase);
    const int64_t sample = ff::av_rescale(written, int64_t{timeBase.num} * rate, timeBase.den);
    const int64_t tolerance = int64_t{timeBase.num} * rate / timeBase.den / 2 + 1;
    int64_t position = sample;
    if (clock.NextSample != TSoundGridClock::Unknown &&
        std::llabs(sample - clock.NextSample) <= tolerance) {
        position = clock.NextSample;
    } else if (frame.nb_samples > 2 * tolerance) {
        const int64_t onGrid = ff::av_rescale(sample, 1, frame.nb_samples) * frame.nb_samples;
        if (std::llabs(onGrid - sample) <= tolerance)
            position = onGrid;
    }
    clock.NextSample = position + frame.nb_samples;
    const int64_t cutSample = ff::av_rescale(-tsOffsetUs, rate, AV_TIME_BASE);
    return ff::av_rescale(position - cutSample, AV_TIME_BASE, rate);
}
