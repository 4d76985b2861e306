// Fixture lookup and ffprobe/ffmpeg based checks.
#include "TestMedia.h"

#include <array>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sys/wait.h>

std::filesystem::path FixturesDir() {
    const char* fromEnvironment = std::getenv("SOUNDPICK_FIXTURES");
    return fromEnvironment ? fromEnvironment : SOUNDPICK_FIXTURES_DEFAULT;
}

std::filesystem::path Fixture(const std::string& name) {
    return FixturesDir() / name;
}

std::string ShellQuote(const std::string& text) {
    std::string quoted = "'";
    for (char c : text) {
        if (c == '\'')
            quoted += "'\\''";
        else
            quoted += c;
    }
    return quoted + "'";
}

std::string RunCommand(const std::string& command, int* exitCode) {
    std::string output;
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) {
        if (exitCode)
            *exitCode = -1;
        return output;
    }
    std::array<char, 4096> buffer;
    std::size_t count;
    while ((count = std::fread(buffer.data(), 1, buffer.size(), pipe)) > 0)
        output.append(buffer.data(), count);
    const int status = pclose(pipe);
    if (exitCode)
        *exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return output;
}

std::string ProbeValue(const std::filesystem::path& file, const std::string& entry,
                       const std::string& streamSelector) {
    std::string command = "ffprobe -v error ";
    if (!streamSelector.empty())
        command += "-select_streams " + streamSelector + " ";
    command += "-show_entries " + entry + " -of default=noprint_wrappers=1:nokey=1 " +
               ShellQuote(file.string()) + " 2>/dev/null";
    std::string value = RunCommand(command);
    const std::size_t end = value.find('\n');
    if (end != std::string::npos)
        value.resize(end);
    return value;
}

double ProbeDuration(const std::filesystem::path& file) {
    const std::string value = ProbeValue(file, "format=duration");
    return value.empty() || value == "N/A" ? -1.0 : std::atof(value.c_str());
}

int ProbeStreamCount(const std::filesystem::path& file, const std::string& kind) {
    const std::string output = RunCommand("ffprobe -v error -select_streams " + kind +
                                          " -show_entries stream=index -of csv=p=0 " +
                                          ShellQuote(file.string()) + " 2>/dev/null");
    int count = 0;
    for (char c : output)
        count += c == '\n';
    return count;
}

TDecodedAudio DecodeAudio(const std::filesystem::path& file) {
    TDecodedAudio audio;
    const std::string quoted = ShellQuote(file.string());
    audio.SampleRateHz = std::atoi(ProbeValue(file, "stream=sample_rate", "a:0").c_str());
    audio.Channels = std::atoi(ProbeValue(file, "stream=channels", "a:0").c_str());
    const std::string raw = RunCommand("ffmpeg -v error -nostdin -i " + quoted +
                                       " -map 0:a:0 -f f32le -acodec pcm_f32le - 2>/dev/null");
    audio.Samples.resize(raw.size() / sizeof(float));
    std::copy(raw.data(), raw.data() + audio.Samples.size() * sizeof(float),
              reinterpret_cast<char*>(audio.Samples.data()));
    return audio;
}

double TDecodedAudio::DurationSeconds() const {
    if (SampleRateHz <= 0 || Channels <= 0)
        return 0;
    return static_cast<double>(Samples.size()) / Channels / SampleRateHz;
}

std::pair<std::size_t, std::size_t> TDecodedAudio::FrameRange(double fromSeconds,
                                                              double toSeconds) const {
    if (SampleRateHz <= 0 || Channels <= 0)
        return {0, 0};
    const std::size_t frames = Samples.size() / Channels;
    auto frameAt = [&](double seconds) {
        return std::min(frames, static_cast<std::size_t>(std::max(0.0, seconds) * SampleRateHz));
    };
    return {frameAt(fromSeconds), frameAt(toSeconds)};
}

double TDecodedAudio::Rms(int channel, double fromSeconds, double toSeconds) const {
    const auto [first, last] = FrameRange(fromSeconds, toSeconds);
    double sum = 0;
    std::size_t count = 0;
    for (std::size_t i = first; i < last; ++i) {
        for (int c = 0; c < Channels; ++c) {
            if (channel >= 0 && c != channel)
                continue;
            const double value = Samples[i * Channels + c];
            sum += value * value;
            ++count;
        }
    }
    return count ? std::sqrt(sum / count) : 0;
}

double TDecodedAudio::ZeroCrossingFrequency(int channel, double fromSeconds,
                                            double toSeconds) const {
    const auto [first, last] = FrameRange(fromSeconds, toSeconds);
    int crossings = 0;
    for (std::size_t i = first + 1; i < last; ++i) {
        const float before = Samples[(i - 1) * Channels + channel];
        const float now = Samples[i * Channels + channel];
        crossings += (before < 0) != (now < 0);
    }
    const double seconds = last > first ? static_cast<double>(last - first) / SampleRateHz : 0;
    return seconds > 0 ? crossings / 2.0 / seconds : 0;
}

// The integrated loudness (LUFS) and true peak (dBFS) of files played one after another, as
// the ffmpeg tool's ebur128 filter measures them (the last figures it gives its frames, which
// have the decimals its summary rounds away).
std::pair<double, double> ToolLoudness(const std::vector<std::filesystem::path>& files) {
    std::string inputs, pads;
    for (std::size_t i = 0; i < files.size(); ++i) {
        inputs += " -i " + ShellQuote(files[i].string());
        pads += "[" + std::to_string(i) + ":a]";
    }
    const std::filesystem::path figures = files[0].parent_path() / "meter.txt";
    RunCommand("ffmpeg -v error" + inputs + " -filter_complex " +
               ShellQuote(pads + "concat=n=" + std::to_string(files.size()) +
                          ":v=0:a=1,ebur128=peak=true:metadata=1,ametadata=print:file=" +
                          figures.string()) +
               " -f null -");
    std::ifstream text(figures);
    std::string lufs = "1e9", peak = "0";
    for (std::string line; std::getline(text, line);) {
        if (line.rfind("lavfi.r128.I=", 0) == 0)
            lufs = line.substr(13);
        if (line.rfind("lavfi.r128.true_peak=", 0) == 0)
            peak = line.substr(21);
    }
    std::filesystem::remove(figures);
    return {std::stod(lufs), 20 * std::log10(std::stod(peak))};
}
