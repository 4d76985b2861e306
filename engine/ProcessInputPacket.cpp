// Packet processing: decodes one input packet (send/receive) or copies it, keeps the input
// stream's clock, applies the volume, real-time pacing and the start-time cut, hands every
// decoded unit to the output paths, drains decoders and encoders at the end of an input, and
// writes packets through the stream's bitstream filters.
#include "engine/AudioVolume.h"
#include "engine/EncodeDrain.h"
#include "engine/Mp3Padding.h"
#include "engine/OutputAudio.h"
#include "engine/SoundGridClock.h"
#include "engine/TranscodeRun.h"
#include "ffbind/FFUtils.h"
#include "ffbind/FFmpegLogger.h"

#include <cstring>
#include <thread>

namespace {

// The duration of a decoded or copied unit in microseconds, 0 when unknown.
int64_t UnitDurationUs(const AVStream* stream, const AVCodecContext* decoder, int64_t duration,
                       AVRational durationTimeBase, int samples) {
    if (duration > 0)
        return ff::av_rescale_q(duration, durationTimeBase, AV_TIME_BASE_Q);
    const AVCodecParameters* parameters = stream->codecpar;
    if (parameters->codec_type == AVMEDIA_TYPE_AUDIO) {
        const int rate = parameters->sample_rate;
        const int frameSamples = samples > 0 ? samples : parameters->frame_size;
        return rate > 0 ? static_cast<int64_t>(frameSamples) * 1000000 / rate : 0;
    }
    if (parameters->codec_type == AVMEDIA_TYPE_VIDEO) {
        AVRational rate =
            decoder && decoder->framerate.num > 0 ? decoder->framerate : stream->avg_frame_rate;
        if (rate.num <= 0 || rate.den <= 0)
            rate = stream->r_frame_rate;
        if (rate.num > 0 && rate.den > 0)
            return ff::av_rescale_q(1, av_inv_q(rate), AV_TIME_BASE_Q);
    }
    return 0;
}

// Whether a written packet holds content: an encoder's closing packet (new stream parameters
// with no data, or an end-of-stream packet of no length) is not sound. Copied packets often
// come without a duration.
bool CarriesContent(const TOutputStream& ost, const AVPacket& packet) {
    if (packet.size <= 0)
        return false;
    return ost.St->codecpar->codec_type != AVMEDIA_TYPE_AUDIO || !ost.EncodingNeeded ||
           packet.duration > 0;
}

} // namespace

int TTranscodeRun::ProcessInputPacket(TInputStream& ist, int istIndex, const AVPacket* packet) {
    if (ist.NextPtsUs == NoPts)
        ist.NextPtsUs = ist.PtsUs;
    if (packet && packet->dts != NoPts)
        ist.NextPtsUs = ist.PtsUs =
            ff::av_rescale_q(packet->dts, ist.St->time_base, AV_TIME_BASE_Q);

    if (packet) {
        // Outputs that copy the stream take the packet itself, once.
        if (!ist.DecodingNeeded) {
            ist.PtsUs = ist.NextPtsUs;
            const int64_t duration =
                UnitDurationUs(ist.St, ist.Dec, packet->duration, ist.St->time_base, 0);
            ist.NextPtsUs = ist.PtsUs + duration;
        }
        PaceRealTime(ist);
        // A clipped input's time stamps start at 0 at the clip's start, but its seek lands on
        // the key frame before it (in Matroska often the file's first): copied sound that ends
        // by 0 lies before the clip.
        const bool beforeClip = Setup.InputFileClipped[ist.FileIndex] &&
                                ist.St->codecpar->codec_type == AVMEDIA_TYPE_AUDIO &&
                                ist.NextPtsUs <= 0;
        if ((Setup.Options.StartTimeUs == 0 || ist.PtsUs >= Setup.Options.StartTimeUs) &&
            !beforeClip) {
            for (auto& ost : State.OutputStreams)
                if (ost->SourceIndex == istIndex && !ost->EncodingNeeded)
                    CopyPacket(*ost, ist, *packet);
        }
    }

    const int decoded = ist.DecodingNeeded ? DecodeUnits(ist, istIndex, packet) : 0;
    if (!packet) {
        // What the encoders hold is written whatever the decoder's drain gave.
        if (decoded < 0)
            GetLogger()->Log(Link.LogSender(), llWarning,
                             "Error while draining the decoder of stream #" +
                                 std::to_string(ist.FileIndex) + "." + std::to_string(ist.Index) +
                                 ": " + ErrorText(decoded));
        DrainEncoders(istIndex);
    }
    return decoded;
}

