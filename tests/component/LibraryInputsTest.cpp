// Batches over a library: the folder walk, the tree and template names, the shard partition,
// the update check and the cover copy, on trees made at test time. The update check's read-back
// is compared with outputs the ffmpeg tool wrote.
#include "component/LibraryInputs.h"
#include "component/ComponentHarness.h"
#include "component/CoverImages.h"
#include "component/OutputAssembly.h"
#include "component/UpdateCheck.h"
#include "support/TestLibs.h"
#include "support/TestMedia.h"

#include <gtest/gtest.h>

#include <fstream>

namespace fs = std::filesystem;

namespace {

// Writes a small file at a relative path, with its folders.
void Put(const TScratchFolder& folder, const std::string& relative) {
    fs::create_directories((folder / relative).parent_path());
    std::ofstream(folder / relative) << "x";
}

std::vector<std::string> WalkAll(TLibraryInputs& inputs) {
    std::vector<std::string> found;
    while (std::optional<TLibraryInput> input = inputs.Next())
        found.push_back(input->Relative.generic_string() + (input->InFolder ? "" : " (file)"));
    return found;
}

// A template's place as the name builder makes it whole.
std::string Built(const TNamePath& path) {
    TNameParts parts;
    parts.Path = path;
    parts.Marked = false;
    return BuildOutputName(parts).Base;
}

} // namespace

// Path order at every level, hidden files and folders left out, links to folders not followed,
// equal names in two albums and unicode names kept apart; a file given by itself comes in turn.
TEST(FolderWalk, PathOrderWithoutHiddenOrLinkedFolders) {
    TScratchFolder folder;
    for (const char* file :
         {"lib/B Artist/Album/01.flac", "lib/A Artist/Second/01.flac", "lib/A Artist/First/01.flac",
          "lib/A Artist/First/02.flac", "lib/A Artist/First/cover.jpg", "lib/Été/日本 1.flac",
          "lib/.hidden/01.flac", "lib/A Artist/.secret.flac", "lib/top.mp3", "single.wav"})
        Put(folder, file);
    fs::create_directory_symlink(folder / "lib/A Artist", folder / "lib/Z link");
    TLibraryInputs inputs;
    inputs.Add(folder / "lib");
    inputs.Add(folder / "single.wav");
    const std::vector<std::string> expected = {
        "A Artist/First/01.flac",  "A Artist/First/02.flac", "A Artist/First/cover.jpg",
        "A Artist/Second/01.flac", "B Artist/Album/01.flac", "top.mp3",
        "Été/日本 1.flac",         "single.wav (file)"};
    EXPECT_EQ(WalkAll(inputs), expected);
}

// Shares 1..N of a tree take every file exactly once, and the same ones on every run.
TEST(Shard, SharesPartitionTheTree) {
    TScratchFolder folder;
    for (int i = 0; i < 300; ++i)
        Put(folder, "lib/" + std::to_string(i % 7) + "/track " + std::to_string(i) + ".flac");
    TLibraryInputs all;
    all.Add(folder / "lib");
    const std::vector<std::string> every = WalkAll(all);
    ASSERT_EQ(every.size(), 300u);
    for (const int count : {1, 2, 5}) {
        std::vector<std::string> joined;
        for (int index = 1; index <= count; ++index) {
            TLibraryInputs share(TShard{index, count});
            share.Add(folder / "lib");
            const std::vector<std::string> part = WalkAll(share);
            if (count > 1) {
                EXPECT_LT(part.size(), every.size()) << index << "/" << count;
            }
            joined.insert(joined.end(), part.begin(), part.end());
        }
        std::sort(joined.begin(), joined.end());
        std::vector<std::string> sorted = every;
        std::sort(sorted.begin(), sorted.end());
        EXPECT_EQ(joined, sorted) << "N=" << count;
    }
    // Fixed values: machines with other builds of the program agree on the shares.
    EXPECT_EQ(StablePathHash("a/b.flac"), StablePathHash(fs::path("a") / "b.flac"));
    EXPECT_EQ(StablePathHash(""), 14695981039346656037ull);
}

