// The option records as engine settings: which fields reach the engine, when, and in what order;
// the extra-option kinds; task creation and output set-up through the component.
#include "component/ComponentHarness.h"
#include "component/FFmpegTask.h"
#include "component/OutputAssembly.h"
#include "probe/AVProbe.h"
#include "support/TestLibs.h"
#include "support/TestMedia.h"

#include <gtest/gtest.h>

#include <ctime>

namespace {

class TaskOptions : public ::testing::Test {
protected:
    void SetUp() override {
        EnsureLibsLoaded();
        Task.Reset();
    }
    bool HasGenericOption(const std::string& name) const {
        for (const auto& set : Task.OptionContexts.SetOptions)
            if (set.Option && name == set.Option->name)
                return true;
        return false;
    }
    TFFmpeg Task;
};

} // namespace

// A default output record sets only the fields that are always applied, to their defaults.
TEST_F(TaskOptions, DefaultOutputRecordSetsOnlyTheAlwaysAppliedFields) {
    Task.Options().AudioDisable = true;
    Task.Options().AudioLanguage = "eng";
    Task.Options().AudioSyncMethod = 1;
    Task.Options().VideoDisable = true;
    Task.Options().PadColor[0] = 1;
    Task.Options().PadColor[1] = 1;
    Task.Options().VideoSyncMethod = 2;
    Task.Options().SubtitleDisable = true;
    Task.Options().SubtitleLanguage = "fre";
    Task.Options().CopyTs = true;
    // Fields a default record must leave alone.
    Task.Options().AudioSampleRateHz = 22050;
    Task.Options().AudioChannels = 1;
    Task.Options().AudioVolume = 100;
    Task.Options().StartTimeUs = 7;
    Task.Options().RecordingTimestampSeconds = 9;

    Task.ApplyOutputOptions(TOutputOptions());

    EXPECT_FALSE(Task.Options().AudioDisable);
    EXPECT_EQ(Task.Options().AudioLanguage, "");
    EXPECT_EQ(Task.Options().AudioSyncMethod, 0);
    EXPECT_FALSE(Task.Options().VideoDisable);
    EXPECT_EQ(Task.Options().PadColor[0], 0) << "black";
    EXPECT_EQ(Task.Options().PadColor[1], 128);
    EXPECT_EQ(Task.Options().PadColor[2], 128);
    EXPECT_EQ(Task.Options().VideoSyncMethod, -1);
    EXPECT_FALSE(Task.Options().SubtitleDisable);
    EXPECT_EQ(Task.Options().SubtitleLanguage, "");
    EXPECT_FALSE(Task.Options().CopyTs);

    EXPECT_EQ(Task.Options().AudioSampleRateHz, 22050);
    EXPECT_EQ(Task.Options().AudioChannels, 1);
    EXPECT_EQ(Task.Options().AudioVolume, 100);
    EXPECT_EQ(Task.Options().StartTimeUs, 7);
    EXPECT_EQ(Task.Options().RecordingTimestampSeconds, 9);
    EXPECT_EQ(Task.Options().OutputFormat, nullptr);
    EXPECT_EQ(Task.Options().AudioCodecName, "");
    EXPECT_EQ(Task.Options().RecordingTimeUs, std::numeric_limits<int64_t>::max());
    EXPECT_TRUE(Task.Options().MetadataPairs.empty());
    EXPECT_TRUE(Task.OptionContexts.SetOptions.empty());
}

