// The first pass of loudness normalisation: the integrated loudness and true peak of a file's
// sound (or a clip of it) as the libraries' EBU R128 filter measures them, and the one constant
// gain that brings it to a target without the true peak passing a ceiling.
#ifndef SOUNDPICK_ENGINE_LOUDNESSMETER_H
#define SOUNDPICK_ENGINE_LOUDNESSMETER_H

#include "ffbind/FFmpegApi.h"

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

// The ceiling the true peak is kept under, dBTP. A lossy encoder's output overshoots its input's
// peaks a little, so its input is kept lower.
inline constexpr double TruePeakCeilingDbtp = -1.0;
inline constexpr double LossyTruePeakCeilingDbtp = -1.5;
// At or below this the filter's gate finds no sound.
inline constexpr double SilenceLufs = -70.0;
// How far the written loudness may lie from the aimed one, LU.
inline constexpr double LoudnessToleranceLu = 0.5;

struct TLoudness {
    double IntegratedLufs = -70.0; // -70 and below: silence as the filter gates it
    double TruePeakDbtp = -200.0;
};

// What the second pass applies and what it gives.
struct TLoudnessGain {
    double GainDb = 0.0;
    double OutputLufs = -70.0; // the input's loudness moved by the gain; once written, measured
    double OutputTruePeakDbtp = -200.0;
    int Volume = 256; // the engine's volume for the gain (256 = unchanged)
};

// The gain to the target, reduced so the true peak stays at or under the ceiling; none for a
// silent input.
TLoudnessGain LoudnessGainFor(const TLoudness& measured, double targetLufs,
                              double ceilingDbtp = TruePeakCeilingDbtp);

// "Loudness: input -30.0 LUFS (true peak -27.0 dBTP), gain +14.0 dB, output -16.0 LUFS (true
// peak -13.0 dBTP)"
std::string LoudnessSummary(const TLoudness& measured, const TLoudnessGain& gain);

// "Loudness written: -16.0 LUFS, true peak -1.6 dBTP"
std::string WrittenLoudnessSummary(const TLoudness& written);

// The sound as an encoder gets it: the measure is taken after the same conversion, since a
// change of channels moves the loudness by several LU. Unset parts keep the decoded sound's.
struct TSoundFormat {
    const AVChannelLayout* Layout = nullptr; // none: as decoded
    int SampleRateHz = 0;
    AVSampleFormat SampleFormat = AV_SAMPLE_FMT_NONE;
};

// Adds a filter of the libraries to a graph, linked after previous (none: unlinked); failures
// throw std::runtime_error naming the filter.
AVFilterContext* AddFilter(AVFilterGraph* graph, const char* name, const std::string& args,
                           AVFilterContext* previous);

// A number among a frame's metadata (the meter's "lavfi.r128.I"), or fallback.
double MetadataNumber(const AVFrame* frame, const char* key, double fallback);

// Measures the best audio stream of a file from startUs for durationUs (each relative to the
// file's start, fileStartUs in the stream's times; durationUs <= 0: to the end), converted to
// format. onProgress receives the measured time and returns false to stop: the result is then
// empty. onFrame, when given, takes every measured frame (a codec loss tried on the same sound).
// Failures throw std::runtime_error.
std::optional<TLoudness> MeasureLoudness(const std::filesystem::path& file,
                                         const std::string& formatName, int64_t fileStartUs,
                                         int64_t startUs, int64_t durationUs,
                                         const TSoundFormat& format,
                                         const std::function<bool(int64_t doneUs)>& onProgress,
                                         const std::function<void(const AVFrame&)>& onFrame = {});

// An album's loudness, and each of its tracks'.
struct TAlbumLoudness {
    TLoudness Album;
    std::vector<TLoudness> Tracks; // in the order of the files
};

// Measures the best audio streams of files, each alone and all played one after another as an
// album is measured, decoding each file once. Failures throw std::runtime_error.
TAlbumLoudness MeasureAlbumLoudness(const std::vector<std::filesystem::path>& files);

#endif
