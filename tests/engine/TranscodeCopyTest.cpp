// Stream copy end to end: packets re-timed into other containers, checked by ffprobe against
// the input; a copy starts at a key frame; limits, shortest and join (copied and encoded).
#include "RunHarness.h"

#include "support/TestMedia.h"

#include <cmath>

namespace {

// The sound of an input copied into an output: same codec, same packets, same duration within
// one packet.
void ExpectSameAudio(const std::filesystem::path& input, const std::filesystem::path& output,
                     double packetSeconds) {
    ASSERT_TRUE(std::filesystem::exists(output));
    EXPECT_EQ(ProbeValue(output, "stream=codec_name", "a:0"),
              ProbeValue(input, "stream=codec_name", "a:0"));
    const int inputPackets = ProbePacketCount(input, "a");
    EXPECT_NEAR(ProbePacketCount(output, "a"), inputPackets, 1);
    const double inputDuration = std::atof(ProbeValue(input, "stream=duration", "a:0").c_str());
    EXPECT_NEAR(ProbeDuration(output), inputDuration, packetSeconds * 1.5);
}

class TranscodeCopyTest : public ::testing::Test {
protected:
    TTempFolder Folder;
    TEngineUnderTest Run;
};

// A forced decoder serves every input stream, the 22nd too; a copied picture keeps the aspect
// asked for instead of the input's.
TEST_F(TranscodeCopyTest, ForcedDecoderOfALateStreamAndAspectOfACopiedPicture) {
    const auto many = Folder / "many.mkv";
    std::string maps;
    for (int i = 0; i < 22; ++i)
        maps += " -map 0:a";
    int exitCode = 0;
    RunCommand("ffmpeg -nostdin -loglevel error -y -f lavfi -i sine=duration=0.5 -c:a aac" + maps +
                   " " + ShellQuote(many.string()),
               &exitCode);
    ASSERT_EQ(exitCode, 0);
    Run.OpenInputs({{"acodec", "aac_fixed"}}, {many});
    Run.CreateOutput({{"map", "0:21"}}, Folder / "late.wav");
    Run.RunToEnd();
    EXPECT_FALSE(Run.Engine->ErrorOccurred) << Run.Engine->ErrorMessage;
    EXPECT_NEAR(ProbeDuration(Folder / "late.wav"), 0.5, 0.1);

    TEngineUnderTest copy;
    copy.OpenInputs({}, {Fixture("video_h264_aac.mp4")});
    copy.CreateOutput({{"an", "1"}, {"vcodec", "copy"}, {"aspect", "16:9"}}, Folder / "wide.mp4");
    copy.RunToEnd();
    EXPECT_FALSE(copy.Engine->ErrorOccurred) << copy.Engine->ErrorMessage;
    EXPECT_EQ(ProbeValue(Folder / "wide.mp4", "stream=display_aspect_ratio", "v:0"), "16:9");
}

TEST_F(TranscodeCopyTest, AacOfAnMp4GoesUnchangedIntoM4aAndMka) {
    const auto input = Fixture("video_h264_aac.mp4");
    Run.OpenInputs({}, {input});
    Run.CreateOutput({{"vn", ""}, {"acodec", "copy"}}, Folder / "out.m4a");
    // The second output's audio stream reuses the input's only audio stream.
    Run.CreateOutput({{"vn", ""}, {"acodec", "copy"}}, Folder / "out.mka");
    Run.RunToEnd();
    EXPECT_TRUE(Run.Engine->Finished) << Run.Engine->ErrorMessage;
    EXPECT_FALSE(Run.Engine->ErrorOccurred);
    EXPECT_EQ(Run.Terminations, 1);
    ExpectSameAudio(input, Folder / "out.m4a", 1024.0 / 44100);
    ExpectSameAudio(input, Folder / "out.mka", 1024.0 / 44100);
    EXPECT_EQ(ProbeStreamCount(Folder / "out.m4a", "v"), 0);
}

TEST_F(TranscodeCopyTest, Mp3OfAnAviGoesUnchangedIntoMp3) {
    const auto input = Fixture("video_mpeg4_mp3.avi");
    Run.OpenInputs({}, {input});
    Run.CreateOutput({{"vn", ""}, {"acodec", "copy"}}, Folder / "out.mp3");
    Run.RunToEnd();
    EXPECT_TRUE(Run.Engine->Finished) << Run.Engine->ErrorMessage;
    ExpectSameAudio(input, Folder / "out.mp3", 1152.0 / 44100);
}

TEST_F(TranscodeCopyTest, BitstreamFilterChainPassesEveryPacket) {
    const auto input = Fixture("tone_1k_stereo.mp3");
    Run.OpenInputs({}, {input});
    Run.CreateOutput({{"acodec", "copy"}, {"absf", "null"}, {"absf", "noise"}},
                     Folder / "filtered.mka");
    Run.RunToEnd();
    ASSERT_TRUE(Run.Engine->Finished) << Run.Engine->ErrorMessage;
    ExpectSameAudio(input, Folder / "filtered.mka", 1152.0 / 44100);
}

// A filter that cannot take the stream is reported; the stream goes on unfiltered, or with
// xerror the run fails.
TEST_F(TranscodeCopyTest, BitstreamFilterFailureIsLoggedOrEndsTheRun) {
    TLogCapture log;
    const auto input = Fixture("tone_1k_stereo.mp3");
    Run.OpenInputs({}, {input});
    Run.CreateOutput({{"acodec", "copy"}, {"absf", "aac_adtstoasc"}}, Folder / "kept.mka");
    Run.RunToEnd();
    ASSERT_TRUE(Run.Engine->Finished) << Run.Engine->ErrorMessage;
    EXPECT_EQ(log.LevelOf("aac_adtstoasc failed for stream 0, codec copy"), llError);
    ExpectSameAudio(input, Folder / "kept.mka", 1152.0 / 44100);

    TEngineUnderTest strict;
    strict.OpenInputs({{"xerror", ""}}, {input});
    strict.CreateOutput({{"acodec", "copy"}, {"absf", "aac_adtstoasc"}}, Folder / "strict.mka");
    strict.RunToEnd();
    EXPECT_TRUE(strict.Engine->ErrorOccurred);
    EXPECT_EQ(strict.Engine->ErrorMessage.rfind("aac_adtstoasc failed for stream 0, codec copy", 0),
              0u);
}

// An MPEG-TS cut in the middle of a group of pictures: its first video packets are not key
// frames.
std::filesystem::path MakeCutTransportStream(const TTempFolder& folder) {
    const auto whole = folder / "whole.ts";
    const auto cut = folder / "cut.ts";
    int status = 0;
    RunCommand("ffmpeg -nostdin -v error -y -f lavfi -i testsrc=size=160x120:rate=25:duration=2 "
               "-c:v mpeg2video -g 25 -bf 0 -q:v 5 " +
                   ShellQuote(whole.string()),
               &status);
    EXPECT_EQ(status, 0);
    // Cut at a packet boundary a little after the start: mid-way into the first picture group.
    const auto size = std::filesystem::file_size(whole);
    const auto offset = (size / 5 / 188) * 188;
    RunCommand("tail -c +" + std::to_string(offset + 1) + " " + ShellQuote(whole.string()) + " > " +
                   ShellQuote(cut.string()),
               &status);
    EXPECT_EQ(status, 0);
    return cut;
}

TEST_F(TranscodeCopyTest, CopiedVideoStartsAtTheFirstKeyFrameUnlessToldOtherwise) {
    const auto cut = MakeCutTransportStream(Folder);
    ASSERT_FALSE(ProbeFirstPacketIsKey(cut, "v"));
    Run.OpenInputs({}, {cut});
    Run.CreateOutput({{"vcodec", "copy"}}, Folder / "out.mkv");
    Run.RunToEnd();
    ASSERT_TRUE(Run.Engine->Finished) << Run.Engine->ErrorMessage;
    EXPECT_TRUE(ProbeFirstPacketIsKey(Folder / "out.mkv", "v"));
    const int fromKeyFrame = ProbePacketCount(Folder / "out.mkv", "v");
    EXPECT_LT(fromKeyFrame, ProbePacketCount(cut, "v"));

    TEngineUnderTest all;
    all.OpenInputs({}, {cut});
    all.CreateOutput({{"vcodec", "copy"}, {"copyinkf", "1"}}, Folder / "all.mkv");
    all.RunToEnd();
    ASSERT_TRUE(all.Engine->Finished) << all.Engine->ErrorMessage;
    EXPECT_GT(ProbePacketCount(Folder / "all.mkv", "v"), fromKeyFrame);
}

TEST_F(TranscodeCopyTest, RecordingTimeFileSizeAndFrameCountEndTheCopy) {
    const auto input = Fixture("tone_1k_stereo.mp3"); // 4 s
    Run.OpenInputs({}, {input});
    Run.CreateOutput({{"acodec", "copy"}, {"t", "1.5"}}, Folder / "timed.mp3");
    Run.RunToEnd();
    EXPECT_TRUE(Run.Engine->Finished);
    EXPECT_NEAR(ProbeDuration(Folder / "timed.mp3"), 1.5, 0.06);

    TEngineUnderTest sized;
    sized.OpenInputs({}, {input});
    sized.CreateOutput({{"acodec", "copy"}, {"fs", "20000"}}, Folder / "sized.mp3");
    sized.RunToEnd();
    EXPECT_TRUE(sized.Engine->Finished);
    const auto size = std::filesystem::file_size(Folder / "sized.mp3");
    EXPECT_GT(size, 20000u); // the loop ends once the position is past the limit
    EXPECT_LT(size, 20000u + 2 * 418 + 1024);

    TEngineUnderTest counted;
    counted.OpenInputs({}, {input});
    counted.CreateOutput({{"acodec", "copy"}, {"aframes", "50"}}, Folder / "counted.mp3");
    counted.RunToEnd();
    EXPECT_TRUE(counted.Engine->Finished);
    EXPECT_EQ(ProbePacketCount(Folder / "counted.mp3", "a"), 50);
}

// Two inputs of 4 s and 1 s copied into one output with a stream for each.
void CopyTwoInputs(TEngineUnderTest& run, const std::filesystem::path& output, bool shortest) {
    TOptionList options = {{"acodec", "copy"}, {"map", "0:0"}, {"map", "1:0"}};
    if (shortest)
        options.emplace_back("shortest", "1");
    run.OpenInputs({}, {Fixture("tone_1k_stereo.mp3"), Fixture("name with spaces é ü 日本.mp3")});
    run.CreateOutput(options, output);
    run.Engine->SetOption("acodec", "copy");
    run.Engine->SetOption("newaudio", "");
    run.RunToEnd();
}

TEST_F(TranscodeCopyTest, ShortestEndsWithTheShortestInput) {
    CopyTwoInputs(Run, Folder / "longest.mka", false);
    ASSERT_TRUE(Run.Engine->Finished) << Run.Engine->ErrorMessage;
    EXPECT_NEAR(ProbeDuration(Folder / "longest.mka"), 4.0, 0.15);

    TEngineUnderTest shortest;
    CopyTwoInputs(shortest, Folder / "shortest.mka", true);
    ASSERT_TRUE(shortest.Engine->Finished) << shortest.Engine->ErrorMessage;
    EXPECT_LT(ProbeDuration(Folder / "shortest.mka"), 1.6);
}

TEST_F(TranscodeCopyTest, JoinPutsTheSecondInputAfterTheFirst) {
    const auto first = Fixture("tone_1k_stereo.mp3");
    const auto second = Fixture("name with spaces é ü 日本.mp3");
    Run.OpenInputs({}, {first, second});
    Run.CreateOutput({{"acodec", "copy"}}, Folder / "joined.mp3", true);
    Run.RunToEnd();
    ASSERT_TRUE(Run.Engine->Finished) << Run.Engine->ErrorMessage;
    const auto joined = Folder / "joined.mp3";
    EXPECT_NEAR(ProbeDuration(joined), ProbeDuration(first) + ProbeDuration(second), 0.1);
    EXPECT_NEAR(ProbePacketCount(joined, "a"),
                ProbePacketCount(first, "a") + ProbePacketCount(second, "a"), 1);
    // Time stamps rise across the seam.
    const std::string times = RunCommand(
        "ffprobe -v error -select_streams a:0 -show_entries packet=pts_time -of csv=p=0 " +
        ShellQuote(joined.string()));
    double previous = -1;
    std::size_t start = 0;
    int decreasing = 0;
    while (start < times.size()) {
        std::size_t end = times.find('\n', start);
        if (end == std::string::npos)
            end = times.size();
        const std::string line = times.substr(start, end - start);
        start = end + 1;
        if (line.empty())
            continue;
        const double value = std::atof(line.c_str());
        decreasing += value < previous;
        previous = value;
    }
    EXPECT_EQ(decreasing, 0);
}

// Joined inputs encoded: one encoder runs across the seam and is drained once at the end, so
// the output lasts as long as both inputs together.
TEST_F(TranscodeCopyTest, JoinedInputsEncodeIntoOneContinuousStream) {
    const auto first = Fixture("tone_1k_stereo.wav");
    const auto second = Fixture("tone_mono.wav");
    Run.OpenInputs({}, {first, second});
    Run.CreateOutput({{"acodec", "libmp3lame"}, {"ab", "64000"}}, Folder / "joined.mp3", true);
    Run.RunToEnd();
    ASSERT_TRUE(Run.Engine->Finished) << Run.Engine->ErrorMessage;
    const TDecodedAudio joined = DecodeAudio(Folder / "joined.mp3");
    EXPECT_NEAR(joined.DurationSeconds(), ProbeDuration(first) + ProbeDuration(second), 0.1);
    // Sound on both sides of the seam.
    EXPECT_GT(joined.Rms(0, 3.0, 3.9), 0.05);
    EXPECT_GT(joined.Rms(0, 4.1, 6.9), 0.05);
}

} // namespace
