// The transcode loop: picks the input whose outputs are furthest behind, reads one packet,
// corrects its time stamps and hands it on, reports progress, and ends the run in order (flush,
// trailers, last report, codecs closed). Also joins several inputs into one output.
#include "engine/ContainerTags.h"
#include "engine/TranscodeRun.h"
#include "engine/WrittenSound.h"
#include "ffbind/FFUtils.h"
#include "ffbind/FFmpegLogger.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <thread>

namespace {

// The kinds MaxFrames counts: video, audio, data, subtitle.
constexpr int CountedKinds = 4;

// An output removed (or another file put in its place) while it is written is noticed with the
// progress, not after hours spent writing into a file nobody can reach: the run ends there, with
// the reason, and leaves whatever is at the name alone.
void CheckOutputsInPlace(const TRunSetup& setup, int outputs) {
    for (int j = 0; j < outputs; ++j) {
        const TOutputFileSetup& output = setup.OutputSetupOf(j);
        if (const std::string lost = output.Target.LostReason(); !lost.empty())
            throw FFmpegException(output.FileName.string() + ": " + lost);
    }
}

} // namespace

double TTranscodeRun::OutputTime(const TOutputStream& ost) const {
    if (ost.St->codecpar->codec_type == AVMEDIA_TYPE_VIDEO && ost.Enc)
        return static_cast<double>(ost.SyncOpts) * av_q2d(ost.Enc->time_base);
    return ost.CurrentTimeSeconds();
}

int TTranscodeRun::ChooseInputFile(double& outputTimeMin) {
    TEngineRun& run = State;
    outputTimeMin = 1e100;
    double inputTimeMin = 1e100;
    int file = -1;
    for (const auto& ostPtr : run.OutputStreams) {
        const TOutputStream& ost = *ostPtr;
        if (Setup.JoinMode && ost.FileIndex != run.CurrentJoinFile)
            continue;
        const TInputStream& ist = *run.InputStreams[ost.SourceIndex];
        const double outputTime = OutputTime(ost);
        if (Setup.JoinMode) {
            outputTimeMin = std::min(outputTimeMin, outputTime);
            file = run.CurrentJoinFile;
        } else if (run.NoPacket[ist.FileIndex]) {
            continue;
        } else if (!run.InputFileTable[ist.FileIndex].EofReached) {
            const double inputTime = static_cast<double>(ist.PtsUs);
            if (inputTime < inputTimeMin) {
                inputTimeMin = inputTime;
                if (Setup.Options.InputSync)
                    file = ist.FileIndex;
            }
            if (outputTime < outputTimeMin) {
                outputTimeMin = outputTime;
                if (!Setup.Options.InputSync)
                    file = ist.FileIndex;
            }
        }
        const int kind = ost.St->codecpar->codec_type;
        if (kind >= 0 && kind < CountedKinds && ost.FrameNumber >= Setup.Options.MaxFrames[kind])
            return -1;
    }
    return file;
}

void TTranscodeRun::AdjustTimestamps(TInputStream& ist, AVPacket& packet) {
    const int64_t offset =
        ff::av_rescale_q(State.InputTsOffsetsUs[ist.FileIndex], AV_TIME_BASE_Q, ist.St->time_base);
    const double scale = ist.FileIndex < MAX_FILES && ist.Index < MAX_STREAMS
                             ? Setup.Options.InputTsScale[ist.FileIndex][ist.Index]
                             : 0.0;
    for (int64_t* time : {&packet.dts, &packet.pts}) {
        if (*time == NoPts)
            continue;
        *time += offset;
        if (scale != 0)
            *time = std::llround(static_cast<double>(*time) * scale);
    }
    // A jump in a format that allows discontinuities is absorbed into the file's offset.
    AVFormatContext* input = Setup.InputFiles[ist.FileIndex];
    if (packet.dts == NoPts || ist.NextPtsUs == NoPts ||
        !(input->iformat->flags & AVFMT_TS_DISCONT))
        return;
    const int64_t packetTime = ff::av_rescale_q(packet.dts, ist.St->time_base, AV_TIME_BASE_Q);
    const int64_t delta = packetTime - ist.NextPtsUs;
    if ((std::llabs(delta) >
             static_cast<int64_t>(Setup.Options.DtsDeltaThresholdSeconds * 1000000.0) ||
         packetTime + 1 < ist.PtsUs) &&
        !Setup.Options.CopyTs) {
        State.InputTsOffsetsUs[ist.FileIndex] -= delta;
        if (Setup.Options.Verbose >= 3)
            GetLogger()->LogF(Link.LogSender(), llVerbose,
                              "timestamp discontinuity %lld, new offset= %lld",
                              static_cast<long long>(delta),
                              static_cast<long long>(State.InputTsOffsetsUs[ist.FileIndex]));
        const int64_t shift = ff::av_rescale_q(delta, AV_TIME_BASE_Q, ist.St->time_base);
        packet.dts -= shift;
        if (packet.pts != NoPts)
            packet.pts -= shift;
    }
}

