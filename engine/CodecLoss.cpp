// Trying the encoder on stretches of the sound: each stretch goes to one meter as it is and,
// through the encoder and its decoder, to another; the difference of their readings is the loss.
#include "engine/CodecLoss.h"

#include "engine/EncodeDrain.h"
#include "engine/EncoderCopy.h"
#include "engine/LoudnessMeter.h"
#include "ffbind/FFUtils.h"
#include "ffbind/FFmpegLoader.h"

#include <mutex>
#include <new>
#include <stdexcept>
#include <utility>
#include <vector>

namespace {

// A stretch of StretchSeconds is tried at the start of every PeriodSeconds: a tenth of the
// sound (and all of a short one's first seconds) follows how its spectrum changes for a tenth
// of the encoder's work.
constexpr int StretchSeconds = 4;
constexpr int PeriodSeconds = 40;
// Encoders that take frames of any length get them this long.
constexpr int AnyFrameSamples = 1024;

// abuffer ! filters ! abuffersink, made for frames like the first one it gets.
class TSoundChain {
public:
    using TFilters = std::vector<std::pair<const char*, std::string>>;

    // frameSamples > 0: the sink gives frames of that many samples (the last may be shorter).
    TSoundChain(TFilters filters, int frameSamples)
        : Filters(std::move(filters)), FrameSamples(frameSamples) {}

    // Takes a frame (nullptr: the end) and hands each frame the chain has ready to take.
    template <typename TTake> void Push(const AVFrame* frame, TTake&& take) {
        if (!Graph && frame)
            Build(*frame);
        if (!Graph)
            return;
        AVFrame* given = const_cast<AVFrame*>(frame);
        if (ff::av_buffersrc_add_frame_flags(Source, given, AV_BUFFERSRC_FLAG_KEEP_REF) < 0)
            throw std::runtime_error("loudness trial: the sound was refused");
        FramePtr out(ff::av_frame_alloc());
        if (!out)
            throw std::bad_alloc();
        while (ff::av_buffersink_get_frame(Sink, out.get()) >= 0) {
            take(*out);
            ff::av_frame_unref(out.get());
        }
    }

private:
    void Build(const AVFrame& like) {
        Graph.reset(ff::avfilter_graph_alloc());
        if (!Graph)
            throw std::bad_alloc();
        char layout[128] = {};
        ff::av_channel_layout_describe(&like.ch_layout, layout, sizeof layout);
        Source = AddFilter(
            Graph.get(), "abuffer",
            FormatText("time_base=1/%d:sample_rate=%d:sample_fmt=%s:channel_layout=%s",
                       like.sample_rate, like.sample_rate,
                       ff::av_get_sample_fmt_name(static_cast<AVSampleFormat>(like.format)),
                       layout),
            nullptr);
        AVFilterContext* last = Source;
        for (const auto& [name, args] : Filters)
            last = AddFilter(Graph.get(), name, args, last);
        Sink = AddFilter(Graph.get(), "abuffersink", "", last);
        if (const int error = ff::avfilter_graph_config(Graph.get(), nullptr); error < 0)
            throw std::runtime_error("loudness trial: " + ErrorText(error));
        if (FrameSamples > 0)
            ff::av_buffersink_set_frame_size(Sink, static_cast<unsigned>(FrameSamples));
    }

    TFilters Filters;
    int FrameSamples;
    FilterGraphPtr Graph;
    AVFilterContext* Source = nullptr;
    AVFilterContext* Sink = nullptr;
};

// The integrated loudness of the sound pushed through it.
class TMeter {
public:
    void Push(const AVFrame* frame) {
        Chain.Push(frame, [this](const AVFrame& metered) {
            Lufs = MetadataNumber(&metered, "lavfi.r128.I", Lufs);
        });
    }
    double Lufs = SilenceLufs;

private:
    TSoundChain Chain{{{"ebur128", "metadata=1"}}, 0};
};

} // namespace

struct TCodecLoss::TState {
    CodecContextPtr Encoder;
    CodecContextPtr Decoder;
    TSoundChain Converter; // to the encoder's sample format, in its frames
    TMeter Original;
    TMeter Coded;
    int64_t Taken = 0;   // samples taken, at the sound's rate
    int64_t Encoded = 0; // samples given to the encoder
    bool Usable = false;

    explicit TState(TSoundChain::TFilters toEncoder, int frameSamples)
        : Converter(std::move(toEncoder), frameSamples) {}

    void Encode(const AVFrame* frame) {
        EncodeAndDrain(Encoder.get(), frame, [this](AVPacket* packet) { Decode(packet); });
    }

