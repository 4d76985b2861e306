// The video path tests' helpers.
#include "VideoPathHarness.h"

#include "support/TestLibs.h"
#include "support/TestMedia.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>

FramePtr MakePicture(int width, int height, int leftLuma, int rightLuma) {
    FramePtr picture(ff::av_frame_alloc());
    picture->width = width;
    picture->height = height;
    picture->format = AV_PIX_FMT_YUV420P;
    if (ff::av_frame_get_buffer(picture.get(), 0) < 0)
        return nullptr;
    for (int y = 0; y < height; ++y) {
        uint8_t* row = picture->data[0] + y * picture->linesize[0];
        std::memset(row, leftLuma, width / 2);
        std::memset(row + width / 2, rightLuma, width - width / 2);
    }
    for (int plane = 1; plane < 3; ++plane)
        for (int y = 0; y < (height + 1) / 2; ++y)
            std::memset(picture->data[plane] + y * picture->linesize[plane], 128, (width + 1) / 2);
    return picture;
}

TVideoPathHarness::TVideoPathHarness(const std::filesystem::path& file, int inputWidth,
                                     int inputHeight)
    : File(file) {
    EnsureLibsLoaded();
    Engine = std::make_unique<TEngineOpen>();
    Engine->Reset();
    Engine->Options().FrameWidth = inputWidth;
    Engine->Options().FrameHeight = inputHeight;
    Dec.reset(ff::avcodec_alloc_context3(nullptr));
    Dec->codec_type = AVMEDIA_TYPE_VIDEO;
    Dec->width = inputWidth;
    Dec->height = inputHeight;
    Dec->pix_fmt = AV_PIX_FMT_YUV420P;
    Dec->sample_aspect_ratio = {1, 1};
    Ist.Dec = Dec.get();
}

TVideoPathHarness::~TVideoPathHarness() {
    if (Output && Output->pb)
        ff::avio_closep(&Output->pb);
    Ost.Video.reset();
    Run.reset();
    Engine.reset();
}

void TVideoPathHarness::Open(int outputWidth, int outputHeight) {
    AVFormatContext* output = nullptr;
    ASSERT_GE(ff::avformat_alloc_output_context2(&output, nullptr, "nut", File.c_str()), 0);
    Output.reset(output);
    AVStream* stream = ff::avformat_new_stream(output, nullptr);
    const AVCodec* codec = ff::avcodec_find_encoder(AV_CODEC_ID_RAWVIDEO);
    Enc.reset(ff::avcodec_alloc_context3(codec));
    Enc->width = outputWidth;
    Enc->height = outputHeight;
    Enc->pix_fmt = AV_PIX_FMT_YUV420P;
    Enc->time_base = {1, 25};
    Enc->framerate = {25, 1};
    Enc->sample_aspect_ratio = {1, 1};
    Ost.St = stream;
    Ost.Enc = Enc.get();
    Ost.Codec = codec;
    Ost.EncodingNeeded = true;
    Run = Engine->MakeRun();
    Run->PrepareVideoOutput(Ost, Ist);
    ASSERT_GE(ff::avcodec_open2(Enc.get(), codec, nullptr), 0);
    ASSERT_GE(ff::avcodec_parameters_from_context(stream->codecpar, Enc.get()), 0);
    stream->time_base = Enc->time_base;
    ASSERT_GE(ff::avio_open(&output->pb, File.c_str(), AVIO_FLAG_WRITE), 0);
    ASSERT_GE(ff::avformat_write_header(output, nullptr), 0);
}

int TVideoPathHarness::Feed(AVFrame* picture, int64_t ptsUs) {
    Ist.PtsUs = ptsUs;
    Run->PreprocessVideoFrame(Ist, picture);
    int frameSize = 0;
    Run->OutputVideo(Output.get(), Ost, Ist, picture, frameSize);
    if (!Engine->Options().VstatsFileName.empty() && frameSize != 0)
        Run->WriteVideoStats(Output.get(), Ost, frameSize);
    return frameSize;
}

void TVideoPathHarness::Finish() {
    Run->EncodeAndWrite(Output.get(), Ost, nullptr);
    ASSERT_GE(ff::av_write_trailer(Output.get()), 0);
    ff::avio_closep(&Output->pb);
}

TGreyPictures DecodeGrey(const std::filesystem::path& file) {
    TGreyPictures pictures;
    pictures.Width = std::atoi(ProbeValue(file, "stream=width", "v:0").c_str());
    pictures.Height = std::atoi(ProbeValue(file, "stream=height", "v:0").c_str());
    // Decoded in the file's own format: the luma plane comes first, unconverted.
    const std::string bytes =
        RunCommand("ffmpeg -v error -nostdin -i " + ShellQuote(file.string()) +
                   " -fps_mode passthrough -f rawvideo -pix_fmt yuv420p -");
    const std::size_t luma = static_cast<std::size_t>(pictures.Width) * pictures.Height;
    const std::size_t size = luma + 2 * (((pictures.Width + 1) / 2) * ((pictures.Height + 1) / 2));
    for (std::size_t at = 0; luma > 0 && at + size <= bytes.size(); at += size)
        pictures.Frames.emplace_back(bytes.begin() + at, bytes.begin() + at + luma);
    return pictures;
}
