// Closing what a run opened.
#include "engine/EngineRun.h"

#include "ffbind/FFmpegLoader.h"

#include <algorithm>
#include <cstdio>

TEngineRun::~TEngineRun() {
    while (!OpenEncoders.empty())
        CloseCodec(OpenEncoders, OpenEncoders.front());
    while (!OpenDecoders.empty())
        CloseCodec(OpenDecoders, OpenDecoders.front());
    for (auto& ost : OutputStreams)
        if (ost->LogFile)
            std::fclose(ost->LogFile);
}

void TEngineRun::CloseCodec(std::vector<AVCodecContext*>& list, AVCodecContext* context) {
    ff::av_freep(&context->stats_in);
    {
        std::lock_guard guard(CodecLock());
        ff::avcodec_close(context);
    }
    list.erase(std::remove(list.begin(), list.end(), context), list.end());
}
