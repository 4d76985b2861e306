// One input, many outputs, through soundpick-cli: the audio track chosen by default, number or
// language, every track, chapters and cue sheets. The inputs are made here by the ffmpeg tool;
// the outputs are read with ffprobe and decoded by it, and the pieces of a lossless input joined
// again must give its samples exactly.
#include "cli/CliProcess.h"
#include "component/ComponentHarness.h"
#include "support/TestMedia.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>

namespace fs = std::filesystem;

namespace {

void Ffmpeg(const std::string& arguments) {
    int status = -1;
    RunCommand("ffmpeg -nostdin -v error -y " + arguments + " 2>&1", &status);
    ASSERT_EQ(status, 0) << arguments;
}

std::string Tag(const fs::path& file, const std::string& key) {
    std::string value = ProbeValue(file, "format_tags=" + key);
    return value.empty() ? ProbeValue(file, "stream_tags=" + key, "a:0") : value;
}

// The samples of several files decoded one after another.
std::vector<float> Joined(const std::vector<fs::path>& files) {
    std::vector<float> samples;
    for (const fs::path& file : files) {
        const TDecodedAudio decoded = DecodeAudio(file);
        samples.insert(samples.end(), decoded.Samples.begin(), decoded.Samples.end());
    }
    return samples;
}

std::size_t Frames(const fs::path& file) {
    const TDecodedAudio decoded = DecodeAudio(file);
    return decoded.Channels > 0 ? decoded.Samples.size() / decoded.Channels : 0;
}

void WriteFile(const fs::path& file, const std::string& bytes) {
    std::ofstream(file, std::ios::binary) << bytes;
}

class CliPieces : public ::testing::Test {
protected:
    int Run(std::vector<std::string> args, std::string* err = nullptr) {
        return RunCli(args, Folder.Path(), nullptr, err);
    }
    TScratchFolder Folder;
};

// A cue sheet of three tracks over album.flac; the second's title in the given bytes.
std::string AlbumCue(const std::string& file, const std::string& secondTitle,
                     const std::string& secondIndex = "00:02:37") {
    return "REM GENRE Ambient\nREM DATE 2004\nPERFORMER \"The Band\"\nTITLE \"Noise\"\n"
           "FILE \"" +
           file +
           "\" WAVE\n  TRACK 01 AUDIO\n    TITLE \"One\"\n    INDEX 01 00:00:00\n"
           "  TRACK 02 AUDIO\n    TITLE \"" +
           secondTitle + "\"\n    INDEX 00 00:02:00\n    INDEX 01 " + secondIndex +
           "\n  TRACK 03 AUDIO\n    TITLE \"Three\"\n    PERFORMER \"Guest\"\n"
           "    INDEX 01 00:04:11\n";
}

constexpr std::size_t SamplesPerCdFrame = 588; // at 44.1 kHz

} // namespace

