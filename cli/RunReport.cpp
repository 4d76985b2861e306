// The --report file: JSON lines, flushed one by one.
#include "cli/RunReport.h"

#include "cli/CliReporter.h"

TRunReport::TRunReport(const std::filesystem::path& file) {
    if (file.empty())
        return;
    File.reset(std::fopen(file.c_str(), "w"));
    Open = File ? ofOpen : ofFailed;
}

void TRunReport::Line(const std::filesystem::path& input, const std::filesystem::path& output,
                      const std::string& state, const std::string& warning, double seconds) {
    if (!File)
        return;
    std::fprintf(File.get(),
                 "{\"input\":%s,\"output\":%s,\"state\":%s,\"warning\":%s,\"seconds\":%.3f}\n",
                 JsonString(input.string()).c_str(), JsonString(output.string()).c_str(),
                 JsonString(state).c_str(), JsonString(warning).c_str(), seconds);
    std::fflush(File.get());
}
