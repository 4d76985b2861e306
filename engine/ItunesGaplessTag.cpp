// Writing iTunSMPB into the item list of a finished MPEG-4 file.
#include "engine/ItunesGaplessTag.h"

#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <optional>

namespace {

using TBytes = std::vector<uint8_t>;

uint64_t ReadBig(const TBytes& bytes, std::size_t at, int count) {
    uint64_t value = 0;
    for (int i = 0; i < count; ++i)
        value = value << 8 | bytes[at + i];
    return value;
}

void WriteBig(TBytes& bytes, std::size_t at, int count, uint64_t value) {
    for (int i = count - 1; i >= 0; --i, value >>= 8)
        bytes[at + i] = static_cast<uint8_t>(value);
}

struct TBox {
    std::size_t Offset = 0;
    std::size_t HeaderBytes = 0;
    uint64_t Size = 0;
    std::size_t Content() const { return Offset + HeaderBytes; }
    std::size_t End() const { return Offset + Size; }
    bool Found() const { return Size != 0; }
};

// The boxes of a type among those in [begin, end); none on a box that does not fit.
std::vector<TBox> Children(const TBytes& bytes, std::size_t begin, std::size_t end,
                           const char* type) {
    std::vector<TBox> found;
    for (std::size_t at = begin; at + 8 <= end;) {
        TBox box{at, 8, ReadBig(bytes, at, 4)};
        if (box.Size == 1 && at + 16 <= end) {
            box.HeaderBytes = 16;
            box.Size = ReadBig(bytes, at + 8, 8);
        } else if (box.Size == 0) {
            box.Size = end - at;
        }
        if (box.Size < box.HeaderBytes || box.Size > end - at)
            return {};
        if (std::memcmp(&bytes[at + 4], type, 4) == 0)
            found.push_back(box);
        at += box.Size;
    }
    return found;
}

// The one box of a type in a parent; none (not Found) when there is none or more than one.
TBox Child(const TBytes& bytes, const TBox& parent, const char* type, std::size_t skipBytes = 0) {
    const std::vector<TBox> found =
        Children(bytes, parent.Content() + skipBytes, parent.End(), type);
    return found.size() == 1 ? found.front() : TBox{};
}

// The time scale of a movie or media header.
uint64_t TimeScale(const TBytes& bytes, const TBox& header) {
    const std::size_t at = header.Content() + (bytes[header.Content()] == 1 ? 20 : 12);
    return at + 4 <= header.End() ? ReadBig(bytes, at, 4) : 0;
}

// The counts of the one sound track, from its edit list (in the movie's time scale) and its
// frame count; none where the movie has no such track.
std::optional<TGaplessCounts> SoundCounts(const TBytes& moov, const TBox& movie, int frameSamples) {
    const TBox movieHeader = Child(moov, movie, "mvhd");
    std::optional<TGaplessCounts> counts;
    for (const TBox& track : Children(moov, movie.Content(), movie.End(), "trak")) {
        const TBox media = Child(moov, track, "mdia");
        const TBox handler = media.Found() ? Child(moov, media, "hdlr") : TBox{};
        if (!handler.Found() || handler.Size < handler.HeaderBytes + 12 ||
            std::memcmp(&moov[handler.Content() + 8], "soun", 4) != 0)
            continue;
        const TBox edits = Child(moov, track, "edts");
        const TBox list = edits.Found() ? Child(moov, edits, "elst") : TBox{};
        const TBox mediaHeader = Child(moov, media, "mdhd");
        const TBox info = Child(moov, media, "minf");
        const TBox table = info.Found() ? Child(moov, info, "stbl") : TBox{};
        const TBox sizes = table.Found() ? Child(moov, table, "stsz") : TBox{};
        if (counts || !movieHeader.Found() || !list.Found() || !mediaHeader.Found() ||
            !sizes.Found())
            return std::nullopt; // a second sound track, or one without what the tag needs
        if (list.Size < list.HeaderBytes + 8 || sizes.Size < sizes.HeaderBytes + 12)
            return std::nullopt;
        const bool wide = moov[list.Content()] == 1;
        const std::size_t entryBytes = wide ? 20 : 12;
        const uint64_t entries = ReadBig(moov, list.Content() + 4, 4);
        if (entries == 0 || list.Content() + 8 + entries * entryBytes > list.End())
            return std::nullopt;
        // The last entry plays the sound; one before it can only be an empty edit (a delay).
        const std::size_t last = list.Content() + 8 + (entries - 1) * entryBytes;
        const uint64_t duration = ReadBig(moov, last, wide ? 8 : 4);
        const int64_t mediaTime =
            static_cast<int64_t>(ReadBig(moov, last + (wide ? 8 : 4), wide ? 8 : 4));
        const uint64_t movieScale = TimeScale(moov, movieHeader);
        const uint64_t mediaScale = TimeScale(moov, mediaHeader);
        const uint64_t frames = ReadBig(moov, sizes.Content() + 8, 4);
        if (movieScale == 0 || mediaTime < 0)
            return std::nullopt;
        TGaplessCounts found;
        found.PrimingSamples = mediaTime;
        found.Samples = static_cast<int64_t>((duration * mediaScale + movieScale / 2) / movieScale);
        found.PaddingSamples =
            static_cast<int64_t>(frames) * frameSamples - found.PrimingSamples - found.Samples;
        if (found.PaddingSamples < 0)
            return std::nullopt;
        counts = found;
    }
    return counts;
}

void AppendBox(TBytes& bytes, const char* type, const TBytes& content) {
    const std::size_t at = bytes.size();
    bytes.resize(at + 8);
    WriteBig(bytes, at, 4, content.size() + 8);
    std::memcpy(&bytes[at + 4], type, 4);
    bytes.insert(bytes.end(), content.begin(), content.end());
}

// A free-form item: ----, with mean "com.apple.iTunes", name and UTF-8 data.
TBytes FreeFormItem(const std::string& name, const std::string& text) {
    const auto fullBox = [](const std::string& value, uint32_t flags) {
        TBytes content(4);
        WriteBig(content, 0, 4, flags);
        content.insert(content.end(), value.begin(), value.end());
        return content;
    };
    TBytes inner;
    AppendBox(inner, "mean", fullBox("com.apple.iTunes", 0));
    AppendBox(inner, "name", fullBox(name, 0));
    TBytes data = fullBox(std::string(4, '\0') + text, 1); // type 1: UTF-8; locale 0
    AppendBox(inner, "data", data);
    TBytes item;
    AppendBox(item, "----", inner);
    return item;
}

void Grow(TBytes& bytes, const TBox& box, std::size_t by) {
    if (box.HeaderBytes == 16)
        WriteBig(bytes, box.Offset + 8, 8, box.Size + by);
    else
        WriteBig(bytes, box.Offset, 4, box.Size + by);
}

} // namespace

