// The engine's option vocabulary: value conversion, parsing of the structured options, the
// validation messages, and that a rejected option leaves the engine usable.
#include "OptionTestSupport.h"
#include "RunHarness.h"

#include "engine/TranscodeRun.h"
#include "ffbind/Assertion.h"
#include "support/TestMedia.h"

#include <gtest/gtest.h>

#include <limits>

namespace {

class OptionTable : public ::testing::Test {
protected:
    TEngineUnderTest Test;
    TEngineOpen& E = *Test.Engine;

    std::string Rejection(const std::string& name, const std::string& value) {
        return RejectionOf(E, name, value);
    }
    std::string ConversionError(const std::string& name, const std::string& value) {
        return RejectionOf<EConvertError>(E, name, value);
    }
};

// Booleans are true unless the value is exactly "0"; flags are set whatever the value.
TEST_F(OptionTable, BooleansAndFlags) {
    E.SetOption("an", "0");
    EXPECT_FALSE(E.Options().AudioDisable);
    E.SetOption("an", "");
    EXPECT_TRUE(E.Options().AudioDisable);
    E.SetOption("vn", "no");
    EXPECT_TRUE(E.Options().VideoDisable);
    E.SetOption("copyts", "0");
    EXPECT_TRUE(E.Options().CopyTs);
    E.SetOption("xerror", "0");
    EXPECT_TRUE(E.Options().ExitOnError);
    E.SetOption("shortest", "1");
    EXPECT_TRUE(E.Options().Shortest);
}

// Integers and floats are converted strictly with the run-time's texts.
TEST_F(OptionTable, StrictNumbers) {
    EXPECT_EQ(ConversionError("ar", "abc"), "'abc' is not a valid integer value");
    EXPECT_EQ(ConversionError("vol", "12x"), "'12x' is not a valid integer value");
    EXPECT_EQ(ConversionError("fs", ""), "'' is not a valid integer value");
    EXPECT_EQ(ConversionError("ac", "99999999999"), "'99999999999' is not a valid integer value");
    EXPECT_EQ(ConversionError("adrift_threshold", "1,5"),
              "'1,5' is not a valid floating point value");
    EXPECT_EQ(ConversionError("aq", "nan"), "'nan' is not a valid floating point value");
    E.SetOption("fs", "5000000000");
    EXPECT_EQ(E.Options().LimitFileSizeBytes, 5000000000LL);
    E.SetOption("vframes", "0x10");
    EXPECT_EQ(E.Options().MaxFrames[0], 16);
    E.SetOption("aframes", "$20");
    EXPECT_EQ(E.Options().MaxFrames[1], 32);
    E.SetOption("dts_delta_threshold", "2.5");
    EXPECT_FLOAT_EQ(E.Options().DtsDeltaThresholdSeconds, 2.5f);
    EXPECT_EQ(E.Options().AudioSampleRateHz, 44100); // the failed "ar" changed nothing
}

// ar and ac keep their value unless above 0; a negative volume is refused alike by the option
// and by its setter, and leaves the volume as it was.
TEST_F(OptionTable, RatesChannelsAndVolume) {
    E.SetOption("ar", "0");
    E.SetOption("ar", "-1");
    EXPECT_EQ(E.Options().AudioSampleRateHz, 44100);
    E.SetOption("ac", "1");
    EXPECT_EQ(E.Options().AudioChannels, 1);
    E.SetOption("vol", "512");
    EXPECT_EQ(E.Options().AudioVolume, 512);
    const std::string refusal = "Incorrect volume (0 or more, 256 = unchanged)";
    EXPECT_EQ(Rejection("vol", "-5"), refusal);
    try {
        E.Options().SetAudioVolume(-3);
        ADD_FAILURE() << "a negative volume was taken";
    } catch (const FFmpegException& error) {
        EXPECT_EQ(error.what(), refusal);
    }
    EXPECT_EQ(E.Options().AudioVolume, 512);
    E.Options().SetAudioVolume(0);
    EXPECT_EQ(E.Options().AudioVolume, 0);
}

TEST_F(OptionTable, StreamAndMetadataMaps) {
    E.SetOption("map", "0:1");
    E.SetOption("map", "0.1");
    E.SetOption("map", "0:1:1:0");
    E.SetOption("map", "0x1:2");
    E.SetOption("map_meta_data", "1:0");
    ASSERT_EQ(E.Options().StreamMaps.size(), 4u);
    for (int i = 0; i < 2; ++i) {
        EXPECT_EQ(E.Options().StreamMaps[i].FileIndex, 0);
        EXPECT_EQ(E.Options().StreamMaps[i].StreamIndex, 1);
        EXPECT_EQ(E.Options().StreamMaps[i].SyncFileIndex, 0);
        EXPECT_EQ(E.Options().StreamMaps[i].SyncStreamIndex, 1);
    }
    EXPECT_EQ(E.Options().StreamMaps[2].SyncFileIndex, 1);
    EXPECT_EQ(E.Options().StreamMaps[2].SyncStreamIndex, 0);
    EXPECT_EQ(E.Options().StreamMaps[3].FileIndex, 1);
    EXPECT_EQ(E.Options().StreamMaps[3].StreamIndex, 2);
    ASSERT_EQ(E.Options().MetadataMaps.size(), 1u);
    EXPECT_EQ(E.Options().MetadataMaps[0].OutFile, 1);
    EXPECT_EQ(E.Options().MetadataMaps[0].InFile, 0);
    for (int i = 1; i < MAX_METADATA_MAPS; ++i)
        E.SetOption("map_meta_data", "0:0");
    EXPECT_NE(Rejection("map_meta_data", "0:0"), "");
}

TEST_F(OptionTable, DurationsAndDates) {
    E.SetOption("t", "0");
    EXPECT_EQ(E.Options().RecordingTimeUs, std::numeric_limits<int64_t>::max());
    EXPECT_EQ(E.Options().RecordingTimeMs, -1);
    EXPECT_EQ(Rejection("t", "abc"), "Invalid duration specification for t: abc");
    EXPECT_EQ(Rejection("timestamp", "abc"), "Invalid date specification for timestamp: abc");
    E.SetOption("t", "1:02:03.5");
    EXPECT_EQ(E.Options().RecordingTimeUs, 3723500000LL);
    EXPECT_EQ(E.Options().RecordingTimeMs, 3723500);
    E.SetOption("ss", "30");
    EXPECT_EQ(E.Options().StartTimeUs, 30000000);
    E.SetOption("itsoffset", "-500ms");
    EXPECT_EQ(E.Options().InputTsOffsetUs, -500000);
    E.SetOption("timestamp", "2010-01-02 03:04:05");
    EXPECT_EQ(E.Options().RecordingTimestampSeconds, 1262401445); // seconds since 1970, UTC
    E.Options().SetRecordingTimeMs(1500);
    EXPECT_EQ(E.Options().RecordingTimeUs, 1500000);
    EXPECT_EQ(E.Options().RecordingTimeMs, 1500);
    E.Options().SetRecordingTimeMs(0);
    E.Options().SetStartTime(0);
    EXPECT_EQ(E.Options().RecordingTimeMs, 1500);
    EXPECT_EQ(E.Options().StartTimeUs, 30000000);
}

TEST_F(OptionTable, MetadataPairs) {
    EXPECT_EQ(Rejection("metadata", "title"), "Missing =");
    E.SetOption("metadata", "title=a=b");
    E.Options().AddMetadata("artist", "");
    ASSERT_EQ(E.Options().MetadataPairs.size(), 2u);
    EXPECT_EQ(E.Options().MetadataPairs[0].first, "title");
    EXPECT_EQ(E.Options().MetadataPairs[0].second, "a=b");
    EXPECT_EQ(E.Options().MetadataPairs[1].first, "artist");
}

TEST_F(OptionTable, QualityScaleBounds) {
    EXPECT_EQ(Rejection("qscale", "0"), "qscale must be > 0.0 and <= 255");
    EXPECT_EQ(Rejection("qscale", "256"), "qscale must be > 0.0 and <= 255");
    EXPECT_EQ(Rejection("qscale", "-1"), "qscale must be > 0.0 and <= 255");
    E.SetOption("qscale", "255");
    EXPECT_FLOAT_EQ(E.Options().VideoQscale, 255);
    EXPECT_EQ(Rejection("pass", "3"), "pass number can be only 1 or 2");
    E.SetOption("pass", "2");
    EXPECT_EQ(E.Options().Pass, 2);
}

TEST_F(OptionTable, FrameSizeRateAndAspect) {
    EXPECT_EQ(Rejection("s", "321x240"), "Frame size must be a multiple of 2");
    EXPECT_EQ(Rejection("s", "abc"), "Incorrect frame size");
    E.SetOption("s", "vga");
    EXPECT_EQ(E.Options().FrameWidth, 640);
    EXPECT_EQ(E.Options().FrameHeight, 480);
    EXPECT_EQ(Rejection("r", "fast"), "Incorrect frame rate");
    E.SetOption("r", "ntsc");
    EXPECT_EQ(E.Options().FrameRate.num, 30000);
    EXPECT_EQ(E.Options().FrameRate.den, 1001);
    EXPECT_EQ(Rejection("aspect", "0:9"), "Incorrect aspect ratio specification.");
    EXPECT_EQ(Rejection("aspect", "4:0"), "Incorrect aspect ratio specification.");
    EXPECT_EQ(Rejection("aspect", "wide"), "Incorrect aspect ratio specification.");
    E.SetOption("aspect", "16:9");
    EXPECT_NEAR(E.Options().FrameAspectRatio, 16.0 / 9.0, 1e-6);
    E.SetOption("aspect", "2.35");
    EXPECT_NEAR(E.Options().FrameAspectRatio, 2.35, 1e-6);
}

TEST_F(OptionTable, TimeStampScale) {
    EXPECT_EQ(Rejection("itsscale", "20:1.5"), "stream index over MAX_STREAMS(20)");
    E.SetOption("itsscale", "3:1.5");
    EXPECT_DOUBLE_EQ(E.Options().InputTsScale[0][3], 1.5);
}

// "list" logs the library's tables and keeps the field; names are looked up.
TEST_F(OptionTable, PixelAndSampleFormats) {
    int pixelFormats = 0;
    for (const AVPixFmtDescriptor* d = ff::av_pix_fmt_desc_next(nullptr); d;
         d = ff::av_pix_fmt_desc_next(d))
        ++pixelFormats;
    std::vector<std::string> lines;
    GetLogger()->SetLogLevel(llInfo);
    GetLogger()->SetOnLog(
        [&](const void*, unsigned, TLogLevel, const std::string& text) { lines.push_back(text); });
    E.SetOption("pix_fmt", "list");
    EXPECT_EQ(static_cast<int>(lines.size()), pixelFormats + 1);
    EXPECT_EQ(lines.at(0).rfind("name", 0), 0u); // the heading
    EXPECT_EQ(E.Options().FramePixFmt, -1);
    lines.clear();
    E.SetOption("sample_fmt", "list");
    EXPECT_EQ(lines.size(), 13u); // heading and twelve formats
    GetLogger()->SetOnLog(nullptr);
    EXPECT_EQ(Rejection("pix_fmt", "nonsense"), "Unknown pixel format requested: nonsense");
    E.SetOption("pix_fmt", "yuv422p");
    EXPECT_EQ(E.Options().FramePixFmt, AV_PIX_FMT_YUV422P);
    E.SetOption("sample_fmt", "s16");
    EXPECT_EQ(E.Options().AudioSampleFmt, AV_SAMPLE_FMT_S16);
    E.SetOption("sample_fmt", "nonsense");
    EXPECT_EQ(E.Options().AudioSampleFmt, -1);
}

// "copy" sets the kind's copy flag, which a later name does not clear.
TEST_F(OptionTable, CodecNamesAndCopy) {
    E.SetOption("acodec", "copy");
    E.SetOption("acodec", "mp2");
    EXPECT_EQ(E.Options().AudioCodecName, "mp2");
    EXPECT_TRUE(E.Options().AudioStreamCopy);
    E.SetOption("vcodec", "");
    EXPECT_TRUE(E.Options().VideoCodecName.empty());
    E.SetSubtitleCodec("copy");
    EXPECT_TRUE(E.Options().SubtitleStreamCopy);
    EXPECT_TRUE(E.Options().SubtitleCodecName.empty());
}

TEST_F(OptionTable, CodecTags) {
    try {
        E.SetOption("vtag", "abc");
        FAIL() << "a three-character tag was taken";
    } catch (const EAssertionFailed& e) {
        std::string message = e.what();
        EXPECT_EQ(message.rfind("video tag parameter must be 4 chars (FFmpeg, line ", 0), 0u)
            << message;
    }
    EXPECT_THROW(E.SetOption("atag", "mp4a1"), EAssertionFailed);
    EXPECT_THROW(E.SetOption("stag", "x"), EAssertionFailed);
    E.SetOption("atag", "mp4a");
    EXPECT_EQ(E.Options().AudioCodecTag, MKTAG('m', 'p', '4', 'a'));
    E.Options().SetVideoTag("");
    EXPECT_EQ(E.Options().VideoCodecTag, 0u);
}

TEST_F(OptionTable, IgnoredNamesThreadsAndUnknownNames) {
    TLogCapture log;
    E.SetOption("y", "");
    E.SetOption("benchmark", "1");
    EXPECT_TRUE(log.Contains("Do nothing: option - y"));
    EXPECT_EQ(log.LevelOf("Do nothing: option - benchmark"), llInfo);
    EXPECT_EQ(Rejection("threads", "2"), "TODO: option - threads");
    EXPECT_EQ(E.Options().ThreadCount, 0);
    TLogCapture quiet;
    E.SetOption("xyz", "1");
    EXPECT_FALSE(quiet.Contains("xyz"));
}

// An option whose library setting is gone is kept and named once in the log.
TEST_F(OptionTable, SettingWithoutLibraryEffect) {
    std::vector<std::pair<TLogLevel, std::string>> lines;
    GetLogger()->SetLogLevel(llDebug);
    GetLogger()->SetOnLog([&](const void*, unsigned, TLogLevel level, const std::string& text) {
        if (text.find("me_threshold") != std::string::npos)
            lines.emplace_back(level, text);
    });
    E.SetOption("me_threshold", "4");
    E.SetOption("me_threshold", "5");
    EXPECT_EQ(E.Options().MeThreshold, 5);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].first, llInfo);
    EXPECT_EQ(RejectionOf<EConvertError>(E, "me_threshold", "x"),
              "'x' is not a valid integer value");
    E.Reset();
    E.SetOption("me_threshold", "1");
    EXPECT_EQ(lines.size(), 2u); // once per task, not once per process
    GetLogger()->SetOnLog(nullptr);
}

