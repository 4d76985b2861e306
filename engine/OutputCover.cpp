// Cover art on an output: the picture attached to the input whose sound the output takes,
// carried in the form the output's container gives a cover, never as moving video.
#include "engine/TranscodeRun.h"

#include "ffbind/FFmpegLoader.h"
#include "ffbind/FFmpegLogger.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <iterator>
#include <mutex>
#include <new>
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

// The picture codecs every cover writer above knows (by mime type); others are re-encoded.
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

// The picture of a cover, decoded; none when it cannot be.
FramePtr DecodedCover(const AVStream& cover) {
    const AVCodec* codec = ff::avcodec_find_decoder(cover.codecpar->codec_id);
    CodecContextPtr decoder(ff::avcodec_alloc_context3(codec));
    FramePtr frame(ff::av_frame_alloc());
    if (!codec || !decoder || !frame ||
        ff::avcodec_parameters_to_context(decoder.get(), cover.codecpar) < 0)
        return nullptr;
    {
        std::lock_guard lock(CodecLock());
        if (ff::avcodec_open2(decoder.get(), codec, nullptr) < 0)
            return nullptr;
    }
    ff::avcodec_send_packet(decoder.get(), &cover.attached_pic);
    ff::avcodec_send_packet(decoder.get(), nullptr);
    if (ff::avcodec_receive_frame(decoder.get(), frame.get()) < 0)
        return nullptr;
    return frame;
}

// The picture in another pixel format and size.
FramePtr Converted(const AVFrame& picture, AVPixelFormat format, int width, int height) {
    FramePtr converted(ff::av_frame_alloc());
    if (!converted)
        return nullptr;
    converted->format = format;
    converted->width = width;
    converted->height = height;
    SwsPtr scaler(ff::sws_getContext(picture.width, picture.height,
                                     static_cast<AVPixelFormat>(picture.format), width, height,
                                     format, SWS_BICUBIC, nullptr, nullptr, nullptr));
    if (!scaler || ff::av_frame_get_buffer(converted.get(), 0) < 0 ||
        ff::sws_scale(scaler.get(), picture.data, picture.linesize, 0, picture.height,
                      converted->data, converted->linesize) != height)
        return nullptr;
    return converted;
}

// The size that fits a picture into a square of maxPixels, its aspect kept; its own when it
// fits already.
std::pair<int, int> FittedSize(int width, int height, int maxPixels) {
    if (maxPixels <= 0 || (width <= maxPixels && height <= maxPixels))
        return {width, height};
    const double scale = static_cast<double>(maxPixels) / std::max(width, height);
    return {std::max(1, static_cast<int>(std::lround(width * scale))),
            std::max(1, static_cast<int>(std::lround(height * scale)))};
}

// A cover re-encoded: in another picture codec (bmp, gif, tiff, webp...) as png, which every
// cover writer takes, keeping any transparency; one larger than maxPixels scaled down to fit
// and as JPEG, which devices show. parameters receive the new stream's. None when it cannot be
// decoded or encoded.
PacketPtr ReencodedCover(const AVStream& cover, int maxPixels, AVCodecParameters* parameters) {
    const FramePtr decoded = DecodedCover(cover);
    if (!decoded)
        return nullptr;
    const auto [width, height] = FittedSize(decoded->width, decoded->height, maxPixels);
    const bool jpeg = width != decoded->width || height != decoded->height;
    const FramePtr picture =
        Converted(*decoded, jpeg ? AV_PIX_FMT_YUVJ420P : AV_PIX_FMT_RGBA, width, height);
    const AVCodec* codec = ff::avcodec_find_encoder(jpeg ? AV_CODEC_ID_MJPEG : AV_CODEC_ID_PNG);
    CodecContextPtr encoder(ff::avcodec_alloc_context3(codec));
    PacketPtr packet(ff::av_packet_alloc());
    if (!picture || !codec || !encoder || !packet)
        return nullptr;
    encoder->width = picture->width;
    encoder->height = picture->height;
    encoder->pix_fmt = static_cast<AVPixelFormat>(picture->format);
    encoder->time_base = AVRational{1, 1};
    if (jpeg) {
        // A fixed quality where a device's cover needs no more (qscale 3 of 2..31).
        encoder->flags |= AV_CODEC_FLAG_QSCALE;
        encoder->global_quality = picture->quality = 3 * FF_QP2LAMBDA;
    }
    {
        std::lock_guard lock(CodecLock());
        if (ff::avcodec_open2(encoder.get(), codec, nullptr) < 0)
            return nullptr;
    }
    if (ff::avcodec_send_frame(encoder.get(), picture.get()) < 0 ||
        ff::avcodec_send_frame(encoder.get(), nullptr) < 0 ||
        ff::avcodec_receive_packet(encoder.get(), packet.get()) < 0 ||
        ff::avcodec_parameters_from_context(parameters, encoder.get()) < 0)
        return nullptr;
    return packet;
}

void PutBigEndian32(std::string& block, uint32_t value) {
    for (int shift = 24; shift >= 0; shift -= 8)
        block += static_cast<char>((value >> shift) & 0xff);
}

// The picture types of ID3v2 and FLAC by the names their demuxers give them (the picture
// stream's "comment"), numbered as both number them.
constexpr const char* PictureTypes[] = {"Other",
                                        "32x32 pixels 'file icon'",
                                        "Other file icon",
                                        "Cover (front)",
                                        "Cover (back)",
                                        "Leaflet page",
                                        "Media (e.g. label side of CD)",
                                        "Lead artist/lead performer/soloist",
                                        "Artist/performer",
                                        "Conductor",
                                        "Band/Orchestra",
                                        "Composer",
                                        "Lyricist/text writer",
                                        "Recording Location",
                                        "During recording",
                                        "During performance",
                                        "Movie/video screen capture",
                                        "A bright coloured fish",
                                        "Illustration",
                                        "Band/artist logotype",
                                        "Publisher/Studio logotype"};
