// The probe's figures, tags and information text, checked against ffprobe's view of the same
// fixtures.
#include "probe/AVProbe.h"
#include "support/TestLibs.h"
#include "support/TestMedia.h"

#include <cmath>
#include <cstdlib>
#include <gtest/gtest.h>
#include <map>
#include <sstream>
#include <vector>

namespace {

// ffprobe's whole report of a file, read once: "format.duration", "streams.stream.0.width",
// "format.tags.title", ...
class TFfprobeReport {
public:
    explicit TFfprobeReport(const std::filesystem::path& file) {
        std::istringstream lines(
            RunCommand("ffprobe -v error -show_format -show_streams -of flat " +
                       ShellQuote(file.string()) + " 2>/dev/null"));
        for (std::string line; std::getline(lines, line);) {
            const std::size_t equals = line.find('=');
            if (equals == std::string::npos)
                continue;
            std::string value = line.substr(equals + 1);
            if (value.size() >= 2 && value.front() == '"')
                value = value.substr(1, value.size() - 2);
            Values[line.substr(0, equals)] = value;
        }
    }
    std::string operator[](const std::string& key) const {
        const auto found = Values.find(key);
        return found == Values.end() ? std::string() : found->second;
    }
    std::string Stream(int index, const std::string& key) const {
        return (*this)["streams.stream." + std::to_string(index) + "." + key];
    }
    int StreamCount() const { return std::stoi((*this)["format.nb_streams"]); }
    int KindCount(const std::string& kind) const {
        int count = 0;
        for (int i = 0; i < StreamCount(); ++i)
            count += Stream(i, "codec_type") == kind;
        return count;
    }
    int FirstOfKind(const std::string& kind) const {
        for (int i = 0; i < StreamCount(); ++i)
            if (Stream(i, "codec_type") == kind)
                return i;
        return -1;
    }
    // A time entry in microseconds, -1 for N/A.
    int64_t Us(const std::string& key) const {
        const std::string value = (*this)[key];
        return value.empty() || value == "N/A" ? -1 : std::llround(std::stod(value) * 1e6);
    }

private:
    std::map<std::string, std::string> Values;
};

class ProbeInfoTest : public testing::Test {
protected:
    void SetUp() override { EnsureLibsLoaded(); }

    // Opens a fixture with the probe and reads ffprobe's report of it.
    const TFfprobeReport& Load(const std::string& name) {
        file = Fixture(name);
        EXPECT_TRUE(probe.LoadFile(file)) << probe.LastError();
        report = std::make_unique<TFfprobeReport>(file);
        return *report;
    }

    std::vector<std::string> InfoLines() {
        const std::string text = probe.GetInfoText();
        EXPECT_GE(text.size(), 2u);
        EXPECT_EQ(text.substr(text.size() - 2), "\r\n") << "every line ends with CR LF";
        std::vector<std::string> lines;
        std::size_t start = 0;
        for (std::size_t end; (end = text.find("\r\n", start)) != std::string::npos;
             start = end + 2)
            lines.push_back(text.substr(start, end - start));
        EXPECT_EQ(start, text.size());
        return lines;
    }

    static bool Has(const std::vector<std::string>& lines, const std::string& line) {
        for (const std::string& l : lines)
            if (l == line)
                return true;
        return false;
    }

    static std::vector<std::string> StreamLines(const std::vector<std::string>& lines) {
        std::vector<std::string> streams;
        for (const std::string& line : lines)
            if (line.rfind("Stream #", 0) == 0)
                streams.push_back(line);
        return streams;
    }