// loglevel takes names and numbers; a library debug setting turns the bridge to debug.
TEST_F(OptionTable, LogLevels) {
    E.SetOption("loglevel", "error");
    EXPECT_EQ(GetLogger()->GetLogLevel(), llError);
    E.SetOption("loglevel", "32");
    EXPECT_EQ(GetLogger()->GetLogLevel(), llInfo);
    EXPECT_TRUE(E.SetGenericOption("debug", "mb_type"));
    EXPECT_EQ(GetLogger()->GetLogLevel(), llDebug);
}

TEST_F(OptionTable, ForcedFormats) {
    TLogCapture log;
    E.SetOption("f", "pgmyuv");
    EXPECT_TRUE(log.Contains("pgmyuv format is deprecated, use image2"));
    EXPECT_TRUE(E.Options().ImageCompatibility);
    ASSERT_NE(E.Options().InputFormat, nullptr);
    EXPECT_STREQ(E.Options().InputFormat->name, "image2");
    EXPECT_EQ(Rejection("f", "nosuchformat"), "Unknown input or output format: nosuchformat");
    EXPECT_EQ(Rejection("f", ""), "");
    E.SetOption("f", "wav");
    EXPECT_STREQ(E.Options().InputFormat->name, "wav");
    EXPECT_STREQ(E.Options().OutputFormat->name, "wav");
    try {
        E.SetOutputFormat("nosuch");
        FAIL();
    } catch (const FFmpegException& e) {
        EXPECT_STREQ(e.what(), "Unknown output format: nosuch");
    }
    try {
        E.SetInputFormat("ipod"); // a muxer only
        FAIL();
    } catch (const FFmpegException& e) {
        EXPECT_STREQ(e.what(), "Unknown input format: ipod");
    }
}

