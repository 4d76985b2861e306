// The audio output path on its own: real encoders and muxers around it, outputs judged by
// ffprobe and by the samples the ffmpeg tool decodes from them.
#include "AudioCoreHarness.h"

#include "engine/FFmpeg.h"
#include "engine/OutputAudioSetup.h"
#include "ffbind/FFmpegLogger.h"
#include "support/TestLibs.h"
#include "support/TestMedia.h"

#include <cmath>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace {

constexpr double ToneRms = 0.5 / M_SQRT2; // a sine of amplitude 0.5

// Encoder lists decide format, rate and layout before opening.
TEST(AudioEncoderSetupTest, ChoosesValuesTheEncoderAccepts) {
    EnsureLibsLoaded();
    struct TCase {
        const char* Codec;
        AVSampleFormat Preferred;
        int RateHz;
        int Channels;
        AVSampleFormat ExpectedFormat;
        int ExpectedRateHz;
        int ExpectedChannels;
    };
    const TCase cases[] = {
        {"libmp3lame", AV_SAMPLE_FMT_S16, 44100, 2, AV_SAMPLE_FMT_S16P, 44100, 2},
        {"libmp3lame", AV_SAMPLE_FMT_FLTP, 48000, 6, AV_SAMPLE_FMT_FLTP, 48000, 2},
        {"mp2", AV_SAMPLE_FMT_FLTP, 11025, 1, AV_SAMPLE_FMT_S16, 16000, 1},
        {"ac3", AV_SAMPLE_FMT_S16, 22050, 6, AV_SAMPLE_FMT_FLTP, 32000, 6},
        {"flac", AV_SAMPLE_FMT_FLTP, 44100, 2, AV_SAMPLE_FMT_S16, 44100, 2},
        {"pcm_s16le", AV_SAMPLE_FMT_FLTP, 8000, 1, AV_SAMPLE_FMT_S16, 8000, 1},
    };
    for (const TCase& c : cases) {
        const AVCodec* codec = ff::avcodec_find_encoder_by_name(c.Codec);
        ASSERT_NE(codec, nullptr) << c.Codec;
        CodecContextPtr encoder(ff::avcodec_alloc_context3(codec));
        encoder->sample_rate = c.RateHz;
        encoder->ch_layout.order = AV_CHANNEL_ORDER_UNSPEC;
        encoder->ch_layout.nb_channels = c.Channels;
        PrepareAudioEncoder(encoder.get(), codec, c.Preferred);
        EXPECT_EQ(encoder->sample_fmt, c.ExpectedFormat) << c.Codec;
        EXPECT_EQ(encoder->sample_rate, c.ExpectedRateHz) << c.Codec;
        EXPECT_EQ(encoder->ch_layout.nb_channels, c.ExpectedChannels) << c.Codec;
        EXPECT_EQ(encoder->time_base.den, c.ExpectedRateHz) << c.Codec;
        // What was chosen opens.
        EXPECT_GE(ff::avcodec_open2(encoder.get(), codec, nullptr), 0) << c.Codec;
    }
}

// ---- Framing and the end of input, with made-up tones --------------------------------------

// Feeds total samples of a 44.1 kHz stereo tone in chunks with a continuous clock.
void FeedTone(TCoreAudioOutput& out, AVSampleFormat format, int total, int chunkSamples,
              int64_t firstSample = 0, double clockOffsetS = 0, double clockRate = 1.0) {
    for (int done = 0; done < total; done += chunkSamples) {
        const int samples = std::min(chunkSamples, total - done);
        FramePtr chunk = MakeToneChunk(format, 44100, 2, samples, firstSample + done);
        out.Feed(*chunk, clockOffsetS + (firstSample + done) / 44100.0 * clockRate);
    }
}

int DecodedSamples(const std::filesystem::path& file) {
    const TDecodedAudio audio = DecodeAudio(file);
    return audio.Channels ? static_cast<int>(audio.Samples.size() / audio.Channels) : 0;
}

// Frames of the encoder's size are cut from the fifo and the clock grows by one frame each;
// the rest goes out at the end as a short frame (mp3) or a padded whole one (mp2).
TEST(AudioCoreFramingTest, CutsEncoderFramesAndCountsTheClockInSamples) {
    const auto mp3 = TempOutput("frames.mp3");
    TCoreAudioOutput out(mp3, {}, AV_SAMPLE_FMT_S16, 44100, 2);
    ASSERT_EQ(out.Encoder()->frame_size, 1152);
    FeedTone(out, AV_SAMPLE_FMT_S16, 5000, 1000);
    EXPECT_EQ(out.SyncOpts, 4 * 1152); // 5000 samples make four whole frames
    out.Finish();
    EXPECT_EQ(out.SyncOpts, 5000);

    const auto mp2 = TempOutput("frames.mp2");
    TCoreAudioOutput padded(mp2, {}, AV_SAMPLE_FMT_S16, 44100, 2);
    FeedTone(padded, AV_SAMPLE_FMT_S16, 5000, 1000);
    padded.Finish();
    EXPECT_EQ(padded.SyncOpts, 5 * 1152);
}

