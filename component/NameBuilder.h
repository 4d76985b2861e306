// The one builder of output names: every output's name (an input's own, its place in a tree, a
// name template's, a cue track's, a chapter's or an audio track's) is put together whole here
// and cleaned (SafeNamePart) once, before the naming rule checks and numbers it.
#ifndef SOUNDPICK_COMPONENT_NAMEBUILDER_H
#define SOUNDPICK_COMPONENT_NAMEBUILDER_H

#include "component/OutputNaming.h"

#include <filesystem>
#include <string>

// An output's name as its parts, before cleaning.
struct TNameParts {
    // Where it goes: the output folder or the input's (a folder of this system, kept as it is).
    std::filesystem::path Folder;
    // Under Folder: the folders and the name without extension, as the input, a tree, a
    // template or a piece gives them (a "/" in Name is a character like any other).
    std::filesystem::path Folders;
    std::string Name;
    // After the mark: what tells one output of an input from its others (an audio track's
    // "_2_ger").
    std::string Suffix;
    std::string Extension; // with its dot
    bool Marked = true;    // see TWantedOutput
    bool Replace = false;
};

// The name whole and valid: each of Folders, Name and the suffix cleaned, the name
// cut to leave the suffix room within MaxNamePartBytes.
TWantedOutput BuildOutputName(const TNameParts& parts);

#endif
