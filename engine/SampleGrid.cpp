// Cut times as sample positions.
#include "engine/SampleGrid.h"

#include "ffbind/FFmpegApi.h"

int64_t SampleAtUs(int64_t timeUs, int rateHz) {
    return ff::av_rescale(timeUs, rateHz, AV_TIME_BASE);
}

int64_t NearestSampleUs(int64_t timeUs, int rateHz) {
    return rateHz > 0 ? ff::av_rescale(SampleAtUs(timeUs, rateHz), AV_TIME_BASE, rateHz) : timeUs;
}

int64_t ClipSamples(int64_t startUs, int64_t lengthUs, int rateHz) {
    return SampleAtUs(av_sat_add64(startUs, lengthUs), rateHz) - SampleAtUs(startUs, rateHz);
}
