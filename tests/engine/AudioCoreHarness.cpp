// Test driver of the audio output path: real decoders, encoders and muxers around it.
#include "AudioCoreHarness.h"

#include "engine/OutputAudioSetup.h"
#include "support/TestLibs.h"

#include <cmath>
#include <gtest/gtest.h>
#include <stdexcept>
#include <unistd.h>

namespace {

void Check(int result, const char* what) {
    if (result < 0)
        throw std::runtime_error(std::string(what) + " failed: " + std::to_string(result));
}

} // namespace

TCoreAudioOutput::TCoreAudioOutput(const std::filesystem::path& file,
                                   const TCoreOutputRequest& request, AVSampleFormat inputFormat,
                                   int inputRateHz, int inputChannels) {
    EnsureLibsLoaded();
    AVFormatContext* raw = nullptr;
    Check(ff::avformat_alloc_output_context2(&raw, nullptr, nullptr, file.c_str()),
          "avformat_alloc_output_context2");
    Format.reset(raw);
    const AVCodec* codec =
        request.CodecName.empty()
            ? ff::avcodec_find_encoder(ff::av_guess_codec(Format->oformat, nullptr, file.c_str(),
                                                          nullptr, AVMEDIA_TYPE_AUDIO))
            : ff::avcodec_find_encoder_by_name(request.CodecName.c_str());
    if (!codec)
        throw std::runtime_error("no encoder");
    EncoderContext.reset(ff::avcodec_alloc_context3(codec));
    AVCodecContext* encoder = EncoderContext.get();
    encoder->sample_rate = request.SampleRateHz ? request.SampleRateHz : inputRateHz;
    ff::av_channel_layout_default(&encoder->ch_layout,
                                  request.Channels ? request.Channels : inputChannels);
    if (request.BitRate)
        encoder->bit_rate = request.BitRate;
    if (Format->oformat->flags & AVFMT_GLOBALHEADER)
        encoder->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    PrepareAudioEncoder(encoder, codec, inputFormat);
    Check(ff::avcodec_open2(encoder, codec, nullptr), "avcodec_open2");
    Stream = ff::avformat_new_stream(Format.get(), nullptr);
    Check(ff::avcodec_parameters_from_context(Stream->codecpar, encoder),
          "avcodec_parameters_from_context");
    Stream->time_base = encoder->time_base;
    Check(ff::avio_open(&Format->pb, file.c_str(), AVIO_FLAG_WRITE), "avio_open");
    Check(ff::avformat_write_header(Format.get(), nullptr), "avformat_write_header");
}

TCoreAudioOutput::~TCoreAudioOutput() {
    if (Format && Format->pb)
        ff::avio_closep(&Format->pb);
}

void TCoreAudioOutput::WritePacket(AVPacket* packet) {
    ++PacketCount;
    Check(ff::av_interleaved_write_frame(Format.get(), packet), "write");
}

void TCoreAudioOutput::Feed(const AVFrame& chunk, double syncTimeS) {
    Clock.SyncTimeS = syncTimeS;
    OutputAudioChunk(State, TAudioOutputTarget{EncoderContext.get(), Stream, &SyncOpts}, chunk,
                     Clock, Settings, [this](AVPacket* packet) { WritePacket(packet); });
}

void TCoreAudioOutput::Finish() {
    if (Finished)
        return;
    Finished = true;
    FlushAudioOutput(State, TAudioOutputTarget{EncoderContext.get(), Stream, &SyncOpts},
                     [this](AVPacket* packet) { WritePacket(packet); });
    Check(ff::av_write_trailer(Format.get()), "av_write_trailer");
    ff::avio_closep(&Format->pb);
}

FramePtr MakeToneChunk(AVSampleFormat format, int rateHz, int channels, int samples,
                       int64_t firstSample, double frequencyHz) {
    EnsureLibsLoaded();
    FramePtr frame(ff::av_frame_alloc());
    frame->format = format;
    frame->sample_rate = rateHz;
    frame->nb_samples = samples;
    ff::av_channel_layout_default(&frame->ch_layout, channels);
    Check(ff::av_frame_get_buffer(frame.get(), 0), "av_frame_get_buffer");
    const bool planar = ff::av_sample_fmt_is_planar(format);
    for (int i = 0; i < samples; ++i) {
        const double value =
            0.5 * std::sin(2 * M_PI * frequencyHz * static_cast<double>(firstSample + i) / rateHz);
        for (int c = 0; c < channels; ++c) {
            const int plane = planar ? c : 0;
            const int slot = planar ? i : i * channels + c;
            switch (ff::av_get_packed_sample_fmt(format)) {
            case AV_SAMPLE_FMT_S16:
                reinterpret_cast<int16_t*>(frame->extended_data[plane])[slot] =
                    static_cast<int16_t>(std::lrint(value * 32767));
                break;
            case AV_SAMPLE_FMT_FLT:
                reinterpret_cast<float*>(frame->extended_data[plane])[slot] =
                    static_cast<float>(value);
                break;
            default:
                throw std::runtime_error("tone format not supported");
            }
        }
    }
    return frame;
}

std::filesystem::path TempOutput(const std::string& name) {
    static const std::filesystem::path folder = [] {
        std::string pattern = (std::filesystem::temp_directory_path() / "sp-audio-XXXXXX").string();
        if (!mkdtemp(pattern.data()))
            throw std::runtime_error("mkdtemp failed");
        static struct TRemover {
            std::filesystem::path Path;
            ~TRemover() {
                std::error_code error;
                std::filesystem::remove_all(Path, error);
            }
        } remover{pattern};
        return std::filesystem::path(pattern);
    }();
    static int counter = 0;
    return folder / (std::to_string(++counter) + "_" + name);
}
