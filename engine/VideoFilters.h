// Video filter graphs of the engine: a buffer source, a chain of library filters and a buffer
// sink that delivers one pixel format. Used for the user's video filters (with the crop and
// scale steps the output needs) and for deinterlacing.
#ifndef SOUNDPICK_ENGINE_VIDEOFILTERS_H
#define SOUNDPICK_ENGINE_VIDEOFILTERS_H

#include "ffbind/FFHandles.h"

#include <string>
#include <vector>

// The pictures entering a graph. Times are counted in TimeBase.
struct TVideoFilterInput {
    int Width = 0;
    int Height = 0;
    AVPixelFormat PixelFormat = AV_PIX_FMT_NONE;
    AVRational SampleAspect = {0, 1};
    AVRational TimeBase = {1, 1000000};
};

// One library filter with its arguments, placed between the source and the chain.
struct TVideoFilterStep {
    std::string Name;
    std::string Arguments;
};

class TVideoFilterGraph {
public:
    // Builds source -> steps -> chain -> sink. The chain is a library filter description with "in"
    // as its input and "out" as its output; empty links the source to the sink. The sink gives
    // pictures of sinkFormat. scalerFlags (SWS_*) apply to every scaler of the graph. A
    // negative library error code on failure (the graph stays empty).
    int Configure(const TVideoFilterInput& input, const std::string& chain,
                  AVPixelFormat sinkFormat, int scalerFlags,
                  const std::vector<TVideoFilterStep>& steps = {});
    bool Configured() const { return Sink != nullptr; }

    // Hands a picture (its pts in the input's time base) to the graph; nullptr ends the input.
    int Push(const AVFrame* picture);
    // The next filtered picture into picture: 0, AVERROR(EAGAIN) when more input is needed,
    // AVERROR_EOF after the end.
    int Pull(AVFrame* picture);

    // The filtered pictures' size and time base (valid once configured).
    int OutputWidth() const;
    int OutputHeight() const;
    AVRational OutputTimeBase() const;
    const TVideoFilterInput& Input() const { return InputShape; }

private:
    FilterGraphPtr Graph;
    AVFilterContext* Source = nullptr;
    AVFilterContext* Sink = nullptr;
    TVideoFilterInput InputShape;
};

#endif
