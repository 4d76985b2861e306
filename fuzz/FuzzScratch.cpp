// The fuzz targets' scratch folder and library loading.
#include "fuzz/FuzzScratch.h"

#include "ffbind/FFmpegLoader.h"

#include <sanitizer/lsan_interface.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

namespace fs = std::filesystem;

namespace {

void Abandon(const std::string& reason) {
    std::fprintf(stderr, "fuzz target: %s\n", reason.c_str());
    std::exit(2);
}

} // namespace

TFuzzScratch::TFuzzScratch() {
    std::string pattern = (fs::temp_directory_path() / "soundpick-fuzz-XXXXXX").string();
    if (!mkdtemp(pattern.data()))
        Abandon("cannot make a scratch folder");
    Folder = pattern;
    // The input's name carries no extension: the libraries detect the format from the bytes.
    InputFile = Folder / "input";
    OutputFolder = Folder / "out";
    fs::create_directory(OutputFolder);

    std::error_code error;
    const fs::path executable = fs::read_symlink("/proc/self/exe", error);
    TFFmpegLoader& loader = Loader();
    loader.SetLibraryPath(executable.parent_path() / "LibAV");
    // What the libraries' initialisers allocate for good is theirs, not a leak of ours.
    __lsan::ScopedDisabler initialisers;
    if (!loader.LoadLibs(DefaultLibraries))
        Abandon(loader.GetLastErrorMessage());
}

TFuzzScratch::~TFuzzScratch() {
    std::error_code error;
    fs::remove_all(Folder, error);
}

const fs::path& TFuzzScratch::Write(const uint8_t* data, std::size_t size) {
    std::ofstream file(InputFile, std::ios::binary | std::ios::trunc);
    file.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    if (!file.flush())
        Abandon("cannot write " + InputFile.string());
    return InputFile;
}

void TFuzzScratch::EmptyOutputs() {
    std::error_code error;
    for (const fs::directory_entry& entry : fs::directory_iterator(OutputFolder, error))
        fs::remove_all(entry.path(), error);
}
