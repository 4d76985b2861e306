// The picture converter against pictures converted by the ffmpeg tool, and the layout of our
// 24-bit bitmap.
#include "TempFolder.h"
#include "ffbind/FFUtils.h"
#include "support/TestLibs.h"
#include "support/TestMedia.h"

#include <gtest/gtest.h>

#include <cstdlib>

namespace {

constexpr int Width = 62; // rows of 186 bytes, padded to 188 in the bitmap
constexpr int Height = 46;

std::string Size() {
    return std::to_string(Width) + "x" + std::to_string(Height);
}

// Runs the ffmpeg tool with the given input arguments and returns the raw picture it makes in a
// pixel format.
std::string RawPicture(const TTempFolder& folder, const std::string& input,
                       const char* pixelFormat) {
    const auto path = folder / (std::string(pixelFormat) + ".raw");
    int exitCode = -1;
    RunCommand("ffmpeg -v error -nostdin -y " + input + " -frames:v 1 -sws_flags bicubic " +
                   "-pix_fmt " + pixelFormat + " -f rawvideo " + ShellQuote(path.string()),
               &exitCode);
    EXPECT_EQ(exitCode, 0);
    return ReadWholeFile(path);
}

// The test picture in a pixel format.
std::string TestPicture(const TTempFolder& folder, const char* pixelFormat) {
    return RawPicture(folder, "-f lavfi -i testsrc=size=" + Size() + ":rate=1", pixelFormat);
}

// Largest difference between the bitmap's picture bytes and a packed BGR24 picture.
int LargestDifference(const TBitmap24& bitmap, const std::string& bgr) {
    int largest = 0;
    for (int y = 0; y < bitmap.Height(); ++y)
        for (int x = 0; x < bitmap.Width() * 3; ++x)
            largest = std::max(
                largest, std::abs(int(bitmap.Row(y)[x]) - int(uint8_t(bgr[y * Width * 3 + x]))));
    return largest;
}

} // namespace

TEST(PictureConverterTest, BitmapRowsArePaddedToFourBytes) {
    TBitmap24 bitmap(Width, Height);
    EXPECT_EQ(bitmap.Stride(), 188);
    EXPECT_EQ(bitmap.Row(1) - bitmap.Row(0), 188);
    EXPECT_EQ(bitmap.Row(Height - 1) + bitmap.Stride(), bitmap.Data() + 188 * Height);
    EXPECT_EQ(TBitmap24(4, 1).Stride(), 12);
    EXPECT_EQ(TBitmap24(1, 1).Stride(), 4);
}

// A planar YUV picture converted by us matches ffmpeg's own BGR24 conversion of it.
TEST(PictureConverterTest, ConvertsYuvLikeTheFfmpegTool) {
    EnsureLibsLoaded();
    TTempFolder folder;
    const std::string yuv = TestPicture(folder, "yuv420p");
    const std::string bgr = RawPicture(folder,
                                       "-f rawvideo -pix_fmt yuv420p -s " + Size() + " -i " +
                                           ShellQuote((folder / "yuv420p.raw").string()),
                                       "bgr24");
    ASSERT_EQ(bgr.size(), std::size_t(Width * Height * 3));
    const int chromaWidth = (Width + 1) / 2;
    const int chromaHeight = (Height + 1) / 2;
    ASSERT_EQ(yuv.size(), std::size_t(Width * Height + 2 * chromaWidth * chromaHeight));
    auto* base = reinterpret_cast<const uint8_t*>(yuv.data());
    const uint8_t* planes[4] = {base, base + Width * Height,
                                base + Width * Height + chromaWidth * chromaHeight, nullptr};
    const int linesizes[4] = {Width, chromaWidth, chromaWidth, 0};

    TPictureConverter converter;
    ASSERT_TRUE(ConvertPicture(converter, planes, linesizes, AV_PIX_FMT_YUV420P, Height, Width));
    ASSERT_TRUE(converter.Bitmap);
    EXPECT_EQ(converter.Bitmap->Width(), Width);
    EXPECT_EQ(converter.Bitmap->Height(), Height);
    EXPECT_LE(LargestDifference(*converter.Bitmap, bgr), 3);
    EXPECT_EQ(converter.Bitmap->Row(0)[Width * 3], 0); // the padding stays clear

    // A second call reuses the scaler and buffer.
    SwsContext* scaler = converter.Scaler.get();
    ASSERT_TRUE(ConvertPicture(converter, planes, linesizes, AV_PIX_FMT_YUV420P, Height, Width));
    EXPECT_EQ(converter.Scaler.get(), scaler);
    EXPECT_LE(LargestDifference(*converter.Bitmap, bgr), 3);
}

// A BGR24 picture whose library lines are longer than a bitmap row is copied without scaling
// and without writing past the rows.
TEST(PictureConverterTest, CopiesBgrPictureWithLongLines) {
    EnsureLibsLoaded();
    TTempFolder folder;
    const std::string bgr = TestPicture(folder, "bgr24");
    const int linesize = Width * 3 + 64;
    std::string padded(std::size_t(linesize) * Height, '\x7f');
    for (int y = 0; y < Height; ++y)
        padded.replace(std::size_t(y) * linesize, Width * 3, bgr, std::size_t(y) * Width * 3,
                       Width * 3);
    const uint8_t* planes[4] = {reinterpret_cast<const uint8_t*>(padded.data())};
    const int linesizes[4] = {linesize};

    TPictureConverter converter;
    ASSERT_TRUE(ConvertPicture(converter, planes, linesizes, AV_PIX_FMT_BGR24, Height, Width));
    EXPECT_EQ(LargestDifference(*converter.Bitmap, bgr), 0);
    EXPECT_FALSE(converter.Scaler);
}

TEST(PictureConverterTest, ResetReturnsToInitialStateAndBadFormatFails) {
    EnsureLibsLoaded();
    std::string gray(Width * Height, '\x40');
    const uint8_t* planes[4] = {reinterpret_cast<const uint8_t*>(gray.data())};
    const int linesizes[4] = {Width};
    TPictureConverter converter;
    ASSERT_TRUE(ConvertPicture(converter, planes, linesizes, AV_PIX_FMT_GRAY8, Height, Width));
    EXPECT_EQ(converter.Bitmap->Row(Height - 1)[0], 0x40);

    converter.TargetFormat = AV_PIX_FMT_RGB24;
    ResetPictureConverter(converter);
    EXPECT_FALSE(converter.Bitmap);
    EXPECT_FALSE(converter.Buffer);
    EXPECT_FALSE(converter.Scaler);
    EXPECT_EQ(converter.BufferSize, 0);
    EXPECT_EQ(converter.TargetFormat, AV_PIX_FMT_BGR24);
    EXPECT_EQ(converter.PictureData[0], nullptr);

    EXPECT_FALSE(ConvertPicture(converter, planes, linesizes, AV_PIX_FMT_NONE, Height, Width));
    EXPECT_FALSE(ConvertPicture(converter, planes, linesizes, AV_PIX_FMT_GRAY8, 0, Width));
}
