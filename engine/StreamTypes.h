// The per-run stream tables of a transcode: one record per input file, per input stream and per
// output stream, built by the transcode initialisation and released at the end of the run.
// The audio and video output paths keep their per-stream working state in holders of their own
// (declared here, defined in their files), so each path can change its state independently.
#ifndef SOUNDPICK_ENGINE_STREAMTYPES_H
#define SOUNDPICK_ENGINE_STREAMTYPES_H

#include "engine/SoundGridClock.h"
#include "ffbind/FFHandles.h"

#include <cstdint>
#include <cstdio>
#include <memory>

// Per-stream state of the audio output path (resampler, sample fifo, ...): engine/OutputAudio.h.
struct TAudioOutputState;
// Per-stream state of the video output path (scaler, crop and pad, filters, ...):
// engine/OutputVideo.h.
struct TVideoOutputState;

// Deleters defined by the owning path, so the holders can be destroyed where the state's
// definition is not visible.
struct TAudioOutputStateDeleter {
    void operator()(TAudioOutputState* state) const;
};
struct TVideoOutputStateDeleter {
    void operator()(TVideoOutputState* state) const;
};
using TAudioOutputStatePtr = std::unique_ptr<TAudioOutputState, TAudioOutputStateDeleter>;
using TVideoOutputStatePtr = std::unique_ptr<TVideoOutputState, TVideoOutputStateDeleter>;

// The no-time-stamp marker of the libraries.
constexpr int64_t NoPts = static_cast<int64_t>(UINT64_C(0x8000000000000000));

struct TInputFile {
    bool EofReached = false;
    int IstIndex = 0;  // global input-stream index of the file's first stream
    int NbStreams = 0; // streams of the file
};

struct TInputStream {
    int FileIndex = 0; // index in InputFiles
    int Index = 0;     // stream index within its file
    AVStream* St = nullptr;
    // The stream's decoder context (owned by the engine's InputDecoders); opened only when
    // DecodingNeeded.
    AVCodecContext* Dec = nullptr;
    bool Discard = true; // no output stream takes this stream yet: its packets are dropped
    bool DecodingNeeded = false;
    int64_t StartUs = 0; // wall clock of the run's start, for real-time pacing
    // The stream's clock in microseconds: time of the current decoded unit and of the next one
    // (NoPts until known).
    int64_t NextPtsUs = NoPts;
    int64_t PtsUs = 0;
    // Where the next decoded sound frame lies on the stream's sample grid.
    TSoundGridClock SoundGrid;
    bool IsStart = true;  // no audio synchronisation correction made yet
    bool Flushed = false; // the decoder was drained at the end of its file (join mode)
    // Video quality of the last decoded picture, in lambda units (0 when unknown).
    int Quality = 0;
    // The decoder's output, reused for every unit.
    FramePtr Decoded;
};

struct TOutputStream {
    int FileIndex = 0;   // output file entry
    int Index = 0;       // stream index within the file
    int SourceIndex = 0; // global input-stream index of the source
    AVStream* St = nullptr;
    // The stream's encoder context, owned by the output set-up (join replicas share it). For a
    // stream copy it only carries the copied parameters and the time base.
    AVCodecContext* Enc = nullptr;
    const AVCodec* Codec = nullptr; // encoder named or found for the stream
    bool EncodingNeeded = false;
    int FrameNumber = 0; // packets (copy) or frames (encoding) written
    TInputStream* SyncIst = nullptr;
    // Output clock: frames (video) or samples per channel (audio) handed to the encoder.
    int64_t SyncOpts = 0;
    // End of the last packet written, in the stream's time base: the stream's current time.
    int64_t MuxedEndTs = 0;
    int64_t PacketsMuxed = 0; // packets with content written (see CarriesContent)
    // Bitstream filter chain of the stream (none when no filter was given).
    BsfPtr Bsf;
    // Two-pass statistics file of pass 1.
    std::FILE* LogFile = nullptr;
    // Working state of the output paths, created by them on first use.
    TAudioOutputStatePtr Audio;
    TVideoOutputStatePtr Video;

    double CurrentTimeSeconds() const {
        return St ? static_cast<double>(MuxedEndTs) * av_q2d(St->time_base) : 0.0;
    }
};

#endif
