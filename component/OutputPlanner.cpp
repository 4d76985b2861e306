// The output planner: what each input gives, named and checked once.
#include "component/OutputPlanner.h"

#include "component/LossyPolicy.h"
#include "component/PieceTasks.h"
#include "component/Playlists.h"
#include "component/UpdateCheck.h"
#include "engine/WrittenSound.h"

#include <algorithm>

namespace fs = std::filesystem;

namespace {

bool Exists(const fs::path& file) {
    std::error_code error;
    return fs::exists(fs::symlink_status(file, error));
}

TOutputPlan NoOutputs(TPlanVerdict verdict, const std::string& reason) {
    TOutputPlan plan;
    plan.Verdict = verdict;
    plan.Reason = reason;
    return plan;
}

// Why no track is the one named; "" when one is, or none is named.
std::string TrackError(const fs::path& input, const TProbedInput& probed,
                       const std::string& track) {
    if (track.empty() || FindAudioTrack(probed.AudioTracks, track))
        return "";
    std::string tracks;
    for (const TAudioTrack& listed : probed.AudioTracks)
        tracks += "\n  " + AudioTrackCaption(listed);
    return input.string() + ": no audio track '" + track + "'; it has:" + tracks;
}

// Who has a name in an output folder for an input: a name another task of the run takes, an
// output the record names (the input's own or another's), nobody, or a file no run recorded
// (the input's when replacing is asked).
TNameHolder HolderOf(const fs::path& name, const std::vector<TPathFileName>& claimed,
                     const TOutputManifest& manifest, const std::string& input, bool overwrite) {
    if (std::find(claimed.begin(), claimed.end(), name) != claimed.end())
        return nhOtherInput;
    if (const TManifestEntry* entry = manifest.ForOutput(name))
        return entry->Input == input ? nhThisInput : nhOtherInput;
    if (!Exists(name))
        return nhNobody;
    return overwrite ? nhThisInput : nhUnknown;
}

// Where a folder run's pieces go under the output folder: their input's place in the tree. A
// name template makes a tree of its own.
TPathFileName TreeFolder(const TOutputChoices& choices, const TLibraryInput& input) {
    return choices.OutputFolder && input.InFolder && choices.NameTemplateText.empty()
               ? input.Relative.parent_path()
               : TPathFileName();
}

} // namespace

void TakeProbe(const TPathFileName& input, const TProbedInput& probed, const std::string& track,
               TOutputChoices& choices) {
    choices.InputFileName = input;
    choices.InputFormatName = probed.FormatName;
    choices.InputDurationUs = probed.DurationUs;
    choices.InputAudioCodec = probed.AudioCodec;
    choices.InputHasCover = probed.HasCover;
    if (const TAudioTrack* named =
            track.empty() ? nullptr : FindAudioTrack(probed.AudioTracks, track))
        choices.AudioStream = named->StreamIndex;
    for (const TAudioTrack& listed : probed.AudioTracks)
        if (listed.StreamIndex == choices.AudioStream)
            choices.InputAudioCodec = listed.Codec;
}

namespace {

bool SplitsAtChapters(const TOutputChoices& choices, const TProbedInput& probed) {
    return (choices.Pieces == pcChapters || choices.Pieces == pcChaptersOrTracks) &&
           !probed.Chapters.empty();
}

bool GivesPieces(const TOutputChoices& choices, const TProbedInput& probed) {
    return SplitsAtChapters(choices, probed) || choices.Pieces == pcAllTracks ||
           choices.Pieces == pcChaptersOrTracks;
}

} // namespace

std::optional<TOutputPlan> ProbeVerdict(const TLibraryInput& input, const TProbedInput& probed,
                                        const std::string& track) {
    const std::string& error = probed.ErrorText;
    if (input.InFolder && !error.empty() && NamedAsSoundOrVideo(input.Path))
        return NoOutputs(pvRefused, error);
    if (input.InFolder && (!error.empty() || !probed.HasSound))
        return NoOutputs(pvPassedOver, error.empty() ? NoSoundText(input.Path.string()) : error);
    if (!error.empty())
        return NoOutputs(pvRefused, error);
    if (!probed.HasSound)
        return NoOutputs(pvNoSound, NoSoundText(input.Path.string()));
    if (const std::string refusal = TrackError(input.Path, probed, track); !refusal.empty())
        return NoOutputs(pvRefused, refusal);
    return std::nullopt;
}

