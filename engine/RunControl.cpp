// The run control of the engine: starting, pausing, resuming and stopping a run, the run's body
// and its end notification.
#include "engine/FFmpeg.h"
#include "engine/TranscodeRun.h"
#include "ffbind/FFmpegLogger.h"

#include <exception>
#include <iterator>

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

TServedThread* TCustomFFmpeg::StartConvert(TConvertThreading Threading, TConvertPriority Priority) {
    if (Running || Terminated)
        return nullptr;
    if (const char* refusal = OpenFiles ? nullptr : FilesRefusal()) {
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
    {
        std::lock_guard<std::mutex> guard(OpeningLock);
        Opening = OpenFiles != nullptr;
    }
    if (Threading == ctCallerThread) {
        Run();
        return nullptr;
    }
    ReleaseRunThreads();
    Worker = std::make_unique<TServedThread>(
        "sp-convert",
        [this] {
            Run();
            // Last: an engine let go of is freed here, which touches nothing of it afterwards.
            TakeLetGo();
        },
        NiceValue(Priority));
    ConvertThread = Worker.get();
    return Worker.get();
}

const char* TCustomFFmpeg::FilesRefusal() const {
    if (OutputFileCount() <= 0)
        return "At least one output file must be specified";
    if (InputFileCount() == 0)
        return "At least one input file must be specified";
    return nullptr;
}

bool TCustomFFmpeg::OpenRunFiles() {
    if (OpenFiles) {
        std::exception_ptr failure;
        try {
            if (!StopRequested)
                OpenFiles();
        } catch (...) {
            failure = std::current_exception();
        }
        // A stop that came while they opened wins over whatever the open met.
        if (!EndOpening() || StopRequested)
            return false;
        if (failure)
            std::rethrow_exception(failure);
        if (OnFilesOpen && !OnFilesOpen())
            return false;
    }
    if (const char* refusal = FilesRefusal())
        throw FFmpegException(refusal);
    return true;
}

bool TCustomFFmpeg::EndOpening() {
    std::lock_guard<std::mutex> guard(OpeningLock);
    Opening = false;
    if (!LetGo)
        return true;
    // The owner is gone or going: nothing of it may be called any more.
    OnFilesOpen = nullptr;
    BeforeTranscode = nullptr;
    AfterTranscode = nullptr;
    OnProgress = nullptr;
    OnTerminate = nullptr;
    OnBeforeHook = nullptr;
    OnCustomHook = nullptr;
    OnPreviewBitmap = nullptr;
    return false;
}

bool TCustomFFmpeg::LetGoWhileOpening(std::shared_ptr<TCustomFFmpeg> self) {
    std::lock_guard<std::mutex> guard(OpeningLock);
    if (!Opening)
        return false;
    LetGo = std::move(self);
    return true;
}

bool TCustomFFmpeg::OpeningFiles() const {
    std::lock_guard<std::mutex> guard(OpeningLock);
    return Opening;
}

std::shared_ptr<TCustomFFmpeg> TCustomFFmpeg::TakeLetGo() {
    std::lock_guard<std::mutex> guard(OpeningLock);
    return std::move(LetGo);
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
    TServedThread* thread = ConvertThread;
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
    if (TServedThread* thread = ConvertThread)
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
            std::make_unique<TServedThread>("sp-terminate", [this] { DoTerminate(); });
        TerminateThread->Start();
    }
    if (Wait == swWaitForEnd)
        ReleaseRunThreads();
}

void TCustomFFmpeg::Run() {
    Finished = false;
    try {
        if (OpenRunFiles())
            Convert();
    } catch (const std::exception& error) {
        GetLogger()->Log(this, llQuiet, error.what());
        ErrorMessage = error.what();
        ErrorOccurred = true;
    }
    // A failed run's findings count too: the end keeps or removes its outputs by them.
    TakeOutcome();
    // The run's codecs close before CloseAll frees their contexts and the files they wrote to.
    CurrentRun.reset();
    CloseAll();
    // Finished and failed exclude each other: a run can still fail while its outputs close.
    if (ErrorOccurred)
        Finished = false;
    DoTerminate();
}

