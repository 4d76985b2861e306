// Command-line parsing of soundpick-cli.
#include "cli/CliOptions.h"

#include "component/NameTemplate.h"
#include "component/OutputFormats.h"
#include "component/Shard.h"
#include "ffbind/TextUtils.h"
#include "probe/SoundEnvelope.h"

#include <cctype>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <map>
#include <sstream>
#include <thread>

namespace {

// A time in seconds, up to about thirty years: anything longer is a slip of the keyboard, and
// its microseconds must fit the clip's 64-bit arithmetic.
std::optional<double> Seconds(const std::string& text) {
    if (text.empty())
        return std::nullopt;
    char* stop = nullptr;
    const double value = std::strtod(text.c_str(), &stop);
    if (*stop != '\0' || !std::isfinite(value) || value < 0 || value > 1e9)
        return std::nullopt;
    return value;
}

// The -f values of the encoded formats or of the stream copy, in the dialog's order: the usage
// and its errors list the former first.
std::string FormatNames(bool streamCopy) {
    std::string names;
    for (const TOutputFormat& format : OutputFormats())
        if (format.StreamCopy == streamCopy)
            names.append(names.empty() ? "" : " ").append(format.CliName);
    return names;
}

// Text in lines of at most widthChars characters, every line but the first after the indent.
std::string Wrapped(const std::string& text, std::size_t widthChars, const std::string& indent) {
    std::istringstream words(text);
    std::string lines, line, word;
    while (words >> word) {
        if (!line.empty() && line.size() + 1 + word.size() > widthChars) {
            lines += line + "\n" + indent;
            line.clear();
        }
        line.append(line.empty() ? "" : " ").append(word);
    }
    return lines + line + "\n";
}

// The description of -f in the usage's column: the encoded formats, then what the stream copy
// does.
std::string FormatUsage() {
    std::string text = FormatNames(false) + " (default " +
                       std::string(OutputFormatOf(TCliOptions().Format).CliName) + ")";
    for (const TOutputFormat& format : OutputFormats())
        if (format.StreamCopy)
            text.append(", or ").append(format.CliName).append(": ").append(format.Description);
    return Wrapped(text, 64, std::string(26, ' '));
}

// Applies one option with its value to the options; an error text, or empty.
using TValueHandler = std::function<std::string(TCliOptions&, const std::string&)>;

// A format by its caption or command-line name, in any case ("mp3", "Mp3", "copy").
std::string SetFormat(TCliOptions& o, const std::string& value) {
    const TOutputFormat* format = FindOutputFormat(value);
    if (!format)
        return "unknown format '" + value + "' (" + FormatNames(false) + " " + FormatNames(true) +
               ")";
    o.Format = format->Id;
    return "";
}

std::string SetRate(TCliOptions& o, const std::string& value) {
    if (LowerCase(value) == "auto") {
        o.SampleRateHz.reset();
        return "";
    }
    const auto hz = WholeInteger<long long>(value);
    if (!hz || *hz <= 0 || *hz > 1000000)
        return "bad sample rate '" + value + "' (auto or Hz)";
    o.SampleRateHz = static_cast<int>(*hz);
    return "";
}

std::string SetChannels(TCliOptions& o, const std::string& value) {
    const std::string lower = LowerCase(value);
    if (lower == "auto")
        o.Channels.reset();
    else if (lower == "mono" || lower == "1")
        o.Channels = 1;
    else if (lower == "stereo" || lower == "2")
        o.Channels = 2;
    else
        return "bad channels '" + value + "' (auto, mono or stereo)";
    return "";
}

std::string SetVolume(TCliOptions& o, const std::string& value) {
    const auto volume = WholeInteger<long long>(value);
    if (!volume || *volume < 0 || *volume > 65536)
        return "bad volume '" + value + "' (0 to 65536, 256 = unchanged)";
    o.Volume = static_cast<int>(*volume);
    return "";
}

std::string BitRateError(const std::string& value) {
    return "bad bit rate '" + value + "' (kbit/s)";
}

// The number only: its limits are the format's, which may come later on the line.
std::string SetBitRate(TCliOptions& o, const std::string& value) {
    o.BitRateKbps = WholeInteger<int>(value);
    return o.BitRateKbps ? "" : BitRateError(value);
}

std::string SetLoudness(TCliOptions& o, const std::string& value) {
    char* stop = nullptr;
    const double lufs = std::strtod(value.c_str(), &stop);
    if (value.empty() || *stop != '\0' || !(lufs >= -70 && lufs <= -1))
        return "bad loudness '" + value + "' (LUFS, -70 to -1, e.g. -16 or -23)";
    o.LoudnessLufs = lufs;
    return "";
}

std::string SetStart(TCliOptions& o, const std::string& value) {
    o.StartSeconds = Seconds(value);
    return o.StartSeconds ? "" : "bad start time '" + value + "' (seconds)";
}

std::string SetEnd(TCliOptions& o, const std::string& value) {
    o.EndSeconds = Seconds(value);
    return o.EndSeconds ? "" : "bad end time '" + value + "' (seconds)";
}

// A level in dBFS below full scale; an empty value is the dialog's own level.
std::optional<double> SilenceLevel(const std::string& value) {
    if (value.empty())
        return TSoundEnvelope::SilenceDb;
    char* stop = nullptr;
    const double levelDb = std::strtod(value.c_str(), &stop);
    if (*stop != '\0' || !(levelDb >= -120 && levelDb < 0))
        return std::nullopt;
    return levelDb;
}

std::string SetTrimSilence(TCliOptions& o, const std::string& value) {
    o.TrimSilenceDb = SilenceLevel(value);
    return o.TrimSilenceDb ? "" : "bad silence level '" + value + "' (dBFS, below 0, e.g. -50)";
}

std::string SetJobs(TCliOptions& o, const std::string& value) {
    const auto jobs = WholeInteger<long long>(value);
    if (!jobs || *jobs <= 0 || *jobs > 256)
        return "bad job count '" + value + "' (1 to 256)";
    o.Jobs = static_cast<int>(*jobs);
    return "";
}

std::string AddExtraOption(TCliOptions& o, const std::string& value) {
    if (value.empty() || value[0] == '=')
        return "bad engine option '" + value + "' (NAME=VALUE)";
    o.ExtraOptions.push_back(value);
    return "";
}

std::string SetNameTemplate(TCliOptions& o, const std::string& value) {
    if (value.empty())
        return "empty name template";
    std::string error;
    if (!TNameTemplate::Parse(value, error))
        return error;
    o.NameTemplate = value;
    return "";
}

std::string SetCoverSize(TCliOptions& o, const std::string& value) {
    const std::optional<int> pixels = WholeInteger<int>(value);
    o.Engine.CoverSizePixels = pixels.value_or(0);
    return pixels && *pixels >= 16 && *pixels <= 4096
               ? ""
               : "bad cover size '" + value + "' (16 to 4096 pixels)";
}

std::string SetShard(TCliOptions& o, const std::string& value) {
    o.Shard = value;
    return ParseShard(value) ? "" : "bad shard '" + value + "' (K/N with 1 <= K <= N)";
}

struct TOptionSpec {
    char Short;               // 0: none
    TValueHandler TakesValue; // empty for a switch
    std::function<void(TCliOptions&)> Switch;
};

const std::map<std::string, TOptionSpec>& OptionTable() {
    static const std::map<std::string, TOptionSpec> table = {
        {"format", {'f', SetFormat, {}}},
        {"rate", {'r', SetRate, {}}},
        {"channels", {'c', SetChannels, {}}},
        {"volume", {0, SetVolume, {}}},
        {"bitrate", {'b', SetBitRate, {}}},
        {"loudness", {0, SetLoudness, {}}},
        {"start", {0, SetStart, {}}},
        {"end", {0, SetEnd, {}}},
        {"trim-silence", {0, SetTrimSilence, {}}},
        {"output-dir",
         {'o',
          [](TCliOptions& o, const std::string& v) {
              o.OutputFolder = v;
              return v.empty() ? std::string("empty output folder") : std::string();
          },
          {}}},
        {"jobs", {'j', SetJobs, {}}},
        {"option", {0, AddExtraOption, {}}},
        {"name", {0, SetNameTemplate, {}}},
        {"shard", {0, SetShard, {}}},
        {"report",
         {0,
          [](TCliOptions& o, const std::string& v) {
              o.ReportFile = v;
              return v.empty() ? std::string("empty report file name") : std::string();
          },
          {}}},
        {"update", {0, {}, [](TCliOptions& o) { o.Update = true; }}},
        {"delete", {0, {}, [](TCliOptions& o) { o.Delete = true; }}},
        {"dry-run", {0, {}, [](TCliOptions& o) { o.DryRun = true; }}},
        {"copy-images", {0, {}, [](TCliOptions& o) { o.CopyImages = true; }}},
        {"overwrite", {0, {}, [](TCliOptions& o) { o.Overwrite = true; }}},
        {"copy-timestamp", {0, {}, [](TCliOptions& o) { o.CopyTimestamp = true; }}},
        {"no-tags", {0, {}, [](TCliOptions& o) { o.Engine.KeepTags = false; }}},
        {"no-cover", {0, {}, [](TCliOptions& o) { o.Engine.KeepCover = false; }}},
        {"no-split", {0, {}, [](TCliOptions& o) { o.NoSplit = true; }}},
        {"replaygain", {0, {}, [](TCliOptions& o) { o.Engine.ReplayGain = true; }}},
        {"cover-size", {0, SetCoverSize, {}}},
        {"lossy",
         {0,
          [](TCliOptions& o, const std::string& v) {
              o.Lossy = v;
              return v == "copy" || v == "convert"
                         ? std::string()
                         : "bad lossy policy '" + v + "' (copy or convert)";
          },
          {}}},
        {"max-bitrate",
         {0,
          [](TCliOptions& o, const std::string& v) {
              o.MaxBitRateKbps = WholeInteger<int>(v).value_or(0);
              return o.MaxBitRateKbps > 0 ? std::string()
                                          : "bad maximum bit rate '" + v + "' (kbit/s)";
          },
          {}}},
        {"track",
         {0,
          [](TCliOptions& o, const std::string& v) {
              o.Track = v;
              return v.empty() ? std::string("empty track (a number or a language)")
                               : std::string();
          },
          {}}},
        {"all-tracks", {0, {}, [](TCliOptions& o) { o.AllTracks = true; }}},
        {"split-chapters", {0, {}, [](TCliOptions& o) { o.SplitChapters = true; }}},
        {"cue", {0, {}, [](TCliOptions& o) { o.Cue = true; }}},
        {"info", {0, {}, [](TCliOptions& o) { o.Info = true; }}},
        {"verbose", {'v', {}, [](TCliOptions& o) { o.Verbose = true; }}},
        {"quiet", {'q', {}, [](TCliOptions& o) { o.Quiet = true; }}},
        {"json", {0, {}, [](TCliOptions& o) { o.Json = true; }}},
        {"help", {'h', {}, [](TCliOptions& o) { o.Help = true; }}},
        {"version", {0, {}, [](TCliOptions& o) { o.Version = true; }}},
    };
    return table;
}

const std::pair<const std::string, TOptionSpec>* FindShort(char letter) {
    for (const auto& entry : OptionTable())
        if (entry.second.Short == letter)
            return &entry;
    return nullptr;
}

// A stream copy keeps the sound as it is: options that would change it are refused.
std::string CheckCopy(const TCliOptions& o) {
    const TOutputFormat& format = OutputFormatOf(o.Format);
    if (!format.StreamCopy)
        return "";
    const char* refused = o.SampleRateHz   ? "--rate"
                          : o.Channels     ? "--channels"
                          : o.Volume       ? "--volume"
                          : o.BitRateKbps  ? "--bitrate"
                          : o.LoudnessLufs ? "--loudness"
                                           : nullptr;
    return refused ? std::string(refused) + " does not apply to -f " + std::string(format.CliName) +
                         " (the sound is copied as it is)"
                   : "";
}

// A clip bound as the task list cuts it: whole milliseconds of a count of microseconds.
int64_t ClipMs(double seconds) {
    return std::llround(seconds * 1e6) / 1000;
}

// Checks that concern several options together.
std::string CheckCombination(const TCliOptions& o) {
    if (o.BitRateKbps && !TakesBitRate(OutputFormatOf(o.Format), *o.BitRateKbps))
        return BitRateError(std::to_string(*o.BitRateKbps));
    if (o.Help || o.Version)
        return "";
    if (o.Files.empty())
        return "no input file given";
    if (o.Quiet && o.Verbose)
        return "--quiet and --verbose exclude each other";
    if (o.AllTracks && !o.Track.empty())
        return "--track and --all-tracks exclude each other";
    // The loudness gain replaces the volume: a volume beside it would be silently lost.
    if (o.Volume && o.LoudnessLufs)
        return "--volume and --loudness exclude each other";
    if (o.EndSeconds && ClipMs(*o.EndSeconds) <= ClipMs(o.StartSeconds.value_or(0)))
        return "--end must lie at least 1 ms after --start (clips are cut to the millisecond)";
    if (o.TrimSilenceDb && (o.StartSeconds || o.EndSeconds))
        return "--trim-silence excludes --start and --end";
    if (std::string copied = CheckCopy(o); !copied.empty())
        return copied;
    if (!o.NameTemplate.empty() && o.OutputFolder.empty())
        return "--name needs --output-dir (the names are made under it)";
    if (o.Delete && o.OutputFolder.empty())
        return "--delete needs --output-dir (it removes only the outputs recorded there)";
    std::error_code error;
    if (!o.OutputFolder.empty() && !std::filesystem::is_directory(o.OutputFolder, error))
        return "output folder '" + o.OutputFolder + "' does not exist";
    return "";
}

} // namespace

