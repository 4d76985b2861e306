// The output option assembly: format rules, number fields, clip and output file name.
#include "component/OutputAssembly.h"

#include <algorithm>
#include <limits>
#include <map>
#include <set>

namespace {

// Milliseconds for a 32-bit record field: a longer time is cut to the longest it holds.
int32_t CappedToInt32(int64_t ms) {
    return static_cast<int32_t>(std::min<int64_t>(ms, std::numeric_limits<int32_t>::max()));
}

// Whether the output keeps a place in a tree under the output folder (never beside the input,
// whose own name it could take).
bool InTree(const TOutputChoices& choices) {
    return !choices.TreeName.empty() && choices.OutputFolder;
}

// Where the output goes and its name under there, before cleaning: its place in the tree, or
// the input's name beside the input or in the output folder.
std::pair<TPathFileName, TNamePath> OutputPlace(const TOutputChoices& choices) {
    const TPathFileName& input = choices.InputFileName;
    if (InTree(choices))
        return {*choices.OutputFolder, choices.TreeName};
    return {choices.OutputFolder.value_or(input.parent_path()), {input.stem().string()}};
}

// The fields a format sets on the output record, over what the choices set.
void ApplyFormat(const TOutputFormat& format, TOutputOptions& options) {
    if (!format.AudioCodec.empty())
        options.AudioCodec = format.AudioCodec;
    if (!format.VideoCodec.empty())
        options.VideoCodec = format.VideoCodec;
    options.NoVideo = options.NoVideo || format.NoVideo;
    if (format.SampleRateHz > 0)
        options.SampleRate = format.SampleRateHz;
    if (options.Channels < 0)
        options.Channels = format.DefaultChannels;
    // The packets pass unchanged, so nothing that changes the sound is set.
    if (format.StreamCopy) {
        options.SampleRate = options.Channels = options.Volume = options.AudioBitrate = -1;
        options.LoudnessTargetLufs.reset();
    }
}

} // namespace

std::string CopyExtension(const std::string& codecName) {
    // TTA has its own container: in Matroska it loses the end of the sound. GSM 6.10 as AIFF and
    // raw .gsm files hold it has no Matroska code (the Microsoft variant in wave files has).
    static const std::map<std::string, std::string> containers = {
        {"aac", ".m4a"},   {"alac", ".m4a"},  {"mp3", ".mp3"},   {"vorbis", ".ogg"},
        {"opus", ".opus"}, {"flac", ".flac"}, {"ac3", ".ac3"},   {"eac3", ".eac3"},
        {"mp2", ".mp2"},   {"wmav1", ".wma"}, {"wmav2", ".wma"}, {"tta", ".tta"},
        {"gsm", ".gsm"}};
    if (auto found = containers.find(codecName); found != containers.end())
        return found->second;
    // The PCM codes the wave header holds; others (big-endian PCM as QuickTime files carry it)
    // would fail there and go to Matroska with the rest.
    static const std::set<std::string> wavePcm = {"pcm_s16le", "pcm_s24le", "pcm_s32le",
                                                  "pcm_f32le", "pcm_f64le", "pcm_u8",
                                                  "pcm_alaw",  "pcm_mulaw"};
    return wavePcm.count(codecName) ? ".wav" : ".mka";
}

std::string CopyRefusalText(const TOutputChoices& choices, const std::string& shownName) {
    // Sound no container we write has a code for (the header write would fail).
    static const std::set<std::string> unkept = {"ape",      "musepack7",       "musepack8",
                                                 "tak",      "shorten",         "dsd_lsbf",
                                                 "dsd_msbf", "dsd_lsbf_planar", "dsd_msbf_planar"};
    if (!OutputFormatOf(choices.Format).StreamCopy || !unkept.count(choices.InputAudioCodec))
        return {};
    return shownName + ": its sound (" + choices.InputAudioCodec +
           ") cannot be kept as it is; choose flac to keep it lossless.";
}

std::string OutputExtension(const TOutputChoices& choices) {
    const TOutputFormat& format = OutputFormatOf(choices.Format);
    return format.StreamCopy ? CopyExtension(choices.InputAudioCodec)
                             : std::string(format.Extension);
}

