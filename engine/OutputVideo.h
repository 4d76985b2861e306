// The per-output-stream state of the video path: crop, pad and rescale geometry, the scaler,
// the padded/rescaled picture, the filter graph and what the encoder said of the last picture.
// The path itself is made of TTranscodeRun's PrepareVideoOutput, PreprocessVideoFrame,
// OutputVideo, WriteVideoStats and OutputSubtitle (engine/OutputVideo*.cpp, VideoHooks.cpp,
// OutputSubtitle.cpp).
#ifndef SOUNDPICK_ENGINE_OUTPUTVIDEO_H
#define SOUNDPICK_ENGINE_OUTPUTVIDEO_H

#include "engine/StreamTypes.h"
#include "engine/VideoFilters.h"
#include "ffbind/FFHandles.h"

#include <cstdint>
#include <string>

// Top, bottom, left and right amounts in pixels.
struct TVideoBands {
    int Top = 0, Bottom = 0, Left = 0, Right = 0;
};

struct TVideoOutputState {
    bool Crop = false; // crop options given (without filters the path crops itself)
    TVideoBands CropBands;
    TVideoBands InitialCropBands;            // as set up, for scaling the bands after a size change
    int InitialWidth = 0, InitialHeight = 0; // input size before cropping, as set up
    // The geometry of the last input picture, to notice a change.
    int InputWidth = 0, InputHeight = 0;
    AVPixelFormat InputFormat = AV_PIX_FMT_NONE;
    bool Pad = false;
    TVideoBands PadBands;
    // The input geometry the scaler was made for (after cropping); none made yet when 0.
    int ResampleWidth = 0, ResampleHeight = 0;
    AVPixelFormat ResampleFormat = AV_PIX_FMT_NONE;
    SwsPtr Scaler;
    FramePtr TempPicture; // the encoder's size and format: target of rescaling and padding
    TVideoFilterGraph Filters;
    FramePtr Filtered; // the current filtered picture
    // What the encoder reported for its last packet (quality in lambda units, picture type).
    int LastQuality = 0;
    char LastPictureType = '?';
    uint64_t LastPlaneError = 0; // plane-0 squared error when the encoder computes PSNR
};

struct TOptionState;

// Builds the output stream's filter graph from the engine's video filters, with the scale step
// the encoder's size needs; may change the encoder's size (call before opening it). 0, or -1
// with error set for the option conflicts.
int ConfigureFilters(const TOptionState& engine, TInputStream& ist, TOutputStream& ost,
                     std::string& error);

// The input sync time of a picture: its time less the start time, in seconds.
double PictureSyncTimeS(int64_t ptsUs, int64_t startTimeUs);

// The number of copies of a picture to emit to keep the output clock with the input clock:
// 0 drops it, 2 or more duplicate it. syncOpts may be moved to the input clock.
struct TVideoSyncInput {
    int VideoSyncMethod = -1;
    AVRational EncoderTimeBase = {1, 25};
    bool VariableFrameRateFormat = false; // the output format's frame rate may vary
    double InputSyncTimeS = 0;
};
int VideoFramesToEmit(const TVideoSyncInput& input, int64_t& syncOpts);

#endif
