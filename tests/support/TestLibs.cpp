// Library loading for tests.
#include "TestLibs.h"

#include "ffbind/FFmpegLoader.h"

#include <gtest/gtest.h>

std::filesystem::path ExecutableFolder() {
    std::error_code error;
    return std::filesystem::read_symlink("/proc/self/exe", error).parent_path();
}

void EnsureLibsLoaded() {
    TFFmpegLoader& loader = Loader();
    if (loader.LibsLoaded(DefaultLibraries))
        return;
    loader.SetLibraryPath(ExecutableFolder() / "LibAV");
    ASSERT_TRUE(loader.LoadLibs(DefaultLibraries)) << loader.GetLastErrorMessage();
}
