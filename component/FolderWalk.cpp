// The folder walk: sorted listings level by level.
#include "component/FolderWalk.h"

#include <algorithm>

namespace fs = std::filesystem;

bool IsHiddenName(const fs::path& name) {
    const std::string text = name.filename().string();
    return !text.empty() && text[0] == '.';
}

TFolderWalk::TFolderWalk(const fs::path& root) : RootFolder(root) {
    Open({});
}

void TFolderWalk::Open(const fs::path& relative) {
    TLevel level;
    level.Relative = relative;
    std::error_code error;
    for (fs::directory_iterator entry(RootFolder / relative, error), end; !error && entry != end;
         entry.increment(error))
        if (!IsHiddenName(entry->path()))
            level.Names.push_back(entry->path().filename());
    std::sort(level.Names.begin(), level.Names.end(),
              [](const fs::path& a, const fs::path& b) { return a.native() < b.native(); });
    Levels.push_back(std::move(level));
}

std::optional<TWalkedFile> TFolderWalk::Next() {
    while (!Levels.empty()) {
        TLevel& level = Levels.back();
        if (level.NextName >= level.Names.size()) {
            Levels.pop_back();
            continue;
        }
        const fs::path relative = level.Relative / level.Names[level.NextName++];
        const fs::path path = RootFolder / relative;
        std::error_code error;
        const fs::file_status own = fs::symlink_status(path, error);
        if (fs::is_directory(own)) {
            Open(relative);
            continue;
        }
        if (fs::is_regular_file(fs::status(path, error)))
            return TWalkedFile{path, relative};
    }
    return std::nullopt;
}
