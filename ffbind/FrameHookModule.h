/* The interface of a video-hook module: a shared object that exports Process and, optionally,
 * Configure and Release with C linkage. The engine hands every decoded picture of a hooked
 * period to Process and uses the picture as the module leaves it. Modules compile against this
 * header alone (plain C or C++); the pixel format number is the media library's
 * (enum AVPixelFormat of libavutil/pixfmt.h). */
#ifndef SOUNDPICK_FFBIND_FRAMEHOOKMODULE_H
#define SOUNDPICK_FFBIND_FRAMEHOOKMODULE_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* A picture handed to a module: up to four planes, each with its line size in bytes. The planes
 * may be changed in place; their pointers and sizes must stay as they are. */
typedef struct TFrameHookPicture {
    uint8_t* data[4];
    int linesize[4];
} TFrameHookPicture;

/* Configure(&ctx, argc, argv): argv[0] is the module's file name, the rest its arguments.
 * Stores the module's private context in *ctx; returns 0 to accept, anything else to refuse. */
typedef int (*TFrameHookConfigure)(void** ctx, int argc, char* argv[]);
/* Process(ctx, picture, pixelFormat, width, height, pts): pts in microseconds, or the library's
 * no-value marker (INT64_MIN). ctx is null when the module has no Configure. */
typedef void (*TFrameHookProcess)(void* ctx, TFrameHookPicture* picture, int pixelFormat, int width,
                                  int height, int64_t pts);
/* Release(ctx): frees what Configure made; called once per configured hook. */
typedef void (*TFrameHookRelease)(void* ctx);

#ifdef __cplusplus
}
#endif

#endif
