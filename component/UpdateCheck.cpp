// The update check: existence, times, then the read-back of the sound's length.
#include "component/UpdateCheck.h"

#include "component/OutputAssembly.h"
#include "component/OutputManifest.h"
#include "engine/WrittenSound.h"

#include <cstdlib>

namespace fs = std::filesystem;

TOutputState OutputStateFor(const fs::path& input, const fs::path& output, int64_t expectedUs) {
    std::error_code error;
    if (!fs::is_regular_file(output, error))
        return osMissing;
    const fs::file_time_type outputTime = fs::last_write_time(output, error);
    if (error)
        return osMissing;
    const fs::file_time_type inputTime = fs::last_write_time(input, error);
    if (error || outputTime <= inputTime)
        return osOutdated;
    if (expectedUs <= 0)
        return osUpToDate;
    // Raw packets without time stamps (ADTS) give -1: their length cannot be told, and the
    // times alone decide, as for the check of a finished conversion.
    // An output no reader can open, or without a sound to decode, is as good as cut short.
    const TWrittenSound written = ReadWrittenSound(output, 0, rbDecodeSound);
    if (written.OpenError != 0 || !written.SoundDecoded)
        return osIncomplete;
    return written.LengthUs < 0 || WrittenLengthComplete(expectedUs, written.LengthUs)
               ? osUpToDate
               : osIncomplete;
}

TOutputState OutputStateFor(const TOutputChoices& choices, const fs::path& output) {
    const std::optional<TClipMs> clip = ChosenClipMs(choices);
    const int64_t expectedUs = clip ? clip->LengthMs * 1000 : choices.InputDurationUs;
    return OutputStateFor(choices.InputFileName, output, expectedUs);
}

std::string OutputSettingsText(const TOutputChoices& c) {
    const auto number = [](const char* key, const auto& value) {
        return value ? std::string(" ") + key + "=" + std::to_string(*value) : std::string();
    };
    std::string text = "format=" + std::string(OutputFormatOf(c.Format).Caption) +
                       number("rate", c.SampleRateHz) + number("channels", c.Channels) +
                       number("volume", c.Volume) + number("kbps", c.BitRateKbps) +
                       number("lufs", c.LoudnessTargetLufs);
    if (c.Clip)
        text += " clip=" + std::to_string(c.Clip->StartUs) + "-" +
                std::to_string(c.Clip->StartUs + c.Clip->LengthUs);
    if (c.Piece)
        text +=
            " piece=" + std::to_string(c.Piece->StartUs) + "+" + std::to_string(c.Piece->LengthUs);
    if (c.AudioStream >= 0)
        text += " stream=" + std::to_string(c.AudioStream);
    text += std::string(" tags=") + (c.Engine.KeepTags ? "1" : "0") +
            " cover=" + (c.Engine.KeepCover ? "1" : "0");
    // Said only when asked for, so that what runs recorded before these were said still
    // compares equal for the outputs made without them; a size is nothing to an input without
    // a cover.
    if (c.Engine.KeepCover && c.Engine.CoverSizePixels > 0 && c.InputHasCover)
        text += " cover-size=" + std::to_string(c.Engine.CoverSizePixels);
    if (c.Engine.ReplayGain)
        text += " replaygain=1";
    // A piece's tags in the words they were once recorded in: engine option lines after the
    // user's own, so that the records of earlier runs still compare equal.
    std::string options = c.ExtraOutputOptions;
    for (const auto& [key, value] : c.Tags)
        options += "metadata=" + key + "=" + value + "\n";
    if (!options.empty())
        text += " options=" + options;
    return text;
}

TUpdateDecision DecideUpdate(const TManifestEntry& own, const fs::path& input,
                             const fs::path& output, const std::string& settings) {
    if (StampOf(output).SizeBytes < 0)
        return {uaConvert, "the output is missing"};
    if (!own.Complete)
        return {uaReplace, "its run was stopped"};
    if (own.Settings != settings)
        return {uaReplace, "the settings changed"};
    if (StampOf(input) != own.InputStamp)
        return {uaReplace, "the input changed"};
    if (OutputAsWritten(own, output))
        return {uaSkip, "up to date"};
    return {uaReplace, "the output is damaged or cut short"};
}

bool OutputAsWritten(const TManifestEntry& own, const fs::path& output) {
    if (StampOf(output) == own.OutputStamp)
        return true;
    // Changed since its run: the same sound read back keeps it (its tags may have been
    // edited); anything else is damage.
    const TWrittenSound written = ReadWrittenSound(output, 0, rbDecodeSound);
    constexpr int64_t ToleranceUs = 1000;
    return written.OpenError == 0 && written.SoundDecoded && own.WrittenUs > 0 &&
           std::llabs(written.LengthUs - own.WrittenUs) <= ToleranceUs;
}
