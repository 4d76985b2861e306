// The cue sheet reader.
#include "component/CueSheet.h"

#include "component/TextEncoding.h"
#include "ffbind/TextUtils.h"

#include <algorithm>
#include <fstream>
#include <functional>
#include <optional>
#include <set>
#include <sstream>

namespace {

constexpr int64_t FramesPerSecond = 75;

// The words of a line: blank-separated, a double-quoted word may hold blanks.
bool SplitWords(const std::string& line, std::vector<std::string>& words) {
    std::size_t i = 0;
    while (true) {
        i = line.find_first_not_of(" \t\r", i);
        if (i == std::string::npos)
            return true;
        if (line[i] == '"') {
            const std::size_t close = line.find('"', i + 1);
            if (close == std::string::npos)
                return false;
            words.push_back(line.substr(i + 1, close - i - 1));
            i = close + 1;
        } else {
            const std::size_t end = line.find_first_of(" \t\r", i);
            words.push_back(line.substr(i, end == std::string::npos ? end : end - i));
            i = end;
        }
    }
}

// A number of at most six digits and nothing else; -1 otherwise.
int Digits(std::string_view text) {
    const std::optional<int> value = WholeInteger<int>(text);
    return value && text.size() <= 6 &&
                   text.find_first_not_of("0123456789") == std::string_view::npos
               ? *value
               : -1;
}

// "mm:ss:ff" in frames; -1 when malformed.
int64_t CueTimeFrames(const std::string& text) {
    const std::size_t first = text.find(':');
    const std::size_t second = first == std::string::npos ? first : text.find(':', first + 1);
    if (second == std::string::npos)
        return -1;
    const std::string_view view(text);
    const int minutes = Digits(view.substr(0, first));
    const int seconds = Digits(view.substr(first + 1, second - first - 1));
    const int frames = Digits(view.substr(second + 1));
    if (minutes < 0 || seconds < 0 || seconds > 59 || frames < 0 || frames >= FramesPerSecond)
        return -1;
    return (int64_t{minutes} * 60 + seconds) * FramesPerSecond + frames;
}

// Whether path lies in folder or below it, once both are resolved.
bool LiesIn(const TPathFileName& path, const TPathFileName& folder) {
    std::error_code error;
    const TPathFileName resolved = std::filesystem::weakly_canonical(path, error);
    const TPathFileName base = std::filesystem::weakly_canonical(folder, error);
    const TPathFileName relative = resolved.lexically_relative(base);
    return !error && !relative.empty() && *relative.begin() != "..";
}

// The words from first on, blank-separated ("REM GENRE Hard Rock", "REM REPLAYGAIN_TRACK_GAIN
// -7.89 dB").
std::string WordsFrom(const std::vector<std::string>& words, std::size_t first) {
    std::string text;
    for (std::size_t i = first; i < words.size(); ++i)
        text += (text.empty() ? "" : " ") + words[i];
    return text;
}

bool IsSoundExtension(const TPathFileName& file) {
    static const std::set<std::string> sound = {".flac", ".wav",  ".ape", ".wv",  ".tta",
                                                ".tak",  ".m4a",  ".mp3", ".ogg", ".opus",
                                                ".aif",  ".aiff", ".wma", ".mpc", ".ofr"};
    return sound.count(LowerCase(file.extension().string())) > 0;
}

// The only file in named's folder that passes, or none.
std::optional<TPathFileName> OnlyFileWhere(const TPathFileName& named,
                                           const std::function<bool(const TPathFileName&)>& takes) {
    std::optional<TPathFileName> found;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(named.parent_path(), error)) {
        if (!entry.is_regular_file(error) || !takes(entry.path()))
            continue;
        if (found)
            return std::nullopt;
        found = entry.path();
    }
    return found;
}

// The file a FILE line that names no existing file means: the same name in another letter case,
// else the only file of the same stem with a sound extension (album.wav compressed to album.flac).
std::optional<TPathFileName> MatchingFile(const TPathFileName& named) {
    const std::string name = LowerCase(named.filename().string());
    if (auto sameName = OnlyFileWhere(named, [&](const TPathFileName& file) {
            return LowerCase(file.filename().string()) == name;
        }))
        return sameName;
    const std::string stem = LowerCase(named.stem().string());
    return OnlyFileWhere(named, [&](const TPathFileName& file) {
        return LowerCase(file.stem().string()) == stem && IsSoundExtension(file);
    });
}

