// The conversion component: task creation, the run over the task list and the events by index.
#include "component/FFmpegComponent.h"

#include "component/FFmpegList.h"
#include "component/FFmpegTask.h"
#include "component/OutputAssembly.h"
#include "component/PieceBudget.h"
#include "component/TerminateDelivery.h"
#include "engine/EngineThread.h"
#include "engine/VideoHooks.h"
#include "ffbind/FFUtils.h"
#include "ffbind/FFmpegLoader.h"
#include "ffbind/MainThread.h"
#include "ffbind/TextUtils.h"
#include "probe/AVProbe.h"

#include <malloc.h>

static_assert(static_cast<int>(tpIdle) == cpIdle && static_cast<int>(tpNormal) == cpNormal,
              "the component's priorities follow the engine's");
static_assert(static_cast<int>(thContinue) == haContinue && static_cast<int>(thStop) == haStop,
              "the component's hook actions follow the engine's");

namespace {

constexpr uint8_t PreviewBit = 1;       // the engine's own preview display
constexpr uint8_t PreviewBitmapBit = 2; // preview pictures through OnPreviewBitmap
constexpr int MinProgressIntervalMs = 100;
constexpr int Verbosity = 1;

// A task converts once: one that has run (finished, stopped or failed) is not started again
// unless RunAgain makes it wait again.
bool NotYetRun(const TFFmpeg& task) {
    return !task.Running && !task.Terminated;
}

// Whether any input of the task has a sound stream.
bool HasSound(const TFFmpeg& task) {
    for (const AVFormatContext* input : task.InputFiles)
        for (unsigned i = 0; i < input->nb_streams; ++i)
            if (input->streams[i]->codecpar->codec_type == AVMEDIA_TYPE_AUDIO)
                return true;
    return false;
}

// Frees a task taken out of the list. One still opening its files is let go instead: its own
// thread frees it once the open returns, so that nothing waits for an input that may never
// answer (a share that hangs, a pipe no one writes to).
void FreeTask(TTaskPtr task) {
    if (task && task->LetGoWhileOpening(task))
        return;
    task.reset();
}

std::vector<THookTimeRange> HookRanges(const std::vector<THookPeriodUs>& periods) {
    std::vector<THookTimeRange> ranges;
    for (const auto& [startUs, endUs] : periods)
        ranges.push_back({startUs, endUs});
    return ranges;
}

} // namespace

TCustomFFmpegComponent::TCustomFFmpegComponent()
    : ProbeObject(std::make_unique<TAVProbe>()), Tasks(std::make_unique<TFFmpegList>()),
      Delivery(std::make_unique<TTerminateDelivery>()) {}

TCustomFFmpegComponent::~TCustomFFmpegComponent() {
    // A handler in progress finishes first; no handler runs on a half-destroyed owner.
    DetachEvents();
    {
        auto guard = LockServingMainThread(EventLock);
        TasksToStart = 0;
    }
    // Each task is stopped and waited for as it is freed, but for one still opening its files.
    for (TTaskPtr& task : Tasks->ExtractAll())
        FreeTask(std::move(task));
    Delivery.reset();
    ProbeObject.reset();
}

// ---- Libraries ----------------------------------------------------------------------------------

std::string LoadComponentLibraries(const TPathFileName& folder) {
    TFFmpegLoader& loader = Loader();
    loader.SetLibraryPath(folder);
    return loader.LoadLibs(DefaultLibraries) ? std::string() : loader.GetLastErrorMessage();
}

bool TCustomFFmpegComponent::LoadLibraries(const TPathFileName& folder) {
    const std::string error = LoadComponentLibraries(folder);
    if (!error.empty())
        SetLastError(error);
    return error.empty();
}

void TCustomFFmpegComponent::UnloadLibraries() {
    Loader().UnloadLibs(DefaultLibraries);
}

// ---- Tasks --------------------------------------------------------------------------------------

std::string NoSoundText(const std::string& shownName) {
    return shownName + " has no sound to extract.";
}

TProbedInput TCustomFFmpegComponent::ProbeInput(const TPathFileName& fileName) {
    return ProbeInput(*ProbeObject, fileName);
}

