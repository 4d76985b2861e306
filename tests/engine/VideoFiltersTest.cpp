// The picture geometry of the video path: the user's filter chain, crop and pad with their
// conflicts, the pad colour, and a change of the input size in the middle of a stream.
#include "VideoPathHarness.h"

#include "RunHarness.h"
#include "support/TestMedia.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>

namespace {

class VideoFiltersTest : public ::testing::Test {
protected:
    // Codes pictures into a file of the folder: a harness taking inWidth x inHeight pictures,
    // with the engine set up by setUp, opened at the output size and fed by feed. The pictures
    // ffmpeg decodes from that file.
    TGreyPictures Code(const std::string& name, int inWidth, int inHeight, int outWidth,
                       int outHeight, const std::function<void(TCustomFFmpeg&)>& setUp,
                       const std::function<void(TVideoPathHarness&)>& feed) {
        const auto file = Folder / name;
        {
            TVideoPathHarness video(file, inWidth, inHeight);
            setUp(*video.Engine);
            video.Open(outWidth, outHeight);
            feed(video);
            video.Finish();
        }
        return DecodeGrey(file);
    }
    TTempFolder Folder;
};

// The text of the set-up failure of a harness with the given engine settings.
template <typename TSetUp> std::string OpenFailure(TVideoPathHarness& video, TSetUp setUp) {
    setUp(*video.Engine);
    try {
        video.Open(64, 48);
    } catch (const FFmpegException& error) {
        return error.what();
    }
    return "";
}

} // namespace

// Crop options and filters exclude each other, and so do pads and a resizing filter.
TEST_F(VideoFiltersTest, ConflictingOptionsAreRefused) {
    TVideoPathHarness crop(Folder / "crop.nut", 64, 48);
    EXPECT_EQ(OpenFailure(crop,
                          [](TCustomFFmpeg& e) {
                              e.Options().CropTop = 8;
                              e.Options().VideoFilters = "hflip";
                          }),
              "Error opening filters: Cannot enable crop options and filters at the same time.");
    TVideoPathHarness pad(Folder / "pad.nut", 64, 48);
    EXPECT_EQ(OpenFailure(pad,
                          [](TCustomFFmpeg& e) {
                              e.Options().PadTop = 8;
                              e.Options().VideoFilters = "scale=32:24";
                          }),
              "Error opening filters: Cannot enable pad options and the filters which resize "
              "frame at the same time. (crop, rotate, scale, transpose, etc.)");
    TVideoPathHarness bad(Folder / "bad.nut", 64, 48);
    EXPECT_EQ(
        OpenFailure(bad, [](TCustomFFmpeg& e) { e.Options().VideoFilters = "no_such_filter"; }),
        "Error opening filters!");
}

// "hflip" mirrors every picture.
TEST_F(VideoFiltersTest, HflipMirrorsThePicture) {
    const TGreyPictures pictures = Code(
        "hflip.nut", 64, 48, 64, 48,
        [](TCustomFFmpeg& engine) { engine.Options().VideoFilters = "hflip"; },
        [](TVideoPathHarness& video) {
            for (int i = 0; i < 3; ++i)
                video.Feed(MakePicture(64, 48, 40, 200).get(), i * 40000);
        });
    ASSERT_EQ(pictures.Frames.size(), 3u);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(pictures.At(i, 2, 10), 200);
        EXPECT_EQ(pictures.At(i, 61, 10), 40);
    }
}

// A filter that resizes sets the encoder's size; a size the filters do not give is scaled to.
TEST_F(VideoFiltersTest, FiltersSetAndScaleToTheEncoderSize) {
    TVideoPathHarness resized(Folder / "resized.nut", 64, 48);
    resized.Engine->Options().VideoFilters = "crop=32:24:0:0";
    resized.Open(64, 48);
    EXPECT_EQ(resized.Ost.Enc->width, 32);
    EXPECT_EQ(resized.Ost.Enc->height, 24);

    const TGreyPictures pictures = Code(
        "scaled.nut", 64, 48, 128, 96,
        [](TCustomFFmpeg& engine) { engine.Options().VideoFilters = "hflip"; },
        [](TVideoPathHarness& video) { video.Feed(MakePicture(64, 48, 40, 200).get(), 0); });
    ASSERT_EQ(pictures.Frames.size(), 1u);
    EXPECT_EQ(pictures.Width, 128);
    EXPECT_NEAR(pictures.At(0, 10, 50), 200, 3);
    EXPECT_NEAR(pictures.At(0, 118, 50), 40, 3);
}

