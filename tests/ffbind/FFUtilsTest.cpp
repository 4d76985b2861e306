// The shared wording of sizes, durations, errors, codecs and media types, and the splitting and
// metadata helpers.
#include "ffbind/FFUtils.h"
#include "support/TestLibs.h"

#include <gtest/gtest.h>

// Sizes switch unit only above each power of 1024.
TEST(FFUtilsTest, SizeTextSwitchesUnitAbovePowersOf1024) {
    EXPECT_EQ(SizeText(0), "0 Byte");
    EXPECT_EQ(SizeText(1024), "1024 Byte");
    EXPECT_EQ(SizeText(1025), "1.00 KB");
    EXPECT_EQ(SizeText(1048576), "1024.00 KB");
    EXPECT_EQ(SizeText(1572864), "1.50 MB");
    EXPECT_EQ(SizeText(1073741824), "1024.00 MB");
    EXPECT_EQ(SizeText(1073741825), "1.00 GB");
    EXPECT_EQ(SizeText(5368709120LL * 1024), "5120.00 GB");
    EXPECT_EQ(SizeText(-1), "-1 Byte");
}

// Hours are not wrapped at 24 and widen past two digits; milliseconds are truncated.
TEST(FFUtilsTest, DurationTextTruncatesAndKeepsLongHours) {
    EXPECT_EQ(DurationText(3723004000LL), "01:02:03.004");
    EXPECT_EQ(DurationText(0), "00:00:00.000");
    EXPECT_EQ(DurationText(360000000000LL), "100:00:00.000");
    EXPECT_EQ(DurationText(999999), "00:00:00.999");
    EXPECT_EQ(DurationText(86400000000LL + 59999999), "24:00:59.999");
}

// Each library error of an open reads as its own text; unlisted codes get the generic one.
TEST(FFUtilsTest, OpenErrorTextMapsLibraryErrors) {
    EXPECT_EQ(OpenErrorText("a.avi", AVERROR(ENOENT)), "a.avi: no such file or directory");
    EXPECT_EQ(OpenErrorText("a.avi", AVERROR_DEMUXER_NOT_FOUND), "a.avi: Unknown format");
    EXPECT_EQ(OpenErrorText("a.avi", AVERROR_INVALIDDATA), "a.avi: Error while parsing header");
    EXPECT_EQ(OpenErrorText("a.avi", AVERROR(EINVAL)), "a.avi: Error while parsing header");
    EXPECT_EQ(OpenErrorText("a.avi", AVERROR(ENOMEM)), "a.avi: memory allocation error occurred");
    EXPECT_EQ(OpenErrorText("a.avi", AVERROR(EIO)),
              "a.avi: I/O error occurred\r\nUsually that means that input file is truncated "
              "and/or corrupted.");
    EXPECT_EQ(OpenErrorText("a.avi", AVERROR(EMFILE)),
              "a.avi: Error while opening file: Too many open files");
    EXPECT_EQ(OpenErrorText("a.avi", AVERROR(ENFILE)),
              "a.avi: Error while opening file: Too many open files in system");
    EXPECT_EQ(OpenErrorText("a.avi", AVERROR(EISDIR)), "a.avi: Error while opening file");
    EXPECT_EQ(OpenErrorText("a.avi", AVERROR_PROTOCOL_NOT_FOUND),
              "a.avi: Error while opening file");
}

// The image-name text keeps its line breaks and its single percent signs, and a name holding
// a percent sign is not read as a format.
TEST(FFUtilsTest, OpenErrorTextKeepsPercentSignsOfTextAndName) {
    EXPECT_EQ(OpenErrorText("img.jpg", AVERROR(EDOM)),
              "img.jpg: Incorrect image filename syntax.\r\n"
              "Use '%d' to specify the image number:\r\n"
              "  for img1.jpg, img2.jpg, ..., use 'img%d.jpg';\r\n"
              "  for img001.jpg, img002.jpg, ..., use 'img%03d.jpg'.");
    EXPECT_EQ(OpenErrorText("100%s.wav", AVERROR(ENOENT)), "100%s.wav: no such file or directory");
}

// Formatting is not cut at any buffer size.
TEST(FFUtilsTest, FormatTextHasNoLengthLimit) {
    EXPECT_EQ(FormatText("%s=%d", "a", 5), "a=5");
    const std::string longText(5000, 'x');
    EXPECT_EQ(FormatText("[%s]", longText.c_str()), "[" + longText + "]");
}

