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
#include <fstream>
#include <iterator>
#include <random>
#include <thread>
#include <tuple>

namespace {

#ifdef __SANITIZE_ADDRESS__
constexpr bool Instrumented = true;
#else
constexpr bool Instrumented = false;
#endif

// Short sounds in small pieces, several seams each; fewer in the instrumented tree.
constexpr int FixtureSeconds = Instrumented ? 5 : 12;
constexpr int SegmentMs = 1500;

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
    const long length = rateHz / 4;
    // Where the source is loudest in its first seconds: silence lines up with anything.
    long from = MaxLag;
    double loudest = -1;
    for (long at = MaxLag; at + length + MaxLag < 3 * rateHz; at += length) {
        double energy = 0;
        for (long i = at; i < at + length; ++i)
            energy += source[2 * i] * source[2 * i];
        if (energy > loudest) {
            loudest = energy;
            from = at;
        }
    }
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

// Hard material for the seams, 44.1 kHz stereo: each a filter graph for the ffmpeg tool.
struct TMaterial {
    std::string Name;
    std::string Graph; // lavfi sources joined into "[out]"; DURATION stands for the seconds
};

const TMaterial Materials[] = {
    {"loud-noise", "anoisesrc=c=white:a=0.5:r=44100:seed=1:d=DURATION,"
                   "aformat=channel_layouts=stereo[out]"},
    {"quiet-noise", "anoisesrc=c=pink:a=0.03:r=44100:seed=2:d=DURATION,"
                    "aformat=channel_layouts=stereo[out]"},
    {"unrelated-channels", "anoisesrc=c=white:a=0.5:r=44100:seed=3:d=DURATION[l];"
                           "anoisesrc=c=pink:a=0.5:r=44100:seed=4:d=DURATION[r];"
                           "[l][r]join=inputs=2:channel_layout=stereo[out]"},
    {"sweep-under-tremolo",
     "anoisesrc=c=pink:a=0.1:r=44100:seed=5:d=DURATION[n];"
     "aevalsrc=0.3*sin(2*PI*(100*t+50*t*t))*(0.5+0.5*sin(2*PI*4*t))|"
     "0.3*sin(2*PI*(150*t+50*t*t))*(0.5+0.5*sin(2*PI*4*t+1)):s=44100:d=DURATION[s];"
     "[n][s]amix=inputs=2:normalize=0,aformat=channel_layouts=stereo[out]"},
    {"clicks", "aevalsrc=0.9*gt(mod(t\\,0.37)\\,0.3)*(random(0)-0.5)*2|"
               "0.9*gt(mod(t+0.1\\,0.23)\\,0.2)*sin(2*PI*3000*t):s=44100:d=DURATION[out]"},
    {"silence-to-full-scale",
     "aevalsrc=0.95*gt(mod(t\\,1.3)\\,0.9)*sin(2*PI*(440+1000*mod(t\\,1.3))*t)|"
     "0.95*gt(mod(t\\,1.3)\\,0.9)*(random(1)-0.5)*2:s=44100:d=DURATION[out]"},
};

void PrintTo(const TMaterial& material, std::ostream* os) {
    *os << material.Name;
}

std::filesystem::path MakeMaterial(const std::filesystem::path& folder, const TMaterial& material,
                                   int seconds) {
    const auto file = folder / (material.Name + ".wav");
    if (std::filesystem::exists(file))
        return file;
    std::string graph = material.Graph;
    for (std::size_t at; (at = graph.find("DURATION")) != std::string::npos;)
        graph.replace(at, 8, std::to_string(seconds));
    int code = 0;
    RunCommand("ffmpeg -v error -nostdin -y -filter_complex " + ShellQuote(graph) +
                   " -map '[out]' -c:a pcm_s16le " + ShellQuote(file.string()),
               &code);
    EXPECT_EQ(code, 0) << material.Name;
    return file;
}

// The mp3 frames of a file whose data overlaps the data of the frame before it: a frame whose
// back-reference (main_data_begin) reaches bytes another encoder's frame holds. Reads the frame
// header, the side information's back-reference and its part2_3_length fields.
int OverlappingMp3Frames(const std::filesystem::path& file) {
    std::ifstream stream(file, std::ios::binary);
    const std::vector<uint8_t> bytes{std::istreambuf_iterator<char>(stream), {}};
    std::size_t at = 0;
    if (bytes.size() > 10 && std::memcmp(bytes.data(), "ID3", 3) == 0)
        at = 10 + (std::size_t{bytes[6]} << 21 | std::size_t{bytes[7]} << 14 |
                   std::size_t{bytes[8]} << 7 | bytes[9]);
    constexpr int Kbps[] = {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320};
    constexpr int RatesHz[] = {44100, 48000, 32000};
    long stream_position = 0, dataEnd = 0;
    int overlapping = 0;
    for (; at + 40 <= bytes.size();) {
        const uint8_t* frame = bytes.data() + at;
        EXPECT_TRUE(frame[0] == 0xFF && (frame[1] & 0xFE) == 0xFA) << "MPEG-1 layer III frame";
        if (frame[0] != 0xFF || (frame[1] & 0xFE) != 0xFA)
            break;
        const bool mono = (frame[3] >> 6) == 3;
        const int size =
            144000 * Kbps[frame[2] >> 4] / RatesHz[(frame[2] >> 2) & 3] + ((frame[2] >> 1) & 1);
        const uint8_t* side = frame + 4;
        int bit = 0;
        const auto read = [&](int count) {
            long value = 0;
            for (; count > 0; --count, ++bit)
                value = (value << 1) | ((side[bit >> 3] >> (7 - (bit & 7))) & 1);
            return value;
        };
        const long borrowed = read(9);
        bit += mono ? 9 : 11;
        long dataBits = 0;
        for (int part = 0; part < (mono ? 2 : 4); ++part, bit += 47)
            dataBits += read(12);
        const long dataStart = stream_position - borrowed;
        overlapping += dataStart < dataEnd;
        dataEnd = dataStart + (dataBits + 7) / 8;
        stream_position += size - 4 - (mono ? 17 : 32);
        at += static_cast<std::size_t>(size);
    }
    return overlapping;
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
    for (const auto& [name, value] : param.Codec)
        *os << "_" << name << "_" << value;
}

class SplitEncodeTest : public testing::TestWithParam<std::tuple<TSplitCase, TMaterial>> {
protected:
    static void SetUpTestSuite() { Folder = std::make_unique<TTempFolder>(); }
    static void TearDownTestSuite() { Folder.reset(); }
    static inline std::unique_ptr<TTempFolder> Folder;
};

// The seam gate: around every seam, in every 10 ms window, the pieces' encode is no further from
// the source than one encoder's plus 3 dB of noise, and no sample of it exceeds one encoder's
// peak by more than 1 dB; the pieces decode to one encoder's length without a decoder's
// complaint, and no mp3 frame reads bytes of a frame before it.
TEST_P(SplitEncodeTest, SeamsHoldOnHardMaterial) {
    const auto& [param, material] = GetParam();
    const auto source = MakeMaterial(Folder->Get(), material, FixtureSeconds);
    const auto single = Folder->Get() / ("single." + param.Extension);
    const auto split = Folder->Get() / ("split." + param.Extension);
    std::filesystem::remove(single);
    std::filesystem::remove(split);
    EXPECT_FALSE(Convert(source, single, param.Codec, 0));
    EXPECT_EQ(Convert(source, split, param.Codec, 3), param.Splits);
    const auto singleSamples = Decode(single, param.RateHz);
    const auto splitSamples = Decode(split, param.RateHz);
    ASSERT_GT(singleSamples.size(), 0u);
    EXPECT_EQ(splitSamples.size(), singleSamples.size());
    EXPECT_EQ(DecoderComplaints(split), "");
    if (param.Extension == "mp3")
        EXPECT_EQ(OverlappingMp3Frames(split), 0);
    if (!param.Splits) {
        EXPECT_EQ(RunCommand("cmp -s " + ShellQuote(single.string()) + " " +
                             ShellQuote(split.string()) + " && echo same"),
                  "same\n");
        return;
    }
    const auto original = Decode(source, param.RateHz);
    const long lag = LagOf(singleSamples, original, param.RateHz);
    const long segmentFrames = std::lround(SegmentMs / 1000.0 * param.RateHz / param.FrameSamples);
    const long seamStep = segmentFrames * param.FrameSamples;
    const long window = param.RateHz / 100, reach = param.RateHz / 10;
    // Below -90 dBFS the difference is inaudible: silence stays comparable.
    const double floor = 1e-9 * 2 * static_cast<double>(window);
    double worstDb = -1e9;
    float singlePeak = 0;
    for (const float sample : singleSamples)
        singlePeak = std::max(singlePeak, std::fabs(sample));
    for (long seam = seamStep; seam + 2 * reach < static_cast<long>(original.size() / 2);
         seam += seamStep) {
        float splitPeak = 0;
        for (long from = seam - reach; from < seam + reach; from += window) {
            double singleNoise = floor, splitNoise = floor;
            for (long i = 2 * from; i < 2 * (from + window); ++i) {
                const std::size_t at = static_cast<std::size_t>(i + 2 * lag);
                const double wanted = original[static_cast<std::size_t>(i)];
                singleNoise += (singleSamples[at] - wanted) * (singleSamples[at] - wanted);
                splitNoise += (splitSamples[at] - wanted) * (splitSamples[at] - wanted);
                splitPeak = std::max(splitPeak, std::fabs(splitSamples[at]));
            }
            const double lossDb = 10 * std::log10(splitNoise / singleNoise);
            worstDb = std::max(worstDb, lossDb);
            EXPECT_LE(lossDb, 3.0) << "window at " << double(from) / param.RateHz << " s";
        }
        EXPECT_LE(20 * std::log10(splitPeak / singlePeak), 1.0)
            << "seam at " << double(seam) / param.RateHz << " s";
    }
    std::printf("%s %s: worst 10 ms window near a seam %.2f dB below one encoder's SNR\n",
                param.Extension.c_str(), material.Name.c_str(), worstDb);
}

// mp3 at 256 kb/s keeps one encoder: two frames raised to the top rate could not always hold
// what a frame borrows.
INSTANTIATE_TEST_SUITE_P(
    Formats, SplitEncodeTest,
    testing::Combine(
        testing::Values(TSplitCase{"mp3", {{"ab", "128k"}}, 44100, 1152, true},
                        TSplitCase{"mp3", {{"ab", "224k"}}, 44100, 1152, true},
                        TSplitCase{"mp3", {{"ab", "256k"}}, 44100, 1152, false},
                        TSplitCase{"ac3", {{"ab", "192k"}}, 44100, 1536, true},
                        TSplitCase{"mp2", {{"ab", "192k"}}, 44100, 1152, true},
                        TSplitCase{"wma", {{"ab", "128k"}}, 44100, 2048, true},
                        TSplitCase{
                            "opus", {{"acodec", "libopus"}, {"ab", "96k"}}, 48000, 960, true}),
        testing::ValuesIn(Materials)),
    [](const auto& info) {
        std::string name = std::get<0>(info.param).Extension + "_" +
                           std::get<0>(info.param).Codec.back().second + "_" +
                           std::get<1>(info.param).Name;
        std::replace(name.begin(), name.end(), '-', '_');
        return name;
    });

// Codecs that keep one encoder make the same file with pieces asked for.
INSTANTIATE_TEST_SUITE_P(
    OneEncoder, SplitEncodeTest,
    testing::Combine(testing::Values(TSplitCase{"m4a", {{"ab", "128k"}}, 44100, 1024, false},
                                     TSplitCase{"flac", {}, 44100, 4608, false}),
                     testing::Values(Materials[0])),
    [](const auto& info) { return std::get<0>(info.param).Extension; });

// WMA pieces are one encoder's packets (the encoder carries nothing across frames but its
// transform's overlap) wherever the sound ends: at a seam, within the post-roll after it or past
// it, so a frame a piece lost, doubled or took out of turn would show.
TEST(SplitEncodeRunTest, WmaPiecesAreOneEncodersPackets) {
    constexpr int FrameSamples = 2048, SeamFrame = 2 * 32; // pieces of 1500 ms: 32 frames
    const TOptionList codec = {{"ab", "128k"}};
    TTempFolder folder;
    for (const int framesPastSeam : {0, 2, 4, 9}) {
        const auto source = folder / "noise.wav";
        const auto one = folder / "one.wma";
        const auto split = folder / "split.wma";
        const int64_t samples = int64_t{SeamFrame + framesPastSeam} * FrameSamples;
        int code = 0;
        RunCommand(
            "ffmpeg -v error -nostdin -y -f lavfi -i anoisesrc=c=pink:a=0.3:r=44100:seed=7:d=4"
            " -af aformat=channel_layouts=stereo,atrim=end_sample=" +
                std::to_string(samples) + " -c:a pcm_s16le " + ShellQuote(source.string()),
            &code);
        ASSERT_EQ(code, 0);
        std::filesystem::remove(one);
        std::filesystem::remove(split);
        EXPECT_FALSE(Convert(source, one, codec, 0));
        EXPECT_TRUE(Convert(source, split, codec, 3));
        const auto packets = [](const std::filesystem::path& file) {
            return RunCommand("ffmpeg -v error -nostdin -i " + ShellQuote(file.string()) +
                              " -map 0:a -c copy -f md5 -");
        };
        EXPECT_EQ(packets(split), packets(one)) << framesPastSeam << " frames past the seam";
    }
}

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
