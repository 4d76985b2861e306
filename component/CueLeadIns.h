// The sound of a cue sheet's files before their first track: a hidden track before track 1 (or
// its pre-gap), or a pre-gap at the start of a track's own file. Rippers keep it; the tracks
// begin after it.
#ifndef SOUNDPICK_COMPONENT_CUELEADINS_H
#define SOUNDPICK_COMPONENT_CUELEADINS_H

#include "component/CueSheet.h"

#include <string>
#include <vector>

// Measures the sound before each file's first INDEX 01. Before track 1 it becomes a track of its
// own numbered 0 ("Hidden Track") when it holds sound; at the start of a later file it stays with
// the track that begins there. Silence is left out. Each decision is added to notes as a log
// line beginning with shownName. A lead-in that cannot be measured is kept: nothing is lost.
void PlaceCueLeadIns(TCueSheet& sheet, const std::string& shownName,
                     std::vector<std::string>& notes);

#endif
