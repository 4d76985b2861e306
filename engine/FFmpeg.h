// The conversion engine: one object per conversion task, taking its work as command-line style
// options, opening inputs, creating outputs and running the transcode on a worker thread.
#ifndef SOUNDPICK_ENGINE_FFMPEG_H
#define SOUNDPICK_ENGINE_FFMPEG_H

#include "engine/EngineErrors.h"
#include "engine/EngineSetup.h"
#include "engine/EngineThread.h"
#include "engine/HookAction.h"
#include "engine/OptionState.h"
#include "engine/OutputTarget.h"
#include "engine/ProgressReport.h"
#include "engine/StreamTypes.h"
#include "ffbind/FFHandles.h"
#include "ffbind/FFmpegApi.h"
#include "ffbind/FrameHook.h"
#include "ffbind/ServedThread.h"
#include "ffbind/UnicodeProtocol.h"

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <limits>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

class TBitmap24;     // ffbind/FFUtils.h
class TTranscodeRun; // engine/TranscodeRun.h

// What OpenOutputFile does with a local output's file: create it, or only check that it could
// be created (a task set up ahead of its run holds no file).
enum TOutputCreation : uint8_t { ocCreate, ocCheckOnly };

// Whether an output takes the sound of the inputs opened before it one after the other
// (joined) or stream by stream as mapped.
enum TOutputJoin { ojSeparate, ojJoin };

class TCustomFFmpeg : protected TOptionState {
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
    // Clears the engine for reuse before a task's options are applied and creates the option
    // contexts. Does nothing while the libraries are not loaded.
    void Reset();
    // The same for the set-up alone (options, files, hooks), keeping the run's state and the
    // preview flags: a run's own thread may set its files up afresh (see OpenFiles).
    void ResetSetUp();
    // Releases everything a conversion acquired (files, contexts, buffers). Safe to repeat.
    void CloseAll();

    // ---- Options (caller's thread, before the run) -----------------------------------------
    // The option state the options have built so far (engine/OptionState.h), with the value
    // setters that check one value each; a run takes it as it stands when it starts.
    TOptionState& Options() { return *this; }
    const TOptionState& Options() const { return *this; }
    // The last set-up error message.
    using TOptionState::LastError;
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

    // `apre`, `vpre`, `spre`: the option name's first letter selects the kind.
    void LoadPreset(const std::string& OptionName, const std::string& Value);
    // Target settings: type "vcd", "svcd", "dvd", "dv", "dv50"; norm "pal", "ntsc", "film" or
    // anything else to detect it; the fallback norm when detection finds none.
    void SetTarget(const std::string& Type, const std::string& Norm,
                   const std::string& FallbackNorm);

    // ---- Inputs and outputs (caller's thread, before the run) -------------------------------
    // Opens one input; false with LastError set when it cannot be used (nothing appended).
    bool OpenInputFile(const std::filesystem::path& FileName);
    // Creates one output with its streams; the number of output file entries, or -1 with
    // LastError set (nothing appended, no file left behind).
    int OpenOutputFile(const std::filesystem::path& FileName, TOutputJoin Join = ojSeparate);

    // The set-up record behind an output file entry (join replicas share one record).
    TOutputFileSetup& OutputFileSetup(int OutputIndex);
    const TOutputFileSetup& OutputSetupOf(int OutputIndex) const;
    int InputFileCount() const { return static_cast<int>(InputFiles.size()); }
    const std::filesystem::path& InputFileName(int Index) const {
        return InputSetups.at(Index)->FileName;
    }
    int OutputFileCount() const { return static_cast<int>(OutputFiles.size()); }

    // ---- Run ---------------------------------------------------------------------------------
    // Starts a run once per Reset: on a worker thread, returns the created worker (the caller
    // starts it) or nullptr; on the caller's thread, converts there and returns nullptr.
    TServedThread* StartConvert(TConvertThreading Threading, TConvertPriority Priority);
    void Pause();
    void Resume();
    void RequestStop(TStopWait Wait);
    void Stop(TStopWait Wait);
    // When set, the run opens its files on its own thread, first (StartConvert then checks
    // them only once they are open), so that an input or output folder that does not answer
    // holds that thread alone. It may block for ever, and touches nothing but this engine: the
    // owner may let the engine go meanwhile. An exception fails the run.
    std::function<void()> OpenFiles;
    // Runs on the run's thread once OpenFiles has opened them (for an engine not let go):
    // false ends the run as stopped.
    std::function<bool()> OnFilesOpen;
    // While OpenFiles runs, hands the engine over to its run's thread, which ends the run
    // without any event once the open returns, and frees the engine: an owner that cannot wait
    // for a file that may never answer lets it go so. False, with self dropped, once the files
    // are open (the owner frees the engine as ever).
    bool LetGoWhileOpening(std::shared_ptr<TCustomFFmpeg> self);
    // OpenFiles has not returned yet.
    bool OpeningFiles() const;
    // A first pass, run on the run's thread before the conversion: false ends the run as
    // stopped, an exception as failed.
    std::function<bool()> BeforeTranscode;
    // A last check on the run's thread after a conversion that ran to its end (the outputs'
    // trailers are written): it may log and set WarningMessage, and does not throw.
    std::function<void()> AfterTranscode;
    // Ends a run that cannot start: releases everything, logs the reason and fails with it.
    void Refuse(const std::string& Reason);