TEST(Shard, ParseKOfN) {
    const struct {
        const char* Text;
        int Index, Count; // 0: refused
    } cases[] = {{"1/1", 1, 1}, {"3/8", 3, 8}, {"0/2", 0, 0},  {"3/2", 0, 0},
                 {"1/0", 0, 0}, {"a/2", 0, 0}, {"1/2x", 0, 0}, {"12", 0, 0}};
    for (const auto& c : cases) {
        const std::optional<TShard> shard = ParseShard(c.Text);
        EXPECT_EQ(shard ? shard->Index : 0, c.Index) << c.Text;
        EXPECT_EQ(shard ? shard->Count : 0, c.Count) << c.Text;
    }
}

// Fields, fallbacks for missing tags, padding, and tag values that try to make folders, leave
// the output folder or break the file system, once the builder has cleaned the name.
TEST(NameTemplate, ExpandsTagsSafely) {
    const TTagMap tags = {{"artist", "Ann"}, {"album", "Songs"}, {"title", "Hi: there?"},
                          {"track", "3/12"}, {"disc", "2"},      {"date", "2021"},
                          {"genre", "Jazz"}};
    const TTagMap hostile = {{"artist", "../../etc"},
                             {"album", "a/b"},
                             {"title", std::string("x\0y", 3)},
                             {"genre", std::string(300, 'g')},
                             {"track", "seven"}};
    const TTagMap oneDisc = {{"album", "Solo"}, {"title", "T"}, {"track", "4"}, {"disc", "1/1"}};
    const TTagMap twoDiscs = {
        {"album", "Set"}, {"title", "T"}, {"track", "4"}, {"disc", "1"}, {"disctotal", "2"}};
    const fs::path relative = "Folder/Sub/07 Song.flac";
    const struct {
        const char* Template;
        const TTagMap* Tags;
        std::string Expected;
    } cases[] = {
        {"{albumartist}/{album}/{track:02} {title}", &tags, "Ann/Songs/03 Hi_ there_"},
        {"{artist} - {disc}.{track:03} {date} {genre}", &tags, "Ann - 2.003 2021 Jazz"},
        {"{dir}/{filename}", &tags, "Folder/Sub/07 Song"},
        {"{artist}/{album}/{title}", nullptr, "Unknown Artist/Unknown Album/07 Song"},
        {"{track:02} {date} {genre} {disc}", nullptr, "00 Unknown Date Unknown Genre 1"},
        {"{artist}/{album}/{title}", &hostile, "___.._etc/a_b/x_y"},
        {"{artist}/{track:02}", &hostile, "___.._etc/seven"},
        {"../{artist}/./x", &tags, "__/Ann/_/x"},
        {"/abs//{artist}", &tags, "abs/Ann"},
        // Conditional sections: the disc only on albums of more than one disc (or of an
        // unknown number of them), totals from their own tags or from "n/N".
        {"<{disc}->{track:02} {title}", &tags, "2-03 Hi_ there_"},
        {"<{disc}->{track:02} {title}", &oneDisc, "04 T"},
        {"<{disc}->{track:02} {title}", &twoDiscs, "1-04 T"},
        {"<{disc}->{track:02}", nullptr, "00"},
        {"{album}/<CD{disc}/>{track} of {totaltracks}", &twoDiscs, "Set/CD1/4 of 0"},
        {"{album}/<CD{disc}/>{track} of {totaltracks}", &tags, "Songs/CD2/3 of 12"},
        {"{album} ({totaldiscs:02} discs)<, {genre}>", &twoDiscs, "Set (02 discs)"},
    };
    for (const auto& c : cases) {
        std::string error;
        const std::optional<TNameTemplate> parsed = TNameTemplate::Parse(c.Template, error);
        ASSERT_TRUE(parsed) << c.Template << ": " << error;
        EXPECT_EQ(Built(parsed->Expand(c.Tags ? *c.Tags : TTagMap(), relative)), c.Expected)
            << c.Template;
    }
    std::string error;
    EXPECT_EQ(Built(TNameTemplate::Parse("{genre}", error)->Expand(hostile, relative)),
              std::string(200, 'g'));
}

