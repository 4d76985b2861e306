// Library-level (generic) options: validated and stored on the option contexts, and copied
// into the real codec and format contexts when inputs, outputs and streams are created.
#include "engine/FFmpeg.h"

#include "ffbind/FFmpegLoader.h"
#include "ffbind/FFmpegLogger.h"
#include "ffbind/TextUtils.h"

#include <algorithm>

namespace {

// The option flags a codec template of a kind looks for (data and attachment: any option).
int KindFlags(int kind) {
    switch (kind) {
    case AVMEDIA_TYPE_VIDEO:
        return AV_OPT_FLAG_VIDEO_PARAM;
    case AVMEDIA_TYPE_AUDIO:
        return AV_OPT_FLAG_AUDIO_PARAM;
    case AVMEDIA_TYPE_SUBTITLE:
        return AV_OPT_FLAG_SUBTITLE_PARAM;
    default:
        return 0;
    }
}

// Result of setting an option that only some encoders or muxers know.
struct TPrivateResult {
    bool Found = false;
    bool Valid = false;
    bool Kinds[AVMEDIA_TYPE_NB] = {}; // media kinds of the codecs that accepted the value
};

// Codec private options (libx264 "preset", "weightb", ...) exist only on a context made for
// that codec: the value is checked on a context of every codec that has the option.
TPrivateResult CheckCodecPrivateOption(const char* name, const char* value) {
    TPrivateResult result;
    void* iterator = nullptr;
    while (const AVCodec* codec = ff::av_codec_iterate(&iterator)) {
        if (!codec->priv_class || !ff::av_opt_find(const_cast<const AVClass**>(&codec->priv_class),
                                                   name, nullptr, 0, AV_OPT_SEARCH_FAKE_OBJ))
            continue;
        result.Found = true;
        CodecContextPtr context(ff::avcodec_alloc_context3(codec));
        if (context && ff::av_opt_set(context.get(), name, value, AV_OPT_SEARCH_CHILDREN) >= 0 &&
            codec->type >= 0 && codec->type < AVMEDIA_TYPE_NB) {
            result.Valid = true;
            result.Kinds[codec->type] = true;
        }
    }
    return result;
}

// Muxer private options ("muxrate", "preload", ...), checked on a context of every muxer that
// has the option.
TPrivateResult CheckMuxerPrivateOption(const char* name, const char* value) {
    TPrivateResult result;
    void* iterator = nullptr;
    while (const AVOutputFormat* muxer = ff::av_muxer_iterate(&iterator)) {
        if (!muxer->priv_class || !ff::av_opt_find(const_cast<const AVClass**>(&muxer->priv_class),
                                                   name, nullptr, 0, AV_OPT_SEARCH_FAKE_OBJ))
            continue;
        result.Found = true;
        AVFormatContext* raw = nullptr;
        if (ff::avformat_alloc_output_context2(&raw, muxer, nullptr, nullptr) < 0)
            continue;
        OutputFormatPtr context(raw);
        if (ff::av_opt_set(context.get(), name, value, AV_OPT_SEARCH_CHILDREN) >= 0)
            result.Valid = true;
    }
    return result;
}

} // namespace

bool TCustomFFmpeg::SetGenericOption(const std::string& Name, int64_t Value) {
    return SetGenericOption(Name, std::to_string(Value));
}

bool TCustomFFmpeg::SetGenericOption(const std::string& Name, const std::string& Value) {
    if (TrimBlanks(Name).empty() || TrimBlanks(Value).empty())
        return false;
    if (!OptionContexts.Created()) {
        if (!Loader().LibsLoaded(DefaultLibraries))
            return false;
        CreateOptionContexts();
    }
    bool found = false;
    bool valid = SetOptionOnTemplates(Name, Value, found);
    if (found && !valid) {
        ff::av_log(nullptr, AV_LOG_ERROR, "Invalid value \"%s\" for option \"%s\"\n", Value.c_str(),
                   Name.c_str());
        return false;
    }
    if (!found)
        return false;
    if (OptionContexts.Codecs[AVMEDIA_TYPE_VIDEO]->debug || OptionContexts.Format->debug)
        GetLogger()->SetLogLevel(llDebug);
    return true;
}