void TCustomFFmpeg::Convert() {
    CurrentRun = MakeRun();
    if (BeforeTranscode && !BeforeTranscode())
        return;
    Finished = TranscodeOrSoundAlone();
    TakeOutcome();
    if (Finished && AfterTranscode)
        AfterTranscode();
}

std::unique_ptr<TTranscodeRun> TCustomFFmpeg::MakeRun() {
    TRunSetup setup{.Options = *this,
                    .InputFiles = InputFiles,
                    .OutputFiles = OutputFiles,
                    .InputSetups = InputSetups,
                    .Outputs = {},
                    .InputDecoders = {},
                    .InputCodecs = InputCodecs,
                    .InputFileTsOffsetsUs = std::vector<int64_t>(std::begin(InputFileTsOffsetsUs),
                                                                 std::end(InputFileTsOffsetsUs)),
                    .InputFileClipped =
                        std::vector<bool>(std::begin(InputFileClipped), std::end(InputFileClipped)),
                    .JoinMode = JoinMode,
                    .UseVideoFilters = UseVideoFilters,
                    .OptionContexts = OptionContexts,
                    .VideoHookChain = VideoHookChain,
                    .StopRequested = StopRequested,
                    .ProgressIntervalUs = ProgressIntervalUs,
                    .PreviewIntervalUs = PreviewIntervalUs,
                    .PreviewFlags = PreviewFlags,
                    .SoundAloneFallback = [this](const AVStream* refused) {
                        return SoundAloneFallback(refused);
                    }};
    for (int i = 0; i < OutputFileCount(); ++i)
        setup.Outputs.push_back(&OutputSetupOf(i));
    for (const CodecContextPtr& decoder : InputDecoders)
        setup.InputDecoders.push_back(decoder.get());
    TRunEvents events;
    events.LogSender = this;
    events.HoldWhilePaused = [this] { HoldWhilePaused(); };
    if (OnProgress)
        events.Progress = [this](const TProgressInfo& progress) { OnProgress(this, progress); };
    if (OnBeforeHook)
        events.BeforeHook = [this](int64_t pts, THookAction& action) {
            OnBeforeHook(this, pts, action);
        };
    if (OnCustomHook)
        events.CustomHook = [this](TBitmap24& bitmap, int frameNumber, int64_t pts, bool& update,
                                   bool& stopHook) {
            OnCustomHook(this, bitmap, frameNumber, pts, update, stopHook);
        };
    if (OnPreviewBitmap)
        events.PreviewBitmap = [this](TBitmap24& bitmap, int frameNumber, int64_t pts) {
            OnPreviewBitmap(this, bitmap, frameNumber, pts);
        };
    return std::make_unique<TTranscodeRun>(std::move(setup), std::move(events));
}

void TCustomFFmpeg::TakeOutcome() {
    if (!CurrentRun)
        return;
    const TRunOutcome outcome = CurrentRun->Link.TakeOutcome();
    for (std::size_t i = 0; i < outcome.OutputHasSound.size(); ++i)
        if (outcome.OutputHasSound[i])
            OutputFileSetup(static_cast<int>(i)).HasSound = true;
    if (!outcome.WarningSummary.empty() || !outcome.WarningMessage.empty()) {
        WarningSummary = outcome.WarningSummary;
        WarningMessage = outcome.WarningMessage;
    }
    if (outcome.HooksStopped) {
        OnCustomHook = nullptr;
        UsingVhook = false;
    }
    PreviewFlags = static_cast<uint8_t>(PreviewFlags & ~outcome.PreviewFlagsFailed);
}

void TCustomFFmpeg::DoTerminate() {
    Running = false;
    Terminated = true;
    ConvertThread = nullptr;
    if (OnTerminate)
        OnTerminate(this);
}
