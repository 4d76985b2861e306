// Loads the media libraries once per test process, as the program does.
#ifndef SOUNDPICK_TESTS_SUPPORT_TESTLIBS_H
#define SOUNDPICK_TESTS_SUPPORT_TESTLIBS_H

#include <filesystem>

// The folder of the running executable.
std::filesystem::path ExecutableFolder();

// Loads DefaultLibraries from LibAV/ beside the executable; fails the test on error.
void EnsureLibsLoaded();

// Unloading the libraries drops what the initialisers of the libraries below them allocated
// (codec, Kerberos, OpenMP libraries); that memory is theirs, not leaked by us. Loads made in a
// scope of this type are not checked for leaks.
#ifdef __SANITIZE_ADDRESS__
#include <sanitizer/lsan_interface.h>
using TLibraryInitialisers = __lsan::ScopedDisabler;
#else
struct TLibraryInitialisers {
    TLibraryInitialisers() {} // user-provided: a scope object, not an unused variable
};
#endif

#endif
