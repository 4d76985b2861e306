// ReplayGain and R128 gain tags: placeholders and their filling in place (see GainTags.h).
#include "engine/GainTags.h"

#include "ffbind/FFUtils.h"
#include "ffbind/FFmpegLoader.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <fstream>
#include <iterator>
#include <set>
#include <vector>

namespace fs = std::filesystem;

namespace {

using TBytes = std::vector<unsigned char>;

enum TGainField { gfTrackGain, gfTrackPeak, gfAlbumGain, gfAlbumPeak };
struct TGainTag {
    const char* Key;
    TGainField Field;
};
constexpr TGainTag ReplayGainTags[] = {{"REPLAYGAIN_TRACK_GAIN", gfTrackGain},
                                       {"REPLAYGAIN_TRACK_PEAK", gfTrackPeak},
                                       {"REPLAYGAIN_ALBUM_GAIN", gfAlbumGain},
                                       {"REPLAYGAIN_ALBUM_PEAK", gfAlbumPeak}};
constexpr TGainTag R128Tags[] = {{"R128_TRACK_GAIN", gfTrackGain},
                                 {"R128_ALBUM_GAIN", gfAlbumGain}};

// Fixed widths: "-07.52 dB", "0.988553"; R128's Q7.8 integer as "-01925" or "000384" (its
// readers take leading zeros, not every one a '+').
std::string ValueText(TGainTagKind kind, TGainField field, const TLoudness* loudness) {
    const bool gain = field == gfTrackGain || field == gfAlbumGain;
    const bool measured = loudness && loudness->IntegratedLufs > SilenceLufs;
    if (kind == gkR128) {
        const double db = measured ? R128ReferenceLufs - loudness->IntegratedLufs : 0.0;
        return FormatText("%06ld", std::clamp(std::lround(db * 256.0), -32768L, 32767L));
    }
    if (gain) {
        const double db = measured ? ReplayGainReferenceLufs - loudness->IntegratedLufs : 0.0;
        return FormatText("%+06.2f dB", std::clamp(db, -99.99, 99.99));
    }
    const double peak = loudness ? std::pow(10.0, loudness->TruePeakDbtp / 20.0) : 0.0;
    return FormatText("%.6f", std::clamp(peak, 0.0, 9.999999));
}

template <typename F> void ForEachTag(TGainTagKind kind, F&& f) {
    if (kind == gkReplayGain)
        for (const TGainTag& tag : ReplayGainTags)
            f(tag);
    if (kind == gkR128)
        for (const TGainTag& tag : R128Tags)
            f(tag);
}

std::string LowerCase(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

// A file's bytes as the tags read: the file itself, or for Ogg its pages' bodies one after
// another (a comment may cross a page), with where each run of them lies in the file.
class TTagView {
public:
    struct TSpan {
        std::size_t ViewAt, FileAt, Size, PageAt;
    };
    TBytes Bytes;
    std::vector<TSpan> Spans; // empty: the view is the file
    // The span that holds a byte of the view; none when the view is the file.
    const TSpan* SpanAt(std::size_t viewAt) const {
        const auto after =
            std::upper_bound(Spans.begin(), Spans.end(), viewAt,
                             [](std::size_t at, const TSpan& span) { return at < span.ViewAt; });
        return after == Spans.begin() ? nullptr : &*std::prev(after);
    }
    std::size_t FileOffset(std::size_t viewAt) const {
        const TSpan* span = SpanAt(viewAt);
        return span ? span->FileAt + viewAt - span->ViewAt : viewAt;
    }
};

// Where the pages OggView reads begin.
constexpr std::size_t OggViewBytes = std::size_t{16} << 20;

// The header pages of an Ogg file (those before its first page of sound suffice: the tags are
// in the second packet), the pages that begin in the first 16 MiB.
TTagView OggView(const TBytes& file) {
    TTagView view;
    std::size_t at = 0;
    while (at + 27 <= file.size() && std::memcmp(&file[at], "OggS", 4) == 0 && at < OggViewBytes) {
        const int segments = file[at + 26];
        if (at + 27 + segments > file.size())
            break;
        std::size_t body = 0;
        for (int i = 0; i < segments; ++i)
            body += file[at + 27 + i];
        const std::size_t bodyAt = at + 27 + segments;
        if (bodyAt + body > file.size())
            break;
        view.Spans.push_back({view.Bytes.size(), bodyAt, body, at});
        view.Bytes.insert(view.Bytes.end(), file.begin() + bodyAt, file.begin() + bodyAt + body);
        at = bodyAt + body;
    }
    return view;
}

uint32_t OggCrc(const unsigned char* data, std::size_t size) {
    static const std::array<uint32_t, 256> table = [] {
        std::array<uint32_t, 256> t{};
        for (uint32_t i = 0; i < 256; ++i) {
            uint32_t r = i << 24;
            for (int b = 0; b < 8; ++b)
                r = r & 0x80000000u ? (r << 1) ^ 0x04c11db7u : r << 1;
            t[i] = r;
        }
        return t;
    }();
    uint32_t crc = 0;
    for (std::size_t i = 0; i < size; ++i)
        crc = (crc << 8) ^ table[((crc >> 24) ^ data[i]) & 0xff];
    return crc;
}

// Text in the encoding of the file's tags: one byte a character, or UTF-16LE (ASF).
TBytes Encoded(const std::string& text, int unitBytes) {
    TBytes bytes;
    for (char c : text) {
        bytes.push_back(static_cast<unsigned char>(c));
        if (unitBytes == 2)
            bytes.push_back(0);
    }
    return bytes;
}

// Where the value of a tag lies in the view: past its key and what separates them (a NUL, a
// '=', an ASF value type and length, an MPEG-4 data atom's header), the first character that
// can start a value, followed by as many value characters as the value has. npos: not there.
std::size_t ValueAt(const TBytes& view, const std::string& key, std::size_t width, int unitBytes) {
    const TBytes wanted = Encoded(key, unitBytes);
    auto found = std::search(view.begin(), view.end(), wanted.begin(), wanted.end());
    if (found == view.end())
        return std::string::npos;
    const auto isValue = [&](std::size_t at, const char* allowed) {
        return at + unitBytes <= view.size() && view[at] != 0 && std::strchr(allowed, view[at]) &&
               (unitBytes == 1 || view[at + 1] == 0);
    };
    const std::size_t keyEnd = static_cast<std::size_t>(found - view.begin()) + wanted.size();
    for (std::size_t at = keyEnd; at < keyEnd + 24 * unitBytes; at += unitBytes) {
        if (!isValue(at, "+-0123456789"))
            continue;
        for (std::size_t i = 0; i < width; ++i)
            if (!isValue(at + i * unitBytes, "+-0123456789. dB"))
                return std::string::npos;
        return at;
    }
    return std::string::npos;
}

// A box of MPEG-4: its size and type, then its content.
TBytes Box(const char* type, const TBytes& content) {
    TBytes box(8 + content.size());
    const uint32_t size = static_cast<uint32_t>(box.size());
    for (int i = 0; i < 4; ++i)
        box[i] = static_cast<unsigned char>(size >> (24 - 8 * i));
    std::memcpy(&box[4], type, 4);
    std::copy(content.begin(), content.end(), box.begin() + 8);
    return box;
}

TBytes Concat(std::initializer_list<TBytes> parts) {
    std::size_t size = 0;
    for (const TBytes& part : parts)
        size += part.size();
    TBytes all(size);
    auto at = all.begin();
    for (const TBytes& part : parts)
        at = std::copy(part.begin(), part.end(), at);
    return all;
}

// The iTunes free-form item ("----" of mean "com.apple.iTunes") taggers write ReplayGain in.
TBytes FreeFormItem(const std::string& name, const std::string& value) {
    const TBytes version(4, 0);
    const std::string mean = "com.apple.iTunes";
    return Box("----", Concat({Box("mean", Concat({version, TBytes(mean.begin(), mean.end())})),
                               Box("name", Concat({version, TBytes(name.begin(), name.end())})),
                               Box("data", Concat({TBytes{0, 0, 0, 1}, version,
                                                   TBytes(value.begin(), value.end())}))}));
}

uint32_t BoxSize(const TBytes& bytes, std::size_t at) {
    return uint32_t{bytes[at]} << 24 | uint32_t{bytes[at + 1]} << 16 |
           uint32_t{bytes[at + 2]} << 8 | bytes[at + 3];
}

// The child box of a type among [from, to); npos when absent.
std::size_t FindBox(const TBytes& bytes, std::size_t from, std::size_t to, const char* type) {
    for (std::size_t at = from; at + 8 <= to;) {
        const uint32_t size = BoxSize(bytes, at);
        if (size < 8 || at + size > to)
            return std::string::npos;
        if (std::memcmp(&bytes[at + 4], type, 4) == 0)
            return at;
        at += size;
    }
    return std::string::npos;
}

// The file with the items added to its moov box's udta/meta/ilst (made when missing). The moov
// box must follow the sound's data, so that no chunk offset moves; an empty result otherwise.
TBytes WithFreeFormItems(const TBytes& file, const TBytes& items) {
    std::size_t moov = std::string::npos;
    bool dataAfterMoov = false;
    for (std::size_t at = 0; at + 8 <= file.size();) {
        const uint32_t size = BoxSize(file, at);
        if (size < 8 || at + size > file.size())
            return {};
        if (std::memcmp(&file[at + 4], "moov", 4) == 0)
            moov = at;
        dataAfterMoov |= moov != std::string::npos && std::memcmp(&file[at + 4], "mdat", 4) == 0;
        at += size;
    }
    if (moov == std::string::npos || dataAfterMoov)
        return {};
    // The chain moov > udta > meta (a full box: 4 bytes of version) > ilst, from the inside out.
    std::vector<std::size_t> chain = {moov};
    const char* const types[] = {"udta", "meta", "ilst"};
    for (const char* type : types) {
        const std::size_t parent = chain.back();
        const std::size_t contentAt = parent + 8 + (std::strcmp(type, "ilst") == 0 ? 4 : 0);
        const std::size_t found = FindBox(file, contentAt, parent + BoxSize(file, parent), type);
        if (found == std::string::npos)
            break;
        chain.push_back(found);
    }
    TBytes inserted = items;
    const std::size_t depth = chain.size();
    if (depth < 4)
        inserted = Box("ilst", inserted);
    if (depth < 3) {
        const TBytes handler = {0,   0,   0,   0, 0, 0, 0, 0, 'm', 'd', 'i', 'r', 'a',
                                'p', 'p', 'l', 0, 0, 0, 0, 0, 0,   0,   0,   0};
        inserted = Box("meta", Concat({TBytes(4, 0), Box("hdlr", handler), inserted}));
    }
    if (depth < 2)
        inserted = Box("udta", inserted);
    TBytes result = file;
    const std::size_t innermost = chain.back();
    const std::size_t insertAt = innermost + BoxSize(file, innermost);
    result.insert(result.begin() + static_cast<std::ptrdiff_t>(insertAt), inserted.begin(),
                  inserted.end());
    for (std::size_t box : chain) {
        const uint32_t size = BoxSize(file, box) + static_cast<uint32_t>(inserted.size());
        for (int i = 0; i < 4; ++i)
            result[box + i] = static_cast<unsigned char>(size >> (24 - 8 * i));
    }
    return result;
}

std::string ReplaceFile(const fs::path& file, const TBytes& bytes) {
    const fs::path part = file.parent_path() / ("." + file.filename().string() + ".gain-part");
    {
        std::ofstream out(part, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(bytes.data()),
                  static_cast<std::streamsize>(bytes.size()));
        if (!out.flush()) {
            std::error_code ignored;
            fs::remove(part, ignored);
            return "cannot write " + part.string();
        }
    }
    std::error_code error;
    fs::permissions(part, fs::status(file, error).permissions(), error);
    fs::rename(part, file, error);
    if (error) {
        fs::remove(part, error);
        return "cannot replace " + file.string();
    }
    return "";
}

// How a file carries its tags, told by its first bytes.
enum TTagContainer { tcNone, tcId3, tcFlac, tcOgg, tcMp4, tcAsf };

TTagContainer ContainerOf(const TBytes& head) {
    const auto starts = [&](std::size_t at, const char* magic, std::size_t size) {
        return head.size() >= at + size && std::memcmp(&head[at], magic, size) == 0;
    };
    return starts(0, "OggS", 4)               ? tcOgg
           : starts(4, "ftyp", 4)             ? tcMp4
           : starts(0, "\x30\x26\xb2\x75", 4) ? tcAsf
           : starts(0, "ID3", 3)              ? tcId3
           : starts(0, "fLaC", 4)             ? tcFlac
                                              : tcNone;
}

// Up to size bytes from the file at an offset (fewer at its end).
TBytes ReadAt(std::istream& in, std::size_t at, std::size_t size) {
    TBytes bytes(size);
    in.clear();
    in.seekg(static_cast<std::streamoff>(at));
    in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(size));
    bytes.resize(in ? size : static_cast<std::size_t>(std::max<std::streamsize>(in.gcount(), 0)));
    in.clear();
    return bytes;
}

uint32_t BigEndian(const TBytes& bytes, std::size_t at, int count) {
    uint32_t value = 0;
    for (int i = 0; i < count && at + i < bytes.size(); ++i)
        value = value << 8 | bytes[at + i];
    return value;
}

// The bytes of an Ogg file's header pages (granule position 0, or -1 on a page that a header
// only continues over), where the tags are, before its first page of sound.
std::size_t OggHeaderPagesBytes(std::istream& in) {
    std::size_t at = 0;
    while (at < OggViewBytes) {
        const TBytes header = ReadAt(in, at, 27);
        if (header.size() < 27 || std::memcmp(header.data(), "OggS", 4) != 0)
            break;
        uint64_t granule = 0;
        for (int i = 13; i >= 6; --i)
            granule = granule << 8 | header[i];
        if (granule != 0 && granule != ~uint64_t{0})
            break;
        const TBytes lacing = ReadAt(in, at + 27, header[26]);
        at += 27 + lacing.size();
        for (const unsigned char size : lacing)
            at += size;
    }
    return at;
}

// How many leading bytes of the file hold its tags: ID3v2's tag, FLAC's metadata blocks, ASF's
// header object, Ogg's header pages; the whole file for MPEG-4, whose tags lie after
// its sound.
std::size_t TagBytes(std::istream& in, TTagContainer container, std::size_t fileBytes) {
    switch (container) {
    case tcId3: {
        const TBytes header = ReadAt(in, 0, 10);
        std::size_t size = 0;
        for (std::size_t i = 6; i < header.size(); ++i)
            size = size << 7 | (header[i] & 0x7f);
        return 10 + size + (header.size() > 5 && (header[5] & 0x10) ? 10 : 0);
    }
    case tcFlac: {
        std::size_t at = 4;
        for (bool last = false; !last && at < fileBytes;) {
            const TBytes header = ReadAt(in, at, 4);
            if (header.size() < 4)
                break;
            last = (header[0] & 0x80) != 0;
            at += 4 + BigEndian(header, 1, 3);
        }
        return at;
    }
    case tcAsf: {
        const TBytes size = ReadAt(in, 16, 8);
        uint64_t bytes = 0;
        for (std::size_t i = size.size(); i-- > 0;)
            bytes = bytes << 8 | size[i];
        return static_cast<std::size_t>(std::min<uint64_t>(bytes, fileBytes));
    }
    case tcOgg:
        return OggHeaderPagesBytes(in);
    case tcMp4:
    case tcNone:
        break;
    }
    return fileBytes;
}

// Sets the CRC of the Ogg page at page after its body changed; the page's size.
std::size_t SealOggPage(TBytes& file, std::size_t page) {
    const std::size_t segments = file[page + 26];
    std::size_t size = 27 + segments;
    for (std::size_t i = 0; i < segments; ++i)
        size += file[page + 27 + i];
    std::fill_n(file.begin() + static_cast<long>(page) + 22, 4, 0);
    const uint32_t crc = OggCrc(&file[page], size);
    for (int i = 0; i < 4; ++i)
        file[page + 22 + i] = static_cast<unsigned char>(crc >> (8 * i));
    return size;
}

} // namespace

