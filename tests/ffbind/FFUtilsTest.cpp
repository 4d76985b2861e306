// The shared wording of sizes, durations, errors, codecs and media types, and the splitting and
// metadata helpers.
#include "ffbind/FFUtils.h"
#include "ffbind/FFmpegLogger.h"
#include "ffbind/TextUtils.h"
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

// Each library error of an open reads as its own text; unlisted codes get the generic one with
// the library's reason.
TEST(FFUtilsTest, OpenErrorTextMapsLibraryErrors) {
    const std::string unreadable = "a.avi is not a sound or video file this program can read "
                                   "(damaged, empty or of an unknown kind).";
    const std::pair<int, std::string> cases[] = {
        {AVERROR(ENOENT), "a.avi: no such file or directory"},
        {AVERROR_DEMUXER_NOT_FOUND, unreadable},
        {AVERROR_INVALIDDATA, unreadable},
        {AVERROR(EINVAL), unreadable},
        {AVERROR(EISDIR), "a.avi is a folder"},
        {AVERROR(ESPIPE), "a.avi is not a regular file"},
        {AVERROR(ENOMEM), "a.avi: memory allocation error occurred"},
        {AVERROR(EIO), "a.avi: I/O error occurred. Usually that means that the input file is "
                       "truncated and/or corrupted."},
        {AVERROR(EMFILE), "a.avi: Error while opening file: Too many open files"},
        {AVERROR(ENFILE), "a.avi: Error while opening file: Too many open files in system"},
        {AVERROR(EACCES), "a.avi: Error while opening file: Permission denied"},
        {AVERROR_PATCHWELCOME, "a.avi uses a variant of its format that this program cannot read"},
    };
    EnsureLibsLoaded();
    ClearLibraryError(); // the library named nothing it lacks
    for (const auto& [code, text] : cases)
        EXPECT_EQ(OpenErrorText("a.avi", code), text) << code;
}

// A message is one line: runs of control characters become one blank, none at the ends.
TEST(FFUtilsTest, OneLineTextHasNoControlCharacters) {
    EXPECT_EQ(OneLineText("a: I/O error\r\nUsually\tso.\r\n"), "a: I/O error Usually so.");
    EXPECT_EQ(OneLineText("\x1b[2Jplain\x7f"), "[2Jplain");
    EXPECT_EQ(OneLineText("caf\xc3\xa9"), "caf\xc3\xa9");
}

// A number is the whole text: no blanks, signs only where the type has them, nothing that
// overflows.
TEST(FFUtilsTest, WholeIntegerTakesOnlyTheWholeText) {
    const struct {
        const char* Text;
        std::optional<int> Value;
    } cases[] = {
        {"42", 42},        {"-7", -7}, {"007", 7}, {"", std::nullopt}, {" 4", {}},
        {"4 ", {}},        {"+4", {}}, {"4x", {}}, {"3/12", {}},       {"2147483647", 2147483647},
        {"2147483648", {}}};
    for (const auto& c : cases)
        EXPECT_EQ(WholeInteger<int>(c.Text), c.Value) << '"' << c.Text << '"';
    EXPECT_EQ(WholeInteger<unsigned>("-1"), std::nullopt);
    EXPECT_EQ(WholeInteger<long long>("9000000000"), 9000000000LL);
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