TProbedInput TCustomFFmpegComponent::ProbeInput(TAVProbe& probe, const TPathFileName& fileName) {
    TProbedInput probed;
    if (!probe.LoadFile(fileName)) {
        probed.ErrorText = "***File load error: " + OneLineText(probe.LastError());
        return probed;
    }
    TFileStreamInfo info;
    probe.GetFileStreamInfo(info);
    probed.HasSound = probe.AudioStreamCount() > 0;
    probed.HasCover = probe.CoverStreamCount() > 0;
    probed.DurationUs = info.Duration;
    probed.FormatName = probe.ForcedFormatName();
    probed.AudioTracks = AudioTracksOf(*probe.FormatContext());
    probed.Chapters = ChaptersOf(*probe.FormatContext());
    const TAudioTrack* converted = DefaultAudioTrack(probed.AudioTracks);
    probed.AudioCodec = converted ? converted->Codec : "";
    const AVFormatContext& context = *probe.FormatContext();
    if (converted) {
        const int64_t own = context.streams[converted->StreamIndex]->codecpar->bit_rate;
        probed.AudioBitRateBps = own > 0 ? own : context.nb_streams == 1 ? context.bit_rate : 0;
    }
    return probed;
}

TAddedTask TCustomFFmpegComponent::AddTask(const TOutputChoices& choices,
                                           const TPathFileName& outputFileName) {
    return AdoptTask(PrepareTask(choices, outputFileName));
}

TPreparedTask TCustomFFmpegComponent::PrepareTask(const TOutputChoices& choices,
                                                  const TPathFileName& outputFileName) {
    TPreparedTask prepared;
    TAddedTask& added = prepared.Added;
    auto task = std::make_shared<TFFmpeg>();
    task->InputOptions = BuildInputOptions(choices);
    task->InputRecordGiven = true;
    try {
        if (!Loader().LibsLoaded(DefaultLibraries))
            throw FFmpegException("The FFmpeg libraries are not loaded");
        OpenInput(*task); // the start sets the preview flags the component has then
    } catch (const std::exception& error) {
        added.ErrorText = "***File open error: " + OneLineText(error.what());
        return prepared;
    }
    try {
        task->OutputOptions = BuildOutputOptions(choices, outputFileName);
        task->OutputSetting = osRecord;
        SetUpOutput(*task, ocCheckOnly, nullptr);
        task->ReleaseFiles();
    } catch (const std::exception& error) {
        added.ErrorText = "***Cannot do convert, error: " + OneLineText(error.what());
        return prepared;
    }
    added.OutputFileName = task->OutputOptions.FileName;
    const int64_t clipMs = task->OutputOptions.DurationMs;
    added.LengthMs = clipMs > 0 ? clipMs : choices.InputDurationUs / 1000;
    prepared.Task = std::move(task);
    return prepared;
}

TAddedTask TCustomFFmpegComponent::AdoptTask(TPreparedTask prepared) {
    if (!prepared.Task) {
        SetLastError(prepared.Added.ErrorText);
        return prepared.Added;
    }
    TFFmpeg& task = *prepared.Task;
    task.OnPreviewBitmap = [this](TCustomFFmpeg* sender, TBitmap24& bitmap, int frameNumber,
                                  int64_t pts) {
        TaskPreviewBitmap(static_cast<TFFmpeg&>(*sender), bitmap, frameNumber, pts);
    };
    InstallTaskCallbacks(task);
    prepared.Added.Index = Tasks->Add(std::move(prepared.Task));
    return prepared.Added;
}

int TCustomFFmpegComponent::AddTaskInput(const TPathFileName& fileName,
                                         const TInputOptions* options) {
    if (!Loader().LibsLoaded(DefaultLibraries)) {
        SetLastError("The FFmpeg libraries are not loaded");
        return -1;
    }
    try {
        auto task = std::make_shared<TFFmpeg>();
        task->OnPreviewBitmap = [this](TCustomFFmpeg* sender, TBitmap24& bitmap, int frameNumber,
                                       int64_t pts) {
            TaskPreviewBitmap(static_cast<TFFmpeg&>(*sender), bitmap, frameNumber, pts);
        };
        if (options) {
            task->InputOptions = *options;
            task->InputRecordGiven = true;
        }
        if (task->InputOptions.FileName.empty())
            task->InputOptions.FileName = fileName;
        // The input stays open for SetTaskOutput's check, which closes it until the start.
        OpenTaskInput(*task);
        InstallTaskCallbacks(*task);
        return Tasks->Add(std::move(task));
    } catch (const std::exception& error) {
        SetLastError(error.what());
        return -1;
    }
}

