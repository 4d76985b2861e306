// Reading a file's sound through the probe's decoder.
#include "SoundDecoder.h"

#include "ffbind/AudioStreamChoice.h"
#include "ffbind/FFUtils.h"

#include <algorithm>
#include <stdexcept>

namespace {

constexpr AVRational Microseconds = {1, 1000000};
// Beyond about three centuries a time stamp is a damaged file's: the piece reads as following
// the one before, and no sum of times can overflow.
constexpr int64_t LatestUs = int64_t{1} << 53;

} // namespace

TSoundDecoder::TSoundDecoder() = default;

TSoundDecoder::~TSoundDecoder() {
    TSoundDecoder::CloseFile();
}

void TSoundDecoder::CloseFile() {
    Converter.reset();
    Decoder = nullptr; // freed with the probe's other decoders
    Stream = -1;
    TCustomAVProbe::CloseFile();
}

bool TSoundDecoder::Open(const TSoundSource& source, const TPcmFormat& output) {
    const std::filesystem::path& fileName = source.File;
    if (!LoadFile(fileName, source.FormatName))
        return false;
    // The same choice as the engine's, so that what is shown and measured is what is converted.
    Stream = ChosenAudioStream(*FormatContext(), source.Stream);
    if (Stream < 0) {
        SetLastError(FormatText("%s: no sound stream", fileName.c_str()));
        return false;
    }
    if (!StreamDecoderOpen(Stream)) {
        SetLastError(UndecodableSoundText(fileName.string(),
                                          FormatContext()->streams[Stream]->codecpar->codec_id));
        return false;
    }
    Decoder = StreamDecoder(Stream);
    AVFormatContext* context = FormatContext();
    for (unsigned i = 0; i < context->nb_streams; ++i)
        context->streams[i]->discard =
            static_cast<int>(i) == Stream ? AVDISCARD_DEFAULT : AVDISCARD_ALL;
    OutputFormat = output;
    if (OutputFormat.SampleRateHz <= 0)
        OutputFormat.SampleRateHz = Decoder->sample_rate;
    if (OutputFormat.Channels <= 0)
        OutputFormat.Channels = Decoder->ch_layout.nb_channels;
    if (OutputFormat.SampleRateHz <= 0 || OutputFormat.Channels <= 0) {
        SetLastError(FormatText("%s: the sound has no rate or channels", fileName.c_str()));
        return false;
    }
    Packet.reset(ff::av_packet_alloc());
    Frame.reset(ff::av_frame_alloc());
    if (!Packet || !Frame)
        throw std::bad_alloc();
    Draining = false;
    NextUs = 0;
    return true;
}

int TSoundDecoder::BytesPerFrame() const {
    return ff::av_get_bytes_per_sample(OutputFormat.SampleFormat) * OutputFormat.Channels;
}

bool TSoundDecoder::SeekTo(int64_t timeUs) {
    if (!Decoder)
        return false;
    const AVStream* stream = FormatContext()->streams[Stream];
    int64_t target =
        ff::av_rescale_q(std::max<int64_t>(timeUs, 0), Microseconds, stream->time_base);
    const int64_t start = stream->start_time == AV_NOPTS_VALUE ? 0 : stream->start_time;
    if (__builtin_add_overflow(target, start, &target) ||
        ff::av_seek_frame(FormatContext(), Stream, target, AVSEEK_FLAG_BACKWARD) < 0) {
        Fail(llError, FormatText("could not seek to position %0.3f", timeUs / 1000000.0));
        return false;
    }
    ff::avcodec_flush_buffers(Decoder);
    Converter.reset(); // what it held belongs before the seek
    Draining = false;
    NextUs = timeUs;
    return true;
}

int64_t TSoundDecoder::FrameUs(const AVFrame* frame) const {
    const AVStream* stream = FormatContext()->streams[Stream];
    const int64_t start = stream->start_time == AV_NOPTS_VALUE ? 0 : stream->start_time;
    int64_t time = 0;
    if (frame->best_effort_timestamp == AV_NOPTS_VALUE ||
        __builtin_sub_overflow(frame->best_effort_timestamp, start, &time))
        return NextUs;
    const int64_t timeUs = ff::av_rescale_q(time, stream->time_base, Microseconds);
    return timeUs > LatestUs || timeUs < -LatestUs ? NextUs : timeUs;
}

