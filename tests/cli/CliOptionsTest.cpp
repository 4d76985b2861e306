// soundpick-cli's command line: values, defaults and usage errors.
#include "cli/CliOptions.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

TCliParse Parse(const std::vector<const char*>& args) {
    std::vector<std::string> texts = {"soundpick-cli"};
    texts.insert(texts.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& text : texts)
        argv.push_back(text.data());
    return ParseCliOptions(static_cast<int>(argv.size()), argv.data());
}

} // namespace

// Long and short forms, "=" and separate values, files anywhere, "--" ending the options.
TEST(CliOptions, FormsAndValues) {
    const TCliParse parse = Parse({"-f",
                                   "FLAC",
                                   "a.mp4",
                                   "--rate=44100",
                                   "-cmono",
                                   "--volume",
                                   "128",
                                   "-b",
                                   "96",
                                   "--start",
                                   "1.5",
                                   "--end=3",
                                   "-o",
                                   "/tmp",
                                   "--overwrite",
                                   "--copy-timestamp",
                                   "-j",
                                   "3",
                                   "--option",
                                   "ac=1",
                                   "--json",
                                   "--no-split",
                                   "--name",
                                   "{artist}/{title}",
                                   "--update",
                                   "--shard",
                                   "2/5",
                                   "--report=r.jsonl",
                                   "--copy-images",
                                   "--",
                                   "-odd name.mp4"});
    ASSERT_EQ(parse.Error, "");
    const TCliOptions& o = parse.Options;
    EXPECT_EQ(o.Format, fmFlac);
    EXPECT_EQ(o.SampleRateHz, 44100);
    EXPECT_EQ(o.Channels, 1);
    EXPECT_EQ(o.Volume, 128);
    EXPECT_EQ(o.BitRateKbps, 96);
    EXPECT_DOUBLE_EQ(*o.StartSeconds, 1.5);
    EXPECT_DOUBLE_EQ(*o.EndSeconds, 3.0);
    EXPECT_EQ(o.OutputFolder, "/tmp");
    EXPECT_TRUE(o.Overwrite);
    EXPECT_TRUE(o.CopyTimestamp);
    EXPECT_EQ(o.Jobs, 3);
    EXPECT_EQ(o.ExtraOptions, (std::vector<std::string>{"ac=1"}));
    EXPECT_TRUE(o.Json);
    EXPECT_TRUE(o.NoSplit);
    EXPECT_EQ(o.NameTemplate, "{artist}/{title}");
    EXPECT_TRUE(o.Update && o.CopyImages);
    EXPECT_EQ(o.Shard, "2/5");
    EXPECT_EQ(o.ReportFile, "r.jsonl");
    EXPECT_EQ(o.Files, (std::vector<std::string>{"a.mp4", "-odd name.mp4"}));
}

// "copy" names the format that keeps the sound; captions in any case.
TEST(CliOptions, FormatNames) {
    for (const auto& [name, format] : std::vector<std::pair<const char*, TOutputFormatId>>{
             {"copy", fmCopy}, {"Original", fmCopy}, {"OPUS", fmOpus}}) {
        const TCliParse parse = Parse({"-f", name, "-r", "auto", "a.mp4"});
        ASSERT_EQ(parse.Error, "") << name;
        EXPECT_EQ(parse.Options.Format, format);
    }
}

// Without options: mp3, automatic rate and channels, beside the input, one job per processor.
TEST(CliOptions, Defaults) {
    const TCliParse parse = Parse({"a.wav"});
    ASSERT_EQ(parse.Error, "");
    EXPECT_EQ(parse.Options.Format, fmMp3);
    EXPECT_FALSE(parse.Options.SampleRateHz);
    EXPECT_FALSE(parse.Options.Channels);
    EXPECT_FALSE(parse.Options.Volume);
    EXPECT_FALSE(parse.Options.StartSeconds);
    EXPECT_TRUE(parse.Options.OutputFolder.empty());
    EXPECT_GE(parse.Options.Jobs, 1);
    EXPECT_FALSE(parse.Options.NoSplit);
}

// The silence level is optional: a next argument that is no level is a file.
TEST(CliOptions, TrimSilenceTakesAnOptionalLevel) {
    const std::vector<std::pair<std::vector<const char*>, double>> cases = {
        {{"--trim-silence", "a.wav"}, -50},
        {{"--trim-silence", "-40", "a.wav"}, -40},
        {{"--trim-silence=-60.5", "a.wav"}, -60.5},
        {{"a.wav", "--trim-silence"}, -50},
    };
    for (const auto& [args, levelDb] : cases) {
        const TCliParse parse = Parse(args);
        ASSERT_EQ(parse.Error, "") << args[0];
        ASSERT_TRUE(parse.Options.TrimSilenceDb);
        EXPECT_DOUBLE_EQ(*parse.Options.TrimSilenceDb, levelDb);
        EXPECT_EQ(parse.Options.Files, std::vector<std::string>{"a.wav"});
    }
}

// Each bad command line is refused with a reason.
TEST(CliOptions, UsageErrors) {
    const std::vector<std::vector<const char*>> bad = {
        {},
        {"-f", "xyz", "a"},
        {"--rate", "0", "a"},
        {"-c", "surround", "a"},
        {"--volume", "-3", "a"},
        {"-b", "12k", "a"},
        {"--start", "abc", "a"},
        {"--start", "-1", "a"},
        {"--start", "5", "--end", "2", "a"},
        {"--start", "5", "--end", "5.0004", "a"}, // less than the millisecond clips are cut to
        {"--end", "0", "a"},
        {"--start", "1e300", "a"},
        {"-j", "0", "a"},
        {"--option", "=1", "a"},
        {"--bogus", "a"},
        {"-x", "a"},
        {"-q", "-v", "a"},
        {"--overwrite=yes", "a"},
        {"a", "-f"},
        {"-f", "copy", "-r", "44100", "a"},
        {"-f", "copy", "-c", "mono", "a"},
        {"-f", "copy", "--volume", "128", "a"},
        {"-f", "copy", "-b", "96", "a"},
        {"-f", "copy", "--loudness", "-16", "a"},
        {"--loudness", "5", "a"},
        {"--loudness", "-16dB", "a"},
        {"--loudness", "-16", "--volume", "300", "a"},
        {"-o", "/no/such/folder/here", "a"},
        {"--trim-silence=0", "a"},
        {"--trim-silence=loud", "a"},
        {"--trim-silence", "--start", "1", "a"},
        {"--name", "{artist}", "a"}, // names are made under an output folder
        {"-o", "/tmp", "--name", "{nope}", "a"},
        {"-o", "/tmp", "--name", "", "a"},
        {"--shard", "3/2", "a"},
        {"--shard", "1", "a"},
        {"--report=", "a"},
    };
    for (const auto& args : bad) {
        const TCliParse parse = Parse(args);
        EXPECT_FALSE(parse.Error.empty()) << "accepted: " << args.size() << " arguments";
    }
    EXPECT_EQ(Parse({"--start", "5", "--end", "5.001", "a"}).Error, "") << "a 1 ms clip";
    EXPECT_EQ(Parse({"--help"}).Error, "") << "help needs no file";
    EXPECT_TRUE(Parse({"--help"}).Options.Help);
}
