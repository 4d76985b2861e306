// Helpers of the engine run tests: a scratch folder, a prepared engine with one output, runs on
// a worker thread waited for on the main thread (serving hand-overs), the engine's log lines and
// ffprobe's counts of an output.
#ifndef SOUNDPICK_TESTS_ENGINE_RUNHARNESS_H
#define SOUNDPICK_TESTS_ENGINE_RUNHARNESS_H

#include "engine/FFmpeg.h"
#include "ffbind/FFmpegLogger.h"
#include "ffbind/TempFolder.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>
#include <utility>
#include <vector>

using TOptionList = std::vector<std::pair<std::string, std::string>>;

// Collects the log lines delivered on the main thread while it lives.
class TLogCapture {
public:
    TLogCapture();
    ~TLogCapture();
    bool Contains(const std::string& text) const;
    // The level of the first line containing text; -1 when none does.
    int LevelOf(const std::string& text) const;
    // Index of the first line that contains text, or -1.
    int IndexOf(const std::string& text) const;

private:
    std::vector<std::pair<TLogLevel, std::string>> Lines;
};

// The engine with the set-up records under its public face open to the tests that check them.
class TEngineOpen : public TCustomFFmpeg {
public:
    using TCustomFFmpeg::InputCodecs;
    using TCustomFFmpeg::InputDecoders;
    using TCustomFFmpeg::InputFileTsOffsetsUs;
    using TCustomFFmpeg::JoinMode;
    using TCustomFFmpeg::MakeRun;
    using TCustomFFmpeg::new_audio_stream;
    using TCustomFFmpeg::new_video_stream;
    using TCustomFFmpeg::OutputCodecs;
    using TCustomFFmpeg::OutputStreamSetup;
    using TCustomFFmpeg::UseVideoFilters;
};

// An engine reset and ready for options, inputs and outputs, counting its end notifications.
struct TEngineUnderTest {
    TEngineUnderTest();
    ~TEngineUnderTest();
    // Applies the options, then opens the inputs; asserts each open.
    void OpenInputs(const TOptionList& options, const std::vector<std::filesystem::path>& inputs);
    // Applies the options and creates one output; asserts success.
    void CreateOutput(const TOptionList& options, const std::filesystem::path& output,
                      bool join = false);
    // Starts a threaded run; the worker is started at once unless told otherwise.
    TServedThread* Start(bool startWorker = true);
    // Waits, serving hand-overs, until the end notification has come.
    void WaitForEnd();
    // Start and WaitForEnd.
    void RunToEnd();

    std::unique_ptr<TEngineOpen> Engine;
    std::atomic<int> Terminations{0};
    std::atomic<int> Progresses{0};
};

// ffprobe's packet count of the first stream of a kind ("a", "v").
int ProbePacketCount(const std::filesystem::path& file, const std::string& kind);
// Whether the first packet of the first stream of a kind is a key frame.
bool ProbeFirstPacketIsKey(const std::filesystem::path& file, const std::string& kind);

#endif