TOutputPlanner::TOutputPlanner(TPlanRules rules, TClaimedNames claimed, TProbeFile probe)
    : Rules(std::move(rules)), Claimed(std::move(claimed)), Probe(std::move(probe)) {}

bool TOutputPlanner::IsPlaylist(const TLibraryInput& input,
                                const std::optional<TPathFileName>& outputFolder) {
    return input.InFolder && outputFolder && IsPlaylistName(input.Path);
}

TOutputPlan TOutputPlanner::Plan(const TPlanInput& input, const TOutputChoices& chosen,
                                 TPlanUse use) {
    if (IsPlaylist(input.Input, chosen.OutputFolder))
        return NoOutputs(pvPlaylist, "");
    if (Rules.Shard.Count > 1 && !chosen.NameTemplateText.empty() && chosen.OutputFolder &&
        !TreeNames)
        ReadTreeNames(chosen);
    if (std::optional<TOutputPlan> verdict = ProbeVerdict(input.Input, input.Probed, Rules.Track))
        return *verdict;
    TOutputChoices choices = chosen;
    choices.ClaimedNames.clear(); // the planner asks for the names it could meet
    TakeProbe(input.Input.Path, input.Probed, Rules.Track, choices);
    if (const std::string refusal = CopyRefusalText(choices, input.Input.Path.string());
        !refusal.empty())
        return NoOutputs(pvRefused, refusal);
    if (GivesPieces(choices, input.Probed))
        return PlanPieces(input, choices);
    return PlanWhole(input, choices, use);
}

TOutputPlan TOutputPlanner::PlanPieces(const TPlanInput& input, TOutputChoices& choices) {
    choices.ClaimedNames = Claimed("");
    // Under an added folder they keep the input's place in the output tree, as its whole
    // output would.
    NameLibraryOutput(choices, input.Input, input.Tags);
    return PlanPieceTasks(SplitsAtChapters(choices, input.Probed)
                              ? ChapterTasks(input.Probed.Chapters, choices, input.Tags,
                                             TreeFolder(choices, input.Input))
                              : AudioTrackTasks(input.Probed.AudioTracks, choices),
                          choices);
}

// Pieces are named beside the outputs of the list; in an output folder by its record too, and
// judged by it.
TOutputPlan TOutputPlanner::PlanPieceTasks(std::vector<TPieceTask> pieces,
                                           const TOutputChoices& choices) {
    TOutputPlan plan;
    TOutputManifest* manifest = ManifestFor(choices, plan);
    std::vector<TPathFileName> claimed = choices.ClaimedNames;
    for (TPieceTask& piece : pieces) {
        piece.Choices.ClaimedNames.clear(); // the name is chosen
        if (manifest)
            PlanRecordedPiece(*manifest, piece, claimed, plan);
        else
            plan.Outputs.push_back(
                {piece.Choices, piece.OutputFileName, piece.Label, std::nullopt, {}});
    }
    return plan;
}

namespace {

// The choices of an input converted whole: its lossy sound kept as it is where asked, its name
// in the output tree.
void ChooseWhole(const TPlanInput& input, TOutputChoices& choices) {
    if (choices.LossyPolicy == lpCopyInFolders)
        choices.LossyPolicy = input.Input.InFolder ? lpCopy : lpConvert;
    KeepLossyAsItIs(choices, input.Probed);
    NameLibraryOutput(choices, input.Input, input.Tags);
}

std::string WantedName(const TOutputChoices& choices) {
    const TWantedOutput wanted = WantedOutputFor(choices);
    return wanted.Base + wanted.Suffix + wanted.Extension;
}

} // namespace

