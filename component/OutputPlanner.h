// The one place that decides what an input gives: from the input, its probe and the user's
// choices, the outputs to make (each with its input, sound stream, clip or piece, final name,
// tags and the pictures to copy beside it) or why there are none. The window and soundpick-cli
// both add inputs through it and only show and run what it plans.
#ifndef SOUNDPICK_COMPONENT_OUTPUTPLANNER_H
#define SOUNDPICK_COMPONENT_OUTPUTPLANNER_H

#include "component/CoverImages.h"
#include "component/CueCoverage.h"
#include "component/FFmpegComponent.h"
#include "component/LibraryInputs.h"
#include "component/OutputAssembly.h"
#include "component/OutputManifest.h"
#include "component/PieceTasks.h"
#include "component/SameStemRanks.h"

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

// What the run asks of every input beside the choices of its outputs.
struct TPlanRules {
    // The audio track to convert, by number or language ("2", "ger"); empty: the choices'.
    std::string Track;
    // An output the folder's record names as the input's own is passed over when up to date
    // and replaced when not; without a record, an output beside the input is checked so.
    bool Update = false;
    // The files and folders given, in their order, and the share of their inputs planned here.
    // Inputs that a name template names alike are numbered by their place in the whole tree
    // (the first takes the plain name): a run over all of it plans them in that order, a share
    // reads the tags of the others' inputs too.
    std::vector<TPathFileName> Given;
    TShard Shard;
    // Cue sheets give their files' tracks (--cue): a file a sheet cuts is not converted whole.
    bool Cue = false;
};

enum TPlanVerdict {
    pvOutputs,    // Outputs holds what to make
    pvPlaylist,   // a playlist under an added folder, written into the output tree after the run
    pvPassedOver, // under an added folder and without sound: passed over quietly
    pvNoSound,    // given by itself and without sound
    pvRefused,    // cannot be converted: unreadable or damaged, no such track, sound not kept
    pvUpToDate    // its output is done already (Output in UpToDateOutput)
};

struct TPlannedOutput {
    TOutputChoices Choices; // its input, sound stream, clip or piece and tags
    TPathFileName Output;   // its final name
    // The piece it is for the lines about it ("2 ger", "03 Title"); empty for a whole input.
    std::string Label;
    std::optional<TOutputRecord> Record;
    // Why an output the record names as the input's own is made again ("the input changed").
    std::string Reason;
};

struct TOutputPlan {
    TPlanVerdict Verdict = pvOutputs;
    std::string Reason; // why there are no outputs
    std::vector<TPlannedOutput> Outputs;
    TPathFileName UpToDateOutput;
    std::vector<TPathFileName> UpToDatePieces; // a cue sheet's tracks done already
    // The pictures of the input's folder that go beside its outputs (with the folder's first).
    std::vector<TImageCopy> Images;
    std::vector<std::string> Warnings; // the output folder's record cannot be read or written
    bool RecordFailed = false;         // it could not be written
};

// A file's probe and tags.
struct TProbedFile {
    TProbedInput Probed;
    TTagMap Tags;
};

// One input as the planner reads it.
struct TPlanInput {
    TLibraryInput Input;
    TProbedInput Probed;
    TTagMap Tags; // for a name template and chapters named by one
};

// Why the probe alone says an input gives nothing (pvPassedOver, pvNoSound or pvRefused);
// nothing when it can be converted. A sound or video file that cannot be read is damaged: a
// failure even under a folder, where another file (a text, a picture) is passed over.
std::optional<TOutputPlan> ProbeVerdict(const TLibraryInput& input, const TProbedInput& probed,
                                        const std::string& track = {});

// What the probe tells of the input into the choices: its name, format and length, the track
// named (by number or language; empty: the choices' stream) and the codec of the track it
// converts.
void TakeProbe(const TPathFileName& input, const TProbedInput& probed, const std::string& track,
               TOutputChoices& choices);

