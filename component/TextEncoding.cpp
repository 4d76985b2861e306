// Encoding detection with uchardet, opened at run time as the FFmpeg libraries are: without it
// (or when it cannot tell) a text is read as Latin-1, so nothing links against it.
#include "component/TextEncoding.h"

#include <cerrno>
#include <dlfcn.h>
#include <iconv.h>
#include <memory>

namespace {

constexpr const char* Latin1 = "WINDOWS-1252"; // Latin-1 with printable characters for 0x80-0x9F

bool IsValidUtf8(const std::string& text) {
    for (std::size_t i = 0; i < text.size();) {
        const auto lead = static_cast<unsigned char>(text[i]);
        const int extra = lead < 0x80         ? 0
                          : (lead >> 5) == 6  ? 1
                          : (lead >> 4) == 14 ? 2
                          : (lead >> 3) == 30 ? 3
                                              : -1;
        if (extra < 0 || i + extra >= text.size())
            return false;
        for (int k = 1; k <= extra; ++k)
            if ((static_cast<unsigned char>(text[i + k]) >> 6) != 2)
                return false;
        i += extra + 1;
    }
    return true;
}

// The entry points of libuchardet.so.0 (its C interface, stable since its first release).
struct TModuleCloser {
    void operator()(void* module) const { dlclose(module); }
};

struct TDetector {
    using THandle = void*;
    std::unique_ptr<void, TModuleCloser> Module;
    THandle (*New)() = nullptr;
    void (*Delete)(THandle) = nullptr;
    int (*HandleData)(THandle, const char*, std::size_t) = nullptr;
    void (*DataEnd)(THandle) = nullptr;
    const char* (*Charset)(THandle) = nullptr;

    bool Loaded() const { return New && Delete && HandleData && DataEnd && Charset; }
};

// Opened once and kept until the program ends: the library holds no state between uses.
const TDetector& Detector() {
    static const TDetector detector = [] {
        TDetector loaded;
        void* module = dlopen("libuchardet.so.0", RTLD_NOW | RTLD_LOCAL);
        if (!module)
            return loaded;
        loaded.Module.reset(module);
        loaded.New = reinterpret_cast<decltype(loaded.New)>(dlsym(module, "uchardet_new"));
        loaded.Delete = reinterpret_cast<decltype(loaded.Delete)>(dlsym(module, "uchardet_delete"));
        loaded.HandleData =
            reinterpret_cast<decltype(loaded.HandleData)>(dlsym(module, "uchardet_handle_data"));
        loaded.DataEnd =
            reinterpret_cast<decltype(loaded.DataEnd)>(dlsym(module, "uchardet_data_end"));
        loaded.Charset =
            reinterpret_cast<decltype(loaded.Charset)>(dlsym(module, "uchardet_get_charset"));
        return loaded;
    }();
    return detector;
}

// What uchardet names; empty when it is not there or cannot tell.
std::string DetectedCharset(const std::string& bytes) {
    const TDetector& detector = Detector();
    if (!detector.Loaded())
        return {};
    const std::unique_ptr<void, void (*)(void*)> handle(detector.New(), detector.Delete);
    if (!handle || detector.HandleData(handle.get(), bytes.data(), bytes.size()) != 0)
        return {};
    detector.DataEnd(handle.get());
    const char* charset = detector.Charset(handle.get());
    return charset ? charset : "";
}

struct TIconvCloser {
    void operator()(iconv_t converter) const { iconv_close(converter); }
};
using TIconvPtr = std::unique_ptr<std::remove_pointer_t<iconv_t>, TIconvCloser>;

// The bytes converted from charset; false when iconv does not know it or the bytes are not of it.
bool ConvertToUtf8(const std::string& bytes, const std::string& charset, std::string& utf8) {
    const iconv_t opened = iconv_open("UTF-8", charset.c_str());
    if (opened == reinterpret_cast<iconv_t>(-1))
        return false;
    const TIconvPtr converter(opened);
    std::string input = bytes;
    char* in = input.data();
    std::size_t inLeft = input.size();
    utf8.clear();
    char buffer[4096];
    while (inLeft > 0) {
        char* out = buffer;
        std::size_t outLeft = sizeof buffer;
        const std::size_t result = iconv(converter.get(), &in, &inLeft, &out, &outLeft);
        utf8.append(buffer, out);
        if (result == static_cast<std::size_t>(-1) && errno != E2BIG)
            return false;
    }
    return true;
}

struct TMarked {
    std::string Charset;
    std::size_t MarkBytes = 0;
};

// The encoding a byte-order mark gives; none when there is no mark.
TMarked ByteOrderMark(const std::string& bytes) {
    if (bytes.starts_with("\xEF\xBB\xBF"))
        return {"UTF-8", 3};
    if (bytes.starts_with("\xFF\xFE"))
        return {"UTF-16LE", 2};
    if (bytes.starts_with("\xFE\xFF"))
        return {"UTF-16BE", 2};
    return {};
}

// The encoding to read the text as ("UTF-8", "WINDOWS-1251", ...).
std::string TextEncodingOf(const std::string& bytes) {
    if (const TMarked marked = ByteOrderMark(bytes); !marked.Charset.empty())
        return marked.Charset;
    if (IsValidUtf8(bytes))
        return "UTF-8";
    std::string charset = DetectedCharset(bytes);
    // Latin-1's control characters 0x80-0x9F are printable in Windows-1252, which rippers wrote.
    if (charset.empty() || charset == "ISO-8859-1" || charset == "ASCII")
        charset = Latin1;
    return charset;
}

} // namespace

std::string TextToUtf8(const std::string& bytes) {
    const TMarked marked = ByteOrderMark(bytes);
    const std::string text = bytes.substr(marked.MarkBytes);
    const std::string charset = TextEncodingOf(bytes);
    if (charset == "UTF-8")
        return text;
    std::string utf8;
    if (ConvertToUtf8(text, charset, utf8))
        return utf8;
    // Every byte is a Latin-1 character (Windows-1252 leaves five undefined).
    ConvertToUtf8(text, "ISO-8859-1", utf8);
    return utf8;
}
