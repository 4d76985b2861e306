// soundpick-cli's output.
#include "cli/CliReporter.h"

#include "component/LibraryInputs.h"
#include "ffbind/FFmpegApi.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <sstream>
#include <string_view>

const char* StateName(TTaskState state) {
    switch (state) {
    case tsFinished:
        return "finished";
    case tsStopped:
        return "stopped";
    case tsFailed:
        return "failed";
    case tsRunning:
        return "running";
    default:
        return "waiting";
    }
}

namespace {

std::string SizeShort(int64_t bytes) {
    char text[32];
    if (bytes >= 1024 * 1024)
        std::snprintf(text, sizeof text, "%.2f MB", static_cast<double>(bytes) / (1024 * 1024));
    else
        std::snprintf(text, sizeof text, "%.1f KB", static_cast<double>(bytes) / 1024);
    return text;
}

std::string ClockText(int ms) {
    const int seconds = ms / 1000;
    char text[32];
    std::snprintf(text, sizeof text, "%02d:%02d:%02d", seconds / 3600, seconds / 60 % 60,
                  seconds % 60);
    return text;
}

// The time the task still needs at its speed so far; -1 while the speed or the length is unknown.
int64_t TimeLeftMs(const TCliTask& task) {
    if (task.Speed <= 0 || task.TotalMs <= 0)
        return -1;
    const int64_t leftMs = task.TotalMs > task.CurrentMs ? task.TotalMs - task.CurrentMs : 0;
    return std::llround(static_cast<double>(leftMs) / task.Speed);
}

int Percent(const TCliTask& task) {
    if (task.TotalMs <= 0)
        return -1;
    const int64_t percent = static_cast<int64_t>(task.CurrentMs) * 100 / task.TotalMs;
    return static_cast<int>(percent > 100 ? 100 : percent);
}

// The length of the well-formed UTF-8 character at the start of text (no overlong form, no
// surrogate, nothing past U+10FFFF), 0 when there is none.
std::size_t Utf8CharacterLength(std::string_view text) {
    const auto byte = [&text](std::size_t i) { return static_cast<uint8_t>(text[i]); };
    const uint8_t lead = byte(0);
    const std::size_t length = lead < 0x80   ? 1
                               : lead < 0xC2 ? 0
                               : lead < 0xE0 ? 2
                               : lead < 0xF0 ? 3
                               : lead < 0xF5 ? 4
                                             : 0;
    if (length == 0 || length > text.size())
        return 0;
    // The second byte's range is narrower after E0, ED, F0 and F4.
    const uint8_t low = lead == 0xE0 ? 0xA0 : lead == 0xF0 ? 0x90 : 0x80;
    const uint8_t high = lead == 0xED ? 0x9F : lead == 0xF4 ? 0x8F : 0xBF;
    for (std::size_t i = 1; i < length; ++i)
        if (byte(i) < (i == 1 ? low : 0x80) || byte(i) > (i == 1 ? high : 0xBF))
            return 0;
    return length;
}

bool IsUtf8(std::string_view text) {
    for (std::size_t length; !text.empty(); text.remove_prefix(length))
        if ((length = Utf8CharacterLength(text)) == 0)
            return false;
    return true;
}

std::string Base64(const std::string& bytes) {
    std::string text(AV_BASE64_SIZE(bytes.size()), '\0');
    ff::av_base64_encode(text.data(), static_cast<int>(text.size()),
                         reinterpret_cast<const uint8_t*>(bytes.data()),
                         static_cast<int>(bytes.size()));
    text.resize(std::strlen(text.c_str()));
    return text;
}

// One JSON object, built field by field.
class TJsonObject {
public:
    TJsonObject& Add(const char* key, const std::string& value) {
        return Raw(key, JsonString(value));
    }
    TJsonObject& Add(const char* key, int64_t value) { return Raw(key, std::to_string(value)); }
    TJsonObject& Add(const char* key, double value) {
        char text[32];
        std::snprintf(text, sizeof text, "%.3f", value);
        return Raw(key, text);
    }
    // A file name, and when it is no UTF-8 text (its bad bytes read as U+FFFD) its bytes as
    // they are in base64 under key + "_base64".
    TJsonObject& AddPath(const char* key, const std::filesystem::path& path) {
        Body += (Body.empty() ? "" : ",") + JsonPathMembers(key, path.native());
        return *this;
    }
    TJsonObject& Null(const char* key) { return Raw(key, "null"); }
    std::string Text() const { return "{" + Body + "}"; }

private:
    TJsonObject& Raw(const char* key, const std::string& value) {
        if (!Body.empty())
            Body += ",";
        Body += JsonString(key) + ":" + value;
        return *this;
    }
    std::string Body;
};

void PrintJson(const TJsonObject& object) {
    std::printf("%s\n", object.Text().c_str());
    std::fflush(stdout);
}

TJsonObject TaskObject(const char* event, int index, const TCliTask& task) {
    TJsonObject object;
    object.Add("event", std::string(event)).Add("index", static_cast<int64_t>(index));
    object.AddPath("input", task.Input).AddPath("output", task.Output);
    if (!task.Piece.empty())
        object.Add("piece", task.Piece);
    return object;
}

} // namespace