class TCueParser {
public:
    // embeddedIn: the audio file whose tag holds the sheet (every FILE is that file); empty for
    // a sheet of its own.
    TCueParser(const TPathFileName& folder, const std::string& shownName,
               const TPathFileName& embeddedIn)
        : Folder(folder), ShownName(shownName), EmbeddedIn(embeddedIn) {}

    TCueRead Parse(const std::string& text) {
        std::istringstream lines(text);
        std::string line;
        while (Read.ErrorText.empty() && std::getline(lines, line)) {
            ++LineNumber;
            Line(line);
        }
        if (Read.ErrorText.empty())
            Finish();
        if (!Read.ErrorText.empty())
            Read.Sheet = {};
        return Read;
    }

private:
    void Fail(const std::string& why) {
        if (Read.ErrorText.empty())
            Read.ErrorText = ShownName + " line " + std::to_string(LineNumber) + ": " + why;
    }

    void Line(const std::string& line) {
        std::vector<std::string> words;
        if (!SplitWords(line, words))
            return Fail("a quotation mark is not closed");
        if (words.empty())
            return;
        const std::string command = UpperCase(words[0]);
        if (command == "REM")
            Remark(words);
        else if (command == "FILE")
            File(words);
        else if (command == "TRACK")
            Track(words);
        else if (command == "INDEX")
            Index(words);
        else if (command == "TITLE" || command == "PERFORMER")
            Text(command, words);
        else if (command == "CATALOG" && words.size() > 1)
            Read.Sheet.Tags.emplace_back("CATALOG", words[1]);
        else if (command == "ISRC" && words.size() > 1 && !Read.Sheet.Tracks.empty())
            Read.Sheet.Tracks.back().Tags.emplace_back("ISRC", words[1]);
        // Other commands (FLAGS, PREGAP, POSTGAP, SONGWRITER...) do not change what is cut.
    }

    void Remark(const std::vector<std::string>& words) {
        if (words.size() < 3)
            return;
        const std::string key = UpperCase(words[1]);
        const std::string value = WordsFrom(words, 2);
        if (!Read.Sheet.Tracks.empty()) {
            if (key.starts_with("REPLAYGAIN_TRACK_"))
                Read.Sheet.Tracks.back().Tags.emplace_back(key, value);
            return;
        }
        if (key == "DATE")
            Read.Sheet.Date = value;
        else if (key == "GENRE")
            Read.Sheet.Genre = value;
        else if (key == "DISCNUMBER")
            Read.Sheet.Tags.emplace_back("disc", value);
        else if (key == "TOTALDISCS" || key == "DISCTOTAL")
            Read.Sheet.Tags.emplace_back("DISCTOTAL", value);
        else if (key.starts_with("REPLAYGAIN_ALBUM_"))
            Read.Sheet.Tags.emplace_back(key, value);
    }

    void File(const std::vector<std::string>& words) {
        if (words.size() < 2 || words[1].empty())
            return Fail("FILE names no file");
        if (!EmbeddedIn.empty()) {
            CurrentFile = EmbeddedIn;
            return;
        }
        TPathFileName file = Folder / TPathFileName(words[1]);
        if (!LiesIn(file, Folder))
            return Fail("FILE \"" + words[1] + "\" lies outside the cue sheet's folder");
        std::error_code error;
        if (!std::filesystem::is_regular_file(file, error)) {
            const std::optional<TPathFileName> matching = MatchingFile(file);
            if (!matching)
                return Fail("FILE \"" + words[1] + "\" does not exist");
            Read.Notes.push_back(ShownName + ": FILE \"" + words[1] + "\" is not there; using " +
                                 matching->filename().string());
            file = *matching;
        }
        CurrentFile = file.lexically_normal();
    }

    void Track(const std::vector<std::string>& words) {
        const int number = words.size() < 2 ? -1 : Digits(words[1]);
        if (number < 1)
            return Fail("TRACK needs a number");
        if (CurrentFile.empty())
            return Fail("TRACK before any FILE");
        CheckLastTrackIndexed();
        TCueTrack track;
        track.Number = number;
        track.AudioFile = CurrentFile;
        track.StartFrames = -1;
        Read.Sheet.Tracks.push_back(track);
        TrackTypes.push_back(words.size() > 2 ? UpperCase(words[2]) : "AUDIO");
        TrackLine = LineNumber;
    }

