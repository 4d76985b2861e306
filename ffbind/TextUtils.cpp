// The shared text helpers: ASCII only, as option names and values are.
#include "TextUtils.h"

#include <algorithm>
#include <cctype>

namespace {

bool IsBlank(char c) {
    return static_cast<unsigned char>(c) <= ' ';
}

} // namespace

std::string TrimBlanks(std::string_view text) {
    while (!text.empty() && IsBlank(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && IsBlank(text.back()))
        text.remove_suffix(1);
    return std::string(text);
}

std::string OneLineText(std::string_view text) {
    std::string line;
    bool inControl = false;
    for (const char c : text) {
        const bool control = static_cast<unsigned char>(c) < ' ' || c == '\x7f';
        if (!control)
            line += c;
        else if (!inControl && !line.empty())
            line += ' ';
        inControl = control;
    }
    return TrimBlanks(line);
}

std::string LowerCase(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

std::string UpperCase(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    return text;
}