bool TTranscodeRun::Transcode() {
    TEngineRun& run = State;
    TranscodeInit();
    run.TimerStartUs = ff::av_gettime();
    int64_t lastReportTime = run.TimerStartUs;
    run.CurrentJoinFile = 0;
    run.JoinDrainGroup = -1;
    run.NoPacket.assign(Setup.InputFiles.size(), false);
    int noPacketCount = 0;
    // Joined inputs share one output.
    const int ownOutputs =
        Setup.JoinMode ? std::min(1, Setup.OutputFileCount()) : Setup.OutputFileCount();
    PacketPtr packet(ff::av_packet_alloc());
    if (!packet)
        throw FFmpegException("av_packet_alloc failed");

    while (!Setup.StopRequested) {
        // Pause holds the worker here, between packets, where it holds no lock.
        Link.HoldWhilePaused();
        if (Setup.StopRequested)
            break;
        double outputTimeMin;
        const int file = ChooseInputFile(outputTimeMin);
        if (file < 0) {
            if (Setup.JoinMode || noPacketCount == 0)
                break;
            run.NoPacket.assign(Setup.InputFiles.size(), false);
            noPacketCount = 0;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
            continue;
        }
        if (static_cast<double>(Setup.Options.RecordingTimeUs) / 1000000.0 <= outputTimeMin)
            break;
        if (Setup.Options.LimitFileSizeBytes != 0 && Setup.OutputFiles[0]->pb &&
            ff::avio_seek(Setup.OutputFiles[0]->pb, 0, SEEK_CUR) > Setup.Options.LimitFileSizeBytes)
            break;

        const int result = ff::av_read_frame(Setup.InputFiles[file], packet.get());
        if (result == AVERROR(EAGAIN)) {
            run.NoPacket[file] = true;
            ++noPacketCount;
            continue;
        }
        if (result < 0) {
            // The end of the input, or a read error, which ends it the same way.
            run.InputFileTable[file].EofReached = true;
            if (Setup.Options.Shortest && !Setup.JoinMode)
                break;
            if (Setup.JoinMode) {
                bool leave = false;
                EndOfJoinInput(file, leave);
                if (leave)
                    break;
            }
            continue;
        }
        run.NoPacket.assign(Setup.InputFiles.size(), false);
        noPacketCount = 0;

        const TInputFile& inputFile = run.InputFileTable[file];
        const int istIndex = inputFile.IstIndex + packet->stream_index;
        if (Setup.Options.PacketDump && packet->stream_index < inputFile.NbStreams)
            ff::av_pkt_dump_log2(nullptr, AV_LOG_DEBUG, packet.get(), Setup.Options.HexDump,
                                 Setup.InputFiles[file]->streams[packet->stream_index]);
        if (packet->stream_index < inputFile.NbStreams && !run.InputStreams[istIndex]->Discard) {
            TInputStream& ist = *run.InputStreams[istIndex];
            AdjustTimestamps(ist, *packet);
            if (ProcessInputPacket(ist, istIndex, packet.get()) < 0) {
                const std::string message = "Error while decoding stream #" +
                                            std::to_string(ist.FileIndex) + "." +
                                            std::to_string(ist.Index) + " (" +
                                            MediaTypeName(ist.St->codecpar->codec_type) + ")";
                if (Setup.Options.ExitOnError)
                    throw FFmpegException(message);
                if (Setup.Options.Verbose >= 0)
                    GetLogger()->Log(Link.LogSender(), llVerbose, message);
                ff::av_packet_unref(packet.get());
                continue;
            }
        }
        ff::av_packet_unref(packet.get());

        const int64_t now = ff::av_gettime();
        if (now - lastReportTime > Setup.ProgressIntervalUs) {
            lastReportTime = now;
            CheckOutputsInPlace(Setup, ownOutputs);
            ReportProgress(false);
        }
    }

    // The ending, also after a stop request: flush, trailers, last report.
    run.JoinDrainGroup = run.CurrentJoinFile;
    for (std::size_t i = 0; i < run.InputStreams.size(); ++i) {
        TInputStream& ist = *run.InputStreams[i];
        if (ist.DecodingNeeded && !ist.Flushed)
            ProcessInputPacket(ist, static_cast<int>(i), nullptr);
    }
    for (int j = 0; j < ownOutputs; ++j) {
        const int written = ff::av_write_trailer(Setup.OutputFiles[j]);
        if (written < 0)
            throw FFmpegException(WriteErrorText(Setup.OutputSetupOf(j).FileName, written));
        // Only the file this run wrote is touched: a lost one is reported when it is closed.
        const TOutputFileSetup& output = Setup.OutputSetupOf(j);
        if (std::strcmp(Setup.OutputFiles[j]->oformat->name, "mp3") == 0 &&
            output.Target.LostReason().empty() &&
            !WriteCompilationFrame(output.Target.WrittenName()))
            GetLogger()->LogF(Link.LogSender(), llWarning,
                              "Could not write the compilation frame of output file #%d.", j);
    }
    NoteWrittenSound();
    ReportProgress(true);
    return !Setup.StopRequested;
}

