// The run's link to its engine and the start of a run.
#include "engine/TranscodeRun.h"

#include <iterator>
#include <type_traits>

// The set-up stays as it is while a run works: the run holds only a const view of it.
static_assert(std::is_const_v<std::remove_reference_t<decltype(TTranscodeRun::Setup)>>);

void TRunLink::HoldWhilePaused() const {
    Engine.HoldWhilePaused();
}

void TRunLink::Progress(const TProgressInfo& Progress) const {
    if (Engine.OnProgress)
        Engine.OnProgress(&Engine, Progress);
}

void TRunLink::BeforeHook(int64_t Pts, THookAction& Action) const {
    Engine.OnBeforeHook(&Engine, Pts, Action);
}

void TRunLink::CustomHook(TBitmap24& Bitmap, int FrameNumber, int64_t Pts, bool& Update,
                          bool& StopHook) const {
    Engine.OnCustomHook(&Engine, Bitmap, FrameNumber, Pts, Update, StopHook);
}

void TRunLink::PreviewBitmap(TBitmap24& Bitmap, int FrameNumber, int64_t Pts) const {
    Engine.OnPreviewBitmap(&Engine, Bitmap, FrameNumber, Pts);
}

void TRunLink::StopHooks() const {
    Engine.OnCustomHook = nullptr;
    Engine.UsingVhook = false;
}

void TRunLink::SetPreviewFlags(uint8_t Flags) const {
    Engine.PreviewFlags = Flags;
}

void TRunLink::NoteSound(int OutputIndex) const {
    Engine.OutputFileSetup(OutputIndex).HasSound = true;
}

void TRunLink::Warn(const std::string& Summary, const std::string& Message) const {
    Engine.WarningSummary = Summary;
    Engine.WarningMessage = Message;
}

TTranscodeRun::TTranscodeRun(TCustomFFmpeg& Engine) : Setup(Engine), Link(Engine) {
    State.InputTsOffsetsUs.assign(std::begin(Setup.InputFileTsOffsetsUs),
                                  std::end(Setup.InputFileTsOffsetsUs));
    State.CoverPackets.resize(Setup.OutputFiles.size());
}

const TOutputStreamSetup& TTranscodeRun::StreamSetupOf(const TOutputStream& Ost) const {
    return Setup.OutputSetupOf(Ost.FileIndex).Streams.at(static_cast<std::size_t>(Ost.Index));
}
