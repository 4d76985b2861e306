// soundpick-cli from end to end on fixtures: batches with several jobs, a missing file among
// them, JSON events, Ctrl-C during a long conversion, the output options, names and usage errors.
// Outputs are checked with ffprobe and the ffmpeg tool's decoding.
#include "cli/CliProcess.h"
#include "component/ComponentHarness.h"
#include "engine/SampleLimit.h"
#include "ffbind/TempFolder.h"
#include "support/TestMedia.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <sys/resource.h>
#include <thread>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

// Reads every input at its own pace: the long fixture takes two hours, so a signal sent once it
// reports progress arrives while it converts however fast the machine.
const std::vector<std::string> Paced = {"--option", "re=1"};

// Waits until the process has reported progress lines times (at most two minutes).
void WaitForProgress(const TCliProcess& process, int lines = 1) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(120);
    const auto count = [&] {
        const std::string out = process.Out();
        int found = 0;
        for (std::size_t at = out.find("\"progress\""); at != std::string::npos;
             at = out.find("\"progress\"", at + 1))
            ++found;
        return found;
    };
    while (count() < lines && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
}

class CliRun : public ::testing::Test {
protected:
    // A fixture copied into the scratch folder under a name of our choice.
    std::string Input(const std::string& fixture, const std::string& name) {
        fs::copy_file(Fixture(fixture), Folder / name);
        return (Folder / name).string();
    }
    std::vector<std::map<std::string, std::string>> Events(const std::string& out) {
        std::vector<std::map<std::string, std::string>> events;
        for (const std::string& line : Lines(out)) {
            std::map<std::string, std::string> object;
            EXPECT_TRUE(ParseFlatJson(line, object)) << line;
            events.push_back(object);
        }
        return events;
    }
    static int Count(const std::vector<std::map<std::string, std::string>>& events,
                     const std::string& kind) {
        int count = 0;
        for (const auto& event : events)
            count += event.at("event") == kind;
        return count;
    }
    TScratchFolder Folder;
};

} // namespace

// Four files with two jobs: four outputs in the chosen folder, their full paths printed, exit 0.
TEST_F(CliRun, BatchOfFourWithTwoJobs) {
    const std::vector<std::string> inputs = {
        Input("tone_mono.wav", "one.wav"), Input("tone_1k_stereo.flac", "two.flac"),
        Input("video_h264_aac.mp4", "three.mp4"), Input("tone_48k_stereo.wav", "four.wav")};
    fs::create_directory(Folder / "out");
    std::vector<std::string> args = {"--jobs", "2", "-o", (Folder / "out").string()};
    args.insert(args.end(), inputs.begin(), inputs.end());
    std::string out, err;
    ASSERT_EQ(RunCli(args, Folder.Path(), &out, &err), 0) << err;
    const std::vector<std::string> printed = Lines(out);
    ASSERT_EQ(printed.size(), 4u) << out;
    const double seconds[] = {3.0, 4.0, 4.0, 3.0};
    const char* names[] = {"one_(new).mp3", "two_(new).mp3", "three_(new).mp3", "four_(new).mp3"};
    for (int i = 0; i < 4; ++i) {
        const fs::path output = Folder / "out" / names[i];
        SCOPED_TRACE(output.string());
        EXPECT_NE(std::find(printed.begin(), printed.end(), output.string()), printed.end());
        EXPECT_EQ(ProbeValue(output, "stream=codec_name", "a:0"), "mp3");
        EXPECT_EQ(ProbeStreamCount(output, "v"), 0);
        EXPECT_NEAR(ProbeDuration(output), seconds[i], 0.15);
    }
}

// A missing file is reported with the window's text and skipped; the others convert; exit 1.
TEST_F(CliRun, MissingFileAmongOthers) {
    const std::string first = Input("tone_mono.wav", "first.wav");
    const std::string last = Input("mono_8k.wav", "last.wav");
    std::string out, err;
    EXPECT_EQ(RunCli({"-j", "2", first, (Folder / "missing.wav").string(), last}, Folder.Path(),
                     &out, &err),
              1);
    EXPECT_NE(err.find("***File load error: "), std::string::npos) << err;
    EXPECT_TRUE(fs::exists(Folder / "first_(new).mp3"));
    EXPECT_TRUE(fs::exists(Folder / "last_(new).mp3"));
    EXPECT_EQ(Lines(out).size(), 2u) << out;
}

