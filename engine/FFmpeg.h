// The conversion engine: one object per conversion task, taking its work as command-line style
// options, opening inputs, creating outputs and running the transcode on a worker thread.
#ifndef SOUNDPICK_ENGINE_FFMPEG_H
#define SOUNDPICK_ENGINE_FFMPEG_H

#include "engine/EngineErrors.h"
#include "engine/EngineThread.h"
#include "engine/OutputTarget.h"
#include "engine/ProgressReport.h"
#include "engine/StreamTypes.h"
#include "ffbind/FFHandles.h"
#include "ffbind/FFmpegApi.h"
#include "ffbind/FrameHook.h"
#include "ffbind/UnicodeProtocol.h"

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <limits>
#include <memory>
#include <string>
#include <utility>
#include <vector>

class TBitmap24;     // ffbind/FFUtils.h
class TTranscodeRun; // engine/TranscodeRun.h

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

enum THookAction { haContinue, haIgnore, haStop };

// What OpenOutputFile does with a local output's file: create it, or only check that it could
// be created (a task set up ahead of its run holds no file).
enum TOutputCreation : uint8_t { ocCreate, ocCheckOnly };

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
    bool CoverArt = true; // `cover`: the input's cover goes where the output container holds one
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
};

// One stream created on an output. Streams no longer carry a codec context: each output stream
// gets an encoder context owned by the engine, filled by stream creation and opened by the
// transcode initialisation.
struct TOutputStreamSetup {
    AVStream* Stream = nullptr;
    // Allocated for the chosen encoder (or with no codec for a stream copy); holds codec id and
    // type, rates, sizes, formats, flags, quality and the copied generic options.
    CodecContextPtr Encoder;
    // The encoder chosen or guessed; none for a stream copy or when no encoder exists for the
    // guessed id (the transcode then reports it).
    const AVCodec* Codec = nullptr;
    bool StreamCopy = false;
    // Private options of the encoder (presets and generic options that only the encoder
    // knows), to pass to avcodec_open2.
    DictionaryPtr EncoderOptions;
    // Bitstream filter names for this stream, moved from the pending list of its kind.
    std::vector<std::string> BitstreamFilters;
};

// One created output file with its streams. The file the target created is open for writing
// (IO, set as the context's pb) unless its format has no file; CloseOutputFiles closes it,
// keeps, commits or removes it as the run ended, and frees the context.
struct TOutputFileSetup {
    TMediaIO IO;
    OutputFormatPtr Context;
    std::filesystem::path FileName;
    TOutputTarget Target;
    // Sound was written to it (set at the end of the run).
    bool HasSound = false;
    // Muxer private options (muxrate, preload, ...), to pass to avformat_write_header.
    DictionaryPtr MuxerOptions;
    std::vector<TOutputStreamSetup> Streams; // by stream index
};

// One opened input file: the format context and the I/O serving it.
struct TInputFileSetup {
    TInputContext Input;
    std::filesystem::path FileName;
    // Where reading starts (`ss`) and the length of sound the input declares, microseconds
    // (-1 when it declares none).
    int64_t StartUs = 0;
    int64_t SoundLengthUs = -1;
};

class TCustomFFmpeg : public TOptionState {
public:
    // Engine as sender and the run's progress. Fires on the run's thread.
    using TProgressEvent =
        std::function<void(TCustomFFmpeg* Sender, const TProgressInfo& AProgress)>;
    // Fires once when a run ends, on the run's thread or a terminate thread.
    using TTerminateEvent = std::function<void(TCustomFFmpeg* Sender)>;
    // The hook and preview events fire on the run's thread: OnBeforeHook and OnCustomHook for
    // each decoded picture, OnPreviewBitmap for encoded pictures PreviewIntervalUs apart.
    using TBeforeHookEvent =
        std::function<void(TCustomFFmpeg* Sender, int64_t APTS, THookAction& AHookAction)>;
    using TCustomHookEvent =
        std::function<void(TCustomFFmpeg* Sender, TBitmap24& ABitmap, int AFrameNumber,
                           int64_t APTS, bool& AUpdate, bool& AStopHook)>;
    using TPreviewBitmapEvent = std::function<void(TCustomFFmpeg* Sender, TBitmap24& ABitmap,
                                                   int AFrameNumber, int64_t APTS)>;

