// What a task's run came to, copied out of the task so that a front end holds it on its own.
#ifndef SOUNDPICK_COMPONENT_TASKRESULT_H
#define SOUNDPICK_COMPONENT_TASKRESULT_H

#include "component/OptionRecords.h"

#include <cstdint>
#include <optional>
#include <string>

class TFFmpeg; // component/FFmpegTask.h

// How a task ended; teNotEnded for a task that waits or runs (or is not in the list).
enum TTaskEnd : uint8_t { teNotEnded, teFinished, teFinishedWithWarning, teStopped, teFailed };

// The task converted to its end, with a warning or without.
inline bool IsFinished(TTaskEnd end) {
    return end == teFinished || end == teFinishedWithWarning;
}

// The figures of loudness normalisation, as the front ends show them.
struct TTaskLoudness {
    double InputLufs = -70.0;
    double GainDb = 0.0;
    double OutputLufs = -70.0;
    double OutputTruePeakDbtp = -200.0;
    // "Loudness: input … LUFS (true peak … dBTP), gain … dB, output … LUFS (true peak … dBTP)"
    std::string SummaryText;
};

struct TTaskResult {
    TTaskEnd End = teNotEnded;
    std::string ErrorText;        // why it failed, on one line; empty otherwise
    std::string WarningText;      // what a finished run falls short of; empty when nothing
    std::string WarningSummary;   // its short form for a list row ("ended at 0:18 of 1:00")
    TPathFileName OutputFileName; // the name the output was given
    // The file its run created (a part file while it replaces another), from its start until it
    // closes its files at the end; empty when it created none or holds none.
    TPathFileName WrittenFileName;
    std::optional<TTaskLoudness> Loudness; // once normalisation has measured the sound
    // Its gain tags wait for the album pass to fill them; the album is its input's folder.
    bool GainPlaceholders = false;
    TPathFileName InputFileName;
};

// How the task's run ended so far; the caller keeps the task from changing meanwhile.
TTaskEnd EndOf(const TFFmpeg& task);

// A copy of the task's result; the caller keeps the task from changing meanwhile (the
// component's EventLock).
TTaskResult ResultOf(const TFFmpeg& task);

#endif
