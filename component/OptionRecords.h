// The per-task option records of the conversion component: what a task reads from its input
// file and writes to its output file, as plain values with their defaults.
#ifndef SOUNDPICK_COMPONENT_OPTIONRECORDS_H
#define SOUNDPICK_COMPONENT_OPTIONRECORDS_H

#include "engine/EngineChoices.h"

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <utility>
#include <vector>

using TPathFileName = std::filesystem::path;

// Tags written to an output over its input's, in order (the first of a key wins); an empty value
// keeps the input's tag of that key off the output.
using TTagPairs = std::vector<std::pair<std::string, std::string>>;

// Options of a task's input file. -1 and empty mean "not set".
struct TInputOptions {
    TPathFileName FileName; // empty: the file name given to AddTaskInput
    std::string FormatName; // forced container format; empty: detected
    int32_t StartMs = -1;   // start offset, applied when above 0
    int64_t StartUs = -1;   // start offset, applied when above 0, after StartMs
    int32_t ProgramNo = -1; // program of a multi-program input, applied when 0 or more
    // The audio stream to convert, by its index in the file; -1: the default-flagged one, else
    // the first.
    int32_t AudioStream = -1;
    std::string ExtraOptions; // further engine options, one "name=value" per line

    void Reset() { *this = TInputOptions(); }
};

// Metadata written to a task's output file.
struct TStreamInfo {
    // Creation time as a local date-time in days since 1899-12-30: 0 means now, negative none.
    double Timestamp = -1.0;
    int32_t Year = -1;                                        // written when above 0
    int32_t Track = -1;                                       // written when above 0
    std::string Title, Author, Rights, Comment, Album, Genre; // written when not empty
};

// Options of a task's output file. -1 and empty mean "not set" unless said otherwise.
struct TOutputOptions {
    TPathFileName FileName;    // empty: the file name given to SetTaskOutput
    bool Overwrite = false;    // an existing file of that name is replaced by a finished run
    bool NumberedName = false; // a name taken meanwhile gives way to the next "_(new_N)" one
    std::string NameSuffix;    // what follows the "_(new_N)" mark in the name ("_2_ger")
    // Missing folders below it are made with the output (a chapter's folder, a library's tree);
    // empty: the output's folder must exist.
    TPathFileName FoldersFrom;
    std::string FileExt;        // the extension chosen by the option assembly; not read here
    std::string FormatName;     // forced container format
    int32_t PacketSize = -1;    // container packet size
    int32_t MuxRate = -1;       // container mux rate
    float MuxDelay = -1.0f;     // maximum demux-decode delay, seconds
    float PreloadDelay = -1.0f; // initial demux-decode delay, seconds
    std::string AudioCodec;     // encoder name or "copy"
    std::string AudioPreset;    // preset name or preset file
    bool NoAudio = false;       // no audio in the output
    int32_t Volume = -1;        // 256 = unchanged; applied when 0 or more
    int32_t Channels = -1;      // channel count
    int32_t SampleRate = -1;    // Hz
    int32_t AudioBitrate = -1;  // bits per second
    int32_t AudioBitrateTolerance = -1;
    std::string AudioLang;  // language code; always applied (empty clears)
    int32_t AudioSync = 0;  // audio sync method; always applied
    std::string AudioTag;   // four characters
    std::string VideoCodec; // encoder name or "copy"
    std::string VideoPreset;
    bool NoVideo = false;
    std::string VideoFrameRate; // as the option "r" takes it
    std::string VideoFrameSize; // as the option "s" takes it
    std::string VideoAspect;    // "w:h" or a number
    int32_t TopCrop = -1, BottomCrop = -1, LeftCrop = -1, RightCrop = -1;
    int32_t TopPad = -1, BottomPad = -1, LeftPad = -1, RightPad = -1;
    uint32_t PadRGB = 0; // colour 0xBBGGRR; black by default
    int32_t GopSize = -1;
    int32_t VideoBitrate = -1; // bits per second
    int32_t VideoMaxRate = -1;
    int32_t VideoMinRate = -1;
    int32_t VideoBitrateTolerance = -1;
    int32_t VideoBufferSize = -1;
    int32_t VideoSync = -1;       // video sync method; always applied
    std::string VideoTag;         // four characters
    std::string VideoFilterChain; // comma-separated filters
    std::string SubtitleCodec;    // encoder name or "copy"
    std::string SubtitlePreset;
    bool NoSubtitle = false;
    std::string SubtitleLang;
    bool CopyTimestamp = false; // copy input time stamps to the output
    int32_t StartMs = -1;       // start offset for the output
    int64_t StartUs = -1;
    int32_t DurationMs = -1; // length of output to write
    int64_t DurationUs = -1;
    TStreamInfo StreamInfo;
    int32_t Target = 0;             // 0 none, 1 "vcd", 2 "svcd", 3 "dvd"
    int32_t TargetNorm = 0;         // 0 "auto", 1 "pal", 2 "ntsc"
    int32_t TargetFallbackNorm = 1; // 1 "pal", any other value "ntsc"
    bool CustomHook = false;        // decoded video frames go to OnCustomHook
    bool BeforeHook = false;        // OnBeforeHook is asked before hooks act on a frame
    std::string HookPTSPeriods;     // "start-end" in milliseconds, periods separated by ","
    bool Join = false;              // join all inputs of the task into this output
    // Loudness normalisation to this integrated loudness (LUFS), in a first pass; none when
    // empty.
    std::optional<double> LoudnessTargetLufs;
    // Kept tags, cover, its size, ReplayGain: applied before the extra options, which may still
    // change them.
    TEngineChoices Engine;
    TTagPairs Tags;           // applied after the ordinary extra options
    std::string ExtraOptions; // further engine options, one "name=value" per line

    void Reset() { *this = TOutputOptions(); }
};

// A period in which video hooks act, microseconds.
using THookPeriodUs = std::pair<int64_t, int64_t>;

// Turns "0-5000,10000-15000" (milliseconds) into periods in microseconds. A piece whose end is
// negative, not a number or below its start is dropped; an empty text gives no periods.
std::vector<THookPeriodUs> ParseHookPTSPeriods(const std::string& text);

// A local date-time (days since 1899-12-30) as seconds since 1970-01-01 UTC, with the time
// zone's standard offset (daylight saving is not applied).
int64_t DateTimeToUnixSeconds(double localDateTime);

// The creation time a TStreamInfo::Timestamp asks for, in Unix seconds: 0 is now, above 0 that
// time. False when the value asks for none (negative).
bool TimestampToUnixSeconds(double timestamp, int64_t& unixSeconds);

#endif
