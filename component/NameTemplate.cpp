// The name template: parsing, tag lookup and the file-system-safe expansion.
#include "component/NameTemplate.h"

#include "ffbind/FFmpegApi.h"
#include "ffbind/TextUtils.h"
#include "probe/AVProbe.h"

#include <charconv>

namespace fs = std::filesystem;

namespace {

// The fields with what a missing tag falls back to; an empty fallback has its own rule.
const std::map<std::string, std::string>& Fields() {
    static const std::map<std::string, std::string> fields = {{"artist", "Unknown Artist"},
                                                              {"albumartist", "Unknown Artist"},
                                                              {"album", "Unknown Album"},
                                                              {"title", ""},
                                                              {"track", "0"},
                                                              {"disc", "1"},
                                                              {"date", "Unknown Date"},
                                                              {"genre", "Unknown Genre"},
                                                              {"filename", ""},
                                                              {"dir", ""}};
    return fields;
}

void AddTags(const AVDictionary* dictionary, TTagMap& tags) {
    const AVDictionaryEntry* entry = nullptr;
    while ((entry = ff::av_dict_get(dictionary, "", entry, AV_DICT_IGNORE_SUFFIX)))
        tags.emplace(LowerCase(entry->key), entry->value); // the first of a key wins
}

std::string Tag(const TTagMap& tags, const std::string& key) {
    const auto found = tags.find(key);
    return found == tags.end() ? std::string() : found->second;
}

// "3/12" and "03" give "3"; a value that is not a number stays as it is.
std::string Padded(const std::string& value, int width) {
    int number = 0;
    const auto [end, error] = std::from_chars(value.data(), value.data() + value.size(), number);
    if (error != std::errc() || end == value.data() ||
        (end != value.data() + value.size() && *end != '/'))
        return value;
    std::string digits = std::to_string(number);
    if (static_cast<int>(digits.size()) < width)
        digits.insert(0, static_cast<std::size_t>(width) - digits.size(), '0');
    return digits;
}

// A field's text for one input.
std::string FieldValue(const std::string& field, int padWidth, const TTagMap& tags,
                       const fs::path& relativeInput) {
    std::string value = Tag(tags, field);
    if (field == "albumartist" && value.empty())
        value = Tag(tags, "album_artist");
    if (field == "albumartist" && value.empty())
        value = Tag(tags, "artist");
    if ((field == "title" && value.empty()) || field == "filename")
        value = relativeInput.stem().string();
    if (field == "disc" && value.empty())
        value = Tag(tags, "disk");
    if (field == "dir")
        return relativeInput.parent_path().string();
    if (value.empty())
        value = FieldFallback(field);
    return field == "track" || field == "disc" ? Padded(value, padWidth) : value;
}

} // namespace

TTagMap ProbedTags(const TAVProbe& probe) {
    TTagMap tags;
    const AVFormatContext* context = probe.FormatContext();
    if (!context)
        return tags;
    AddTags(context->metadata, tags);
    for (unsigned i = 0; i < context->nb_streams; ++i)
        if (context->streams[i]->codecpar->codec_type == AVMEDIA_TYPE_AUDIO) {
            AddTags(context->streams[i]->metadata, tags);
            break;
        }
    return tags;
}

std::string FieldFallback(const std::string& field) {
    const auto found = Fields().find(field);
    return found == Fields().end() ? std::string() : found->second;
}

std::optional<TNameTemplate> TNameTemplate::Parse(const std::string& text, std::string& error) {
    TNameTemplate parsed;
    for (std::size_t at = 0; at < text.size();) {
        const std::size_t open = text.find('{', at);
        if (open != at) {
            parsed.Pieces.push_back({text.substr(at, open - at)});
            at = open;
            continue;
        }
        const std::size_t close = text.find('}', open);
        if (close == std::string::npos) {
            error = "unclosed '{' in name template '" + text + "'";
            return std::nullopt;
        }
        TPiece field{text.substr(open + 1, close - open - 1), true};
        if (const std::size_t colon = field.Text.find(':'); colon != std::string::npos) {
            const std::string width = field.Text.substr(colon + 1);
            field.Text.resize(colon);
            const std::optional<int> padding = WholeInteger<int>(width);
            field.PadWidth = padding.value_or(-1);
            if (field.PadWidth < 0 || field.PadWidth > 9 ||
                (field.Text != "track" && field.Text != "disc")) {
                error = "bad padding in '{" + text.substr(open + 1, close - open - 1) + "}'";
                return std::nullopt;
            }
        }
        if (!Fields().count(field.Text)) {
            error = "unknown field '{" + field.Text + "}' in name template";
            return std::nullopt;
        }
        parsed.Pieces.push_back(field);
        at = close + 1;
    }
    return parsed;
}

fs::path TNameTemplate::Expand(const TTagMap& tags, const fs::path& relativeInput) const {
    // Parts are built whole and made safe one by one; only the template's own "/" and the
    // input's own folders ({dir}) separate them.
    std::vector<std::string> parts(1);
    const fs::path folders = relativeInput.parent_path();
    for (const TPiece& piece : Pieces) {
        if (piece.Field && piece.Text == "dir") {
            for (const fs::path& folder : folders) {
                parts.back() += folder.string();
                parts.emplace_back();
            }
            continue;
        }
        if (piece.Field) {
            parts.back() += FieldValue(piece.Text, piece.PadWidth, tags, relativeInput);
            continue;
        }
        for (const char c : piece.Text) {
            if (c == '/')
                parts.emplace_back();
            else
                parts.back() += c;
        }
    }
    fs::path path;
    for (const std::string& part : parts)
        if (!part.empty())
            path /= SafeNamePart(part);
    return path.empty() ? fs::path(SafeNamePart(relativeInput.stem().string())) : path;
}