TClipMs ClipStartAndLength(int64_t selectionStart, int64_t selectionEnd, int64_t scaleUs,
                           int64_t durationUs) {
    int64_t startMs = selectionStart * scaleUs / 1000;
    int64_t endMs = selectionEnd * scaleUs / 1000;
    const int64_t totalMs = durationUs / 1000;
    const bool durationKnown = totalMs > 0;
    if (startMs < 0 || (durationKnown && startMs >= totalMs))
        startMs = 0;
    if (durationKnown && (startMs >= endMs || endMs > totalMs))
        endMs = totalMs;
    if (endMs < startMs)
        endMs = startMs;
    return {startMs, endMs - startMs};
}

std::optional<TClip> ClipBetween(int64_t startUs, int64_t endUs) {
    if (endUs <= 0 || startUs >= endUs)
        return std::nullopt;
    return TClip{startUs, endUs - startUs};
}

std::optional<TClipMs> ChosenClipMs(const TOutputChoices& choices) {
    if (!choices.Clip)
        return std::nullopt;
    const TClip& clip = *choices.Clip;
    return ClipStartAndLength(clip.StartUs, clip.StartUs + clip.LengthUs, 1,
                              choices.InputDurationUs);
}

TWantedOutput WantedOutputFor(const TOutputChoices& choices) {
    const auto [folder, path] = OutputPlace(choices);
    return BuildOutputName({.Folder = folder,
                            .Path = path,
                            .Suffix = choices.NameSuffix,
                            .Extension = OutputExtension(choices),
                            .Marked = !InTree(choices),
                            .Replace = choices.Overwrite});
}

TPathFileName OutputFileNameFor(const TOutputChoices& choices) {
    return FreeOutputName(WantedOutputFor(choices), choices.ClaimedNames);
}

TOutputOptions BuildOutputOptions(const TOutputChoices& choices, const TPathFileName& fileName) {
    TOutputOptions options;
    const std::string extension = OutputExtension(choices);
    options.Channels = choices.Channels.value_or(-1);
    options.SampleRate = choices.SampleRateHz.value_or(-1);
    options.Volume = choices.Volume.value_or(-1);
    const TOutputFormat& format = OutputFormatOf(choices.Format);
    if (const std::optional<int> kbps = BitRateKbpsFor(format, choices.BitRateKbps))
        options.AudioBitrate = *kbps * 1000;
    if (const std::optional<TClipMs> clip = ChosenClipMs(choices))
        options.DurationMs = CappedToInt32(clip->LengthMs);
    if (choices.Piece && choices.Piece->LengthUs > 0) {
        options.DurationUs = choices.Piece->LengthUs;
        options.DurationMs = CappedToInt32(choices.Piece->LengthUs / 1000);
    }
    options.LoudnessTargetLufs = choices.LoudnessTargetLufs;
    options.CopyTimestamp = choices.CopyTimestamp;
    ApplyFormat(format, options);
    options.StreamInfo.Timestamp = 0; // the current time as the creation time
    options.FileExt = extension;
    options.FileName = fileName.empty() ? OutputFileNameFor(choices) : fileName;
    options.Overwrite = choices.Overwrite;
    options.NumberedName = true;
    options.NameSuffix = WantedOutputFor(choices).Suffix;
    options.FoldersFrom = choices.OutputFolder.value_or(choices.InputFileName.parent_path());
    options.NoSubtitle = true;
    // The caller's lines apply after the engine choices, so they can still change them.
    options.Engine = choices.Engine;
    options.ExtraOptions = choices.ExtraOutputOptions;
    options.Tags = choices.Tags;
    return options;
}

TInputOptions BuildInputOptions(const TOutputChoices& choices) {
    TInputOptions options;
    options.FileName = choices.InputFileName;
    options.FormatName = choices.InputFormatName;
    if (const std::optional<TClipMs> clip = ChosenClipMs(choices))
        options.StartMs = CappedToInt32(clip->StartMs);
    if (choices.Piece && choices.Piece->StartUs > 0)
        options.StartUs = choices.Piece->StartUs;
    if (OutputFormatOf(choices.Format).AudioOnly)
        options.ExtraOptions = "vn=1";
    options.AudioStream = choices.AudioStream;
    return options;
}