// Crops are checked against the frame size known so far and reduce it; pads ignore negatives.
TEST_F(OptionTable, CropAndPad) {
    const std::string vertical = "Vertical crop dimensions are outside the range of the original "
                                 "image.\nRemember to crop first and scale second.";
    EXPECT_EQ(Rejection("croptop", "8"), vertical);
    E.SetOption("croptop", "0"); // nothing to crop needs no picture
    E.SetOption("s", "320x240");
    E.SetOption("croptop", "8");
    E.SetOption("cropbottom", "-4");
    EXPECT_EQ(E.Options().CropTop, 8);
    EXPECT_EQ(E.Options().FrameHeight, 232);
    EXPECT_EQ(Rejection("cropbottom", "232"), vertical);
    EXPECT_EQ(Rejection("cropleft", "320"),
              "Horizontal crop dimensions are outside the range of the original image.\n"
              "Remember to crop first and scale second.");
    E.SetOption("padleft", "16");
    E.SetOption("padleft", "-2");
    EXPECT_EQ(E.Options().PadLeft, 16);
}

// The pad colour 0xBBGGRR in full-range Y, Cb, Cr (JPEG's conversion).
TEST_F(OptionTable, PadColour) {
    struct {
        int Colour;
        int Y, U, V;
    } cases[] = {{0x0000FF, 76, 85, 255},
                 {0xFFFFFF, 255, 128, 128},
                 {0, 0, 128, 128},
                 {0xFF0000, 29, 255, 107}};
    for (const auto& c : cases) {
        E.SetOption("padcolor", std::to_string(c.Colour));
        EXPECT_NEAR(E.Options().PadColor[0], c.Y, 1) << std::hex << c.Colour;
        EXPECT_NEAR(E.Options().PadColor[1], c.U, 1) << std::hex << c.Colour;
        EXPECT_NEAR(E.Options().PadColor[2], c.V, 1) << std::hex << c.Colour;
    }
}

