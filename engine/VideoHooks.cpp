// Preparation of decoded pictures (deinterlacing, the picture hooks, the video-hook chain) and
// the preview delivery of encoded pictures.
#include "engine/VideoHooks.h"

#include "engine/EngineRun.h"
#include "ffbind/FFmpegLogger.h"

#include <algorithm>
#include <cstring>
#include <exception>

void TVideoHookStateDeleter::operator()(TVideoHookState* state) const {
    delete state;
}

TVideoHookState& VideoHookStateOf(TCustomFFmpeg& engine) {
    TEngineRun& run = engine.RunRecord();
    if (!run.VideoHooks)
        run.VideoHooks.reset(new TVideoHookState);
    return *run.VideoHooks;
}

std::mutex& PreviewLock() {
    static std::mutex lock;
    return lock;
}

bool TCustomFFmpeg::AddVideoHook(const std::vector<std::string>& Args) {
    std::vector<std::string> args = Args;
    std::vector<char*> argv;
    for (std::string& arg : args)
        argv.push_back(arg.data());
    argv.push_back(nullptr);
    return AddFrameHook(VideoHookChain, static_cast<int>(args.size()), argv.data()) == 0;
}

namespace {

// The library's 'fd' deinterlacer: a vertical low-pass over each field, one picture in, the
// same picture out, so a picture keeps its place in the stream.
constexpr const char* DeinterlaceChain = "pp=fd";

// Decides whether this picture is hooked, from OnBeforeHook or the hook time ranges.
void DecideHookAction(TCustomFFmpeg& engine, TVideoHookState& state, int64_t pts) {
    if (engine.OnBeforeHook) {
        try {
            engine.OnBeforeHook(&engine, pts, state.HookAction);
        } catch (const std::exception& error) {
            GetLogger()->Log(&engine, llError,
                             std::string("Error occurs OnBeforeHook: ") + error.what());
            state.HookAction = haStop;
        }
        if (state.HookAction == haStop)
            engine.UsingVhook = false;
        return;
    }
    std::vector<THookTimeRange>& ranges = engine.HookTimeRanges;
    if (ranges.empty())
        return;
    state.HookAction = haIgnore;
    for (int i = engine.HookTimeRangeIndex; i < static_cast<int>(ranges.size()); ++i) {
        if (ranges[i].StartUs <= pts && pts <= ranges[i].EndUs) {
            engine.HookTimeRangeIndex = i;
            state.HookAction = haContinue;
            return;
        }
    }
    if (ranges.back().EndUs < pts) {
        state.HookAction = haStop;
        engine.UsingVhook = false;
    }
}

// A writable picture of the same geometry holding the picture, deinterlaced when asked.
FramePtr HookCopy(TCustomFFmpeg& engine, TVideoHookState& state, const AVFrame& picture) {
    if (engine.Deinterlace) {
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
        GetLogger()->Log(&engine, llError, "Deinterlacing failed.");
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
        GetLogger()->Log(&engine, llError, "hook buf malloc error.");
    return copy;
}

void StopHooking(TCustomFFmpeg& engine, TVideoHookState& state) {
    engine.OnCustomHook = nullptr;
    state.HookAction = haStop;
    engine.UsingVhook = false;
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
void RunCustomHook(TCustomFFmpeg& engine, TVideoHookState& state, AVFrame& picture, int64_t pts) {
    TPictureConverter& record = state.CustomHook;
    if (!ConvertPicture(record, picture.data, picture.linesize,
                        static_cast<AVPixelFormat>(picture.format), picture.height,
                        picture.width)) {
        GetLogger()->Log(&engine, llError, "Cannot initialize the toRGB conversion context");
        StopHooking(engine, state);
        return;
    }
    bool update = true;
    bool stopHook = false;
    try {
        engine.OnCustomHook(&engine, *record.Bitmap, state.HookFrameCounter, pts, update, stopHook);
    } catch (const std::exception& error) {
        GetLogger()->Log(&engine, llError,
                         std::string("Error occurs OnCustomHook: ") + error.what());
        update = false;
    }
    if (update && !BitmapBack(record, picture)) {
        GetLogger()->Log(&engine, llError, "Cannot initialize the fromRGB conversion context");
        stopHook = true;
    }
    if (stopHook)
        StopHooking(engine, state);
}

} // namespace

void TCustomFFmpeg::PreprocessVideoFrame(TInputStream& Ist, AVFrame* Picture) {
    TVideoHookState& state = VideoHookStateOf(*this);
    ++state.HookFrameCounter;
    const int64_t pts = Ist.PtsUs;
    if (!OnCustomHook && UsingVhook)
        DecideHookAction(*this, state, pts);
    const bool chain = UsingVhook && state.HookAction == haContinue;
    if (!Deinterlace && !OnCustomHook && !chain)
        return;
    FramePtr copy = HookCopy(*this, state, *Picture);
    if (!copy)
        return;
    if (OnCustomHook) {
        RunCustomHook(*this, state, *copy, pts);
    } else if (chain) {
        TFrameHookPicture hooked{};
        std::copy(copy->data, copy->data + 4, hooked.data);
        std::copy(copy->linesize, copy->linesize + 4, hooked.linesize);
        RunFrameHooks(VideoHookChain, &hooked, copy->format, copy->width, copy->height, pts);
    }
    // The caller's picture now shows the processed copy, with its own times and properties.
    ff::av_frame_copy_props(copy.get(), Picture);
    ff::av_frame_unref(Picture);
    ff::av_frame_ref(Picture, copy.get());
}

namespace {

// Shows the converted preview picture in the preview window, made on first use. False when the
// window is closed or failed: a window's trouble ends previewing, not the conversion.
bool ShowInWindow(TCustomFFmpeg& engine, TVideoHookState& state, int64_t ptsUs) {
    try {
        if (!state.Previewer)
            state.Previewer = std::make_unique<TPreviewer>();
        return state.Previewer->ShowPicture(*state.PreviewPicture.Bitmap, state.HookFrameCounter,
                                            ptsUs);
    } catch (const std::exception& error) {
        GetLogger()->Log(&engine, llError, std::string("Preview window failed: ") + error.what());
        return false;
    }
}

} // namespace

void DeliverPreview(TCustomFFmpeg& engine, const AVFrame& picture, int64_t ptsUs) {
    constexpr uint8_t previewWanted = 1, bitmapWanted = 2;
    std::lock_guard<std::mutex> guard(PreviewLock());
    uint8_t flags = engine.PreviewFlags;
    TVideoHookState& state = VideoHookStateOf(engine);
    if (!(flags & previewWanted))
        state.Previewer.reset(); // switched off during the run: its window closes now
    const bool toEvent = (flags & bitmapWanted) && engine.OnPreviewBitmap;
    if (!toEvent && !(flags & previewWanted))
        return;
    const int64_t now = ff::av_gettime_relative();
    if (state.Previewed && now - state.LastPreviewUs <= engine.PreviewIntervalUs)
        return;
    state.Previewed = true;
    state.LastPreviewUs = now;
    TPictureConverter& record = state.PreviewPicture;
    const bool converted =
        ConvertPicture(record, picture.data, picture.linesize,
                       static_cast<AVPixelFormat>(picture.format), picture.height, picture.width);
    if (toEvent) {
        if (converted)
            engine.OnPreviewBitmap(&engine, *record.Bitmap, state.HookFrameCounter, ptsUs);
        else {
            GetLogger()->Log(&engine, llError, "Cannot initialize the toRGB conversion context");
            flags &= ~bitmapWanted;
        }
    } else if (!converted || !ShowInWindow(engine, state, ptsUs)) {
        flags &= ~previewWanted;
        state.Previewer.reset();
    }
    engine.PreviewFlags = flags;
}
