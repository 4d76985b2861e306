// The read-back of a written file's sound length.
#include "engine/WrittenSound.h"

#include "engine/StreamTypes.h"
#include "ffbind/FFUtils.h"
#include "ffbind/UnicodeProtocol.h"

#include <algorithm>
#include <optional>

namespace {

// The span of a stream's stamped packets, in the stream's time base.
class TPacketSpan {
public:
    void Add(int64_t start, int64_t duration, int64_t sizeBytes) {
        // A packet without a duration ends where the next one starts.
        if (OpenStart != NoPts)
            End = std::max(End, std::max(start, OpenStart));
        First = First == NoPts ? start : std::min(First, start);
        End = std::max(End, start + std::max<int64_t>(duration, 0));
        OpenStart = duration > 0 ? NoPts : start;
        OpenSizeBytes = sizeBytes;
        if (OpenStart != NoPts)
            BytesBeforeOpen = BytesRead;
        BytesRead += sizeBytes;
    }
    bool Empty() const { return First == NoPts; }
    // Ticks from the first start to the last end; a last packet without a duration is given
    // the time the bytes before it took per byte (its own frame length when it stands alone).
    int64_t LengthTicks(int64_t frameTicks) const {
        int64_t end = End;
        if (OpenStart != NoPts)
            end = std::max(end,
                           OpenStart + (BytesBeforeOpen > 0 && OpenStart > First
                                            ? (OpenStart - First) * OpenSizeBytes / BytesBeforeOpen
                                            : frameTicks));
        return end - First;
    }

private:
    int64_t First = NoPts, End = NoPts, OpenStart = NoPts;
    int64_t OpenSizeBytes = 0, BytesBeforeOpen = 0, BytesRead = 0;
};

// Decodes a stream's packets until the first frame that holds sound.
class TFirstSound {
public:
    // Nothing to decode with when the codec has no decoder here (then nothing is told).
    explicit TFirstSound(const AVStream& stream) {
        const AVCodec* codec = ff::avcodec_find_decoder(stream.codecpar->codec_id);
        Context.reset(codec ? ff::avcodec_alloc_context3(codec) : nullptr);
        Frame.reset(ff::av_frame_alloc());
        if (!Context || !Frame ||
            ff::avcodec_parameters_to_context(Context.get(), stream.codecpar) < 0 ||
            ff::avcodec_open2(Context.get(), codec, nullptr) < 0)
            Context.reset();
    }
    bool CanTell() const { return Context != nullptr; }
    // The duration of the first frame of sound; -1 before one is found.
    int64_t FrameUs() const { return FirstFrameUs; }
    // Feeds a packet (null: the end); a packet the decoder refuses is passed over.
    void Feed(const AVPacket* packet) {
        if (!Context || Found() || ff::avcodec_send_packet(Context.get(), packet) < 0)
            return;
        while (!Found() && ff::avcodec_receive_frame(Context.get(), Frame.get()) >= 0) {
            if (Frame->nb_samples > 0 && Frame->sample_rate > 0)
                FirstFrameUs = int64_t{Frame->nb_samples} * 1000000 / Frame->sample_rate;
            ff::av_frame_unref(Frame.get());
        }
    }

private:
    bool Found() const { return FirstFrameUs >= 0; }
    CodecContextPtr Context;
    FramePtr Frame;
    int64_t FirstFrameUs = -1;
};

} // namespace

TWrittenSound ReadWrittenSound(const std::filesystem::path& file, int64_t packetDurationUs,
                               TReadBack readBack) {
    TWrittenSound result;
    TInputContext input =
        OpenInputContext(FileNameToURL(file), nullptr, nullptr, &result.OpenError, nullptr);
    if (!input)
        return result;
    AVFormatContext* context = input.Format.get();
    int sound = -1;
    for (unsigned i = 0; i < context->nb_streams; ++i) {
        if (sound < 0 && context->streams[i]->codecpar->codec_type == AVMEDIA_TYPE_AUDIO)
            sound = static_cast<int>(i);
        else
            context->streams[i]->discard = AVDISCARD_ALL;
    }
    PacketPtr packet(ff::av_packet_alloc());
    if (sound < 0 || !packet)
        return result;
    std::optional<TFirstSound> firstSound;
    if (readBack == rbDecodeSound)
        firstSound.emplace(*context->streams[sound]);
    TPacketSpan span;
    int64_t unstamped = 0;
    while (ff::av_read_frame(context, packet.get()) >= 0) {
        if (firstSound && packet->stream_index == sound)
            firstSound->Feed(packet.get());
        const int64_t start = packet->pts != NoPts ? packet->pts : packet->dts;
        if (packet->stream_index == sound && start == NoPts)
            ++unstamped;
        else if (packet->stream_index == sound)
            span.Add(start, packet->duration, packet->size);
        ff::av_packet_unref(packet.get());
    }
    if (firstSound && firstSound->CanTell()) {
        firstSound->Feed(nullptr);
        result.SoundDecoded = firstSound->FrameUs() >= 0;
        if (packetDurationUs <= 0)
            packetDurationUs = std::max<int64_t>(firstSound->FrameUs(), 0);
    }
    if (span.Empty()) {
        result.LengthUs =
            unstamped > 0 && packetDurationUs <= 0 ? -1 : unstamped * packetDurationUs;
        return result;
    }
    const AVRational timeBase = context->streams[sound]->time_base;
    const int64_t frameTicks = ff::av_rescale_q(packetDurationUs, AV_TIME_BASE_Q, timeBase);
    result.LengthUs = ff::av_rescale_q(span.LengthTicks(frameTicks), timeBase, AV_TIME_BASE_Q);
    return result;
}

bool WrittenLengthComplete(int64_t expectedUs, int64_t writtenUs) {
    const int64_t missingUs = expectedUs - writtenUs;
    return missingUs <= 1000000 || missingUs * 50 <= expectedUs;
}

std::string MinutesSecondsText(int64_t timeUs) {
    const int64_t seconds = (std::max<int64_t>(timeUs, 0) + 500000) / 1000000;
    return FormatText("%lld:%02lld", static_cast<long long>(seconds / 60),
                      static_cast<long long>(seconds % 60));
}
