// The stream creators of an output file: each output stream gets an encoder context owned by
// the engine, filled from the option state; the per-stream options are consumed.
#include "engine/FFmpeg.h"

#include <cmath>
#include <cstdlib>
#include <cstring>

namespace {

// Sample aspect ratio for a display aspect and a frame size (3:4 when the size is unknown).
AVRational SampleAspect(float displayAspect, int width, int height) {
    double ratio = width != 0 && height != 0 ? double(displayAspect) * height / width
                                             : double(displayAspect) * 3 / 4;
    return ff::av_d2q(ratio, 255);
}

template <typename T, typename End> bool Listed(const T* list, T value, End end) {
    for (; list && *list != end; ++list)
        if (*list == value)
            return true;
    return false;
}

} // namespace

const AVCodec* TCustomFFmpeg::ChooseEncoder(TOutputFileSetup& Output, AVMediaType Kind,
                                            std::string& CodecName, AVCodecID& Id) {
    if (!CodecName.empty()) {
        if (!FindCodecIdByName(CodecName, Kind, true, Id))
            throw FFmpegException(LastError);
        return ff::avcodec_find_encoder_by_name(CodecName.c_str());
    }
    AVFormatContext* oc = Output.Context.get();
    Id = ff::av_guess_codec(oc->oformat, nullptr, oc->url, nullptr, Kind);
    return Id == AV_CODEC_ID_NONE ? nullptr : ff::avcodec_find_encoder(Id);
}

TOutputStreamSetup& TCustomFFmpeg::AddOutputStream(TOutputFileSetup& Output, AVMediaType Kind,
                                                   const AVCodec* Codec) {
    AVFormatContext* oc = Output.Context.get();
    if (oc->nb_streams >= MAX_STREAMS)
        throw FFmpegException("Too many streams in one output file (at most 20)");
    AVStream* stream = ff::avformat_new_stream(oc, nullptr);
    CodecContextPtr encoder(ff::avcodec_alloc_context3(Codec));
    if (!stream || !encoder)
        throw FFmpegException("Could not alloc stream");
    stream->id = static_cast<int>(oc->nb_streams) - 1;
    encoder->codec_type = Kind;
    TOutputStreamSetup setup;
    setup.Stream = stream;
    setup.Codec = Codec;
    setup.Encoder = std::move(encoder);
    std::vector<std::string>& pending = Kind == AVMEDIA_TYPE_VIDEO   ? VideoBitstreamFilters
                                        : Kind == AVMEDIA_TYPE_AUDIO ? AudioBitstreamFilters
                                                                     : SubtitleBitstreamFilters;
    setup.BitstreamFilters = std::move(pending);
    pending.clear();
    uint32_t tag = Kind == AVMEDIA_TYPE_VIDEO   ? VideoCodecTag
                   : Kind == AVMEDIA_TYPE_AUDIO ? AudioCodecTag
                                                : SubtitleCodecTag;
    if (tag != 0)
        setup.Encoder->codec_tag = tag;
    if (Kind != AVMEDIA_TYPE_SUBTITLE)
        setup.Encoder->thread_count = ThreadCount;
    Output.Streams.push_back(std::move(setup));
    return Output.Streams.back();
}

// The codec id and the options set for encoders of the stream's kind: generic ones flagged
// for the kind and for encoding, and the private ones the encoder knows.
void TCustomFFmpeg::TakeEncoderOptions(TOutputStreamSetup& Setup, AVCodecID Id, int KindFlag) {
    AVCodecContext* enc = Setup.Encoder.get();
    enc->codec_id = Id;
    CopyGenericOptions(enc, OptionContexts.Codec(enc->codec_type),
                       KindFlag | AV_OPT_FLAG_ENCODING_PARAM);
    AVDictionary* options = nullptr;
    CollectPrivateOptions(enc->codec_type, Setup.Codec, &options);
    Setup.EncoderOptions.reset(options);
}

