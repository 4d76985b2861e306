// The "unicode" protocol: file names the libraries cannot open by name are handed to them as
// "unicode:utf8:" URLs and served by an I/O context of ours, because the libraries no longer let
// a program register a protocol.
//
// Opening media: OpenInputContext(url, ...) for inputs and OpenOutputIO(context, url, ...) for
// outputs accept any URL; for a "unicode:utf8:" URL they open the file themselves and hand the
// libraries the I/O context, for any other name the libraries open it as usual.
#ifndef SOUNDPICK_FFBIND_UNICODEPROTOCOL_H
#define SOUNDPICK_FFBIND_UNICODEPROTOCOL_H

#include "FFHandles.h"
#include "FFmpegLoader.h"

#include <memory>
#include <string>

// The URL prefix, 13 bytes.
inline constexpr const char* UnicodeURLPrefix = "unicode:utf8:";

// True when the libraries would not read the name as a local file (a prefix before its first
// colon that they take for an unknown protocol, as in "Talk: part 1.mp4") and the prefix is not
// one of unicode, stream, gopher, http, pipe, rtp, tcp, udp. Names are UTF-8 already, so no
// other name needs the protocol. Needs avformat bound; false while it is not.
bool NeedsUnicodeURL(const TPathFileName& name);

// The text to give the libraries for a file name: "unicode:utf8:" + name when it needs the
// protocol, else the name itself.
std::string FileNameToURL(const TPathFileName& name);

// True when url is at least 14 bytes and begins with "unicode:utf8:".
bool IsUnicodeURL(const std::string& url);

// The file name behind a URL read back from a library context: a "unicode:utf8:" URL without
// its prefix, any other URL as it is.
TPathFileName URLToFileName(const std::string& url);

// Checks that avformat offers what the protocol's I/O contexts need (an assertion failure
// otherwise); nothing needs registering with this library generation. Returns true.
bool RegisterUnicodeProtocol();

// How the protocol opens a file: reading needs an existing file; writing creates the file or
// truncates it.
enum TUnicodeOpenMode { umRead, umWrite, umReadWrite };

// One file served by the protocol: its descriptor, closed when the object goes.
struct TUnicodeFile {
    int Descriptor = -1;
    TUnicodeFile() = default;
    TUnicodeFile(const TUnicodeFile&) = delete;
    TUnicodeFile& operator=(const TUnicodeFile&) = delete;
    ~TUnicodeFile();
};

// The I/O of an opened input or output file: either our context over a TUnicodeFile (custom
// I/O) or a context the libraries opened (outputs with any other name). Closes it when it goes;
// keep it alive until the format context using it has been closed or freed.
class TMediaIO {
public:
    TMediaIO() = default;
    TMediaIO(TMediaIO&& other) noexcept;
    TMediaIO& operator=(TMediaIO&& other) noexcept;
    ~TMediaIO() { Close(); }

    AVIOContext* Context() const { return Custom ? Custom.get() : Library; }
    bool IsCustom() const { return Custom != nullptr; }
    explicit operator bool() const { return Context() != nullptr; }

    // Flushes what was written and closes the file. Returns 0 or the context's write error.
    int Close();

private:
    friend int OpenOutputIO(AVFormatContext* context, const std::string& url, TMediaIO& io);
    friend int ServeFile(std::unique_ptr<TUnicodeFile> file, TUnicodeOpenMode mode, TMediaIO& io);

    std::unique_ptr<TUnicodeFile> File; // declared before Custom: the context goes first
    IOContextPtr Custom;
    AVIOContext* Library = nullptr;
};

// Opens the file named by a "unicode:utf8:" URL (or by a plain name) with our read, write and
// seek functions behind an I/O context. Returns 0 or a negative error: AVERROR(ENOENT) for a
// missing file to read, AVERROR(errno) for others.
int OpenUnicodeIO(const std::string& url, TUnicodeOpenMode mode, TMediaIO& io);

// Serves an opened file (taken over in every case) through our read, write and seek functions
// behind an I/O context; mode tells which of them the context gets.
int ServeFile(std::unique_ptr<TUnicodeFile> file, TUnicodeOpenMode mode, TMediaIO& io);

// Opens the output file of a muxer context and sets context->pb: a "unicode:utf8:" URL through
// OpenUnicodeIO (the context is marked AVFMT_FLAG_CUSTOM_IO), any other name with avio_open2
// and the context's interrupt callback. Returns 0 or a negative error code.
int OpenOutputIO(AVFormatContext* context, const std::string& url, TMediaIO& io);

// Makes a file descriptor open for reading and writing (taken over in every case) the output
// file of a muxer context, as custom I/O; for outputs whose file the caller creates itself.
int OpenDescriptorOutputIO(AVFormatContext* context, int descriptor, TMediaIO& io);

// An opened input: the format context and the I/O serving it. The format context is closed
// before the I/O (member order).
struct TInputContext {
    TInputContext() = default;
    TInputContext(TInputContext&&) = default;
    // Closes the format context before the I/O it reads through.
    TInputContext& operator=(TInputContext&& other) noexcept {
        Format.reset();
        IO = std::move(other.IO);
        Format = std::move(other.Format);
        return *this;
    }
    explicit operator bool() const { return Format != nullptr; }

    TMediaIO IO;
    InputFormatPtr Format;
};

// Opens an input for reading its header (avformat_open_input): for a "unicode:utf8:" URL through
// our I/O context. prepared, when given, is a context from avformat_alloc_context that the
// caller has set up (interrupt callback, flags); it is taken over in every case. options as for
// avformat_open_input. On failure the result is empty and *error (when given) holds the code;
// an input whose format cannot be detected gives AVERROR_DEMUXER_NOT_FOUND, so that the
// library's words in the log tell an unknown kind of file from a damaged header.
TInputContext OpenInputContext(const std::string& url, const AVInputFormat* forcedFormat,
                               AVDictionary** options, int* error,
                               AVFormatContext* prepared = nullptr);

#endif
