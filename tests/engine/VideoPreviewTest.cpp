// Preview pictures of the video path: their pace, the preview window's life and the video
// statistics lines of the encoded pictures.
#include "VideoPathHarness.h"

#include "RunHarness.h"
#include "engine/EngineRun.h"
#include "ffbind/FFUtils.h"
#include "ffbind/Previewer.h"

#include <gtest/gtest.h>

#include <fstream>
#include <regex>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

constexpr uint8_t PreviewWanted = 1, PreviewBitmapWanted = 2;

class VideoPreviewTest : public ::testing::Test {
protected:
    void TearDown() override { SetPreviewWindowFactory(nullptr); }
    // Feeds n pictures, one frame apart, from the given frame on.
    static void FeedPictures(TVideoPathHarness& video, int n, int first = 0) {
        for (int i = first; i < first + n; ++i)
            video.Feed(MakePicture(64, 48, 50 + i).get(), i * 40000);
    }
    TTempFolder Folder;
};

// A window that counts what it shows and offers its close button to the test.
struct TWindowCounter {
    int Created = 0;
    int Shown = 0;
    int Destroyed = 0;
    std::function<void()> Close;
};

class TCountingWindow : public TPreviewWindow {
public:
    explicit TCountingWindow(TWindowCounter& counter) : Counter(counter) { ++Counter.Created; }
    ~TCountingWindow() override { ++Counter.Destroyed; }
    void ShowPicture(const TBitmap24&, const std::string&) override { ++Counter.Shown; }

private:
    TWindowCounter& Counter;
};

} // namespace

// Preview bitmaps come no more often than PreviewIntervalUs; each carries the picture.
TEST_F(VideoPreviewTest, BitmapsKeepToTheInterval) {
    for (const int64_t interval : {int64_t(3600) * 1000000, int64_t(-1)}) {
        TVideoPathHarness video(Folder / "bitmaps.nut", 64, 48);
        std::vector<int> numbers;
        video.Engine->PreviewFlags = PreviewBitmapWanted;
        video.Engine->PreviewIntervalUs = interval;
        video.Engine->OnPreviewBitmap = [&](TCustomFFmpeg*, TBitmap24& bitmap, int number,
                                            int64_t pts) {
            EXPECT_EQ(bitmap.Width(), 64);
            EXPECT_EQ(bitmap.Height(), 48);
            EXPECT_EQ(pts, (number - 1) * 40000);
            numbers.push_back(number);
        };
        video.Open(64, 48);
        FeedPictures(video, 10);
        if (interval > 0)
            EXPECT_EQ(numbers, std::vector<int>{1}) << "an hour apart";
        else
            EXPECT_EQ(numbers.size(), 10u) << "no interval";
    }
}

// Once the user has closed the preview window, previewing ends and no window comes back.
TEST_F(VideoPreviewTest, ClosedWindowIsNotReopened) {
    TWindowCounter counter;
    SetPreviewWindowFactory([&](std::function<void()> onClosed) {
        counter.Close = std::move(onClosed);
        return std::make_unique<TCountingWindow>(counter);
    });
    TVideoPathHarness video(Folder / "window.nut", 64, 48);
    video.Engine->PreviewFlags = PreviewWanted;
    video.Engine->PreviewIntervalUs = -1;
    video.Open(64, 48);
    FeedPictures(video, 3);
    EXPECT_EQ(counter.Created, 1);
    EXPECT_EQ(counter.Shown, 3);
    counter.Close();
    FeedPictures(video, 3, 3);
    EXPECT_EQ(counter.Created, 1);
    EXPECT_EQ(counter.Shown, 3);
    EXPECT_EQ(video.Run->Link.PreviewFlags() & PreviewWanted, 0);
}