    TCustomFFmpeg();
    virtual ~TCustomFFmpeg();
    TCustomFFmpeg(const TCustomFFmpeg&) = delete;
    TCustomFFmpeg& operator=(const TCustomFFmpeg&) = delete;

    // ---- Life -----------------------------------------------------------------------------
    // Every option field to its default and the run state to empty.
    void InitDefaults();
    // Clears the engine for reuse before a task's options are applied and creates the option
    // contexts. Does nothing while the libraries are not loaded.
    void Reset();
    // Releases everything a conversion acquired (files, contexts, buffers). Safe to repeat.
    void CloseAll();

    // ---- Options (caller's thread, before the run) -----------------------------------------
    // Applies one option; raises FFmpegException, EConvertError or EAssertionFailed when the
    // option is rejected. Unknown names go to SetGenericOption silently.
    void SetOption(const std::string& Name, const std::string& Value);
    // Sets a library-level option on the option contexts; false when unknown or invalid.
    bool SetGenericOption(const std::string& Name, const std::string& Value);
    bool SetGenericOption(const std::string& Name, int64_t Value);

    void SetInputFormat(const std::string& Name);
    void SetOutputFormat(const std::string& Name);
    void SetAudioCodec(const std::string& Name);
    void SetVideoCodec(const std::string& Name);
    void SetSubtitleCodec(const std::string& Name);
    void SetAudioSampleRate(int ValueHz);
    void SetAudioChannels(int Value);
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
    // `apre`, `vpre`, `spre`: the option name's first letter selects the kind.
    void LoadPreset(const std::string& OptionName, const std::string& Value);
    // Target settings: type "vcd", "svcd", "dvd", "dv", "dv50"; norm "pal", "ntsc", "film" or
    // anything else to detect it; the fallback norm when detection finds none.
    void SetTarget(const std::string& Type, const std::string& Norm,
                   const std::string& FallbackNorm);
    // Copies the ranges, sorted by end time, and starts at the first.
    void SetHookTimeRanges(const std::vector<THookTimeRange>& Ranges);

    // ---- Inputs and outputs (caller's thread, before the run) -------------------------------
    // Opens one input; false with LastError set when it cannot be used (nothing appended).
    bool OpenInputFile(const std::filesystem::path& FileName);
    // Creates one output with its streams; the number of output file entries, or -1 with
    // LastError set (nothing appended, no file left behind).
    int OpenOutputFile(const std::filesystem::path& FileName, bool Join = false);
    // Codec id for a name (empty: AV_CODEC_ID_NONE and true); false with LastError set.
    bool FindCodecIdByName(const std::string& Name, AVMediaType Kind, bool Encoder, AVCodecID& Id);
    // Add one stream of a kind to a created output; raise FFmpegException on failure.
    void new_video_stream(TOutputFileSetup& Output);
    void new_audio_stream(TOutputFileSetup& Output);
    void new_subtitle_stream(TOutputFileSetup& Output);

    // The set-up record behind an output file entry (join replicas share one record).
    TOutputFileSetup& OutputFileSetup(int OutputIndex);
    const TOutputFileSetup& OutputSetupOf(int OutputIndex) const;
    TOutputStreamSetup& OutputStreamSetup(int OutputIndex, int StreamIndex);
    int InputFileCount() const { return static_cast<int>(InputFiles.size()); }
    const std::filesystem::path& InputFileName(int Index) const {
        return InputSetups.at(Index)->FileName;
    }
    int OutputFileCount() const { return static_cast<int>(OutputFiles.size()); }

    // ---- Run ---------------------------------------------------------------------------------
    // Starts a run once per Reset: threaded, returns the created worker (the caller starts it)
    // or nullptr; not threaded, converts on the caller's thread and returns nullptr.
    TConvertThread* StartConvert(bool Threaded, TConvertPriority Priority);
    void Pause();
    void Resume();
    void RequestStop(bool Wait);
    void Stop(bool Wait);
    // The body of a run: transcode, record an error, release everything, DoTerminate.
    void Run();
    // A first pass, run on the run's thread before the conversion: false ends the run as
    // stopped, an exception as failed.
    std::function<bool()> BeforeTranscode;
    // A last check on the run's thread after a conversion that ran to its end (the outputs'
    // trailers are written): it may log and set WarningMessage, and does not throw.
    std::function<void()> AfterTranscode;
    // Clears Running, sets Terminated, clears ConvertThread and fires OnTerminate.
    void DoTerminate();
    // Ends a run that cannot start: releases everything, logs the reason and fails with it.
    void Refuse(const std::string& Reason);

