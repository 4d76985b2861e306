// The conversion engine's life (defaults, reset, release) and its option table.
#include "engine/FFmpeg.h"

#include "engine/TranscodeRun.h"
#include "ffbind/Assertion.h"
#include "ffbind/FFUtils.h"
#include "ffbind/FFmpegLoader.h"
#include "ffbind/FFmpegLogger.h"
#include "ffbind/TextUtils.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <ctime>

namespace {

// Booleans are true unless the value is exactly "0".
bool ToBool(const std::string& value) {
    return value != "0";
}

} // namespace

// ---- Strict number conversions ------------------------------------------------------------

int64_t StrToInt64(const std::string& Text) {
    std::string text = TrimBlanks(Text);
    const char* begin = text.c_str();
    const char* digits = begin + ((*begin == '-' || *begin == '+') ? 1 : 0);
    int base = 10;
    if (*digits == '$') { // the run-time's hexadecimal prefix
        base = 16;
        ++digits;
    } else if (digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X')) {
        base = 16;
        digits += 2;
    }
    bool valid = std::isxdigit(static_cast<unsigned char>(*digits)) &&
                 (base == 16 || std::isdigit(static_cast<unsigned char>(*digits)));
    char* end = nullptr;
    errno = 0;
    long long value = valid ? std::strtoll(digits, &end, base) : 0;
    if (!valid || *end != '\0' || errno == ERANGE)
        throw EConvertError(FormatText("'%s' is not a valid integer value", Text.c_str()));
    return *begin == '-' ? -value : value;
}

int StrToInt(const std::string& Text) {
    int64_t value = StrToInt64(Text);
    if (value < INT32_MIN || value > INT32_MAX)
        throw EConvertError(FormatText("'%s' is not a valid integer value", Text.c_str()));
    return static_cast<int>(value);
}

double StrToFloat(const std::string& Text) {
    std::string text = TrimBlanks(Text);
    // Plain decimal notation only: no hexadecimal, infinity or NaN spellings.
    bool valid = !text.empty() && text.find_first_not_of("0123456789+-.eE") == std::string::npos &&
                 text.find_first_of("0123456789") != std::string::npos;
    char* end = nullptr;
    double value = valid ? std::strtod(text.c_str(), &end) : 0;
    if (!valid || *end != '\0' || !std::isfinite(value))
        throw EConvertError(FormatText("'%s' is not a valid floating point value", Text.c_str()));
    return value;
}

void DictSet(DictionaryPtr& Dictionary, const std::string& Key, const std::string& Value) {
    AVDictionary* dictionary = Dictionary.release();
    ff::av_dict_set(&dictionary, Key.c_str(), Value.c_str(), 0);
    Dictionary.reset(dictionary);
}

// ---- Life -----------------------------------------------------------------------------------

TCustomFFmpeg::TCustomFFmpeg() {
    InitDefaults();
}

TCustomFFmpeg::~TCustomFFmpeg() {
    RequestStop(swWaitForEnd);
    CloseAll();
}

void TCustomFFmpeg::InitDefaults() {
    InitSetUpDefaults();
    ErrorOccurred = false;
    ConvertThread = nullptr;
    PreviewFlags = 0;
    InitRunDefaults();
}

void TCustomFFmpeg::InitSetUpDefaults() {
    static_cast<TOptionState&>(*this) = TOptionState{};
    UseVideoFilters = false;
    MissingEffectsLogged.clear();
    JoinMode = false;
}

void TCustomFFmpeg::Reset() {
    if (!Loader().LibsLoaded(DefaultLibraries))
        return;
    CloseAll();
    InitDefaults();
    Running = false;
    StopRequested = false;
    Finished = false;
    Terminated = false;
    CreateOptionContexts();
}

void TCustomFFmpeg::ResetSetUp() {
    if (!Loader().LibsLoaded(DefaultLibraries))
        return;
    CloseAll();
    InitSetUpDefaults();
    CreateOptionContexts();
}

