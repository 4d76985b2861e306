// The --report file of soundpick-cli: one JSON line per input as its fate is known (input,
// output, state, warning, seconds), written as the run goes so that a stopped run still leaves
// the lines of what it did. States: "finished", "stopped", "failed", "skipped" (could not be
// read), "no-sound" and "up-to-date".
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

    void Line(const std::filesystem::path& input, const std::filesystem::path& output,
              const std::string& state, const std::string& warning, double seconds);
    bool Failed() const { return Open == ofFailed; }

private:
    enum TOpenState { ofNone, ofOpen, ofFailed };
    struct TFileCloser {
        void operator()(std::FILE* file) const { std::fclose(file); }
    };
    std::unique_ptr<std::FILE, TFileCloser> File;
    TOpenState Open = ofNone;
};

#endif
