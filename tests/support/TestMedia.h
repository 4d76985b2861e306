// Independent oracles for tests: the fixture folder, ffprobe's view of a file and the decoded
// samples of its sound (through the ffmpeg command-line tool, not our code).
#ifndef SOUNDPICK_TESTS_SUPPORT_TESTMEDIA_H
#define SOUNDPICK_TESTS_SUPPORT_TESTMEDIA_H

#include <filesystem>
#include <string>
#include <utility>
#include <vector>

// The folder made by tests/fixtures/make_fixtures.sh.
std::filesystem::path FixturesDir();
std::filesystem::path Fixture(const std::string& name);

// Runs a shell command and returns its standard output; exitCode receives its status.
std::string RunCommand(const std::string& command, int* exitCode = nullptr);
// Quotes a text for the shell.
std::string ShellQuote(const std::string& text);

// One value of ffprobe's report, e.g. ProbeValue(file, "format=duration") or
// ProbeValue(file, "stream=codec_name", "a:0"). Empty when absent.
std::string ProbeValue(const std::filesystem::path& file, const std::string& entry,
                       const std::string& streamSelector = "");
double ProbeDuration(const std::filesystem::path& file);
// The number of streams of a kind ("a", "v", "s") in the file.
int ProbeStreamCount(const std::filesystem::path& file, const std::string& kind);

// The sound decoded by the ffmpeg tool as interleaved 32-bit float samples.
struct TDecodedAudio {
    int SampleRateHz = 0;
    int Channels = 0;
    std::vector<float> Samples; // interleaved
    double DurationSeconds() const;
    // Root mean square of one channel (or all with -1) between two times.
    double Rms(int channel = -1, double fromSeconds = 0, double toSeconds = 1e9) const;
    // Dominant frequency of a channel over a window, by zero crossings.
    double ZeroCrossingFrequency(int channel, double fromSeconds, double toSeconds) const;

private:
    // The frames between two times, clamped to the samples there are.
    std::pair<std::size_t, std::size_t> FrameRange(double fromSeconds, double toSeconds) const;
};
TDecodedAudio DecodeAudio(const std::filesystem::path& file);

// The integrated loudness (LUFS) and true peak (dBFS) of files played one after another, as
// the ffmpeg tool's ebur128 filter measures them.
std::pair<double, double> ToolLoudness(const std::vector<std::filesystem::path>& files);

#endif
