// Presets (built-in x264 settings or a file of key=value lines) and the target presets
// (vcd, svcd, dvd, dv, dv50) that set options ahead of creating an output.
#include "engine/FFmpeg.h"

#include "ffbind/FFUtils.h"
#include "ffbind/FFmpegLogger.h"
#include "ffbind/TextUtils.h"

#include <algorithm>
#include <cmath>
#include <fstream>
#include <sstream>

namespace {

struct TBuiltinPreset {
    const char* Name;
    const char* Text;
};

// The x264 presets, with the option names of this library generation (private options of the
// libx264 wrapper where the old generic names no longer exist).
#define SP_X264_COMMON                                                                             \
    "me_range=16\ng=250\nkeyint_min=25\nsc_threshold=40\ni_qfactor=0.71\nqcomp=0.6\nqmin=10\n"     \
    "qmax=51\nqdiff=4\n"
const TBuiltinPreset BuiltinPresets[] = {
    {"libx264-baseline", "coder=0\nbf=0\nweightb=0\n8x8dct=0\nweightp=0\n"},
    {"libx264-default",
     "coder=1\npartitions=i8x8,i4x4,p8x8,b8x8\nme_method=hex\nsubq=7\n" SP_X264_COMMON
     "b_strategy=1\nbf=3\nrefs=3\ndirect-pred=1\ntrellis=1\nmixed-refs=1\nweightb=1\n8x8dct=1\n"
     "fast-pskip=1\n"},
    {"libx264-fastfirstpass",
     "coder=1\npartitions=none\nme_method=dia\nsubq=1\n" SP_X264_COMMON
     "b_strategy=1\nbf=3\nrefs=1\ndirect-pred=3\ntrellis=0\nb-pyramid=none\nweightb=0\n"
     "mixed-refs=0\n8x8dct=0\nfast-pskip=1\n"},
    {"libx264-hq",
     "coder=1\npartitions=i8x8,i4x4,p8x8,b8x8\nme_method=umh\nsubq=8\n" SP_X264_COMMON
     "b_strategy=2\nbf=3\nrefs=4\ndirect-pred=3\ntrellis=1\nweightb=1\nmixed-refs=1\n8x8dct=1\n"
     "fast-pskip=1\n"},
    {"libx264-ipod320", "coder=0\nbf=0\nweightb=0\n8x8dct=0\nweightp=0\nlevel=13\nmaxrate=768000\n"
                        "bufsize=3000000\n"},
    {"libx264-ipod640",
     "coder=0\nbf=0\nrefs=1\nweightb=0\n8x8dct=0\nweightp=0\nlevel=30\nmaxrate=10000000\n"
     "bufsize=10000000\n"},
    {"libx264-lossless_fast",
     "coder=0\npartitions=i4x4,p8x8\nme_method=hex\nsubq=3\n" SP_X264_COMMON
     "b_strategy=1\ndirect-pred=1\nfast-pskip=1\nqp=0\n"},
    {"libx264-lossless_max",
     "coder=1\npartitions=i8x8,i4x4,p8x8,p4x4\nme_method=esa\nsubq=8\n" SP_X264_COMMON
     "b_strategy=1\nrefs=16\ndirect-pred=1\nmixed-refs=1\n8x8dct=1\nfast-pskip=1\nqp=0\n"},
    {"libx264-lossless_medium",
     "coder=1\npartitions=i4x4,p8x8,p4x4\nme_method=hex\nsubq=5\n" SP_X264_COMMON
     "b_strategy=1\ndirect-pred=1\nfast-pskip=1\nqp=0\n"},
    {"libx264-lossless_slow",
     "coder=1\npartitions=i8x8,i4x4,p8x8,p4x4\nme_method=umh\nsubq=6\n" SP_X264_COMMON
     "b_strategy=1\nrefs=2\ndirect-pred=1\n8x8dct=1\nfast-pskip=1\nqp=0\n"},
    {"libx264-lossless_slower",
     "coder=1\npartitions=i8x8,i4x4,p8x8,p4x4\nme_method=umh\nsubq=8\n" SP_X264_COMMON
     "b_strategy=1\nrefs=4\ndirect-pred=1\nmixed-refs=1\n8x8dct=1\nfast-pskip=1\nqp=0\n"},
    {"libx264-lossless_ultrafast",
     "coder=0\npartitions=none\nme_method=dia\nsubq=0\n" SP_X264_COMMON
     "b_strategy=1\ndirect-pred=1\nfast-pskip=1\nqp=0\n"},
    {"libx264-main", "8x8dct=0\n"},
    {"libx264-max",
     "coder=1\npartitions=all\nme_method=tesa\nsubq=10\nme_range=24\ng=250\nkeyint_min=25\n"
     "sc_threshold=40\ni_qfactor=0.71\nqcomp=0.6\nqmin=10\nqmax=51\nqdiff=4\nb_strategy=2\n"
     "bf=3\nrefs=16\ndirect-pred=3\ntrellis=2\nweightb=1\nmixed-refs=1\n8x8dct=1\n"
     "fast-pskip=0\n"},
    {"libx264-normal",
     "coder=1\npartitions=i8x8,i4x4,p8x8,b8x8\nme_method=hex\nsubq=6\n" SP_X264_COMMON
     "b_strategy=1\nbf=3\nrefs=2\ndirect-pred=3\ntrellis=0\nweightb=1\n8x8dct=1\n"
     "fast-pskip=1\n"},
    {"libx264-slowfirstpass",
     "coder=1\npartitions=i8x8,i4x4,p8x8,b8x8\nme_method=hex\nsubq=6\n" SP_X264_COMMON
     "b_strategy=2\nbf=3\nrefs=1\ndirect-pred=3\ntrellis=0\nweightb=1\n8x8dct=1\n"
     "fast-pskip=1\n"},
};
#undef SP_X264_COMMON

bool FindBuiltin(const std::string& name, std::string& text) {
    for (const TBuiltinPreset& preset : BuiltinPresets)
        if (LowerCase(name) == preset.Name) {
            text = preset.Text;
            return true;
        }
    return false;
}

bool ReadPresetFile(const std::string& path, std::string& text) {
    std::error_code error;
    if (!std::filesystem::is_regular_file(path, error))
        return false;
    std::ifstream file(path, std::ios::binary);
    std::ostringstream content;
    content << file.rdbuf();
    text = content.str();
    return file.good() || file.eof();
}

enum TNorm { nmPal, nmNtsc, nmFilm };

} // namespace