void TCustomFFmpeg::CloseAll() {
    if (!Loader().LibsLoaded(DefaultLibraries))
        return;
    FreeOptionContexts();
    // The run's codecs close before their contexts are freed with the inputs and outputs.
    CurrentRun.reset();
    FreeFrameHooks(VideoHookChain);
    CloseOutputFiles();
    CloseInputFiles();
    InputCodecs.clear();
    InputDecoders.clear();
    OutputCodecs.clear();
    IntraMatrix.clear();
    InterMatrix.clear();
    VideoRcOverride.clear();
    VstatsFileName.clear();
}

void TCustomFFmpeg::CreateOptionContexts() {
    FreeOptionContexts();
    for (int kind = AVMEDIA_TYPE_VIDEO; kind <= AVMEDIA_TYPE_ATTACHMENT; ++kind) {
        OptionContexts.Codecs[kind].reset(ff::avcodec_alloc_context3(nullptr));
        if (!OptionContexts.Codecs[kind])
            throw FFmpegException("avcodec_alloc_context3 failed");
        OptionContexts.Codecs[kind]->codec_type = static_cast<AVMediaType>(kind);
    }
    OptionContexts.Format.reset(ff::avformat_alloc_context());
    if (!OptionContexts.Format)
        throw FFmpegException("avformat_alloc_context failed");
    OptionContexts.Scaler.reset(ff::sws_getContext(16, 16, AVPixelFormat(0), 16, 16,
                                                   AVPixelFormat(0), ScalerFlags, nullptr, nullptr,
                                                   nullptr));
}

void TCustomFFmpeg::FreeOptionContexts() {
    OptionContexts = TOptionContexts{};
}

TOutputFileSetup& TCustomFFmpeg::OutputFileSetup(int OutputIndex) {
    return const_cast<TOutputFileSetup&>(OutputSetupOf(OutputIndex));
}

const TOutputFileSetup& TCustomFFmpeg::OutputSetupOf(int OutputIndex) const {
    const AVFormatContext* context = OutputFiles.at(OutputIndex);
    for (const auto& setup : OutputSetups)
        if (setup->Context.get() == context)
            return *setup;
    throw FFmpegException("output file entry without set-up record");
}

TOutputStreamSetup& TCustomFFmpeg::OutputStreamSetup(int OutputIndex, int StreamIndex) {
    return OutputFileSetup(OutputIndex).Streams.at(StreamIndex);
}

void TCustomFFmpeg::LogMissingEffect(const std::string& Option, const char* Effect) {
    if (std::find(MissingEffectsLogged.begin(), MissingEffectsLogged.end(), Option) !=
        MissingEffectsLogged.end())
        return;
    MissingEffectsLogged.push_back(Option);
    GetLogger()->LogF(this, llInfo, "Option %s: %s", Option.c_str(), Effect);
}

// ---- The option table -------------------------------------------------------------------------

