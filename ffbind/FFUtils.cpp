// The shared wording of sizes, durations, errors and codecs, and the picture converter.
#include "FFUtils.h"

#include "FFmpegLogger.h"
#include "TextUtils.h"

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace {

constexpr int64_t KiB = 1024;
constexpr int64_t MiB = 1024 * KiB;
constexpr int64_t GiB = 1024 * MiB;

bool IsPrintableTag(uint32_t tag) {
    for (int shift = 0; shift < 32; shift += 8) {
        const unsigned byte = (tag >> shift) & 0xff;
        if (byte < 32 || byte > 126)
            return false;
    }
    return true;
}

std::string CodecDescription(AVCodecID id, uint32_t tag, TCodecRole role) {
    const AVCodec* codec =
        role == crEncoder ? ff::avcodec_find_encoder(id) : ff::avcodec_find_decoder(id);
    if (codec) {
        const std::string longName = TrimBlanks(codec->long_name ? codec->long_name : "");
        return longName.empty() ? codec->name : FormatText("%s(%s)", codec->name, longName.c_str());
    }
    if (id == AV_CODEC_ID_MPEG2TS)
        return "mpeg2ts";
    // The codec is known to the libraries but this build has no coder for it.
    if (const AVCodecDescriptor* descriptor = ff::avcodec_descriptor_get(id)) {
        const std::string name = TrimBlanks(descriptor->name ? descriptor->name : "");
        if (!name.empty())
            return name;
    }
    if (IsPrintableTag(tag))
        return FormatText("%c%c%c%c / 0x%04X", tag & 0xff, (tag >> 8) & 0xff, (tag >> 16) & 0xff,
                          (tag >> 24) & 0xff, tag);
    return FormatText("0x%04x", tag);
}

} // namespace

std::string FormatTextV(const char* format, va_list args) {
    va_list copy;
    va_copy(copy, args);
    char small[512];
    const int needed = std::vsnprintf(small, sizeof small, format, copy);
    va_end(copy);
    if (needed < 0)
        return std::string();
    if (static_cast<std::size_t>(needed) < sizeof small)
        return std::string(small, static_cast<std::size_t>(needed));
    std::string text(static_cast<std::size_t>(needed), '\0');
    va_copy(copy, args);
    std::vsnprintf(text.data(), text.size() + 1, format, copy);
    va_end(copy);
    return text;
}

std::string FormatText(const char* format, ...) {
    va_list args;
    va_start(args, format);
    std::string text = FormatTextV(format, args);
    va_end(args);
    return text;
}

std::string SizeText(int64_t sizeBytes) {
    if (sizeBytes > GiB)
        return FormatText("%.2f GB", static_cast<double>(sizeBytes) / GiB);
    if (sizeBytes > MiB)
        return FormatText("%.2f MB", static_cast<double>(sizeBytes) / MiB);
    if (sizeBytes > KiB)
        return FormatText("%.2f KB", static_cast<double>(sizeBytes) / KiB);
    return FormatText("%lld Byte", static_cast<long long>(sizeBytes));
}

std::string DurationText(int64_t durationUs) {
    const int64_t seconds = durationUs / 1000000;
    const long long hours = seconds / 60 / 60;
    const long long minutes = seconds / 60 % 60;
    const long long secs = seconds % 60;
    const long long milliseconds = durationUs % 1000000 * 1000 / 1000000;
    return FormatText("%.2lld:%.2lld:%.2lld.%.3lld", hours, minutes, secs, milliseconds);
}

std::string ErrorText(int code) {
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    if (ff::av_strerror && ff::av_strerror(code, text, sizeof text) == 0)
        return text;
    if (code < 0 && code > -4096)
        return std::strerror(-code);
    return FormatText("Error number %d occurred", code);
}

