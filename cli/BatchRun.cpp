// One run of soundpick-cli.
#include "cli/BatchRun.h"

#include "cli/Interrupt.h"
#include "component/CoverImages.h"
#include "component/LossyPolicy.h"
#include "component/OutputAssembly.h"
#include "component/Playlists.h"
#include "component/UpdateCheck.h"
#include "ffbind/MainThread.h"
#include "probe/AVProbe.h"
#include "probe/EnvelopeScan.h"

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
const char* const StandardInputRefusal =
    "***File load error: - is not a regular file (the standard input cannot be converted; name a "
    "file)";

TProbedInput ProbeFile(TFFmpegComponent& component, const std::string& file,
                       const fs::path& input) {
    TProbedInput refused;
    refused.ErrorText = StandardInputRefusal;
    return file == "-" ? refused : component.ProbeInput(input);
}

// The files and folders named on the command line, as the run adds them.
std::vector<fs::path> GivenInputs(const TCliOptions& options) {
    std::vector<fs::path> given;
    for (const std::string& file : options.Files)
        if (file != "-")
            given.push_back(Absolute(file));
    return given;
}

int64_t Microseconds(double seconds) {
    return std::llround(seconds * 1e6);
}

} // namespace

TBatchRun::TBatchRun(const TCliOptions& options, TFFmpegComponent& component,
                     TCliReporter& reporter)
    : Options(options), Component(component), Reporter(reporter),
      Planner(
          {options.Track, options.Update, GivenInputs(options),
           ParseShard(options.Shard).value_or(TShard()), options.Cue},
          [this](const std::string& base) { return ClaimedNamesLike(base); },
          [this](const fs::path& file) {
              TProbedFile probed{Component.ProbeInput(file), {}};
              if (!Options.NameTemplate.empty())
                  probed.Tags = ProbedTags(Component.Probe());
              Component.Probe().CloseFile();
              return probed;
          }),
      Folders(ParseShard(options.Shard).value_or(TShard())), Report(options.ReportFile) {}

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
    // Nothing is converted without the report asked for: the run fails with the reason.
    if (Report.Failed()) {
        Reporter.LogLine("soundpick-cli: " + Report.ErrorText());
        return;
    }
    const TShard shard = ParseShard(Options.Shard).value_or(TShard());
    for (const std::string& file : Options.Files) {
        if (InterruptRequests() > 0)
            return; // the user gave up before the run began
        const fs::path input = Absolute(file);
        std::error_code error;
        if (fs::is_directory(input, error)) {
            Folders.Add(input);
            FoldersLeft = true;
        } else if (file == "-") {
            Refuse(input, StandardInputRefusal);
        } else if (shard.Takes(input.filename())) {
            AddInput({input, input.filename(), false});
        }
    }
}

bool TBatchRun::AddFromFolders() {
    while (FoldersLeft && InterruptRequests() == 0) {
        const std::optional<TLibraryInput> input = Folders.Next();
        FoldersLeft = input.has_value();
        if (input && AddInput(*input))
            return true;
    }
    return false;
}

// The steps of the window's "Add Task", with the command line's choices for the dialog's.
bool TBatchRun::AddInput(const TLibraryInput& found) {
    const fs::path& input = found.Path;
    if (TOutputPlanner::IsPlaylist(found, OutputFolder())) {
        Playlists.push_back(found);
        return false;
    }
    if (found.InFolder && IsCueSheetName(input) && !Options.Cue) {
        ++UnusedCueSheets;
        Report.Line(input, {}, "skipped", "cue sheet not used; add --cue", 0);
        return false;
    }
    if (IsCueSheetName(input))
        return AddCueTracks(input, found);
    if (Options.Cue && found.InFolder && CueCovered.Covers(input))
        return false; // its sheet gives its tracks
    if (Options.Cue && !found.InFolder && !CueSheetBeside(input).empty())
        return AddCueTracks(CueSheetBeside(input), found);
    const TProbedInput probed = Component.ProbeInput(input);
    const TTagMap tags =
        Options.NameTemplate.empty() && !Options.Cue ? TTagMap() : ProbedTags(Component.Probe());
    Component.Probe().CloseFile();
    if (Options.Cue && probed.ErrorText.empty() && AddEmbeddedCue(input, tags, found))
        return true;
    if (std::optional<TOutputPlan> verdict = ProbeVerdict(found, probed, Options.Track))
        return AddPlanned(input, *verdict);
    if (Options.StartSeconds && probed.DurationUs > 0 &&
        Microseconds(*Options.StartSeconds) >= probed.DurationUs)
        Reporter.Warning(input.string() + ": the clip starts after the end; converting it all");
    const std::optional<TSoundBounds> trimmed = TrimmedClip(input, probed);
    // A dry run plans as a run would, but records and copies nothing.
    return AddPlanned(input, Planner.Plan({found, probed, tags}, ChoicesFor(input, probed, trimmed),
                                          Options.DryRun ? puPreview : puAdd));
}

