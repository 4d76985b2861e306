// What soundpick-cli tells the user: live progress lines on a terminal (with each task's time
// left at its speed so far), plain lines otherwise, or one JSON object per event. Output file
// names go to standard output, the rest to standard error (JSON: everything to standard output;
// a file name that is no UTF-8 text comes with its bytes in base64 beside it).
// Used on the main thread only.
#ifndef SOUNDPICK_CLI_CLIREPORTER_H
#define SOUNDPICK_CLI_CLIREPORTER_H

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

enum TReportMode { rmTerminal, rmPlain, rmJson };

enum TTaskState { tsWaiting, tsRunning, tsFinished, tsStopped, tsFailed };

// One task as the front end follows it.
// The names are strings, not paths, which would hold each of their parts besides: a long batch
// keeps one of these per file.
struct TCliTask {
    std::string Input;
    std::string Piece; // which piece of the input ("2 ger", "03 Title"); empty: the whole
    std::string Output;
    TTaskState State = tsWaiting;
    int CurrentMs = 0;
    int TotalMs = 0; // 0 or less: unknown
    int64_t SizeBytes = 0;
    std::string Warning; // a finished task's output is short of its input
    double Speed = 0;    // media time per wall-clock time; 0 until known
    // Loudness normalisation's figures (LUFS, dB, dBTP): the output's as written once checked.
    std::optional<double> InputLufs, GainDb, OutputLufs, OutputTruePeakDbtp;
    // The first progress sample, from which the speed is measured.
    bool HasFirstSample = false;
    int FirstSampleMs = 0;
    std::chrono::steady_clock::time_point FirstSampleTime;
    // When it became a component task: the report's seconds count from here.
    std::chrono::steady_clock::time_point MadeTime;
};

class TCliReporter {
public:
    TCliReporter(TReportMode mode, bool quiet);

    void Added(int index, const TCliTask& task);
    // A file that could not become a task, with the window's "***" text.
    void Skipped(const std::filesystem::path& input, const std::string& message);
    // A progress sample; on a terminal the live lines are redrawn by Redraw.
    void Progress(int index, const TCliTask& task);
    // A task's end; outputExists tells whether a stopped task left a file.
    void Ended(int index, const TCliTask& task, const std::string& message, bool outputExists);
    // With --dry-run, what the run would do with an input ("convert", "replace", "skip",
    // "delete") and why, on the standard output: the list asked for.
    void Planned(const std::string& action, const std::filesystem::path& input,
                 const std::filesystem::path& output, const std::string& reason);
    // With --delete, an output removed, and why ("its input IN is gone").
    void Removed(const std::filesystem::path& input, const std::filesystem::path& output,
                 const std::string& why);
    void LogLine(const std::string& line);
    void Warning(const std::string& text);
    // A file's media information (--info).
    void InfoText(const std::filesystem::path& input, const std::string& text);
    // Redraws the live lines of the running tasks (terminal only).
    void Redraw(const std::vector<TCliTask>& tasks);
    void Summary(const std::vector<TCliTask>& tasks, int skipped, double seconds);
    // The inputs passed over without a line each: files under folders without sound, inputs
    // whose output is up to date (--update), and cue sheets under folders without --cue.
    void PassedOver(int withoutSound, int upToDate, int unusedCueSheets);

private:
    void ClearLive();
    void ErrorLine(const std::string& line);
    void OutputName(const std::filesystem::path& output);
    std::string Tag(int index) const;

    TReportMode Mode;
    bool Quiet;
    int LiveLines = 0; // lines of the live block now on the terminal
    int TaskTotal = 0;
};

// The input's name with the piece it gives, as the lines name a task: "two.mkv [2 ger]".
std::string ShownName(const TCliTask& task);

// "waiting", "running", "finished", "stopped" or "failed".
const char* StateName(TTaskState state);

// `"key":"name"` for a file name, with `,"key_base64":"…"` after it when the name is no UTF-8
// text (its bad bytes read as U+FFFD in the first).
std::string JsonPathMembers(const std::string& key, const std::string& name);

// A text as a JSON string literal; a byte that starts no UTF-8 character reads as U+FFFD.
std::string JsonString(const std::string& text);

#endif
