// The inputs of a batch over a library: files given by themselves and the files under added
// folders, found one at a time as the batch needs them (see TFolderWalk), filtered to one shard,
// with the output's path under the output folder that keeps the input's tree or follows a name
// template. Shared by the window and soundpick-cli.
#ifndef SOUNDPICK_COMPONENT_LIBRARYINPUTS_H
#define SOUNDPICK_COMPONENT_LIBRARYINPUTS_H

#include "component/FFmpegComponent.h"
#include "component/FolderWalk.h"
#include "component/NameTemplate.h"
#include "component/Shard.h"

#include <deque>
#include <filesystem>
#include <optional>

struct TOutputChoices; // component/OutputAssembly.h

// One input of the batch.
struct TLibraryInput {
    std::filesystem::path Path;
    // Under its added folder ("Artist/Album/01.flac"); a file given by itself: its name.
    std::filesystem::path Relative;
    bool InFolder = false;
};

class TLibraryInputs {
public:
    explicit TLibraryInputs(const TShard& shard = {}) : Shard(shard) {}

    // A file or a folder; folders are walked in the order they were added, when their turn
    // comes.
    void Add(const std::filesystem::path& input);
    // The next input of this shard, or nothing when every added one has been handed out.
    std::optional<TLibraryInput> Next();

private:
    TShard Shard;
    std::deque<std::filesystem::path> Waiting;
    std::optional<TFolderWalk> Walk;
};

// Names the output of an input in choices that have an output folder: the input's relative
// path with the format's extension (no "_(new)": the tree keeps equal names apart), or the path
// the choices' name template makes of the tags. A file given by itself without a template keeps
// the usual naming, and so does a template that does not parse.
void NameLibraryOutput(TOutputChoices& choices, const TLibraryInput& input, const TTagMap& tags);

// Whether a file's extension names it as sound or video (".flac", ".MP3", ".mkv", ...): one
// that cannot be read is damaged, where another kind of file (a text, a picture) just has no
// sound.
bool NamedAsSoundOrVideo(const std::filesystem::path& file);

// "37 files without sound skipped" (one: "1 file ...").
std::string WithoutSoundText(int count);

#endif