// Adds what the planner made of an input; false when it gave no output.
bool TBatchRun::AddPlanned(const fs::path& input, const TOutputPlan& plan) {
    for (const std::string& warning : plan.Warnings)
        Reporter.Warning(warning);
    ManifestFailed = ManifestFailed || plan.RecordFailed;
    if (!Options.DryRun)
        CopyImages(plan.Images);
    switch (plan.Verdict) {
    case pvOutputs:
    case pvPlaylist:
        break;
    case pvPassedOver:
        ++WithoutSound;
        Report.Line(input, {}, "no-sound", plan.Reason, 0);
        return false;
    case pvNoSound:
    case pvRefused:
        return Refuse(input, plan.Reason);
    case pvUpToDate:
        OutputsByInput[Absolute(input)] = plan.UpToDateOutput;
        PassOver(input, plan.UpToDateOutput);
        return false;
    }
    for (const TPathFileName& piece : plan.UpToDatePieces)
        PassOver(input, piece);
    for (const TPlannedOutput& output : plan.Outputs) {
        if (output.Record)
            PendingRecords[CliTasks.size()] = *output.Record;
        if (Options.DryRun && !output.Reason.empty())
            PlanReasons[CliTasks.size()] = output.Reason;
        if (output.Label.empty())
            OutputsByInput[Absolute(input)] = output.Output;
        NoteOutput(input, output.Output);
        AddCliTask(output.Output, output.Choices, output.Label);
    }
    return !plan.Outputs.empty();
}

// With --delete, an output the run gives an input (planned, made, or found up to date): any other
// the record holds for the input is a former one.
void TBatchRun::NoteOutput(const fs::path& input, const fs::path& output) {
    if (Options.Delete)
        CurrentOutputs[input.lexically_normal()].insert(output.lexically_normal());
}

void TBatchRun::PassOver(const fs::path& input, const fs::path& output) {
    NoteOutput(input, output);
    ++UpToDate;
    // Its album's gain is measured over it too when another of the album is converted now.
    if (Options.Engine.ReplayGain && !Options.DryRun)
        GainAlbums.AddKept(input, output);
    if (Options.DryRun)
        Reporter.Planned("skip", input, output, "up to date");
    Report.Line(input, output, "up-to-date", "", 0);
}

std::optional<fs::path> TBatchRun::OutputFolder() const {
    if (Options.OutputFolder.empty())
        return std::nullopt;
    return Absolute(Options.OutputFolder);
}

bool TBatchRun::Convertible(const fs::path& input, const TProbedInput& probed) {
    const std::optional<TOutputPlan> verdict =
        ProbeVerdict({input, input.filename(), false}, probed, Options.Track);
    return !verdict || Refuse(input, verdict->Reason);
}

bool TBatchRun::Refuse(const fs::path& input, const std::string& refusal) {
    if (Options.DryRun)
        Reporter.Planned("skip", input, {}, refusal);
    else
        Reporter.Skipped(input, refusal);
    Report.Line(input, {}, "skipped", refusal, 0);
    ++Skipped;
    return false;
}

void TBatchRun::AddCliTask(const fs::path& output, TOutputChoices choices,
                           const std::string& piece) {
    TCliTask task;
    task.Input = choices.InputFileName.string();
    task.Piece = piece;
    task.Output = output.string();
    ClaimedOutputs.insert(task.Output);
    CliTasks.push_back(task);
    CreatedFiles.emplace_back();
    TPendingChoices pending;
    pending.TreeName = std::move(choices.TreeName);
    choices.InputFileName.clear();
    choices.TreeName.clear();
    if (PendingChoices.empty() || !(*PendingChoices.back().Shared == choices))
        pending.Shared = std::make_shared<const TOutputChoices>(std::move(choices));
    else
        pending.Shared = PendingChoices.back().Shared;
    PendingChoices.push_back(std::move(pending));
    if (!Options.DryRun)
        Reporter.Added(static_cast<int>(CliTasks.size()) - 1, CliTasks.back());
}

