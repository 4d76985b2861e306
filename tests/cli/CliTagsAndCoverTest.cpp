// Tagged music with cover art through soundpick-cli into every output format: the tags and the
// cover arrive where the container holds them, a cover never becomes moving video. Outputs are
// read with ffprobe.
#include "cli/CliProcess.h"
#include "component/ComponentHarness.h"
#include "ffbind/TextUtils.h"
#include "support/TestMedia.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <map>
#include <sstream>

namespace fs = std::filesystem;

namespace {

// ffprobe's flat report of a file's streams and tags, keys in lower case.
class TProbeReport {
public:
    explicit TProbeReport(const fs::path& file) {
        std::istringstream lines(
            RunCommand("ffprobe -v error -show_entries format_tags:stream=codec_type,width,height:"
                       "stream_disposition=attached_pic:stream_tags -of flat " +
                       ShellQuote(file.string()) + " 2>/dev/null"));
        std::string line;
        while (std::getline(lines, line)) {
            const std::size_t equals = line.find('=');
            if (equals == std::string::npos)
                continue;
            const std::string key = LowerCase(line.substr(0, equals));
            std::string value = line.substr(equals + 1);
            if (value.size() >= 2 && value.front() == '"')
                value = value.substr(1, value.size() - 2);
            Values[key] = value;
        }
    }
    std::string Stream(int index, const std::string& key) const {
        return Value("streams.stream." + std::to_string(index) + "." + key);
    }
    int Count(const std::string& type, bool attached) const {
        int count = 0;
        for (int i = 0; !Stream(i, "codec_type").empty(); ++i)
            count += Stream(i, "codec_type") == type &&
                     (Stream(i, "disposition.attached_pic") == "1") == attached;
        return count;
    }
    // A tag of the container or, as Ogg keeps them, of a stream.
    std::string Tag(const std::string& key) const {
        std::string value = Value("format.tags." + key);
        for (int i = 0; value.empty() && !Stream(i, "codec_type").empty(); ++i)
            value = Stream(i, "tags." + key);
        return value;
    }
    // The size of the first cover or moving picture, as "WxH".
    std::string Size(bool attached) const {
        for (int i = 0; !Stream(i, "codec_type").empty(); ++i)
            if (Stream(i, "codec_type") == "video" &&
                (Stream(i, "disposition.attached_pic") == "1") == attached)
                return Stream(i, "width") + "x" + Stream(i, "height");
        return "";
    }

private:
    std::string Value(const std::string& key) const {
        const auto found = Values.find(key);
        return found == Values.end() ? "" : found->second;
    }
    std::map<std::string, std::string> Values;
};

class CliTagsAndCover : public ::testing::Test {
protected:
    std::string Input(const std::string& fixture, const std::string& name) {
        fs::copy_file(Fixture(fixture), Folder / name);
        return (Folder / name).string();
    }
    // Converts one input in the scratch folder; the output's path, empty on a failed run.
    fs::path Convert(const std::string& input, const std::string& format) {
        std::string err;
        const int status = RunCli({"-f", format, input}, Folder.Path(), nullptr, &err);
        EXPECT_EQ(status, 0) << err;
        return status == 0 ? Folder / (fs::path(input).stem().string() + "_(new)." + format)
                           : fs::path();
    }
    TScratchFolder Folder;
};

struct TFormatCase {
    const char* Format;
    std::vector<const char*> Tags; // the tags its container holds
    bool HoldsCover;
};

} // namespace