// English first, a German commentary flagged as the default second, French third: the default
// is converted unless a track is named, by number or by language in any ISO 639 form.
TEST_F(CliPieces, AudioTrackChoice) {
    const std::string input = (Folder / "film.mkv").string();
    Ffmpeg("-f lavfi -i sine=f=440:d=2 -f lavfi -i sine=f=880:d=2 -f lavfi -i sine=f=1320:d=2 "
           "-filter_complex '[1]pan=stereo|c0=c0|c1=c0[two]' -map 0 -map '[two]' -map 2 -c:a flac "
           "-metadata:s:a:0 language=eng -metadata:s:a:1 language=ger "
           "-metadata:s:a:1 title=Kommentar -metadata:s:a:2 language=fre -disposition:a:0 0 "
           "-disposition:a:1 default -disposition:a:2 0 " +
           ShellQuote(input));
    const struct {
        std::vector<std::string> Track;
        double FrequencyHz;
        int Channels;
    } cases[] = {{{}, 880, 2},
                 {{"--track", "1"}, 440, 1},
                 {{"--track", "3"}, 1320, 1},
                 {{"--track", "de"}, 880, 2},
                 {{"--track", "deu"}, 880, 2},
                 {{"--track=fre"}, 1320, 1}};
    const fs::path output = Folder / "film_(new).wav";
    for (const auto& c : cases) {
        std::vector<std::string> args = {"--overwrite", "-f", "wav", input};
        args.insert(args.begin(), c.Track.begin(), c.Track.end());
        std::string err;
        ASSERT_EQ(Run(args, &err), 0) << err;
        const TDecodedAudio decoded = DecodeAudio(output);
        SCOPED_TRACE(c.FrequencyHz);
        EXPECT_EQ(decoded.Channels, c.Channels) << "the output follows its track";
        EXPECT_NEAR(decoded.ZeroCrossingFrequency(0, 0.5, 1.5), c.FrequencyHz, 10);
    }
    std::string err;
    EXPECT_EQ(Run({"--track", "spa", "-f", "wav", input}, &err), 1);
    EXPECT_NE(err.find("no audio track 'spa'"), std::string::npos) << err;
    EXPECT_NE(err.find("2: ger, flac, 2 ch, Kommentar (default)"), std::string::npos) << err;

    // A second run into the folder of the first numbers its outputs past the first's; each
    // line says which track it is about.
    for (const std::string mark : {"_(new)", "_(new_1)"}) {
        ASSERT_EQ(Run({"--all-tracks", "-f", "flac", input}, &err), 0) << err;
        EXPECT_NE(err.find(input + " [2 ger]: finished"), std::string::npos) << err;
        const struct {
            const char* Suffix;
            double FrequencyHz;
            const char* Title;
        } tracks[] = {{"_1_eng", 440, ""}, {"_2_ger", 880, "Kommentar"}, {"_3_fre", 1320, ""}};
        for (const auto& track : tracks) {
            const fs::path file = Folder / ("film" + mark + track.Suffix + ".flac");
            ASSERT_TRUE(fs::exists(file)) << file;
            EXPECT_NEAR(DecodeAudio(file).ZeroCrossingFrequency(0, 0.5, 1.5), track.FrequencyHz,
                        10);
            EXPECT_EQ(Tag(file, "title"), track.Title);
            EXPECT_EQ(Tag(file, "language"), std::string(track.Suffix).substr(3));
        }
    }
}

// Chapters into a folder named after the input, album and artist kept, sample for sample from
// an MPEG-4 file (lossless ALAC) and from Matroska (flac, stamped to the millisecond).
TEST_F(CliPieces, SplitChapters) {
    const fs::path meta = Folder / "meta.txt";
    WriteFile(meta, ";FFMETADATA1\nalbum=Book\nartist=Reader\n"
                    "[CHAPTER]\nTIMEBASE=1/1000\nSTART=0\nEND=1500\ntitle=Intro\n"
                    "[CHAPTER]\nTIMEBASE=1/1000\nSTART=1500\nEND=3250\ntitle=Part/Two\n"
                    "[CHAPTER]\nTIMEBASE=1/1000\nSTART=3250\nEND=4000\ntitle=Outro\n");
    const struct {
        const char* Name;
        const char* Codec;
    } inputs[] = {{"book.m4a", "alac -sample_fmt s16p"}, {"film.mka", "flac"}};
    for (const auto& in : inputs) {
        SCOPED_TRACE(in.Name);
        const fs::path input = Folder / in.Name;
        Ffmpeg("-f lavfi -i anoisesrc=d=4:a=0.3:r=44100 -i " + ShellQuote(meta.string()) +
               " -map 0 -map_metadata 1 -map_chapters 1 -c:a " + in.Codec + " " +
               ShellQuote(input.string()));
        std::string err;
        ASSERT_EQ(Run({"--split-chapters", "-f", "flac", input.string()}, &err), 0) << err;
        const fs::path folder = Folder / input.stem();
        const std::vector<fs::path> outputs = {
            folder / "01 Intro.flac", folder / "02 Part_Two.flac", folder / "03 Outro.flac"};
        const std::size_t frames[] = {66150, 77175, 33075};
        for (std::size_t i = 0; i < outputs.size(); ++i) {
            SCOPED_TRACE(outputs[i].filename().string());
            ASSERT_TRUE(fs::exists(outputs[i]));
            EXPECT_EQ(Frames(outputs[i]), frames[i]);
            EXPECT_EQ(Tag(outputs[i], "track"), std::to_string(i + 1));
            EXPECT_EQ(Tag(outputs[i], "album"), "Book");
            EXPECT_EQ(Tag(outputs[i], "artist"), "Reader");
        }
        EXPECT_EQ(Tag(outputs[1], "title"), "Part/Two");
        EXPECT_TRUE(Joined(outputs) == DecodeAudio(input).Samples) << "sample for sample";
    }
}