void TCustomFFmpeg::SetOption(const std::string& Name, const std::string& Value) {
    using THandler = void (*)(TCustomFFmpeg & e, const std::string& n, const std::string& v);
    struct TEntry {
        const char* Name;
        THandler Apply;
    };
    static const THandler doNothing = [](TCustomFFmpeg& e, const std::string& n,
                                         const std::string&) {
        GetLogger()->Log(&e, llInfo, "Do nothing: option - " + n);
    };
    // In recognition order; the first entry equal to the name wins.
    static const TEntry table[] = {
        {"L", doNothing},
        {"h", doNothing},
        {"version", doNothing},
        {"formats", doNothing},
        {"f", [](auto& e, auto&, auto& v) { e.ApplyFormat(v, true, true); }},
        {"i", doNothing},
        {"y", doNothing},
        {"map", [](auto& e, auto&, auto& v) { e.ApplyStreamMap(v); }},
        {"map_meta_data", [](auto& e, auto&, auto& v) { e.ApplyMetadataMap(v); }},
        {"t", [](auto& e, auto& n, auto& v) { e.ApplyTime(n, v); }},
        {"fs", [](auto& e, auto&, auto& v) { e.LimitFileSizeBytes = StrToInt64(v); }},
        {"ss", [](auto& e, auto& n, auto& v) { e.ApplyTime(n, v); }},
        {"itsoffset", [](auto& e, auto& n, auto& v) { e.ApplyTime(n, v); }},
        {"itsscale", [](auto& e, auto&, auto& v) { e.ApplyTsScale(v); }},
        {"timestamp", [](auto& e, auto& n, auto& v) { e.ApplyTime(n, v); }},
        {"metadata", [](auto& e, auto&, auto& v) { e.ApplyMetadataPair(v); }},
        {"dframes", [](auto& e, auto&, auto& v) { e.MaxFrames[AVMEDIA_TYPE_DATA] = StrToInt(v); }},
        {"benchmark", doNothing},
        {"dump", [](auto& e, auto&, auto& v) { e.PacketDump = ToBool(v); }},
        {"hex", [](auto& e, auto&, auto& v) { e.HexDump = ToBool(v); }},
        {"re", [](auto& e, auto&, auto& v) { e.RateEmulation = ToBool(v); }},
        {"loop_input", [](auto& e, auto&, auto& v) { e.LoopInput = ToBool(v); }},
        {"loop_output", [](auto& e, auto&, auto& v) { e.LoopOutput = StrToInt(v); }},
        {"v", [](auto& e, auto&, auto& v) { e.Verbose = StrToInt(v); }},
        {"loglevel", [](auto&, auto&, auto& v) { GetLogger()->SetLogLevelByName(v); }},
        {"target", [](auto& e, auto&, auto& v) { e.ApplyTarget(v); }},
        // "TODO: option - " is the message the option vocabulary gives for an option it names
        // but does not take; users see it as it stands: not a note left in the code.
        {"threads",
         [](auto&, auto& n, auto&) { throw FFmpegException("TODO: option - " + n); }},
        {"split", [](auto& e, auto&, auto& v) { e.SplitPieces = std::max(StrToInt(v), 0); }},
        {"split_segment_ms",
         [](auto& e, auto&, auto& v) { e.SplitSegmentMs = std::max(StrToInt(v), 1); }},
        {"split_min_ms", [](auto& e, auto&, auto& v) { e.SplitMinimumMs = StrToInt(v); }},
        {"vsync", [](auto& e, auto&, auto& v) { e.VideoSyncMethod = StrToInt(v); }},
        {"async", [](auto& e, auto&, auto& v) { e.AudioSyncMethod = StrToInt(v); }},
        {"adrift_threshold",
         [](auto& e, auto&, auto& v) { e.AudioDriftThresholdSeconds = float(StrToFloat(v)); }},
        {"vglobal", [](auto& e, auto&, auto& v) { e.VideoGlobalHeader = StrToInt(v); }},
        {"copyts", [](auto& e, auto&, auto&) { e.CopyTs = true; }},
        {"shortest", [](auto& e, auto&, auto& v) { e.Shortest = ToBool(v); }},
        {"dts_delta_threshold",
         [](auto& e, auto&, auto& v) { e.DtsDeltaThresholdSeconds = float(StrToFloat(v)); }},
        {"programid", [](auto& e, auto&, auto& v) { e.ProgramId = StrToInt(v); }},
        {"astream", [](auto& e, auto&, auto& v) { e.PreferredAudioStream = StrToInt(v); }},
        {"xerror", [](auto& e, auto&, auto&) { e.ExitOnError = true; }},
        {"copyinkf", [](auto& e, auto&, auto& v) { e.CopyInitialNonKeyframes = StrToInt(v); }},
        {"b", [](auto& e, auto& n, auto& v) { e.ApplyBitRate(n, v); }},
        {"vb", [](auto& e, auto& n, auto& v) { e.ApplyBitRate(n, v); }},
        {"vframes",
         [](auto& e, auto&, auto& v) { e.MaxFrames[AVMEDIA_TYPE_VIDEO] = StrToInt(v); }},
        {"r", [](auto& e, auto&, auto& v) { e.SetFrameRate(v); }},
        {"s", [](auto& e, auto&, auto& v) { e.SetFrameSize(v); }},
        {"aspect", [](auto& e, auto&, auto& v) { e.SetAspectRatio(v); }},
        {"pix_fmt", [](auto& e, auto&, auto& v) { e.ApplyPixelFormat(v); }},
        {"croptop", [](auto& e, auto&, auto& v) { e.SetCropTop(StrToInt(v)); }},
        {"cropbottom", [](auto& e, auto&, auto& v) { e.SetCropBottom(StrToInt(v)); }},
        {"cropleft", [](auto& e, auto&, auto& v) { e.SetCropLeft(StrToInt(v)); }},
        {"cropright", [](auto& e, auto&, auto& v) { e.SetCropRight(StrToInt(v)); }},
        {"padtop", [](auto& e, auto&, auto& v) { e.SetPadTop(StrToInt(v)); }},
        {"padbottom", [](auto& e, auto&, auto& v) { e.SetPadBottom(StrToInt(v)); }},
        {"padleft", [](auto& e, auto&, auto& v) { e.SetPadLeft(StrToInt(v)); }},
        {"padright", [](auto& e, auto&, auto& v) { e.SetPadRight(StrToInt(v)); }},
        {"padcolor", [](auto& e, auto&, auto& v) { e.SetPadColor(StrToInt(v)); }},
        {"intra", [](auto& e, auto&, auto& v) { e.IntraOnly = ToBool(v); }},
        {"vn", [](auto& e, auto&, auto& v) { e.VideoDisable = ToBool(v); }},
        {"cover", [](auto& e, auto&, auto& v) { e.Choices.KeepCover = ToBool(v); }},
        {"cover_size",
         [](auto& e, auto&, auto& v) { e.Choices.CoverSizePixels = std::max(StrToInt(v), 0); }},
        {"vdt", [](auto& e, auto&, auto& v) { e.VideoDiscard = StrToInt(v); }},
        {"qscale", [](auto& e, auto&, auto& v) { e.ApplyQscale(v); }},
        {"rc_override", [](auto& e, auto&, auto& v) { e.VideoRcOverride = v; }},
        {"vcodec", [](auto& e, auto&, auto& v) { e.ApplyCodecName('v', v); }},
        {"me_threshold", [](auto& e, auto& n, auto& v) {
             e.MeThreshold = StrToInt(v);
             e.LogMissingEffect(n, "the libraries no longer have a motion-estimation "
                                   "threshold; the value is kept but has no effect");
         }},
        {"sameq", [](auto& e, auto&, auto& v) { e.SameQuality = ToBool(v); }},
        {"pass", [](auto& e, auto&, auto& v) { e.ApplyPass(v); }},
        {"passlogfile", [](auto& e, auto&, auto& v) { e.PassLogFileName = v; }},
        {"deinterlace", [](auto& e, auto&, auto& v) { e.Deinterlace = ToBool(v); }},
        {"psnr", [](auto& e, auto&, auto& v) { e.Psnr = ToBool(v); }},
        {"vstats", [](auto& e, auto&, auto&) { e.ApplyVstats(); }},
        {"vstats_file", [](auto& e, auto&, auto& v) { e.VstatsFileName = v; }},
        {"vhook", [](auto& e, auto&, auto& v) { e.ApplyVideoHook(v); }},
        {"vfilters", [](auto& e, auto&, auto& v) { e.SetVideoFilters(v); }},
        {"intra_matrix", [](auto& e, auto&, auto& v) { e.ApplyMatrix(e.IntraMatrix, v); }},
        {"inter_matrix", [](auto& e, auto&, auto& v) { e.ApplyMatrix(e.InterMatrix, v); }},
        {"top", [](auto& e, auto&, auto& v) { e.TopFieldFirst = StrToInt(v); }},
        {"dc", [](auto& e, auto&, auto& v) { e.IntraDcPrecision = StrToInt(v); }},
        {"vtag", [](auto& e, auto&, auto& v) { e.ApplyCodecTag('v', v); }},
        {"newvideo", [](auto& e, auto&, auto&) { e.NewStreamOnLastOutput(AVMEDIA_TYPE_VIDEO); }},
        {"qphist", [](auto& e, auto&, auto& v) { e.QpHistogram = ToBool(v); }},
        {"force_fps", [](auto& e, auto&, auto& v) { e.ForceFps = ToBool(v); }},
        {"ab", [](auto& e, auto& n, auto& v) { e.ApplyBitRate(n, v); }},
        {"aframes",
         [](auto& e, auto&, auto& v) { e.MaxFrames[AVMEDIA_TYPE_AUDIO] = StrToInt(v); }},
        {"aq", [](auto& e, auto&, auto& v) { e.AudioQscale = float(StrToFloat(v)); }},
        {"ar", [](auto& e, auto&, auto& v) { e.SetAudioSampleRate(StrToInt(v)); }},
        {"ac", [](auto& e, auto&, auto& v) { e.SetAudioChannels(StrToInt(v)); }},
        {"an", [](auto& e, auto&, auto& v) { e.AudioDisable = ToBool(v); }},
        {"acodec", [](auto& e, auto&, auto& v) { e.ApplyCodecName('a', v); }},
        {"atag", [](auto& e, auto&, auto& v) { e.ApplyCodecTag('a', v); }},
        {"vol", [](auto& e, auto&, auto& v) { e.SetAudioVolume(StrToInt(v)); }},
        {"replaygain", [](auto& e, auto&, auto& v) { e.Choices.ReplayGain = ToBool(v); }},
        {"newaudio", [](auto& e, auto&, auto&) { e.NewStreamOnLastOutput(AVMEDIA_TYPE_AUDIO); }},
        {"alang", [](auto& e, auto&, auto& v) { e.AudioLanguage = v; }},
        {"sample_fmt", [](auto& e, auto&, auto& v) { e.ApplySampleFormat(v); }},
        {"sn", [](auto& e, auto&, auto& v) { e.SubtitleDisable = ToBool(v); }},
        {"scodec", [](auto& e, auto&, auto& v) { e.ApplyCodecName('s', v); }},
        {"newsubtitle",
         [](auto& e, auto&, auto&) { e.NewStreamOnLastOutput(AVMEDIA_TYPE_SUBTITLE); }},
        {"slang", [](auto& e, auto&, auto& v) { e.SubtitleLanguage = v; }},
        {"stag", [](auto& e, auto&, auto& v) { e.ApplyCodecTag('s', v); }},
        {"vc", [](auto& e, auto&, auto& v) { e.VideoChannel = StrToInt(v); }},
        {"tvstd", [](auto& e, auto&, auto& v) { e.VideoStandard = v; }},
        {"isync", [](auto& e, auto&, auto& v) { e.InputSync = ToBool(v); }},
        {"muxdelay", [](auto& e, auto&, auto& v) { e.MuxMaxDelaySeconds = float(StrToFloat(v)); }},
        {"muxpreload", [](auto& e, auto&, auto& v) { e.MuxPreloadSeconds = float(StrToFloat(v)); }},
        {"absf", [](auto& e, auto& n, auto& v) { e.ApplyBitstreamFilter(n[0], v); }},
        {"vbsf", [](auto& e, auto& n, auto& v) { e.ApplyBitstreamFilter(n[0], v); }},
        {"sbsf", [](auto& e, auto& n, auto& v) { e.ApplyBitstreamFilter(n[0], v); }},
        {"apre", [](auto& e, auto& n, auto& v) { e.LoadPreset(n, v); }},
        {"vpre", [](auto& e, auto& n, auto& v) { e.LoadPreset(n, v); }},
        {"spre", [](auto& e, auto& n, auto& v) { e.LoadPreset(n, v); }},
    };
    for (const TEntry& entry : table) {
        if (Name == entry.Name) {
            entry.Apply(*this, Name, Value);
            return;
        }
    }
    SetGenericOption(Name, Value); // an unknown option is dropped without a message
}