// An encoder without short-last-frame support gets the rest padded with silence to a whole
// frame; one with it gets a short frame; a sample-based one encodes each chunk at once.
TEST(AudioCoreFramingTest, EndsWithPaddedShortOrWholeChunks) {
    const auto mp2 = TempOutput("end.mp2");
    {
        TCoreAudioOutput out(mp2, {}, AV_SAMPLE_FMT_S16, 44100, 2);
        FeedTone(out, AV_SAMPLE_FMT_S16, 10000, 1000);
        out.Finish();
        EXPECT_EQ(out.PacketCount, 9); // ceil(10000 / 1152)
    }
    EXPECT_EQ(DecodedSamples(mp2), 9 * 1152);

    const auto flac = TempOutput("end.flac");
    {
        TCoreAudioOutput out(flac, {}, AV_SAMPLE_FMT_S16, 44100, 2);
        FeedTone(out, AV_SAMPLE_FMT_S16, 10000, 1000);
        out.Finish();
    }
    EXPECT_EQ(DecodedSamples(flac), 10000);

    const auto wav = TempOutput("end.wav");
    {
        TCoreAudioOutput out(wav, {}, AV_SAMPLE_FMT_FLTP, 44100, 2);
        FeedTone(out, AV_SAMPLE_FMT_FLTP, 10000, 1000);
        EXPECT_EQ(out.PacketCount, 10);
        EXPECT_EQ(out.SyncOpts, 10000);
        out.Finish();
        EXPECT_EQ(out.PacketCount, 10);
    }
    EXPECT_EQ(DecodedSamples(wav), 10000);
    EXPECT_NEAR(DecodeAudio(wav).Rms(), ToneRms, 0.01);
}

// Chunks after the end of input are ignored instead of reaching a drained encoder.
TEST(AudioCoreFramingTest, IgnoresChunksAfterTheEnd) {
    const auto file = TempOutput("late.wav");
    TCoreAudioOutput out(file, {}, AV_SAMPLE_FMT_S16, 44100, 2);
    FeedTone(out, AV_SAMPLE_FMT_S16, 1000, 1000);
    out.Finish();
    FramePtr chunk = MakeToneChunk(AV_SAMPLE_FMT_S16, 44100, 2, 1000, 1000);
    EXPECT_NO_THROW(out.Feed(*chunk, 1000 / 44100.0));
    EXPECT_EQ(DecodedSamples(file), 1000);
}

// ---- Keeping in step with the input clock --------------------------------------------------

struct TSyncRun {
    int Method;
    double FirstStartS;  // input time of the first part
    int FirstSamples;    // samples of the first part
    double SecondStartS; // input time of the second part (its tone continues the first)
    int SecondSamples;
};

TDecodedAudio RunSync(const TSyncRun& run, const std::string& name) {
    const auto file = TempOutput(name + ".wav");
    TCoreAudioOutput out(file, {}, AV_SAMPLE_FMT_FLTP, 44100, 2);
    out.Settings.AudioSyncMethod = run.Method;
    FeedTone(out, AV_SAMPLE_FMT_FLTP, run.FirstSamples, 1024, 0, run.FirstStartS);
    FeedTone(out, AV_SAMPLE_FMT_FLTP, run.SecondSamples, 1024, run.FirstSamples,
             run.SecondStartS - run.FirstSamples / 44100.0);
    out.Finish();
    return DecodeAudio(file);
}

// With sync method 1 a late start gets silence in front, a gap is filled with silence and
// sound that overlaps what was written is dropped.
TEST(AudioCoreSyncTest, MethodOneInsertsSilenceAndDropsOverlaps) {
    const TDecodedAudio late = RunSync({1, 0.2, 44100, 1.0 + 0.2, 44100}, "late");
    EXPECT_NEAR(late.DurationSeconds(), 2.2, 0.01);
    EXPECT_LT(late.Rms(-1, 0.0, 0.19), 0.001);
    EXPECT_NEAR(late.Rms(-1, 0.21, 2.19), ToneRms, 0.01);

    const TDecodedAudio gap = RunSync({1, 0.0, 44100, 1.5, 44100}, "gap");
    EXPECT_NEAR(gap.DurationSeconds(), 2.5, 0.01);
    EXPECT_NEAR(gap.Rms(-1, 0.0, 0.99), ToneRms, 0.01);
    EXPECT_LT(gap.Rms(-1, 1.01, 1.49), 0.001);
    EXPECT_NEAR(gap.Rms(-1, 1.51, 2.49), ToneRms, 0.01);

    const TDecodedAudio overlap = RunSync({1, 0.0, 44100, 0.5, 44100}, "overlap");
    EXPECT_NEAR(overlap.DurationSeconds(), 1.5, 0.01);
    EXPECT_NEAR(overlap.Rms(-1, 0.0, 1.49), ToneRms, 0.02);
}

