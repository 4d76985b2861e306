// Playlists in a converted tree (see Playlists.h).
#include "component/Playlists.h"

#include "ffbind/TextUtils.h"

#include <fstream>
#include <sstream>

namespace fs = std::filesystem;

namespace {

// Whether path lies in folder (both normalised).
bool Inside(const fs::path& path, const fs::path& folder) {
    const fs::path relative = path.lexically_relative(folder);
    return !relative.empty() && *relative.begin() != "..";
}

// The entry as the output playlist names it: the converted file, relative to the output
// playlist's folder when the entry was relative; the entry as it is when it names no converted
// file of the tree (an address, a file outside the tree or one not converted).
std::string MappedEntry(const std::string& entry, const fs::path& input, const fs::path& inputRoot,
                        const fs::path& output,
                        const std::map<fs::path, fs::path>& outputsByInput) {
    if (entry.find("://") != std::string::npos)
        return entry;
    const fs::path named(entry);
    const fs::path target =
        (named.is_absolute() ? named : input.parent_path() / named).lexically_normal();
    const auto converted = outputsByInput.find(target);
    if (!Inside(target, inputRoot) || converted == outputsByInput.end())
        return entry;
    return named.is_absolute()
               ? converted->second.string()
               : converted->second.lexically_relative(output.parent_path()).generic_string();
}

} // namespace

bool IsPlaylistName(const fs::path& file) {
    const std::string extension = LowerCase(file.extension().string());
    return extension == ".m3u" || extension == ".m3u8";
}

std::string WritePlaylist(const fs::path& input, const fs::path& inputRoot, const fs::path& output,
                          const std::map<fs::path, fs::path>& outputsByInput) {
    std::ifstream in(input, std::ios::binary);
    if (!in)
        return "cannot read " + input.string();
    std::ostringstream written;
    bool first = true;
    for (std::string line; std::getline(in, line); first = false) {
        const bool crlf = !line.empty() && line.back() == '\r';
        if (crlf)
            line.pop_back();
        // A byte order mark stays where it is, in front of the first line.
        const std::string mark =
            first && line.rfind("\xEF\xBB\xBF", 0) == 0 ? line.substr(0, 3) : "";
        const std::string text = line.substr(mark.size());
        const bool entry = !text.empty() && text[0] != '#';
        written << mark
                << (entry ? MappedEntry(text, input.lexically_normal(),
                                        inputRoot.lexically_normal(), output, outputsByInput)
                          : text)
                << (crlf ? "\r\n" : "\n");
    }
    std::error_code error;
    fs::create_directories(output.parent_path(), error);
    const fs::path part = output.parent_path() / ("." + output.filename().string() + ".part");
    {
        std::ofstream out(part, std::ios::binary | std::ios::trunc);
        out << written.str();
        if (!out.flush()) {
            fs::remove(part, error);
            return "cannot write " + output.string();
        }
    }
    fs::rename(part, output, error);
    if (error) {
        fs::remove(part, error);
        return "cannot write " + output.string();
    }
    return "";
}
