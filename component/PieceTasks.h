// One input, many outputs: the tasks for each track of a cue sheet, each chapter of a file, or
// each audio track of a file. Each is the whole file's choices with the piece's exact clip, its
// audio track, its tags and its own output name; a front end adds them as it adds any task.
#ifndef SOUNDPICK_COMPONENT_PIECETASKS_H
#define SOUNDPICK_COMPONENT_PIECETASKS_H

#include "component/AudioTracks.h"
#include "component/CueSheet.h"
#include "component/NameTemplate.h"
#include "component/OutputAssembly.h"

#include <vector>

struct AVFormatContext;

struct TPieceTask {
    TOutputChoices Choices;
    TPathFileName OutputFileName;
    // The name it would like before it is numbered: a planner that numbers it by the output
    // folder's record starts from this.
    TWantedOutput Wanted;
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
// end, so a pre-gap ends the track before it), named "NN Title.EXT" in the output folder and
// tagged with the sheet's texts, the number of tracks and the sheet's other tags; the album's
// CUESHEET tag is not copied into a piece. whole describes the sheet's first file; tracks of
// other files take its choices with their own file. With a name template in the choices
// (--name), cue tracks and chapters are named by it from their own tags, under the output
// folder, instead.
// subfolder: under the output folder, where the tracks go (a folder run's tree).
std::vector<TPieceTask> CueTrackTasks(const TCueSheet& sheet, const TOutputChoices& whole,
                                      const TPathFileName& subfolder = {});

// Each chapter, named "NN Chapter title.EXT" in a folder named after the input (under
// subfolder: a folder run's tree), with the chapter's title and number as tags. inputTags are
// the input's own, for a name template.
std::vector<TPieceTask> ChapterTasks(const std::vector<TChapter>& chapters,
                                     const TOutputChoices& whole, const TTagMap& inputTags = {},
                                     const TPathFileName& subfolder = {});

// Each audio track, named "NAME_(new)_<n>_<language>.EXT" (no language when unknown), with the
// track's title and language as tags.
std::vector<TPieceTask> AudioTrackTasks(const std::vector<TAudioTrack>& tracks,
                                        const TOutputChoices& whole);

#endif
