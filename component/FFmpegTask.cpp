// One conversion task: its option records become engine settings in a fixed order.
#include "component/FFmpegTask.h"

#include "component/LoudnessTarget.h"
#include "engine/AudioVolume.h"
#include "engine/CodecLoss.h"
#include "ffbind/FFUtils.h"
#include "ffbind/FFmpegLogger.h"
#include "ffbind/TextUtils.h"
#include "probe/AVProbe.h"

#include <cmath>

namespace {

// The kind an extra option's name belongs to.
TExtraOptionsKind KindOfOption(const std::string& name) {
    if (name == "apre" || name == "vpre" || name == "spre")
        return eoPreset;
    if (name == "newvideo" || name == "newaudio" || name == "newsubtitle")
        return eoNewStream;
    return eoOrdinary;
}

// Every line break (CR LF, CR, LF) as a single line feed.
std::string UnifyLineBreaks(const std::string& text) {
    std::string unified;
    unified.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\r') {
            unified += text[i];
            continue;
        }
        unified += '\n';
        if (i + 1 < text.size() && text[i + 1] == '\n')
            ++i;
    }
    return unified;
}

const char* TargetTypeText(int target) {
    switch (target) {
    case 1:
        return "vcd";
    case 2:
        return "svcd";
    case 3:
        return "dvd";
    default:
        return nullptr;
    }
}

const char* TargetNormText(int norm) {
    switch (norm) {
    case 1:
        return "pal";
    case 2:
        return "ntsc";
    default:
        return "auto";
    }
}

} // namespace

TFFmpeg::TFFmpeg() : TaskProbe(std::make_unique<TAVProbe>()) {}

TFFmpeg::~TFFmpeg() {
    // The run reports to callbacks that use this object: end it while it is still whole.
    RequestStop(swWaitForEnd);
    TaskProbe->CloseFile();
}

void TFFmpeg::ApplyExtraOptions(const std::string& text, TExtraOptionsKind kind) {
    std::string rest = UnifyLineBreaks(TrimBlanks(text));
    while (!rest.empty()) {
        const std::size_t lineFeed = rest.find('\n');
        const std::string line = rest.substr(0, lineFeed);
        rest = lineFeed == std::string::npos ? std::string() : rest.substr(lineFeed + 1);
        const std::size_t equals = line.find('=');
        const std::string name = line.substr(0, equals);
        const std::string value = equals == std::string::npos ? "" : line.substr(equals + 1);
        if (!name.empty() && KindOfOption(name) == kind)
            SetOption(name, value);
    }
}

void TFFmpeg::ApplyInputOptions(const TInputOptions& options) {
    ApplyExtraOptions(options.ExtraOptions, eoOrdinary);
    if (!options.FormatName.empty())
        SetInputFormat(options.FormatName);
    if (options.StartMs > 0)
        SetStartTime(static_cast<int64_t>(options.StartMs) * 1000);
    if (options.StartUs > 0)
        SetStartTime(options.StartUs);
    if (options.ProgramNo >= 0)
        SetProgramId(options.ProgramNo);
    if (options.AudioStream >= 0)
        PreferredAudioStream = options.AudioStream;
}

void TFFmpeg::ApplyOutputOptions(const TOutputOptions& options) {
    if (const char* type = TargetTypeText(options.Target))
        SetTarget(type, TargetNormText(options.TargetNorm),
                  options.TargetFallbackNorm == 1 ? "pal" : "ntsc");
    Choices = options.Engine;
    // Extra options first, so that the fields always applied below override them.
    ApplyExtraOptions(options.ExtraOptions, eoOrdinary);
    for (const auto& [key, value] : options.Tags)
        AddMetadata(key, value);
    ApplyOutputFields(options);
    ApplyStreamInfo(options.StreamInfo);
    ApplyExtraOptions(options.ExtraOptions, eoPreset);
}

void TFFmpeg::AttachProbe() {
    if (!InputFiles.empty())
        TaskProbe->AttachContext(InputFiles.back());
}

