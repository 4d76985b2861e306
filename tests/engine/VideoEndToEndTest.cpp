// Whole conversions from a video input into the containers that keep the picture: the picture
// is re-encoded beside the sound, with the input's size and frame rate.
#include "RunHarness.h"

#include "support/TestLibs.h"
#include "support/TestMedia.h"

#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

namespace {

// The frame rate ffprobe reports, as a number ("25/1" -> 25).
double ProbeFrameRate(const std::filesystem::path& file) {
    const std::string rate = ProbeValue(file, "stream=avg_frame_rate", "v:0");
    const std::size_t slash = rate.find('/');
    if (slash == std::string::npos)
        return std::atof(rate.c_str());
    const double den = std::atof(rate.c_str() + slash + 1);
    return den == 0 ? 0 : std::atof(rate.c_str()) / den;
}

// The duration of a stream from its decoded packets (containers without stream durations).
double StreamSeconds(const std::filesystem::path& file, const std::string& kind) {
    const std::string out = RunCommand(
        "ffprobe -v error -select_streams " + kind +
        ":0 -show_entries packet=pts_time,duration_time -of csv=p=0 " + ShellQuote(file.string()));
    double end = 0;
    std::size_t position = 0;
    while (position < out.size()) {
        const std::size_t eol = out.find('\n', position);
        const std::string line = out.substr(position, eol - position);
        position = eol == std::string::npos ? out.size() : eol + 1;
        const std::size_t comma = line.find(',');
        if (comma == std::string::npos)
            continue;
        end = std::max(end, std::atof(line.c_str()) + std::atof(line.c_str() + comma + 1));
    }
    return end;
}

struct TContainerCase {
    const char* Extension;
    TOptionList Options; // what the options dialog gives for the format
    const char* VideoCodec;
    const char* AudioCodec;
};

// Names the case by its extension in test listings.
void PrintTo(const TContainerCase& format, std::ostream* out) {
    *out << format.Extension;
}

class VideoEndToEndTest : public ::testing::TestWithParam<TContainerCase> {};

} // namespace

// The output carries the picture re-encoded with the input's size and rate, and both streams
// last as long as each other within a frame.
TEST_P(VideoEndToEndTest, VideoInputKeepsItsPicture) {
    const TContainerCase& format = GetParam();
    TTempFolder folder;
    const std::filesystem::path output = folder / (std::string("out.") + format.Extension);
    TEngineUnderTest run;
    run.OpenInputs({}, {Fixture("video_h264_aac.mp4")});
    TOptionList options = format.Options;
    options.push_back({"ar", "44100"});
    options.push_back({"ac", "2"});
    run.CreateOutput(options, output);
    run.RunToEnd();
    ASSERT_FALSE(run.Engine->ErrorOccurred) << run.Engine->ErrorMessage;

    EXPECT_EQ(ProbeValue(output, "stream=codec_name", "v:0"), format.VideoCodec);
    EXPECT_EQ(ProbeValue(output, "stream=codec_name", "a:0"), format.AudioCodec);
    EXPECT_EQ(ProbeValue(output, "stream=width", "v:0"), "320");
    EXPECT_EQ(ProbeValue(output, "stream=height", "v:0"), "240");
    EXPECT_NEAR(ProbeFrameRate(output), 25.0, 0.01);
    const double video = StreamSeconds(output, "v");
    const double audio = StreamSeconds(output, "a");
    EXPECT_NEAR(video, 4.0, 0.1);
    EXPECT_NEAR(video, audio, 1.0 / 25 + 0.001);
}

// A RealMedia output of a picture size its encoder cannot take gets the nearest size it can
// (the container keeps no aspect ratio to restore the shape).
TEST(VideoEncoderSizeTest, RealMediaOfAnyPictureSize) {
    TTempFolder folder;
    const std::filesystem::path output = folder / "out.ra";
    TEngineUnderTest run;
    run.OpenInputs({}, {Fixture("video_vp9_opus.mkv")}); // 160x120
    run.CreateOutput({}, output);
    run.RunToEnd();
    ASSERT_FALSE(run.Engine->ErrorOccurred) << run.Engine->ErrorMessage;
    EXPECT_EQ(ProbeValue(output, "stream=codec_name", "v:0"), "rv10");
    EXPECT_EQ(ProbeValue(output, "stream=width", "v:0"), "160");
    EXPECT_EQ(ProbeValue(output, "stream=height", "v:0"), "128");
}

