// Reading back what a run wrote: the length of the sound in a file, from its packets' time
// stamps alone (nothing is decoded, so the check costs little next to the conversion).
#ifndef SOUNDPICK_ENGINE_WRITTENSOUND_H
#define SOUNDPICK_ENGINE_WRITTENSOUND_H

#include <cstdint>
#include <filesystem>
#include <string>

// From the start of the first sound packet to the end of the last, microseconds; 0 when the
// file cannot be read or has no sound.
int64_t WrittenSoundLengthUs(const std::filesystem::path& file);

// "M:SS", rounded to the nearest second.
std::string MinutesSecondsText(int64_t timeUs);

#endif