    // ---- Events -----------------------------------------------------------------------------
    TProgressEvent OnProgress;
    TTerminateEvent OnTerminate;
    TBeforeHookEvent OnBeforeHook;
    TCustomHookEvent OnCustomHook;
    TPreviewBitmapEvent OnPreviewBitmap;

    TOutputCreation OutputCreation = ocCreate;
    // When set, an output's missing folders below this one are made with the output (and
    // removed again when it is discarded and they are empty); unset, its folder must exist.
    std::filesystem::path OutputFoldersFrom;

    // ---- Opened inputs and created outputs ----------------------------------------------
    // Opened inputs in opening order (views of InputSetups; count = size()).
    std::vector<AVFormatContext*> InputFiles;
    // Output file entries in order; in join mode one file appears once per input (views of
    // OutputSetups; count = size()).
    std::vector<AVFormatContext*> OutputFiles;
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
    uint8_t PreviewFlags = 0;            // bit 0 preview wanted, bit 1 preview bitmap wanted

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
    // A run of the set-up as it stands, firing this engine's events.
    std::unique_ptr<TTranscodeRun> MakeRun();
    // Holds the run's thread while the run is paused (until resumed or stopped); a first pass
    // before the transcode calls it as the transcode loop does.
    void HoldWhilePaused();
    // Loads a video hook from its arguments (module path first) into the engine's chain;
    // false when it cannot be loaded.
    bool AddVideoHook(const std::vector<std::string>& Args);

    // ---- Set-up steps and records under the public face (the run reads the records) ---------
    // Add one stream of a kind to a created output; raise FFmpegException on failure.
    void new_video_stream(TOutputFileSetup& Output);
    void new_audio_stream(TOutputFileSetup& Output);
    TOutputStreamSetup& OutputStreamSetup(int OutputIndex, int StreamIndex);
    int64_t InputFileTsOffsetsUs[MAX_FILES]{}; // added to every time stamp of input n
    // The forced decoder of each input stream in global stream order (nullptr when none).
    std::vector<const AVCodec*> InputCodecs;
    // A decoder context per input stream in global stream order, filled from the stream's
    // parameters with the decoding generic options and the thread count; opened by the
    // transcode initialisation.
    std::vector<CodecContextPtr> InputDecoders;
    // The encoder named by the codec-name option of each created output stream, in creation
    // order (nullptr when no name was set).
    std::vector<const AVCodec*> OutputCodecs;
    bool JoinMode = false;
    // An output uses video filters (read by the video output path).
    bool UseVideoFilters = false;

    std::vector<std::unique_ptr<TInputFileSetup>> InputSetups;
    std::vector<std::unique_ptr<TOutputFileSetup>> OutputSetups;
    std::vector<std::string> MissingEffectsLogged;

private:
    // Every option field to its default and the run state to empty.
    void InitDefaults();
    // The option fields alone.
    void InitSetUpDefaults();
    // Why a run cannot start with the files it has; nullptr when it can.
    const char* FilesRefusal() const;
    // OpenFiles, when set, and the check StartConvert left to the run: false when the run ends
    // as stopped.
    bool OpenRunFiles();
    // After OpenFiles: false when the engine was let go meanwhile (its events are dropped).
    bool EndOpening();
    // The engine itself when it was let go; taken by the run's thread once the run has ended.
    std::shared_ptr<TCustomFFmpeg> TakeLetGo();
    // The first pass, if any, the transcode and the last check.
    void Convert();
    // Codec id for a name (empty: AV_CODEC_ID_NONE and true); false with LastError set.
    bool FindCodecIdByName(const std::string& Name, AVMediaType Kind, bool Encoder, AVCodecID& Id);
    void new_subtitle_stream(TOutputFileSetup& Output);
    // The body of a run: transcode, record an error, release everything, DoTerminate.
    void Run();
    // Takes what the run in progress found (once): the outputs that received sound, a finished
    // run's warning, the hooks done with and the previews that failed.
    void TakeOutcome();
    // Clears Running, sets Terminated, clears ConvertThread and fires OnTerminate.
    void DoTerminate();
    // The sound alone when the picture cannot be encoded (engine/OutputWithoutVideo.cpp): an
    // output whose video encoder refused is made again without video and the run goes on.
    bool SoundAloneFallback(const AVStream* Refused) const;
    bool TranscodeOrSoundAlone();
    void DropOutputVideo();
    std::atomic<TServedThread*> ConvertThread{nullptr};
    // Input n was opened at a start time: its time stamps start at 0 there.
    bool InputFileClipped[MAX_FILES]{};

    // Joins a finished worker and terminate thread (not from themselves).
    void ReleaseRunThreads();

    // The run in progress; none between runs.
    std::unique_ptr<TTranscodeRun> CurrentRun;
    // The video hooks loaded by the `vhook` option, run over decoded pictures.
    TFrameHookChain VideoHookChain;
    std::unique_ptr<TServedThread> Worker;
    std::unique_ptr<TServedThread> TerminateThread;
    std::atomic<bool> TerminatePending{false};
    TPauseGate PauseGate;
    mutable std::mutex OpeningLock; // guards Opening and LetGo
    bool Opening = false;
    std::shared_ptr<TCustomFFmpeg> LetGo;

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

// Sets one entry of an owned dictionary (created on first use).
void DictSet(DictionaryPtr& Dictionary, const std::string& Key, const std::string& Value);

// Strict number conversions of option values; raise EConvertError with the run-time's texts.
int StrToInt(const std::string& Text);
int64_t StrToInt64(const std::string& Text);
double StrToFloat(const std::string& Text);

#endif