// Tries the codec templates, the format template, the scaler template, the name without its
// kind letter, and last the private options of encoders and muxers.
bool TCustomFFmpeg::SetOptionOnTemplates(const std::string& Name, const std::string& Value,
                                         bool& Found) {
    const char* name = Name.c_str();
    const char* value = Value.c_str();
    auto remember = [this](const AVOption* option, void* context) {
        auto& set = OptionContexts.SetOptions;
        if (std::none_of(set.begin(), set.end(), [&](const TOptionContexts::TSetOption& entry) {
                return entry.Option == option && entry.Template == context;
            }))
            set.push_back({option, context});
    };
    auto trySet = [&](void* context, const char* optionName, int flags) {
        const AVOption* option = ff::av_opt_find(context, optionName, nullptr, flags, 0);
        if (!option)
            return true;
        Found = true;
        if (ff::av_opt_set(context, optionName, value, 0) < 0)
            return false;
        remember(option, context);
        return true;
    };

    for (int kind = AVMEDIA_TYPE_VIDEO; kind <= AVMEDIA_TYPE_ATTACHMENT; ++kind)
        if (!trySet(OptionContexts.Codecs[kind].get(), name, KindFlags(kind)))
            return false;
    if (!Found && !trySet(OptionContexts.Format.get(), name, 0))
        return false;
    if (!Found && OptionContexts.Scaler) {
        if (!trySet(OptionContexts.Scaler.get(), name, 0))
            return false;
        int64_t flags = 0;
        if (Found && ff::av_opt_get_int(OptionContexts.Scaler.get(), "sws_flags", 0, &flags) >= 0)
            ScalerFlags = static_cast<int>(flags);
    }
    if (!Found && Name.size() > 1 && (Name[0] == 'a' || Name[0] == 'v' || Name[0] == 's')) {
        AVMediaType kind = Name[0] == 'a'   ? AVMEDIA_TYPE_AUDIO
                           : Name[0] == 'v' ? AVMEDIA_TYPE_VIDEO
                                            : AVMEDIA_TYPE_SUBTITLE;
        if (!trySet(OptionContexts.Codec(kind), name + 1, KindFlags(kind)))
            return false;
    }
    if (Found)
        return true;

    TPrivateResult codec = CheckCodecPrivateOption(name, value);
    if (codec.Found) {
        Found = true;
        for (int kind = 0; kind < AVMEDIA_TYPE_NB; ++kind)
            if (codec.Kinds[kind])
                DictSet(OptionContexts.CodecPrivate[kind], name, value);
        return codec.Valid;
    }
    TPrivateResult muxer = CheckMuxerPrivateOption(name, value);
    if (muxer.Found) {
        Found = true;
        if (muxer.Valid)
            DictSet(OptionContexts.FormatPrivate, name, value);
        return muxer.Valid;
    }
    return false;
}

void TCustomFFmpeg::CopyGenericOptions(void* Target, void* Template, int Mask) {
    if (!Target || !Template)
        return;
    for (const auto& [option, setOn] : OptionContexts.SetOptions) {
        if (setOn != Template || (option->flags & Mask) != Mask)
            continue;
        uint8_t* text = nullptr;
        if (ff::av_opt_get(Template, option->name, 0, &text) < 0)
            continue;
        ff::av_opt_set(Target, option->name, reinterpret_cast<const char*>(text), 0);
        ff::av_free(text);
    }
}

void TCustomFFmpeg::CollectPrivateOptions(AVMediaType Kind, const AVCodec* Codec,
                                          AVDictionary** Options) {
    if (!Codec || !Codec->priv_class || Kind < 0 || Kind >= AVMEDIA_TYPE_NB)
        return;
    const AVDictionaryEntry* entry = nullptr;
    while ((entry = ff::av_dict_get(OptionContexts.CodecPrivate[Kind].get(), "", entry,
                                    AV_DICT_IGNORE_SUFFIX)))
        if (ff::av_opt_find(const_cast<const AVClass**>(&Codec->priv_class), entry->key, nullptr, 0,
                            AV_OPT_SEARCH_FAKE_OBJ))
            ff::av_dict_set(Options, entry->key, entry->value, 0);
}