constexpr uint32_t FrontCover = 3;

// The type of the input's picture; a front cover when it names none (an MPEG-4 cover is one).
uint32_t PictureTypeOf(const AVStream& cover) {
    const AVDictionaryEntry* comment = ff::av_dict_get(cover.metadata, "comment", nullptr, 0);
    for (uint32_t type = 0; comment && type < std::size(PictureTypes); ++type)
        if (std::strcmp(comment->value, PictureTypes[type]) == 0)
            return type;
    return FrontCover;
}

// The FLAC picture block of a cover, base64-coded as the Vorbis comment carries it.
std::string PictureBlockComment(const AVCodecParameters& parameters, const AVPacket& picture,
                                const char* mimeType, uint32_t pictureType) {
    std::string block;
    PutBigEndian32(block, pictureType);
    PutBigEndian32(block, static_cast<uint32_t>(std::strlen(mimeType)));
    block += mimeType;
    PutBigEndian32(block, 0); // no description
    PutBigEndian32(block, static_cast<uint32_t>(parameters.width));
    PutBigEndian32(block, static_cast<uint32_t>(parameters.height));
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
const AVStream* TTranscodeRun::FindInputCover(int OutputIndex) const {
    const TEngineRun& run = State;
    for (const auto& ost : run.OutputStreams) {
        if (ost->FileIndex != OutputIndex || ost->St->codecpar->codec_type != AVMEDIA_TYPE_AUDIO)
            continue;
        const AVFormatContext* input =
            Setup.InputFiles[run.InputStreams[ost->SourceIndex]->FileIndex];
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

void TTranscodeRun::AddCoverArt(int OutputIndex) {
    const AVStream* cover = Setup.Options.Choices.KeepCover ? FindInputCover(OutputIndex) : nullptr;
    if (!cover)
        return;
    AVFormatContext* output = Setup.OutputFiles[OutputIndex];
    const TCoverCarriage carriage = CarriageOf(output->oformat);
    if (carriage == ccNone) {
        GetLogger()->LogF(Link.LogSender(), llVerbose,
                          "The cover is left out of output file #%d: its format holds none.",
                          OutputIndex);
        return;
    }
    CodecParametersPtr parameters(ff::avcodec_parameters_alloc());
    if (!parameters || ff::avcodec_parameters_copy(parameters.get(), cover->codecpar) < 0)
        throw std::bad_alloc();
    const auto [width, height] = FittedSize(cover->codecpar->width, cover->codecpar->height,
                                            Setup.Options.Choices.CoverSizePixels);
    const bool asItIs = MimeTypeOf(cover->codecpar->codec_id) && width == cover->codecpar->width &&
                        height == cover->codecpar->height;
    PacketPtr picture(
        asItIs ? ff::av_packet_clone(&cover->attached_pic)
               : ReencodedCover(*cover, Setup.Options.Choices.CoverSizePixels, parameters.get())
                     .release());
    if (!picture) {
        GetLogger()->LogF(Link.LogSender(), llWarning,
                          "The cover is left out of output file #%d: it could not be "
                          "re-encoded.",
                          OutputIndex);
        return;
    }
    const char* mimeType = MimeTypeOf(parameters->codec_id);
    const uint32_t pictureType = PictureTypeOf(*cover);
    if (carriage == ccPictureComment) {
        for (unsigned s = 0; s < output->nb_streams; ++s)
            if (output->streams[s]->codecpar->codec_type == AVMEDIA_TYPE_AUDIO) {
                ff::av_dict_set(
                    &output->streams[s]->metadata, "METADATA_BLOCK_PICTURE",
                    PictureBlockComment(*parameters, *picture, mimeType, pictureType).c_str(), 0);
                break;
            }
        return;
    }
    AVStream* stream = ff::avformat_new_stream(output, nullptr);
    if (!stream || ff::avcodec_parameters_copy(stream->codecpar, parameters.get()) < 0)
        throw FFmpegException("Could not alloc stream");
    stream->codecpar->codec_tag = 0;
    stream->disposition = AV_DISPOSITION_ATTACHED_PIC;
    // The ID3v2 and FLAC muxers take the picture's type from its "comment", its description from
    // its "title".
    ff::av_dict_set(&stream->metadata, "comment", PictureTypes[pictureType], 0);
    if (const AVDictionaryEntry* title = ff::av_dict_get(cover->metadata, "title", nullptr, 0))
        ff::av_dict_set(&stream->metadata, "title", title->value, 0);
    stream->time_base = cover->time_base;
    picture->stream_index = stream->index;
    picture->pts = picture->dts = 0;
    State.CoverPackets.at(static_cast<std::size_t>(OutputIndex)) = std::move(picture);
}

// The cover goes first, so muxers that hold the sound back until every picture has come
// (mp3, flac) need not wait.
void TTranscodeRun::WriteCoverArt(int OutputIndex) {
    const PacketPtr& cover = State.CoverPackets.at(static_cast<std::size_t>(OutputIndex));
    if (!cover)
        return;
    if (ff::av_write_frame(Setup.OutputFiles[OutputIndex], cover.get()) < 0)
        GetLogger()->LogF(Link.LogSender(), llWarning,
                          "Could not write the cover of output file #%d.", OutputIndex);
}
