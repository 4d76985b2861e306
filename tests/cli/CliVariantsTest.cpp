// Inputs at the edges of what the libraries take, through soundpick-cli: variants they refuse
// (said in their own words), a codec whose copy needs its own container, and an input too short
// for the encoder's priming. The inputs the ffmpeg tool cannot make are written byte by byte;
// the outputs are read with ffprobe and decoded by the ffmpeg tool.
#include "cli/CliProcess.h"
#include "component/ComponentHarness.h"
#include "support/TestMedia.h"

#include <gtest/gtest.h>

#include <fstream>

namespace fs = std::filesystem;

namespace {

// Bytes of an unsigned number, big- or little-endian.
std::string Bytes(uint32_t value, int count, bool bigEndian) {
    std::string bytes;
    for (int i = 0; i < count; ++i) {
        const int shift = 8 * (bigEndian ? count - 1 - i : i);
        bytes += static_cast<char>((value >> shift) & 0xff);
    }
    return bytes;
}

std::string Be(uint32_t value, int count) {
    return Bytes(value, count, true);
}

std::string Le(uint32_t value, int count) {
    return Bytes(value, count, false);
}

// A big-endian wave whose format chunk is the 18-byte extended form, with float samples.
std::string RifxExtendedFloat() {
    const std::string format =
        Be(3, 2) + Be(2, 2) + Be(44100, 4) + Be(44100 * 8, 4) + Be(8, 2) + Be(32, 2) + Be(0, 2);
    const std::string data(4410 * 8, '\x3d');
    const std::string body = "WAVEfmt " + Be(18, 4) + format + "fact" + Be(4, 4) + Be(4410, 4) +
                             "data" + Be(static_cast<uint32_t>(data.size()), 4) + data;
    return "RIFX" + Be(static_cast<uint32_t>(body.size()), 4) + body;
}

// A Monkey's Audio header of version 0.15, older than the library reads.
std::string OldMonkeysAudio() {
    return "MAC " + Le(150, 2) + std::string(200, '\0');
}

// A Musepack SV7 stream whose header claims 63 sub-bands (at most 32 exist): the decoder
// refuses to open.
std::string DamagedMusepack() {
    return "MP+\x07" + Le(20, 4) + Le(0x3f000000, 4) + std::string(12 + 4000, '\0');
}

void WriteFile(const fs::path& file, const std::string& bytes) {
    std::ofstream(file, std::ios::binary) << bytes;
}

void Ffmpeg(const std::string& arguments) {
    int status = -1;
    RunCommand("ffmpeg -nostdin -v error -y " + arguments + " 2>&1", &status);
    ASSERT_EQ(status, 0) << arguments;
}

} // namespace

// Each input either fails with a message a user can act on (and leaves nothing), or gives an
// output of its full length: never "patches welcome", never a header the muxer refuses.
TEST(CliVariants, RefusedInTheirOwnWordsOrConvertedWhole) {
    TScratchFolder folder;
    WriteFile(folder / "rifx.wav", RifxExtendedFloat());
    WriteFile(folder / "old.ape", OldMonkeysAudio());
    WriteFile(folder / "bad.mpc", DamagedMusepack());
    Ffmpeg("-f lavfi -i anoisesrc=d=2:r=8000:a=0.5 -c:a gsm " +
           ShellQuote((folder / "speech.gsm").string()));
    // A few hundred samples of four channels: less than one AAC frame, let alone its priming.
    Ffmpeg("-f lavfi -i anoisesrc=d=1:r=44100 -af "
           "'pan=4c|c0=c0|c1=0.5*c0|c2=-0.5*c0|c3=0.2*c0,atrim=end_sample=300' " +
           ShellQuote((folder / "quad.wav").string()));
    const struct {
        const char* Input;
        const char* Format;
        std::string Message; // the failure's; empty: converted whole
        const char* Output;
        double Seconds;
    } cases[] = {
        {"rifx.wav", "flac",
         "rifx.wav uses a variant of its format that this program cannot read (WAVEFORMATEX "
         "support for RIFX files)",
         "", 0},
        {"old.ape", "flac",
         "old.ape uses a variant of its format that this program cannot read (Unsupported file "
         "version - 0.15)",
         "", 0},
        {"bad.mpc", "flac",
         "bad.mpc: its sound (musepack7) cannot be decoded: the file is damaged or of a variant "
         "this program cannot read.",
         "", 0},
        {"speech.gsm", "copy", "", "speech_(new).gsm", 2.0},
        {"quad.wav", "m4a", "", "quad_(new).m4a", 300.0 / 44100},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Input);
        std::string err;
        const int status =
            RunCli({"-f", c.Format, (folder / c.Input).string()}, folder.Path(), nullptr, &err);
        if (!c.Message.empty()) {
            EXPECT_EQ(status, 1);
            EXPECT_NE(err.find(c.Message), std::string::npos) << err;
            continue;
        }
        EXPECT_EQ(status, 0) << err;
        EXPECT_EQ(err.find("warning"), std::string::npos) << err;
        const fs::path output = folder / c.Output;
        ASSERT_TRUE(fs::exists(output)) << err;
        // The stream's length as the container signals it (for MPEG-4, its edit list: the
        // ffmpeg tool decodes the last frame whole), and sound that decodes to at least that.
        const double seconds = std::stod(ProbeValue(output, "stream=duration", "a:0"));
        EXPECT_NEAR(seconds, c.Seconds, c.Seconds * 0.02) << "as ffprobe reads it";
        const TDecodedAudio decoded = DecodeAudio(output);
        EXPECT_GE(decoded.DurationSeconds(), c.Seconds * 0.98);
        EXPECT_GT(decoded.Rms(), 0.01);
    }
    for (const auto& entry : fs::directory_iterator(folder.Path()))
        EXPECT_EQ(entry.path().string().find(".part"), std::string::npos) << entry.path();
}