TSoundDecoder::TRead TSoundDecoder::Read() {
    if (!Decoder)
        return TRead::Failed;
    for (;;) {
        const TRead received = Receive();
        if (received != TRead::End)
            return received;
        if (Draining)
            return Flush();
        // The decoder wants more: the next packet of the stream, or the drain at the end.
        const int read = ff::av_read_frame(FormatContext(), Packet.get());
        if (read == AVERROR_EOF) {
            Draining = true;
            ff::avcodec_send_packet(Decoder, nullptr);
            continue;
        }
        if (read < 0) {
            Fail(llError, FormatText("reading the sound: %s", ErrorText(read).c_str()));
            return TRead::Failed;
        }
        // A damaged packet is the decoder's to skip, as a player would.
        if (Packet->stream_index == Stream)
            ff::avcodec_send_packet(Decoder, Packet.get());
        ff::av_packet_unref(Packet.get());
    }
}

// Samples when the decoder had a frame; End when it wants a packet (or, draining, is empty).
TSoundDecoder::TRead TSoundDecoder::Receive() {
    for (;;) {
        const int received = ff::avcodec_receive_frame(Decoder, Frame.get());
        if (received == AVERROR(EAGAIN) || received == AVERROR_EOF)
            return TRead::End;
        if (received < 0)
            continue; // a frame the decoder could not make; the next may do
        const bool converted = Convert(Frame.get());
        ff::av_frame_unref(Frame.get());
        if (!converted)
            return TRead::Failed;
        if (ConvertedFrames > 0)
            return TRead::Samples;
    }
}

// The samples the converter still holds once the decoder is empty.
TSoundDecoder::TRead TSoundDecoder::Flush() {
    if (!Converter)
        return TRead::End;
    if (!Convert(nullptr))
        return TRead::Failed;
    Converter.reset();
    return ConvertedFrames > 0 ? TRead::Samples : TRead::End;
}

bool TSoundDecoder::MakeConverter(const AVFrame* frame) {
    AVChannelLayout layout;
    ff::av_channel_layout_default(&layout, OutputFormat.Channels);
    SwrContext* made = nullptr;
    // The library's prototype takes the input layout without const; it only reads it.
    AVChannelLayout* input = const_cast<AVChannelLayout*>(&frame->ch_layout);
    const int result = ff::swr_alloc_set_opts2(
        &made, &layout, OutputFormat.SampleFormat, OutputFormat.SampleRateHz, input,
        static_cast<AVSampleFormat>(frame->format), frame->sample_rate, 0, nullptr);
    Converter.reset(made);
    ConverterInput = InputOf(*frame);
    if (result < 0 || ff::swr_init(Converter.get()) < 0) {
        Fail(llError, "the sound cannot be converted");
        Converter.reset();
        return false;
    }
    return true;
}

TSoundDecoder::TConverterInput TSoundDecoder::InputOf(const AVFrame& frame) {
    const bool native = frame.ch_layout.order == AV_CHANNEL_ORDER_NATIVE;
    return {frame.format, frame.sample_rate, frame.ch_layout.nb_channels, frame.ch_layout.order,
            native ? frame.ch_layout.u.mask : 0};
}

// Converts a frame; with none, lets out what the converter holds back.
bool TSoundDecoder::Convert(const AVFrame* frame) {
    // The little a replaced converter held back is lost with it: the stream broke there anyway.
    if (frame && Converter && !(InputOf(*frame) == ConverterInput))
        Converter.reset();
    if (!Converter && !MakeConverter(frame))
        return false;
    // A resampler holds back a little of its input: what comes out now began that much earlier.
    const int64_t heldUs = ff::swr_get_delay(Converter.get(), 1000000);
    const int inFrames = frame ? frame->nb_samples : 0;
    const int capacity = ff::swr_get_out_samples(Converter.get(), inFrames);
    Converted.resize(static_cast<std::size_t>(std::max(capacity, 0)) * BytesPerFrame());
    uint8_t* out = Converted.data();
    ConvertedFrames = ff::swr_convert(
        Converter.get(), &out, capacity,
        frame ? const_cast<const uint8_t**>(frame->extended_data) : nullptr, inFrames);
    if (ConvertedFrames < 0) {
        Fail(llError, "the sound cannot be converted");
        return false;
    }
    const int64_t inputUs = frame ? FrameUs(frame) : NextUs;
    ConvertedUs = inputUs - heldUs;
    if (frame)
        NextUs = inputUs + ff::av_rescale(inFrames, 1000000, std::max(frame->sample_rate, 1));
    return true;
}
