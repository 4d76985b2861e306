// The main window's inputs with several outputs: cue sheets, every audio track, chapters.
#include "MainFrm.h"

#include "LogView.h"
#include "OptionFrm.h"
#include "UtilFuncs.h"

#include "component/CoverImages.h"
#include "component/NameTemplate.h"
#include "probe/AVProbe.h"

#include <QFileInfo>

#include <algorithm>
#include <cmath>

namespace {

// The sheet when the user wants its tracks rather than the whole file; where: "has a cue sheet
// beside it", "holds a cue sheet".
TCueRead TracksIfWanted(const QString& fileName, const QString& where, TCueRead read) {
    const QString question = QStringLiteral("%1 %2 (%3 tracks): add the tracks instead?")
                                 .arg(QFileInfo(fileName).fileName(), where)
                                 .arg(read.Sheet.Tracks.size());
    return AskQuestion(question) ? read : TCueRead();
}

} // namespace

TCueRead TfrmMain::CueSheetFor(const QString& fileName) {
    const TPathFileName file = ToPath(fileName);
    if (QFileInfo(fileName).suffix().compare(QStringLiteral("cue"), Qt::CaseInsensitive) == 0)
        return ReadCueSheet(file);
    const TPathFileName beside = CueSheetBeside(file);
    if (beside.empty())
        return {};
    TCueRead read = ReadCueSheet(beside);
    // A sheet that cannot be used is left alone: the file itself is still wanted.
    if (!read.ErrorText.empty())
        return {};
    return TracksIfWanted(fileName, QStringLiteral("has a cue sheet beside it"), std::move(read));
}

TCueRead TfrmMain::EmbeddedCueSheetFor(const QString& fileName) {
    const TTagMap tags = ProbedTags(Component->Probe());
    const auto tag = tags.find("cuesheet");
    if (tag == tags.end())
        return {};
    TCueRead read = ParseEmbeddedCueSheet(tag->second, ToPath(fileName));
    if (!read.ErrorText.empty()) {
        mmoLog->AppendLine(QString::fromStdString(read.ErrorText));
        return {};
    }
    return TracksIfWanted(fileName, QStringLiteral("holds a cue sheet"), std::move(read));
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

std::vector<TPathFileName> OutputNames(const TOutputPlan& plan) {
    std::vector<TPathFileName> names;
    for (const TPlannedOutput& output : plan.Outputs)
        names.push_back(output.Output);
    return names;
}

} // namespace

TOutputPlanner TfrmMain::MakePlanner(TPlanUse use) {
    return TOutputPlanner(
        {}, [this](const std::string&) { return ListedOutputs(); },
        [this, use](const TPathFileName& file) {
            if (use == puPreview)
                return TProbedFile(); // a sibling of the same name is not counted
            TProbedFile probed{Component->ProbeInput(file), {}};
            Component->Probe().CloseFile();
            return probed;
        });
}

std::vector<TPathFileName> TfrmMain::PlannedNames(const TPlanInput& input,
                                                  const TOutputChoices& choices) {
    return OutputNames(MakePlanner(puPreview).Plan(input, choices, puPreview));
}

std::vector<TPathFileName> TfrmMain::PlannedCueNames(const TCueSheet& sheet,
                                                     const TOutputChoices& choices,
                                                     const TLibraryInput& sheetFile) {
    return OutputNames(MakePlanner(puPreview).PlanCueTracks(sheet, choices, sheetFile));
}

bool TfrmMain::AddPlanned(const TOutputPlan& plan, const TOutputChoices& whole,
                          int64_t fileSizeBytes) {
    for (const std::string& warning : plan.Warnings)
        mmoLog->AppendWithBlankLines(QString::fromStdString(warning));
    // The tree's folders are made with the outputs; the pictures make theirs.
    if (plan.Images)
        CopyAlbumImages(plan.Images->From, plan.Images->To);
    for (const TPlannedOutput& output : plan.Outputs)
        AddTask(output.Choices, PieceSizeBytes(output.Choices, whole, fileSizeBytes),
                output.Output);
    return !plan.Outputs.empty();
}
