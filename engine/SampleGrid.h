// Times of cuts on the sample grid of a sound: every boundary becomes a sample position by one
// rounding rule, so that a piece ending at a time ends exactly where one starting there begins.
#ifndef SOUNDPICK_ENGINE_SAMPLEGRID_H
#define SOUNDPICK_ENGINE_SAMPLEGRID_H

#include <cstdint>

// The sample at timeUs of a sound at rateHz: the nearest, halves rounded away from zero.
int64_t SampleAtUs(int64_t timeUs, int rateHz);

// The time of that sample, to the microsecond.
int64_t NearestSampleUs(int64_t timeUs, int rateHz);

// The samples of a clip from startUs, lengthUs long: from the sample at its start to the one at
// its end, so that clips meeting at a time share that sample as one's end and the other's start.
int64_t ClipSamples(int64_t startUs, int64_t lengthUs, int rateHz);

#endif
