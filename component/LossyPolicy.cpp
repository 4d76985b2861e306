// The lossy copy policy (see LossyPolicy.h).
#include "component/LossyPolicy.h"

#include "component/OutputFormats.h"

#include <set>

namespace {

// The formats whose sound is lossy: a copy of such sound loses nothing a re-encode keeps.
bool IsLossyFormat(const TOutputFormat& format) {
    static const std::set<TOutputFormatId> lossy = {fmMp3, fmMp2, fmWma, fmAac,
                                                    fmM4a, fmAc3, fmOpus};
    return lossy.count(format.Id) > 0;
}

constexpr int EncoderDefaultKbps = 128;

} // namespace

std::optional<TLossyPolicy> LossyPolicyNamed(const std::string& name) {
    if (name == "copy")
        return lpCopy;
    if (name == "convert")
        return lpConvert;
    return std::nullopt;
}

int KeptBitRateKbps(const TOutputChoices& choices) {
    if (choices.MaxBitRateKbps > 0)
        return choices.MaxBitRateKbps;
    return BitRateKbpsFor(OutputFormatOf(choices.Format), choices.BitRateKbps)
        .value_or(EncoderDefaultKbps);
}

bool KeepLossyAsItIs(TOutputChoices& choices, const TProbedInput& probed) {
    const TOutputFormat& format = OutputFormatOf(choices.Format);
    if (choices.LossyPolicy != lpCopy || !IsLossyFormat(format) ||
        CopyExtension(probed.AudioCodec) != format.Extension || probed.AudioBitRateBps <= 0)
        return false;
    // A variable bit rate averages a little over its nominal figure.
    constexpr double Tolerance = 1.02;
    if (probed.AudioBitRateBps > KeptBitRateKbps(choices) * 1000 * Tolerance)
        return false;
    const bool soundChanged = (choices.Volume && *choices.Volume != 256) ||
                              choices.LoudnessTargetLufs || choices.SampleRateHz ||
                              choices.Channels || choices.Clip || choices.Piece;
    if (soundChanged)
        return false;
    choices.Format = fmCopy;
    return true;
}
