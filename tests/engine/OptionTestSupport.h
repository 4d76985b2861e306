// Helpers of the engine set-up tests: the message with which an option is refused.
#ifndef SOUNDPICK_TESTS_ENGINE_OPTIONTESTSUPPORT_H
#define SOUNDPICK_TESTS_ENGINE_OPTIONTESTSUPPORT_H

#include "engine/FFmpeg.h"

#include <string>

// The message of the exception of type TException that the option raises; "" when it is taken.
template <typename TException = FFmpegException>
std::string RejectionOf(TCustomFFmpeg& engine, const std::string& name, const std::string& value) {
    try {
        engine.SetOption(name, value);
    } catch (const TException& e) {
        return e.what();
    }
    return "";
}

#endif
