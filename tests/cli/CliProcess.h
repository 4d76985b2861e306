// Runs soundpick-cli as a child process with its output captured in files, so that tests can
// signal it while it runs; and reads its JSON event lines.
#ifndef SOUNDPICK_TESTS_CLI_CLIPROCESS_H
#define SOUNDPICK_TESTS_CLI_CLIPROCESS_H

#include <filesystem>
#include <map>
#include <string>
#include <sys/types.h>
#include <vector>

// Where the program's standard output goes: a file, or a pipe whose reader has gone (as when
// it is piped into "head").
enum TStandardOutput { soFile, soClosedPipe };

class TCliProcess {
public:
    // Starts the program beside the test executable; output goes to files in folder. A file
    // size limit above 0 is set on the program (RLIMIT_FSIZE), as a full disk would stop it.
    TCliProcess(const std::vector<std::string>& args, const std::filesystem::path& folder,
                long fileSizeLimitBytes = 0, TStandardOutput standardOutput = soFile);
    ~TCliProcess();
    // Waits for the end; the exit status, or -1 when it did not exit normally.
    int Wait();
    void Signal(int signalNumber);
    // What it wrote so far.
    std::string Out() const;
    std::string Err() const;

private:
    pid_t Pid = -1;
    int Status = -1;
    std::filesystem::path OutFile, ErrFile;
};

// Runs to the end; returns the exit status and fills out and err.
int RunCli(const std::vector<std::string>& args, const std::filesystem::path& folder,
           std::string* out = nullptr, std::string* err = nullptr);

// One JSON object of flat values: strings unescaped, numbers as written, null as "null".
// False when the line is not such an object.
bool ParseFlatJson(const std::string& line, std::map<std::string, std::string>& object);

std::vector<std::string> Lines(const std::string& text);

#endif