    // ---- Events -----------------------------------------------------------------------------
    TProgressEvent OnProgress;
    TTerminateEvent OnTerminate;
    TBeforeHookEvent OnBeforeHook;
    TCustomHookEvent OnCustomHook;
    TPreviewBitmapEvent OnPreviewBitmap;

    // When set, an output whose name another program takes before the output is created gets
    // the name this gives instead; unset, such an output is refused.
    TOutputTarget::TNextName NextOutputName;
    TOutputCreation OutputCreation = ocCreate;

    // ---- Opened inputs and created outputs ----------------------------------------------
    // Opened inputs in opening order (views of InputSetups; count = size()).
    std::vector<AVFormatContext*> InputFiles;
    int64_t InputFileTsOffsetsUs[MAX_FILES]{}; // added to every time stamp of input n
    // Input n was opened at a start time: its time stamps start at 0 there.
    bool InputFileClipped[MAX_FILES]{};
    // The forced decoder of each input stream in global stream order (nullptr when none).
    std::vector<const AVCodec*> InputCodecs;
    // A decoder context per input stream in global stream order, filled from the stream's
    // parameters with the decoding generic options and the thread count; opened by the
    // transcode initialisation.
    std::vector<CodecContextPtr> InputDecoders;
    // Output file entries in order; in join mode one file appears once per input (views of
    // OutputSetups; count = size()).
    std::vector<AVFormatContext*> OutputFiles;
    // The encoder named by the codec-name option of each created output stream, in creation
    // order (nullptr when no name was set).
    std::vector<const AVCodec*> OutputCodecs;
    bool JoinMode = false;
    // An output uses video filters (read by the video output path).
    bool UseVideoFilters = false;
    TOptionContexts OptionContexts;

    // ---- Run flags and results ------------------------------------------------------------
    std::atomic<bool> Running{false};
    std::atomic<bool> StopRequested{false};
    std::atomic<bool> Finished{false};
    std::atomic<bool> Terminated{false};
    std::atomic<bool> ErrorOccurred{false};
    std::string ErrorMessage;
    // A finished run whose output is short of what the input declared, or could not be read
    // back, says so here; WarningSummary is the short form a list row shows ("ended at 0:18 of
    // 1:00", "not verified").
    std::string WarningMessage;
    std::string WarningSummary;
    int64_t ProgressIntervalUs = 500000; // between progress reports
    int64_t PreviewIntervalUs = 100000;  // between preview pictures
    std::atomic<TConvertThread*> ConvertThread{nullptr};
    uint8_t PreviewFlags = 0; // bit 0 preview wanted, bit 1 preview bitmap wanted

    // A worker is held at the pause gate now.
    bool Paused() const;
    // Whether a run is in progress (engine/TranscodeRun.h): Run makes it and drops it before the
    // run reports its end.
    bool HasRunRecord() const { return CurrentRun != nullptr; }

protected:
    // Set-up helpers (engine/FFmpeg*.cpp, engine/InputFile*.cpp, engine/OutputFile*.cpp).
    void CreateOptionContexts();
    void FreeOptionContexts();
    void CloseOutputFiles();
    void ReplaceOutput(const TOutputFileSetup& Output);
    void SettleOutput(TOutputFileSetup& Output);
    bool OutputInPlace(const TOutputFileSetup& Output);
    // Fails the run for a write error of an output.
    void FailWriting(const TOutputFileSetup& Output, int Code);
    void CloseInputFiles();
    // Copies the generic options set so far whose flags include Mask from a template to a
    // real context (codec, format).
    void CopyGenericOptions(void* Target, void* Template, int Mask);
    // Adds the codec private options of a kind that the encoder knows to a dictionary.
    void CollectPrivateOptions(AVMediaType Kind, const AVCodec* Codec, AVDictionary** Options);
    // Logs once per engine that an option's library setting no longer exists.
    void LogMissingEffect(const std::string& Option, const char* Effect);
    // Run-side halves of InitDefaults and CloseAll.
    void InitRunDefaults();
    // Holds the run's thread while the run is paused (until resumed or stopped); a first pass
    // before the transcode calls it as the transcode loop does.
    void HoldWhilePaused();
    // Loads a video hook from its arguments (module path first) into the engine's chain;
    // false when it cannot be loaded.
    bool AddVideoHook(const std::vector<std::string>& Args);

