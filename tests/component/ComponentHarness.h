// Helpers of the component and command-line tests: a scratch folder and a recorder of the
// component's events that waits for the end of a run while serving main-thread hand-overs.
#ifndef SOUNDPICK_TESTS_COMPONENT_COMPONENTHARNESS_H
#define SOUNDPICK_TESTS_COMPONENT_COMPONENTHARNESS_H

#include "component/FFmpegComponent.h"

#include <filesystem>
#include <mutex>
#include <string>
#include <vector>

// A fresh folder under the system's temporary folder, removed with its contents.
class TScratchFolder {
public:
    TScratchFolder();
    ~TScratchFolder();
    const std::filesystem::path& Path() const { return Folder; }
    std::filesystem::path operator/(const std::string& name) const { return Folder / name; }
    // Writes a small file (for name collisions).
    void Touch(const std::string& name) const;

private:
    std::filesystem::path Folder;
};

// One terminate event as the component delivered it.
struct TTerminateRecord {
    int Index = 0;
    TTaskEnd End = teNotEnded;
    std::string Message;
    bool OnMainThread = false;

    bool Finished() const { return IsFinished(End); }
    bool Failed() const { return End == teFailed; }
};

// Records the start, terminate and progress events of a component.
class TEventRecorder {
public:
    explicit TEventRecorder(TFFmpegComponent& component);
    ~TEventRecorder();

    // Waits (serving hand-overs) until the -1 event came; false after timeoutSeconds.
    bool WaitForRunEnd(double timeoutSeconds = 120);
    // Waits until a progress event of the task came; false after timeoutSeconds.
    bool WaitForProgress(int index, double timeoutSeconds = 120);

    std::vector<TTerminateRecord> Terminates() const;
    // The output names the start events gave, in start order.
    std::vector<std::filesystem::path> StartedOutputs() const;
    std::vector<int> TerminateIndexes() const;
    int ProgressCount(int index) const;
    // Terminate handlers that ran while another one was still running.
    int OverlappingTerminates() const { return Overlaps; }

private:
    TFFmpegComponent& Component;
    mutable std::mutex Lock;
    std::vector<TTerminateRecord> Ends;
    std::vector<int> Progress;
    std::vector<std::filesystem::path> Started;
    int Inside = 0;
    int Overlaps = 0;
};

#endif