// Start offsets apply above 0 only, microseconds after milliseconds; the same for the input.
TEST_F(TaskOptions, StartOffsetsAndDurations) {
    TOutputOptions output;
    output.StartMs = 0;
    Task.ApplyOutputOptions(output);
    EXPECT_EQ(Task.Options().StartTimeUs, 0);
    output.StartMs = 1;
    Task.ApplyOutputOptions(output);
    EXPECT_EQ(Task.Options().StartTimeUs, 1000);
    output.StartUs = 2500;
    Task.ApplyOutputOptions(output);
    EXPECT_EQ(Task.Options().StartTimeUs, 2500) << "microseconds come after milliseconds";

    output = TOutputOptions();
    output.DurationMs = 15500;
    Task.ApplyOutputOptions(output);
    EXPECT_EQ(Task.Options().RecordingTimeUs, 15'500'000);
    EXPECT_EQ(Task.Options().RecordingTimeMs, 15500);
    output.DurationUs = 2'500'999;
    Task.ApplyOutputOptions(output);
    EXPECT_EQ(Task.Options().RecordingTimeUs, 2'500'999);
    EXPECT_EQ(Task.Options().RecordingTimeMs, 2500);

    TFFmpeg input;
    input.Reset();
    input.Options().ProgramId = 3;
    TInputOptions record;
    record.StartMs = 1;
    input.ApplyInputOptions(record);
    EXPECT_EQ(input.Options().StartTimeUs, 1000);
    EXPECT_EQ(input.Options().ProgramId, 3) << "ProgramNo -1 sets nothing";
    EXPECT_EQ(input.Options().PreferredAudioStream, -1) << "AudioStream -1 leaves the choice";
    record.ProgramNo = 0;
    record.AudioStream = 2;
    input.ApplyInputOptions(record);
    EXPECT_EQ(input.Options().ProgramId, 0);
    EXPECT_EQ(input.Options().PreferredAudioStream, 2);
}

// Creation time: 0 is now, -1 none; the user's tag lines, then the record's tags, then year,
// track and texts as metadata pairs in their order (the first of a key wins).
TEST_F(TaskOptions, CreationTimeAndMetadata) {
    TOutputOptions output;
    Task.ApplyOutputOptions(output);
    EXPECT_EQ(Task.Options().RecordingTimestampSeconds, 0) << "-1 writes none";

    const int64_t before = std::time(nullptr);
    output.StreamInfo.Timestamp = 0;
    output.StreamInfo.Year = 2009;
    output.StreamInfo.Track = 0;
    output.StreamInfo.Title = "T";
    output.StreamInfo.Rights = "R";
    output.StreamInfo.Genre = "G";
    output.ExtraOptions = "metadata=title=User";
    output.Tags = {{"title", "Piece"}, {"CUESHEET", ""}};
    Task.ApplyOutputOptions(output);
    EXPECT_GE(Task.Options().RecordingTimestampSeconds, before);
    EXPECT_LE(Task.Options().RecordingTimestampSeconds, static_cast<int64_t>(std::time(nullptr)));
    using TPair = std::pair<std::string, std::string>;
    EXPECT_EQ(Task.Options().MetadataPairs, (std::vector<TPair>{{"title", "User"},
                                                                {"title", "Piece"},
                                                                {"CUESHEET", ""},
                                                                {"year", "2009"},
                                                                {"title", "T"},
                                                                {"copyright", "R"},
                                                                {"genre", "G"}}))
        << "track 0 adds nothing";
}

// Fields with conditions: volume 0 applies, bit rates go as library options, codecs by name.
TEST_F(TaskOptions, ConditionalFields) {
    TOutputOptions output;
    output.Volume = 0;
    output.AudioBitrate = 128000;
    output.VideoBitrate = 900000;
    output.AudioCodec = "flac";
    output.SampleRate = 8000;
    output.Channels = 1;
    Task.ApplyOutputOptions(output);
    EXPECT_EQ(Task.Options().AudioVolume, 0);
    EXPECT_TRUE(HasGenericOption("ab"));
    // The library's "b" names the rate of both kinds; each kind keeps its own.
    EXPECT_EQ(Task.OptionContexts.Codec(AVMEDIA_TYPE_AUDIO)->bit_rate, 128000);
    EXPECT_EQ(Task.OptionContexts.Codec(AVMEDIA_TYPE_VIDEO)->bit_rate, 900000);
    EXPECT_EQ(Task.Options().AudioCodecName, "flac");
    EXPECT_EQ(Task.Options().AudioSampleRateHz, 8000);
    EXPECT_EQ(Task.Options().AudioChannels, 1);
}

