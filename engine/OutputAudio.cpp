// The audio output path: libswresample converts format, rate and channels (and stretches for
// drift), an audio fifo in the encoder's format cuts encoder frames, the output clock counts
// samples per channel.
#include "engine/OutputAudio.h"
#include "engine/SampleGrid.h"
#include "engine/SampleLimit.h"

#include "engine/AudioVolume.h"
#include "engine/EncodeDrain.h"
#include "engine/EngineErrors.h"
#include "engine/OptionState.h"
#include "ffbind/FFUtils.h"
#include "ffbind/FFmpegLogger.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

namespace {

// Corrections of at most this many samples are not worth a drop or an insertion.
constexpr double MinCorrectionSamples = 50;
// Silence goes through the path in pieces of this many samples, so a long gap never needs a
// buffer of its whole length.
constexpr int SilencePieceSamples = 8192;

// A double truncated toward zero into the range of T (huge time stamp jumps stay defined).
template <typename T> T TruncClamped(double value) {
    constexpr double low = static_cast<double>(std::numeric_limits<T>::min());
    constexpr double high = static_cast<double>(std::numeric_limits<T>::max());
    if (!(value > low))
        return std::numeric_limits<T>::min();
    if (!(value < high))
        return std::numeric_limits<T>::max();
    return static_cast<T>(value);
}

// Sets a format from its parts; a layout without channel order (wav, wma) becomes the default
// layout of its channel count, so it can be compared and handed to the resampler.
void SetFormat(TAudioFormat& target, int sampleFormat, int sampleRateHz,
               const AVChannelLayout& layout) {
    target.SampleFormat = sampleFormat;
    target.SampleRateHz = sampleRateHz;
    ff::av_channel_layout_uninit(&target.Layout);
    if (layout.order == AV_CHANNEL_ORDER_UNSPEC)
        ff::av_channel_layout_default(&target.Layout, layout.nb_channels);
    else
        ff::av_channel_layout_copy(&target.Layout, &layout);
}

bool SameFormat(const TAudioFormat& a, const TAudioFormat& b) {
    return a.SampleFormat == b.SampleFormat && a.SampleRateHz == b.SampleRateHz &&
           ff::av_channel_layout_compare(&a.Layout, &b.Layout) == 0;
}

AVSampleFormat SampleFormatOf(const TAudioFormat& format) {
    return static_cast<AVSampleFormat>(format.SampleFormat);
}

// Samples per channel converted but not yet encoded: in the fifo and inside the resampler.
int64_t PendingSamples(const TAudioOutputState& state, const AVCodecContext* encoder) {
    int64_t pending = state.Fifo ? ff::av_audio_fifo_size(state.Fifo.get()) : 0;
    if (state.Resampler)
        pending += ff::swr_get_delay(state.Resampler.get(), encoder->sample_rate);
    return pending;
}

// Encoders that take any number of samples per frame (PCM): every chunk is encoded at once.
bool IsSampleBased(const AVCodecContext* encoder) {
    return encoder->frame_size <= 1 ||
           (encoder->codec && (encoder->codec->capabilities & AV_CODEC_CAP_VARIABLE_FRAME_SIZE));
}

// A frame in the encoder's format holding at least capacity samples.
FramePtr AllocateEncoderFrame(const AVCodecContext* encoder, int capacity) {
    FramePtr frame(ff::av_frame_alloc());
    if (!frame)
        throw FFmpegException("av_malloc failed");
    frame->format = encoder->sample_fmt;
    frame->sample_rate = encoder->sample_rate;
    frame->nb_samples = capacity;
    if (ff::av_channel_layout_copy(&frame->ch_layout, &encoder->ch_layout) < 0 ||
        ff::av_frame_get_buffer(frame.get(), 0) < 0)
        throw FFmpegException("av_malloc failed");
    return frame;
}

class TAudioPath {
public:
    TAudioPath(TAudioOutputState& state, const TAudioOutputTarget& target,
               const TAudioPacketWriter& write)
        : State(state), Target(target), Encoder(target.Encoder), Write(write) {}

