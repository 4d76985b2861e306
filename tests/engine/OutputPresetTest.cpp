// Presets (built-in, by codec, from a file) and targets, and the generic options they set:
// names the libraries know, values they accept, and that the encoder takes what was set.
#include "OptionTestSupport.h"
#include "RunHarness.h"

#include "support/TestMedia.h"

#include <gtest/gtest.h>

namespace {

class OutputPreset : public ::testing::Test {
protected:
    TEngineUnderTest Test;
    TCustomFFmpeg& E = *Test.Engine;
    TTempFolder Folder;

    std::string Rejection(const std::string& name, const std::string& value) {
        return RejectionOf(E, name, value);
    }
    std::string PrivateOption(AVMediaType kind, const char* key) {
        const AVDictionaryEntry* entry =
            ff::av_dict_get(E.OptionContexts.CodecPrivate[kind].get(), key, nullptr, 0);
        return entry ? entry->value : "(none)";
    }
    int64_t TemplateInt(AVMediaType kind, const char* name) {
        int64_t value = -12345;
        ff::av_opt_get_int(E.OptionContexts.Codec(kind), name, 0, &value);
        return value;
    }
};

TEST_F(OutputPreset, GenericOptions) {
    TLogCapture log;
    EXPECT_TRUE(E.SetGenericOption("g", "18"));
    EXPECT_EQ(E.OptionContexts.Codec(AVMEDIA_TYPE_VIDEO)->gop_size, 18);
    EXPECT_TRUE(E.SetGenericOption("bufsize", int64_t(327680)));
    EXPECT_EQ(E.OptionContexts.Codec(AVMEDIA_TYPE_VIDEO)->rc_buffer_size, 327680);
    EXPECT_FALSE(E.SetGenericOption("nosuchoption", "1"));
    EXPECT_FALSE(E.SetGenericOption("g", " "));
    EXPECT_FALSE(E.SetGenericOption("g", "abc"));
    EXPECT_TRUE(log.Contains("Invalid value \"abc\" for option \"g\""));
    // A format option, a scaler option, a kind-letter name.
    EXPECT_TRUE(E.SetGenericOption("packetsize", "2324"));
    EXPECT_EQ(E.OptionContexts.Format->packet_size, 2324u);
    EXPECT_TRUE(E.SetGenericOption("sws_flags", "bilinear"));
    EXPECT_EQ(E.Options().ScalerFlags, SWS_BILINEAR);
    EXPECT_TRUE(E.SetGenericOption("vb", "300000"));
    EXPECT_EQ(E.OptionContexts.Codec(AVMEDIA_TYPE_VIDEO)->bit_rate, 300000);
    EXPECT_NE(E.OptionContexts.Codec(AVMEDIA_TYPE_AUDIO)->bit_rate, 300000);
    // Options only an encoder or a muxer knows are checked on a context made for them.
    EXPECT_TRUE(E.SetGenericOption("weightb", "0"));
    EXPECT_EQ(PrivateOption(AVMEDIA_TYPE_VIDEO, "weightb"), "0");
    EXPECT_FALSE(E.SetGenericOption("weightb", "maybe"));
    EXPECT_TRUE(E.SetGenericOption("muxrate", "1411200"));
    EXPECT_FALSE(E.SetGenericOption("muxrate", "lots"));
}

// A preset name alone, then the name joined to the kind's codec, then a file.
TEST_F(OutputPreset, PresetsByNameCodecAndFile) {
    EXPECT_EQ(Rejection("vpre", "hq"), "Preset \"hq\" not found");
    E.SetOption("vpre", "libx264-main"); // the built-in table, no codec needed
    EXPECT_EQ(PrivateOption(AVMEDIA_TYPE_VIDEO, "8x8dct"), "0");
    E.SetOption("vcodec", "libx264");
    E.SetOption("vpre", "HQ");
    EXPECT_EQ(PrivateOption(AVMEDIA_TYPE_VIDEO, "me_method"), "umh");
    EXPECT_EQ(TemplateInt(AVMEDIA_TYPE_VIDEO, "refs"), 4);
    EXPECT_EQ(TemplateInt(AVMEDIA_TYPE_VIDEO, "subq"), 8);
    const auto file = Folder.WriteFile("my.preset", "  ab=96000\r\n\r\nacodec=mp2\n  ac=1 \n");
    E.SetOption("apre", file.string());
    EXPECT_EQ(TemplateInt(AVMEDIA_TYPE_AUDIO, "b"), 96000);
    EXPECT_EQ(E.Options().AudioCodecName, "mp2");
    EXPECT_EQ(Rejection("spre", ""), "");
}

TEST_F(OutputPreset, PresetSyntaxErrors) {
    const auto noValue = Folder.WriteFile("a.preset", "g=12\nfoo\n");
    EXPECT_EQ(Rejection("vpre", noValue.string()), noValue.string() + ": Invalid syntax: \"foo\"");
    const auto noKey = Folder.WriteFile("b.preset", "=5\n");
    EXPECT_EQ(Rejection("vpre", noKey.string()), noKey.string() + ": Invalid syntax: \"=5\"");
    const auto unknown = Folder.WriteFile("c.preset", "nosuchoption=1\n");
    EXPECT_EQ(Rejection("vpre", unknown.string()),
              unknown.string() +
                  ": Invalid option or argument: \"nosuchoption=1\", parsed as \"nosuchoption\" "
                  "= \"1\"");
    const auto empty = Folder.WriteFile("d.preset", " \n");
    EXPECT_EQ(Rejection("vpre", empty.string()), "Preset \"" + empty.string() + "\" not found");
}

// Every built-in preset translates to settings the x264 encoder accepts when it is opened.
TEST_F(OutputPreset, BuiltinPresetsOpenTheEncoder) {
    const char* presets[] = {"baseline",
                             "default",
                             "fastfirstpass",
                             "hq",
                             "ipod320",
                             "ipod640",
                             "lossless_fast",
                             "lossless_max",
                             "lossless_medium",
                             "lossless_slow",
                             "lossless_slower",
                             "lossless_ultrafast",
                             "main",
                             "max",
                             "normal",
                             "slowfirstpass"};
    for (const char* preset : presets) {
        TEngineUnderTest test;
        TEngineOpen& e = *test.Engine;
        ASSERT_TRUE(e.OpenInputFile(Fixture("video_h264_aac.mp4")));
        e.SetOption("an", "1");
        e.SetOption("vcodec", "libx264");
        e.SetOption("vpre", preset);
        ASSERT_EQ(e.OpenOutputFile(Folder / (std::string(preset) + ".mp4")), 1) << e.LastError;
        TOutputStreamSetup& stream = e.OutputStreamSetup(0, 0);
        AVDictionary* options = nullptr;
        ff::av_dict_copy(&options, stream.EncoderOptions.get(), 0);
        EXPECT_GT(ff::av_dict_count(options), 0) << preset;
        int opened = ff::avcodec_open2(stream.Encoder.get(), stream.Codec, &options);
        EXPECT_EQ(opened, 0) << preset;
        EXPECT_EQ(ff::av_dict_count(options), 0) << preset << ": an option was not taken";
        ff::av_dict_free(&options);
    }
}

TEST_F(OutputPreset, TargetsWithNormGiven) {
    E.SetOption("target", "pal-dvd");
    ASSERT_NE(E.Options().OutputFormat, nullptr);
    EXPECT_STREQ(E.Options().OutputFormat->name, "dvd");
    EXPECT_EQ(E.Options().FrameWidth, 720);
    EXPECT_EQ(E.Options().FrameHeight, 576);
    EXPECT_EQ(E.Options().FrameRate.num, 25);
    EXPECT_EQ(E.Options().FrameRate.den, 1);
    EXPECT_EQ(E.Options().VideoCodecName, "mpeg2video");
    EXPECT_EQ(E.Options().AudioCodecName, "ac3");
    EXPECT_EQ(E.Options().AudioSampleRateHz, 48000);
    EXPECT_EQ(TemplateInt(AVMEDIA_TYPE_VIDEO, "g"), 15);
    EXPECT_EQ(TemplateInt(AVMEDIA_TYPE_VIDEO, "b"), 6000000);
    EXPECT_EQ(TemplateInt(AVMEDIA_TYPE_AUDIO, "b"), 448000);
    EXPECT_NEAR(E.Options().FrameAspectRatio, 16.0 / 9.0, 1e-6);

    TEngineUnderTest other;
    TCustomFFmpeg& e = *other.Engine;
    e.SetOption("ac", "1");
    e.SetOption("target", "ntsc-svcd");
    EXPECT_EQ(e.Options().FrameWidth, 480);
    EXPECT_EQ(e.Options().FrameHeight, 480);
    EXPECT_EQ(e.Options().FrameRate.num, 30000);
    EXPECT_EQ(e.Options().FrameRate.den, 1001);
    EXPECT_EQ(e.Options().AudioChannels, 2);
    e.SetTarget("dv50", "film", "pal");
    EXPECT_EQ(e.Options().FramePixFmt, AV_PIX_FMT_YUV422P);
    EXPECT_EQ(e.Options().FrameRate.num, 24000);
    EXPECT_EQ(e.Options().FrameHeight, 480);
}

// Without a norm it is taken from the frame rate, then from the inputs' video.
TEST_F(OutputPreset, TargetNormDetection) {
    EXPECT_EQ(Rejection("target", "dvd"), "frame_rate is invalid.");
    EXPECT_EQ(Rejection("target", "pal-xyz"), "Unknown target type");
    TLogCapture log;
    ASSERT_TRUE(E.OpenInputFile(Fixture("video_h264_aac.mp4"))); // 25 frames a second
    E.SetTarget("vcd", "auto", "ntsc");
    EXPECT_TRUE(log.Contains("Assuming PAL for target."));
    EXPECT_EQ(E.Options().FrameWidth, 352);
    EXPECT_EQ(E.Options().FrameHeight, 288);
    EXPECT_FLOAT_EQ(E.Options().MuxPreloadSeconds, 0.44f);
    TEngineUnderTest other;
    TCustomFFmpeg& e = *other.Engine;
    e.SetOption("r", "10");
    e.SetTarget("vcd", "auto", "ntsc"); // no input tells: the fallback
    EXPECT_EQ(e.Options().FrameHeight, 240);
    EXPECT_TRUE(log.Contains("Assuming 4:3 for aspect ratio"));
}

} // namespace
