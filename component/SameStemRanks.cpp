// The same-stem ranks: one sorted listing per folder, grouped by the stem as names are built.
#include "component/SameStemRanks.h"

#include "component/FolderWalk.h"
#include "component/NameBuilder.h"

#include <algorithm>

namespace fs = std::filesystem;

namespace {

bool Contains(const fs::path& folder, const fs::path& inner) {
    return std::mismatch(folder.begin(), folder.end(), inner.begin(), inner.end()).first ==
           folder.end();
}

// A file's stem as the output's name is built from it: "a:b" and "a_b" meet.
std::string BuiltStem(const fs::path& name) {
    TNameParts parts;
    parts.Path = {name.stem().string()};
    return BuildOutputName(parts).Base;
}

} // namespace

const TSameStemRanks::TStems& TSameStemRanks::Listed(const fs::path& folder) {
    std::erase_if(Folders, [&](const auto& listed) { return !Contains(listed.first, folder); });
    if (const auto listed = Folders.find(folder); listed != Folders.end())
        return listed->second;
    std::vector<fs::path> names;
    std::error_code error;
    for (fs::directory_iterator entry(folder, error), end; !error && entry != end;
         entry.increment(error))
        // Hidden files are never inputs of a folder.
        if (!IsHiddenName(entry->path()))
            names.push_back(entry->path().filename());
    std::sort(names.begin(), names.end(),
              [](const fs::path& a, const fs::path& b) { return a.native() < b.native(); });
    TStems& stems = Folders[folder];
    for (const fs::path& name : names)
        stems[BuiltStem(name)].push_back(name);
    return stems;
}

int TSameStemRanks::Rank(const fs::path& input,
                         const std::function<bool(const fs::path&)>& makesOutput) {
    const fs::path folder = input.parent_path();
    const TStems& stems = Listed(folder);
    const auto group = stems.find(BuiltStem(input));
    if (group == stems.end())
        return 0;
    const fs::path name = input.filename();
    int rank = 0;
    for (const fs::path& sibling : group->second) {
        if (sibling.native() >= name.native())
            break;
        std::error_code error;
        if (fs::is_regular_file(folder / sibling, error) && makesOutput(folder / sibling))
            ++rank;
    }
    return rank;
}
