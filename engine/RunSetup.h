// What a transcode run takes from its engine when it starts, and what it hands back when it ends.
// The run reads the options and the opened inputs and created outputs; it opens the codec contexts
// the set-up made for it and writes the output files, and those it is handed by name. It tells its
// engine's users through the events it is given and hands its findings back in its outcome, which
// the engine takes once the run is over.
#ifndef SOUNDPICK_ENGINE_RUNSETUP_H
#define SOUNDPICK_ENGINE_RUNSETUP_H

#include "engine/EngineSetup.h"
#include "engine/HookAction.h"
#include "engine/OptionState.h"
#include "engine/ProgressReport.h"
#include "ffbind/FrameHook.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

class TBitmap24; // ffbind/FFUtils.h

struct TRunSetup {
    const TOptionState& Options;
    // Opened inputs in opening order, and output file entries in order (in join mode one file
    // appears once per input); the run reads the inputs and writes the outputs.
    const std::vector<AVFormatContext*>& InputFiles;
    const std::vector<AVFormatContext*>& OutputFiles;
    const std::vector<std::unique_ptr<TInputFileSetup>>& InputSetups;
    // The set-up record behind each output file entry (join replicas share one record).
    std::vector<const TOutputFileSetup*> Outputs;
    // The decoder context of each input stream in global stream order, which the run opens (none
    // for a stream nothing decodes), and the decoder forced for it (nullptr when none).
    std::vector<AVCodecContext*> InputDecoders;
    const std::vector<const AVCodec*>& InputCodecs;
    // Added to every time stamp of input n; input n was opened at a start time.
    std::vector<int64_t> InputFileTsOffsetsUs;
    std::vector<bool> InputFileClipped;
    bool JoinMode = false;
    bool UseVideoFilters = false;
    // The library-level options as set (the scaler's flags among them).
    const TOptionContexts& OptionContexts;
    const TFrameHookChain& VideoHookChain;
    // The engine's stop request, read as the run goes.
    const std::atomic<bool>& StopRequested;
    int64_t ProgressIntervalUs = 0;
    int64_t PreviewIntervalUs = 0;
    // The previews wanted (bit 0 the window, bit 1 the bitmap event), read as the run goes: a user
    // may switch them meanwhile.
    const uint8_t& PreviewFlags;
    // Whether an output whose video encoder refused the picture may be made again without it.
    std::function<bool(const AVStream*)> SoundAloneFallback;

    int InputFileCount() const { return static_cast<int>(InputFiles.size()); }
    int OutputFileCount() const { return static_cast<int>(OutputFiles.size()); }
    const TOutputFileSetup& OutputSetupOf(int OutputIndex) const {
        return *Outputs.at(static_cast<std::size_t>(OutputIndex));
    }
};

// The engine's events as a run fires them (the engine is their sender), its pause gate, and the
// sender of the run's log lines. An event that is not set is not fired.
struct TRunEvents {
    const void* LogSender = nullptr;
    std::function<void()> HoldWhilePaused;
    std::function<void(const TProgressInfo& Progress)> Progress;
    std::function<void(int64_t Pts, THookAction& Action)> BeforeHook;
    std::function<void(TBitmap24& Bitmap, int FrameNumber, int64_t Pts, bool& Update,
                       bool& StopHook)>
        CustomHook;
    std::function<void(TBitmap24& Bitmap, int FrameNumber, int64_t Pts)> PreviewBitmap;
};

// What a run found that outlives it.
struct TRunOutcome {
    // Per output file entry: sound was written to it (the end of the run keeps or removes its file
    // by this).
    std::vector<bool> OutputHasSound;
    // A finished run's warning, short and long (empty when none).
    std::string WarningSummary;
    std::string WarningMessage;
    // The hooks are done with for the engine: its custom hook dropped, its hook chain off.
    bool HooksStopped = false;
    // The kinds of preview that failed (bits as in the preview flags).
    uint8_t PreviewFlagsFailed = 0;
};

#endif