// A three-track album as one flac with its cue sheet, in UTF-8 and in Latin-1: tracks cut at
// CD frames, named and tagged from the sheet, joined again sample for sample; and as mp3, each
// decodes (its encoder delay and padding signalled) to its exact length.
TEST_F(CliPieces, CueSheetTracks) {
    Ffmpeg("-f lavfi -i anoisesrc=d=6:a=0.3:r=44100 -ac 2 -c:a flac -sample_fmt s16 " +
           ShellQuote((Folder / "album.flac").string()));
    const struct {
        const char* Folder;
        std::string SecondTitle;
    } encodings[] = {{"utf8", "Caf\xC3\xA9"}, {"latin1", "Caf\xE9"}};
    const std::size_t lastFrames = 6 * 44100 - (4 * 75 + 11) * SamplesPerCdFrame;
    const std::size_t frames[] = {(2 * 75 + 37) * SamplesPerCdFrame,
                                  (2 * 75 - 26) * SamplesPerCdFrame, lastFrames};
    for (const auto& encoding : encodings) {
        SCOPED_TRACE(encoding.Folder);
        fs::create_directory(Folder / encoding.Folder);
        fs::copy_file(Folder / "album.flac", Folder / encoding.Folder / "album.flac");
        const fs::path cue = Folder / encoding.Folder / "album.cue";
        WriteFile(cue, AlbumCue("album.flac", encoding.SecondTitle));
        std::string err;
        ASSERT_EQ(Run({"-f", "flac", cue.string()}, &err), 0) << err;
        const std::vector<fs::path> outputs = {Folder / encoding.Folder / "01 One.flac",
                                               Folder / encoding.Folder / "02 Caf\xC3\xA9.flac",
                                               Folder / encoding.Folder / "03 Three.flac"};
        for (std::size_t i = 0; i < outputs.size(); ++i) {
            ASSERT_TRUE(fs::exists(outputs[i])) << outputs[i];
            EXPECT_EQ(Frames(outputs[i]), frames[i]) << outputs[i];
            EXPECT_EQ(Tag(outputs[i], "track"), std::to_string(i + 1));
            EXPECT_EQ(Tag(outputs[i], "album"), "Noise");
            EXPECT_EQ(Tag(outputs[i], "genre"), "Ambient");
            EXPECT_EQ(Tag(outputs[i], "date"), "2004");
        }
        EXPECT_EQ(Tag(outputs[1], "title"), "Caf\xC3\xA9");
        EXPECT_EQ(Tag(outputs[1], "artist"), "The Band");
        EXPECT_EQ(Tag(outputs[2], "artist"), "Guest");
        EXPECT_TRUE(Joined(outputs) == DecodeAudio(Folder / "album.flac").Samples)
            << "sample for sample";
    }

    // Lossy: each decodes to its track's length, to the sample, its encoder's delay and padding
    // signalled (the LAME header, the Opus pre-skip and end granule); Opus is at 48 kHz, where a
    // CD frame is 640 samples.
    const struct {
        const char* Format;
        std::size_t SamplesPerFrame;
    } lossy[] = {{"mp3", SamplesPerCdFrame}, {"opus", 640}};
    const int64_t cdFrames[] = {2 * 75 + 37, 2 * 75 - 26, 6 * 75 - (4 * 75 + 11)};
    for (const auto& format : lossy) {
        std::string err;
        ASSERT_EQ(
            Run({"-f", format.Format, "--cue", (Folder / "utf8" / "album.flac").string()}, &err), 0)
            << err;
        const std::string names[] = {"01 One.", "02 Caf\xC3\xA9.", "03 Three."};
        for (std::size_t i = 0; i < 3; ++i)
            EXPECT_EQ(Frames(Folder / "utf8" / (names[i] + format.Format)),
                      cdFrames[i] * format.SamplesPerFrame)
                << names[i] << format.Format;
    }
}

