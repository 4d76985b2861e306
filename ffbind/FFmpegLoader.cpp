// Run-time loading of the FFmpeg libraries with dlopen and binding of their entry points.
#include "FFmpegLoader.h"

#include "Assertion.h"
#include "FFmpegApi.h"
#include "FFmpegLogger.h"
#include "MainThread.h"
#include "ModuleSymbol.h"
#include "TextUtils.h"
#include "UnicodeProtocol.h"

#include <algorithm>
#include <cstdlib>
#include <dlfcn.h>
#include <fenv.h>
#include <link.h>
#include <stdexcept>
#include <unistd.h>

namespace {

constexpr const char* Unit = "FFmpegLoader";

struct TLibraryItem {
    TLibraryKind Kind;
    const char* BaseName;
    int Version; // appended as ".so.<n>"; negative: plain ".so"
};

// One row per kind, in kind order.
constexpr TLibraryItem LibraryTable[LibraryKindCount] = {
    {LibAVCodec, "avcodec", LIBAVCODEC_VERSION_MAJOR},
    {LibAVDevice, "avdevice", LIBAVDEVICE_VERSION_MAJOR},
    {LibAVFilter, "avfilter", LIBAVFILTER_VERSION_MAJOR},
    {LibAVFormat, "avformat", LIBAVFORMAT_VERSION_MAJOR},
    {LibAVUtil, "avutil", LIBAVUTIL_VERSION_MAJOR},
    {LibSwScale, "swscale", LIBSWSCALE_VERSION_MAJOR},
    {LibSwResample, "swresample", LIBSWRESAMPLE_VERSION_MAJOR},
    {LibMyUtil, "myutil", -1},
    {LibSDL, "SDL-1.2", 0},
};

// Opening order: every library after the ones it needs, so that a library found in the folder
// satisfies the others' dependencies instead of the system's copy.
constexpr TLibraryKind LoadOrder[LibraryKindCount] = {
    LibAVUtil,   LibSwResample, LibSwScale, LibAVCodec, LibAVFormat,
    LibAVFilter, LibAVDevice,   LibMyUtil,  LibSDL,
};

// Debian's avfilter needs libpostproc, which has no kind of its own: a copy in the folder is
// opened before avfilter so that the folder's set stays whole.
constexpr const char* PostprocFileName = "libpostproc.so.56";

// SDL is bound only for the check that a build has every name; nothing calls it.
constexpr const char* SdlEntryPoints[] = {
    "SDL_Init",
    "SDL_Quit",
    "SDL_GetError",
    "SDL_AddTimer",
    "SDL_OpenAudio",
    "SDL_PauseAudio",
    "SDL_CloseAudio",
    "SDL_MixAudio",
    "SDL_WaitEvent",
    "SDL_PushEvent",
    "SDL_EventState",
    "SDL_GetVideoInfo",
    "SDL_SetVideoMode",
    "SDL_UpdateRect",
    "SDL_MapRGB",
    "SDL_FillRect",
    "SDL_CreateYUVOverlay",
    "SDL_LockYUVOverlay",
    "SDL_UnlockYUVOverlay",
    "SDL_DisplayYUVOverlay",
    "SDL_FreeYUVOverlay",
    "SDL_CreateMutex",
    "SDL_mutexP",
    "SDL_mutexV",
    "SDL_DestroyMutex",
    "SDL_CreateCond",
    "SDL_DestroyCond",
    "SDL_CondSignal",
    "SDL_CondWait",
    "SDL_CreateThread",
    "SDL_WaitThread",
};
void* SdlBound[std::size(SdlEntryPoints)];

// The system's message with trailing blanks, line breaks and full stops removed.
std::string SystemMessage(const char* text) {
    std::string message = text ? text : "unknown error";
    while (!message.empty() &&
           (static_cast<unsigned char>(message.back()) < '!' || message.back() == '.'))
        message.pop_back();
    return message;
}

std::string LibraryPathOf(void* handle, const std::string& fileName) {
    link_map* library = nullptr;
    return dlinfo(handle, RTLD_DI_LINKMAP, &library) == 0 && library->l_name && *library->l_name
               ? library->l_name
               : fileName;
}

template <typename TFunction>
void BindEntryPoint(void* handle, const char* name, const std::string& fileName, TFunction& slot) {
    dlerror();
    void* address = dlsym(handle, name);
    std::string error;
    if (!address) {
        const char* text = dlerror();
        error = text ? text : LibraryPathOf(handle, fileName) + ": undefined symbol: " + name;
    } else if (!DefinedInModule(handle, address)) {
        // Found in a library this one depends on: this build lacks it.
        error = LibraryPathOf(handle, fileName) + ": undefined symbol: " + name;
    }
    if (!error.empty())
        throw std::runtime_error("Load function " + std::string(name) + "@" + fileName +
                                 " error: " + SystemMessage(error.c_str()));
    slot = reinterpret_cast<TFunction>(address);
}

void CheckMajorVersion(unsigned version, int expected, const std::string& fileName) {
    if (static_cast<int>(version >> 16) != expected)
        throw std::runtime_error("Load library " + fileName + " error: version " +
                                 std::to_string(version >> 16) + " found, " +
                                 std::to_string(expected) + " needed");
}

#define SP_BIND(name) BindEntryPoint(handle, #name, fileName, ff::name);
#define SP_UNBIND(name) ff::name = nullptr;

void Bind(TLibraryKind kind, const std::string& fileName, void* handle) {
    switch (kind) {
    case LibAVUtil:
        SP_AVUTIL_ENTRY_POINTS(SP_BIND)
        CheckMajorVersion(ff::avutil_version(), LIBAVUTIL_VERSION_MAJOR, fileName);
        break;
    case LibSwResample:
        SP_SWRESAMPLE_ENTRY_POINTS(SP_BIND)
        CheckMajorVersion(ff::swresample_version(), LIBSWRESAMPLE_VERSION_MAJOR, fileName);
        break;
    case LibSwScale:
        SP_SWSCALE_ENTRY_POINTS(SP_BIND)
        CheckMajorVersion(ff::swscale_version(), LIBSWSCALE_VERSION_MAJOR, fileName);
        break;
    case LibAVCodec:
        SP_AVCODEC_ENTRY_POINTS(SP_BIND)
        CheckMajorVersion(ff::avcodec_version(), LIBAVCODEC_VERSION_MAJOR, fileName);
        break;
    case LibAVFormat:
        SP_AVFORMAT_ENTRY_POINTS(SP_BIND)
        CheckMajorVersion(ff::avformat_version(), LIBAVFORMAT_VERSION_MAJOR, fileName);
        break;
    case LibAVFilter:
        SP_AVFILTER_ENTRY_POINTS(SP_BIND)
        CheckMajorVersion(ff::avfilter_version(), LIBAVFILTER_VERSION_MAJOR, fileName);
        break;
    case LibAVDevice:
        SP_AVDEVICE_ENTRY_POINTS(SP_BIND)
        CheckMajorVersion(ff::avdevice_version(), LIBAVDEVICE_VERSION_MAJOR, fileName);
        ff::avdevice_register_all();
        break;
    case LibMyUtil:
        SP_MYUTIL_ENTRY_POINTS(SP_BIND)
        break;
    case LibSDL:
        for (std::size_t i = 0; i < std::size(SdlEntryPoints); ++i)
            BindEntryPoint(handle, SdlEntryPoints[i], fileName, SdlBound[i]);
        break;
    case LibraryKindCount:
        break;
    }
}

void Unbind(TLibraryKind kind) {
    switch (kind) {
    case LibAVUtil:
        SP_AVUTIL_ENTRY_POINTS(SP_UNBIND)
        break;
    case LibSwResample:
        SP_SWRESAMPLE_ENTRY_POINTS(SP_UNBIND)
        break;
    case LibSwScale:
        SP_SWSCALE_ENTRY_POINTS(SP_UNBIND)
        break;
    case LibAVCodec:
        SP_AVCODEC_ENTRY_POINTS(SP_UNBIND)
        break;
    case LibAVFormat:
        SP_AVFORMAT_ENTRY_POINTS(SP_UNBIND)
        break;
    case LibAVFilter:
        SP_AVFILTER_ENTRY_POINTS(SP_UNBIND)
        break;
    case LibAVDevice:
        SP_AVDEVICE_ENTRY_POINTS(SP_UNBIND)
        break;
    case LibMyUtil:
        SP_MYUTIL_ENTRY_POINTS(SP_UNBIND)
        break;
    case LibSDL:
        std::fill(std::begin(SdlBound), std::end(SdlBound), nullptr);
        break;
    case LibraryKindCount:
        break;
    }
}

#undef SP_BIND
#undef SP_UNBIND

// Puts the folder in front of the library search path of the programs this process starts,
// unless it is already named there in any letter case.
void PrependToSearchPath(const std::string& folder) {
    const char* old = std::getenv("LD_LIBRARY_PATH");
    const std::string oldValue = old ? old : "";
    if (UpperCase(oldValue).find(UpperCase(folder)) != std::string::npos)
        return;
    const std::string value = oldValue.empty() ? folder : folder + ":" + oldValue;
    setenv("LD_LIBRARY_PATH", value.c_str(), 1);
}

// Restores the current directory when it goes out of scope, on every path.
class TCurrentDirectoryGuard {
public:
    TCurrentDirectoryGuard() : Saved(std::filesystem::current_path(Error)) {}
    ~TCurrentDirectoryGuard() {
        if (!Saved.empty())
            std::filesystem::current_path(Saved, Error);
    }

private:
    std::error_code Error;
    std::filesystem::path Saved;
};

bool IsFileIn(const TPathFileName& folder, const std::string& name) {
    std::error_code error;
    return !folder.empty() && std::filesystem::is_regular_file(folder / name, error);
}

std::string FolderText(const TPathFileName& folder) {
    std::string text = folder.string();
    if (!text.empty() && text.back() != '/')
        text += '/';
    return text;
}

} // namespace

