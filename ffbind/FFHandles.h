// Owning handles for library objects: one owner, one release path, the bound free function as
// deleter.
#ifndef SOUNDPICK_FFBIND_FFHANDLES_H
#define SOUNDPICK_FFBIND_FFHANDLES_H

#include "FFmpegApi.h"

#include <memory>

namespace ffh {

struct FrameDeleter {
    void operator()(AVFrame* frame) const { ff::av_frame_free(&frame); }
};
struct PacketDeleter {
    void operator()(AVPacket* packet) const { ff::av_packet_free(&packet); }
};
struct CodecContextDeleter {
    void operator()(AVCodecContext* context) const { ff::avcodec_free_context(&context); }
};
struct CodecParametersDeleter {
    void operator()(AVCodecParameters* parameters) const {
        ff::avcodec_parameters_free(&parameters);
    }
};
// An opened input: closes it and frees the context.
struct InputFormatDeleter {
    void operator()(AVFormatContext* context) const { ff::avformat_close_input(&context); }
};
// An output context; its I/O context is closed by its owner before this runs.
struct OutputFormatDeleter {
    void operator()(AVFormatContext* context) const { ff::avformat_free_context(context); }
};
struct SwsDeleter {
    void operator()(SwsContext* context) const { ff::sws_freeContext(context); }
};
struct SwrDeleter {
    void operator()(SwrContext* context) const { ff::swr_free(&context); }
};
struct AudioFifoDeleter {
    void operator()(AVAudioFifo* fifo) const { ff::av_audio_fifo_free(fifo); }
};
struct FilterGraphDeleter {
    void operator()(AVFilterGraph* graph) const { ff::avfilter_graph_free(&graph); }
};
struct FilterInOutDeleter {
    void operator()(AVFilterInOut* inOut) const { ff::avfilter_inout_free(&inOut); }
};
struct DictionaryDeleter {
    void operator()(AVDictionary* dictionary) const { ff::av_dict_free(&dictionary); }
};
struct BsfDeleter {
    void operator()(AVBSFContext* context) const { ff::av_bsf_free(&context); }
};
struct ParserDeleter {
    void operator()(AVCodecParserContext* parser) const { ff::av_parser_close(parser); }
};
struct AvMemDeleter {
    void operator()(void* memory) const { ff::av_free(memory); }
};
// A custom I/O context: frees its buffer and then the context.
struct IOContextDeleter {
    void operator()(AVIOContext* context) const {
        if (context)
            ff::av_freep(&context->buffer);
        ff::avio_context_free(&context);
    }
};

} // namespace ffh

using FramePtr = std::unique_ptr<AVFrame, ffh::FrameDeleter>;
using PacketPtr = std::unique_ptr<AVPacket, ffh::PacketDeleter>;
using CodecContextPtr = std::unique_ptr<AVCodecContext, ffh::CodecContextDeleter>;
using CodecParametersPtr = std::unique_ptr<AVCodecParameters, ffh::CodecParametersDeleter>;
using InputFormatPtr = std::unique_ptr<AVFormatContext, ffh::InputFormatDeleter>;
using OutputFormatPtr = std::unique_ptr<AVFormatContext, ffh::OutputFormatDeleter>;
using SwsPtr = std::unique_ptr<SwsContext, ffh::SwsDeleter>;
using SwrPtr = std::unique_ptr<SwrContext, ffh::SwrDeleter>;
using AudioFifoPtr = std::unique_ptr<AVAudioFifo, ffh::AudioFifoDeleter>;
using FilterGraphPtr = std::unique_ptr<AVFilterGraph, ffh::FilterGraphDeleter>;
using FilterInOutPtr = std::unique_ptr<AVFilterInOut, ffh::FilterInOutDeleter>;
using DictionaryPtr = std::unique_ptr<AVDictionary, ffh::DictionaryDeleter>;
using BsfPtr = std::unique_ptr<AVBSFContext, ffh::BsfDeleter>;
using ParserPtr = std::unique_ptr<AVCodecParserContext, ffh::ParserDeleter>;
using AvMemPtr = std::unique_ptr<void, ffh::AvMemDeleter>;
using IOContextPtr = std::unique_ptr<AVIOContext, ffh::IOContextDeleter>;

#endif
