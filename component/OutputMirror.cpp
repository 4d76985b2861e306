// The outputs of gone inputs, and their removal.
#include "component/OutputMirror.h"

#include "component/UpdateCheck.h"

#include <algorithm>

namespace fs = std::filesystem;

namespace {

// The input's path under folder; empty when it lies elsewhere.
fs::path PathUnder(const fs::path& input, const fs::path& folder) {
    const fs::path relative = input.lexically_relative(folder.lexically_normal());
    return relative.empty() || *relative.begin() == ".." ? fs::path() : relative;
}

// Whether a recorded name lies inside the output folder: a record changed by hand or damaged
// never points the removal elsewhere.
bool InsideFolder(const fs::path& relative) {
    const fs::path normal = relative.lexically_normal();
    return !normal.empty() && normal.is_relative() && *normal.begin() != ".." &&
           *normal.begin() != ".";
}

bool Exists(const fs::path& file) {
    std::error_code error;
    return fs::exists(fs::symlink_status(file, error));
}

// The folders between the removed file and the output folder that hold nothing now.
void RemoveEmptyFolders(const fs::path& removed, const fs::path& outputFolder) {
    std::error_code error;
    const fs::path top = outputFolder.lexically_normal();
    for (fs::path folder = removed.parent_path().lexically_normal();
         folder != top && !PathUnder(folder, top).empty(); folder = folder.parent_path())
        if (!fs::is_empty(folder, error) || error || !fs::remove(folder, error))
            return;
}

} // namespace

std::vector<TManifestEntry> GoneInputOutputs(const TOutputManifest& manifest,
                                             const std::vector<fs::path>& folders,
                                             const TShard& shard) {
    std::vector<TManifestEntry> gone;
    for (const auto& [output, entry] : manifest.Entries()) {
        if (!InsideFolder(output))
            continue;
        for (const fs::path& folder : folders) {
            const fs::path relative = PathUnder(entry.Input, folder);
            if (relative.empty())
                continue;
            if (shard.Takes(relative) && !Exists(entry.Input))
                gone.push_back(entry);
            break;
        }
    }
    return gone;
}

namespace {

// Whether a recorded output is of the kind (extension) of one of the input's outputs now, and
// none of them.
bool ReplacedBy(const fs::path& recorded, const std::set<fs::path>& outputs) {
    return !outputs.count(recorded) &&
           std::any_of(outputs.begin(), outputs.end(), [&](const fs::path& output) {
               return output.extension() == recorded.extension();
           });
}

} // namespace

std::vector<TManifestEntry> FormerOutputs(const TOutputManifest& manifest,
                                          const TCurrentOutputs& current) {
    std::vector<TManifestEntry> former;
    for (const auto& [output, entry] : manifest.Entries()) {
        const auto outputs = current.find(fs::path(entry.Input).lexically_normal());
        if (InsideFolder(output) && outputs != current.end() &&
            ReplacedBy((manifest.Folder() / output).lexically_normal(), outputs->second))
            former.push_back(entry);
    }
    return former;
}

std::string RemovalRefusal(const TManifestEntry& entry, const fs::path& output) {
    std::error_code error;
    const fs::file_status status = fs::symlink_status(output, error);
    if (!fs::exists(status))
        return "";
    if (!fs::is_regular_file(status))
        return "it is no longer a file this program wrote";
    return OutputAsWritten(entry, output) ? "" : "it was changed since its run wrote it";
}

std::string RemoveGoneOutput(TOutputManifest& manifest, const TManifestEntry& entry) {
    const fs::path output = manifest.Folder() / entry.Output;
    if (std::string refusal = RemovalRefusal(entry, output); !refusal.empty())
        return refusal;
    std::error_code error;
    if (!fs::remove(output, error) && error)
        return error.message();
    RemoveEmptyFolders(output, manifest.Folder());
    return manifest.Forget(entry.Output);
}