const TLibraryKinds DefaultLibraries = {LibAVCodec, LibAVFilter,   LibAVFormat, LibAVUtil,
                                        LibSwScale, LibSwResample, LibMyUtil};

TFFmpegLoader::TFFmpegLoader() : SavedExceptions(fegetexcept()) {
    // Arithmetic inside the libraries must never trap in the host.
    fedisableexcept(FE_ALL_EXCEPT);
}

TFFmpegLoader::~TFFmpegLoader() {
    feenableexcept(SavedExceptions);
}

void TFFmpegLoader::SetLibraryPath(const TPathFileName& path) {
    std::lock_guard guard(Mutex);
    LibraryPath = path;
}

std::string TFFmpegLoader::LibraryFileName(TLibraryKind kind) {
    const TLibraryItem& item = LibraryTable[kind];
    std::string name = std::string("lib") + item.BaseName + ".so";
    if (item.Version >= 0)
        name += "." + std::to_string(item.Version);
    return name;
}

void* TFFmpegLoader::LoadModule(const TPathFileName& folder, const std::string& name,
                                std::string& error) {
    void* handle = nullptr;
    if (IsFileIn(folder, name)) {
        TCurrentDirectoryGuard directoryGuard;
        std::error_code ignored;
        // Taken before the folder becomes the current directory, which a relative folder
        // would then no longer name; started programs need the absolute folder as well.
        const TPathFileName file = std::filesystem::absolute(folder / name, ignored);
        std::filesystem::current_path(folder, ignored);
        PrependToSearchPath(file.parent_path().string());
        handle = dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
    } else {
        handle = dlopen(name.c_str(), RTLD_NOW | RTLD_LOCAL);
    }
    if (!handle)
        error = SystemMessage(dlerror());
    return handle;
}