    void Output(const AVFrame& chunk, TAudioInputClock& clock, const TAudioSyncSettings& settings);
    void Flush(TAudioEnding ending = aeSoundEnd);

private:
    void EnsureResampler(const TAudioFormat& input, const TAudioFormat& output, bool needed);
    void EnsureFifo();
    // Encoding in pieces on several threads is chosen once, before the first frame.
    void DecideSplit(const TAudioSyncSettings& settings);
    // Decides the samples to drop from the chunk's start or the silence to put in front of it.
    void Synchronise(const TAudioFormat& input, int chunkSamples, TAudioInputClock& clock,
                     const TAudioSyncSettings& settings, int& dropSamples, int64_t& silenceSamples);
    // Sound before the output's start is cut away at the start of the output: a start time
    // seeks to the key frame before it, so the first sound decoded lies before the asked time.
    int SamplesBeforeStart(const TAudioInputClock& clock, int inputRateHz, int chunkSamples) const;
    // The output clock from the input's, skippedS seconds into the chunk.
    void FollowInputClock(const TAudioInputClock& clock, double skippedS);
    void PushSilence(const TAudioFormat& input, int64_t count, const TAudioSyncSettings& settings);
    // Converts count input samples (when a resampler is in use) and appends them to the fifo.
    void PushSamples(const uint8_t* const* planes, int count, const TAudioSyncSettings* settings);
    void DrainResampler();
    void WriteFifo(uint8_t* const* planes, int count);
    void EncodeReadyFrames();
    // Encodes samples from the fifo as one frame of frameSamples, the rest filled with silence.
    void EncodeFromFifo(int samples, int frameSamples);
    AVFrame* WritableEncodeFrame(int samples);
    // Hands a frame (none: the end) to the stream's encoder; the end also to the pieces, which
    // take their frames in EncodeFromFifo.
    void Encode(AVFrame* frame);
    void Deliver(AVPacket* packet);

