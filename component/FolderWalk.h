// A walk over the files under a folder, one at a time in path order, skipping hidden files and
// folders. It holds one sorted listing per open level and no directory handle between calls, so a
// tree of any size costs memory by its depth and breadth, not by its file count.
#ifndef SOUNDPICK_COMPONENT_FOLDERWALK_H
#define SOUNDPICK_COMPONENT_FOLDERWALK_H

#include <filesystem>
#include <optional>
#include <vector>

// A file the walk found: where it is, and its path under the walked folder.
struct TWalkedFile {
    std::filesystem::path Path;
    std::filesystem::path Relative; // e.g. "Artist/Album/01.flac"
};

class TFolderWalk {
public:
    explicit TFolderWalk(const std::filesystem::path& root);

    // The next file in path order (each folder's entries in byte order of their names, a
    // subfolder walked where its name falls), or nothing when the walk is over. Links to files are
    // followed; links to folders are not (they could lead back up the tree). Folders that cannot be
    // read are passed over.
    std::optional<TWalkedFile> Next();

private:
    // One folder being walked: its sorted visible entries and the next one to look at.
    struct TLevel {
        std::vector<std::filesystem::path> Names;
        std::size_t NextName = 0;
        std::filesystem::path Relative;
    };
    void Open(const std::filesystem::path& relative);

    std::filesystem::path RootFolder;
    std::vector<TLevel> Levels;
};

// A name the walk leaves out: it starts with a dot.
bool IsHiddenName(const std::filesystem::path& name);

#endif
