// Fuzz target over the media probe: open any bytes as a file, describe it, then seek and grab
// pictures as the window's preview slider does, and measure its sound as the waveform does.
#include "fuzz/FuzzScratch.h"
#include "probe/AVProbe.h"
#include "probe/EnvelopeScan.h"

namespace {

// A picture at a time; a failure is an answer too, never a crash.
void GrabAt(TAVProbe& probe, int64_t timeUs) {
    if (probe.Seek(-1, timeUs))
        probe.GetFrameBitmap(-1);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static TFuzzScratch scratch;
    TAVProbe probe;
    if (!probe.LoadFile(scratch.Write(data, size)))
        return 0;
    TFileStreamInfo file;
    probe.GetFileStreamInfo(file);
    TVideoStreamInfo video;
    probe.GetVideoStreamInfo(-1, video);
    probe.GetInfoText();
    probe.GetFileSize();
    if (probe.VideoStreamCount() > 0) {
        probe.GetFrameBitmap(-1);
        GrabAt(probe, file.Duration > 0 ? file.Duration / 2 : 1000000);
        GrabAt(probe, 0);
    }
    if (probe.AudioStreamCount() > 0) {
        std::string error;
        ReadSoundEnvelope({probe.GetFileName()}, error);
    }
    return 0;
}
