// The output format table: the audio-only rule as it always was, the names a user can type,
// the format lists of the help page and the README, and the rates each format offers.
#include "component/OutputFormats.h"
#include "ffbind/FFmpegApi.h"
#include "ffbind/TextUtils.h"
#include "support/TestLibs.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <regex>
#include <set>
#include <sstream>
#include <stdexcept>

namespace {

// The format names a document lists between its "<!--formats-->" marks, in lower case and
// sorted; markup and the word "or" are left out.
std::vector<std::string> ListedFormats(const std::string& document) {
    std::ifstream file(std::string(SOUNDPICK_SOURCE_DIR) + "/" + document);
    std::stringstream text;
    text << file.rdbuf();
    const std::string all = text.str();
    const std::size_t start = all.find("<!--formats-->");
    const std::size_t end = all.find("<!--/formats-->");
    if (start == std::string::npos || end < start)
        return {};
    const std::string untagged =
        std::regex_replace(all.substr(start + 14, end - start - 14), std::regex("<[^>]*>"), " ");
    const std::string list = std::regex_replace(untagged, std::regex("[^A-Za-z0-9]+"), " ");
    std::vector<std::string> names;
    std::istringstream words(list);
    for (std::string word; words >> word;)
        if (word != "or")
            names.push_back(LowerCase(word));
    std::sort(names.begin(), names.end());
    return names;
}

} // namespace

// The input's video is read for ogg, m4a, flac, au and ra only, as the old word list had it.
TEST(OutputFormats, AudioOnlyRuleAsBefore) {
    const std::set<std::string> audioOnly = {"aac", "ac3", "mp2",  "mp3",
                                             "wav", "wma", "opus", "original"};
    const std::set<std::string> videoRead = {"ogg", "m4a", "flac", "au", "ra"};
    ASSERT_EQ(OutputFormats().size(), audioOnly.size() + videoRead.size());
    for (const TOutputFormat& format : OutputFormats()) {
        const std::string name = LowerCase(std::string(format.Caption));
        EXPECT_EQ(format.AudioOnly, audioOnly.count(name) == 1) << name;
        EXPECT_EQ(audioOnly.count(name) + videoRead.count(name), 1u) << name;
    }
}

// Each row is found by its caption and by its command-line name in any case: no two rows share
// a name.
TEST(OutputFormats, EveryNameFindsItsRow) {
    for (const TOutputFormat& format : OutputFormats())
        for (std::string_view name : {format.Caption, format.CliName})
            EXPECT_EQ(FindOutputFormat(UpperCase(std::string(name))), &format) << name;
    EXPECT_EQ(FindOutputFormat("copy")->Caption, "Original");
    EXPECT_EQ(FindOutputFormat("mp"), nullptr);
}

// The help page and the README name every format of the table, and no other.
TEST(OutputFormats, HelpPageAndReadmeListEveryFormat) {
    std::vector<std::string> captions;
    for (const TOutputFormat& format : OutputFormats())
        captions.push_back(LowerCase(std::string(format.Caption)));
    std::sort(captions.begin(), captions.end());
    for (const char* document : {"README.md", "app/help/introduction.htm"})
        EXPECT_EQ(ListedFormats(document), captions) << document;
}

// The rates the dialog offers for a format are the ones its encoder lists (all, for encoders
// without a list), as the library tells; a format of one rate offers that one.
TEST(OutputFormats, OfferedRatesAreTheEncodersOwn) {
    EnsureLibsLoaded();
    for (const TOutputFormat& format : OutputFormats()) {
        if (format.StreamCopy)
            continue;
        SCOPED_TRACE(std::string(format.Caption));
        const AVCodec* encoder = nullptr;
        if (!format.AudioCodec.empty()) {
            encoder = ff::avcodec_find_encoder_by_name(std::string(format.AudioCodec).c_str());
        } else {
            const std::string name = "x" + std::string(format.Extension);
            const AVOutputFormat* container = ff::av_guess_format(nullptr, name.c_str(), nullptr);
            ASSERT_NE(container, nullptr);
            encoder = ff::avcodec_find_encoder(
                ff::av_guess_codec(container, nullptr, name.c_str(), nullptr, AVMEDIA_TYPE_AUDIO));
        }
        ASSERT_NE(encoder, nullptr);
        for (const int rateHz : {8000, 11025, 22050, 44100, 48000}) {
            bool listed = !encoder->supported_samplerates;
            for (const int* rate = encoder->supported_samplerates; rate && *rate; ++rate)
                listed = listed || *rate == rateHz;
            const bool expected = format.SampleRateHz > 0 ? rateHz == format.SampleRateHz : listed;
            EXPECT_EQ(TakesSampleRate(format, rateHz), expected) << rateHz;
        }
    }
}
