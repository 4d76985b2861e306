// The audio tracks of an input.
#include "component/AudioTracks.h"

#include "ffbind/AudioStreamChoice.h"
#include "ffbind/FFmpegApi.h"
#include "ffbind/TextUtils.h"

#include <algorithm>
#include <array>

namespace {

// The languages files are most often tagged with: ISO 639-1, 639-2/B and 639-2/T.
struct TLanguageCodes {
    const char* TwoLetter;
    const char* Bibliographic;
    const char* Terminology;
};
constexpr std::array<TLanguageCodes, 32> Languages = {{
    {"ar", "ara", "ara"}, {"cs", "cze", "ces"}, {"da", "dan", "dan"}, {"de", "ger", "deu"},
    {"el", "gre", "ell"}, {"en", "eng", "eng"}, {"es", "spa", "spa"}, {"fa", "per", "fas"},
    {"fi", "fin", "fin"}, {"fr", "fre", "fra"}, {"he", "heb", "heb"}, {"hi", "hin", "hin"},
    {"hu", "hun", "hun"}, {"it", "ita", "ita"}, {"ja", "jpn", "jpn"}, {"ko", "kor", "kor"},
    {"nl", "dut", "nld"}, {"no", "nor", "nor"}, {"pl", "pol", "pol"}, {"pt", "por", "por"},
    {"ro", "rum", "ron"}, {"ru", "rus", "rus"}, {"sk", "slo", "slk"}, {"sv", "swe", "swe"},
    {"th", "tha", "tha"}, {"tr", "tur", "tur"}, {"uk", "ukr", "ukr"}, {"vi", "vie", "vie"},
    {"zh", "chi", "zho"}, {"is", "ice", "isl"}, {"hy", "arm", "hye"}, {"ka", "geo", "kat"},
}};

const TLanguageCodes* LanguageOf(const std::string& code) {
    for (const TLanguageCodes& language : Languages)
        if (code == language.TwoLetter || code == language.Bibliographic ||
            code == language.Terminology)
            return &language;
    return nullptr;
}

bool SameLanguage(const std::string& tagged, const std::string& asked) {
    const std::string a = LowerCase(tagged), b = LowerCase(asked);
    if (a.empty() || b.empty())
        return false;
    if (a == b)
        return true;
    const TLanguageCodes* language = LanguageOf(a);
    return language && language == LanguageOf(b);
}

std::string Tag(const AVDictionary* tags, const char* key) {
    const AVDictionaryEntry* entry = ff::av_dict_get(tags, key, nullptr, 0);
    return entry ? entry->value : "";
}

} // namespace

std::vector<TAudioTrack> AudioTracksOf(const AVFormatContext& input) {
    std::vector<TAudioTrack> tracks;
    const int chosen = ChosenAudioStream(input);
    for (int index = 0; index < static_cast<int>(input.nb_streams); ++index) {
        const AVStream* stream = input.streams[index];
        if (stream->codecpar->codec_type != AVMEDIA_TYPE_AUDIO)
            continue;
        TAudioTrack track;
        track.StreamIndex = index;
        track.Number = static_cast<int>(tracks.size()) + 1;
        track.Language = Tag(stream->metadata, "language");
        if (track.Language == "und")
            track.Language.clear();
        track.Codec = ff::avcodec_get_name(stream->codecpar->codec_id);
        track.Channels = stream->codecpar->ch_layout.nb_channels;
        track.Title = Tag(stream->metadata, "title");
        track.Default = index == chosen;
        tracks.push_back(track);
    }
    return tracks;
}

const TAudioTrack* DefaultAudioTrack(const std::vector<TAudioTrack>& tracks) {
    auto flagged = std::find_if(tracks.begin(), tracks.end(),
                                [](const TAudioTrack& track) { return track.Default; });
    return flagged != tracks.end() ? &*flagged : tracks.empty() ? nullptr : &tracks.front();
}

const TAudioTrack* FindAudioTrack(const std::vector<TAudioTrack>& tracks, const std::string& name) {
    if (const std::optional<int> number = WholeInteger<int>(name))
        return *number >= 1 && *number <= static_cast<int>(tracks.size()) ? &tracks[*number - 1]
                                                                          : nullptr;
    for (const TAudioTrack& track : tracks)
        if (SameLanguage(track.Language, name))
            return &track;
    return nullptr;
}

std::string AudioTrackCaption(const TAudioTrack& track) {
    std::string caption = std::to_string(track.Number) + ": " +
                          (track.Language.empty() ? "unknown language" : track.Language) + ", " +
                          track.Codec + ", " + std::to_string(track.Channels) + " ch";
    if (!track.Title.empty())
        caption += ", " + track.Title;
    return track.Default ? caption + " (default)" : caption;
}