// --json: one parseable object per line: added, progress, finished, and failed for the file
// that could not be added.
TEST_F(CliRun, JsonEvents) {
    const std::string a = Input("bursts_30s.mp4", "a.mp4");
    const std::string b = Input("tone_mono.wav", "b.wav");
    std::string out, err;
    EXPECT_EQ(
        RunCli({"--json", a, (Folder / "nothing.mp4").string(), b}, Folder.Path(), &out, &err), 1)
        << err;
    const auto events = Events(out);
    EXPECT_EQ(Count(events, "added"), 2);
    EXPECT_EQ(Count(events, "finished"), 2);
    EXPECT_EQ(Count(events, "failed"), 1);
    for (const auto& event : events) {
        if (event.at("event") == "failed") {
            EXPECT_EQ(event.at("index"), "null");
            EXPECT_EQ(event.at("message").rfind("***File load error: ", 0), 0u);
        }
        if (event.at("event") == "finished") {
            EXPECT_TRUE(fs::exists(event.at("output")));
            EXPECT_EQ(event.at("input"), event.at("index") == "0" ? a : b);
        }
        if (event.at("event") == "progress") {
            const int percent = std::stoi(event.at("percent"));
            EXPECT_GE(percent, -1);
            EXPECT_LE(percent, 100);
            const std::string left = event.at("left_ms"); // null until the speed is known
            EXPECT_TRUE(left == "null" || std::stoll(left) >= 0) << left;
        }
    }
}

// Ctrl-C during a long conversion: the task stops, its output is valid and shorter, exit 1.
TEST_F(CliRun, InterruptStopsWithAValidShorterOutput) {
    const std::string input = Input("long_2h.mp3", "long.mp3");
    TCliProcess process({"--json", Paced[0], Paced[1], input}, Folder.Path());
    WaitForProgress(process, 2); // half a second of sound converted
    process.Signal(SIGINT);
    ASSERT_EQ(process.Wait(), 1) << process.Err();
    const auto events = Events(process.Out());
    ASSERT_EQ(Count(events, "stopped"), 1) << process.Out();
    const fs::path output = Folder / "long_(new).mp3";
    const double seconds = ProbeDuration(output);
    EXPECT_GT(seconds, 0.0);
    EXPECT_LT(seconds, 7000.0);
    EXPECT_EQ(ProbeValue(output, "stream=codec_name", "a:0"), "mp3");
}

// 300 files under a limit of 64 open files: the batch holds only a few tasks per job open at
// once, so every file converts, in the order given.
TEST_F(CliRun, LongBatchWithinAFewFileHandles) {
    const fs::path seed = Folder / "seed.flac";
    RunCommand("ffmpeg -nostdin -loglevel error -f lavfi -i sine=sample_rate=8000:duration=0.2 " +
               ShellQuote(seed.string()));
    constexpr int Files = 300;
    std::vector<std::string> args = {"--json", "-j", "2", "-o", Folder.Path().string()};
    for (int i = 0; i < Files; ++i) {
        const fs::path input = Folder / ("in" + std::to_string(i) + ".flac");
        fs::create_hard_link(seed, input);
        args.push_back(input.string());
    }
    rlimit saved{};
    ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &saved), 0);
    rlimit lowered = saved;
    lowered.rlim_cur = 64; // the program inherits it
    ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &lowered), 0);
    std::string out, err;
    const int status = RunCli(args, Folder.Path(), &out, &err);
    setrlimit(RLIMIT_NOFILE, &saved);
    ASSERT_EQ(status, 0) << err;
    const auto events = Events(out);
    EXPECT_EQ(Count(events, "finished"), Files);
    int added = 0;
    for (const auto& event : events) {
        if (event.at("event") == "added") {
            EXPECT_EQ(event.at("input"), args[5 + added++]);
        } else if (event.at("event") == "finished") {
            EXPECT_EQ(event.at("input"), args[5 + std::stoi(event.at("index"))]);
        }
    }
    const fs::path last = Folder / ("in" + std::to_string(Files - 1) + "_(new).mp3");
    EXPECT_NEAR(ProbeDuration(last), 0.3, 0.1) << "0.2 s and the encoder's padding";
}

