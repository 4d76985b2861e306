// The sound envelope against the ffmpeg tool's own peak levels (astats) over the same bins, the
// sound's bounds that "Trim Silence" uses, a scan stopped part-way and the refusals.
#include "ffbind/FFUtils.h"
#include "ffbind/TempFolder.h"
#include "probe/EnvelopeScan.h"
#include "support/TestLibs.h"
#include "support/TestMedia.h"

#include <gtest/gtest.h>

#include <cmath>
#include <sstream>

namespace {

constexpr int64_t OracleBinUs = 100000;

// The tool's peak level (dBFS) of each 0.1 s of a 44.1 kHz file.
std::vector<double> OraclePeaksDb(const std::filesystem::path& file) {
    const std::string text =
        RunCommand("ffmpeg -v error -nostdin -i " + ShellQuote(file.string()) +
                   " -af asetnsamples=n=4410:p=0,astats=metadata=1:reset=1,"
                   "ametadata=print:key=lavfi.astats.Overall.Peak_level:file=- -f null -");
    std::vector<double> peaks;
    std::istringstream lines(text);
    const std::string key = "lavfi.astats.Overall.Peak_level=";
    for (std::string line; std::getline(lines, line);) {
        if (line.rfind(key, 0) == 0)
            peaks.push_back(std::strtod(line.c_str() + key.size(), nullptr));
    }
    return peaks;
}

TSoundEnvelope Envelope(const std::string& fixture) {
    std::string error;
    const std::optional<TSoundEnvelope> envelope = ReadSoundEnvelope({Fixture(fixture)}, error);
    EXPECT_TRUE(envelope) << error;
    return envelope.value_or(TSoundEnvelope{});
}

class EnvelopeTest : public ::testing::Test {
protected:
    void SetUp() override { EnsureLibsLoaded(); }
};

// The same sound as PCM and through two lossy codecs, whose decoders drop their priming samples
// as the tool's do.
TEST_F(EnvelopeTest, PeaksMatchTheToolsPerBinPeakLevels) {
    for (const char* name : {"gap_burst_6s.wav", "gap_burst_6s.mp3", "gap_burst_6s.m4a"}) {
        SCOPED_TRACE(name);
        const TSoundEnvelope envelope = Envelope(name);
        const std::vector<double> oracle = OraclePeaksDb(Fixture(name));
        ASSERT_GE(oracle.size(), 60u);
        EXPECT_NEAR(double(envelope.Peaks.size()), 600.0, 5.0);
        for (std::size_t i = 0; i < 60; ++i) {
            const int64_t fromUs = static_cast<int64_t>(i) * OracleBinUs;
            const double ours = envelope.PeakDb(fromUs, fromUs + OracleBinUs);
            if (std::isinf(oracle[i]) || oracle[i] < -90)
                EXPECT_LT(ours, -90) << "bin " << i;
            else
                EXPECT_NEAR(ours, oracle[i], 1.0) << "bin " << i;
        }
        // The burst where it was made.
        EXPECT_NEAR(envelope.PeakDb(3500000, 4000000), -0.9, 0.5);
    }
}

TEST_F(EnvelopeTest, SoundBoundsAreTheFirstAndLastBinsAboveTheLevel) {
    const TSoundEnvelope envelope = Envelope("tone_padded_2s.wav");
    const std::optional<TSoundBounds> bounds = envelope.SoundAbove(TSoundEnvelope::SilenceDb);
    ASSERT_TRUE(bounds);
    EXPECT_EQ(bounds->StartUs, 2000000);
    EXPECT_NEAR(double(bounds->EndUs), 4000000.0, double(TSoundEnvelope::BinUs));
    // Nothing rises above full scale.
    EXPECT_FALSE(envelope.SoundAbove(0.5));
}

// Two halves scanned apart give the whole file's bins, each bin once.
TEST_F(EnvelopeTest, RangesStitchIntoTheWhole) {
    const TSoundEnvelope whole = Envelope("gap_burst_6s.wav");
    TSoundEnvelope halves;
    halves.Peaks.assign(whole.Peaks.size(), -1.0f);
    const std::atomic<bool> never{false};
    std::string error;
    for (const TScanRange range : {TScanRange{0, 3000000}, TScanRange{3000000}}) {
        const auto keep = [&](std::size_t first, std::vector<float> peaks) {
            for (std::size_t i = 0; i < peaks.size(); ++i) {
                ASSERT_LT(first + i, halves.Peaks.size());
                EXPECT_EQ(halves.Peaks[first + i], -1.0f) << "bin " << first + i << " twice";
                halves.Peaks[first + i] = peaks[i];
            }
        };
        ASSERT_EQ(ScanSoundEnvelope({Fixture("gap_burst_6s.wav")}, range, never, keep, error),
                  TScanEnd::Complete)
            << error;
    }
    EXPECT_EQ(halves.Peaks, whole.Peaks);
}

// A long sound's bounds come from its first and last minute when the sound starts and ends
// there, and from the whole scan otherwise; both as the whole envelope gives them and where the
// tool made the tone (within a bin; the mp3 encoder spreads its edges over some 50 ms).
TEST_F(EnvelopeTest, LongSoundsAreBoundedFromTheirEdges) {
    struct {
        const char* Extension;
        double FromS, ToS; // the tone; 0 and 0: silence alone
        int ToleranceBins;
    } cases[] = {
        {"wav", 2, 197, 1},
        {"mp3", 2, 197, 6},
        {"wav", 70, 170, 1},
        {"wav", 0, 0, 0},
    };
    TTempFolder folder;
    for (const auto& c : cases) {
        const std::filesystem::path file =
            folder / FormatText("tone_%g_%g.%s", c.FromS, c.ToS, c.Extension);
        RunCommand(
            FormatText("ffmpeg -v error -nostdin -f lavfi -i "
                       "\"aevalsrc='if(between(t,%g,%g),0.5*sin(2*PI*440*t),0)':s=8000:d=200\" "
                       "%s",
                       c.FromS, c.ToS, ShellQuote(file.string()).c_str()));
        SCOPED_TRACE(file.filename().string());
        std::string error;
        const std::optional<TSoundBounds> bounds =
            ReadSoundBounds({file}, 200000000, TSoundEnvelope::SilenceDb, error);
        EXPECT_EQ(error, "");
        const std::optional<TSoundEnvelope> whole = ReadSoundEnvelope({file}, error);
        ASSERT_TRUE(whole) << error;
        const std::optional<TSoundBounds> wholeBounds =
            whole->SoundAbove(TSoundEnvelope::SilenceDb);
        ASSERT_EQ(bool(bounds), c.ToS > 0);
        ASSERT_EQ(bool(wholeBounds), c.ToS > 0);
        if (!bounds)
            continue;
        EXPECT_EQ(bounds->StartUs, wholeBounds->StartUs);
        EXPECT_EQ(bounds->EndUs, wholeBounds->EndUs);
        const double tolerance = c.ToleranceBins * double(TSoundEnvelope::BinUs);
        EXPECT_NEAR(double(bounds->StartUs), c.FromS * 1e6, tolerance);
        EXPECT_NEAR(double(bounds->EndUs), c.ToS * 1e6, tolerance);
    }
}

// Of two tracks whose sound lies in different places, the reader takes the one asked for, and
// without a choice the default-flagged one (the second here), as a conversion does; a stream
// that is not a sound stream reads as no choice.
TEST_F(EnvelopeTest, TheBoundsAreThoseOfTheStreamRead) {
    TTempFolder folder;
    const std::filesystem::path file = folder / "two_tracks.mkv";
    RunCommand("ffmpeg -v error -nostdin -f lavfi -i sine=f=440:d=1:sample_rate=8000 -f lavfi -i "
               "sine=f=880:d=1:sample_rate=8000,adelay=2000 -map 0 -map 1 -c:a flac "
               "-disposition:a:0 0 -disposition:a:1 default " +
               ShellQuote(file.string()));
    const struct {
        int Stream;
        double FromS;
    } cases[] = {{-1, 2}, {0, 0}, {1, 2}, {7, 2}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Stream);
        std::string error;
        const std::optional<TSoundBounds> bounds =
            ReadSoundBounds({file, "", c.Stream}, 3000000, TSoundEnvelope::SilenceDb, error);
        ASSERT_TRUE(bounds) << error;
        EXPECT_NEAR(double(bounds->StartUs), c.FromS * 1e6, double(TSoundEnvelope::BinUs));
        EXPECT_NEAR(double(bounds->EndUs), (c.FromS + 1) * 1e6, double(TSoundEnvelope::BinUs));
    }
}

