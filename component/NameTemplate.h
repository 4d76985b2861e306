// Output names from an input's tags and path: a template such as
// "{albumartist}/{album}/<{disc}->{track:02} {title}" becomes a path under the output folder. A
// section in "<" ">" is left out unless each of its fields is present (the disc number only on
// albums of more than one disc). Tag values never add folders: each stays within its part, which
// the name builder cleans.
#ifndef SOUNDPICK_COMPONENT_NAMETEMPLATE_H
#define SOUNDPICK_COMPONENT_NAMETEMPLATE_H

#include "component/NameBuilder.h"

#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

class TAVProbe; // probe/AVProbe.h

// Tags by lower-case key ("artist", "album", "track", ...).
using TTagMap = std::map<std::string, std::string>;

// The tags of the file the probe holds: the container's, then those of its first sound stream
// for keys the container lacks (Ogg keeps them there).
TTagMap ProbedTags(const TAVProbe& probe);

class TNameTemplate {
public:
    // The template, or nothing with error set: an unknown field, a bad padding, an open brace or
    // an unmatched or nested "<" section.
    static std::optional<TNameTemplate> Parse(const std::string& text, std::string& error);

    // The output's place (without extension, not yet cleaned) for an input at relativeInput
    // under its added folder (just its name for a file added by itself). Missing tags take
    // their stated fallback (FieldFallback).
    TNamePath Expand(const TTagMap& tags, const std::filesystem::path& relativeInput) const;

private:
    // A piece of the template: literal text (with "/" between folders) or a field.
    struct TPiece {
        std::string Text; // the literal, or the field's name
        bool Field = false;
        int PadWidth = 0; // {track:02}: at least this many digits
        int Section = 0;  // the conditional section ("<...>") it lies in, counted from 1; 0: none
    };
    std::vector<TPiece> Pieces;
};

// The text a field takes when the input has no such tag ("Unknown Artist", ...).
std::string FieldFallback(const std::string& field);

#endif
