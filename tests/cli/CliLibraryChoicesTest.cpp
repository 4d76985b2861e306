// Choices of library runs through soundpick-cli: --lossy and --max-bitrate (sound already in the
// output's lossy codec at no more than the kept bit rate is copied packet for packet, as the
// ffmpeg tool's hash of the packets tells; other sound is converted), and playlists carried into
// the output tree.
#include "cli/CliProcess.h"
#include "component/ComponentHarness.h"
#include "support/TestMedia.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

namespace fs = std::filesystem;

namespace {

// The hash of a file's first sound stream's packets, as the ffmpeg tool copies them.
std::string PacketHash(const fs::path& file) {
    return RunCommand("ffmpeg -v error -i " + ShellQuote(file.string()) +
                      " -map 0:a:0 -c copy -f md5 - 2>/dev/null");
}

} // namespace

// Inputs of several codecs and bit rates under a folder, into mp3 at its default 128 kbit/s and
// into m4a: a copy exactly when the codec matches and the bit rate is kept, by default under a
// folder, never with --lossy convert; --max-bitrate raises the bit rate kept.
TEST(CliLossyPolicy, CopiesWhatIsAlreadySmallInTheTargetCodec) {
    TScratchFolder folder;
    struct TInput {
        const char* Name;
        const char* Encoding;
    } inputs[] = {{"low.mp3", "-c:a libmp3lame -b:a 32k"},
                  {"high.mp3", "-c:a libmp3lame -b:a 192k"},
                  {"small.m4a", "-c:a aac -b:a 64k"},
                  {"vorbis.ogg", "-c:a libvorbis -b:a 64k"}};
    fs::create_directories(folder / "in");
    for (const TInput& input : inputs)
        RunCommand("ffmpeg -v error -f lavfi -i anoisesrc=d=1.5:c=pink:a=0.3:r=44100 -ac 2 " +
                   std::string(input.Encoding) + " " +
                   ShellQuote((folder / "in" / input.Name).string()));
    struct TCase {
        const char* Format;
        std::vector<std::string> Args;
        const char* Input;
        bool Copied;
    } cases[] = {
        {"mp3", {}, "low.mp3", true},
        {"mp3", {}, "high.mp3", false},
        {"mp3", {}, "vorbis.ogg", false},
        {"mp3", {}, "small.m4a", false},
        {"m4a", {}, "small.m4a", true},
        {"m4a", {}, "low.mp3", false},
        {"mp3", {"--lossy", "convert"}, "low.mp3", false},
        {"mp3", {"--max-bitrate", "256"}, "high.mp3", true},
        {"mp3", {"--volume", "300"}, "low.mp3", false},
    };
    int run = 0;
    for (const TCase& c : cases) {
        const std::string out = (folder / ("out" + std::to_string(run++))).string();
        fs::create_directories(out);
        std::vector<std::string> args = c.Args;
        SCOPED_TRACE(std::string(c.Input) + " to " + c.Format + " " +
                     (args.empty() ? "" : args[0]));
        args.insert(args.end(), {"-f", c.Format, "-o", out, (folder / "in").string()});
        std::string err;
        ASSERT_EQ(RunCli(args, folder.Path(), nullptr, &err), 0) << err;
        const fs::path output = fs::path(out) / fs::path(c.Input).replace_extension(c.Format);
        ASSERT_TRUE(fs::exists(output));
        EXPECT_EQ(PacketHash(output) == PacketHash(folder / "in" / c.Input), c.Copied);
        EXPECT_NEAR(ProbeDuration(output), 1.5, 0.1);
    }
}

// A file named by itself is converted unless --lossy copy is asked for.
TEST(CliLossyPolicy, FilesNamedAreConvertedUnlessAsked) {
    TScratchFolder folder;
    const fs::path input = folder / "low.mp3";
    RunCommand("ffmpeg -v error -f lavfi -i sine=d=1 -c:a libmp3lame -b:a 32k " +
               ShellQuote(input.string()));
    for (const bool copy : {false, true}) {
        std::vector<std::string> args = {"--overwrite", "-f", "mp3", input.string()};
        if (copy)
            args.insert(args.begin(), {"--lossy", "copy"});
        std::string err;
        ASSERT_EQ(RunCli(args, folder.Path(), nullptr, &err), 0) << err;
        EXPECT_EQ(PacketHash(folder / "low_(new).mp3") == PacketHash(input), copy);
    }
}

// A playlist in the tree comes out beside the outputs with each entry that names a converted
// file pointing at its output: relative entries relative (also into another folder of the tree),
// absolute ones absolute, line ends and comments as they were; addresses, files outside the tree
// and files not converted stay as they were.
TEST(CliLibraryChoices, PlaylistsPointAtTheOutputs) {
    TScratchFolder folder;
    for (const char* track : {"in/Album/01.flac", "in/Album/02.flac", "in/Other/03.flac"}) {
        fs::create_directories((folder / track).parent_path());
        fs::copy_file(Fixture("tagged.flac"), folder / track);
    }
    const std::string in = (folder / "in").string(), out = (folder / "out").string();
    fs::create_directories(out);
    const auto write = [](const fs::path& file, const std::string& text) {
        std::ofstream(file, std::ios::binary) << text;
    };
    const std::string album = "#EXTM3U\n#EXTINF:2,One\n01.flac\n" + in +
                              "/Album/02.flac\n../Other/03.flac\nhttp://radio.example/"
                              "live\n/elsewhere/song.mp3\nmissing.flac\n";
    write(folder / "in/Album/album.m3u8", album);
    write(folder / "in/all.m3u", "Album/01.flac\r\nOther/03.flac\r\n");
    std::string err;
    ASSERT_EQ(RunCli({"-f", "mp3", "-o", out, in}, folder.Path(), nullptr, &err), 0) << err;
    EXPECT_EQ(err.find("not a sound"), std::string::npos) << err;
    const auto read = [](const fs::path& file) {
        std::ostringstream text;
        text << std::ifstream(file, std::ios::binary).rdbuf();
        return text.str();
    };
    EXPECT_EQ(read(folder / "out/Album/album.m3u8"),
              "#EXTM3U\n#EXTINF:2,One\n01.mp3\n" + out +
                  "/Album/02.mp3\n../Other/03.mp3\nhttp://radio.example/"
                  "live\n/elsewhere/song.mp3\nmissing.flac\n");
    EXPECT_EQ(read(folder / "out/all.m3u"), "Album/01.mp3\r\nOther/03.mp3\r\n");
    EXPECT_TRUE(fs::exists(folder / "out/Other/03.mp3"));
}
