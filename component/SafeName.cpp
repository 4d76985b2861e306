// The cleaner of output names.
#include "component/SafeName.h"

#include "ffbind/TextUtils.h"

#include <array>
#include <string_view>

namespace {

bool Refused(char c) {
    return static_cast<unsigned char>(c) < 0x20 || c == 0x7F ||
           std::string_view("/\\:*?\"<>|").find(c) != std::string_view::npos;
}

// Names a device rather than a file where they are reserved, whatever follows the first dot.
bool Reserved(const std::string& name) {
    static constexpr std::array<std::string_view, 4> plain = {"con", "prn", "aux", "nul"};
    const std::string stem = LowerCase(name.substr(0, name.find('.')));
    for (const std::string_view word : plain)
        if (stem == word)
            return true;
    return stem.size() == 4 && (stem.starts_with("com") || stem.starts_with("lpt")) &&
           stem[3] >= '1' && stem[3] <= '9';
}

// Cuts a text to at most maxBytes without splitting a UTF-8 sequence.
std::string CutAtCharacter(const std::string& text, std::size_t maxBytes) {
    if (text.size() <= maxBytes)
        return text;
    std::size_t end = maxBytes;
    while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80)
        --end;
    return text.substr(0, end);
}

} // namespace

std::string SafeNamePart(const std::string& text, std::size_t maxBytes) {
    std::string name = text;
    for (char& c : name)
        if (Refused(c))
            c = '_';
    if (Reserved(name))
        name.insert(0, "_");
    name = CutAtCharacter(name, maxBytes);
    // Leading dots would hide the file, or with nothing after them name this folder or its
    // parent; trailing ones and spaces some file systems drop, so that two names would meet.
    for (std::size_t i = 0; i < name.size() && name[i] == '.'; ++i)
        name[i] = '_';
    for (std::size_t i = name.size(); i > 0 && (name[i - 1] == '.' || name[i - 1] == ' '); --i)
        name[i - 1] = '_';
    return name.empty() ? "_" : name;
}
