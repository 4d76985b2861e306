// The output option assembly: names and collisions, format rules, number fields and the clip.
#include "component/OutputAssembly.h"
#include "component/ChoiceTexts.h"
#include "component/ComponentHarness.h"
#include "component/OutputFormats.h"
#include "component/UpdateCheck.h"

#include <gtest/gtest.h>

namespace {

TOutputChoices ChoicesFor(const std::filesystem::path& input, TOutputFormatId format = fmMp3) {
    TOutputChoices choices;
    choices.InputFileName = input;
    choices.InputDurationUs = 60'000'000;
    choices.Format = format;
    return choices;
}

} // namespace

// Beside the input, "_(new)" and the extension; existing names are numbered unless overwriting.
TEST(OutputName, CollisionsWithZeroOneTwoExistingFiles) {
    TScratchFolder folder;
    const TOutputChoices choices = ChoicesFor(folder / "Talk.avi");
    EXPECT_EQ(OutputFileNameFor(choices), folder / "Talk_(new).mp3");
    folder.Touch("Talk_(new).mp3");
    EXPECT_EQ(OutputFileNameFor(choices), folder / "Talk_(new_1).mp3");
    folder.Touch("Talk_(new_1).mp3");
    EXPECT_EQ(OutputFileNameFor(choices), folder / "Talk_(new_2).mp3");

    TOutputChoices overwrite = choices;
    overwrite.Overwrite = true;
    EXPECT_EQ(OutputFileNameFor(overwrite), folder / "Talk_(new).mp3");
    EXPECT_EQ(BuildOutputOptions(overwrite).FileName, folder / "Talk_(new).mp3");
}

// A name another task of the list will write is never given again, overwrite or not.
TEST(OutputName, ClaimedNamesAreSkipped) {
    TScratchFolder folder;
    TOutputChoices choices = ChoicesFor(folder / "Talk.avi");
    choices.ClaimedNames = {folder / "Talk_(new).mp3"};
    EXPECT_EQ(OutputFileNameFor(choices), folder / "Talk_(new_1).mp3");
    choices.Overwrite = true;
    EXPECT_EQ(OutputFileNameFor(choices), folder / "Talk_(new_1).mp3");
}

// A chosen output folder, with or without its trailing separator; only the input's name part
// without extension is kept.
TEST(OutputName, ChosenFolder) {
    TScratchFolder folder;
    TOutputChoices choices = ChoicesFor("/home/u/Videos/Talk.show.avi", fmOgg);
    choices.OutputFolder = folder.Path().string() + "/";
    EXPECT_EQ(OutputFileNameFor(choices), folder / "Talk.show_(new).ogg");
    choices.OutputFolder = folder.Path();
    EXPECT_EQ(OutputFileNameFor(choices), folder / "Talk.show_(new).ogg");
}

// Every format: extension, input video switched off or not, and the output fields it sets.
TEST(FormatRules, EveryFormat) {
    struct TRule {
        const char* Caption;
        const char* Extension;
        bool InputVideoOff;
        const char* AudioCodec;
        const char* VideoCodec;
        bool NoVideo;
    };
    const TRule rules[] = {
        {"Mp3", ".mp3", true, "", "", false},
        {"Mp2", ".mp2", true, "", "", false},
        {"Wma", ".wma", true, "wmav2", "", true},
        {"Ogg", ".ogg", false, "flac", "libtheora", false},
        {"Aac", ".aac", true, "", "", false},
        {"M4a", ".m4a", false, "", "", false},
        {"Flac", ".flac", false, "", "", false},
        {"Ac3", ".ac3", true, "", "", false},
        {"Wav", ".wav", true, "", "", false},
        {"Au", ".au", false, "", "", false},
        {"Ra", ".ra", false, "", "", false},
        {"Original", ".m4a", true, "copy", "", true},
        {"Opus", ".opus", true, "libopus", "", false},
    };
    ASSERT_EQ(OutputFormats().size(), std::size(rules));
    for (const TRule& rule : rules) {
        SCOPED_TRACE(rule.Caption);
        EXPECT_EQ(OutputFormats()[&rule - rules].Caption, rule.Caption) << "the dialog's order";
        TOutputChoices choices = ChoicesFor("/in/Talk.avi", FindOutputFormat(rule.Caption)->Id);
        choices.InputAudioCodec = "aac";
        const TOutputOptions output = BuildOutputOptions(choices);
        const TInputOptions input = BuildInputOptions(choices);
        EXPECT_EQ(output.FileExt, rule.Extension);
        EXPECT_EQ(output.FileName, std::string("/in/Talk_(new)") + rule.Extension);
        EXPECT_EQ(input.ExtraOptions, rule.InputVideoOff ? "vn=1" : "");
        EXPECT_EQ(output.AudioCodec, rule.AudioCodec);
        EXPECT_EQ(output.VideoCodec, rule.VideoCodec);
        EXPECT_EQ(output.NoVideo, rule.NoVideo);
        EXPECT_TRUE(output.FormatName.empty()) << "the container follows the extension";
        EXPECT_TRUE(output.NoSubtitle);
        EXPECT_EQ(output.StreamInfo.Timestamp, 0.0);
    }
}

