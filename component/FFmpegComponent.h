// The conversion component: the one object a front end talks to. It loads the libraries, holds
// the task list (one engine per input file), turns option records into engine options, runs the
// tasks one after another or several at once, and reports each task's progress and end by index.
// No library types cross this header.
#ifndef SOUNDPICK_COMPONENT_FFMPEGCOMPONENT_H
#define SOUNDPICK_COMPONENT_FFMPEGCOMPONENT_H

#include "component/OptionRecords.h"
#include "component/PieceTasks.h"
#include "component/RunQueue.h"
#include "component/TaskResult.h"
#include "engine/ProgressReport.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

class TAVProbe;                 // probe/AVProbe.h
class TBitmap24;                // ffbind/FFUtils.h
class TFFmpeg;                  // component/FFmpegTask.h
class TFFmpegList;              // component/FFmpegList.h
class TTerminateDelivery;       // component/TerminateDelivery.h
struct TOutputChoices;          // component/OutputAssembly.h
enum TOutputCreation : uint8_t; // engine/FFmpeg.h

// Priority of each task's worker thread (nice 19, 10, 5, 0), by the engine's ordinals.
enum TTaskPriority { tpIdle, tpLowest, tpLower, tpNormal };

// A before-hook handler's answer for one video frame, by the engine's ordinals.
enum TTaskHookAction { thContinue, thIgnore, thStop };

// A file read by the probe before it is added (see ProbeInput).
struct TProbedInput {
    std::string ErrorText; // "***File load error: " and the reason; empty when the file was read
    bool HasSound = false; // a file without sound is not added (see NoSoundText)
    int64_t DurationUs = -1;
    std::string FormatName; // forced input format; empty when detected
    std::string AudioCodec; // the codec of the sound it converts unless told otherwise
    int64_t AudioBitRateBps =
        0; // of that sound (the file's, when it holds nothing else); 0: unknown
    std::vector<TAudioTrack> AudioTracks;
    std::vector<TChapter> Chapters;
    bool HasCover = false; // an attached picture, which an output may keep
};

// The task that AddTask made, or why there is none.
struct TAddedTask {
    int Index = -1; // in the task list; -1 when none was added
    // "***File open error: " or "***Cannot do convert, error: " and the reason; empty when added.
    std::string ErrorText;
    TPathFileName OutputFileName; // the output's name (its start takes the next free one when
                                  // another file has taken it meanwhile: see OnStart)
    int64_t LengthMs = 0;         // of the output: the clip's length, else the input's
};

// A task made ready apart from any list (see PrepareTask).
struct TPreparedTask {
    std::shared_ptr<TFFmpeg> Task; // nullptr when Added.ErrorText says why there is none
    TAddedTask Added;              // its Index is -1 until AdoptTask
};

// Why a file without sound is not added, under the name the front end shows it by.
std::string NoSoundText(const std::string& shownName);

// Loads the FFmpeg libraries the component needs from a folder (empty: the system's); "" or why
// not. Any thread may load (a window hands it to a worker, as it takes seconds on a cold disk).
std::string LoadComponentLibraries(const TPathFileName& folder);

// Component events carry no sender; each starts with the task's index in the list.
//
// Progress of a running task (the expected total is 0 or less when unknown). Runs on the task's
// worker thread (the caller's thread with a thread count of 0), inside the component's
// EventLock, so handlers of concurrent tasks never overlap.
using TProgressEvent = std::function<void(int AIndex, const TProgressInfo& AProgress)>;
// End of a task: how it ended, with AMessage why when it failed (or why a stopped task kept no
// file). AIndex -1 (with teFinished and "") follows the last task's end.
// With a thread count above 0 it runs on the component's delivery thread, one event at a time
// and in the order the ends happened; otherwise on the thread that ended the task (the caller's,
// inside StartTasks). A handler may call the component but must not destroy it.
using TTerminateEvent = std::function<void(int AIndex, TTaskEnd AEnd, const std::string& AMessage)>;
// A task starts: its output was created under AOutputFileName (the name it was given, or the
// next free numbered one when another file took that meanwhile). Runs on the task's worker
// thread, which opened its files (the caller's with a thread count of 0), inside EventLock,
// before the task's first progress. A task stopped while it opened its files has none.
using TStartEvent = std::function<void(int AIndex, const TPathFileName& AOutputFileName)>;
// Asked before video hooks act on a frame; runs on the task's worker thread.
using TBeforeHookEvent =
    std::function<void(int AIndex, int64_t APTS, TTaskHookAction& AHookAction)>;