TOutputPlan TOutputPlanner::PlanWhole(const TPlanInput& input, TOutputChoices& choices,
                                      TPlanUse use) {
    ChooseWhole(input, choices);
    TOutputPlan plan;
    TOutputManifest* manifest = ManifestFor(choices, plan);
    TOutputPlan named =
        manifest ? PlanInFolder(input, choices, *manifest, use) : PlanBeside(choices);
    named.Warnings.insert(named.Warnings.begin(), plan.Warnings.begin(), plan.Warnings.end());
    const TPathFileName& output =
        named.Outputs.empty() ? named.UpToDateOutput : named.Outputs.front().Output;
    if (!output.empty())
        Images(choices, output, named, use);
    return named;
}

TOutputPlan TOutputPlanner::PlanCueTracks(const TCueSheet& sheet, TOutputChoices choices,
                                          const TLibraryInput& sheetFile) {
    choices.ClaimedNames = Claimed("");
    return PlanPieceTasks(CueTrackTasks(sheet, choices, TreeFolder(choices, sheetFile)), choices);
}

// As an input's whole output is named and judged in an output folder, from the name the piece
// would like: pieces of one input that would like one name take its numbered forms in their
// order, so each run gives each piece the same one.
void TOutputPlanner::PlanRecordedPiece(TOutputManifest& manifest, TPieceTask& piece,
                                       std::vector<TPathFileName>& claimed, TOutputPlan& plan) {
    TOutputChoices& choices = piece.Choices;
    const fs::path& input = choices.InputFileName;
    TPathFileName output = OwnOutputName(piece.Wanted, 0, [&](const fs::path& name) {
        return HolderOf(name, claimed, manifest, input.string(), choices.Overwrite);
    });
    const std::string settings = OutputSettingsText(choices);
    const TManifestEntry* own = manifest.ForOutput(output);
    std::string reason;
    if (own && Rules.Update) {
        const TUpdateDecision decision = DecideUpdate(*own, input, output, settings);
        if (decision.Action == uaSkip) {
            plan.UpToDatePieces.push_back(output);
            claimed.push_back(output);
            return;
        }
        choices.Overwrite = decision.Action == uaReplace;
        reason = decision.Reason;
    } else if (own && Exists(output) && !choices.Overwrite) {
        // Never replaced unasked: the next free name.
        TWantedOutput numbered = piece.Wanted;
        numbered.Replace = false;
        output = FreeOutputName(numbered, claimed);
    }
    claimed.push_back(output);
    TManifestEntry entry{
        manifest.Relative(output), input.string(), settings, StampOf(input), -1, {}};
    plan.Outputs.push_back({choices, output, piece.Label,
                            TOutputRecord{manifest.Folder(), std::move(entry)}, std::move(reason)});
}

// Beside the input, or in an output folder without a record: the "_(new)" names; with the
// update rule an output that is there but not done is replaced, never numbered beside it.
TOutputPlan TOutputPlanner::PlanBeside(TOutputChoices& choices) {
    if (Rules.Update)
        choices.Overwrite = true;
    choices.ClaimedNames = Claimed(WantedOutputFor(choices).Base);
    const TPathFileName output = OutputFileNameFor(choices);
    choices.ClaimedNames.clear();
    const TOutputState state = Rules.Update ? OutputStateFor(choices, output) : osMissing;
    if (state == osUpToDate)
        return UpToDate(output);
    TOutputPlan plan;
    const char* reason = state == osOutdated     ? "the input changed"
                         : state == osIncomplete ? "the output is cut short"
                                                 : "";
    plan.Outputs.push_back({choices, output, "", std::nullopt, reason});
    return plan;
}