// Marks the outputs that received sound. A run to the end whose output has a sound stream but
// got no sound fails: the input had none that could be decoded.
void TTranscodeRun::NoteWrittenSound() {
    TEngineRun& run = State;
    const TOutputStream* silent = nullptr;
    bool soundWritten = false;
    for (const auto& ost : run.OutputStreams) {
        if (ost->St->codecpar->codec_type != AVMEDIA_TYPE_AUDIO)
            continue;
        if (ost->PacketsMuxed == 0 && !silent)
            silent = ost.get();
        if (ost->PacketsMuxed > 0) {
            soundWritten = true;
            Link.NoteSound(ost->FileIndex);
        }
    }
    // (No sound frames asked for, none expected.)
    if (silent && !soundWritten && !Setup.StopRequested && Setup.Options.MaxFrames[1] > 0) {
        const int file = run.InputStreams[silent->SourceIndex]->FileIndex;
        throw FFmpegException("No sound could be decoded from " +
                              Setup.InputSetups[file]->FileName.string() + ".");
    }
    // Outputs cut short on purpose are not compared with their input.
    const bool cutOnPurpose = Setup.JoinMode || Setup.Options.Shortest ||
                              Setup.Options.LimitFileSizeBytes != 0 ||
                              Setup.Options.MaxFrames[1] != std::numeric_limits<int>::max();
    if (soundWritten && !Setup.StopRequested && !cutOnPurpose)
        for (const auto& ost : run.OutputStreams)
            if (ost->St->codecpar->codec_type == AVMEDIA_TYPE_AUDIO && ost->PacketsMuxed > 0) {
                CheckWrittenLength(*ost);
                break;
            }
}

void TTranscodeRun::CheckWrittenLength(const TOutputStream& Ost) {
    const TInputFileSetup& input =
        *Setup.InputSetups[State.InputStreams[Ost.SourceIndex]->FileIndex];
    const TOutputFileSetup& output = Setup.OutputSetupOf(Ost.FileIndex);
    // Only the run's own file is read back: one removed or replaced meanwhile is the end's to
    // report.
    if (!output.Target.Created() || !output.Target.LostReason().empty())
        return;
    const int64_t frameUs = Ost.Enc->frame_size > 0 && Ost.Enc->sample_rate > 0
                                ? int64_t{Ost.Enc->frame_size} * 1000000 / Ost.Enc->sample_rate
                                : 0;
    // A copy is written as it came, with no encoder's word for it: its sound is decoded.
    const TWrittenSound written = ReadWrittenSound(output.Target.WrittenName(), frameUs,
                                                   Ost.EncodingNeeded ? rbPackets : rbDecodeSound);
    if (written.OpenError != 0) {
        ReportUnreadOutput(output.FileName.string(), written.OpenError);
        return;
    }
    if (!written.SoundDecoded)
        throw FFmpegException("No sound could be decoded from " + output.FileName.string() +
                              ", the copy of " + input.FileName.string() + ".");
    if (input.SoundLengthUs <= 0)
        return;
    // The output's own start (`ss` given after the input) drops sound the same as the input's.
    const int64_t startUs = input.StartUs + Setup.Options.StartTimeUs;
    const int64_t expectedUs =
        std::min(input.SoundLengthUs - startUs, Setup.Options.RecordingTimeUs);
    if (written.LengthUs < 0 || WrittenLengthComplete(expectedUs, written.LengthUs))
        return;
    const std::string endedText = MinutesSecondsText(startUs + written.LengthUs);
    const std::string declaredText = MinutesSecondsText(startUs + expectedUs);
    const std::string message = input.FileName.string() + ": the input ended at " + endedText +
                                " of its declared " + declaredText + ".";
    Link.Warn("ended at " + endedText + " of " + declaredText, message);
    GetLogger()->Log(Link.LogSender(), llWarning, message);
}

