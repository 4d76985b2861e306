// The option state's value setters: the checks and conversions of one option value each.
#include "engine/OptionState.h"

#include "engine/EngineErrors.h"
#include "ffbind/Assertion.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <string>

namespace {

constexpr const char* Unit = "FFmpeg";

} // namespace

void TOptionState::ApplyCodecTag(char Kind, const std::string& Value) {
    if (Value.empty())
        return;
    if (Kind == 'v')
        SP_ASSERT(Value.size() == 4, "video tag parameter must be 4 chars", Unit);
    else if (Kind == 'a')
        SP_ASSERT(Value.size() == 4, "audio tag parameter must be 4 chars", Unit);
    else
        SP_ASSERT(Value.size() == 4, "subtitle tag parameter must be 4 chars", Unit);
    uint32_t tag = MKTAG(Value[0], Value[1], Value[2], Value[3]);
    (Kind == 'v' ? VideoCodecTag : (Kind == 'a' ? AudioCodecTag : SubtitleCodecTag)) = tag;
}

void TOptionState::SetAudioSampleRate(int ValueHz) {
    if (ValueHz > 0)
        AudioSampleRateHz = ValueHz;
    UserSet.SampleRate = UserSet.SampleRate || ValueHz > 0;
}

void TOptionState::SetAudioChannels(int Value) {
    if (Value > 0)
        AudioChannels = Value;
    UserSet.Channels = UserSet.Channels || Value > 0;
}

void TOptionState::SetAudioVolume(int Value) {
    // A negative factor would turn the sound upside down and amplify it.
    if (Value < 0)
        throw FFmpegException("Incorrect volume (0 or more, 256 = unchanged)");
    AudioVolume = Value;
}

void TOptionState::SetAudioSyncMethod(int Value) {
    AudioSyncMethod = Value;
}
void TOptionState::SetVideoSyncMethod(int Value) {
    VideoSyncMethod = Value;
}

void TOptionState::SetMuxMaxDelay(float Seconds) {
    if (Seconds > 0)
        MuxMaxDelaySeconds = Seconds;
}

void TOptionState::SetMuxPreload(float Seconds) {
    if (Seconds > 0)
        MuxPreloadSeconds = Seconds;
}

void TOptionState::SetAudioTag(const std::string& Tag) {
    ApplyCodecTag('a', Tag);
}
void TOptionState::SetVideoTag(const std::string& Tag) {
    ApplyCodecTag('v', Tag);
}

void TOptionState::SetFrameRate(const std::string& Value) {
    if (Value.empty())
        return;
    if (ff::av_parse_video_rate(&FrameRate, Value.c_str()) < 0)
        throw FFmpegException("Incorrect frame rate");
    UserSet.FrameRate = true;
}

void TOptionState::SetFrameSize(const std::string& Value) {
    int width = 0, height = 0;
    if (ff::av_parse_video_size(&width, &height, Value.c_str()) < 0 ||
        ff::av_image_check_size(width, height, 0, nullptr) < 0)
        throw FFmpegException("Incorrect frame size");
    FrameWidth = width;
    FrameHeight = height;
    if (FrameWidth % 2 != 0 || FrameHeight % 2 != 0)
        throw FFmpegException("Frame size must be a multiple of 2");
    UserSet.FrameSize = true;
}

void TOptionState::SetAspectRatio(const std::string& Value) {
    if (Value.empty())
        return;
    double ratio = 0;
    std::size_t colon = Value.find(':');
    if (colon != std::string::npos) {
        long x = std::strtol(Value.c_str(), nullptr, 10);
        long y = std::strtol(Value.c_str() + colon + 1, nullptr, 10);
        ratio = y > 0 ? double(x) / double(y) : 0;
    } else {
        ratio = std::strtod(Value.c_str(), nullptr);
    }
    // Out of the single's range the stored ratio would not be a number.
    if (!(ratio > 0 && ratio <= std::numeric_limits<float>::max()))
        throw FFmpegException("Incorrect aspect ratio specification.");
    FrameAspectRatio = static_cast<float>(ratio);
}

