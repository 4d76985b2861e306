// The log bridge's per-thread line assembly and main-thread delivery.
#include "FFmpegLogger.h"

#include "Assertion.h"
#include "FFUtils.h"
#include "FFmpegApi.h"
#include "MainThread.h"
#include "TextUtils.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <memory>
#include <stdexcept>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace {

constexpr const char* Unit = "FFmpegLogger";
constexpr const char* SecondInstanceText = "Allow creating only one instance of TFFLogger.";

std::mutex InstanceLock;                   // guards changes of Instance
std::atomic<TFFLogger*> Instance{nullptr}; // read without the lock by the library callback
std::mutex CreationLock;                   // makes GetLogger's check and creation one step
std::unique_ptr<TFFLogger> OwnedInstance;  // the one GetLogger made, if any

// Library messages above this number are dropped before any formatting.
std::atomic<int> Threshold{AV_LOG_INFO};

// The part of a line each thread has produced so far, without its end.
std::mutex PendingLock;
std::unordered_map<unsigned, std::string> PendingLines;

// The libraries' level number without the colour bits they may carry above the low byte.
int PlainLevel(int level) {
    return level >= 0 ? level & 0xff : level;
}

thread_local std::string LastError;
// The last warning: a feature the libraries lack is named in one warning, and the next says
// only " is not implemented..."; the name is what tells the user why.
thread_local std::string LastWarning;

void NoteLibraryError(int level, const char* format, va_list args) {
    const int plain = PlainLevel(level);
    if (plain > AV_LOG_WARNING)
        return;
    if (plain == AV_LOG_WARNING && std::string_view(format).starts_with(" is not implemented")) {
        if (!LastWarning.empty())
            LastError = LastWarning;
        return;
    }
    va_list copy;
    va_copy(copy, args);
    try {
        if (std::string text = OneLineText(FormatTextV(format, copy)); !text.empty())
            (plain <= AV_LOG_ERROR ? LastError : LastWarning) = std::move(text);
    } catch (...) {
    }
    va_end(copy);
}

// Called by the libraries from C: nothing may be thrown through it.
void LibraryCallback(void* context, int level, const char* format, va_list args) {
    NoteLibraryError(level, format, args);
    if (PlainLevel(level) > Threshold.load(std::memory_order_relaxed))
        return;
    try {
        if (TFFLogger* logger = Instance.load())
            logger->LibraryLog(context, level, format, args);
    } catch (...) {
        // A failing handler loses its line; the library call goes on.
    }
}

} // namespace

std::string LastLibraryError() {
    return LastError;
}

void ClearLibraryError() {
    LastError.clear();
    LastWarning.clear();
}

int LogLevelToLibrary(TLogLevel level) {
    return (static_cast<int>(level) - 1) * 8;
}

TLogLevel LibraryToLogLevel(int number) {
    return static_cast<TLogLevel>(std::clamp(number / 8 + 1, 0, static_cast<int>(llDebug)));
}

TFFLogger::TFFLogger() : LogLevel(LibraryToLogLevel(Threshold.load())) {
    std::lock_guard<std::mutex> guard(InstanceLock);
    SP_ASSERT(Instance == nullptr, SecondInstanceText, Unit);
    Instance = this;
}

TFFLogger::~TFFLogger() {
    std::lock_guard<std::mutex> guard(InstanceLock);
    if (Instance == this)
        Instance = nullptr;
}

TFFLogger* GetLogger() {
    if (TFFLogger* existing = Instance.load())
        return existing;
    std::lock_guard<std::mutex> creation(CreationLock);
    if (TFFLogger* existing = Instance.load())
        return existing;
    OwnedInstance = std::make_unique<TFFLogger>();
    return OwnedInstance.get();
}

TLogLevel TFFLogger::GetLogLevel() const {
    std::lock_guard<std::mutex> guard(Lock);
    return LogLevel;
}