// A stream copy goes into the container that fits its codec.
TEST(FormatRules, OriginalContainerFollowsTheCodec) {
    const std::pair<const char*, const char*> containers[] = {
        {"aac", ".m4a"},       {"alac", ".m4a"},      {"mp3", ".mp3"},   {"vorbis", ".ogg"},
        {"opus", ".opus"},     {"flac", ".flac"},     {"ac3", ".ac3"},   {"eac3", ".eac3"},
        {"mp2", ".mp2"},       {"wmav1", ".wma"},     {"wmav2", ".wma"}, {"pcm_s16le", ".wav"},
        {"pcm_f32le", ".wav"}, {"pcm_s16be", ".mka"}, {"dts", ".mka"},   {"truehd", ".mka"},
        {"tta", ".tta"},       {"", ".mka"}};
    for (const auto& [codec, extension] : containers) {
        SCOPED_TRACE(codec);
        TOutputChoices choices = ChoicesFor("/in/Talk.mov", fmCopy);
        choices.InputAudioCodec = codec;
        EXPECT_EQ(BuildOutputOptions(choices).FileName, std::string("/in/Talk_(new)") + extension);
        EXPECT_EQ(CopyRefusalText(choices, "Talk.mov"), "");
    }
}

// Sound no container we write holds is refused for the stream copy only, when the task is added.
TEST(FormatRules, OriginalRefusedForSoundNoContainerHolds) {
    for (const char* codec : {"ape", "musepack8", "tak", "dsd_lsbf_planar", "shorten"}) {
        SCOPED_TRACE(codec);
        TOutputChoices choices = ChoicesFor("/in/Song.x", fmCopy);
        choices.InputAudioCodec = codec;
        EXPECT_EQ(CopyRefusalText(choices, "Song.x"),
                  "Song.x: its sound (" + std::string(codec) +
                      ") cannot be kept as it is; choose flac to keep it lossless.");
        choices.Format = fmFlac;
        EXPECT_EQ(CopyRefusalText(choices, "Song.x"), "");
    }
}

// Opus: 48 kHz always, stereo and 96 kbit/s unless chosen (or chosen outside its limits);
// "Original" drops every change of the sound.
TEST(FormatRules, OpusDefaultsAndOriginalDropsSoundChanges) {
    TOutputChoices choices = ChoicesFor("/in/Talk.avi", fmOpus);
    choices.SampleRateHz = 22050;
    TOutputOptions output = BuildOutputOptions(choices);
    EXPECT_EQ(output.SampleRate, 48000);
    EXPECT_EQ(output.Channels, 2);
    EXPECT_EQ(output.AudioBitrate, 96000);
    choices.Channels = 1;
    choices.BitRateKbps = 48;
    output = BuildOutputOptions(choices);
    EXPECT_EQ(output.Channels, 1);
    EXPECT_EQ(output.AudioBitrate, 48000);
    choices.BitRateKbps = 0;
    EXPECT_EQ(BuildOutputOptions(choices).AudioBitrate, 96000) << "outside its limits";

    for (const auto& [text, lufs] : std::vector<std::pair<const char*, double>>{
             {"-23", -23.0}, {" -14.5 ", -14.5}, {"loud", -16.0}, {"5", -16.0}}) {
        choices.LoudnessTargetLufs = LoudnessTargetOfText(text);
        EXPECT_EQ(BuildOutputOptions(choices).LoudnessTargetLufs, lufs) << text;
    }

    choices.Format = fmCopy;
    choices.Volume = 512;
    output = BuildOutputOptions(choices);
    EXPECT_EQ(output.SampleRate, -1);
    EXPECT_EQ(output.Channels, -1);
    EXPECT_EQ(output.Volume, -1);
    EXPECT_EQ(output.AudioBitrate, -1);
    EXPECT_FALSE(output.LoudnessTargetLufs);
}

// The dialog's initial settings: nothing but what the assembly always sets.
TEST(AssemblyFields, InitialSettingsSetNothingElse) {
    const TOutputChoices choices = ChoicesFor("/in/Talk.avi");
    const TOutputOptions output = BuildOutputOptions(choices);
    EXPECT_EQ(output.SampleRate, -1);
    EXPECT_EQ(output.Channels, -1);
    EXPECT_EQ(output.Volume, -1);
    EXPECT_EQ(output.AudioBitrate, -1);
    EXPECT_EQ(output.DurationMs, -1);
    EXPECT_FALSE(output.CopyTimestamp);
    EXPECT_FALSE(output.CustomHook);
    EXPECT_FALSE(output.BeforeHook);
    EXPECT_TRUE(output.HookPTSPeriods.empty());
    EXPECT_TRUE(output.ExtraOptions.empty());
    EXPECT_EQ(output.Engine, TEngineChoices{.KeepTags = true}) << "tags and cover kept";
    const TInputOptions input = BuildInputOptions(choices);
    EXPECT_EQ(input.FileName, "/in/Talk.avi");
    EXPECT_EQ(input.StartMs, -1);
    EXPECT_TRUE(input.FormatName.empty());
}