    std::filesystem::path file;
    std::unique_ptr<TFfprobeReport> report;
    TAVProbe probe;
};

// The containers of the fixture set: stream counts, kinds, duration, size and format name
// agree with ffprobe.
TEST_F(ProbeInfoTest, FiguresAgreeWithFfprobeForEveryContainer) {
    for (const char* name :
         {"video_h264_aac.mp4", "video_vp9_opus.mkv", "video_mpeg4_mp3.avi", "two_programs.ts",
          "mono_8k.wav", "tagged.flac", "tagged_id3.mp3", "still.jpg", "no_duration.h264",
          "audio_only.m4a", "video_only.mp4", "subtitled.mkv", "long_2h.mp3", "tone_5_1.wav"}) {
        SCOPED_TRACE(name);
        const TFfprobeReport& oracle = Load(name);
        EXPECT_EQ(probe.StreamCount(), oracle.StreamCount());
        EXPECT_EQ(probe.AudioStreamCount(), oracle.KindCount("audio"));
        EXPECT_EQ(probe.VideoStreamCount(), oracle.KindCount("video"));
        EXPECT_EQ(probe.SubtitleStreamCount(), oracle.KindCount("subtitle"));
        EXPECT_EQ(probe.FirstAudioStream(), oracle.FirstOfKind("audio"));
        EXPECT_EQ(probe.FirstVideoStream(), oracle.FirstOfKind("video"));
        EXPECT_EQ(probe.FirstSubtitleStream(), oracle.FirstOfKind("subtitle"));
        EXPECT_EQ(probe.GetFormatName(), oracle["format.format_name"]);
        EXPECT_EQ(probe.GetFileSize(), std::stoll(oracle["format.size"]));
        TFileStreamInfo info;
        probe.GetFileStreamInfo(info);
        EXPECT_NEAR(info.Duration, oracle.Us("format.duration"), 1);
        EXPECT_NEAR(info.StartTime, oracle.Us("format.start_time"), 1);
        EXPECT_EQ(StreamLines(InfoLines()).size(), static_cast<std::size_t>(probe.StreamCount()));
    }
}

// The six texts, year and track of three tag systems (MP4, Vorbis comment, ID3).
TEST_F(ProbeInfoTest, TagsAgreeWithFfprobe) {
    for (const char* name : {"tagged_h264_aac.mp4", "tagged.flac", "tagged_id3.mp3"}) {
        SCOPED_TRACE(name);
        const TFfprobeReport& oracle = Load(name);
        TFileStreamInfo info;
        probe.GetFileStreamInfo(info);
        EXPECT_EQ(info.Title, oracle["format.tags.title"]);
        EXPECT_EQ(info.Author, oracle["format.tags.artist"]);
        EXPECT_EQ(info.Copyright, oracle["format.tags.copyright"]);
        EXPECT_EQ(info.Comment, oracle["format.tags.comment"]);
        EXPECT_EQ(info.Album, oracle["format.tags.album"]);
        EXPECT_EQ(info.Genre, oracle["format.tags.genre"]);
        EXPECT_EQ(info.Year, std::stoi(oracle["format.tags.date"]));
        EXPECT_EQ(info.Track, std::stoi(oracle["format.tags.track"]));
        const auto lines = InfoLines();
        std::vector<std::string> tagLines;
        for (const std::string& line : lines)
            if (line.find(": Test ") != std::string::npos)
                tagLines.push_back(line);
        EXPECT_EQ(tagLines,
                  (std::vector<std::string>{"Title: " + oracle["format.tags.title"],
                                            "Author: " + oracle["format.tags.artist"],
                                            "Copyright: " + oracle["format.tags.copyright"],
                                            "Comment: " + oracle["format.tags.comment"],
                                            "Album: " + oracle["format.tags.album"],
                                            "Genre: " + oracle["format.tags.genre"]}))
            << "in this order";
        EXPECT_TRUE(Has(lines, "Year: " + oracle["format.tags.date"]));
        EXPECT_TRUE(Has(lines, "Track: #" + oracle["format.tags.track"]));
    }
    Load("video_h264_aac.mp4");
    for (const std::string& line : InfoLines())
        for (const char* tag : {"Title:", "Author:", "Year:", "Track:", "Time Stamp:"})
            EXPECT_NE(line.rfind(tag, 0), 0u) << "an absent tag has no line: " << line;
}

// The creation time is shown in local standard time: the zone's offset without daylight
// saving.
TEST_F(ProbeInfoTest, TimeStampIsLocalStandardTime) {
    const TFfprobeReport& oracle = Load("tagged_h264_aac.mp4");
    ASSERT_EQ(oracle["format.tags.creation_time"].rfind("2021-05-01T12:00:00", 0), 0u);
    TFileStreamInfo info;
    probe.GetFileStreamInfo(info);
    EXPECT_EQ(info.TimeStamp, 1619870400); // date -u -d 2021-05-01T12:00:00Z +%s
    const char* saved = std::getenv("TZ");
    const std::string savedZone = saved ? saved : "";
    setenv("TZ", "UTC", 1);
    EXPECT_TRUE(Has(InfoLines(), "Time Stamp: 2021-05-01 12:00:00"));
    setenv("TZ", "CET-1CEST,M3.5.0,M10.5.0/3", 1); // May is summer time there, not applied
    EXPECT_TRUE(Has(InfoLines(), "Time Stamp: 2021-05-01 13:00:00"));
    if (saved)
        setenv("TZ", savedZone.c_str(), 1);
    else
        unsetenv("TZ");
}

// The video record of a PAL-sized stream.
TEST_F(ProbeInfoTest, VideoStreamRecordAgreesWithFfprobe) {
    Load("video_720x576.mp4");
    TVideoStreamInfo info;
    probe.GetVideoStreamInfo(-1, info);
    EXPECT_EQ(info.Width, std::stoi(report->Stream(0, "width")));
    EXPECT_EQ(info.Height, std::stoi(report->Stream(0, "height")));
    EXPECT_EQ(ff::av_get_pix_fmt_name(static_cast<AVPixelFormat>(info.PixelFormat)),
              report->Stream(0, "pix_fmt"));
    EXPECT_EQ(std::to_string(info.FrameRateNum) + "/" + std::to_string(info.FrameRateDen),
              report->Stream(0, "r_frame_rate"));
    EXPECT_NEAR(info.DurationUs, report->Us("streams.stream.0.duration"), 1);
    EXPECT_NEAR(info.StartTimeUs, report->Us("streams.stream.0.start_time"), 1);
    EXPECT_FLOAT_EQ(info.DisplayAspect, 720.0f / 576.0f); // square samples
    EXPECT_EQ(info.CodecName.rfind("h264(", 0), 0u) << info.CodecName;
    EXPECT_EQ(info.BitRate, std::stoll(report->Stream(0, "bit_rate")));
}

// The container lines: name, format, size, start, duration, bit rate, in this order.
TEST_F(ProbeInfoTest, HeaderLinesFollowTheContainer) {
    Load("video_h264_aac.mp4");
    const auto lines = InfoLines();
    ASSERT_GE(lines.size(), 9u);
    EXPECT_EQ(lines[0], "File Name: " + file.string());
    EXPECT_EQ(lines[1], "Format Name: " + (*report)["format.format_name"]);
    EXPECT_EQ(lines[2], "Format Long Name: " + (*report)["format.format_long_name"]);
    EXPECT_EQ(lines[3], "File Size: " + SizeText(std::stoll((*report)["format.size"])));
    EXPECT_EQ(lines[4], "StartTime: 0.000000");
    EXPECT_EQ(lines[5], "Duration: " + DurationText(report->Us("format.duration")));
    EXPECT_EQ(lines[6],
              "Bit Rate: " + std::to_string(std::stoll((*report)["format.bit_rate"]) / 1000) +
                  " Kbps");
    EXPECT_EQ(lines[7].rfind("Stream #0[0x1](und), 1/", 0), 0u) << lines[7];
    EXPECT_NE(lines[7].find(": Video: h264"), std::string::npos) << lines[7];
    EXPECT_NE(lines[7].find(", 25 tbr"), std::string::npos) << lines[7];
    EXPECT_NE(lines[8].find(", 1/44100: Audio: aac"), std::string::npos) << lines[8];
    EXPECT_EQ(lines[8].find("tbr"), std::string::npos) << "rates are for video only";
}

// Rates: two decimals only when they have them, thousands as "k" (the stream line's "tbr" and
// "tbn"); ffprobe gives the fractions.
TEST_F(ProbeInfoTest, FrameRatesAreWrittenShort) {
    const TFfprobeReport& oracle = Load("video_ntsc_rate.mp4");
    ASSERT_EQ(oracle.Stream(0, "r_frame_rate"), "30000/1001");
    ASSERT_EQ(oracle.Stream(0, "time_base"), "1/30000");
    auto streams = StreamLines(InfoLines());
    ASSERT_EQ(streams.size(), 1u);
    EXPECT_NE(streams[0].find(", 29.97 tbr, 30k tbn"), std::string::npos) << streams[0];

    Load("video_only.mp4");
    ASSERT_EQ(report->Stream(0, "r_frame_rate"), "25/1");
    ASSERT_EQ(report->Stream(0, "time_base"), "1/12800");
    streams = StreamLines(InfoLines());
    ASSERT_EQ(streams.size(), 1u);
    EXPECT_NE(streams[0].find(", 25 tbr, 12800 tbn"), std::string::npos) << streams[0];
}

// A raw elementary stream has neither duration nor bit rate nor start time.
TEST_F(ProbeInfoTest, StreamWithoutDurationShowsNotAvailable) {
    Load("no_duration.h264");
    ASSERT_EQ((*report)["format.duration"], "N/A");
    TFileStreamInfo info;
    probe.GetFileStreamInfo(info);
    EXPECT_EQ(info.Duration, -1);
    const auto lines = InfoLines();
    EXPECT_TRUE(Has(lines, "Duration: N/A"));
    EXPECT_TRUE(Has(lines, "Bit Rate: N/A"));
    ASSERT_EQ(StreamLines(lines).size(), 1u);
    EXPECT_NE(StreamLines(lines)[0].find(", Duration: N/A"), std::string::npos);
}

// Programs: each heads its own streams, with provider and service names and hex stream ids.
TEST_F(ProbeInfoTest, TransportStreamListsStreamsByProgram) {
    Load("two_programs.ts");
    EXPECT_EQ(probe.ProgramCount(), 2);
    const auto lines = InfoLines();
    std::vector<std::string> tail;
    for (const std::string& line : lines)
        if (line.rfind("Program ", 0) == 0 || line.rfind("Stream #", 0) == 0)
            tail.push_back(line);
    ASSERT_EQ(tail.size(), 6u);
    EXPECT_EQ(tail[0], "Program 1 Provider One@Service One");
    EXPECT_EQ(tail[3], "Program 2 Provider Two@Service Two");
    for (int i : {1, 2, 4, 5}) {
        const int stream = i < 3 ? i - 1 : i - 2;
        std::ostringstream expected;
        expected << "Stream #" << stream << "[" << report->Stream(stream, "id") << "], 1/90000: ";
        EXPECT_EQ(tail[i].rfind(expected.str(), 0), 0u) << tail[i];
        EXPECT_NE(tail[i].find("StartTime: "), std::string::npos);
    }
    EXPECT_NE(tail[1].find("90k tbn"), std::string::npos) << tail[1];
}

// Start times before zero keep their sign once; late audio shows its own start.
TEST_F(ProbeInfoTest, StartTimesAgreeWithFfprobe) {
    Load("video_vp9_opus.mkv");
    TFileStreamInfo info;
    probe.GetFileStreamInfo(info);
    EXPECT_EQ(info.StartTime, report->Us("format.start_time"));
    ASSERT_LT(info.StartTime, 0) << "the Opus pre-skip starts the file before zero";
    EXPECT_TRUE(Has(InfoLines(), "StartTime: -0.007000"));

    Load("audio_late.mp4");
    const auto streams = StreamLines(InfoLines());
    ASSERT_EQ(streams.size(), 2u);
    const std::string audioStart = report->Stream(1, "start_time");
    EXPECT_NE(streams[1].find(", StartTime: " + audioStart + ","), std::string::npos)
        << streams[1] << " vs " << audioStart;
}

// A two-hour file: hours are counted, and the size comes in MB.
TEST_F(ProbeInfoTest, LongFileShowsHours) {
    Load("long_2h.mp3");
    const auto lines = InfoLines();
    EXPECT_TRUE(Has(lines, "Duration: " + DurationText(report->Us("format.duration"))));
    EXPECT_EQ(DurationText(report->Us("format.duration")).substr(0, 3), "02:");
    EXPECT_NE(lines[3].find(" MB"), std::string::npos) << lines[3];
}

// Names with blanks and non-ASCII letters open, and come back as they were given.
TEST_F(ProbeInfoTest, NonAsciiNameRoundTrips) {
    Load("name with spaces é ü 日本.mp3");
    EXPECT_EQ(probe.GetFileName(), file);
    EXPECT_EQ(InfoLines()[0], "File Name: " + file.string());
    EXPECT_EQ(probe.AudioStreamCount(), 1);
}

// An input an engine opened: described without being owned, closed by its owner only.
TEST_F(ProbeInfoTest, AttachedContextIsDescribedAndNotClosed) {
    file = Fixture("video_h264_aac.mp4");
    int error = 0;
    TInputContext input = OpenInputContext(FileNameToURL(file), nullptr, nullptr, &error);
    ASSERT_TRUE(input) << error;
    ASSERT_GE(ff::avformat_find_stream_info(input.Format.get(), nullptr), 0);
    {
        TAVProbe attached;
        attached.AttachContext(input.Format.get());
        EXPECT_FALSE(attached.OwnsContext());
        EXPECT_EQ(attached.StreamCount(), 2);
        EXPECT_EQ(attached.GetFileName(), file);
        EXPECT_NE(attached.GetInfoText().find("Stream #1"), std::string::npos);
        EXPECT_THROW(attached.Seek(-1, 0), std::runtime_error);
        EXPECT_EQ(attached.LastError(), "file cannot be seeked, handle is readonly.");
        EXPECT_THROW(attached.GetFrameBitmap(-1), std::runtime_error);
        EXPECT_EQ(attached.LastError(), "frame cannot be read, handle is readonly.");
        attached.CloseFile();
        EXPECT_EQ(attached.StreamCount(), -1);
    }
    // The owner still reads its input.
    PacketPtr packet(ff::av_packet_alloc());
    EXPECT_GE(ff::av_read_frame(input.Format.get(), packet.get()), 0);
}

} // namespace
