// Sound encoded in pieces on several threads against one encoder's: the same decoded length to
// the sample, no worse around the seams than one encoder against the source, no decoder
// complaint; pause, resume and stop in the middle of it.
#include "AudioCoreHarness.h"
#include "RunHarness.h"

#include "ffbind/MainThread.h"
#include "support/TestMedia.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>
#include <random>
#include <thread>

namespace {

#ifdef __SANITIZE_ADDRESS__
constexpr bool Instrumented = true;
#else
constexpr bool Instrumented = false;
#endif

// Three minutes in the optimised tree; the instrumented one takes a short sound in small pieces.
constexpr int FixtureSeconds = Instrumented ? 24 : 180;
constexpr int SegmentMs = Instrumented ? 4000 : 30000;
constexpr double SeamWindowS = 0.05;

// Music-like sound: two tones beating, a repeating sweep up to 8 kHz and noise bursts, every
// part crossing the seams (escaped commas: the filter graph would end the filter at them).
std::filesystem::path MakeMusic(const std::filesystem::path& folder, int seconds) {
    const auto file = folder / ("music_" + std::to_string(seconds) + ".wav");
    const std::string left = "0.2*sin(2*PI*440*t)+0.1*sin(2*PI*1250*t)*(1+sin(2*PI*0.3*t))"
                             "+0.15*sin(2*PI*(200*mod(t\\,10)+380*mod(t\\,10)^2))"
                             "+0.3*(random(0)-0.5)*lt(mod(t\\,2.5)\\,0.3)";
    const std::string right = "0.2*sin(2*PI*660*t)+0.15*sin(2*PI*(150*mod(t\\,7)+500*mod(t\\,7)^2))"
                              "+0.3*(random(1)-0.5)*lt(mod(t+1\\,2.5)\\,0.3)";
    int code = 0;
    RunCommand(
        "ffmpeg -v error -nostdin -y -f lavfi -i " +
            ShellQuote("aevalsrc=" + left + "|" + right + ":s=44100:d=" + std::to_string(seconds)) +
            " -c:a pcm_s16le " + ShellQuote(file.string()),
        &code);
    EXPECT_EQ(code, 0);
    return file;
}

// Interleaved float samples decoded by the ffmpeg tool at a given rate.
std::vector<float> Decode(const std::filesystem::path& file, int rateHz) {
    const std::string raw =
        RunCommand("ffmpeg -v error -nostdin -i " + ShellQuote(file.string()) + " -map 0:a:0 -ar " +
                   std::to_string(rateHz) + " -f f32le - 2>/dev/null");
    std::vector<float> samples(raw.size() / sizeof(float));
    std::memcpy(samples.data(), raw.data(), samples.size() * sizeof(float));
    return samples;
}

// The shift (in frames) that lines a decoded encode up with its source: the encoders without
// delay signalling in their container start late by their delay.
long LagOf(const std::vector<float>& decoded, const std::vector<float>& source, int rateHz) {
    constexpr long MaxLag = 3000;
    const long from = MaxLag + rateHz / 50, length = rateHz / 4;
    long best = 0;
    double bestScore = -1e300;
    for (long lag = -MaxLag; lag <= MaxLag; ++lag) {
        double score = 0;
        for (long i = from; i < from + length; ++i)
            score += decoded[2 * (i + lag)] * source[2 * i];
        if (score > bestScore) {
            bestScore = score;
            best = lag;
        }
    }
    return best;
}

// The energy in dB of the difference between two decoded sounds around a time (b shifted by
// lag frames), and of the first alone.
struct TDifference {
    double SignalDb, NoiseDb;
};
TDifference DifferenceAround(const std::vector<float>& a, const std::vector<float>& b, long lag,
                             double atS, int rateHz) {
    const long first = static_cast<long>((atS - SeamWindowS) * rateHz);
    const long last = static_cast<long>((atS + SeamWindowS) * rateHz);
    double signal = 1e-12, noise = 1e-12;
    for (long i = 2 * first; i < 2 * last; ++i) {
        const double wanted = a[static_cast<std::size_t>(i)];
        const double got = b[static_cast<std::size_t>(i + 2 * lag)];
        signal += wanted * wanted;
        noise += (got - wanted) * (got - wanted);
    }
    return {10 * std::log10(signal), 10 * std::log10(noise)};
}

// Signal-to-noise ratio in dB of a decoded encode against its source around a time.
double SnrDb(const std::vector<float>& decoded, const std::vector<float>& source, long lag,
             double atS, int rateHz) {
    const TDifference d = DifferenceAround(source, decoded, lag, atS, rateHz);
    return d.SignalDb - d.NoiseDb;
}

// Converts with the given number of pieces; tells whether the sound was encoded in pieces.
bool Convert(const std::filesystem::path& input, const std::filesystem::path& output,
             const TOptionList& codec, int pieces) {
    TLogCapture log;
    TEngineUnderTest run;
    run.OpenInputs({}, {input});
    TOptionList options = codec;
    options.insert(options.end(), {{"split", std::to_string(pieces)},
                                   {"split_segment_ms", std::to_string(SegmentMs)},
                                   {"split_min_ms", "0"}});
    run.CreateOutput(options, output);
    run.RunToEnd();
    EXPECT_FALSE(run.Engine->ErrorOccurred) << run.Engine->ErrorMessage;
    return log.Contains("encoding the sound in pieces");
}

std::string DecoderComplaints(const std::filesystem::path& file) {
    return RunCommand("ffmpeg -v error -nostdin -i " + ShellQuote(file.string()) +
                      " -f null - 2>&1");
}

struct TSplitCase {
    std::string Extension;
    TOptionList Codec;
    int RateHz;
    int FrameSamples; // the encoder's frame: seams fall on whole frames
    bool Splits;
};

void PrintTo(const TSplitCase& param, std::ostream* os) {
    *os << param.Extension;
}

class SplitEncodeTest : public testing::TestWithParam<TSplitCase> {
protected:
    static void SetUpTestSuite() {
        Folder = std::make_unique<TTempFolder>();
        Music = MakeMusic(Folder->Get(), FixtureSeconds);
    }
    static void TearDownTestSuite() { Folder.reset(); }
    static inline std::unique_ptr<TTempFolder> Folder;
    static inline std::filesystem::path Music;
};

TEST_P(SplitEncodeTest, JoinsSampleExactAndSeamless) {
    const TSplitCase& param = GetParam();
    const auto single = Folder->Get() / ("single." + param.Extension);
    const auto split = Folder->Get() / ("split." + param.Extension);
    EXPECT_FALSE(Convert(Music, single, param.Codec, 0));
    EXPECT_EQ(Convert(Music, split, param.Codec, 3), param.Splits);
    const auto singleSamples = Decode(single, param.RateHz);
    const auto splitSamples = Decode(split, param.RateHz);
    ASSERT_GT(singleSamples.size(), 0u);
    EXPECT_EQ(splitSamples.size(), singleSamples.size());
    EXPECT_EQ(DecoderComplaints(split), "");
    if (!param.Splits) {
        EXPECT_EQ(RunCommand("cmp -s " + ShellQuote(single.string()) + " " +
                             ShellQuote(split.string()) + " && echo same"),
                  "same\n");
        return;
    }
    const auto source = Decode(Music, param.RateHz);
    const long lag = LagOf(singleSamples, source, param.RateHz);
    const long segmentFrames = std::lround(SegmentMs / 1000.0 * param.RateHz / param.FrameSamples);
    const double segmentS = static_cast<double>(segmentFrames * param.FrameSamples) / param.RateHz;
    // The gate: around the seam the split encode differs from the single one no more than the
    // single one differs from the source (within 1 dB), checked every 100 ms over the second
    // after each boundary, where the mp3 join may be chosen. At the boundary itself, the split
    // encode is also within 1 dB of the single one's signal-to-noise ratio.
    for (double boundaryS = segmentS; boundaryS + 2 < FixtureSeconds; boundaryS += segmentS) {
        const double snrLossDb = SnrDb(singleSamples, source, lag, boundaryS, param.RateHz) -
                                 SnrDb(splitSamples, source, lag, boundaryS, param.RateHz);
        double worstApartDb = -1e9;
        for (double atS = boundaryS; atS < boundaryS + 1.0; atS += 2 * SeamWindowS) {
            const double apartDb =
                DifferenceAround(singleSamples, splitSamples, 0, atS + lag / double(param.RateHz),
                                 param.RateHz)
                    .NoiseDb -
                DifferenceAround(source, singleSamples, lag, atS, param.RateHz).NoiseDb;
            worstApartDb = std::max(worstApartDb, apartDb);
        }
        EXPECT_LE(snrLossDb, 1.0) << "seam at " << boundaryS << " s";
        EXPECT_LE(worstApartDb, 1.0) << "seam at " << boundaryS << " s";
        std::printf("%s seam %.0f s: SNR loss %.2f dB, split-from-single over single-from-source "
                    "at most %.2f dB\n",
                    param.Extension.c_str(), boundaryS, snrLossDb, worstApartDb);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Formats, SplitEncodeTest,
    testing::Values(TSplitCase{"mp3", {{"ab", "128k"}}, 44100, 1152, true},
                    TSplitCase{"m4a", {{"ab", "128k"}}, 44100, 1024, false},
                    TSplitCase{"ac3", {{"ab", "192k"}}, 44100, 1536, true},
                    TSplitCase{"mp2", {{"ab", "192k"}}, 44100, 1152, true},
                    TSplitCase{"wma", {{"ab", "128k"}}, 44100, 2048, true},
                    TSplitCase{"opus", {{"acodec", "libopus"}, {"ab", "96k"}}, 48000, 960, true},
                    TSplitCase{"flac", {}, 44100, 4608, false}));

TOptionList SmallPieces() {
    return {{"ab", "128k"}, {"split", "2"}, {"split_segment_ms", "500"}, {"split_min_ms", "0"}};
}

// Pause and resume change nothing in what the pieces make.
TEST(SplitEncodeRunTest, PauseAndResumeKeepTheSameStream) {
    TTempFolder folder;
    const auto music = MakeMusic(folder.Get(), 6);
    std::string streams[2];
    for (int paused = 0; paused < 2; ++paused) {
        TEngineUnderTest run;
        run.OpenInputs({}, {music});
        const auto output = folder / ("out" + std::to_string(paused) + ".mp3");
        run.CreateOutput(SmallPieces(), output);
        run.Start();
        if (paused) {
            run.Engine->Pause();
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
            CheckSynchronize();
            run.Engine->Resume();
        }
        run.WaitForEnd();
        EXPECT_TRUE(run.Engine->Finished);
        streams[paused] = RunCommand("ffmpeg -v error -nostdin -i " + ShellQuote(output.string()) +
                                     " -map 0:a -c copy -f md5 -");
    }
    EXPECT_EQ(streams[0], streams[1]);
}

// A run on the main thread (no worker of its own) in pieces ends; its waits for the pieces
// serve what their encoders hand over to the main thread (every library line at debug level).
TEST(SplitEncodeRunTest, RunOnTheMainThreadEnds) {
    TTempFolder folder;
    const auto music = MakeMusic(folder.Get(), 6);
    TLogCapture log;
    GetLogger()->SetLogLevel(llDebug);
    TEngineUnderTest run;
    run.OpenInputs({}, {music});
    run.CreateOutput(SmallPieces(), folder / "out.mp3");
    EXPECT_EQ(run.Engine->StartConvert(ctCallerThread, cpNormal), nullptr);
    EXPECT_TRUE(run.Engine->Finished) << run.Engine->ErrorMessage;
    EXPECT_EQ(run.Terminations, 1);
    EXPECT_TRUE(log.Contains("encoding the sound in pieces"));
}

// A stop while pieces encode keeps all the sound the path took, before the stop and after it
// (what the decoders still give out): as many packets as a run to the end, and a file that
// decodes to the whole length.
TEST(SplitEncodeRunTest, StopKeepsTheSoundReadBeforeIt) {
    constexpr int RateHz = 44100, ChunkSamples = 4410, Chunks = 100, StopAtChunk = 80;
    int packets[2] = {};
    double seconds[2] = {};
    for (int stopped = 0; stopped < 2; ++stopped) {
        std::atomic<bool> stop{false};
        const auto file = TempOutput("stop" + std::to_string(stopped) + ".mp3");
        TCoreOutputRequest request;
        request.BitRate = 128000;
        TCoreAudioOutput output(file, request, AV_SAMPLE_FMT_S16, RateHz, 2);
        output.Settings.StopRequested = &stop;
        output.Settings.Split.Pieces = 2;
        output.Settings.Split.SegmentMs = 1500;
        output.Settings.Split.ExpectedOutputMs = 10000;
        for (int i = 0; i < Chunks; ++i) {
            stop = stopped && i >= StopAtChunk;
            const FramePtr chunk = MakeToneChunk(AV_SAMPLE_FMT_S16, RateHz, 2, ChunkSamples,
                                                 int64_t{i} * ChunkSamples);
            output.Feed(*chunk, static_cast<double>(i) * ChunkSamples / RateHz);
        }
        output.Finish();
        packets[stopped] = output.PacketCount;
        seconds[stopped] = ProbeDuration(file);
    }
    EXPECT_GE(packets[0], Chunks * ChunkSamples / 1152);
    EXPECT_EQ(packets[1], packets[0]);
    EXPECT_NEAR(seconds[1], 10.0, 0.1);
}

// Stops at random moments of a run in pieces: every run ends once and leaves a stream a decoder
// reads without complaint, or no file.
TEST(SplitEncodeRunTest, RandomStopsEndCleanly) {
    TTempFolder folder;
    const auto music = MakeMusic(folder.Get(), 6);
    std::mt19937 random(20261208);
    for (int i = 0; i < 50; ++i) {
        TEngineUnderTest run;
        run.OpenInputs({}, {music});
        const auto output = folder / ("out" + std::to_string(i) + ".mp3");
        run.CreateOutput(SmallPieces(), output);
        run.Start();
        std::this_thread::sleep_for(std::chrono::milliseconds(random() % 150));
        if (random() % 2) {
            run.Engine->Pause();
            std::this_thread::sleep_for(std::chrono::milliseconds(random() % 20));
        }
        CheckSynchronize();
        run.Engine->Stop(random() % 2 == 0 ? swWaitForEnd : swNoWait);
        run.WaitForEnd();
        run.Engine.reset();
        ASSERT_EQ(run.Terminations, 1) << "run " << i;
        if (std::filesystem::exists(output)) {
            EXPECT_EQ(DecoderComplaints(output), "") << "run " << i;
        }
    }
}

} // namespace
