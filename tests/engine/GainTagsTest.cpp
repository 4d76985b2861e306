// The filling of gain tags in a written file: placeholders that the ffmpeg tool wrote are filled
// in place, in the same file and without changing its size, and ffprobe reads the values.
#include "engine/GainTags.h"
#include "ffbind/TempFolder.h"
#include "support/TestLibs.h"
#include "support/TestMedia.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

TEST(GainTags, PlaceholdersFilledInPlace) {
    EnsureLibsLoaded();
    const struct {
        const char* Name;
        const char* TagsOf; // "" for the container's, "s:a:0" for the sound stream's (Ogg)
        const char* Key;
        const char* Filled;
    } cases[] = {{"a.mp3", "", "REPLAYGAIN_TRACK_GAIN", "-02.00 dB"},
                 {"a.flac", "", "REPLAYGAIN_TRACK_GAIN", "-02.00 dB"},
                 {"a.wma", "", "REPLAYGAIN_TRACK_GAIN", "-02.00 dB"},
                 {"a.ogg", "s:a:0", "REPLAYGAIN_TRACK_GAIN", "-02.00 dB"},
                 {"a.opus", "s:a:0", "R128_TRACK_GAIN", "-01792"}};
    const TLoudness track{-16.0, -1.0}, album{-17.0, -0.5};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        TTempFolder folder;
        const std::filesystem::path file = folder / c.Name;
        const std::string metadata = std::string(" -metadata") + (*c.TagsOf ? ":" : "") + c.TagsOf;
        const bool opus = std::string(c.Key).starts_with("R128");
        std::string placeholders;
        for (const char* key :
             opus ? std::vector<const char*>{"R128_TRACK_GAIN", "R128_ALBUM_GAIN"}
                  : std::vector<const char*>{"REPLAYGAIN_TRACK_GAIN", "REPLAYGAIN_TRACK_PEAK",
                                             "REPLAYGAIN_ALBUM_GAIN", "REPLAYGAIN_ALBUM_PEAK"})
            placeholders += metadata + " " + key + "=" +
                            (opus                                  ? "000000"
                             : std::string(key).ends_with("_GAIN") ? "'+00.00 dB'"
                                                                   : "0.000000");
        RunCommand("ffmpeg -v error -f lavfi -i sine=d=1 " + placeholders + " " +
                   ShellQuote(file.string()));
        struct stat before {};
        ASSERT_EQ(stat(file.c_str(), &before), 0);
        EXPECT_EQ(WriteGainTags(file, track, album), "");
        struct stat after {};
        ASSERT_EQ(stat(file.c_str(), &after), 0);
        EXPECT_EQ(after.st_ino, before.st_ino) << "written in place";
        EXPECT_EQ(after.st_size, before.st_size);
        const std::string entry = std::string(*c.TagsOf ? "stream_tags=" : "format_tags=") + c.Key;
        EXPECT_EQ(ProbeValue(file, entry, *c.TagsOf ? "a:0" : ""), c.Filled);
        EXPECT_NEAR(DecodeAudio(file).DurationSeconds(), 1.0, 0.1) << "still decodes";
    }
}