void TFFmpeg::ReleaseFiles() {
    TaskProbe->CloseFile();
    CloseAll();
}

void TFFmpeg::ForgetRun() {
    InitRunDefaults();
    Running = Terminated = Finished = ErrorOccurred = false;
    EndCounted = false;
    ErrorMessage.clear();
    WarningMessage.clear();
    MeasuredLoudness.reset();
    AppliedGain = {};
    SecondPass = false;
}

void TFFmpeg::NoteCreatedOutput() {
    CreatedOutput.reset();
    LeftOutput.reset();
    if (OutputFileCount() > 0 && OutputSetupOf(0).Target.Created())
        CreatedOutput = FileIdentityAt(OutputSetupOf(0).Target.WrittenName());
}

void TFFmpeg::SettleCreatedOutput() {
    if (!CreatedOutput)
        return;
    const std::optional<TFileStamp> left = FileStampAt(OutputOptions.FileName);
    if (left && left->Identity == *CreatedOutput)
        LeftOutput = left;
    CreatedOutput.reset();
}

bool TFFmpeg::LeftEarlier(const TPathFileName& name) const {
    return LeftOutput && FileStampAt(name) == LeftOutput;
}

// A library-level option by name; a name the libraries do not know is worth a warning, since
// the record asked for it.
void TFFmpeg::SetGenericField(const char* name, int64_t value) {
    if (!SetGenericOption(name, value))
        GetLogger()->LogF(this, llWarning, "Option %s=%lld was not accepted", name,
                          static_cast<long long>(value));
}

void TFFmpeg::ApplyOutputFields(const TOutputOptions& o) {
    if (!o.FormatName.empty())
        SetOutputFormat(o.FormatName);
    if (o.PacketSize > 0)
        SetGenericField("packetsize", o.PacketSize);
    if (o.MuxRate > 0)
        SetGenericField("muxrate", o.MuxRate);
    if (o.MuxDelay > 0)
        SetMuxMaxDelay(o.MuxDelay);
    if (o.PreloadDelay > 0)
        SetMuxPreload(o.PreloadDelay);
    if (!o.AudioCodec.empty())
        SetAudioCodec(o.AudioCodec);
    if (!o.AudioPreset.empty())
        LoadPreset("apre", o.AudioPreset);
    AudioDisable = o.NoAudio;
    if (o.Volume >= 0)
        SetAudioVolume(o.Volume);
    if (o.Channels > 0)
        SetAudioChannels(o.Channels);
    if (o.SampleRate > 0)
        SetAudioSampleRate(o.SampleRate);
    if (o.AudioBitrate > 0)
        SetGenericField("ab", o.AudioBitrate);
    if (o.AudioBitrateTolerance > 0)
        SetGenericField("abt", o.AudioBitrateTolerance);
    AudioLanguage = o.AudioLang;
    SetAudioSyncMethod(o.AudioSync);
    if (!o.AudioTag.empty())
        SetAudioTag(o.AudioTag);
    if (!o.VideoCodec.empty())
        SetVideoCodec(o.VideoCodec);
    if (!o.VideoPreset.empty())
        LoadPreset("vpre", o.VideoPreset);
    VideoDisable = o.NoVideo;
    if (!o.VideoFrameRate.empty())
        SetFrameRate(o.VideoFrameRate);
    if (!o.VideoFrameSize.empty())
        SetFrameSize(o.VideoFrameSize);
    if (!o.VideoAspect.empty())
        SetAspectRatio(o.VideoAspect);
    if (o.TopCrop >= 0)
        SetCropTop(o.TopCrop);
    if (o.BottomCrop >= 0)
        SetCropBottom(o.BottomCrop);
    if (o.LeftCrop >= 0)
        SetCropLeft(o.LeftCrop);
    if (o.RightCrop >= 0)
        SetCropRight(o.RightCrop);
    if (o.TopPad >= 0)
        SetPadTop(o.TopPad);
    if (o.BottomPad >= 0)
        SetPadBottom(o.BottomPad);
    if (o.LeftPad >= 0)
        SetPadLeft(o.LeftPad);
    if (o.RightPad >= 0)
        SetPadRight(o.RightPad);
    SetPadColor(static_cast<int>(o.PadRGB & 0xFFFFFF));
    // The group size goes by its library name; the video bit rate as "vb", since the library's
    // "b" would also set the audio rate.
    if (o.GopSize > 0)
        SetGenericField("g", o.GopSize);
    if (o.VideoBitrate > 0)
        SetGenericField("vb", o.VideoBitrate);
    if (o.VideoMaxRate > 0)
        SetGenericField("maxrate", o.VideoMaxRate);
    if (o.VideoMinRate > 0)
        SetGenericField("minrate", o.VideoMinRate);
    if (o.VideoBitrateTolerance > 0)
        SetGenericField("bt", o.VideoBitrateTolerance);
    if (o.VideoBufferSize > 0)
        SetGenericField("bufsize", o.VideoBufferSize);
    SetVideoSyncMethod(o.VideoSync);
    if (!o.VideoTag.empty())
        SetVideoTag(o.VideoTag);
    if (!o.VideoFilterChain.empty())
        SetVideoFilters(o.VideoFilterChain);
    if (!o.SubtitleCodec.empty())
        SetSubtitleCodec(o.SubtitleCodec);
    if (!o.SubtitlePreset.empty())
        LoadPreset("spre", o.SubtitlePreset);
    SubtitleDisable = o.NoSubtitle;
    SubtitleLanguage = o.SubtitleLang;
    CopyTs = o.CopyTimestamp;
    if (o.StartMs > 0)
        SetStartTime(static_cast<int64_t>(o.StartMs) * 1000);
    if (o.StartUs > 0)
        SetStartTime(o.StartUs);
    if (o.DurationMs > 0)
        SetRecordingTimeMs(o.DurationMs);
    if (o.DurationUs > 0) {
        SetRecordingTime(o.DurationUs);
        RecordingTimeMs = static_cast<int>(o.DurationUs / 1000);
    }
}

