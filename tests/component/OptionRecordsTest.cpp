// The option records' defaults, the hook-period parser and the creation-time conversion.
#include "component/OptionRecords.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <string>

namespace {

// Sets TZ for one test and restores the previous zone afterwards.
class TZoneScope {
public:
    explicit TZoneScope(const char* zone) {
        const char* previous = std::getenv("TZ");
        HadZone = previous != nullptr;
        if (HadZone)
            Previous = previous;
        setenv("TZ", zone, 1);
        tzset();
    }
    ~TZoneScope() {
        if (HadZone)
            setenv("TZ", Previous.c_str(), 1);
        else
            unsetenv("TZ");
        tzset();
    }

private:
    bool HadZone = false;
    std::string Previous;
};

} // namespace

// Reset brings back every default after the fields were changed, texts included.
TEST(OptionRecords, ResetRestoresDefaults) {
    TOutputOptions output;
    output.FileName = "x.mp3";
    output.Volume = 10;
    output.PadRGB = 0xFFFFFF;
    output.TargetFallbackNorm = 7;
    output.StreamInfo.Title = "t";
    output.StreamInfo.Timestamp = 3;
    output.Reset();
    EXPECT_TRUE(output.FileName.empty());
    EXPECT_EQ(output.Volume, -1);
    EXPECT_EQ(output.PadRGB, 0u);
    EXPECT_EQ(output.TargetFallbackNorm, 1);
    EXPECT_EQ(output.AudioSync, 0);
    EXPECT_EQ(output.VideoSync, -1);
    EXPECT_TRUE(output.StreamInfo.Title.empty());
    EXPECT_EQ(output.StreamInfo.Timestamp, -1.0);

    TInputOptions input;
    input.StartMs = 5;
    input.ExtraOptions = "vn=1";
    input.Reset();
    EXPECT_EQ(input.StartMs, -1);
    EXPECT_EQ(input.StartUs, -1);
    EXPECT_EQ(input.ProgramNo, -1);
    EXPECT_TRUE(input.ExtraOptions.empty());
}

// Periods in milliseconds become microseconds; ill-formed or reversed periods are dropped.
TEST(HookPeriods, ParsesKeepsAndDrops) {
    using P = THookPeriodUs;
    EXPECT_EQ(ParseHookPTSPeriods("0-5000,10000-15000"),
              (std::vector<P>{{0, 5000000}, {10000000, 15000000}}));
    EXPECT_TRUE(ParseHookPTSPeriods("").empty());
    EXPECT_TRUE(ParseHookPTSPeriods("   ").empty());
    EXPECT_TRUE(ParseHookPTSPeriods("5000-1000").empty()) << "end below start";
    // Blanks around pieces and numbers are trimmed; a bad end drops the period, a bad start
    // counts as -1 and the period stays.
    EXPECT_EQ(ParseHookPTSPeriods(" 1 - 2 , 4-y, x-3, 7"),
              (std::vector<P>{{1000, 2000}, {-1000, 3000}}));
    EXPECT_EQ(ParseHookPTSPeriods("0-0,"), (std::vector<P>{{0, 0}}));
}

// The time-zone bias is the standard offset: summer dates get no daylight-saving hour.
TEST(CreationTime, LocalDateTimeToUnixSeconds) {
    {
        TZoneScope zone("UTC0");
        EXPECT_EQ(DateTimeToUnixSeconds(25569.0), 0);
        EXPECT_EQ(DateTimeToUnixSeconds(25569.5), 43200);
        // 2009-07-01 12:00 local.
        EXPECT_EQ(DateTimeToUnixSeconds(39995.5), 1246449600);
    }
    {
        TZoneScope zone("EST5EDT");
        EXPECT_EQ(DateTimeToUnixSeconds(25569.0), 5 * 3600);
        EXPECT_EQ(DateTimeToUnixSeconds(39995.5), 1246449600 + 5 * 3600) << "no DST hour";
    }
}

// 0 asks for the current time, negative for none.
TEST(CreationTime, TimestampZeroIsNowNegativeIsNone) {
    int64_t seconds = 12345;
    EXPECT_FALSE(TimestampToUnixSeconds(-1.0, seconds));
    EXPECT_EQ(seconds, 12345);
    const int64_t before = std::time(nullptr);
    ASSERT_TRUE(TimestampToUnixSeconds(0.0, seconds));
    EXPECT_GE(seconds, before);
    EXPECT_LE(seconds, static_cast<int64_t>(std::time(nullptr)));
    ASSERT_TRUE(TimestampToUnixSeconds(25570.0, seconds));
    EXPECT_EQ(seconds, DateTimeToUnixSeconds(25570.0));
}
