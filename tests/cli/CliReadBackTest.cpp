// soundpick-cli's word on what it wrote: sound that decodes to nothing fails in every format,
// the read-back of the written length (containers without packet durations, an output start)
// and rates an encoder refuses. Outputs are checked with ffprobe.
#include "cli/CliProcess.h"
#include "component/ComponentHarness.h"
#include "support/TestMedia.h"

#include <gtest/gtest.h>

namespace fs = std::filesystem;

namespace {

// Runs soundpick-cli on a copy of a fixture in a fresh folder.
struct TCliResult {
    int Status = -1;
    std::string Err;
    std::vector<fs::path> Outputs; // the "_(new" files left in the folder
};

TCliResult RunOn(const TScratchFolder& folder, const std::string& fixture,
                 std::vector<std::string> args) {
    const fs::path input = folder / fixture;
    fs::copy_file(Fixture(fixture), input);
    args.push_back(input.string());
    TCliResult result;
    result.Status = RunCli(args, folder.Path(), nullptr, &result.Err);
    for (const auto& entry : fs::directory_iterator(folder.Path()))
        if (entry.path().string().find("_(new") != std::string::npos)
            result.Outputs.push_back(entry.path());
    return result;
}

} // namespace

// A sound stream with nothing to decode gives no output in any format: the closing packet of
// an encoder (flac's stream information, in .flac or .ogg) is not sound.
TEST(CliReadBack, NothingDecodableFailsInEveryFormat) {
    for (const char* format : {"flac", "ogg", "copy", "wav"}) {
        SCOPED_TRACE(format);
        TScratchFolder folder;
        const TCliResult result = RunOn(folder, "silent_track.mkv", {"-f", format});
        EXPECT_EQ(result.Status, 1) << result.Err;
        EXPECT_NE(result.Err.find("No sound could be decoded from "), std::string::npos)
            << result.Err;
        EXPECT_TRUE(result.Outputs.empty()) << result.Outputs.front();
    }
}

// An output no reader can open (5 ms as mp2: one frame, which no demuxer recognises) fails
// and is not kept, rather than passing for being short.
TEST(CliReadBack, AnOutputNoReaderCanOpenFails) {
    TScratchFolder folder;
    const TCliResult result = RunOn(folder, "tone_5ms.wav", {"-f", "mp2"});
    EXPECT_EQ(result.Status, 1) << result.Err;
    EXPECT_NE(result.Err.find("_(new).mp2 was written but cannot be read back"), std::string::npos)
        << result.Err;
    EXPECT_TRUE(result.Outputs.empty()) << result.Outputs.front();
}

// Complete outputs pass the read-back without a warning: copies into Matroska, whose packets
// carry no duration (a whole file in one packet at a rate WavPack does not list, four channels),
// and an output that starts later than its input (`ss` given for the output).
TEST(CliReadBack, CompleteOutputsGiveNoWarning) {
    struct {
        const char* Fixture;
        std::vector<std::string> Args;
        double Seconds;
    } cases[] = {{"wavpack_2s_blocks.wv", {"-f", "copy"}, 4.0},
                 {"wavpack_one_block.wv", {"-f", "copy"}, 2.0},
                 {"wavpack_4ch.wv", {"-f", "copy"}, 2.0},
                 {"tone_1k_stereo.wav", {"-f", "flac", "--option", "ss=2.5"}, 1.5},
                 {"tone_1k_stereo.mp3", {"-f", "wav", "--option", "ss=2"}, 2.0}};
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.Fixture) + " " + c.Args[1]);
        TScratchFolder folder;
        const TCliResult result = RunOn(folder, c.Fixture, c.Args);
        EXPECT_EQ(result.Status, 0) << result.Err;
        EXPECT_EQ(result.Err.find("warning"), std::string::npos) << result.Err;
        ASSERT_EQ(result.Outputs.size(), 1u);
        EXPECT_NEAR(ProbeDuration(result.Outputs[0]), c.Seconds, 0.1);
    }
}

// A rate above what the encoder takes (705.6 kHz, as DSD decodes to) becomes the highest common
// rate it takes that divides it, for flac as a file and in Ogg and for wma (48 kHz at most), and
// the log says so; the full length is kept.
TEST(CliReadBack, RateAboveTheEncodersIsLowered) {
    const std::pair<const char*, const char*> cases[] = {
        {"flac", "176400"}, {"ogg", "176400"}, {"wma", "44100"}};
    for (const auto& [format, rate] : cases) {
        SCOPED_TRACE(format);
        TScratchFolder folder;
        const TCliResult result = RunOn(folder, "tone_705k.wav", {"-v", "-f", format});
        EXPECT_EQ(result.Status, 0) << result.Err;
        EXPECT_NE(result.Err.find("does not take 705600 Hz; the sound is resampled to " +
                                  std::string(rate) + " Hz."),
                  std::string::npos)
            << result.Err;
        ASSERT_EQ(result.Outputs.size(), 1u);
        EXPECT_EQ(ProbeValue(result.Outputs[0], "stream=sample_rate", "a:0"), rate);
        EXPECT_NEAR(ProbeDuration(result.Outputs[0]), 1.0, 0.05);
    }
}