bool TCustomFFmpegComponent::SetTaskOutput(int index, const TPathFileName& fileName,
                                           const TOutputOptions* options) {
    TTaskPtr task = Tasks->Get(index);
    if (!task) {
        SetLastError("List index out of bounds (" + std::to_string(index) + ")");
        return false;
    }
    try {
        task->OutputOptions = options ? *options : TOutputOptions();
        task->OutputOptions.FileName = fileName;
        task->OutputSetting = options ? osRecord : osDefaults;
        // Everything is checked as the start will do it, but the output is not created yet.
        if (task->InputFileCount() == 0)
            OpenTaskInput(*task);
        SetUpTaskOutput(*task, ocCheckOnly);
        task->ReleaseFiles();
        return true;
    } catch (const std::exception& error) {
        task->ReleaseFiles();
        task->OutputSetting = osNotSet;
        SetLastError(error.what());
        return false;
    }
}

void TCustomFFmpegComponent::OpenTaskInput(TFFmpeg& task) {
    task.Reset();
    task.PreviewFlags = PreviewFlags();
    OpenInput(task);
}

uint8_t TCustomFFmpegComponent::PreviewFlags() const {
    return static_cast<uint8_t>((PreviewFlag ? PreviewBit : 0) |
                                (PreviewBitmapFlag ? PreviewBitmapBit : 0));
}

void TCustomFFmpegComponent::OpenInput(TFFmpeg& task) {
    task.ResetSetUp();
    task.Options().SetVerbose(Verbosity);
    if (task.InputRecordGiven)
        task.ApplyInputOptions(task.InputOptions);
    if (!task.OpenInputFile(task.InputOptions.FileName))
        throw FFmpegException(task.LastError);
    task.AttachProbe();
}

void TCustomFFmpegComponent::SetUpTaskOutput(TFFmpeg& task, TOutputCreation creation) {
    SetUpOutput(task, creation, this);
}

void TCustomFFmpegComponent::SetUpOutput(TFFmpeg& task, TOutputCreation creation,
                                         TCustomFFmpegComponent* hookOwner) {
    if (task.OutputSetting == osNotSet)
        return;
    TOutputOptions& record = task.OutputOptions;
    if (task.OutputSetting == osRecord) {
        task.ApplyOutputOptions(record);
        InstallHookMode(task, record, hookOwner);
    }
    if (!record.NoAudio && !HasSound(task))
        throw FFmpegException(NoSoundText(task.InputFileName(0).string()));
    // A task run again replaces what its own stopped run left, the sound of a new stop too;
    // another file that took that name meanwhile is numbered around as ever.
    const bool ownEarlier = creation == ocCreate && task.LeftEarlier(record.FileName);
    task.Options().ReplaceExistingOutputs = record.Overwrite || ownEarlier;
    task.Options().StoppedRunReplaces = ownEarlier;
    task.OutputFoldersFrom = record.FoldersFrom;
    task.OutputCreation = creation;
    const int outputs = task.OpenOutputFile(record.FileName, record.Join ? ojJoin : ojSeparate);
    if (outputs < 0)
        throw FFmpegException(task.LastError);
    record.FileName = task.OutputFileSetup(outputs - 1).FileName;
    if (task.OutputSetting == osRecord)
        task.ApplyExtraOptions(record.ExtraOptions, eoNewStream);
    if (record.LoudnessTargetLufs) {
        TFFmpeg* measured = &task;
        const double target = *record.LoudnessTargetLufs;
        task.BeforeTranscode = [measured, target] { return measured->NormalizeLoudness(target); };
        task.AfterTranscode = [measured] { measured->CheckWrittenLoudness(); };
    }
}

