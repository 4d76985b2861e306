// The read-back of a written file's sound length.
#include "engine/WrittenSound.h"

#include "engine/StreamTypes.h"
#include "ffbind/FFUtils.h"
#include "ffbind/UnicodeProtocol.h"

#include <algorithm>

int64_t WrittenSoundLengthUs(const std::filesystem::path& file, int64_t packetDurationUs) {
    TInputContext input = OpenInputContext(FileNameToURL(file), nullptr, nullptr, nullptr);
    if (!input)
        return 0;
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
        return 0;
    int64_t first = NoPts, end = NoPts, unstamped = 0;
    while (ff::av_read_frame(context, packet.get()) >= 0) {
        const int64_t start = packet->pts != NoPts ? packet->pts : packet->dts;
        if (packet->stream_index == sound && start == NoPts) {
            ++unstamped;
        } else if (packet->stream_index == sound) {
            first = first == NoPts ? start : std::min(first, start);
            end = std::max(end, start + std::max<int64_t>(packet->duration, 0));
        }
        ff::av_packet_unref(packet.get());
    }
    if (first == NoPts)
        return unstamped > 0 && packetDurationUs <= 0 ? -1 : unstamped * packetDurationUs;
    return ff::av_rescale_q(end - first, context->streams[sound]->time_base, AV_TIME_BASE_Q);
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
