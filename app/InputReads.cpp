// The window's reading of its inputs, on the input reader's thread.
#include "InputReads.h"

#include "component/CoverImages.h"
#include "component/CueCoverage.h"
#include "component/CueLeadIns.h"
#include "probe/AVProbe.h"

#include <algorithm>
#include <cmath>

TReadInput ReadInput(const TPathFileName& file) {
    TReadInput read;
    read.Probe = std::make_shared<TAVProbe>();
    read.Probed = TFFmpegComponent::ProbeInput(*read.Probe, file);
    if (!read.Probed.ErrorText.empty())
        return read;
    read.Tags = ProbedTags(*read.Probe);
    read.SizeBytes = read.Probe->GetFileSize();
    if (const auto tag = read.Tags.find("cuesheet"); tag != read.Tags.end())
        read.Embedded = ParseEmbeddedCueSheet(tag->second, file);
    return read;
}

TSheetRead ReadSheetOf(const TPathFileName& file) {
    if (IsCueSheetName(file))
        return {ReadCueSheet(file), false};
    const TPathFileName beside = CueSheetBeside(file);
    if (beside.empty())
        return {};
    TCueRead read = ReadCueSheet(beside);
    // A sheet that cannot be used is left alone: the file itself is still wanted.
    if (!read.ErrorText.empty())
        return {};
    return {std::move(read), true};
}

TCueRead WithLeadIns(TCueRead cue, const std::string& shownName) {
    PlaceCueLeadIns(cue.Sheet, shownName, cue.Notes);
    return cue;
}

TOutputPlanner ReaderPlanner(std::shared_ptr<const std::vector<TPathFileName>> listed) {
    auto probe = std::make_shared<TAVProbe>();
    return TOutputPlanner(
        {}, [listed](const std::string&) { return *listed; },
        [probe](const TPathFileName& file) {
            TProbedFile probed{TFFmpegComponent::ProbeInput(*probe, file), {}};
            probe->CloseFile();
            return probed;
        });
}

namespace {

std::vector<TPathFileName> OutputNames(const TOutputPlan& plan) {
    std::vector<TPathFileName> names;
    for (const TPlannedOutput& output : plan.Outputs)
        names.push_back(output.Output);
    return names;
}

TOutputPlanner PreviewPlanner(std::shared_ptr<const std::vector<TPathFileName>> listed) {
    return TOutputPlanner(
        {}, [listed](const std::string&) { return *listed; },
        [](const TPathFileName&) { return TProbedFile(); });
}

} // namespace

std::vector<TPathFileName> PreviewNames(std::shared_ptr<const std::vector<TPathFileName>> listed,
                                        const TPlanInput& input, const TOutputChoices& choices) {
    return OutputNames(PreviewPlanner(std::move(listed)).Plan(input, choices, puPreview));
}

std::vector<TPathFileName> PreviewCueNames(std::shared_ptr<const std::vector<TPathFileName>> listed,
                                           const TCueSheet& sheet, const TOutputChoices& choices,
                                           const TLibraryInput& sheetFile) {
    return OutputNames(PreviewPlanner(std::move(listed)).PlanCueTracks(sheet, choices, sheetFile));
}

namespace {

// A piece's part of its input's size, by its share of the input's length: the whole size when
// the piece is of another file (a cue sheet's next FILE) or a length is unknown.
int64_t PieceSizeBytes(const TOutputChoices& piece, const TOutputChoices& whole,
                       int64_t wholeSizeBytes) {
    if (piece.InputFileName != whole.InputFileName || piece.InputDurationUs <= 0 ||
        whole.InputDurationUs <= 0 || wholeSizeBytes < 0)
        return wholeSizeBytes;
    const double share = std::min(1.0, static_cast<double>(piece.InputDurationUs) /
                                           static_cast<double>(whole.InputDurationUs));
    return static_cast<int64_t>(std::llround(static_cast<double>(wholeSizeBytes) * share));
}

} // namespace

TReadyPlan MakeReady(const TOutputPlan& plan, const TOutputChoices& whole, int64_t wholeSizeBytes) {
    TReadyPlan ready;
    ready.Warnings = plan.Warnings;
    // The tree's folders are made with the outputs; the pictures make theirs.
    CopyImages(plan.Images);
    for (const TPlannedOutput& output : plan.Outputs)
        ready.Outputs.push_back({TFFmpegComponent::PrepareTask(output.Choices, output.Output),
                                 output.Choices.InputFileName,
                                 PieceSizeBytes(output.Choices, whole, wholeSizeBytes),
                                 output.Record});
    return ready;
}
