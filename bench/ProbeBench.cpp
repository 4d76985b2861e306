// How fast the probe opens and describes a file, and seeks and grabs one picture, on a 10 s
// 1080p H.264 file: median, minimum and maximum over 20 runs / 20 positions. And a grab late in
// a 30 s 720p file with one key frame, with and without the forward-decode budget.
#include "probe/AVProbe.h"

#include "BenchSupport.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

void Report(const char* what, std::vector<double> times) {
    std::sort(times.begin(), times.end());
    const std::size_t n = times.size();
    const double median = n % 2 ? times[n / 2] : (times[n / 2 - 1] + times[n / 2]) / 2;
    std::printf("%-44s median %8.2f ms   min %8.2f ms   max %8.2f ms   (n=%zu)\n", what, median,
                times.front(), times.back(), n);
}

void Check(bool ok, const TCustomAVProbe& probe) {
    if (!ok) {
        std::fprintf(stderr, "probe failed: %s\n", probe.LastError().c_str());
        std::exit(1);
    }
}

} // namespace

int main() {
    bench::LoadLibraries();
    // 10 s of a moving test picture, 1920x1080 at 25 fps, a key frame every 2 s, with sound.
    const fs::path file = bench::BenchFile(
        "h264_1080p_10s.mp4", "-f lavfi -i testsrc2=size=1920x1080:rate=25:duration=10 -f lavfi -i "
                              "sine=frequency=1000:duration=10 -c:v libx264 -preset veryfast -g 50 "
                              "-pix_fmt yuv420p -c:a aac -b:a 128k -shortest");
    constexpr int Runs = 20;

    TAVProbe probe;
    Check(probe.LoadFile(file), probe); // warms the file cache
    std::vector<double> open, describe;
    for (int i = 0; i < Runs; ++i) {
        open.push_back(bench::Milliseconds([&] { Check(probe.LoadFile(file), probe); }));
        describe.push_back(bench::Milliseconds([&] {
            TFileStreamInfo fileInfo;
            TVideoStreamInfo videoInfo;
            probe.GetFileStreamInfo(fileInfo);
            probe.GetVideoStreamInfo(-1, videoInfo);
            Check(!probe.GetInfoText().empty(), probe);
        }));
    }
    Report("open (LoadFile)", open);
    Report("describe (records + info text)", describe);

    // 20 positions over the file, visited in a scattered order as a slider is dragged about.
    std::vector<int64_t> positionsUs;
    for (int i = 0; i < Runs; ++i)
        positionsUs.push_back((i * 7 % Runs) * 500'000 + 250'000);
    std::vector<double> grabs, nexts;
    for (int64_t positionUs : positionsUs) {
        grabs.push_back(bench::Milliseconds([&] {
            Check(probe.Seek(-1, positionUs), probe);
            Check(probe.GetFrameBitmap(-1).Width() == 1920, probe);
        }));
        nexts.push_back(bench::Milliseconds([&] { probe.GetFrameBitmap(-1); }));
    }
    Report("seek + grab one 1920x1080 picture", grabs);
    Report("grab the next picture (no seek)", nexts);

    // 30 s of 1280x720 at 25 fps with its only key frame at the start; grabs at 27 s.
    const fs::path sparse =
        bench::BenchFile("h264_720p_one_key_frame.mp4",
                         "-f lavfi -i testsrc2=size=1280x720:rate=25:duration=30 -c:v libx264 "
                         "-preset veryfast -g 10000 -pix_fmt yuv420p");
    Check(probe.LoadFile(sparse), probe);
    const int64_t unbounded = INT64_MAX;
    for (int64_t budgetPixels : {probe.ForwardDecodeBudgetPixels, unbounded}) {
        probe.ForwardDecodeBudgetPixels = budgetPixels;
        std::vector<double> late;
        for (int i = 0; i < 5; ++i)
            late.push_back(bench::Milliseconds([&] {
                Check(probe.Seek(-1, 27'000'000), probe);
                Check(probe.GetFrameBitmap(-1).Width() == 1280, probe);
            }));
        Report(budgetPixels < unbounded ? "seek + grab at 27 s of one key frame, budget"
                                        : "seek + grab at 27 s of one key frame, unbounded",
               late);
    }
    return 0;
}
