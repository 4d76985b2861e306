// The choice of an input's audio stream.
#include "ffbind/AudioStreamChoice.h"

#include "ffbind/FFmpegApi.h"

namespace {

bool IsAudio(const AVFormatContext& input, int index) {
    return index >= 0 && index < static_cast<int>(input.nb_streams) &&
           input.streams[index]->codecpar->codec_type == AVMEDIA_TYPE_AUDIO;
}

} // namespace

int ChosenAudioStream(const AVFormatContext& input, int preferred) {
    if (IsAudio(input, preferred))
        return preferred;
    int first = -1;
    for (int index = 0; index < static_cast<int>(input.nb_streams); ++index) {
        if (!IsAudio(input, index))
            continue;
        if (input.streams[index]->disposition & AV_DISPOSITION_DEFAULT)
            return index;
        first = first < 0 ? index : first;
    }
    return first;
}