std::string JsonPathMembers(const std::string& key, const std::string& name) {
    std::string members = JsonString(key) + ":" + JsonString(name);
    if (!IsUtf8(name))
        members += "," + JsonString(key + "_base64") + ":" + JsonString(Base64(name));
    return members;
}

std::string ShownName(const TCliTask& task) {
    return task.Piece.empty() ? task.Input : task.Input + " [" + task.Piece + "]";
}

std::string JsonString(const std::string& text) {
    std::string quoted = "\"";
    for (std::size_t i = 0; i < text.size(); ++i) {
        const unsigned char c = text[i];
        if (c >= 0x80) {
            // A byte that starts no UTF-8 character stands for itself as U+FFFD.
            const std::size_t length = Utf8CharacterLength(std::string_view(text).substr(i));
            quoted += length ? text.substr(i, length) : "\\ufffd";
            i += length ? length - 1 : 0;
            continue;
        }
        switch (c) {
        case '"':
            quoted += "\\\"";
            break;
        case '\\':
            quoted += "\\\\";
            break;
        case '\n':
            quoted += "\\n";
            break;
        case '\r':
            quoted += "\\r";
            break;
        case '\t':
            quoted += "\\t";
            break;
        default:
            if (c < 0x20) {
                char escaped[8];
                std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
                quoted += escaped;
            } else {
                quoted += static_cast<char>(c);
            }
        }
    }
    return quoted + "\"";
}

TCliReporter::TCliReporter(TReportMode mode, bool quiet) : Mode(mode), Quiet(quiet) {}

std::string TCliReporter::Tag(int index) const {
    return "[" + std::to_string(index + 1) + "/" + std::to_string(TaskTotal) + "] ";
}

void TCliReporter::Added(int index, const TCliTask& task) {
    TaskTotal = index + 1;
    if (Mode == rmJson) {
        PrintJson(TaskObject("added", index, task));
        return;
    }
    if (!Quiet)
        ErrorLine(ShownName(task) + ": ***File has been added to convert list.");
}

void TCliReporter::Skipped(const std::filesystem::path& input, const std::string& message) {
    if (Mode == rmJson) {
        TJsonObject object;
        object.Add("event", std::string("failed")).Null("index");
        object.AddPath("input", input).Null("output").Add("message", message);
        PrintJson(object);
        return;
    }
    ErrorLine(input.string() + ": " + message);
}