// Decodes one packet (none: drains the decoder) and hands on every unit; a negative error code
// when it did not decode.
int TTranscodeRun::DecodeUnits(TInputStream& ist, int istIndex, const AVPacket* packet) {
    const AVMediaType kind = ist.St->codecpar->codec_type;
    if (kind == AVMEDIA_TYPE_SUBTITLE) {
        if (packet) {
            AVSubtitle subtitle{};
            int gotSubtitle = 0;
            if (ff::avcodec_decode_subtitle2(ist.Dec, &subtitle, &gotSubtitle,
                                             const_cast<AVPacket*>(packet)) < 0)
                return -1;
            if (gotSubtitle) {
                ist.PtsUs = ist.NextPtsUs;
                DispatchDecoded(ist, istIndex, nullptr, &subtitle, packet->pts);
                ff::avsubtitle_free(&subtitle);
            }
        }
    } else if (kind == AVMEDIA_TYPE_AUDIO || kind == AVMEDIA_TYPE_VIDEO) {
        int sent = ff::avcodec_send_packet(ist.Dec, packet);
        if (sent < 0 && sent != AVERROR_EOF && sent != AVERROR(EAGAIN))
            return sent;
        if (!ist.Decoded)
            ist.Decoded.reset(ff::av_frame_alloc());
        if (!ist.Decoded)
            throw FFmpegException("av_frame_alloc failed");
        AVFrame* frame = ist.Decoded.get();
        for (;;) {
            const int received = ff::avcodec_receive_frame(ist.Dec, frame);
            if (received == AVERROR(EAGAIN) || received == AVERROR_EOF)
                break;
            if (received < 0)
                return received;
            // The clock follows the decoded units: a unit's time where the decoder knows
            // it (sound on its sample grid), else the end of the previous unit.
            const int64_t unitTime = frame->best_effort_timestamp;
            ist.PtsUs = unitTime == NoPts ? ist.NextPtsUs
                        : kind == AVMEDIA_TYPE_AUDIO
                            ? FrameTimeOnGridUs(ist.SoundGrid, *ist.St, *frame,
                                                State.InputTsOffsetsUs[ist.FileIndex])
                            : ff::av_rescale_q(unitTime, ist.St->time_base, AV_TIME_BASE_Q);
            ist.NextPtsUs =
                ist.PtsUs + UnitDurationUs(ist.St, ist.Dec,
                                           kind == AVMEDIA_TYPE_VIDEO ? frame->pkt_duration : 0,
                                           ist.St->time_base, frame->nb_samples);
            if (kind == AVMEDIA_TYPE_AUDIO && Setup.Options.AudioVolume != UnityVolume) {
                if (ff::av_frame_make_writable(frame) < 0)
                    throw FFmpegException("av_frame_make_writable failed");
                ApplyAudioVolume(*frame, Setup.Options.AudioVolume);
            }
            if (kind == AVMEDIA_TYPE_VIDEO) {
                ist.Quality = frame->quality;
                PreprocessVideoFrame(ist, frame);
            }
            DispatchDecoded(ist, istIndex, frame, nullptr, NoPts);
            ff::av_frame_unref(frame);
        }
    } else {
        return -1;
    }
    return 0;
}

void TTranscodeRun::PaceRealTime(const TInputStream& ist) const {
    if (!Setup.Options.RateEmulation)
        return;
    // Units are not handed on before their time has come on the wall clock. The wait is cut
    // into slices so that a stop request is answered at once.
    for (;;) {
        const int64_t aheadUs = ist.PtsUs - (ff::av_gettime() - ist.StartUs);
        if (aheadUs <= 1000 || Setup.StopRequested)
            return;
        std::this_thread::sleep_for(
            std::chrono::milliseconds(std::min<int64_t>(aheadUs / 1000, 20)));
    }
}

