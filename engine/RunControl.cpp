// The run control of the engine: starting, pausing, resuming and stopping a run, the run's body
// and its end notification.
#include "engine/FFmpeg.h"
#include "engine/TranscodeRun.h"
#include "ffbind/FFmpegLogger.h"

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
    Worker = std::make_unique<TServedThread>(
        "sp-convert", [this] { Run(); }, NiceValue(Priority));
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
        CurrentRun = MakeRun();
        if (!BeforeTranscode || BeforeTranscode()) {
            Finished = TranscodeOrSoundAlone();
            TakeOutcome();
            if (Finished && AfterTranscode)
                AfterTranscode();
        }
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
