// The audio output path: turns decoded sound of an input stream into encoded packets of one
// output stream (sample format, rate and channel conversion, clock keeping, framing, encoding).
#ifndef SOUNDPICK_ENGINE_OUTPUTAUDIO_H
#define SOUNDPICK_ENGINE_OUTPUTAUDIO_H

#include "engine/SplitAudioEncoder.h"
#include "engine/StreamTypes.h"
#include "ffbind/FFHandles.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>

struct TOptionState;

// When the audio path encodes in pieces on several threads (see TSplitAudioEncoder).
struct TAudioSplitSettings {
    int Pieces = 0;                               // pieces at once; 0 and 1: one encoder
    int64_t SegmentMs = 30000;                    // sound a piece encodes
    int64_t MinimumOutputMs = 0;                  // shorter outputs keep one encoder
    int64_t ExpectedOutputMs = -1;                // -1 unknown: one encoder
    const AVDictionary* EncoderOptions = nullptr; // the stream's private encoder options
};

// The engine options the audio path reads.
struct TAudioSyncSettings {
    // 0 off, 1 drop samples or insert silence only, above 1 also stretch by at most that many
    // samples per second.
    int AudioSyncMethod = 0;
    double AudioDriftThresholdSeconds = 0.1; // drift tolerated before samples are dropped
    int Verbose = 1;
    bool ExitOnError = false;
    // Output duration asked for: no sample beyond it reaches the encoder (max: no limit).
    int64_t RecordingTimeUs = INT64_MAX;
    // Where the input's clip starts: the duration ends on the sample at this plus it, as the
    // clip starting there begins on it.
    int64_t ClipStartUs = 0;
    const void* LogSender = nullptr; // sender of the path's log lines
    // Set when a stop is asked for: a long silence being inserted ends early. None: never.
    const std::atomic<bool>* StopRequested = nullptr;
    TAudioSplitSettings Split;
    int ConvertedVolume = 256; // applied after the conversion for the encoder (256: unchanged)
};

TAudioSyncSettings AudioSyncSettingsOf(const TOptionState& options, const void* logSender);

// Whether the output's only stream (a cover picture aside) is its sound.
bool IsSoleSoundStream(const AVFormatContext& output);

// Receives every encoded packet, its stream index set and its times in the output stream's time
// base. Runs on the thread that called the path; the packet is unreferenced after the call.
using TAudioPacketWriter = std::function<void(AVPacket* packet)>;

// The output stream as the path sees it.
struct TAudioOutputTarget {
    AVCodecContext* Encoder = nullptr; // opened
    AVStream* Stream = nullptr;
    int64_t* SyncOpts = nullptr; // samples per channel handed to the encoder: the output clock
};

// The input side of one chunk of decoded sound.
struct TAudioInputClock {
    double SyncTimeS = 0; // time of the chunk's first sample, less the start time, in seconds
    bool IsStart = true;  // no correction made yet: the first one is made at any size
};

// The description of a sound format the resampler was made for.
struct TAudioFormat {
    TAudioFormat() = default;
    ~TAudioFormat();
    TAudioFormat(const TAudioFormat&) = delete;
    TAudioFormat& operator=(const TAudioFormat&) = delete;

    int SampleFormat = AV_SAMPLE_FMT_NONE;
    int SampleRateHz = 0;
    AVChannelLayout Layout{};
};

// Working state of the audio path for one output stream, created on first use.
struct TAudioOutputState {
    SwrPtr Resampler;
    TAudioFormat ResamplerInput; // what Resampler converts from
    AudioFifoPtr Fifo;           // converted samples in the encoder's format, not yet encoded
    FramePtr Converted;          // resampler output, grown on need
    FramePtr EncodeFrame;        // one encoder frame, reused
    FramePtr Silence;            // silent samples in the input's format
    TAudioFormat SilenceFormat;
    int64_t LimitSamples = INT64_MAX; // end of the asked duration on the output clock
    bool ClockStarted = false;        // the output clock was set from the input once
    bool LimitReached = false;        // the asked duration is encoded and the encoder drained
    bool SplitDecided = false;        // whether to encode in pieces was decided
    int ConvertedVolume = 256;        // the settings' volume after the conversion
    int64_t SamplesEncoded = 0;       // samples per channel handed to the encoder
    int64_t PacketsDelivered = 0;     // encoded packets handed to the writer
    // The encoder has had the end of the stream: it takes no more sound, so chunks coming
    // after it are ignored (as the pieces ignore them) and a second flush has nothing to add.
    bool Drained = false;
    // Encodes in pieces in place of the stream's encoder; none: the stream's encoder encodes.
    std::unique_ptr<TSplitAudioEncoder> Split;
};

// Converts, synchronises, frames and encodes one decoded chunk. Raises FFmpegException with the
// path's texts when a resampler cannot be made or encoding fails.
void OutputAudioChunk(TAudioOutputState& state, const TAudioOutputTarget& target,
                      const AVFrame& chunk, TAudioInputClock& clock,
                      const TAudioSyncSettings& settings, const TAudioPacketWriter& write);

// How the sound of an output ends: where the input's sound ends, or where a stop cut it.
enum TAudioEnding { aeSoundEnd, aeStopped };

// At the end of the input: drains the resampler, encodes what the fifo holds (a short last
// frame where the encoder takes one, otherwise padded with silence to a whole frame) and drains
// the encoder. A stopped output ends at the last whole frame instead: its cut lies anywhere, and
// the few samples a decoder's skipped start leaves over a frame (47 for mp3 from mp3) make the
// mp3 encoder's drain give a frame more than it was given sound for, which it logs as a fault.
// A drained encoder takes nothing more (until it is opened again); chunks sent to it are
// dropped.
void FlushAudioOutput(TAudioOutputState& state, const TAudioOutputTarget& target,
                      const TAudioPacketWriter& write, TAudioEnding ending = aeSoundEnd);

// The engine's entry points: one decoded chunk of the input stream for the output stream, and
// the end of the input. The output stream's state is created on first use.
void OutputAudio(TOutputStream& ost, TInputStream& ist, const AVFrame& chunk, int64_t startTimeUs,
                 const TAudioSyncSettings& settings, const TAudioPacketWriter& write);
void FlushAudio(TOutputStream& ost, const TAudioPacketWriter& write, TAudioEnding ending);

#endif
