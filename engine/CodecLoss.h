// How much loudness a lossy encoder takes from the sound, its low-pass above all: stretches of
// the sound as the encoder will get it are encoded and decoded again, and both are measured.
// Loudness normalisation aims with it, so that what is written, not what is encoded, reaches
// the target (pink noise to mp3 at 128 kbit/s comes out 0.8 LU quieter than it went in).
#ifndef SOUNDPICK_ENGINE_CODECLOSS_H
#define SOUNDPICK_ENGINE_CODECLOSS_H

#include "ffbind/FFHandles.h"

#include <memory>
#include <optional>

class TCodecLoss {
public:
    // encoder: unopened, with the output's settings (codec, format, rate, layout, bit rate,
    // quality); options: its private options. The encoder is opened here; when it or its
    // decoder cannot be, nothing is measured.
    TCodecLoss(const AVCodecContext& encoder, const AVDictionary* options);
    ~TCodecLoss();
    TCodecLoss(const TCodecLoss&) = delete;
    TCodecLoss& operator=(const TCodecLoss&) = delete;

    // Takes the next frame of the sound as measured (the encoder's rate and layout, any sample
    // format); those in the stretches tried go through the encoder.
    void Take(const AVFrame& frame);
    // What the encoder takes away, LU (positive: the decoded sound is quieter). None when no
    // stretch held sound or the codec could not be tried.
    std::optional<double> LossLu();

    // Whether the codec loses anything at all.
    static bool IsLossy(AVCodecID codec);

private:
    struct TState;
    std::unique_ptr<TState> State;
};

#endif
