// Which audio files of a folder run the cue sheets beside them cut into tracks: a run that uses
// the sheets converts those files as the sheets' tracks, not whole as well.
#ifndef SOUNDPICK_COMPONENT_CUECOVERAGE_H
#define SOUNDPICK_COMPONENT_CUECOVERAGE_H

#include "component/OptionRecords.h"

#include <map>
#include <set>

// Whether a file is named as a cue sheet (".cue" in any case).
bool IsCueSheetName(const TPathFileName& file);

class TCueCoverage {
public:
    // Whether a readable cue sheet in the file's folder names it. Each folder's sheets are read
    // once, when the first of its files is asked about.
    bool Covers(const TPathFileName& audioFile);

private:
    std::map<TPathFileName, std::set<TPathFileName>> FilesByFolder;
};

#endif
