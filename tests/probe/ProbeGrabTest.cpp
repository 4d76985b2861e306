// Seeking and picture grabbing, checked against the pictures the ffmpeg tool decodes at the
// same times.
#include "probe/AVProbe.h"
#include "support/TestLibs.h"
#include "support/TestMedia.h"

#include <cstdlib>
#include <cstring>
#include <gtest/gtest.h>
#include <thread>
#include <vector>

namespace {

// The picture ffmpeg shows at a time, as rows of width x 3 bytes (B, G, R).
std::string OraclePicture(const std::filesystem::path& file, double seconds) {
    const std::string start = seconds > 0 ? " -ss " + std::to_string(seconds) : "";
    return RunCommand("ffmpeg -v error -nostdin" + start + " -i " + ShellQuote(file.string()) +
                      " -frames:v 1 -f rawvideo -pix_fmt bgr24 - 2>/dev/null");
}

// Mean absolute difference of the bytes of two pictures of the same size.
double MeanDifference(const TBitmap24& bitmap, const std::string& oracle) {
    const std::size_t rowBytes = static_cast<std::size_t>(bitmap.Width()) * 3;
    EXPECT_EQ(oracle.size(), rowBytes * bitmap.Height());
    if (oracle.size() != rowBytes * bitmap.Height())
        return 1e9;
    double sum = 0;
    for (int y = 0; y < bitmap.Height(); ++y)
        for (std::size_t x = 0; x < rowBytes; ++x)
            sum += std::abs(int(bitmap.Row(y)[x]) - int(uint8_t(oracle[y * rowBytes + x])));
    return sum / oracle.size();
}

bool IsBlack(const TBitmap24& bitmap) {
    for (int y = 0; y < bitmap.Height(); ++y)
        for (int x = 0; x < bitmap.Width() * 3; ++x)
            if (bitmap.Row(y)[x] != 0)
                return false;
    return true;
}

class ProbeGrabTest : public testing::Test {
protected:
    void SetUp() override { EnsureLibsLoaded(); }

    void Load(const std::string& name) {
        file = Fixture(name);
        ASSERT_TRUE(probe.LoadFile(file)) << probe.LastError();
    }

    // The grabbed picture is ffmpeg's picture at `seconds` and clearly not the one at `other`.
    void ExpectPictureAt(const TBitmap24& bitmap, double seconds, double other) {
        const double same = MeanDifference(bitmap, OraclePicture(file, seconds));
        const double different = MeanDifference(bitmap, OraclePicture(file, other));
        EXPECT_LT(same, 2.0) << "at " << seconds;
        EXPECT_GT(different, same * 3 + 0.1) << "the picture at " << other << " looks the same";
    }

