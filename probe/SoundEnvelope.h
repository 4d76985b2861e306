// A file's sound as a peak envelope: the largest absolute sample of any channel in each bin of
// BinUs from the start of the sound. What the options dialog draws and cuts on, and where
// "Trim Silence" finds the sound's first and last moments.
#ifndef SOUNDPICK_PROBE_SOUNDENVELOPE_H
#define SOUNDPICK_PROBE_SOUNDENVELOPE_H

#include <cstdint>
#include <optional>
#include <vector>

// The part of a file where its sound rises above a level.
struct TSoundBounds {
    int64_t StartUs = 0;
    int64_t EndUs = 0;
};

class TSoundEnvelope {
public:
    static constexpr int64_t BinUs = 10000;
    static constexpr double SilenceDb = -50; // "Trim Silence"'s level when none is given

    // Linear peaks (1 = full scale) by bin; a bin not yet measured holds 0.
    std::vector<float> Peaks;

    // The largest peak over the bins that [fromUs, toUs) touches, in dBFS; -infinity when they
    // are silent or not measured.
    double PeakDb(int64_t fromUs, int64_t toUs) const;
    // From the start of the first bin to the end of the last bin whose peak rises above the
    // level; none when no bin does.
    std::optional<TSoundBounds> SoundAbove(double levelDb) const;
};

// Peaks in dBFS and back.
double PeakToDb(double peak);
double DbToPeak(double levelDb);

#endif
