// Placeholder run operations of the engine so that everything links until the run files exist.
#include "engine/FFmpeg.h"

TConvertThread* TCustomFFmpeg::StartConvert(bool, TConvertPriority) {
    throw FFmpegException("Conversion runs are not available yet");
}

void TCustomFFmpeg::Pause() {}
void TCustomFFmpeg::Resume() {}
void TCustomFFmpeg::RequestStop(bool) {
    StopRequested = true;
}
void TCustomFFmpeg::Stop(bool Wait) {
    RequestStop(Wait);
}
void TCustomFFmpeg::Run() {}

void TCustomFFmpeg::DoTerminate() {
    Running = false;
    Terminated = true;
    ConvertThread = nullptr;
    if (OnTerminate)
        OnTerminate(this);
}

void TCustomFFmpeg::InitRunDefaults() {}
void TCustomFFmpeg::CloseRunState() {}
bool TCustomFFmpeg::AddVideoHook(const std::vector<std::string>&) {
    return false;
}
