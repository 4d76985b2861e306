// The one builder of output names: every output's name (an input's own, its place in a tree, a
// name template's, a cue track's, a chapter's or an audio track's) is put together whole here
// and cleaned (SafeNamePart) once, before the naming rule checks and numbers it.
#ifndef SOUNDPICK_COMPONENT_NAMEBUILDER_H
#define SOUNDPICK_COMPONENT_NAMEBUILDER_H

#include <filesystem>
#include <string>
#include <vector>

// A place under an output folder as texts, before cleaning: the folders, then the name without
// extension, as the input, a tree, a template or a piece gives them (a "/" within a part is a
// character like any other). Empty folders are left out.
using TNamePath = std::vector<std::string>;

// The name an output would like, as its parts.
struct TWantedOutput {
    // Folder and name, without the mark, the suffix and the extension; cleaned (see
    // BuildOutputName), as is the suffix.
    std::string Base;
    // After the mark: what tells one output of an input from its others (an audio track's
    // "_2_ger").
    std::string Suffix;
    std::string Extension; // with its dot
    // The first choice carries the "_(new)" mark (a tree's names go without: the tree keeps
    // equal names apart).
    bool Marked = true;
    // A file with the first choice's name is replaced rather than numbered past.
    bool Replace = false;
};

// An output's name as its parts, before cleaning.
struct TNameParts {
    // Where it goes: the output folder or the input's (a folder of this system, kept as it is).
    std::filesystem::path Folder;
    TNamePath Path; // under Folder
    // After the mark: what tells one output of an input from its others (an audio track's
    // "_2_ger").
    std::string Suffix;
    std::string Extension; // with its dot
    bool Marked = true;    // see TWantedOutput
    bool Replace = false;
};

// The name whole and valid: each part of Path and the suffix cleaned, the name cut to leave the
// suffix room within MaxNamePartBytes.
TWantedOutput BuildOutputName(const TNameParts& parts);

// The parts of a relative path of this system (an input's place under an added folder).
TNamePath NamePathOf(const std::filesystem::path& relative);

#endif
