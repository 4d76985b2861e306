// Loads the media libraries from LibAV/ beside the executable (or the system's) and prints
// what was loaded, for a quick check of an installation.
#include "ffbind/FFmpegApi.h"
#include "ffbind/FFmpegLoader.h"

#include <cstdio>
#include <filesystem>
#include <unistd.h>

namespace {

std::filesystem::path ExecutableFolder() {
    std::error_code error;
    return std::filesystem::read_symlink("/proc/self/exe", error).parent_path();
}

void PrintVersion(const char* name, unsigned version) {
    std::printf("  %-12s %u.%u.%u\n", name, version >> 16, (version >> 8) & 0xff, version & 0xff);
}

} // namespace

int main() {
    TFFmpegLoader& loader = Loader();
    loader.HookLog = false;
    loader.SetLibraryPath(ExecutableFolder() / "LibAV");
    if (!loader.LoadLibs(DefaultLibraries)) {
        std::fprintf(stderr, "%s\n", loader.GetLastErrorMessage().c_str());
        return 1;
    }
    std::printf("Loaded:\n");
    PrintVersion("avutil", ff::avutil_version());
    PrintVersion("swresample", ff::swresample_version());
    PrintVersion("swscale", ff::swscale_version());
    PrintVersion("avcodec", ff::avcodec_version());
    PrintVersion("avformat", ff::avformat_version());
    PrintVersion("avfilter", ff::avfilter_version());
    std::printf("  %-12s %s\n", "myutil", TFFmpegLoader::LibraryFileName(LibMyUtil).c_str());
    return 0;
}
