// The "unicode" protocol's names and the I/O contexts that serve them.
#include "UnicodeProtocol.h"

#include "Assertion.h"
#include "FFmpegLogger.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr const char* Unit = "UnicodeProtocol";
constexpr std::size_t PrefixLength = 13;
// Protocols whose names are never rewritten, each between colons.
constexpr const char* KeptProtocols = ":unicode:stream:gopher:http:pipe:rtp:tcp:udp:";
constexpr int IOBufferSize = 32768;

int ReadPacket(void* opaque, uint8_t* buffer, int size) {
    const int descriptor = static_cast<TUnicodeFile*>(opaque)->Descriptor;
    for (;;) {
        const ssize_t count = read(descriptor, buffer, static_cast<std::size_t>(size));
        if (count > 0)
            return static_cast<int>(count);
        if (count == 0)
            return AVERROR_EOF;
        if (errno != EINTR)
            return AVERROR(errno);
    }
}

int WritePacket(void* opaque, uint8_t* buffer, int size) {
    const int descriptor = static_cast<TUnicodeFile*>(opaque)->Descriptor;
    int written = 0;
    while (written < size) {
        const ssize_t count =
            write(descriptor, buffer + written, static_cast<std::size_t>(size - written));
        if (count < 0 && errno == EINTR)
            continue;
        if (count < 0)
            return AVERROR(errno);
        written += static_cast<int>(count);
    }
    return written;
}

// whence AVSEEK_SIZE asks for the size and leaves the position where it is.
int64_t SeekPacket(void* opaque, int64_t offset, int whence) {
    const int descriptor = static_cast<TUnicodeFile*>(opaque)->Descriptor;
    if (whence & AVSEEK_SIZE) {
        struct stat status;
        return fstat(descriptor, &status) == 0 ? static_cast<int64_t>(status.st_size)
                                               : AVERROR(errno);
    }
    const off_t position = lseek(descriptor, static_cast<off_t>(offset), whence & ~AVSEEK_FORCE);
    return position < 0 ? AVERROR(errno) : static_cast<int64_t>(position);
}

int OpenFlags(TUnicodeOpenMode mode) {
    switch (mode) {
    case umWrite:
        return O_WRONLY | O_CREAT | O_TRUNC;
    case umReadWrite:
        return O_RDWR | O_CREAT | O_TRUNC;
    case umRead:
        break;
    }
    return O_RDONLY;
}

// Opens the file; a folder is refused as the libraries' own file protocol does.
int OpenFile(const TPathFileName& name, TUnicodeOpenMode mode, TUnicodeFile& file) {
    file.Descriptor = open(name.c_str(), OpenFlags(mode) | O_CLOEXEC, 0666);
    if (file.Descriptor < 0)
        return AVERROR(errno);
    struct stat status;
    if (fstat(file.Descriptor, &status) == 0 && S_ISDIR(status.st_mode))
        return AVERROR(EISDIR);
    return 0;
}

// True when no format can be detected in the input at all.
bool NoFormatDetected(const std::string& url) {
    TMediaIO io;
    AVIOContext* library = nullptr;
    AVIOContext* context = nullptr;
    if (IsUnicodeURL(url)) {
        if (OpenUnicodeIO(url, umRead, io) < 0)
            return false;
        context = io.Context();
    } else {
        if (ff::avio_open2(&library, url.c_str(), AVIO_FLAG_READ, nullptr, nullptr) < 0)
            return false;
        context = library;
    }
    const AVInputFormat* format = nullptr;
    const int score = ff::av_probe_input_buffer2(context, &format, url.c_str(), nullptr, 0, 0);
    if (library)
        ff::avio_closep(&library);
    return score < 0 || !format;
}

// Hands the muxer context our I/O context.
void UseCustomIO(AVFormatContext* context, const TMediaIO& io) {
    context->pb = io.Context();
    context->flags |= AVFMT_FLAG_CUSTOM_IO;
}

} // namespace

bool NeedsUnicodeURL(const TPathFileName& name) {
    const std::string text = name.string();
    const std::size_t colon = text.find(':');
    if (colon == std::string::npos)
        return false;
    const std::string listed = ":" + text.substr(0, colon) + ":";
    if (std::string(KeptProtocols).find(listed) != std::string::npos)
        return false;
    return ff::avio_find_protocol_name && !ff::avio_find_protocol_name(text.c_str());
}

std::string FileNameToURL(const TPathFileName& name) {
    return NeedsUnicodeURL(name) ? UnicodeURLPrefix + name.string() : name.string();
}

bool IsUnicodeURL(const std::string& url) {
    return url.size() > PrefixLength && url.compare(0, PrefixLength, UnicodeURLPrefix) == 0;
}