// A decoded video frame for a custom hook; runs on the task's worker thread. Set AUpdate when the
// bitmap was changed, AStopHook to stop receiving frames.
using TCustomHookEvent = std::function<void(int AIndex, TBitmap24& ABitmap, int AFrameNumber,
                                            int64_t APTS, bool& AUpdate, bool& AStopHook)>;
// A preview picture of a running task; runs on the main thread (the worker waits meanwhile).
using TPreviewBitmapEvent =
    std::function<void(int AIndex, const TBitmap24& ABitmap, int AFrameNumber, int64_t APTS)>;

class TCustomFFmpegComponent {
public:
    TCustomFFmpegComponent();
    // Waits for a handler in progress, then stops and waits for every task and delivery; a task
    // still opening its files is let go (it ends, without events, once the open returns).
    virtual ~TCustomFFmpegComponent();
    TCustomFFmpegComponent(const TCustomFFmpegComponent&) = delete;
    TCustomFFmpegComponent& operator=(const TCustomFFmpegComponent&) = delete;

    // ---- Operations (main thread) --------------------------------------------------------------
    // Loads the FFmpeg libraries from a folder (empty: the system's); false with LastErrorText.
    bool LoadLibraries(const TPathFileName& folder);
    void UnloadLibraries();

    // Reads a file into Probe() ahead of adding it; the probe stays on it (the caller closes it),
    // so that a front end can show more of the file before it adds it.
    TProbedInput ProbeInput(const TPathFileName& fileName);
    // The same into a probe of the caller's own, on any thread.
    static TProbedInput ProbeInput(TAVProbe& probe, const TPathFileName& fileName);
    // Adds a task for choices.InputFileName with the option records the choices give, its
    // output named outputFileName when given (a name chosen earlier), else as the choices name
    // it: checks the input and the output's folder but creates nothing and keeps no file open
    // (the task opens its files when it starts). A task whose output fails is deleted again.
    TAddedTask AddTask(const TOutputChoices& choices, const TPathFileName& outputFileName = {});
    // AddTask in two halves. The first reads the input and checks the output (as AddTask does)
    // without touching any component, so that a thread may wait on a slow input while the
    // front end goes on, or even closes; the second adds the task to the list.
    static TPreparedTask PrepareTask(const TOutputChoices& choices,
                                     const TPathFileName& outputFileName = {});
    TAddedTask AdoptTask(TPreparedTask prepared);

    // Creates a task and opens its input (SetTaskOutput closes it again until the task starts);
    // the new index, or -1 with LastErrorText (no task left). Options with an empty FileName
    // take fileName; the task reads the file the options name. Without options the defaults
    // apply.
    int AddTaskInput(const TPathFileName& fileName, const TInputOptions* options = nullptr);
    // Gives a task its output options and checks them as the start will, with the output's
    // folder (it exists and takes new files), but creates no file: the task creates its output
    // when it starts. False with LastErrorText (the task stays in the list; the caller deletes
    // it).
    bool SetTaskOutput(int index, const TPathFileName& fileName,
                       const TOutputOptions* options = nullptr);
    // Frees a task (stopping it first if it runs, letting it go while it opens its files as the
    // destructor does); later tasks move down one index. A run does not count tasks deleted
    // while it goes on: stop it first (the window refuses to delete during a run), or its
    // all-done event may not come.
    void DeleteTask(int index);
    // Frees every task (as DeleteTask does), clears LastErrorText and the thread mode.
    void ClearTaskList();

