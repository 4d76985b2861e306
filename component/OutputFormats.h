// The output format table: one row per format a user can choose, in the dialog's order. The
// dialog's buttons, soundpick-cli's -f and its usage text and the output assembly all read it,
// so a new format is one new row and its id.
#ifndef SOUNDPICK_COMPONENT_OUTPUTFORMATS_H
#define SOUNDPICK_COMPONENT_OUTPUTFORMATS_H

#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

// A row of the table, by its place: what the choices, the dialog and the command line hold. Its
// names are only read (-f, the dialog's kept settings) and written (the output folder's record)
// at the edges.
enum TOutputFormatId {
    fmMp3,
    fmMp2,
    fmWma,
    fmOgg,
    fmAac,
    fmM4a,
    fmFlac,
    fmAc3,
    fmWav,
    fmAu,
    fmRa,
    fmCopy,
    fmOpus
};

struct TOutputFormat {
    TOutputFormatId Id = fmMp3;
    std::string_view Caption = {}; // the dialog's button, e.g. "Mp3"
    std::string_view CliName = {}; // the value of soundpick-cli's -f, e.g. "mp3"
    // The output's extension; empty for the stream copy, whose container follows its codec.
    std::string_view Extension = {};
    bool AudioOnly = false; // the input's video is not read ("vn=1" on the input)

    // What the format sets on the output record; empty or -1 leaves the field to the choices
    // and the engine's defaults.
    std::string_view AudioCodec = {};
    std::string_view VideoCodec = {};
    bool NoVideo = false;
    int SampleRateHz = -1; // the only rate the encoder takes
    // The rates the encoder takes when it takes only some; empty: any (or the one above).
    std::span<const int> SampleRatesHz = {};
    int DefaultChannels = -1; // when none is chosen
    // Bit rates in kbit/s: the one when none is chosen (-1: the encoder's own), and the limits of
    // one chosen, whose bits per second must fit the engine's 32-bit field.
    int DefaultBitRateKbps = -1;
    int MinBitRateKbps = 1;
    int MaxBitRateKbps = 2000000;
    bool StreamCopy = false; // the sound as it is: nothing that would change it is set

    std::string_view Description = {}; // one line for users
};

// Whether the format's encoder takes the rate as it is (other rates become the nearest taken).
bool TakesSampleRate(const TOutputFormat& format, int rateHz);

// Whether a bit rate chosen (kbit/s) lies within the format's limits: the one rule of the
// command line's check, the dialog's and the assembly's.
bool TakesBitRate(const TOutputFormat& format, int64_t kbps);

// The bit rate (kbit/s) the output is encoded at: the one chosen when the format takes it, else
// the format's default; none: the encoder's own.
std::optional<int> BitRateKbpsFor(const TOutputFormat& format, std::optional<int> chosenKbps);

// Every row, in the dialog's order.
std::span<const TOutputFormat> OutputFormats();

// The row named so by its caption or its command-line name, in any case; nullptr for none.
const TOutputFormat* FindOutputFormat(std::string_view name);

const TOutputFormat& OutputFormatOf(TOutputFormatId id);

#endif