void TCliReporter::Progress(int index, const TCliTask& task) {
    if (Mode != rmJson)
        return;
    TJsonObject object = TaskObject("progress", index, task);
    object.Add("percent", static_cast<int64_t>(Percent(task)));
    object.Add("time_ms", static_cast<int64_t>(task.CurrentMs));
    object.Add("total_ms", static_cast<int64_t>(task.TotalMs));
    object.Add("size", task.SizeBytes).Add("speed", task.Speed);
    if (const int64_t leftMs = TimeLeftMs(task); leftMs >= 0)
        object.Add("left_ms", leftMs);
    else
        object.Null("left_ms");
    PrintJson(object);
}

void TCliReporter::Ended(int index, const TCliTask& task, const std::string& message,
                         bool outputExists) {
    if (Mode == rmJson) {
        TJsonObject object;
        object.Add("event", std::string(StateName(task.State)))
            .Add("index", static_cast<int64_t>(index))
            .AddPath("input", task.Input);
        if (!task.Piece.empty())
            object.Add("piece", task.Piece);
        if (outputExists)
            object.AddPath("output", task.Output);
        else
            object.Null("output");
        if (task.State == tsFailed || (task.State == tsStopped && !message.empty()))
            object.Add("message", message);
        if (!task.Warning.empty())
            object.Add("warning", task.Warning);
        if (task.InputLufs)
            object.Add("input_lufs", *task.InputLufs)
                .Add("gain_db", *task.GainDb)
                .Add("output_lufs", *task.OutputLufs)
                .Add("output_true_peak_dbtp", *task.OutputTruePeakDbtp);
        PrintJson(object);
        return;
    }
    if (!task.Warning.empty())
        ErrorLine(Tag(index) + "warning: " + task.Warning);
    if (task.State == tsFailed)
        ErrorLine(Tag(index) + ShownName(task) + ": failed: " + message);
    else if (task.State == tsStopped && !message.empty())
        ErrorLine(Tag(index) + ShownName(task) + ": " + message); // why no file was kept
    else if (!Quiet)
        ErrorLine(Tag(index) + ShownName(task) + ": " + StateName(task.State));
    if (outputExists)
        OutputName(task.Output);
}

void TCliReporter::Planned(const std::string& action, const std::filesystem::path& input,
                           const std::filesystem::path& output, const std::string& reason) {
    if (Mode == rmJson) {
        TJsonObject object;
        object.Add("event", std::string("plan")).Add("action", action).AddPath("input", input);
        if (output.empty())
            object.Null("output");
        else
            object.AddPath("output", output);
        PrintJson(object.Add("reason", reason));
        return;
    }
    ClearLive();
    std::printf("%s %s%s: %s\n", action.c_str(), input.string().c_str(),
                output.empty() ? "" : (" -> " + output.string()).c_str(), reason.c_str());
    std::fflush(stdout);
}

void TCliReporter::Removed(const std::filesystem::path& input, const std::filesystem::path& output,
                           const std::string& why) {
    if (Mode == rmJson) {
        PrintJson(TJsonObject()
                      .Add("event", std::string("removed"))
                      .AddPath("input", input)
                      .AddPath("output", output)
                      .Add("reason", why));
        return;
    }
    if (!Quiet)
        ErrorLine("removed " + output.string() + ": " + why);
}

void TCliReporter::LogLine(const std::string& line) {
    if (Mode == rmJson)
        std::fprintf(stderr, "%s\n", line.c_str());
    else
        ErrorLine(line);
}

void TCliReporter::Warning(const std::string& text) {
    if (!Quiet)
        LogLine("soundpick-cli: " + text);
}

void TCliReporter::InfoText(const std::filesystem::path& input, const std::string& text) {
    std::string plain;
    for (char c : text)
        if (c != '\r')
            plain += c;
    if (Mode == rmJson) {
        TJsonObject object;
        object.Add("event", std::string("info")).Add("input", input.string()).Add("text", plain);
        PrintJson(object);
        return;
    }
    std::printf("%s:\n%s\n", input.string().c_str(), plain.c_str());
    std::fflush(stdout);
}

