// Drives the audio output path on its own for tests: an output file with one opened encoder,
// chunks made up as tones, and the end of input.
#ifndef SOUNDPICK_TESTS_ENGINE_AUDIOCOREHARNESS_H
#define SOUNDPICK_TESTS_ENGINE_AUDIOCOREHARNESS_H

#include "engine/OutputAudio.h"

#include <filesystem>
#include <string>
#include <vector>

// What the output should be; 0 or empty keeps the container's or the input's choice.
struct TCoreOutputRequest {
    std::string CodecName;
    int SampleRateHz = 0;
    int Channels = 0;
    int64_t BitRate = 0;
};

// One output file whose single audio stream is fed through the audio path.
class TCoreAudioOutput {
public:
    // inputFormat/inputRate/inputLayout describe the sound that will come (the encoder's
    // defaults follow it where the request leaves a choice).
    TCoreAudioOutput(const std::filesystem::path& file, const TCoreOutputRequest& request,
                     AVSampleFormat inputFormat, int inputRateHz, int inputChannels);
    ~TCoreAudioOutput();

    void Feed(const AVFrame& chunk, double syncTimeS);
    // Flushes the path and writes the trailer.
    void Finish();

    TAudioSyncSettings Settings;
    TAudioInputClock Clock;
    int64_t SyncOpts = 0;
    int PacketCount = 0;
    AVCodecContext* Encoder() const { return EncoderContext.get(); }

private:
    void WritePacket(AVPacket* packet);

    OutputFormatPtr Format;
    CodecContextPtr EncoderContext;
    AVStream* Stream = nullptr;
    TAudioOutputState State;
    bool Finished = false;
};

// A chunk of a sine tone (amplitude 0.5) in a packed or planar format; firstSample numbers the
// tone's phase so successive chunks join without a jump.
FramePtr MakeToneChunk(AVSampleFormat format, int rateHz, int channels, int samples,
                       int64_t firstSample, double frequencyHz = 1000);

// A fresh temporary path for an output with the given extension, removed with its folder at
// the end of the test process.
std::filesystem::path TempOutput(const std::string& name);

#endif
