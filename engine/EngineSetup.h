// The engine's set-up records of opened inputs and created outputs: what the options made before
// a run, which the run reads.
#ifndef SOUNDPICK_ENGINE_ENGINESETUP_H
#define SOUNDPICK_ENGINE_ENGINESETUP_H

#include "engine/OutputTarget.h"
#include "ffbind/FFHandles.h"
#include "ffbind/UnicodeProtocol.h"

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

// One stream created on an output. Streams no longer carry a codec context: each output stream
// gets an encoder context owned by the engine, filled by stream creation and opened by the
// transcode initialisation.
struct TOutputStreamSetup {
    AVStream* Stream = nullptr;
    // Allocated for the chosen encoder (or with no codec for a stream copy); holds codec id and
    // type, rates, sizes, formats, flags, quality and the copied generic options.
    CodecContextPtr Encoder;
    // The encoder chosen or guessed; none for a stream copy or when no encoder exists for the
    // guessed id (the transcode then reports it).
    const AVCodec* Codec = nullptr;
    bool StreamCopy = false;
    // Private options of the encoder (presets and generic options that only the encoder
    // knows), to pass to avcodec_open2.
    DictionaryPtr EncoderOptions;
    // Bitstream filter names for this stream, moved from the pending list of its kind.
    std::vector<std::string> BitstreamFilters;
};

// One created output file with its streams. The file the target created is open for writing
// (IO, set as the context's pb) unless its format has no file; CloseOutputFiles closes it,
// keeps, commits or removes it as the run ended, and frees the context.
struct TOutputFileSetup {
    TMediaIO IO;
    OutputFormatPtr Context;
    std::filesystem::path FileName;
    TOutputTarget Target;
    // Sound was written to it (set at the end of the run).
    bool HasSound = false;
    // Muxer private options (muxrate, preload, ...), to pass to avformat_write_header.
    DictionaryPtr MuxerOptions;
    std::vector<TOutputStreamSetup> Streams; // by stream index
};

// One opened input file: the format context and the I/O serving it.
struct TInputFileSetup {
    TInputContext Input;
    std::filesystem::path FileName;
    // Where reading starts (`ss`) and the length of sound the input declares, microseconds
    // (-1 when it declares none).
    int64_t StartUs = 0;
    int64_t SoundLengthUs = -1;
};

#endif