// Format, rate, channels, volume and clip reach the output.
TEST_F(CliRun, OutputOptionsReachTheFile) {
    const std::string input = Input("tone_1k_stereo.wav", "tone.wav");
    std::string err;
    ASSERT_EQ(RunCli({"-f", "wav", input}, Folder.Path(), nullptr, &err), 0) << err;
    ASSERT_EQ(RunCli({"-f", "wav", "-r", "22050", "-c", "mono", "--volume", "128", input},
                     Folder.Path(), nullptr, &err),
              0)
        << err;
    const fs::path plain = Folder / "tone_(new).wav", changed = Folder / "tone_(new_1).wav";
    EXPECT_EQ(ProbeValue(changed, "stream=sample_rate", "a:0"), "22050");
    EXPECT_EQ(ProbeValue(changed, "stream=channels", "a:0"), "1");
    const double ratio =
        DecodeAudio(changed).Rms(0, 0.5, 3.5) / DecodeAudio(plain).Rms(0, 0.5, 3.5);
    EXPECT_NEAR(ratio, 0.5, 0.03) << "volume 128 halves the level";

    ASSERT_EQ(
        RunCli({"-f", "flac", "--start", "1", "--end", "2.5", input}, Folder.Path(), nullptr, &err),
        0)
        << err;
    EXPECT_NEAR(ProbeDuration(Folder / "tone_(new).flac"), 1.5, 0.1);

    ASSERT_EQ(RunCli({"-b", "64", input}, Folder.Path(), nullptr, &err), 0) << err;
    EXPECT_EQ(ProbeValue(Folder / "tone_(new).mp3", "stream=bit_rate", "a:0"), "64000");
}

// A picture the format's video encoder refuses (wider than it takes) costs the output its
// video, not its sound: the task finishes with the sound alone and the log says so.
TEST_F(CliRun, SoundAloneWhenThePictureCannotBeEncoded) {
    const std::string input = Input("wide_picture.mkv", "wide.mkv");
    std::string out, err;
    ASSERT_EQ(RunCli({"-v", "-f", "m4a", input}, Folder.Path(), &out, &err), 0) << err;
    EXPECT_NE((out + err).find("wide.mkv: its video cannot be encoded for m4a; the sound alone "
                               "is converted."),
              std::string::npos)
        << out << err;
    const fs::path output = Folder / "wide_(new).m4a";
    EXPECT_EQ(ProbeStreamCount(output, "v"), 0);
    EXPECT_EQ(ProbeValue(output, "stream=codec_name", "a:0"), "aac");
    EXPECT_NEAR(DecodeAudio(output).DurationSeconds(), 1.0, 0.05);
}

// An encoder that refuses its settings or the sound says why, also in pieces: the library's
// reason follows the program's message.
TEST_F(CliRun, EncoderRefusalSaysWhy) {
    const fs::path input = Folder / "surround.wav";
    RunCommand(
        "ffmpeg -v error -f lavfi -i "
        "'anoisesrc=c=pink:r=48000:a=0.05:d=2,pan=5.1|FL=c0|FR=c0|FC=c0|LFE=c0|BL=c0|BR=c0' " +
        ShellQuote(input.string()));
    const struct {
        const char* Format;
        const char* Kbps;
        bool Split;
        const char* Why;
    } cases[] = {
        // 5.1 ac3 at 32 kbit/s has too few bits to allocate: refused frame by frame.
        {"ac3", "32", false,
         "Audio encoding failed: Bit allocation failed. Try increasing the "
         "bitrate."},
        {"ac3", "32", true,
         "Audio encoding failed: Bit allocation failed. Try increasing the "
         "bitrate."},
        // Refused when opened.
        {"mp2", "8", false, "height (bitrate 8 is not allowed in mp2)"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.Format) + " at " + c.Kbps + (c.Split ? " in pieces" : ""));
        std::vector<std::string> args = {"-v",     "--json", "--overwrite", "-f",
                                         c.Format, "-b",     c.Kbps};
        if (c.Split)
            args.insert(args.end(), {"--option", "split=2", "--option", "split_min_ms=0",
                                     "--option", "split_segment_ms=500"});
        args.push_back(input.string());
        std::string out, err;
        EXPECT_EQ(RunCli(args, Folder.Path(), &out, &err), 1);
        EXPECT_EQ((out + err).find("in pieces") != std::string::npos, c.Split) << out << err;
        const auto ended = Events(out).back();
        EXPECT_EQ(ended.at("event"), "failed") << out;
        const std::string message = ended.at("message");
        EXPECT_EQ(message.substr(message.size() - std::min(message.size(), std::strlen(c.Why))),
                  c.Why);
    }
}

