// The encoder step every encoding path shares, on real encoders: packets counted through the
// end of the stream, a drain asked twice or before any frame, and a frame after the end.
#include "engine/EncodeDrain.h"
#include "engine/EngineErrors.h"
#include "ffbind/FFmpegLoader.h"
#include "support/TestLibs.h"

#include <cstring>
#include <gtest/gtest.h>
#include <string>

namespace {

constexpr int FramesFed = 12;

struct TDrainCase {
    const char* Codec;
    bool Delays; // holds packets back until it drains
    const char* Failure;
};

CodecContextPtr OpenEncoder(const AVCodec& codec) {
    CodecContextPtr encoder(ff::avcodec_alloc_context3(&codec));
    if (codec.type == AVMEDIA_TYPE_VIDEO) {
        encoder->width = 32;
        encoder->height = 32;
        encoder->pix_fmt = AV_PIX_FMT_YUV420P;
        encoder->time_base = {1, 25};
    } else {
        encoder->sample_fmt = codec.sample_fmts[0];
        encoder->sample_rate = 44100;
        encoder->time_base = {1, 44100};
        ff::av_channel_layout_default(&encoder->ch_layout, 2);
    }
    EXPECT_GE(ff::avcodec_open2(encoder.get(), &codec, nullptr), 0) << codec.name;
    return encoder;
}

// A quiet frame (grey picture or silence) the encoder takes, at the given position.
FramePtr MakeFrame(const AVCodecContext& encoder, int index) {
    FramePtr frame(ff::av_frame_alloc());
    if (encoder.codec_type == AVMEDIA_TYPE_VIDEO) {
        frame->width = encoder.width;
        frame->height = encoder.height;
        frame->format = encoder.pix_fmt;
    } else {
        frame->nb_samples = encoder.frame_size > 0 ? encoder.frame_size : 1024;
        frame->format = encoder.sample_fmt;
        frame->sample_rate = encoder.sample_rate;
        ff::av_channel_layout_copy(&frame->ch_layout, &encoder.ch_layout);
    }
    EXPECT_GE(ff::av_frame_get_buffer(frame.get(), 0), 0);
    for (int plane = 0; plane < AV_NUM_DATA_POINTERS && frame->buf[plane]; ++plane)
        std::memset(frame->buf[plane]->data, 0, frame->buf[plane]->size);
    frame->pts =
        encoder.codec_type == AVMEDIA_TYPE_VIDEO ? index : int64_t{index} * frame->nb_samples;
    return frame;
}

// Packets one step hands on.
int Step(AVCodecContext* encoder, const AVFrame* frame) {
    int packets = 0;
    EncodeAndDrain(encoder, frame, [&](AVPacket* packet) {
        EXPECT_GT(packet->size, 0);
        ++packets;
    });
    return packets;
}

TEST(EncodeDrainTest, EndsTheStreamOnceWhateverIsAskedAfter) {
    EnsureLibsLoaded();
    const TDrainCase cases[] = {
        {"libmp3lame", true, "Audio encoding failed"},
        {"pcm_s16le", false, "Audio encoding failed"},
        {"rawvideo", false, "Video encoding failed"},
    };
    for (const TDrainCase& c : cases) {
        SCOPED_TRACE(c.Codec);
        const AVCodec* codec = ff::avcodec_find_encoder_by_name(c.Codec);
        ASSERT_NE(codec, nullptr);

        // Never fed: the end comes with nothing, and may be asked again.
        CodecContextPtr unused = OpenEncoder(*codec);
        EXPECT_NO_THROW(Step(unused.get(), nullptr));
        EXPECT_EQ(Step(unused.get(), nullptr), 0);

        CodecContextPtr encoder = OpenEncoder(*codec);
        int fed = 0;
        for (int i = 0; i < FramesFed; ++i)
            fed += Step(encoder.get(), MakeFrame(*encoder, i).get());
        const int drained = Step(encoder.get(), nullptr);
        EXPECT_EQ(drained > 0, c.Delays) << drained;
        // One packet a frame, and with a delaying encoder the held ones come at the end.
        EXPECT_GE(fed + drained, FramesFed);
        EXPECT_EQ(Step(encoder.get(), nullptr), 0);
        // A frame after the end would be lost: that is a failure, not silence.
        try {
            Step(encoder.get(), MakeFrame(*encoder, FramesFed).get());
            ADD_FAILURE() << "a frame after the end was taken";
        } catch (const FFmpegException& error) {
            EXPECT_EQ(std::string(error.what()), c.Failure);
        }
    }
}

} // namespace