std::string OpenErrorText(const std::string& name, int code) {
    const char* text = nullptr;
    switch (code) {
    case AVERROR_MUXER_NOT_FOUND:
    case AVERROR(EILSEQ):
        text = "%s: Unknown format";
        break;
    case AVERROR(EDOM):
        text = "%s: Incorrect image filename syntax.\r\n"
               "Use '%%d' to specify the image number:\r\n"
               "  for img1.jpg, img2.jpg, ..., use 'img%%d.jpg';\r\n"
               "  for img001.jpg, img002.jpg, ..., use 'img%%03d.jpg'.";
        break;
    // Damaged, empty or not media at all: the library's reason (in the log) does not help.
    case AVERROR_DEMUXER_NOT_FOUND:
    case AVERROR_INVALIDDATA:
    case AVERROR(EINVAL):
        text = "%s is not a sound or video file this program can read (damaged, empty or of an "
               "unknown kind).";
        break;
    case AVERROR(EISDIR):
        text = "%s is a folder";
        break;
    case AVERROR(ESPIPE): // a pipe, socket or device, which would block or never end
        text = "%s is not a regular file";
        break;
    case AVERROR(ENOMEM):
        text = "%s: memory allocation error occurred";
        break;
    case AVERROR(EIO):
    case AVERROR_EOF:
        text = "%s: I/O error occurred. Usually that means that the input file is truncated "
               "and/or corrupted.";
        break;
    case AVERROR(ENOENT):
        text = "%s: no such file or directory";
        break;
    case AVERROR_PATCHWELCOME: {
        // The library's name for what it lacks ("Unsupported file version - 0.15") tells which
        // variant it is; its code only says "patches welcome".
        const std::string what = LastLibraryError();
        return name + " uses a variant of its format that this program cannot read" +
               (what.empty() ? "" : " (" + what + ")");
    }
    default:
        // Refused for a reason of its own (out of file handles, no permission, a kind the
        // libraries take no part of): the library's words for it are what helps.
        return name + ": Error while opening file: " + ErrorText(code);
    }
    std::string result;
    for (const char* p = text; *p; ++p) {
        if (p[0] == '%' && p[1] == 's') {
            result += name;
            ++p;
        } else if (p[0] == '%' && p[1] == '%') {
            result += '%';
            ++p;
        } else {
            result += *p;
        }
    }
    return result;
}

std::string UndecodableSoundText(const std::string& name, AVCodecID codecId) {
    return name + ": its sound (" + ff::avcodec_get_name(codecId) +
           ") cannot be decoded: the file is damaged or of a variant this program cannot read.";
}

std::string LoggedOpenErrorText(const std::string& name, int code) {
    if (ff::av_log)
        ff::av_log(nullptr, AV_LOG_VERBOSE, "%s: %s\n", name.c_str(), ErrorText(code).c_str());
    return OpenErrorText(name, code);
}

std::string CodecDescription(const AVCodecContext* context, TCodecRole role) {
    return CodecDescription(context->codec_id, context->codec_tag, role);
}

std::string CodecDescription(const AVCodecParameters* parameters, TCodecRole role) {
    return CodecDescription(parameters->codec_id, parameters->codec_tag, role);
}

std::string MediaTypeName(int mediaType) {
    switch (mediaType) {
    case AVMEDIA_TYPE_VIDEO:
        return "Video";
    case AVMEDIA_TYPE_AUDIO:
        return "Audio";
    case AVMEDIA_TYPE_DATA:
        return "Data";
    case AVMEDIA_TYPE_SUBTITLE:
        return "Subtitle";
    case AVMEDIA_TYPE_ATTACHMENT:
        return "Attachment";
    default:
        return "Unknown";
    }
}

std::string MetadataValue(const AVDictionary* dictionary, const char* key,
                          const std::string& defaultValue) {
    const AVDictionaryEntry* entry = ff::av_dict_get(dictionary, key, nullptr, 0);
    return entry && entry->value ? entry->value : defaultValue;
}

