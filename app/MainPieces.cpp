// The main window's inputs with several outputs: the names the options dialog shows for cue
// sheets, every audio track and chapters.
#include "MainFrm.h"

namespace {

std::vector<TPathFileName> OutputNames(const TOutputPlan& plan) {
    std::vector<TPathFileName> names;
    for (const TPlannedOutput& output : plan.Outputs)
        names.push_back(output.Output);
    return names;
}

} // namespace

TOutputPlanner TfrmMain::PreviewPlanner() {
    // It leaves the probe alone: a sibling of the same name is not counted.
    return TOutputPlanner(
        {}, [this](const std::string&) { return ListedOutputs(); },
        [](const TPathFileName&) { return TProbedFile(); });
}

std::vector<TPathFileName> TfrmMain::PlannedNames(const TPlanInput& input,
                                                  const TOutputChoices& choices) {
    return OutputNames(PreviewPlanner().Plan(input, choices, puPreview));
}

std::vector<TPathFileName> TfrmMain::PlannedCueNames(const TCueSheet& sheet,
                                                     const TOutputChoices& choices,
                                                     const TLibraryInput& sheetFile) {
    return OutputNames(PreviewPlanner().PlanCueTracks(sheet, choices, sheetFile));
}
