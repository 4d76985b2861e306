// The output format table: one row per format a user can choose, in the dialog's order. The
// dialog's buttons, soundpick-cli's -f and its usage text and the output assembly all read it,
// so a new format is one new row.
#ifndef SOUNDPICK_COMPONENT_OUTPUTFORMATS_H
#define SOUNDPICK_COMPONENT_OUTPUTFORMATS_H

#include <span>
#include <string_view>

struct TOutputFormat {
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
    int DefaultChannels = -1;   // when none is chosen
    int DefaultBitrateBps = -1; // when none is chosen
    bool StreamCopy = false;    // the sound as it is: nothing that would change it is set

    std::string_view Description = {}; // one line for users
};

// Whether the format's encoder takes the rate as it is (other rates become the nearest taken).
bool TakesSampleRate(const TOutputFormat& format, int rateHz);

// Every row, in the dialog's order.
std::span<const TOutputFormat> OutputFormats();

// The row named so by its caption or its command-line name, in any case; nullptr for none.
const TOutputFormat* FindOutputFormat(std::string_view name);

// The row of a name the front ends offered, found as above; std::invalid_argument for any other
// text.
const TOutputFormat& OutputFormatOf(std::string_view caption);

#endif
