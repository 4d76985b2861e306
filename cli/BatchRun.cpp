// One run of soundpick-cli.
#include "cli/BatchRun.h"

#include "cli/Interrupt.h"
#include "component/FFmpegTask.h"
#include "component/OutputAssembly.h"
#include "ffbind/MainThread.h"
#include "probe/AVProbe.h"

#include <chrono>
#include <cmath>
#include <limits>

namespace fs = std::filesystem;
using std::chrono::steady_clock;

namespace {

constexpr auto RedrawPeriod = std::chrono::milliseconds(200);
constexpr auto PollPeriod = std::chrono::milliseconds(100);

fs::path Absolute(const fs::path& path) {
    std::error_code error;
    fs::path absolute = fs::absolute(path, error);
    return error ? path : absolute.lexically_normal();
}

// A file a task left behind with something in it.
bool HasContent(const fs::path& file) {
    std::error_code error;
    return fs::is_regular_file(file, error) && fs::file_size(file, error) > 0 && !error;
}

int64_t Microseconds(double seconds) {
    return std::llround(seconds * 1e6);
}

} // namespace

TBatchRun::TBatchRun(const TCliOptions& options, TFFmpegComponent& component,
                     TCliReporter& reporter)
    : Options(options), Component(component), Reporter(reporter) {}

TBatchRun::~TBatchRun() {
    Component.DetachEvents();
    SetMainThreadWakeup(nullptr);
}

bool TBatchRun::PrintInfo() {
    bool allRead = true;
    for (const std::string& file : Options.Files) {
        const fs::path input = Absolute(file);
        TAVProbe& probe = Component.Probe();
        if (!probe.LoadFile(input)) {
            Reporter.Skipped(input, "***File load error: " + probe.LastError());
            allRead = false;
            continue;
        }
        Reporter.InfoText(input, probe.GetInfoText());
        probe.CloseFile();
    }
    return allRead;
}

void TBatchRun::AddFiles() {
    for (const std::string& file : Options.Files) {
        if (InterruptRequests() > 0)
            return; // the user gave up before the run began
        if (!AddFile(file))
            ++Skipped;
    }
}

// The steps of the window's "Add Task", with the command line's choices for the dialog's.
bool TBatchRun::AddFile(const std::string& file) {
    const fs::path input = Absolute(file);
    TAVProbe& probe = Component.Probe();
    if (!probe.LoadFile(input)) {
        Reporter.Skipped(input, "***File load error: " + probe.LastError());
        return false;
    }
    TFileStreamInfo info;
    probe.GetFileStreamInfo(info);
    TOutputChoices choices = ChoicesFor(input, info.Duration);
    choices.InputFormatName = probe.ForcedFormatName();
    choices.InputAudioCodec = probe.FirstAudioCodecName();
    probe.CloseFile();
    if (Options.StartSeconds && info.Duration > 0 &&
        Microseconds(*Options.StartSeconds) >= info.Duration)
        Reporter.Warning(input.string() + ": the clip starts after the end; converting it all");

    const TOutputOptions output = BuildOutputOptions(choices);
    const TInputOptions inputOptions = BuildInputOptions(choices);
    const int index = Component.AddTaskInput(inputOptions.FileName, &inputOptions);
    if (index < 0) {
        Reporter.Skipped(input, "***File open error: " + Component.LastErrorText());
        return false;
    }
    if (!Component.SetTaskOutput(index, output.FileName, &output)) {
        const std::string reason = Component.LastErrorText();
        Component.DeleteTask(index);
        Reporter.Skipped(input, "***Cannot do convert, error: " + reason);
        return false;
    }
    TCliTask task;
    task.Input = input;
    task.Output = output.FileName;
    CliTasks.push_back(task);
    Reporter.Added(index, CliTasks.back());
    return true;
}

TOutputChoices TBatchRun::ChoicesFor(const fs::path& input, int64_t durationUs) const {
    TOutputChoices choices;
    choices.InputFileName = input;
    choices.InputDurationUs = durationUs;
    choices.FormatCaption = Options.FormatCaption;
    choices.SampleRateCaption = Options.SampleRateCaption;
    choices.ChannelsCaption = Options.ChannelsCaption;
    if (Options.Volume) {
        choices.AdjustVolume = true;
        choices.VolumeText = std::to_string(*Options.Volume);
    }
    if (Options.BitRateKbps) {
        choices.AdjustBitRate = true;
        choices.BitRateText = std::to_string(*Options.BitRateKbps);
    }
    if (Options.StartSeconds || Options.EndSeconds) {
        // A selection in microseconds; without an end it runs to the end of the input.
        choices.CutClipEnabled = choices.CutClip = true;
        choices.ScaleUs = 1;
        choices.SelectionStart = Microseconds(Options.StartSeconds.value_or(0));
        choices.SelectionEnd = Options.EndSeconds ? Microseconds(*Options.EndSeconds)
                               : durationUs > 0   ? durationUs
                                                  : std::numeric_limits<int64_t>::max() / 4;
    }
    if (!Options.OutputFolder.empty())
        choices.OutputFolderText = Absolute(Options.OutputFolder).string();
    if (Options.LoudnessLufs) {
        choices.NormalizeLoudness = true;
        choices.LoudnessTargetText = std::to_string(*Options.LoudnessLufs);
    }
    choices.CopyTimestamp = Options.CopyTimestamp;
    choices.Overwrite = Options.Overwrite;
    for (const TCliTask& task : CliTasks)
        choices.ClaimedNames.push_back(task.Output);
    for (const std::string& line : Options.ExtraOptions)
        choices.ExtraOutputOptions += line + "\n";
    return choices;
}

