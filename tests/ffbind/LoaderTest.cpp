// The library loader: folder-first loading in dependency order, refusal of incomplete or foreign
// library builds, failure texts, the search path and the current directory. Each case runs in a
// process of its own under CTest; the cases that need a process without loaded libraries skip
// themselves when run after others in one process.
#include "TempFolder.h"
#include "ffbind/Assertion.h"
#include "ffbind/FFmpegApi.h"
#include "ffbind/FFmpegLoader.h"
#include "ffbind/FFmpegLogger.h"
#include "support/TestLibs.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <regex>
#include <set>
#include <vector>

namespace {

const std::filesystem::path TestLibs = SOUNDPICK_TESTLIBS_DIR;
const std::filesystem::path SystemLibs = "/usr/lib/x86_64-linux-gnu";

const TLibraryKinds AllFFmpegKinds = {LibAVCodec, LibAVDevice, LibAVFilter,   LibAVFormat,
                                      LibAVUtil,  LibSwScale,  LibSwResample, LibMyUtil};

// The media and companion libraries mapped into this process, by path.
std::set<std::string> MappedMediaLibraries() {
    std::set<std::string> paths;
    std::ifstream maps("/proc/self/maps");
    std::string line;
    while (std::getline(maps, line)) {
        const std::size_t slash = line.find('/');
        if (slash == std::string::npos)
            continue;
        const std::string path = line.substr(slash);
        const std::string name = std::filesystem::path(path).filename().string();
        for (const char* stem :
             {"libavcodec.", "libavdevice.", "libavfilter.", "libavformat.", "libavutil.",
              "libswscale.", "libswresample.", "libpostproc.", "libmyutil."})
            if (name.rfind(stem, 0) == 0)
                paths.insert(path);
    }
    return paths;
}

bool NothingLoadedYet() {
    return MappedMediaLibraries().empty();
}

std::string EnvironmentValue(const char* name) {
    const char* value = std::getenv(name);
    return value ? value : "";
}

// Collects the lines the log bridge delivers.
struct TLogLines {
    std::vector<std::string> Lines;
    TLogLines() {
        GetLogger()->SetOnLog([this](const void*, unsigned, TLogLevel, const std::string& line) {
            Lines.push_back(line);
        });
    }
    ~TLogLines() { GetLogger()->SetOnLog(nullptr); }
    bool Contains(const std::string& part) const {
        for (const std::string& line : Lines)
            if (line.find(part) != std::string::npos)
                return true;
        return false;
    }
};

unsigned FakeVersion() {
    return 12345;
}

} // namespace

TEST(LoaderTest, LoadsTheDefaultSetAndBindsEveryEntryPoint) {
    EnsureLibsLoaded();
    EXPECT_TRUE(Loader().LibsLoaded(DefaultLibraries));
    EXPECT_NE(ff::avcodec_open2, nullptr);
    EXPECT_NE(ff::swr_convert, nullptr);
    EXPECT_NE(ff::my_vsprintf, nullptr);
    EXPECT_EQ(ff::avcodec_version() >> 16, unsigned(LIBAVCODEC_VERSION_MAJOR));
    EXPECT_FALSE(Loader().LibLoaded(LibAVDevice));
    EXPECT_FALSE(Loader().LibLoaded(LibSDL));
}

// File names follow the headers' major versions; a version of 0 would still be appended.
TEST(LoaderTest, FormsFileNamesFromMajorVersions) {
    EXPECT_EQ(TFFmpegLoader::LibraryFileName(LibAVCodec), "libavcodec.so.59");
    EXPECT_EQ(TFFmpegLoader::LibraryFileName(LibAVDevice), "libavdevice.so.59");
    EXPECT_EQ(TFFmpegLoader::LibraryFileName(LibAVFilter), "libavfilter.so.8");
    EXPECT_EQ(TFFmpegLoader::LibraryFileName(LibAVFormat), "libavformat.so.59");
    EXPECT_EQ(TFFmpegLoader::LibraryFileName(LibAVUtil), "libavutil.so.57");
    EXPECT_EQ(TFFmpegLoader::LibraryFileName(LibSwScale), "libswscale.so.6");
    EXPECT_EQ(TFFmpegLoader::LibraryFileName(LibSwResample), "libswresample.so.4");
    EXPECT_EQ(TFFmpegLoader::LibraryFileName(LibMyUtil), "libmyutil.so");
    EXPECT_EQ(TFFmpegLoader::LibraryFileName(LibSDL), "libSDL-1.2.so.0");
}

