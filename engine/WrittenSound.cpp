// The read-back of a written file's sound length.
#include "engine/WrittenSound.h"

#include "engine/StreamTypes.h"
#include "ffbind/FFUtils.h"
#include "ffbind/UnicodeProtocol.h"

#include <algorithm>

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

} // namespace

TWrittenSound ReadWrittenSound(const std::filesystem::path& file, int64_t packetDurationUs) {
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
    TPacketSpan span;
    int64_t unstamped = 0;
    while (ff::av_read_frame(context, packet.get()) >= 0) {
        const int64_t start = packet->pts != NoPts ? packet->pts : packet->dts;
        if (packet->stream_index == sound && start == NoPts)
            ++unstamped;
        else if (packet->stream_index == sound)
            span.Add(start, packet->duration, packet->size);
        ff::av_packet_unref(packet.get());
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
