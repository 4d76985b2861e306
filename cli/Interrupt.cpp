// The interrupt handler of soundpick-cli: only async-signal-safe calls in the handler.
#include "cli/Interrupt.h"

#include <array>
#include <atomic>
#include <csignal>
#include <cstring>
#include <memory>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace {

std::atomic<int> Requests{0};

// The tasks' files in chunks that are made on the batch's thread as tasks are added (a folder's
// tasks are found while the run goes on) and kept to the end, so the handler never meets a
// moved or freed entry. An entry is written once, before its Armed flag is set, and the handler
// reads only armed entries.
struct TPendingOutput {
    std::string Path;
    TFileIdentity Identity;
    std::atomic<bool> Armed{false};
    std::atomic<bool> Ended{false};
};
constexpr std::size_t OutputsPerChunk = 4096;
constexpr std::size_t MaxChunks = 4096;
std::array<std::atomic<TPendingOutput*>, MaxChunks> Chunks{};
std::array<std::unique_ptr<TPendingOutput[]>, MaxChunks> OwnedChunks;

// The entry of a task, or nullptr when its chunk is not made (with make, made now: batch thread
// only).
TPendingOutput* Entry(std::size_t index, bool make) {
    const std::size_t chunk = index / OutputsPerChunk;
    if (chunk >= MaxChunks)
        return nullptr;
    if (!Chunks[chunk].load() && make) {
        OwnedChunks[chunk] = std::make_unique<TPendingOutput[]>(OutputsPerChunk);
        Chunks[chunk] = OwnedChunks[chunk].get();
    }
    TPendingOutput* entries = Chunks[chunk].load();
    return entries ? &entries[index % OutputsPerChunk] : nullptr;
}

void WriteText(const char* text) {
    const ssize_t written = write(STDERR_FILENO, text, std::strlen(text));
    (void)written;
}

// Whether the file at the entry's name is still the one the task created (lstat is safe in a
// signal handler).
bool StillCreated(const TPendingOutput& entry) {
    struct stat status;
    return lstat(entry.Path.c_str(), &status) == 0 && status.st_dev == entry.Identity.Device &&
           status.st_ino == entry.Identity.Inode;
}

void OnInterrupt(int) {
    if (Requests.fetch_add(1) == 0)
        return;
    WriteText("\nsoundpick-cli: interrupted\n");
    for (std::size_t chunk = 0; chunk < MaxChunks; ++chunk) {
        TPendingOutput* entries = Chunks[chunk].load();
        for (std::size_t i = 0; entries && i < OutputsPerChunk; ++i)
            if (entries[i].Armed.load() && !entries[i].Ended.load() && StillCreated(entries[i]))
                unlink(entries[i].Path.c_str());
    }
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
    for (std::size_t chunk = 0; chunk < MaxChunks; ++chunk)
        for (std::size_t i = 0; Chunks[chunk].load() && i < OutputsPerChunk; ++i)
            Chunks[chunk].load()[i].Armed = Chunks[chunk].load()[i].Ended = false;
    if (count > 0)
        Entry(count - 1, true);
}

void SetCreatedOutput(int index, const std::filesystem::path& created,
                      const TFileIdentity& identity) {
    TPendingOutput* entry = index >= 0 ? Entry(static_cast<std::size_t>(index), true) : nullptr;
    if (!entry || entry->Armed)
        return;
    entry->Path = created.string();
    entry->Identity = identity;
    entry->Armed = true;
}

void MarkOutputEnded(int index) {
    if (TPendingOutput* entry =
            index >= 0 ? Entry(static_cast<std::size_t>(index), false) : nullptr)
        entry->Ended = true;
}