void TCustomFFmpeg::new_audio_stream(TOutputFileSetup& Output) {
    const AVCodec* codec = nullptr;
    AVCodecID id = AV_CODEC_ID_NONE;
    bool named = !AudioCodecName.empty();
    try {
        if (!AudioStreamCopy)
            codec = ChooseEncoder(Output, AVMEDIA_TYPE_AUDIO, AudioCodecName, id);
    } catch (const FFmpegException&) {
        AudioCodecName.clear();
        AudioLanguage.clear();
        throw;
    }
    TOutputStreamSetup& setup = AddOutputStream(Output, AVMEDIA_TYPE_AUDIO, codec);
    AVCodecContext* enc = setup.Encoder.get();
    if (Output.Context->oformat->flags & AVFMT_GLOBALHEADER)
        enc->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    setup.StreamCopy = AudioStreamCopy;
    if (!AudioStreamCopy) {
        TakeEncoderOptions(setup, id, AV_OPT_FLAG_AUDIO_PARAM);
        if (AudioQscale > AudioQscaleUnset) {
            enc->flags |= AV_CODEC_FLAG_QSCALE;
            enc->global_quality = static_cast<int>(std::lround(FF_QP2LAMBDA * AudioQscale));
        }
        enc->sample_fmt = AVSampleFormat(AudioSampleFmt);
        if (codec && codec->sample_fmts &&
            !Listed(codec->sample_fmts, enc->sample_fmt, AV_SAMPLE_FMT_NONE))
            enc->sample_fmt = codec->sample_fmts[0];
    }
    // The last input's layout when it has the wanted channel count, else the usual layout.
    ff::av_channel_layout_uninit(&enc->ch_layout);
    if (AudioChannelLayout != 0)
        ff::av_channel_layout_from_mask(&enc->ch_layout, AudioChannelLayout);
    if (enc->ch_layout.nb_channels != AudioChannels) {
        ff::av_channel_layout_uninit(&enc->ch_layout);
        ff::av_channel_layout_default(&enc->ch_layout, AudioChannels);
    }
    OutputCodecs.push_back(named ? codec : nullptr);
    enc->sample_rate = AudioSampleRateHz;
    enc->time_base = AVRational{1, AudioSampleRateHz};
    setup.Stream->time_base = enc->time_base;
    ff::avcodec_parameters_from_context(setup.Stream->codecpar, enc);
    if (!AudioLanguage.empty()) {
        ff::av_dict_set(&setup.Stream->metadata, "language", AudioLanguage.c_str(), 0);
        AudioLanguage.clear();
    }
    AudioDisable = false;
    AudioCodecName.clear();
    AudioStreamCopy = false;
}

void TCustomFFmpeg::new_video_stream(TOutputFileSetup& Output) {
    const AVCodec* codec = nullptr;
    AVCodecID id = AV_CODEC_ID_NONE;
    bool named = !VideoCodecName.empty();
    try {
        if (!VideoStreamCopy)
            codec = ChooseEncoder(Output, AVMEDIA_TYPE_VIDEO, VideoCodecName, id);
    } catch (const FFmpegException&) {
        VideoCodecName.clear();
        throw;
    }
    TOutputStreamSetup& setup = AddOutputStream(Output, AVMEDIA_TYPE_VIDEO, codec);
    AVCodecContext* enc = setup.Encoder.get();
    if ((VideoGlobalHeader & 1) ||
        (VideoGlobalHeader == 0 && (Output.Context->oformat->flags & AVFMT_GLOBALHEADER)))
        enc->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    if (VideoGlobalHeader & 2)
        enc->flags2 |= AV_CODEC_FLAG2_LOCAL_HEADER;
    setup.StreamCopy = VideoStreamCopy;
    if (VideoStreamCopy) {
        enc->sample_aspect_ratio = SampleAspect(FrameAspectRatio, FrameWidth, FrameHeight);
    } else {
        TakeEncoderOptions(setup, id, AV_OPT_FLAG_VIDEO_PARAM);
        SetVideoEncoder(enc, codec);
    }
    setup.Stream->sample_aspect_ratio = enc->sample_aspect_ratio;
    setup.Stream->time_base = enc->time_base;
    ff::avcodec_parameters_from_context(setup.Stream->codecpar, enc);
    OutputCodecs.push_back(named ? codec : nullptr);
    VideoDisable = false;
    VideoCodecName.clear();
    VideoStreamCopy = false;
}

