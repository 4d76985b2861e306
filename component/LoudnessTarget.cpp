// The encoder's format and ceiling that loudness normalisation aims at.
#include "component/LoudnessTarget.h"

#include "engine/CodecLoss.h"
#include "engine/EncoderCopy.h"
#include "engine/LoudnessMeter.h"
#include "engine/OutputAudioSetup.h"

#include <new>

TEncoderAsRun AudioEncoderAsRun(const TOutputFileSetup& output, AVSampleFormat inputFormat) {
    for (const TOutputStreamSetup& stream : output.Streams) {
        const AVCodecContext* setup = stream.Encoder.get();
        if (stream.StreamCopy || !setup || setup->codec_type != AVMEDIA_TYPE_AUDIO)
            continue;
        const AVCodec* codec =
            stream.Codec ? stream.Codec : ff::avcodec_find_encoder(setup->codec_id);
        CodecContextPtr encoder(ff::avcodec_alloc_context3(codec));
        if (!encoder)
            throw std::bad_alloc();
        CopyEncoderSettings(*encoder, *setup);
        const AVSampleFormat preferred =
            setup->sample_fmt != AV_SAMPLE_FMT_NONE ? setup->sample_fmt : inputFormat;
        PrepareAudioEncoder(encoder.get(), codec, preferred);
        return {std::move(encoder), stream.EncoderOptions.get()};
    }
    return {};
}

AVSampleFormat FirstSoundFormat(const AVFormatContext* input) {
    for (unsigned i = 0; input && i < input->nb_streams; ++i)
        if (input->streams[i]->codecpar->codec_type == AVMEDIA_TYPE_AUDIO)
            return static_cast<AVSampleFormat>(input->streams[i]->codecpar->format);
    return AV_SAMPLE_FMT_NONE;
}

double TruePeakCeilingFor(AVCodecID codec) {
    return TCodecLoss::IsLossy(codec) ? LossyTruePeakCeilingDbtp : TruePeakCeilingDbtp;
}
