// Playlists in a converted tree (.m3u, .m3u8): written into the output tree with each entry that
// names a converted file pointing at its output; relative entries stay relative, and entries
// outside the tree (or not converted, or addresses) are kept as they are.
#ifndef SOUNDPICK_COMPONENT_PLAYLISTS_H
#define SOUNDPICK_COMPONENT_PLAYLISTS_H

#include <filesystem>
#include <map>
#include <string>

// Whether a file is named as a playlist (".m3u", ".m3u8" in any case).
bool IsPlaylistName(const std::filesystem::path& file);

// Writes the playlist at input (under the tree at inputRoot) to output, its entries mapped
// through outputsByInput (absolute, normalised input paths to their outputs). The file takes
// output's place only when whole. Returns an error text, empty on success.
std::string
WritePlaylist(const std::filesystem::path& input, const std::filesystem::path& inputRoot,
              const std::filesystem::path& output,
              const std::map<std::filesystem::path, std::filesystem::path>& outputsByInput);

#endif