TEST_F(OptionTable, Matrices) {
    std::string values;
    for (int i = 1; i <= 64; ++i)
        values += std::to_string(i) + (i < 64 ? "," : ",99");
    E.SetOption("intra_matrix", values);
    ASSERT_EQ(E.Options().IntraMatrix.size(), 64u);
    EXPECT_EQ(E.Options().IntraMatrix[0], 1);
    EXPECT_EQ(E.Options().IntraMatrix[63], 64);
    EXPECT_EQ(Rejection("inter_matrix", "1,2,3,4,5,6,7,8,9,10"),
              "Syntax error in matrix \"1,2,3,4,5,6,7,8,9,10\" at coeff 9");
}

// Values whose arithmetic would overflow or divide by zero are refused with the option's message.
TEST_F(OptionTable, HostileValuesAreRefused) {
    auto matrix = [](const std::string& first, const std::string& last) {
        std::string text = first;
        for (int i = 1; i < 63; ++i)
            text += ",16";
        return text + "," + last;
    };
    const std::string lastZero = matrix("16", "0"), firstHuge = matrix("65536", "16");
    const struct {
        const char *Name, *Message;
        std::string Value;
    } cases[] = {
        {"intra_matrix", "Syntax error in matrix \"%s\" at coeff 63", lastZero},
        {"inter_matrix", "Syntax error in matrix \"%s\" at coeff 0", firstHuge},
        {"ss", "Invalid duration specification for ss: %s", "9223372036854775807us"},
        {"itsoffset", "Invalid duration specification for itsoffset: %s", "-9223372036854s"},
        {"t", "Invalid duration specification for t: %s", "1000000001"},
        {"padtop", "Pad size too large (at most 16384)", "2147483647"},
        {"padright", "Pad size too large (at most 16384)", "16385"},
        {"s", "Incorrect frame size", "2147483646x2"},
        {"aspect", "Incorrect aspect ratio specification.", "nan"},
        {"aspect", "Incorrect aspect ratio specification.", "inf"},
        {"aspect", "Incorrect aspect ratio specification.", "1e300"},
        {"aspect", "Incorrect aspect ratio specification.", "-4:3"},
    };
    for (const auto& c : cases) {
        char message[1200];
        std::snprintf(message, sizeof message, c.Message, c.Value.c_str());
        EXPECT_EQ(Rejection(c.Name, c.Value), message) << c.Name;
    }
    EXPECT_TRUE(E.Options().IntraMatrix.empty());
    E.SetOption("ss", "1000000000");
    EXPECT_EQ(E.Options().StartTimeUs, MaxOptionTimeUs);
    E.Options().SetStartTime(INT64_MAX);
    EXPECT_EQ(E.Options().StartTimeUs, MaxOptionTimeUs);
    E.SetOption("padtop", "16384");
    EXPECT_EQ(E.Options().PadTop, 16384);

    // A side cropped again replaces its earlier crop: a later 0 gives the whole height back.
    E.SetOption("s", "320x240");
    for (const auto& [crop, height] : {std::pair{"100", 140}, {"8", 232}, {"0", 240}}) {
        E.SetOption("croptop", crop);
        EXPECT_EQ(E.Options().FrameHeight, height) << crop;
    }
    EXPECT_EQ(E.Options().CropTop, 0);
    E.SetOption("cropbottom", "200");
    EXPECT_EQ(Rejection("croptop", "40"),
              "Vertical crop dimensions are outside the range of the "
              "original image.\nRemember to crop first and scale second.");

    // The initial buffer fill is three quarters of the largest buffer, without overflow.
    E.SetOption("bufsize", "2147483647");
    TTempFolder folder;
    ASSERT_EQ(E.OpenOutputFile(folder / "v.avi"), 1) << E.LastError;
    EXPECT_EQ(E.OutputStreamSetup(0, 0).Encoder->rc_initial_buffer_occupancy, 1610612735);
}