    std::filesystem::path file;
    TAVProbe probe;
};

// A PAL-sized YUV stream goes through the scaler; the picture is the one at the time asked,
// also between key frames, and grabbing on continues with the next picture.
TEST_F(ProbeGrabTest, GrabShowsThePictureAtTheSoughtTime) {
    Load("video_720x576.mp4");
    ASSERT_TRUE(probe.Seek(-1, 1'000'000)) << probe.LastError();
    const TBitmap24& bitmap = probe.GetFrameBitmap(-1);
    ASSERT_EQ(bitmap.Width(), 720);
    ASSERT_EQ(bitmap.Height(), 576);
    ExpectPictureAt(bitmap, 1.0, 0.0);
    ExpectPictureAt(probe.GetLastBitmap(), 1.0, 0.0);
    ASSERT_TRUE(probe.Seek(-1, 1'480'000));
    ExpectPictureAt(probe.GetFrameBitmap(-1), 1.48, 1.0);
    ExpectPictureAt(probe.GetFrameBitmap(-1), 1.52, 1.48);
    // Back to the start.
    ASSERT_TRUE(probe.Seek(-1, 0));
    ExpectPictureAt(probe.GetFrameBitmap(-1), 0.0, 1.52);
}

// Other containers and codecs: VP9 in Matroska (planar RGB), MPEG-4 in AVI, H.264 in MPEG-TS.
TEST_F(ProbeGrabTest, GrabWorksAcrossContainers) {
    for (const char* name : {"video_vp9_opus.mkv", "video_mpeg4_mp3.avi", "two_programs.ts"}) {
        SCOPED_TRACE(name);
        Load(name);
        ASSERT_TRUE(probe.Seek(-1, 1'000'000)) << probe.LastError();
        const TBitmap24& bitmap = probe.GetFrameBitmap(-1);
        ASSERT_GT(bitmap.Width(), 0) << probe.LastError();
        EXPECT_EQ(bitmap.Width(), std::stoi(ProbeValue(file, "stream=width", "v:0")));
        EXPECT_FALSE(IsBlack(bitmap));
    }
}

// The end: grabbing on runs out into a black picture of the stream's size, and a time beyond
// the end either is refused or reaches the same end.
TEST_F(ProbeGrabTest, EndOfStreamGivesBlackPicture) {
    Load("video_h264_aac.mp4");
    ASSERT_TRUE(probe.Seek(-1, 3'900'000));
    EXPECT_FALSE(IsBlack(probe.GetFrameBitmap(-1))) << probe.LastError();
    int grabs = 0;
    while (probe.LastError() != "stream eof reached." && grabs < 10) {
        probe.GetFrameBitmap(-1);
        ++grabs;
    }
    EXPECT_EQ(probe.LastError(), "stream eof reached.");
    EXPECT_LE(grabs, 3) << "a 25 fps stream has at most two pictures after 3.9 s of 4 s";
    EXPECT_EQ(probe.GetFrameBitmap(-1).Width(), 320);
    EXPECT_TRUE(IsBlack(probe.GetFrameBitmap(-1)));
    EXPECT_FALSE(IsBlack(probe.GetLastBitmap())) << "the last good picture is kept";

    if (probe.Seek(-1, 100'000'000)) {
        const TBitmap24& bitmap = probe.GetFrameBitmap(-1);
        EXPECT_EQ(probe.LastError(), "stream eof reached.");
        EXPECT_EQ(bitmap.Width(), 320);
        EXPECT_TRUE(IsBlack(bitmap));
    } else {
        EXPECT_EQ(probe.LastError(), "could not seek to position 100.000");
    }
    // And the probe comes back from the end.
    ASSERT_TRUE(probe.Seek(-1, 2'000'000));
    ExpectPictureAt(probe.GetFrameBitmap(-1), 2.0, 1.0);
}

// A music file's cover is its picture at every time, past the end too, without an error; the
// seek still succeeds, as the dialog's slider asks for one.
TEST_F(ProbeGrabTest, CoverOnlyFilesShowTheCoverAtAnyTime) {
    for (const char* name : {"cover_id3.mp3", "cover_itunes.m4a", "cover_vorbis.flac"}) {
        SCOPED_TRACE(name);
        Load(name);
        EXPECT_EQ(probe.VideoStreamCount(), 0);
        EXPECT_EQ(probe.CoverStreamCount(), 1);
        const std::string oracle = OraclePicture(file, 0.0);
        for (int64_t timeUs : {0, 750'000, 60'000'000}) {
            ASSERT_TRUE(probe.Seek(-1, timeUs)) << timeUs << ": " << probe.LastError();
            const TBitmap24& bitmap = probe.GetFrameBitmap(-1);
            ASSERT_EQ(bitmap.Width(), 64) << timeUs << ": " << probe.LastError();
            EXPECT_LT(MeanDifference(bitmap, oracle), 2.0) << timeUs;
            EXPECT_EQ(probe.GetLastBitmap().Height(), 64);
        }
    }
}

// Real video beside a cover: the slider's time is the video's.
TEST_F(ProbeGrabTest, VideoWithCoverSeeksTheVideo) {
    Load("video_cover.mp4");
    EXPECT_EQ(probe.VideoStreamCount(), 1);
    EXPECT_EQ(probe.FirstCoverStream(), 2);
    ASSERT_TRUE(probe.Seek(-1, 1'000'000)) << probe.LastError();
    const TBitmap24& bitmap = probe.GetFrameBitmap(-1);
    ASSERT_EQ(bitmap.Width(), 160);
    ExpectPictureAt(bitmap, 1.0, 0.0);
    EXPECT_EQ(probe.GetFrameBitmap(2).Width(), 64) << "the cover stream asked for by index";
}

// One key frame in 4 s: a grab late in the file stops decoding forward when its budget is
// spent and shows the picture it reached (with no budget, the key frame itself); the default
// budget reaches 3.5 s at this picture size.
TEST_F(ProbeGrabTest, ForwardDecodeStopsAtItsBudget) {
    Load("one_keyframe.mp4");
    ASSERT_TRUE(probe.Seek(-1, 3'500'000)) << probe.LastError();
    ExpectPictureAt(probe.GetFrameBitmap(-1), 3.5, 0.0);
    probe.ForwardDecodeBudgetPixels = 0;
    ASSERT_TRUE(probe.Seek(-1, 3'500'000)) << probe.LastError();
    ExpectPictureAt(probe.GetFrameBitmap(-1), 0.0, 3.5);
    probe.ForwardDecodeBudgetPixels = int64_t{20} * 320 * 240;
    ASSERT_TRUE(probe.Seek(-1, 3'500'000)) << probe.LastError();
    ExpectPictureAt(probe.GetFrameBitmap(-1), 0.8, 3.5);
}

// A still picture: seeking is a no-op and the second grab repeats the first picture.
TEST_F(ProbeGrabTest, StillImageIsDecodedOnce) {
    Load("still.jpg");
    ASSERT_EQ(probe.GetFormatName(), "image2");
    EXPECT_TRUE(probe.Seek(-1, 5'000'000));
    const TBitmap24 first = probe.GetFrameBitmap(-1);
    ASSERT_EQ(first.Width(), 320);
    EXPECT_LT(MeanDifference(first, OraclePicture(file, 0.0)), 2.0);
    EXPECT_TRUE(probe.Seek(-1, 0));
    const TBitmap24& second = probe.GetFrameBitmap(-1);
    ASSERT_EQ(second.Height(), first.Height());
    EXPECT_EQ(0, std::memcmp(second.Data(), first.Data(),
                             static_cast<std::size_t>(first.Stride()) * first.Height()));
}

// Grabs that cannot be made leave an empty bitmap and say why.
TEST_F(ProbeGrabTest, WrongStreamsGiveEmptyBitmap) {
    Load("video_h264_aac.mp4");
    ASSERT_GT(probe.GetFrameBitmap(-1).Width(), 0);
    EXPECT_EQ(probe.GetFrameBitmap(1).Width(), 0);
    EXPECT_EQ(probe.LastError(), "stream #1 is not video stream.");
    EXPECT_EQ(probe.GetFrameBitmap(2).Height(), 0);
    EXPECT_EQ(probe.LastError(), "stream index #2 is invalid.");
    EXPECT_FALSE(probe.Seek(9, 0));
    EXPECT_EQ(probe.LastError(), "stream index #9 is invalid.");
    Load("tone_mono.wav");
    EXPECT_TRUE(probe.Seek(-1, 1'000'000)) << "sound alone can be sought";
    EXPECT_EQ(probe.GetFrameBitmap(-1).Width(), 0);
    EXPECT_EQ(probe.LastError(), "no video stream.");
    EXPECT_EQ(probe.GetLastBitmap().Width(), 0) << "closing the last file forgot its picture";
}

// One probe through many files and grabs: the decoder follows the file, pictures keep their
// own size, and every grab stays correct.
TEST_F(ProbeGrabTest, ProbeIsReusedAcrossFiles) {
    const char* names[] = {"video_720x576.mp4", "video_only.mp4", "subtitled.mkv"};
    std::vector<std::pair<int, int>> sizes;
    for (const char* name : names)
        sizes.emplace_back(std::stoi(ProbeValue(Fixture(name), "stream=width", "v:0")),
                           std::stoi(ProbeValue(Fixture(name), "stream=height", "v:0")));
    for (int round = 0; round < 3; ++round) {
        for (std::size_t i = 0; i < std::size(names); ++i) {
            SCOPED_TRACE(names[i]);
            Load(names[i]);
            ASSERT_TRUE(probe.Seek(-1, 1'000'000));
            const TBitmap24& bitmap = probe.GetFrameBitmap(-1);
            EXPECT_EQ(bitmap.Width(), sizes[i].first);
            EXPECT_EQ(bitmap.Height(), sizes[i].second);
        }
    }
    ExpectPictureAt(probe.GetLastBitmap(), 1.0, 0.0);
}

// Probes on several threads at once, as the window's and the engines' probes are: each gives
// what a lone probe gives (opening and closing decoders under the shared codec lock).
TEST_F(ProbeGrabTest, ProbesOnSeveralThreadsAgree) {
    const char* names[] = {"video_720x576.mp4", "video_vp9_opus.mkv", "video_mpeg4_mp3.avi",
                           "two_programs.ts"};
    std::vector<std::string> expected;
    for (const char* name : names) {
        Load(name);
        expected.push_back(probe.GetInfoText());
    }
    std::vector<std::string> failures(std::size(names));
    std::vector<std::thread> threads;
    for (std::size_t t = 0; t < std::size(names); ++t) {
        threads.emplace_back([&, t] {
            TAVProbe own;
            for (int round = 0; round < 5 && failures[t].empty(); ++round) {
                if (!own.LoadFile(Fixture(names[t])) || own.GetInfoText() != expected[t])
                    failures[t] = "info differs: " + own.LastError();
                else if (!own.Seek(-1, 500'000 * round) || own.GetFrameBitmap(-1).Width() <= 0)
                    failures[t] = "grab failed: " + own.LastError();
            }
        });
    }
    for (std::thread& thread : threads)
        thread.join();
    for (std::size_t t = 0; t < std::size(names); ++t)
        EXPECT_EQ(failures[t], "") << names[t];
}

} // namespace
