// The video path's state of a run: the decoded-picture counter and hook action, the picture
// records of the custom hook and of the previews, the preview window and the video statistics
// file. Kept in the run's state (TEngineRun::VideoHooks), made on first use and released with it.
#ifndef SOUNDPICK_ENGINE_VIDEOHOOKS_H
#define SOUNDPICK_ENGINE_VIDEOHOOKS_H

#include "engine/HookAction.h"
#include "engine/VideoFilters.h"
#include "ffbind/FFUtils.h"
#include "ffbind/Previewer.h"

#include <cstdint>
#include <cstdio>
#include <memory>
#include <mutex>

struct TFileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};

struct TVideoHookState {
    int HookFrameCounter = 0; // decoded video pictures; AFrameNumber of hooks and previews
    THookAction HookAction = haContinue;
    TPictureConverter CustomHook;     // the picture handed to OnCustomHook and back
    TPictureConverter PreviewPicture; // the picture of OnPreviewBitmap and the window
    std::unique_ptr<TPreviewer> Previewer;
    bool Previewed = false;                         // a preview was delivered in this run
    int64_t LastPreviewUs = 0;                      // monotonic clock of the last preview
    TVideoFilterGraph Deinterlacer;                 // made for the first picture to deinterlace
    std::unique_ptr<std::FILE, TFileCloser> Vstats; // opened on the first statistics line
};

class TTranscodeRun;

// The state of the run, made when first asked for.
TVideoHookState& VideoHookStateOf(TTranscodeRun& run);

// Serialises preview delivery of every engine of the process (shared with the component).
std::mutex& PreviewLock();

// Shows an encoded picture as a preview when the engine asks for previews and PreviewIntervalUs
// has passed: to OnPreviewBitmap, or else in the preview window. A conversion or window failure
// ends that kind of preview for the run. pts in microseconds. Runs under PreviewLock.
void DeliverPreview(TTranscodeRun& run, const AVFrame& picture, int64_t ptsUs);

#endif
