// The command line of soundpick-cli: what the user asked for, checked, with the usage text.
#ifndef SOUNDPICK_CLI_CLIOPTIONS_H
#define SOUNDPICK_CLI_CLIOPTIONS_H

#include "component/OutputFormats.h"
#include "engine/EngineChoices.h"

#include <optional>
#include <string>
#include <vector>

struct TCliOptions {
    TOutputFormatId Format = fmMp3;
    std::optional<int> SampleRateHz; // none: automatic
    std::optional<int> Channels;     // 1 or 2; none: automatic
    std::optional<int> Volume;       // 256 = unchanged
    std::optional<int> BitRateKbps;
    std::optional<double> LoudnessLufs; // loudness normalisation's target
    std::optional<double> StartSeconds; // clip start
    std::optional<double> EndSeconds;   // clip end
    // Clip each file to where its sound rises above this level (dBFS).
    std::optional<double> TrimSilenceDb;
    std::string OutputFolder; // empty: beside each input
    bool Overwrite = false;
    bool CopyTimestamp = false;
    // Kept tags and cover, covers scaled to fit a square, track and album gain tags.
    TEngineChoices Engine{.KeepTags = true};
    bool NoSplit = false;       // one encoder per output, however long
    std::string Lossy;          // "copy" or "convert"; empty: copy under folders, else convert
    int MaxBitRateKbps = 0;     // with copy: the highest bit rate kept; 0: the output's
    std::string Track;          // the audio track by number or language; empty: the default one
    bool AllTracks = false;     // one output per audio track
    bool SplitChapters = false; // one output per chapter
    bool Cue = false;           // a cue sheet beside an audio file gives its tracks
    int Jobs = 1;
    bool Info = false;
    std::vector<std::string> ExtraOptions; // "name=value" for the output
    // Batches over a library (folders as inputs).
    std::string NameTemplate; // --name: output paths from tags; empty: the input's tree
    bool Update = false;      // skip inputs whose output is complete and newer
    std::string Shard;        // "K/N": only this share of the inputs; empty: all
    bool Delete = false;      // remove the recorded outputs of inputs gone from the folders
    bool DryRun = false;      // list what the run would do, write nothing
    std::string ReportFile;   // one JSON line per input; empty: none
    bool CopyImages = false;  // cover images beside the outputs
    bool Verbose = false;
    bool Quiet = false;
    bool Json = false;
    bool Help = false;
    bool Version = false;
    std::vector<std::string> Files;
};

// The parse result: options, or the text of a usage error.
struct TCliParse {
    TCliOptions Options;
    std::string Error; // empty when the command line is good
};

// Parses argv (argv[0] is the program). Jobs default to the number of processors.
TCliParse ParseCliOptions(int argc, char* argv[]);

std::string CliUsageText();

#endif