// The four kinds of tagged input into each of the eleven formats.
TEST_F(CliTagsAndCover, EveryInputIntoEveryFormat) {
    const std::vector<const char*> all = {"title", "artist", "album", "track", "date"};
    const TFormatCase cases[] = {
        {"mp3", all, true},
        {"mp2", {}, false},
        {"wma", all, false},
        {"ogg", all, true},
        {"aac", {}, false},
        {"m4a", all, true},
        {"flac", all, true},
        {"ac3", {}, false},
        {"wav", all, false},
        {"au", {"title", "artist", "album", "track"}, false},
        {"ra", {"title", "author"}, false},
    };
    struct TInputCase {
        std::string Name;
        bool HasCover;
    };
    const TInputCase inputs[] = {{Input("cover_id3.mp3", "id3.mp3"), true},
                                 {Input("cover_itunes.m4a", "itunes.m4a"), true},
                                 {Input("cover_vorbis.flac", "vorbis.flac"), true},
                                 {Input("tagged_stream.ogg", "stream.ogg"), false}};
    const std::map<std::string, std::string> expected = {{"title", "Test Title"},
                                                         {"artist", "Test Artist"},
                                                         {"author", "Test Artist"},
                                                         {"album", "Test Album"},
                                                         {"track", "7"},
                                                         {"date", "2021"}};
    for (const TFormatCase& format : cases) {
        std::vector<std::string> args = {"-j", "2", "-f", format.Format};
        for (const TInputCase& input : inputs)
            args.push_back(input.Name);
        std::string err;
        ASSERT_EQ(RunCli(args, Folder.Path(), nullptr, &err), 0) << format.Format << ": " << err;
        for (const TInputCase& input : inputs) {
            const fs::path output =
                Folder / (fs::path(input.Name).stem().string() + "_(new)." + format.Format);
            SCOPED_TRACE(output.filename().string());
            const TProbeReport report(output);
            EXPECT_EQ(report.Count("audio", false), 1);
            EXPECT_EQ(report.Count("video", false), 0) << "no moving picture";
            for (const char* tag : format.Tags)
                EXPECT_EQ(report.Tag(tag), expected.at(tag)) << tag;
            const bool cover = format.HoldsCover && input.HasCover;
            EXPECT_EQ(report.Count("video", true), cover ? 1 : 0);
            EXPECT_EQ(report.Size(true), cover ? "64x64" : "");
        }
    }
}

// --no-tags and --no-cover leave both out.
TEST_F(CliTagsAndCover, TagsAndCoverCanBeLeftOut) {
    const std::string input = Input("cover_vorbis.flac", "song.flac");
    std::string err;
    ASSERT_EQ(RunCli({"-f", "mp3", "--no-tags", "--no-cover", input}, Folder.Path(), nullptr, &err),
              0)
        << err;
    const TProbeReport report(Folder / "song_(new).mp3");
    EXPECT_EQ(report.Tag("title"), "");
    EXPECT_EQ(report.Count("video", true), 0);
    EXPECT_EQ(report.Count("audio", false), 1);
}

// A cover in a picture codec that not every container takes arrives as png.
TEST_F(CliTagsAndCover, OtherPictureCodecsBecomePng) {
    const std::string input = Input("cover_bmp.flac", "bitmap.flac");
    for (const char* format : {"m4a", "ogg"}) {
        SCOPED_TRACE(format);
        const fs::path output = Convert(input, format);
        EXPECT_EQ(TProbeReport(output).Size(true), "64x64");
        EXPECT_EQ(ProbeValue(output, "stream=codec_name", "v:0"), "png");
    }
}

// Real video beside a cover: the video is carried as today, the cover never as video.
TEST_F(CliTagsAndCover, RealVideoStaysVideo) {
    const std::string input = Input("video_cover.mp4", "clip.mp4");
    for (const char* format : {"ogg", "m4a"}) {
        SCOPED_TRACE(format);
        const TProbeReport report(Convert(input, format));
        ASSERT_EQ(report.Count("video", false), 1);
        EXPECT_EQ(report.Size(false), "160x120") << "the video, not the cover";
        EXPECT_EQ(report.Count("audio", false), 1);
    }
}