void TCustomFFmpeg::LoadPreset(const std::string& OptionName, const std::string& Value) {
    if (OptionName.empty() || Value.empty())
        return;
    std::string name = Value;
    std::string text;
    bool found = FindBuiltin(name, text);
    if (!found) {
        const std::string* codec = nullptr;
        if (OptionName[0] == 'v' && !VideoCodecName.empty())
            codec = &VideoCodecName;
        else if (OptionName[0] == 'a' && !AudioCodecName.empty())
            codec = &AudioCodecName;
        else if (!SubtitleCodecName.empty())
            codec = &SubtitleCodecName;
        if (codec) {
            name = *codec + "-" + Value; // the table names read "libx264-hq"
            found = FindBuiltin(name, text);
        }
    }
    if (!found) {
        name = Value;
        found = ReadPresetFile(Value, text);
    }
    text = TrimBlanks(text);
    if (!found || text.empty())
        throw FFmpegException(FormatText("Preset \"%s\" not found", name.c_str()));
    std::replace(text.begin(), text.end(), '\r', '\n');
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line))
        ApplyPresetLine(name, TrimBlanks(line));
}

void TCustomFFmpeg::ApplyPresetLine(const std::string& Preset, const std::string& Line) {
    if (Line.empty())
        return;
    std::size_t equal = Line.find('=');
    std::string key = equal == std::string::npos ? Line : Line.substr(0, equal);
    std::string value = equal == std::string::npos ? std::string() : Line.substr(equal + 1);
    if (key.empty() || value.empty())
        throw FFmpegException(
            FormatText("%s: Invalid syntax: \"%s\"", Preset.c_str(), Line.c_str()));
    std::string lowerKey = LowerCase(key);
    if (lowerKey == "acodec")
        ApplyCodecName('a', value);
    else if (lowerKey == "vcodec")
        ApplyCodecName('v', value);
    else if (lowerKey == "scodec")
        ApplyCodecName('s', value);
    else if (!SetGenericOption(key, value))
        throw FFmpegException(
            FormatText("%s: Invalid option or argument: \"%s\", parsed as \"%s\" = \"%s\"",
                       Preset.c_str(), Line.c_str(), key.c_str(), value.c_str()));
}

