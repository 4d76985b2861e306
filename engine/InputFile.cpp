// Opening an input file of the engine: demuxer options from the option state, probing, start
// seek, program and stream discarding, per-stream decoder contexts, and the per-file resets.
#include "engine/FFmpeg.h"

#include "engine/DecoderPreRoll.h"
#include "engine/SampleGrid.h"
#include "ffbind/AudioStreamChoice.h"
#include "ffbind/FFUtils.h"
#include "ffbind/FFmpegLoader.h"
#include "ffbind/FFmpegLogger.h"

#include <mutex>

namespace {

// The length of the sound stream converted as the input declares it (the file's length when the
// stream gives none), microseconds; -1 without sound (a stream below 0) or length.
int64_t DeclaredSoundLength(const AVFormatContext* input, int audioStream) {
    if (audioStream < 0)
        return -1;
    const AVStream* stream = input->streams[audioStream];
    if (stream->duration != AV_NOPTS_VALUE && stream->duration > 0)
        return ff::av_rescale_q(stream->duration, stream->time_base, AV_TIME_BASE_Q);
    return input->duration != AV_NOPTS_VALUE && input->duration > 0 ? input->duration : -1;
}

} // namespace

bool TCustomFFmpeg::FindCodecIdByName(const std::string& Name, AVMediaType Kind, bool Encoder,
                                      AVCodecID& Id) {
    Id = AV_CODEC_ID_NONE;
    if (Name.empty())
        return true;
    const char* role = Encoder ? "encoder" : "decoder";
    const AVCodec* codec = Encoder ? ff::avcodec_find_encoder_by_name(Name.c_str())
                                   : ff::avcodec_find_decoder_by_name(Name.c_str());
    if (!codec) {
        LastError = FormatText("Unknown %s '%s'", role, Name.c_str());
        return false;
    }
    if (codec->type != Kind) {
        LastError = FormatText("Invalid %s type '%s'", role, Name.c_str());
        return false;
    }
    Id = codec->id;
    return true;
}

// The settings the old parameter block carried, as options of the demuxers that take them
// (raw audio and video, image sequences, capture devices); other demuxers leave them unused.
// Only what the user set goes: a default would override what a raw format itself implies.
static DictionaryPtr DemuxerOptions(const TOptionState& e) {
    DictionaryPtr options;
    if (e.UserSet.SampleRate)
        DictSet(options, "sample_rate", std::to_string(e.AudioSampleRateHz));
    if (e.UserSet.Channels) {
        AVChannelLayout layout{};
        ff::av_channel_layout_default(&layout, e.AudioChannels);
        char text[64];
        if (ff::av_channel_layout_describe(&layout, text, sizeof text) > 0)
            DictSet(options, "ch_layout", text);
        ff::av_channel_layout_uninit(&layout);
    }
    if (e.UserSet.FrameRate && e.FrameRate.num > 0 && e.FrameRate.den > 0)
        DictSet(options, "framerate",
                std::to_string(e.FrameRate.num) + "/" + std::to_string(e.FrameRate.den));
    int width = e.FrameWidth + e.PadLeft + e.PadRight;
    int height = e.FrameHeight + e.PadTop + e.PadBottom;
    if (e.UserSet.FrameSize && width > 0 && height > 0)
        DictSet(options, "video_size", std::to_string(width) + "x" + std::to_string(height));
    if (e.UserSet.PixelFormat && e.FramePixFmt >= 0)
        if (const char* name = ff::av_get_pix_fmt_name(AVPixelFormat(e.FramePixFmt)))
            DictSet(options, "pixel_format", name);
    if (e.VideoChannel != 0)
        DictSet(options, "channel", std::to_string(e.VideoChannel));
    if (!e.VideoStandard.empty())
        DictSet(options, "standard", e.VideoStandard);
    if (e.LoopInput)
        DictSet(options, "loop", "1");
    return options;
}

