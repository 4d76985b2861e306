// Preparation of an encoded video stream (crop, pad, rescale, filters) and the video
// statistics lines.
#include "engine/OutputVideo.h"
#include "engine/TranscodeRun.h"
#include "engine/VideoHooks.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace {

// The size step an encoder accepts: the RealVideo encoders want multiples of 16 (rv10) or 4
// (rv20), subsampled chroma wants even sizes.
int EncoderSizeStep(const AVCodecContext& enc) {
    if (enc.codec_id == AV_CODEC_ID_RV10)
        return 16;
    if (enc.codec_id == AV_CODEC_ID_RV20)
        return 4;
    const AVPixFmtDescriptor* desc = ff::av_pix_fmt_desc_get(enc.pix_fmt);
    return desc && (desc->log2_chroma_w || desc->log2_chroma_h) ? 2 : 1;
}

// Rounds the encoder's size to the nearest one it accepts (the picture is scaled to it), the
// sample aspect ratio following so that the picture keeps its shape; true when it changed. Without
// this a video input of, say, 1920x1080 could not go into a RealMedia output at all.
bool AlignEncoderSize(AVCodecContext& enc) {
    const int step = EncoderSizeStep(enc);
    auto align = [step](int size) { return std::max(step, (size + step / 2) / step * step); };
    const int width = align(enc.width);
    const int height = align(enc.height);
    if (enc.width <= 0 || enc.height <= 0 || (width == enc.width && height == enc.height))
        return false;
    AVRational aspect =
        enc.sample_aspect_ratio.num > 0 ? enc.sample_aspect_ratio : AVRational{1, 1};
    ff::av_reduce(&aspect.num, &aspect.den, static_cast<int64_t>(aspect.num) * enc.width * height,
                  static_cast<int64_t>(aspect.den) * enc.height * width, 65535);
    enc.sample_aspect_ratio = aspect;
    enc.width = width;
    enc.height = height;
    return true;
}

} // namespace

int ConfigureFilters(const TOptionState& engine, TInputStream& ist, TOutputStream& ost,
                     std::string& error) {
    if (engine.CropTop || engine.CropBottom || engine.CropLeft || engine.CropRight) {
        error = "Cannot enable crop options and filters at the same time.";
        return -1;
    }
    const AVCodecContext* dec = ist.Dec;
    AVCodecContext* enc = ost.Enc;
    TVideoFilterInput input;
    input.Width = dec->width;
    input.Height = dec->height;
    input.PixelFormat = dec->pix_fmt;
    input.SampleAspect = dec->sample_aspect_ratio;
    const int padWidth = engine.PadLeft + engine.PadRight;
    const int padHeight = engine.PadTop + engine.PadBottom;
    std::vector<TVideoFilterStep> steps;
    if (dec->width + padWidth != enc->width || dec->height + padHeight != enc->height) {
        char size[64];
        std::snprintf(size, sizeof size, "%d:%d", enc->width - padWidth, enc->height - padHeight);
        steps.push_back({"scale", size});
    }
    TVideoFilterGraph& graph = ost.Video->Filters;
    if (graph.Configure(input, engine.VideoFilters, enc->pix_fmt, engine.ScalerFlags, steps) < 0)
        return -1;
    const int width = graph.OutputWidth();
    const int height = graph.OutputHeight();
    if (padWidth + padHeight != 0 && (width != engine.FrameWidth || height != engine.FrameHeight)) {
        error = "Cannot enable pad options and the filters which resize frame at the "
                "same time. (crop, rotate, scale, transpose, etc.)";
        return -1;
    }
    enc->width = width + padWidth;
    enc->height = height + padHeight;
    return 0;
}

void TTranscodeRun::PrepareVideoOutput(TOutputStream& Ost, TInputStream& Ist) {
    AVCodecContext* enc = Ost.Enc;
    const AVCodecContext* dec = Ist.Dec;
    if (enc->pix_fmt == AV_PIX_FMT_NONE)
        throw FFmpegException("Video pixel format is unknown, stream cannot be decoded");
    Ost.Video.reset(new TVideoOutputState);
    TVideoOutputState& state = *Ost.Video;
    state.Crop = Setup.Options.CropTop || Setup.Options.CropBottom || Setup.Options.CropLeft ||
                 Setup.Options.CropRight;
    state.CropBands = {Setup.Options.CropTop, Setup.Options.CropBottom, Setup.Options.CropLeft,
                       Setup.Options.CropRight};
    state.InitialCropBands = state.CropBands;
    state.InitialWidth = state.InputWidth = dec->width;
    state.InitialHeight = state.InputHeight = dec->height;
    state.InputFormat = dec->pix_fmt;
    state.Pad = Setup.Options.PadTop || Setup.Options.PadBottom || Setup.Options.PadLeft ||
                Setup.Options.PadRight;
    state.PadBands = {Setup.Options.PadTop, Setup.Options.PadBottom, Setup.Options.PadLeft,
                      Setup.Options.PadRight};
    enc->bits_per_raw_sample = 0;
    if (Setup.UseVideoFilters || !Setup.Options.VideoFilters.empty()) {
        // The graph crops and scales; the path itself only pads.
        state.Crop = false;
        state.CropBands = state.InitialCropBands = TVideoBands();
        std::string error;
        if (ConfigureFilters(Setup.Options, Ist, Ost, error) < 0) {
            error = error.empty() ? std::string("Error opening filters!")
                                  : "Error opening filters: " + error;
            throw FFmpegException(error);
        }
    }
    if (AlignEncoderSize(*enc) && Ost.St)
        Ost.St->sample_aspect_ratio = enc->sample_aspect_ratio; // the muxer wants them equal
}

void TTranscodeRun::WriteVideoStats(AVFormatContext*, TOutputStream& Ost, int FrameBytes) {
    TEngineRun& run = State;
    TVideoHookState& hooks = VideoHookStateOf(*this);
    if (!hooks.Vstats) {
        hooks.Vstats.reset(std::fopen(Setup.Options.VstatsFileName.c_str(), "w"));
        if (!hooks.Vstats)
            throw FFmpegException("fopen fail: " + Setup.Options.VstatsFileName);
    }
    std::FILE* file = hooks.Vstats.get();
    const AVCodecContext* enc = Ost.Enc;
    if (enc->codec_type != AVMEDIA_TYPE_VIDEO || !Ost.Video)
        return;
    const TVideoOutputState& state = *Ost.Video;
    std::fprintf(file, "frame= %5d q= %2.1f ", Ost.FrameNumber, state.LastQuality / 118.0);
    if (enc->flags & AV_CODEC_FLAG_PSNR) {
        const double pixels = static_cast<double>(enc->width) * enc->height * 255.0 * 255.0;
        std::fprintf(file, "PSNR= %6.2f ",
                     -10.0 * std::log10(static_cast<double>(state.LastPlaneError) / pixels));
    }
    std::fprintf(file, "f_size= %6d ", FrameBytes);
    const double timeBase = av_q2d(enc->time_base);
    const double t = std::max(static_cast<double>(Ost.SyncOpts) * timeBase, 0.01);
    const double frameRate = FrameBytes * 8 / timeBase / 1000.0;
    const double averageRate = static_cast<double>(run.VideoSizeBytes) * 8 / t / 1000.0;
    std::fprintf(file, "s_size= %8.0fkB time= %0.3f br= %7.1fkbits/s avg_br= %7.1fkbits/s ",
                 static_cast<double>(run.VideoSizeBytes) / 1024, t, frameRate, averageRate);
    std::fprintf(file, "type= %c\n", state.LastPictureType);
}
