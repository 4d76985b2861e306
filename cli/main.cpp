// soundpick-cli: the command-line front end over the conversion component.
#include "cli/BatchRun.h"
#include "cli/CliOptions.h"
#include "cli/CliReporter.h"
#include "cli/Interrupt.h"
#include "component/FFmpegComponent.h"
#include "ffbind/FFmpegLogger.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <malloc.h>
#include <string>
#include <unistd.h>

namespace {

constexpr int ExitDone = 0;
constexpr int ExitFailed = 1;
constexpr int ExitUsage = 2;
constexpr int LargeBufferBytes = 256 * 1024;

std::filesystem::path ExecutableFolder() {
    std::error_code error;
    return std::filesystem::read_symlink("/proc/self/exe", error).parent_path();
}

TReportMode ChooseMode(const TCliOptions& options) {
    if (options.Json)
        return rmJson;
    const char* term = std::getenv("TERM");
    const bool dumb = term && std::string(term) == "dumb";
    return isatty(STDERR_FILENO) && !dumb ? rmTerminal : rmPlain;
}

// Log lines as the window writes them: "#" thread "." level ": " text.
void ShowLogLines(TCliReporter& reporter) {
    GetLogger()->SetLogLevel(llInfo);
    GetLogger()->SetOnLog(
        [&reporter](const void*, unsigned threadId, TLogLevel level, const std::string& message) {
            reporter.LogLine("#" + std::to_string(threadId) + "." +
                             std::to_string(static_cast<int>(level)) + ": " + message);
        });
}

} // namespace

int main(int argc, char* argv[]) {
    const TCliParse parse = ParseCliOptions(argc, argv);
    if (!parse.Error.empty()) {
        std::fprintf(stderr, "soundpick-cli: %s\nTry 'soundpick-cli --help'.\n",
                     parse.Error.c_str());
        return ExitUsage;
    }
    const TCliOptions& options = parse.Options;
    TFFmpegComponent component;
    if (options.Help) {
        std::printf("%s", CliUsageText().c_str());
        return ExitDone;
    }
    if (options.Version) {
        std::printf("soundpick-cli %s (component %s)\n", SOUNDPICK_VERSION,
                    component.GetVersion().c_str());
        return ExitDone;
    }
    TCliReporter reporter(ChooseMode(options), options.Quiet);
    if (options.Verbose)
        ShowLogLines(reporter);
    if (!component.LoadLibraries(ExecutableFolder() / "LibAV")) {
        reporter.LogLine("soundpick-cli: " + component.LastErrorText());
        return ExitFailed;
    }
    // A batch runs many short tasks whose encoders take large buffers: mapped of their own, they
    // go back to the system when freed instead of staying in the allocator's arenas (which the
    // allocator would otherwise choose after the first such buffer is freed).
    mallopt(M_MMAP_THRESHOLD, LargeBufferBytes);
    InstallInterruptHandler();
    // A file grown past the process's size limit fails its write (and the task says why)
    // instead of ending the program.
    std::signal(SIGXFSZ, SIG_IGN);
    int status = ExitFailed;
    {
        TBatchRun run(options, component, reporter);
        if (options.Info) {
            status = run.PrintInfo() ? ExitDone : ExitFailed;
        } else {
            run.AddFiles();
            if (InterruptRequests() == 0 && run.Run())
                status = ExitDone;
        }
    }
    GetLogger()->SetOnLog(nullptr);
    return status;
}
