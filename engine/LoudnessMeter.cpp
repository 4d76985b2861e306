// Loudness measuring through a filter graph: amovie ! atrim ! aresample ! aformat ! ebur128 !
// abuffersink.
#include "engine/LoudnessMeter.h"

#include "ffbind/FFHandles.h"
#include "ffbind/FFUtils.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>

namespace {

// The source: the file's best audio stream, decoded. The name goes in as an option value, not
// through a graph description, so no character of it needs escaping.
AVFilterContext* AddSource(AVFilterGraph* graph, const std::filesystem::path& file,
                           const std::string& formatName, int64_t startUs) {
    AVFilterContext* source =
        ff::avfilter_graph_alloc_filter(graph, ff::avfilter_get_by_name("amovie"), "source");
    if (!source)
        throw std::runtime_error("loudness filter amovie: not available");
    const std::string url = "file:" + file.string();
    const std::string seekPoint = FormatText("%.6f", startUs / 1e6);
    ff::av_opt_set(source, "filename", url.c_str(), AV_OPT_SEARCH_CHILDREN);
    ff::av_opt_set(source, "streams", "da", AV_OPT_SEARCH_CHILDREN);
    ff::av_opt_set(source, "seek_point", seekPoint.c_str(), AV_OPT_SEARCH_CHILDREN);
    if (!formatName.empty())
        ff::av_opt_set(source, "format_name", formatName.c_str(), AV_OPT_SEARCH_CHILDREN);
    const int error = ff::avfilter_init_str(source, nullptr);
    if (error < 0)
        throw std::runtime_error(OpenErrorText(file.string(), error));
    return source;
}

// The conversion to the encoder's format, with the resampler settings of the engine's audio path
// (which also decide whether a downmix is scaled down to avoid clipping).
AVFilterContext* AddConversion(AVFilterGraph* graph, const TSoundFormat& format,
                               AVFilterContext* previous) {
    AVFilterContext* resampler = AddFilter(
        graph, "aresample", "filter_size=16:phase_shift=10:linear_interp=0:cutoff=0.8", previous);
    std::string wanted;
    if (format.Layout && format.Layout->nb_channels > 0) {
        char layout[128] = {};
        if (ff::av_channel_layout_describe(format.Layout, layout, sizeof layout) > 0)
            wanted += std::string(":channel_layouts=") + layout;
    }
    if (format.SampleRateHz > 0)
        wanted += FormatText(":sample_rates=%d", format.SampleRateHz);
    if (const char* name = ff::av_get_sample_fmt_name(format.SampleFormat))
        wanted += std::string(":sample_fmts=") + name;
    return wanted.empty() ? resampler : AddFilter(graph, "aformat", wanted.substr(1), resampler);
}

double Decibels(double linear) {
    return linear > 0 ? 20.0 * std::log10(linear) : -200.0;
}

// The meter's figures so far, as a frame leaving it carries them.
void TakeMeasure(const AVFrame& frame, TLoudness& loudness) {
    loudness.IntegratedLufs = MetadataNumber(&frame, "lavfi.r128.I", loudness.IntegratedLufs);
    const double peak = MetadataNumber(&frame, "lavfi.r128.true_peak", -1.0);
    if (peak >= 0)
        loudness.TruePeakDbtp = Decibels(peak);
}

// The meter and the sink after previous, the graph configured; the sink.
AVFilterContext* AddMeter(AVFilterGraph* graph, AVFilterContext* previous) {
    AVFilterContext* meter = AddFilter(graph, "ebur128", "peak=true:metadata=1", previous);
    AVFilterContext* sink = AddFilter(graph, "abuffersink", "", meter);
    if (int error = ff::avfilter_graph_config(graph, nullptr); error < 0)
        throw std::runtime_error("loudness filter graph: " + ErrorText(error));
    return sink;
}

// The next frame through the meter, its figures taken; false at the end.
bool NextMeasuredFrame(AVFilterContext* sink, AVFrame* frame, TLoudness& loudness) {
    const int result = ff::av_buffersink_get_frame(sink, frame);
    if (result == AVERROR_EOF)
        return false;
    if (result < 0)
        throw std::runtime_error("loudness measuring: " + ErrorText(result));
    TakeMeasure(*frame, loudness);
    return true;
}

} // namespace

AVFilterContext* AddFilter(AVFilterGraph* graph, const char* name, const std::string& args,
                           AVFilterContext* previous) {
    AVFilterContext* filter = nullptr;
    const int error = ff::avfilter_graph_create_filter(&filter, ff::avfilter_get_by_name(name),
                                                       name, args.c_str(), nullptr, graph);
    if (error < 0)
        throw std::runtime_error(std::string("loudness filter ") + name + ": " + ErrorText(error));
    if (previous && ff::avfilter_link(previous, 0, filter, 0) < 0)
        throw std::runtime_error(std::string("loudness filter ") + name + ": cannot link");
    return filter;
}

double MetadataNumber(const AVFrame* frame, const char* key, double fallback) {
    const AVDictionaryEntry* entry = ff::av_dict_get(frame->metadata, key, nullptr, 0);
    return entry ? std::strtod(entry->value, nullptr) : fallback;
}

