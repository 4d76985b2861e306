// The loudness a lossy encoder takes away, tried on stretches of the sound, against the ffmpeg
// tool's own encode of the whole file measured by its ebur128 filter.
#include "engine/CodecLoss.h"
#include "engine/LoudnessMeter.h"
#include "ffbind/FFmpegLoader.h"
#include "ffbind/TempFolder.h"
#include "support/TestLibs.h"
#include "support/TestMedia.h"

#include <gtest/gtest.h>

namespace {

namespace fs = std::filesystem;

// The integrated loudness of a file by the tool's meter.
double ToolLufs(const fs::path& file) {
    const std::string log =
        RunCommand("ffmpeg -nostdin -hide_banner -i " + ShellQuote(file.string()) +
                   " -af ebur128 -f null - 2>&1 | grep ' I:' | tail -n 1");
    return std::stod(log.substr(log.find("I:") + 2));
}

// An unopened encoder for 48 kHz stereo at a bit rate.
CodecContextPtr Encoder(const char* name, int64_t bitRate) {
    const AVCodec* codec = ff::avcodec_find_encoder_by_name(name);
    CodecContextPtr encoder(codec ? ff::avcodec_alloc_context3(codec) : nullptr);
    if (!encoder)
        return nullptr;
    encoder->sample_rate = 48000;
    encoder->time_base = AVRational{1, 48000};
    ff::av_channel_layout_default(&encoder->ch_layout, 2);
    encoder->sample_fmt = codec->sample_fmts[0];
    encoder->bit_rate = bitRate;
    return encoder;
}

TEST(CodecLoss, TellsWhatTheEncoderTakesAsTheToolMeasuresIt) {
    EnsureLibsLoaded();
    TTempFolder folder;
    const struct {
        const char* Name;
        const char* Source; // 8 s of 48 kHz stereo
        const char* Codec;
        const char* Extension;
        int64_t BitRate;
    } cases[] = {
        // Much of pink noise's loudness lies above the low-pass.
        {"pink", "anoisesrc=c=pink:r=48000:a=0.1:d=8,pan=stereo|FL=c0|FR=c0", "libmp3lame", "mp3",
         128000},
        {"pink", "anoisesrc=c=pink:r=48000:a=0.1:d=8,pan=stereo|FL=c0|FR=c0", "aac", "m4a", 96000},
        {"white", "anoisesrc=c=white:r=48000:a=0.1:d=8,pan=stereo|FL=c0|FR=c0", "libmp3lame", "mp3",
         64000},
        // A tone far below it loses nothing.
        {"tone", "sine=f=1000:r=48000:d=8,pan=stereo|FL=c0|FR=c0", "libmp3lame", "mp3", 128000},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.Name) + " through " + c.Codec);
        const fs::path source = folder.Get() / (std::string(c.Name) + ".wav");
        if (!fs::exists(source))
            RunCommand("ffmpeg -v error -nostdin -f lavfi -i " + ShellQuote(c.Source) + " " +
                       ShellQuote(source.string()));
        const fs::path encoded = folder.Get() / (std::string(c.Name) + "." + c.Extension);
        RunCommand("ffmpeg -v error -nostdin -y -i " + ShellQuote(source.string()) + " -c:a " +
                   c.Codec + " -b:a " + std::to_string(c.BitRate) + " " +
                   ShellQuote(encoded.string()));
        const double toolLoss = ToolLufs(source) - ToolLufs(encoded);

        CodecContextPtr settings = Encoder(c.Codec, c.BitRate);
        ASSERT_NE(settings, nullptr);
        ASSERT_TRUE(TCodecLoss::IsLossy(settings->codec_id));
        TCodecLoss loss(*settings, nullptr);
        const TSoundFormat format{&settings->ch_layout, settings->sample_rate,
                                  settings->sample_fmt};
        ASSERT_TRUE(MeasureLoudness(source, "", 0, 0, 0, format, {},
                                    [&](const AVFrame& frame) { loss.Take(frame); }));
        const std::optional<double> measured = loss.LossLu();
        ASSERT_TRUE(measured);
        EXPECT_NEAR(*measured, toolLoss, 0.25) << "the tool's encode lost " << toolLoss << " LU";
    }
    for (const AVCodecID lossless : {AV_CODEC_ID_FLAC, AV_CODEC_ID_PCM_S16LE})
        EXPECT_FALSE(TCodecLoss::IsLossy(lossless));
}

} // namespace