TGainTagKind GainTagKindOf(const char* muxerName, AVCodecID soundCodec) {
    if (soundCodec == AV_CODEC_ID_OPUS)
        return gkR128;
    for (const char* name : {"mp3", "flac", "ogg", "oga", "ipod", "mp4", "mov", "asf"})
        if (std::strcmp(muxerName, name) == 0)
            return gkReplayGain;
    return gkNone;
}

void DropGainTags(AVDictionary** tags) {
    for (TGainTagKind kind : {gkReplayGain, gkR128})
        ForEachTag(kind, [&](const TGainTag& tag) { ff::av_dict_set(tags, tag.Key, nullptr, 0); });
    ff::av_dict_set(tags, "REPLAYGAIN_REFERENCE_LOUDNESS", nullptr, 0);
}

void AddGainPlaceholders(AVDictionary** tags, TGainTagKind kind) {
    ForEachTag(kind, [&](const TGainTag& tag) {
        ff::av_dict_set(tags, tag.Key, ValueText(kind, tag.Field, nullptr).c_str(), 0);
    });
}

std::string WriteGainTags(const fs::path& file, const TLoudness& track, const TLoudness& album) {
    std::fstream io(file, std::ios::binary | std::ios::in | std::ios::out);
    std::error_code error;
    const std::size_t fileBytes = fs::file_size(file, error);
    if (!io.is_open() || error)
        return "cannot open " + file.string();
    const TTagContainer container = ContainerOf(ReadAt(io, 0, 64));
    if (container == tcNone)
        return "no ReplayGain tags in this kind of file";
    // Only the bytes that hold the tags are read; the filled values are written in place.
    const TBytes bytes = ReadAt(io, 0, std::min(fileBytes, TagBytes(io, container, fileBytes)));
    const bool ogg = container == tcOgg, mp4 = container == tcMp4;
    const auto starts = [&](std::size_t at, const char* magic) {
        return bytes.size() >= at + std::strlen(magic) &&
               std::memcmp(&bytes[at], magic, std::strlen(magic)) == 0;
    };
    const TGainTagKind kind = ogg && starts(28, "OpusHead") ? gkR128 : gkReplayGain;

    const TTagView view = ogg ? OggView(bytes) : TTagView{bytes, {}};
    TBytes written = bytes;
    const int unitBytes = container == tcAsf ? 2 : 1;
    TBytes missingItems;
    std::set<std::pair<std::size_t, std::size_t>> changed; // in the file: where, how many bytes
    ForEachTag(kind, [&](const TGainTag& tag) {
        const bool ofTrack = tag.Field == gfTrackGain || tag.Field == gfTrackPeak;
        const std::string value = ValueText(kind, tag.Field, ofTrack ? &track : &album);
        const std::string key = mp4 ? LowerCase(tag.Key) : tag.Key;
        const std::size_t at = ValueAt(view.Bytes, key, value.size(), unitBytes);
        if (at == std::string::npos) {
            missingItems = Concat({missingItems, FreeFormItem(key, value)});
            return;
        }
        const TBytes encoded = Encoded(value, unitBytes);
        for (std::size_t i = 0; i < encoded.size(); ++i) {
            written[view.FileOffset(at + i)] = encoded[i];
            // An Ogg page is written whole, its checksum renewed (sized below).
            if (const TTagView::TSpan* span = view.SpanAt(at + i))
                changed.emplace(span->PageAt, 0);
        }
        if (!ogg)
            changed.emplace(at, encoded.size());
    });
    if (!missingItems.empty() && !mp4)
        return "no ReplayGain placeholders in " + file.string();
    if (!missingItems.empty()) {
        written = WithFreeFormItems(written, missingItems);
        if (written.empty())
            return "cannot add ReplayGain tags to " + file.string();
        io.close();
        return ReplaceFile(file, written);
    }
    for (auto [at, size] : changed) {
        if (ogg)
            size = SealOggPage(written, at);
        if (!io.seekp(static_cast<std::streamoff>(at)) ||
            !io.write(reinterpret_cast<const char*>(&written[at]),
                      static_cast<std::streamsize>(size)))
            return "cannot write " + file.string();
    }
    return io.flush() ? "" : "cannot write " + file.string();
}