void TCustomFFmpegComponent::OpenTaskFiles(TFFmpeg& task, TCustomFFmpegComponent* hookOwner) {
    for (;;) {
        OpenInput(task);
        try {
            SetUpOutput(task, ocCreate, hookOwner);
            return;
        } catch (const FFmpegException&) {
            // The engine never renames: a name taken since the task was named gives way here,
            // to the next free one of its numbered forms, and the set-up starts over.
            TOutputOptions& record = task.OutputOptions;
            std::error_code error;
            const bool taken =
                record.NumberedName && !record.Overwrite &&
                std::filesystem::exists(std::filesystem::symlink_status(record.FileName, error));
            TPathFileName next =
                taken ? NextFreeOutputName(record.FileName, record.NameSuffix) : TPathFileName();
            if (next.empty())
                throw;
            record.FileName = std::move(next);
        }
    }
}

void TCustomFFmpegComponent::DeleteTask(int index) {
    // Freed outside the list's lock: a running task reports its end while it is stopped.
    FreeTask(Tasks->Extract(index));
}

void TCustomFFmpegComponent::ClearTaskList() {
    for (TTaskPtr& task : Tasks->ExtractAll())
        FreeTask(std::move(task));
    SetLastError("");
    ThreadModeFlag = false;
}

int TCustomFFmpegComponent::TaskCount() const {
    return Tasks->Count();
}

TFFmpeg* TCustomFFmpegComponent::Task(int index) const {
    return Tasks->Get(index).get();
}

TTaskResult TCustomFFmpegComponent::TaskResult(int index) {
    // The task's run writes its results before it reports its end, which takes this lock.
    auto guard = LockServingMainThread(EventLock);
    const TTaskPtr task = Tasks->Get(index);
    return task ? ResultOf(*task) : TTaskResult();
}

std::string TCustomFFmpegComponent::LastErrorText() const {
    std::lock_guard<std::mutex> guard(ErrorLock);
    return LastError;
}

void TCustomFFmpegComponent::SetLastError(const std::string& text) {
    std::lock_guard<std::mutex> guard(ErrorLock);
    LastError = text;
}

void TCustomFFmpegComponent::InstallTaskCallbacks(TFFmpeg& task) {
    task.OnProgress = [this](TCustomFFmpeg* sender, const TProgressInfo& progress) {
        TaskProgress(static_cast<TFFmpeg&>(*sender), progress);
    };
    task.OnTerminate = [this](TCustomFFmpeg* sender) {
        TaskTerminated(static_cast<TFFmpeg&>(*sender));
    };
}

// Custom hook, else before-hook, else the periods in which hooks act. Without an owner the
// handlers are left out: only a check runs such a task, and it calls none.
void TCustomFFmpegComponent::InstallHookMode(TFFmpeg& task, const TOutputOptions& record,
                                             TCustomFFmpegComponent* owner) {
    if (record.CustomHook) {
        if (owner)
            task.OnCustomHook = [owner](TCustomFFmpeg* sender, TBitmap24& bitmap, int frameNumber,
                                        int64_t pts, bool& update, bool& stopHook) {
                owner->TaskCustomHook(static_cast<TFFmpeg&>(*sender), bitmap, frameNumber, pts,
                                      update, stopHook);
            };
    } else if (record.BeforeHook) {
        if (owner)
            task.OnBeforeHook = [owner](TCustomFFmpeg* sender, int64_t pts, THookAction& action) {
                TTaskHookAction answer = static_cast<TTaskHookAction>(action);
                owner->TaskBeforeHook(static_cast<TFFmpeg&>(*sender), pts, answer);
                action = static_cast<THookAction>(answer);
            };
    } else {
        task.Options().SetHookTimeRanges(HookRanges(ParseHookPTSPeriods(record.HookPTSPeriods)));
    }
}

// ---- Run ----------------------------------------------------------------------------------------

