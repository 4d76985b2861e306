/* Stand-ins for the scaling library, built by the tests in three shapes: with only its first
 * few names (PARTIAL), with every name but an older major version (OLD_VERSION), and with
 * every name but sws_scale, which it takes from a library it depends on (BORROWED). */
#define FAKE(name)                                                                                 \
    void name(void) {}

FAKE(sws_freeContext)
FAKE(sws_getCachedContext)
FAKE(sws_getContext)
#ifndef PARTIAL
FAKE(sws_isSupportedInput)
FAKE(sws_isSupportedOutput)
#ifndef BORROWED
FAKE(sws_scale)
#endif
unsigned swscale_version(void) {
#ifdef OLD_VERSION
    return 5u << 16;
#else
    return 6u << 16;
#endif
}
#endif
