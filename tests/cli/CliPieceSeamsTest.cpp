// The seams of pieces cut from one file (cue tracks, chapters) through soundpick-cli, on noise
// and a tone under tremolo: each piece decoded by the ffmpeg tool holds exactly the samples of
// the full decode of its input between its two boundaries (lossless outputs), or decodes to
// exactly that many samples (lossy outputs, by their gapless signalling). Boundaries are cue
// frames and millisecond chapter times that fall between samples at 32 and 44.1 kHz, and
// Matroska's millisecond time stamps.
#include "cli/CliProcess.h"
#include "component/ComponentHarness.h"
#include "support/TestMedia.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <fstream>

namespace fs = std::filesystem;

namespace {

enum class TCut { CueSheet, Chapters };
// Lossless pieces hold the full decode's samples; mp3 pieces decode to their length; MPEG-4
// pieces declare it, in the edit list and in iTunSMPB (the ffmpeg tool decodes their padding).
enum class TCheck { SameSamples, DecodedLength, DeclaredLength };

struct TPieceCase {
    const char* Name;
    int RateHz;
    const char* SourceCodec; // the ffmpeg tool's options encoding the input
    const char* SourceExtension;
    TCut Cut;
    const char* Format; // of the pieces
    TCheck Check;
};

// Cue frames 76 and 152 lie a third of a sample off the grid at 32 kHz; chapters at 1005 and
// 2343 ms lie half a sample and 0.3 of one off it at 44.1 kHz.
constexpr int64_t CueFrames[] = {0, 76, 152};
constexpr const char* CueIndexes[] = {"00:00:00", "00:01:01", "00:02:02"};
constexpr int64_t ChapterMs[] = {0, 1005, 2343};
constexpr const char* Titles[] = {"One", "Two", "Three"};
constexpr const char* PieceNames[] = {"01 One", "02 Two", "03 Three"};

// The sample a boundary falls on: the nearest, halves rounded up.
int64_t BoundarySample(TCut cut, std::size_t index, int rateHz) {
    const int64_t numerator =
        cut == TCut::CueSheet ? CueFrames[index] * rateHz * 2 : ChapterMs[index] * rateHz * 2;
    const int64_t denominator = cut == TCut::CueSheet ? 75 * 2 : 1000 * 2;
    return (numerator + denominator / 2) / denominator;
}

std::string CueSheetOf(const std::string& audioFile) {
    std::string sheet = "TITLE \"Seams\"\nFILE \"" + audioFile + "\" WAVE\n";
    for (std::size_t i = 0; i < std::size(CueFrames); ++i)
        sheet += "  TRACK 0" + std::to_string(i + 1) + " AUDIO\n    TITLE \"" + Titles[i] +
                 "\"\n    INDEX 01 " + CueIndexes[i] + "\n";
    return sheet;
}

std::string ChapterMetadata() {
    std::string text = ";FFMETADATA1\n";
    for (std::size_t i = 0; i < std::size(ChapterMs); ++i)
        text += "[CHAPTER]\nTIMEBASE=1/1000\nSTART=" + std::to_string(ChapterMs[i]) +
                "\nEND=" + std::to_string(i + 1 < std::size(ChapterMs) ? ChapterMs[i + 1] : 3000) +
                "\ntitle=" + Titles[i] + "\n";
    return text;
}

// A sample as a 16-bit output holds it.
float As16Bit(float sample) {
    return static_cast<float>(std::clamp(std::lrint(sample * 32768.0), -32768L, 32767L)) / 32768.0f;
}

const TPieceCase Cases[] = {
    {"cue_mp3_32k", 32000, "libmp3lame -b:a 128k", "mp3", TCut::CueSheet, "flac",
     TCheck::SameSamples},
    {"cue_mp3_44k", 44100, "libmp3lame -b:a 96k", "mp3", TCut::CueSheet, "wav",
     TCheck::SameSamples},
    {"cue_flac_32k", 32000, "flac -sample_fmt s16", "flac", TCut::CueSheet, "wav",
     TCheck::SameSamples},
    {"chapters_aac_44k", 44100, "aac -aac_pns 0 -b:a 128k", "m4b", TCut::Chapters, "flac",
     TCheck::SameSamples},
    {"chapters_alac_44k", 44100, "alac -sample_fmt s16p", "m4a", TCut::Chapters, "flac",
     TCheck::SameSamples},
    {"chapters_aac_48k", 48000, "aac -aac_pns 0 -b:a 128k", "m4b", TCut::Chapters, "wav",
     TCheck::SameSamples},
    {"chapters_flac_mka_44k", 44100, "flac -sample_fmt s16", "mka", TCut::Chapters, "flac",
     TCheck::SameSamples},
    {"chapters_mp3_mka_44k", 44100, "libmp3lame -b:a 128k", "mka", TCut::Chapters, "wav",
     TCheck::SameSamples},
    {"cue_mp3_32k_to_mp3", 32000, "libmp3lame -b:a 128k", "mp3", TCut::CueSheet, "mp3",
     TCheck::DecodedLength},
    {"chapters_alac_44k_to_m4a", 44100, "alac -sample_fmt s16p", "m4a", TCut::Chapters, "m4a",
     TCheck::DeclaredLength},
};

void PrintTo(const TPieceCase& c, std::ostream* out) {
    *out << c.Name;
}

class CliPieceSeams : public ::testing::TestWithParam<TPieceCase> {
protected:
    TScratchFolder Folder;
};

} // namespace

