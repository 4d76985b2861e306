// A folder the window is adding to the list a file at a time between its events: the files
// still to come, the options chosen for them once and what was counted so far. The input
// reader's jobs share it with the window: the walk, the cue coverage and the planner are theirs,
// the counts the window's.
#ifndef SOUNDPICK_APP_FOLDERADD_H
#define SOUNDPICK_APP_FOLDERADD_H

#include "InputReads.h"

#include "component/CueCoverage.h"
#include "component/LibraryInputs.h"
#include "component/OutputAssembly.h"
#include "component/OutputPlanner.h"

#include <QString>

#include <memory>
#include <optional>
#include <vector>

struct TFolderAdd {
    QString Folder;
    TLibraryInputs Inputs;
    // Chosen in the dialog shown for the folder's first file with sound.
    std::optional<TOutputChoices> Chosen;
    int Added = 0;
    int WithoutSound = 0;
    // Whether the user wants the tracks of the folder's cue sheets: asked at the first sheet
    // (or file a sheet names) of the run.
    std::optional<bool> UseCueSheets;
    TCueCoverage CueCovered;
    int UnusedCueSheets = 0;
    // Plans the folder's outputs once the options are chosen (it copies each input folder's
    // pictures once), clear of the listed outputs the window puts in Listed before each plan.
    std::unique_ptr<TOutputPlanner> Planner;
    std::shared_ptr<std::vector<TPathFileName>> Listed =
        std::make_shared<std::vector<TPathFileName>>();
};

// The folder's next file, read on the reader's thread: probed unless it is a cue sheet or a
// file one covers (whether the sheets are used is the user's answer).
struct TFolderFind {
    std::optional<TLibraryInput> Input;
    bool Sheet = false;
    bool Covered = false; // by a sheet beside it
    std::optional<TReadInput> Read;
};

// A folder's cue sheet with the file it cuts: probed, and its lead-ins placed when it can be
// converted.
struct TFolderSheet {
    TCueRead Cue;
    TPathFileName Audio;
    TReadInput Read;
    std::optional<TOutputPlan> Verdict; // why the file cannot be converted
};

#endif