// Leaving tags and cover out: the engine choices go whole, the caller's own lines beside them.
TEST(AssemblyFields, TagsAndCoverCanBeLeftOut) {
    TOutputChoices choices = ChoicesFor("/in/Song.flac");
    choices.Engine = {.KeepTags = false, .KeepCover = false, .CoverSizePixels = 300};
    choices.ExtraOutputOptions = "ac=1\n";
    const TOutputOptions output = BuildOutputOptions(choices);
    EXPECT_EQ(output.Engine, choices.Engine);
    EXPECT_EQ(output.ExtraOptions, "ac=1\n");
}

// Sample rate, channels, volume and bit rate as the fields read.
TEST(AssemblyFields, NumberFieldsAndFallbacks) {
    TOutputChoices choices = ChoicesFor("/in/Talk.avi", fmWav);
    choices.SampleRateHz = SampleRateOfCaption("44100");
    choices.Channels = ChannelsOfCaption("Stereo");
    EXPECT_EQ(BuildOutputOptions(choices).SampleRate, 44100);
    EXPECT_EQ(BuildOutputOptions(choices).Channels, 2);
    EXPECT_EQ(BuildInputOptions(choices).ExtraOptions, "vn=1");
    choices.SampleRateHz = SampleRateOfCaption("fast");
    choices.Channels = ChannelsOfCaption("Mono");
    EXPECT_EQ(BuildOutputOptions(choices).SampleRate, 22050) << "not a number";
    EXPECT_EQ(BuildOutputOptions(choices).Channels, 1);

    EXPECT_EQ(BuildOutputOptions(choices).Volume, -1) << "unchecked";
    choices.Volume = VolumeOfText("loud");
    EXPECT_EQ(BuildOutputOptions(choices).Volume, -1) << "not a number: no change";
    choices.Volume = VolumeOfText(" 300 ");
    EXPECT_EQ(BuildOutputOptions(choices).Volume, 300);

    EXPECT_EQ(BuildOutputOptions(choices).AudioBitrate, -1) << "unchecked";
    choices.BitRateKbps = BitRateKbpsOfText("128");
    EXPECT_EQ(BuildOutputOptions(choices).AudioBitrate, 128000);
    choices.BitRateKbps = BitRateKbpsOfText("12x");
    EXPECT_EQ(BuildOutputOptions(choices).AudioBitrate, 64000) << "not a number";
    choices.BitRateKbps = BitRateKbpsOfText("3000000");
    EXPECT_EQ(BuildOutputOptions(choices).AudioBitrate, -1) << "beyond the format's limits";

    choices.CopyTimestamp = true;
    EXPECT_TRUE(BuildOutputOptions(choices).CopyTimestamp);
}

// The clip of 10.000 to 25.500 s on a 60 s input, cut to the millisecond.
TEST(Clip, StartAndDurationFromTheSelection) {
    TOutputChoices choices = ChoicesFor("/in/Talk.avi");
    choices.Clip = ClipBetween(10'000'000, 25'500'999);
    EXPECT_EQ(BuildInputOptions(choices).StartMs, 10000);
    EXPECT_EQ(BuildOutputOptions(choices).DurationMs, 15500);
    // In the settings text as the selection was once said there: earlier records still match.
    EXPECT_NE(OutputSettingsText(choices).find(" clip=10000000-25500999 "), std::string::npos);

    choices.Clip = ClipBetween(10'000'000, 5'000'000); // end before start: no clip
    EXPECT_EQ(BuildInputOptions(choices).StartMs, -1);
    EXPECT_EQ(BuildOutputOptions(choices).DurationMs, -1);
    EXPECT_FALSE(ClipBetween(0, 0)) << "no end";
}

// The clamping of a selection to the input's duration.
TEST(Clip, ClampedToTheDuration) {
    const int64_t minute = 60'000'000;
    // End beyond the duration: the clip ends at the duration.
    TClipMs clip = ClipStartAndLength(50'000, 90'000, 1000, minute);
    EXPECT_EQ(clip.StartMs, 50000);
    EXPECT_EQ(clip.LengthMs, 10000);
    // Start at or beyond the duration: from 0.
    clip = ClipStartAndLength(70'000, 80'000, 1000, minute);
    EXPECT_EQ(clip.StartMs, 0);
    EXPECT_EQ(clip.LengthMs, 60000);
    // A two-hour input at scale 1000000 (seconds).
    clip = ClipStartAndLength(10, 7200, 1'000'000, 7'200'000'000LL);
    EXPECT_EQ(clip.StartMs, 10000);
    EXPECT_EQ(clip.LengthMs, 7'190'000);
    // An unknown duration limits nothing.
    clip = ClipStartAndLength(1'500'000, 4'000'000, 1, -1);
    EXPECT_EQ(clip.StartMs, 1500);
    EXPECT_EQ(clip.LengthMs, 2500);
}