void TFFmpeg::ApplyStreamInfo(const TStreamInfo& info) {
    int64_t unixSeconds = 0;
    if (TimestampToUnixSeconds(info.Timestamp, unixSeconds))
        RecordingTimestampSeconds = unixSeconds;
    if (info.Year > 0)
        AddMetadata("year", std::to_string(info.Year));
    if (info.Track > 0)
        AddMetadata("track", std::to_string(info.Track));
    const std::pair<const char*, const std::string*> texts[] = {
        {"title", &info.Title},     {"author", &info.Author}, {"copyright", &info.Rights},
        {"comment", &info.Comment}, {"album", &info.Album},   {"genre", &info.Genre}};
    for (const auto& [key, value] : texts)
        if (!value->empty())
            AddMetadata(key, *value);
}

bool TFFmpeg::NormalizeLoudness(double targetLufs) {
    const TInputOptions& in = InputOptions;
    const TOutputOptions& out = OutputOptions;
    const int64_t startUs = in.StartUs > 0   ? in.StartUs
                            : in.StartMs > 0 ? int64_t{in.StartMs} * 1000
                                             : 0;
    const int64_t durationUs = out.DurationUs > 0   ? out.DurationUs
                               : out.DurationMs > 0 ? int64_t{out.DurationMs} * 1000
                                                    : 0;
    const int64_t fileStartUs = InputFiles.empty() || InputFiles[0]->start_time == AV_NOPTS_VALUE
                                    ? 0
                                    : InputFiles[0]->start_time;
    // The first pass fills the first half of the task's progress.
    int64_t reportedUs = -ProgressIntervalUs;
    const auto progress = [&](int64_t doneUs) {
        HoldWhilePaused();
        if (OnProgress && doneUs - reportedUs >= ProgressIntervalUs) {
            reportedUs = doneUs;
            OnProgress(this, {.FrameNumber = 0,
                              .Fps = 0,
                              .CurrentDurationMs = static_cast<int>(doneUs / 2000),
                              .Quality = 0,
                              .TotalDurationMs = RecordingTimeMs});
        }
        return !StopRequested;
    };
    // Measured as the encoder will get the sound: a downmix alone moves it by several LU.
    const TEncoderAsRun asRun = AudioEncoderAsRun(
        OutputSetupOf(0), FirstSoundFormat(InputFiles.empty() ? nullptr : InputFiles[0]));
    const AVCodecContext* encoder = asRun.Encoder.get();
    TSoundFormat format;
    double ceilingDbtp = TruePeakCeilingDbtp;
    // A lossy encoder's own loss (its low-pass above all) is tried on stretches of the sound,
    // so that the gain brings what is written, not what is encoded, to the target.
    std::unique_ptr<TCodecLoss> codecLoss;
    if (encoder) {
        format = {&encoder->ch_layout, encoder->sample_rate, encoder->sample_fmt};
        ceilingDbtp = TruePeakCeilingFor(encoder->codec_id);
        if (TCodecLoss::IsLossy(encoder->codec_id))
            codecLoss = std::make_unique<TCodecLoss>(*encoder, asRun.Options);
    }
    MeasuredLoudness = MeasureLoudness(in.FileName, in.FormatName, fileStartUs, startUs, durationUs,
                                       format, progress, [&](const AVFrame& frame) {
                                           if (codecLoss)
                                               codecLoss->Take(frame);
                                       });
    if (!MeasuredLoudness)
        return false;
    TLoudness asWritten = *MeasuredLoudness;
    if (const std::optional<double> loss = codecLoss ? codecLoss->LossLu() : std::nullopt) {
        asWritten.IntegratedLufs -= *loss;
        GetLogger()->Log(this, llInfo,
                         FormatText("Loudness: the encoder takes %.1f LU away; the gain makes up "
                                    "for it\n",
                                    *loss));
    }
    AppliedGain = LoudnessGainFor(asWritten, targetLufs, ceilingDbtp);
    // The gain replaces the volume and goes where it was measured: after the conversion, so
    // that no channel clips before a downmix lowers it.
    SetAudioVolume(UnityVolume);
    ConvertedVolume = AppliedGain.Volume;
    GetLogger()->Log(this, llInfo, LoudnessSummary(*MeasuredLoudness, AppliedGain) + "\n");
    SecondPass = true;
    return true;
}

