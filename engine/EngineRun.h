// The state of one transcode run (engine/TranscodeRun.h): what exists only while a transcode
// runs (the stream tables, the codecs the run opened, its counters and the read loop's position).
// The engine makes the run when it starts and drops it before the run reports its end; dropping
// the state closes what the run opened, so nothing of a run outlives it.
#ifndef SOUNDPICK_ENGINE_ENGINERUN_H
#define SOUNDPICK_ENGINE_ENGINERUN_H

#include "engine/StreamTypes.h"

#include <cstdint>
#include <memory>
#include <vector>

// The video path's state of a run (engine/VideoHooks.h).
struct TVideoHookState;
struct TVideoHookStateDeleter {
    void operator()(TVideoHookState* state) const;
};

class TEngineRun {
public:
    TEngineRun() = default;
    // Closes the codecs still open (encoders, then decoders, each latest first) and the pass-1
    // statistics files. The codec contexts themselves belong to the engine's set-up.
    ~TEngineRun();
    TEngineRun(const TEngineRun&) = delete;
    TEngineRun& operator=(const TEngineRun&) = delete;

    // Closes one codec this run opened (its pass-2 statistics too) and forgets it.
    void CloseCodec(std::vector<AVCodecContext*>& list, AVCodecContext* context);

    // The stream tables, built by the transcode initialisation.
    std::vector<TInputFile> InputFileTable;
    std::vector<std::unique_ptr<TInputStream>> InputStreams;
    std::vector<std::unique_ptr<TOutputStream>> OutputStreams;
    // Codec contexts opened by this run and not yet closed, latest first.
    std::vector<AVCodecContext*> OpenEncoders;
    std::vector<AVCodecContext*> OpenDecoders;
    // Bytes written per kind, and of the codecs' headers.
    int64_t VideoSizeBytes = 0, AudioSizeBytes = 0, ExtraSizeBytes = 0;
    int FramesDuplicated = 0, FramesDropped = 0;
    int64_t TimerStartUs = 0;   // wall clock of the start of the loop
    int CurrentJoinFile = 0;    // join mode: the input file being read
    std::vector<bool> NoPacket; // per input file: it answered "try again" since the last read
    // Join mode: the output group whose encoders a decoder flush drains (-1: none).
    int JoinDrainGroup = -1;
    // Hook counter and action, picture records, preview window, statistics file; made on first
    // use.
    std::unique_ptr<TVideoHookState, TVideoHookStateDeleter> VideoHooks;
    // The hook time range the last hooked picture fell in (the ranges are sorted by end time).
    int HookTimeRangeIndex = 0;
    // Added to every time stamp of input n: the engine's offsets at the start, moved by time
    // stamp jumps and by joined inputs.
    std::vector<int64_t> InputTsOffsetsUs;
    // Per output file: the packet of the input's cover, whose stream the run adds after every
    // other, written once right after the header; none when the output holds no cover.
    std::vector<PacketPtr> CoverPackets;
};

#endif
