// One run of soundpick-cli over its files: adds each file as a task with the shared option
// assembly, runs the tasks on worker threads and follows their events on the main thread.
// Files are probed and named up front, but become component tasks (with their engines) only a
// few per job ahead of the run, so a batch of any length holds the memory of a few tasks per
// job; a task opens its files when it starts. The files under folders are found, probed and
// named only as the run needs them, after the files given by themselves.
#ifndef SOUNDPICK_CLI_BATCHRUN_H
#define SOUNDPICK_CLI_BATCHRUN_H

#include "cli/CliOptions.h"
#include "cli/CliReporter.h"
#include "cli/RunReport.h"
#include "component/CueCoverage.h"
#include "component/FFmpegComponent.h"
#include "component/GainAlbums.h"
#include "component/LibraryInputs.h"
#include "component/OutputAssembly.h"
#include "component/OutputManifest.h"
#include "component/OutputMirror.h"
#include "component/OutputPlanner.h"
#include "ffbind/FileIdentity.h"
#include "probe/SoundEnvelope.h"

#include <condition_variable>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

class TBatchRun {
public:
    TBatchRun(const TCliOptions& options, TFFmpegComponent& component, TCliReporter& reporter);
    ~TBatchRun();

    // Prints the media information of every file; false when any could not be read.
    bool PrintInfo();
    // Adds every file to the list; the ones that cannot be read are reported and counted as
    // skipped.
    void AddFiles();
    // Runs the added tasks to their end; an interrupt request stops them. True when every file
    // was added and every task finished.
    bool Run();

    const std::vector<TCliTask>& Tasks() const { return CliTasks; }

private:
    // An event of a worker or delivery thread, handled on the main thread.
    struct TEvent {
        enum TKind : uint8_t { ekProgress, ekStart, ekEnd };
        TKind Kind = ekProgress;
        int Index = 0;                                // in CliTasks; -1 after the last task's end
        int TaskIndex = 0;                            // in the component's list
        std::filesystem::path Output;                 // a start's output name
        std::filesystem::path Created;                // the file a start created; empty when none
        std::optional<TFileIdentity> CreatedIdentity; // that file's, taken as it was created
        TTaskEnd End = teNotEnded;                    // an end's
        std::string Message;
        TTaskResult Result; // an end's
        TProgressInfo Progress;
    };

    // With --trim-silence: where the file's sound rises above the level (none, with a warning,
    // when it never does or cannot be measured: the file is converted whole).
    std::optional<TSoundBounds> TrimmedClip(const std::filesystem::path& input,
                                            const TProbedInput& probed);
    // Adds an input to the list (not yet as a component task); false when it is passed over:
    // unreadable or without sound (quietly under a folder), or up to date with --update.
    bool AddInput(const TLibraryInput& input);
    bool AddPlanned(const std::filesystem::path& input, const TOutputPlan& plan);
    // Counts and reports an output --update found up to date.
    void PassOver(const std::filesystem::path& input, const std::filesystem::path& output);
    std::optional<std::filesystem::path> OutputFolder() const;
    // Adds the next file under the added folders that becomes a task; false when none is left.
    bool AddFromFolders();
    void ForgetEnded(int index);
    void WriteGainTags();
    void WritePlaylists();
    void ReportLine(const TCliTask& task, const std::string& state, const std::string& message);
    TOutputChoices ChoicesFor(const std::filesystem::path& input, const TProbedInput& probed,
                              const std::optional<TSoundBounds>& trimmed) const;
    // False, reported and counted as skipped, when the file cannot be converted.
    bool Convertible(const std::filesystem::path& input, const TProbedInput& probed);
    // Reports and counts input as skipped for refusal; always false.
    bool Refuse(const std::filesystem::path& input, const std::string& refusal);
    // A cue sheet's tracks (BatchRunPieces.cpp), from a sheet file or read already (shownFile:
    // the sheet, or the file whose tag held it); under a folder they keep its tree.
    bool AddCueTracks(const std::filesystem::path& cueFile, const TLibraryInput& found);
    bool AddCueSheet(TCueRead read, const std::filesystem::path& shownFile,
                     const TLibraryInput& found);
    // A cue track into the output folder's record, so that --update can pass it over: false
    // when it does. claimed: the names the run's outputs take, the track's own among them.
    // The tracks of a sheet in the input's CUESHEET tag; false when it has none or it fails.
    bool AddEmbeddedCue(const std::filesystem::path& input, const TTagMap& tags,
                        const TLibraryInput& found);
    // Lists a file (or a piece of one) to convert into output with the choices it was added with.
    void AddCliTask(const std::filesystem::path& output, TOutputChoices choices,
                    const std::string& piece = {});
    // --dry-run (BatchRunMirror.cpp): lists what the run would do and runs nothing. True when
    // every input could be planned.
    bool ListPlan();
    // --delete: removes the recorded outputs of inputs gone from the folders given, and those
    // of the run's inputs that are not their outputs now (with --dry-run, lists them).
    void DeleteGoneOutputs();
    void RecordEnded(int index, const TCliTask& task, bool outputExists);
    void NoteOutput(const std::filesystem::path& input, const std::filesystem::path& output);
    std::vector<std::filesystem::path> ClaimedNamesLike(const std::string& base) const;
    // Makes component tasks of waiting files until a few per job are waiting or running.
    void FeedTasks();
    bool MakeTask(int index);
    void PostStart(int taskIndex, const std::filesystem::path& output);
    // Ends a file that never became a task, as the component reports a task's end.
    void EndUnmade(int index, TTaskState state, const std::string& message);
    int CliIndex(int taskIndex) const; // call inside EventsLock
    void Post(TEvent event);
    void HandleEvent(const TEvent& event);
    void HandleProgress(const TEvent& event);
    void HandleStart(const TEvent& event);
    void HandleTerminate(const TEvent& event);
    // Whether the ended task's output is the file its run created, with something in it.
    bool LeftItsOwnOutput(int index, const TCliTask& task) const;

