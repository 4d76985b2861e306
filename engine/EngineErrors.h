// The errors the engine raises: what a front end catches and words without the engine itself.
#ifndef SOUNDPICK_ENGINE_ENGINEERRORS_H
#define SOUNDPICK_ENGINE_ENGINEERRORS_H

#include <stdexcept>

// Raised wherever a conversion cannot go on and by the set-up operations for rejected options.
class FFmpegException : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Raised when an output's video encoder refuses the picture (a size or format it cannot take) on
// an output whose sound can still be converted without it.
class EVideoEncoderRefused : public FFmpegException {
public:
    using FFmpegException::FFmpegException;
};

// The run-time's number conversion errors ("'%s' is not a valid integer value", ...).
class EConvertError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The message of a task stopped before its output held any sound: the output was removed.
inline constexpr const char* StoppedWithoutSoundText =
    "stopped before any sound was written; no file kept";

#endif