void* TFFmpegLoader::OpenCompanion(TLibraryKind kind) {
    if (kind != LibAVFilter || !IsFileIn(LibraryPath, PostprocFileName))
        return nullptr;
    std::string ignored;
    return LoadModule(LibraryPath, PostprocFileName, ignored);
}

bool TFFmpegLoader::LoadLib(TLibraryKind kind) {
    std::lock_guard guard(Mutex);
    return LoadOne(kind);
}

bool TFFmpegLoader::LoadOne(TLibraryKind kind) {
    TLibraryStatus& status = Status[kind];
    const std::string fileName = LibraryFileName(kind);
    if (!status.Handle) {
        status.Companion = OpenCompanion(kind);
        std::string error;
        status.Handle = LoadModule(LibraryPath, fileName, error);
        if (!status.Handle) {
            if (status.Companion)
                dlclose(status.Companion);
            status.Companion = nullptr;
            LastErrorMessage =
                "Load library " + FolderText(LibraryPath) + fileName + " error: " + error;
            return false;
        }
    }
    if (!status.Bound) {
        try {
            Bind(kind, fileName, status.Handle);
            status.Bound = true;
        } catch (const std::exception& e) {
            LastErrorMessage = e.what();
            // The names bound before the failing one would point into the freed module.
            Unbind(kind);
        }
    }
    if (!status.Bound) {
        UnloadOne(kind);
        return false;
    }
    AfterLoad(kind);
    status.Ready = true;
    return true;
}

