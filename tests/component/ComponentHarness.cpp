// Helpers of the component and command-line tests.
#include "component/ComponentHarness.h"

#include "ffbind/MainThread.h"

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <thread>

TScratchFolder::TScratchFolder() {
    std::string pattern = (std::filesystem::temp_directory_path() / "sp-component-XXXXXX").string();
    if (!mkdtemp(pattern.data()))
        throw std::runtime_error("cannot make a scratch folder");
    Folder = pattern;
}

TScratchFolder::~TScratchFolder() {
    std::error_code error;
    std::filesystem::remove_all(Folder, error);
}

void TScratchFolder::Touch(const std::string& name) const {
    std::ofstream(Folder / name) << "x";
}

TEventRecorder::TEventRecorder(TFFmpegComponent& component) : Component(component) {
    Component.OnTerminate = [this](int index, TTaskEnd end, const std::string& message) {
        {
            std::lock_guard<std::mutex> guard(Lock);
            if (++Inside > 1)
                ++Overlaps;
        }
        // Linger a little so that an overlapping delivery would be seen.
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
        std::lock_guard<std::mutex> guard(Lock);
        Ends.push_back({index, end, message, IsMainThread()});
        --Inside;
    };
    Component.OnStart = [this](int, const TPathFileName& output) {
        std::lock_guard<std::mutex> guard(Lock);
        Started.push_back(output);
    };
    Component.OnProgress = [this](int index, const TProgressInfo&) {
        std::lock_guard<std::mutex> guard(Lock);
        Progress.push_back(index);
    };
}

TEventRecorder::~TEventRecorder() {
    Component.DetachEvents();
}

namespace {

bool WaitFor(const std::function<bool()>& done, double timeoutSeconds) {
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::duration<double>(timeoutSeconds);
    bool reached = false;
    WaitServingMainThread([&] {
        reached = done();
        return reached || std::chrono::steady_clock::now() > deadline;
    });
    return reached;
}

} // namespace

bool TEventRecorder::WaitForRunEnd(double timeoutSeconds) {
    return WaitFor(
        [this] {
            std::lock_guard<std::mutex> guard(Lock);
            return !Ends.empty() && Ends.back().Index == -1;
        },
        timeoutSeconds);
}

bool TEventRecorder::WaitForProgress(int index, double timeoutSeconds) {
    return WaitFor([this, index] { return ProgressCount(index) > 0; }, timeoutSeconds);
}

std::vector<TTerminateRecord> TEventRecorder::Terminates() const {
    std::lock_guard<std::mutex> guard(Lock);
    return Ends;
}

std::vector<std::filesystem::path> TEventRecorder::StartedOutputs() const {
    std::lock_guard<std::mutex> guard(Lock);
    return Started;
}

std::vector<int> TEventRecorder::TerminateIndexes() const {
    std::lock_guard<std::mutex> guard(Lock);
    std::vector<int> indexes;
    for (const TTerminateRecord& end : Ends)
        indexes.push_back(end.Index);
    return indexes;
}

int TEventRecorder::ProgressCount(int index) const {
    std::lock_guard<std::mutex> guard(Lock);
    int count = 0;
    for (int progressIndex : Progress)
        count += progressIndex == index;
    return count;
}