    // Runs every task that has not run yet (those of an earlier run are passed over): a thread
    // count of 0 converts them one after another on the calling thread and returns when all have
    // ended; above 0 runs them on worker threads, at most that many at once, and returns at once
    // (each task's worker opens its files: an input that does not answer holds that one alone).
    // OnTerminate reports each end, then -1 (no event when no task is left to run).
    // With moreToCome (worker threads only) the run also takes tasks added after it began, so
    // that a long batch need not hold every task's open files at once: see JoinAddedTasks.
    void StartTasks(int threadCount, bool moreToCome = false);
    // For a run started with moreToCome: the tasks added (with their outputs set) since the run
    // began or since the last call join it, each starting as soon as a worker is free. With
    // moreToCome false no more will come, and the run ends (-1) once its tasks have. Does
    // nothing after StopTasks, or for a run started without moreToCome.
    void JoinAddedTasks(bool moreToCome);
    // For a run started with moreToCome: how many tasks may still be added (at most), so that
    // the cores are shared among the tasks that can actually run at once (a single file gets
    // them all). Until told, every worker counts as busy.
    void AnnounceTasks(int toCome);
    // Makes a task that ended stopped or failed wait again, so that the next StartTasks runs it
    // again (opening its files afresh); false for any other task, and during the run that has
    // not counted its end yet.
    bool RunAgain(int index);
    // Frees a task that has ended (its engine and its threads) but keeps its place, so that no
    // index moves; Task(index) is nullptr from then on. Does nothing to a task whose end the run
    // has not counted yet (its OnTerminate comes first). A long run that takes tasks as it goes
    // thus holds none of those it has done.
    void ReleaseEndedTask(int index);
    // No further task starts; every task is asked to stop (running ones finish their output up
    // to this point, waiting ones report their end without converting). With wait, returns when
    // all have ended, serving main-thread hand-overs meanwhile, but for tasks still opening their
    // files (an input may never answer): those end without converting once the open returns.
    // Called from an OnProgress or OnTerminate handler that runs inside EventLock it does not
    // wait, whatever wait says: the ends it would wait for need that lock. The ends are then
    // reported after the handler returns.
    void StopTasks(bool wait);
    // Holds every running task between two packets; ResumeTasks lets them go on.
    void PauseTasks();
    void ResumeTasks();
    // Whether a long output's sound is encoded in pieces on the cores the tasks running at once
    // leave each task and the machine's other work leaves idle (on by default); read when a task
    // starts. A task given the engine's
    // `split` option keeps its count.
    void SetSplitEncoding(bool value) { SplitEncodingFlag = value; }
    // Where the pieces' count reads the machine's load (the kernel's run queue by default);
    // set before StartTasks.
    void SetRunQueueReading(TRunQueueReading reading) { RunQueue = std::move(reading); }

    // The probe a front end inspects files with before adding them.
    TAVProbe& Probe() { return *ProbeObject; }
    std::string LastErrorText() const;
    int TaskCount() const;
    // The task at an index (valid until it is deleted or released), or nullptr.
    TFFmpeg* Task(int index) const;
    // A copy of the task's result (teNotEnded for a released or unknown index). Safe from any
    // thread, handlers included: it reads the task inside EventLock.
    TTaskResult TaskResult(int index);
    bool ThreadMode() const { return ThreadModeFlag; }

    // Clears every event handler, waiting for a progress or terminate handler in progress.
    // Use this (not assignment) to detach handlers while tasks run.
    void DetachEvents();

protected:
    // ---- Properties (published by TFFmpegComponent) -------------------------------------------
    std::string GetVersion() const { return "2.5"; }
    // Also sets the flag on every task in the list.
    void SetPreview(bool value);
    void SetPreviewBitmap(bool value);
    // Milliseconds between progress events; values of 100 or less store 100.
    int GetProgressInterval() const { return ProgressIntervalMs; }
    void SetProgressInterval(int valueMs);
    void SetThreadPriority(TTaskPriority value) { Priority = value; }

    // Events: assign before StartTasks (see DetachEvents).
    TBeforeHookEvent OnBeforeHook;
    TCustomHookEvent OnCustomHook;
    TPreviewBitmapEvent OnPreviewBitmap;
    TProgressEvent OnProgress;
    TTerminateEvent OnTerminate;
    TStartEvent OnStart;

    // ---- Engine callbacks of each task ---------------------------------------------------------
    virtual void TaskBeforeHook(TFFmpeg& task, int64_t pts, TTaskHookAction& action);
    virtual void TaskCustomHook(TFFmpeg& task, TBitmap24& bitmap, int frameNumber, int64_t pts,
                                bool& update, bool& stopHook);
    virtual void TaskPreviewBitmap(TFFmpeg& task, TBitmap24& bitmap, int frameNumber, int64_t pts);
    virtual void TaskProgress(TFFmpeg& task, TProgressInfo progress);
    virtual void TaskTerminated(TFFmpeg& task);