TCliParse ParseCliOptions(int argc, char* argv[]) {
    TCliParse result;
    TCliOptions& o = result.Options;
    const unsigned processors = std::thread::hardware_concurrency();
    o.Jobs = processors > 0 ? static_cast<int>(processors) : 1;
    bool optionsEnded = false;
    for (int i = 1; i < argc && result.Error.empty(); ++i) {
        const std::string arg = argv[i];
        if (optionsEnded || arg == "-" || arg.size() < 2 || arg[0] != '-') {
            o.Files.push_back(arg);
            continue;
        }
        if (arg == "--") {
            optionsEnded = true;
            continue;
        }
        std::string name, value;
        bool hasValue = false;
        const TOptionSpec* option = nullptr;
        if (arg[1] == '-') {
            const std::size_t equals = arg.find('=');
            name = arg.substr(2, equals == std::string::npos ? std::string::npos : equals - 2);
            hasValue = equals != std::string::npos;
            if (hasValue)
                value = arg.substr(equals + 1);
            auto found = OptionTable().find(name);
            option = found == OptionTable().end() ? nullptr : &found->second;
        } else {
            const auto* entry = FindShort(arg[1]);
            name = entry ? entry->first : arg;
            option = entry ? &entry->second : nullptr;
            hasValue = arg.size() > 2;
            if (hasValue)
                value = arg.substr(2);
        }
        if (!option) {
            result.Error = "unknown option '" + arg + "'";
            break;
        }
        if (!option->TakesValue) {
            if (hasValue)
                result.Error = "option '--" + name + "' takes no value";
            else
                option->Switch(o);
            continue;
        }
        // The silence level may be left out: a next argument that is no level is a file.
        if (!hasValue && name == "trim-silence") {
            const bool levelFollows = i + 1 < argc && SilenceLevel(argv[i + 1]) && argv[i + 1][0];
            result.Error = SetTrimSilence(o, levelFollows ? argv[++i] : "");
            continue;
        }
        if (!hasValue) {
            if (i + 1 >= argc) {
                result.Error = "option '--" + name + "' needs a value";
                break;
            }
            value = argv[++i];
        }
        result.Error = option->TakesValue(o, value);
    }
    if (result.Error.empty())
        result.Error = CheckCombination(o);
    return result;
}