void TCustomFFmpegComponent::StartTasks(int threadCount, bool moreToCome) {
    {
        auto guard = LockServingMainThread(EventLock);
        RunStopped = false;
        NextTaskIndex = 0;
        TasksEnded = 0;
        ThreadModeFlag = threadCount > 0;
        ThreadLimit = threadCount;
        MoreToCome = moreToCome && ThreadModeFlag;
        TasksToCome = -1;
        TasksToStart = WaitingFrom(0);
        TasksInRun = TasksToStart;
        if (ThreadModeFlag) {
            StartOnFreeWorkers();
            return;
        }
    }
    while (true) {
        {
            auto guard = LockServingMainThread(EventLock);
            if (TasksToStart <= 0)
                return;
        }
        StartNextTask();
    }
}

void TCustomFFmpegComponent::StartNextTask() {
    TTaskPtr task;
    int pieces = 0;
    {
        auto guard = LockServingMainThread(EventLock);
        if (TasksToStart <= 0)
            return;
        --TasksToStart;
        // Tasks of an earlier run keep their place in the list but are passed over, and so are
        // the empty slots of released ones.
        for (const int count = Tasks->Count(); NextTaskIndex < count;) {
            task = Tasks->Get(NextTaskIndex++);
            if (task && NotYetRun(*task))
                break;
            task = nullptr;
        }
        pieces = PiecesPerTask();
    }
    if (task)
        StartTask(*task, pieces);
}

int TCustomFFmpegComponent::PiecesPerTask() const {
    if (!SplitEncodingFlag)
        return 0;
    const int cores = UsableCores();
    const int budget = !ThreadModeFlag ? cores
                                       : TaskPieceBudget(cores, ThreadLimit,
                                                         {.NotEnded = TasksInRun - TasksEnded,
                                                          .ToCome = MoreToCome ? TasksToCome : 0});
    // Read only when it can change the count: a batch with a task per core skips it.
    return budget > 1 ? PiecesOnIdleCores(budget, cores, RunQueue()) : budget;
}

void TCustomFFmpegComponent::AnnounceTasks(int toCome) {
    auto guard = LockServingMainThread(EventLock);
    TasksToCome = std::max(toCome, 0);
}

void TCustomFFmpegComponent::JoinAddedTasks(bool moreToCome) {
    auto guard = LockServingMainThread(EventLock);
    if (!MoreToCome)
        return;
    MoreToCome = moreToCome;
    const int waiting = WaitingFrom(NextTaskIndex);
    TasksInRun += waiting - TasksToStart;
    TasksToStart = waiting;
    GoOn();
}

// Call inside EventLock. Tasks that cannot start end at once and free their worker again.
void TCustomFFmpegComponent::StartOnFreeWorkers() {
    while (TasksToStart > 0 && TasksInRun - TasksToStart - TasksEnded < ThreadLimit)
        StartNextTask();
}

// Call inside EventLock. Never both: a task that ends before its start returns reports the run's
// end itself when it is the last.
void TCustomFFmpegComponent::GoOn() {
    if (TasksToStart > 0)
        StartOnFreeWorkers();
    else if (EveryTaskEnded())
        AllTasksEnded();
}

// Call inside EventLock. The tasks from an index on that have not run yet.
int TCustomFFmpegComponent::WaitingFrom(int index) const {
    int waiting = 0;
    for (const int count = Tasks->Count(); index < count; ++index) {
        const TTaskPtr task = Tasks->Get(index);
        waiting += task && NotYetRun(*task) ? 1 : 0;
    }
    return waiting;
}

// Call inside EventLock.
bool TCustomFFmpegComponent::EveryTaskEnded() const {
    return !MoreToCome && TasksToStart <= 0 && TasksEnded >= TasksInRun;
}

bool TCustomFFmpegComponent::RunAgain(int index) {
    auto guard = LockServingMainThread(EventLock);
    const TTaskPtr task = Tasks->Get(index);
    if (!task || !task->EndCounted || task->Finished)
        return false;
    task->ForgetRun();
    return true;
}

void TCustomFFmpegComponent::ReleaseEndedTask(int index) {
    // Freed outside the list's lock; the engine's destructor joins the finished threads.
    TTaskPtr task = Tasks->ReleaseEnded(index);
    if (!task)
        return;
    task.reset();
    // The task's threads (a video encoder's and decoder's many) leave what they freed in the
    // allocator's per-thread arenas, which keep it for ever: hand it back to the system.
    malloc_trim(0);
}

