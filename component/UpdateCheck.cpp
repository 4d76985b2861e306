// The update check: existence, times, then the read-back of the sound's length.
#include "component/UpdateCheck.h"

#include "component/OutputAssembly.h"
#include "engine/WrittenSound.h"

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
    // An output no reader can open is as good as cut short.
    const TWrittenSound written = ReadWrittenSound(output, 0);
    if (written.OpenError != 0)
        return osIncomplete;
    return written.LengthUs < 0 || WrittenLengthComplete(expectedUs, written.LengthUs)
               ? osUpToDate
               : osIncomplete;
}

TOutputState OutputStateFor(const TOutputChoices& choices, const fs::path& output) {
    const int64_t expectedUs =
        ClipChosen(choices) ? ClipStartAndLength(choices.SelectionStart, choices.SelectionEnd,
                                                 choices.ScaleUs, choices.InputDurationUs)
                                      .LengthMs *
                                  1000
                            : choices.InputDurationUs;
    return OutputStateFor(choices.InputFileName, output, expectedUs);
}
