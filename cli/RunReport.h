// The --report file of soundpick-cli: one JSON line per input as its fate is known (input,
// output, state, warning, seconds), written as the run goes so that a stopped run still leaves
// the lines of what it did. States: "finished", "stopped", "failed", "skipped" (could not be
// read), "no-sound", "up-to-date" and "removed" (--delete); with --dry-run "would-convert",
// "would-replace" and "would-delete".
#ifndef SOUNDPICK_CLI_RUNREPORT_H
#define SOUNDPICK_CLI_RUNREPORT_H

#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>

class TRunReport {
public:
    // No file: every line is dropped. A file that cannot be made leaves Failed() true.
    explicit TRunReport(const std::filesystem::path& file);

    // Writes and flushes a line; one that cannot be written (a full disk) leaves Failed() true
    // and drops the lines after it.
    void Line(const std::filesystem::path& input, const std::filesystem::path& output,
              const std::string& state, const std::string& warning, double seconds);
    bool Failed() const { return Open == ofFailed; }
    // Why the report could not be made or written; empty while it could.
    const std::string& ErrorText() const { return Error; }

private:
    enum TOpenState { ofNone, ofOpen, ofFailed };
    struct TFileCloser {
        void operator()(std::FILE* file) const { std::fclose(file); }
    };
    std::unique_ptr<std::FILE, TFileCloser> File;
    TOpenState Open = ofNone;
    std::filesystem::path Name;
    std::string Error;

    void Fail();
};

#endif
