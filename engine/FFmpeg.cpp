// The conversion engine's life (defaults, reset, release) and its option table.
#include "engine/FFmpeg.h"

#include "ffbind/FFmpegLoader.h"
#include "ffbind/FFmpegLogger.h"

TCustomFFmpeg::TCustomFFmpeg() {
    InitDefaults();
}

TCustomFFmpeg::~TCustomFFmpeg() {
    RequestStop(true);
    CloseAll();
}

void TCustomFFmpeg::InitDefaults() {
    static_cast<TOptionState&>(*this) = TOptionState{};
    UseVideoFilters = false;
    ErrorOccurred = false;
    ConvertThread = nullptr;
    PreviewFlags = 0;
    MissingEffectsLogged.clear();
    InitRunDefaults();
}

void TCustomFFmpeg::Reset() {
    if (!Loader().LibsLoaded(DefaultLibraries))
        return;
    CloseAll();
    InitDefaults();
    JoinMode = false;
    Running = false;
    StopRequested = false;
    Finished = false;
    Terminated = false;
    RecordingTimeMs = -1;
    CreateOptionContexts();
}

void TCustomFFmpeg::CloseAll() {
    if (!Loader().LibsLoaded(DefaultLibraries))
        return;
    FreeOptionContexts();
    CloseRunState();
    CloseOutputFiles();
    CloseInputFiles();
}

void TCustomFFmpeg::CreateOptionContexts() {
    FreeOptionContexts();
    for (int kind = AVMEDIA_TYPE_VIDEO; kind <= AVMEDIA_TYPE_ATTACHMENT; ++kind) {
        OptionContexts.Codecs[kind].reset(ff::avcodec_alloc_context3(nullptr));
        if (!OptionContexts.Codecs[kind])
            throw FFmpegException("avcodec_alloc_context3 failed");
        OptionContexts.Codecs[kind]->codec_type = static_cast<AVMediaType>(kind);
    }
    OptionContexts.Format.reset(ff::avformat_alloc_context());
    if (!OptionContexts.Format)
        throw FFmpegException("avformat_alloc_context failed");
    OptionContexts.Scaler.reset(ff::sws_getContext(16, 16, AVPixelFormat(0), 16, 16,
                                                   AVPixelFormat(0), ScalerFlags, nullptr, nullptr,
                                                   nullptr));
}

void TCustomFFmpeg::FreeOptionContexts() {
    OptionContexts = TOptionContexts{};
}

TOutputFileSetup& TCustomFFmpeg::OutputFileSetup(int OutputIndex) {
    AVFormatContext* context = OutputFiles.at(OutputIndex);
    for (auto& setup : OutputSetups)
        if (setup->Context.get() == context)
            return *setup;
    throw FFmpegException("output file entry without set-up record");
}

TOutputStreamSetup& TCustomFFmpeg::OutputStreamSetup(int OutputIndex, int StreamIndex) {
    return OutputFileSetup(OutputIndex).Streams.at(StreamIndex);
}
