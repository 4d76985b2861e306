// The library inputs: the queue of added files and folders and the tree naming.
#include "component/LibraryInputs.h"

#include "component/OutputAssembly.h"
#include "ffbind/TextUtils.h"

#include <set>

namespace fs = std::filesystem;

void TLibraryInputs::Add(const fs::path& input) {
    Waiting.push_back(input);
}

std::optional<TLibraryInput> TLibraryInputs::Next() {
    while (true) {
        if (Walk) {
            if (std::optional<TWalkedFile> file = Walk->Next()) {
                if (Shard.Takes(file->Relative))
                    return TLibraryInput{file->Path, file->Relative, true};
                continue;
            }
            Walk.reset();
        }
        if (Waiting.empty())
            return std::nullopt;
        const fs::path next = Waiting.front();
        Waiting.pop_front();
        std::error_code error;
        if (fs::is_directory(next, error))
            Walk.emplace(next);
        else if (Shard.Takes(next.filename()))
            return TLibraryInput{next, next.filename(), false};
    }
}

void NameLibraryOutput(TOutputChoices& choices, const TLibraryInput& input, const TTagMap& tags) {
    if (!choices.OutputFolder)
        return;
    std::string error;
    const std::optional<TNameTemplate> nameTemplate =
        choices.NameTemplateText.empty() ? std::nullopt
                                         : TNameTemplate::Parse(choices.NameTemplateText, error);
    if (nameTemplate)
        choices.TreeName = nameTemplate->Expand(tags, input.Relative);
    else if (input.InFolder)
        choices.TreeName = NamePathOf(fs::path(input.Relative).replace_extension());
}

bool NamedAsSoundOrVideo(const fs::path& file) {
    static const std::set<std::string> extensions = {
        ".3gp", ".aac", ".ac3", ".aif",  ".aifc", ".aiff", ".amr",  ".ape", ".asf",  ".au",  ".avi",
        ".caf", ".dff", ".dsf", ".dts",  ".eac3", ".f4a",  ".flac", ".flv", ".m2ts", ".m4a", ".m4b",
        ".m4v", ".mka", ".mkv", ".mov",  ".mp2",  ".mp3",  ".mp4",  ".mpc", ".mpeg", ".mpg", ".mts",
        ".oga", ".ogg", ".ogv", ".opus", ".ra",   ".rm",   ".shn",  ".spx", ".tak",  ".ts",  ".tta",
        ".vob", ".w64", ".wav", ".webm", ".wma",  ".wmv",  ".wv"};
    return extensions.count(LowerCase(file.extension().string())) > 0;
}

std::string WithoutSoundText(int count) {
    return std::to_string(count) + (count == 1 ? " file" : " files") + " without sound skipped";
}
