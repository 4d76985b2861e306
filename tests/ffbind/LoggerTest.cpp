// The log bridge: level mapping and filtering, line assembly from library pieces with the
// context prefix, the single instance, and delivery of worker threads' lines on the main thread.
#include "ffbind/Assertion.h"
#include "ffbind/FFmpegApi.h"
#include "ffbind/FFmpegLogger.h"
#include "ffbind/MainThread.h"
#include "support/TestLibs.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdarg>
#include <map>
#include <thread>
#include <vector>

namespace {

struct TDelivered {
    const void* Sender;
    unsigned ThreadId;
    TLogLevel Level;
    std::string Line;
    bool OnMainThread;
};

// Records what the bridge delivers; the handler runs on the main thread, so no lock is needed.
class TRecorder {
public:
    TRecorder() {
        GetLogger()->SetOnLog([this](const void* sender, unsigned threadId, TLogLevel level,
                                     const std::string& line) {
            Delivered.push_back({sender, threadId, level, line, IsMainThread()});
        });
    }
    ~TRecorder() { GetLogger()->SetOnLog(nullptr); }
    std::vector<std::string> Lines() const {
        std::vector<std::string> lines;
        for (const TDelivered& d : Delivered)
            lines.push_back(d.Line);
        return lines;
    }
    std::vector<TDelivered> Delivered;
};

// A library context: its first field points to the class record.
struct TFakeContext {
    const AVClass* Class;
};

const AVClass Mp3Class = [] {
    AVClass mp3{};
    mp3.class_name = "mp3";
    return mp3;
}();

const char* CustomItemName(void*) {
    return "custom";
}
const AVClass CustomClass = [] {
    AVClass custom{};
    custom.class_name = "unused";
    custom.item_name = CustomItemName;
    return custom;
}();

// Calls the bridge the way the libraries do, with a C variable argument list.
void LibraryLine(void* context, int level, const char* format, ...) {
    va_list args;
    va_start(args, format);
    GetLogger()->LibraryLog(context, level, format, args);
    va_end(args);
}

std::string Prefix(const char* name, const void* context) {
    char text[128];
    std::snprintf(text, sizeof text, "[%s @ %p]", name, context);
    return text;
}

} // namespace

TEST(LoggerTest, MapsLibraryNumbersToLevels) {
    EXPECT_EQ(LibraryToLogLevel(-8), llQuiet);
    EXPECT_EQ(LibraryToLogLevel(-9), llQuiet);
    EXPECT_EQ(LibraryToLogLevel(-7), llPanic);
    EXPECT_EQ(LibraryToLogLevel(7), llPanic);
    EXPECT_EQ(LibraryToLogLevel(8), llFatal);
    EXPECT_EQ(LibraryToLogLevel(20), llError);
    EXPECT_EQ(LibraryToLogLevel(31), llWarning);
    EXPECT_EQ(LibraryToLogLevel(39), llInfo);
    EXPECT_EQ(LibraryToLogLevel(47), llVerbose);
    EXPECT_EQ(LibraryToLogLevel(AV_LOG_TRACE), llDebug);
    EXPECT_EQ(LibraryToLogLevel(100), llDebug);
    for (int level = llQuiet; level <= llDebug; ++level)
        EXPECT_EQ(LibraryToLogLevel(LogLevelToLibrary(TLogLevel(level))), TLogLevel(level));
}

// The class name and the context pointer go in front of a line, with no blank after them.
TEST(LoggerTest, LineGetsClassNameAndPointerPrefix) {
    TRecorder recorder;
    TFakeContext context{&Mp3Class};
    LibraryLine(&context, AV_LOG_INFO, "Estimating %s\n", "duration");
    ASSERT_EQ(recorder.Delivered.size(), 1u);
    const TDelivered& line = recorder.Delivered[0];
    EXPECT_EQ(line.Line, Prefix("mp3", &context) + "Estimating duration");
    EXPECT_EQ(line.Sender, GetLogger());
    EXPECT_EQ(line.Level, llInfo);
    EXPECT_EQ(line.ThreadId, CurrentThreadId());

    TFakeContext custom{&CustomClass};
    LibraryLine(&custom, AV_LOG_ERROR, "named by its item\n");
    LibraryLine(nullptr, AV_LOG_ERROR, "no context\n");
    EXPECT_EQ(recorder.Lines()[1], Prefix("custom", &custom) + "named by its item");
    EXPECT_EQ(recorder.Lines()[2], "no context");
    EXPECT_EQ(recorder.Delivered[1].Level, llError);
}

