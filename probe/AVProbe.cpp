// Seeking and picture grabbing of the media probe.
#include "AVProbe.h"

#include "ffbind/FFUtils.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>
#include <strings.h>

namespace {

constexpr AVRational Microseconds = {1, 1000000};

bool IsImage2Format(const AVFormatContext* context) {
    return strcasecmp(context->iformat->name, "image2") == 0;
}

} // namespace

TAVProbe::TAVProbe() = default;

TAVProbe::~TAVProbe() {
    TAVProbe::CloseFile();
}

void TAVProbe::CloseFile() {
    IsImage2 = false;
    Bitmap.SetSize(0, 0);
    LastBitmap.SetSize(0, 0);
    ResetPictureConverter(Converter);
    DecoderContext = nullptr; // freed with the other stream decoders
    HasTarget = false;
    TCustomAVProbe::CloseFile();
}

bool TAVProbe::Seek(int streamIndex, int64_t timeUs) {
    if (!CheckFileLoaded())
        return false;
    if (IsAttached()) {
        Fail(llWarning, "file cannot be seeked, handle is readonly.");
        throw std::runtime_error(LastError());
    }
    AVFormatContext* context = FormatContext();
    if (IsImage2Format(context)) {
        ff::av_log(nullptr, AV_LOG_INFO, "\"image2\" format cannot to be seeked.\n");
        return true;
    }
    if (GrabsCover(streamIndex)) {
        HasTarget = false;
        return true;
    }
    int stream = streamIndex;
    if (stream < 0) {
        stream = FirstVideoStream() >= 0   ? FirstVideoStream()
                 : FirstAudioStream() >= 0 ? FirstAudioStream()
                                           : FirstSubtitleStream();
    } else if (stream >= StreamCount()) {
        Fail(llError, FormatText("stream index #%d is invalid.", stream));
        return false;
    }
    int64_t ts = std::max<int64_t>(timeUs, 0);
    AVRational timeBase = Microseconds;
    int64_t offset = context->start_time;
    if (stream >= 0) {
        timeBase = context->streams[stream]->time_base;
        ts = ff::av_rescale_q(ts, Microseconds, timeBase);
        offset = context->streams[stream]->start_time;
    }
    if (offset != AV_NOPTS_VALUE)
        ts += offset;
    if (DecoderContext)
        ff::avcodec_flush_buffers(DecoderContext);
    HasTarget = false;
    int result;
    if (timeUs > 0) {
        result = ff::av_seek_frame(context, stream, ts, SeekFlags | AVSEEK_FLAG_BACKWARD);
    } else {
        result = ff::av_seek_frame(context, stream, 0, SeekFlags | AVSEEK_FLAG_BACKWARD);
        if (result < 0)
            result = ff::av_seek_frame(context, stream, ts, SeekFlags);
    }
    if (result < 0) {
        Fail(llError, FormatText("could not seek to position %0.3f", timeUs / 1000000.0));
        return false;
    }
    if (timeUs > 0) {
        HasTarget = true;
        Target = ts;
        TargetTimeBase = timeBase;
    }
    return true;
}

void TAVProbe::EmptyBitmap(TLogLevel level, const std::string& text) {
    Fail(level, text);
    Bitmap.SetSize(0, 0);
}

void TAVProbe::PaintBlack() {
    std::fill_n(Bitmap.Data(), static_cast<std::size_t>(Bitmap.Stride()) * Bitmap.Height(), 0);
}

// The stream a grab reads, or -1 after emptying the bitmap with the reason.
int TAVProbe::VideoStreamToGrab(int streamIndex) {
    if (!FormatContext()) {
        EmptyBitmap(llError, "file not loaded.");
        return -1;
    }
    if (streamIndex < 0) {
        if (GrabsCover(streamIndex))
            return FirstCoverStream();
        if (FirstVideoStream() < 0)
            EmptyBitmap(llError, "no video stream.");
        return FirstVideoStream();
    }
    if (streamIndex >= StreamCount()) {
        EmptyBitmap(llError, FormatText("stream index #%d is invalid.", streamIndex));
        return -1;
    }
    if (FormatContext()->streams[streamIndex]->codecpar->codec_type != AVMEDIA_TYPE_VIDEO) {
        EmptyBitmap(llError, FormatText("stream #%d is not video stream.", streamIndex));
        return -1;
    }
    return streamIndex;
}

// Whether a grab of the stream (negative: automatic) shows a cover.
bool TAVProbe::GrabsCover(int streamIndex) const {
    if (streamIndex < 0)
        return FirstVideoStream() < 0 && FirstCoverStream() >= 0;
    return IsCoverStream(streamIndex);
}

// Makes the stream's decoder the current one; false after emptying the bitmap with the reason.
bool TAVProbe::PrepareDecoder(int index) {
    AVCodecContext* decoder = StreamDecoder(index);
    if (decoder->width <= 0 || decoder->height <= 0) {
        EmptyBitmap(llError, "frame size of codec is invalid.");
        // The stored text has no full stop, unlike the logged one.
        SetLastError("frame size of codec is invalid");
        return false;
    }
    if (!StreamDecoderOpen(index)) {
        const AVCodecID id = FormatContext()->streams[index]->codecpar->codec_id;
        if (!ff::avcodec_find_decoder(id))
            EmptyBitmap(llError, FormatText("Unsupported codec (id=%d) for input file stream #%d",
                                            static_cast<int>(id), index));
        else
            EmptyBitmap(llError,
                        FormatText("Error while opening codec for input file stream #%d", index));
        return false;
    }
    if (DecoderContext != decoder) {
        // It may hold pictures of an earlier read position.
        ff::avcodec_flush_buffers(decoder);
        DecoderContext = decoder;
    }
    return true;
}