namespace {

// The text frames of a file's ID3v2 tag as a tagger reads them: "TRCK" -> "3/12", a user frame
// as "TXXX:DESCRIPTION". Read by hand, so that the frames themselves are checked, not a reader's
// conversion of them.
std::map<std::string, std::string> Id3TextFrames(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    std::vector<unsigned char> bytes((std::istreambuf_iterator<char>(in)), {});
    std::map<std::string, std::string> frames;
    if (bytes.size() < 10 || std::string(bytes.begin(), bytes.begin() + 3) != "ID3")
        return frames;
    const int version = bytes[3];
    auto size = [&](std::size_t at, bool syncSafe) {
        std::size_t value = 0;
        for (int i = 0; i < 4; ++i)
            value = syncSafe ? value << 7 | (bytes[at + i] & 0x7f) : value << 8 | bytes[at + i];
        return value;
    };
    const std::size_t end = std::min(bytes.size(), 10 + size(6, true));
    for (std::size_t at = 10; at + 10 <= end && bytes[at] != 0;) {
        const std::string id(bytes.begin() + at, bytes.begin() + at + 4);
        const std::size_t length = size(at + 4, version == 4);
        // After the encoding byte: the text (ISO 8859-1 or UTF-8 as written here), a user
        // frame's description and value apart by a NUL.
        std::string text(bytes.begin() + std::min(end, at + 11),
                         bytes.begin() + std::min(end, at + 10 + length));
        text = text.substr(0, text.find_last_not_of('\0') + 1);
        const std::size_t nul = text.find('\0');
        if (id == "TXXX")
            frames["TXXX:" + text.substr(0, nul)] =
                nul == std::string::npos ? "" : text.substr(nul + 1);
        else if (id[0] == 'T')
            frames[id] = text;
        at += 10 + length;
    }
    return frames;
}

} // namespace

// Track and disc numbers with their totals, the album artist and the compilation flag land in
// the frames and atoms taggers write (TRCK/TPOS "n/N", TPE2, TCMP; trkn, disk, aART, cpil), and
// in Vorbis comments as separate totals, whichever way the input held them.
TEST_F(CliTagsAndCover, NumbersWithTotalsAsTaggersWriteThem) {
    const std::string tone = "ffmpeg -v error -f lavfi -i sine=d=0.3 ";
    const std::string common = " -metadata title=Song -metadata album_artist='Various Artists' ";
    RunCommand(tone + common +
               "-metadata TRACKNUMBER=3 -metadata TRACKTOTAL=12 -metadata DISCNUMBER=1 "
               "-metadata DISCTOTAL=2 -metadata COMPILATION=1 " +
               ShellQuote((Folder / "comments.flac").string()));
    RunCommand(tone + common + "-metadata track=3/12 -metadata disc=1/2 -metadata compilation=1 " +
               ShellQuote((Folder / "frames.mp3").string()));
    RunCommand(tone + common + "-metadata track=3/12 -metadata disc=1/2 -metadata compilation=1 " +
               ShellQuote((Folder / "atoms.m4a").string()));
    for (const char* input : {"comments.flac", "frames.mp3", "atoms.m4a"}) {
        SCOPED_TRACE(input);
        const std::map<std::string, std::string> frames =
            Id3TextFrames(Convert((Folder / input).string(), "mp3"));
        const std::map<std::string, std::string> expected = {{"TIT2", "Song"},
                                                             {"TRCK", "3/12"},
                                                             {"TPOS", "1/2"},
                                                             {"TPE2", "Various Artists"},
                                                             {"TCMP", "1"}};
        // The encoder (TSSE) and the creation time (TDEN) come with every output.
        for (const auto& [id, text] : frames)
            if (id != "TSSE" && id != "TDEN")
                EXPECT_EQ(expected.count(id) ? expected.at(id) : "(no such frame)", text) << id;
        EXPECT_EQ(frames.size(), expected.size() + frames.count("TSSE") + frames.count("TDEN"));

        const TProbeReport m4a(Convert((Folder / input).string(), "m4a"));
        EXPECT_EQ(m4a.Tag("track"), "3/12");
        EXPECT_EQ(m4a.Tag("disc"), "1/2");
        EXPECT_EQ(m4a.Tag("album_artist"), "Various Artists");
        EXPECT_EQ(m4a.Tag("compilation"), "1");

        for (const char* format : {"flac", "ogg", "opus"}) {
            const TProbeReport comments(Convert((Folder / input).string(), format));
            SCOPED_TRACE(format);
            for (const auto& [key, value] : {std::pair{"track", "3"},
                                             {"tracktotal", "12"},
                                             {"disc", "1"},
                                             {"disctotal", "2"},
                                             {"album_artist", "Various Artists"}})
                EXPECT_EQ(comments.Tag(key), value) << key;
        }
    }
}

