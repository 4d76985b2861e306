// How long the options dialog's waveform takes: for each file named (the two-hour inputs of
// envelope_media.sh), the time to the first bins and to the whole envelope, scanned as the
// dialog scans it (two halves at once on two processors) and on one thread; median, minimum and
// maximum over a few runs, with the load average before and after. And what the window's thread
// does before the dialog shows: open and describe the file and grab its first picture.
#include "probe/AVProbe.h"
#include "probe/EnvelopeScan.h"

#include "BenchSupport.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <fstream>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

struct TRun {
    double FirstBinsMs = 0;
    double WholeMs = 0;
    double CpuMs = 0; // of every thread of the process: what an idle machine would spend
    std::size_t Bins = 0;
};

double Since(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

TRun Scan(const std::filesystem::path& file, int64_t durationUs, unsigned processors) {
    TRun run;
    std::mutex lock;
    std::atomic<bool> never{false};
    const Clock::time_point start = Clock::now();
    const std::clock_t startCpu = std::clock();
    const auto keep = [&](std::size_t, std::vector<float> peaks) {
        std::lock_guard<std::mutex> guard(lock);
        if (run.Bins == 0)
            run.FirstBinsMs = Since(start);
        run.Bins += peaks.size();
    };
    std::vector<std::thread> threads;
    for (const TScanRange& range : EnvelopeParts(durationUs, processors))
        threads.emplace_back([&, range] {
            std::string error;
            if (ScanSoundEnvelope({file}, range, never, keep, error) != TScanEnd::Complete) {
                std::fprintf(stderr, "%s: %s\n", file.c_str(), error.c_str());
                std::exit(1);
            }
        });
    for (std::thread& thread : threads)
        thread.join();
    run.WholeMs = Since(start);
    run.CpuMs = 1000.0 * static_cast<double>(std::clock() - startCpu) / CLOCKS_PER_SEC;
    return run;
}

void Report(const char* what, std::vector<TRun> runs) {
    std::sort(runs.begin(), runs.end(),
              [](const TRun& a, const TRun& b) { return a.WholeMs < b.WholeMs; });
    const TRun& median = runs[runs.size() / 2];
    std::printf("  %-12s whole: median %7.0f ms  min %7.0f  max %7.0f   cpu %7.0f ms   "
                "first bins %5.0f ms   bins %zu\n",
                what, median.WholeMs, runs.front().WholeMs, runs.back().WholeMs, median.CpuMs,
                median.FirstBinsMs, median.Bins);
}

void PrintLoad(const char* when) {
    std::ifstream file("/proc/loadavg");
    std::string one, five, fifteen;
    file >> one >> five >> fifteen;
    std::printf("load %s: %s %s %s (%u processors)\n", when, one.c_str(), five.c_str(),
                fifteen.c_str(), std::thread::hardware_concurrency());
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: envelope_bench FILE... (see bench/envelope_media.sh)\n");
        return 2;
    }
    bench::LoadLibraries();
    const int runs = std::getenv("RUNS") ? std::atoi(std::getenv("RUNS")) : 3;
    PrintLoad("at start");
    for (int i = 1; i < argc; ++i) {
        const std::filesystem::path file = argv[i];
        TAVProbe probe;
        TFileStreamInfo info;
        const double dialogMs = bench::Milliseconds([&] {
            if (!probe.LoadFile(file)) {
                std::fprintf(stderr, "%s\n", probe.LastError().c_str());
                std::exit(1);
            }
            probe.GetFileStreamInfo(info);
            probe.GetInfoText();
            if (probe.VideoStreamCount() > 0 && probe.Seek(-1, 0))
                probe.GetFrameBitmap(-1);
        });
        std::printf("%s (%.0f s): described and first picture in %.0f ms\n",
                    file.filename().c_str(), info.Duration / 1e6, dialogMs);
        std::vector<TRun> split, single;
        for (int run = 0; run < runs; ++run) {
            split.push_back(Scan(file, info.Duration, std::thread::hardware_concurrency()));
            single.push_back(Scan(file, info.Duration, 1));
        }
        Report("as dialog", split);
        Report("one thread", single);
    }
    PrintLoad("at end");
    return 0;
}