void TCliReporter::Redraw(const std::vector<TCliTask>& tasks) {
    if (Mode != rmTerminal || Quiet)
        return;
    ClearLive();
    for (std::size_t i = 0; i < tasks.size(); ++i) {
        const TCliTask& task = tasks[i];
        if (task.State != tsRunning)
            continue;
        std::string name = std::filesystem::path(task.Input).filename().string();
        if (!task.Piece.empty())
            name += " [" + task.Piece + "]";
        if (name.size() > 32)
            name = name.substr(0, 29) + "...";
        const int percent = Percent(task);
        const std::string percentText = percent < 0 ? "--" : std::to_string(percent) + "%";
        char speedText[32] = "--";
        if (task.Speed > 0)
            std::snprintf(speedText, sizeof speedText, "%.1fx", task.Speed);
        const int64_t leftMs = TimeLeftMs(task);
        const std::string leftText =
            "left " + (leftMs < 0 ? std::string("--:--:--") : ClockText(static_cast<int>(leftMs)));
        char line[256];
        std::snprintf(line, sizeof line, "%s%-32s %4s %8s  %s  %s  %s",
                      Tag(static_cast<int>(i)).c_str(), name.c_str(), percentText.c_str(),
                      speedText, ClockText(task.CurrentMs).c_str(),
                      SizeShort(task.SizeBytes).c_str(), leftText.c_str());
        std::fprintf(stderr, "%s\n", line);
        ++LiveLines;
    }
    std::fflush(stderr);
}

void TCliReporter::Summary(const std::vector<TCliTask>& tasks, int skipped, double seconds) {
    ClearLive();
    if (Mode == rmJson || Quiet)
        return;
    int counts[5] = {};
    for (const TCliTask& task : tasks)
        ++counts[task.State];
    std::fprintf(stderr, "%d finished, %d stopped, %d failed, %d skipped in %.1f s\n",
                 counts[tsFinished], counts[tsStopped], counts[tsFailed] + counts[tsWaiting],
                 skipped, seconds);
}

void TCliReporter::PassedOver(int withoutSound, int upToDate, int unusedCueSheets) {
    if (withoutSound == 0 && upToDate == 0 && unusedCueSheets == 0)
        return;
    if (Mode == rmJson) {
        PrintJson(TJsonObject()
                      .Add("event", std::string("passed"))
                      .Add("without_sound", static_cast<int64_t>(withoutSound))
                      .Add("up_to_date", static_cast<int64_t>(upToDate))
                      .Add("cue_sheets_unused", static_cast<int64_t>(unusedCueSheets)));
        return;
    }
    ClearLive();
    if (Quiet)
        return;
    if (withoutSound > 0)
        std::fprintf(stderr, "%s\n", WithoutSoundText(withoutSound).c_str());
    if (upToDate > 0)
        std::fprintf(stderr, "%d %s up to date skipped\n", upToDate,
                     upToDate == 1 ? "file" : "files");
    if (unusedCueSheets > 0)
        std::fprintf(stderr, "%d %s not used; add --cue\n", unusedCueSheets,
                     unusedCueSheets == 1 ? "cue sheet" : "cue sheets");
}

void TCliReporter::ClearLive() {
    if (LiveLines == 0)
        return;
    // Up over the block, then clear to the end of the screen.
    std::fprintf(stderr, "\x1b[%dA\x1b[J", LiveLines);
    LiveLines = 0;
}

void TCliReporter::ErrorLine(const std::string& line) {
    ClearLive();
    std::fprintf(stderr, "%s\n", line.c_str());
    std::fflush(stderr);
}

void TCliReporter::OutputName(const std::filesystem::path& output) {
    ClearLive();
    std::fflush(stderr);
    std::printf("%s\n", output.string().c_str());
    std::fflush(stdout);
}