std::string ItunesGaplessText(const TGaplessCounts& counts) {
    char text[160];
    std::snprintf(text, sizeof text,
                  " 00000000 %08" PRIX32 " %08" PRIX32 " %016" PRIX64
                  " 00000000 00000000 00000000 00000000 00000000 00000000 00000000 00000000",
                  static_cast<uint32_t>(counts.PrimingSamples),
                  static_cast<uint32_t>(counts.PaddingSamples),
                  static_cast<uint64_t>(counts.Samples));
    return text;
}

bool AddItunesGaplessTag(const std::filesystem::path& file, int frameSamples, bool& writeFailed) {
    writeFailed = false;
    std::fstream stream(file, std::ios::in | std::ios::out | std::ios::binary);
    std::error_code error;
    const uintmax_t fileBytes = std::filesystem::file_size(file, error);
    if (!stream || error || frameSamples <= 0)
        return false;
    // The top-level boxes, read header by header, to the movie box.
    uint64_t at = 0;
    TBytes header(16);
    while (at + 8 <= fileBytes) {
        stream.seekg(static_cast<std::streamoff>(at));
        if (!stream.read(reinterpret_cast<char*>(header.data()), 16) && stream.gcount() < 8)
            return false;
        stream.clear();
        uint64_t size = ReadBig(header, 0, 4);
        if (size == 1)
            size = ReadBig(header, 8, 8);
        if (size < 8 || size > fileBytes - at)
            return false;
        if (std::memcmp(&header[4], "moov", 4) == 0)
            break;
        at += size;
    }
    const uint64_t movieBytes = at + 8 <= fileBytes ? fileBytes - at : 0;
    if (movieBytes == 0 || movieBytes > (uint64_t{64} << 20))
        return false;
    TBytes moov(movieBytes);
    stream.seekg(static_cast<std::streamoff>(at));
    if (!stream.read(reinterpret_cast<char*>(moov.data()),
                     static_cast<std::streamsize>(movieBytes)))
        return false;
    const std::vector<TBox> movies = Children(moov, 0, moov.size(), "moov");
    // The movie box must be the file's last: it grows in place.
    if (movies.size() != 1 || movies.front().End() != moov.size())
        return false;
    const TBox& movie = movies.front();
    const std::optional<TGaplessCounts> counts = SoundCounts(moov, movie, frameSamples);
    const TBox user = counts ? Child(moov, movie, "udta") : TBox{};
    const TBox meta = user.Found() ? Child(moov, user, "meta") : TBox{};
    const TBox items = meta.Found() ? Child(moov, meta, "ilst", 4) : TBox{};
    if (!items.Found())
        return false;
    const TBytes item = FreeFormItem("iTunSMPB", ItunesGaplessText(*counts));
    for (const TBox& box : {movie, user, meta, items})
        Grow(moov, box, item.size());
    moov.insert(moov.begin() + static_cast<std::ptrdiff_t>(items.End()), item.begin(), item.end());
    stream.seekp(static_cast<std::streamoff>(at));
    stream.write(reinterpret_cast<const char*>(moov.data()),
                 static_cast<std::streamsize>(moov.size()));
    stream.flush();
    writeFailed = !stream;
    return !writeFailed;
}