TEST(FFUtilsTest, MediaTypeNames) {
    EXPECT_EQ(MediaTypeName(0), "Video");
    EXPECT_EQ(MediaTypeName(1), "Audio");
    EXPECT_EQ(MediaTypeName(2), "Data");
    EXPECT_EQ(MediaTypeName(3), "Subtitle");
    EXPECT_EQ(MediaTypeName(4), "Attachment");
    EXPECT_EQ(MediaTypeName(7), "Unknown");
    EXPECT_EQ(MediaTypeName(-1), "Unknown");
}

TEST(FFUtilsTest, SplitFirstCutsAtTheFirstDelimiter) {
    std::string source = "a=b=c";
    std::string head;
    EXPECT_TRUE(SplitFirst(source, "=", true, head));
    EXPECT_EQ(head, "a");
    EXPECT_EQ(source, "b=c");

    source = "key::value";
    EXPECT_TRUE(SplitFirst(source, "::", false, head));
    EXPECT_EQ(head, "key");
    EXPECT_EQ(source, "key::value");

    source = "nodelimiter";
    EXPECT_FALSE(SplitFirst(source, "=", true, head));
    EXPECT_EQ(head, "nodelimiter");
    EXPECT_EQ(source, "");

    source = "=tail";
    SplitFirst(source, "=", true, head);
    EXPECT_EQ(head, "");
    EXPECT_EQ(source, "tail");
}

// The library's own error texts, as the command-line tools print them.
TEST(FFUtilsTest, ErrorTextUsesTheLibraryTexts) {
    EnsureLibsLoaded();
    EXPECT_EQ(ErrorText(AVERROR(ENOENT)), "No such file or directory");
    EXPECT_EQ(ErrorText(AVERROR_INVALIDDATA), "Invalid data found when processing input");
    EXPECT_EQ(ErrorText(AVERROR_EOF), "End of file");
}

// Known codecs give short and long name; unknown ones fall back to the tag.
TEST(FFUtilsTest, CodecDescriptionNamesCodecOrTag) {
    EnsureLibsLoaded();
    CodecParametersPtr parameters(ff::avcodec_parameters_alloc());
    ASSERT_TRUE(parameters);

    parameters->codec_id = AV_CODEC_ID_FLAC;
    EXPECT_EQ(CodecDescription(parameters.get(), crDecoder),
              "flac(FLAC (Free Lossless Audio Codec))");
    parameters->codec_id = AV_CODEC_ID_PCM_S16LE;
    EXPECT_EQ(CodecDescription(parameters.get(), crEncoder),
              "pcm_s16le(PCM signed 16-bit little-endian)");
    parameters->codec_id = AV_CODEC_ID_MPEG2TS;
    EXPECT_EQ(CodecDescription(parameters.get(), crDecoder), "mpeg2ts");

    parameters->codec_id = AV_CODEC_ID_NONE;
    parameters->codec_tag = MKTAG('D', 'I', 'V', 'X');
    EXPECT_EQ(CodecDescription(parameters.get(), crDecoder), "DIVX / 0x58564944");
    parameters->codec_tag = 1;
    EXPECT_EQ(CodecDescription(parameters.get(), crDecoder), "0x0001");

    CodecContextPtr context(ff::avcodec_alloc_context3(nullptr));
    ASSERT_TRUE(context);
    context->codec_id = AV_CODEC_ID_MP3;
    EXPECT_EQ(CodecDescription(context.get(), crDecoder).rfind("mp3", 0), 0u);
}

TEST(FFUtilsTest, MetadataValueFallsBackToDefault) {
    EnsureLibsLoaded();
    AVDictionary* raw = nullptr;
    ff::av_dict_set(&raw, "title", "Talk", 0);
    DictionaryPtr dictionary(raw);
    EXPECT_EQ(MetadataValue(dictionary.get(), "TITLE"), "Talk");
    EXPECT_EQ(MetadataValue(dictionary.get(), "artist"), "");
    EXPECT_EQ(MetadataValue(dictionary.get(), "artist", "N/A"), "N/A");
    EXPECT_EQ(MetadataValue(nullptr, "title", "N/A"), "N/A");
}
