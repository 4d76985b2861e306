// Stand-ins for the progress report and the video output path until their own files exist:
// each file that defines one of these removes it here (and this file once it is empty).
#include "engine/FFmpeg.h"

void TCustomFFmpeg::ReportProgress(bool) {
    if (!OnProgress || OutputFiles.empty())
        return;
    double timeS = 1e10;
    for (const auto& ost : OutputStreams)
        if (ost->CurrentTimeSeconds() > 0)
            timeS = std::min(timeS, ost->CurrentTimeSeconds());
    if (timeS == 1e10)
        timeS = 0;
    AVIOContext* io = OutputFiles[0]->pb;
    const int64_t size = io ? ff::avio_seek(io, 0, SEEK_CUR) : 0;
    OnProgress(this, -1, -1, static_cast<int>(timeS * 1000), -1.0f, 0.0f, size, RecordingTimeMs);
}
