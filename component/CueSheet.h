// The cue sheet reader: an album ripped to one file (or a few), with the track list beside it.
#ifndef SOUNDPICK_COMPONENT_CUESHEET_H
#define SOUNDPICK_COMPONENT_CUESHEET_H

#include "component/OptionRecords.h"

#include <cstdint>
#include <string>
#include <vector>

struct TCueTrack {
    int Number = 0;
    TPathFileName AudioFile; // the FILE the track lies in
    int64_t StartFrames = 0; // its INDEX 01, in CD frames of 1/75 second
    std::string Title, Performer;
};

struct TCueSheet {
    std::string Title, Performer, Date, Genre; // the album's
    std::vector<TCueTrack> Tracks;
};

// The sheet, or an error naming the file and line ("album.cue line 7: ...") with no tracks.
struct TCueRead {
    TCueSheet Sheet;
    std::string ErrorText;
};

// Reads a cue sheet: UTF-8, else Latin-1. Every FILE must exist in the sheet's folder (or below
// it); each track needs an INDEX 01, in increasing order within its file.
TCueRead ReadCueSheet(const TPathFileName& cueFile);
// The same for a text already read (any encoding); files are looked up in folder.
TCueRead ParseCueSheet(const std::string& bytes, const TPathFileName& folder,
                       const std::string& shownName);

// A cue time in microseconds, to the nearest: exact enough that every sample rate up to a MHz
// rounds it back to the very sample the CD frame starts at.
int64_t CueFramesToUs(int64_t frames);

// The cue sheet of the same name beside an audio file ("album.flac" -> "album.cue"); empty when
// there is none.
TPathFileName CueSheetBeside(const TPathFileName& audioFile);

#endif
