// Sound extraction through the engine's public operations (options, input, output, run):
// every output format from audio and video inputs, rate and channel changes, volume, a clip and
// the synchronisation methods, judged by ffprobe and the samples the ffmpeg tool decodes.
#include "AudioCoreHarness.h"
#include "RunHarness.h"

#include "support/TestMedia.h"

#include <cctype>
#include <gtest/gtest.h>

namespace {

// Converts input to output through a threaded engine run; asserts a clean end.
void Convert(const std::string& input, const TOptionList& inputOptions,
             const std::filesystem::path& output, const TOptionList& outputOptions) {
    TEngineUnderTest run;
    run.OpenInputs(inputOptions, {Fixture(input)});
    run.CreateOutput(outputOptions, output);
    run.RunToEnd();
    EXPECT_FALSE(run.Engine->ErrorOccurred) << run.Engine->ErrorMessage;
    EXPECT_TRUE(run.Engine->Finished);
}

struct TFormatCase {
    std::string Input;
    std::string Extension;
    bool VideoInput;
};

void PrintTo(const TFormatCase& param, std::ostream* os) {
    *os << param.Input << " -> " << param.Extension;
}

std::string CodecOf(const std::string& extension) {
    static const std::vector<std::pair<std::string, std::string>> codecs = {
        {"mp3", "mp3"},       {"mp2", "mp2"},      {"wma", "wmav2"}, {"ogg", "flac"},
        {"aac", "aac"},       {"m4a", "aac"},      {"flac", "flac"}, {"ac3", "ac3"},
        {"wav", "pcm_s16le"}, {"au", "pcm_s16be"}, {"ra", "ac3"}};
    for (const auto& [ext, codec] : codecs)
        if (ext == extension)
            return codec;
    return "";
}

std::vector<TFormatCase> FormatCases() {
    std::vector<TFormatCase> cases;
    for (const char* input : {"tone_1k_stereo.mp3", "tone_1k_stereo.flac", "tone_1k_stereo.wav"})
        for (const char* extension :
             {"mp3", "mp2", "wma", "ogg", "aac", "m4a", "flac", "ac3", "wav", "au", "ra"})
            cases.push_back({input, extension, false});
    for (const char* extension :
         {"mp3", "mp2", "wma", "aac", "flac", "ac3", "wav", "au", "ogg", "m4a", "ra"})
        cases.push_back({"video_h264_aac.mp4", extension, true});
    return cases;
}

class AudioEngineFormatTest : public testing::TestWithParam<TFormatCase> {};

// Each format opens with exactly one audio stream of its codec at the input's rate and
// channels, lasting as long as the input within an encoder frame and its priming. From a
// video, the audio-only containers read the input without video (input "vn"), the others are
// told to make no video stream (output "vn").
TEST_P(AudioEngineFormatTest, ExtractsTheSoundIntoEachFormat) {
    const TFormatCase& param = GetParam();
    const auto output = TempOutput("engine." + param.Extension);
    const bool containerTakesVideo =
        param.Extension == "ogg" || param.Extension == "m4a" || param.Extension == "ra";
    TOptionList inputOptions, outputOptions;
    if (param.VideoInput)
        (containerTakesVideo ? outputOptions : inputOptions).push_back({"vn", "1"});
    if (param.Extension == "ogg")
        outputOptions.push_back({"acodec", "flac"});
    Convert(param.Input, inputOptions, output, outputOptions);

    EXPECT_EQ(ProbeStreamCount(output, "a"), 1);
    EXPECT_EQ(ProbeStreamCount(output, "v"), 0);
    EXPECT_EQ(ProbeValue(output, "stream=codec_name", "a:0"), CodecOf(param.Extension));
    EXPECT_EQ(ProbeValue(output, "stream=sample_rate", "a:0"), "44100");
    EXPECT_EQ(ProbeValue(output, "stream=channels", "a:0"),
              ProbeValue(Fixture(param.Input), "stream=channels", "a:0"));
    const TDecodedAudio in = DecodeAudio(Fixture(param.Input));
    const TDecodedAudio out = DecodeAudio(output);
    EXPECT_NEAR(out.DurationSeconds(), in.DurationSeconds(), 0.1);
    EXPECT_NEAR(out.ZeroCrossingFrequency(0, 1.0, 3.0), 1000, 15);
    EXPECT_NEAR(out.Rms(0, 1.0, 3.0), in.Rms(0, 1.0, 3.0), 0.01);
}

INSTANTIATE_TEST_SUITE_P(AllFormats, AudioEngineFormatTest, testing::ValuesIn(FormatCases()),
                         [](const testing::TestParamInfo<TFormatCase>& info) {
                             std::string name = info.param.Input + "_to_" + info.param.Extension;
                             for (char& c : name)
                                 if (!std::isalnum(static_cast<unsigned char>(c)))
                                     c = '_';
                             return name;
                         });

struct TConversionCase {
    std::string Name;
    std::string Input;
    std::string Extension;
    TOptionList OutputOptions;
    int ExpectedRateHz;
    int ExpectedChannels;
};

void PrintTo(const TConversionCase& param, std::ostream* os) {
    *os << param.Name;
}

class AudioEngineConversionTest : public testing::TestWithParam<TConversionCase> {};

// Rate and channel options give what was asked (or the nearest the encoder takes), keep the
// duration and the 1 kHz pitch, and put the tone on the output channels.
TEST_P(AudioEngineConversionTest, ChangesRateAndChannels) {
    const TConversionCase& param = GetParam();
    const auto output = TempOutput("engineconv." + param.Extension);
    Convert(param.Input, {}, output, param.OutputOptions);
    EXPECT_EQ(ProbeValue(output, "stream=sample_rate", "a:0"),
              std::to_string(param.ExpectedRateHz));
    EXPECT_EQ(ProbeValue(output, "stream=channels", "a:0"), std::to_string(param.ExpectedChannels));
    const TDecodedAudio in = DecodeAudio(Fixture(param.Input));
    const TDecodedAudio out = DecodeAudio(output);
    EXPECT_NEAR(out.DurationSeconds(), in.DurationSeconds(), 0.1);
    for (int channel = 0; channel < out.Channels; ++channel) {
        // With the channels kept, only those with sound in the input must have it.
        if (in.Channels == out.Channels && in.Rms(channel, 0.5, 2.5) < 0.01)
            continue;
        EXPECT_NEAR(out.ZeroCrossingFrequency(channel, 0.5, 2.5), 1000, 15) << channel;
        EXPECT_GT(out.Rms(channel, 0.5, 2.5), 0.02) << channel;
    }
}

INSTANTIATE_TEST_SUITE_P(
    RatesAndChannels, AudioEngineConversionTest,
    testing::Values(
        TConversionCase{
            "From48000To22050", "tone_48k_stereo.wav", "mp3", {{"ar", "22050"}}, 22050, 2},
        TConversionCase{"From44100To8000", "tone_1k_stereo.wav", "wav", {{"ar", "8000"}}, 8000, 2},
        TConversionCase{"StereoToMono", "tone_1k_stereo.wav", "mp3", {{"ac", "1"}}, 44100, 1},
        TConversionCase{"MonoToStereo", "tone_mono.wav", "mp3", {{"ac", "2"}}, 44100, 2},
        TConversionCase{"FiveOneToStereo", "tone_5_1.wav", "aac", {{"ac", "2"}}, 48000, 2},
        TConversionCase{"FiveOneToMp3TakesStereo", "tone_5_1.wav", "mp3", {{"ac", "6"}}, 48000, 2},
        TConversionCase{"FiveOneToWmaTakesStereo", "tone_5_1.wav", "wma", {{"ac", "6"}}, 48000, 2},
        TConversionCase{"FiveOneStaysInAc3", "tone_5_1.wav", "ac3", {{"ac", "6"}}, 48000, 6},
        TConversionCase{
            "Mp2TakesTheNearestRate", "tone_1k_stereo.wav", "mp2", {{"ar", "11025"}}, 16000, 2}),
    [](const testing::TestParamInfo<TConversionCase>& info) { return info.param.Name; });

// Volume 512 doubles the level, 128 halves it, 0 silences it.
TEST(AudioEngineVolumeTest, ScalesTheLevel) {
    const double reference = DecodeAudio(Fixture("tone_1k_stereo.wav")).Rms(-1, 0.5, 3.5);
    for (const auto& [volume, factor] :
         std::vector<std::pair<std::string, double>>{{"512", 2.0}, {"128", 0.5}, {"0", 0.0}}) {
        const auto output = TempOutput("vol" + volume + ".wav");
        Convert("tone_1k_stereo.wav", {}, output, {{"vol", volume}});
        EXPECT_NEAR(DecodeAudio(output).Rms(-1, 0.5, 3.5), reference * factor, 0.002) << volume;
    }
}

// A clip from 10 s lasting 15.5 s: as long as asked within a frame, and it starts with the
// input's sound at 10 s (a burst of 0.8 s of tone, then 0.2 s of silence, each second).
TEST(AudioEngineClipTest, StartsAtTheStartTimeAndLastsTheDuration) {
    const auto output = TempOutput("clip.mp3");
    Convert("bursts_30s.mp4", {{"ss", "10"}, {"vn", "1"}}, output, {{"t", "15.5"}});
    const TDecodedAudio out = DecodeAudio(output);
    EXPECT_NEAR(out.DurationSeconds(), 15.5, 0.05);
    for (int second : {0, 1, 7, 14}) {
        EXPECT_GT(out.Rms(-1, second + 0.1, second + 0.7), 0.05) << second;
        EXPECT_LT(out.Rms(-1, second + 0.85, second + 0.95), 0.01) << second;
    }
}

// A start between two key frames: the seek lands on the key frame before it, and the sound
// decoded from there up to the start is cut away (tone at [n, n+0.8) s of the input).
TEST(AudioEngineClipTest, StartBetweenKeyFramesIsCutToTheSample) {
    const auto output = TempOutput("clip_mid.wav");
    Convert("bursts_30s.mp4", {{"ss", "10.5"}, {"vn", "1"}}, output, {{"t", "2"}});
    const TDecodedAudio out = DecodeAudio(output);
    EXPECT_NEAR(out.DurationSeconds(), 2.0, 0.03);
    EXPECT_GT(out.Rms(-1, 0.0, 0.25), 0.05);  // 10.5 to 10.75 s: tone
    EXPECT_LT(out.Rms(-1, 0.35, 0.45), 0.01); // 10.85 to 10.95 s: silence
    EXPECT_GT(out.Rms(-1, 0.55, 1.25), 0.05); // 11.05 to 11.75 s: tone
}

// Sync method 1 puts silence before sound that starts late and into a gap of its time
// stamps; method 0 adds and drops nothing.
TEST(AudioEngineSyncTest, MethodOneFillsLateStartAndGapsMethodZeroDoesNot) {
    const auto late = TempOutput("late.wav");
    Convert("audio_late.mp4", {{"vn", "1"}}, late, {{"async", "1"}});
    const TDecodedAudio lateAudio = DecodeAudio(late);
    EXPECT_LT(lateAudio.Rms(-1, 0.0, 0.17), 0.001);
    EXPECT_GT(lateAudio.Rms(-1, 0.25, 2.5), 0.05);
    EXPECT_NEAR(lateAudio.DurationSeconds(), 3.0, 0.05);

    const auto lateZero = TempOutput("late0.wav");
    Convert("audio_late.mp4", {{"vn", "1"}}, lateZero, {{"async", "0"}});
    const TDecodedAudio lateZeroAudio = DecodeAudio(lateZero);
    EXPECT_GT(lateZeroAudio.Rms(-1, 0.0, 0.15), 0.05);
    EXPECT_NEAR(lateZeroAudio.DurationSeconds(), 2.8, 0.05);

    const auto gap = TempOutput("gap.wav");
    Convert("audio_gap.mkv", {}, gap, {{"async", "1"}});
    const TDecodedAudio gapAudio = DecodeAudio(gap);
    EXPECT_NEAR(gapAudio.DurationSeconds(), 2.5, 0.03);
    EXPECT_GT(gapAudio.Rms(-1, 0.1, 0.9), 0.05);
    EXPECT_LT(gapAudio.Rms(-1, 1.05, 1.49), 0.001);
    EXPECT_GT(gapAudio.Rms(-1, 1.6, 2.4), 0.05);

    const auto gapZero = TempOutput("gap0.wav");
    Convert("audio_gap.mkv", {}, gapZero, {{"async", "0"}});
    const TDecodedAudio gapZeroAudio = DecodeAudio(gapZero);
    EXPECT_NEAR(gapZeroAudio.DurationSeconds(), 2.0, 0.03);
    EXPECT_GT(gapZeroAudio.Rms(-1, 0.9, 1.1), 0.05);
}

} // namespace
