// The text helpers every layer shares: option texts and names are compared without case and
// read without the blanks around them.
#ifndef SOUNDPICK_FFBIND_TEXTUTILS_H
#define SOUNDPICK_FFBIND_TEXTUTILS_H

#include <string>
#include <string_view>

// A text without the blanks and control characters around it, as option texts are trimmed.
std::string TrimBlanks(std::string_view text);

// A text fit for a one-line message: each run of control characters (line breaks, carriage
// returns, tabs) becomes one blank, and none is left at either end.
std::string OneLineText(std::string_view text);

// The text with its ASCII letters in lower or upper case; other bytes are kept as they are.
std::string LowerCase(std::string text);
std::string UpperCase(std::string text);

#endif
