// The text helpers every layer shares: option texts and names are compared without case and
// read without the blanks around them.
#ifndef SOUNDPICK_FFBIND_TEXTUTILS_H
#define SOUNDPICK_FFBIND_TEXTUTILS_H

#include <charconv>
#include <optional>
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

// The whole text as a decimal integer of type T ("-" first for a signed T, nothing else around
// it); none when it is not one or does not fit.
template <typename T> std::optional<T> WholeInteger(std::string_view text) {
    T value{};
    const char* end = text.data() + text.size();
    const auto [stop, error] = std::from_chars(text.data(), end, value);
    if (text.empty() || error != std::errc() || stop != end)
        return std::nullopt;
    return value;
}

#endif