    void Decode(const AVPacket* packet) {
        if (ff::avcodec_send_packet(Decoder.get(), packet) < 0)
            throw std::runtime_error("loudness trial: the decoder refused the sound");
        FramePtr decoded(ff::av_frame_alloc());
        if (!decoded)
            throw std::bad_alloc();
        while (ff::avcodec_receive_frame(Decoder.get(), decoded.get()) >= 0) {
            Coded.Push(decoded.get());
            ff::av_frame_unref(decoded.get());
        }
    }

    // Converts a frame (nullptr: the end) and encodes what the converter has ready.
    void Convert(const AVFrame* frame) {
        Converter.Push(frame, [this](const AVFrame& converted) {
            EncodeConverted(const_cast<AVFrame&>(converted));
        });
    }

    void EncodeConverted(AVFrame& frame) {
        const bool shortLast = frame.nb_samples < Encoder->frame_size;
        if (shortLast && !(Encoder->codec->capabilities & AV_CODEC_CAP_SMALL_LAST_FRAME))
            return;
        frame.pts = Encoded;
        Encoded += frame.nb_samples;
        Encode(&frame);
    }
};

namespace {

CodecContextPtr OpenedCodec(const AVCodec* codec, const AVCodecContext* settings,
                            const AVCodecParameters* parameters, const AVDictionary* options) {
    CodecContextPtr context(codec ? ff::avcodec_alloc_context3(codec) : nullptr);
    if (!context)
        return nullptr;
    if (settings) {
        CopyEncoderSettings(*context, *settings);
        // The header data comes out apart, as the decoder wants it.
        context->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    } else if (ff::avcodec_parameters_to_context(context.get(), parameters) < 0) {
        return nullptr;
    }
    return OpenCodec(*context, codec, options) < 0 ? nullptr : std::move(context);
}

} // namespace

TCodecLoss::TCodecLoss(const AVCodecContext& encoder, const AVDictionary* options) {
    const AVCodec* codec =
        encoder.codec ? encoder.codec : ff::avcodec_find_encoder(encoder.codec_id);
    CodecContextPtr opened = OpenedCodec(codec, &encoder, nullptr, options);
    if (!opened)
        return;
    const char* format = ff::av_get_sample_fmt_name(opened->sample_fmt);
    const int frameSamples = opened->frame_size > 0 ? opened->frame_size : AnyFrameSamples;
    State = std::make_unique<TState>(
        TSoundChain::TFilters{{"aformat", std::string("sample_fmts=") + (format ? format : "")}},
        frameSamples);
    State->Encoder = std::move(opened);
    CodecParametersPtr parameters(ff::avcodec_parameters_alloc());
    if (!parameters ||
        ff::avcodec_parameters_from_context(parameters.get(), State->Encoder.get()) < 0)
        return;
    State->Decoder =
        OpenedCodec(ff::avcodec_find_decoder(encoder.codec_id), nullptr, parameters.get(), nullptr);
    State->Usable = State->Decoder != nullptr;
}

TCodecLoss::~TCodecLoss() {
    if (!State)
        return;
    std::lock_guard guard(CodecLock());
    State->Encoder.reset();
    State->Decoder.reset();
}

bool TCodecLoss::IsLossy(AVCodecID codec) {
    const AVCodecDescriptor* descriptor = ff::avcodec_descriptor_get(codec);
    return !descriptor || (descriptor->props & AV_CODEC_PROP_LOSSY);
}

void TCodecLoss::Take(const AVFrame& frame) {
    if (!State || !State->Usable || frame.sample_rate <= 0)
        return;
    const int64_t period = int64_t{PeriodSeconds} * frame.sample_rate;
    const bool tried = State->Taken % period < int64_t{StretchSeconds} * frame.sample_rate;
    State->Taken += frame.nb_samples;
    if (!tried)
        return;
    try {
        State->Original.Push(&frame);
        State->Convert(&frame);
    } catch (const std::exception&) {
        State->Usable = false; // the trial only aims better; the measure goes on without it
    }
}

std::optional<double> TCodecLoss::LossLu() {
    if (!State || !State->Usable)
        return std::nullopt;
    try {
        State->Convert(nullptr);
        State->Encode(nullptr);
        State->Decode(nullptr);
        State->Original.Push(nullptr);
        State->Coded.Push(nullptr);
    } catch (const std::exception&) {
        return std::nullopt;
    }
    State->Usable = false;
    if (State->Original.Lufs <= SilenceLufs || State->Coded.Lufs <= SilenceLufs)
        return std::nullopt;
    return State->Original.Lufs - State->Coded.Lufs;
}
