// The options dialog's captions and field texts read into the typed output choices, each with
// the value a text that is not a number falls back to. The window reads its fields here once;
// the command line gives numbers to begin with.
#ifndef SOUNDPICK_COMPONENT_CHOICETEXTS_H
#define SOUNDPICK_COMPONENT_CHOICETEXTS_H

#include <optional>
#include <string>

// "Auto": none; a rate in Hz; anything else 22050.
std::optional<int> SampleRateOfCaption(const std::string& caption);
// "Mono" 1, "Stereo" 2; "Auto" (or anything else): none.
std::optional<int> ChannelsOfCaption(const std::string& caption);
// A volume (256 = unchanged), blanks around it allowed; none when not a number.
std::optional<int> VolumeOfText(const std::string& text);
// A bit rate in kbit/s; 64 when not a number.
int BitRateKbpsOfText(const std::string& text);
// A loudness target in LUFS (-70 to -1); -16 otherwise.
double LoudnessTargetOfText(const std::string& text);

#endif