// Crop bands cut the picture and pad bands frame it in the pad colour, at the encoder's size.
TEST_F(VideoFiltersTest, CropAndPadGiveTheSizeAndBorder) {
    auto setUp = [](TCustomFFmpeg& engine) {
        engine.Options().CropTop = engine.Options().CropBottom = engine.Options().CropLeft =
            engine.Options().CropRight = 8;
        engine.Options().PadTop = engine.Options().PadBottom = engine.Options().PadLeft =
            engine.Options().PadRight = 8;
        engine.Options().PadColor[0] = 180;
    };
    // A picture whose 8-pixel frame is bright: cropping must remove it all.
    auto feed = [](TVideoPathHarness& video) {
        FramePtr picture = MakePicture(64, 48, 250);
        for (int y = 8; y < 40; ++y)
            std::memset(picture->data[0] + y * picture->linesize[0] + 8, 60, 48);
        video.Feed(picture.get(), 0);
    };
    const TGreyPictures pictures = Code("croppad.nut", 64, 48, 64, 48, setUp, feed);
    ASSERT_EQ(pictures.Frames.size(), 1u);
    EXPECT_EQ(pictures.Width, 64);
    EXPECT_EQ(pictures.Height, 48);
    for (int x : {0, 7, 56, 63})
        EXPECT_EQ(pictures.At(0, x, 20), 180) << "x " << x;
    for (int y : {0, 7, 40, 47})
        EXPECT_EQ(pictures.At(0, 30, y), 180) << "y " << y;
    for (int y : {8, 20, 39})
        for (int x : {8, 30, 55})
            EXPECT_EQ(pictures.At(0, x, y), 60) << x << "," << y;
}

// A larger input picture mid-stream is reported and rescaled, its crop bands scaled with it.
TEST_F(VideoFiltersTest, SizeChangeRebuildsTheScaler) {
    TLogCapture log;
    // A picture of the given size with a bright frame of an eighth of its height all round.
    auto framed = [](int width, int height) {
        FramePtr picture = MakePicture(width, height, 250);
        const int band = height / 6;
        for (int y = band; y < height - band; ++y)
            std::memset(picture->data[0] + y * picture->linesize[0] + band, 60, width - 2 * band);
        return picture;
    };
    const TGreyPictures pictures = Code(
        "change.nut", 96, 72, 72, 48,
        [](TCustomFFmpeg& engine) {
            engine.Options().CropTop = engine.Options().CropBottom = engine.Options().CropLeft =
                engine.Options().CropRight = 12;
        },
        [&](TVideoPathHarness& video) {
            video.Feed(framed(96, 72).get(), 0);
            video.Feed(framed(192, 144).get(), 40000);
        });
    EXPECT_TRUE(log.Contains("Input Stream #0.0 frame size changed to 192x144, yuv420p"));
    EXPECT_EQ(log.LevelOf("frame size changed"), llQuiet);
    ASSERT_EQ(pictures.Frames.size(), 2u);
    EXPECT_EQ(pictures.Width, 72);
    for (int frame = 0; frame < 2; ++frame)
        for (int x : {1, 36, 70})
            for (int y : {1, 24, 46})
                EXPECT_NEAR(pictures.At(frame, x, y), 60, 8) << frame << ":" << x << "," << y;
}

// With filters, pads frame the filtered picture.
TEST_F(VideoFiltersTest, PadsFrameTheFilteredPicture) {
    const TGreyPictures pictures = Code(
        "filterpad.nut", 64, 48, 80, 48,
        [](TCustomFFmpeg& engine) {
            engine.Options().VideoFilters = "hflip";
            engine.Options().PadLeft = engine.Options().PadRight = 8;
            engine.Options().PadColor[0] = 30;
        },
        [](TVideoPathHarness& video) { video.Feed(MakePicture(64, 48, 100, 200).get(), 0); });
    ASSERT_EQ(pictures.Frames.size(), 1u);
    EXPECT_EQ(pictures.Width, 80);
    EXPECT_EQ(pictures.At(0, 3, 20), 30);
    EXPECT_EQ(pictures.At(0, 10, 20), 200);
    EXPECT_EQ(pictures.At(0, 69, 20), 100);
    EXPECT_EQ(pictures.At(0, 76, 20), 30);
}

// An odd picture size cannot be coded with halved chroma: the encoder gets the nearest even
// size and the picture is scaled to it.
TEST_F(VideoFiltersTest, OddSizeBecomesEven) {
    const TGreyPictures pictures = Code(
        "odd.nut", 63, 47, 63, 47, [](TCustomFFmpeg&) {},
        [](TVideoPathHarness& video) {
            EXPECT_EQ(video.Ost.Enc->width, 64);
            EXPECT_EQ(video.Ost.Enc->height, 48);
            video.Feed(MakePicture(63, 47, 90).get(), 0);
        });
    ASSERT_EQ(pictures.Frames.size(), 1u);
    EXPECT_EQ(pictures.Width, 64);
    EXPECT_NEAR(pictures.At(0, 63, 47), 90, 3);
}
