// soundpick-cli over folders: the same tree out with its names and quiet skips, names from tags,
// --update after a change and after a stopped run, and shards that share one tree. Outputs are
// checked with ffprobe; the --report lines tell each input's fate.
#include "cli/CliProcess.h"
#include "component/ComponentHarness.h"
#include "component/Shard.h"
#include "ffbind/TempFolder.h"
#include "support/TestMedia.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <fstream>
#include <functional>
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
            // The output folder's own record is hidden.
            if (entry.is_regular_file() && entry.path().filename().string()[0] != '.')
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
// kept, the one the stop cut short (recorded so) and the one never begun are converted.
TEST_F(CliLibrary, StoppedRunResumed) {
    // Short wave files (whatever the name), as every input is read at its own pace: the long one
    // takes two hours, so the stop surely comes while it converts however fast the machine.
    const auto putShort = [&](const std::string& relative) {
        fs::create_directories((Folder / relative).parent_path());
        RunCommand("ffmpeg -nostdin -loglevel error -f lavfi -i sine=sample_rate=8000:duration=0.3 "
                   "-f wav " +
                   ShellQuote((Folder / relative).string()));
    };
    putShort("in/1/a.wav");
    Put("long_2h.mp3", "in/2/long.mp3");
    putShort("in/3/c.wav");
    fs::create_directory(Folder / "out");
    // Converted, not copied, as a user's resumed run would.
    const std::vector<std::string> args = {"--json",   "-j",   "1",  "--lossy", "convert",
                                           "--option", "re=1", "-o", Out()};
    const auto with = [&](std::vector<std::string> more) {
        more.insert(more.begin(), args.begin(), args.end());
        more.push_back(In());
        return more;
    };
    {
        TCliProcess process(with({}), Folder.Path());
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
    // The record tells the cut output from a whole one before its input is made short too.
    std::string listed, err;
    ASSERT_EQ(RunCli(with({"--update", "--dry-run"}), Folder.Path(), &listed, &err), 0) << err;
    EXPECT_NE(
        listed.find("\"output\":\"" + Out() + "/2/long.mp3\",\"reason\":\"its run was stopped\""),
        std::string::npos)
        << listed;
    fs::remove(Folder / "in/2/long.mp3");
    putShort("in/2/long.mp3");
    ASSERT_EQ(RunCli(with({"--update", "--report", (Folder / "r.jsonl").string()}), Folder.Path(),
                     nullptr, &err),
              0)
        << err;
    const std::map<std::string, std::string> states = {
        {"1/a.wav", "up-to-date"}, {"2/long.mp3", "finished"}, {"3/c.wav", "finished"}};
    EXPECT_EQ(Report("r.jsonl"), states);
    EXPECT_EQ(fs::last_write_time(Folder / "out/1/a.mp3"), firstWrite);
    // Whole: as long as the output of the same sound that the stopped run finished.
    const double whole = ProbeDuration(Folder / "out/1/a.mp3");
    EXPECT_LT(whole, 1.0);
    EXPECT_EQ(ProbeDuration(Folder / "out/2/long.mp3"), whole);
    EXPECT_EQ(ProbeDuration(Folder / "out/3/c.mp3"), whole);
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

namespace {

void Ffmpeg(const std::string& arguments) {
    int status = -1;
    RunCommand("ffmpeg -nostdin -v error -y " + arguments + " 2>&1", &status);
    ASSERT_EQ(status, 0) << arguments;
}

// A 2 s tone of a frequency, with a title and what more is asked of ffmpeg.
void Tone(const fs::path& file, int frequencyHz, const std::string& title = "",
          const std::string& more = "") {
    fs::create_directories(file.parent_path());
    Ffmpeg("-f lavfi -i sine=f=" + std::to_string(frequencyHz) + ":d=2:r=44100 " + more + " " +
           (title.empty() ? "" : "-metadata title=" + ShellQuote(title) + " ") +
           ShellQuote(file.string()));
}

double FrequencyOf(const fs::path& file) {
    return DecodeAudio(file).ZeroCrossingFrequency(0, 0.5, 1.5);
}

} // namespace

// Two inputs that would have one name (a tree's song.flac and song.wav; two files whose tags
// give one --name; both again in three shares, the second input's share run first; two cue
// sheets' tracks of one title; chapters and every track of files of one name in two folders):
// each gets the output the tree decides, whichever run or share converts it, and keeps it when
// the first and then the second input is touched and --update runs, which passes over the
// other; every output holds its own input's sound.
TEST_F(CliLibrary, CollidingInputsKeepTheirOwnOutputs) {
    const std::string chapters = (Folder / "chapters.txt").string();
    std::ofstream(chapters) << ";FFMETADATA1\n[CHAPTER]\nTIMEBASE=1/1000\nSTART=0\nEND=2000\n"
                               "title=Intro\n";
    const struct {
        const char* What;
        const char* First;  // input, under in/
        const char* Second; // input, under in/
        std::vector<std::string> Options;
        const char* FirstOutput; // under out/
        const char* SecondOutput;
        bool Shards = false;
        std::string Make = {}; // more of ffmpeg for the inputs
        bool Sheets = false;   // a cue sheet beside each input: one track, "Intro"
    } cases[] = {
        {"tree", "c/song.flac", "c/song.wav", {}, "c/song.mp3", "c/song_(new_1).mp3"},
        {"name", "a/x.flac", "b/y.wav", {"--name", "{title}"}, "Same.mp3", "Same_(new_1).mp3"},
        {"tree, shares", "c/tune.flac", "c/tune.wav", {}, "c/tune.mp3", "c/tune_(new_1).mp3", true},
        {"name, shares",
         "a/x.flac",
         "b/y.wav",
         {"--name", "{title}"},
         "Same.mp3",
         "Same_(new_1).mp3",
         true},
        {"cue tracks",
         "c/a.flac",
         "c/b.flac",
         {"--cue"},
         "c/01 Intro.mp3",
         "c/01 Intro_(new_1).mp3",
         false,
         {},
         true},
        {"chapters",
         "A/x.mka",
         "B/x.mka",
         {"--split-chapters"},
         "A/x/01 Intro.mp3",
         "B/x/01 Intro.mp3",
         false,
         "-i " + ShellQuote(chapters) + " -map_chapters 1"},
        {"every track",
         "A/x.mka",
         "B/x.mka",
         {"--all-tracks"},
         "A/x_1_eng.mp3",
         "B/x_1_eng.mp3",
         false,
         "-metadata:s:a:0 language=eng"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.What);
        fs::remove_all(Folder / "in");
        fs::remove_all(Folder / "out");
        fs::create_directories(Folder / "out");
        for (const auto& [input, frequencyHz] : {std::pair{c.First, 440}, {c.Second, 880}}) {
            const fs::path file = Folder / "in" / input;
            Tone(file, frequencyHz, "Same", c.Make);
            if (c.Sheets)
                std::ofstream(fs::path(file).replace_extension(".cue"))
                    << "FILE \"" << file.filename().string()
                    << "\" WAVE\n  TRACK 01 AUDIO\n    TITLE \"Intro\"\n    INDEX 01 00:00:00\n";
        }
        std::vector<std::vector<std::string>> runs = {{}};
        if (c.Shards) {
            // The second input's share first: on its own it would take the first name.
            const int second = static_cast<int>(StablePathHash(c.Second) % 3) + 1;
            ASSERT_NE(StablePathHash(c.First) % 3 + 1, static_cast<uint64_t>(second));
            runs.clear();
            for (const int share : {second, second % 3 + 1, (second + 1) % 3 + 1})
                runs.push_back({"--shard", std::to_string(share) + "/3"});
        }
        // Each input's state, as the runs report it.
        const auto runAll = [&](bool update) {
            std::map<std::string, std::string> states;
            for (std::vector<std::string> args : runs) {
                args.insert(args.end(), c.Options.begin(), c.Options.end());
                if (update)
                    args.push_back("--update");
                for (const std::string& arg :
                     {std::string("--report"), (Folder / "r.jsonl").string(), std::string("-o"),
                      Out(), In()})
                    args.push_back(arg);
                std::string err;
                EXPECT_EQ(RunCli(args, Folder.Path(), nullptr, &err), 0) << err;
                states.merge(Report("r.jsonl"));
            }
            return states;
        };
        const auto check = [&](const char* after) {
            SCOPED_TRACE(after);
            EXPECT_EQ(Tree("out"), (std::set<std::string>{c.FirstOutput, c.SecondOutput}));
            EXPECT_NEAR(FrequencyOf(Folder / "out" / c.FirstOutput), 440, 10);
            EXPECT_NEAR(FrequencyOf(Folder / "out" / c.SecondOutput), 880, 10);
        };
        runAll(false);
        check("the first run");
        for (const auto& [touched, other] : {std::pair{c.First, c.Second}, {c.Second, c.First}}) {
            const fs::path input = Folder / "in" / touched;
            fs::last_write_time(input, fs::last_write_time(input) + std::chrono::seconds(5));
            EXPECT_EQ(runAll(true), (std::map<std::string, std::string>{{touched, "finished"},
                                                                        {other, "up-to-date"}}));
            check(touched);
        }
    }
}

// An input added that sorts before others of its name (a tree's song.aiff beside song.flac and
// song.wav; a file whose tags give the same --name, earlier in the tree) takes the next free
// name under --update; the others keep their outputs and are passed over.
TEST_F(CliLibrary, AnInputThatSortsFirstTakesNoNameFromTheOthers) {
    const struct {
        const char* What;
        std::vector<std::string> Inputs; // under in/: the first two, then the one added
        std::vector<std::string> Options;
        std::vector<std::string> Outputs; // under out/, each input's in the same order
    } cases[] = {
        {"tree",
         {"c/song.flac", "c/song.wav", "c/song.aiff"},
         {},
         {"c/song.mp3", "c/song_(new_1).mp3", "c/song_(new_2).mp3"}},
        {"name",
         {"a/x.flac", "b/y.wav", "a/a.aiff"},
         {"--name", "{title}"},
         {"Same.mp3", "Same_(new_1).mp3", "Same_(new_2).mp3"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.What);
        fs::remove_all(Folder / "in");
        fs::remove_all(Folder / "out");
        fs::create_directories(Folder / "out");
        const auto run = [&] {
            std::vector<std::string> args = c.Options;
            for (const std::string& arg :
                 {std::string("--update"), std::string("--report"), (Folder / "r.jsonl").string(),
                  std::string("-o"), Out(), In()})
                args.push_back(arg);
            std::string err;
            EXPECT_EQ(RunCli(args, Folder.Path(), nullptr, &err), 0) << err;
            return Report("r.jsonl");
        };
        Tone(Folder / "in" / c.Inputs[0], 440, "Same");
        Tone(Folder / "in" / c.Inputs[1], 880, "Same");
        run();
        Tone(Folder / "in" / c.Inputs[2], 1320, "Same");
        EXPECT_EQ(run(), (std::map<std::string, std::string>{{c.Inputs[0], "up-to-date"},
                                                             {c.Inputs[1], "up-to-date"},
                                                             {c.Inputs[2], "finished"}}));
        EXPECT_EQ(Tree("out"), std::set<std::string>(c.Outputs.begin(), c.Outputs.end()));
        for (const auto& [output, frequencyHz] :
             {std::pair{c.Outputs[0], 440}, {c.Outputs[1], 880}, {c.Outputs[2], 1320}})
            EXPECT_NEAR(FrequencyOf(Folder / "out" / output), frequencyHz, 10) << output;
    }
}

// --update redoes an output that is not as its own run left it (other bytes of the same size,
// cut short) or was made with other settings, and settles for an input that declares more
// than it decodes: a second run changes nothing.
TEST_F(CliLibrary, UpdateComparesWithWhatItsRunRecorded) {
    // The output's bytes replaced by noise, or by zeros, of the same size.
    const auto garble = [](const fs::path& file, bool noise) {
        const auto size = fs::file_size(file);
        std::string bytes(size, '\0');
        for (std::size_t i = 0; noise && i < size; ++i)
            bytes[i] = static_cast<char>((i * 2654435761u) >> 13);
        std::ofstream(file, std::ios::binary) << bytes;
    };
    const auto cut = [](const fs::path& file, double share, std::uintmax_t bytes) {
        const auto size = fs::file_size(file);
        fs::resize_file(file, share > 0 ? static_cast<std::uintmax_t>(size * share) : size - bytes);
    };
    const struct {
        const char* What;
        const char* Format;
        std::function<void(const fs::path&)> Change; // of the output; none: changes nothing
        std::vector<std::string> SecondOptions;
        const char* SecondState;
        double SecondKbps = 0; // the bit rate the second run's output has, when it matters
        bool Cover = false;    // the input a flac with a cover, else a wav
    } cases[] = {
        {"random bytes", "mp3", [&](const fs::path& f) { garble(f, true); }, {}, "finished"},
        {"zeros", "mp3", [&](const fs::path& f) { garble(f, false); }, {}, "finished"},
        {"flac cut to 95 %", "flac", [&](const fs::path& f) { cut(f, 0.95, 0); }, {}, "finished"},
        {"mp3 cut by 2000 bytes",
         "mp3",
         [&](const fs::path& f) { cut(f, 0, 2000); },
         {},
         "finished"},
        {"other bit rate", "mp3", nullptr, {"-b", "320"}, "finished", 320},
        {"same settings", "mp3", nullptr, {"-b", "128"}, "up-to-date", 128},
        {"ReplayGain asked", "mp3", nullptr, {"-b", "128", "--replaygain"}, "finished", 128},
        {"cover size, no cover",
         "mp3",
         nullptr,
         {"-b", "128", "--cover-size", "100"},
         "up-to-date"},
        {"cover size, a cover",
         "mp3",
         nullptr,
         {"-b", "128", "--cover-size", "100"},
         "finished",
         128,
         true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.What);
        fs::remove_all(Folder / "in");
        fs::remove_all(Folder / "out");
        fs::create_directories(Folder / "out");
        const std::string input = c.Cover ? "a/song.flac" : "a/song.wav";
        Tone(
            Folder / "in" / input, 440, "",
            c.Cover
                ? "-f lavfi -i color=c=red:s=200x200:d=0.04 -frames:v 1 -map 0:a -map 1:v -c:v png "
                  "-disposition:v attached_pic"
                : "");
        const fs::path output = Folder / "out/a" / (std::string("song.") + c.Format);
        std::string err;
        ASSERT_EQ(
            RunCli({"-f", c.Format, "-b", "128", "-o", Out(), In()}, Folder.Path(), nullptr, &err),
            0)
            << err;
        if (c.Change)
            c.Change(output);
        std::vector<std::string> args = {"--update", "-f", c.Format, "--report",
                                         (Folder / "r.jsonl").string()};
        args.insert(args.end(), c.SecondOptions.begin(), c.SecondOptions.end());
        args.insert(args.end(), {"-o", Out(), In()});
        ASSERT_EQ(RunCli(args, Folder.Path(), nullptr, &err), 0) << err;
        EXPECT_EQ(Report("r.jsonl"), (std::map<std::string, std::string>{{input, c.SecondState}}));
        EXPECT_NEAR(DecodeAudio(output).DurationSeconds(), 2.0, 0.1);
        if (c.SecondKbps > 0)
            EXPECT_NEAR(std::stod(ProbeValue(output, "format=bit_rate")) / 1000, c.SecondKbps,
                        c.SecondKbps / 10);
    }

    // An mp3 without a length header, zeros after its 2 s: it declares 4.5 s. The first run
    // warns (exit 1); the next ones find the output done, also where its tags give the name
    // of another input's.
    const struct {
        const char* What;
        std::vector<std::string> Options;
        std::set<std::string> Outputs;
    } declaring[] = {{"tree", {}, {"short.mp3"}},
                     {"name", {"--name", "{title}"}, {"Same.mp3", "Same_(new_1).mp3"}}};
    for (const auto& c : declaring) {
        SCOPED_TRACE(c.What);
        fs::remove_all(Folder / "in");
        fs::remove_all(Folder / "out");
        fs::create_directories(Folder / "out");
        fs::create_directories(Folder / "in");
        const fs::path input = Folder / "in/short.mp3";
        Ffmpeg("-f lavfi -i sine=f=440:d=2 -b:a 128k -write_xing 0 -metadata title=Same " +
               ShellQuote(input.string()));
        std::ofstream(input, std::ios::binary | std::ios::app) << std::string(40000, '\0');
        std::map<std::string, std::string> states = {{"short.mp3", "up-to-date"}};
        if (c.Outputs.size() > 1) {
            Tone(Folder / "in/z.wav", 880, "Same");
            states["z.wav"] = "up-to-date";
        }
        std::vector<std::string> args = c.Options;
        args.insert(args.end(), {"-o", Out(), In()});
        ASSERT_EQ(RunCli(args, Folder.Path()), 1);
        std::string err;
        for (const char* report : {"r1.jsonl", "r2.jsonl"}) {
            std::vector<std::string> again = {"--update", "--report", (Folder / report).string()};
            again.insert(again.end(), args.begin(), args.end());
            ASSERT_EQ(RunCli(again, Folder.Path(), nullptr, &err), 0) << err;
            EXPECT_EQ(Report(report), states);
        }
        EXPECT_EQ(Tree("out"), c.Outputs);
    }
}

// A folder's damaged sound files (a flac whose header is gone, an mp3 of 300 bytes) are
// failures named on their own lines (exit 1); a text and a picture are files without sound.
TEST_F(CliLibrary, DamagedFilesFailWhereOthersHaveNoSound) {
    fs::create_directories(Folder / "in");
    fs::create_directories(Folder / "out");
    Tone(Folder / "in/a.flac", 440);
    Tone(Folder / "in/b.mp3", 440);
    Tone(Folder / "in/good.wav", 440);
    const auto damage = [&](const char* name, std::size_t from, std::size_t to) {
        const fs::path file = Folder / "in" / name;
        std::string bytes(fs::file_size(file), '\0');
        std::ifstream(file, std::ios::binary).read(bytes.data(), bytes.size());
        std::fill(bytes.begin() + from, bytes.begin() + std::min(to, bytes.size()), '\0');
        std::ofstream(file, std::ios::binary) << bytes.substr(0, to == 0 ? 300 : bytes.size());
    };
    damage("a.flac", 8, 200);
    damage("b.mp3", 0, 0);
    std::ofstream(Folder / "in/notes.txt") << "nothing to hear\n";
    Put("cover_64.jpg", "in/cover.jpg");
    std::string err;
    EXPECT_EQ(RunCli({"-o", Out(), In()}, Folder.Path(), nullptr, &err), 1);
    for (const char* damaged : {"a.flac", "b.mp3"})
        EXPECT_NE(err.find((Folder / "in" / damaged).string() + ": ***File load error"),
                  std::string::npos)
            << damaged << err;
    EXPECT_NE(err.find("2 files without sound skipped"), std::string::npos) << err;
    EXPECT_EQ(Tree("out"), std::set<std::string>{"good.mp3"});
}

// A mirror: --dry-run lists what a run would convert, skip and delete, with the reason, and
// writes nothing; --delete removes the recorded outputs of the tree's inputs that are gone, and
// the folders they leave empty, and the outputs an input still there no longer gets, but never a
// file the record does not name, an output changed into other sound since, the output of an
// input of another tree, or an output in another format.
TEST_F(CliLibrary, DeleteRemovesOnlyItsOwnOutputsAndDryRunWritesNothing) {
    for (const char* name : {"in/a/1.wav", "in/a/2.wav", "in/b/3.wav", "in/c/4.wav", "in2/5.wav"})
        Put("mono_8k.wav", name);
    fs::create_directory(Folder / "out");
    // Every file and folder under out, hidden ones too, with its bytes.
    const auto snapshot = [&] {
        std::map<std::string, std::string> files;
        for (const auto& entry : fs::recursive_directory_iterator(Folder / "out"))
            files[entry.path().string()] =
                entry.is_regular_file() ? ReadWholeFile(entry.path()) : "";
        return files;
    };
    const auto in = [&](const char* name) { return (Folder / "in" / name).string(); };
    const auto out = [&](const char* name) { return (Folder / "out" / name).string(); };
    std::string listed, err;
    ASSERT_EQ(RunCli({"--dry-run", "-o", Out(), In()}, Folder.Path(), &listed, &err), 0) << err;
    EXPECT_EQ(Lines(listed).size(), 4u) << listed;
    EXPECT_TRUE(fs::is_empty(Folder / "out"));

    ASSERT_EQ(RunCli({"-o", Out(), In()}, Folder.Path()), 0);
    ASSERT_EQ(RunCli({"-o", Out(), (Folder / "in2").string()}, Folder.Path()), 0);
    // A second output of an input that is still there: no longer the one the tree gives it.
    ASSERT_EQ(RunCli({"-o", Out(), in("a/1.wav")}, Folder.Path()), 0);
    ASSERT_TRUE(fs::exists(out("1_(new).mp3")));
    // Its output in another format: a mirror of its own, which an mp3 run leaves.
    ASSERT_EQ(RunCli({"-f", "flac", "-o", Out(), in("a/1.wav")}, Folder.Path()), 0);
    Put("cover_64.jpg", "out/c/cover.jpg");
    fs::copy_file(Fixture("tone_1k_stereo.mp3"), out("c/4.mp3"),
                  fs::copy_options::overwrite_existing);
    std::ofstream(out("mine.mp3")) << "not recorded";
    // A record line changed by hand to name a file outside the folder, of a gone input.
    Put("mono_8k.wav", "outside.wav");
    std::ofstream(Folder / "out/.soundpick-outputs", std::ios::app)
        << "+\t../outside.wav\t" << in("gone.wav") << "\tformat=Mp3\t1\t1\t2000000\t"
        << fs::file_size(Folder / "outside.wav") << "\t"
        << fs::last_write_time(Folder / "outside.wav").time_since_epoch().count() << "\t1\n";
    for (const char* name : {"in/a/2.wav", "in/b/3.wav", "in/c/4.wav", "in2/5.wav"})
        fs::remove(Folder / name);
    const auto before = snapshot();
    ASSERT_EQ(RunCli({"--dry-run", "--delete", "--update", "-o", Out(), In()}, Folder.Path(),
                     &listed, &err),
              0)
        << err;
    EXPECT_EQ(snapshot(), before);
    const std::vector<std::string> plan = Lines(listed);
    EXPECT_EQ(std::set<std::string>(plan.begin(), plan.end()),
              (std::set<std::string>{
                  "skip " + in("a/1.wav") + " -> " + out("a/1.mp3") + ": up to date",
                  "delete " + in("a/1.wav") + " -> " + out("1_(new).mp3") +
                      ": it is no longer the input's output",
                  "delete " + in("a/2.wav") + " -> " + out("a/2.mp3") + ": the input is gone",
                  "delete " + in("b/3.wav") + " -> " + out("b/3.mp3") + ": the input is gone",
                  "keep " + in("c/4.wav") + " -> " + out("c/4.mp3") +
                      ": the input is gone, but it was changed since its run wrote it"}));

    ASSERT_EQ(RunCli({"--delete", "--update", "--report", (Folder / "r.jsonl").string(), "-o",
                      Out(), In()},
                     Folder.Path(), nullptr, &err),
              0)
        << err;
    EXPECT_NE(err.find("removed " + out("b/3.mp3") + ": its input " + in("b/3.wav") + " is gone"),
              std::string::npos)
        << err;
    EXPECT_EQ(Report("r.jsonl"),
              (std::map<std::string, std::string>{
                  {"a/1.wav", "removed"}, {"a/2.wav", "removed"}, {"b/3.wav", "removed"}}));
    EXPECT_NE(err.find("removed " + out("1_(new).mp3") + ": it is no longer the output of " +
                       in("a/1.wav")),
              std::string::npos)
        << err;
    EXPECT_EQ(Tree("out"), (std::set<std::string>{"a/1.mp3", "1_(new).flac", "c/4.mp3",
                                                  "c/cover.jpg", "mine.mp3", "5.mp3"}));
    EXPECT_FALSE(fs::exists(Folder / "out/b"));
    EXPECT_TRUE(fs::exists(Folder / "outside.wav"));
    EXPECT_EQ(ReadWholeFile(out("c/4.mp3")), ReadWholeFile(Fixture("tone_1k_stereo.mp3")));
}

// Three runs at once into one output folder, as GNU parallel runs them: shares of one tree,
// where every input gets exactly the output the tree gives it (two that share a name too), and
// runs over three folders whose tags give one --name, where a run that finds the name it chose
// taken meanwhile numbers on. Every input is recorded once with an output of its own sound, and
// every line of the folder's record is whole.
TEST_F(CliLibrary, RunsAtOnceKeepTheRecordWhole) {
    const std::vector<std::string> shares = {"1", "2", "3"};
    for (const bool named : {false, true}) {
        SCOPED_TRACE(named ? "--name, three folders" : "shares of a tree");
        fs::remove_all(Folder / "in");
        fs::remove_all(Folder / "out");
        fs::create_directory(Folder / "out");
        // Input under in/ -> its tone; with the tree, also -> its output.
        std::map<std::string, int> tones;
        std::map<std::string, std::string> expected;
        for (int i = 0; i < 18; ++i) {
            const std::string stem = std::to_string(i % 3) + "/" + std::to_string(i);
            tones[stem + ".wav"] = 200 + 50 * i;
            Tone(Folder / "in" / (stem + ".wav"), tones[stem + ".wav"], "Same");
            expected[stem + ".wav"] = stem + ".mp3";
        }
        Tone(Folder / "in/2/song.flac", tones["2/song.flac"] = 1300);
        Tone(Folder / "in/2/song.wav", tones["2/song.wav"] = 1500);
        expected["2/song.flac"] = "2/song.mp3";
        expected["2/song.wav"] = "2/song_(new_1).mp3";
        std::vector<std::unique_ptr<TCliProcess>> runs;
        for (std::size_t run = 0; run < shares.size(); ++run) {
            const fs::path folder = Folder / ("run" + shares[run]);
            fs::create_directories(folder);
            runs.push_back(std::make_unique<TCliProcess>(
                named ? std::vector<std::string>{"--name", "{title}", "-j", "1", "-o", Out(),
                                                 (Folder / "in" / std::to_string(run)).string()}
                      : std::vector<std::string>{"--shard", shares[run] + "/3", "-j", "1", "-o",
                                                 Out(), In()},
                folder));
        }
        for (const auto& run : runs)
            EXPECT_EQ(run->Wait(), 0) << run->Err();

        std::ifstream record(Folder / "out/.soundpick-outputs");
        std::string line;
        ASSERT_TRUE(std::getline(record, line));
        EXPECT_EQ(line, "soundpick outputs 1");
        std::map<std::string, std::string> recorded;
        while (std::getline(record, line)) {
            std::vector<std::string> fields;
            for (std::size_t start = 0, end = 0; end != std::string::npos; start = end + 1) {
                end = line.find('\t', start);
                fields.push_back(line.substr(start, end - start));
            }
            ASSERT_EQ(fields.size(), 10u) << line;
            EXPECT_EQ(fields[0] + fields[9], "+1") << line;
            const std::string input = fs::relative(fields[2], Folder / "in").generic_string();
            EXPECT_TRUE(recorded.emplace(input, fields[1]).second) << input << " recorded twice";
        }
        std::set<std::string> outputs;
        for (const auto& [input, output] : recorded) {
            outputs.insert(output);
            EXPECT_NEAR(FrequencyOf(Folder / "out" / output), tones[input], 10) << input;
        }
        EXPECT_EQ(Tree("out"), outputs);
        if (named)
            EXPECT_EQ(outputs.size(), tones.size());
        else
            EXPECT_EQ(recorded, expected);
    }
}
