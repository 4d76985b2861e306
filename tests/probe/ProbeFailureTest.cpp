// Bad input and misuse: every case fails with a clear text, never a crash or hang, and the
// probe stays usable.
#include "probe/AVProbe.h"
#include "support/TestLibs.h"
#include "support/TestMedia.h"

#include "ffbind/FFUtils.h"
#include "ffbind/FFmpegLoader.h"
#include "ffbind/FFmpegLogger.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <sys/stat.h>
#include <unistd.h>

namespace {

class ProbeFailureTest : public testing::Test {
protected:
    void SetUp() override { EnsureLibsLoaded(); }

    // After any failure the same probe opens a good file.
    void ExpectReusable() {
        ASSERT_TRUE(probe.LoadFile(Fixture("video_h264_aac.mp4"))) << probe.LastError();
        EXPECT_EQ(probe.StreamCount(), 2);
        EXPECT_EQ(probe.GetFrameBitmap(-1).Width(), 320);
    }

    TAVProbe probe;
};

// Each bad file gives false, a reason the user can act on, and no open file: damaged, empty and
// unknown files alike read as files this program cannot read.
TEST_F(ProbeFailureTest, BadFilesAreRefusedWithTheirReason) {
    const std::string missing = (FixturesDir() / "no such file.mp3").string();
    const std::filesystem::path pipe =
        std::filesystem::temp_directory_path() / ("probe-pipe-" + std::to_string(getpid()));
    ASSERT_EQ(mkfifo(pipe.c_str(), 0600), 0);
    const std::string unreadable = " is not a sound or video file this program can read "
                                   "(damaged, empty or of an unknown kind).";
    const struct {
        std::string name;
        std::string text;
    } cases[] = {
        {missing, ": no such file or directory"},
        {Fixture("a_folder.mp4").string(), " is a folder"},
        // A named pipe would block the open for ever, a device never end: refused at once.
        {pipe.string(), " is not a regular file"},
        {"/dev/zero", " is not a regular file"},
        {Fixture("random.bin").string(), unreadable},
        {Fixture("truncated.mp4").string(), unreadable},
        {Fixture("text.mp3").string(), unreadable},
        {Fixture("empty.mp3").string(), unreadable},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(probe.LoadFile(Fixture("tone_mono.wav")));
        EXPECT_FALSE(probe.LoadFile(c.name));
        EXPECT_EQ(probe.LastError(), c.name + c.text);
        EXPECT_EQ(probe.FormatContext(), nullptr) << "a failed load leaves no file open";
        EXPECT_EQ(probe.StreamCount(), -1);
        ExpectReusable();
    }
    std::filesystem::remove(pipe);
}

// The message speaks to the user; the library's own words for the refusal stay in the log at
// verbose level.
TEST_F(ProbeFailureTest, LibraryWordsStayInTheVerboseLog) {
    const TLogLevel level = GetLogger()->GetLogLevel();
    std::vector<std::string> lines;
    GetLogger()->SetLogLevel(llVerbose);
    GetLogger()->SetOnLog([&lines](const void*, unsigned, TLogLevel, const std::string& line) {
        lines.push_back(line);
    });
    EXPECT_FALSE(probe.LoadFile(Fixture("truncated.mp4")));
    GetLogger()->SetOnLog(nullptr);
    GetLogger()->SetLogLevel(level);
    const std::string words =
        Fixture("truncated.mp4").string() + ": " + ErrorText(AVERROR_INVALIDDATA);
    EXPECT_NE(std::find(lines.begin(), lines.end(), words), lines.end()) << words;
}

TEST_F(ProbeFailureTest, UnknownForcedFormatIsRefused) {
    EXPECT_FALSE(probe.LoadFile(Fixture("tone_mono.wav"), "no_such_format"));
    EXPECT_EQ(probe.LastError(), "Unknown input format: no_such_format");
    // A forced format that exists is kept while the file is open.
    ASSERT_TRUE(probe.LoadFile(Fixture("tone_mono.wav"), "wav"));
    EXPECT_EQ(probe.ForcedFormatName(), "wav");
    probe.CloseFile();
    EXPECT_EQ(probe.ForcedFormatName(), "");
}

// Every getter without a file: an empty answer and "file not loaded.".
TEST_F(ProbeFailureTest, GettersWithoutFileSayFileNotLoaded) {
    EXPECT_EQ(probe.GetInfoText(), "");
    EXPECT_EQ(probe.LastError(), "file not loaded.");
    EXPECT_EQ(probe.GetFileSize(), -1);
    EXPECT_EQ(probe.GetFormatName(), "");
    EXPECT_EQ(probe.GetFileName(), std::filesystem::path());
    TFileStreamInfo file;
    file.Title = "stale";
    probe.GetFileStreamInfo(file);
    EXPECT_EQ(file.Duration, -1);
    EXPECT_EQ(file.Title, "");
    EXPECT_FALSE(probe.Seek(-1, 0));
    EXPECT_EQ(probe.LastError(), "file not loaded.");
    EXPECT_EQ(probe.GetFrameBitmap(-1).Width(), 0);
    EXPECT_EQ(probe.StreamCount(), -1);
    EXPECT_EQ(probe.FirstVideoStream(), -1);
}

// Asking a video record of the wrong stream leaves it reset with the reason.
TEST_F(ProbeFailureTest, VideoRecordOfWrongStreamStaysReset) {
    TVideoStreamInfo info;
    ASSERT_TRUE(probe.LoadFile(Fixture("audio_only.m4a")));
    probe.GetVideoStreamInfo(-1, info);
    EXPECT_EQ(probe.LastError(), "no video stream.");
    EXPECT_EQ(info.Width, -1);
    EXPECT_EQ(info.DisplayAspect, -1.0f);
    ASSERT_TRUE(probe.LoadFile(Fixture("video_h264_aac.mp4")));
    probe.GetVideoStreamInfo(1, info);
    EXPECT_EQ(probe.LastError(), "stream #1 is not video stream.");
    EXPECT_EQ(info.Height, -1);
    probe.GetVideoStreamInfo(7, info);
    EXPECT_EQ(probe.LastError(), "stream index #7 is invalid.");
    EXPECT_EQ(info.CodecName, "");
}

// Without the libraries the probe refuses with an exception naming the first missing one.
TEST(ProbeLibrariesTest, MissingLibraryIsAnException) {
    // Unloading drops what the libraries' initialisers allocated: theirs, not the probe's.
    TLibraryInitialisers initialisers;
    EnsureLibsLoaded();
    TAVProbe probe;
    Loader().UnloadLibs(DefaultLibraries);
    try {
        probe.LoadFile(Fixture("tone_mono.wav"));
        ADD_FAILURE() << "no exception";
    } catch (const std::runtime_error& error) {
        EXPECT_STREQ(error.what(), "LibAVCodec not loaded.");
    }
    EnsureLibsLoaded();
    EXPECT_TRUE(probe.LoadFile(Fixture("tone_mono.wav"))) << probe.LastError();
}

} // namespace
