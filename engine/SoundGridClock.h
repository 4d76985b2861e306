// Times of decoded sound on the stream's own sample grid, where its time stamps are coarser
// than its samples (Matroska stamps to the millisecond, 44 samples at 44.1 kHz).
#ifndef SOUNDPICK_ENGINE_SOUNDGRIDCLOCK_H
#define SOUNDPICK_ENGINE_SOUNDGRIDCLOCK_H

#include "ffbind/FFmpegApi.h"

#include <cstdint>
#include <limits>

// Where the next decoded frame of a stream lies, in samples of the stream's own time line.
struct TSoundGridClock {
    static constexpr int64_t Unknown = std::numeric_limits<int64_t>::min();
    int64_t NextSample = Unknown;
};

// The time of a decoded frame in microseconds, on the input's time line shifted by
// tsOffsetUs (the shift its packets took). Where the stream's time stamps are finer than its
// samples, that is the frame's own stamp. Otherwise a frame whose stamp rounds from where the
// one before it ended lies there; the first after a seek lies on the multiple of its own length
// that its stamp rounds from (frames of one length from the stream's start), else at its stamp.
int64_t FrameTimeOnGridUs(TSoundGridClock& clock, const AVStream& stream, const AVFrame& frame,
                          int64_t tsOffsetUs);

#endif