// ---- Option handlers ------------------------------------------------------------------------

void TCustomFFmpeg::ApplyFormat(const std::string& Value, bool Input, bool Output) {
    if (Value.empty())
        return;
    std::string name = Value;
    if (name == "pgmyuv") {
        name = "image2";
        ImageCompatibility = true;
        GetLogger()->Log(this, llInfo, "pgmyuv format is deprecated, use image2");
    }
    const AVInputFormat* input = Input ? ff::av_find_input_format(name.c_str()) : nullptr;
    const AVOutputFormat* output =
        Output ? ff::av_guess_format(name.c_str(), nullptr, nullptr) : nullptr;
    if (Input && Output && !input && !output)
        throw FFmpegException(FormatText("Unknown input or output format: %s", name.c_str()));
    if (Input && !Output && !input)
        throw FFmpegException(FormatText("Unknown input format: %s", name.c_str()));
    if (Output && !Input && !output)
        throw FFmpegException(FormatText("Unknown output format: %s", name.c_str()));
    if (Input)
        InputFormat = input;
    if (Output)
        OutputFormat = output;
}

// Reads "a<sep>b" with base-detecting integers; any single character separates.
static int ReadMapInteger(const char*& text) {
    char* end = nullptr;
    long value = std::strtol(text, &end, 0);
    text = end;
    return static_cast<int>(value);
}