// Samples thousands of times full scale (damaged input) neither abort an encoder (the mp3 one
// asserts on them) nor reach the output unbounded.
TEST_F(CliRun, HugeSamplesAreBoundedBeforeTheEncoder) {
    const std::string input = Input("huge_impulses.wav", "loud.wav");
    for (const char* format : {"mp3", "m4a", "flac"}) {
        std::string err;
        ASSERT_EQ(RunCli({"-f", format, input}, Folder.Path(), nullptr, &err), 0) << format << err;
        const TDecodedAudio decoded = DecodeAudio(Folder / (std::string("loud_(new).") + format));
        EXPECT_NEAR(decoded.DurationSeconds(), 1.0, 0.1) << format;
        float peak = 0;
        for (float sample : decoded.Samples)
            peak = std::max(peak, std::abs(sample));
        EXPECT_LE(peak, 2 * SampleMagnitudeLimit) << format;
    }
}

// --trim-silence clips each file to its sound: 2 s of tone between 2 s of silence at each end
// start at 2.000 s and end within a 10 ms bin of 4 s; a file that never rises above the level
// is converted whole, with a warning.
TEST_F(CliRun, TrimSilenceClipsEachFileToItsSound) {
    const std::string padded = Input("tone_padded_2s.wav", "padded.wav");
    const std::string quiet = Input("tone_padded_2s.wav", "quiet.wav");
    std::string err;
    ASSERT_EQ(RunCli({"-f", "wav", "--trim-silence", padded}, Folder.Path(), nullptr, &err), 0)
        << err;
    const fs::path trimmed = Folder / "padded_(new).wav";
    EXPECT_NEAR(ProbeDuration(trimmed), 2.0, 0.011);
    const TDecodedAudio sound = DecodeAudio(trimmed);
    EXPECT_GT(sound.Rms(0, 0, 0.1), 0.3) << "the tone begins at once";
    EXPECT_GT(sound.Rms(0, 1.9, 1.99), 0.3) << "and lasts to the end";

    ASSERT_EQ(RunCli({"-f", "wav", "--trim-silence", "-3", quiet}, Folder.Path(), nullptr, &err), 0)
        << err;
    EXPECT_NE(err.find("no sound above -3 dBFS"), std::string::npos) << err;
    EXPECT_NEAR(ProbeDuration(Folder / "quiet_(new).wav"), 6.0, 0.011);
}

// The sound's packets as the ffmpeg tool hashes them.
std::string AudioPacketHash(const fs::path& file) {
    return RunCommand("ffmpeg -v error -i " + ShellQuote(file.string()) +
                      " -map 0:a:0 -c copy -f streamhash -");
}

// "-f copy" writes the first audio stream's packets unchanged into the container fitting its
// codec; a clip ends on packets (here 20 ms ones of an input whose seek lands at its start).
TEST_F(CliRun, CopyKeepsThePacketsAndCutsClipsOnThem) {
    const std::string aac = Input("video_h264_aac.mp4", "aac.mp4");
    const std::string opus = Input("video_vp9_opus.mkv", "opus.mkv");
    std::string err;
    ASSERT_EQ(RunCli({"-f", "copy", aac, opus}, Folder.Path(), nullptr, &err), 0) << err;
    for (const auto& [input, output] :
         {std::pair{aac, Folder / "aac_(new).m4a"}, std::pair{opus, Folder / "opus_(new).opus"}}) {
        SCOPED_TRACE(output.string());
        EXPECT_EQ(ProbeStreamCount(output, "v"), 0);
        EXPECT_EQ(AudioPacketHash(output), AudioPacketHash(input));
    }
    ASSERT_EQ(RunCli({"-f", "copy", "--start", "0.5", "--end", "1.5", opus}, Folder.Path(), nullptr,
                     &err),
              0)
        << err;
    EXPECT_NEAR(ProbeDuration(Folder / "opus_(new_1).opus"), 1.0, 0.045);
    EXPECT_EQ(RunCli({"-f", "copy", "-b", "96", aac}, Folder.Path(), nullptr, &err), 2);
    EXPECT_NE(err.find("--bitrate does not apply to -f copy"), std::string::npos) << err;
}