TEST_F(OptionTable, BitstreamFilters) {
    E.SetOption("vbsf", "h264_mp4toannexb");
    E.SetOption("absf", "=x");
    E.SetOption("sbsf", "null=ignored");
    EXPECT_EQ(E.Options().VideoBitstreamFilters, std::vector<std::string>{"h264_mp4toannexb"});
    EXPECT_TRUE(E.Options().AudioBitstreamFilters.empty());
    EXPECT_EQ(E.Options().SubtitleBitstreamFilters, std::vector<std::string>{"null"});
    EXPECT_EQ(Rejection("absf", " nosuchbsf "), "Unknown bitstream filter nosuchbsf");
}

TEST_F(OptionTable, BitRates) {
    TLogCapture log;
    E.SetOption("ab", "128k");
    int64_t audioRate = 0;
    ff::av_opt_get_int(E.OptionContexts.Codec(AVMEDIA_TYPE_AUDIO), "b", 0, &audioRate);
    EXPECT_EQ(audioRate, 128000);
    EXPECT_FALSE(log.Contains("bitrate parameter is set too low"));
    E.SetOption("vb", "64");
    EXPECT_EQ(log.LevelOf("WARNING: The bitrate parameter is set too low. It takes bits/s as "
                          "argument, not kbits/s"),
              llWarning);
    int64_t videoRate = 0;
    ff::av_opt_get_int(E.OptionContexts.Codec(AVMEDIA_TYPE_VIDEO), "b", 0, &videoRate);
    EXPECT_EQ(videoRate, 64);
}