    TAudioOutputState& State;
    const TAudioOutputTarget& Target;
    AVCodecContext* Encoder;
    const TAudioPacketWriter& Write;
};

void TAudioPath::Output(const AVFrame& chunk, TAudioInputClock& clock,
                        const TAudioSyncSettings& settings) {
    if (State.LimitReached || State.Drained || chunk.nb_samples <= 0)
        return;
    State.LimitSamples =
        settings.RecordingTimeUs == INT64_MAX
            ? INT64_MAX
            : ClipSamples(settings.ClipStartUs, settings.RecordingTimeUs, Encoder->sample_rate);
    TAudioFormat input, output;
    SetFormat(input, chunk.format, chunk.sample_rate, chunk.ch_layout);
    SetFormat(output, Encoder->sample_fmt, Encoder->sample_rate, Encoder->ch_layout);
    // Drift is stretched away by the resampler, so that mode needs one even for equal formats;
    // so does a volume after the conversion, which applies to the resampler's output.
    State.ConvertedVolume = settings.ConvertedVolume;
    EnsureResampler(input, output,
                    !SameFormat(input, output) || settings.AudioSyncMethod > 1 ||
                        settings.ConvertedVolume != UnityVolume);
    EnsureFifo();
    DecideSplit(settings);

    int dropSamples = 0;
    int64_t silenceSamples = 0;
    if (settings.AudioSyncMethod != 0) {
        Synchronise(input, chunk.nb_samples, clock, settings, dropSamples, silenceSamples);
    } else {
        dropSamples = SamplesBeforeStart(clock, input.SampleRateHz, chunk.nb_samples);
        if (dropSamples < chunk.nb_samples)
            FollowInputClock(clock, static_cast<double>(dropSamples) / input.SampleRateHz);
    }
    if (dropSamples >= chunk.nb_samples)
        return;
    if (silenceSamples > 0)
        PushSilence(input, silenceSamples, settings);

    const AVSampleFormat format = SampleFormatOf(input);
    const bool planar = ff::av_sample_fmt_is_planar(format);
    const int channels = input.Layout.nb_channels;
    const int stride = ff::av_get_bytes_per_sample(format) * (planar ? 1 : channels);
    std::vector<const uint8_t*> planes(planar ? channels : 1);
    for (std::size_t i = 0; i < planes.size(); ++i)
        planes[i] = chunk.extended_data[i] + static_cast<std::ptrdiff_t>(dropSamples) * stride;
    PushSamples(planes.data(), chunk.nb_samples - dropSamples, &settings);
    EncodeReadyFrames();
    // Everything up to the asked duration is in: the stream ends now, not when the input does.
    if (*Target.SyncOpts + ff::av_audio_fifo_size(State.Fifo.get()) >= State.LimitSamples) {
        State.LimitReached = true;
        Flush();
    }
}

void TAudioPath::EnsureResampler(const TAudioFormat& input, const TAudioFormat& output,
                                 bool needed) {
    if (State.Resampler ? SameFormat(State.ResamplerInput, input) : !needed)
        return;
    // The input's format changed under a running resampler: keep what it still holds.
    if (State.Resampler)
        DrainResampler();
    SwrContext* raw = nullptr;
    int result = ff::swr_alloc_set_opts2(&raw, const_cast<AVChannelLayout*>(&output.Layout),
                                         SampleFormatOf(output), output.SampleRateHz,
                                         const_cast<AVChannelLayout*>(&input.Layout),
                                         SampleFormatOf(input), input.SampleRateHz, 0, nullptr);
    SwrPtr resampler(raw);
    if (result >= 0) {
        // Filter length 16, 2^10 phases, no linear interpolation, cut-off at 0.8 of Nyquist.
        ff::av_opt_set_int(raw, "filter_size", 16, 0);
        ff::av_opt_set_int(raw, "phase_shift", 10, 0);
        ff::av_opt_set_int(raw, "linear_interp", 0, 0);
        ff::av_opt_set_double(raw, "cutoff", 0.8, 0);
        result = ff::swr_init(raw);
    }
    if (result < 0)
        throw FFmpegException(FormatText(
            "Can not resample %d channels @ %d Hz to %d channels @ %d Hz", input.Layout.nb_channels,
            input.SampleRateHz, Encoder->ch_layout.nb_channels, Encoder->sample_rate));
    State.Resampler = std::move(resampler);
    SetFormat(State.ResamplerInput, input.SampleFormat, input.SampleRateHz, input.Layout);
}

void TAudioPath::EnsureFifo() {
    if (State.Fifo)
        return;
    State.Fifo.reset(ff::av_audio_fifo_alloc(Encoder->sample_fmt, Encoder->ch_layout.nb_channels,
                                             std::max(Encoder->frame_size, 1024)));
    if (!State.Fifo)
        throw FFmpegException("av_fifo_alloc fail");
}

void TAudioPath::DecideSplit(const TAudioSyncSettings& settings) {
    if (State.SplitDecided)
        return;
    State.SplitDecided = true;
    const TAudioSplitSettings& split = settings.Split;
    const bool twoPass = Encoder->flags & (AV_CODEC_FLAG_PASS1 | AV_CODEC_FLAG_PASS2);
    if (split.Pieces < 2 || split.ExpectedOutputMs < 0 ||
        split.ExpectedOutputMs < split.MinimumOutputMs || twoPass || IsSampleBased(Encoder) ||
        !TSplitAudioEncoder::JoinsSeamlessly(*Encoder, split.EncoderOptions))
        return;
    TSplitAudioSettings pieces;
    pieces.Pieces = split.Pieces;
    pieces.SegmentFrames = static_cast<int>(std::clamp<int64_t>(
        ff::av_rescale(split.SegmentMs, Encoder->sample_rate, int64_t{1000} * Encoder->frame_size),
        1, INT32_MAX));
    pieces.EncoderOptions = split.EncoderOptions;
    pieces.StopRequested = settings.StopRequested;
    pieces.SeamLog = [sender = settings.LogSender](const std::string& line) {
        GetLogger()->Log(sender, llVerbose, line);
    };
    State.Split = std::make_unique<TSplitAudioEncoder>(*Encoder, pieces);
    GetLogger()->LogF(settings.LogSender, llVerbose,
                      "encoding the sound in pieces of %d frames, %d at once", pieces.SegmentFrames,
                      pieces.Pieces);
}

void TAudioPath::Synchronise(const TAudioFormat& input, int chunkSamples, TAudioInputClock& clock,
                             const TAudioSyncSettings& settings, int& dropSamples,
                             int64_t& silenceSamples) {
    const double encoderRate = Encoder->sample_rate;
    // How far the input clock is ahead of the output clock, in output samples.
    const double delta = clock.SyncTimeS * encoderRate -
                         static_cast<double>(*Target.SyncOpts + PendingSamples(State, Encoder));
    if (std::fabs(delta) <= MinCorrectionSamples)
        return;
    if (clock.IsStart || std::fabs(delta) > encoderRate * settings.AudioDriftThresholdSeconds) {
        const int64_t inputDelta = TruncClamped<int64_t>(delta * input.SampleRateHz / encoderRate);
        if (inputDelta < 0) {
            dropSamples = static_cast<int>(std::min<int64_t>(-inputDelta, chunkSamples));
            if (settings.Verbose > 2)
                GetLogger()->LogF(settings.LogSender, llVerbose, "discarding %d audio samples",
                                  TruncClamped<int>(-delta));
            if (dropSamples < chunkSamples)
                clock.IsStart = false;
        } else {
            silenceSamples = inputDelta;
            clock.IsStart = false;
            if (settings.Verbose > 2)
                GetLogger()->LogF(settings.LogSender, llVerbose,
                                  "adding %d audio samples of silence", TruncClamped<int>(delta));
        }
    } else if (settings.AudioSyncMethod > 1 && State.Resampler) {
        const int compensation = std::clamp(TruncClamped<int>(delta), -settings.AudioSyncMethod,
                                            settings.AudioSyncMethod);
        if (settings.Verbose > 2)
            GetLogger()->LogF(settings.LogSender, llVerbose,
                              "compensating audio timestamp drift:%f compensation:%d in:%d", delta,
                              compensation, Encoder->sample_rate);
        ff::swr_set_compensation(State.Resampler.get(), compensation, Encoder->sample_rate);
    }
}

int TAudioPath::SamplesBeforeStart(const TAudioInputClock& clock, int inputRateHz,
                                   int chunkSamples) const {
    if (State.ClockStarted || clock.SyncTimeS >= 0)
        return 0;
    return static_cast<int>(
        std::min<int64_t>(chunkSamples, std::llround(-clock.SyncTimeS * inputRateHz)));
}

void TAudioPath::FollowInputClock(const TAudioInputClock& clock, double skippedS) {
    const int64_t fromInput = std::llrint((clock.SyncTimeS + skippedS) * Encoder->sample_rate) -
                              PendingSamples(State, Encoder);
    // Input times that step back would give frames overlapping those already encoded, which
    // muxers refuse: the clock never goes back once it has started.
    *Target.SyncOpts = State.ClockStarted ? std::max(*Target.SyncOpts, fromInput) : fromInput;
    State.ClockStarted = true;
}

void TAudioPath::PushSilence(const TAudioFormat& input, int64_t count,
                             const TAudioSyncSettings& settings) {
    if (!State.Silence || !SameFormat(State.SilenceFormat, input)) {
        FramePtr silence(ff::av_frame_alloc());
        if (!silence)
            throw FFmpegException("av_malloc failed");
        silence->format = input.SampleFormat;
        silence->sample_rate = input.SampleRateHz;
        silence->nb_samples = SilencePieceSamples;
        if (ff::av_channel_layout_copy(&silence->ch_layout, &input.Layout) < 0 ||
            ff::av_frame_get_buffer(silence.get(), 0) < 0)
            throw FFmpegException("av_malloc failed");
        ff::av_samples_set_silence(silence->extended_data, 0, SilencePieceSamples,
                                   input.Layout.nb_channels, SampleFormatOf(input));
        State.Silence = std::move(silence);
        SetFormat(State.SilenceFormat, input.SampleFormat, input.SampleRateHz, input.Layout);
    }
    // Encoding between the pieces keeps the fifo small however long the gap is; a stop ends
    // a gap of hours between two pieces.
    while (count > 0 && !(settings.StopRequested && *settings.StopRequested)) {
        const int piece = static_cast<int>(std::min<int64_t>(count, SilencePieceSamples));
        PushSamples(State.Silence->extended_data, piece, &settings);
        EncodeReadyFrames();
        count -= piece;
    }
}

void TAudioPath::PushSamples(const uint8_t* const* planes, int count,
                             const TAudioSyncSettings* settings) {
    if (!State.Resampler) {
        WriteFifo(const_cast<uint8_t* const*>(planes), count);
        return;
    }
    const int capacity = ff::swr_get_out_samples(State.Resampler.get(), count);
    if (capacity <= 0)
        return;
    if (!State.Converted || State.Converted->nb_samples < capacity)
        State.Converted = AllocateEncoderFrame(Encoder, std::max(capacity, 4096));
    const int converted =
        ff::swr_convert(State.Resampler.get(), State.Converted->extended_data,
                        State.Converted->nb_samples, const_cast<const uint8_t**>(planes), count);
    if (converted < 0) {
        if (!settings || settings->ExitOnError)
            throw FFmpegException("av_audio_convert() failed");
        GetLogger()->Log(settings->LogSender, llError, "av_audio_convert() failed");
        return;
    }
    ApplyAudioVolume(*State.Converted, converted, State.ConvertedVolume);
    WriteFifo(State.Converted->extended_data, converted);
}

void TAudioPath::DrainResampler() {
    // Without input the resampler gives out what its filter still holds.
    for (;;) {
        const int before = State.Fifo ? ff::av_audio_fifo_size(State.Fifo.get()) : 0;
        PushSamples(nullptr, 0, nullptr);
        if (!State.Fifo || ff::av_audio_fifo_size(State.Fifo.get()) == before)
            return;
    }
}

void TAudioPath::WriteFifo(uint8_t* const* planes, int count) {
    EnsureFifo();
    // The loop ends on the muxed time, which lags behind the encoder: the asked duration is
    // kept here, to the sample.
    const int64_t next = *Target.SyncOpts + ff::av_audio_fifo_size(State.Fifo.get());
    count = static_cast<int>(std::clamp<int64_t>(State.LimitSamples - next, 0, count));
    if (count <= 0)
        return;
    if (ff::av_audio_fifo_write(State.Fifo.get(),
                                reinterpret_cast<void**>(const_cast<uint8_t**>(planes)),
                                count) < count)
        throw FFmpegException("av_fifo_realloc2() failed");
}

void TAudioPath::EncodeReadyFrames() {
    const int available = ff::av_audio_fifo_size(State.Fifo.get());
    if (IsSampleBased(Encoder)) {
        if (available > 0)
            EncodeFromFifo(available, available);
        return;
    }
    for (int left = available; left >= Encoder->frame_size; left -= Encoder->frame_size)
        EncodeFromFifo(Encoder->frame_size, Encoder->frame_size);
}

AVFrame* TAudioPath::WritableEncodeFrame(int samples) {
    FramePtr& frame = State.EncodeFrame;
    // The pieces keep each frame they are handed and give it back once encoded.
    if (!frame && State.Split)
        frame = State.Split->TakeSpareFrame(samples);
    if (!frame || frame->nb_samples < samples) {
        frame = AllocateEncoderFrame(Encoder, std::max(samples, Encoder->frame_size));
        return frame.get();
    }
    // The encoder (or a piece) may still hold the previous frame's buffer: then a fresh one is
    // made, not a copy, since the frame is written over.
    if (!ff::av_frame_is_writable(frame.get()))
        frame = AllocateEncoderFrame(Encoder, frame->nb_samples);
    return frame.get();
}

void TAudioPath::EncodeFromFifo(int samples, int frameSamples) {
    AVFrame* frame = WritableEncodeFrame(frameSamples);
    const int capacity = frame->nb_samples;
    frame->nb_samples = frameSamples;
    const int read = ff::av_audio_fifo_read(
        State.Fifo.get(), reinterpret_cast<void**>(frame->extended_data), samples);
    if (read < frameSamples)
        ff::av_samples_set_silence(frame->extended_data, std::max(read, 0),
                                   frameSamples - std::max(read, 0), Encoder->ch_layout.nb_channels,
                                   Encoder->sample_fmt);
    LimitFloatSamples(*frame, frameSamples, Encoder->ch_layout.nb_channels);
    frame->pts =
        ff::av_rescale_q(*Target.SyncOpts, AVRational{1, Encoder->sample_rate}, Encoder->time_base);
    if (State.Split) {
        State.Split->Push(std::move(State.EncodeFrame),
                          [this](AVPacket* packet) { Deliver(packet); });
    } else {
        Encode(frame);
        frame->nb_samples = capacity;
    }
    *Target.SyncOpts += frameSamples;
    State.SamplesEncoded += frameSamples;
}

void TAudioPath::Encode(AVFrame* frame) {
    const auto deliver = [this](AVPacket* packet) { Deliver(packet); };
    if (!State.Split)
        EncodeAndDrain(Encoder, frame, deliver);
    else
        State.Split->Finish(deliver);
}

void TAudioPath::Deliver(AVPacket* packet) {
    packet->stream_index = Target.Stream->index;
    ff::av_packet_rescale_ts(packet, Encoder->time_base, Target.Stream->time_base);
    ++State.PacketsDelivered;
    Write(packet);
}

void TAudioPath::Flush(TAudioEnding ending) {
    if (State.Drained)
        return;
    if (State.Resampler)
        DrainResampler();
    if (State.Fifo) {
        EncodeReadyFrames();
        const int rest = ff::av_audio_fifo_size(State.Fifo.get());
        // (What a stop leaves over the last whole frame stays in the fifo, freed with it.)
        const bool partLeft = ending == aeStopped && !IsSampleBased(Encoder);
        if (rest > 0 && !partLeft) {
            const bool takesShortFrame =
                Encoder->codec && (Encoder->codec->capabilities & AV_CODEC_CAP_SMALL_LAST_FRAME);
            EncodeFromFifo(rest, takesShortFrame ? rest : Encoder->frame_size);
        }
    }
    Encode(nullptr);
    State.Drained = true;
}

} // namespace