// Opus: 48 kHz stereo in an Ogg container at 96 kbit/s, or the bit rate asked for.
TEST_F(CliRun, OpusAtItsRateAndBitRate) {
    const std::string input = Input("tone_5_1.wav", "surround.wav");
    std::string err;
    ASSERT_EQ(RunCli({"-f", "opus", input}, Folder.Path(), nullptr, &err), 0) << err;
    ASSERT_EQ(RunCli({"-f", "opus", "-b", "32", input}, Folder.Path(), nullptr, &err), 0) << err;
    const fs::path plain = Folder / "surround_(new).opus", low = Folder / "surround_(new_1).opus";
    EXPECT_EQ(ProbeValue(plain, "format=format_name"), "ogg");
    EXPECT_EQ(ProbeValue(plain, "stream=codec_name", "a:0"), "opus");
    EXPECT_EQ(ProbeValue(plain, "stream=sample_rate", "a:0"), "48000");
    EXPECT_EQ(ProbeValue(plain, "stream=channels", "a:0"), "2");
    EXPECT_NEAR(std::stod(ProbeValue(plain, "format=bit_rate")), 96000, 45000);
    EXPECT_NEAR(std::stod(ProbeValue(low, "format=bit_rate")), 32000, 20000);
}

// The integrated loudness and true peak of a file as the ffmpeg tool's EBU R128 filter reports
// them.
std::pair<double, double> ToolLoudness(const fs::path& file) {
    const std::string summary =
        RunCommand("ffmpeg -nostats -i " + ShellQuote(file.string()) +
                   " -af ebur128=peak=true -f null - 2>&1 | grep -A14 Summary");
    const auto value = [&](const char* label) {
        const std::size_t at = summary.find(label);
        return at == std::string::npos ? 1e9 : std::stod(summary.substr(at + std::strlen(label)));
    };
    return {value("I:"), value("Peak:")};
}

// --loudness: a quiet tone reaches the target; sound whose peaks would clip gets the gain that
// keeps its true peak at -1 dBTP. The figures come with the end event.
TEST_F(CliRun, LoudnessNormalisation) {
    struct TCase {
        const char* Name;
        const char* Source; // an ffmpeg lavfi source
        bool PeakLimited;
    };
    const TCase cases[] = {
        {"quiet", "sine=frequency=1000:sample_rate=48000:duration=6,volume=-8.9dB", false},
        {"spiky", "aevalsrc=0.03*sin(2*PI*1000*t)+0.9*lt(mod(t\\,1)\\,0.002):s=48000:d=6", true},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Name);
        const fs::path input = Folder / (std::string(c.Name) + ".wav");
        RunCommand("ffmpeg -v error -f lavfi -i " + ShellQuote(c.Source) + " -ac 2 " +
                   ShellQuote(input.string()));
        const auto [inputLufs, inputPeak] = ToolLoudness(input);
        if (!c.PeakLimited) {
            ASSERT_NEAR(inputLufs, -30.0, 0.5);
        }
        std::string out, err;
        ASSERT_EQ(RunCli({"--json", "--loudness", "-16", "-f", "flac", input.string()},
                         Folder.Path(), &out, &err),
                  0)
            << err;
        const auto events = Events(out);
        const auto& ended = events.back();
        ASSERT_EQ(ended.at("event"), "finished") << out;
        EXPECT_NEAR(std::stod(ended.at("input_lufs")), inputLufs, 0.3);
        const auto [outputLufs, outputPeak] =
            ToolLoudness(Folder / (std::string(c.Name) + "_(new).flac"));
        EXPECT_NEAR(std::stod(ended.at("output_lufs")), outputLufs, 0.3);
        EXPECT_LE(outputPeak, -1.0 + 0.05);
        if (c.PeakLimited) {
            EXPECT_LT(std::stod(ended.at("gain_db")), -16.0 - inputLufs - 3);
            EXPECT_NEAR(outputPeak, -1.0, 0.3);
        } else {
            EXPECT_NEAR(outputLufs, -16.0, 0.5);
        }
    }
}

