// What the read-back of a finished output's sound length costs next to the conversion it
// checks: a 10-minute input converted to mp3 by soundpick-cli (median of 3 runs, the read-back
// included), and the read-back of the written mp3 alone (median of 5).
#include "BenchSupport.h"
#include "engine/WrittenSound.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

// 10 minutes of 44.1 kHz stereo tone as wav, made once.
fs::path BenchInput() {
    return bench::BenchFile("tone_600s.wav",
                            "-f lavfi -i sine=frequency=1000:sample_rate=44100:duration=600 -ac 2");
}

double MedianMs(int runs, const std::function<void()>& work) {
    std::vector<double> times;
    for (int i = 0; i < runs; ++i)
        times.push_back(bench::Milliseconds(work));
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

} // namespace

int main() {
    bench::LoadLibraries();
    const fs::path input = BenchInput();
    const fs::path work = bench::ExecutableFolder().parent_path() / "bench-work";
    fs::create_directories(work);
    const fs::path output = work / "tone_600s_(new).mp3";
    const std::string convert = "'" + (bench::ExecutableFolder() / "soundpick-cli").string() +
                                "' -q --overwrite -o '" + work.string() + "' '" + input.string() +
                                "' >/dev/null";
    const double convertMs = MedianMs(3, [&] { bench::Run(convert); });
    int64_t lengthUs = 0;
    const double readMs = MedianMs(5, [&] { lengthUs = ReadWrittenSound(output, 0).LengthUs; });
    std::printf("conversion to mp3 (600 s): %.0f ms\n", convertMs);
    std::printf("read-back of the mp3: %.1f ms (%.2f %% of the conversion), length %.2f s\n",
                readMs, 100.0 * readMs / convertMs, lengthUs / 1e6);
    return 0;
}
