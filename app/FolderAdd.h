// A folder the window is adding to the list a file at a time between its events: the files
// still to come, the options chosen for them once and what was counted so far.
#ifndef SOUNDPICK_APP_FOLDERADD_H
#define SOUNDPICK_APP_FOLDERADD_H

#include "component/CueCoverage.h"
#include "component/LibraryInputs.h"
#include "component/OutputAssembly.h"
#include "component/OutputPlanner.h"

#include <QString>

#include <memory>
#include <optional>

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
    // pictures once).
    std::unique_ptr<TOutputPlanner> Planner;
};

#endif
