// The "Source Media File Info" text of TCustomAVProbe: the container's lines, then one line per
// stream, grouped by program when the container has programs.
#include "CustomAVProbe.h"

#include "ffbind/FFUtils.h"

#include <cmath>
#include <ctime>

namespace {

constexpr const char* LineEnd = "\r\n";
constexpr AVRational Microseconds = {1, 1000000};

// ", 29.97 tbr", ", 25 tbn", ", 90k tbn": a rate with two decimals only when it has them.
std::string RateText(double rate, const char* suffix) {
    const long long hundredths = std::llround(rate * 100);
    if (hundredths % 100 != 0)
        return FormatText(", %3.2f %s", rate, suffix);
    if (hundredths % 100000 != 0)
        return FormatText(", %1.0f %s", rate, suffix);
    return FormatText(", %1.0fk %s", rate / 1000, suffix);
}

std::string RateText(AVRational rate, const char* suffix) {
    return rate.num && rate.den ? RateText(av_q2d(rate), suffix) : std::string();
}

// "12.345678", "-0.007000": microseconds as seconds, the sign written once.
std::string SecondsText(int64_t us) {
    const unsigned long long magnitude =
        us < 0 ? 0ULL - static_cast<unsigned long long>(us) : static_cast<unsigned long long>(us);
    return FormatText("%s%llu.%.6llu", us < 0 ? "-" : "", magnitude / 1000000, magnitude % 1000000);
}

// "2021-05-01 13:14:15": seconds since 1970 in local standard time (daylight saving not
// applied).
std::string LocalTimeText(int64_t secondsUtc) {
    tzset();
    const std::time_t local = static_cast<std::time_t>(secondsUtc - timezone);
    std::tm parts{};
    gmtime_r(&local, &parts);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &parts);
    return text;
}

void AddIfSet(std::string& text, const char* format, const std::string& value) {
    if (!value.empty())
        text += FormatText(format, value.c_str()) + LineEnd;
}

} // namespace

std::string TCustomAVProbe::StreamLine(int index) {
    AVStream* stream = Context->streams[index];
    AVCodecContext* decoder = StreamDecoder(index);
    std::string line = FormatText("Stream #%d", index);
    if (Context->iformat->flags & AVFMT_SHOW_IDS)
        line += FormatText("[0x%x]", stream->id);
    const std::string language = MetadataValue(stream->metadata, "language");
    if (!language.empty())
        line += FormatText("(%s)", language.c_str());
    AVRational& timeBase = stream->time_base;
    if (timeBase.den == 0)
        timeBase.den = timeBase.num ? timeBase.num : 1;
    const int64_t divisor = ff::av_gcd(timeBase.num, timeBase.den);
    line += FormatText(", %d/%d", static_cast<int>(timeBase.num / divisor),
                       static_cast<int>(timeBase.den / divisor));
    char summary[256] = {};
    ff::avcodec_string(summary, sizeof summary, decoder, 0);
    line += ": ";
    line += summary;
    const AVRational streamRatio = stream->sample_aspect_ratio;
    const AVRational codecRatio = decoder->sample_aspect_ratio;
    if (streamRatio.num && static_cast<int64_t>(streamRatio.num) * codecRatio.den !=
                               static_cast<int64_t>(codecRatio.num) * streamRatio.den) {
        int displayNum = 0;
        int displayDen = 0;
        ff::av_reduce(&displayNum, &displayDen,
                      static_cast<int64_t>(decoder->width) * streamRatio.num,
                      static_cast<int64_t>(decoder->height) * streamRatio.den, 1024 * 1024);
        line += FormatText(", PAR %d:%d DAR %d:%d", streamRatio.num, streamRatio.den, displayNum,
                           displayDen);
    }
    if (stream->codecpar->codec_type == AVMEDIA_TYPE_VIDEO) {
        line += RateText(stream->r_frame_rate, "tbr");
        line += RateText(av_inv_q(timeBase), "tbn");
        line += RateText(av_inv_q(decoder->time_base), "tbc");
    }
    if (stream->start_time != AV_NOPTS_VALUE)
        line += ", StartTime: " +
                SecondsText(ff::av_rescale_q(stream->start_time, timeBase, Microseconds));
    if (stream->duration == AV_NOPTS_VALUE)
        line += ", Duration: N/A";
    else
        line += ", Duration: " +
                DurationText(ff::av_rescale_q(stream->duration, timeBase, Microseconds));
    return line;
}

std::string TCustomAVProbe::ProgramLines() {
    std::string text;
    for (unsigned p = 0; p < Context->nb_programs; ++p) {
        const AVProgram* program = Context->programs[p];
        // MPEG-TS names its services "service_provider"/"service_name"; other containers use
        // "provider_name"/"name".
        const std::string provider =
            MetadataValue(program->metadata, "service_provider",
                          MetadataValue(program->metadata, "provider_name", "N/A"));
        const std::string name = MetadataValue(program->metadata, "service_name",
                                               MetadataValue(program->metadata, "name", "N/A"));
        text +=
            FormatText("Program %d %s@%s", program->id, provider.c_str(), name.c_str()) + LineEnd;
        for (unsigned i = 0; i < program->nb_stream_indexes; ++i) {
            const unsigned index = program->stream_index[i];
            if (index < Context->nb_streams)
                text += StreamLine(static_cast<int>(index)) + LineEnd;
        }
    }
    return text;
}

std::string TCustomAVProbe::GetInfoText() {
    if (!CheckFileLoaded())
        return {};
    TFileStreamInfo info;
    GetFileStreamInfo(info);
    std::string text = "File Name: " + GetFileName().string() + LineEnd;
    text += FormatText("Format Name: %s", Context->iformat->name) + LineEnd;
    text += FormatText("Format Long Name: %s",
                       Context->iformat->long_name ? Context->iformat->long_name : "") +
            LineEnd;
    text += "File Size: " + SizeText(GetFileSize()) + LineEnd;
    if (info.StartTime != -1)
        text += "StartTime: " + SecondsText(info.StartTime) + LineEnd;
    text += (info.Duration == -1 ? std::string("Duration: N/A")
                                 : "Duration: " + DurationText(info.Duration)) +
            LineEnd;
    text += (info.BitRate < 1
                 ? std::string("Bit Rate: N/A")
                 : FormatText("Bit Rate: %lld Kbps", static_cast<long long>(info.BitRate / 1000))) +
            LineEnd;
    if (info.TimeStamp > 0)
        text += "Time Stamp: " + LocalTimeText(info.TimeStamp) + LineEnd;
    AddIfSet(text, "Title: %s", info.Title);
    AddIfSet(text, "Author: %s", info.Author);
    AddIfSet(text, "Copyright: %s", info.Copyright);
    AddIfSet(text, "Comment: %s", info.Comment);
    AddIfSet(text, "Album: %s", info.Album);
    AddIfSet(text, "Genre: %s", info.Genre);
    if (info.Year > 0)
        text += FormatText("Year: %d", info.Year) + LineEnd;
    if (info.Track > 0)
        text += FormatText("Track: #%d", info.Track) + LineEnd;
    if (Context->nb_programs > 0)
        return text + ProgramLines();
    for (int i = 0; i < StreamCountValue; ++i)
        text += StreamLine(i) + LineEnd;
    return text;
}
