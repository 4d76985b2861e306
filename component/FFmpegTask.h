// One conversion task (TFFmpeg): an engine with its position in the task list, its own copies of
// the option records and a probe describing the input the engine opened.
#ifndef SOUNDPICK_COMPONENT_FFMPEGTASK_H
#define SOUNDPICK_COMPONENT_FFMPEGTASK_H

#include "component/OptionRecords.h"
#include "engine/FFmpeg.h"
#include "engine/LoudnessMeter.h"
#include "ffbind/FileIdentity.h"

#include <atomic>
#include <memory>
#include <optional>
#include <string>

class TAVProbe;

// Which lines of an ExtraOptions text an ApplyExtraOptions call applies.
enum TExtraOptionsKind {
    eoOrdinary, // every name but the preset and new-stream ones
    eoPreset,   // "apre", "vpre", "spre"
    eoNewStream // "newvideo", "newaudio", "newsubtitle"
};

// Whether a task's output was set: not yet, with the engine's defaults, or from its record.
enum TOutputSetting { osNotSet, osDefaults, osRecord };

class TFFmpeg : public TCustomFFmpeg {
public:
    TFFmpeg();
    ~TFFmpeg() override;

    // Applies the "name=value" lines of text whose names are of the given kind, in order, through
    // SetOption. A line without "=" has an empty value.
    void ApplyExtraOptions(const std::string& text, TExtraOptionsKind kind);

    // The input record to the engine, before the input file is opened: ordinary extra options,
    // forced format, start time, program, audio stream.
    void ApplyInputOptions(const TInputOptions& options);
    // The output record to the engine, before the output file is added: target, engine choices,
    // ordinary extra options, tags, every field in its fixed order, preset extra options. Hooks are
    // the component's.
    void ApplyOutputOptions(const TOutputOptions& options);

    // The first pass of loudness normalisation (as BeforeTranscode): measures the sound to be
    // output, sets the volume that brings it to the target and logs the figures. False when
    // stopped meanwhile.
    bool NormalizeLoudness(double targetLufs);
    // Its last step (as AfterTranscode): measures what was written, which the figures report
    // from then on, and warns when it missed what was aimed at.
    void CheckWrittenLoudness();
    // Whether progress reports belong to the second of two passes.
    bool InSecondPass() const { return SecondPass; }

    // Attaches the task's probe to the input the engine opened last.
    void AttachProbe();
    TAVProbe& Probe() { return *TaskProbe; }
    // Closes the task's files (input and output) and what refers to them; the option state
    // stays. A task waiting for its run holds no file.
    void ReleaseFiles();
    // An ended task that did not finish waits again, its last run's results forgotten.
    void ForgetRun();
    // Notes the output file a starting run created; at the run's end, keeps the note only for a
    // file the run left at the output's name.
    void NoteCreatedOutput();
    void SettleCreatedOutput();
    // Whether the file at the name is the one an earlier run of this task left there (a stopped
    // part), which running the task again replaces.
    bool LeftEarlier(const TPathFileName& name) const;

    // Position in the task list; -1 until added. Read by worker threads while the list renumbers.
    std::atomic<int> Index{-1};
    // The component has counted this task's end in its run; only then may it be released.
    std::atomic<bool> EndCounted{false};
    // The records the task's engine is set up from when it starts. InputOptions.FileName is the
    // input; a record the front end did not give leaves the engine's defaults.
    TInputOptions InputOptions;
    bool InputRecordGiven = false;
    TOutputOptions OutputOptions;
    TOutputSetting OutputSetting = osNotSet;
    // The figures of loudness normalisation once its first pass has run.
    std::optional<TLoudness> MeasuredLoudness;
    TLoudnessGain AppliedGain;

private:
    void ApplyOutputFields(const TOutputOptions& options);
    void SetGenericField(const char* name, int64_t value);
    void ApplyStreamInfo(const TStreamInfo& info);

    std::unique_ptr<TAVProbe> TaskProbe;
    std::optional<TFileIdentity> CreatedOutput; // by the current or last run
    std::optional<TFileStamp> LeftOutput;       // what the last run left at the output's name
    std::atomic<bool> SecondPass{false};
};

#endif
