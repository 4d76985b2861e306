// Hook-period parsing and creation-time conversion of the option records.
#include "component/OptionRecords.h"

#include "ffbind/TextUtils.h"

#include <cmath>
#include <ctime>

namespace {

// A decimal 64-bit integer filling the whole text, else -1.
int64_t DecimalOrMinusOne(const std::string& text) {
    std::string_view digits(text);
    if (!digits.empty() && digits.front() == '+')
        digits.remove_prefix(1);
    return WholeInteger<int64_t>(digits).value_or(-1);
}

// Days between 1899-12-30 (date-time zero) and 1970-01-01.
constexpr double UnixEpochDays = 25569.0;
constexpr double SecondsPerDay = 86400.0;

} // namespace

std::vector<THookPeriodUs> ParseHookPTSPeriods(const std::string& text) {
    std::vector<THookPeriodUs> periods;
    std::string rest = TrimBlanks(text);
    if (rest.empty())
        return periods;
    while (true) {
        const std::size_t comma = rest.find(',');
        std::string piece = TrimBlanks(rest.substr(0, comma));
        const std::size_t dash = piece.find('-');
        const std::string startText = TrimBlanks(piece.substr(0, dash));
        const std::string endText =
            dash == std::string::npos ? "" : TrimBlanks(piece.substr(dash + 1));
        const int64_t startUs = DecimalOrMinusOne(startText) * 1000;
        const int64_t endUs = DecimalOrMinusOne(endText) * 1000;
        if (endUs >= startUs && endUs >= 0)
            periods.emplace_back(startUs, endUs);
        if (comma == std::string::npos)
            break;
        rest = rest.substr(comma + 1);
    }
    return periods;
}

int64_t DateTimeToUnixSeconds(double localDateTime) {
    tzset();
    // `timezone` is seconds west of UTC for standard time: UTC = local + bias.
    const double biasMinutes = static_cast<double>(timezone) / 60.0;
    return std::llround((localDateTime - UnixEpochDays + biasMinutes / 1440.0) * SecondsPerDay);
}

bool TimestampToUnixSeconds(double timestamp, int64_t& unixSeconds) {
    if (timestamp < 0)
        return false;
    // "Now" is taken from the clock itself, so it is right in summer time too.
    unixSeconds = timestamp == 0 ? static_cast<int64_t>(std::time(nullptr))
                                 : DateTimeToUnixSeconds(timestamp);
    return true;
}
