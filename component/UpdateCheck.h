// The check behind --update: whether an input's output is already done, so that a second run
// over a library converts only what is new, changed or left unfinished.
#ifndef SOUNDPICK_COMPONENT_UPDATECHECK_H
#define SOUNDPICK_COMPONENT_UPDATECHECK_H

#include <cstdint>
#include <filesystem>

struct TOutputChoices; // component/OutputAssembly.h

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

#endif
