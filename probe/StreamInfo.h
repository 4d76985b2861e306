// The records the probe fills: the container's figures and tags, and one video stream's figures.
// Every number is -1 and every text empty when a record cannot be filled.
#ifndef SOUNDPICK_PROBE_STREAMINFO_H
#define SOUNDPICK_PROBE_STREAMINFO_H

#include <cstdint>
#include <string>

struct TFileStreamInfo {
    int64_t StartTime = -1; // microseconds
    int64_t Duration = -1;  // microseconds
    int64_t BitRate = -1;   // bits per second
    int64_t TimeStamp = -1; // creation time, seconds since 1970-01-01 UTC; 0 when untagged
    int32_t Year = -1;      // 0 when untagged
    int32_t Track = -1;     // 0 when untagged
    std::string Title;
    std::string Author;
    std::string Copyright;
    std::string Comment;
    std::string Album;
    std::string Genre;

    void Reset() { *this = TFileStreamInfo(); }
};

struct TVideoStreamInfo {
    std::string Language;
    std::string CodecName;
    int64_t StartTime = -1; // in the stream's time base, as the library holds it
    int64_t StartTimeUs = -1;
    int64_t Duration = -1; // in the stream's time base, as the library holds it
    int64_t DurationUs = -1;
    int64_t BitRate = -1;
    int32_t Height = -1;
    int32_t Width = -1;
    float DisplayAspect = -1.0f; // sample aspect ratio x width / height
    int32_t PixelFormat = -1;    // the library's pixel format number
    int32_t FrameRateNum = -1;
    int32_t FrameRateDen = -1;

    void Reset() { *this = TVideoStreamInfo(); }
};

#endif
