// Helpers of the video path tests: an engine with one made-up video input stream and one
// encoded video output stream (lossless raw video in a nut file), fed with made pictures at
// chosen times, and the output's pictures decoded by the ffmpeg tool.
#ifndef SOUNDPICK_TESTS_ENGINE_VIDEOPATHHARNESS_H
#define SOUNDPICK_TESTS_ENGINE_VIDEOPATHHARNESS_H

#include "RunHarness.h"

#include "engine/TranscodeRun.h"

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

// A yuv420p picture: the left half of luma leftLuma, the right half rightLuma, grey chroma.
FramePtr MakePicture(int width, int height, int leftLuma, int rightLuma);
// The same with one luma value.
inline FramePtr MakePicture(int width, int height, int luma) {
    return MakePicture(width, height, luma, luma);
}

class TVideoPathHarness {
public:
    // The engine exists at once (set its options, events and hooks); Open makes the streams.
    TVideoPathHarness(const std::filesystem::path& file, int inputWidth, int inputHeight);
    ~TVideoPathHarness();

    // Prepares the output stream (crop, pad, scale, filters) for an encoder of the given size
    // and opens it; raises what preparation raises.
    void Open(int outputWidth, int outputHeight);
    // One decoded picture at a time in microseconds, through the hooks and the output path.
    // Returns the bytes encoded.
    int Feed(AVFrame* picture, int64_t ptsUs);
    // Drains the encoder and ends the file.
    void Finish();

    std::unique_ptr<TEngineOpen> Engine;
    // The run driving the output path, made by Open.
    std::unique_ptr<TTranscodeRun> Run;
    TInputStream Ist;
    TOutputStream Ost;

private:
    std::filesystem::path File;
    CodecContextPtr Dec;
    CodecContextPtr Enc;
    OutputFormatPtr Output;
};

// The luma planes of a video file's pictures, decoded by the ffmpeg tool at its own size.
struct TGreyPictures {
    int Width = 0, Height = 0;
    std::vector<std::vector<uint8_t>> Frames;
    int At(int frame, int x, int y) const { return Frames[frame][y * Width + x]; }
};
TGreyPictures DecodeGrey(const std::filesystem::path& file);

#endif