// --cover-size: a larger cover is scaled to fit the square, its aspect kept, as JPEG; a smaller
// one stays as it was. The picture's type (front, back) arrives as the input had it.
TEST_F(CliTagsAndCover, CoversScaledForDevicesWithTheirType) {
    const auto makeInput = [&](const std::string& name, const char* size, const char* type) {
        RunCommand(
            "ffmpeg -v error -f lavfi -i sine=d=0.3 -f lavfi -i color=red:s=" + std::string(size) +
            ":d=1 -map 0 -map 1 -frames:v 1 -c:v png -disposition:v attached_pic "
            "-metadata:s:v " +
            ShellQuote(std::string("comment=") + type) + " " +
            ShellQuote((Folder / name).string()));
        return (Folder / name).string();
    };
    const std::string front = makeInput("front.flac", "600x300", "Cover (front)");
    const std::string back = makeInput("back.flac", "600x300", "Cover (back)");
    const std::string small = makeInput("small.flac", "100x50", "Cover (front)");
    struct TCase {
        const std::string* Input;
        const char* Format;
        const char* CoverSize; // "" none
        const char* Size;
        const char* Codec;
        const char* Type; // as ffprobe names it; "" where the container keeps none (m4a)
    } cases[] = {
        {&front, "mp3", "200", "200x100", "mjpeg", "Cover (front)"},
        {&back, "mp3", "", "600x300", "png", "Cover (back)"},
        {&front, "flac", "200", "200x100", "mjpeg", "Cover (front)"},
        {&back, "ogg", "200", "200x100", "mjpeg", "Cover (back)"},
        {&front, "m4a", "200", "200x100", "mjpeg", ""},
        {&small, "mp3", "200", "100x50", "png", "Cover (front)"},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(fs::path(*c.Input).filename().string() + " to " + c.Format + " " +
                     c.CoverSize);
        std::vector<std::string> args = {"--overwrite", "-f", c.Format, *c.Input};
        if (*c.CoverSize)
            args.insert(args.begin(), {"--cover-size", c.CoverSize});
        std::string err;
        ASSERT_EQ(RunCli(args, Folder.Path(), nullptr, &err), 0) << err;
        const fs::path output =
            Folder / (fs::path(*c.Input).stem().string() + "_(new)." + c.Format);
        const TProbeReport report(output);
        EXPECT_EQ(report.Size(true), c.Size);
        EXPECT_EQ(ProbeValue(output, "stream=codec_name", "v:0"), c.Codec);
        if (*c.Type)
            EXPECT_EQ(report.Stream(1, "tags.comment") + report.Stream(0, "tags.comment"), c.Type);
    }
}

// --copy-images finds a multi-disc album's pictures in the folder above CD1/, CD2/: they
// arrive in the same place in the output tree; a folder that is no disc does not look up.
TEST_F(CliTagsAndCover, MultiDiscAlbumPicturesFromTheFolderAbove) {
    for (const char* folder : {"in/Set/CD1", "in/Set/Disc 2", "in/Other/Bonus"}) {
        fs::create_directories(Folder / folder);
        fs::copy_file(Fixture("tagged.flac"), Folder / folder / "01.flac");
    }
    fs::copy_file(Fixture("tagged.flac"), Folder / "in/Other/02.flac");
    fs::create_directories(Folder / "out");
    for (const char* picture : {"in/Set/cover.jpg", "in/Other/folder.jpg"})
        RunCommand("ffmpeg -v error -f lavfi -i color=blue:s=32x32:d=1 -frames:v 1 " +
                   ShellQuote((Folder / picture).string()));
    std::string err;
    ASSERT_EQ(RunCli({"-f", "mp3", "--copy-images", "-o", (Folder / "out").string(),
                      (Folder / "in").string()},
                     Folder.Path(), nullptr, &err),
              0)
        << err;
    EXPECT_TRUE(fs::exists(Folder / "out/Set/cover.jpg"));
    EXPECT_TRUE(fs::exists(Folder / "out/Other/folder.jpg"));
    EXPECT_FALSE(fs::exists(Folder / "out/Other/Bonus/folder.jpg"));
    EXPECT_TRUE(fs::exists(Folder / "out/Set/CD1/01.mp3"));
}
