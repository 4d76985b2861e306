// The run's preparation of decoded pictures (deinterlacing, the picture hooks, the video-hook
// chain) and the preview delivery of encoded pictures.
#include "engine/TranscodeRun.h"
#include "engine/VideoHooks.h"
#include "ffbind/FFmpegLogger.h"

#include <algorithm>
#include <cstring>
#include <exception>

TVideoHookState& VideoHookStateOf(TTranscodeRun& run) {
    if (!run.State.VideoHooks)
        run.State.VideoHooks.reset(new TVideoHookState);
    return *run.State.VideoHooks;
}

namespace {

// The library's 'fd' deinterlacer: a vertical low-pass over each field, one picture in, the
// same picture out, so a picture keeps its place in the stream.
constexpr const char* DeinterlaceChain = "pp=fd";

// Decides whether this picture is hooked, from OnBeforeHook or the hook time ranges.
void DecideHookAction(TTranscodeRun& run, TVideoHookState& state, int64_t pts) {
    if (run.Link.HasBeforeHook()) {
        try {
            run.Link.BeforeHook(pts, state.HookAction);
        } catch (const std::exception& error) {
            GetLogger()->Log(run.Link.LogSender(), llError,
                             std::string("Error occurs OnBeforeHook: ") + error.what());
            state.HookAction = haStop;
        }
        if (state.HookAction == haStop)
            run.Link.StopHooks();
        return;
    }
    const std::vector<THookTimeRange>& ranges = run.Setup.Options.HookTimeRanges;
    if (ranges.empty())
        return;
    state.HookAction = haIgnore;
    for (int i = run.State.HookTimeRangeIndex; i < static_cast<int>(ranges.size()); ++i) {
        if (ranges[i].StartUs <= pts && pts <= ranges[i].EndUs) {
            run.State.HookTimeRangeIndex = i;
            state.HookAction = haContinue;
            return;
        }
    }
    if (ranges.back().EndUs < pts) {
        state.HookAction = haStop;
        run.Link.StopHooks();
    }
}

// A writable picture of the same geometry holding the picture, deinterlaced when asked.
FramePtr HookCopy(TTranscodeRun& run, TVideoHookState& state, const AVFrame& picture) {
    if (run.Setup.Options.Deinterlace) {
        const TVideoFilterInput& shape = state.Deinterlacer.Input();
        if (!state.Deinterlacer.Configured() || shape.Width != picture.width ||
            shape.Height != picture.height || shape.PixelFormat != picture.format) {
            TVideoFilterInput input;
            input.Width = picture.width;
            input.Height = picture.height;
            input.PixelFormat = static_cast<AVPixelFormat>(picture.format);
            state.Deinterlacer.Configure(input, DeinterlaceChain, input.PixelFormat, SWS_BICUBIC);
        }
        FramePtr out(ff::av_frame_alloc());
        if (out && state.Deinterlacer.Push(&picture) >= 0 &&
            state.Deinterlacer.Pull(out.get()) >= 0 && ff::av_frame_make_writable(out.get()) >= 0)
            return out;
        GetLogger()->Log(run.Link.LogSender(), llError, "Deinterlacing failed.");
    }
    FramePtr copy(ff::av_frame_alloc());
    if (copy) {
        copy->width = picture.width;
        copy->height = picture.height;
        copy->format = picture.format;
        if (ff::av_frame_get_buffer(copy.get(), 0) < 0 ||
            ff::av_frame_copy(copy.get(), &picture) < 0)
            copy.reset();
    }
    if (!copy)
        GetLogger()->Log(run.Link.LogSender(), llError, "hook buf malloc error.");
    return copy;
}

void StopHooking(TTranscodeRun& run, TVideoHookState& state) {
    state.HookAction = haStop;
    run.Link.StopHooks();
}

// Puts the bitmap's pixels back into the picture, converting from BGR when needed.
bool BitmapBack(TPictureConverter& record, AVFrame& picture) {
    const TBitmap24& bitmap = *record.Bitmap;
    const bool direct = picture.format == record.TargetFormat;
    uint8_t* const* rows = direct ? picture.data : record.PictureData;
    const int* lineSizes = direct ? picture.linesize : record.PictureLinesize;
    for (int i = 0; i < bitmap.Height(); ++i)
        std::memcpy(rows[0] + static_cast<std::ptrdiff_t>(i) * lineSizes[0], bitmap.Row(i),
                    static_cast<std::size_t>(bitmap.Width()) * 3);
    if (direct)
        return true;
    record.Scaler2.reset(ff::sws_getCachedContext(
        record.Scaler2.release(), picture.width, picture.height, record.TargetFormat, picture.width,
        picture.height, static_cast<AVPixelFormat>(picture.format), SWS_BICUBIC, nullptr, nullptr,
        nullptr));
    if (!record.Scaler2)
        return false;
    ff::sws_scale(record.Scaler2.get(), record.PictureData, record.PictureLinesize, 0,
                  picture.height, picture.data, picture.linesize);
    return true;
}

// OnCustomHook with the picture as a bitmap; the handler's changes come back when it asks.
void RunCustomHook(TTranscodeRun& run, TVideoHookState& state, AVFrame& picture, int64_t pts) {
    TPictureConverter& record = state.CustomHook;
    if (!ConvertPicture(record, picture.data, picture.linesize,
                        static_cast<AVPixelFormat>(picture.format), picture.height,
                        picture.width)) {
        GetLogger()->Log(run.Link.LogSender(), llError,
                         "Cannot initialize the toRGB conversion context");
        StopHooking(run, state);
        return;
    }
    bool update = true;
    bool stopHook = false;
    try {
        run.Link.CustomHook(*record.Bitmap, state.HookFrameCounter, pts, update, stopHook);
    } catch (const std::exception& error) {
        GetLogger()->Log(run.Link.LogSender(), llError,
                         std::string("Error occurs OnCustomHook: ") + error.what());
        update = false;
    }
    if (update && !BitmapBack(record, picture)) {
        GetLogger()->Log(run.Link.LogSender(), llError,
                         "Cannot initialize the fromRGB conversion context");
        stopHook = true;
    }
    if (stopHook)
        StopHooking(run, state);
}

} // namespace

