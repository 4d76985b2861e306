// The log bridge: turns the libraries' log pieces into whole lines per thread, filters them by
// level and delivers each line, and the program's own messages, to OnLog on the main thread.
#ifndef SOUNDPICK_FFBIND_FFMPEGLOGGER_H
#define SOUNDPICK_FFBIND_FFMPEGLOGGER_H

#include <cstdarg>
#include <functional>
#include <mutex>
#include <string>

enum TLogLevel { llQuiet, llPanic, llFatal, llError, llWarning, llInfo, llVerbose, llDebug };

// The library's level number for a level: (ordinal - 1) x 8.
int LogLevelToLibrary(TLogLevel level);
// The level for a library number: number div 8 + 1, clamped to llQuiet..llDebug.
TLogLevel LibraryToLogLevel(int number);

// Sender, thread id of the producing thread, level, line without its line break.
// Runs on the main thread.
using TLogEvent = std::function<void(const void* Sender, unsigned AThreadID, TLogLevel ALogLevel,
                                     const std::string& ALogMsg)>;

class TFFLogger {
public:
    // At most one instance exists; a second construction is an assertion failure.
    TFFLogger();
    ~TFFLogger();
    TFFLogger(const TFFLogger&) = delete;
    TFFLogger& operator=(const TFFLogger&) = delete;

    TLogLevel GetLogLevel() const;
    // Also sets the libraries' level and the callback's threshold when avutil is bound.
    void SetLogLevel(TLogLevel level);
    // "quiet", "panic", ... "debug" in any case, or a decimal library level number.
    void SetLogLevelByName(const std::string& text);

    void SetOnLog(TLogEvent handler);

    // Registers the bridge's callback with the libraries; avutil must be bound.
    void InstallCallback();

    // A message of the program itself: delivered when OnLog is set and the level passes
    // (llQuiet always does; llVerbose does unless the bridge is quiet).
    void Log(const void* sender, TLogLevel level, const std::string& message);
    void LogF(const void* sender, TLogLevel level, const char* format, ...)
        __attribute__((format(printf, 4, 5)));

    // The libraries' callback (public for the C trampoline and the tests): drops levels above
    // the threshold, joins the calling thread's pieces into lines and delivers each whole line
    // on the main thread, the calling thread waiting. Runs on any thread.
    void LibraryLog(void* context, int levelNumber, const char* format, va_list args);

private:
    void Deliver(const void* sender, unsigned threadId, TLogLevel level, const std::string& line);

    mutable std::mutex Lock; // guards LogLevel and OnLog
    TLogLevel LogLevel;
    TLogEvent OnLog;
};

// The single instance, created on first need.
TFFLogger* GetLogger();

// The libraries' last error message on the calling thread (whatever the log level), on one line
// without its context; empty after ClearLibraryError. A codec's refusal says why in it ("Bit
// allocation failed. Try increasing the bitrate.") where its return code only says it refused.
// A feature they report as not implemented is named there by itself ("WAVEFORMATEX support for
// RIFX files").
std::string LastLibraryError();
void ClearLibraryError();

#endif
