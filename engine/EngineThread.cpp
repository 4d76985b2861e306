// The engine's threads and the run control of the engine: starting, pausing, resuming and
// stopping a run, the run's body and its end notification.
#include "engine/EngineThread.h"

#include "engine/FFmpeg.h"
#include "engine/TranscodeRun.h"
#include "ffbind/FFmpegLogger.h"
#include "ffbind/MainThread.h"

#include <pthread.h>
#include <sys/resource.h>
#include <unistd.h>

int NiceValue(TConvertPriority priority) {
    switch (priority) {
    case cpIdle:
        return 19;
    case cpLowest:
        return 10;
    case cpLower:
        return 5;
    default:
        return 0;
    }
}

TEngineThread::TEngineThread(std::string name, std::function<void()> body,
                             TConvertPriority priority)
    : Name(std::move(name)), Body(std::move(body)), Priority(priority) {}

TEngineThread::~TEngineThread() {
    Join();
}

void TEngineThread::Start() {
    if (StartedFlag.exchange(true))
        return;
    // The thread keeps its own copies: a thread detached from a destroyed owner (one that
    // released itself from its own body) touches nothing of the owner afterwards.
    Thread = std::thread([name = Name, body = Body, priority = Priority, done = DoneFlag] {
        // Linux thread names are at most 15 characters.
        pthread_setname_np(pthread_self(), name.substr(0, 15).c_str());
        // A fresh thread per run: raising the nice value needs no privilege, lowering it would.
        const int nice = NiceValue(priority);
        if (nice != 0)
            setpriority(PRIO_PROCESS, static_cast<id_t>(gettid()), nice);
        body();
        *done = true;
    });
}

bool TEngineThread::IsCurrent() const {
    return Thread.get_id() == std::this_thread::get_id();
}

void TEngineThread::Join() {
    if (!Thread.joinable())
        return;
    if (IsCurrent()) {
        Thread.detach();
        return;
    }
    // The body may still hand log lines to the main thread while it finishes.
    WaitServingMainThread([this] { return DoneFlag->load(); });
    Thread.join();
}

TConvertThread::TConvertThread(TCustomFFmpeg& engine, TConvertPriority priority)
    : TEngineThread(
          "sp-convert", [&engine] { engine.Run(); }, priority) {}

void TPauseGate::Close() {
    std::lock_guard<std::mutex> guard(Lock);
    Closed = true;
}

void TPauseGate::Open() {
    {
        std::lock_guard<std::mutex> guard(Lock);
        Closed = false;
    }
    Signal.notify_all();
}

void TPauseGate::Wake() {
    { std::lock_guard<std::mutex> guard(Lock); }
    Signal.notify_all();
}

// ---- Run control of the engine ---------------------------------------------------------------

void TCustomFFmpeg::InitRunDefaults() {
    // A finished run's threads are joined before the engine is used again.
    ReleaseRunThreads();
    ConvertThread = nullptr;
    TerminatePending = false;
    PauseGate.Open();
    CurrentRun.reset();
}

void TCustomFFmpeg::ReleaseRunThreads() {
    if (Worker && !Worker->IsCurrent()) {
        Worker->Join();
        Worker.reset();
    }
    if (TerminateThread && !TerminateThread->IsCurrent()) {
        TerminateThread->Join();
        TerminateThread.reset();
    }
}

TConvertThread* TCustomFFmpeg::StartConvert(TConvertThreading Threading,
                                            TConvertPriority Priority) {
    if (Running || Terminated)
        return nullptr;
    const char* refusal = nullptr;
    if (OutputFileCount() <= 0)
        refusal = "At least one output file must be specified";
    else if (InputFileCount() == 0)
        refusal = "At least one input file must be specified";
    if (refusal) {
        Refuse(refusal);
        return nullptr;
    }
    Running = true;
    StopRequested = false;
    Finished = false;
    WarningMessage.clear();
    WarningSummary.clear();
    Terminated = false;
    PauseGate.Open();
    if (Threading == ctCallerThread) {
        Run();
        return nullptr;
    }
    ReleaseRunThreads();
    Worker = std::make_unique<TConvertThread>(*this, Priority);
    ConvertThread = Worker.get();
    return Worker.get();
}

void TCustomFFmpeg::Refuse(const std::string& Reason) {
    CloseAll();
    GetLogger()->Log(this, llQuiet, Reason);
    ErrorOccurred = true;
    ErrorMessage = Reason;
    DoTerminate();
}

void TCustomFFmpeg::Pause() {
    if (ConvertThread)
        PauseGate.Close();
}

void TCustomFFmpeg::Resume() {
    TConvertThread* thread = ConvertThread;
    if (!thread)
        return;
    PauseGate.Open();
    // A worker created but never started counts as suspended.
    thread->Start();
}

void TCustomFFmpeg::HoldWhilePaused() {
    PauseGate.Pass([this] { return StopRequested.load(); });
}

bool TCustomFFmpeg::Paused() const {
    return PauseGate.Holding();
}

void TCustomFFmpeg::RequestStop(TStopWait Wait) {
    StopRequested = true;
    PauseGate.Wake();
    if (TConvertThread* thread = ConvertThread)
        thread->Start(); // a worker never started must still run to its end notification
    if (Wait == swWaitForEnd)
        ReleaseRunThreads();
}

void TCustomFFmpeg::Stop(TStopWait Wait) {
    if (Running) {
        RequestStop(Wait);
        return;
    }
    if (!Terminated && !TerminatePending) {
        TerminatePending = true;
        ReleaseRunThreads();
        TerminateThread =
            std::make_unique<TEngineThread>("sp-terminate", [this] { DoTerminate(); });
        TerminateThread->Start();
    }
    if (Wait == swWaitForEnd)
        ReleaseRunThreads();
}

void TCustomFFmpeg::Run() {
    Finished = false;
    try {
        CurrentRun = std::make_unique<TTranscodeRun>(*this);
        if (!BeforeTranscode || BeforeTranscode()) {
            Finished = TranscodeOrSoundAlone();
            if (Finished && AfterTranscode)
                AfterTranscode();
        }
    } catch (const std::exception& error) {
        GetLogger()->Log(this, llQuiet, error.what());
        ErrorMessage = error.what();
        ErrorOccurred = true;
    }
    // The run's codecs close before CloseAll frees their contexts and the files they wrote to.
    CurrentRun.reset();
    CloseAll();
    // Finished and failed exclude each other: a run can still fail while its outputs close.
    if (ErrorOccurred)
        Finished = false;
    DoTerminate();
}

void TCustomFFmpeg::DoTerminate() {
    Running = false;
    Terminated = true;
    ConvertThread = nullptr;
    if (OnTerminate)
        OnTerminate(this);
}
