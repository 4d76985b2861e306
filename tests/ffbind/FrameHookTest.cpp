// The video-hook chain: loading, the module cache, refusals with their log lines, the search
// path and current directory, and the sample module's effect on a picture.
#include "ffbind/FrameHook.h"

#include "ffbind/FFmpegApi.h"
#include "ffbind/FFmpegLogger.h"
#include "support/TestLibs.h"

#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

namespace {

std::string TestHook(const std::string& shape) {
    return (ExecutableFolder() / "testhooks" / ("testhook_" + shape + ".so")).string();
}
std::string SampleModule() {
    return (ExecutableFolder() / "vhook" / "invert.so").string();
}

// Adds a hook from a list of texts, as the engine's option does.
int Add(TFrameHookChain& chain, std::vector<std::string> args) {
    std::vector<char*> argv;
    for (std::string& arg : args)
        argv.push_back(arg.data());
    return AddFrameHook(chain, static_cast<int>(argv.size()), argv.data());
}

// A counter or pointer exported by a test module already loaded by the chain.
template <typename T> T& ModuleSymbol(const std::string& module, const char* name) {
    void* handle = dlopen(module.c_str(), RTLD_NOW | RTLD_NOLOAD);
    EXPECT_NE(handle, nullptr) << module << " is not loaded";
    T* symbol = static_cast<T*>(dlsym(handle, name));
    dlclose(handle);
    return *symbol;
}

// Collects the library log lines written while it lives.
class TLogCapture {
public:
    TLogCapture() {
        GetLogger()->SetLogLevel(llDebug);
        GetLogger()->SetOnLog(
            [this](const void*, unsigned, TLogLevel level, const std::string& line) {
                if (level == llError)
                    Lines.push_back(line);
            });
    }
    ~TLogCapture() { GetLogger()->SetOnLog(nullptr); }
    bool Contains(const std::string& text) const {
        for (const std::string& line : Lines)
            if (line.find(text) != std::string::npos)
                return true;
        return false;
    }
    std::vector<std::string> Lines;
};

class FrameHookTest : public ::testing::Test {
protected:
    void SetUp() override { EnsureLibsLoaded(); }
};

} // namespace

// One module file added twice is loaded once; each hook has its own context and release.
TEST_F(FrameHookTest, SameModuleTwiceIsLoadedOnceWithTwoContexts) {
    const std::string module = TestHook("full");
    {
        TFrameHookChain chain;
        ASSERT_EQ(Add(chain, {module, "a"}), 0);
        ASSERT_EQ(Add(chain, {module, "b", "c"}), 0);
        ASSERT_EQ(chain.Count(), 2);
        EXPECT_EQ(ModuleSymbol<int>(module, "TestHookLoads"), 1);
        EXPECT_EQ(ModuleSymbol<int>(module, "TestHookConfigures"), 2);
        ASSERT_NE(chain.Entries[0].Ctx, chain.Entries[1].Ctx);
        EXPECT_EQ(*static_cast<int*>(chain.Entries[0].Ctx), 2);
        EXPECT_EQ(*static_cast<int*>(chain.Entries[1].Ctx), 3);

        TFrameHookPicture picture{};
        RunFrameHooks(chain, &picture, AV_PIX_FMT_YUV420P, 16, 16, 1234);
        EXPECT_EQ(ModuleSymbol<int>(module, "TestHookProcesses"), 2);
        // Chain order: the last call went to the second hook.
        EXPECT_EQ(ModuleSymbol<void*>(module, "TestHookLastContext"), chain.Entries[1].Ctx);
        EXPECT_EQ(ModuleSymbol<int64_t>(module, "TestHookLastPts"), 1234);
    }
    // Destroying the chain released both hooks; the module stays loaded.
    EXPECT_EQ(ModuleSymbol<int>(module, "TestHookReleases"), 2);
    TFrameHookChain again;
    ASSERT_EQ(Add(again, {module}), 0);
    EXPECT_EQ(ModuleSymbol<int>(module, "TestHookLoads"), 1);
    FreeFrameHooks(again);
    EXPECT_TRUE(again.Empty());
}

// Without Configure a lone file name is accepted and Process sees a null context; extra
// arguments are refused.
TEST_F(FrameHookTest, ModuleWithoutConfigure) {
    TLogCapture log;
    const std::string module = TestHook("no_configure");
    TFrameHookChain chain;
    ASSERT_EQ(Add(chain, {module}), 0);
    TFrameHookPicture picture{};
    RunFrameHooks(chain, &picture, AV_PIX_FMT_YUV420P, 16, 16, 0);
    EXPECT_EQ(ModuleSymbol<void*>(module, "TestHookLastContext"), nullptr);

    EXPECT_EQ(Add(chain, {module, "extra"}), -2);
    EXPECT_TRUE(log.Contains("Failed to find Configure entrypoint in " + module));
    EXPECT_EQ(chain.Count(), 1);
}