TEST(NameTemplate, RefusesBadTemplates) {
    for (const char* text : {"{artist", "{nope}", "{title:02}", "{track:x}", "{track:-1}",
                             "<{disc}", "{disc}>", "<<{disc}>>"}) {
        std::string error;
        EXPECT_FALSE(TNameTemplate::Parse(text, error)) << text;
        EXPECT_FALSE(error.empty()) << text;
    }
}

// In a tree the output takes the input's name and the new extension, numbered only when taken
// (or replaced when overwriting); beside the input the tree is ignored.
TEST(OutputName, TreeNames) {
    TScratchFolder folder;
    TOutputChoices choices;
    choices.InputFileName = "/music/A/B/01.flac";
    choices.OutputFolder = folder / "out";
    const TLibraryInput input{"/music/A/B/01.flac", "A/B/01.flac", true};
    NameLibraryOutput(choices, input, {});
    EXPECT_EQ(OutputFileNameFor(choices), folder / "out/A/B/01.mp3");
    ASSERT_TRUE(std::filesystem::create_directories(folder / "out/A/B"));
    folder.Touch("out/A/B/01.mp3");
    EXPECT_EQ(OutputFileNameFor(choices), folder / "out/A/B/01_(new_1).mp3");
    choices.Overwrite = true;
    EXPECT_EQ(OutputFileNameFor(choices), folder / "out/A/B/01.mp3");

    TOutputChoices beside;
    beside.InputFileName = "/music/A/B/01.flac";
    NameLibraryOutput(beside, input, {});
    EXPECT_EQ(OutputFileNameFor(beside), "/music/A/B/01_(new).mp3");
}

// Missing, older than its input, short (a stopped run's) and done; the length is read back.
TEST(UpdateCheck, OutputStates) {
    EnsureLibsLoaded();
    TScratchFolder folder;
    const fs::path input = folder / "in.wav";
    fs::copy_file(Fixture("tone_1k_stereo.wav"), input); // 4 s
    const auto write = [&](const std::string& name, double seconds) {
        RunCommand("ffmpeg -v error -y -i " + ShellQuote(input.string()) + " -t " +
                   std::to_string(seconds) + " -c:a libmp3lame " +
                   ShellQuote((folder / name).string()));
        return folder / name;
    };
    const fs::path done = write("done.mp3", 4), part = write("part.mp3", 1.5);
    const int64_t expectedUs = 4'000'000;
    EXPECT_EQ(OutputStateFor(input, folder / "none.mp3", expectedUs), osMissing);
    fs::last_write_time(input, fs::last_write_time(done) - std::chrono::hours(1));
    EXPECT_EQ(OutputStateFor(input, done, expectedUs), osUpToDate);
    EXPECT_EQ(OutputStateFor(input, part, expectedUs), osIncomplete);
    EXPECT_EQ(OutputStateFor(input, part, 0), osUpToDate); // unknown length: the times decide
    fs::last_write_time(input, fs::last_write_time(done) + std::chrono::seconds(5));
    EXPECT_EQ(OutputStateFor(input, done, expectedUs), osOutdated);
}

// Pictures only, visible ones only, and one already in the output folder is kept.
TEST(CoverImages, CopiesPicturesOnce) {
    TScratchFolder folder;
    for (const char* file : {"in/cover.jpg", "in/Folder.JPG", "in/front.png", "in/notes.txt",
                             "in/01.flac", "in/.thumb.jpg", "out/front.png"})
        Put(folder, file);
    std::ofstream(folder / "out/front.png") << "kept";
    EXPECT_EQ(CopyImages(AlbumImages(folder / "in", folder / "out")), 2);
    for (const char* file : {"cover.jpg", "Folder.JPG", "front.png"})
        EXPECT_TRUE(fs::exists(folder / "out" / file)) << file;
    for (const char* file : {"notes.txt", "01.flac", ".thumb.jpg"})
        EXPECT_FALSE(fs::exists(folder / "out" / file)) << file;
    std::ifstream kept(folder / "out/front.png");
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(kept), {}), "kept");
    EXPECT_EQ(CopyImages(AlbumImages(folder / "in", folder / "out")), 0);
}