    void Index(const std::vector<std::string>& words) {
        const int number = words.size() == 3 ? Digits(words[1]) : -1;
        const int64_t frames = words.size() == 3 ? CueTimeFrames(words[2]) : -1;
        if (number < 0 || frames < 0)
            return Fail("malformed INDEX (INDEX nn mm:ss:ff expected)");
        if (Read.Sheet.Tracks.empty())
            return Fail("INDEX before any TRACK");
        if (number != 1)
            return; // pre-gaps (INDEX 00) end the track before; sub-indexes stay inside tracks
        TCueTrack& track = Read.Sheet.Tracks.back();
        // Positions count within their FILE: a track whose pre-gap closes one file may begin in
        // the next.
        track.AudioFile = CurrentFile;
        const TCueTrack* previous = Read.Sheet.Tracks.size() > 1
                                        ? &Read.Sheet.Tracks[Read.Sheet.Tracks.size() - 2]
                                        : nullptr;
        if (previous && previous->AudioFile == track.AudioFile && frames <= previous->StartFrames)
            return Fail("INDEX 01 does not come after the previous track's");
        track.StartFrames = frames;
    }

    void Text(const std::string& command, const std::vector<std::string>& words) {
        if (words.size() < 2)
            return Fail(command + " has no text");
        const bool album = Read.Sheet.Tracks.empty();
        std::string& field =
            command == "TITLE"
                ? (album ? Read.Sheet.Title : Read.Sheet.Tracks.back().Title)
                : (album ? Read.Sheet.Performer : Read.Sheet.Tracks.back().Performer);
        field = words[1];
    }

    void CheckLastTrackIndexed() {
        if (!Read.Sheet.Tracks.empty() && Read.Sheet.Tracks.back().StartFrames < 0) {
            LineNumber = TrackLine;
            Fail("TRACK " + std::to_string(Read.Sheet.Tracks.back().Number) + " has no INDEX 01");
        }
    }

    // Data tracks hold no sound: the audio track before one runs to the next audio track of its
    // file, or to the file's end.
    void DropDataTracks() {
        std::vector<TCueTrack> audio;
        for (std::size_t i = 0; i < Read.Sheet.Tracks.size(); ++i) {
            if (TrackTypes[i] == "AUDIO")
                audio.push_back(std::move(Read.Sheet.Tracks[i]));
            else
                Read.Notes.push_back(ShownName + ": TRACK " +
                                     std::to_string(Read.Sheet.Tracks[i].Number) + " (" +
                                     TrackTypes[i] + ") holds data, not sound: skipped");
        }
        Read.Sheet.Tracks = std::move(audio);
    }

    void Finish() {
        CheckLastTrackIndexed();
        if (Read.Sheet.Tracks.empty())
            return Fail("the sheet has no TRACK");
        DropDataTracks();
        if (Read.Sheet.Tracks.empty())
            Fail("the sheet has no AUDIO TRACK");
    }

    TPathFileName Folder;
    std::string ShownName;
    TPathFileName EmbeddedIn;
    TCueRead Read;
    std::vector<std::string> TrackTypes; // by track: AUDIO, MODE1/2352, ...
    TPathFileName CurrentFile;
    int LineNumber = 0;
    int TrackLine = 0;
};

} // namespace

TCueRead ParseCueSheet(const std::string& bytes, const TPathFileName& folder,
                       const std::string& shownName) {
    return TCueParser(folder, shownName, {}).Parse(TextToUtf8(bytes));
}

TCueRead ParseEmbeddedCueSheet(const std::string& text, const TPathFileName& audioFile) {
    return TCueParser(audioFile.parent_path(), audioFile.filename().string() + " (CUESHEET tag)",
                      audioFile)
        .Parse(TextToUtf8(text));
}

TCueRead ReadCueSheet(const TPathFileName& cueFile) {
    std::ifstream stream(cueFile, std::ios::binary);
    if (!stream) {
        TCueRead read;
        read.ErrorText = cueFile.filename().string() + ": cannot be read";
        return read;
    }
    std::ostringstream bytes;
    bytes << stream.rdbuf();
    return ParseCueSheet(bytes.str(), cueFile.parent_path(), cueFile.filename().string());
}

int64_t CueFramesToUs(int64_t frames) {
    // frames * 1000000 / 75 = frames * 40000 / 3, rounded to the nearest microsecond.
    return (frames * 40000 + 1) / 3;
}

TPathFileName CueSheetBeside(const TPathFileName& audioFile) {
    TPathFileName cue = audioFile;
    cue.replace_extension(".cue");
    std::error_code error;
    return cue != audioFile && std::filesystem::is_regular_file(cue, error) ? cue : TPathFileName();
}
