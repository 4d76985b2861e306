// What the benchmark programs share: their folder in the build tree, the libraries loaded from
// beside them, and media made once by the ffmpeg command-line tool.
#ifndef SOUNDPICK_BENCH_BENCHSUPPORT_H
#define SOUNDPICK_BENCH_BENCHSUPPORT_H

#include "ffbind/FFmpegLoader.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>

namespace bench {

inline std::filesystem::path ExecutableFolder() {
    return std::filesystem::read_symlink("/proc/self/exe").parent_path();
}

// The wall time of one call of work.
inline double Milliseconds(const std::function<void()>& work) {
    const auto start = std::chrono::steady_clock::now();
    work();
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
        .count();
}

// Runs a shell command; a failure ends the benchmark.
inline void Run(const std::string& command) {
    if (std::system(command.c_str()) != 0) {
        std::fprintf(stderr, "failed: %s\n", command.c_str());
        std::exit(1);
    }
}

// Loads the FFmpeg libraries; a failure ends the benchmark.
inline void LoadLibraries() {
    Loader().SetLibraryPath(ExecutableFolder() / "LibAV");
    if (!Loader().LoadLibs(DefaultLibraries)) {
        std::fprintf(stderr, "%s\n", Loader().GetLastErrorMessage().c_str());
        std::exit(1);
    }
}

// A bench file made once by the ffmpeg tool from its arguments (without the output), kept under
// the build tree's bench-media folder. The name's extension picks the container.
inline std::filesystem::path BenchFile(const std::string& name, const std::string& arguments) {
    const std::filesystem::path folder = ExecutableFolder().parent_path() / "bench-media";
    const std::filesystem::path file = folder / name;
    if (std::filesystem::exists(file))
        return file;
    std::filesystem::create_directories(folder);
    const std::filesystem::path temporary =
        folder / ("making" + std::filesystem::path(name).extension().string());
    std::printf("making %s\n", file.c_str());
    Run("ffmpeg -nostdin -hide_banner -loglevel error -y " + arguments + " '" + temporary.string() +
        "'");
    std::filesystem::rename(temporary, file);
    return file;
}

} // namespace bench

#endif