bool TCustomFFmpeg::OpenInputFile(const std::filesystem::path& FileName) {
    auto cleanUp = [this] {
        VideoCodecName.clear();
        AudioCodecName.clear();
        SubtitleCodecName.clear();
        InputFormat = nullptr;
        OutputFormat = nullptr;
        VideoChannel = 0;
        return false;
    };
    if (InputFileCount() >= MAX_FILES) {
        LastError = "Too many input files (at most 20)";
        return cleanUp();
    }
    if (!OptionContexts.Created())
        CreateOptionContexts();
    OutputFormatPtr prepared(ff::avformat_alloc_context());
    if (!prepared)
        throw FFmpegException("avformat_alloc_context failed");

    AVCodecID videoId, audioId, subtitleId;
    if (!FindCodecIdByName(VideoCodecName, AVMEDIA_TYPE_VIDEO, false, videoId) ||
        !FindCodecIdByName(AudioCodecName, AVMEDIA_TYPE_AUDIO, false, audioId) ||
        !FindCodecIdByName(SubtitleCodecName, AVMEDIA_TYPE_SUBTITLE, false, subtitleId))
        return cleanUp();
    if (ImageCompatibility)
        videoId = AV_CODEC_ID_PGMYUV;
    CopyGenericOptions(prepared.get(), OptionContexts.Format.get(), AV_OPT_FLAG_DECODING_PARAM);
    prepared->video_codec_id = videoId;
    prepared->audio_codec_id = audioId;
    prepared->subtitle_codec_id = subtitleId;
    prepared->flags |= AVFMT_FLAG_NONBLOCK;

    std::string url = FileNameToURL(FileName);
    DictionaryPtr options = DemuxerOptions(Options());
    AVDictionary* rawOptions = options.release();
    int error = 0;
    auto setup = std::make_unique<TInputFileSetup>();
    setup->FileName = FileName;
    setup->Input = OpenInputContext(url, InputFormat, &rawOptions, &error, prepared.release());
    options.reset(rawOptions);
    if (!setup->Input) {
        LastError = LoggedOpenErrorText(FileName.string(), error);
        return cleanUp();
    }
    AVFormatContext* ic = setup->Input.Format.get();

    if (ProgramId != 0)
        for (unsigned i = 0; i < ic->nb_programs; ++i)
            if (ic->programs[i]->id != ProgramId)
                ic->programs[i]->discard = AVDISCARD_ALL;

    int probed;
    {
        std::lock_guard lock(CodecLock());
        probed = ff::avformat_find_stream_info(ic, nullptr);
    }
    if (probed < 0 && Verbose >= 0) {
        LastError = FileName.string() + ": could not find codec parameters";
        GetLogger()->Log(this, llVerbose, LastError);
        return cleanUp();
    }

    setup->StartUs = StartTimeUs;
    // The sound converted: the stream asked for, else the default-flagged, else the first.
    const int chosenAudio = ChosenAudioStream(*ic, PreferredAudioStream);
    setup->SoundLengthUs = DeclaredSoundLength(ic, chosenAudio);
    // The clip starts on a sample of the sound converted, by the rounding its end takes too.
    // A damaged file's start may lie anywhere: the sums saturate instead of wrapping.
    const AVCodecParameters* sound =
        chosenAudio >= 0 ? ic->streams[chosenAudio]->codecpar : nullptr;
    int64_t timestamp = sound ? NearestSampleUs(StartTimeUs, sound->sample_rate) : StartTimeUs;
    if (ic->start_time != AV_NOPTS_VALUE)
        timestamp = av_sat_add64(timestamp, ic->start_time);
    const bool clipped = StartTimeUs != 0;
    if (clipped) {
        // A lossy decoder starts early enough to give at the clip's start what a decode from
        // the file's start gives there; the sound before it is dropped on its time stamps.
        const int64_t preRollUs = sound ? DecoderPreRollUs(*sound) : 0;
        ff::av_seek_frame(ic, -1, av_sat_sub64(timestamp, preRollUs), AVSEEK_FLAG_BACKWARD);
        StartTimeUs = 0; // a start time applies to one input only
    }

    std::vector<const AVCodec*> forcedDecoders;
    std::vector<CodecContextPtr> decoders;
    for (unsigned i = 0; i < ic->nb_streams; ++i)
        TakeInputStream(ic->streams[i], i, forcedDecoders, decoders);
    // The output's sound follows the stream it is made from, not the file's last one.
    if (chosenAudio >= 0)
        TakeAudioParameters(*ic->streams[chosenAudio]->codecpar);

    if (ic->duration != AV_NOPTS_VALUE && ic->duration > 0) {
        int64_t durationMs = ic->duration / 1000;
        if (RecordingTimeMs < durationMs)
            RecordingTimeMs = static_cast<int>(std::min<int64_t>(durationMs, INT32_MAX));
    }
    int index = InputFileCount();
    InputFileTsOffsetsUs[index] =
        CopyTs ? InputTsOffsetUs : av_sat_sub64(InputTsOffsetUs, timestamp);
    InputFileClipped[index] = clipped && !CopyTs;
    if (Verbose >= 0)
        ff::av_dump_format(ic, index, url.c_str(), 0);
    InputFiles.push_back(ic);
    InputSetups.push_back(std::move(setup));
    for (auto& decoder : decoders)
        InputDecoders.push_back(std::move(decoder));
    InputCodecs.insert(InputCodecs.end(), forcedDecoders.begin(), forcedDecoders.end());
    cleanUp();
    return true;
}

