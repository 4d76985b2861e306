// The cue sheet reader.
#include "component/CueSheet.h"

#include "ffbind/TextUtils.h"

#include <fstream>
#include <sstream>

namespace {

constexpr int64_t FramesPerSecond = 75;

bool IsValidUtf8(const std::string& text) {
    for (std::size_t i = 0; i < text.size();) {
        const auto lead = static_cast<unsigned char>(text[i]);
        const int extra = lead < 0x80         ? 0
                          : (lead >> 5) == 6  ? 1
                          : (lead >> 4) == 14 ? 2
                          : (lead >> 3) == 30 ? 3
                                              : -1;
        if (extra < 0 || i + extra >= text.size())
            return false;
        for (int k = 1; k <= extra; ++k)
            if ((static_cast<unsigned char>(text[i + k]) >> 6) != 2)
                return false;
        i += extra + 1;
    }
    return true;
}

std::string Latin1ToUtf8(const std::string& text) {
    std::string utf8;
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x80) {
            utf8 += c;
        } else {
            utf8 += static_cast<char>(0xC0 | (byte >> 6));
            utf8 += static_cast<char>(0x80 | (byte & 0x3F));
        }
    }
    return utf8;
}

// The text as UTF-8 without a byte-order mark.
std::string DecodedText(const std::string& bytes) {
    const std::string bom = "\xEF\xBB\xBF";
    const std::string text = bytes.starts_with(bom) ? bytes.substr(bom.size()) : bytes;
    return IsValidUtf8(text) ? text : Latin1ToUtf8(text);
}

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

class TCueParser {
public:
    TCueParser(const TPathFileName& folder, const std::string& shownName)
        : Folder(folder), ShownName(shownName) {}

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
        // Other commands (CATALOG, FLAGS, ISRC, PREGAP...) do not change what is cut.
    }

    void Remark(const std::vector<std::string>& words) {
        if (words.size() < 3 || !Read.Sheet.Tracks.empty())
            return;
        const std::string key = UpperCase(words[1]);
        if (key == "DATE")
            Read.Sheet.Date = words[2];
        else if (key == "GENRE")
            Read.Sheet.Genre = words[2];
    }

    void File(const std::vector<std::string>& words) {
        if (words.size() < 2 || words[1].empty())
            return Fail("FILE names no file");
        const TPathFileName file = Folder / TPathFileName(words[1]);
        if (!LiesIn(file, Folder))
            return Fail("FILE \"" + words[1] + "\" lies outside the cue sheet's folder");
        std::error_code error;
        if (!std::filesystem::is_regular_file(file, error))
            return Fail("FILE \"" + words[1] + "\" does not exist");
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
            return; // pre-gaps (INDEX 00) and sub-indexes stay inside the tracks
        TCueTrack& track = Read.Sheet.Tracks.back();
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

    void Finish() {
        CheckLastTrackIndexed();
        if (Read.Sheet.Tracks.empty())
            Fail("the sheet has no TRACK");
    }

    TPathFileName Folder;
    std::string ShownName;
    TCueRead Read;
    TPathFileName CurrentFile;
    int LineNumber = 0;
    int TrackLine = 0;
};

} // namespace

TCueRead ParseCueSheet(const std::string& bytes, const TPathFileName& folder,
                       const std::string& shownName) {
    return TCueParser(folder, shownName).Parse(DecodedText(bytes));
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