TAudioFormat::~TAudioFormat() {
    ff::av_channel_layout_uninit(&Layout);
}

void TAudioOutputStateDeleter::operator()(TAudioOutputState* state) const {
    delete state;
}

TAudioSyncSettings AudioSyncSettingsOf(const TOptionState& options, const void* logSender) {
    TAudioSyncSettings settings;
    settings.AudioSyncMethod = options.AudioSyncMethod;
    settings.AudioDriftThresholdSeconds = options.AudioDriftThresholdSeconds;
    settings.Verbose = options.Verbose;
    settings.ExitOnError = options.ExitOnError;
    settings.RecordingTimeUs = options.RecordingTimeUs;
    settings.LogSender = logSender;
    settings.ConvertedVolume = options.ConvertedVolume;
    settings.Split.Pieces = options.SplitPieces;
    settings.Split.SegmentMs = options.SplitSegmentMs;
    settings.Split.MinimumOutputMs = options.SplitMinimumMs;
    if (options.RecordingTimeMs >= 0)
        settings.Split.ExpectedOutputMs =
            std::min<int64_t>(options.RecordingTimeMs, options.RecordingTimeUs / 1000);
    return settings;
}

bool IsSoleSoundStream(const AVFormatContext& output) {
    int streams = 0;
    for (unsigned i = 0; i < output.nb_streams; ++i)
        if (!(output.streams[i]->disposition & AV_DISPOSITION_ATTACHED_PIC))
            ++streams;
    return streams == 1;
}

