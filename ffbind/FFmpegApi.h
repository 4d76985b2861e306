// The FFmpeg headers and one process-wide function pointer per FFmpeg function the program calls.
// The pointers live in namespace ff, are typed from the headers' own prototypes and stay null
// until the loader binds them: call ff::avcodec_open2(...), never the global name.
#ifndef SOUNDPICK_FFBIND_FFMPEGAPI_H
#define SOUNDPICK_FFBIND_FFMPEGAPI_H

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavcodec/bsf.h>
#include <libavdevice/avdevice.h>
#include <libavfilter/avfilter.h>
#include <libavfilter/buffersink.h>
#include <libavfilter/buffersrc.h>
#include <libavformat/avformat.h>
#include <libavformat/avio.h>
#include <libavutil/audio_fifo.h>
#include <libavutil/avstring.h>
#include <libavutil/base64.h>
#include <libavutil/channel_layout.h>
#include <libavutil/dict.h>
#include <libavutil/imgutils.h>
#include <libavutil/mathematics.h>
#include <libavutil/opt.h>
#include <libavutil/parseutils.h>
#include <libavutil/pixdesc.h>
#include <libavutil/samplefmt.h>
#include <libavutil/time.h>
#include <libswresample/swresample.h>
#include <libswscale/swscale.h>
}

#include "FFmpegEntryPoints.h"
#include "MyUtil.h"

namespace ff {

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
#define SP_DECLARE_ENTRY_POINT(name) inline decltype(&::name) name = nullptr;
SP_AVUTIL_ENTRY_POINTS(SP_DECLARE_ENTRY_POINT)
SP_SWRESAMPLE_ENTRY_POINTS(SP_DECLARE_ENTRY_POINT)
SP_SWSCALE_ENTRY_POINTS(SP_DECLARE_ENTRY_POINT)
SP_AVCODEC_ENTRY_POINTS(SP_DECLARE_ENTRY_POINT)
SP_AVFORMAT_ENTRY_POINTS(SP_DECLARE_ENTRY_POINT)
SP_AVFILTER_ENTRY_POINTS(SP_DECLARE_ENTRY_POINT)
SP_AVDEVICE_ENTRY_POINTS(SP_DECLARE_ENTRY_POINT)
SP_MYUTIL_ENTRY_POINTS(SP_DECLARE_ENTRY_POINT)
#undef SP_DECLARE_ENTRY_POINT
#pragma GCC diagnostic pop

} // namespace ff

#endif
