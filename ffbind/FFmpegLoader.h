// Loads the FFmpeg libraries and the companion library at run time and binds every entry point
// of FFmpegEntryPoints.h; reports failures as texts. One instance per process (Loader()), safe to
// use from any thread: loading and unloading take turns, and whether a library is loaded is
// answered at once, also while another thread loads.
#ifndef SOUNDPICK_FFBIND_FFMPEGLOADER_H
#define SOUNDPICK_FFBIND_FFMPEGLOADER_H

#include <atomic>
#include <bitset>
#include <filesystem>
#include <initializer_list>
#include <mutex>
#include <string>

using TPathFileName = std::filesystem::path;

// The kinds of library, in the order of sets, bits and reports. Opening follows the libraries'
// dependencies instead (see LoadOrder in the implementation).
enum TLibraryKind {
    LibAVCodec,
    LibAVDevice,
    LibAVFilter,
    LibAVFormat,
    LibAVUtil,
    LibSwScale,
    LibSwResample,
    LibMyUtil,
    LibSDL,
    LibraryKindCount
};

// A set of library kinds: bit n is kind n.
class TLibraryKinds {
public:
    TLibraryKinds() = default;
    TLibraryKinds(std::initializer_list<TLibraryKind> kinds) {
        for (TLibraryKind kind : kinds)
            Bits.set(kind);
    }
    bool Contains(TLibraryKind kind) const { return Bits.test(kind); }
    bool Empty() const { return Bits.none(); }

private:
    std::bitset<LibraryKindCount> Bits;
};

// The set the conversion component loads, checks and unloads.
extern const TLibraryKinds DefaultLibraries;

class TFFmpegLoader {
public:
    TFFmpegLoader();
    ~TFFmpegLoader();
    TFFmpegLoader(const TFFmpegLoader&) = delete;
    TFFmpegLoader& operator=(const TFFmpegLoader&) = delete;

    // Folder to load from; empty means the system's library search.
    void SetLibraryPath(const TPathFileName& path);

    // Loads and binds every kind of the set (not empty); on the first failure the whole set is
    // unloaded and false returned, GetLastErrorMessage() telling why.
    bool LoadLibs(const TLibraryKinds& kinds);
    bool LoadLib(TLibraryKind kind);
    // Loaded and bound: its entry points may be called.
    bool LibLoaded(TLibraryKind kind) const;
    bool LibsLoaded(const TLibraryKinds& kinds) const;
    void UnloadLibs(const TLibraryKinds& kinds);
    void UnloadLib(TLibraryKind kind);

    // The last failure text; a success leaves it unchanged.
    std::string GetLastErrorMessage() const;

    // The file name formed for a kind (libavcodec.so.59, libmyutil.so, ...).
    static std::string LibraryFileName(TLibraryKind kind);

    // Install the log bridge when avutil comes up (true from construction).
    bool HookLog = true;

private:
    struct TLibraryStatus {
        void* Handle = nullptr;
        void* Companion = nullptr; // a dependency opened from the folder for this kind
        bool Bound = false;
        // Set once bound and its set-up done, cleared before it is unbound: read without the
        // lock, and what the loading thread bound is seen by the thread that reads it set.
        std::atomic<bool> Ready = false;
    };

    bool LoadOne(TLibraryKind kind);
    void UnloadOne(TLibraryKind kind);
    void UnloadAll(const TLibraryKinds& kinds);
    void* LoadModule(const TPathFileName& folder, const std::string& name, std::string& error);
    void* OpenCompanion(TLibraryKind kind);
    void AfterLoad(TLibraryKind kind);

    int SavedExceptions;      // floating-point traps enabled before construction
    mutable std::mutex Mutex; // held by a load or an unload, and around the texts below
    TPathFileName LibraryPath;
    std::string LastErrorMessage;
    TLibraryStatus Status[LibraryKindCount];
};

// The single loader of the process.
TFFmpegLoader& Loader();

// The lock held around codec opening and closing and stream-information probing by every engine
// and the probe. Workers hand log lines to the main thread while they hold it, so on the main
// thread lock() keeps serving those hand-overs while it waits instead of blocking them.
// Take it with std::lock_guard guard(CodecLock()).
class TCodecLock {
public:
    void lock();
    void unlock() { Mutex.unlock(); }
    bool try_lock() { return Mutex.try_lock(); }

private:
    std::mutex Mutex;
};

TCodecLock& CodecLock();

#endif
