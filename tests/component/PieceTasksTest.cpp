// What one input gives several tasks of: the tracks named by number or language, and the
// pieces' clips, names and tags as the component hands them to the option assembly.
#include "component/PieceTasks.h"
#include "component/ComponentHarness.h"
#include "component/UpdateCheck.h"

#include <gtest/gtest.h>

namespace {

std::vector<TAudioTrack> ThreeTracks() {
    return {{.StreamIndex = 1, .Number = 1, .Language = "eng", .Codec = "aac", .Channels = 2},
            {.StreamIndex = 2,
             .Number = 2,
             .Language = "ger",
             .Codec = "ac3",
             .Channels = 6,
             .Title = "Kommentar",
             .Default = true},
            {.StreamIndex = 4, .Number = 3, .Codec = "opus", .Channels = 1}};
}

} // namespace

TEST(AudioTracks, FoundByNumberOrLanguage) {
    const std::vector<TAudioTrack> tracks = ThreeTracks();
    const struct {
        const char* Name;
        int StreamIndex; // -1: none
    } cases[] = {{"1", 1},  {"3", 4},  {"0", -1},  {"4", -1},  {"eng", 1}, {"en", 1},
                 {"EN", 1}, {"de", 2}, {"deu", 2}, {"ger", 2}, {"fr", -1}, {"", -1}};
    for (const auto& c : cases) {
        const TAudioTrack* track = FindAudioTrack(tracks, c.Name);
        EXPECT_EQ(track ? track->StreamIndex : -1, c.StreamIndex) << c.Name;
    }
    EXPECT_EQ(DefaultAudioTrack(tracks)->StreamIndex, 2);
    EXPECT_EQ(AudioTrackCaption(tracks[1]), "2: ger, ac3, 6 ch, Kommentar (default)");
    EXPECT_EQ(AudioTrackCaption(tracks[2]), "3: unknown language, opus, 1 ch");
}

TEST(PieceTasks, CueTracksCutAtTheirIndexes) {
    TScratchFolder folder;
    TOutputChoices whole;
    whole.InputFileName = folder / "album.flac";
    whole.Format = fmFlac;
    whole.ClaimedNames = {folder / "02 B_C.flac"};
    TCueSheet sheet;
    sheet.Title = "Album";
    sheet.Performer = "Band";
    sheet.Tracks = {{1, whole.InputFileName, 0, "A", "", {}},
                    {2, whole.InputFileName, 187, "B/C", "Guest", {}},
                    {3, whole.InputFileName, 311, "", "", {}}};
    const std::vector<TPieceTask> tasks = CueTrackTasks(sheet, whole);
    ASSERT_EQ(tasks.size(), 3u);
    EXPECT_EQ(tasks[0].OutputFileName, folder / "01 A.flac");
    EXPECT_EQ(tasks[1].OutputFileName, folder / "02 B_C_(new_1).flac") << "claimed";
    EXPECT_EQ(tasks[2].OutputFileName, folder / "03 Track 3.flac");
    EXPECT_EQ(BuildInputOptions(tasks[1].Choices).StartUs, CueFramesToUs(187));
    EXPECT_EQ(BuildOutputOptions(tasks[1].Choices).DurationUs,
              CueFramesToUs(311) - CueFramesToUs(187));
    EXPECT_EQ(BuildOutputOptions(tasks[2].Choices).DurationUs, -1) << "to the end";
    EXPECT_EQ(BuildOutputOptions(tasks[1].Choices).Tags, (TTagPairs{{"title", "B/C"},
                                                                    {"artist", "Guest"},
                                                                    {"album", "Album"},
                                                                    {"album_artist", "Band"},
                                                                    {"track", "2"},
                                                                    {"TRACKTOTAL", "3"},
                                                                    {"CUESHEET", ""}}));
    // Recorded in the words of the engine option lines they once were: the record of an earlier
    // run still holds the same settings.
    const std::string settings = OutputSettingsText(tasks[1].Choices);
    EXPECT_EQ(settings.substr(settings.find(" piece=")),
              " piece=" + std::to_string(CueFramesToUs(187)) + "+" +
                  std::to_string(CueFramesToUs(311) - CueFramesToUs(187)) +
                  " tags=1 cover=1 "
                  "options=metadata=title=B/C\nmetadata=artist=Guest\nmetadata=album=Album\n"
                  "metadata=album_artist=Band\nmetadata=track=2\nmetadata=TRACKTOTAL=3\n"
                  "metadata=CUESHEET=\n");
}

TEST(PieceTasks, EveryTrackNamedByNumberAndLanguage) {
    TScratchFolder folder;
    TOutputChoices whole;
    whole.InputFileName = folder / "film.mkv";
    whole.Format = fmCopy;
    const std::vector<TPieceTask> tasks = AudioTrackTasks(ThreeTracks(), whole);
    ASSERT_EQ(tasks.size(), 3u);
    EXPECT_EQ(tasks[0].OutputFileName, folder / "film_(new)_1_eng.m4a");
    EXPECT_EQ(tasks[1].OutputFileName, folder / "film_(new)_2_ger.ac3");
    EXPECT_EQ(tasks[2].OutputFileName, folder / "film_(new)_3.opus");
    EXPECT_EQ(BuildInputOptions(tasks[1].Choices).AudioStream, 2);
    EXPECT_EQ(BuildInputOptions(tasks[1].Choices).ExtraOptions, "vn=1");
    EXPECT_EQ(BuildOutputOptions(tasks[1].Choices).Tags,
              (TTagPairs{{"title", "Kommentar"}, {"language", "ger"}}));
}