// With sync method 0 the clock follows the input and nothing is added or dropped.
TEST(AudioCoreSyncTest, MethodZeroNeitherAddsNorDrops) {
    for (const TSyncRun& run :
         {TSyncRun{0, 0.2, 44100, 1.2, 44100}, TSyncRun{0, 0.0, 44100, 1.5, 44100},
          TSyncRun{0, 0.0, 44100, 0.5, 44100}}) {
        const TDecodedAudio audio = RunSync(run, "zero");
        EXPECT_EQ(audio.Samples.size() / 2, 88200u);
        EXPECT_NEAR(audio.Rms(), ToneRms, 0.01);
    }
}

// With method 1 the first correction is made at any size above 50 samples; after it, drift
// below the threshold (0.1 s) is left alone.
TEST(AudioCoreSyncTest, SmallDriftIsToleratedAfterTheFirstCorrection) {
    const TDecodedAudio start = RunSync({1, 0.01, 44100, 1.01 + 0.05, 44100}, "start");
    EXPECT_EQ(start.Samples.size() / 2, 88200u + 441u);
    const TDecodedAudio uncorrected = RunSync({1, 0.0, 44100, 1.05, 44100}, "uncorrected");
    EXPECT_EQ(uncorrected.Samples.size() / 2, 88200u + 2205u);
    const TDecodedAudio tiny = RunSync({1, 0.001, 44100, 1.001, 44100}, "tiny");
    EXPECT_EQ(tiny.Samples.size() / 2, 88200u);
}

// Above 1 the resampler stretches the sound towards the input clock, a little each second.
TEST(AudioCoreSyncTest, MethodAboveOneStretchesTowardsTheClock) {
    const auto file = TempOutput("stretch.wav");
    TCoreAudioOutput out(file, {}, AV_SAMPLE_FMT_FLTP, 44100, 2);
    out.Settings.AudioSyncMethod = 400;
    // The input clock runs 0.2 % fast: 5 s of samples span 5.01 s.
    FeedTone(out, AV_SAMPLE_FMT_FLTP, 5 * 44100, 1024, 0, 0, 1.002);
    out.Finish();
    const int samples = DecodedSamples(file);
    EXPECT_GT(samples, 5 * 44100 + 200);
    EXPECT_LT(samples, 5 * 44100 + 441 + 100);
}

// Corrections are logged with their texts when Verbose is above 2.
TEST(AudioCoreSyncTest, LogsCorrectionsAtHighVerbosity) {
    EnsureLibsLoaded();
    std::vector<std::string> lines;
    GetLogger()->SetOnLog(
        [&](const void*, unsigned, TLogLevel, const std::string& line) { lines.push_back(line); });
    const auto file = TempOutput("logged.wav");
    {
        TCoreAudioOutput out(file, {}, AV_SAMPLE_FMT_FLTP, 44100, 2);
        out.Settings.AudioSyncMethod = 1;
        out.Settings.Verbose = 3;
        FeedTone(out, AV_SAMPLE_FMT_FLTP, 44100, 1024, 0, 0.2);
        FeedTone(out, AV_SAMPLE_FMT_FLTP, 4410, 1024, 44100, -0.5);
        out.Finish();
    }
    GetLogger()->SetOnLog(nullptr);
    auto has = [&](const std::string& text) {
        return std::find(lines.begin(), lines.end(), text) != lines.end();
    };
    EXPECT_TRUE(has("adding 8820 audio samples of silence"));
    EXPECT_TRUE(has("discarding 30870 audio samples"));
}

// A sound the resampler cannot take ends the run with the resampler text.
TEST(AudioCoreErrorTest, RefusesSoundTheResamplerCannotTake) {
    const auto file = TempOutput("bad.wav");
    TCoreAudioOutput out(file, {}, AV_SAMPLE_FMT_S16, 44100, 2);
    FramePtr chunk = MakeToneChunk(AV_SAMPLE_FMT_S16, 44100, 2, 100, 0);
    chunk->sample_rate = 0;
    try {
        out.Feed(*chunk, 0);
        FAIL() << "no exception";
    } catch (const FFmpegException& error) {
        EXPECT_STREQ(error.what(), "Can not resample 2 channels @ 0 Hz to 2 channels @ 44100 Hz");
    }
}

} // namespace
