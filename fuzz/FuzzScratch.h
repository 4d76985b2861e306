// The fuzz targets' private scratch folder: each input is written there as a file (the probe
// and the engine read files), outputs go there too, and the folder goes at exit. Also loads the
// media libraries once per process.
#ifndef SOUNDPICK_FUZZ_FUZZSCRATCH_H
#define SOUNDPICK_FUZZ_FUZZSCRATCH_H

#include <cstddef>
#include <cstdint>
#include <filesystem>

class TFuzzScratch {
public:
    // Makes the folder and loads the libraries from LibAV beside the executable; exits the
    // process when either fails, since no input could be tried.
    TFuzzScratch();
    ~TFuzzScratch();
    TFuzzScratch(const TFuzzScratch&) = delete;
    TFuzzScratch& operator=(const TFuzzScratch&) = delete;

    // Writes the input as the file Input() names, replacing the previous one.
    const std::filesystem::path& Write(const uint8_t* data, std::size_t size);
    const std::filesystem::path& Input() const { return InputFile; }
    // A folder for outputs, emptied by EmptyOutputs.
    const std::filesystem::path& Outputs() const { return OutputFolder; }
    void EmptyOutputs();

private:
    std::filesystem::path Folder, InputFile, OutputFolder;
};

#endif
