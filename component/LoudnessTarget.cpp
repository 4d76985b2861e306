// The encoder's format and ceiling that loudness normalisation aims at.
#include "component/LoudnessTarget.h"

#include "engine/LoudnessMeter.h"
#include "engine/OutputAudioSetup.h"

#include <new>

CodecContextPtr AudioEncoderAsRun(const TOutputFileSetup& output, AVSampleFormat inputFormat) {
    for (const TOutputStreamSetup& stream : output.Streams) {
        const AVCodecContext* setup = stream.Encoder.get();
        if (stream.StreamCopy || !setup || setup->codec_type != AVMEDIA_TYPE_AUDIO)
            continue;
        const AVCodec* codec =
            stream.Codec ? stream.Codec : ff::avcodec_find_encoder(setup->codec_id);
        CodecContextPtr encoder(ff::avcodec_alloc_context3(codec));
        if (!encoder || ff::av_channel_layout_copy(&encoder->ch_layout, &setup->ch_layout) < 0)
            throw std::bad_alloc();
        encoder->codec_id = setup->codec_id;
        encoder->sample_rate = setup->sample_rate;
        encoder->sample_fmt = setup->sample_fmt;
        const AVSampleFormat preferred =
            setup->sample_fmt != AV_SAMPLE_FMT_NONE ? setup->sample_fmt : inputFormat;
        PrepareAudioEncoder(encoder.get(), codec, preferred);
        return encoder;
    }
    return nullptr;
}

AVSampleFormat FirstSoundFormat(const AVFormatContext* input) {
    for (unsigned i = 0; input && i < input->nb_streams; ++i)
        if (input->streams[i]->codecpar->codec_type == AVMEDIA_TYPE_AUDIO)
            return static_cast<AVSampleFormat>(input->streams[i]->codecpar->format);
    return AV_SAMPLE_FMT_NONE;
}

double TruePeakCeilingFor(AVCodecID codec) {
    const AVCodecDescriptor* descriptor = ff::avcodec_descriptor_get(codec);
    const bool lossy = !descriptor || (descriptor->props & AV_CODEC_PROP_LOSSY);
    return lossy ? LossyTruePeakCeilingDbtp : TruePeakCeilingDbtp;
}
