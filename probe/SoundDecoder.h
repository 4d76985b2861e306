// Reads one sound stream of a file through the probe's own decoder, converted to the samples a
// caller asks for: the sound envelope reads 32-bit float at the source's rate and channels, the
// window's player 16-bit at 48 kHz on one or two channels. Pictures and other streams are skipped
// unread where the container allows, so that a long video costs little more than its sound.
#ifndef SOUNDPICK_PROBE_SOUNDDECODER_H
#define SOUNDPICK_PROBE_SOUNDDECODER_H

#include "CustomAVProbe.h"

#include <cstdint>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

// The samples a reader hands out: interleaved, of one format; 0 keeps the source's value.
struct TPcmFormat {
    AVSampleFormat SampleFormat = AV_SAMPLE_FMT_FLT;
    int SampleRateHz = 0;
    int Channels = 0;
};

// The sound to read: a file, the input format to force ("" probes the file) and the stream. A
// stream that is not a sound stream (-1 by default) reads the one a conversion takes: the
// default-flagged sound stream, else the first.
struct TSoundSource {
    // Not explicit: a file alone is its default sound.
    TSoundSource(std::filesystem::path file, std::string formatName = {}, int stream = -1)
        : File(std::move(file)), FormatName(std::move(formatName)), Stream(stream) {}
    std::filesystem::path File;
    std::string FormatName;
    int Stream = -1;
};

// Used from one thread at a time (each reader opens the file for itself).
class TSoundDecoder : public TCustomAVProbe {
public:
    TSoundDecoder();
    ~TSoundDecoder() override;

    // Opens the file and the decoder of its chosen sound stream; false with LastError() when the
    // file cannot be read or has no sound to decode.
    bool Open(const TSoundSource& source, const TPcmFormat& output);
    // The stream being read; -1 before Open.
    int StreamIndex() const { return Stream; }
    void CloseFile() override;

    // The format Read hands out, the source's values filled in.
    const TPcmFormat& Output() const { return OutputFormat; }
    int BytesPerFrame() const;

    // Moves the read position to the key point at or before timeUs (from the start of the sound);
    // the next Read tells where its samples begin.
    bool SeekTo(int64_t timeUs);

    enum class TRead { Samples, End, Failed };
    // Decodes the next piece of sound: Samples() then holds it, SamplesUs() the time of its first
    // sample. End after the last piece; Failed with LastError() when the file breaks off.
    TRead Read();
    const std::vector<uint8_t>& Samples() const { return Converted; }
    int SampleFrames() const { return ConvertedFrames; }
    int64_t SamplesUs() const { return ConvertedUs; }

private:
    TRead Receive();
    TRead Flush();
    bool MakeConverter(const AVFrame* frame);
    bool Convert(const AVFrame* frame);
    int64_t FrameUs(const AVFrame* frame) const;

    // What a converter was made for. A damaged stream may change its channels, rate or sample
    // format midway: such a frame needs a converter of its own.
    struct TConverterInput {
        int Format = -1;
        int RateHz = 0;
        int Channels = 0;
        int Order = 0;
        uint64_t Mask = 0;
        bool operator==(const TConverterInput&) const = default;
    };
    static TConverterInput InputOf(const AVFrame& frame);

    int Stream = -1;
    AVCodecContext* Decoder = nullptr; // the probe's decoder of the stream
    TPcmFormat OutputFormat;
    SwrPtr Converter;
    TConverterInput ConverterInput;
    PacketPtr Packet;
    FramePtr Frame;
    bool Draining = false;
    int64_t NextUs = 0; // where the next piece begins when a frame carries no time
    std::vector<uint8_t> Converted;
    int ConvertedFrames = 0;
    int64_t ConvertedUs = 0;
};

#endif
