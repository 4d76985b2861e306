// Tagged music with cover art through soundpick-cli into every output format: the tags and the
// cover arrive where the container holds them, a cover never becomes moving video. Outputs are
// read with ffprobe.
#include "cli/CliProcess.h"
#include "component/ComponentHarness.h"
#include "ffbind/TextUtils.h"
#include "support/TestMedia.h"

#include <gtest/gtest.h>

#include <algorithm>
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
