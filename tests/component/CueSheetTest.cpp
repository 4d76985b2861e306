// The cue sheet reader: texts in UTF-8 and Latin-1, the tracks' times, and every refusal naming
// its line.
#include "component/CueSheet.h"
#include "component/ComponentHarness.h"

#include <gtest/gtest.h>

namespace {

class CueSheet : public ::testing::Test {
protected:
    void SetUp() override { Folder.Touch("album.flac"); }
    TCueRead Parse(const std::string& text) { return ParseCueSheet(text, Folder.Path(), "a.cue"); }
    TScratchFolder Folder;
};

const std::string Album = "REM GENRE Rock\n"
                          "REM DATE 1999\n"
                          "PERFORMER \"The Band\"\n"
                          "TITLE \"Album\"\n"
                          "FILE \"album.flac\" WAVE\n"
                          "  TRACK 01 AUDIO\n"
                          "    TITLE \"One\"\n"
                          "    INDEX 01 00:00:00\n"
                          "  TRACK 02 AUDIO\n"
                          "    TITLE \"Two\"\n"
                          "    PERFORMER Guest\n"
                          "    INDEX 00 00:02:00\n"
                          "    INDEX 01 00:02:37\n"
                          "  TRACK 03 AUDIO\n"
                          "    INDEX 01 01:00:74\n";

} // namespace

TEST_F(CueSheet, ReadsAlbumAndTracks) {
    const TCueRead read = Parse(Album);
    ASSERT_EQ(read.ErrorText, "");
    const TCueSheet& sheet = read.Sheet;
    EXPECT_EQ(sheet.Title, "Album");
    EXPECT_EQ(sheet.Performer, "The Band");
    EXPECT_EQ(sheet.Date, "1999");
    EXPECT_EQ(sheet.Genre, "Rock");
    ASSERT_EQ(sheet.Tracks.size(), 3u);
    EXPECT_EQ(sheet.Tracks[1].Title, "Two");
    EXPECT_EQ(sheet.Tracks[1].Performer, "Guest");
    EXPECT_EQ(sheet.Tracks[1].StartFrames, 2 * 75 + 37) << "INDEX 01, not the pre-gap";
    EXPECT_EQ(sheet.Tracks[2].StartFrames, 60 * 75 + 74);
    EXPECT_EQ(sheet.Tracks[2].AudioFile, Folder / "album.flac");
}

TEST_F(CueSheet, Latin1AndUtf8GiveTheSameText) {
    const std::string utf8 = "\xEF\xBB\xBF" + Album + "TITLE \"Caf\xC3\xA9\"\n";
    const std::string latin1 = Album + "TITLE \"Caf\xE9\"\n";
    EXPECT_EQ(Parse(utf8).Sheet.Tracks[2].Title, "Caf\xC3\xA9");
    EXPECT_EQ(Parse(latin1).Sheet.Tracks[2].Title, "Caf\xC3\xA9");
}

TEST_F(CueSheet, RefusalsNameTheLine) {
    Folder.Touch("x.flac");
    const std::string head = "FILE \"album.flac\" WAVE\nTRACK 01 AUDIO\n";
    const struct {
        std::string Text;
        std::string Error;
    } cases[] = {
        {head + "INDEX 01 00:60:00\n", "a.cue line 3: malformed INDEX"},
        {head + "INDEX 01 00:00:75\n", "a.cue line 3: malformed INDEX"},
        {head + "INDEX 01 0:0\n", "a.cue line 3: malformed INDEX"},
        {head + "INDEX 01 00:01:00 x\n", "a.cue line 3: malformed INDEX"},
        {head + "INDEX 01 99999999999:00:00\n", "a.cue line 3: malformed INDEX"},
        {head + "INDEX 01 -1:00:00\n", "a.cue line 3: malformed INDEX"},
        {head + "INDEX x1 00:00:00\n", "a.cue line 3: malformed INDEX"},
        {"FILE \"album.flac\" WAVE\nTRACK 1x AUDIO\n", "a.cue line 2: TRACK needs a number"},
        {"FILE \"../x.flac\" WAVE\n", "a.cue line 1: FILE \"../x.flac\" lies outside"},
        {"REM\nFILE \"/etc/passwd\" WAVE\n", "a.cue line 2: FILE \"/etc/passwd\" lies outside"},
        {"FILE \"gone.flac\" WAVE\n", "a.cue line 1: FILE \"gone.flac\" does not exist"},
        {"TRACK 01 AUDIO\n", "a.cue line 1: TRACK before any FILE"},
        {head + "TITLE \"open\n", "a.cue line 3: a quotation mark is not closed"},
        {head + "TRACK 02 AUDIO\nINDEX 01 00:01:00\n", "a.cue line 2: TRACK 1 has no INDEX 01"},
        {head + "INDEX 01 00:05:00\nTRACK 02 AUDIO\nINDEX 01 00:04:00\n",
         "a.cue line 5: INDEX 01 does not come after"},
        {"REM only\n", "a.cue line 1: the sheet has no TRACK"},
    };
    for (const auto& c : cases) {
        const TCueRead read = Parse(c.Text);
        EXPECT_TRUE(read.ErrorText.starts_with(c.Error)) << c.Text << "gave: " << read.ErrorText;
        EXPECT_TRUE(read.Sheet.Tracks.empty());
    }
}

// A CD frame is 588 samples at 44.1 kHz and 640 at 48 kHz: the microseconds must round back to
// exactly those samples, the way the engine rounds a time to samples.
TEST(CueTimes, FramesConvertToTheExactSample) {
    for (const int64_t rateHz : {44100, 48000, 96000, 192000})
        for (int64_t frames = 0; frames < 75 * 60 * 80; frames += 7) {
            const int64_t us = CueFramesToUs(frames);
            const int64_t sample = (us * rateHz + 500000) / 1000000;
            ASSERT_EQ(sample * 75, frames * rateHz) << frames << " frames at " << rateHz;
        }
}

TEST_F(CueSheet, FoundBesideItsAudioFile) {
    EXPECT_TRUE(CueSheetBeside(Folder / "album.flac").empty());
    Folder.Touch("album.cue");
    EXPECT_EQ(CueSheetBeside(Folder / "album.flac"), Folder / "album.cue");
    EXPECT_TRUE(CueSheetBeside(Folder / "album.cue").empty());
}
