// Loads the media libraries once per test process, as the program does.
#ifndef SOUNDPICK_TESTS_SUPPORT_TESTLIBS_H
#define SOUNDPICK_TESTS_SUPPORT_TESTLIBS_H

#include <filesystem>

// The folder of the running executable.
std::filesystem::path ExecutableFolder();

// Loads DefaultLibraries from LibAV/ beside the executable; fails the test on error.
void EnsureLibsLoaded();

#endif
