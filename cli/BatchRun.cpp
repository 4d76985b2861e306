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
// Component tasks made ahead per job: the running one and the next, so that a worker never
// waits for the main thread to open a file.
constexpr int TasksPerJob = 2;

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

// "-" stands for the standard input to many programs; a task reads its file more than once.
TProbedInput ProbeFile(TFFmpegComponent& component, const std::string& file,
                       const fs::path& input) {
    TProbedInput refused;
    refused.ErrorText = "***File load error: - is not a regular file (the standard input cannot "
                        "be converted; name a file)";
    return file == "-" ? refused : component.ProbeInput(input);
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
        const TProbedInput probed = ProbeFile(Component, file, input);
        if (!probed.ErrorText.empty()) {
            Reporter.Skipped(input, probed.ErrorText);
            allRead = false;
            continue;
        }
        Reporter.InfoText(input, Component.Probe().GetInfoText());
        Component.Probe().CloseFile();
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
    const TProbedInput probed = ProbeFile(Component, file, input);
    Component.Probe().CloseFile();
    if (!probed.ErrorText.empty() || !probed.HasSound) {
        Reporter.Skipped(input,
                         probed.ErrorText.empty() ? NoSoundText(input.string()) : probed.ErrorText);
        return false;
    }
    if (Options.StartSeconds && probed.DurationUs > 0 &&
        Microseconds(*Options.StartSeconds) >= probed.DurationUs)
        Reporter.Warning(input.string() + ": the clip starts after the end; converting it all");

    TOutputChoices choices = ChoicesFor(input, probed);
    choices.ClaimedNames = ClaimedNamesLike(OutputFileNameFor(choices));
    TCliTask task;
    task.Input = input;
    task.Output = OutputFileNameFor(choices);
    ClaimedOutputs.insert(task.Output.string());
    CliTasks.push_back(task);
    ProbedFiles.push_back(probed);
    Reporter.Added(static_cast<int>(CliTasks.size()) - 1, CliTasks.back());
    return true;
}

// Only the names of earlier tasks that the numbering of this one could meet (those beginning
// with its folder, stem and "_(new"), so that a long batch does not compare every pair.
std::vector<fs::path> TBatchRun::ClaimedNamesLike(const fs::path& unclaimed) const {
    const std::string name = unclaimed.string();
    const std::size_t numbering = name.rfind("_(new");
    const std::string prefix =
        numbering == std::string::npos ? name : name.substr(0, numbering + 5);
    std::vector<fs::path> names;
    for (auto claimed = ClaimedOutputs.lower_bound(prefix);
         claimed != ClaimedOutputs.end() && claimed->starts_with(prefix); ++claimed)
        names.emplace_back(*claimed);
    return names;
}

void TBatchRun::FeedTasks() {
    const int window = Options.Jobs * TasksPerJob;
    while (!Stopping && NextToMake < CliTasks.size() &&
           static_cast<int>(CliIndexOfTask.size()) - TasksEnded < window) {
        if (MakeTask(static_cast<int>(NextToMake++)))
            Component.JoinAddedTasks(true); // starts at once when a worker is free
    }
    if (!Stopping)
        Component.JoinAddedTasks(NextToMake < CliTasks.size());
}

// The steps of the window's "Add Task" for a file named earlier, under that name.
bool TBatchRun::MakeTask(int index) {
    const TOutputChoices choices = ChoicesFor(CliTasks[index].Input, ProbedFiles[index]);
    ProbedFiles[index] = {};
    const TAddedTask added = Component.AddTask(choices, CliTasks[index].Output);
    if (added.Index < 0) {
        EndUnmade(index, tsFailed, added.ErrorText);
        return false;
    }
    RecordCreatedFile(index, *Component.Task(added.Index));
    std::lock_guard<std::mutex> guard(EventsLock);
    CliIndexOfTask.push_back(index);
    return true;
}

// The file the task's run creates (a new output, or the part file of a replacement) is the only
// one a second Ctrl-C may remove. A name taken since it was chosen has moved the output on.
void TBatchRun::RecordCreatedFile(int index, const TFFmpeg& engine) {
    CliTasks[index].Output = engine.OutputOptions.FileName;
    const TOutputTarget& target = engine.OutputSetupOf(0).Target;
    if (!target.Created())
        return;
    CreatedFiles[index] = target.WrittenName();
    SetCreatedOutput(index, CreatedFiles[index]);
}

void TBatchRun::EndUnmade(int index, TTaskState state, const std::string& message) {
    MarkOutputEnded(index);
    CliTasks[index].State = state;
    Reporter.Ended(index, CliTasks[index], message, false);
}

