// Cover art on an output: the picture attached to the input whose sound the output takes,
// carried in the form the output's container gives a cover, never as moving video.
#include "engine/FFmpeg.h"

#include "ffbind/FFmpegLogger.h"

#include <cstring>
#include <string>

namespace {

enum TCoverCarriage { ccNone, ccPictureStream, ccPictureComment };

// How a container holds a cover in this library generation: a picture stream (ID3v2 APIC,
// iTunes covr, FLAC PICTURE), the METADATA_BLOCK_PICTURE comment of Ogg (which its muxer does
// not write from a picture stream), or not at all. The asf muxer keeps a picture only as a
// one-frame video stream that nothing reads back as a cover; wav, au, adts, ac3, mp2 and rm
// have no place for one.
TCoverCarriage CarriageOf(const AVOutputFormat* format) {
    for (const char* name : {"mp3", "ipod", "mp4", "mov", "flac"})
        if (std::strcmp(format->name, name) == 0)
            return ccPictureStream;
    for (const char* name : {"ogg", "oga", "opus", "spx"})
        if (std::strcmp(format->name, name) == 0)
            return ccPictureComment;
    return ccNone;
}

// The picture codecs every cover writer above knows (by mime type).
const char* MimeTypeOf(AVCodecID id) {
    switch (id) {
    case AV_CODEC_ID_PNG:
        return "image/png";
    case AV_CODEC_ID_MJPEG:
        return "image/jpeg";
    default:
        return nullptr;
    }
}

void PutBigEndian32(std::string& block, uint32_t value) {
    for (int shift = 24; shift >= 0; shift -= 8)
        block += static_cast<char>((value >> shift) & 0xff);
}

// The FLAC picture block of a front cover, base64-coded as the Vorbis comment carries it.
std::string PictureBlockComment(const AVStream& cover, const char* mimeType) {
    constexpr uint32_t FrontCover = 3;
    const AVPacket& picture = cover.attached_pic;
    std::string block;
    PutBigEndian32(block, FrontCover);
    PutBigEndian32(block, static_cast<uint32_t>(std::strlen(mimeType)));
    block += mimeType;
    PutBigEndian32(block, 0); // no description
    PutBigEndian32(block, static_cast<uint32_t>(cover.codecpar->width));
    PutBigEndian32(block, static_cast<uint32_t>(cover.codecpar->height));
    PutBigEndian32(block, 24); // colour depth in bits
    PutBigEndian32(block, 0);  // not an indexed-colour picture
    PutBigEndian32(block, static_cast<uint32_t>(picture.size));
    block.append(reinterpret_cast<const char*>(picture.data), picture.size);
    std::string text(AV_BASE64_SIZE(block.size()), '\0');
    if (!ff::av_base64_encode(text.data(), static_cast<int>(text.size()),
                              reinterpret_cast<const uint8_t*>(block.data()),
                              static_cast<int>(block.size())))
        return {};
    text.resize(std::strlen(text.c_str()));
    return text;
}

} // namespace

// The cover of the input that feeds the output's first sound stream; none without one.
const AVStream* TCustomFFmpeg::FindInputCover(int OutputIndex) const {
    for (const auto& ost : OutputStreams) {
        if (ost->FileIndex != OutputIndex || ost->St->codecpar->codec_type != AVMEDIA_TYPE_AUDIO)
            continue;
        const AVFormatContext* input = InputFiles[InputStreams[ost->SourceIndex]->FileIndex];
        for (unsigned s = 0; s < input->nb_streams; ++s) {
            const AVStream* stream = input->streams[s];
            if ((stream->disposition & AV_DISPOSITION_ATTACHED_PIC) &&
                stream->attached_pic.size > 0)
                return stream;
        }
        return nullptr;
    }
    return nullptr;
}

void TCustomFFmpeg::AddCoverArt(int OutputIndex) {
    const AVStream* cover = CoverArt ? FindInputCover(OutputIndex) : nullptr;
    if (!cover)
        return;
    AVFormatContext* output = OutputFiles[OutputIndex];
    const TCoverCarriage carriage = CarriageOf(output->oformat);
    const char* mimeType = MimeTypeOf(cover->codecpar->codec_id);
    if (carriage == ccNone || !mimeType) {
        GetLogger()->LogF(
            this, llVerbose, "The cover is left out of output file #%d (%s).", OutputIndex,
            carriage == ccNone ? "its format holds none" : "not a png or jpeg picture");
        return;
    }
    if (carriage == ccPictureComment) {
        for (unsigned s = 0; s < output->nb_streams; ++s)
            if (output->streams[s]->codecpar->codec_type == AVMEDIA_TYPE_AUDIO) {
                ff::av_dict_set(&output->streams[s]->metadata, "METADATA_BLOCK_PICTURE",
                                PictureBlockComment(*cover, mimeType).c_str(), 0);
                break;
            }
        return;
    }
    TOutputFileSetup& setup = OutputFileSetup(OutputIndex);
    AVStream* stream = ff::avformat_new_stream(output, nullptr);
    PacketPtr packet(ff::av_packet_clone(&cover->attached_pic));
    if (!stream || !packet || ff::avcodec_parameters_copy(stream->codecpar, cover->codecpar) < 0)
        throw FFmpegException("Could not alloc stream");
    stream->codecpar->codec_tag = 0;
    stream->disposition = AV_DISPOSITION_ATTACHED_PIC;
    stream->time_base = cover->time_base;
    packet->stream_index = stream->index;
    packet->pts = packet->dts = 0;
    setup.CoverStream = stream;
    setup.CoverPacket = std::move(packet);
}

// The cover goes first, so muxers that hold the sound back until every picture has come
// (mp3, flac) need not wait.
void TCustomFFmpeg::WriteCoverArt(int OutputIndex) {
    TOutputFileSetup& setup = OutputFileSetup(OutputIndex);
    if (!setup.CoverPacket)
        return;
    if (ff::av_write_frame(OutputFiles[OutputIndex], setup.CoverPacket.get()) < 0)
        GetLogger()->LogF(this, llWarning, "Could not write the cover of output file #%d.",
                          OutputIndex);
}
