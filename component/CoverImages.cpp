// The cover picture copy.
#include "component/CoverImages.h"

#include "component/FolderWalk.h"
#include "ffbind/TextUtils.h"

#include <regex>
#include <set>
#include <string>

namespace fs = std::filesystem;

bool IsImageFile(const fs::path& file) {
    static const std::set<std::string> extensions = {".jpg", ".jpeg", ".png",
                                                     ".gif", ".bmp",  ".webp"};
    return extensions.count(LowerCase(file.extension().string())) > 0;
}

int CopyFolderImages(const fs::path& inputFolder, const fs::path& outputFolder) {
    int copied = 0;
    std::error_code error;
    for (fs::directory_iterator entry(inputFolder, error), end; !error && entry != end;
         entry.increment(error)) {
        std::error_code fileError;
        if (IsHiddenName(entry->path()) || !IsImageFile(entry->path()) ||
            !entry->is_regular_file(fileError))
            continue;
        fs::create_directories(outputFolder, fileError);
        copied += fs::copy_file(entry->path(), outputFolder / entry->path().filename(),
                                fs::copy_options::skip_existing, fileError)
                      ? 1
                      : 0;
    }
    return copied;
}

bool IsDiscFolderName(const fs::path& folder) {
    static const std::regex disc(R"((cd|disc|disk)[ _.-]*[0-9]+([^0-9].*)?)", std::regex::icase);
    return std::regex_match(folder.filename().string(), disc);
}

int CopyAlbumImages(const fs::path& inputFolder, const fs::path& outputFolder) {
    int copied = CopyFolderImages(inputFolder, outputFolder);
    if (!IsDiscFolderName(inputFolder) || !inputFolder.has_parent_path())
        return copied;
    const bool discFolderKept = outputFolder.filename() == inputFolder.filename();
    copied += CopyFolderImages(inputFolder.parent_path(),
                               discFolderKept ? outputFolder.parent_path() : outputFolder);
    return copied;
}
