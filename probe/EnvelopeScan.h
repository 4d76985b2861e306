// Measures a file's peak envelope (TSoundEnvelope) by decoding its sound: on a worker of the
// window, bin batch by bin batch so that the strip fills in as it goes, or at once where the
// command line's "--trim-silence" looks for the sound's start and end.
#ifndef SOUNDPICK_PROBE_ENVELOPESCAN_H
#define SOUNDPICK_PROBE_ENVELOPESCAN_H

#include "SoundDecoder.h"
#include "SoundEnvelope.h"

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <limits>
#include <optional>
#include <string>
#include <vector>

enum class TScanEnd { Complete, Cancelled, Failed };

// Receives finished bins, on the scanning thread: the index of the first and their peaks.
using TEnvelopeBins = std::function<void(std::size_t firstBin, std::vector<float> peaks)>;

struct TScanRange {
    int64_t FromUs = 0;
    int64_t ToUs = std::numeric_limits<int64_t>::max();
};

// How a sound of the given length (-1: unknown) is best split for scanning on the processors:
// two halves at a bin boundary when it is a minute or more and two processors are there, else
// one range.
std::vector<TScanRange> EnvelopeParts(int64_t durationUs, unsigned processors);

// Scans the bins of the range (a bin-aligned start; the end of the sound at most) and hands
// them over in batches of a few hundred. Checks cancel between pieces of sound; errorText
// tells why a scan Failed.
TScanEnd ScanSoundEnvelope(const TSoundSource& source, const TScanRange& range,
                           const std::atomic<bool>& cancel, const TEnvelopeBins& onBins,
                           std::string& errorText);

// The whole envelope at once, on the calling thread; none with errorText on failure.
std::optional<TSoundEnvelope> ReadSoundEnvelope(const TSoundSource& source, std::string& errorText);

// Where the sound rises above levelDb (as TSoundEnvelope::SoundAbove finds it), on the calling
// thread. A sound of three minutes or more (durationUs; -1 when unknown) is scanned only at its
// first and last minute when the sound starts in the one and ends in the other, and whole
// otherwise. None with errorText empty when no bin rises above the level; none with errorText
// when the scan failed.
std::optional<TSoundBounds> ReadSoundBounds(const TSoundSource& source, int64_t durationUs,
                                            double levelDb, std::string& errorText);

#endif
