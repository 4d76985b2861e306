// The peak envelope and what it tells.
#include "SoundEnvelope.h"

#include <algorithm>
#include <cmath>
#include <limits>

double PeakToDb(double peak) {
    return peak > 0 ? 20 * std::log10(peak) : -std::numeric_limits<double>::infinity();
}

double DbToPeak(double levelDb) {
    return std::pow(10.0, levelDb / 20);
}

double TSoundEnvelope::PeakDb(int64_t fromUs, int64_t toUs) const {
    const auto size = static_cast<int64_t>(Peaks.size());
    const int64_t first = std::clamp<int64_t>(fromUs / BinUs, 0, size);
    const int64_t last = std::clamp<int64_t>((toUs + BinUs - 1) / BinUs, first, size);
    const auto begin = Peaks.begin() + first;
    const auto end = Peaks.begin() + last;
    return begin == end ? PeakToDb(0) : PeakToDb(*std::max_element(begin, end));
}

std::optional<TSoundBounds> TSoundEnvelope::SoundAbove(double levelDb) const {
    const auto level = static_cast<float>(DbToPeak(levelDb));
    const auto loud = [level](float peak) { return peak > level; };
    const auto first = std::find_if(Peaks.begin(), Peaks.end(), loud);
    if (first == Peaks.end())
        return std::nullopt;
    const auto last = std::find_if(Peaks.rbegin(), Peaks.rend(), loud);
    return TSoundBounds{(first - Peaks.begin()) * BinUs, (Peaks.rend() - last) * BinUs};
}