    std::vector<std::unique_ptr<TInputFileSetup>> InputSetups;
    std::vector<std::unique_ptr<TOutputFileSetup>> OutputSetups;
    std::vector<std::string> MissingEffectsLogged;

private:
    friend class TTranscodeRun; // reads the set-up
    friend class TRunLink;      // fires the events and writes back what a run decides

    // Joins a finished worker and terminate thread (not from themselves).
    void ReleaseRunThreads();

    // The run in progress; none between runs.
    std::unique_ptr<TTranscodeRun> CurrentRun;
    // The video hooks loaded by the `vhook` option, run over decoded pictures.
    TFrameHookChain VideoHookChain;
    std::unique_ptr<TConvertThread> Worker;
    std::unique_ptr<TEngineThread> TerminateThread;
    std::atomic<bool> TerminatePending{false};
    TPauseGate PauseGate;

    void ApplyFormat(const std::string& Value, bool Input, bool Output);
    void ApplyStreamMap(const std::string& Value);
    void ApplyMetadataMap(const std::string& Value);
    void ApplyTime(const std::string& Name, const std::string& Value);
    void ApplyTsScale(const std::string& Value);
    void ApplyMetadataPair(const std::string& Value);
    void ApplyQscale(const std::string& Value);
    void ApplyPass(const std::string& Value);
    void ApplyBitRate(const std::string& Name, const std::string& Value);
    void ApplyCodecName(char Kind, const std::string& Value);
    void ApplyCodecTag(char Kind, const std::string& Value);
    void ApplyCrop(int& Field, int Value, bool Vertical);
    void ApplyPixelFormat(const std::string& Value);
    void ApplySampleFormat(const std::string& Value);
    void ApplyMatrix(std::vector<uint16_t>& Matrix, const std::string& Value);
    void ApplyVstats();
    void ApplyVideoHook(const std::string& Value);
    void ApplyBitstreamFilter(char Kind, const std::string& Value);
    void ApplyTarget(const std::string& Value);
    void NewStreamOnLastOutput(AVMediaType Kind);
    void TakeInputStream(AVStream* Stream, unsigned Index,
                         std::vector<const AVCodec*>& ForcedDecoders,
                         std::vector<CodecContextPtr>& Decoders);
    void TakeAudioParameters(const AVCodecParameters& Par);
    void ApplyPresetLine(const std::string& Preset, const std::string& Line);
    int DetectNorm(const std::string& FallbackNorm);
    void ApplyOutputMetadata(AVFormatContext* Output);
    void ApplyMuxingSettings(TOutputFileSetup& Output);
    // The common start of the stream creators: a new stream of a kind with its encoder
    // context, the pending bitstream filters of the kind and the codec tag.
    TOutputStreamSetup& AddOutputStream(TOutputFileSetup& Output, AVMediaType Kind,
                                        const AVCodec* Codec);
    const AVCodec* ChooseEncoder(TOutputFileSetup& Output, AVMediaType Kind, std::string& CodecName,
                                 AVCodecID& Id);
    void ApplyRcOverride(AVCodecContext* Encoder);
    void TakeEncoderOptions(TOutputStreamSetup& Setup, AVCodecID Id, int KindFlag);
    void SetVideoEncoder(AVCodecContext* Encoder, const AVCodec* Codec);
    void TakeVideoParameters(AVStream* Stream, unsigned Index, AVCodecContext* Context);
    bool SetOptionOnTemplates(const std::string& Name, const std::string& Value, bool& Found);
};

// "Could not write <name>: <the system's reason>".
std::string WriteErrorText(const std::filesystem::path& FileName, int Code);

// Sets one entry of an owned dictionary (created on first use).
void DictSet(DictionaryPtr& Dictionary, const std::string& Key, const std::string& Value);

// Strict number conversions of option values; raise EConvertError with the run-time's texts.
int StrToInt(const std::string& Text);
int64_t StrToInt64(const std::string& Text);
double StrToFloat(const std::string& Text);

#endif
