/* A sample video-hook module: turns the picture into its negative. Arguments: none or "luma"
 * (invert the brightness plane of planar YUV pictures, the default) or "all" (every plane).
 * Packed RGB/BGR pictures are always inverted whole; other pixel formats pass unchanged. */
#include "ffbind/FrameHookModule.h"

#include <libavutil/pixfmt.h>

#include <stddef.h>
#include <stdlib.h>
#include <string.h>

typedef struct TInvertContext {
    int allPlanes;
} TInvertContext;

/* The chroma subsampling of the planar formats this module knows; 0 for the others. */
static int ChromaShifts(int pixelFormat, int* shiftX, int* shiftY) {
    switch (pixelFormat) {
    case AV_PIX_FMT_YUV420P:
    case AV_PIX_FMT_YUVJ420P:
        *shiftX = 1;
        *shiftY = 1;
        return 1;
    case AV_PIX_FMT_YUV422P:
    case AV_PIX_FMT_YUVJ422P:
        *shiftX = 1;
        *shiftY = 0;
        return 1;
    case AV_PIX_FMT_YUV444P:
    case AV_PIX_FMT_YUVJ444P:
        *shiftX = 0;
        *shiftY = 0;
        return 1;
    default:
        return 0;
    }
}

static void InvertPlane(uint8_t* plane, int lineSize, int widthBytes, int height) {
    for (int y = 0; y < height; ++y) {
        uint8_t* row = plane + (ptrdiff_t)y * lineSize;
        for (int x = 0; x < widthBytes; ++x)
            row[x] = (uint8_t)(255 - row[x]);
    }
}

int Configure(void** ctx, int argc, char* argv[]) {
    TInvertContext* context = calloc(1, sizeof(TInvertContext));
    if (!context)
        return -1;
    for (int i = 1; i < argc; ++i) {
        if (strcmp(argv[i], "all") == 0) {
            context->allPlanes = 1;
        } else if (strcmp(argv[i], "luma") != 0) {
            free(context);
            return -1;
        }
    }
    *ctx = context;
    return 0;
}

void Process(void* ctx, TFrameHookPicture* picture, int pixelFormat, int width, int height,
             int64_t pts) {
    (void)pts;
    const TInvertContext* context = ctx;
    int shiftX = 0, shiftY = 0;
    if (pixelFormat == AV_PIX_FMT_RGB24 || pixelFormat == AV_PIX_FMT_BGR24) {
        InvertPlane(picture->data[0], picture->linesize[0], width * 3, height);
    } else if (pixelFormat == AV_PIX_FMT_GRAY8) {
        InvertPlane(picture->data[0], picture->linesize[0], width, height);
    } else if (ChromaShifts(pixelFormat, &shiftX, &shiftY)) {
        InvertPlane(picture->data[0], picture->linesize[0], width, height);
        if (context && context->allPlanes) {
            const int chromaWidth = (width + (1 << shiftX) - 1) >> shiftX;
            const int chromaHeight = (height + (1 << shiftY) - 1) >> shiftY;
            InvertPlane(picture->data[1], picture->linesize[1], chromaWidth, chromaHeight);
            InvertPlane(picture->data[2], picture->linesize[2], chromaWidth, chromaHeight);
        }
    }
}

void Release(void* ctx) {
    free(ctx);
}
