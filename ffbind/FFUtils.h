// Small helpers shared by the probe and the engine: the wording of sizes, durations, open errors,
// codecs and media types, metadata lookup, text splitting, and the picture converter that turns a
// library picture into our own 24-bit bitmap.
#ifndef SOUNDPICK_FFBIND_FFUTILS_H
#define SOUNDPICK_FFBIND_FFUTILS_H

#include "FFHandles.h"

#include <cstdarg>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

// printf-style formatting into a text of any length (the program's Format(...)).
std::string FormatText(const char* format, ...) __attribute__((format(printf, 1, 2)));
std::string FormatTextV(const char* format, va_list args);

// "1.50 MB", "1024 Byte": a byte count as shown in the media information.
std::string SizeText(int64_t sizeBytes);

// "01:02:03.004": microseconds as hours (not wrapped at 24), minutes, seconds and milliseconds.
std::string DurationText(int64_t durationUs);

// The library's own text for an error code (what av_err2str gives in C).
std::string ErrorText(int code);

// Logs the library's own words for a failed open at verbose level and returns OpenErrorText.
std::string LoggedOpenErrorText(const std::string& name, int code);

// "<name>: no such file or directory" and the other texts for a failed open or write.
// AVERROR_INVALIDDATA, AVERROR(EINVAL) and AVERROR_DEMUXER_NOT_FOUND (no format found) read as
// a file this program cannot read; AVERROR(EISDIR) as a folder, AVERROR(ESPIPE) as no regular
// file; AVERROR_PATCHWELCOME as a variant of the format this program cannot read, with what the
// library named (LastLibraryError); a code without a text of its own as "Error while opening
// file" and the library's words. AVERROR(EDOM) is the image file-name syntax text.
std::string OpenErrorText(const std::string& name, int code);

// "<name>: its sound (<codec>) cannot be decoded: …": a sound decoder that refused to open on
// what the file's header says, in the words of both the conversion and the probe's readers.
std::string UndecodableSoundText(const std::string& name, AVCodecID codecId);

// "mp3(MP3 (MPEG audio layer 3))", "mpeg2ts", "DIVX / 0x58564944" or "0x0001": the codec of a
// stream as named in its description, looked up as an encoder or a decoder.
enum TCodecRole { crDecoder, crEncoder };
std::string CodecDescription(const AVCodecContext* context, TCodecRole role);
std::string CodecDescription(const AVCodecParameters* parameters, TCodecRole role);

// "Video", "Audio", "Data", "Subtitle", "Attachment"; any other number "Unknown".
std::string MediaTypeName(int mediaType);

// The value stored under key (case-insensitive), or defaultValue when there is none.
std::string MetadataValue(const AVDictionary* dictionary, const char* key,
                          const std::string& defaultValue = std::string());

// Head = source up to the first delimiter (all of it when there is none). With removeHead the
// source keeps only what follows the delimiter (nothing when there is none). True when found.
bool SplitFirst(std::string& source, const std::string& delimiter, bool removeHead,
                std::string& head);

// Our 24-bit picture: rows of Width() x 3 bytes in B, G, R order, each padded to a multiple of
// four bytes, row 0 at the top. New and resized pictures are black.
class TBitmap24 {
public:
    TBitmap24() = default;
    TBitmap24(int width, int height) { SetSize(width, height); }

    // Keeps the contents when the size does not change.
    void SetSize(int width, int height);
    int Width() const { return WidthPx; }
    int Height() const { return HeightPx; }
    int Stride() const { return (WidthPx * 3 + 3) & ~3; }
    uint8_t* Row(int i) { return Pixels.data() + static_cast<std::size_t>(i) * Stride(); }
    const uint8_t* Row(int i) const {
        return Pixels.data() + static_cast<std::size_t>(i) * Stride();
    }
    uint8_t* Data() { return Pixels.data(); }
    const uint8_t* Data() const { return Pixels.data(); }

private:
    int WidthPx = 0;
    int HeightPx = 0;
    std::vector<uint8_t> Pixels;
};

// Converts library pictures of any pixel format into a TBitmap24, keeping its scaler and buffer
// between calls. One per use site; not shared between threads.
struct TPictureConverter {
    TPictureConverter() = default;
    TPictureConverter(const TPictureConverter&) = delete;
    TPictureConverter& operator=(const TPictureConverter&) = delete;

    AVPixelFormat TargetFormat = AV_PIX_FMT_BGR24;
    int BitmapFormat = 24;             // bits per pixel of Bitmap
    std::unique_ptr<TBitmap24> Bitmap; // made by the first conversion
    AvMemPtr Buffer;                   // converted picture storage
    int BufferSize = 0;
    uint8_t* PictureData[4] = {}; // planes laid over Buffer
    int PictureLinesize[4] = {};
    const uint8_t* const* SourceData = nullptr; // what the last conversion copied from
    const int* SourceLinesize = nullptr;
    SwsPtr Scaler;
    SwsPtr Scaler2; // the engine's way back from the bitmap to a library picture
};

// Converts the picture (planes and line sizes as in AVFrame) of the given pixel format into
// converter.Bitmap. False when no scaler exists for the format; the caller then reports
// "Cannot initialize the toRGB conversion context".
bool ConvertPicture(TPictureConverter& converter, const uint8_t* const data[], const int linesize[],
                    AVPixelFormat format, int height, int width);

// Frees the bitmap, buffer and scalers and returns the converter to its initial state.
void ResetPictureConverter(TPictureConverter& converter);

#endif