void TCustomFFmpegComponent::StartTask(TFFmpeg& task, int pieces) {
    // The task's files are opened on the thread that converts it (the caller's with a thread
    // count of 0), so that an input that does not answer holds neither the caller nor EventLock:
    // the output is created (exclusively, numbered on when its name was taken meanwhile) and its
    // folder, gone or closed since the task was added, fails the task with the reason. The open
    // touches nothing of the component, which may let the task go meanwhile (see FreeTask).
    task.OpenFiles = [&task, previewFlags = PreviewFlags(), hookOwner = this] {
        {
            auto guard = LockServingMainThread(PreviewLock());
            task.PreviewFlags = previewFlags;
        }
        OpenTaskFiles(task, hookOwner);
    };
    task.OnFilesOpen = [this, &task, pieces] { return TaskFilesOpen(task, pieces); };
    // A task that cannot start has reported its end before StartConvert returns.
    TServedThread* worker = task.StartConvert(ThreadModeFlag ? ctWorkerThread : ctCallerThread,
                                              static_cast<TConvertPriority>(Priority.load()));
    if (worker)
        worker->Start();
}

bool TCustomFFmpegComponent::TaskFilesOpen(TFFmpeg& task, int pieces) {
    task.NoteCreatedOutput();
    ReportStart(task);
    // A stop asked for by the start's handler: the task ends without running, and its output
    // goes again.
    if (RunStopped)
        return false;
    task.ProgressIntervalUs = static_cast<int64_t>(ProgressIntervalMs) * 1000;
    // A task's own `split` option wins over the budget.
    if (!SplitEncodingFlag)
        task.Options().SplitPieces = 0;
    else if (task.Options().SplitPieces == 0)
        task.Options().SplitPieces = pieces;
    return true;
}

void TCustomFFmpegComponent::StopTasks(bool wait) {
    {
        auto guard = LockServingMainThread(EventLock);
        TasksToStart = 0;
        RunStopped = true;
        // A run waiting for more tasks with none left to end reports its end here.
        const bool waitingForMore = MoreToCome;
        MoreToCome = false;
        if (waitingForMore && EveryTaskEnded())
            AllTasksEnded();
    }
    // A handler would wait for ends that need the lock it holds.
    if (HandlerThread == std::this_thread::get_id())
        wait = false;
    // Nor does a stop wait for a task still opening its files, whose input may never answer: it
    // ends, stopped, once its open returns.
    for (const TTaskPtr& task : Tasks->Snapshot())
        task->Stop(wait && !task->OpeningFiles() ? swWaitForEnd : swNoWait);
}

void TCustomFFmpegComponent::PauseTasks() {
    for (const TTaskPtr& task : Tasks->Snapshot())
        task->Pause();
}

void TCustomFFmpegComponent::ResumeTasks() {
    for (const TTaskPtr& task : Tasks->Snapshot())
        task->Resume();
}

// ---- Engine callbacks ---------------------------------------------------------------------------

template <typename TBody> void TCustomFFmpegComponent::RunAsHandler(TBody body) {
    // Nested: a task that cannot start reports its end inside another task's end.
    const std::thread::id outer = HandlerThread.exchange(std::this_thread::get_id());
    body();
    HandlerThread = outer;
}

void TCustomFFmpegComponent::TaskTerminated(TFFmpeg& task) {
    auto guard = LockServingMainThread(EventLock);
    const int index = task.Index;
    // A task taken out of the list (deleted while it ran) no longer belongs to the run.
    if (index < 0)
        return;
    task.SettleCreatedOutput();
    RunAsHandler([&] {
        if (OnTerminate)
            DeliverTerminate(index, EndOf(task), OneLineText(task.ErrorMessage));
        ++TasksEnded;
        task.EndCounted = true;
        GoOn(); // with no worker threads the starting loop goes on by itself
    });
}

void TCustomFFmpegComponent::ReportStart(TFFmpeg& task) {
    auto guard = LockServingMainThread(EventLock);
    if (OnStart)
        RunAsHandler([&] { OnStart(task.Index, task.OutputOptions.FileName); });
}

