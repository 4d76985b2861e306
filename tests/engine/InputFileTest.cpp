// Opening inputs: refusals with their texts, the stream parameters taken back into the option
// state, start seek and time-stamp offsets, durations, program and stream discarding.
#include "RunHarness.h"

#include "support/TestMedia.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <fstream>

namespace {

class InputFile : public ::testing::Test {
protected:
    TEngineUnderTest Test;
    TEngineOpen& E = *Test.Engine;

    // ffprobe's format start time in microseconds (0 when it has none).
    static int64_t ProbeStartUs(const std::filesystem::path& file) {
        std::string value = ProbeValue(file, "format=start_time");
        return value.empty() || value == "N/A" ? 0 : std::llround(std::atof(value.c_str()) * 1e6);
    }
    static int64_t ProbeDurationMs(const std::filesystem::path& file) {
        return std::llround(ProbeDuration(file) * 1000);
    }
};

TEST_F(InputFile, RefusedFilesReportWhy) {
    TTempFolder folder;
    const auto missing = folder / "missing.mp4";
    EXPECT_FALSE(E.OpenInputFile(missing));
    EXPECT_EQ(E.LastError, missing.string() + ": no such file or directory");
    const char* unreadable = " is not a sound or video file this program can read (damaged, "
                             "empty or of an unknown kind).";
    const std::pair<const char*, const char*> refused[] = {
        {"a_folder.mp4", " is a folder"},
        {"random.bin", unreadable},
        {"text.mp3", unreadable},
        {"empty.mp3", unreadable},
    };
    for (const auto& [name, text] : refused) {
        EXPECT_FALSE(E.OpenInputFile(Fixture(name)));
        EXPECT_EQ(E.LastError, Fixture(name).string() + text);
    }
    EXPECT_EQ(E.InputFileCount(), 0);
    // A forced format that does not fit the file.
    E.SetOption("f", "mpegts");
    EXPECT_FALSE(E.OpenInputFile(Fixture("tone_1k_stereo.wav")));
    EXPECT_EQ(E.Options().InputFormat, nullptr); // consumed by the attempt
    EXPECT_EQ(E.InputFileCount(), 0);
    // The engine still opens a good file afterwards.
    EXPECT_TRUE(E.OpenInputFile(Fixture("tone_1k_stereo.wav"))) << E.LastError;
}

// Found by the conversion fuzzer: an AVI whose video stream, of an unknown codec, declares a
// picture of -1920103027 x 1920103027 overflowed the size arithmetic of the input and of the
// output streams. A size the libraries would refuse counts as unknown. The file is the mpeg4
// fixture with its stream header's codec and picture size overwritten.
TEST_F(InputFile, DamagedPictureSizeCountsAsUnknown) {
    std::string avi = ReadWholeFile(Fixture("video_mpeg4_mp3.avi"));
    const std::size_t header = avi.find("vids");
    const std::size_t format = avi.find("strf", header);
    ASSERT_NE(format, std::string::npos);
    avi.replace(header + 4, 4, "ZZZZ");                  // handler
    avi.replace(format + 12, 8, std::string(8, '\x8d')); // width, height
    avi.replace(format + 24, 4, "ZZZZ");                 // compression
    TTempFolder folder;
    const auto damaged = folder / "damaged.avi";
    std::ofstream(damaged, std::ios::binary) << avi;
    E.OpenInputFile(damaged); // refusing it would do too; no undefined behaviour either way
    EXPECT_EQ(E.Options().FrameWidth, 0);
    EXPECT_EQ(E.Options().FrameHeight, 0);
    EXPECT_GE(E.Options().FrameAspectRatio, 0.0f) << "no aspect made of a negative width";
}

// Forced decoders must exist and be of the stream's kind; the names are consumed either way.
TEST_F(InputFile, ForcedDecoders) {
    E.SetOption("acodec", "libmp3lame"); // an encoder only
    EXPECT_FALSE(E.OpenInputFile(Fixture("tone_1k_stereo.mp3")));
    EXPECT_EQ(E.LastError, "Unknown decoder 'libmp3lame'");
    EXPECT_TRUE(E.Options().AudioCodecName.empty());
    E.SetOption("vcodec", "mp3");
    EXPECT_FALSE(E.OpenInputFile(Fixture("video_h264_aac.mp4")));
    EXPECT_EQ(E.LastError, "Invalid decoder type 'mp3'");
    E.SetOption("acodec", "mp3float");
    ASSERT_TRUE(E.OpenInputFile(Fixture("tone_1k_stereo.mp3"))) << E.LastError;
    ASSERT_EQ(E.InputCodecs.size(), 1u);
    ASSERT_NE(E.InputCodecs[0], nullptr);
    EXPECT_STREQ(E.InputCodecs[0]->name, "mp3float");
    EXPECT_TRUE(E.Options().AudioCodecName.empty());
}

// After opening, the option state describes the input's streams (ffprobe's figures).
TEST_F(InputFile, StreamParametersBecomeDefaults) {
    const auto file = Fixture("video_h264_aac.mp4");
    ASSERT_TRUE(E.OpenInputFile(file)) << E.LastError;
    EXPECT_EQ(E.Options().FrameWidth, std::atoi(ProbeValue(file, "stream=width", "v:0").c_str()));
    EXPECT_EQ(E.Options().FrameHeight, std::atoi(ProbeValue(file, "stream=height", "v:0").c_str()));
    EXPECT_EQ(std::to_string(E.Options().FrameRate.num) + "/" +
                  std::to_string(E.Options().FrameRate.den),
              ProbeValue(file, "stream=r_frame_rate", "v:0"));
    EXPECT_NEAR(E.Options().FrameAspectRatio, 4.0 / 3.0, 1e-6);
    EXPECT_EQ(E.Options().FramePixFmt,
              ff::av_get_pix_fmt(ProbeValue(file, "stream=pix_fmt", "v:0").c_str()));
    EXPECT_EQ(E.Options().AudioSampleRateHz,
              std::atoi(ProbeValue(file, "stream=sample_rate", "a:0").c_str()));
    EXPECT_EQ(E.Options().AudioChannels,
              std::atoi(ProbeValue(file, "stream=channels", "a:0").c_str()));
    EXPECT_EQ(E.Options().AudioSampleFmt,
              ff::av_get_sample_fmt(ProbeValue(file, "stream=sample_fmt", "a:0").c_str()));
    AVChannelLayout layout{};
    ASSERT_EQ(ff::av_channel_layout_from_string(
                  &layout, ProbeValue(file, "stream=channel_layout", "a:0").c_str()),
              0);
    EXPECT_EQ(E.Options().AudioChannelLayout, layout.u.mask);
    EXPECT_NEAR(E.Options().RecordingTimeMs, ProbeDurationMs(file), 1);
    // One forced-decoder entry and one decoder context per stream, in stream order.
    ASSERT_EQ(E.InputCodecs.size(), 2u);
    ASSERT_EQ(E.InputDecoders.size(), 2u);
    EXPECT_EQ(E.InputDecoders[0]->codec_id, AV_CODEC_ID_H264);
    EXPECT_EQ(E.InputDecoders[1]->codec_id, AV_CODEC_ID_AAC);
    EXPECT_EQ(E.InputDecoders[1]->sample_rate, 44100);
}

// A start time seeks the next input only; offsets follow the files' own start times.
TEST_F(InputFile, StartTimeAndOffsets) {
    const auto ts = Fixture("two_programs.ts");
    const auto mp4 = Fixture("video_h264_aac.mp4");
    E.SetOption("itsoffset", "2");
    E.SetOption("ss", "1");
    ASSERT_TRUE(E.OpenInputFile(ts)) << E.LastError;
    EXPECT_EQ(E.Options().StartTimeUs, 0);
    ASSERT_TRUE(E.OpenInputFile(mp4)) << E.LastError;
    EXPECT_EQ(E.InputFileTsOffsetsUs[0], 2000000 - (1000000 + ProbeStartUs(ts)));
    EXPECT_EQ(E.InputFileTsOffsetsUs[1], 2000000 - ProbeStartUs(mp4));
    E.SetOption("copyts", "");
    ASSERT_TRUE(E.OpenInputFile(ts)) << E.LastError;
    EXPECT_EQ(E.InputFileTsOffsetsUs[2], 2000000);
}

// The expected output duration ends as the longest input's.
TEST_F(InputFile, LongestInputGivesTheDuration) {
    const auto longer = Fixture("video_h264_aac.mp4");
    const auto shorter = Fixture("mono_8k.wav");
    ASSERT_TRUE(E.OpenInputFile(longer));
    ASSERT_TRUE(E.OpenInputFile(shorter));
    EXPECT_NEAR(E.Options().RecordingTimeMs, ProbeDurationMs(longer), 1);
    E.Reset();
    ASSERT_TRUE(E.OpenInputFile(shorter));
    EXPECT_NEAR(E.Options().RecordingTimeMs, ProbeDurationMs(shorter), 1);
    ASSERT_TRUE(E.OpenInputFile(longer));
    EXPECT_NEAR(E.Options().RecordingTimeMs, ProbeDurationMs(longer), 1);
}

// Disable flags discard the streams of their kind and stay set for later files.
TEST_F(InputFile, DisabledKindsAreDiscarded) {
    E.SetOption("an", "1");
    ASSERT_TRUE(E.OpenInputFile(Fixture("video_h264_aac.mp4")));
    EXPECT_EQ(E.InputFiles[0]->streams[1]->discard, AVDISCARD_ALL);
    EXPECT_NE(E.InputFiles[0]->streams[0]->discard, AVDISCARD_ALL);
    EXPECT_TRUE(E.Options().AudioDisable);
    E.SetOption("vn", "1");
    ASSERT_TRUE(E.OpenInputFile(Fixture("video_h264_aac.mp4")));
    EXPECT_EQ(E.InputFiles[1]->streams[0]->discard, AVDISCARD_ALL);
    EXPECT_EQ(E.InputFiles[1]->streams[1]->discard, AVDISCARD_ALL);
}

// A program id keeps that program and discards the others.
TEST_F(InputFile, ProgramSelection) {
    const auto ts = Fixture("two_programs.ts");
    std::string ids = ProbeValue(ts, "program=program_id");
    int second = std::atoi(ids.substr(ids.find_last_of("\n") + 1).c_str());
    E.Options().SetProgramId(second);
    ASSERT_TRUE(E.OpenInputFile(ts)) << E.LastError;
    AVFormatContext* ic = E.InputFiles[0];
    ASSERT_EQ(ic->nb_programs, 2u);
    for (unsigned i = 0; i < ic->nb_programs; ++i)
        EXPECT_EQ(ic->programs[i]->discard == AVDISCARD_ALL, ic->programs[i]->id != second);
}

// A picture without size and aspect leaves the 4:3 default; an audio file has no picture.
TEST_F(InputFile, AudioOnlyKeepsPictureDefaults) {
    ASSERT_TRUE(E.OpenInputFile(Fixture("tone_mono.wav")));
    EXPECT_EQ(E.Options().FrameWidth, 0);
    EXPECT_EQ(E.Options().AudioChannels, 1);
    EXPECT_EQ(E.Options().AudioSampleFmt, AV_SAMPLE_FMT_S16);
    EXPECT_EQ(E.Options().FrameRate.den, 0);
}

} // namespace