// A sheet that names a file outside its folder, or has a malformed INDEX, adds nothing.
TEST_F(CliPieces, BadCueSheetsAddNothing) {
    Ffmpeg("-f lavfi -i anoisesrc=d=1:r=44100 -c:a flac " +
           ShellQuote((Folder / "x.flac").string()));
    fs::create_directory(Folder / "sheets");
    WriteFile(Folder / "sheets" / "outside.cue", AlbumCue("../x.flac", "Two"));
    fs::copy_file(Folder / "x.flac", Folder / "sheets" / "x.flac");
    WriteFile(Folder / "sheets" / "malformed.cue", AlbumCue("x.flac", "Two", "00:02"));
    const struct {
        const char* Sheet;
        const char* Error;
    } cases[] = {{"outside.cue", "outside.cue line 5: FILE \"../x.flac\" lies outside"},
                 {"malformed.cue", "malformed.cue line 12: malformed INDEX"}};
    for (const auto& c : cases) {
        std::string err;
        EXPECT_EQ(Run({"-f", "flac", (Folder / "sheets" / c.Sheet).string()}, &err), 1);
        EXPECT_NE(err.find(c.Error), std::string::npos) << err;
    }
    for (const auto& entry : fs::directory_iterator(Folder / "sheets"))
        EXPECT_NE(entry.path().extension(), ".flac.part") << entry.path();
    EXPECT_EQ(std::distance(fs::directory_iterator(Folder / "sheets"), fs::directory_iterator()),
              3);
}

// --trim-silence measures the track it converts: the first track sounds all 6 s, the second
// holds 2 s of sound between silence; the second, chosen by number or flagged as the default,
// comes out 2 s long.
TEST_F(CliPieces, TrimMeasuresTheConvertedTrack) {
    const struct {
        const char* Name;
        const char* Dispositions; // of the file's tracks
        std::vector<std::string> Track;
    } cases[] = {{"chosen.mkv", "", {"--track", "2"}},
                 {"default.mkv", "-disposition:a:0 0 -disposition:a:1 default ", {}}};
    for (const auto& c : cases) {
        const std::string input = (Folder / c.Name).string();
        Ffmpeg("-f lavfi -i sine=f=440:d=6 -f lavfi -i "
               "'sine=f=880:d=6,volume=enable=between(t\\,0\\,2)+between(t\\,4\\,6):volume=0' "
               "-map 0 -map 1 -c:a flac " +
               std::string(c.Dispositions) + ShellQuote(input));
        std::vector<std::string> args = {"--trim-silence", "-f", "flac", input};
        args.insert(args.begin(), c.Track.begin(), c.Track.end());
        std::string err;
        ASSERT_EQ(Run(args, &err), 0) << err;
        const fs::path output = Folder / (fs::path(c.Name).stem().string() + "_(new).flac");
        EXPECT_NEAR(DecodeAudio(output).DurationSeconds(), 2.0, 0.1) << c.Name;
        EXPECT_NEAR(DecodeAudio(output).ZeroCrossingFrequency(0, 0.5, 1.5), 880, 10) << c.Name;
    }
}