void OutputAudioChunk(TAudioOutputState& state, const TAudioOutputTarget& target,
                      const AVFrame& chunk, TAudioInputClock& clock,
                      const TAudioSyncSettings& settings, const TAudioPacketWriter& write) {
    TAudioPath(state, target, write).Output(chunk, clock, settings);
}

void FlushAudioOutput(TAudioOutputState& state, const TAudioOutputTarget& target,
                      const TAudioPacketWriter& write, TAudioEnding ending) {
    TAudioPath(state, target, write).Flush(ending);
}

namespace {
TAudioOutputState& StateOf(TOutputStream& ost) {
    if (!ost.Audio)
        ost.Audio.reset(new TAudioOutputState);
    return *ost.Audio;
}
} // namespace

void OutputAudio(TOutputStream& ost, TInputStream& ist, const AVFrame& chunk, int64_t startTimeUs,
                 const TAudioSyncSettings& settings, const TAudioPacketWriter& write) {
    TAudioInputClock clock;
    clock.SyncTimeS = static_cast<double>(ist.PtsUs - startTimeUs) / 1000000.0;
    clock.IsStart = ist.IsStart;
    OutputAudioChunk(StateOf(ost), TAudioOutputTarget{ost.Enc, ost.St, &ost.SyncOpts}, chunk, clock,
                     settings, write);
    ist.IsStart = clock.IsStart;
    // The stream has all it will get: its time is the asked duration, so the loop ends now.
    if (ost.Audio->LimitReached)
        ost.MuxedEndTs =
            std::max(ost.MuxedEndTs,
                     ff::av_rescale_q(ost.Audio->LimitSamples, AVRational{1, ost.Enc->sample_rate},
                                      ost.St->time_base));
}

void FlushAudio(TOutputStream& ost, const TAudioPacketWriter& write, TAudioEnding ending) {
    FlushAudioOutput(StateOf(ost), TAudioOutputTarget{ost.Enc, ost.St, &ost.SyncOpts}, write,
                     ending);
}