TLoudnessGain LoudnessGainFor(const TLoudness& measured, double targetLufs, double ceilingDbtp) {
    TLoudnessGain gain;
    gain.OutputLufs = measured.IntegratedLufs;
    gain.OutputTruePeakDbtp = measured.TruePeakDbtp;
    if (measured.IntegratedLufs <= SilenceLufs)
        return gain;
    const double wantedDb =
        std::min(targetLufs - measured.IntegratedLufs, ceilingDbtp - measured.TruePeakDbtp);
    // The engine's volume steps are 1/256: rounded down, so the ceiling holds.
    gain.Volume =
        std::max(1, static_cast<int>(std::floor(256.0 * std::pow(10.0, wantedDb / 20.0))));
    gain.GainDb = Decibels(gain.Volume / 256.0);
    gain.OutputLufs = measured.IntegratedLufs + gain.GainDb;
    gain.OutputTruePeakDbtp = measured.TruePeakDbtp + gain.GainDb;
    return gain;
}

std::string LoudnessSummary(const TLoudness& measured, const TLoudnessGain& gain) {
    return FormatText("Loudness: input %.1f LUFS (true peak %.1f dBTP), gain %+.1f dB, output "
                      "%.1f LUFS (true peak %.1f dBTP)",
                      measured.IntegratedLufs, measured.TruePeakDbtp, gain.GainDb, gain.OutputLufs,
                      gain.OutputTruePeakDbtp);
}

std::string WrittenLoudnessSummary(const TLoudness& written) {
    return FormatText("Loudness written: %.1f LUFS, true peak %.1f dBTP", written.IntegratedLufs,
                      written.TruePeakDbtp);
}

std::optional<TLoudness> MeasureLoudness(const std::filesystem::path& file,
                                         const std::string& formatName, int64_t fileStartUs,
                                         int64_t startUs, int64_t durationUs,
                                         const TSoundFormat& format,
                                         const std::function<bool(int64_t doneUs)>& onProgress,
                                         const std::function<void(const AVFrame&)>& onFrame) {
    FilterGraphPtr graph(ff::avfilter_graph_alloc());
    if (!graph)
        throw std::bad_alloc();
    AVFilterContext* source = AddSource(graph.get(), file, formatName, startUs);
    // The seek lands on a key frame at or before the start: the trim keeps the clip only. Its
    // times are the stream's own, which start at the file's start time.
    std::string trim = FormatText("start=%.6f", (fileStartUs + startUs) / 1e6);
    if (durationUs > 0)
        trim += FormatText(":duration=%.6f", durationUs / 1e6);
    AVFilterContext* trimmed = AddFilter(graph.get(), "atrim", trim, source);
    AVFilterContext* converted = AddConversion(graph.get(), format, trimmed);
    AVFilterContext* sink = AddMeter(graph.get(), converted);

    TLoudness loudness;
    FramePtr frame(ff::av_frame_alloc());
    const AVRational timeBase = ff::av_buffersink_get_time_base(sink);
    while (NextMeasuredFrame(sink, frame.get(), loudness)) {
        if (onFrame)
            onFrame(*frame);
        const int64_t doneUs =
            frame->pts == AV_NOPTS_VALUE
                ? 0
                : ff::av_rescale_q(frame->pts, timeBase, AV_TIME_BASE_Q) - fileStartUs - startUs;
        ff::av_frame_unref(frame.get());
        if (onProgress && !onProgress(doneUs))
            return std::nullopt;
    }
    return loudness;
}

TAlbumLoudness MeasureAlbumLoudness(const std::vector<std::filesystem::path>& files) {
    FilterGraphPtr graph(ff::avfilter_graph_alloc());
    if (!graph)
        throw std::bad_alloc();
    // Each file's sound goes to its own meter and, converted to the one format the joining takes
    // for all its inputs, into the album's. The joining places each file after the end of the
    // one before, which needs times counted from the samples (a wma file's end time is not
    // reliable).
    AVFilterContext* joined =
        AddFilter(graph.get(), "concat", FormatText("n=%zu:v=0:a=1", files.size()), nullptr);
    std::vector<AVFilterContext*> trackSinks;
    for (std::size_t i = 0; i < files.size(); ++i) {
        AVFilterContext* source = AddSource(graph.get(), files[i], "", 0);
        AVFilterContext* counted = AddFilter(graph.get(), "asetpts", "N/SR/TB", source);
        AVFilterContext* split = AddFilter(graph.get(), "asplit", "2", counted);
        AVFilterContext* meter = AddFilter(graph.get(), "ebur128", "peak=true:metadata=1", split);
        trackSinks.push_back(AddFilter(graph.get(), "abuffersink", "", meter));
        AVFilterContext* converted = AddFilter(graph.get(), "aresample", "", nullptr);
        if (ff::avfilter_link(split, 1, converted, 0) < 0 ||
            ff::avfilter_link(converted, 0, joined, static_cast<unsigned>(i)) < 0)
            throw std::runtime_error("loudness filter concat: cannot link");
    }
    AVFilterContext* albumSink = AddMeter(graph.get(), joined);

    TAlbumLoudness loudness;
    loudness.Tracks.resize(files.size());
    FramePtr frame(ff::av_frame_alloc());
    // The tracks' meters take what the album's pulls through; what they have is taken after
    // each of its frames, the rest once it has ended.
    const auto takeTracks = [&](int flags) {
        for (std::size_t i = 0; i < trackSinks.size(); ++i)
            while (ff::av_buffersink_get_frame_flags(trackSinks[i], frame.get(), flags) >= 0) {
                TakeMeasure(*frame, loudness.Tracks[i]);
                ff::av_frame_unref(frame.get());
            }
    };
    while (NextMeasuredFrame(albumSink, frame.get(), loudness.Album)) {
        ff::av_frame_unref(frame.get());
        takeTracks(AV_BUFFERSINK_FLAG_NO_REQUEST);
    }
    takeTracks(0);
    return loudness;
}
