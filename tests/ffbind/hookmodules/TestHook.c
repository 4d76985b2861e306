/* A hook module for the tests, built in three shapes: with every entry point, without
 * Configure (NO_CONFIGURE) and without Process (NO_PROCESS). It counts what it is asked to do;
 * the tests read the counters through the module's own symbols. */
#include "ffbind/FrameHookModule.h"

#include <stdlib.h>
#include <string.h>

int TestHookLoads = 0;
int TestHookConfigures = 0;
int TestHookProcesses = 0;
int TestHookReleases = 0;
void* TestHookLastContext = (void*)1;
int64_t TestHookLastPts = 0;

__attribute__((constructor)) static void Loaded(void) {
    ++TestHookLoads;
}

#ifndef NO_CONFIGURE
/* Refuses when an argument is "refuse"; the context remembers the argument count. */
int Configure(void** ctx, int argc, char* argv[]) {
    ++TestHookConfigures;
    for (int i = 1; i < argc; ++i)
        if (strcmp(argv[i], "refuse") == 0)
            return 1;
    int* context = malloc(sizeof(int));
    *context = argc;
    *ctx = context;
    return 0;
}

void Release(void* ctx) {
    ++TestHookReleases;
    free(ctx);
}
#endif

#ifndef NO_PROCESS
void Process(void* ctx, TFrameHookPicture* picture, int pixelFormat, int width, int height,
             int64_t pts) {
    (void)picture;
    (void)pixelFormat;
    (void)width;
    (void)height;
    ++TestHookProcesses;
    TestHookLastContext = ctx;
    TestHookLastPts = pts;
}
#endif