bool TBatchRun::Run() {
    if (!CliTasks.empty()) {
        Component.OnProgress = [this](int index, int, int, int currentMs, float, float,
                                      int64_t sizeBytes, int totalMs) {
            TEvent event;
            event.Index = index;
            event.CurrentMs = currentMs;
            event.TotalMs = totalMs;
            event.SizeBytes = sizeBytes;
            Post(event);
        };
        Component.OnTerminate = [this](int index, bool finished, bool exception,
                                       const std::string& message) {
            MarkOutputEnded(index); // complete or failed: never removed by a second Ctrl-C
            Post({index, true, finished, exception, message});
        };
        SetMainThreadWakeup([this] {
            std::lock_guard<std::mutex> guard(EventsLock);
            Woken = true;
            EventsSignal.notify_all();
        });
        std::vector<fs::path> outputs;
        for (const TCliTask& task : CliTasks)
            outputs.push_back(task.Output);
        SetPendingOutputs(outputs);
        const auto started = steady_clock::now();
        auto drawn = started;
        Component.StartTasks(Options.Jobs);
        bool stopping = false;
        while (!AllEnded) {
            CheckSynchronize();
            std::deque<TEvent> batch;
            {
                std::unique_lock<std::mutex> lock(EventsLock);
                EventsSignal.wait_for(lock, PollPeriod,
                                      [this] { return !Events.empty() || Woken; });
                batch.swap(Events);
                Woken = false;
            }
            for (const TEvent& event : batch)
                HandleEvent(event);
            if (!stopping && InterruptRequests() > 0) {
                stopping = true;
                Reporter.Warning("stopping every task (Ctrl-C again ends at once)");
                Component.StopTasks(false);
            }
            if (Changed && steady_clock::now() - drawn >= RedrawPeriod && !AllEnded) {
                Changed = false;
                Reporter.Redraw(CliTasks);
                drawn = steady_clock::now();
            }
        }
        const std::chrono::duration<double> elapsed = steady_clock::now() - started;
        Reporter.Summary(CliTasks, Skipped, elapsed.count());
    }
    // Frees the engines: outputs of tasks that never ran are removed with them.
    Component.DetachEvents();
    Component.ClearTaskList();
    if (CliTasks.empty())
        Reporter.Summary(CliTasks, Skipped, 0);
    bool allFinished = Skipped == 0;
    for (const TCliTask& task : CliTasks)
        allFinished = allFinished && task.State == tsFinished;
    return allFinished;
}

void TBatchRun::Post(TEvent event) {
    std::lock_guard<std::mutex> guard(EventsLock);
    Events.push_back(std::move(event));
    EventsSignal.notify_all();
}

void TBatchRun::HandleEvent(const TEvent& event) {
    if (event.Terminate)
        HandleTerminate(event);
    else
        HandleProgress(event);
}

void TBatchRun::HandleProgress(const TEvent& event) {
    if (event.Index < 0 || event.Index >= static_cast<int>(CliTasks.size()))
        return;
    TCliTask& task = CliTasks[event.Index];
    const auto now = steady_clock::now();
    task.State = tsRunning;
    task.CurrentMs = event.CurrentMs;
    task.TotalMs = event.TotalMs;
    task.SizeBytes = event.SizeBytes;
    if (!task.HasFirstSample) {
        task.HasFirstSample = true;
        task.FirstSampleMs = event.CurrentMs;
        task.FirstSampleTime = now;
    } else {
        const std::chrono::duration<double, std::milli> wall = now - task.FirstSampleTime;
        if (wall.count() > 0)
            task.Speed = (event.CurrentMs - task.FirstSampleMs) / wall.count();
    }
    Changed = true;
    Reporter.Progress(event.Index, task);
}

void TBatchRun::HandleTerminate(const TEvent& event) {
    if (event.Index < 0) {
        AllEnded = true;
        return;
    }
    if (event.Index >= static_cast<int>(CliTasks.size()))
        return;
    TCliTask& task = CliTasks[event.Index];
    task.State = event.Exception ? tsFailed : event.Finished ? tsFinished : tsStopped;
    if (task.State == tsFinished && task.TotalMs > 0)
        task.CurrentMs = task.TotalMs;
    if (const TFFmpeg* engine = Component.Task(event.Index); engine && engine->MeasuredLoudness) {
        task.InputLufs = engine->MeasuredLoudness->IntegratedLufs;
        task.GainDb = engine->AppliedGain.GainDb;
        task.OutputLufs = engine->AppliedGain.OutputLufs;
    }
    Changed = true;
    const bool outputExists = task.State != tsFailed && HasContent(task.Output);
    Reporter.Ended(event.Index, task, event.Message, outputExists);
}