void TCustomFFmpeg::SetTarget(const std::string& Type, const std::string& Norm,
                              const std::string& FallbackNorm) {
    TNorm norm = nmPal;
    if (Norm == "pal")
        norm = nmPal;
    else if (Norm == "ntsc")
        norm = nmNtsc;
    else if (Norm == "film")
        norm = nmFilm;
    else
        norm = TNorm(DetectNorm(FallbackNorm));

    static const char* const rates[] = {"25", "30000/1001", "24000/1001"};
    bool pal = norm == nmPal;
    auto generic = [this](const char* name, const char* value) { SetGenericOption(name, value); };
    auto aspectIfUnset = [this](const char* aspect) {
        if (FrameAspectRatio != 0)
            return;
        GetLogger()->LogF(this, llInfo, "Assuming %s for aspect ratio", aspect);
        SetAspectRatio(aspect);
    };
    if (Type == "vcd" || Type == "svcd" || Type == "dvd") {
        bool vcd = Type == "vcd", svcd = Type == "svcd";
        ApplyCodecName('v', vcd ? "mpeg1video" : "mpeg2video");
        ApplyCodecName('a', Type == "dvd" ? "ac3" : "mp2");
        SetOutputFormat(Type);
        SetFrameSize(vcd    ? (pal ? "352x288" : "352x240")
                     : svcd ? (pal ? "480x576" : "480x480")
                            : (pal ? "720x576" : "720x480"));
        SetFrameRate(rates[norm]);
        generic("g", pal ? "15" : "18");
        if (vcd) {
            generic("b", "1150000");
            generic("maxrate", "1150000");
            generic("minrate", "1150000");
            generic("bufsize", "327680");
            generic("ab", "224000");
            generic("packetsize", "2324");
            generic("muxrate", "1411200");
            AudioSampleRateHz = 44100;
            AudioChannels = 2;
            MuxPreloadSeconds = 0.44f;
            aspectIfUnset("4:3");
        } else if (svcd) {
            generic("b", "2040000");
            generic("maxrate", "2516000");
            generic("minrate", "0");
            generic("bufsize", "1835008");
            generic("scan_offset", "1"); // the old "flags +scan_offset" of the mpeg2 encoder
            generic("ab", "224000");
            generic("packetsize", "2324");
            AudioSampleRateHz = 44100;
            if (AudioChannels == 1)
                AudioChannels = 2;
            aspectIfUnset("4:3");
        } else {
            generic("b", "6000000");
            generic("maxrate", "9000000");
            generic("minrate", "0");
            generic("bufsize", "1835008");
            generic("packetsize", "2048");
            generic("muxrate", "10080000");
            generic("ab", "448000");
            AudioSampleRateHz = 48000;
            if (AudioChannels == 1)
                AudioChannels = 2;
            aspectIfUnset("16:9");
        }
    } else if (Type == "dv" || Type == "dv50") {
        SetOutputFormat("dv");
        SetFrameSize(pal ? "720x576" : "720x480");
        ApplyPixelFormat(Type == "dv50" ? "yuv422p" : (pal ? "yuv420p" : "yuv411p"));
        SetFrameRate(rates[norm]);
        AudioSampleRateHz = 48000;
        AudioChannels = 2;
    } else {
        throw FFmpegException("Unknown target type");
    }
}

// The norm of the frame rate set so far, else of the first input video stream that tells one.
int TCustomFFmpeg::DetectNorm(const std::string& FallbackNorm) {
    if (FrameRate.den == 0)
        throw FFmpegException("frame_rate is invalid.");
    auto normOf = [](int64_t milliRate, int& norm) {
        if (milliRate == 25000)
            norm = nmPal;
        else if (milliRate == 29970 || milliRate == 23976)
            norm = nmNtsc;
        else
            return false;
        return true;
    };
    int norm = -1;
    bool found = normOf(std::llround(av_q2d(FrameRate) * 1000), norm);
    for (AVFormatContext* input : InputFiles) {
        for (unsigned s = 0; !found && s < input->nb_streams; ++s) {
            const AVStream* stream = input->streams[s];
            if (stream->codecpar->codec_type != AVMEDIA_TYPE_VIDEO)
                continue;
            AVRational rate =
                stream->r_frame_rate.num ? stream->r_frame_rate : stream->avg_frame_rate;
            if (rate.den != 0)
                found = normOf(std::llround(av_q2d(rate) * 1000), norm);
        }
    }
    if (!found)
        norm = FallbackNorm == "film" ? nmFilm : (FallbackNorm == "ntsc" ? nmNtsc : nmPal);
    if (Verbose > 0)
        GetLogger()->LogF(this, llVerbose, "Assuming %s for target.",
                          norm == nmPal ? "PAL" : "NTSC");
    return norm;
}