// The settings of an encoded video stream: rate, size, aspect, pixel format, quality,
// matrices, rate-control overrides and pass flags.
void TCustomFFmpeg::SetVideoEncoder(AVCodecContext* Encoder, const AVCodec* Codec) {
    AVRational rate = FrameRate.num != 0 ? FrameRate : AVRational{25, 1};
    if (!ForceFps && Codec && Codec->supported_framerates)
        rate = Codec->supported_framerates[ff::av_find_nearest_q_idx(rate,
                                                                     Codec->supported_framerates)];
    Encoder->time_base = AVRational{rate.den, rate.num};
    Encoder->framerate = rate;
    Encoder->width = FrameWidth + PadLeft + PadRight;
    Encoder->height = FrameHeight + PadTop + PadBottom;
    Encoder->sample_aspect_ratio = SampleAspect(FrameAspectRatio, Encoder->width, Encoder->height);
    Encoder->pix_fmt = AVPixelFormat(FramePixFmt);
    if (Codec && Codec->pix_fmts && !Listed(Codec->pix_fmts, Encoder->pix_fmt, AV_PIX_FMT_NONE))
        Encoder->pix_fmt = Codec->pix_fmts[0];
    if (IntraOnly)
        Encoder->gop_size = 0;
    if (VideoQscale != 0 || SameQuality) {
        Encoder->flags |= AV_CODEC_FLAG_QSCALE;
        Encoder->global_quality = static_cast<int>(std::lround(FF_QP2LAMBDA * VideoQscale));
    }
    // The context frees the matrices and the overrides (avcodec_free_context).
    if (IntraMatrix.size() == 64) {
        Encoder->intra_matrix = static_cast<uint16_t*>(ff::av_malloc(64 * sizeof(uint16_t)));
        std::memcpy(Encoder->intra_matrix, IntraMatrix.data(), 64 * sizeof(uint16_t));
    }
    if (InterMatrix.size() == 64) {
        Encoder->inter_matrix = static_cast<uint16_t*>(ff::av_malloc(64 * sizeof(uint16_t)));
        std::memcpy(Encoder->inter_matrix, InterMatrix.data(), 64 * sizeof(uint16_t));
    }
    ApplyRcOverride(Encoder);
    if (Encoder->rc_initial_buffer_occupancy == 0)
        Encoder->rc_initial_buffer_occupancy =
            static_cast<int>(int64_t{Encoder->rc_buffer_size} * 3 / 4);
    Encoder->intra_dc_precision = IntraDcPrecision - 8;
    if (Psnr)
        Encoder->flags |= AV_CODEC_FLAG_PSNR;
    if (Pass == 1)
        Encoder->flags |= AV_CODEC_FLAG_PASS1;
    else if (Pass == 2)
        Encoder->flags |= AV_CODEC_FLAG_PASS2;
}

// Entries "start,end,q" separated by "/"; q above 0 is a quantiser, else a quality factor
// of -q percent.
void TCustomFFmpeg::ApplyRcOverride(AVCodecContext* Encoder) {
    std::vector<RcOverride> overrides;
    const char* text = VideoRcOverride.c_str();
    while (*text) {
        int values[3];
        for (int i = 0; i < 3; ++i) {
            char* end = nullptr;
            values[i] = static_cast<int>(std::strtol(text, &end, 10));
            if (end == text || (i < 2 && *end == '\0')) {
                VideoCodecName.clear();
                throw FFmpegException("error parsing rc_override");
            }
            text = i < 2 ? end + 1 : end;
        }
        RcOverride entry{};
        entry.start_frame = values[0];
        entry.end_frame = values[1];
        entry.qscale = values[2] > 0 ? values[2] : 0;
        entry.quality_factor = values[2] > 0 ? 1.0f : -values[2] / 100.0f;
        overrides.push_back(entry);
        text = std::strchr(text, '/');
        if (!text)
            break;
        ++text;
    }
    if (overrides.empty())
        return;
    Encoder->rc_override =
        static_cast<RcOverride*>(ff::av_malloc(overrides.size() * sizeof(RcOverride)));
    std::memcpy(Encoder->rc_override, overrides.data(), overrides.size() * sizeof(RcOverride));
    Encoder->rc_override_count = static_cast<int>(overrides.size());
}

void TCustomFFmpeg::new_subtitle_stream(TOutputFileSetup& Output) {
    const AVCodec* codec = nullptr;
    AVCodecID id = AV_CODEC_ID_NONE;
    if (!SubtitleStreamCopy) {
        if (!FindCodecIdByName(SubtitleCodecName, AVMEDIA_TYPE_SUBTITLE, true, id)) {
            SubtitleCodecName.clear();
            SubtitleLanguage.clear();
            throw FFmpegException(LastError);
        }
        if (!SubtitleCodecName.empty())
            codec = ff::avcodec_find_encoder_by_name(SubtitleCodecName.c_str());
    }
    TOutputStreamSetup& setup = AddOutputStream(Output, AVMEDIA_TYPE_SUBTITLE, codec);
    AVCodecContext* enc = setup.Encoder.get();
    setup.StreamCopy = SubtitleStreamCopy;
    if (!SubtitleStreamCopy) {
        TakeEncoderOptions(setup, id, AV_OPT_FLAG_SUBTITLE_PARAM);
    }
    ff::avcodec_parameters_from_context(setup.Stream->codecpar, enc);
    OutputCodecs.push_back(codec);
    if (!SubtitleLanguage.empty()) {
        ff::av_dict_set(&setup.Stream->metadata, "language", SubtitleLanguage.c_str(), 0);
        SubtitleLanguage.clear();
    }
    SubtitleDisable = false;
    SubtitleCodecName.clear();
    SubtitleStreamCopy = false;
}
