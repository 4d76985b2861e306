// The cover picture copy.
#include "component/CoverImages.h"

#include "component/FolderWalk.h"
#include "ffbind/TextUtils.h"

#include <algorithm>
#include <regex>
#include <set>
#include <string>

namespace fs = std::filesystem;

bool IsImageFile(const fs::path& file) {
    static const std::set<std::string> extensions = {".jpg", ".jpeg", ".png",
                                                     ".gif", ".bmp",  ".webp"};
    return extensions.count(LowerCase(file.extension().string())) > 0;
}

namespace {

// The visible picture files directly in inputFolder, into outputFolder, in path order.
void AddFolderImages(const fs::path& inputFolder, const fs::path& outputFolder,
                     std::vector<TImageCopy>& images) {
    std::vector<fs::path> pictures;
    std::error_code error;
    for (fs::directory_iterator entry(inputFolder, error), end; !error && entry != end;
         entry.increment(error)) {
        std::error_code fileError;
        if (!IsHiddenName(entry->path()) && IsImageFile(entry->path()) &&
            entry->is_regular_file(fileError))
            pictures.push_back(entry->path());
    }
    std::sort(pictures.begin(), pictures.end());
    for (const fs::path& picture : pictures)
        images.push_back({picture, outputFolder / picture.filename()});
}

} // namespace

bool IsDiscFolderName(const fs::path& folder) {
    static const std::regex disc(R"((cd|disc|disk)[ _.-]*[0-9]+([^0-9].*)?)", std::regex::icase);
    return std::regex_match(folder.filename().string(), disc);
}

std::vector<TImageCopy> AlbumImages(const fs::path& inputFolder, const fs::path& outputFolder) {
    std::vector<TImageCopy> images;
    AddFolderImages(inputFolder, outputFolder, images);
    if (!IsDiscFolderName(inputFolder) || !inputFolder.has_parent_path())
        return images;
    const bool discFolderKept = outputFolder.filename() == inputFolder.filename();
    AddFolderImages(inputFolder.parent_path(),
                    discFolderKept ? outputFolder.parent_path() : outputFolder, images);
    return images;
}

int CopyImages(const std::vector<TImageCopy>& images) {
    int copied = 0;
    for (const TImageCopy& image : images) {
        std::error_code error;
        fs::create_directories(image.To.parent_path(), error);
        copied += fs::copy_file(image.From, image.To, fs::copy_options::skip_existing, error);
    }
    return copied;
}
