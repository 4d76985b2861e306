// soundpick-cli over folders: the same tree out with its names and quiet skips, names from tags,
// --update after a change and after a stopped run, and shards that share one tree. Outputs are
// checked with ffprobe; the --report lines tell each input's fate.
#include "cli/CliProcess.h"
#include "component/ComponentHarness.h"
#include "support/TestMedia.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <fstream>
#include <set>
#include <thread>

namespace fs = std::filesystem;

namespace {

class CliLibrary : public ::testing::Test {
protected:
    // Copies a fixture to a path under the scratch folder, with its folders.
    void Put(const std::string& fixture, const std::string& relative) {
        fs::create_directories((Folder / relative).parent_path());
        fs::copy_file(Fixture(fixture), Folder / relative);
    }
    // The regular files under a folder, relative, sorted.
    std::set<std::string> Tree(const std::string& relative) {
        std::set<std::string> files;
        for (const auto& entry : fs::recursive_directory_iterator(Folder / relative))
            if (entry.is_regular_file())
                files.insert(fs::relative(entry.path(), Folder / relative).generic_string());
        return files;
    }
    // The report's lines as relative input -> state.
    std::map<std::string, std::string> Report(const std::string& name) {
        std::map<std::string, std::string> states;
        std::ifstream file(Folder / name);
        for (std::string line; std::getline(file, line);) {
            std::map<std::string, std::string> object;
            EXPECT_TRUE(ParseFlatJson(line, object)) << line;
            EXPECT_TRUE(object.count("output") && object.count("warning") &&
                        object.count("seconds"))
                << line;
            states[fs::relative(object["input"], Folder / "in").generic_string()] = object["state"];
        }
        return states;
    }
    std::string In() { return (Folder / "in").string(); }
    std::string Out() { return (Folder / "out").string(); }

    TScratchFolder Folder;
};

} // namespace

// Nested folders, a file without sound, a hidden folder, a picture, two albums with the same
// track names and unicode names: the tree comes out as it went in, with the new extension, the
// hidden folder and the files without sound left out quietly, and the covers beside the tracks.
TEST_F(CliLibrary, SameTreeOut) {
    Put("tone_1k_stereo.flac", "in/Artist/Album 1/01.flac");
    Put("tagged_id3.mp3", "in/Artist/Album 1/02.mp3");
    Put("cover_64.jpg", "in/Artist/Album 1/cover.jpg");
    Put("tagged.flac", "in/Artist/Album 2/01.flac");
    Put("tone_mono.wav", "in/Été 日本/01 ü.wav");
    Put("tone_mono.wav", "in/.hidden/x.wav");
    Put("video_only.mp4", "in/silent/video.mp4");
    Put("random.bin", "in/notes.txt");
    fs::create_directory(Folder / "out");
    std::string out, err;
    ASSERT_EQ(RunCli({"-j", "2", "-o", Out(), "--copy-images", "--report",
                      (Folder / "report.jsonl").string(), In()},
                     Folder.Path(), &out, &err),
              0)
        << err;
    const std::set<std::string> expected = {"Artist/Album 1/01.mp3", "Artist/Album 1/02.mp3",
                                            "Artist/Album 1/cover.jpg", "Artist/Album 2/01.mp3",
                                            "Été 日本/01 ü.mp3"};
    EXPECT_EQ(Tree("out"), expected);
    const struct {
        const char* Output;
        double Seconds;
    } lengths[] = {{"Artist/Album 1/01.mp3", 4},
                   {"Artist/Album 1/02.mp3", 2},
                   {"Artist/Album 2/01.mp3", 2},
                   {"Été 日本/01 ü.mp3", 3}};
    for (const auto& length : lengths)
        EXPECT_NEAR(ProbeDuration(Folder / "out" / length.Output), length.Seconds, 0.15)
            << length.Output;
    EXPECT_NE(err.find("3 files without sound skipped"), std::string::npos) << err;
    EXPECT_EQ(err.find("has no sound"), std::string::npos) << err;
    const std::map<std::string, std::string> states = {{"Artist/Album 1/01.flac", "finished"},
                                                       {"Artist/Album 1/02.mp3", "finished"},
                                                       {"Artist/Album 1/cover.jpg", "no-sound"},
                                                       {"Artist/Album 2/01.flac", "finished"},
                                                       {"notes.txt", "no-sound"},
                                                       {"silent/video.mp4", "no-sound"},
                                                       {"Été 日本/01 ü.wav", "finished"}};
    EXPECT_EQ(Report("report.jsonl"), states);
}

// A run whose every file fails (the encoder refuses the bit rate) leaves the output folder as it
// was: the tree's folders are made with the outputs and go again with the discarded ones.
TEST_F(CliLibrary, AFailedRunLeavesNoEmptyFolders) {
    Put("tone_1k_stereo.flac", "in/Artist/Album/01.flac");
    Put("tone_mono.wav", "in/Other/02.wav");
    fs::create_directory(Folder / "out");
    std::string out, err;
    EXPECT_NE(RunCli({"-f", "mp2", "-b", "8", "-o", Out(), In()}, Folder.Path(), &out, &err), 0);
    EXPECT_NE(err.find("2 failed"), std::string::npos) << err;
    EXPECT_TRUE(fs::is_empty(Folder / "out"));
}

