// The output folder's record of its outputs: one escaped, tab-separated line per change.
#include "component/OutputManifest.h"

#include "ffbind/TextUtils.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;

namespace {

constexpr const char* Header = "soundpick outputs 1\n";

// Tabs, line breaks and the escape itself as two characters, so that any name fits a field.
std::string Escaped(const std::string& text) {
    std::string escaped;
    for (const char c : text) {
        if (c == '\\')
            escaped += "\\\\";
        else if (c == '\t')
            escaped += "\\t";
        else if (c == '\n')
            escaped += "\\n";
        else if (c == '\r')
            escaped += "\\r";
        else
            escaped += c;
    }
    return escaped;
}

std::vector<std::string> Fields(const std::string& line) {
    std::vector<std::string> fields(1);
    for (std::size_t i = 0; i < line.size(); ++i) {
        const char c = line[i];
        if (c == '\t') {
            fields.emplace_back();
        } else if (c == '\\' && i + 1 < line.size()) {
            const char next = line[++i];
            fields.back() += next == 't' ? '\t' : next == 'n' ? '\n' : next == 'r' ? '\r' : next;
        } else {
            fields.back() += c;
        }
    }
    return fields;
}

int64_t Number(const std::string& text) {
    return WholeInteger<int64_t>(text).value_or(-1);
}

// A file descriptor closed with its owner.
class TDescriptor {
public:
    explicit TDescriptor(int descriptor) : Fd(descriptor) {}
    ~TDescriptor() {
        if (Fd >= 0)
            close(Fd);
    }
    TDescriptor(const TDescriptor&) = delete;
    TDescriptor& operator=(const TDescriptor&) = delete;
    int Get() const { return Fd; }

private:
    int Fd;
};

std::string SystemError(const fs::path& file) {
    return file.string() + ": " + std::strerror(errno);
}

} // namespace

TRecordedStamp StampOf(const fs::path& file) {
    struct stat status;
    if (stat(file.c_str(), &status) != 0 || !S_ISREG(status.st_mode))
        return {};
    return {static_cast<int64_t>(status.st_size),
            int64_t{status.st_mtim.tv_sec} * 1000000000 + status.st_mtim.tv_nsec};
}

TOutputManifest::TOutputManifest(const fs::path& folder) : OutputFolder(folder) {}

std::string TOutputManifest::Load() {
    ByOutput.clear();
    const fs::path file = OutputFolder / FileName;
    TDescriptor descriptor(open(file.c_str(), O_RDONLY | O_CLOEXEC));
    if (descriptor.Get() < 0)
        return errno == ENOENT ? "" : SystemError(file);
    // Shared: no writer is half-way through a line while it is read.
    if (flock(descriptor.Get(), LOCK_SH) != 0)
        return SystemError(file);
    std::string text;
    char buffer[65536];
    for (ssize_t got; (got = read(descriptor.Get(), buffer, sizeof buffer)) != 0;) {
        if (got < 0)
            return SystemError(file);
        text.append(buffer, static_cast<std::size_t>(got));
    }
    // Only whole lines count: a run that died in a write left no half a record.
    for (std::size_t start = 0, end; (end = text.find('\n', start)) != std::string::npos;
         start = end + 1)
        Apply(text.substr(start, end - start));
    return "";
}

void TOutputManifest::Apply(const std::string& line) {
    const std::vector<std::string> fields = Fields(line);
    if (fields.size() == 2 && fields[0] == "-") {
        ByOutput.erase(fields[1]);
        return;
    }
    // Fields a later version adds go unread.
    if (fields.size() < 9 || fields[0] != "+")
        return; // the header
    TManifestEntry entry{fields[1],
                         fields[2],
                         fields[3],
                         {Number(fields[4]), Number(fields[5])},
                         Number(fields[6]),
                         {Number(fields[7]), Number(fields[8])},
                         fields.size() < 10 || fields[9] != "0"};
    ByOutput[entry.Output] = std::move(entry);
}

const TManifestEntry* TOutputManifest::ForOutput(const fs::path& output) const {
    const auto found = ByOutput.find(Relative(output));
    return found == ByOutput.end() ? nullptr : &found->second;
}

std::string TOutputManifest::Relative(const fs::path& output) const {
    return output.lexically_normal()
        .lexically_relative(OutputFolder.lexically_normal())
        .generic_string();
}

std::string TOutputManifest::Record(const TManifestEntry& entry) {
    const auto number = [](int64_t value) { return "\t" + std::to_string(value); };
    const std::string line = "+\t" + Escaped(entry.Output) + "\t" + Escaped(entry.Input) + "\t" +
                             Escaped(entry.Settings) + number(entry.InputStamp.SizeBytes) +
                             number(entry.InputStamp.TimeNs) + number(entry.WrittenUs) +
                             number(entry.OutputStamp.SizeBytes) +
                             number(entry.OutputStamp.TimeNs) +
                             (entry.Complete ? "\t1\n" : "\t0\n");
    std::string error = Append(line);
    if (error.empty())
        ByOutput[entry.Output] = entry;
    return error;
}

std::string TOutputManifest::Forget(const std::string& output) {
    std::string error = Append("-\t" + Escaped(output) + "\n");
    if (error.empty())
        ByOutput.erase(output);
    return error;
}

std::string TOutputManifest::Append(const std::string& line) {
    const fs::path file = OutputFolder / FileName;
    TDescriptor descriptor(
        open(file.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC | O_NOFOLLOW, 0666));
    if (descriptor.Get() < 0 || flock(descriptor.Get(), LOCK_EX) != 0)
        return SystemError(file);
    struct stat status;
    const bool fresh = fstat(descriptor.Get(), &status) == 0 && status.st_size == 0;
    const std::string text = fresh ? Header + line : line;
    // One write under the lock: the line goes in whole or the error is told.
    const ssize_t written = write(descriptor.Get(), text.data(), text.size());
    if (written != static_cast<ssize_t>(text.size()))
        return written < 0 ? SystemError(file) : file.string() + ": the disk is full";
    return "";
}
