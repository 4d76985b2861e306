// The engine's option state: every field the option vocabulary sets, with its default and the
// setters that check and convert one value each, and the holder of the library-level (generic)
// options.
#ifndef SOUNDPICK_ENGINE_OPTIONSTATE_H
#define SOUNDPICK_ENGINE_OPTIONSTATE_H

#include "engine/EngineChoices.h"
#include "ffbind/FFHandles.h"
#include "ffbind/FFmpegApi.h"

#include <cstdint>
#include <limits>
#include <string>
#include <utility>
#include <vector>

constexpr int MAX_FILES = 20;   // input files, and output file entries (join replicas included)
constexpr int MAX_STREAMS = 20; // streams per file in the per-file tables
constexpr int MAX_STREAM_MAPS = 400;
constexpr int MAX_METADATA_MAPS = 20;

// The largest time option (`t`, `ss`, `itsoffset`), a billion seconds: time stamps moved by it
// stay far from the 64-bit limits.
constexpr int64_t MaxOptionTimeUs = 1000000000LL * 1000000;
// The largest pad on one side of a picture, in pixels.
constexpr int MaxPadSize = 16384;

// Sentinel of AudioQscale: no audio quality scale set.
constexpr float AudioQscaleUnset = -99999.0f;

// One `map` option: which input stream feeds the next output stream, and which stream it is
// synchronised to.
struct TStreamMap {
    int FileIndex = 0;
    int StreamIndex = 0;
    int SyncFileIndex = 0;
    int SyncStreamIndex = 0;
};

// One `map_meta_data` option: the output file whose metadata comes from the input file.
struct TMetadataMap {
    int OutFile = 0;
    int InFile = 0;
};

// A period in which the video hooks act, in microseconds.
struct THookTimeRange {
    int64_t StartUs = 0;
    int64_t EndUs = 0;
};

// Holder of the library-level (generic) options: templates that validate and store the values
// of SetGenericOption; their settings are copied into the real codec and format contexts when
// inputs, outputs and streams are created. Private options of an encoder or muxer (found only
// on a context made for that codec or format) cannot live in a template; they are kept as text
// pairs and handed to avcodec_open2 / avformat_write_header.
struct TOptionContexts {
    // The options set so far with the template each was set on, in setting order (one entry
    // per option and template). Only these are copied: a template's other values are generic
    // defaults, which differ from a codec's own.
    struct TSetOption {
        const AVOption* Option;
        void* Template;
    };
    std::vector<TSetOption> SetOptions;
    // One template per media kind, in the order video, audio, data, subtitle, attachment.
    CodecContextPtr Codecs[5];
    // Template format context (not opened).
    OutputFormatPtr Format;
    // Scaler context for a 16 x 16 picture of pixel format 0 with ScalerFlags.
    SwsPtr Scaler;
    // Codec private options by media kind (same order as Codecs) and muxer private options.
    DictionaryPtr CodecPrivate[5];
    DictionaryPtr FormatPrivate;

    bool Created() const { return Codecs[0] != nullptr; }
    AVCodecContext* Codec(AVMediaType kind) const { return Codecs[kind].get(); }
};