// --loudness where the channels change on the way: the loudness is that of the sound as
// written (a downmix or an upmix moves it by several LU), and the reported figure is the
// written file's.
TEST_F(CliRun, LoudnessOfChangedChannels) {
    struct TCase {
        const char* Name;
        const char* Source; // an ffmpeg lavfi source with its channel layout
        const char* Format;
        const char* Channels;
        const char* TargetLufs;
    };
    // Tones of several frequencies per channel, so that a downmix adds their power.
    const char* surround = "aevalsrc=0.05*sin(2*PI*220*t)|0.05*sin(2*PI*330*t)|0.05*sin(2*PI*440*"
                           "t)|0.05*sin(2*PI*60*t)|0.05*sin(2*PI*550*t)|0.05*sin(2*PI*660*t):s="
                           "48000:d=8:c=5.1";
    const char* stereo = "aevalsrc=0.05*sin(2*PI*440*t)|0.05*sin(2*PI*550*t):s=48000:d=8:c=stereo";
    const char* mono = "aevalsrc=0.05*sin(2*PI*440*t):s=44100:d=8:c=mono";
    // Loud in one channel only: the gain would clip it before the downmix lowers it.
    const char* oneLoud = "aevalsrc=0.7*sin(2*PI*1000*t)|0|0|0|0|0:s=48000:d=8:c=5.1";
    // Noise has much of its loudness above the lossy encoders' low-pass (0.8 LU for mp3 at
    // 128 kbit/s): the gain must make up for what the encoder takes.
    const char* pinkSurround = "anoisesrc=c=pink:r=48000:a=0.05:d=8,pan=5.1|FL=c0|FR=c0|FC=c0|"
                               "LFE=c0|BL=c0|BR=c0";
    const char* pinkStereo = "anoisesrc=c=pink:r=44100:a=0.05:d=8,pan=stereo|FL=c0|FR=c0";
    const TCase cases[] = {
        {"surround", surround, "mp3", "auto", "-16"},
        {"surround", surround, "opus", "auto", "-23"},
        {"stereo", stereo, "mp3", "mono", "-16"},
        {"stereo", stereo, "flac", "mono", "-23"},
        {"mono", mono, "mp3", "stereo", "-16"},
        {"mono", mono, "flac", "stereo", "-23"},
        {"one_loud", oneLoud, "flac", "stereo", "-12"},
        {"pink_surround", pinkSurround, "mp3", "auto", "-16"},
        {"pink_stereo", pinkStereo, "m4a", "auto", "-23"},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(std::string(c.Name) + " to " + c.Format + " " + c.Channels + " at " +
                     c.TargetLufs);
        const fs::path input = Folder / (std::string(c.Name) + ".wav");
        if (!fs::exists(input))
            RunCommand("ffmpeg -v error -f lavfi -i " + ShellQuote(c.Source) + " " +
                       ShellQuote(input.string()));
        std::string out, err;
        ASSERT_EQ(RunCli({"--json", "--overwrite", "--loudness", c.TargetLufs, "-f", c.Format, "-c",
                          c.Channels, input.string()},
                         Folder.Path(), &out, &err),
                  0)
            << err;
        const auto ended = Events(out).back();
        ASSERT_EQ(ended.at("event"), "finished") << out;
        const auto [writtenLufs, writtenPeak] = ToolLoudness(ended.at("output"));
        EXPECT_NEAR(writtenLufs, std::stod(c.TargetLufs), 0.5);
        EXPECT_NEAR(std::stod(ended.at("output_lufs")), writtenLufs, 0.2);
        EXPECT_NEAR(std::stod(ended.at("output_true_peak_dbtp")), writtenPeak, 0.2);
    }
}