TOutputPlan TOutputPlanner::PlanInFolder(const TPlanInput& input, TOutputChoices& choices,
                                         TOutputManifest& manifest, TPlanUse use) {
    const TWantedOutput wanted = WantedOutputFor(choices);
    const std::vector<TPathFileName> claimed = Claimed(wanted.Base);
    const std::string inputName = choices.InputFileName.string();
    // Inputs named alike are told apart by their place: a tree's among the files of their
    // folder, a template's in the whole tree.
    const bool tree = input.Input.InFolder && choices.NameTemplateText.empty();
    const int rank = tree ? StemRanks.Rank(input.Input.Path,
                                           [&](const fs::path& sibling) {
                                               return MakesOutputLike(sibling, choices);
                                           })
                     : choices.NameTemplateText.empty()
                         ? 0
                         : TemplateRank(input.Input.Path, WantedName(choices));
    bool adopted = false;
    TPathFileName output = OwnOutputName(
        wanted, rank,
        [&](const fs::path& name) {
            if (const TNameHolder holder =
                    HolderOf(name, claimed, manifest, inputName, choices.Overwrite);
                holder != nhUnknown)
                return holder;
            // An output of a run before the folder kept a record: the input's when complete and
            // newer than the input, as the update rule judged before.
            adopted = Rules.Update && OutputStateFor(choices, name) == osUpToDate;
            return adopted ? nhThisInput : nhUnknown;
        },
        [&](const fs::path& name) {
            return HolderOf(name, claimed, manifest, inputName, false) == nhThisInput;
        });
    const std::string settings = OutputSettingsText(choices);
    TManifestEntry entry{manifest.Relative(output), inputName, settings,
                         StampOf(input.Input.Path), -1,        {}};
    TOutputPlan plan;
    std::string reason;
    if (adopted)
        return PassOver(manifest, entry, output, use);
    const TManifestEntry* own = manifest.ForOutput(output);
    if (own && Rules.Update) {
        const TUpdateDecision decision = DecideUpdate(*own, input.Input.Path, output, settings);
        if (decision.Action == uaSkip) {
            // Still whole; read back anew when changed since (a tag edit).
            const bool changed = StampOf(output) != own->OutputStamp;
            return PassOver(manifest, *own, output, changed ? use : puPreview);
        }
        choices.Overwrite = decision.Action == uaReplace;
        reason = decision.Reason;
    } else if (own && Exists(output) && !choices.Overwrite) {
        // Never replaced unasked: the next free name.
        choices.ClaimedNames = claimed;
        output = OutputFileNameFor(choices);
        choices.ClaimedNames.clear();
        entry.Output = manifest.Relative(output);
    }
    plan.Outputs.push_back({choices, output, "", TOutputRecord{manifest.Folder(), std::move(entry)},
                            std::move(reason)});
    return plan;
}

// An output done already, recorded as the input's own unless only looked at.
TOutputPlan TOutputPlanner::PassOver(TOutputManifest& manifest, const TManifestEntry& entry,
                                     const TPathFileName& output, TPlanUse use) {
    TOutputPlan plan = UpToDate(output);
    if (use == puAdd)
        if (std::string error = RecordOutput(manifest, entry, output); !error.empty()) {
            plan.Warnings.push_back(std::move(error));
            plan.RecordFailed = true;
        }
    return plan;
}

TOutputPlan TOutputPlanner::UpToDate(const TPathFileName& output) {
    TOutputPlan plan = NoOutputs(pvUpToDate, "");
    plan.UpToDateOutput = output;
    return plan;
}

// Whether a file beside the input, with its name before the extension, gives an output of the
// same extension: a sibling the tree would give the same name.
bool TOutputPlanner::MakesOutputLike(const TPathFileName& sibling,
                                     const TOutputChoices& choices) const {
    const TProbedInput probed = Probe(sibling).Probed;
    if (!probed.ErrorText.empty() || !probed.HasSound)
        return false;
    TOutputChoices other = choices;
    other.InputAudioCodec = probed.AudioCodec;
    return OutputExtension(other) == OutputExtension(choices);
}

// How many inputs before this one in the tree a template gives the same name.
int TOutputPlanner::TemplateRank(const TPathFileName& input, const std::string& name) {
    if (TreeNames) {
        const auto named = TreeNames->find(name);
        if (named == TreeNames->end())
            return 0;
        const auto place = std::find(named->second.begin(), named->second.end(), input);
        return place == named->second.end() ? 0 : static_cast<int>(place - named->second.begin());
    }
    return NamesGiven[name]++;
}