static void SkipSeparator(const char*& text) {
    if (*text)
        ++text;
}

void TCustomFFmpeg::ApplyStreamMap(const std::string& Value) {
    if (StreamMaps.size() >= MAX_STREAM_MAPS)
        throw FFmpegException("Too many stream maps (at most 400)");
    TStreamMap map;
    const char* text = Value.c_str();
    map.FileIndex = ReadMapInteger(text);
    SkipSeparator(text);
    map.StreamIndex = ReadMapInteger(text);
    if (*text) {
        SkipSeparator(text);
        map.SyncFileIndex = ReadMapInteger(text);
        SkipSeparator(text);
        map.SyncStreamIndex = ReadMapInteger(text);
    } else {
        map.SyncFileIndex = map.FileIndex;
        map.SyncStreamIndex = map.StreamIndex;
    }
    StreamMaps.push_back(map);
}

void TCustomFFmpeg::ApplyMetadataMap(const std::string& Value) {
    if (MetadataMaps.size() >= MAX_METADATA_MAPS)
        throw FFmpegException("Too many metadata maps (at most 20)");
    TMetadataMap map;
    const char* text = Value.c_str();
    map.OutFile = ReadMapInteger(text);
    SkipSeparator(text);
    map.InFile = ReadMapInteger(text);
    MetadataMaps.push_back(map);
}