// Existing outputs are numbered; --overwrite writes over the plain name.
TEST_F(CliRun, NamesCollideOrOverwrite) {
    const std::string input = Input("tone_mono.wav", "t.wav");
    std::string out;
    ASSERT_EQ(RunCli({"-q", input}, Folder.Path(), &out), 0);
    EXPECT_EQ(out, (Folder / "t_(new).mp3").string() + "\n");
    ASSERT_EQ(RunCli({"-q", input}, Folder.Path(), &out), 0);
    EXPECT_EQ(out, (Folder / "t_(new_1).mp3").string() + "\n");
    ASSERT_EQ(RunCli({"-q", "--overwrite", input}, Folder.Path(), &out), 0);
    EXPECT_EQ(out, (Folder / "t_(new).mp3").string() + "\n");
    // The same input twice in one batch: two tasks never share an output.
    ASSERT_EQ(RunCli({"-q", "--overwrite", input, input}, Folder.Path(), &out), 0);
    EXPECT_EQ(Lines(out).size(), 2u);
    EXPECT_TRUE(fs::exists(Folder / "t_(new_1).mp3"));
}

// Usage errors exit 2 before touching anything; help and version exit 0; --info prints the
// media information.
TEST_F(CliRun, UsageHelpAndInfo) {
    std::string out, err;
    EXPECT_EQ(RunCli({}, Folder.Path(), &out, &err), 2);
    EXPECT_NE(err.find("no input file"), std::string::npos) << err;
    EXPECT_EQ(RunCli({"-f", "xyz", "a.wav"}, Folder.Path()), 2);
    EXPECT_EQ(RunCli({"--end", "1", "--start", "2", "a.wav"}, Folder.Path()), 2);
    EXPECT_EQ(RunCli({"--help"}, Folder.Path(), &out), 0);
    EXPECT_NE(out.find("Usage: soundpick-cli"), std::string::npos);
    EXPECT_EQ(RunCli({"--version"}, Folder.Path(), &out), 0);
    EXPECT_EQ(out.rfind("soundpick-cli ", 0), 0u);

    const std::string input = Input("tone_mono.wav", "info.wav");
    EXPECT_EQ(RunCli({"--info", input}, Folder.Path(), &out, &err), 0) << err;
    EXPECT_NE(out.find("Duration: 00:00:03.000"), std::string::npos) << out;
    EXPECT_FALSE(fs::exists(Folder / "info_(new).mp3"));
    EXPECT_EQ(RunCli({"--info", (Folder / "none.wav").string()}, Folder.Path()), 1);
}

