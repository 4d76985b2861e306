// The library loader: names, folder-first loading, failure texts and the current directory.
#include "ffbind/FFmpegApi.h"
#include "ffbind/FFmpegLoader.h"
#include "support/TestLibs.h"

#include <gtest/gtest.h>

TEST(LoaderTest, LoadsTheDefaultSetAndBindsEveryEntryPoint) {
    EnsureLibsLoaded();
    EXPECT_TRUE(Loader().LibsLoaded(DefaultLibraries));
    EXPECT_NE(ff::avcodec_open2, nullptr);
    EXPECT_NE(ff::my_vsprintf, nullptr);
    EXPECT_EQ(ff::avcodec_version() >> 16, unsigned(LIBAVCODEC_VERSION_MAJOR));
}