std::string CliUsageText() {
    return R"USAGE(Usage: soundpick-cli [options] FILE|FOLDER...
Takes the sound out of video and audio files.

  -f, --format FMT        )USAGE" +
           FormatUsage() +
           R"USAGE(  -r, --rate auto|HZ      sample rate (default auto)
  -c, --channels CH       auto, mono or stereo (default auto)
      --volume N          volume, 256 = unchanged
  -b, --bitrate KBPS      audio bit rate in kbit/s
      --loudness LUFS     normalise to this integrated loudness (e.g. -16 or -23) with one
                          constant gain, the true peak kept under -1 dBTP (-1.5 for lossy
                          formats; two passes and a check of what was written)
      --start SEC         clip start in seconds (decimals allowed)
      --end SEC           clip end in seconds (decimals allowed)
      --trim-silence [DB] clip each file from the first to the last moment its sound rises
                          above DB dBFS (default -50)
  -o, --output-dir DIR    write outputs into DIR (default beside each input)
      --overwrite         overwrite an existing NAME_(new).EXT instead of numbering (a
                          symbolic link is replaced itself, never written through)
      --copy-timestamp    copy the input's time stamps
      --no-tags           leave the input's tags (title, artist, ...) out of the outputs
      --no-cover          leave the input's cover picture out of the outputs
      --lossy copy|convert  an input whose sound is already in the output's lossy codec at
                          no more than its bit rate is copied as it is, or converted anyway
                          (default: copy for files under folders, convert for files named)
      --max-bitrate N     with --lossy copy: keep such sound up to N kbit/s (default: the
                          output's bit rate)
      --cover-size N      scale a cover larger than N x N pixels down to fit (aspect kept),
                          as JPEG, for devices that show only small ones
      --track N|LANG      convert audio track N (1-based) or the first of a language
                          (e.g. ger or de); default: the default-flagged track, else the first
      --all-tracks        one output per audio track, NAME_(new)_N_LANGUAGE.EXT
      --split-chapters    one output per chapter, "NN Chapter title.EXT" in a folder named
                          after the input
      --cue               an audio file with a cue sheet of the same name beside it, or in
                          its CUESHEET tag, gives the sheet's tracks ("NN Title.EXT"), and so
                          do the sheets under a folder; a .cue file named as input always does.
                          Pre-gaps end the track before; sound before track 1 is track 00
  -j, --jobs N            tasks converting at once (default: number of processors)
      --no-split          encode each output's sound on one core (by default a long
                          output's sound is encoded in pieces on the cores the tasks and
                          the machine's other work leave idle)
      --name TEMPLATE     name outputs under DIR from tags, e.g. "{albumartist}/{album}/
                          {track:02} {title}"; fields: artist albumartist album title
                          track disc totaldiscs totaltracks date genre filename dir
                          ({track:02}: padded); "<{disc}->" appears only on albums of
                          more than one disc, any "<...>" only when its fields are tagged
      --update            skip inputs whose own output (as DIR/.soundpick-outputs records
                          it) is complete and made with these settings from the input as
                          it is; a changed input, other settings or a damaged output of
                          its own is replaced, a file not recorded never
      --delete            remove the outputs DIR/.soundpick-outputs records for inputs
                          gone from the folders given, or for inputs of the run that now
                          have other outputs (nothing else), and the folders they leave
                          empty
      --dry-run           list what the run would convert, replace, skip and delete, with
                          the reason, and write nothing
      --shard K/N         convert only share K of N of the inputs (by their relative path)
      --report FILE       write one JSON line per input (input, output, state, warning,
                          seconds) to FILE; a report that cannot be written fails the run
      --copy-images       copy the cover images of each input folder beside its outputs
      --replaygain        write track and album gain and peak (REPLAYGAIN_*; R128_*_GAIN in
                          opus), measured on the written files; an album is the files of one
                          input folder (a cue sheet's tracks among them)
      --info              print each file's media information and exit
      --option NAME=VALUE extra engine option for the outputs (repeatable)
  -v, --verbose           print the log lines of the libraries and the engine
  -q, --quiet             print only output names and errors
      --json              one JSON object per event on standard output (a file name that
                          is no UTF-8 text also comes byte for byte in input_base64 or
                          output_base64)
  -h, --help              this text
      --version           the program's version

Outputs are named after the input with "_(new)" and the format's extension. A FOLDER adds
every file with sound under it (hidden ones left out, in path order); with -o its tree is
kept under DIR and outputs take the input's name with the new extension. Ctrl-C (or SIGTERM,
SIGHUP) stops every task (new outputs are complete up to that point; a file being overwritten
stays as it was); a second one ends at once, removing only the files the tasks created. A
closed standard output ends the printing, not the conversions.
Exit status: 0 when every task finished, 1 when any failed, was stopped or warned (an input
that ended before its declared length), 2 for usage errors.
)USAGE";
}