// A written file no reader can open is a failed run; one the system kept us from opening (no
// handle or memory left) was not checked, which the user is told.
void TTranscodeRun::ReportUnreadOutput(const std::string& outputName, int openError) {
    const bool fileAtFault = openError == AVERROR_INVALIDDATA || openError == AVERROR_EOF ||
                             openError == AVERROR_DEMUXER_NOT_FOUND || openError == AVERROR(EINVAL);
    if (fileAtFault)
        throw FFmpegException(outputName + " was written but cannot be read back (" +
                              ErrorText(openError) + ").");
    const std::string message =
        outputName + ": the output could not be verified (" + ErrorText(openError) + ").";
    Link.Warn("not verified", message);
    GetLogger()->Log(Link.LogSender(), llWarning, message);
}

void TTranscodeRun::EndOfJoinInput(int file, bool& leaveLoop) {
    TEngineRun& run = State;
    // The decoders of the finished input give what they still hold; the encoders are drained
    // only after the last input, so the sound goes on seamlessly with the next one.
    const bool lastInput = file >= Setup.InputFileCount() - 1;
    run.JoinDrainGroup = lastInput ? file : -1;
    const TInputFile& inputFile = run.InputFileTable[file];
    for (int k = 0; k < inputFile.NbStreams; ++k) {
        TInputStream& ist = *run.InputStreams[inputFile.IstIndex + k];
        if (!ist.DecodingNeeded)
            continue;
        ProcessInputPacket(ist, inputFile.IstIndex + k, nullptr);
        ff::avcodec_flush_buffers(ist.Dec);
        ist.Flushed = true;
    }
    const int groups = Setup.OutputFileCount();
    const int perGroup = groups > 0 ? static_cast<int>(run.OutputStreams.size()) / groups : 0;
    // The next group takes over the running output: clocks, counters and working state.
    for (std::size_t i = static_cast<std::size_t>((file + 1) * perGroup);
         i < run.OutputStreams.size(); ++i) {
        TOutputStream& ost = *run.OutputStreams[i];
        TOutputStream& before = *run.OutputStreams[i - perGroup];
        ost.SyncOpts = before.SyncOpts;
        ost.FrameNumber = before.FrameNumber;
        ost.MuxedEndTs = before.MuxedEndTs;
        if (before.FileIndex == file) {
            ost.Audio = std::move(before.Audio);
            ost.Video = std::move(before.Video);
            std::swap(ost.Bsf, before.Bsf);
        }
    }
    // The next input starts where this one ended: at the end of what was written, or of what
    // was read when the encoders still hold some of it.
    double endTime = 0;
    for (const auto& ost : run.OutputStreams) {
        if (ost->FileIndex != file)
            continue;
        endTime = std::max(endTime, OutputTime(*ost));
        const int64_t inputEnd = run.InputStreams[ost->SourceIndex]->NextPtsUs;
        if (inputEnd != NoPts)
            endTime = std::max(endTime, static_cast<double>(inputEnd) / 1000000.0);
    }
    if (lastInput) {
        leaveLoop = true;
        return;
    }
    State.InputTsOffsetsUs[file + 1] += std::llround(endTime * 1000000.0);
    run.CurrentJoinFile = file + 1;
}
