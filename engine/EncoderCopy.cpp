// Copying an encoder's settings to another encoder context.
#include "engine/EncoderCopy.h"

#include "engine/EngineErrors.h"
#include "ffbind/FFHandles.h"
#include "ffbind/FFmpegLoader.h"
#include "ffbind/FFmpegLogger.h"

#include <mutex>

void CopyEncoderSettings(AVCodecContext& to, const AVCodecContext& from) {
    CodecParametersPtr parameters(ff::avcodec_parameters_alloc());
    if (!parameters || ff::avcodec_parameters_from_context(parameters.get(), &from) < 0 ||
        ff::avcodec_parameters_to_context(&to, parameters.get()) < 0)
        throw FFmpegException("av_malloc failed");
    // Opening makes the encoder's own header data; a copy would be overwritten and lost.
    ff::av_freep(&to.extradata);
    to.extradata_size = 0;
    to.time_base = from.time_base;
    to.flags = from.flags;
    to.flags2 = from.flags2;
    to.global_quality = from.global_quality;
    to.compression_level = from.compression_level;
    to.cutoff = from.cutoff;
    to.strict_std_compliance = from.strict_std_compliance;
    to.rc_max_rate = from.rc_max_rate;
    to.rc_min_rate = from.rc_min_rate;
    to.rc_buffer_size = from.rc_buffer_size;
}

int OpenCodec(AVCodecContext& context, const AVCodec* codec, const AVDictionary* options) {
    AVDictionary* copied = nullptr;
    const int copiedResult = ff::av_dict_copy(&copied, options, 0);
    DictionaryPtr owner(copied);
    if (copiedResult < 0)
        return copiedResult;
    std::lock_guard guard(CodecLock());
    ClearLibraryError();
    AVDictionary* passed = owner.release();
    const int opened = ff::avcodec_open2(&context, codec, &passed);
    owner.reset(passed);
    return opened;
}
