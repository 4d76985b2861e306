// The check behind --update: whether an input's output is already done, so that a second run
// over a library converts only what is new, changed or left unfinished.
#ifndef SOUNDPICK_COMPONENT_UPDATECHECK_H
#define SOUNDPICK_COMPONENT_UPDATECHECK_H

#include <cstdint>
#include <filesystem>
#include <string>

struct TOutputChoices; // component/OutputAssembly.h
struct TManifestEntry; // component/OutputManifest.h

enum TOutputState {
    osMissing,    // no output yet
    osOutdated,   // older than its input: the input changed since
    osIncomplete, // its sound is short of the expected length (a stopped run left it)
    osUpToDate
};

// The state of output for input, whose output is expected to hold expectedUs of sound (0 or
// less: unknown, then only the times count). The length is read back from the output's packets
// with the tolerance a finished conversion is checked with.
TOutputState OutputStateFor(const std::filesystem::path& input, const std::filesystem::path& output,
                            int64_t expectedUs);

// The state of the output named for the choices (with replacing allowed: the name itself, not a
// numbered one beside it), expected to hold the clip or else the whole input.
TOutputState OutputStateFor(const TOutputChoices& choices, const std::filesystem::path& output);

// What --update does with an input whose output the folder's record names as its own.
enum TUpdateAction : uint8_t { uaSkip, uaConvert, uaReplace };

struct TUpdateDecision {
    TUpdateAction Action = uaConvert;
    std::string Reason; // "up to date", "the settings changed", ...
};

// The settings that shape an output (format, sound, clip, track, tags, cover and its size,
// ReplayGain), as a text to compare one run's with another's.
std::string OutputSettingsText(const TOutputChoices& choices);

// Whether an output is still as its own run left it: the same file, or one changed since whose
// sound read back is still the length the run wrote (a tag edit changes no sound).
bool OutputAsWritten(const TManifestEntry& own, const std::filesystem::path& output);

// Compares an output with what its own run recorded: the settings, the input as it was read,
// and the output as it was left; an output changed since is read back and kept only when its
// sound is still the length the run wrote (a tag edit changes no sound).
TUpdateDecision DecideUpdate(const TManifestEntry& own, const std::filesystem::path& input,
                             const std::filesystem::path& output, const std::string& settings);

#endif
