// Lossy inputs in a library run: sound already in the output's lossy codec at no more than the
// output's bit rate is copied as it is (a re-encode would lose more and, for a low bit rate,
// grow the file); other sound is converted.
#ifndef SOUNDPICK_COMPONENT_LOSSYPOLICY_H
#define SOUNDPICK_COMPONENT_LOSSYPOLICY_H

#include "component/FFmpegComponent.h"
#include "component/OutputAssembly.h"

#include <optional>
#include <string>

// "copy" or "convert"; none for another text.
std::optional<TLossyPolicy> LossyPolicyNamed(const std::string& name);

// The bit rate (kbit/s) up to which an input in the output's codec is kept: the choices'
// MaxBitRateKbps, else the output's (BitRateKbpsFor; 128 kbit/s where the format states none,
// as its encoder takes).
int KeptBitRateKbps(const TOutputChoices& choices);

// With lpCopy, turns the choices into the sound's copy ("Original", whose container follows
// the codec) when the probed sound is in the output's lossy codec, in the container the output
// would have, at a known bit rate no higher than KeptBitRateKbps, and nothing asks for a change
// of the sound (volume, loudness, rate, channels, a clip or a piece). True when so.
bool KeepLossyAsItIs(TOutputChoices& choices, const TProbedInput& probed);

#endif