// The option state: every field set by the option vocabulary, with its default. Reset to these
// defaults by InitDefaults. Times are microseconds unless the name says otherwise.
struct TOptionState {
    TEngineChoices Choices;                       // kept tags, `cover`, `cover_size`, `replaygain`
    const AVInputFormat* InputFormat = nullptr;   // `f`; none = probe
    const AVOutputFormat* OutputFormat = nullptr; // `f`; none = guess from the name
    std::vector<TStreamMap> StreamMaps;           // `map`; count = size()
    std::vector<TMetadataMap> MetadataMaps;       // `map_meta_data`
    std::vector<std::pair<std::string, std::string>> MetadataPairs; // `metadata`
    int64_t RecordingTimeUs = std::numeric_limits<int64_t>::max();  // `t`; max = no limit
    int RecordingTimeMs = -1;              // expected output duration for progress; -1 unknown
    int64_t StartTimeUs = 0;               // `ss`; applies to the next input only
    int64_t InputTsOffsetUs = 0;           // `itsoffset`
    int64_t RecordingTimestampSeconds = 0; // `timestamp`, since 1970
    double InputTsScale[MAX_FILES][MAX_STREAMS]{}; // `itsscale` (input file x stream)
    int64_t LimitFileSizeBytes = 0;                // `fs`; 0 = no limit
    int MaxFrames[4] = {2147483647, 2147483647, 2147483647, 2147483647}; // video, audio, data, sub
    AVRational FrameRate = {0, 0};                                       // `r`; 0/0 = from input
    int FrameWidth = 0, FrameHeight = 0;                                 // `s`, less the crops
    float FrameAspectRatio = 0;                                          // `aspect`
    int FramePixFmt = -1;                                                // `pix_fmt`; -1 none
    int PadTop = 0, PadBottom = 0, PadLeft = 0, PadRight = 0;
    uint8_t PadColor[3] = {16, 128, 128}; // Y, U, V
    int CropTop = 0, CropBottom = 0, CropLeft = 0, CropRight = 0;
    float VideoQscale = 0;
    std::vector<uint16_t> IntraMatrix, InterMatrix; // 64 coefficients each, or empty (none)
    std::string VideoRcOverride;                    // `rc_override`; empty = none
    bool VideoDisable = false;
    int VideoDiscard = 0;
    std::string VideoCodecName; // empty = none
    bool VideoStreamCopy = false;
    uint32_t VideoCodecTag = 0;
    bool SameQuality = false;
    bool Deinterlace = false;
    int TopFieldFirst = -1;
    int MeThreshold = 0;
    int IntraDcPrecision = 8;
    bool IntraOnly = false;
    bool LoopInput = false;
    int LoopOutput = -1;
    bool QpHistogram = false;
    std::string VideoFilters;
    int AudioSampleRateHz = 44100;
    int AudioChannels = 2;
    float AudioQscale = AudioQscaleUnset;
    bool AudioDisable = false;
    std::string AudioCodecName;
    bool AudioStreamCopy = false;
    uint32_t AudioCodecTag = 0;
    std::string AudioLanguage;
    int AudioSampleFmt = -1;         // AVSampleFormat; -1 none
    uint64_t AudioChannelLayout = 0; // channel mask of the last input's audio; 0 = unknown
    int AudioVolume = 256;           // 256 = unchanged
    // Applied to the sound as converted for the encoder (format, rate and channels), where a
    // gain measured on that sound belongs; 256 = unchanged.
    int ConvertedVolume = 256;
    bool SubtitleDisable = false;
    std::string SubtitleCodecName;
    bool SubtitleStreamCopy = false;
    std::string SubtitleLanguage;
    uint32_t SubtitleCodecTag = 0;
    float MuxPreloadSeconds = 0.5f;
    float MuxMaxDelaySeconds = 0.7f;
    int Pass = 0; // 0, 1 or 2
    std::string PassLogFileName;
    bool HexDump = false, PacketDump = false, Psnr = false;
    int VideoSyncMethod = -1;
    int AudioSyncMethod = 0;
    float AudioDriftThresholdSeconds = 0.1f;
    bool CopyTs = false;
    bool Shortest = false;
    int VideoGlobalHeader = 0;
    std::string VstatsFileName; // empty = none
    int ProgramId = 0;
    int PreferredAudioStream = -1; // `astream`: the input's audio stream to convert; -1 chooses
    int CopyInitialNonKeyframes = 0;
    bool RateEmulation = false;
    int VideoChannel = 0;
    std::string VideoStandard; // `tvstd`; empty = none
    bool ExitOnError = false;
    bool UsingVhook = false;
    int Verbose = 1;
    bool InputSync = false;
    bool ForceFps = false;
    float DtsDeltaThresholdSeconds = 10.0f;
    int ScalerFlags = 4; // SWS_BICUBIC; the scaler template's "sws_flags"
    int ThreadCount = 0; // codec threads; 0 lets each codec use what the processors allow
    // Re-encoded sound of an output at least SplitMinimumMs long is encoded in pieces of
    // SplitSegmentMs, SplitPieces at once on as many threads (0 and 1: one encoder).
    int SplitPieces = 0, SplitSegmentMs = 30000, SplitMinimumMs = 120000;
    // An existing output file is replaced (when the run ends well); otherwise it is refused.
    bool ReplaceExistingOutputs = false;
    // With it, a stopped run's sound takes the replaced file's place as well: for a task run again
    // over what its own stopped run left.
    bool StoppedRunReplaces = false;
    std::string LastError; // the last set-up error message
    // Pending bitstream filters by kind (`vbsf`, `absf`, `sbsf`): validated filter names,
    // consumed by the next stream of that kind. Filters need the stream's parameters, so the
    // run creates the filter contexts.
    std::vector<std::string> VideoBitstreamFilters, AudioBitstreamFilters, SubtitleBitstreamFilters;
    bool ImageCompatibility = false; // `f pgmyuv`
    // The settings the user gave (`ar`, `ac`, `r`, `s`, `pix_fmt`), as opposed to defaults and
    // values taken from an input: only these reach the demuxers of raw inputs.
    struct {
        bool SampleRate = false, Channels = false, FrameRate = false, FrameSize = false,
             PixelFormat = false;
    } UserSet;

    // Periods in which the video hooks act, sorted by end time; empty = the whole duration.
    std::vector<THookTimeRange> HookTimeRanges;

    // ---- Value setters: each checks and converts one option's value ----------------------
    void SetAudioSampleRate(int ValueHz);
    void SetAudioChannels(int Value);
    // Raises FFmpegException for a negative volume.
    void SetAudioVolume(int Value);
    void SetAudioSyncMethod(int Value);
    void SetVideoSyncMethod(int Value);
    void SetMuxMaxDelay(float Seconds);
    void SetMuxPreload(float Seconds);
    void SetAudioTag(const std::string& Tag);
    void SetVideoTag(const std::string& Tag);
    void SetFrameRate(const std::string& Value);
    void SetFrameSize(const std::string& Value);
    void SetAspectRatio(const std::string& Value);
    void SetCropTop(int Value);
    void SetCropBottom(int Value);
    void SetCropLeft(int Value);
    void SetCropRight(int Value);
    void SetPadTop(int Value);
    void SetPadBottom(int Value);
    void SetPadLeft(int Value);
    void SetPadRight(int Value);
    void SetPadColor(int ColorBGR);
    void SetVideoFilters(const std::string& Value);
    void SetProgramId(int Value);
    void SetStartTime(int64_t TimeUs);
    void SetRecordingTime(int64_t TimeUs);
    void SetRecordingTimeMs(int TimeMs);
    void AddMetadata(const std::string& Key, const std::string& Value);
    void SetVerbose(int Value);
    // Copies the ranges, sorted by end time (a run starts at the first).
    void SetHookTimeRanges(const std::vector<THookTimeRange>& Ranges);
    // `vtag`, `atag`, `stag` by the kind's first letter: a four-character code.
    void ApplyCodecTag(char Kind, const std::string& Value);

private:
    // A crop of one side (Field), taken from the frame size (Vertical: the height).
    void ApplyCrop(int& Field, int Value, bool Vertical);
};

#endif