void TTranscodeRun::DispatchDecoded(TInputStream& ist, int istIndex, AVFrame* frame,
                                    AVSubtitle* subtitle, int64_t packetPts) {
    TEngineRun& run = State;
    PaceRealTime(ist);
    if (Setup.Options.StartTimeUs != 0 && ist.PtsUs < Setup.Options.StartTimeUs)
        return;
    for (auto& ostPtr : run.OutputStreams) {
        TOutputStream& ost = *ostPtr;
        if (ost.SourceIndex != istIndex || !ost.EncodingNeeded)
            continue;
        AVFormatContext* output = Setup.OutputFiles[ost.FileIndex];
        switch (ost.Enc->codec_type) {
        case AVMEDIA_TYPE_AUDIO:
            if (frame) {
                TAudioSyncSettings settings = AudioSyncSettingsOf(Setup.Options, Link.LogSender());
                settings.StopRequested = &Setup.StopRequested;
                settings.ClipStartUs = Setup.InputSetups[ist.FileIndex]->StartUs;
                settings.Split.EncoderOptions = StreamSetupOf(ost).EncoderOptions.get();
                // Pieces delay the sound's packets: a file with other streams to interleave
                // keeps one encoder.
                if (!IsSoleSoundStream(*output))
                    settings.Split.Pieces = 0;
                OutputAudio(ost, ist, *frame, Setup.Options.StartTimeUs, settings,
                            [&](AVPacket* encoded) {
                                run.AudioSizeBytes += encoded->size;
                                WriteOutputPacket(output, ost, encoded);
                            });
            }
            break;
        case AVMEDIA_TYPE_VIDEO:
            if (frame) {
                int frameBytes = 0;
                OutputVideo(output, ost, ist, frame, frameBytes);
                if (!Setup.Options.VstatsFileName.empty() && frameBytes != 0)
                    WriteVideoStats(output, ost, frameBytes);
            }
            break;
        case AVMEDIA_TYPE_SUBTITLE:
            if (subtitle)
                OutputSubtitle(output, ost, ist, subtitle, packetPts);
            break;
        default:
            throw FFmpegException("invalid codec_type");
        }
    }
}

void TTranscodeRun::CopyPacket(TOutputStream& ost, TInputStream& ist, const AVPacket& packet) {
    TEngineRun& run = State;
    // A copy starts at a key frame unless told to keep what comes before the first one.
    if (ost.FrameNumber == 0 && !(packet.flags & AV_PKT_FLAG_KEY) &&
        !Setup.Options.CopyInitialNonKeyframes)
        return;
    const AVMediaType kind = ist.St->codecpar->codec_type;
    if (kind == AVMEDIA_TYPE_AUDIO)
        run.AudioSizeBytes += packet.size;
    else if (kind == AVMEDIA_TYPE_VIDEO) {
        run.VideoSizeBytes += packet.size;
        ++ost.SyncOpts;
    }
    PacketPtr copy(ff::av_packet_clone(&packet));
    if (!copy)
        throw FFmpegException("av_packet_clone failed");
    const int64_t startOffset =
        ff::av_rescale_q(Setup.Options.StartTimeUs, AV_TIME_BASE_Q, ost.St->time_base);
    ff::av_packet_rescale_ts(copy.get(), ist.St->time_base, ost.St->time_base);
    if (copy->pts != NoPts)
        copy->pts -= startOffset;
    if (copy->dts == NoPts)
        copy->dts = ff::av_rescale_q(ist.PtsUs, AV_TIME_BASE_Q, ost.St->time_base);
    copy->dts -= startOffset;
    copy->stream_index = ost.Index;
    WriteOutputPacket(Setup.OutputFiles[ost.FileIndex], ost, copy.get());
    ++ost.FrameNumber;
}

