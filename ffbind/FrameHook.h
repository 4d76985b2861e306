// The video-hook chain: loads picture-processing modules (FrameHookModule.h), configures each
// with its arguments and runs them in order over every hooked picture. A module file is loaded
// once per process and stays loaded; each added hook has its own context.
#ifndef SOUNDPICK_FFBIND_FRAMEHOOK_H
#define SOUNDPICK_FFBIND_FRAMEHOOK_H

#include "FrameHookModule.h"

#include <cstdint>
#include <vector>

// One configured hook of a chain.
struct TFrameHookEntry {
    TFrameHookConfigure Configure = nullptr;
    TFrameHookProcess Process = nullptr;
    TFrameHookRelease Release = nullptr;
    void* Ctx = nullptr; // the module's own context, set by Configure
};

// The hooks in the order they were added. Destroying a chain releases its hooks.
class TFrameHookChain {
public:
    TFrameHookChain() = default;
    ~TFrameHookChain();
    TFrameHookChain(const TFrameHookChain&) = delete;
    TFrameHookChain& operator=(const TFrameHookChain&) = delete;

    bool Empty() const { return Entries.empty(); }
    int Count() const { return static_cast<int>(Entries.size()); }

    std::vector<TFrameHookEntry> Entries;
};

// Loads the module argv[0] (from the cache when loaded before), configures a new hook with the
// whole argument vector and appends it. Returns 0, or -2 (no arguments, or the module lacks
// Process, or Configure while arguments are given), -1 (the module cannot be loaded), -12 (no
// memory) or -22 (Configure refused). Failures other than -2 for no arguments and -12 are
// written to the library log.
// While loading, the module's folder is the current directory and is put in front of
// LD_LIBRARY_PATH for the programs this process starts; the current directory is restored.
int AddFrameHook(TFrameHookChain& chain, int argc, char* argv[]);

// Calls every hook's Process, in chain order, with its context and these values.
void RunFrameHooks(const TFrameHookChain& chain, TFrameHookPicture* picture, int pixelFormat,
                   int width, int height, int64_t pts);

// Calls every hook's Release (when the module has one) and empties the chain.
void FreeFrameHooks(TFrameHookChain& chain);

#endif
