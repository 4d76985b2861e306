// Reading back what a run wrote: the length of the sound in a file, from its packets' time
// stamps alone (nothing is decoded, so the check costs little next to the conversion).
#ifndef SOUNDPICK_ENGINE_WRITTENSOUND_H
#define SOUNDPICK_ENGINE_WRITTENSOUND_H

#include <cstdint>
#include <filesystem>
#include <string>

// From the start of the first sound packet to the end of the last, microseconds; 0 when the
// file cannot be read or has no sound. Raw formats without a header (ADTS) give their packets
// no time stamps until something is decoded: those count packetDurationUs each (the encoder's
// frame), which still catches packets that never reached the file; -1 when such packets come
// without a duration to count (the length cannot be told).
int64_t WrittenSoundLengthUs(const std::filesystem::path& file, int64_t packetDurationUs);

// Whether writtenUs of sound is all of expectedUs for a conversion that ran to its end: at most a
// second or a fiftieth short (encoders pad and trim the edges).
bool WrittenLengthComplete(int64_t expectedUs, int64_t writtenUs);

// "M:SS", rounded to the nearest second.
std::string MinutesSecondsText(int64_t timeUs);

#endif
