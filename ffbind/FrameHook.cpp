// Loading, running and releasing video-hook modules.
#include "FrameHook.h"

#include "FFmpegApi.h"
#include "ModuleSymbol.h"

#include <dlfcn.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <list>
#include <mutex>
#include <new>
#include <string>
#include <utility>

namespace {

// The modules loaded so far, by the name they were asked for. Modules are never unloaded: a
// picture may still be in a module's hands when an engine ends, and their code stays valid.
struct TModuleCache {
    std::mutex Lock;
    std::list<std::pair<std::string, void*>> Modules;
};

TModuleCache& ModuleCache() {
    // Deliberately leaked: it must outlive every engine, and the handles stay open.
    static TModuleCache* cache = new TModuleCache;
    return *cache;
}

// The folder part of a module name, with its trailing slash; empty without one.
std::string FolderOf(const std::string& name) {
    const std::string::size_type slash = name.rfind('/');
    return slash == std::string::npos ? std::string() : name.substr(0, slash + 1);
}

// Makes a folder current for its lifetime and puts it in front of the search-path variable.
class TFolderScope {
public:
    explicit TFolderScope(const std::string& folder) {
        if (folder.empty())
            return;
        std::error_code error;
        Saved = std::filesystem::current_path(error);
        if (error || chdir(folder.c_str()) != 0)
            Saved.clear();
        PrependSearchPath(folder);
    }
    ~TFolderScope() {
        if (!Saved.empty() && chdir(Saved.c_str()) != 0)
            ff::av_log(nullptr, AV_LOG_ERROR, "Cannot restore the current directory %s\n",
                       Saved.c_str());
    }
    TFolderScope(const TFolderScope&) = delete;
    TFolderScope& operator=(const TFolderScope&) = delete;

private:
    static void PrependSearchPath(const std::string& folder) {
        const char* old = std::getenv("LD_LIBRARY_PATH");
        const std::string value = old ? old : "";
        if (value.find(folder) != std::string::npos)
            return;
        // An empty element would mean the current directory: never leave one behind.
        const std::string updated = value.empty() ? folder : folder + ":" + value;
        setenv("LD_LIBRARY_PATH", updated.c_str(), 1);
    }

    std::filesystem::path Saved;
};

// The name to hand to the dynamic loader: an existing file by its absolute path (so changing
// the current directory cannot lose it), anything else as given (the system's search).
std::string LoadableName(const std::string& name) {
    std::error_code error;
    if (!std::filesystem::is_regular_file(name, error))
        return name;
    const std::filesystem::path absolute = std::filesystem::absolute(name, error);
    return error ? name : absolute.string();
}

// The dynamic loader's last message; taking it twice frees the loader's copy of it.
std::string TakeLoaderError() {
    const char* message = dlerror();
    const std::string text = message ? message : "cannot load module";
    dlerror();
    return text;
}

// An entry point of the module itself; null when it has none.
template <typename T> T Resolve(void* module, const char* name) {
    return reinterpret_cast<T>(ModuleSymbol(module, name));
}

// The cached or newly loaded module; null after logging the loader's message.
void* LoadModule(const std::string& name) {
    TModuleCache& cache = ModuleCache();
    std::lock_guard<std::mutex> guard(cache.Lock);
    for (const auto& [cachedName, handle] : cache.Modules)
        if (cachedName == name)
            return handle;
    const std::string loadable = LoadableName(name);
    TFolderScope folder(FolderOf(name));
    dlerror();
    void* handle = dlopen(loadable.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle) {
        ff::av_log(nullptr, AV_LOG_ERROR, "%s\n", TakeLoaderError().c_str());
        return nullptr;
    }
    cache.Modules.emplace_back(name, handle);
    return handle;
}

} // namespace

int AddFrameHook(TFrameHookChain& chain, int argc, char* argv[]) {
    if (argc <= 0 || !argv || !argv[0])
        return AVERROR(ENOENT);
    void* module = LoadModule(argv[0]);
    if (!module)
        return -1;

    TFrameHookEntry entry;
    entry.Configure = Resolve<TFrameHookConfigure>(module, "Configure");
    entry.Process = Resolve<TFrameHookProcess>(module, "Process");
    entry.Release = Resolve<TFrameHookRelease>(module, "Release");
    if (!entry.Process) {
        ff::av_log(nullptr, AV_LOG_ERROR, "Failed to find Process entrypoint in %s\n", argv[0]);
        return AVERROR(ENOENT);
    }
    if (!entry.Configure && argc > 1) {
        ff::av_log(nullptr, AV_LOG_ERROR, "Failed to find Configure entrypoint in %s\n", argv[0]);
        return AVERROR(ENOENT);
    }
    try {
        chain.Entries.reserve(chain.Entries.size() + 1);
    } catch (const std::bad_alloc&) {
        return AVERROR(ENOMEM);
    }
    if (entry.Configure && entry.Configure(&entry.Ctx, argc, argv) != 0) {
        ff::av_log(nullptr, AV_LOG_ERROR, "Failed to Configure %s\n", argv[0]);
        return AVERROR(EINVAL);
    }
    chain.Entries.push_back(entry);
    return 0;
}

void RunFrameHooks(const TFrameHookChain& chain, TFrameHookPicture* picture, int pixelFormat,
                   int width, int height, int64_t pts) {
    for (const TFrameHookEntry& entry : chain.Entries)
        entry.Process(entry.Ctx, picture, pixelFormat, width, height, pts);
}

void FreeFrameHooks(TFrameHookChain& chain) {
    for (const TFrameHookEntry& entry : chain.Entries)
        if (entry.Release)
            entry.Release(entry.Ctx);
    chain.Entries.clear();
}

TFrameHookChain::~TFrameHookChain() {
    FreeFrameHooks(*this);
}
