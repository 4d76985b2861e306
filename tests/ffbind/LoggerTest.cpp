// The log bridge: level mapping and line assembly.
#include "ffbind/FFmpegLogger.h"

#include <gtest/gtest.h>

TEST(LoggerTest, MapsLibraryNumbersToLevels) {
    EXPECT_EQ(LibraryToLogLevel(-8), llQuiet);
    EXPECT_EQ(LibraryToLogLevel(-7), llPanic);
    EXPECT_EQ(LibraryToLogLevel(20), llError);
    EXPECT_EQ(LibraryToLogLevel(100), llDebug);
    EXPECT_EQ(LibraryToLogLevel(-9), llQuiet);
    EXPECT_EQ(LogLevelToLibrary(llInfo), 32);
}
