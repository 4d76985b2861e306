// The subtitle output path's preparation: text subtitle encoders need the style header that
// the input's decoder makes.
#ifndef SOUNDPICK_ENGINE_OUTPUTSUBTITLE_H
#define SOUNDPICK_ENGINE_OUTPUTSUBTITLE_H

#include "engine/StreamTypes.h"

// Gives the output stream's encoder the subtitle header of its input's decoder (made by a
// scratch decoder when the input's is not opened yet). Call before opening the encoder.
void PrepareSubtitleOutput(TOutputStream& ost, const TInputStream& ist);

#endif