// Takes one stream of a newly opened input: its decoder context, the forced decoder, the
// discard setting, and its parameters back into the option state as defaults for the output.
void TCustomFFmpeg::TakeInputStream(AVStream* Stream, unsigned Index,
                                    std::vector<const AVCodec*>& ForcedDecoders,
                                    std::vector<CodecContextPtr>& Decoders) {
    AVCodecParameters* par = Stream->codecpar;
    if (par->codec_type < AVMEDIA_TYPE_UNKNOWN || par->codec_type >= AVMEDIA_TYPE_NB)
        throw FFmpegException("invalid codec_type");
    const std::string& forcedName = par->codec_type == AVMEDIA_TYPE_VIDEO      ? VideoCodecName
                                    : par->codec_type == AVMEDIA_TYPE_AUDIO    ? AudioCodecName
                                    : par->codec_type == AVMEDIA_TYPE_SUBTITLE ? SubtitleCodecName
                                                                               : std::string();
    const AVCodec* forced =
        forcedName.empty() ? nullptr : ff::avcodec_find_decoder_by_name(forcedName.c_str());
    const AVCodec* decoder = forced ? forced : ff::avcodec_find_decoder(par->codec_id);
    CodecContextPtr context(ff::avcodec_alloc_context3(decoder));
    if (!context || ff::avcodec_parameters_to_context(context.get(), par) < 0)
        throw FFmpegException("Could not allocate a decoder context");
    context->thread_count = ThreadCount;
    context->pkt_timebase = Stream->time_base;

    switch (par->codec_type) {
    case AVMEDIA_TYPE_VIDEO:
        CopyGenericOptions(context.get(), OptionContexts.Codec(AVMEDIA_TYPE_VIDEO),
                           AV_OPT_FLAG_VIDEO_PARAM | AV_OPT_FLAG_DECODING_PARAM);
        // A cover is a still picture: the output's video takes nothing from it.
        if (!(Stream->disposition & AV_DISPOSITION_ATTACHED_PIC))
            TakeVideoParameters(Stream, Index, context.get());
        if (VideoDisable)
            Stream->discard = AVDISCARD_ALL;
        else if (VideoDiscard != 0)
            Stream->discard = AVDiscard(VideoDiscard);
        break;
    case AVMEDIA_TYPE_AUDIO:
        CopyGenericOptions(context.get(), OptionContexts.Codec(AVMEDIA_TYPE_AUDIO),
                           AV_OPT_FLAG_AUDIO_PARAM | AV_OPT_FLAG_DECODING_PARAM);
        TakeAudioParameters(*par);
        if (AudioDisable)
            Stream->discard = AVDISCARD_ALL;
        break;
    case AVMEDIA_TYPE_SUBTITLE:
        if (SubtitleDisable)
            Stream->discard = AVDISCARD_ALL;
        break;
    default:
        break;
    }
    // Every stream has an entry, so the table stays in global stream order.
    ForcedDecoders.push_back(forced);
    Decoders.push_back(std::move(context));
}

void TCustomFFmpeg::TakeAudioParameters(const AVCodecParameters& Par) {
    AudioChannelLayout = Par.ch_layout.order == AV_CHANNEL_ORDER_NATIVE ? Par.ch_layout.u.mask : 0;
    if (Par.ch_layout.nb_channels > 0)
        AudioChannels = Par.ch_layout.nb_channels;
    if (Par.sample_rate > 0)
        AudioSampleRateHz = Par.sample_rate;
    AudioSampleFmt = Par.format;
}

void TCustomFFmpeg::TakeVideoParameters(AVStream* Stream, unsigned Index, AVCodecContext* Context) {
    AVCodecParameters* par = Stream->codecpar;
    // A damaged header may declare any size: one the libraries would refuse counts as unknown.
    const bool sizeValid = par->width > 0 && par->height > 0 &&
                           ff::av_image_check_size(par->width, par->height, 0, nullptr) >= 0;
    FrameHeight = sizeValid ? par->height : 0;
    FrameWidth = sizeValid ? par->width : 0;
    AVRational sar =
        Stream->sample_aspect_ratio.num ? Stream->sample_aspect_ratio : par->sample_aspect_ratio;
    double aspect = sar.num && sar.den ? av_q2d(sar) : 0;
    if (sizeValid)
        FrameAspectRatio =
            static_cast<float>((aspect != 0 ? aspect : 1.0) * FrameWidth / FrameHeight);
    else if (aspect == 0)
        FrameAspectRatio = 4.0f / 3.0f;
    if (Context->pix_fmt == AV_PIX_FMT_NONE)
        Context->pix_fmt = AVPixelFormat(0);
    FramePixFmt = Context->pix_fmt;
    if (MeThreshold != 0)
        LogMissingEffect("me_threshold", "the libraries no longer have a motion-estimation "
                                         "threshold; the value is kept but has no effect");
    AVRational codecRate = Stream->avg_frame_rate;
    AVRational realRate = Stream->r_frame_rate;
    if (codecRate.num && codecRate.den && realRate.num && realRate.den &&
        av_cmp_q(codecRate, realRate) != 0 && Verbose >= 0)
        GetLogger()->LogF(this, llInfo,
                          "Seems stream %u codec frame rate differs from container frame rate: "
                          "%2.2f (%d/%d) -> %2.2f (%d/%d)",
                          Index, av_q2d(codecRate), codecRate.num, codecRate.den, av_q2d(realRate),
                          realRate.num, realRate.den);
    FrameRate = realRate;
}

void TCustomFFmpeg::CloseInputFiles() {
    InputDecoders.clear();
    InputCodecs.clear();
    InputFiles.clear();
    InputSetups.clear();
}