// Names from tags: a missing tag takes its fallback, and two inputs that come to the same name
// are numbered apart.
TEST_F(CliLibrary, NamesFromTags) {
    Put("tagged.flac", "in/a/x.flac");
    Put("tagged.flac", "in/b/y.flac");
    Put("tone_mono.wav", "in/c/plain.wav");
    fs::create_directory(Folder / "out");
    std::string err;
    ASSERT_EQ(
        RunCli({"-j", "1", "-o", Out(), "--name", "{albumartist}/{album}/{track:02} {title}", In()},
               Folder.Path(), nullptr, &err),
        0)
        << err;
    const std::set<std::string> expected = {"Test Artist/Test Album/07 Test Title.mp3",
                                            "Test Artist/Test Album/07 Test Title_(new_1).mp3",
                                            "Unknown Artist/Unknown Album/00 plain.mp3"};
    EXPECT_EQ(Tree("out"), expected);
}

// --update converts only the input touched since, then nothing; the outputs it passes over are
// left as they were.
TEST_F(CliLibrary, UpdateAfterTouchingOneInput) {
    for (const char* name : {"in/a/1.wav", "in/a/2.wav", "in/b/3.wav"})
        Put("tone_mono.wav", name);
    fs::create_directory(Folder / "out");
    ASSERT_EQ(RunCli({"-o", Out(), In()}, Folder.Path()), 0);
    const fs::file_time_type firstWrite = fs::last_write_time(Folder / "out/a/1.mp3");
    // Newer than its output, and older than the output the next run writes.
    fs::last_write_time(Folder / "in/a/2.wav", fs::last_write_time(Folder / "out/a/2.mp3") +
                                                   std::chrono::milliseconds(10));
    std::string err;
    ASSERT_EQ(RunCli({"--update", "-o", Out(), "--report", (Folder / "r1.jsonl").string(), In()},
                     Folder.Path(), nullptr, &err),
              0)
        << err;
    const std::map<std::string, std::string> touched = {
        {"a/1.wav", "up-to-date"}, {"a/2.wav", "finished"}, {"b/3.wav", "up-to-date"}};
    EXPECT_EQ(Report("r1.jsonl"), touched);
    EXPECT_NE(err.find("2 files up to date skipped"), std::string::npos) << err;
    EXPECT_EQ(fs::last_write_time(Folder / "out/a/1.mp3"), firstWrite);
    EXPECT_EQ(Tree("out"), (std::set<std::string>{"a/1.mp3", "a/2.mp3", "b/3.mp3"}));
    ASSERT_EQ(RunCli({"--update", "-o", Out(), "--report", (Folder / "r2.jsonl").string(), In()},
                     Folder.Path()),
              0);
    for (const auto& [input, state] : Report("r2.jsonl"))
        EXPECT_EQ(state, "up-to-date") << input;
}

// A run stopped in its second file and started again with --update: the finished output is
// kept, the one the stop cut short and the one never begun are converted.
TEST_F(CliLibrary, StoppedRunResumed) {
    Put("tone_mono.wav", "in/1/a.wav");
    Put("long_2h.mp3", "in/2/long.mp3");
    Put("tone_mono.wav", "in/3/c.wav");
    fs::create_directory(Folder / "out");
    const std::vector<std::string> args = {"--json", "-j", "1", "-o", Out(), In()};
    {
        TCliProcess process(args, Folder.Path());
        // The long file's progress: the first file has ended by then.
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(120);
        while (process.Out().find("\"progress\",\"index\":1,") == std::string::npos &&
               std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        process.Signal(SIGINT);
        ASSERT_EQ(process.Wait(), 1) << process.Err();
    }
    ASSERT_LT(ProbeDuration(Folder / "out/2/long.mp3"), 7000.0);
    EXPECT_FALSE(fs::exists(Folder / "out/3/c.mp3"));
    const fs::file_time_type firstWrite = fs::last_write_time(Folder / "out/1/a.mp3");
    std::string err;
    ASSERT_EQ(RunCli({"--update", "-j", "1", "-o", Out(), "--report", (Folder / "r.jsonl").string(),
                      In()},
                     Folder.Path(), nullptr, &err),
              0)
        << err;
    const std::map<std::string, std::string> states = {
        {"1/a.wav", "up-to-date"}, {"2/long.mp3", "finished"}, {"3/c.wav", "finished"}};
    EXPECT_EQ(Report("r.jsonl"), states);
    EXPECT_EQ(fs::last_write_time(Folder / "out/1/a.mp3"), firstWrite);
    EXPECT_NEAR(ProbeDuration(Folder / "out/2/long.mp3"), 7200, 1);
    EXPECT_NEAR(ProbeDuration(Folder / "out/3/c.mp3"), 3, 0.15);
    EXPECT_EQ(Tree("out"), (std::set<std::string>{"1/a.mp3", "2/long.mp3", "3/c.mp3"}));
}

// Two shards into one output tree convert every file once between them.
TEST_F(CliLibrary, ShardsShareOneTree) {
    std::set<std::string> expected;
    for (int i = 0; i < 6; ++i) {
        const std::string relative = std::to_string(i % 2) + "/" + std::to_string(i);
        Put("mono_8k.wav", (fs::path("in") / (relative + ".wav")).string());
        expected.insert(relative + ".mp3");
    }
    fs::create_directory(Folder / "out");
    std::map<std::string, std::string> joined;
    for (const char* shard : {"1/2", "2/2"}) {
        const std::string report = std::string("shard") + shard[0] + ".jsonl";
        ASSERT_EQ(
            RunCli({"--shard", shard, "-o", Out(), "--report", (Folder / report).string(), In()},
                   Folder.Path()),
            0);
        for (const auto& [input, state] : Report(report)) {
            EXPECT_EQ(state, "finished") << input;
            EXPECT_TRUE(joined.emplace(input, shard).second) << input << " converted twice";
        }
    }
    EXPECT_EQ(joined.size(), 6u);
    EXPECT_EQ(Tree("out"), expected);
}
