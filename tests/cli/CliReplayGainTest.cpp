// --replaygain through soundpick-cli: track and album gain and peak in every container that has
// them, checked against the ffmpeg tool's EBU R128 measurement of the written files; gain tags
// of the input never survive a change of level.
#include "cli/CliProcess.h"
#include "component/ComponentHarness.h"
#include "support/TestMedia.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <fstream>
#include <sstream>

namespace fs = std::filesystem;

namespace {

// A tag of the container or of its sound stream (Ogg), by its key in any case; "" when absent.
std::string Tag(const fs::path& file, const std::string& key) {
    std::istringstream lines(RunCommand("ffprobe -v error -show_entries format_tags:stream_tags "
                                        "-of flat " +
                                        ShellQuote(file.string())));
    const auto lower = [](std::string text) {
        for (char& c : text)
            c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        return text;
    };
    for (std::string line; std::getline(lines, line);) {
        const std::size_t equals = line.find('=');
        const std::size_t tags = line.find(".tags.");
        if (equals != std::string::npos && tags < equals &&
            lower(line.substr(tags + 6, equals - tags - 6)) == lower(key))
            return line.substr(equals + 2, line.size() - equals - 3);
    }
    return "";
}

class CliReplayGain : public ::testing::Test {
protected:
    fs::path Make(const std::string& relative, const std::string& source,
                  const std::string& options = "") {
        const fs::path file = Folder / relative;
        fs::create_directories(file.parent_path());
        RunCommand("ffmpeg -v error -f lavfi -i " + ShellQuote(source) + " " + options + " " +
                   ShellQuote(file.string()));
        return file;
    }
    TScratchFolder Folder;
};

// The two sounds of the album: noise, and a quieter tone with clicks (transients whose true
// peak lies between samples); both carry stale gain tags.
constexpr const char* StaleTags =
    "-metadata REPLAYGAIN_TRACK_GAIN='-9.50 dB' -metadata REPLAYGAIN_TRACK_PEAK=0.5 "
    "-metadata R128_TRACK_GAIN=-2432";

} // namespace

// Every container with gain tags: each output's track gain and peak, and the album's gain, lie
// within 0.1 dB of the tool's measure of the written files; Opus has R128 gains in Q7.8 to -23
// LUFS instead, mp3, flac, ogg, m4a and wma ReplayGain's to -18 LUFS.
TEST_F(CliReplayGain, TrackAndAlbumGainOfWrittenFiles) {
    Make("in/album/01 noise.flac", "anoisesrc=color=pink:amplitude=0.25:d=2:r=44100", StaleTags);
    Make("in/album/02 tone.flac",
         "aevalsrc=0.05*sin(2*PI*997*t)+0.7*lt(mod(t\\,0.5)\\,0.0007):s=44100:d=1.5", StaleTags);
    for (const char* format : {"mp3", "flac", "ogg", "m4a", "wma", "opus"}) {
        SCOPED_TRACE(format);
        const fs::path out = Folder / (std::string("out-") + format);
        fs::create_directories(out);
        std::string err;
        ASSERT_EQ(
            RunCli({"-f", format, "--replaygain", "-o", out.string(), (Folder / "in").string()},
                   Folder.Path(), nullptr, &err),
            0)
            << err;
        const std::vector<fs::path> tracks = {out / "album" / (std::string("01 noise.") + format),
                                              out / "album" / (std::string("02 tone.") + format)};
        const double albumLufs = ToolLoudness(tracks).first;
        const bool opus = std::strcmp(format, "opus") == 0;
        for (const fs::path& track : tracks) {
            SCOPED_TRACE(track.filename().string());
            const auto [lufs, peakDb] = ToolLoudness({track});
            if (opus) {
                EXPECT_NEAR(std::stod(Tag(track, "R128_TRACK_GAIN")) / 256, -23 - lufs, 0.1);
                EXPECT_NEAR(std::stod(Tag(track, "R128_ALBUM_GAIN")) / 256, -23 - albumLufs, 0.1);
                EXPECT_EQ(Tag(track, "REPLAYGAIN_TRACK_GAIN"), "");
                continue;
            }
            EXPECT_NEAR(std::stod(Tag(track, "REPLAYGAIN_TRACK_GAIN")), -18 - lufs, 0.1);
            EXPECT_NEAR(20 * std::log10(std::stod(Tag(track, "REPLAYGAIN_TRACK_PEAK"))), peakDb,
                        0.1);
            EXPECT_NEAR(std::stod(Tag(track, "REPLAYGAIN_ALBUM_GAIN")), -18 - albumLufs, 0.1);
            EXPECT_GT(std::stod(Tag(track, "REPLAYGAIN_ALBUM_PEAK")), 0.0);
            EXPECT_EQ(Tag(track, "R128_TRACK_GAIN"), "");
            EXPECT_NEAR(ProbeDuration(track), track.stem() == "01 noise" ? 2.0 : 1.5, 0.1);
        }
    }
    // --update converts only the touched track again; the album's gain is still the whole
    // album's in both tracks.
    const fs::path touched = Folder / "in/album/02 tone.flac";
    fs::last_write_time(touched, fs::last_write_time(touched) + std::chrono::hours(1));
    const fs::path out = Folder / "out-mp3/album";
    std::string err;
    ASSERT_EQ(RunCli({"--update", "--replaygain", "-o", (Folder / "out-mp3").string(),
                      (Folder / "in").string()},
                     Folder.Path(), nullptr, &err),
              0)
        << err;
    const double albumLufs = ToolLoudness({out / "01 noise.mp3", out / "02 tone.mp3"}).first;
    for (const char* track : {"01 noise.mp3", "02 tone.mp3"})
        EXPECT_NEAR(std::stod(Tag(out / track, "REPLAYGAIN_ALBUM_GAIN")), -18 - albumLufs, 0.1)
            << track;
}

// A run that changes the level drops the input's gain tags (or, with --replaygain, writes its
// own); one that keeps the level keeps them.
TEST_F(CliReplayGain, StaleGainTagsNeverCopied) {
    const fs::path input =
        Make("song.flac", "anoisesrc=color=pink:amplitude=0.05:d=1.5:r=44100", StaleTags);
    struct TCase {
        std::vector<std::string> Args;
        bool Kept;
    };
    const TCase cases[] = {{{"--loudness", "-16"}, false},
                           {{"--volume", "512"}, false},
                           {{"--loudness", "-16", "--replaygain"}, false},
                           {{}, true}};
    for (const TCase& c : cases) {
        std::vector<std::string> args = c.Args;
        SCOPED_TRACE(args.empty() ? "level kept" : args[0] + " " + args[1]);
        args.insert(args.end(), {"--overwrite", "-f", "mp3", input.string()});
        std::string err;
        ASSERT_EQ(RunCli(args, Folder.Path(), nullptr, &err), 0) << err;
        const fs::path output = Folder / "song_(new).mp3";
        EXPECT_EQ(Tag(output, "R128_TRACK_GAIN").empty(), !c.Kept);
        if (c.Kept)
            EXPECT_EQ(Tag(output, "REPLAYGAIN_TRACK_GAIN"), "-9.50 dB");
        else if (c.Args.back() == "--replaygain")
            EXPECT_NEAR(std::stod(Tag(output, "REPLAYGAIN_TRACK_GAIN")),
                        -18 - ToolLoudness({output}).first, 0.1);
        else
            EXPECT_EQ(Tag(output, "REPLAYGAIN_TRACK_GAIN"), "");
    }
}