    const TCliOptions& Options;
    TFFmpegComponent& Component;
    TCliReporter& Reporter;
    TOutputPlanner Planner;
    std::vector<TCliTask> CliTasks;
    // By CliTasks index: the file its run created (a new output or the part file of a replacement),
    // the only one a second Ctrl-C may remove and the only one its end may call its output (a
    // file put at that name since is another's); empty when it created none.
    struct TCreatedFile {
        std::string Name;
        std::optional<TFileIdentity> Identity;
    };
    std::vector<TCreatedFile> CreatedFiles;
    std::set<std::string> ClaimedOutputs; // the outputs of CliTasks
    // The choices of the files not yet made tasks (from NextToMake on), in their order. A long
    // batch holds one per file, so what the files share is held once: the input's name is its
    // CliTasks entry's, and the rest is shared with the file before while it is the same.
    struct TPendingChoices {
        std::shared_ptr<const TOutputChoices> Shared; // without the input's and tree's names
        TNamePath TreeName;
    };
    std::deque<TPendingChoices> PendingChoices;
    TLibraryInputs Folders;   // the added folders, walked as the run goes
    bool FoldersLeft = false; // Folders may still give inputs
    TGainAlbums GainAlbums;   // --replaygain: the written outputs by album
    // Playlists under the added folders, written into the output tree after the run, with
    // where each input's output went.
    std::vector<TLibraryInput> Playlists;
    std::map<std::filesystem::path, std::filesystem::path> OutputsByInput;
    TRunReport Report;
    // What a task's end records, by CliTasks index (only for tasks not yet ended).
    std::map<std::size_t, TOutputRecord> PendingRecords;
    // With --dry-run, why an input is converted again, by CliTasks index (--update's reason).
    std::map<std::size_t, std::string> PlanReasons;
    // With --delete: what the run gave each input, and the inputs whose conversion did not
    // finish (they keep what they had).
    TCurrentOutputs CurrentOutputs;
    std::set<std::filesystem::path> UnsettledInputs;
    bool ManifestFailed = false; // a record could not be written
    int WithoutSound = 0;        // files under folders passed over quietly
    int UnusedCueSheets = 0;     // cue sheets under folders, without --cue
    TCueCoverage CueCovered;     // with --cue, the files under folders their sheets make tracks of
    int UpToDate = 0;            // inputs passed over by --update
    std::size_t NextToMake = 0;  // the first file not yet made a task
    std::vector<int> CliIndexOfTask; // by component index; guarded by EventsLock
    int TasksEnded = 0;              // component tasks whose end was handled
    bool Stopping = false;
    int Skipped = 0;
    bool AllEnded = false;
    bool Changed = false; // the live lines need a redraw

    std::mutex EventsLock; // guards Events and Woken
    std::condition_variable EventsSignal;
    std::deque<TEvent> Events;
    bool Woken = false;
};

#endif