// A side cropped again replaces its earlier crop, so the size first gets that crop back (a later
// 0 leaves the picture uncropped). A crop of nothing (0) needs no picture to crop: it is stored
// before the input is known.
void TOptionState::ApplyCrop(int& Field, int Value, bool Vertical) {
    if (Value < 0)
        return;
    int& size = Vertical ? FrameHeight : FrameWidth;
    const int uncropped = size + Field;
    if (Value > 0 && Value >= uncropped)
        throw FFmpegException(std::string(Vertical ? "Vertical" : "Horizontal") +
                              " crop dimensions are outside the range of the original image.\n"
                              "Remember to crop first and scale second.");
    Field = Value;
    size = uncropped - Value;
}

void TOptionState::SetCropTop(int Value) {
    ApplyCrop(CropTop, Value, true);
}
void TOptionState::SetCropBottom(int Value) {
    ApplyCrop(CropBottom, Value, true);
}
void TOptionState::SetCropLeft(int Value) {
    ApplyCrop(CropLeft, Value, false);
}
void TOptionState::SetCropRight(int Value) {
    ApplyCrop(CropRight, Value, false);
}

// Negative pads are ignored; the bound keeps padded sizes far from the integer range.
namespace {

void ApplyPad(int& Field, int Value) {
    if (Value > MaxPadSize)
        throw FFmpegException("Pad size too large (at most " + std::to_string(MaxPadSize) + ")");
    if (Value >= 0)
        Field = Value;
}

} // namespace

void TOptionState::SetPadTop(int Value) {
    ApplyPad(PadTop, Value);
}
void TOptionState::SetPadBottom(int Value) {
    ApplyPad(PadBottom, Value);
}
void TOptionState::SetPadLeft(int Value) {
    ApplyPad(PadLeft, Value);
}
void TOptionState::SetPadRight(int Value) {
    ApplyPad(PadRight, Value);
}

// The colour 0xBBGGRR in the video's Y, U, V with 10-bit fixed-point coefficients.
void TOptionState::SetPadColor(int ColorBGR) {
    auto fix = [](double c) { return static_cast<int>(std::nearbyint(c * 1024 + 0.5)); };
    int r = ColorBGR & 0xFF, g = (ColorBGR >> 8) & 0xFF, b = (ColorBGR >> 16) & 0xFF;
    int y = (fix(0.299) * r + fix(0.587) * g + fix(0.114) * b + 512) >> 10;
    int u = 128 + ((-fix(0.16874) * r - fix(0.33126) * g + fix(0.5) * b + 512 - 1) >> 10);
    int v = 128 + ((fix(0.5) * r - fix(0.41869) * g - fix(0.08131) * b + 512 - 1) >> 10);
    PadColor[0] = static_cast<uint8_t>(std::clamp(y, 0, 255));
    PadColor[1] = static_cast<uint8_t>(std::clamp(u, 0, 255));
    PadColor[2] = static_cast<uint8_t>(std::clamp(v, 0, 255));
}

void TOptionState::SetVideoFilters(const std::string& Value) {
    VideoFilters = Value;
}

void TOptionState::SetProgramId(int Value) {
    if (Value >= 0)
        ProgramId = Value;
}

void TOptionState::SetStartTime(int64_t TimeUs) {
    if (TimeUs > 0)
        StartTimeUs = std::min(TimeUs, MaxOptionTimeUs);
}

void TOptionState::SetRecordingTime(int64_t TimeUs) {
    if (TimeUs <= 0)
        return;
    RecordingTimeUs = std::min(TimeUs, MaxOptionTimeUs);
    RecordingTimeMs = static_cast<int>(std::min<int64_t>(RecordingTimeUs / 1000, INT32_MAX));
}

void TOptionState::SetRecordingTimeMs(int TimeMs) {
    if (TimeMs <= 0)
        return;
    RecordingTimeUs = int64_t(TimeMs) * 1000;
    RecordingTimeMs = TimeMs;
}

void TOptionState::AddMetadata(const std::string& Key, const std::string& Value) {
    MetadataPairs.emplace_back(Key, Value);
}

void TOptionState::SetVerbose(int Value) {
    Verbose = Value;
}

void TOptionState::SetHookTimeRanges(const std::vector<THookTimeRange>& Ranges) {
    HookTimeRanges = Ranges;
    std::sort(HookTimeRanges.begin(), HookTimeRanges.end(),
              [](const THookTimeRange& a, const THookTimeRange& b) { return a.EndUs < b.EndUs; });
}
