// The run's video output path: crop, rescale and pad, encoding with previews and two-pass
// statistics.
#include "engine/EncodeDrain.h"
#include "engine/OutputVideo.h"
#include "engine/TranscodeRun.h"
#include "engine/VideoHooks.h"
#include "ffbind/FFmpegLogger.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

namespace {

constexpr int PlaneCount = 4;

FramePtr AllocatePicture(int width, int height, AVPixelFormat format) {
    FramePtr picture(ff::av_frame_alloc());
    if (!picture)
        return nullptr;
    picture->width = width;
    picture->height = height;
    picture->format = format;
    if (ff::av_frame_get_buffer(picture.get(), 0) < 0)
        return nullptr;
    return picture;
}

// The plane pointers of a picture moved by (left, top) pixels; false for formats whose planes
// cannot be addressed by pixel (bit-packed or hardware pictures).
bool OffsetPlanes(const AVFrame& picture, int left, int top, uint8_t* data[PlaneCount],
                  int linesize[PlaneCount]) {
    const AVPixFmtDescriptor* desc =
        ff::av_pix_fmt_desc_get(static_cast<AVPixelFormat>(picture.format));
    if (!desc ||
        (desc->flags & (AV_PIX_FMT_FLAG_BITSTREAM | AV_PIX_FMT_FLAG_HWACCEL | AV_PIX_FMT_FLAG_PAL)))
        return false;
    for (int plane = 0; plane < PlaneCount; ++plane) {
        data[plane] = picture.data[plane];
        linesize[plane] = picture.linesize[plane];
    }
    for (int c = 0; c < desc->nb_components; ++c) {
        const AVComponentDescriptor& component = desc->comp[c];
        const bool chroma = c == 1 || c == 2;
        const int x = chroma ? left >> desc->log2_chroma_w : left;
        const int y = chroma ? top >> desc->log2_chroma_h : top;
        data[component.plane] = picture.data[component.plane] +
                                static_cast<std::ptrdiff_t>(y) * picture.linesize[component.plane] +
                                static_cast<std::ptrdiff_t>(x) * component.step;
    }
    return true;
}

// Fills a picture with the pad colour (Y, U, V) on planar YUV, black elsewhere.
void FillPadColour(AVFrame& picture, const uint8_t colour[3]) {
    const AVPixFmtDescriptor* desc =
        ff::av_pix_fmt_desc_get(static_cast<AVPixelFormat>(picture.format));
    const bool planarYuv = desc && (desc->flags & AV_PIX_FMT_FLAG_PLANAR) &&
                           !(desc->flags & AV_PIX_FMT_FLAG_RGB) && desc->nb_components >= 3 &&
                           desc->comp[0].depth == 8;
    for (int plane = 0; plane < PlaneCount && picture.data[plane]; ++plane) {
        const bool chroma = plane == 1 || plane == 2;
        const int rows =
            chroma && desc ? AV_CEIL_RSHIFT(picture.height, desc->log2_chroma_h) : picture.height;
        const uint8_t value = planarYuv && plane < 3 ? colour[plane] : 0;
        for (int y = 0; y < rows; ++y)
            std::memset(picture.data[plane] +
                            static_cast<std::ptrdiff_t>(y) * picture.linesize[plane],
                        value, static_cast<std::size_t>(std::abs(picture.linesize[plane])));
    }
}

void CropOrPadFailure(TTranscodeRun& run, const char* text) {
    if (run.Setup.Options.ExitOnError)
        throw FFmpegException(text);
    GetLogger()->Log(run.Link.LogSender(), llError, text);
}

int ScalerFlagsOf(const TRunSetup& setup) {
    int64_t flags = setup.Options.ScalerFlags;
    if (setup.OptionContexts.Scaler &&
        ff::av_opt_get_int(setup.OptionContexts.Scaler.get(), "sws_flags", 0, &flags) < 0)
        flags = setup.Options.ScalerFlags;
    return static_cast<int>(flags);
}

// Bands scaled from the initial ones for a new input size, rounded down to even numbers.
TVideoBands ScaledBands(const TVideoOutputState& state, int width, int height) {
    const TVideoBands& initial = state.InitialCropBands;
    auto scale = [](int size, int band, int initialSize) {
        return initialSize > 0
                   ? static_cast<int>(static_cast<int64_t>(size) * band / initialSize) & ~1
                   : band;
    };
    TVideoBands bands;
    bands.Top = scale(height, initial.Top, state.InitialHeight);
    bands.Bottom = scale(height, initial.Bottom, state.InitialHeight);
    bands.Left = scale(width, initial.Left, state.InitialWidth);
    bands.Right = scale(width, initial.Right, state.InitialWidth);
    return bands;
}

// Notices a change of the input picture's geometry: reports it and scales the crop bands.
void FollowInputGeometry(TTranscodeRun& run, TOutputStream& ost, TInputStream& ist,
                         const AVFrame& picture) {
    TVideoOutputState& state = *ost.Video;
    if (picture.width == state.InputWidth && picture.height == state.InputHeight &&
        picture.format == state.InputFormat)
        return;
    const bool firstPicture = state.InputWidth == 0;
    state.InputWidth = picture.width;
    state.InputHeight = picture.height;
    state.InputFormat = static_cast<AVPixelFormat>(picture.format);
    if (firstPicture) {
        state.InitialWidth = picture.width;
        state.InitialHeight = picture.height;
        return;
    }
    const char* name = ff::av_get_pix_fmt_name(state.InputFormat);
    GetLogger()->LogF(run.Link.LogSender(), llQuiet,
                      "Input Stream #%d.%d frame size changed to %dx%d, %s", ist.FileIndex,
                      ist.Index, picture.width, picture.height, name ? name : "none");
    if (state.Crop)
        state.CropBands = ScaledBands(state, picture.width, picture.height);
}

// (Re)makes the scaler for the cropped input when its geometry changed.
void EnsureScaler(TTranscodeRun& run, TVideoOutputState& state, int width, int height,
                  AVPixelFormat format, const AVCodecContext& enc) {
    if (state.Scaler && state.ResampleWidth == width && state.ResampleHeight == height &&
        state.ResampleFormat == format)
        return;
    state.Scaler.reset(ff::sws_getContext(
        width, height, format, enc.width - state.PadBands.Left - state.PadBands.Right,
        enc.height - state.PadBands.Top - state.PadBands.Bottom, enc.pix_fmt,
        ScalerFlagsOf(run.Setup), nullptr, nullptr, nullptr));
    if (!state.Scaler)
        throw FFmpegException("Cannot get resampling context");
    state.ResampleWidth = width;
    state.ResampleHeight = height;
    state.ResampleFormat = format;
}

// The picture to encode: the input cropped, rescaled and padded as the stream needs. Null when
// a crop or pad step failed and the picture is skipped.
FramePtr FinalPicture(TTranscodeRun& run, TOutputStream& ost, TInputStream& ist,
                      const AVFrame& picture) {
    TVideoOutputState& state = *ost.Video;
    const AVCodecContext& enc = *ost.Enc;
    // Filtered pictures come cropped and scaled by the graph; only the padding is left.
    if (!state.Filters.Configured())
        FollowInputGeometry(run, ost, ist, picture);

    const TVideoBands& crop = state.CropBands;
    const TVideoBands& pad = state.PadBands;
    const int innerWidth = enc.width - pad.Left - pad.Right;
    const int innerHeight = enc.height - pad.Top - pad.Bottom;
    const bool cropped = crop.Top || crop.Bottom || crop.Left || crop.Right;
    if (!cropped && !state.Pad && picture.width == innerWidth && picture.height == innerHeight &&
        picture.format == enc.pix_fmt)
        return FramePtr(ff::av_frame_clone(&picture));
    FramePtr view(ff::av_frame_alloc());
    const bool fits =
        crop.Left + crop.Right < picture.width && crop.Top + crop.Bottom < picture.height;
    if (!view || !fits || !OffsetPlanes(picture, crop.Left, crop.Top, view->data, view->linesize)) {
        CropOrPadFailure(run, "error cropping picture");
        return nullptr;
    }
    view->width = picture.width - crop.Left - crop.Right;
    view->height = picture.height - crop.Top - crop.Bottom;
    view->format = picture.format;
    const bool rescale =
        view->width != innerWidth || view->height != innerHeight || view->format != enc.pix_fmt;
    if (!rescale && !state.Pad)
        return view;

    if (!state.TempPicture || ff::av_frame_make_writable(state.TempPicture.get()) < 0)
        state.TempPicture = AllocatePicture(enc.width, enc.height, enc.pix_fmt);
    if (!state.TempPicture)
        throw FFmpegException("Cannot allocate temp picture, check pix fmt");
    AVFrame& target = *state.TempPicture;
    uint8_t* inner[PlaneCount];
    int innerLinesize[PlaneCount];
    if (!OffsetPlanes(target, pad.Left, pad.Top, inner, innerLinesize)) {
        CropOrPadFailure(run, "error padding picture");
        return nullptr;
    }
    if (state.Pad)
        FillPadColour(target, run.Setup.Options.PadColor);
    if (rescale) {
        EnsureScaler(run, state, view->width, view->height,
                     static_cast<AVPixelFormat>(view->format), enc);
        ff::sws_scale(state.Scaler.get(), view->data, view->linesize, 0, view->height, inner,
                      innerLinesize);
    } else {
        ff::av_image_copy(inner, innerLinesize, const_cast<const uint8_t**>(view->data),
                          view->linesize, enc.pix_fmt, innerWidth, innerHeight);
    }
    return FramePtr(ff::av_frame_clone(&target));
}

// What the encoder said of a packet: quality, picture type and plane-0 error.
void ReadQualityStats(TVideoOutputState& state, const AVPacket& packet) {
    size_t size = 0;
    const uint8_t* stats = ff::av_packet_get_side_data(&packet, AV_PKT_DATA_QUALITY_STATS, &size);
    if (!stats || size < 6)
        return;
    state.LastQuality = static_cast<int>(stats[0] | stats[1] << 8 | stats[2] << 16 |
                                         static_cast<uint32_t>(stats[3]) << 24);
    state.LastPictureType = ff::av_get_picture_type_char(static_cast<AVPictureType>(stats[4]));
    if (stats[5] > 0 && size >= 16) {
        uint64_t error = 0;
        for (int i = 7; i >= 0; --i)
            error = error << 8 | stats[8 + i];
        state.LastPlaneError = error;
    }
}

// The encoder's picture with its clock, field order and quality; the packets it gives go to
// the muxer. Returns the bytes encoded.
int EncodeVideoPicture(TTranscodeRun& run, AVFormatContext* output, TOutputStream& ost,
                       const TInputStream& ist, const AVFrame& source, AVFrame& picture) {
    AVCodecContext* enc = ost.Enc;
    TVideoOutputState& state = *ost.Video;
    picture.pts = ost.SyncOpts;
    picture.interlaced_frame = source.interlaced_frame;
    if (enc->flags & (AV_CODEC_FLAG_INTERLACED_ME | AV_CODEC_FLAG_INTERLACED_DCT))
        picture.top_field_first = run.Setup.Options.TopFieldFirst == -1
                                      ? source.top_field_first
                                      : run.Setup.Options.TopFieldFirst;
    picture.quality = run.Setup.Options.SameQuality ? ist.Quality : enc->global_quality;
    picture.pict_type = AV_PICTURE_TYPE_NONE;
    DeliverPreview(run, picture, ff::av_rescale_q(ost.SyncOpts, enc->time_base, AV_TIME_BASE_Q));
    int bytes = 0;
    EncodeAndDrain(enc, &picture, [&](AVPacket* packet) {
        bytes += packet->size;
        run.State.VideoSizeBytes += packet->size;
        ReadQualityStats(state, *packet);
        if (ost.LogFile && enc->stats_out)
            std::fputs(enc->stats_out, ost.LogFile);
        // A packet lasts one output frame: containers take the stream's length from it.
        if (packet->duration <= 0)
            packet->duration = 1;
        ff::av_packet_rescale_ts(packet, enc->time_base, ost.St->time_base);
        packet->stream_index = ost.St->index;
        run.WriteOutputPacket(output, ost, packet);
    });
    return bytes;
}

// One picture at the output clock: dropped, encoded once or duplicated.
void OutputVideoPicture(TTranscodeRun& run, AVFormatContext* output, TOutputStream& ost,
                        TInputStream& ist, const AVFrame& picture, int& frameBytes) {
    TVideoSyncInput sync;
    sync.VideoSyncMethod = run.Setup.Options.VideoSyncMethod;
    sync.EncoderTimeBase = ost.Enc->time_base;
    sync.VariableFrameRateFormat =
        output && output->oformat && (output->oformat->flags & AVFMT_VARIABLE_FPS);
    sync.InputSyncTimeS = PictureSyncTimeS(ist.PtsUs, run.Setup.Options.StartTimeUs);
    int copies = VideoFramesToEmit(sync, ost.SyncOpts);
    if (copies == 0) {
        ++run.State.FramesDropped;
        if (run.Setup.Options.Verbose > 2)
            GetLogger()->Log(run.Link.LogSender(), llVerbose, "*** drop!");
    } else if (copies > 1) {
        run.State.FramesDuplicated += copies - 1;
        if (run.Setup.Options.Verbose > 2)
            GetLogger()->LogF(run.Link.LogSender(), llVerbose, "*** %d dup!", copies - 1);
    }
    copies = std::min(copies, run.Setup.Options.MaxFrames[0] - ost.FrameNumber);
    // Pictures the decoder still gives after the clip's end (at the drain) are not the clip's.
    if (run.Setup.Options.RecordingTimeUs != std::numeric_limits<int64_t>::max()) {
        const int64_t endFrames = ff::av_rescale_q_rnd(
            run.Setup.Options.RecordingTimeUs, AV_TIME_BASE_Q, ost.Enc->time_base, AV_ROUND_UP);
        copies = static_cast<int>(std::min<int64_t>(copies, endFrames - ost.SyncOpts));
    }
    if (copies <= 0)
        return;
    FramePtr final = FinalPicture(run, ost, ist, picture);
    if (!final)
        return;
    for (int i = 0; i < copies && !run.Setup.StopRequested; ++i) {
        frameBytes += EncodeVideoPicture(run, output, ost, ist, picture, *final);
        ++ost.SyncOpts;
        ++ost.FrameNumber;
    }
}

} // namespace

