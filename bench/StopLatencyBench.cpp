// How long a stop takes while a 60-minute input is encoded to mp3 in pieces on every processor:
// from the call of StopTasks (with waiting) to its return, which comes after the pieces handed
// to workers are finished and written. Stops right after the first progress and after 5 and 20
// minutes of output, 3 runs each; the sound the stopped output keeps is read back.
#include "BenchSupport.h"
#include "component/FFmpegComponent.h"
#include "engine/WrittenSound.h"
#include "ffbind/MainThread.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <filesystem>
#include <thread>
#include <vector>

namespace {

namespace fs = std::filesystem;

struct TStop {
    double StopMs;
    double KeptS;
};

// One run stopped once the output has reached atMs (0: at the first progress).
TStop StopOnce(const fs::path& input, const fs::path& output, int atMs) {
    std::error_code ignored;
    fs::remove(output, ignored);
    TFFmpegComponent component;
    std::atomic<int> reachedMs{-1};
    std::atomic<bool> ended{false};
    component.OnProgress = [&](int, const TProgressInfo& progress) {
        reachedMs = progress.CurrentDurationMs;
    };
    component.OnTerminate = [&](int index, TTaskEnd, const std::string&) {
        ended = ended || index == -1;
    };
    component.SetProgressInterval(100);
    TInputOptions in;
    TOutputOptions out;
    out.AudioBitrate = 128000;
    if (component.AddTaskInput(input, &in) != 0 || !component.SetTaskOutput(0, output, &out)) {
        std::fprintf(stderr, "%s\n", component.LastErrorText().c_str());
        std::exit(1);
    }
    component.StartTasks(1);
    WaitServingMainThread([&] { return reachedMs.load() >= atMs || ended; });
    const double stopMs = bench::Milliseconds([&] { component.StopTasks(true); });
    WaitServingMainThread([&] { return ended.load(); });
    return {stopMs, ReadWrittenSound(output, 0).LengthUs / 1e6};
}

} // namespace

int main() {
    bench::LoadLibraries();
    const fs::path input =
        bench::BenchFile("tone_3600s.flac", "-f lavfi -i "
                                            "sine=frequency=1000:sample_rate=44100:duration=3600 "
                                            "-ac 2");
    const fs::path work = bench::ExecutableFolder().parent_path() / "bench-work";
    fs::create_directories(work);
    std::printf("stop of a 60-minute input to mp3 128k in pieces (%u processors)\n",
                std::thread::hardware_concurrency());
    for (const int atMs : {0, 300000, 1200000}) {
        std::vector<double> stops;
        double keptS = 0;
        for (int run = 0; run < 3; ++run) {
            const TStop stop = StopOnce(input, work / "stopped.mp3", atMs);
            stops.push_back(stop.StopMs);
            keptS = stop.KeptS;
        }
        std::sort(stops.begin(), stops.end());
        std::printf("stop at %4d s of output: median %.0f ms, longest %.0f ms (kept %.1f s)\n",
                    atMs / 1000, stops[1], stops[2], keptS);
    }
    return 0;
}