// A complete set of libraries in the folder is the set that ends up mapped, their dependencies
// on each other included, and the log bridge hears the libraries that use the folder's avutil.
TEST(LoaderTest, CompleteFolderCopyIsWhatGetsMapped) {
    if (!NothingLoadedYet())
        GTEST_SKIP() << "needs a process without loaded libraries (run through CTest)";
    TTempFolder temp;
    const std::filesystem::path folder = temp / "LibAV";
    std::filesystem::create_directory(folder);
    for (TLibraryKind kind :
         {LibAVCodec, LibAVDevice, LibAVFilter, LibAVFormat, LibAVUtil, LibSwScale, LibSwResample})
        std::filesystem::copy_file(SystemLibs / TFFmpegLoader::LibraryFileName(kind),
                                   folder / TFFmpegLoader::LibraryFileName(kind));
    std::filesystem::copy_file(SystemLibs / "libpostproc.so.56", folder / "libpostproc.so.56");
    std::filesystem::copy_file(ExecutableFolder() / "LibAV" / "libmyutil.so",
                               folder / "libmyutil.so");
    const auto directoryBefore = std::filesystem::current_path();

    Loader().SetLibraryPath(folder);
    ASSERT_TRUE(Loader().LoadLibs(AllFFmpegKinds)) << Loader().GetLastErrorMessage();
    EXPECT_EQ(std::filesystem::current_path(), directoryBefore);

    const std::set<std::string> mapped = MappedMediaLibraries();
    EXPECT_EQ(mapped.size(), 9u);
    for (const std::string& path : mapped)
        EXPECT_EQ(std::filesystem::path(path).parent_path(), folder) << path;

    TLogLines log;
    AVFormatContext* output = nullptr;
    ASSERT_GE(ff::avformat_alloc_output_context2(&output, nullptr, "wav", "x.wav"), 0);
    ff::av_dump_format(output, 0, "x.wav", 1);
    ff::avformat_free_context(output);
    EXPECT_TRUE(log.Contains("Output #0, wav, to 'x.wav'"));
}

// A build that lacks a listed name is refused with the name, the file and the system's text,
// and nothing of it stays bound or mapped.
TEST(LoaderTest, RefusesLibraryLackingAnEntryPoint) {
    const auto folder = TestLibs / "partial";
    Loader().SetLibraryPath(folder);
    EXPECT_FALSE(Loader().LoadLib(LibSwScale));
    EXPECT_EQ(Loader().GetLastErrorMessage(),
              "Load function sws_isSupportedInput@libswscale.so.6 error: " +
                  (folder / "libswscale.so.6").string() +
                  ": undefined symbol: sws_isSupportedInput");
    EXPECT_FALSE(Loader().LibLoaded(LibSwScale));
    EXPECT_EQ(ff::sws_freeContext, nullptr);
    EXPECT_EQ(ff::sws_getContext, nullptr);
    for (const std::string& path : MappedMediaLibraries())
        EXPECT_NE(std::filesystem::path(path).parent_path(), folder) << path;
}

// A name that only a library the build depends on exports does not make the build complete.
TEST(LoaderTest, NameFoundOnlyInADependencyIsRefused) {
    Loader().SetLibraryPath(TestLibs / "borrowed");
    EXPECT_FALSE(Loader().LoadLib(LibSwScale));
    EXPECT_EQ(Loader().GetLastErrorMessage(),
              "Load function sws_scale@libswscale.so.6 error: " +
                  (TestLibs / "borrowed" / "libswscale.so.6").string() +
                  ": undefined symbol: sws_scale");
    EXPECT_EQ(ff::sws_scale, nullptr);
}

// Structures are compiled in from the headers, so another major version is refused.
TEST(LoaderTest, OtherMajorVersionIsRefused) {
    Loader().SetLibraryPath(TestLibs / "old_version");
    EXPECT_FALSE(Loader().LoadLib(LibSwScale));
    EXPECT_EQ(Loader().GetLastErrorMessage(),
              "Load library libswscale.so.6 error: version 5 found, 6 needed");
    EXPECT_FALSE(Loader().LibLoaded(LibSwScale));
    EXPECT_EQ(ff::swscale_version, nullptr);
}

// When one kind fails, every kind of the set ends unloaded, also those loaded before the call.
TEST(LoaderTest, FailingKindUnloadsTheWholeSet) {
    TLibraryInitialisers unchecked;
    Loader().SetLibraryPath(TPathFileName());
    ASSERT_TRUE(Loader().LoadLib(LibAVUtil)) << Loader().GetLastErrorMessage();
    const auto directoryBefore = std::filesystem::current_path();

    Loader().SetLibraryPath(TestLibs / "partial");
    EXPECT_FALSE(Loader().LoadLibs(DefaultLibraries));
    EXPECT_EQ(Loader().GetLastErrorMessage().rfind("Load function sws_isSupportedInput@", 0), 0u);
    for (TLibraryKind kind :
         {LibAVCodec, LibAVFilter, LibAVFormat, LibAVUtil, LibSwScale, LibSwResample, LibMyUtil})
        EXPECT_FALSE(Loader().LibLoaded(kind)) << kind;
    EXPECT_EQ(ff::avutil_version, nullptr);
    EXPECT_EQ(ff::swr_alloc, nullptr);
    EXPECT_EQ(std::filesystem::current_path(), directoryBefore);
}

