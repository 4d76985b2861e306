// The output option assembly: turns the choices made for one input file (in the options dialog
// or on the command line) into the task's option records and output file name. Shared by the
// window and soundpick-cli; no toolkit types.
#ifndef SOUNDPICK_COMPONENT_OUTPUTASSEMBLY_H
#define SOUNDPICK_COMPONENT_OUTPUTASSEMBLY_H

#include "component/NameBuilder.h"
#include "component/OptionRecords.h"
#include "component/OutputFormats.h"
#include "component/OutputNaming.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// The output folder field's text that means "beside the input file" (no OutputFolder).
inline constexpr const char* SameAsInputFolder = "<same as input>";

// Everything the assembly reads: what the dialog or the command line chose, in numbers where
// they are numbers (the dialog reads its fields with ChoiceTexts).
// What becomes of an input whose sound is already lossy.
enum TLossyPolicy {
    lpConvert,
    lpCopy,
    lpCopyInFolders // copied for the inputs under an added folder, converted for files by
                    // themselves
};

// What one input becomes.
enum TPieceChoice {
    pcOneFile,
    pcAllTracks,       // a file for each audio track
    pcChapters,        // a file for each chapter (one file without chapters)
    pcChaptersOrTracks // chapters when the input has them, else a file for each audio track
};

// A part of an input, in microseconds.
struct TClip {
    int64_t StartUs = 0;
    int64_t LengthUs = -1; // -1: to the input's end

    bool operator==(const TClip&) const = default;
};

struct TOutputChoices {
    // The input, as the probe describes it.
    TPathFileName InputFileName;
    std::string InputFormatName;  // forced input format; empty when detected
    int64_t InputDurationUs = -1; // -1 when unknown
    std::string InputAudioCodec;  // codec of the first audio stream, e.g. "aac"; empty: none
    bool InputHasCover = false;   // an attached picture, which the output may keep

    TOutputFormatId Format = fmMp3;
    // Each of these unset: as the format (or else the input) has it.
    std::optional<int> SampleRateHz;
    std::optional<int> Channels;              // 1 or 2
    std::optional<int> Volume;                // 256 = unchanged
    std::optional<int> BitRateKbps;           // one the format does not take: its default
    std::optional<double> LoudnessTargetLufs; // loudness normalisation to this target

    // The clip chosen (the dialog's selection, --start and --end, the silence trimmed), kept
    // within the input and cut to the millisecond; none: the whole input.
    std::optional<TClip> Clip;

    // The input's audio stream to convert (its index in the file); -1: the default-flagged one,
    // else the first.
    int AudioStream = -1;
    // An exact clip, over the chosen one: a cue sheet's track or a chapter.
    std::optional<TClip> Piece;

    std::optional<TPathFileName> OutputFolder; // none: beside the input
    bool CopyTimestamp = false;
    bool Overwrite = false;
    // The input's tags and cover go to the output where its container holds them; ReplayGain
    // tags are filled once the output's album is written.
    TEngineChoices Engine{.KeepTags = true};
    // Whether an input whose sound is already in the output's lossy codec, at no more than
    // MaxBitRateKbps (0: the output's bit rate), is copied as it is (see LossyPolicy.h).
    TLossyPolicy LossyPolicy = lpConvert;
    int MaxBitRateKbps = 0;
    TPieceChoice Pieces = pcOneFile;

    // With an output folder: the output's path under it without extension (the input's place in
    // an added folder's tree, or a name template's), named without "_(new)". Empty: the usual
    // naming.
    TNamePath TreeName;
    // Put into the name after its mark, before the check for a free name: what tells one
    // output of the input from its others (an audio track's "_2_ger"). Empty: none.
    std::string NameSuffix;
    // A name template (see TNameTemplate) for inputs added with their folders; empty: none.
    std::string NameTemplateText;
    // For inputs added with their folders into an output folder's tree: each input folder's
    // cover pictures are copied beside its outputs.
    bool CopyImages = false;
    // Output names already given to other tasks of the list: never chosen again, so two tasks
    // cannot write the same file.
    std::vector<TPathFileName> ClaimedNames;
    // Further engine options for the output, one "name=value" per line (command line only).
    std::string ExtraOutputOptions;
    // The piece's own tags (its title, number, ...), over the input's.
    TTagPairs Tags;

    bool operator==(const TOutputChoices&) const = default;
};

// The container that takes a copied audio stream of this codec as it is (".mka" for codecs
// without a container of their own).
std::string CopyExtension(const std::string& codecName);

// Why the choices cannot be carried out, for the stream copy of sound that no container we
// write holds (Monkey's Audio, Musepack, TAK, DSD, Shorten): "<shownName>: its sound (<codec>)
// cannot be kept as it is; …"; empty for any other choices.
std::string CopyRefusalText(const TOutputChoices& choices, const std::string& shownName);

// The output's extension: the format's, or for the stream copy the one fitting the input's
// codec.
std::string OutputExtension(const TOutputChoices& choices);

// The clip in milliseconds, from a slider selection (steps of scaleUs microseconds) and the
// input's duration: a start outside the input becomes 0, an end beyond it or not after the start
// becomes the duration. An unknown duration (not above 0) limits nothing.
struct TClipMs {
    int64_t StartMs = 0;
    int64_t LengthMs = 0;
};
TClipMs ClipStartAndLength(int64_t selectionStart, int64_t selectionEnd, int64_t scaleUs,
                           int64_t durationUs);

// The clip from startUs to endUs; none unless the end lies above 0 and after the start.
std::optional<TClip> ClipBetween(int64_t startUs, int64_t endUs);

// The chosen clip as the input holds it (see ClipStartAndLength); none when none is chosen.
std::optional<TClipMs> ChosenClipMs(const TOutputChoices& choices);

// The output file name: the input's folder (or the chosen one) and name without extension,
// "_(new)" and the format's extension; when that exists (and overwriting is off) or is claimed,
// "_(new_1)", "_(new_2)" and so on. With a TreeName: the output folder, the TreeName and the
// extension, numbered the same way when taken.
TPathFileName OutputFileNameFor(const TOutputChoices& choices);

// The name the choices would like for the output, before the naming rule finds a free one.
TWantedOutput WantedOutputFor(const TOutputChoices& choices);

// The task's records. Both read only the choices (and the file system for the name, unless the
// output's name is given: one chosen earlier).
TOutputOptions BuildOutputOptions(const TOutputChoices& choices,
                                  const TPathFileName& fileName = {});
TInputOptions BuildInputOptions(const TOutputChoices& choices);

#endif