// Extra options: an always-applied field overrides an extra option of the same meaning, an
// extra option the record's engine choices; the three kinds pick their lines; every line-break
// style separates lines.
TEST_F(TaskOptions, ExtraOptionKinds) {
    TOutputOptions output;
    output.ExtraOptions = "vn=1\nar=22050\ncover=1\nreplaygain=1";
    output.Engine = {.KeepTags = true, .KeepCover = false, .CoverSizePixels = 300};
    Task.ApplyOutputOptions(output);
    EXPECT_FALSE(Task.Options().VideoDisable) << "NoVideo false undoes vn=1";
    EXPECT_EQ(Task.Options().AudioSampleRateHz, 22050) << "SampleRate -1 leaves the extra option";
    EXPECT_EQ(Task.Options().Choices,
              (TEngineChoices{
                  .KeepTags = true, .KeepCover = true, .CoverSizePixels = 300, .ReplayGain = true}))
        << "the engine choices before the extra options";

    const std::string text = "  vn=1\r\nsn\ran=0\napre=no-such-preset-here\n";
    TFFmpeg ordinary;
    ordinary.Reset();
    ordinary.ApplyExtraOptions(text, eoOrdinary); // the preset line is skipped
    EXPECT_TRUE(ordinary.Options().VideoDisable);
    EXPECT_TRUE(ordinary.Options().SubtitleDisable) << "a line without = has an empty value";
    EXPECT_FALSE(ordinary.Options().AudioDisable);

    TFFmpeg preset;
    preset.Reset();
    EXPECT_THROW(preset.ApplyExtraOptions(text, eoPreset), std::exception);
    EXPECT_FALSE(preset.Options().VideoDisable) << "ordinary lines are not the preset kind's";
    preset.ApplyExtraOptions(text, eoNewStream);
    EXPECT_FALSE(preset.Options().VideoDisable);
}

// Creating a task: the record copy takes the call's file name; failures leave no task and say why.
TEST(ComponentTasks, AddTaskInputAndSetTaskOutput) {
    EnsureLibsLoaded();
    TScratchFolder folder;
    TFFmpegComponent component;
    const auto input = Fixture("tone_1k_stereo.wav");
    TInputOptions options;
    const int index = component.AddTaskInput(input, &options);
    ASSERT_EQ(index, 0) << component.LastErrorText();
    EXPECT_EQ(component.Task(0)->InputOptions.FileName, input);

    EXPECT_EQ(component.AddTaskInput(folder / "missing.wav"), -1);
    EXPECT_FALSE(component.LastErrorText().empty());
    TInputOptions unknownFormat;
    unknownFormat.FormatName = "no-such-format";
    EXPECT_EQ(component.AddTaskInput(input, &unknownFormat), -1);
    EXPECT_NE(component.LastErrorText().find("Unknown input format: no-such-format"),
              std::string::npos)
        << component.LastErrorText();
    EXPECT_EQ(component.TaskCount(), 1);

    EXPECT_FALSE(component.SetTaskOutput(5, folder / "x.mp3"));
    EXPECT_FALSE(component.SetTaskOutput(0, folder / "no-folder" / "x.mp3"));
    EXPECT_FALSE(component.LastErrorText().empty());
    EXPECT_EQ(component.TaskCount(), 1) << "the caller deletes a task whose output failed";

    TOutputOptions output;
    output.HookPTSPeriods = "10000-15000,0-5000,9-3";
    ASSERT_TRUE(component.SetTaskOutput(0, folder / "x.mp3", &output)) << component.LastErrorText();
    EXPECT_EQ(component.Task(0)->OutputOptions.FileName, folder / "x.mp3");
    const auto& ranges = component.Task(0)->Options().HookTimeRanges;
    ASSERT_EQ(ranges.size(), 2u);
    EXPECT_EQ(ranges[0].StartUs, 0);
    EXPECT_EQ(ranges[0].EndUs, 5'000'000);
    EXPECT_EQ(ranges[1].EndUs, 15'000'000);

    EXPECT_FALSE(std::filesystem::exists(folder / "x.mp3")) << "made only when the task starts";
    component.ClearTaskList();
    EXPECT_EQ(component.TaskCount(), 0);
    EXPECT_TRUE(component.LastErrorText().empty());
}

