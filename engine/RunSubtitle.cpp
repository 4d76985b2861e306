// The run's subtitle output path: re-encodes decoded subtitles with their display times.
#include "engine/TranscodeRun.h"
#include "ffbind/FFmpegLogger.h"

#include <cstring>
#include <mutex>
#include <vector>

namespace {

// The encoding buffer shared by every engine of the process, used under its lock.
constexpr int SubtitleBufferSize = 1048576;

struct TSubtitleBuffer {
    std::mutex Lock;
    std::vector<uint8_t> Data;
};

TSubtitleBuffer& SharedSubtitleBuffer() {
    static TSubtitleBuffer buffer;
    return buffer;
}

} // namespace

void TTranscodeRun::OutputSubtitle(AVFormatContext* Output, TOutputStream& Ost, TInputStream& Ist,
                                   AVSubtitle* Subtitle, int64_t PacketPts) {
    if (PacketPts == AV_NOPTS_VALUE) {
        if (Setup.Options.ExitOnError)
            throw FFmpegException("Subtitle packets must have a pts");
        GetLogger()->Log(Link.LogSender(), llError, "Subtitle packets must have a pts");
        return;
    }
    AVCodecContext* enc = Ost.Enc;
    TSubtitleBuffer& buffer = SharedSubtitleBuffer();
    std::lock_guard<std::mutex> guard(buffer.Lock);
    if (buffer.Data.empty())
        buffer.Data.resize(SubtitleBufferSize);
    // DVB subtitles need a second, empty packet that clears the screen at the end time.
    const bool dvb = enc->codec_id == AV_CODEC_ID_DVB_SUBTITLE;
    const int packets = dvb ? 2 : 1;
    const unsigned rects = Subtitle->num_rects;
    const AVRational milliseconds = {1, 1000};
    Subtitle->pts = ff::av_rescale_q(PacketPts, Ist.St->time_base, AV_TIME_BASE_Q) +
                    ff::av_rescale_q(Subtitle->start_display_time, milliseconds, AV_TIME_BASE_Q);
    Subtitle->end_display_time -= Subtitle->start_display_time;
    Subtitle->start_display_time = 0;
    PacketPtr packet(ff::av_packet_alloc());
    if (!packet)
        throw FFmpegException("Subtitle encoding failed");
    for (int k = 0; k < packets; ++k) {
        if (k == 1)
            Subtitle->num_rects = 0;
        const int size =
            ff::avcodec_encode_subtitle(enc, buffer.Data.data(), SubtitleBufferSize, Subtitle);
        Subtitle->num_rects = rects; // the caller frees every rectangle
        if (size < 0)
            throw FFmpegException("Subtitle encoding failed");
        if (ff::av_new_packet(packet.get(), size) < 0)
            throw FFmpegException("Subtitle encoding failed");
        std::memcpy(packet->data, buffer.Data.data(), static_cast<std::size_t>(size));
        packet->stream_index = Ost.St->index;
        packet->pts = ff::av_rescale_q(Subtitle->pts, AV_TIME_BASE_Q, Ost.St->time_base);
        packet->duration =
            ff::av_rescale_q(Subtitle->end_display_time, milliseconds, Ost.St->time_base);
        if (dvb)
            packet->pts +=
                ff::av_rescale_q(k == 0 ? Subtitle->start_display_time : Subtitle->end_display_time,
                                 milliseconds, Ost.St->time_base);
        packet->dts = packet->pts;
        WriteOutputPacket(Output, Ost, packet.get());
        ff::av_packet_unref(packet.get());
    }
}