void TTranscodeRun::PreprocessVideoFrame(TInputStream& Ist, AVFrame* Picture) {
    TVideoHookState& state = VideoHookStateOf(*this);
    ++state.HookFrameCounter;
    const int64_t pts = Ist.PtsUs;
    if (!Link.HasCustomHook() && Link.UsingVhook())
        DecideHookAction(*this, state, pts);
    const bool chain = Link.UsingVhook() && state.HookAction == haContinue;
    if (!Setup.Options.Deinterlace && !Link.HasCustomHook() && !chain)
        return;
    FramePtr copy = HookCopy(*this, state, *Picture);
    if (!copy)
        return;
    if (Link.HasCustomHook()) {
        RunCustomHook(*this, state, *copy, pts);
    } else if (chain) {
        TFrameHookPicture hooked{};
        std::copy(copy->data, copy->data + 4, hooked.data);
        std::copy(copy->linesize, copy->linesize + 4, hooked.linesize);
        RunFrameHooks(Setup.VideoHookChain, &hooked, copy->format, copy->width, copy->height, pts);
    }
    // The caller's picture now shows the processed copy, with its own times and properties.
    ff::av_frame_copy_props(copy.get(), Picture);
    ff::av_frame_unref(Picture);
    ff::av_frame_ref(Picture, copy.get());
}

namespace {

// Shows the converted preview picture in the preview window, made on first use. False when the
// window is closed or failed: a window's trouble ends previewing, not the conversion.
bool ShowInWindow(TTranscodeRun& run, TVideoHookState& state, int64_t ptsUs) {
    try {
        if (!state.Previewer)
            state.Previewer = std::make_unique<TPreviewer>();
        return state.Previewer->ShowPicture(*state.PreviewPicture.Bitmap, state.HookFrameCounter,
                                            ptsUs);
    } catch (const std::exception& error) {
        GetLogger()->Log(run.Link.LogSender(), llError,
                         std::string("Preview window failed: ") + error.what());
        return false;
    }
}

} // namespace

void DeliverPreview(TTranscodeRun& run, const AVFrame& picture, int64_t ptsUs) {
    constexpr uint8_t previewWanted = 1, bitmapWanted = 2;
    std::lock_guard<std::mutex> guard(PreviewLock());
    uint8_t flags = run.Link.PreviewFlags();
    TVideoHookState& state = VideoHookStateOf(run);
    if (!(flags & previewWanted))
        state.Previewer.reset(); // switched off during the run: its window closes now
    const bool toEvent = (flags & bitmapWanted) && run.Link.HasPreviewBitmap();
    if (!toEvent && !(flags & previewWanted))
        return;
    const int64_t now = ff::av_gettime_relative();
    if (state.Previewed && now - state.LastPreviewUs <= run.Setup.PreviewIntervalUs)
        return;
    state.Previewed = true;
    state.LastPreviewUs = now;
    TPictureConverter& record = state.PreviewPicture;
    const bool converted =
        ConvertPicture(record, picture.data, picture.linesize,
                       static_cast<AVPixelFormat>(picture.format), picture.height, picture.width);
    if (toEvent) {
        if (converted)
            run.Link.PreviewBitmap(*record.Bitmap, state.HookFrameCounter, ptsUs);
        else {
            GetLogger()->Log(run.Link.LogSender(), llError,
                             "Cannot initialize the toRGB conversion context");
            flags &= ~bitmapWanted;
        }
    } else if (!converted || !ShowInWindow(run, state, ptsUs)) {
        flags &= ~previewWanted;
        state.Previewer.reset();
    }
    run.Link.SetPreviewFlags(flags);
}