void TBatchRun::ReportLine(const TCliTask& task, const std::string& state,
                           const std::string& message) {
    const std::chrono::duration<double> seconds = task.MadeTime == steady_clock::time_point()
                                                      ? std::chrono::duration<double>(0)
                                                      : steady_clock::now() - task.MadeTime;
    Report.Line(task.Input, task.Output, state, task.Warning.empty() ? message : task.Warning,
                seconds.count());
}

// Only the names of earlier tasks that the naming of this one could meet (those beginning with
// the name it would like, without mark and extension), so that a long batch does not compare
// every pair.
std::vector<fs::path> TBatchRun::ClaimedNamesLike(const std::string& base) const {
    std::vector<fs::path> names;
    for (auto claimed = ClaimedOutputs.lower_bound(base);
         claimed != ClaimedOutputs.end() && claimed->starts_with(base); ++claimed)
        names.emplace_back(*claimed);
    return names;
}

void TBatchRun::FeedTasks() {
    const int window = Options.Jobs * TasksPerJob;
    while (!Stopping && static_cast<int>(CliIndexOfTask.size()) - TasksEnded < window &&
           (NextToMake < CliTasks.size() || AddFromFolders())) {
        const int index = static_cast<int>(NextToMake++);
        // The files after this one: the tasks that may run beside it share the cores. Under a
        // folder still being walked their number is not known yet.
        Component.AnnounceTasks(FoldersLeft ? -1 : static_cast<int>(CliTasks.size() - NextToMake));
        if (MakeTask(index))
            Component.JoinAddedTasks(true); // starts at once when a worker is free
    }
    if (!Stopping)
        Component.JoinAddedTasks(NextToMake < CliTasks.size() || FoldersLeft);
}

// The steps of the window's "Add Task" for a file named earlier, under that name.
bool TBatchRun::MakeTask(int index) {
    // Files become tasks in their order: index is always the first waiting one.
    TOutputChoices choices = *PendingChoices.front().Shared;
    choices.InputFileName = CliTasks[index].Input;
    choices.TreeName = PendingChoices.front().TreeName;
    PendingChoices.pop_front();
    CliTasks[index].MadeTime = steady_clock::now();
    const TAddedTask added = Component.AddTask(choices, CliTasks[index].Output);
    if (added.Index < 0) {
        EndUnmade(index, tsFailed, added.ErrorText);
        return false;
    }
    std::lock_guard<std::mutex> guard(EventsLock);
    CliIndexOfTask.push_back(index);
    return true;
}

// Runs on the thread that starts the task, which has just created its output. The file it
// created (a new output, or the part file of a replacement) is the only one a second Ctrl-C may
// remove; a name taken since it was chosen has moved the output on.
void TBatchRun::PostStart(int taskIndex, const fs::path& output) {
    TEvent event;
    event.TaskIndex = taskIndex;
    event.Kind = TEvent::ekStart;
    event.Output = output;
    event.Created = Component.TaskResult(taskIndex).WrittenFileName;
    if (!event.Created.empty())
        event.CreatedIdentity = FileIdentityAt(event.Created);
    Post(event);
}

void TBatchRun::EndUnmade(int index, TTaskState state, const std::string& message) {
    MarkOutputEnded(index);
    UnsettledInputs.insert(fs::path(CliTasks[index].Input).lexically_normal());
    PendingRecords.erase(static_cast<std::size_t>(index));
    CliTasks[index].State = state;
    Reporter.Ended(index, CliTasks[index], message, false);
    ReportLine(CliTasks[index], StateName(state), message);
    ForgetEnded(index);
}

// A file that has ended keeps only its state, so that a long batch holds little per file. Its
// name need not stay claimed: a finished output exists, and a failed one may be taken again.
void TBatchRun::ForgetEnded(int index) {
    TCliTask& task = CliTasks[index];
    ClaimedOutputs.erase(task.Output);
    // Swapped with empty strings, which (unlike clear) frees what they held.
    std::string().swap(task.Input);
    std::string().swap(task.Output);
    CreatedFiles[index] = {};
}

int TBatchRun::CliIndex(int taskIndex) const {
    return taskIndex >= 0 && taskIndex < static_cast<int>(CliIndexOfTask.size())
               ? CliIndexOfTask[taskIndex]
               : -1;
}

