// Building and running video filter graphs.
#include "engine/VideoFilters.h"

#include <cstdio>

namespace {

int Fail(FilterGraphPtr& graph, int code) {
    graph.reset();
    return code < 0 ? code : AVERROR(EINVAL);
}

std::string SourceArguments(const TVideoFilterInput& input) {
    char text[256];
    std::snprintf(text, sizeof text,
                  "video_size=%dx%d:pix_fmt=%d:time_base=%d/%d:pixel_aspect=%d/%d", input.Width,
                  input.Height, static_cast<int>(input.PixelFormat), input.TimeBase.num,
                  input.TimeBase.den, input.SampleAspect.num,
                  input.SampleAspect.den > 0 ? input.SampleAspect.den : 1);
    return text;
}

// Joins the source's output ("in") and the sink's input ("out") through the chain.
int ParseChain(AVFilterGraph* graph, const std::string& chain, AVFilterContext* source,
               AVFilterContext* sink) {
    FilterInOutPtr outputs(ff::avfilter_inout_alloc());
    FilterInOutPtr inputs(ff::avfilter_inout_alloc());
    if (!outputs || !inputs)
        return AVERROR(ENOMEM);
    outputs->name = ff::av_strdup("in");
    outputs->filter_ctx = source;
    outputs->pad_idx = 0;
    inputs->name = ff::av_strdup("out");
    inputs->filter_ctx = sink;
    inputs->pad_idx = 0;
    AVFilterInOut* openInputs = inputs.release();
    AVFilterInOut* openOutputs = outputs.release();
    const int result =
        ff::avfilter_graph_parse_ptr(graph, chain.c_str(), &openInputs, &openOutputs, nullptr);
    ff::avfilter_inout_free(&openInputs);
    ff::avfilter_inout_free(&openOutputs);
    return result;
}

} // namespace

int TVideoFilterGraph::Configure(const TVideoFilterInput& input, const std::string& chain,
                                 AVPixelFormat sinkFormat, int scalerFlags,
                                 const std::vector<TVideoFilterStep>& steps) {
    Source = Sink = nullptr;
    InputShape = input;
    Graph.reset(ff::avfilter_graph_alloc());
    if (!Graph)
        return AVERROR(ENOMEM);
    AVFilterContext* source = nullptr;
    AVFilterContext* sink = nullptr;
    int result =
        ff::avfilter_graph_create_filter(&source, ff::avfilter_get_by_name("buffer"), "src",
                                         SourceArguments(input).c_str(), nullptr, Graph.get());
    if (result < 0)
        return Fail(Graph, result);
    result = ff::avfilter_graph_create_filter(&sink, ff::avfilter_get_by_name("buffersink"), "out",
                                              nullptr, nullptr, Graph.get());
    if (result < 0)
        return Fail(Graph, result);
    const int formats[] = {sinkFormat, AV_PIX_FMT_NONE};
    result = ff::av_opt_set_bin(sink, "pix_fmts", reinterpret_cast<const uint8_t*>(formats),
                                sizeof formats[0], AV_OPT_SEARCH_CHILDREN);
    if (result < 0)
        return Fail(Graph, result);

    char scaler[64];
    std::snprintf(scaler, sizeof scaler, "flags=0x%x", static_cast<unsigned>(scalerFlags));
    Graph->scale_sws_opts = ff::av_strdup(scaler);
    AVFilterContext* last = source;
    for (std::size_t i = 0; i < steps.size(); ++i) {
        AVFilterContext* step = nullptr;
        const std::string name = steps[i].Name + std::to_string(i);
        result = ff::avfilter_graph_create_filter(
            &step, ff::avfilter_get_by_name(steps[i].Name.c_str()), name.c_str(),
            steps[i].Arguments.c_str(), nullptr, Graph.get());
        if (result >= 0)
            result = ff::avfilter_link(last, 0, step, 0);
        if (result < 0)
            return Fail(Graph, result);
        last = step;
    }
    result = chain.empty() ? ff::avfilter_link(last, 0, sink, 0)
                           : ParseChain(Graph.get(), chain, last, sink);
    if (result < 0)
        return Fail(Graph, result);
    result = ff::avfilter_graph_config(Graph.get(), nullptr);
    if (result < 0)
        return Fail(Graph, result);
    Source = source;
    Sink = sink;
    return 0;
}

int TVideoFilterGraph::Push(const AVFrame* picture) {
    if (!Source)
        return AVERROR(EINVAL);
    return ff::av_buffersrc_add_frame_flags(Source, const_cast<AVFrame*>(picture),
                                            AV_BUFFERSRC_FLAG_KEEP_REF);
}

int TVideoFilterGraph::Pull(AVFrame* picture) {
    if (!Sink)
        return AVERROR(EINVAL);
    return ff::av_buffersink_get_frame(Sink, picture);
}

int TVideoFilterGraph::OutputWidth() const {
    return ff::av_buffersink_get_w(Sink);
}
int TVideoFilterGraph::OutputHeight() const {
    return ff::av_buffersink_get_h(Sink);
}
AVRational TVideoFilterGraph::OutputTimeBase() const {
    return ff::av_buffersink_get_time_base(Sink);
}