// Cue sheets as rippers write them, each run through soundpick-cli to flac: the files made,
// their tags, and the pieces decoded one after another give the album's samples (from the
// first sound kept) exactly. album.flac is 6 s of noise; quiet.flac starts with a silent second;
// a.flac and b.flac are album.flac's halves, one FILE per track.
TEST_F(CliPieces, CueSheetsAsRippersWriteThem) {
    const std::string album = (Folder / "album.flac").string();
    Ffmpeg("-f lavfi -i anoisesrc=d=6:a=0.3:r=44100 -ac 2 -c:a flac -sample_fmt s16 " +
           ShellQuote(album));
    Ffmpeg("-f lavfi -i \"aevalsrc=if(lt(t\\,1)\\,0\\,0.3*(2*random(0)-1))|if(lt(t\\,1)\\,0\\,0.3*("
           "2*random(1)-1)):s=44100:d=6\" -c:a flac -sample_fmt s16 " +
           ShellQuote((Folder / "quiet.flac").string()));
    Ffmpeg("-i " + ShellQuote(album) + " -af atrim=end_sample=132300 " +
           ShellQuote((Folder / "a.flac").string()));
    Ffmpeg("-i " + ShellQuote(album) + " -af atrim=start_sample=132300,asetpts=N/SR/TB " +
           ShellQuote((Folder / "b.flac").string()));
    const std::string head = "PERFORMER \"The Band\"\nTITLE \"Noise\"\n";
    const std::string two = "  TRACK 01 AUDIO\n    TITLE \"One\"\n    INDEX 01 00:01:00\n"
                            "  TRACK 02 AUDIO\n    TITLE \"Two\"\n    INDEX 01 00:03:00\n";
    const std::string embedded = "FILE \"CDImage.wav\" WAVE\n" + two;
    Ffmpeg("-i " + ShellQuote(album) + " -c copy -metadata CUESHEET=" + ShellQuote(embedded) + " " +
           ShellQuote((Folder / "tagged.flac").string()));
    const struct {
        const char* Name;
        std::string Sheet;               // album.cue's bytes; empty: none
        std::vector<std::string> Inputs; // the album files copied in, the first given to --cue
        std::vector<std::string> Outputs;
        std::vector<std::tuple<std::size_t, std::string, std::string>> Tags; // output, key, value
        const char* Log;           // a line the run logs; empty: none
        std::size_t SkippedFrames; // the album's frames no piece holds
    } rows[] = {
        {"hidden",
         head + "FILE \"album.flac\" WAVE\n" + two,
         {"album.flac"},
         {"00 Hidden Track", "01 One", "02 Two"},
         {{0, "track", "0"}, {1, "TRACKTOTAL", "2"}},
         "the 1.00 s before track 1 hold sound: kept as track 00",
         0},
        {"silent",
         head + "FILE \"quiet.flac\" WAVE\n" + two,
         {"quiet.flac"},
         {"01 One", "02 Two"},
         {},
         "the 1.00 s before track 1 are silent: left out",
         44100},
        {"data",
         head + "FILE \"album.flac\" WAVE\n  TRACK 01 AUDIO\n    INDEX 01 00:00:00\n"
                "  TRACK 02 AUDIO\n    INDEX 01 00:02:00\n"
                "  TRACK 03 MODE1/2352\n    INDEX 01 00:04:00\n",
         {"album.flac"},
         {"01 Track 1", "02 Track 2"},
         {{1, "TRACKTOTAL", "2"}},
         "TRACK 3 (MODE1/2352) holds data, not sound: skipped",
         0},
        {"gaps",
         head + "FILE \"a.flac\" WAVE\n  TRACK 01 AUDIO\n    INDEX 01 00:00:00\n"
                "  TRACK 02 AUDIO\n    INDEX 00 00:02:00\nFILE \"b.flac\" WAVE\n"
                "    INDEX 01 00:00:00\n",
         {"a.flac", "b.flac"},
         {"01 Track 1", "02 Track 2"},
         {},
         "",
         0},
        {"renamed",
         head + "FILE \"album.wav\" WAVE\n"
                "  TRACK 01 AUDIO\n    INDEX 01 00:00:00\n"
                "  TRACK 02 AUDIO\n    INDEX 01 00:03:00\n",
         {"album.flac"},
         {"01 Track 1", "02 Track 2"},
         {},
         "FILE \"album.wav\" is not there; using album.flac",
         0},
        {"case",
         head + "FILE \"ALBUM.FLAC\" WAVE\n  TRACK 01 AUDIO\n    INDEX 01 00:00:00\n"
                "  TRACK 02 AUDIO\n    INDEX 01 00:03:00\n",
         {"album.flac"},
         {"01 Track 1", "02 Track 2"},
         {},
         "FILE \"ALBUM.FLAC\" is not there; using album.flac",
         0},
        {"embedded",
         "",
         {"tagged.flac"},
         {"00 Hidden Track", "01 One", "02 Two"},
         {{1, "title", "One"}},
         "",
         0},
        {"cp1251",
         "PERFORMER \"\xca\xe8\xed\xee\"\nTITLE \"\xc3\xf0\xf3\xef\xef\xe0 \xea\xf0\xee\xe2\xe8\"\n"
         "FILE \"album.flac\" WAVE\n  TRACK 01 AUDIO\n"
         "    TITLE \"\xc7\xe0\xea\xf0\xee\xe9 \xe7\xe0 \xec\xed\xee\xe9 \xe4\xe2\xe5\xf0\xfc\"\n"
         "    INDEX 01 00:00:00\n  TRACK 02 AUDIO\n"
         "    TITLE \"\xd1\xef\xee\xea\xee\xe9\xed\xe0\xff \xed\xee\xf7\xfc\"\n"
         "    INDEX 01 00:02:00\n",
         {"album.flac"},
         {"01 Закрой за мной дверь", "02 Спокойная ночь"},
         {{0, "artist", "Кино"}, {1, "album", "Группа крови"}},
         "",
         0},
        {"rem",
         "REM DISCNUMBER 2\nREM TOTALDISCS 3\nREM REPLAYGAIN_ALBUM_GAIN -6.50 dB\n"
         "CATALOG 0724384260927\n" +
             head +
             "FILE \"album.flac\" WAVE\n  TRACK 01 AUDIO\n    ISRC GBAYE0000351\n"
             "    REM REPLAYGAIN_TRACK_GAIN -7.89 dB\n    INDEX 01 00:00:00\n"
             "  TRACK 02 AUDIO\n    INDEX 01 00:03:00\n",
         {"album.flac"},
         {"01 Track 1", "02 Track 2"},
         {{0, "TRACKTOTAL", "2"},
          {0, "disc", "2"},
          {0, "DISCTOTAL", "3"},
          {0, "CATALOG", "0724384260927"},
          {0, "ISRC", "GBAYE0000351"},
          {0, "REPLAYGAIN_TRACK_GAIN", "-7.89 dB"},
          {1, "REPLAYGAIN_ALBUM_GAIN", "-6.50 dB"},
          {1, "ISRC", ""}},
         "",
         0},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.Name);
        const fs::path folder = Folder / row.Name;
        fs::create_directory(folder);
        for (const std::string& input : row.Inputs)
            fs::copy_file(Folder / input, folder / input);
        std::vector<std::string> args = {"-f", "flac"};
        if (row.Sheet.empty()) {
            args.insert(args.end(), {"--cue", (folder / row.Inputs.front()).string()});
        } else {
            WriteFile(folder / "album.cue", row.Sheet);
            args.push_back((folder / "album.cue").string());
        }
        std::string err;
        ASSERT_EQ(Run(args, &err), 0) << err;
        EXPECT_NE(err.find(row.Log), std::string::npos) << err;
        std::vector<fs::path> outputs;
        for (const std::string& name : row.Outputs) {
            outputs.push_back(folder / (name + ".flac"));
            ASSERT_TRUE(fs::exists(outputs.back())) << name << "\n" << err;
            EXPECT_EQ(Tag(outputs.back(), "CUESHEET"), "") << "the album's sheet is not a piece's";
        }
        for (const auto& [output, key, value] : row.Tags)
            EXPECT_EQ(Tag(outputs[output], key), value) << row.Outputs[output] << " " << key;
        std::vector<float> expected = DecodeAudio(Folder / row.Inputs.front()).Samples;
        if (row.Inputs.size() > 1)
            expected = Joined({Folder / "a.flac", Folder / "b.flac"});
        expected.erase(expected.begin(), expected.begin() + 2 * row.SkippedFrames);
        EXPECT_TRUE(Joined(outputs) == expected) << "sample for sample";
        EXPECT_EQ(
            std::distance(fs::directory_iterator(folder), fs::directory_iterator()),
            static_cast<long>(row.Inputs.size() + (row.Sheet.empty() ? 0 : 1) + row.Outputs.size()))
            << "no other file made";
    }
}

