// The run's link to its engine and the start of a run.
#include "engine/TranscodeRun.h"

#include <type_traits>
#include <utility>

// The set-up stays as it is while a run works: the run holds only a const view of it.
static_assert(std::is_const_v<std::remove_reference_t<decltype(TTranscodeRun::Setup)>>);

TRunLink::TRunLink(TRunEvents AEvents, const TRunSetup& ASetup)
    : Events(std::move(AEvents)), Setup(ASetup) {
    Outcome.OutputHasSound.assign(Setup.OutputFiles.size(), false);
}

void TRunLink::HoldWhilePaused() const {
    if (Events.HoldWhilePaused)
        Events.HoldWhilePaused();
}

void TRunLink::Progress(const TProgressInfo& Progress) const {
    if (Events.Progress)
        Events.Progress(Progress);
}

void TRunLink::BeforeHook(int64_t Pts, THookAction& Action) const {
    Events.BeforeHook(Pts, Action);
}

void TRunLink::CustomHook(TBitmap24& Bitmap, int FrameNumber, int64_t Pts, bool& Update,
                          bool& StopHook) const {
    Events.CustomHook(Bitmap, FrameNumber, Pts, Update, StopHook);
}

void TRunLink::PreviewBitmap(TBitmap24& Bitmap, int FrameNumber, int64_t Pts) const {
    Events.PreviewBitmap(Bitmap, FrameNumber, Pts);
}

uint8_t TRunLink::PreviewFlags() const {
    return static_cast<uint8_t>(Setup.PreviewFlags & ~Outcome.PreviewFlagsFailed);
}

void TRunLink::SetPreviewFlags(uint8_t Flags) {
    Outcome.PreviewFlagsFailed |= static_cast<uint8_t>(PreviewFlags() & ~Flags);
}

void TRunLink::NoteSound(int OutputIndex) {
    Outcome.OutputHasSound.at(static_cast<std::size_t>(OutputIndex)) = true;
}

void TRunLink::Warn(const std::string& Summary, const std::string& Message) {
    Outcome.WarningSummary = Summary;
    Outcome.WarningMessage = Message;
}

TRunOutcome TRunLink::TakeOutcome() {
    return std::exchange(Outcome, {});
}

TTranscodeRun::TTranscodeRun(TRunSetup ASetup, TRunEvents Events)
    : Setup(std::move(ASetup)), Link(std::move(Events), Setup) {
    State.InputTsOffsetsUs = Setup.InputFileTsOffsetsUs;
    State.CoverPackets.resize(Setup.OutputFiles.size());
}

const TOutputStreamSetup& TTranscodeRun::StreamSetupOf(const TOutputStream& Ost) const {
    return Setup.OutputSetupOf(Ost.FileIndex).Streams.at(static_cast<std::size_t>(Ost.Index));
}
