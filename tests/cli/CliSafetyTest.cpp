// soundpick-cli where a careless or hostile user would break it: a standard output nobody reads,
// outputs that are symbolic links (dangling, or to the input), and file names that are no UTF-8
// text in the JSON events (checked by Python's JSON reader as an independent oracle).
#include "cli/CliProcess.h"
#include "cli/CliReporter.h"
#include "component/ComponentHarness.h"
#include "ffbind/TempFolder.h"
#include "support/TestMedia.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sys/stat.h>

namespace fs = std::filesystem;

namespace {

class CliSafety : public ::testing::Test {
protected:
    fs::path Input(const std::string& fixture, const std::string& name) {
        fs::copy_file(Fixture(fixture), Folder / name);
        return Folder / name;
    }
    TScratchFolder Folder;
};

mode_t CurrentUmask() {
    const mode_t mask = umask(0);
    umask(mask);
    return mask;
}

} // namespace

// A reader that went away ends the printing, not the batch: every file converts, exit 0.
TEST_F(CliSafety, ClosedStandardOutputKeepsConverting) {
    std::vector<std::string> args = {"-j", "1", "-f", "flac"};
    for (const char* name : {"a.wav", "b.wav", "c.wav"})
        args.push_back(Input("tone_mono.wav", name).string());
    TCliProcess process(args, Folder.Path(), 0, soClosedPipe);
    EXPECT_EQ(process.Wait(), 0) << process.Err();
    for (const char* name : {"a_(new).flac", "b_(new).flac", "c_(new).flac"})
        EXPECT_NEAR(ProbeDuration(Folder / name), 3.0, 0.05) << name;
}

// --overwrite onto a link (dangling, or to a file outside the folder) replaces the link with
// a new file of a new file's mode and writes nothing where it points; an output that is the
// input itself (through a link) is refused and the input kept.
TEST_F(CliSafety, OverwriteReplacesLinks) {
    const fs::path input = Input("tone_mono.wav", "tone.wav");
    const fs::path elsewhere = Folder / "elsewhere";
    fs::create_directory(elsewhere);
    fs::copy_file(Fixture("tone_1k_stereo.mp3"), elsewhere / "kept.mp3");
    const std::string kept = ReadWholeFile(elsewhere / "kept.mp3");
    const std::pair<const char*, const char*> links[] = {{"elsewhere/gone.flac", "flac"},
                                                         {"elsewhere/kept.mp3", "mp3"}};
    for (const auto& [pointsAt, format] : links) {
        const fs::path output = Folder / ("tone_(new)." + std::string(format));
        fs::create_symlink(pointsAt, output);
        std::string out, err;
        ASSERT_EQ(RunCli({"--overwrite", "-f", format, input.string()}, Folder.Path(), &out, &err),
                  0)
            << err;
        EXPECT_FALSE(fs::is_symlink(output)) << output;
        EXPECT_NEAR(ProbeDuration(output), 3.0, 0.05) << output;
        struct stat written {};
        ASSERT_EQ(stat(output.c_str(), &written), 0);
        EXPECT_EQ(written.st_mode & 0777, 0666 & ~CurrentUmask());
    }
    EXPECT_FALSE(fs::exists(elsewhere / "gone.flac"));
    EXPECT_EQ(ReadWholeFile(elsewhere / "kept.mp3"), kept);

    std::string out, err;
    const std::string before = ReadWholeFile(input);
    fs::create_symlink("tone.wav", Folder / "tone_(new).wav");
    EXPECT_EQ(RunCli({"--overwrite", "-f", "wav", input.string()}, Folder.Path(), &out, &err), 1);
    EXPECT_NE(err.find((Folder / "tone_(new).wav").string() +
                       " is the input itself; choose another name or folder"),
              std::string::npos)
        << err;
    EXPECT_EQ(ReadWholeFile(input), before);
}

// Names that are no UTF-8 text: every event line and every --report line is valid JSON, the
// bad bytes read as U+FFFD, and the name comes back byte for byte from its base64 field.
TEST_F(CliSafety, JsonEventsParseForAnyFileName) {
    const std::string rawName = "bad\xff\xfe name.wav";
    const fs::path converted = Input("tone_mono.wav", rawName);
    const fs::path unreadable = Input("text.mp3", "junk\xc3.mp3");
    std::string out, err;
    EXPECT_EQ(RunCli({"--json", "-f", "flac", "--report", (Folder / "report.json").string(),
                      converted.string(), unreadable.string()},
                     Folder.Path(), &out, &err),
              1)
        << err;
    std::ofstream(Folder / "events.json", std::ios::binary) << out;
    std::ofstream(Folder / "check.py") << R"(import base64, json, os, sys
names = set()
for line in open(sys.argv[1], encoding="utf-8"):
    event = json.loads(line)
    if "input_base64" in event:
        assert "\ufffd" in event["input"]
        names.add(base64.b64decode(event["input_base64"]))
assert names == {os.fsencode(sys.argv[2]), os.fsencode(sys.argv[3])}, names
)";
    for (const char* lines : {"events.json", "report.json"}) {
        const std::string command = "python3 '" + (Folder / "check.py").string() + "' '" +
                                    (Folder / lines).string() + "' '" + converted.string() + "' '" +
                                    unreadable.string() + "'";
        EXPECT_EQ(std::system(command.c_str()), 0) << lines;
    }
}

// A report that cannot be made, or not written (a full disk), fails the run with the reason;
// one that cannot be made converts nothing.
TEST_F(CliSafety, AReportThatCannotBeWrittenFailsTheRun) {
    const fs::path input = Input("tone_mono.wav", "tone.wav");
    const struct {
        const char* Report;
        const char* Reason;
        bool Converted;
    } cases[] = {{"/dev/full", "No space left on device", true},
                 {"/nonexistent-folder/r.jsonl", "No such file or directory", false}};
    for (const auto& c : cases) {
        fs::remove(Folder / "tone_(new).mp3");
        std::string out, err;
        EXPECT_EQ(RunCli({"--report", c.Report, input.string()}, Folder.Path(), &out, &err), 1);
        EXPECT_NE(err.find(std::string("the report file '") + c.Report +
                           "' cannot be written: " + c.Reason),
                  std::string::npos)
            << err;
        EXPECT_EQ(fs::exists(Folder / "tone_(new).mp3"), c.Converted) << c.Report;
    }
}

// Well-formed UTF-8 passes as it is; every byte of a malformed sequence (cut short, overlong,
// a surrogate, past U+10FFFF, a stray continuation) reads as U+FFFD.
TEST(JsonString, KeepsUtf8AndReplacesWhatIsNone) {
    const std::pair<std::string, std::string> cases[] = {
        {"ok \xc3\xa9 \xf0\x9f\x8e\xb5", "\"ok \xc3\xa9 \xf0\x9f\x8e\xb5\""},
        {"a\xc3", "\"a\\ufffd\""},
        {"\xe0\x80\xaf", "\"\\ufffd\\ufffd\\ufffd\""},
        {"\xed\xa0\x80", "\"\\ufffd\\ufffd\\ufffd\""},
        {"\xf4\x90\x80\x80", "\"\\ufffd\\ufffd\\ufffd\\ufffd\""},
        {"\x80\"\n", "\"\\ufffd\\\"\\n\""},
    };
    for (const auto& [text, json] : cases)
        EXPECT_EQ(JsonString(text), json) << json;
}