void TCustomFFmpeg::ApplyTime(const std::string& Name, const std::string& Value) {
    bool isDate = Name == "timestamp";
    int64_t time = 0;
    if (ff::av_parse_time(&time, Value.c_str(), isDate ? 0 : 1) < 0 ||
        (!isDate && std::llabs(time) > MaxOptionTimeUs)) {
        throw FFmpegException(FormatText("Invalid %s specification for %s: %s",
                                         isDate ? "date" : "duration", Name.c_str(),
                                         Value.c_str()));
    }
    if (Name == "t")
        SetRecordingTime(time);
    else if (Name == "ss")
        StartTimeUs = time;
    else if (Name == "itsoffset")
        InputTsOffsetUs = time;
    else
        RecordingTimestampSeconds = std::llround(time / 1000000.0);
}

void TCustomFFmpeg::ApplyTsScale(const std::string& Value) {
    const char* text = Value.c_str();
    char* end = nullptr;
    long stream = std::strtol(text, &end, 0);
    text = end;
    SkipSeparator(text);
    double scale = std::strtod(text, nullptr);
    if (stream < 0 || stream >= MAX_STREAMS) {
        throw FFmpegException(FormatText("stream index over MAX_STREAMS(%d)", MAX_STREAMS));
    }
    if (InputFileCount() >= MAX_FILES)
        throw FFmpegException("Too many input files (at most 20)");
    InputTsScale[InputFileCount()][stream] = scale;
}

void TCustomFFmpeg::ApplyMetadataPair(const std::string& Value) {
    std::size_t equal = Value.find('=');
    if (equal == std::string::npos)
        throw FFmpegException("Missing =");
    AddMetadata(Value.substr(0, equal), Value.substr(equal + 1));
}

