// The output format table.
#include "component/OutputFormats.h"

#include "ffbind/TextUtils.h"

#include <algorithm>
#include <iterator>
#include <string>

namespace {

// The rates of the encoders that take only some.
constexpr int Mp2RatesHz[] = {16000, 22050, 24000, 32000, 44100, 48000};
constexpr int Ac3RatesHz[] = {32000, 44100, 48000};

// The engine picks each container's codecs from the extension; a row names only what differs.
constexpr TOutputFormat Formats[] = {
    {.Id = fmMp3,
     .Caption = "Mp3",
     .CliName = "mp3",
     .Extension = ".mp3",
     .AudioOnly = true,
     .Description = "lossy, plays almost everywhere"},
    {.Id = fmMp2,
     .Caption = "Mp2",
     .CliName = "mp2",
     .Extension = ".mp2",
     .AudioOnly = true,
     .SampleRatesHz = Mp2RatesHz,
     .Description = "MPEG audio layer II, lossy"},
    {.Id = fmWma,
     .Caption = "Wma",
     .CliName = "wma",
     .Extension = ".wma",
     .AudioOnly = true,
     .AudioCodec = "wmav2",
     .NoVideo = true,
     .Description = "Windows Media Audio 2, lossy"},
    {.Id = fmOgg,
     .Caption = "Ogg",
     .CliName = "ogg",
     .Extension = ".ogg",
     .AudioCodec = "flac",
     .VideoCodec = "libtheora",
     .Description = "FLAC sound, with the input's video as Theora"},
    {.Id = fmAac,
     .Caption = "Aac",
     .CliName = "aac",
     .Extension = ".aac",
     .AudioOnly = true,
     .Description = "AAC in an ADTS stream, lossy"},
    {.Id = fmM4a,
     .Caption = "M4a",
     .CliName = "m4a",
     .Extension = ".m4a",
     .Description = "AAC in an MPEG-4 file, with the input's video as H.264"},
    {.Id = fmFlac,
     .Caption = "Flac",
     .CliName = "flac",
     .Extension = ".flac",
     .Description = "lossless, compressed"},
    {.Id = fmAc3,
     .Caption = "Ac3",
     .CliName = "ac3",
     .Extension = ".ac3",
     .AudioOnly = true,
     .SampleRatesHz = Ac3RatesHz,
     .Description = "AC-3, lossy"},
    {.Id = fmWav,
     .Caption = "Wav",
     .CliName = "wav",
     .Extension = ".wav",
     .AudioOnly = true,
     .Description = "uncompressed 16-bit PCM"},
    {.Id = fmAu,
     .Caption = "Au",
     .CliName = "au",
     .Extension = ".au",
     .Description = "uncompressed 16-bit PCM, big-endian"},
    {.Id = fmRa,
     .Caption = "Ra",
     .CliName = "ra",
     .Extension = ".ra",
     .SampleRatesHz = Ac3RatesHz,
     .Description = "AC-3 sound, with the input's video as RealVideo"},
    // Without the output video switch a container such as .m4a or .mka would be given an
    // encoded video beside the copied sound.
    {.Id = fmCopy,
     .Caption = "Original",
     .CliName = "copy",
     .AudioOnly = true,
     .AudioCodec = "copy",
     .NoVideo = true,
     .StreamCopy = true,
     .Description = "the first audio stream as it is, in the container that fits its codec (a "
                    "clip is cut at the nearest packets)"},
    {.Id = fmOpus,
     .Caption = "Opus",
     .CliName = "opus",
     .Extension = ".opus",
     .AudioOnly = true,
     .AudioCodec = "libopus",
     .SampleRateHz = 48000,
     .DefaultChannels = 2,
     .DefaultBitRateKbps = 96,
     .Description = "lossy, always 48 kHz; stereo at 96 kbit/s unless chosen"},
};

// Each row in its id's place.
constexpr bool RowsInIdOrder() {
    for (std::size_t i = 0; i < std::size(Formats); ++i)
        if (std::size_t(Formats[i].Id) != i)
            return false;
    return true;
}
static_assert(RowsInIdOrder());

} // namespace

bool TakesSampleRate(const TOutputFormat& format, int rateHz) {
    if (format.SampleRateHz > 0)
        return rateHz == format.SampleRateHz;
    return format.SampleRatesHz.empty() ||
           std::find(format.SampleRatesHz.begin(), format.SampleRatesHz.end(), rateHz) !=
               format.SampleRatesHz.end();
}

bool TakesBitRate(const TOutputFormat& format, int64_t kbps) {
    return kbps >= format.MinBitRateKbps && kbps <= format.MaxBitRateKbps;
}

std::optional<int> BitRateKbpsFor(const TOutputFormat& format, std::optional<int> chosenKbps) {
    if (chosenKbps && TakesBitRate(format, *chosenKbps))
        return chosenKbps;
    if (format.DefaultBitRateKbps > 0)
        return format.DefaultBitRateKbps;
    return std::nullopt;
}

std::span<const TOutputFormat> OutputFormats() {
    return Formats;
}

const TOutputFormat* FindOutputFormat(std::string_view name) {
    const std::string lower = LowerCase(std::string(name));
    for (const TOutputFormat& format : Formats)
        if (LowerCase(std::string(format.Caption)) == lower || format.CliName == lower)
            return &format;
    return nullptr;
}

const TOutputFormat& OutputFormatOf(TOutputFormatId id) {
    return Formats[id];
}
