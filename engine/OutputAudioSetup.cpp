// Choice of sample format, rate and channel layout from an audio encoder's lists.
#include "engine/OutputAudioSetup.h"

#include "ffbind/FFHandles.h"
#include "ffbind/FFmpegLoader.h"

#include <cstdlib>
#include <mutex>

namespace {

bool Lists(const AVSampleFormat* formats, AVSampleFormat format) {
    for (; formats && *formats != AV_SAMPLE_FMT_NONE; ++formats)
        if (*formats == format)
            return true;
    return false;
}

AVSampleFormat ChooseSampleFormat(const AVCodec* codec, AVSampleFormat preferred,
                                  AVSampleFormat current) {
    const AVSampleFormat* formats = codec->sample_fmts;
    const AVSampleFormat wanted = preferred != AV_SAMPLE_FMT_NONE ? preferred : current;
    if (!formats || formats[0] == AV_SAMPLE_FMT_NONE)
        return wanted != AV_SAMPLE_FMT_NONE ? wanted : AV_SAMPLE_FMT_S16;
    if (Lists(formats, wanted))
        return wanted;
    if (wanted != AV_SAMPLE_FMT_NONE) {
        const AVSampleFormat twin = ff::av_sample_fmt_is_planar(wanted)
                                        ? ff::av_get_packed_sample_fmt(wanted)
                                        : ff::av_get_planar_sample_fmt(wanted);
        if (Lists(formats, twin))
            return twin;
    }
    return formats[0];
}

int ChooseSampleRate(const AVCodec* codec, int wantedHz) {
    const int* rates = codec->supported_samplerates;
    if (!rates || !rates[0] || wantedHz <= 0)
        return wantedHz > 0 ? wantedHz : (rates && rates[0] ? rates[0] : 44100);
    int best = rates[0];
    for (; *rates; ++rates) {
        if (*rates == wantedHz)
            return wantedHz;
        const long distance = std::labs(static_cast<long>(*rates) - wantedHz);
        const long bestDistance = std::labs(static_cast<long>(best) - wantedHz);
        if (distance < bestDistance || (distance == bestDistance && *rates > best))
            best = *rates;
    }
    return best;
}

// The listed layout for a wanted one (see PrepareAudioEncoder), or nullptr to keep it.
const AVChannelLayout* ChooseLayout(const AVCodec* codec, const AVChannelLayout& wanted) {
    const AVChannelLayout* layouts = codec->ch_layouts;
    if (!layouts || !layouts[0].nb_channels)
        return nullptr;
    const AVChannelLayout* sameCount = nullptr;
    const AVChannelLayout* fewer = nullptr;
    for (const AVChannelLayout* layout = layouts; layout->nb_channels; ++layout) {
        if (ff::av_channel_layout_compare(layout, &wanted) == 0)
            return layout;
        if (!sameCount && layout->nb_channels == wanted.nb_channels)
            sameCount = layout;
        if (layout->nb_channels < wanted.nb_channels &&
            (!fewer || layout->nb_channels > fewer->nb_channels))
            fewer = layout;
    }
    if (sameCount)
        return sameCount;
    return fewer ? fewer : layouts;
}

// Opening prefers the old channel fields over the layout when they disagree, so they must
// tell the same.
void MirrorOldChannelFields(AVCodecContext* encoder) {
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
    encoder->channels = encoder->ch_layout.nb_channels;
    encoder->channel_layout =
        encoder->ch_layout.order == AV_CHANNEL_ORDER_NATIVE ? encoder->ch_layout.u.mask : 0;
#pragma GCC diagnostic pop
}

// Some encoders (wma) list no layouts yet take no more than two channels, and some (flac,
// vorbis) list no rates yet refuse very high ones: a trial opening of a scratch context with
// the chosen values tells.
bool OpensWith(const AVCodecContext* encoder, const AVCodec* codec, int sampleRateHz) {
    CodecContextPtr trial(ff::avcodec_alloc_context3(codec));
    if (!trial)
        return false;
    trial->sample_fmt = encoder->sample_fmt;
    trial->sample_rate = sampleRateHz;
    trial->time_base = AVRational{1, sampleRateHz};
    trial->bit_rate = encoder->bit_rate;
    ff::av_channel_layout_copy(&trial->ch_layout, &encoder->ch_layout);
    // Opening and freeing (which closes) go under the lock, as every other codec opening.
    std::lock_guard guard(CodecLock());
    const bool opened = ff::avcodec_open2(trial.get(), codec, nullptr) >= 0;
    trial.reset();
    return opened;
}

// The rates players commonly take, highest first: the candidates for an encoder without a list.
constexpr int CommonRatesHz[] = {192000, 176400, 96000, 88200, 48000, 44100, 32000,
                                 24000,  22050,  16000, 12000, 11025, 8000};

// Rates above this are not taken by every encoder without a rate list (wma stops here).
constexpr int SafeRateHz = 48000;

// For a rate above SafeRateHz that the encoder refuses: the highest lower common rate it takes
// that divides the wanted one (the resampling stays a plain division), else the highest lower
// one it takes; the wanted rate when none opens (the encoder's own error then tells why).
int HighestTakenRate(const AVCodecContext* encoder, const AVCodec* codec) {
    const int wantedHz = encoder->sample_rate;
    for (const int rateHz : CommonRatesHz)
        if (rateHz < wantedHz && wantedHz % rateHz == 0 && OpensWith(encoder, codec, rateHz))
            return rateHz;
    for (const int rateHz : CommonRatesHz)
        if (rateHz < wantedHz && wantedHz % rateHz != 0 && OpensWith(encoder, codec, rateHz))
            return rateHz;
    return wantedHz;
}

} // namespace

void PrepareAudioEncoder(AVCodecContext* encoder, const AVCodec* codec,
                         AVSampleFormat preferredFormat) {
    if (encoder->ch_layout.order == AV_CHANNEL_ORDER_UNSPEC) {
        const int channels =
            encoder->ch_layout.nb_channels > 0 ? encoder->ch_layout.nb_channels : 2;
        ff::av_channel_layout_uninit(&encoder->ch_layout);
        ff::av_channel_layout_default(&encoder->ch_layout, channels);
    }
    if (!codec) {
        MirrorOldChannelFields(encoder);
        return;
    }
    encoder->sample_fmt = ChooseSampleFormat(codec, preferredFormat, encoder->sample_fmt);
    encoder->sample_rate = ChooseSampleRate(codec, encoder->sample_rate);
    if (const AVChannelLayout* layout = ChooseLayout(codec, encoder->ch_layout);
        layout && layout != &encoder->ch_layout) {
        AVChannelLayout chosen{};
        ff::av_channel_layout_copy(&chosen, layout);
        ff::av_channel_layout_uninit(&encoder->ch_layout);
        encoder->ch_layout = chosen;
    }
    if (!codec->supported_samplerates && encoder->sample_rate > SafeRateHz &&
        !OpensWith(encoder, codec, encoder->sample_rate))
        encoder->sample_rate = HighestTakenRate(encoder, codec);
    encoder->time_base = AVRational{1, encoder->sample_rate};
    if (!codec->ch_layouts && encoder->ch_layout.nb_channels > 2 &&
        !OpensWith(encoder, codec, encoder->sample_rate)) {
        ff::av_channel_layout_uninit(&encoder->ch_layout);
        ff::av_channel_layout_default(&encoder->ch_layout, 2);
    }
    MirrorOldChannelFields(encoder);
}