// Pieces without a line end wait for the rest; the line keeps the prefix of its first piece.
TEST(LoggerTest, PiecesOfOneThreadJoinUnderTheFirstPrefix) {
    TRecorder recorder;
    TFakeContext first{&Mp3Class};
    TFakeContext second{&CustomClass};
    LibraryLine(&first, AV_LOG_INFO, "abc");
    EXPECT_TRUE(recorder.Delivered.empty());
    LibraryLine(&second, AV_LOG_INFO, "def\n");
    EXPECT_EQ(recorder.Lines(), std::vector<std::string>{Prefix("mp3", &first) + "abcdef"});
}

// Two line ends give two lines; the text after the last waits for its end.
TEST(LoggerTest, TwoLineFeedsGiveTwoLinesAndTheRestWaits) {
    TRecorder recorder;
    TFakeContext context{&Mp3Class};
    LibraryLine(&context, AV_LOG_INFO, "one\ntwo\nthr");
    EXPECT_EQ(recorder.Lines(), (std::vector<std::string>{Prefix("mp3", &context) + "one", "two"}));
    LibraryLine(&context, AV_LOG_INFO, "ee\n\n");
    EXPECT_EQ(recorder.Lines(),
              (std::vector<std::string>{Prefix("mp3", &context) + "one", "two", "three", ""}));
}

// Lines are built also without a handler, and lost.
TEST(LoggerTest, NoHandlerLosesLines) {
    GetLogger()->SetOnLog(nullptr);
    LibraryLine(nullptr, AV_LOG_INFO, "lost\npending ");
    TRecorder recorder;
    LibraryLine(nullptr, AV_LOG_INFO, "part\n");
    EXPECT_EQ(recorder.Lines(), std::vector<std::string>{"pending part"});
}

// The bridge's level filters library messages (threshold) and the program's own messages.
TEST(LoggerTest, LevelFiltersLibraryAndProgramMessages) {
    EnsureLibsLoaded();
    TRecorder recorder;
    GetLogger()->SetLogLevel(llInfo);
    EXPECT_EQ(ff::av_log_get_level(), AV_LOG_INFO);
    ff::av_log(nullptr, AV_LOG_VERBOSE, "library verbose\n");
    ff::av_log(nullptr, AV_LOG_INFO, "library info\n");
    ff::av_log(nullptr, AV_LOG_C(3) | AV_LOG_WARNING, "coloured warning\n");
    GetLogger()->Log(nullptr, llVerbose, "program verbose");
    GetLogger()->Log(nullptr, llDebug, "program debug");
    GetLogger()->Log(nullptr, llError, "program error");
    EXPECT_EQ(recorder.Lines(), (std::vector<std::string>{"library info", "coloured warning",
                                                          "program verbose", "program error"}));
    EXPECT_EQ(recorder.Delivered[1].Level, llWarning);

    recorder.Delivered.clear();
    GetLogger()->SetLogLevel(llQuiet);
    EXPECT_EQ(ff::av_log_get_level(), AV_LOG_QUIET);
    ff::av_log(nullptr, AV_LOG_PANIC, "library panic\n");
    GetLogger()->Log(nullptr, llVerbose, "program verbose");
    GetLogger()->Log(nullptr, llQuiet, "program quiet");
    EXPECT_EQ(recorder.Lines(), std::vector<std::string>{"program quiet"});

    recorder.Delivered.clear();
    GetLogger()->SetLogLevel(llDebug);
    ff::av_log(nullptr, AV_LOG_DEBUG, "library debug\n");
    EXPECT_EQ(recorder.Lines(), std::vector<std::string>{"library debug"});
}