void TFFLogger::SetLogLevel(TLogLevel level) {
    {
        std::lock_guard<std::mutex> guard(Lock);
        LogLevel = level;
    }
    if (ff::av_log_set_level) {
        ff::av_log_set_level(LogLevelToLibrary(level));
        Threshold = LogLevelToLibrary(level);
    }
}

void TFFLogger::SetLogLevelByName(const std::string& text) {
    static const std::pair<const char*, int> names[] = {
        {"quiet", AV_LOG_QUIET},     {"panic", AV_LOG_PANIC},     {"fatal", AV_LOG_FATAL},
        {"error", AV_LOG_ERROR},     {"warning", AV_LOG_WARNING}, {"info", AV_LOG_INFO},
        {"verbose", AV_LOG_VERBOSE}, {"debug", AV_LOG_DEBUG},
    };
    const std::string lower = LowerCase(text);
    for (const auto& [name, number] : names) {
        if (lower == name) {
            SetLogLevel(LibraryToLogLevel(number));
            return;
        }
    }
    std::size_t used = 0;
    int number = 0;
    try {
        number = std::stoi(text, &used, 10);
    } catch (const std::exception&) {
        used = 0;
    }
    if (used == 0 || used != text.size())
        throw std::invalid_argument("'" + text + "' is not a valid integer value");
    SetLogLevel(LibraryToLogLevel(number));
}

void TFFLogger::SetOnLog(TLogEvent handler) {
    std::lock_guard<std::mutex> guard(Lock);
    OnLog = std::move(handler);
}

void TFFLogger::InstallCallback() {
    SP_ASSERT(ff::av_log_set_callback != nullptr, "Assertion failure", Unit);
    ff::av_log_set_callback(LibraryCallback);
}

void TFFLogger::Log(const void* sender, TLogLevel level, const std::string& message) {
    TLogLevel current;
    {
        std::lock_guard<std::mutex> guard(Lock);
        if (!OnLog)
            return;
        current = LogLevel;
    }
    if (level <= current || (level == llVerbose && current != llQuiet))
        Deliver(sender, CurrentThreadId(), level, message);
}

void TFFLogger::LogF(const void* sender, TLogLevel level, const char* format, ...) {
    va_list args;
    va_start(args, format);
    const std::string message = FormatTextV(format, args);
    va_end(args);
    Log(sender, level, message);
}

void TFFLogger::LibraryLog(void* context, int levelNumber, const char* format, va_list args) {
    levelNumber = PlainLevel(levelNumber);
    if (levelNumber > Threshold.load(std::memory_order_relaxed))
        return;
    const unsigned threadId = CurrentThreadId();
    const AVClass* avClass = context ? *static_cast<AVClass**>(context) : nullptr;
    std::string text;
    {
        std::lock_guard<std::mutex> guard(PendingLock);
        text = std::move(PendingLines[threadId]);
    }
    if (text.empty() && avClass) {
        char prefix[256];
        const char* name = avClass->item_name ? avClass->item_name(context) : avClass->class_name;
        std::snprintf(prefix, sizeof prefix, "[%s @ %p]", name ? name : "", context);
        text = prefix;
    }
    text += FormatTextV(format, args);

    std::vector<std::string> lines;
    std::size_t start = 0;
    for (std::size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1)
        lines.push_back(text.substr(start, end - start));
    {
        std::lock_guard<std::mutex> guard(PendingLock);
        PendingLines[threadId] = text.substr(start);
    }
    const TLogLevel level = LibraryToLogLevel(levelNumber);
    for (const std::string& line : lines)
        Deliver(this, threadId, level, line);
}

void TFFLogger::Deliver(const void* sender, unsigned threadId, TLogLevel level,
                        const std::string& line) {
    TLogEvent handler;
    {
        std::lock_guard<std::mutex> guard(Lock);
        handler = OnLog;
    }
    if (handler)
        Synchronize([&] { handler(sender, threadId, level, line); });
}
