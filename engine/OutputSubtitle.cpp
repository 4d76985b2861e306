// The subtitle output path's preparation: the encoder's style header.
#include "engine/OutputSubtitle.h"

#include "engine/EngineErrors.h"
#include "ffbind/FFmpegLoader.h"

#include <cstring>
#include <mutex>

namespace {

// Copies a decoder's style header into an encoder.
void CopySubtitleHeader(AVCodecContext* enc, const AVCodecContext* dec) {
    if (!dec->subtitle_header || dec->subtitle_header_size <= 0)
        return;
    ff::av_freep(&enc->subtitle_header);
    enc->subtitle_header = static_cast<uint8_t*>(ff::av_mallocz(dec->subtitle_header_size + 1));
    if (!enc->subtitle_header)
        throw FFmpegException("Subtitle encoding failed");
    std::memcpy(enc->subtitle_header, dec->subtitle_header, dec->subtitle_header_size);
    enc->subtitle_header_size = dec->subtitle_header_size;
}

} // namespace

void PrepareSubtitleOutput(TOutputStream& ost, const TInputStream& ist) {
    // Subtitle times are handed over in microseconds.
    if (ost.Enc->time_base.num <= 0 || ost.Enc->time_base.den <= 0)
        ost.Enc->time_base = AV_TIME_BASE_Q;
    if (ist.Dec && ist.Dec->subtitle_header) {
        CopySubtitleHeader(ost.Enc, ist.Dec);
        return;
    }
    // The header is made when a decoder opens: open a scratch one of the input's codec.
    const AVCodec* codec = ff::avcodec_find_decoder(ist.St->codecpar->codec_id);
    if (!codec)
        return;
    CodecContextPtr scratch(ff::avcodec_alloc_context3(codec));
    if (!scratch || ff::avcodec_parameters_to_context(scratch.get(), ist.St->codecpar) < 0)
        return;
    int opened;
    {
        std::lock_guard guard(CodecLock());
        opened = ff::avcodec_open2(scratch.get(), codec, nullptr);
    }
    if (opened >= 0)
        CopySubtitleHeader(ost.Enc, scratch.get());
    std::lock_guard guard(CodecLock());
    scratch.reset();
}
