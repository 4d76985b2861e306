// The one cleaner of output names: every file or folder name this program makes (from an
// input's name, its tree, a name template, a cue sheet's, a chapter's or an audio track's
// texts) passes it, so that the name is valid on the common file systems an output folder
// may lie on (a memory card's or a network share's as well as this system's).
#ifndef SOUNDPICK_COMPONENT_SAFENAME_H
#define SOUNDPICK_COMPONENT_SAFENAME_H

#include <cstddef>
#include <string>

// The bytes a cleaned name part keeps at most: a file name of 255 bytes still has room for the
// "_(new_N)" mark, a track's suffix and an extension.
inline constexpr std::size_t MaxNamePartBytes = 200;

// One file or folder name from a text: "/", "\", ":", "*", "?", '"', "<", ">", "|", NUL and
// other control characters become "_", and so do leading dots (no hidden names, no "." or
// ".."), trailing dots and spaces (dropped or refused elsewhere) and a name that is reserved
// for a device ("CON", "nul.txt", "COM1", ... get a "_" in front). An empty name becomes "_";
// a longer one is cut to maxBytes at a character boundary.
std::string SafeNamePart(const std::string& text, std::size_t maxBytes = MaxNamePartBytes);

#endif
