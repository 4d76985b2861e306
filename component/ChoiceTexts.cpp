// Reading the options dialog's texts into numbers.
#include "component/ChoiceTexts.h"

#include "ffbind/TextUtils.h"

#include <cstdint>
#include <cstdlib>

namespace {

// A field read as a decimal integer (blanks around it allowed); none when it is not one.
std::optional<int32_t> Decimal(const std::string& text) {
    const std::size_t first = text.find_first_not_of(" \t");
    const std::size_t last = text.find_last_not_of(" \t");
    if (first == std::string::npos)
        return std::nullopt;
    std::string_view field(text.data() + first, last + 1 - first);
    if (field.front() == '+')
        field.remove_prefix(1);
    return WholeInteger<int32_t>(field);
}

} // namespace

std::optional<int> SampleRateOfCaption(const std::string& caption) {
    if (caption == "Auto")
        return std::nullopt;
    return Decimal(caption).value_or(22050);
}

std::optional<int> ChannelsOfCaption(const std::string& caption) {
    if (caption == "Mono")
        return 1;
    if (caption == "Stereo")
        return 2;
    return std::nullopt;
}

std::optional<int> VolumeOfText(const std::string& text) {
    return Decimal(text);
}

int BitRateKbpsOfText(const std::string& text) {
    return Decimal(text).value_or(64);
}

double LoudnessTargetOfText(const std::string& text) {
    char* stop = nullptr;
    const double lufs = std::strtod(text.c_str(), &stop);
    const bool whole =
        stop != text.c_str() && std::string(stop).find_first_not_of(" \t") == std::string::npos;
    return whole && lufs >= -70 && lufs <= -1 ? lufs : -16.0;
}