TPathFileName URLToFileName(const std::string& url) {
    return IsUnicodeURL(url) ? TPathFileName(url.substr(PrefixLength)) : TPathFileName(url);
}

bool RegisterUnicodeProtocol() {
    SP_ASSERT(ff::avio_alloc_context && ff::avio_context_free, "Assertion failure", Unit);
    return true;
}

TUnicodeFile::~TUnicodeFile() {
    if (Descriptor >= 0)
        close(Descriptor);
}

TMediaIO::TMediaIO(TMediaIO&& other) noexcept
    : File(std::move(other.File)), Custom(std::move(other.Custom)), Library(other.Library) {
    other.Library = nullptr;
}

TMediaIO& TMediaIO::operator=(TMediaIO&& other) noexcept {
    if (this != &other) {
        Close();
        File = std::move(other.File);
        Custom = std::move(other.Custom);
        Library = other.Library;
        other.Library = nullptr;
    }
    return *this;
}

int TMediaIO::Close() {
    int result = 0;
    if (Library)
        result = ff::avio_closep(&Library);
    if (Custom) {
        if (Custom->write_flag)
            ff::avio_flush(Custom.get());
        result = Custom->error;
        Custom.reset();
    }
    if (File) {
        if (close(File->Descriptor) != 0 && result == 0)
            result = AVERROR(errno);
        File->Descriptor = -1;
        File.reset();
    }
    return result;
}

int OpenUnicodeIO(const std::string& url, TUnicodeOpenMode mode, TMediaIO& io) {
    io.Close();
    auto file = std::make_unique<TUnicodeFile>();
    if (const int error = OpenFile(URLToFileName(url), mode, *file); error < 0)
        return error;
    return ServeFile(std::move(file), mode, io);
}

int ServeFile(std::unique_ptr<TUnicodeFile> file, TUnicodeOpenMode mode, TMediaIO& io) {
    auto* buffer = static_cast<uint8_t*>(ff::av_malloc(IOBufferSize));
    if (!buffer)
        return AVERROR(ENOMEM);
    const bool writing = mode != umRead;
    IOContextPtr context(ff::avio_alloc_context(buffer, IOBufferSize, writing ? 1 : 0, file.get(),
                                                mode == umWrite ? nullptr : ReadPacket,
                                                writing ? WritePacket : nullptr, SeekPacket));
    if (!context) {
        ff::av_free(buffer);
        return AVERROR(ENOMEM);
    }
    io.File = std::move(file);
    io.Custom = std::move(context);
    return 0;
}

int OpenDescriptorOutputIO(AVFormatContext* context, int descriptor, TMediaIO& io) {
    io.Close();
    auto file = std::make_unique<TUnicodeFile>();
    file->Descriptor = descriptor;
    if (const int error = ServeFile(std::move(file), umReadWrite, io); error < 0)
        return error;
    UseCustomIO(context, io);
    return 0;
}

int OpenOutputIO(AVFormatContext* context, const std::string& url, TMediaIO& io) {
    io.Close();
    if (IsUnicodeURL(url)) {
        if (const int error = OpenUnicodeIO(url, umWrite, io); error < 0)
            return error;
        UseCustomIO(context, io);
        return 0;
    }
    AVIOContext* library = nullptr;
    const int error = ff::avio_open2(&library, url.c_str(), AVIO_FLAG_WRITE,
                                     &context->interrupt_callback, nullptr);
    if (error < 0)
        return error;
    io.Library = library;
    context->pb = library;
    return 0;
}

TInputContext OpenInputContext(const std::string& url, const AVInputFormat* forcedFormat,
                               AVDictionary** options, int* error, AVFormatContext* prepared) {
    TInputContext input;
    int code = 0;
    ClearLibraryError(); // what the library names when it refuses is this open's
    AVFormatContext* context = prepared ? prepared : ff::avformat_alloc_context();
    if (!context)
        code = AVERROR(ENOMEM);
    if (code == 0 && IsUnicodeURL(url)) {
        code = OpenUnicodeIO(url, umRead, input.IO);
        if (code < 0)
            ff::avformat_free_context(context);
        else
            context->pb = input.IO.Context();
    }
    if (code == 0) {
        // A failed open frees the format context, never our I/O context.
        code = ff::avformat_open_input(&context, url.c_str(), forcedFormat, options);
        if (code == 0)
            input.Format.reset(context);
    }
    if (code == AVERROR_INVALIDDATA && !forcedFormat) {
        input.IO.Close();
        if (NoFormatDetected(url))
            code = AVERROR_DEMUXER_NOT_FOUND;
    }
    if (code < 0)
        input.IO.Close();
    if (error)
        *error = code;
    return input;
}
