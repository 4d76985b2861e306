// Tags as taggers write them in each container (see ContainerTags.h).
#include "engine/ContainerTags.h"

#include "ffbind/FFmpegLoader.h"

#include <cstring>
#include <fstream>
#include <string>
#include <vector>

namespace {

enum TNumberCarriage { ncUntouched, ncWithTotal, ncApart };

TNumberCarriage CarriageOf(const char* muxerName) {
    for (const char* name : {"mp3", "ipod", "mp4", "mov"})
        if (std::strcmp(muxerName, name) == 0)
            return ncWithTotal;
    for (const char* name : {"ogg", "oga", "opus", "spx", "flac", "asf"})
        if (std::strcmp(muxerName, name) == 0)
            return ncApart;
    return ncUntouched;
}

struct TNumberKeys {
    const char* Number;
    const char* Total;
    const char* OtherTotal;
};
constexpr TNumberKeys NumberKeys[] = {{"track", "TRACKTOTAL", "TOTALTRACKS"},
                                      {"disc", "DISCTOTAL", "TOTALDISCS"}};

std::string Value(AVDictionary* tags, const char* key) {
    const AVDictionaryEntry* entry = ff::av_dict_get(tags, key, nullptr, 0);
    return entry ? entry->value : "";
}

// Renames the first present of aliases to key, unless key is set already; all aliases go.
void Rename(AVDictionary** tags, const char* key, std::initializer_list<const char*> aliases) {
    for (const char* alias : aliases) {
        const std::string value = Value(*tags, alias);
        if (value.empty())
            continue;
        ff::av_dict_set(tags, alias, nullptr, 0);
        ff::av_dict_set(tags, key, value.c_str(), AV_DICT_DONT_OVERWRITE);
    }
}

void FoldTotal(AVDictionary** tags, const TNumberKeys& keys) {
    std::string total = Value(*tags, keys.Total);
    if (total.empty())
        total = Value(*tags, keys.OtherTotal);
    ff::av_dict_set(tags, keys.Total, nullptr, 0);
    ff::av_dict_set(tags, keys.OtherTotal, nullptr, 0);
    const std::string number = Value(*tags, keys.Number);
    if (number.empty() || total.empty() || number.find('/') != std::string::npos)
        return;
    ff::av_dict_set(tags, keys.Number, (number + "/" + total).c_str(), 0);
}

void SplitTotal(AVDictionary** tags, const TNumberKeys& keys) {
    Rename(tags, keys.Total, {keys.OtherTotal});
    const std::string number = Value(*tags, keys.Number);
    const size_t slash = number.find('/');
    if (slash == std::string::npos)
        return;
    const std::string total = number.substr(slash + 1);
    if (!total.empty())
        ff::av_dict_set(tags, keys.Total, total.c_str(), AV_DICT_DONT_OVERWRITE);
    ff::av_dict_set(tags, keys.Number, number.substr(0, slash).c_str(), 0);
}

} // namespace

void MapTagsForContainer(AVDictionary** tags, const char* muxerName) {
    const TNumberCarriage carriage = CarriageOf(muxerName);
    if (carriage == ncUntouched || ff::av_dict_count(*tags) == 0)
        return;
    Rename(tags, "album_artist", {"albumartist", "album artist"});
    Rename(tags, "compilation", {"itunescompilation"});
    for (const TNumberKeys& keys : NumberKeys)
        if (carriage == ncWithTotal)
            FoldTotal(tags, keys);
        else
            SplitTotal(tags, keys);
}

bool WriteCompilationFrame(const std::filesystem::path& mp3File) {
    std::fstream file(mp3File, std::ios::binary | std::ios::in | std::ios::out);
    unsigned char header[10] = {};
    if (!file.read(reinterpret_cast<char*>(header), sizeof header))
        return false;
    const int version = header[3];
    if (std::memcmp(header, "ID3", 3) != 0 || (version != 3 && version != 4) || (header[5] & 0xc0))
        return true; // no tag, or one this does not rewrite (unsynchronised, extended header)
    auto number = [](const unsigned char* bytes, bool syncSafe) {
        std::size_t value = 0;
        for (int i = 0; i < 4; ++i)
            value = syncSafe ? value << 7 | (bytes[i] & 0x7f) : value << 8 | bytes[i];
        return value;
    };
    std::vector<unsigned char> tag(number(header + 6, true));
    if (!file.read(reinterpret_cast<char*>(tag.data()), static_cast<std::streamsize>(tag.size())))
        return false;
    // The user frame "TXXX", encoding ISO 8859-1 or UTF-8, described "TCMP".
    static const unsigned char description[] = {'T', 'C', 'M', 'P', 0};
    for (std::size_t at = 0; at + 10 <= tag.size() && tag[at] != 0;) {
        const std::size_t size = number(&tag[at + 4], version == 4);
        if (at + 10 + size > tag.size())
            return true;
        const unsigned char* content = &tag[at + 10];
        if (std::memcmp(&tag[at], "TXXX", 4) != 0 || size < 6 ||
            (content[0] != 0 && content[0] != 3) ||
            std::memcmp(content + 1, description, sizeof description) != 0) {
            at += 10 + size;
            continue;
        }
        // The frame becomes "TCMP" with the encoding byte and the value; what follows moves up
        // and the freed bytes become padding.
        const std::size_t removed = sizeof description;
        std::memcpy(&tag[at], "TCMP", 4);
        const std::size_t newSize = size - removed;
        for (int i = 0; i < 4; ++i)
            tag[at + 4 + i] = static_cast<unsigned char>(
                version == 4 ? (newSize >> (21 - 7 * i)) & 0x7f : (newSize >> (24 - 8 * i)) & 0xff);
        tag.erase(tag.begin() + static_cast<long>(at + 11),
                  tag.begin() + static_cast<long>(at + 11 + removed));
        tag.insert(tag.end(), removed, 0);
        file.seekp(sizeof header);
        return static_cast<bool>(file.write(reinterpret_cast<const char*>(tag.data()),
                                            static_cast<std::streamsize>(tag.size())));
    }
    return true;
}