void TCustomFFmpeg::ApplyBitRate(const std::string& Name, const std::string& Value) {
    // "b" is the video bit rate, as "vb": the library's "b" now also names the audio rate.
    if (Name.empty() || Value.empty() || !SetGenericOption(Name == "b" ? "vb" : Name, Value))
        return;
    AVCodecContext* context =
        OptionContexts.Codec(Name[0] == 'a' ? AVMEDIA_TYPE_AUDIO : AVMEDIA_TYPE_VIDEO);
    int64_t bitRate = 0;
    ff::av_opt_get_int(context, "b", 0, &bitRate);
    if (bitRate < 1000)
        GetLogger()->Log(this, llWarning,
                         "WARNING: The bitrate parameter is set too low. It takes bits/s as "
                         "argument, not kbits/s");
}

void TCustomFFmpeg::ApplyQscale(const std::string& Value) {
    double quality = StrToFloat(Value);
    if (quality <= 0 || quality > 255)
        throw FFmpegException("qscale must be > 0.0 and <= 255");
    VideoQscale = static_cast<float>(quality);
}

void TCustomFFmpeg::ApplyPass(const std::string& Value) {
    int pass = StrToInt(Value);
    if (pass != 1 && pass != 2)
        throw FFmpegException("pass number can be only 1 or 2");
    Pass = pass;
}

void TCustomFFmpeg::ApplyCodecName(char Kind, const std::string& Value) {
    if (Value.empty())
        return;
    std::string& name =
        Kind == 'v' ? VideoCodecName : (Kind == 'a' ? AudioCodecName : SubtitleCodecName);
    bool& copy =
        Kind == 'v' ? VideoStreamCopy : (Kind == 'a' ? AudioStreamCopy : SubtitleStreamCopy);
    name.clear();
    if (Value == "copy")
        copy = true; // a later name does not clear it: stream creation consumes both
    else
        name = Value;
}

void TCustomFFmpeg::ApplyPixelFormat(const std::string& Value) {
    if (Value == "list") {
        char line[128];
        GetLogger()->Log(this, llInfo,
                         TrimBlanks(ff::av_get_pix_fmt_string(line, sizeof line, AV_PIX_FMT_NONE)));
        for (const AVPixFmtDescriptor* desc = ff::av_pix_fmt_desc_next(nullptr); desc;
             desc = ff::av_pix_fmt_desc_next(desc)) {
            AVPixelFormat format = ff::av_pix_fmt_desc_get_id(desc);
            GetLogger()->Log(this, llInfo,
                             TrimBlanks(ff::av_get_pix_fmt_string(line, sizeof line, format)));
        }
        return;
    }
    int format = ff::av_get_pix_fmt(Value.c_str());
    if (format == AV_PIX_FMT_NONE)
        throw FFmpegException(FormatText("Unknown pixel format requested: %s", Value.c_str()));
    FramePixFmt = format;
    UserSet.PixelFormat = true;
}

void TCustomFFmpeg::ApplySampleFormat(const std::string& Value) {
    if (Value == "list") {
        char line[128];
        for (int format = AV_SAMPLE_FMT_NONE; format < AV_SAMPLE_FMT_NB; ++format)
            GetLogger()->Log(this, llInfo,
                             TrimBlanks(ff::av_get_sample_fmt_string(line, sizeof line,
                                                                     AVSampleFormat(format))));
        return;
    }
    AudioSampleFmt = ff::av_get_sample_fmt(Value.c_str()); // unknown stays -1
}

// Encoders divide by the coefficients and keep them in 8-bit tables: each must lie in 1-255.
void TCustomFFmpeg::ApplyMatrix(std::vector<uint16_t>& Matrix, const std::string& Value) {
    Matrix.clear();
    std::vector<uint16_t> matrix(64);
    const char* text = Value.c_str();
    for (int i = 0; i < 64; ++i) {
        const long coefficient = std::strtol(text, nullptr, 10);
        const char* next = i < 63 ? std::strchr(text, ',') : text;
        if (coefficient < 1 || coefficient > 255 || !next) {
            throw FFmpegException(
                FormatText("Syntax error in matrix \"%s\" at coeff %d", Value.c_str(), i));
        }
        matrix[i] = static_cast<uint16_t>(coefficient);
        text = next + 1;
    }
    Matrix = std::move(matrix);
}