    // Serialises progress and terminate handling of all tasks; re-entrant so that a task that
    // cannot start may report its end from inside StartNextTask on the same thread. Taken with
    // LockServingMainThread: a worker may hand a log line over while it holds the lock.
    std::recursive_mutex EventLock;
    // The thread running a handler inside EventLock; none outside handlers.
    std::atomic<std::thread::id> HandlerThread{};

private:
    void StartNextTask();
    // Starts waiting tasks while fewer than the run's thread count are running.
    void StartOnFreeWorkers();
    // Starts waiting tasks on free workers, or reports the run's end when nothing is left.
    void GoOn();
    bool EveryTaskEnded() const;
    int WaitingFrom(int index) const;
    void StartTask(TFFmpeg& task, int pieces);
    // Once the task's thread has opened its files: the start's event and the run's settings;
    // false when the run was stopped meanwhile.
    bool TaskFilesOpen(TFFmpeg& task, int pieces);
    // Opens the task's input and creates its output (see StartTask), touching nothing of the
    // component: hookOwner only goes into the hook handlers.
    static void OpenTaskFiles(TFFmpeg& task, TCustomFFmpegComponent* hookOwner);
    // Set the task's engine up afresh from its records, raising with the reason: a reset
    // engine with the input open; then, once the output is set, the output created (with
    // ocCheckOnly only checked that it could be).
    void OpenTaskInput(TFFmpeg& task);
    void SetUpTaskOutput(TFFmpeg& task, TOutputCreation creation);
    // The two above for any task, on any thread: the set-up alone afresh (the run's state and
    // the preview flags stay), the hook handlers calling hookOwner's (none when null: a check
    // never calls them).
    static void OpenInput(TFFmpeg& task);
    static void SetUpOutput(TFFmpeg& task, TOutputCreation creation,
                            TCustomFFmpegComponent* hookOwner);
    // The preview flags a task takes from the component's properties.
    uint8_t PreviewFlags() const;
    void ReportStart(TFFmpeg& task);
    // Call inside EventLock. The pieces a starting task encodes its sound in at once.
    int PiecesPerTask() const;
    void AllTasksEnded();
    void DeliverTerminate(int index, TTaskEnd end, const std::string& message);
    // Runs body as this thread's handler; call inside EventLock.
    template <typename TBody> void RunAsHandler(TBody body);
    void InstallTaskCallbacks(TFFmpeg& task);
    static void InstallHookMode(TFFmpeg& task, const TOutputOptions& record,
                                TCustomFFmpegComponent* owner);
    void SetLastError(const std::string& text);
    void SetTaskFlag(uint8_t bit, bool value);

    std::unique_ptr<TAVProbe> ProbeObject;
    std::unique_ptr<TFFmpegList> Tasks;
    std::unique_ptr<TTerminateDelivery> Delivery;

    mutable std::mutex ErrorLock; // guards LastError
    std::string LastError;

    std::atomic<bool> ThreadModeFlag{false};
    // The run's bookkeeping; changed only inside EventLock.
    int NextTaskIndex = -1;
    int TasksToStart = 0;
    int TasksEnded = 0;
    int TasksInRun = 0; // tasks not yet run when the run started, and those joined since
    int ThreadLimit = 0;
    bool MoreToCome = false;             // the run waits for JoinAddedTasks(false) before it ends
    int TasksToCome = -1;                // from AnnounceTasks; -1: not told
    std::atomic<bool> RunStopped{false}; // StopTasks was called since the run began

    std::atomic<bool> SplitEncodingFlag{true};
    TRunQueueReading RunQueue = OtherRunningThreads;
    std::atomic<bool> PreviewFlag{false};
    std::atomic<bool> PreviewBitmapFlag{false};
    std::atomic<int> ProgressIntervalMs{500};
    std::atomic<TTaskPriority> Priority{tpNormal};
};

// The component with its properties and events published.
class TFFmpegComponent : public TCustomFFmpegComponent {
public:
    using TCustomFFmpegComponent::GetProgressInterval;
    using TCustomFFmpegComponent::GetVersion;
    using TCustomFFmpegComponent::SetPreview;
    using TCustomFFmpegComponent::SetPreviewBitmap;
    using TCustomFFmpegComponent::SetProgressInterval;
    using TCustomFFmpegComponent::SetThreadPriority;

    using TCustomFFmpegComponent::OnBeforeHook;
    using TCustomFFmpegComponent::OnCustomHook;
    using TCustomFFmpegComponent::OnPreviewBitmap;
    using TCustomFFmpegComponent::OnProgress;
    using TCustomFFmpegComponent::OnStart;
    using TCustomFFmpegComponent::OnTerminate;
};

#endif