// Switching the preview off during a run closes its window with the next picture, not at the
// end of the run.
TEST_F(VideoPreviewTest, PreviewSwitchedOffClosesTheWindow) {
    TWindowCounter counter;
    SetPreviewWindowFactory(
        [&](std::function<void()>) { return std::make_unique<TCountingWindow>(counter); });
    TVideoPathHarness video(Folder / "switched.nut", 64, 48);
    video.Engine->PreviewFlags = PreviewWanted;
    video.Engine->PreviewIntervalUs = -1;
    video.Open(64, 48);
    FeedPictures(video, 2);
    video.Engine->PreviewFlags = 0;
    FeedPictures(video, 1, 2);
    EXPECT_EQ(counter.Shown, 2);
    EXPECT_EQ(counter.Destroyed, 1);
    EXPECT_EQ(video.Ost.FrameNumber, 3);
}

// Without a window (the command line) previewing ends quietly and the conversion goes on.
TEST_F(VideoPreviewTest, NoWindowEndsPreviewing) {
    TVideoPathHarness video(Folder / "nowindow.nut", 64, 48);
    video.Engine->PreviewFlags = PreviewWanted;
    video.Engine->PreviewIntervalUs = -1;
    video.Open(64, 48);
    FeedPictures(video, 2);
    EXPECT_EQ(video.Run->Link.PreviewFlags(), 0);
    EXPECT_EQ(video.Ost.FrameNumber, 2);
}

// One statistics line per encoded picture, in the statistics file's format.
TEST_F(VideoPreviewTest, StatisticsLinePerPicture) {
    const auto stats = Folder / "vstats.log";
    {
        TVideoPathHarness video(Folder / "stats.nut", 64, 48);
        video.Engine->Options().VstatsFileName = stats.string();
        video.Open(64, 48);
        FeedPictures(video, 3);
        video.Finish();
        video.Run->State.VideoHooks.reset(); // closes the file
    }
    std::ifstream file(stats);
    std::vector<std::string> lines;
    for (std::string line; std::getline(file, line);)
        lines.push_back(line);
    ASSERT_EQ(lines.size(), 3u);
    const std::regex format("frame= +[1-3] q= +[0-9.]+ f_size= +4608 s_size= +[0-9]+kB "
                            "time= [0-9.]+ br= +[0-9.]+kbits/s avg_br= +[0-9.]+kbits/s type= .");
    for (const std::string& line : lines)
        EXPECT_TRUE(std::regex_match(line, format)) << line;
    EXPECT_NE(lines[2].find("time= 0.120"), std::string::npos) << lines[2];
}

// A statistics file that cannot be made ends the run with the file's name.
TEST_F(VideoPreviewTest, StatisticsFileThatCannotBeMade) {
    TVideoPathHarness video(Folder / "nostats.nut", 64, 48);
    video.Engine->Options().VstatsFileName = (Folder / "missing" / "vstats.log").string();
    video.Open(64, 48);
    EXPECT_THROW(
        {
            try {
                FeedPictures(video, 1);
            } catch (const FFmpegException& error) {
                EXPECT_EQ(std::string(error.what()),
                          "fopen fail: " + video.Engine->Options().VstatsFileName);
                throw;
            }
        },
        FFmpegException);
}

// A window that fails ends previewing with a log line; the conversion goes on.
TEST_F(VideoPreviewTest, FailingWindowEndsPreviewingOnly) {
    struct TBrokenWindow : TPreviewWindow {
        void ShowPicture(const TBitmap24&, const std::string&) override {
            throw std::runtime_error("no display");
        }
    };
    SetPreviewWindowFactory(
        [](std::function<void()>) { return std::make_unique<TBrokenWindow>(); });
    TLogCapture log;
    TVideoPathHarness video(Folder / "broken.nut", 64, 48);
    video.Engine->PreviewFlags = PreviewWanted;
    video.Open(64, 48);
    FeedPictures(video, 3);
    EXPECT_EQ(video.Run->Link.PreviewFlags(), 0);
    EXPECT_EQ(video.Ost.FrameNumber, 3);
    EXPECT_TRUE(log.Contains("Preview window failed: no display"));
}
