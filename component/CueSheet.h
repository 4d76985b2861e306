// The cue sheet reader: an album ripped to one file (or a few), with the track list beside it
// or inside it (a CUESHEET tag).
#ifndef SOUNDPICK_COMPONENT_CUESHEET_H
#define SOUNDPICK_COMPONENT_CUESHEET_H

#include "component/OptionRecords.h"

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

// Tags by the names the engine's metadata option takes ("disc", "ISRC", ...), in sheet order.
using TCueTags = std::vector<std::pair<std::string, std::string>>;

struct TCueTrack {
    int Number = 0;
    TPathFileName AudioFile; // the FILE its INDEX 01 lies in
    int64_t StartFrames = 0; // its INDEX 01, in CD frames of 1/75 second
    std::string Title, Performer;
    TCueTags Tags; // ISRC and REM REPLAYGAIN_TRACK_*
};

struct TCueSheet {
    std::string Title, Performer, Date, Genre; // the album's
    TCueTags Tags; // disc and total (REM DISCNUMBER, TOTALDISCS), CATALOG, REM REPLAYGAIN_ALBUM_*
    // The audio tracks: data tracks (MODE1/2352 ...) are left out, the audio track before one
    // running to the end of its file.
    std::vector<TCueTrack> Tracks;
};

// The sheet, or an error naming the file and line ("album.cue line 7: ...") with no tracks.
// Notes are log lines on what was read otherwise than written (a FILE found under another
// name, a data track skipped).
struct TCueRead {
    TCueSheet Sheet;
    std::string ErrorText;
    std::vector<std::string> Notes;
};

// Reads a cue sheet in any encoding (see TextToUtf8). Every FILE must exist in the sheet's
// folder (or below it); when the named one is missing, the same name in another letter case or
// the only file of the same stem with a sound extension (a rip compressed after its sheet was
// written) is taken instead. Each track needs an INDEX 01, in increasing order within its file;
// a track whose INDEX 00 lies at the end of one file may have its INDEX 01 in the next.
TCueRead ReadCueSheet(const TPathFileName& cueFile);
// The same for a text already read; files are looked up in folder.
TCueRead ParseCueSheet(const std::string& bytes, const TPathFileName& folder,
                       const std::string& shownName);
// A sheet kept in a tag of audioFile: every FILE it names is that file.
TCueRead ParseEmbeddedCueSheet(const std::string& text, const TPathFileName& audioFile);

// A cue time in microseconds, to the nearest: exact enough that every sample rate up to a MHz
// rounds it back to the very sample the CD frame starts at.
int64_t CueFramesToUs(int64_t frames);

// The cue sheet of the same name beside an audio file ("album.flac" -> "album.cue"); empty when
// there is none.
TPathFileName CueSheetBeside(const TPathFileName& audioFile);

#endif