INSTANTIATE_TEST_SUITE_P(
    Containers, VideoEndToEndTest,
    ::testing::Values(
        TContainerCase{"ogg", {{"vcodec", "libtheora"}, {"acodec", "flac"}}, "theora", "flac"},
        TContainerCase{"m4a", {}, "h264", "aac"}, TContainerCase{"ra", {}, "rv10", "ac3"}),
    [](const auto& info) { return std::string(info.param.Extension); });

namespace {

// (time, duration) of each subtitle packet, in seconds.
std::vector<std::pair<double, double>> SubtitlePackets(const std::filesystem::path& file) {
    const std::string out = RunCommand("ffprobe -v error -select_streams s:0 -show_entries "
                                       "packet=pts_time,duration_time -of csv=p=0 " +
                                       ShellQuote(file.string()));
    std::vector<std::pair<double, double>> packets;
    std::size_t position = 0;
    while (position < out.size()) {
        const std::size_t comma = out.find(',', position);
        const std::size_t eol = out.find('\n', position);
        if (comma == std::string::npos || eol == std::string::npos)
            break;
        packets.emplace_back(std::atof(out.c_str() + position), std::atof(out.c_str() + comma + 1));
        position = eol + 1;
    }
    return packets;
}

} // namespace

// The subtitles of an mkv come out in an mkv output at their times and for their durations.
TEST(VideoSubtitleTest, MkvSubtitlesReachAnMkvOutput) {
    TTempFolder folder;
    const std::filesystem::path output = folder / "out.mkv";
    TEngineUnderTest run;
    run.OpenInputs({}, {Fixture("subtitled.mkv")});
    run.CreateOutput({{"scodec", "ass"}}, output);
    run.RunToEnd();
    ASSERT_FALSE(run.Engine->ErrorOccurred) << run.Engine->ErrorMessage;
    ASSERT_EQ(ProbeStreamCount(output, "s"), 1);
    // Times as the input has them (within the containers' millisecond rounding), durations
    // exactly.
    const auto input = SubtitlePackets(Fixture("subtitled.mkv"));
    const auto packets = SubtitlePackets(output);
    ASSERT_EQ(packets.size(), 2u);
    ASSERT_EQ(input.size(), 2u);
    for (std::size_t i = 0; i < 2; ++i) {
        EXPECT_NEAR(packets[i].first, input[i].first, 0.005) << "subtitle " << i;
        EXPECT_DOUBLE_EQ(packets[i].second, input[i].second) << "subtitle " << i;
    }
    const std::string text = RunCommand("ffmpeg -v error -nostdin -i " +
                                        ShellQuote(output.string()) + " -map 0:s -f srt -");
    EXPECT_NE(text.find("First line"), std::string::npos) << text;
    EXPECT_NE(text.find("Second line"), std::string::npos) << text;
}

// A video hook given as an engine option sees every decoded picture of a conversion once.
TEST(VideoHookRunTest, HookModuleSeesEveryPicture) {
    const std::string module = (ExecutableFolder() / "testhooks" / "testhook_full.so").string();
    TTempFolder folder;
    TEngineUnderTest run;
    run.OpenInputs({}, {Fixture("video_h264_aac.mp4")});
    run.CreateOutput({{"vhook", module}, {"vcodec", "libtheora"}, {"acodec", "flac"}},
                     folder / "hooked.ogg");
    void* handle = dlopen(module.c_str(), RTLD_NOW | RTLD_NOLOAD);
    ASSERT_NE(handle, nullptr);
    const int* processed = static_cast<int*>(dlsym(handle, "TestHookProcesses"));
    const int before = *processed;
    run.RunToEnd();
    ASSERT_FALSE(run.Engine->ErrorOccurred) << run.Engine->ErrorMessage;
    EXPECT_EQ(*processed - before, 100); // 4 s at 25 pictures a second
    EXPECT_EQ(*static_cast<int*>(dlsym(handle, "TestHookReleases")), 1);
    dlclose(handle);
}