TEST(LoggerTest, SetLogLevelByNameTakesNamesOrNumbers) {
    TFFLogger& logger = *GetLogger();
    logger.SetLogLevelByName("Warning");
    EXPECT_EQ(logger.GetLogLevel(), llWarning);
    logger.SetLogLevelByName("20");
    EXPECT_EQ(logger.GetLogLevel(), llError);
    logger.SetLogLevelByName("100");
    EXPECT_EQ(logger.GetLogLevel(), llDebug);
    logger.SetLogLevelByName("QUIET");
    EXPECT_EQ(logger.GetLogLevel(), llQuiet);
    logger.SetLogLevelByName("verbose");
    EXPECT_EQ(logger.GetLogLevel(), llVerbose);
    logger.SetLogLevelByName("-9");
    EXPECT_EQ(logger.GetLogLevel(), llQuiet);
    for (const char* bad : {"loud", "12x", ""}) {
        try {
            logger.SetLogLevelByName(bad);
            ADD_FAILURE() << bad;
        } catch (const std::exception& e) {
            EXPECT_EQ(e.what(), "'" + std::string(bad) + "' is not a valid integer value");
        }
    }
    EXPECT_EQ(logger.GetLogLevel(), llQuiet);
}

TEST(LoggerTest, SecondInstanceIsAnAssertionFailure) {
    TFFLogger* first = GetLogger();
    try {
        TFFLogger second;
        ADD_FAILURE() << "a second instance was made";
    } catch (const EAssertionFailed& e) {
        EXPECT_EQ(std::string(e.what()).rfind("Allow creating only one instance of TFFLogger. "
                                              "(FFmpegLogger, line ",
                                              0),
                  0u)
            << e.what();
    }
    EXPECT_EQ(GetLogger(), first);
}

// A handler that throws loses its line but nothing is thrown through the libraries.
TEST(LoggerTest, HandlerExceptionStaysOutOfTheLibraries) {
    EnsureLibsLoaded();
    GetLogger()->SetOnLog([](const void*, unsigned, TLogLevel, const std::string&) {
        throw std::runtime_error("handler failed");
    });
    EXPECT_NO_THROW(ff::av_log(nullptr, AV_LOG_ERROR, "boom\n"));
    GetLogger()->SetOnLog(nullptr);
}

// Lines built from pieces on several worker threads at once reach the handler on the main
// thread, whole, in order, with their own thread's id and prefix, while the main thread waits.
TEST(LoggerTest, WorkerLinesArriveWholeOnTheMainThread) {
    EnsureLibsLoaded();
    GetLogger()->SetLogLevel(llInfo);
    TRecorder recorder;
    constexpr int Workers = 4;
    constexpr int LinesPerWorker = 150;
    std::vector<TFakeContext> contexts(Workers, TFakeContext{&Mp3Class});
    std::vector<unsigned> threadIds(Workers);
    std::atomic<int> finished{0};
    std::vector<std::thread> threads;
    for (int w = 0; w < Workers; ++w)
        threads.emplace_back([&, w] {
            threadIds[w] = CurrentThreadId();
            for (int i = 0; i < LinesPerWorker; ++i) {
                // Half through the libraries' own callback, half straight into the bridge.
                if (w % 2)
                    ff::av_log(&contexts[w], AV_LOG_INFO, "w%d ", w);
                else
                    LibraryLine(&contexts[w], AV_LOG_INFO, "w%d ", w);
                LibraryLine(nullptr, AV_LOG_INFO, "line %d ", i);
                LibraryLine(&contexts[(w + 1) % Workers], AV_LOG_INFO, "end\n");
            }
            GetLogger()->Log(nullptr, llInfo, "done " + std::to_string(w));
            ++finished;
        });
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    WaitServingMainThread(
        [&] { return finished == Workers || std::chrono::steady_clock::now() > deadline; });
    if (finished != Workers) {
        for (std::thread& t : threads)
            t.detach();
        FAIL() << "workers did not finish";
    }
    for (std::thread& t : threads)
        t.join();

    std::map<unsigned, std::vector<std::string>> byThread;
    for (const TDelivered& d : recorder.Delivered) {
        EXPECT_TRUE(d.OnMainThread);
        byThread[d.ThreadId].push_back(d.Line);
    }
    ASSERT_EQ(byThread.size(), std::size_t(Workers));
    for (int w = 0; w < Workers; ++w) {
        const std::vector<std::string>& lines = byThread[threadIds[w]];
        ASSERT_EQ(lines.size(), std::size_t(LinesPerWorker + 1)) << w;
        for (int i = 0; i < LinesPerWorker; ++i)
            EXPECT_EQ(lines[i], Prefix("mp3", &contexts[w]) + "w" + std::to_string(w) + " line " +
                                    std::to_string(i) + " end");
        EXPECT_EQ(lines.back(), "done " + std::to_string(w));
    }
}