void TTranscodeRun::OutputVideo(AVFormatContext* Output, TOutputStream& Ost, TInputStream& Ist,
                                AVFrame* Picture, int& FrameBytes) {
    FrameBytes = 0;
    if (!Ost.Video)
        PrepareVideoOutput(Ost, Ist);
    TVideoOutputState& state = *Ost.Video;
    if (!state.Filters.Configured()) {
        OutputVideoPicture(*this, Output, Ost, Ist, *Picture, FrameBytes);
        return;
    }
    FramePtr input(ff::av_frame_clone(Picture));
    if (!input)
        throw FFmpegException("Video encoding failed");
    input->pts = Ist.PtsUs;
    if (state.Filters.Push(input.get()) < 0)
        return;
    if (!state.Filtered)
        state.Filtered.reset(ff::av_frame_alloc());
    AVFrame* filtered = state.Filtered.get();
    while (state.Filters.Pull(filtered) >= 0) {
        if (filtered->pts != AV_NOPTS_VALUE)
            Ist.PtsUs =
                ff::av_rescale_q(filtered->pts, state.Filters.OutputTimeBase(), AV_TIME_BASE_Q);
        if (filtered->sample_aspect_ratio.num)
            Ost.Enc->sample_aspect_ratio = filtered->sample_aspect_ratio;
        OutputVideoPicture(*this, Output, Ost, Ist, *filtered, FrameBytes);
        ff::av_frame_unref(filtered);
    }
}
