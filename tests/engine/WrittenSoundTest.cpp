// The read-back of a written file: the sound length from the packets, and with decoding, whether
// any sound comes out and how long a lone packet without a duration lasts. Lengths are checked
// against ffprobe's decoding of the same file.
#include "engine/WrittenSound.h"
#include "support/TestLibs.h"
#include "support/TestMedia.h"

#include <gtest/gtest.h>

TEST(WrittenSound, DecodingTellsWhatPacketsCannot) {
    EnsureLibsLoaded();
    const struct {
        const char* Fixture;
        TReadBack ReadBack;
        bool SoundDecoded;
    } cases[] = {{"wavpack_one_block.mka", rbDecodeSound, true},
                 {"wavpack_no_samples.mka", rbDecodeSound, false},
                 {"wavpack_no_samples.mka", rbPackets, true},
                 {"tone_1k_stereo.mp3", rbDecodeSound, true}};
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.Fixture) + (c.ReadBack == rbPackets ? " packets" : " decoded"));
        const TWrittenSound written = ReadWrittenSound(Fixture(c.Fixture), 0, c.ReadBack);
        EXPECT_EQ(written.OpenError, 0);
        EXPECT_EQ(written.SoundDecoded, c.SoundDecoded);
        if (c.SoundDecoded && c.ReadBack == rbDecodeSound)
            EXPECT_NEAR(written.LengthUs / 1e6, DecodeAudio(Fixture(c.Fixture)).DurationSeconds(),
                        0.06);
    }
}