// A rejected option changes nothing else: the engine takes further options and inputs.
TEST_F(OptionTable, RejectionLeavesEngineUsable) {
    E.SetOption("ar", "22050");
    EXPECT_NE(Rejection("qscale", "0"), "");
    EXPECT_NE(Rejection("metadata", "x"), "");
    EXPECT_THROW(E.SetOption("vtag", "x"), EAssertionFailed);
    EXPECT_EQ(E.Options().AudioSampleRateHz, 22050);
    E.SetOption("an", "1");
    ASSERT_TRUE(E.OpenInputFile(Fixture("tone_1k_stereo.wav"))) << E.LastError;
    EXPECT_EQ(E.InputFileCount(), 1);
}

TEST_F(OptionTable, DirectSettersAndHookRanges) {
    E.Options().SetMuxPreload(0);
    E.Options().SetMuxMaxDelay(-1);
    E.Options().SetProgramId(-1);
    EXPECT_FLOAT_EQ(E.Options().MuxPreloadSeconds, 0.5f);
    EXPECT_FLOAT_EQ(E.Options().MuxMaxDelaySeconds, 0.7f);
    EXPECT_EQ(E.Options().ProgramId, 0);
    E.Options().SetMuxPreload(0.25f);
    EXPECT_FLOAT_EQ(E.Options().MuxPreloadSeconds, 0.25f);
    E.Options().SetHookTimeRanges({{5, 30}, {0, 10}, {40, 20}});
    ASSERT_EQ(E.Options().HookTimeRanges.size(), 3u);
    EXPECT_EQ(E.Options().HookTimeRanges[0].EndUs, 10);
    EXPECT_EQ(E.Options().HookTimeRanges[1].EndUs, 20);
    EXPECT_EQ(E.Options().HookTimeRanges[2].EndUs, 30);
    // A run starts at the first range.
    EXPECT_EQ(E.MakeRun()->State.HookTimeRangeIndex, 0);
    E.SetOption("vstats", "");
    EXPECT_NE(E.Options().VstatsFileName.find("/vstats_"), std::string::npos);
    EXPECT_EQ(E.Options().VstatsFileName.substr(E.Options().VstatsFileName.size() - 4), ".log");
}

// Reset puts every option back to its default.
TEST_F(OptionTable, ResetRestoresDefaults) {
    E.SetOption("ar", "8000");
    E.SetOption("acodec", "copy");
    E.SetOption("metadata", "a=b");
    E.SetOption("map", "0:0");
    E.Reset();
    EXPECT_EQ(E.Options().AudioSampleRateHz, 44100);
    EXPECT_FALSE(E.Options().AudioStreamCopy);
    EXPECT_TRUE(E.Options().MetadataPairs.empty());
    EXPECT_TRUE(E.Options().StreamMaps.empty());
    EXPECT_EQ(E.Options().MaxFrames[3], 2147483647);
    EXPECT_EQ(E.Options().IntraDcPrecision, 8);
    EXPECT_EQ(E.Options().PadColor[0], 16);
    EXPECT_TRUE(E.OptionContexts.Created());
}

} // namespace