std::optional<TSoundBounds> TBatchRun::TrimmedClip(const fs::path& input,
                                                   const TProbedInput& probed) {
    if (!Options.TrimSilenceDb)
        return std::nullopt;
    std::string error;
    // Measured on the track the task converts.
    const TAudioTrack* track =
        Options.Track.empty() ? nullptr : FindAudioTrack(probed.AudioTracks, Options.Track);
    const std::optional<TSoundBounds> bounds =
        ReadSoundBounds({input, probed.FormatName, track ? track->StreamIndex : -1},
                        probed.DurationUs, *Options.TrimSilenceDb, error);
    if (!error.empty()) {
        // The reader's words name the file when it failed on the file itself, and may be a
        // sentence of their own.
        if (error.rfind(input.string() + ":", 0) != 0)
            error = input.string() + ": " + error;
        if (error.back() == '.')
            error.pop_back();
        Reporter.Warning(error + "; converting it all");
    } else if (!bounds)
        Reporter.Warning(input.string() + FormatText(": no sound above %g dBFS; converting it all",
                                                     *Options.TrimSilenceDb));
    return bounds;
}

TOutputChoices TBatchRun::ChoicesFor(const fs::path& input, const TProbedInput& probed,
                                     const std::optional<TSoundBounds>& trimmed) const {
    const int64_t durationUs = probed.DurationUs;
    TOutputChoices choices;
    TakeProbe(input, probed, Options.Track, choices);
    choices.Format = Options.Format;
    choices.SampleRateHz = Options.SampleRateHz;
    choices.Channels = Options.Channels;
    choices.Volume = Options.Volume;
    choices.BitRateKbps = Options.BitRateKbps;
    if (Options.StartSeconds || Options.EndSeconds)
        // Without an end it runs to the end of the input.
        choices.Clip = ClipBetween(Microseconds(Options.StartSeconds.value_or(0)),
                                   Options.EndSeconds ? Microseconds(*Options.EndSeconds)
                                   : durationUs > 0   ? durationUs
                                                      : std::numeric_limits<int64_t>::max() / 4);
    if (trimmed)
        choices.Clip = ClipBetween(trimmed->StartUs, trimmed->EndUs);
    choices.OutputFolder = OutputFolder();
    choices.LoudnessTargetLufs = Options.LoudnessLufs;
    choices.NameTemplateText = Options.NameTemplate;
    choices.CopyTimestamp = Options.CopyTimestamp;
    choices.Overwrite = Options.Overwrite;
    choices.Engine = Options.Engine;
    for (const std::string& line : Options.ExtraOptions)
        choices.ExtraOutputOptions += line + "\n";
    choices.LossyPolicy =
        Options.Lossy.empty() ? lpCopyInFolders : *LossyPolicyNamed(Options.Lossy);
    choices.MaxBitRateKbps = Options.MaxBitRateKbps;
    choices.CopyImages = Options.CopyImages;
    choices.Pieces = Options.SplitChapters ? (Options.AllTracks ? pcChaptersOrTracks : pcChapters)
                     : Options.AllTracks   ? pcAllTracks
                                           : pcOneFile;
    return choices;
}

bool TBatchRun::Run() {
    if (Options.DryRun)
        return ListPlan();
    const bool anyInput = !CliTasks.empty() || FoldersLeft;
    if (anyInput) {
        Component.OnProgress = [this](int index, const TProgressInfo& progress) {
            TEvent event;
            event.TaskIndex = index;
            event.Progress = progress;
            Post(event);
        };
        Component.OnStart = [this](int index, const fs::path& output) { PostStart(index, output); };
        Component.OnTerminate = [this](int index, TTaskEnd end, const std::string& message) {
            TEvent event;
            event.Index = event.TaskIndex = index;
            event.Kind = TEvent::ekEnd;
            event.End = end;
            event.Message = message;
            if (index >= 0)
                event.Result = Component.TaskResult(index);
            Post(event);
        };
        SetMainThreadWakeup([this] {
            std::lock_guard<std::mutex> guard(EventsLock);
            Woken = true;
            EventsSignal.notify_all();
        });
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
        WriteGainTags();
        WritePlaylists();
        if (!Stopping && InterruptRequests() == 0)
            DeleteGoneOutputs();
        const std::chrono::duration<double> elapsed = steady_clock::now() - started;
        Reporter.PassedOver(WithoutSound, UpToDate, UnusedCueSheets);
        Reporter.Summary(CliTasks, Skipped, elapsed.count());
    }
    // Frees the engines.
    Component.DetachEvents();
    Component.ClearTaskList();
    if (!anyInput) {
        Reporter.PassedOver(WithoutSound, UpToDate, UnusedCueSheets);
        Reporter.Summary(CliTasks, Skipped, 0);
    }
    if (Report.Failed() && anyInput)
        Reporter.LogLine("soundpick-cli: " + Report.ErrorText());
    bool allFinished = Skipped == 0 && !ManifestFailed && !Report.Failed();
    for (const TCliTask& task : CliTasks)
        allFinished = allFinished && task.State == tsFinished && task.Warning.empty();
    return allFinished;
}

