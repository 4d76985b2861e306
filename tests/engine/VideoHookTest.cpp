// The picture hooks of the video path: the hook action chosen by OnBeforeHook or the hook time
// ranges, the loadable hook chain (a counting module and the sample invert module) and
// OnCustomHook with its bitmap and the way back.
#include "VideoPathHarness.h"

#include "RunHarness.h"
#include "ffbind/FFUtils.h"
#include "support/TestLibs.h"

#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstring>
#include <stdexcept>

namespace {

constexpr int64_t Second = 1000000;

std::string CountingModule() {
    return (ExecutableFolder() / "testhooks" / "testhook_full.so").string();
}
std::string InvertModule() {
    return (ExecutableFolder() / "vhook" / "invert.so").string();
}

// How many pictures the counting module has processed so far (it counts for the process).
int CountedPictures() {
    void* handle = dlopen(CountingModule().c_str(), RTLD_NOW | RTLD_NOLOAD);
    if (!handle)
        return 0;
    const int count = *static_cast<int*>(dlsym(handle, "TestHookProcesses"));
    dlclose(handle);
    return count;
}

class VideoHookTest : public ::testing::Test {
protected:
    // A harness whose engine runs the given hook module, as the `vhook` option sets it up.
    std::unique_ptr<TVideoPathHarness> Hooked(const std::string& name, const std::string& module) {
        auto video = std::make_unique<TVideoPathHarness>(Folder / name, 64, 48);
        video->Engine->SetOption("vhook", module);
        EXPECT_TRUE(video->Engine->Options().UsingVhook);
        return video;
    }
    TTempFolder Folder;
};

} // namespace

// haIgnore leaves out one picture; haStop ends hooking and OnBeforeHook is not asked again.
TEST_F(VideoHookTest, BeforeHookIgnoresOnePictureAndStopsHooking) {
    auto video = Hooked("before.nut", CountingModule());
    std::vector<int64_t> asked;
    video->Engine->OnBeforeHook = [&](TCustomFFmpeg*, int64_t pts, THookAction& action) {
        asked.push_back(pts);
        action = asked.size() == 2 ? haIgnore : asked.size() == 4 ? haStop : haContinue;
    };
    video->Open(64, 48);
    const int before = CountedPictures();
    for (int i = 0; i < 6; ++i)
        video->Feed(MakePicture(64, 48, 50).get(), i * 40000);
    EXPECT_EQ(CountedPictures() - before, 2); // pictures 1 and 3
    EXPECT_EQ(asked, (std::vector<int64_t>{0, 40000, 80000, 120000}));
    EXPECT_FALSE(video->Run->Link.UsingVhook());
}

// A handler that raises ends hooking with its message in the log.
TEST_F(VideoHookTest, BeforeHookErrorEndsHooking) {
    TLogCapture log;
    auto video = Hooked("raise.nut", CountingModule());
    video->Engine->OnBeforeHook = [](TCustomFFmpeg*, int64_t, THookAction&) {
        throw std::runtime_error("no decision");
    };
    video->Open(64, 48);
    const int before = CountedPictures();
    video->Feed(MakePicture(64, 48, 50).get(), 0);
    video->Feed(MakePicture(64, 48, 50).get(), 40000);
    EXPECT_EQ(CountedPictures(), before);
    EXPECT_TRUE(log.Contains("Error occurs OnBeforeHook: no decision"));
    EXPECT_EQ(log.LevelOf("Error occurs OnBeforeHook"), llError);
}

// Ranges 0-1 s and 5-6 s: pictures between them are not hooked; after 6 s hooking ends.
TEST_F(VideoHookTest, HookTimeRangesChooseThePictures) {
    auto video = Hooked("ranges.nut", CountingModule());
    video->Engine->Options().HookTimeRanges = {{0, 1 * Second}, {5 * Second, 6 * Second}};
    video->Engine->Options().VideoSyncMethod = 0;
    video->Open(64, 48);
    const int before = CountedPictures();
    const int64_t times[] = {0,         Second / 2, 2 * Second, 4 * Second, 5 * Second + Second / 2,
                             6 * Second};
    for (int64_t time : times)
        video->Feed(MakePicture(64, 48, 50).get(), time);
    EXPECT_EQ(CountedPictures() - before, 4);
    EXPECT_TRUE(video->Run->Link.UsingVhook());
    video->Feed(MakePicture(64, 48, 50).get(), 6 * Second + Second / 10);
    EXPECT_FALSE(video->Run->Link.UsingVhook());
    video->Feed(MakePicture(64, 48, 50).get(), 7 * Second);
    EXPECT_EQ(CountedPictures() - before, 4);
}