const TBitmap24& TAVProbe::GetFrameBitmap(int streamIndex) {
    if (IsAttached()) {
        Fail(llWarning, "frame cannot be read, handle is readonly.");
        throw std::runtime_error(LastError());
    }
    const int index = VideoStreamToGrab(streamIndex);
    if (index < 0)
        return Bitmap;
    if (IsImage2 && IsImage2Format(FormatContext())) {
        // A still picture: the one decoded already.
        Bitmap = LastBitmap;
        return Bitmap;
    }
    if (!PrepareDecoder(index))
        return Bitmap;
    Bitmap.SetSize(DecoderContext->width, DecoderContext->height);
    if (!Packet)
        Packet.reset(ff::av_packet_alloc());
    if (!Frame)
        Frame.reset(ff::av_frame_alloc());
    if (!Packet || !Frame)
        throw std::bad_alloc();
    if (IsCoverStream(index))
        DecodeCover(index);
    else
        DecodeToPicture(index);
    return Bitmap;
}

// A cover is the one picture the demuxer keeps with the stream, not a packet to read.
void TAVProbe::DecodeCover(int index) {
    ff::avcodec_flush_buffers(DecoderContext);
    ff::avcodec_send_packet(DecoderContext, &FormatContext()->streams[index]->attached_pic);
    ff::avcodec_send_packet(DecoderContext, nullptr);
    HasTarget = false;
    const TGrabResult result = ReceivePictures(index);
    // Drained: the next grab needs the decoder open for packets again.
    ff::avcodec_flush_buffers(DecoderContext);
    if (result == grMore) {
        Fail(llError, FormatText("could not decode the cover of stream #%d.", index));
        PaintBlack();
    }
}

// Reads and decodes until a picture is shown, the scaler fails or the stream ends (the bitmap
// black then).
void TAVProbe::DecodeToPicture(int index) {
    AVFormatContext* context = FormatContext();
    PixelsPassed = 0;
    for (;;) {
        // Pictures the decoder holds from the last packet come before any new packet.
        if (ReceivePictures(index) != grMore)
            return;
        if (ff::av_read_frame(context, Packet.get()) < 0)
            break;
        if (Packet->stream_index == index) {
            // Pictures shown before the sought time that no other picture refers to need not
            // be decoded at all.
            DecoderContext->skip_frame =
                EndsBeforeTarget(Packet.get(), FormatContext()->streams[index]) ? AVDISCARD_NONREF
                                                                                : AVDISCARD_DEFAULT;
            ff::avcodec_send_packet(DecoderContext, Packet.get()); // a damaged packet is skipped
        }
        ff::av_packet_unref(Packet.get());
    }
    // The end of the input: the decoder still holds its delayed pictures.
    ff::avcodec_send_packet(DecoderContext, nullptr);
    if (ReceivePictures(index) != grMore)
        return;
    Fail(llDebug, "stream eof reached.");
    PaintBlack();
}

TAVProbe::TGrabResult TAVProbe::ReceivePictures(int index) {
    while (ff::avcodec_receive_frame(DecoderContext, Frame.get()) >= 0) {
        // Once the budget is spent, the picture reached stands in for the one asked.
        const bool wanted = IsWanted(Frame.get(), FormatContext()->streams[index]) ||
                            PixelsPassed >= ForwardDecodeBudgetPixels;
        PixelsPassed += int64_t{Frame->width} * Frame->height;
        const bool shown = wanted && ShowPicture(Frame.get());
        ff::av_frame_unref(Frame.get());
        if (wanted)
            return shown ? grShown : grFailed;
    }
    return grMore;
}

// Whether a picture of the stream starting at time with duration (0 when unknown) is shown
// only before the sought time.
bool TAVProbe::EndsBeforeTarget(int64_t time, int64_t duration, const AVStream* stream) const {
    if (!HasTarget || time == AV_NOPTS_VALUE)
        return false;
    const AVRational rate =
        stream->avg_frame_rate.num ? stream->avg_frame_rate : stream->r_frame_rate;
    if (duration <= 0 && rate.num > 0 && rate.den > 0)
        duration = ff::av_rescale_q(1, av_inv_q(rate), stream->time_base);
    return ff::av_compare_ts(time + std::max<int64_t>(duration, 0), stream->time_base, Target,
                             TargetTimeBase) <= 0 &&
           ff::av_compare_ts(time, stream->time_base, Target, TargetTimeBase) < 0;
}

bool TAVProbe::EndsBeforeTarget(const AVPacket* packet, const AVStream* stream) const {
    return EndsBeforeTarget(packet->pts, packet->duration, stream);
}

// After a seek, pictures that end before the sought time are passed over.
bool TAVProbe::IsWanted(const AVFrame* frame, const AVStream* stream) const {
    return !EndsBeforeTarget(frame->best_effort_timestamp, frame->pkt_duration, stream);
}

bool TAVProbe::ShowPicture(const AVFrame* frame) {
    if (!ConvertPicture(Converter, frame->data, frame->linesize,
                        static_cast<AVPixelFormat>(frame->format), frame->height, frame->width)) {
        Fail(llError, "Cannot initialize the toRGB conversion context");
        PaintBlack();
        return false;
    }
    // The converter keeps our previous bitmap to convert into next time.
    std::swap(Bitmap, *Converter.Bitmap);
    LastBitmap = Bitmap;
    IsImage2 = IsImage2Format(FormatContext());
    HasTarget = false;
    return true;
}