void TTranscodeRun::DrainEncoders(int istIndex) {
    TEngineRun& run = State;
    for (auto& ostPtr : run.OutputStreams) {
        TOutputStream& ost = *ostPtr;
        if (ost.SourceIndex != istIndex || !ost.EncodingNeeded)
            continue;
        // Joined outputs share their encoders: only the running group drains them.
        if (Setup.JoinMode && ost.FileIndex != run.JoinDrainGroup)
            continue;
        AVFormatContext* output = Setup.OutputFiles[ost.FileIndex];
        switch (ost.Enc->codec_type) {
        case AVMEDIA_TYPE_AUDIO:
            FlushAudio(
                ost,
                [&](AVPacket* encoded) {
                    run.AudioSizeBytes += encoded->size;
                    WriteOutputPacket(output, ost, encoded);
                },
                Setup.StopRequested ? aeStopped : aeSoundEnd);
            break;
        case AVMEDIA_TYPE_VIDEO:
            EncodeAndWrite(output, ost, nullptr);
            break;
        default:
            break;
        }
    }
}

void TTranscodeRun::EncodeAndWrite(AVFormatContext* output, TOutputStream& ost,
                                   const AVFrame* frame) {
    TEngineRun& run = State;
    const bool video = ost.Enc->codec_type == AVMEDIA_TYPE_VIDEO;
    EncodeAndDrain(ost.Enc, frame, [&](AVPacket* packet) {
        (video ? run.VideoSizeBytes : run.AudioSizeBytes) += packet->size;
        if (video && ost.LogFile && ost.Enc->stats_out)
            std::fputs(ost.Enc->stats_out, ost.LogFile);
        packet->stream_index = ost.Index;
        if (video && packet->duration <= 0)
            packet->duration = 1; // one frame: containers take the stream's length from it
        ff::av_packet_rescale_ts(packet, ost.Enc->time_base, ost.St->time_base);
        WriteOutputPacket(output, ost, packet);
    });
}

void TTranscodeRun::WriteOutputPacket(AVFormatContext* output, TOutputStream& ost,
                                      AVPacket* packet) {
    if (!ost.Bsf) {
        WritePacket(output, ost, packet);
        return;
    }
    WriteFiltered(output, ost, packet);
}

void TTranscodeRun::WriteFiltered(AVFormatContext* output, TOutputStream& ost, AVPacket* packet) {
    PacketPtr original(ff::av_packet_clone(packet));
    int result = ff::av_bsf_send_packet(ost.Bsf.get(), packet);
    while (result >= 0) {
        PacketPtr filtered(ff::av_packet_alloc());
        result = ff::av_bsf_receive_packet(ost.Bsf.get(), filtered.get());
        if (result == AVERROR(EAGAIN) || result == AVERROR_EOF)
            return;
        if (result >= 0)
            WritePacket(output, ost, filtered.get());
    }
    const std::string message =
        std::string(ost.Bsf->filter->name) + " failed for stream " +
        std::to_string(original ? original->stream_index : ost.Index) + ", codec " +
        (ost.Enc && ost.Enc->codec ? ost.Enc->codec->name : "copy") + ": " + ErrorText(result);
    if (Setup.Options.ExitOnError)
        throw FFmpegException(message);
    GetLogger()->Log(Link.LogSender(), llError, message);
    // The packet goes on unfiltered.
    if (original)
        WritePacket(output, ost, original.get());
}

void TTranscodeRun::WritePacket(AVFormatContext* output, TOutputStream& ost, AVPacket* packet) {
    if (ost.Audio && ost.Enc->codec_id == AV_CODEC_ID_MP3 &&
        std::strcmp(output->oformat->name, "mp3") == 0)
        SignalMp3Padding(*packet, *ost.Enc, ost.Audio->PacketsDelivered, ost.Audio->SamplesEncoded);
    const int64_t start = packet->pts != NoPts ? packet->pts : packet->dts;
    if (start != NoPts)
        ost.MuxedEndTs = std::max(ost.MuxedEndTs, start + std::max<int64_t>(packet->duration, 0));
    // (Writing takes the packet's content.)
    const bool content = CarriesContent(ost, *packet);
    const int result = ff::av_interleaved_write_frame(output, packet);
    if (result < 0)
        throw FFmpegException(WriteErrorText(Setup.OutputSetupOf(ost.FileIndex).FileName, result));
    if (content)
        ++ost.PacketsMuxed;
}
