// Reads a stretch of a file's sound as PCM of a chosen format and hands it over piece by piece:
// what the window's player queues for its sound output.
#ifndef SOUNDPICK_PROBE_SOUNDRANGE_H
#define SOUNDPICK_PROBE_SOUNDRANGE_H

#include "SoundDecoder.h"

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>

enum class TRangeEnd { Complete, Stopped, Failed };

// Takes a piece of interleaved samples; false stops the reading.
using TPcmSink = std::function<bool(const uint8_t* bytes, std::size_t sizeBytes)>;

// The samples from fromUs to toUs (negative: the end of the sound), from the start of the sound.
// Failed with errorText when the file cannot be read; Stopped when the sink said so.
TRangeEnd ReadSoundRange(const TSoundSource& source, const TPcmFormat& format, int64_t fromUs,
                         int64_t toUs, const TPcmSink& sink, std::string& errorText);

#endif