// The name a template gives an input converted whole, before it is numbered; empty for an input
// that gives no such output.
std::string TOutputPlanner::TemplateName(const TPlanInput& input, const TOutputChoices& chosen) {
    if (IsPlaylist(input.Input, chosen.OutputFolder) ||
        ProbeVerdict(input.Input, input.Probed, Rules.Track) || (Rules.Cue && CutByCueSheet(input)))
        return "";
    TOutputChoices choices = chosen;
    TakeProbe(input.Input.Path, input.Probed, Rules.Track, choices);
    if (!CopyRefusalText(choices, input.Input.Path.string()).empty() ||
        GivesPieces(choices, input.Probed))
        return "";
    ChooseWhole(input, choices);
    return WantedName(choices);
}

// Whether a cue sheet gives the input's tracks instead: one beside it in its folder names it,
// or, given by itself, one has its name, or a sheet in its tags reads.
bool TOutputPlanner::CutByCueSheet(const TPlanInput& input) {
    const TPathFileName& file = input.Input.Path;
    if (input.Input.InFolder ? CueCovered.Covers(file) : !CueSheetBeside(file).empty())
        return true;
    const auto tag = input.Tags.find("cuesheet");
    return tag != input.Tags.end() && ParseEmbeddedCueSheet(tag->second, file).ErrorText.empty();
}

// Every input given, in the order a run over all of them plans them: the files given by
// themselves, then the folders' files.
void TOutputPlanner::ReadTreeNames(const TOutputChoices& chosen) {
    TreeNames.emplace();
    TLibraryInputs inputs;
    for (const bool folders : {false, true})
        for (const TPathFileName& given : Rules.Given) {
            std::error_code error;
            if (fs::is_directory(given, error) == folders)
                inputs.Add(given);
        }
    while (const std::optional<TLibraryInput> input = inputs.Next()) {
        TProbedFile file = Probe(input->Path);
        const std::string name =
            TemplateName({*input, std::move(file.Probed), std::move(file.Tags)}, chosen);
        if (!name.empty())
            (*TreeNames)[name].push_back(input->Path);
    }
}

TOutputManifest* TOutputPlanner::ManifestFor(const TOutputChoices& choices, TOutputPlan& plan) {
    if (!choices.OutputFolder)
        return nullptr;
    std::unique_ptr<TOutputManifest>& manifest = Manifests[*choices.OutputFolder];
    if (!manifest) {
        manifest = std::make_unique<TOutputManifest>(*choices.OutputFolder);
        if (const std::string error = manifest->Load(); !error.empty())
            plan.Warnings.push_back("the record of the output folder cannot be read: " + error);
    }
    return manifest.get();
}

// Into the output's folder of the tree, once per input folder.
void TOutputPlanner::Images(const TOutputChoices& choices, const TPathFileName& output,
                            TOutputPlan& plan, TPlanUse use) {
    const TPathFileName folder = choices.InputFileName.parent_path();
    if (!choices.CopyImages || choices.TreeName.empty() || ImageFolders.count(folder))
        return;
    if (use == puAdd)
        ImageFolders.insert(folder);
    plan.Images = AlbumImages(folder, output.parent_path());
}

std::string TOutputPlanner::RecordEnded(TOutputRecord record, const TPathFileName& output,
                                        bool complete) {
    std::unique_ptr<TOutputManifest>& manifest = Manifests[record.Folder];
    if (!manifest)
        manifest = std::make_unique<TOutputManifest>(record.Folder);
    record.Entry.Complete = complete;
    return RecordOutput(*manifest, std::move(record.Entry), output);
}

std::string RecordOutput(TOutputManifest& manifest, TManifestEntry entry,
                         const TPathFileName& output) {
    entry.Output = manifest.Relative(output);
    entry.OutputStamp = StampOf(output);
    entry.WrittenUs = ReadWrittenSound(output, 0, rbDecodeSound).LengthUs;
    const std::string error = manifest.Record(entry);
    return error.empty() ? error : "the record of the output folder cannot be written: " + error;
}
