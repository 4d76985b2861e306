// The preview window's states, captions and main-thread hand-over, with a recording window.
#include "ffbind/Previewer.h"

#include "ffbind/FFUtils.h"
#include "ffbind/MainThread.h"

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace {

// What the fake windows saw, shared by all of them.
struct TWindowLog {
    int Created = 0;
    int Destroyed = 0;
    std::vector<std::string> Captions;
    std::vector<int> Widths;
    bool AllOnMainThread = true;
    std::function<void()> CloseLatest; // the user's close button of the newest window
};

class TFakeWindow : public TPreviewWindow {
public:
    explicit TFakeWindow(TWindowLog& log) : Log(log) { ++Log.Created; }
    ~TFakeWindow() override {
        ++Log.Destroyed;
        Log.AllOnMainThread = Log.AllOnMainThread && IsMainThread();
    }
    void ShowPicture(const TBitmap24& picture, const std::string& caption) override {
        Log.AllOnMainThread = Log.AllOnMainThread && IsMainThread();
        Log.Captions.push_back(caption);
        Log.Widths.push_back(picture.Width());
    }

private:
    TWindowLog& Log;
};

class PreviewerTest : public ::testing::Test {
protected:
    void SetUp() override {
        SetPreviewWindowFactory([this](std::function<void()> onClosed) {
            Log.CloseLatest = std::move(onClosed);
            return std::make_unique<TFakeWindow>(Log);
        });
    }
    void TearDown() override { SetPreviewWindowFactory(nullptr); }

    TWindowLog Log;
    TBitmap24 Picture{320, 240};
};

} // namespace

// The first picture makes the window; captions show the picture time or N/A.
TEST_F(PreviewerTest, FirstPictureOpensWindowAndCaptionsShowTime) {
    {
        TPreviewer previewer;
        EXPECT_EQ(Log.Created, 0);
        EXPECT_TRUE(previewer.ShowPicture(Picture, 1, 3723004000));
        EXPECT_TRUE(previewer.ShowPicture(Picture, 2, AV_NOPTS_VALUE));
        EXPECT_TRUE(previewer.ShowPicture(Picture, 3, 0));
        EXPECT_EQ(Log.Created, 1);
        EXPECT_EQ(Log.Captions, (std::vector<std::string>{"01:02:03.004", "N/A", "00:00:00.000"}));
        EXPECT_EQ(Log.Widths.front(), 320);
    }
    EXPECT_EQ(Log.Destroyed, 1);
}

// After the user closes the window, pictures are refused and no window reappears.
TEST_F(PreviewerTest, ClosedWindowIsNotReopened) {
    TPreviewer previewer;
    ASSERT_TRUE(previewer.ShowPicture(Picture, 1, 0));
    Log.CloseLatest();
    EXPECT_TRUE(previewer.Closed());
    EXPECT_FALSE(previewer.ShowPicture(Picture, 2, 40000));
    EXPECT_FALSE(previewer.ShowPicture(Picture, 3, 80000));
    EXPECT_EQ(Log.Created, 1);
    EXPECT_EQ(Log.Captions.size(), 1u);
}

// Without an installed window (the command line) previewing ends at the first picture.
TEST_F(PreviewerTest, NoWindowFactoryEndsPreviewing) {
    SetPreviewWindowFactory(nullptr);
    TPreviewer previewer;
    EXPECT_FALSE(previewer.ShowPicture(Picture, 1, 0));
    EXPECT_TRUE(previewer.Closed());
}

// A worker's pictures are painted on the main thread, the worker waiting; so is the clean-up.
// Repeated with a close in the middle so that a close racing the worker never hangs.
TEST_F(PreviewerTest, WorkerPicturesArePaintedOnMainThread) {
    for (int round = 0; round < 20; ++round) {
        std::atomic<bool> done{false};
        std::atomic<int> shown{0};
        std::thread worker([&] {
            {
                TPreviewer previewer;
                for (int i = 0; i < 10; ++i)
                    if (previewer.ShowPicture(Picture, i, i * 40000))
                        ++shown;
            } // its window goes on the main thread, which must still be serving then
            done = true;
        });
        int served = 0;
        WaitServingMainThread(
            [&] {
                if (++served == 5 && Log.CloseLatest)
                    Log.CloseLatest();
                return done.load();
            },
            std::chrono::milliseconds(1));
        worker.join();
        EXPECT_LE(shown.load(), 10);
    }
    EXPECT_TRUE(Log.AllOnMainThread);
    EXPECT_EQ(Log.Created, Log.Destroyed);
}
