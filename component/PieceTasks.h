// One input, many outputs: the tasks for each track of a cue sheet, each chapter of a file, or
// each audio track of a file. Each is the whole file's choices with the piece's exact clip, its
// audio track, its tags and its own output name; a front end adds them as it adds any task.
#ifndef SOUNDPICK_COMPONENT_PIECETASKS_H
#define SOUNDPICK_COMPONENT_PIECETASKS_H

#include "component/AudioTracks.h"
#include "component/CueSheet.h"
#include "component/OutputAssembly.h"

#include <vector>

struct AVFormatContext;

struct TPieceTask {
    TOutputChoices Choices;
    TPathFileName OutputFileName;
    // Which piece of the input it is, for the lines about it: "2 ger" (an audio track's number
    // and language), "03 Title" (a cue track's or chapter's number and title).
    std::string Label;
};

struct TChapter {
    int64_t StartUs = 0;
    int64_t EndUs = 0;
    std::string Title;
};

std::vector<TChapter> ChaptersOf(const AVFormatContext& input);

// Each track from its INDEX 01 to the next track's in the same file (the last to the file's
// end), named "NN Title.EXT" in the output folder and tagged with the sheet's texts. whole
// describes the sheet's first file; tracks of other files take its choices with their own file.
std::vector<TPieceTask> CueTrackTasks(const TCueSheet& sheet, const TOutputChoices& whole);

// Each chapter, named "NN Chapter title.EXT" in a folder named after the input (made here, so
// that the outputs can be created in it), with the chapter's title and number as tags.
std::vector<TPieceTask> ChapterTasks(const std::vector<TChapter>& chapters,
                                     const TOutputChoices& whole);

// Each audio track, named "NAME_(new)_<n>_<language>.EXT" (no language when unknown), with the
// track's title and language as tags.
std::vector<TPieceTask> AudioTrackTasks(const std::vector<TAudioTrack>& tracks,
                                        const TOutputChoices& whole);

#endif
