// A stretch of sound read as the player reads it: its length to the sample at the player's rate,
// silence and tone where the fixture has them, to the end of the sound, and stopped by its sink.
#include "probe/SoundRange.h"
#include "support/TestLibs.h"
#include "support/TestMedia.h"

#include <gtest/gtest.h>

#include <cmath>

namespace {

constexpr int RateHz = 48000;
const TPcmFormat Mono16{AV_SAMPLE_FMT_S16, RateHz, 1};

// The samples (full scale 1) of a range of the mono 44.1 kHz fixture with 2 s of tone between
// 2 s of silence, at the player's rate.
std::vector<double> ReadRange(int64_t fromUs, int64_t toUs) {
    std::vector<double> read;
    const auto keep = [&read](const uint8_t* bytes, std::size_t sizeBytes) {
        const auto* samples = reinterpret_cast<const int16_t*>(bytes);
        for (std::size_t i = 0; i < sizeBytes / 2; ++i)
            read.push_back(samples[i] / 32768.0);
        return true;
    };
    std::string error;
    EXPECT_EQ(ReadSoundRange({Fixture("tone_padded_2s.wav")}, Mono16, fromUs, toUs, keep, error),
              TRangeEnd::Complete)
        << error;
    return read;
}

double Rms(const std::vector<double>& samples, double fromSeconds, double toSeconds) {
    const auto first = static_cast<std::size_t>(fromSeconds * RateHz);
    const auto last = std::min(samples.size(), static_cast<std::size_t>(toSeconds * RateHz));
    double sum = 0;
    for (std::size_t i = first; i < last; ++i)
        sum += samples[i] * samples[i];
    return last > first ? std::sqrt(sum / double(last - first)) : 0;
}

class SoundRangeTest : public ::testing::Test {
protected:
    void SetUp() override { EnsureLibsLoaded(); }
};

TEST_F(SoundRangeTest, AStretchIsItsLengthAtThePlayersRateWithTheSoundWhereItWas) {
    const std::vector<double> stretch = ReadRange(1500000, 3000000);
    EXPECT_NEAR(double(stretch.size()), 1.5 * RateHz, 2);
    EXPECT_LT(Rms(stretch, 0, 0.49), 1e-3) << "silence until 2 s";
    EXPECT_NEAR(Rms(stretch, 0.51, 1.5), 0.5 / std::sqrt(2.0), 0.01) << "the tone from 2 s";

    const std::vector<double> toTheEnd = ReadRange(5000000, -1);
    EXPECT_NEAR(double(toTheEnd.size()), 1.0 * RateHz, 2);
}

TEST_F(SoundRangeTest, TheSinkStopsTheReading) {
    int pieces = 0;
    const auto once = [&pieces](const uint8_t*, std::size_t) { return ++pieces < 1; };
    std::string error;
    EXPECT_EQ(ReadSoundRange({Fixture("tone_padded_2s.wav")}, Mono16, 0, -1, once, error),
              TRangeEnd::Stopped);
    EXPECT_EQ(pieces, 1);
    EXPECT_EQ(ReadSoundRange({Fixture("video_only.mp4")}, Mono16, 0, -1, once, error),
              TRangeEnd::Failed);
    EXPECT_FALSE(error.empty());
}

} // namespace
