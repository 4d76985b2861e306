// Child-process runs of soundpick-cli and a reader of its JSON lines.
#include "cli/CliProcess.h"

#include "support/TestLibs.h"

#include <csignal>
#include <fcntl.h>
#include <fstream>
#include <sstream>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

std::string ReadFile(const std::filesystem::path& file) {
    std::ifstream stream(file, std::ios::binary);
    std::ostringstream text;
    text << stream.rdbuf();
    return text.str();
}

} // namespace

TCliProcess::TCliProcess(const std::vector<std::string>& args, const std::filesystem::path& folder,
                         long fileSizeLimitBytes, TStandardOutput standardOutput)
    : OutFile(folder / "cli.out"), ErrFile(folder / "cli.err") {
    const std::string program = (ExecutableFolder() / "soundpick-cli").string();
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(program.c_str()));
    for (const std::string& arg : args)
        argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    const std::string outName = OutFile.string(), errName = ErrFile.string();
    int pipeEnds[2] = {-1, -1};
    if (standardOutput == soClosedPipe && pipe(pipeEnds) == 0)
        close(pipeEnds[0]);
    Pid = fork();
    if (Pid == 0) {
        const int out = standardOutput == soClosedPipe
                            ? pipeEnds[1]
                            : open(outName.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        // As a shell starts it, whatever this test program does with the signal.
        std::signal(SIGPIPE, SIG_DFL);
        const int err = open(errName.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const int in = open("/dev/null", O_RDONLY);
        dup2(out, STDOUT_FILENO);
        dup2(err, STDERR_FILENO);
        dup2(in, STDIN_FILENO);
        if (fileSizeLimitBytes > 0) {
            const rlimit limit{static_cast<rlim_t>(fileSizeLimitBytes),
                               static_cast<rlim_t>(fileSizeLimitBytes)};
            setrlimit(RLIMIT_FSIZE, &limit);
        }
        execv(program.c_str(), argv.data());
        _exit(127);
    }
    if (pipeEnds[1] >= 0)
        close(pipeEnds[1]);
}

TCliProcess::~TCliProcess() {
    if (Pid > 0 && Status == -1) {
        kill(Pid, SIGKILL);
        Wait();
    }
}

int TCliProcess::Wait() {
    if (Pid <= 0)
        return -1;
    int status = 0;
    if (waitpid(Pid, &status, 0) != Pid)
        return -1;
    Status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    Pid = -1;
    return Status;
}

void TCliProcess::Signal(int signalNumber) {
    if (Pid > 0)
        kill(Pid, signalNumber);
}

std::string TCliProcess::Out() const {
    return ReadFile(OutFile);
}
std::string TCliProcess::Err() const {
    return ReadFile(ErrFile);
}

int RunCli(const std::vector<std::string>& args, const std::filesystem::path& folder,
           std::string* out, std::string* err) {
    TCliProcess process(args, folder);
    const int status = process.Wait();
    if (out)
        *out = process.Out();
    if (err)
        *err = process.Err();
    return status;
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream stream(text);
    std::string line;
    while (std::getline(stream, line))
        if (!line.empty())
            lines.push_back(line);
    return lines;
}

namespace {

// A JSON string at text[i] (the opening quote); i moves past it.
bool ReadString(const std::string& text, std::size_t& i, std::string& value) {
    if (i >= text.size() || text[i] != '"')
        return false;
    value.clear();
    for (++i; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '"') {
            ++i;
            return true;
        }
        if (static_cast<unsigned char>(c) < 0x20)
            return false;
        if (c != '\\') {
            value += c;
            continue;
        }
        if (++i >= text.size())
            return false;
        switch (text[i]) {
        case 'n':
            value += '\n';
            break;
        case 't':
            value += '\t';
            break;
        case 'r':
            value += '\r';
            break;
        case 'u':
            if (i + 4 >= text.size())
                return false;
            value += static_cast<char>(std::stoi(text.substr(i + 1, 4), nullptr, 16));
            i += 4;
            break;
        default:
            value += text[i];
        }
    }
    return false;
}

} // namespace

bool ParseFlatJson(const std::string& line, std::map<std::string, std::string>& object) {
    object.clear();
    std::size_t i = 0;
    if (line.empty() || line[i++] != '{')
        return false;
    while (i < line.size() && line[i] != '}') {
        std::string key, value;
        if (!ReadString(line, i, key) || i >= line.size() || line[i++] != ':')
            return false;
        if (i < line.size() && line[i] == '"') {
            if (!ReadString(line, i, value))
                return false;
        } else {
            const std::size_t end = line.find_first_of(",}", i);
            if (end == std::string::npos || end == i)
                return false;
            value = line.substr(i, end - i);
            i = end;
        }
        object[key] = value;
        if (i < line.size() && line[i] == ',')
            ++i;
    }
    return i + 1 == line.size() && line[i] == '}';
}