// The pieces against the full decode of their input, piece by piece. (The AAC inputs are made
// without noise substitution: its noise comes from a generator that runs from the decoder's
// start, so no decode from a cut can repeat it.)
TEST_P(CliPieceSeams, PiecesHoldTheirInputsSamples) {
    const TPieceCase& c = GetParam();
    const fs::path source = Folder / (std::string("input.") + c.SourceExtension);
    const std::string rate = std::to_string(c.RateHz);
    std::string chapters;
    if (c.Cut == TCut::Chapters) {
        const fs::path metadata = Folder / "chapters.txt";
        std::ofstream(metadata) << ChapterMetadata();
        chapters = " -i " + ShellQuote(metadata.string()) + " -map 0 -map_chapters 1";
    }
    int status = -1;
    RunCommand("ffmpeg -nostdin -v error -y -f lavfi -i \"aevalsrc=0.3*(2*random(0)-1)+0.4*sin(2*"
               "PI*330*t)*sin(6*PI*t)|0.3*(2*random(1)-1):s=" +
                   rate + ":d=3\"" + chapters + " -c:a " + c.SourceCodec + " " +
                   ShellQuote(source.string()) + " 2>&1",
               &status);
    ASSERT_EQ(status, 0);
    std::vector<std::string> args = {"-f", c.Format};
    fs::path outputFolder = Folder / "input";
    if (c.Cut == TCut::CueSheet) {
        std::ofstream(Folder / "input.cue") << CueSheetOf(source.filename().string());
        args.insert(args.end(), {"--cue", source.string()});
        outputFolder = Folder.Path();
    } else {
        args.insert(args.end(), {"--split-chapters", source.string()});
    }
    std::string err;
    ASSERT_EQ(RunCli(args, Folder.Path(), nullptr, &err), 0) << err;

    const TDecodedAudio full = DecodeAudio(source);
    ASSERT_EQ(full.Channels, 2);
    const int64_t fullFrames = static_cast<int64_t>(full.Samples.size() / 2);
    for (std::size_t i = 0; i < std::size(Titles); ++i) {
        const fs::path piece = outputFolder / (std::string(PieceNames[i]) + "." + c.Format);
        SCOPED_TRACE(piece.filename().string());
        const int64_t first = BoundarySample(c.Cut, i, c.RateHz);
        const int64_t end =
            i + 1 < std::size(Titles) ? BoundarySample(c.Cut, i + 1, c.RateHz) : fullFrames;
        if (c.Check == TCheck::DeclaredLength) {
            EXPECT_EQ(ProbeValue(piece, "stream=duration_ts", "a:0"), std::to_string(end - first));
            const std::string gapless = ProbeValue(piece, "format_tags=iTunSMPB");
            ASSERT_GE(gapless.size(), 44u) << gapless;
            EXPECT_EQ(std::stoll(gapless.substr(28, 16), nullptr, 16), end - first) << gapless;
            continue;
        }
        const TDecodedAudio decoded = DecodeAudio(piece);
        const int64_t frames = static_cast<int64_t>(decoded.Samples.size() / 2);
        EXPECT_EQ(frames, end - first) << "samples more than the piece's";
        if (c.Check != TCheck::SameSamples)
            continue;
        int64_t wrong = 0, lastWrong = -1;
        for (int64_t k = 0; k < std::min(frames, end - first) * 2; ++k)
            if (decoded.Samples[k] != As16Bit(full.Samples[first * 2 + k])) {
                ++wrong;
                lastWrong = k / 2;
            }
        EXPECT_EQ(wrong, 0) << "wrong samples, the last at " << lastWrong;
    }
}

INSTANTIATE_TEST_SUITE_P(Cuts, CliPieceSeams, ::testing::ValuesIn(Cases),
                         [](const auto& info) { return std::string(info.param.Name); });
