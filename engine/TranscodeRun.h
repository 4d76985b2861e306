// One transcode run of an engine: the set-up of the run (stream tables, codecs opened, headers),
// the loop that reads the inputs, the packet processing, the audio, video, subtitle and cover
// output paths and the progress reports, with the state they keep (TEngineRun). The run takes what
// it reads of its engine's set-up when it starts (TRunSetup), so nothing of the set-up changes
// while it works; it reaches its engine's users only through the events it was given, and hands
// what it found back in its outcome.
#ifndef SOUNDPICK_ENGINE_TRANSCODERUN_H
#define SOUNDPICK_ENGINE_TRANSCODERUN_H

#include "engine/EngineErrors.h"
#include "engine/EngineRun.h"
#include "engine/RunSetup.h"

#include <string>

// The run's side of its events and its outcome: fires the events it was given, holds at the
// engine's pause gate, and keeps what the run decides for its engine until the run is over.
class TRunLink {
public:
    TRunLink(TRunEvents AEvents, const TRunSetup& ASetup);

    const void* LogSender() const { return Events.LogSender; }
    void HoldWhilePaused() const;
    bool HasProgress() const { return static_cast<bool>(Events.Progress); }
    void Progress(const TProgressInfo& Progress) const;
    bool HasBeforeHook() const { return static_cast<bool>(Events.BeforeHook); }
    void BeforeHook(int64_t Pts, THookAction& Action) const;
    // The custom hook is set and not done with.
    bool HasCustomHook() const { return Events.CustomHook && !Outcome.HooksStopped; }
    void CustomHook(TBitmap24& Bitmap, int FrameNumber, int64_t Pts, bool& Update,
                    bool& StopHook) const;
    // The hook chain of the `vhook` option acts (until the hooks are done with).
    bool UsingVhook() const { return Setup.Options.UsingVhook && !Outcome.HooksStopped; }
    bool HasPreviewBitmap() const { return static_cast<bool>(Events.PreviewBitmap); }
    void PreviewBitmap(TBitmap24& Bitmap, int FrameNumber, int64_t Pts) const;
    // The previews wanted now, less the kinds that failed in this run.
    uint8_t PreviewFlags() const;

    // The hooks are done with for this engine: the custom hook is dropped, the hook chain off.
    void StopHooks() { Outcome.HooksStopped = true; }
    // A kind of preview failed: the flags without it.
    void SetPreviewFlags(uint8_t Flags);
    // The output received sound.
    void NoteSound(int OutputIndex);
    // A finished run's warning, long and short.
    void Warn(const std::string& Summary, const std::string& Message);
    // What the run found; later calls get an empty outcome.
    TRunOutcome TakeOutcome();

private:
    const TRunEvents Events;
    const TRunSetup& Setup;
    TRunOutcome Outcome;
};

class TTranscodeRun {
public:
    TTranscodeRun(TRunSetup ASetup, TRunEvents Events);
    TTranscodeRun(const TTranscodeRun&) = delete;
    TTranscodeRun& operator=(const TTranscodeRun&) = delete;

    // Initialisation, loop and ending; true when the run went to its end (no stop request).
    bool Transcode();

    // The video output path (engine/OutputVideo*.cpp, VideoHooks.cpp): preparation of an encoded
    // video stream at initialisation (raises on failure), the decoded picture's hooks, and one
    // picture to encode; FrameBytes receives the bytes encoded. Filtering happens inside
    // OutputVideo.
    void PrepareVideoOutput(TOutputStream& Ost, TInputStream& Ist);
    void PreprocessVideoFrame(TInputStream& Ist, AVFrame* Picture);
    void OutputVideo(AVFormatContext* Output, TOutputStream& Ost, TInputStream& Ist,
                     AVFrame* Picture, int& FrameBytes);
    void WriteVideoStats(AVFormatContext* Output, TOutputStream& Ost, int FrameBytes);
    // Filters (bitstream filters of the stream) and writes one packet whose times are in the
    // output stream's time base. Takes the packet's reference.
    void WriteOutputPacket(AVFormatContext* Output, TOutputStream& Ost, AVPacket* Packet);
    // Sends a frame to the stream's encoder (nullptr drains it) and
    // writes every packet it gives.
    void EncodeAndWrite(AVFormatContext* Output, TOutputStream& Ost, const AVFrame* Frame);

    // What the run reads of its engine's set-up.
    const TRunSetup Setup;
    TRunLink Link;
    // The run's own state; dropping it closes what the run opened.
    TEngineRun State;

private:
    void TranscodeInit();
    // One packet of an input stream (none: the end of the stream); -1 when it did not decode.
    int ProcessInputPacket(TInputStream& Ist, int IstIndex, const AVPacket* Packet);
    // Progress report (engine/ProgressReport*.cpp): status values to OnProgress or the log.
    void ReportProgress(bool Last);
    void OutputSubtitle(AVFormatContext* Output, TOutputStream& Ost, TInputStream& Ist,
                        AVSubtitle* Subtitle, int64_t PacketPts);
    void EndOfJoinInput(int FileIndex, bool& LeaveLoop);
    // Steps of TranscodeInit (engine/TranscodeInit.cpp).
    void MapStreams();
    int FindSource(const TOutputStream& Ost, AVMediaType Kind) const;
    void PrepareOutputCodec(TOutputStream& Ost, TInputStream& Ist);
    void PrepareStreamCopy(TOutputStream& Ost, TInputStream& Ist);
    void OpenPassLog(TOutputStream& Ost);
    void OpenOutputEncoders();
    void OpenInputDecoders();
    void CopyMappedMetadata();
    void CopyTags(const AVFormatContext* Input, AVFormatContext* Output);
    void SetGainTags(AVFormatContext* Output);
    void CreateBitstreamFilters();
    // The set-up of an output stream.
    const TOutputStreamSetup& StreamSetupOf(const TOutputStream& Ost) const;
    // Cover art (engine/OutputCover.cpp).
    const AVStream* FindInputCover(int OutputIndex) const;
    void AddCoverArt(int OutputIndex);
    void WriteCoverArt(int OutputIndex);
    void WriteHeaders();
    void LogStreamMapping();
    // Logs the stream mapping and the message (at llError), then raises it.
    [[noreturn]] void FailWithMapping(const std::string& Message);
    // Steps of the loop and of packet processing (engine/Transcode.cpp,
    // engine/ProcessInputPacket.cpp).
    int ChooseInputFile(double& OutputTimeMin);
    double OutputTime(const TOutputStream& Ost) const;
    void AdjustTimestamps(TInputStream& Ist, AVPacket& Packet);
    void DispatchDecoded(TInputStream& Ist, int IstIndex, AVFrame* Frame, AVSubtitle* Subtitle,
                         int64_t PacketPts);
    void PaceRealTime(const TInputStream& Ist) const;
    void CopyPacket(TOutputStream& Ost, TInputStream& Ist, const AVPacket& Packet);
    void DrainEncoders(int IstIndex);
    int DecodeUnits(TInputStream& Ist, int IstIndex, const AVPacket* Packet);
    void NoteWrittenSound();
    // Compares the sound written to the output with what its input declares (or the clip);
    // warns when the output is clearly shorter.
    void CheckWrittenLength(const TOutputStream& Ost);
    void ReportUnreadOutput(const std::string& outputName, int openError);
    void WriteFiltered(AVFormatContext* Output, TOutputStream& Ost, AVPacket* Packet);
    void WritePacket(AVFormatContext* Output, TOutputStream& Ost, AVPacket* Packet);
};

#endif