void TFFmpeg::CheckWrittenLoudness() {
    const TOutputFileSetup& output = OutputSetupOf(0);
    if (!MeasuredLoudness || !output.HasSound || !output.Target.Created())
        return;
    std::optional<TLoudness> written;
    try {
        written = MeasureLoudness(output.Target.WrittenName(), "", 0, 0, 0, {},
                                  [this](int64_t) { return !StopRequested.load(); });
    } catch (const std::exception& error) {
        GetLogger()->Log(this, llWarning, std::string("Loudness not checked: ") + error.what());
        return;
    }
    if (!written)
        return;
    GetLogger()->Log(this, llInfo, WrittenLoudnessSummary(*written) + "\n");
    const double aimedLufs = AppliedGain.OutputLufs;
    AppliedGain.OutputLufs = written->IntegratedLufs;
    AppliedGain.OutputTruePeakDbtp = written->TruePeakDbtp;
    // Silence has no loudness to aim at.
    if (MeasuredLoudness->IntegratedLufs <= SilenceLufs)
        return;
    std::string problem;
    if (std::abs(written->IntegratedLufs - aimedLufs) > LoudnessToleranceLu)
        problem = FormatText("loudness %.1f LUFS where %.1f LUFS was aimed at",
                             written->IntegratedLufs, aimedLufs);
    else if (written->TruePeakDbtp > TruePeakCeilingDbtp)
        problem = FormatText("true peak %.1f dBTP, above %.1f dBTP", written->TruePeakDbtp,
                             TruePeakCeilingDbtp);
    if (problem.empty())
        return;
    WarningMessage = output.FileName.string() + ": the sound was written with " + problem + ".";
    GetLogger()->Log(this, llWarning, WarningMessage);
}