int TBatchRun::CliIndex(int taskIndex) const {
    return taskIndex >= 0 && taskIndex < static_cast<int>(CliIndexOfTask.size())
               ? CliIndexOfTask[taskIndex]
               : -1;
}

TOutputChoices TBatchRun::ChoicesFor(const fs::path& input, const TProbedInput& probed) const {
    const int64_t durationUs = probed.DurationUs;
    TOutputChoices choices;
    choices.InputFileName = input;
    choices.InputFormatName = probed.FormatName;
    choices.InputDurationUs = durationUs;
    choices.InputAudioCodec = probed.AudioCodec;
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
    choices.KeepTags = !Options.NoTags;
    choices.KeepCover = !Options.NoCover;
    for (const std::string& line : Options.ExtraOptions)
        choices.ExtraOutputOptions += line + "\n";
    return choices;
}

bool TBatchRun::Run() {
    if (!CliTasks.empty()) {
        Component.OnProgress = [this](int index, const TProgressInfo& progress) {
            TEvent event;
            event.TaskIndex = index;
            event.Progress = progress;
            Post(event);
        };
        Component.OnTerminate = [this](int index, bool finished, bool exception,
                                       const std::string& message) {
            TEvent event;
            event.Index = event.TaskIndex = index;
            event.Terminate = true;
            event.Finished = finished;
            event.Exception = exception;
            event.Message = message;
            if (const TFFmpeg* task = index >= 0 ? Component.Task(index) : nullptr)
                event.Warning = task->WarningMessage;
            Post(event);
        };
        SetMainThreadWakeup([this] {
            std::lock_guard<std::mutex> guard(EventsLock);
            Woken = true;
            EventsSignal.notify_all();
        });
        CreatedFiles.assign(CliTasks.size(), {});
        SetPendingOutputs(CliTasks.size());
        const auto started = steady_clock::now();
        auto drawn = started;
        Component.SetSplitEncoding(!Options.NoSplit);
        Component.StartTasks(Options.Jobs, true);
        FeedTasks();
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
            FeedTasks();
            if (!Stopping && InterruptRequests() > 0) {
                Stopping = true;
                Reporter.Warning("stopping every task (Ctrl-C again ends at once)");
                Component.StopTasks(false);
                while (NextToMake < CliTasks.size())
                    EndUnmade(static_cast<int>(NextToMake++), tsStopped, "");
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
        allFinished = allFinished && task.State == tsFinished && task.Warning.empty();
    return allFinished;
}

// Runs on a worker or delivery thread.
void TBatchRun::Post(TEvent event) {
    std::lock_guard<std::mutex> guard(EventsLock);
    if (event.TaskIndex >= 0)
        event.Index = CliIndex(event.TaskIndex);
    if (event.Terminate)
        MarkOutputEnded(event.Index); // complete or failed: never removed by a second Ctrl-C
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
    task.CurrentMs = event.Progress.CurrentDurationMs;
    task.TotalMs = event.Progress.TotalDurationMs;
    task.SizeBytes = event.Progress.CurrentSizeBytes;
    if (!task.HasFirstSample) {
        task.HasFirstSample = true;
        task.FirstSampleMs = task.CurrentMs;
        task.FirstSampleTime = now;
    } else {
        const std::chrono::duration<double, std::milli> wall = now - task.FirstSampleTime;
        if (wall.count() > 0)
            task.Speed = (task.CurrentMs - task.FirstSampleMs) / wall.count();
    }
    Changed = true;
    Reporter.Progress(event.Index, task);
}

void TBatchRun::HandleTerminate(const TEvent& event) {
    if (event.TaskIndex < 0) {
        AllEnded = true;
        return;
    }
    if (event.Index < 0 || event.Index >= static_cast<int>(CliTasks.size()))
        return;
    ++TasksEnded;
    TCliTask& task = CliTasks[event.Index];
    task.State = event.Exception ? tsFailed : event.Finished ? tsFinished : tsStopped;
    task.Warning = event.Warning;
    if (task.State == tsFinished && task.TotalMs > 0)
        task.CurrentMs = task.TotalMs;
    if (const TFFmpeg* engine = Component.Task(event.TaskIndex);
        engine && engine->MeasuredLoudness) {
        task.InputLufs = engine->MeasuredLoudness->IntegratedLufs;
        task.GainDb = engine->AppliedGain.GainDb;
        task.OutputLufs = engine->AppliedGain.OutputLufs;
    }
    Component.ReleaseEndedTask(event.TaskIndex);
    Changed = true;
    // A stopped task keeps only an output it created; a file it would have replaced is old.
    const bool outputExists =
        (task.State == tsFinished ||
         (task.State == tsStopped && CreatedFiles[event.Index] == task.Output)) &&
        HasContent(task.Output);
    Reporter.Ended(event.Index, task, event.Message, outputExists);
}
