// Inputs at the edges of what the libraries take, through soundpick-cli: variants they refuse
// (said in their own words), a codec whose copy needs its own container, copies read back by
// their sound, and an input too short for the encoder's priming. The inputs the ffmpeg tool
// cannot make are written byte by byte; the outputs are read with ffprobe and decoded by the
// ffmpeg tool.
#include "cli/CliProcess.h"
#include "component/ComponentHarness.h"
#include "support/TestMedia.h"

#include <gtest/gtest.h>

#include <fstream>

namespace fs = std::filesystem;

namespace {

// Bytes of an unsigned number, big- or little-endian.
std::string Bytes(uint64_t value, int count, bool bigEndian) {
    std::string bytes;
    for (int i = 0; i < count; ++i) {
        const int shift = 8 * (bigEndian ? count - 1 - i : i);
        bytes += static_cast<char>((value >> shift) & 0xff);
    }
    return bytes;
}

std::string Be(uint64_t value, int count) {
    return Bytes(value, count, true);
}

std::string Le(uint64_t value, int count) {
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

// An AIFF-C file around raw GSM 6.10 frames (33 bytes, 160 samples at 8000 Hz each), which
// the ffmpeg tool does not write. Its frame count is in blocks, as the libraries read it.
std::string GsmAifc(const std::string& gsm) {
    const std::string rate8000("\x40\x0b\xfa\0\0\0\0\0\0\0", 10);
    const std::string common = Be(1, 2) + Be(static_cast<uint32_t>(gsm.size() / 33), 4) +
                               Be(16, 2) + rate8000 + "GSM " + std::string("\x08GSM 6.10\0", 10);
    const std::string body = "AIFCFVER" + Be(4, 4) + Be(0xa2805140, 4) + "COMM" +
                             Be(static_cast<uint32_t>(common.size()), 4) + common + "SSND" +
                             Be(static_cast<uint32_t>(gsm.size() + 8), 4) + Be(0, 8) + gsm;
    return "FORM" + Be(static_cast<uint32_t>(body.size()), 4) + body;
}

// The WavPack blocks with everything after their 32-byte headers zeroed: packets that are
// read whole and decode to nothing.
std::string WithoutSamples(std::string wavpack) {
    for (std::size_t at = wavpack.find("wvpk"); at != std::string::npos;
         at = wavpack.find("wvpk", at + 8)) {
        const auto byteAt = [&](std::size_t i) {
            return uint32_t{static_cast<uint8_t>(wavpack[at + 4 + i])};
        };
        const std::size_t end =
            at + 8 + (byteAt(0) | byteAt(1) << 8 | byteAt(2) << 16 | byteAt(3) << 24);
        std::fill(wavpack.begin() + static_cast<long>(at + 32),
                  wavpack.begin() + static_cast<long>(std::min(end, wavpack.size())), '\0');
    }
    return wavpack;
}

void WriteFile(const fs::path& file, const std::string& bytes) {
    std::ofstream(file, std::ios::binary) << bytes;
}

std::string ReadFile(const fs::path& file) {
    std::ifstream stream(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(stream), std::istreambuf_iterator<char>()};
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
    WriteFile(folder / "voice.aifc", GsmAifc(ReadFile(folder / "speech.gsm")));
    // WavPack at a rate its format does not list: the whole file is one block.
    Ffmpeg("-f lavfi -i sine=f=200:r=1000:d=4 -c:a wavpack " +
           ShellQuote((folder / "slow.wv").string()));
    Ffmpeg("-f lavfi -i anoisesrc=d=1:r=44100 -ac 4 -c:a wavpack " +
           ShellQuote((folder / "quad.wv").string()));
    WriteFile(folder / "mute.wv", WithoutSamples(ReadFile(folder / "quad.wv")));
    const struct {
        const char* Input;
        std::vector<std::string> Args;
        std::string Message; // the failure's; empty: converted whole
        const char* Output;  // written whole, or for a failure not left behind
        double Seconds;
    } cases[] = {
        {"rifx.wav",
         {"-f", "flac"},
         "rifx.wav uses a variant of its format that this program cannot read (WAVEFORMATEX "
         "support for RIFX files)",
         "",
         0},
        {"old.ape",
         {"-f", "flac"},
         "old.ape uses a variant of its format that this program cannot read (Unsupported file "
         "version - 0.15)",
         "",
         0},
        // The silence trim reads the sound before the conversion does: both say the same.
        {"bad.mpc",
         {"-f", "flac", "--trim-silence"},
         "bad.mpc: its sound (musepack7) cannot be decoded: the file is damaged or of a variant "
         "this program cannot read.",
         "",
         0},
        {"speech.gsm", {"-f", "copy"}, "", "speech_(new).gsm", 2.0},
        {"voice.aifc", {"-f", "copy"}, "", "voice_(new).gsm", 2.0},
        {"slow.wv", {"-f", "copy"}, "", "slow_(new).mka", 4.0},
        // A copy is written as it came: one whose sound decodes to nothing fails.
        {"mute.wv",
         {"-f", "copy"},
         "No sound could be decoded from " + (folder / "mute_(new).mka").string() +
             ", the copy of " + (folder / "mute.wv").string() + ".",
         "mute_(new).mka",
         0},
        {"quad.wav", {"-f", "m4a"}, "", "quad_(new).m4a", 300.0 / 44100},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Input);
        std::vector<std::string> args = c.Args;
        const std::string input = (folder / c.Input).string();
        args.push_back(input);
        std::string err;
        const int status = RunCli(args, folder.Path(), nullptr, &err);
        EXPECT_EQ(err.find(input + ": " + input), std::string::npos) << "named twice: " << err;
        if (!c.Message.empty()) {
            EXPECT_EQ(status, 1);
            EXPECT_NE(err.find(c.Message), std::string::npos) << err;
            if (*c.Output) {
                EXPECT_FALSE(fs::exists(folder / c.Output)) << c.Output;
            }
            continue;
        }
        EXPECT_EQ(status, 0) << err;
        EXPECT_EQ(err.find("warning"), std::string::npos) << err;
        const fs::path output = folder / c.Output;
        if (!fs::exists(output)) {
            ADD_FAILURE() << "no " << c.Output << ": " << err;
            continue;
        }
        // The stream's length as the container signals it (for MPEG-4, its edit list: the
        // ffmpeg tool decodes the last frame whole; Matroska gives only the file's), and sound
        // that decodes to at least that.
        std::string duration = ProbeValue(output, "stream=duration", "a:0");
        if (duration == "N/A")
            duration = ProbeValue(output, "format=duration");
        const double seconds = std::stod(duration);
        EXPECT_NEAR(seconds, c.Seconds, c.Seconds * 0.02) << "as ffprobe reads it";
        const TDecodedAudio decoded = DecodeAudio(output);
        EXPECT_GE(decoded.DurationSeconds(), c.Seconds * 0.98);
        EXPECT_GT(decoded.Rms(), 0.01);
    }
    for (const auto& entry : fs::directory_iterator(folder.Path()))
        EXPECT_EQ(entry.path().string().find(".part"), std::string::npos) << entry.path();
}
