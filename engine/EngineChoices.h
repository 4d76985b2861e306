// The library choices that change what the engine writes, as one typed record: the command line,
// the options dialog and a task's output record carry it whole into the engine's option state.
#ifndef SOUNDPICK_ENGINE_ENGINECHOICES_H
#define SOUNDPICK_ENGINE_ENGINECHOICES_H

struct TEngineChoices {
    // The first input's tags go to the first output, ahead of any `map_meta_data`.
    bool KeepTags = false;
    // `cover`: the input's cover goes where the output's container holds one.
    bool KeepCover = true;
    // `cover_size`: a larger cover is scaled down to fit this square, as JPEG; 0: as it is.
    int CoverSizePixels = 0;
    // `replaygain`: the outputs get ReplayGain (R128 in Opus) tags with placeholder values, to
    // be filled once the written sound is measured.
    bool ReplayGain = false;

    bool operator==(const TEngineChoices&) const = default;
};

#endif