// A folder run meets two albums with their sheets, beside another file: with --cue the sheets
// give the tracks in the output tree (or by --name, from each track's tags) and the albums are
// not converted whole as well, nor counted so where shares number the files a template names
// alike; without it the sheets are counted apart, not as files without sound.
TEST_F(CliPieces, FolderRunsUseCueSheets) {
    const fs::path in = Folder / "in";
    for (const auto& [folder, album] : {std::pair{"Band", "Noise"}, std::pair{"Other", "Quiet"}}) {
        fs::create_directories(in / folder);
        Ffmpeg("-f lavfi -i anoisesrc=d=4:a=0.3:r=44100 -ac 2 -c:a flac -sample_fmt s16 " +
               ShellQuote((in / folder / "album.flac").string()));
        WriteFile(in / folder / "album.cue",
                  "TITLE \"" + std::string(album) +
                      "\"\nFILE \"album.flac\" WAVE\n"
                      "  TRACK 01 AUDIO\n    TITLE \"One\"\n    INDEX 01 00:00:00\n"
                      "  TRACK 02 AUDIO\n    TITLE \"Two\"\n    INDEX 01 00:02:00\n");
    }
    fs::copy_file(in / "Band" / "album.flac", in / "Band" / "single.flac");
    const struct {
        std::vector<std::string> Options;
        std::vector<std::string> Outputs;
        const char* Said;
        bool Shares = false; // run as two shares
    } runs[] = {
        {{"--cue"},
         {"Band/01 One.flac", "Band/02 Two.flac", "Band/single.flac", "Other/01 One.flac",
          "Other/02 Two.flac"},
         ""},
        {{},
         {"Band/album.flac", "Band/single.flac", "Other/album.flac"},
         "2 cue sheets not used; add --cue"},
        {{"--cue", "--name", "{album}/{track:02} {title}"},
         {"Noise/01 One.flac", "Noise/02 Two.flac", "Quiet/01 One.flac", "Quiet/02 Two.flac",
          "Unknown Album/00 single.flac"},
         ""},
        {{"--cue", "--name", "{album}"},
         {"Noise.flac", "Noise_(new_1).flac", "Quiet.flac", "Quiet_(new_1).flac",
          "Unknown Album.flac"},
         "",
         true},
    };
    int number = 0;
    for (const auto& run : runs) {
        const fs::path out = Folder / ("out" + std::to_string(++number));
        SCOPED_TRACE(out.filename().string());
        fs::create_directory(out);
        for (const char* share : run.Shares ? std::vector{"1/2", "2/2"} : std::vector{""}) {
            std::vector<std::string> args = run.Options;
            args.insert(args.end(), {"-f", "flac", "-o", out.string(), in.string()});
            if (*share)
                args.insert(args.end(), {"--shard", share});
            std::string err;
            ASSERT_EQ(Run(args, &err), 0) << err;
            EXPECT_NE(err.find(run.Said), std::string::npos) << err;
            EXPECT_EQ(err.find("without sound"), std::string::npos) << err;
        }
        std::vector<std::string> made;
        for (const auto& entry : fs::recursive_directory_iterator(out))
            if (entry.is_regular_file() && !entry.path().filename().string().starts_with("."))
                made.push_back(entry.path().lexically_relative(out).string()); // not the record
        std::sort(made.begin(), made.end());
        EXPECT_EQ(made, run.Outputs);
    }
    // The folder's record holds the tracks: --update passes them over rather than numbering new
    // copies beside them.
    std::string err;
    ASSERT_EQ(
        Run({"--cue", "--update", "-f", "flac", "-o", (Folder / "out1").string(), in.string()},
            &err),
        0)
        << err;
    EXPECT_NE(err.find("5 files up to date"), std::string::npos) << err;
    EXPECT_FALSE(fs::exists(Folder / "out1" / "Other" / "01 One_(new_1).flac"));
    EXPECT_TRUE(Joined({Folder / "out3" / "Quiet" / "01 One.flac",
                        Folder / "out3" / "Quiet" / "02 Two.flac"}) ==
                DecodeAudio(in / "Other" / "album.flac").Samples);
    EXPECT_EQ(Tag(Folder / "out1" / "Other" / "02 Two.flac", "album"), "Quiet");
}