bool SplitFirst(std::string& source, const std::string& delimiter, bool removeHead,
                std::string& head) {
    const std::size_t position = source.find(delimiter);
    if (position == std::string::npos) {
        head = source;
        if (removeHead)
            source.clear();
        return false;
    }
    head = source.substr(0, position);
    if (removeHead)
        source.erase(0, position + delimiter.size());
    return true;
}

void TBitmap24::SetSize(int width, int height) {
    if (width == WidthPx && height == HeightPx)
        return;
    WidthPx = width > 0 ? width : 0;
    HeightPx = height > 0 ? height : 0;
    Pixels.assign(static_cast<std::size_t>(Stride()) * HeightPx, 0);
}

namespace {

// Makes Buffer hold a picture of the target format and lays the picture planes over it.
bool PrepareBuffer(TPictureConverter& converter, int height, int width) {
    constexpr int Alignment = 32; // keeps the scaler on its fast paths
    const int size = ff::av_image_get_buffer_size(converter.TargetFormat, width, height, Alignment);
    if (size < 0)
        return false;
    if (!converter.Buffer || converter.BufferSize < size) {
        converter.Buffer.reset(ff::av_malloc(static_cast<std::size_t>(size)));
        converter.BufferSize = converter.Buffer ? size : 0;
        if (!converter.Buffer)
            return false;
    }
    return ff::av_image_fill_arrays(converter.PictureData, converter.PictureLinesize,
                                    static_cast<const uint8_t*>(converter.Buffer.get()),
                                    converter.TargetFormat, width, height, Alignment) >= 0;
}

} // namespace

bool ConvertPicture(TPictureConverter& converter, const uint8_t* const data[], const int linesize[],
                    AVPixelFormat format, int height, int width) {
    if (width <= 0 || height <= 0)
        return false;
    if (!converter.Bitmap)
        converter.Bitmap = std::make_unique<TBitmap24>();
    converter.Bitmap->SetSize(width, height);
    if (format == converter.TargetFormat) {
        converter.SourceData = data;
        converter.SourceLinesize = linesize;
    } else {
        // The scaler aborts the process on a format it does not know instead of failing.
        if (!ff::sws_isSupportedInput(format) || !ff::sws_isSupportedOutput(converter.TargetFormat))
            return false;
        if (!PrepareBuffer(converter, height, width))
            return false;
        converter.Scaler.reset(ff::sws_getCachedContext(
            converter.Scaler.release(), width, height, format, width, height,
            converter.TargetFormat, SWS_BICUBIC, nullptr, nullptr, nullptr));
        if (!converter.Scaler)
            return false;
        ff::sws_scale(converter.Scaler.get(), data, linesize, 0, height, converter.PictureData,
                      converter.PictureLinesize);
        converter.SourceData = converter.PictureData;
        converter.SourceLinesize = converter.PictureLinesize;
    }
    // A row of the bitmap holds width x 3 bytes of picture; a library line may be longer.
    const std::size_t rowBytes = static_cast<std::size_t>(width) * 3;
    for (int i = 0; i < height; ++i)
        std::memcpy(converter.Bitmap->Row(i),
                    converter.SourceData[0] +
                        static_cast<std::ptrdiff_t>(i) * converter.SourceLinesize[0],
                    rowBytes);
    return true;
}

void ResetPictureConverter(TPictureConverter& converter) {
    converter.Bitmap.reset();
    converter.Buffer.reset();
    converter.Scaler.reset();
    converter.Scaler2.reset();
    converter.TargetFormat = AV_PIX_FMT_BGR24;
    converter.BitmapFormat = 24;
    converter.BufferSize = 0;
    std::fill(std::begin(converter.PictureData), std::end(converter.PictureData), nullptr);
    std::fill(std::begin(converter.PictureLinesize), std::end(converter.PictureLinesize), 0);
    converter.SourceData = nullptr;
    converter.SourceLinesize = nullptr;
}