// The sample module inverts exactly the pictures of the hooked period.
TEST_F(VideoHookTest, SampleModuleChangesTheHookedPeriodOnly) {
    const auto file = Folder / "invert.nut";
    {
        auto video = Hooked("invert.nut", InvertModule());
        video->Engine->Options().HookTimeRanges = {{200000, 400000}};
        video->Open(64, 48);
        for (int i = 0; i < 12; ++i)
            video->Feed(MakePicture(64, 48, 50).get(), i * 40000);
        video->Finish();
    }
    const TGreyPictures pictures = DecodeGrey(file);
    ASSERT_EQ(pictures.Frames.size(), 12u);
    for (int i = 0; i < 12; ++i) {
        const bool hooked = i >= 5 && i <= 10;
        EXPECT_EQ(pictures.At(i, 10, 10), hooked ? 205 : 50) << "picture " << i;
    }
}

// OnCustomHook gets the picture as a bitmap with its number and time; what it paints comes
// back into the picture; a raising handler leaves the picture alone; AStopHook ends hooking.
TEST_F(VideoHookTest, CustomHookPaintsThePicture) {
    TLogCapture log;
    const auto file = Folder / "custom.nut";
    std::vector<int> numbers;
    {
        TVideoPathHarness video(file, 64, 48);
        video.Engine->OnCustomHook = [&](TCustomFFmpeg*, TBitmap24& bitmap, int number, int64_t pts,
                                         bool& update, bool& stop) {
            numbers.push_back(number);
            EXPECT_EQ(bitmap.Width(), 64);
            EXPECT_EQ(bitmap.Height(), 48);
            EXPECT_EQ(pts, (number - 1) * 40000);
            if (number == 2)
                throw std::runtime_error("brush broke");
            if (number == 3)
                update = false;
            for (int y = 0; y < bitmap.Height(); ++y) // white left half
                std::memset(bitmap.Row(y), 255, bitmap.Width() / 2 * 3);
            stop = number == 4;
        };
        video.Open(64, 48);
        for (int i = 0; i < 6; ++i)
            video.Feed(MakePicture(64, 48, 60).get(), i * 40000);
        EXPECT_FALSE(video.Run->Link.HasCustomHook());
        video.Finish();
    }
    EXPECT_EQ(numbers, (std::vector<int>{1, 2, 3, 4}));
    EXPECT_TRUE(log.Contains("Error occurs OnCustomHook: brush broke"));
    const TGreyPictures pictures = DecodeGrey(file);
    ASSERT_EQ(pictures.Frames.size(), 6u);
    const bool painted[] = {true, false, false, true, false, false};
    for (int i = 0; i < 6; ++i) {
        EXPECT_NEAR(pictures.At(i, 5, 5), painted[i] ? 235 : 60, 3) << "picture " << i;
        EXPECT_NEAR(pictures.At(i, 60, 5), 60, 3) << "picture " << i;
    }
}

// Deinterlacing removes the comb of a picture whose two fields differ.
TEST_F(VideoHookTest, DeinterlaceBlendsTheFields) {
    const auto file = Folder / "deinterlace.nut";
    {
        TVideoPathHarness video(file, 64, 48);
        video.Engine->Options().Deinterlace = true;
        video.Open(64, 48);
        FramePtr combed = MakePicture(64, 48, 0);
        for (int y = 1; y < 48; y += 2)
            std::memset(combed->data[0] + y * combed->linesize[0], 200, 64);
        video.Feed(combed.get(), 0);
        video.Finish();
    }
    const TGreyPictures pictures = DecodeGrey(file);
    ASSERT_EQ(pictures.Frames.size(), 1u);
    for (int y = 8; y < 16; ++y)
        EXPECT_NEAR(pictures.At(0, 20, y), pictures.At(0, 20, y + 1), 30) << "row " << y;
}