// Records an output in the folder's record with the output as its run left it (its stamp and
// its sound's length read back); "" or why the record could not be written.
std::string RecordOutput(TOutputManifest& manifest, TManifestEntry entry,
                         const TPathFileName& output);

// Whether a plan only looks (the options dialog's preview) or is carried out.
enum TPlanUse { puAdd, puPreview };

class TOutputPlanner {
public:
    // The names other tasks of the list hold that an output beginning with base could meet.
    using TClaimedNames = std::function<std::vector<TPathFileName>(const std::string& base)>;
    // The probe of another file (a sibling of the same name that a tree would name alike, an
    // input of another share that a template could name alike), with its tags.
    using TProbeFile = std::function<TProbedFile(const TPathFileName&)>;

    TOutputPlanner(TPlanRules rules, TClaimedNames claimed, TProbeFile probe);

    // Whether an input is a playlist the run writes into the output tree (read before any
    // probe: a playlist may name what the libraries would open).
    static bool IsPlaylist(const TLibraryInput& input,
                           const std::optional<TPathFileName>& outputFolder);

    TOutputPlan Plan(const TPlanInput& input, const TOutputChoices& chosen, TPlanUse use = puAdd);
    // A cue sheet's tracks, cut from the file the choices name (their probe taken). Under an
    // added folder (sheet found in one) they keep its place in the output tree.
    TOutputPlan PlanCueTracks(const TCueSheet& sheet, TOutputChoices choices,
                              const TLibraryInput& sheetFile);

    // Records the output of a task that ended (complete or the start a stop left); "" or why
    // the record could not be written.
    std::string RecordEnded(TOutputRecord record, const TPathFileName& output, bool complete);

private:
    TOutputPlan PlanPieces(const TPlanInput& input, TOutputChoices& choices);
    TOutputPlan PlanPieceTasks(std::vector<TPieceTask> pieces, const TOutputChoices& choices);
    TOutputPlan PlanWhole(const TPlanInput& input, TOutputChoices& choices, TPlanUse use);
    TOutputPlan PlanBeside(TOutputChoices& choices);
    void PlanRecordedPiece(TOutputManifest& manifest, TPieceTask& piece,
                           std::vector<TPathFileName>& claimed, TOutputPlan& plan);
    TOutputPlan PlanInFolder(const TPlanInput& input, TOutputChoices& choices,
                             TOutputManifest& manifest, TPlanUse use);
    TOutputPlan PassOver(TOutputManifest& manifest, const TManifestEntry& entry,
                         const TPathFileName& output, TPlanUse use);
    static TOutputPlan UpToDate(const TPathFileName& output);
    bool MakesOutputLike(const TPathFileName& sibling, const TOutputChoices& choices) const;
    int TemplateRank(const TPathFileName& input, const std::string& name);
    std::string TemplateName(const TPlanInput& input, const TOutputChoices& chosen);
    bool CutByCueSheet(const TPlanInput& input);
    void ReadTreeNames(const TOutputChoices& chosen);
    TOutputManifest* ManifestFor(const TOutputChoices& choices, TOutputPlan& plan);
    void Images(const TOutputChoices& choices, const TPathFileName& output, TOutputPlan& plan,
                TPlanUse use);

    TPlanRules Rules;
    TClaimedNames Claimed;
    TProbeFile Probe;
    std::set<TPathFileName> ImageFolders; // input folders whose pictures were copied
    TCueCoverage CueCovered;
    TSameStemRanks StemRanks;
    std::map<TPathFileName, std::unique_ptr<TOutputManifest>> Manifests; // by output folder
    // The names a template gave the inputs planned so far, with how many it gave each.
    std::map<std::string, int> NamesGiven;
    // In a share: the inputs of the whole tree that each name is given to, in the tree's order.
    std::optional<std::map<std::string, std::vector<TPathFileName>>> TreeNames;
};

#endif