void TCustomFFmpeg::ApplyVstats() {
    std::error_code error;
    std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", error);
    std::time_t now = std::time(nullptr);
    char stamp[16];
    std::strftime(stamp, sizeof stamp, "%H%M%S", std::localtime(&now));
    VstatsFileName = exe.parent_path().string() + "/vstats_" + stamp + ".log";
}

bool TCustomFFmpeg::AddVideoHook(const std::vector<std::string>& Args) {
    std::vector<std::string> args = Args;
    std::vector<char*> argv;
    for (std::string& arg : args)
        argv.push_back(arg.data());
    argv.push_back(nullptr);
    return AddFrameHook(VideoHookChain, static_cast<int>(args.size()), argv.data()) == 0;
}

void TCustomFFmpeg::ApplyVideoHook(const std::string& Value) {
    const char* separators = Value.find('|') != std::string::npos ? "|" : " ";
    std::vector<std::string> args;
    std::size_t position = 0;
    while (args.size() < 254) {
        std::size_t begin = Value.find_first_not_of(separators, position);
        if (begin == std::string::npos)
            break;
        std::size_t end = Value.find_first_of(separators, begin);
        args.push_back(Value.substr(begin, end - begin));
        if (end == std::string::npos)
            break;
        position = end;
    }
    if (args.empty() || !AddVideoHook(args))
        throw FFmpegException("Failed to add video hook function: " + Value);
    UsingVhook = true;
}

void TCustomFFmpeg::ApplyBitstreamFilter(char Kind, const std::string& Value) {
    if (Value.empty() || Value[0] == '=')
        return;
    std::string name = Value.substr(0, Value.find('='));
    if (!ff::av_bsf_get_by_name(name.c_str()))
        throw FFmpegException(FormatText("Unknown bitstream filter %s", TrimBlanks(Value).c_str()));
    (Kind == 'v'   ? VideoBitstreamFilters
     : Kind == 'a' ? AudioBitstreamFilters
                   : SubtitleBitstreamFilters)
        .push_back(name);
}

void TCustomFFmpeg::ApplyTarget(const std::string& Value) {
    std::string type = TrimBlanks(Value);
    std::string norm = "auto";
    for (const char* prefix : {"pal-", "ntsc-", "film-"}) {
        if (type.rfind(prefix, 0) == 0) {
            norm.assign(prefix, std::strlen(prefix) - 1);
            type.erase(0, std::strlen(prefix));
            break;
        }
    }
    SetTarget(type, norm, "ntsc");
}

void TCustomFFmpeg::NewStreamOnLastOutput(AVMediaType Kind) {
    if (OutputFiles.empty())
        throw FFmpegException("At least one output file must be specified");
    TOutputFileSetup& output = OutputFileSetup(OutputFileCount() - 1);
    if (Kind == AVMEDIA_TYPE_VIDEO)
        new_video_stream(output);
    else if (Kind == AVMEDIA_TYPE_AUDIO)
        new_audio_stream(output);
    else
        new_subtitle_stream(output);
}

// ---- Direct setters -------------------------------------------------------------------------

void TCustomFFmpeg::SetInputFormat(const std::string& Name) {
    ApplyFormat(Name, true, false);
}
void TCustomFFmpeg::SetOutputFormat(const std::string& Name) {
    ApplyFormat(Name, false, true);
}
void TCustomFFmpeg::SetAudioCodec(const std::string& Name) {
    ApplyCodecName('a', Name);
}
void TCustomFFmpeg::SetVideoCodec(const std::string& Name) {
    ApplyCodecName('v', Name);
}
void TCustomFFmpeg::SetSubtitleCodec(const std::string& Name) {
    ApplyCodecName('s', Name);
}
