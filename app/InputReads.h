// What the window reads of its inputs on the input reader's thread (see TInputReader): probes,
// cue sheets, the tasks made ready for a plan. Nothing here touches the window or the
// component, so that a job may outlive both.
#ifndef SOUNDPICK_APP_INPUTREADS_H
#define SOUNDPICK_APP_INPUTREADS_H

#include "component/CueSheet.h"
#include "component/FFmpegComponent.h"
#include "component/NameTemplate.h"
#include "component/OutputPlanner.h"

#include <memory>
#include <optional>
#include <string>
#include <vector>

class TAVProbe; // probe/AVProbe.h

// A file probed ahead of its options dialog.
struct TReadInput {
    std::shared_ptr<TAVProbe> Probe; // left on the file for the dialog
    TProbedInput Probed;
    TTagMap Tags;
    int64_t SizeBytes = -1;
    std::optional<TCueRead> Embedded; // the sheet in its CUESHEET tag, when it has one
};
TReadInput ReadInput(const TPathFileName& file);

// The sheet a file given by itself brings: the file itself when it is one, else a readable one
// beside it (Beside), else none.
struct TSheetRead {
    TCueRead Read;
    bool Beside = false;
};
TSheetRead ReadSheetOf(const TPathFileName& file);

// Finds the sound before the sheet's first tracks (see PlaceCueLeadIns), its notes with it.
TCueRead WithLeadIns(TCueRead cue, const std::string& shownName);

// A planner of outputs for the reader's thread: it keeps clear of the names in listed (as the
// window last set them before the job) and probes siblings with a probe of its own.
TOutputPlanner ReaderPlanner(std::shared_ptr<const std::vector<TPathFileName>> listed);

// The names the options dialog shows for an input's outputs (a cue sheet's tracks), on the
// dialog's worker: clear of the names in listed, a sibling of the same name not probed.
std::vector<TPathFileName> PreviewNames(std::shared_ptr<const std::vector<TPathFileName>> listed,
                                        const TPlanInput& input, const TOutputChoices& choices);
std::vector<TPathFileName> PreviewCueNames(std::shared_ptr<const std::vector<TPathFileName>> listed,
                                           const TCueSheet& sheet, const TOutputChoices& choices,
                                           const TLibraryInput& sheetFile);

// A plan's outputs as tasks ready to join the list, each with its part of the input's size.
struct TReadyOutput {
    TPreparedTask Task;
    TPathFileName Input;
    int64_t SizeBytes = -1;
    std::optional<TOutputRecord> Record;
};
struct TReadyPlan {
    std::vector<std::string> Warnings;
    std::vector<TReadyOutput> Outputs;
};
// Copies the plan's pictures and prepares its tasks.
TReadyPlan MakeReady(const TOutputPlan& plan, const TOutputChoices& whole, int64_t wholeSizeBytes);

#endif