// Ctrl-C, once or twice, or a hang-up or termination signal, during --overwrite of two existing
// outputs (one converting, one not yet started): both old files stay byte for byte and no part
// file is left.
TEST_F(CliRun, InterruptNeverTouchesOverwrittenFiles) {
    const std::pair<int, int> signalsAndCounts[] = {
        {SIGINT, 1}, {SIGINT, 2}, {SIGHUP, 1}, {SIGTERM, 1}};
    for (const auto& [signal, interrupts] : signalsAndCounts) {
        SCOPED_TRACE(std::string(strsignal(signal)) + " x" + std::to_string(interrupts));
        TScratchFolder folder;
        const fs::path first = folder / "first.mp3", second = folder / "second.mp3";
        fs::copy_file(Fixture("long_2h.mp3"), first);
        fs::copy_file(Fixture("long_2h.mp3"), second);
        const fs::path oldFirst = folder / "first_(new).mp3",
                       oldSecond = folder / "second_(new).mp3";
        fs::copy_file(Fixture("tone_1k_stereo.mp3"), oldFirst);
        fs::copy_file(Fixture("tone_mono.wav"), oldSecond);
        TCliProcess process({"--json", Paced[0], Paced[1], "--overwrite", "-j", "1", first.string(),
                             second.string()},
                            folder.Path());
        WaitForProgress(process);
        for (int i = 0; i < interrupts; ++i) {
            process.Signal(signal);
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        EXPECT_EQ(process.Wait(), 1) << process.Err();
        EXPECT_EQ(ReadWholeFile(oldFirst), ReadWholeFile(Fixture("tone_1k_stereo.mp3")));
        EXPECT_EQ(ReadWholeFile(oldSecond), ReadWholeFile(Fixture("tone_mono.wav")));
        for (const auto& entry : fs::directory_iterator(folder.Path()))
            EXPECT_NE(entry.path().extension(), ".part") << entry.path();
    }
}

// Another file put at the output's name while it is written (renamed over it) is not the task's:
// neither a stop nor a second Ctrl-C reports or removes it.
TEST_F(CliRun, InterruptLeavesAFileThatTookTheOutputsName) {
    for (const int interrupts : {1, 2}) {
        SCOPED_TRACE(std::to_string(interrupts) + " interrupts");
        TScratchFolder folder;
        const fs::path input = folder / "long.mp3", output = folder / "long_(new).mp3";
        fs::copy_file(Fixture("long_2h.mp3"), input);
        TCliProcess process({"--json", Paced[0], Paced[1], input.string()}, folder.Path());
        WaitForProgress(process);
        const fs::path foreign = folder / "foreign.wav";
        fs::copy_file(Fixture("tone_mono.wav"), foreign);
        fs::rename(foreign, output);
        for (int i = 0; i < interrupts; ++i) {
            process.Signal(SIGINT);
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        EXPECT_EQ(process.Wait(), 1) << process.Err();
        EXPECT_EQ(ReadWholeFile(output), ReadWholeFile(Fixture("tone_mono.wav")));
        for (const auto& event : Events(process.Out()))
            if (event.at("event") != "added" && event.at("event") != "progress")
                EXPECT_EQ(event.at("output"), "null") << event.at("event");
    }
}

// A write that the file system refuses (a file size limit standing in for a full disk, or a
// folder nobody may create files in, even root) says why, and leaves no output behind.
TEST_F(CliRun, WriteFailuresGiveTheSystemsReason) {
    const std::string input = Input("tone_1k_stereo.wav", "big.wav");
    {
        TCliProcess process({"-f", "wav", input}, Folder.Path(), 100000);
        EXPECT_EQ(process.Wait(), 1);
        const fs::path output = Folder / "big_(new).wav";
        EXPECT_NE(process.Err().find("Could not write " + output.string() + ": File too large"),
                  std::string::npos)
            << process.Err();
        EXPECT_FALSE(fs::exists(output));
    }
    // Creating a file in /sys is refused to everyone; the message carries the same reason.
    const fs::path unwritable = "/sys/big_(new).wav";
    const int descriptor = open(unwritable.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0644);
    ASSERT_LT(descriptor, 0) << "a file could be made in /sys";
    const std::string reason = std::strerror(errno);
    std::string err;
    EXPECT_EQ(RunCli({"-f", "wav", "-o", "/sys", input}, Folder.Path(), nullptr, &err), 1);
    EXPECT_NE(err.find("Could not open '" + unwritable.string() + "': " + reason),
              std::string::npos)
        << err;
}

// Inputs without sound to give: refused when added (no stream), failed when nothing decodes
// (a sound stream without packets), whether or not the output also takes pictures; no output
// either way, exit 1.
TEST_F(CliRun, InputsWithoutSoundGiveNoOutput) {
    struct {
        const char* Fixture;
        const char* Format;
        const char* Message;
    } cases[] = {{"video_only.mp4", "m4a", " has no sound to extract."},
                 {"silent_track.mkv", "mp3", "No sound could be decoded from "},
                 {"silent_track.mkv", "m4a", "No sound could be decoded from "}};
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.Fixture) + " " + c.Format);
        TScratchFolder folder;
        const fs::path input = folder / c.Fixture;
        fs::copy_file(Fixture(c.Fixture), input);
        std::string err;
        EXPECT_EQ(RunCli({"-f", c.Format, input.string()}, folder.Path(), nullptr, &err), 1);
        EXPECT_NE(err.find(c.Message), std::string::npos) << err;
        for (const auto& entry : fs::directory_iterator(folder.Path()))
            EXPECT_EQ(entry.path().string().find("_(new"), std::string::npos) << entry.path();
    }
}

// An input that ends well before its declared length finishes with a warning: a line, a
// "warning" field in the JSON end event, and exit 1.
TEST_F(CliRun, TruncatedInputWarns) {
    const std::string input = Input("truncated_30.mp3", "cut.mp3");
    const std::string warning = input + ": the input ended at 0:01 of its declared 0:04.";
    std::string out, err;
    EXPECT_EQ(RunCli({input}, Folder.Path(), &out, &err), 1);
    EXPECT_NE(err.find("warning: " + warning), std::string::npos) << err;
    EXPECT_EQ(RunCli({"--json", input}, Folder.Path(), &out, &err), 1);
    const auto events = Events(out);
    ASSERT_EQ(Count(events, "finished"), 1) << out;
    for (const auto& event : events) {
        if (event.at("event") == "finished") {
            EXPECT_EQ(event.at("warning"), warning);
        }
    }
}