// A file found nowhere is reported with the folder and the file name, although the system's
// search was tried for the bare name; the text stays until the next failure.
TEST(LoaderTest, MissingLibraryNamesFolderAndFile) {
    Loader().SetLibraryPath("/nonexistent/LibAV");
    EXPECT_FALSE(Loader().LoadLibs({LibSDL}));
    const std::string expected = "Load library /nonexistent/LibAV/libSDL-1.2.so.0 error: "
                                 "libSDL-1.2.so.0: cannot open shared object file: No such "
                                 "file or directory";
    EXPECT_EQ(Loader().GetLastErrorMessage(), expected);

    EnsureLibsLoaded();
    EXPECT_EQ(Loader().GetLastErrorMessage(), expected);
}

// A relative folder names the same folder after the loader made it the current directory.
TEST(LoaderTest, RelativeFolderIsFound) {
    const auto directoryBefore = std::filesystem::current_path();
    std::filesystem::current_path(TestLibs);
    Loader().SetLibraryPath("partial");
    EXPECT_FALSE(Loader().LoadLib(LibSwScale));
    EXPECT_EQ(std::filesystem::current_path(), TestLibs);
    EXPECT_EQ(EnvironmentValue("LD_LIBRARY_PATH").rfind((TestLibs / "partial").string(), 0), 0u);
    std::filesystem::current_path(directoryBefore);
    EXPECT_EQ(Loader().GetLastErrorMessage().rfind("Load function sws_isSupportedInput@", 0), 0u)
        << Loader().GetLastErrorMessage();
}

// The folder goes in front of the search path of started programs once, and not at all when
// the path names it already in another letter case.
TEST(LoaderTest, SearchPathGetsTheFolderOnce) {
    const std::string folder = (TestLibs / "partial").string();
    Loader().SetLibraryPath(folder);

    unsetenv("LD_LIBRARY_PATH");
    Loader().LoadLib(LibSwScale);
    EXPECT_EQ(EnvironmentValue("LD_LIBRARY_PATH"), folder);

    setenv("LD_LIBRARY_PATH", "/opt/x", 1);
    Loader().LoadLib(LibSwScale);
    EXPECT_EQ(EnvironmentValue("LD_LIBRARY_PATH"), folder + ":/opt/x");
    Loader().LoadLib(LibSwScale);
    EXPECT_EQ(EnvironmentValue("LD_LIBRARY_PATH"), folder + ":/opt/x");

    std::string upper = folder;
    for (char& c : upper)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    setenv("LD_LIBRARY_PATH", ("/y:" + upper).c_str(), 1);
    Loader().LoadLib(LibSwScale);
    EXPECT_EQ(EnvironmentValue("LD_LIBRARY_PATH"), "/y:" + upper);
}

// Loading again binds nothing again but puts the log callback back.
TEST(LoaderTest, SecondLoadBindsNothingAgainAndReinstallsTheCallback) {
    EnsureLibsLoaded();
    const auto original = ff::avutil_version;
    ff::avutil_version = FakeVersion;
    ff::av_log_set_callback(ff::av_log_default_callback);
    EXPECT_TRUE(Loader().LoadLibs(DefaultLibraries));
    EXPECT_EQ(ff::avutil_version, &FakeVersion);
    ff::avutil_version = original;

    TLogLines log;
    ff::av_log(nullptr, AV_LOG_ERROR, "heard again\n");
    EXPECT_EQ(log.Lines, std::vector<std::string>{"heard again"});
}

TEST(LoaderTest, EmptySetIsAnAssertionFailure) {
    const TLibraryKinds none;
    for (auto call : {+[](const TLibraryKinds& k) { Loader().LoadLibs(k); },
                      +[](const TLibraryKinds& k) { Loader().LibsLoaded(k); },
                      +[](const TLibraryKinds& k) { Loader().UnloadLibs(k); }}) {
        try {
            call(none);
            ADD_FAILURE() << "no assertion failure";
        } catch (const EAssertionFailed& e) {
            EXPECT_TRUE(std::regex_match(
                e.what(), std::regex("Assertion failure \\(FFmpegLoader, line [0-9]+\\)")))
                << e.what();
        }
    }
}

// Unloading takes the entry points away; a later load brings them back.
TEST(LoaderTest, UnloadAndReload) {
    {
        TLibraryInitialisers unchecked;
        EnsureLibsLoaded();
    }
    Loader().UnloadLibs(DefaultLibraries);
    EXPECT_FALSE(Loader().LibsLoaded(DefaultLibraries));
    EXPECT_EQ(ff::avcodec_open2, nullptr);
    EXPECT_EQ(ff::av_malloc, nullptr);
    {
        TLibraryInitialisers unchecked;
        EXPECT_TRUE(Loader().LoadLibs(DefaultLibraries)) << Loader().GetLastErrorMessage();
    }
    void* memory = ff::av_malloc(16);
    EXPECT_NE(memory, nullptr);
    ff::av_free(memory);
}
