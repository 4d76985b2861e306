// The name template: parsing, tag lookup and the file-system-safe expansion.
#include "component/NameTemplate.h"

#include "ffbind/FFmpegApi.h"
#include "ffbind/TextUtils.h"
#include "probe/AVProbe.h"

#include <charconv>
#include <set>

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
                                                              {"totaldiscs", "1"},
                                                              {"totaltracks", "0"},
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

bool IsNumberField(const std::string& field) {
    return field == "track" || field == "disc" || field == "totaldiscs" || field == "totaltracks";
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

// The first of the tags present, or "".
std::string FirstTag(const TTagMap& tags, std::initializer_list<const char*> keys) {
    for (const char* key : keys)
        if (std::string value = Tag(tags, key); !value.empty())
            return value;
    return "";
}

// A total: its own tag, else the "N" of a number written "n/N".
std::string Total(const TTagMap& tags, std::initializer_list<const char*> keys,
                  const std::string& numberWithTotal) {
    const std::string total = FirstTag(tags, keys);
    const std::size_t slash = numberWithTotal.find('/');
    return !total.empty() || slash == std::string::npos ? total : numberWithTotal.substr(slash + 1);
}

// A field's text for one input as its tags give it; "" when they do not.
std::string TaggedValue(const std::string& field, const TTagMap& tags,
                        const fs::path& relativeInput) {
    if (field == "albumartist")
        return FirstTag(tags, {"albumartist", "album_artist", "artist"});
    if (field == "filename")
        return relativeInput.stem().string();
    if (field == "dir")
        return relativeInput.parent_path().string();
    const std::string disc = FirstTag(tags, {"disc", "disk"});
    if (field == "disc")
        return disc;
    if (field == "totaldiscs")
        return Total(tags, {"disctotal", "totaldiscs"}, disc);
    if (field == "totaltracks")
        return Total(tags, {"tracktotal", "totaltracks"}, Tag(tags, "track"));
    return Tag(tags, field);
}

// Whether a field counts as present in a conditional section: tagged, and for the disc number
// only when the album has more than one disc (or its total is unknown), so that single-disc
// albums leave it out.
bool Present(const std::string& field, const TTagMap& tags, const fs::path& relativeInput) {
    if (TaggedValue(field, tags, relativeInput).empty())
        return false;
    if (field != "disc")
        return true;
    const std::string total = TaggedValue("totaldiscs", tags, relativeInput);
    return total.empty() || Padded(total, 0) != "1";
}

// A field's text for one input.
std::string FieldValue(const std::string& field, int padWidth, const TTagMap& tags,
                       const fs::path& relativeInput) {
    std::string value = TaggedValue(field, tags, relativeInput);
    if (field == "title" && value.empty())
        value = relativeInput.stem().string();
    if (field == "dir")
        return value;
    if (value.empty())
        value = FieldFallback(field);
    return IsNumberField(field) ? Padded(value, padWidth) : value;
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
    int section = 0, sections = 0;
    for (std::size_t at = 0; at < text.size();) {
        // "<" and ">" (which no file name may hold) enclose a conditional section.
        if (text[at] == '<' || text[at] == '>') {
            if ((text[at] == '<') == (section != 0)) {
                error = std::string(section ? "'<' inside" : "'>' without") +
                        " a '<' section in name template '" + text + "'";
                return std::nullopt;
            }
            section = text[at++] == '<' ? ++sections : 0;
            continue;
        }
        const std::size_t open = text.find_first_of("{<>", at);
        if (open != at) {
            parsed.Pieces.push_back({text.substr(at, open - at), false, 0, section});
            at = open;
            continue;
        }
        const std::size_t close = text.find('}', open);
        if (close == std::string::npos) {
            error = "unclosed '{' in name template '" + text + "'";
            return std::nullopt;
        }
        TPiece field{text.substr(open + 1, close - open - 1), true, 0, section};
        if (const std::size_t colon = field.Text.find(':'); colon != std::string::npos) {
            const std::string width = field.Text.substr(colon + 1);
            field.Text.resize(colon);
            const std::optional<int> padding = WholeInteger<int>(width);
            field.PadWidth = padding.value_or(-1);
            if (field.PadWidth < 0 || field.PadWidth > 9 || !IsNumberField(field.Text)) {
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
    if (section != 0) {
        error = "unclosed '<' in name template '" + text + "'";
        return std::nullopt;
    }
    return parsed;
}

TNamePath TNameTemplate::Expand(const TTagMap& tags, const fs::path& relativeInput) const {
    // Only the template's own "/" and the input's own folders ({dir}) separate the parts.
    std::vector<std::string> parts(1);
    const fs::path folders = relativeInput.parent_path();
    std::set<int> hidden; // the sections with a field that is not present
    for (const TPiece& piece : Pieces)
        if (piece.Field && piece.Section && !Present(piece.Text, tags, relativeInput))
            hidden.insert(piece.Section);
    for (const TPiece& piece : Pieces) {
        if (hidden.count(piece.Section))
            continue;
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
    std::erase(parts, std::string());
    return parts.empty() ? TNamePath{relativeInput.stem().string()} : parts;
}
