// The stream mapping and the initialisation's refusals: the mapping log of an audio-only
// extraction, outputs without streams, kind mismatches and a copy with a volume change. Each
// refusal ends the run as failed, with its message logged and no empty output left behind.
#include "RunHarness.h"

#include "support/TestMedia.h"

namespace {

class TranscodeMappingTest : public ::testing::Test {
protected:
    // Runs the engine and expects it to fail with message, logged at llQuiet.
    void ExpectFailure(const std::string& message) {
        Run.RunToEnd();
        EXPECT_TRUE(Run.Engine->ErrorOccurred);
        EXPECT_FALSE(Run.Engine->Finished);
        EXPECT_EQ(Run.Engine->ErrorMessage, message);
        EXPECT_EQ(Log.LevelOf(message), llQuiet);
        EXPECT_EQ(Run.Terminations, 1);
    }

    TLogCapture Log;
    TTempFolder Folder;
    TEngineUnderTest Run;
};

TEST_F(TranscodeMappingTest, AudioOnlyExtractionTakesTheInputsSecondStream) {
    Run.OpenInputs({}, {Fixture("video_h264_aac.mp4")});
    Run.CreateOutput({{"vn", ""}, {"acodec", "copy"}}, Folder / "out.m4a");
    Run.RunToEnd();
    ASSERT_TRUE(Run.Engine->Finished) << Run.Engine->ErrorMessage;
    const int heading = Log.IndexOf("Stream mapping:");
    ASSERT_GE(heading, 0);
    EXPECT_EQ(Log.LevelOf("Stream mapping:"), llVerbose);
    EXPECT_GT(Log.IndexOf("  Stream #0.1 -> #0.0 (Audio)"), heading);
    EXPECT_FALSE(Log.Contains("Stream #0.0 ->"));
}

TEST_F(TranscodeMappingTest, OutputsTakeUnmappedStreamsInOrderThenReuseTheLast) {
    Run.OpenInputs({}, {Fixture("tone_1k_stereo.mp3"), Fixture("name with spaces é ü 日本.mp3")});
    Run.CreateOutput({{"acodec", "copy"}}, Folder / "out.mka");
    for (int extra = 0; extra < 2; ++extra) {
        Run.Engine->SetOption("acodec", "copy");
        Run.Engine->SetOption("newaudio", "");
    }
    Run.RunToEnd();
    ASSERT_TRUE(Run.Engine->Finished) << Run.Engine->ErrorMessage;
    EXPECT_TRUE(Log.Contains("  Stream #0.0 -> #0.0 (Audio)"));
    EXPECT_TRUE(Log.Contains("  Stream #1.0 -> #0.1 (Audio)"));
    EXPECT_TRUE(Log.Contains("  Stream #1.0 -> #0.2 (Audio)"));
    EXPECT_EQ(ProbeStreamCount(Folder / "out.mka", "a"), 3);
}

TEST_F(TranscodeMappingTest, ProgramIdChoosesTheProgramsStreams) {
    const auto input = Fixture("two_programs.ts");
    Run.OpenInputs({{"programid", "2"}}, {input});
    Run.CreateOutput({{"vn", ""}, {"acodec", "copy"}}, Folder / "out.mka");
    Run.RunToEnd();
    ASSERT_TRUE(Run.Engine->Finished) << Run.Engine->ErrorMessage;
    // The second program's sound is the 48 kHz one.
    EXPECT_EQ(ProbeValue(Folder / "out.mka", "stream=sample_rate", "a:0"), "48000");
}

TEST_F(TranscodeMappingTest, OutputWithoutStreamsFailsAndIsDeleted) {
    Run.OpenInputs({}, {Fixture("video_only.mp4")});
    Run.CreateOutput({{"vn", ""}}, Folder / "out.m4a");
    ExpectFailure("Output file #0 does not contain any stream");
    EXPECT_FALSE(std::filesystem::exists(Folder / "out.m4a"));
}

TEST_F(TranscodeMappingTest, MapOfAnotherKindIsAMismatch) {
    Run.OpenInputs({}, {Fixture("video_h264_aac.mp4")});
    Run.CreateOutput({{"vn", ""}, {"acodec", "copy"}, {"map", "0:0"}}, Folder / "out.m4a");
    ExpectFailure("Codec type mismatch for mapping #0.0 (Video) -> #0.0 (Audio)");
    EXPECT_FALSE(std::filesystem::exists(Folder / "out.m4a"));
}

TEST_F(TranscodeMappingTest, MapsMustMatchTheOutputStreams) {
    Run.OpenInputs({}, {Fixture("video_h264_aac.mp4")});
    Run.CreateOutput({{"vn", ""}, {"acodec", "copy"}, {"map", "0:1"}, {"map", "0:1"}},
                     Folder / "out.m4a");
    ExpectFailure("Number of stream maps must match number of output streams");
}

TEST_F(TranscodeMappingTest, CopyWithVolumeChangeIsRefused) {
    Run.OpenInputs({}, {Fixture("tone_1k_stereo.mp3")});
    Run.CreateOutput({{"acodec", "copy"}, {"vol", "512"}}, Folder / "out.mp3");
    ExpectFailure("-acodec copy and -vol are incompatible (frames are not decoded)");
    EXPECT_FALSE(std::filesystem::exists(Folder / "out.mp3"));
}

} // namespace