// Entry points come from the module itself, never from a library it depends on.
TEST_F(FrameHookTest, DependencyEntryPointsAreNotTaken) {
    TLogCapture log;
    const std::string module = TestHook("borrowing");
    TFrameHookChain chain;
    EXPECT_EQ(Add(chain, {module, "extra"}), -2);
    EXPECT_TRUE(log.Contains("Failed to find Configure entrypoint in " + module));
    ASSERT_EQ(Add(chain, {module}), 0);
    EXPECT_EQ(chain.Entries[0].Configure, nullptr);
    EXPECT_EQ(chain.Entries[0].Release, nullptr);
}

// Each refusal returns its code and, but for the empty vector, leaves its line in the log.
TEST_F(FrameHookTest, RefusalsReturnTheirCodesAndLogTheirLines) {
    TLogCapture log;
    TFrameHookChain chain;
    EXPECT_EQ(AddFrameHook(chain, 0, nullptr), -2);

    EXPECT_EQ(Add(chain, {TestHook("no_process")}), -2);
    EXPECT_TRUE(log.Contains("Failed to find Process entrypoint in " + TestHook("no_process")));

    EXPECT_EQ(Add(chain, {TestHook("full"), "refuse"}), -22);
    EXPECT_TRUE(log.Contains("Failed to Configure " + TestHook("full")));

    const std::string missing = (ExecutableFolder() / "testhooks" / "missing.so").string();
    EXPECT_EQ(Add(chain, {missing}), -1);
    EXPECT_TRUE(log.Contains("missing.so"));

    // Not a shared object at all.
    EXPECT_EQ(Add(chain, {(ExecutableFolder() / "testhooks").string()}), -1);
    EXPECT_TRUE(chain.Empty());
}

// Loading from a folder puts it first in the search path and leaves the current directory.
TEST_F(FrameHookTest, FolderGoesFirstInSearchPathAndCurrentDirectoryStays) {
    const std::filesystem::path before = std::filesystem::current_path();
    const char* original = std::getenv("LD_LIBRARY_PATH");
    const std::string saved = original ? original : "";
    setenv("LD_LIBRARY_PATH", "/opt/elsewhere", 1);
    TFrameHookChain chain;
    ASSERT_EQ(Add(chain, {SampleModule()}), 0);
    const std::string folder = (ExecutableFolder() / "vhook").string() + "/";
    EXPECT_EQ(std::string(std::getenv("LD_LIBRARY_PATH")), folder + ":/opt/elsewhere");
    EXPECT_EQ(std::filesystem::current_path(), before);
    // Not added twice.
    ASSERT_EQ(Add(chain, {SampleModule(), "all"}), 0);
    EXPECT_EQ(std::string(std::getenv("LD_LIBRARY_PATH")), folder + ":/opt/elsewhere");
    if (original)
        setenv("LD_LIBRARY_PATH", saved.c_str(), 1);
    else
        unsetenv("LD_LIBRARY_PATH");
}

// A module named relative to the current directory is found although the folder changes.
TEST_F(FrameHookTest, RelativeModuleNameIsFound) {
    const std::filesystem::path before = std::filesystem::current_path();
    std::filesystem::current_path(ExecutableFolder());
    TFrameHookChain chain;
    EXPECT_EQ(Add(chain, {"vhook/invert.so"}), 0);
    EXPECT_EQ(std::filesystem::current_path(), ExecutableFolder());
    std::filesystem::current_path(before);
}

// The sample module inverts the brightness plane, or every plane with "all", and refuses
// an unknown argument.
TEST_F(FrameHookTest, SampleModuleInvertsThePicture) {
    constexpr int width = 6, height = 4;
    std::vector<uint8_t> luma(width * height, 10), cb(3 * 2, 100), cr(3 * 2, 200);
    auto picture = [&] {
        TFrameHookPicture p{};
        p.data[0] = luma.data();
        p.data[1] = cb.data();
        p.data[2] = cr.data();
        p.linesize[0] = width;
        p.linesize[1] = p.linesize[2] = 3;
        return p;
    };
    TFrameHookChain chain;
    ASSERT_EQ(Add(chain, {SampleModule()}), 0);
    TFrameHookPicture p = picture();
    RunFrameHooks(chain, &p, AV_PIX_FMT_YUV420P, width, height, 0);
    EXPECT_EQ(luma.front(), 245);
    EXPECT_EQ(luma.back(), 245);
    EXPECT_EQ(cb.front(), 100);

    TFrameHookChain all;
    ASSERT_EQ(Add(all, {SampleModule(), "all"}), 0);
    p = picture();
    RunFrameHooks(all, &p, AV_PIX_FMT_YUV420P, width, height, 0);
    EXPECT_EQ(luma.back(), 10);
    EXPECT_EQ(cb.back(), 155);
    EXPECT_EQ(cr.back(), 55);

    EXPECT_EQ(Add(all, {SampleModule(), "sideways"}), -22);
}