TEST_F(EnvelopeTest, ACancelledScanStopsAtItsNextPiece) {
    std::atomic<bool> cancel{false};
    std::size_t batches = 0;
    const auto stopAfterOne = [&](std::size_t, std::vector<float>) {
        ++batches;
        cancel = true;
    };
    std::string error;
    EXPECT_EQ(ScanSoundEnvelope({Fixture("gap_burst_6s.wav")}, {}, cancel, stopAfterOne, error),
              TScanEnd::Cancelled);
    EXPECT_EQ(batches, 1u);
}

// A damaged file's time stamps may leap far ahead: the scan ends there rather than asking for
// the memory of every bin in between.
TEST_F(EnvelopeTest, ATimeStampLeapFarAheadEndsTheScan) {
    const TSoundEnvelope envelope = Envelope("jump_100h.mkv");
    // The second before the leap (to the end of the piece that crosses it), at the tone's level.
    EXPECT_NEAR(double(envelope.Peaks.size()), 100.0, 5.0);
    EXPECT_NEAR(envelope.PeakDb(0, 1000000), -18.06, 0.1);
}

TEST_F(EnvelopeTest, FilesWithoutSoundAreRefused) {
    for (const char* name : {"video_only.mp4", "random.bin", "empty.mp3"}) {
        std::string error;
        EXPECT_FALSE(ReadSoundEnvelope({Fixture(name)}, error)) << name;
        EXPECT_FALSE(error.empty()) << name;
    }
}

} // namespace
