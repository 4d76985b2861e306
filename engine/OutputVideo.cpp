// The video output path's state and its frame-rate synchronisation.
#include "engine/OutputVideo.h"

#include <cmath>

void TVideoOutputStateDeleter::operator()(TVideoOutputState* state) const {
    delete state;
}

double PictureSyncTimeS(int64_t ptsUs, int64_t startTimeUs) {
    return static_cast<double>(ptsUs - startTimeUs) / 1000000.0;
}

int VideoFramesToEmit(const TVideoSyncInput& input, int64_t& syncOpts) {
    const double timeBase = av_q2d(input.EncoderTimeBase);
    const double outputTime = input.InputSyncTimeS / timeBase; // in output frames
    const bool synchronise =
        input.VideoSyncMethod > 0 || (input.VideoSyncMethod < 0 && timeBase > 0.001);
    if (!synchronise) {
        syncOpts = std::llrint(outputTime);
        return 1;
    }
    const double vdelta = outputTime - static_cast<double>(syncOpts);
    if (vdelta < -1.1)
        return 0;
    if (input.VideoSyncMethod == 2 ||
        (input.VideoSyncMethod < 0 && input.VariableFrameRateFormat)) {
        if (vdelta <= -0.6)
            return 0;
        if (vdelta > 0.6)
            syncOpts = std::llrint(outputTime);
        return 1;
    }
    return vdelta <= 1.1 ? 1 : static_cast<int>(std::llrint(vdelta));
}