// With --replaygain, once every output is written (a stopped run's too, so that no placeholder
// stays): each album is measured and its outputs' tags filled.
void TBatchRun::WriteGainTags() {
    for (const TGainAlbums::TWritten& written : GainAlbums.WriteAll()) {
        if (!written.Error.empty())
            Reporter.Warning(written.Output.string() +
                             ": ReplayGain not written: " + written.Error);
        else if (Options.Verbose)
            Reporter.LogLine(written.Output.string() + ": " + GainSummary(written));
    }
}

// Each playlist under the added folders into the output tree, its entries pointing at the
// outputs of this run (and those --update found up to date).
void TBatchRun::WritePlaylists() {
    for (const TLibraryInput& playlist : Playlists) {
        fs::path root = Absolute(playlist.Path);
        for (auto part = playlist.Relative.begin(); part != playlist.Relative.end(); ++part)
            root = root.parent_path();
        const fs::path output = Absolute(Options.OutputFolder) / playlist.Relative;
        const std::string error =
            WritePlaylist(Absolute(playlist.Path), root, output, OutputsByInput);
        if (!error.empty())
            Reporter.Warning(playlist.Path.string() + ": playlist not written: " + error);
        Report.Line(playlist.Path, output, error.empty() ? "finished" : "failed", error, 0);
    }
}

// Runs on a worker or delivery thread.
void TBatchRun::Post(TEvent event) {
    std::lock_guard<std::mutex> guard(EventsLock);
    if (event.TaskIndex >= 0)
        event.Index = CliIndex(event.TaskIndex);
    if (event.Kind == TEvent::ekEnd)
        MarkOutputEnded(event.Index); // complete or failed: never removed by a second Ctrl-C
    if (event.Kind == TEvent::ekStart && event.CreatedIdentity)
        SetCreatedOutput(event.Index, event.Created, *event.CreatedIdentity);
    Events.push_back(std::move(event));
    EventsSignal.notify_all();
}

void TBatchRun::HandleEvent(const TEvent& event) {
    switch (event.Kind) {
    case TEvent::ekEnd:
        HandleTerminate(event);
        break;
    case TEvent::ekStart:
        HandleStart(event);
        break;
    case TEvent::ekProgress:
        HandleProgress(event);
        break;
    }
}

void TBatchRun::HandleStart(const TEvent& event) {
    if (event.Index < 0 || event.Index >= static_cast<int>(CliTasks.size()))
        return;
    CliTasks[event.Index].Output = event.Output.string();
    CreatedFiles[event.Index] = {event.Created.string(), event.CreatedIdentity};
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
    task.State = event.End == teFailed ? tsFailed : IsFinished(event.End) ? tsFinished : tsStopped;
    task.Warning = event.Result.WarningText;
    if (task.State == tsFinished && task.TotalMs > 0)
        task.CurrentMs = task.TotalMs;
    if (const std::optional<TTaskLoudness>& loudness = event.Result.Loudness) {
        task.InputLufs = loudness->InputLufs;
        task.GainDb = loudness->GainDb;
        task.OutputLufs = loudness->OutputLufs;
        task.OutputTruePeakDbtp = loudness->OutputTruePeakDbtp;
    }
    Component.ReleaseEndedTask(event.TaskIndex);
    Changed = true;
    const bool outputExists = LeftItsOwnOutput(event.Index, task);
    RecordEnded(event.Index, task, outputExists);
    if (task.State == tsFinished)
        NoteOutput(task.Input, task.Output); // its start may have moved it to a free name
    else
        UnsettledInputs.insert(fs::path(task.Input).lexically_normal());
    Reporter.Ended(event.Index, task, event.Message, outputExists);
    if (Options.Engine.ReplayGain && task.State == tsFinished)
        GainAlbums.Add(task.Input, task.Output);
    ReportLine(task, StateName(task.State), event.Message);
    ForgetEnded(event.Index);
}

// A stopped task keeps only an output it created, never a file it would have replaced; and
// whatever ended it, a file another put at the output's name is not the task's.
bool TBatchRun::LeftItsOwnOutput(int index, const TCliTask& task) const {
    const TCreatedFile& created = CreatedFiles[index];
    const bool kept =
        task.State == tsFinished || (task.State == tsStopped && created.Name == task.Output);
    return kept && created.Identity && IsSameFile(task.Output, *created.Identity) &&
           HasContent(task.Output);
}
