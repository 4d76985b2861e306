// A fresh folder for one test, removed with everything in it when the test ends.
#ifndef SOUNDPICK_TESTS_FFBIND_TEMPFOLDER_H
#define SOUNDPICK_TESTS_FFBIND_TEMPFOLDER_H

#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>

class TTempFolder {
public:
    TTempFolder() {
        Path = std::filesystem::temp_directory_path() /
               ("soundpick-ffbind-" + std::to_string(getpid()) + "-" + std::to_string(Next()++));
        std::filesystem::remove_all(Path);
        std::filesystem::create_directories(Path);
    }
    ~TTempFolder() {
        std::error_code ignored;
        std::filesystem::remove_all(Path, ignored);
    }
    TTempFolder(const TTempFolder&) = delete;
    TTempFolder& operator=(const TTempFolder&) = delete;

    const std::filesystem::path& Get() const { return Path; }
    std::filesystem::path operator/(const std::string& name) const { return Path / name; }

    // Writes a file of the given bytes and returns its path.
    std::filesystem::path WriteFile(const std::string& name, const std::string& bytes) const {
        std::ofstream(Path / name, std::ios::binary) << bytes;
        return Path / name;
    }

private:
    static int& Next() {
        static int next = 0;
        return next;
    }
    std::filesystem::path Path;
};

// Reads a whole file as bytes.
inline std::string ReadWholeFile(const std::filesystem::path& path) {
    std::ifstream stream(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(stream), std::istreambuf_iterator<char>());
}

#endif