void TCustomFFmpegComponent::AllTasksEnded() {
    if (OnTerminate)
        DeliverTerminate(-1, teFinished, "");
}

// Call inside EventLock. In thread mode the handler runs on the delivery thread, after every
// event posted before it; the handler is read when the event is delivered, so DetachEvents
// also silences events already on their way.
void TCustomFFmpegComponent::DeliverTerminate(int index, TTaskEnd end, const std::string& message) {
    if (!ThreadModeFlag) {
        OnTerminate(index, end, message);
        return;
    }
    Delivery->Post([this, index, end, message] {
        TTerminateEvent handler;
        {
            auto guard = LockServingMainThread(EventLock);
            handler = OnTerminate;
        }
        if (handler)
            handler(index, end, message);
    });
}

void TCustomFFmpegComponent::TaskProgress(TFFmpeg& task, TProgressInfo progress) {
    // With a first pass before it, the conversion fills the second half of the progress.
    if (task.InSecondPass() && progress.TotalDurationMs > 0)
        progress.CurrentDurationMs = progress.TotalDurationMs / 2 + progress.CurrentDurationMs / 2;
    auto guard = LockServingMainThread(EventLock);
    if (OnProgress)
        RunAsHandler([&] { OnProgress(task.Index, progress); });
}

void TCustomFFmpegComponent::TaskBeforeHook(TFFmpeg& task, int64_t pts, TTaskHookAction& action) {
    TBeforeHookEvent handler;
    {
        auto guard = LockServingMainThread(EventLock);
        handler = OnBeforeHook;
    }
    if (handler)
        handler(task.Index, pts, action);
}

void TCustomFFmpegComponent::TaskCustomHook(TFFmpeg& task, TBitmap24& bitmap, int frameNumber,
                                            int64_t pts, bool& update, bool& stopHook) {
    TCustomHookEvent handler;
    {
        auto guard = LockServingMainThread(EventLock);
        handler = OnCustomHook;
    }
    if (handler)
        handler(task.Index, bitmap, frameNumber, pts, update, stopHook);
}

void TCustomFFmpegComponent::TaskPreviewBitmap(TFFmpeg& task, TBitmap24& bitmap, int frameNumber,
                                               int64_t pts) {
    TPreviewBitmapEvent handler;
    {
        auto guard = LockServingMainThread(EventLock);
        handler = OnPreviewBitmap;
    }
    if (!handler)
        return;
    const int index = task.Index;
    // The worker waits while the main thread shows the picture.
    Synchronize([&] { handler(index, bitmap, frameNumber, pts); });
}

void TCustomFFmpegComponent::DetachEvents() {
    auto guard = LockServingMainThread(EventLock);
    OnBeforeHook = nullptr;
    OnCustomHook = nullptr;
    OnPreviewBitmap = nullptr;
    OnProgress = nullptr;
    OnTerminate = nullptr;
    OnStart = nullptr;
}

// ---- Properties ---------------------------------------------------------------------------------

void TCustomFFmpegComponent::SetPreview(bool value) {
    PreviewFlag = value;
    SetTaskFlag(PreviewBit, value);
}

void TCustomFFmpegComponent::SetPreviewBitmap(bool value) {
    PreviewBitmapFlag = value;
    SetTaskFlag(PreviewBitmapBit, value);
}

void TCustomFFmpegComponent::SetTaskFlag(uint8_t bit, bool value) {
    // A running task changes its flags under the preview lock while it hands a picture to the
    // main thread, so this thread waits for the lock serving hand-overs.
    std::unique_lock<std::mutex> previewGuard = LockServingMainThread(PreviewLock());
    for (const TTaskPtr& task : Tasks->Snapshot())
        task->PreviewFlags =
            static_cast<uint8_t>(value ? (task->PreviewFlags | bit) : (task->PreviewFlags & ~bit));
}

void TCustomFFmpegComponent::SetProgressInterval(int valueMs) {
    ProgressIntervalMs = valueMs <= MinProgressIntervalMs ? MinProgressIntervalMs : valueMs;
}
