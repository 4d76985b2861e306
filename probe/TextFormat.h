// printf-style formatting into a std::string, for the probe's user-visible texts.
#ifndef SOUNDPICK_PROBE_TEXTFORMAT_H
#define SOUNDPICK_PROBE_TEXTFORMAT_H

#include <cstdarg>
#include <cstdio>
#include <string>

std::string Format(const char* format, ...) __attribute__((format(printf, 1, 2)));

inline std::string Format(const char* format, ...) {
    va_list args;
    va_start(args, format);
    va_list again;
    va_copy(again, args);
    const int length = std::vsnprintf(nullptr, 0, format, args);
    va_end(args);
    std::string text(length > 0 ? length : 0, '\0');
    if (length > 0)
        std::vsnprintf(text.data(), text.size() + 1, format, again);
    va_end(again);
    return text;
}

#endif
