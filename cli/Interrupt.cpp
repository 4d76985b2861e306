// The interrupt handler of soundpick-cli: only async-signal-safe calls in the handler.
#include "cli/Interrupt.h"

#include <atomic>
#include <csignal>
#include <cstring>
#include <memory>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

std::atomic<int> Requests{0};

// Sized before the run starts; an entry is written once, before its Armed flag is set, and the
// handler reads only armed entries.
std::vector<std::string> PendingPaths;
std::unique_ptr<std::atomic<bool>[]> Armed;
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
        if (Armed[i].load() && !Ended[i].load())
            unlink(PendingPaths[i].c_str());
    _exit(1);
}

} // namespace

void InstallInterruptHandler() {
    struct sigaction action {};
    action.sa_handler = OnInterrupt;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (const int signal : {SIGINT, SIGTERM, SIGHUP})
        sigaction(signal, &action, nullptr);
    // A reader that went away (a pipe into "head") ends what is printed, not the conversions:
    // writes to it fail and are dropped.
    std::signal(SIGPIPE, SIG_IGN);
}

int InterruptRequests() {
    return Requests.load();
}

void SetPendingOutputs(std::size_t count) {
    PendingCount = 0;
    PendingPaths.assign(count, {});
    Armed = std::make_unique<std::atomic<bool>[]>(count);
    Ended = std::make_unique<std::atomic<bool>[]>(count);
    for (std::size_t i = 0; i < count; ++i)
        Armed[i] = Ended[i] = false;
    PendingCount = count;
}

void SetCreatedOutput(int index, const std::filesystem::path& created) {
    if (index < 0 || static_cast<std::size_t>(index) >= PendingCount.load() || Armed[index])
        return;
    PendingPaths[index] = created.string();
    Armed[index] = true;
}

void MarkOutputEnded(int index) {
    if (index >= 0 && static_cast<std::size_t>(index) < PendingCount.load())
        Ended[index] = true;
}
