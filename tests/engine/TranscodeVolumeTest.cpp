// The volume change of decoded sound in its own sample format: the fixed-point formula of
// 16-bit samples with rounding and clamping, the same factor for 32-bit, floating-point and
// planar formats, and the change heard in a converted file.
#include "RunHarness.h"

#include "engine/AudioVolume.h"
#include "engine/LoudnessMeter.h"
#include "support/TestLibs.h"
#include "support/TestMedia.h"

#include <cstdint>
#include <limits>
#include <vector>

namespace {

template <typename T>
std::vector<T> Scaled(std::vector<T> samples, AVSampleFormat format, int volume) {
    ApplyAudioVolume(reinterpret_cast<uint8_t*>(samples.data()), static_cast<int>(samples.size()),
                     format, volume);
    return samples;
}

// Loudness normalisation's gain: to the target, less where the true peak would pass the
// ceiling (-1 dBTP, -1.5 for lossy codecs), none for silence; the volume step is rounded down
// so the ceiling holds.
TEST(TranscodeVolumeTest, LoudnessGainToTargetUnderTheCeiling) {
    struct TCase {
        double InputLufs, TruePeakDbtp, CeilingDbtp, GainDb;
    };
    for (const TCase& c :
         {TCase{-30, -20, -1, 14}, TCase{-30, -3, -1, 2}, TCase{-10, -1, -1, -6},
          TCase{-30, -3, -1.5, 1.5}, TCase{-70, -90, -1, 0}, TCase{-200, -200, -1, 0}}) {
        const TLoudnessGain gain =
            LoudnessGainFor({c.InputLufs, c.TruePeakDbtp}, -16, c.CeilingDbtp);
        EXPECT_NEAR(gain.GainDb, c.GainDb, 0.04) << c.InputLufs << " " << c.TruePeakDbtp;
        EXPECT_LE(gain.GainDb, c.GainDb);
        EXPECT_DOUBLE_EQ(gain.OutputLufs, c.InputLufs + gain.GainDb);
        EXPECT_LE(gain.OutputTruePeakDbtp, c.CeilingDbtp);
    }
}

TEST(TranscodeVolumeTest, Signed16RoundsAndClamps) {
    const std::vector<int16_t> samples = {0, 1, -1, 3, -3, 1000, -1000, 20000, -20000, 32767};
    EXPECT_EQ(Scaled(samples, AV_SAMPLE_FMT_S16, 256), samples);
    EXPECT_EQ(Scaled(samples, AV_SAMPLE_FMT_S16, 512),
              (std::vector<int16_t>{0, 2, -2, 6, -6, 2000, -2000, 32767, -32768, 32767}));
    EXPECT_EQ(Scaled(samples, AV_SAMPLE_FMT_S16, 0), std::vector<int16_t>(samples.size(), 0));
    // (v x 128 + 128) >> 8: halves, rounding halves up (arithmetic shift).
    EXPECT_EQ(Scaled(samples, AV_SAMPLE_FMT_S16, 128),
              (std::vector<int16_t>{0, 1, 0, 2, -1, 500, -500, 10000, -10000, 16384}));
}

TEST(TranscodeVolumeTest, Signed32UsesTheWholeRange) {
    constexpr int32_t big = 1 << 30;
    const std::vector<int32_t> samples = {big, -big, 100000, std::numeric_limits<int32_t>::max()};
    EXPECT_EQ(Scaled(samples, AV_SAMPLE_FMT_S32, 512),
              (std::vector<int32_t>{std::numeric_limits<int32_t>::max(),
                                    std::numeric_limits<int32_t>::min(), 200000,
                                    std::numeric_limits<int32_t>::max()}));
    // Not treated as pairs of 16-bit samples: a value with only high bits set keeps them.
    EXPECT_EQ(Scaled(samples, AV_SAMPLE_FMT_S32P, 128)[0], big / 2);
}

TEST(TranscodeVolumeTest, FloatScalesAndClampsToFullScale) {
    const std::vector<float> samples = {0.25f, -0.25f, 0.75f, -0.75f};
    EXPECT_EQ(Scaled(samples, AV_SAMPLE_FMT_FLT, 512),
              (std::vector<float>{0.5f, -0.5f, 1.0f, -1.0f}));
    EXPECT_EQ(Scaled(samples, AV_SAMPLE_FMT_FLT, 64),
              (std::vector<float>{0.0625f, -0.0625f, 0.1875f, -0.1875f}));
    const std::vector<double> doubles = {0.5, -0.5};
    EXPECT_EQ(Scaled(doubles, AV_SAMPLE_FMT_DBL, 384), (std::vector<double>{0.75, -0.75}));
}

TEST(TranscodeVolumeTest, PlanarFloatFrameChangesEveryChannel) {
    EnsureLibsLoaded();
    FramePtr frame(ff::av_frame_alloc());
    frame->format = AV_SAMPLE_FMT_FLTP;
    frame->nb_samples = 4;
    frame->ch_layout = AV_CHANNEL_LAYOUT_STEREO;
    ASSERT_EQ(ff::av_frame_get_buffer(frame.get(), 0), 0);
    for (int channel = 0; channel < 2; ++channel)
        for (int i = 0; i < 4; ++i)
            reinterpret_cast<float*>(frame->extended_data[channel])[i] = 0.1f * (i + 1);
    ApplyAudioVolume(*frame, 768);
    for (int channel = 0; channel < 2; ++channel) {
        const float* plane = reinterpret_cast<const float*>(frame->extended_data[channel]);
        EXPECT_FLOAT_EQ(plane[0], 0.3f);
        EXPECT_FLOAT_EQ(plane[2], 0.9f);
        EXPECT_FLOAT_EQ(plane[3], 1.0f); // 1.2 clamped
    }
}

// A decoded mp3 (planar float) converted to wav with twice the volume is twice as loud.
TEST(TranscodeVolumeTest, ConvertedSoundIsLouderByTheFactor) {
    TTempFolder folder;
    const auto input = Fixture("tone_1k_stereo.mp3");
    TEngineUnderTest run;
    run.OpenInputs({}, {input});
    run.CreateOutput({{"acodec", "pcm_s16le"}, {"vol", "512"}}, folder / "louder.wav");
    run.RunToEnd();
    ASSERT_TRUE(run.Engine->Finished) << run.Engine->ErrorMessage;
    const TDecodedAudio original = DecodeAudio(input);
    const TDecodedAudio louder = DecodeAudio(folder / "louder.wav");
    ASSERT_GT(original.Rms(0, 0.5, 3.5), 0.01);
    EXPECT_NEAR(louder.Rms(0, 0.5, 3.5) / original.Rms(0, 0.5, 3.5), 2.0, 0.05);
    EXPECT_NEAR(louder.Rms(1, 0.5, 3.5) / original.Rms(1, 0.5, 3.5), 2.0, 0.05);
}

} // namespace
