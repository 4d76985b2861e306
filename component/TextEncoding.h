// Text files of unknown encoding as UTF-8: cue sheets are written by rippers in the encoding of
// the system they ran on (Windows code pages, Shift-JIS), rarely with a mark saying which.
#ifndef SOUNDPICK_COMPONENT_TEXTENCODING_H
#define SOUNDPICK_COMPONENT_TEXTENCODING_H

#include <string>

// The text as UTF-8 without a byte-order mark: UTF-8 or UTF-16 by their marks, UTF-8 when it is
// valid as such, else the encoding the system's character-set detector (uchardet, loaded when
// first needed) names, else Latin-1 (Windows-1252), which every byte sequence is.
std::string TextToUtf8(const std::string& bytes);

#endif
