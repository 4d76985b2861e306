// The place of an input among the files of its folder that a tree gives the same name, each
// folder listed once while the inputs come from it or from the folders under it.
#ifndef SOUNDPICK_COMPONENT_SAMESTEMRANKS_H
#define SOUNDPICK_COMPONENT_SAMESTEMRANKS_H

#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <unordered_map>
#include <vector>

class TSameStemRanks {
public:
    // The place of input among the files of its folder that share its name before the
    // extension (once cleaned as output names are) and give an output like it (those
    // makesOutput says so of), in the byte order of their names: 0 for the first. A tree gives
    // each of them the same name, so this tells them apart by the tree alone, whichever run or
    // share converts them and in what order.
    int Rank(const std::filesystem::path& input,
             const std::function<bool(const std::filesystem::path&)>& makesOutput);

private:
    // A folder's visible entries by their cleaned names before the extension, each group in
    // the byte order of the names.
    using TStems = std::unordered_map<std::string, std::vector<std::filesystem::path>>;
    const TStems& Listed(const std::filesystem::path& folder);

    // Only the folders a walk in path order may come back to: the last one asked for and the
    // folders above it. A folder of n files costs one listing, not one per input.
    std::map<std::filesystem::path, TStems> Folders;
};

#endif
