// The interrupt handler of soundpick-cli: only async-signal-safe calls in the handler.
#include "cli/Interrupt.h"

#include <atomic>
#include <csignal>
#include <cstring>
#include <memory>
#include <string>
#include <unistd.h>

namespace {

std::atomic<int> Requests{0};

// Fixed before the run starts; read by the handler.
std::vector<std::string> PendingPaths;
std::unique_ptr<std::atomic<bool>[]> Ended;
std::atomic<std::size_t> PendingCount{0};

void WriteText(const char* text) {
    const ssize_t written = write(STDERR_FILENO, text, std::strlen(text));
    (void)written;
}

void OnInterrupt(int) {
    if (Requests.fetch_add(1) == 0)
        return;
    WriteText("\nsoundpick-cli: interrupted\n");
    const std::size_t count = PendingCount.load();
    for (std::size_t i = 0; i < count; ++i)
        if (!Ended[i].load() && !PendingPaths[i].empty())
            unlink(PendingPaths[i].c_str());
    _exit(1);
}

} // namespace

void InstallInterruptHandler() {
    struct sigaction action {};
    action.sa_handler = OnInterrupt;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}

int InterruptRequests() {
    return Requests.load();
}

void SetPendingOutputs(const std::vector<std::filesystem::path>& outputs) {
    PendingCount = 0;
    PendingPaths.clear();
    for (const auto& output : outputs)
        PendingPaths.push_back(output.string());
    Ended = std::make_unique<std::atomic<bool>[]>(outputs.size());
    for (std::size_t i = 0; i < outputs.size(); ++i)
        Ended[i] = false;
    PendingCount = outputs.size();
}

void MarkOutputEnded(int index) {
    if (index >= 0 && static_cast<std::size_t>(index) < PendingCount.load())
        Ended[index] = true;
}