void TFFmpegLoader::AfterLoad(TLibraryKind kind) {
    if (kind == LibAVUtil && HookLog)
        GetLogger()->InstallCallback();
    if (kind == LibAVFormat)
        RegisterUnicodeProtocol();
}

bool TFFmpegLoader::LoadLibs(const TLibraryKinds& kinds) {
    SP_ASSERT(!kinds.Empty(), "Assertion failure", Unit);
    std::lock_guard guard(Mutex);
    for (TLibraryKind kind : LoadOrder) {
        if (kinds.Contains(kind) && !LoadOne(kind)) {
            UnloadAll(kinds);
            return false;
        }
    }
    return true;
}

bool TFFmpegLoader::LibLoaded(TLibraryKind kind) const {
    return Status[kind].Ready;
}

bool TFFmpegLoader::LibsLoaded(const TLibraryKinds& kinds) const {
    SP_ASSERT(!kinds.Empty(), "Assertion failure", Unit);
    for (int kind = 0; kind < LibraryKindCount; ++kind)
        if (kinds.Contains(TLibraryKind(kind)) && !LibLoaded(TLibraryKind(kind)))
            return false;
    return true;
}

void TFFmpegLoader::UnloadLib(TLibraryKind kind) {
    std::lock_guard guard(Mutex);
    UnloadOne(kind);
}

void TFFmpegLoader::UnloadOne(TLibraryKind kind) {
    TLibraryStatus& status = Status[kind];
    status.Ready = false;
    if (status.Bound) {
        Unbind(kind);
        status.Bound = false;
    }
    if (status.Handle) {
        dlclose(status.Handle);
        status.Handle = nullptr;
    }
    if (status.Companion) {
        dlclose(status.Companion);
        status.Companion = nullptr;
    }
}

void TFFmpegLoader::UnloadLibs(const TLibraryKinds& kinds) {
    SP_ASSERT(!kinds.Empty(), "Assertion failure", Unit);
    std::lock_guard guard(Mutex);
    UnloadAll(kinds);
}

void TFFmpegLoader::UnloadAll(const TLibraryKinds& kinds) {
    // Dependents first, so that a library is never closed under one that still needs it.
    for (auto kind = std::rbegin(LoadOrder); kind != std::rend(LoadOrder); ++kind)
        if (kinds.Contains(*kind))
            UnloadOne(*kind);
}

std::string TFFmpegLoader::GetLastErrorMessage() const {
    std::lock_guard guard(Mutex);
    return LastErrorMessage;
}

TFFmpegLoader& Loader() {
    static TFFmpegLoader loader;
    return loader;
}

void TCodecLock::lock() {
    // The lock stays held when the guard returned by the wait is released.
    LockServingMainThread(Mutex).release();
}

TCodecLock& CodecLock() {
    static TCodecLock lock;
    return lock;
}
