// Set-up operations still to be written; each moves to its own file when done.
#include "engine/FFmpeg.h"

void TCustomFFmpeg::SetOption(const std::string&, const std::string&) {}
bool TCustomFFmpeg::SetGenericOption(const std::string&, const std::string&) {
    return false;
}
bool TCustomFFmpeg::SetGenericOption(const std::string&, int64_t) {
    return false;
}
void TCustomFFmpeg::SetInputFormat(const std::string&) {}
void TCustomFFmpeg::SetOutputFormat(const std::string&) {}
void TCustomFFmpeg::SetAudioCodec(const std::string&) {}
void TCustomFFmpeg::SetVideoCodec(const std::string&) {}
void TCustomFFmpeg::SetSubtitleCodec(const std::string&) {}
void TCustomFFmpeg::SetAudioSampleRate(int) {}
void TCustomFFmpeg::SetAudioChannels(int) {}
void TCustomFFmpeg::SetAudioVolume(int) {}
void TCustomFFmpeg::SetAudioSyncMethod(int) {}
void TCustomFFmpeg::SetVideoSyncMethod(int) {}
void TCustomFFmpeg::SetMuxMaxDelay(float) {}
void TCustomFFmpeg::SetMuxPreload(float) {}
void TCustomFFmpeg::SetAudioTag(const std::string&) {}
void TCustomFFmpeg::SetVideoTag(const std::string&) {}
void TCustomFFmpeg::SetFrameRate(const std::string&) {}
void TCustomFFmpeg::SetFrameSize(const std::string&) {}
void TCustomFFmpeg::SetAspectRatio(const std::string&) {}
void TCustomFFmpeg::SetCropTop(int) {}
void TCustomFFmpeg::SetCropBottom(int) {}
void TCustomFFmpeg::SetCropLeft(int) {}
void TCustomFFmpeg::SetCropRight(int) {}
void TCustomFFmpeg::SetPadTop(int) {}
void TCustomFFmpeg::SetPadBottom(int) {}
void TCustomFFmpeg::SetPadLeft(int) {}
void TCustomFFmpeg::SetPadRight(int) {}
void TCustomFFmpeg::SetPadColor(int) {}
void TCustomFFmpeg::SetVideoFilters(const std::string&) {}
void TCustomFFmpeg::SetProgramId(int) {}
void TCustomFFmpeg::SetStartTime(int64_t) {}
void TCustomFFmpeg::SetRecordingTime(int64_t) {}
void TCustomFFmpeg::SetRecordingTimeMs(int) {}
void TCustomFFmpeg::AddMetadata(const std::string&, const std::string&) {}
void TCustomFFmpeg::SetVerbose(int) {}
void TCustomFFmpeg::LoadPreset(const std::string&, const std::string&) {}
void TCustomFFmpeg::SetTarget(const std::string&, const std::string&, const std::string&) {}
void TCustomFFmpeg::SetHookTimeRanges(const std::vector<THookTimeRange>&) {}
bool TCustomFFmpeg::OpenInputFile(const std::filesystem::path&) {
    return false;
}
int TCustomFFmpeg::OpenOutputFile(const std::filesystem::path&, bool) {
    return -1;
}
bool TCustomFFmpeg::FindCodecIdByName(const std::string&, AVMediaType, bool, AVCodecID&) {
    return false;
}
void TCustomFFmpeg::new_video_stream(TOutputFileSetup&) {}
void TCustomFFmpeg::new_audio_stream(TOutputFileSetup&) {}
void TCustomFFmpeg::new_subtitle_stream(TOutputFileSetup&) {}
void TCustomFFmpeg::CloseOutputFiles() {
    OutputFiles.clear();
    OutputSetups.clear();
}
void TCustomFFmpeg::CloseInputFiles() {
    InputFiles.clear();
    InputSetups.clear();
}
void TCustomFFmpeg::CopyGenericOptions(void*, void*, int) {}
void TCustomFFmpeg::CollectPrivateOptions(AVMediaType, const AVCodec*, AVDictionary**) {}
void TCustomFFmpeg::LogMissingEffect(const std::string&, const char*) {}
int StrToInt(const std::string&) {
    return 0;
}
int64_t StrToInt64(const std::string&) {
    return 0;
}
double StrToFloat(const std::string&) {
    return 0;
}
