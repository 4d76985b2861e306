// Reading back what a run wrote: the length of the sound in a file, from its packets' time
// stamps alone (nothing is decoded, so the check costs little next to the conversion).
#ifndef SOUNDPICK_ENGINE_WRITTENSOUND_H
#define SOUNDPICK_ENGINE_WRITTENSOUND_H

#include <cstdint>
#include <filesystem>
#include <string>

// What the read-back found. A file that could not be opened says nothing about its length:
// OpenError tells why (a library error code), and the caller decides whether the file or the
// system (no handle left, no memory) is at fault.
struct TWrittenSound {
    int OpenError = 0;
    // From the start of the first sound packet to the end of the last, microseconds; 0 when the
    // file has no sound; -1 when the length cannot be told.
    int64_t LengthUs = 0;
    // With rcDecodeSound: whether a frame of sound was decoded from the file. A copied stream is
    // written as it came and no encoder vouches for it: its packets may give no sound at all.
    // True when not checked, and when no decoder for the codec is there to tell.
    bool SoundDecoded = true;
};

// How far the read-back goes: packets only, or also decoding until the first sound.
enum TReadBack : uint8_t { rbPackets, rbDecodeSound };

// Raw formats without a header (ADTS) give their packets no time stamps until something is
// decoded: those count packetDurationUs each (the encoder's frame), which still catches packets
// that never reached the file; the length cannot be told when such packets come without a
// duration to count. Containers that give a packet no duration (ASF) have it last until the
// next packet starts; the last one lasts as long for its size as those before it did. With
// rbDecodeSound a lone packet without a duration (a whole file in one block) lasts as long as
// the sound decoded from it.
TWrittenSound ReadWrittenSound(const std::filesystem::path& file, int64_t packetDurationUs,
                               TReadBack readBack = rbPackets);

// Whether writtenUs of sound is all of expectedUs for a conversion that ran to its end: at most a
// second or a fiftieth short (encoders pad and trim the edges).
bool WrittenLengthComplete(int64_t expectedUs, int64_t writtenUs);

// "M:SS", rounded to the nearest second.
std::string MinutesSecondsText(int64_t timeUs);

#endif