// The task of an Mp3 output with the dialog's initial settings, from end to end: the input's
// video is not read, subtitles are off, the creation time is now, and the output is an mp3 with
// the input's sound beside the input.
TEST(ComponentTasks, DialogMp3TaskFromEndToEnd) {
    EnsureLibsLoaded();
    TScratchFolder folder;
    const auto input = folder / "Talk.mp4";
    std::filesystem::copy_file(Fixture("video_h264_aac.mp4"), input);
    TOutputChoices choices;
    choices.InputFileName = input;
    choices.InputDurationUs = 4'000'000;

    TFFmpegComponent component;
    TEventRecorder events(component);
    const TAddedTask added = component.AddTask(choices);
    ASSERT_EQ(added.Index, 0) << added.ErrorText;
    EXPECT_EQ(added.OutputFileName, folder / "Talk_(new).mp3");
    EXPECT_EQ(added.LengthMs, 4000);
    const TFFmpeg& task = *component.Task(0);
    EXPECT_TRUE(task.Options().SubtitleDisable);
    EXPECT_FALSE(task.Options().CopyTs);
    EXPECT_GT(task.Options().RecordingTimestampSeconds, 0);
    EXPECT_TRUE(task.Options().HookTimeRanges.empty());

    component.StartTasks(0);
    ASSERT_EQ(events.TerminateIndexes(), (std::vector<int>{0, -1}));
    EXPECT_TRUE(events.Terminates()[0].Finished()) << events.Terminates()[0].Message;
    const auto written = folder / "Talk_(new).mp3";
    ASSERT_TRUE(std::filesystem::exists(written));
    EXPECT_EQ(ProbeValue(written, "stream=codec_name", "a:0"), "mp3");
    EXPECT_EQ(ProbeStreamCount(written, "v"), 0);
    EXPECT_NEAR(ProbeDuration(written), 4.0, 0.2);
    const TDecodedAudio sound = DecodeAudio(written);
    EXPECT_NEAR(sound.ZeroCrossingFrequency(0, 1.0, 3.0), 1000, 30);
}

// Adding a file: the probe tells an unreadable file and one without sound; a task that cannot be
// made is not left in the list, and its error text names the step that failed. A clip sets the
// length the row shows.
TEST(ComponentTasks, AddingAFileSaysWhyNot) {
    EnsureLibsLoaded();
    TScratchFolder folder;
    TFFmpegComponent component;
    const struct {
        const char* Name;
        const char* ProbeError; // the start of the probe's error text
        bool HasSound;
        std::string AddError;
    } cases[] = {
        {"tone_mono.wav", "", true, ""},
        {"video_only.mp4", "", false,
         "***Cannot do convert, error: " + NoSoundText(Fixture("video_only.mp4").string())},
        {"random.bin", "***File load error: ", false, "***File open error: "},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        const TProbedInput probed = component.ProbeInput(Fixture(c.Name));
        component.Probe().CloseFile();
        EXPECT_EQ(probed.ErrorText.rfind(c.ProbeError, 0), 0u) << probed.ErrorText;
        EXPECT_EQ(probed.ErrorText.empty(), *c.ProbeError == 0);
        EXPECT_EQ(probed.HasSound, c.HasSound);

        TOutputChoices choices;
        choices.InputFileName = Fixture(c.Name);
        choices.InputDurationUs = probed.DurationUs;
        choices.OutputFolder = folder.Path();
        choices.Clip = ClipBetween(0, 500'000);
        const TAddedTask added = component.AddTask(choices);
        EXPECT_EQ(added.ErrorText.rfind(c.AddError, 0), 0u) << added.ErrorText;
        EXPECT_EQ(added.Index >= 0, c.AddError.empty());
        EXPECT_EQ(added.LengthMs, c.AddError.empty() ? 500 : 0);
    }
    EXPECT_EQ(component.TaskCount(), 1);
}

// New-stream extra options are applied after the output file is set up, and only then.
TEST(ComponentTasks, NewStreamOptionsAfterTheOutput) {
    EnsureLibsLoaded();
    TScratchFolder folder;
    TFFmpegComponent component;
    TEventRecorder events(component);
    TOutputOptions output;
    output.ExtraOptions = "newaudio";
    for (const char* name : {"plain.mka", "extra.mka"}) {
        ASSERT_GE(component.AddTaskInput(Fixture("tone_mono.wav")), 0) << component.LastErrorText();
        const int index = component.TaskCount() - 1;
        const bool extra = std::string(name) == "extra.mka";
        ASSERT_TRUE(component.SetTaskOutput(index, folder / name, extra ? &output : nullptr))
            << component.LastErrorText();
    }
    component.StartTasks(0);
    EXPECT_EQ(ProbeStreamCount(folder / "extra.mka", "a"),
              ProbeStreamCount(folder / "plain.mka", "a") + 1);
}
