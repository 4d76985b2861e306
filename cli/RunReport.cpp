// The --report file: JSON lines, flushed one by one, every write checked.
#include "cli/RunReport.h"

#include "cli/CliReporter.h"

#include <cerrno>
#include <cstring>

TRunReport::TRunReport(const std::filesystem::path& file) : Name(file) {
    if (file.empty())
        return;
    File.reset(std::fopen(file.c_str(), "w"));
    Open = ofOpen;
    if (!File)
        Fail();
}

void TRunReport::Fail() {
    Error = "the report file '" + Name.string() + "' cannot be written: " + std::strerror(errno);
    Open = ofFailed;
    File.reset();
}

void TRunReport::Line(const std::filesystem::path& input, const std::filesystem::path& output,
                      const std::string& state, const std::string& warning, double seconds) {
    if (!File)
        return;
    const std::string line = "{" + JsonPathMembers("input", input.native()) + "," +
                             JsonPathMembers("output", output.native()) +
                             ",\"state\":" + JsonString(state) +
                             ",\"warning\":" + JsonString(warning) + ",\"seconds\":";
    errno = 0;
    if (std::fprintf(File.get(), "%s%.3f}\n", line.c_str(), seconds) < 0 ||
        std::fflush(File.get()) != 0) {
        if (errno == 0)
            errno = EIO;
        Fail();
    }
}
