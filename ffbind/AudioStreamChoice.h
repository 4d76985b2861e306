// Which audio stream of an input is "its sound": the one asked for, else the one flagged as the
// default, else the first. Shared by the engine (what it converts), the probe and the component
// (what they show and name the output by), so that all three agree.
#ifndef SOUNDPICK_FFBIND_AUDIOSTREAMCHOICE_H
#define SOUNDPICK_FFBIND_AUDIOSTREAMCHOICE_H

struct AVFormatContext;

// The stream index in the file: preferred when that is an audio stream, else the first audio
// stream with the default flag, else the first audio stream; -1 when the file has none.
int ChosenAudioStream(const AVFormatContext& input, int preferred = -1);

#endif
