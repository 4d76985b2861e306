// Pieces with pre-roll and post-roll: each piece after the first starts its encoder some frames
// before its first kept frame, so the encoder's start-up (priming, transform overlap,
// psychoacoustic state) lies in frames whose packets are dropped, and runs some frames past its
// last kept frame, so the kept packets never see the encoder's end. Only packets on the one
// encoder's grid inside the piece are kept; the last piece ends the stream as one encoder does.
#include "engine/SplitAudioEncoder.h"

#include "engine/EncodeDrain.h"
#include "engine/EncoderCopy.h"
#include "engine/EngineErrors.h"
#include "engine/Mp3Seam.h"
#include "ffbind/FFUtils.h"
#include "ffbind/FFmpegLoader.h"
#include "ffbind/MainThread.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <pthread.h>
#include <string>
#include <thread>
#include <vector>

namespace {

// Frames encoded before a piece's first kept frame (Opus wants at least 80 ms). The mp3 and Opus
// encoders' state (psychoacoustics, bit reservoir, prediction) settles over many frames:
// measured on mp3, after a second the encoder's state at the seam matches one encoder's (after 8
// frames a seam sounded up to 0.9 dB worse).
constexpr int MinPreRollFrames = 8;
constexpr double MinPreRollSeconds = 1.0;
// The mp2, AC-3 and WMA encoders carry nothing from frame to frame but the overlap of their
// filter bank or transform, less than a frame: measured, after one frame of pre-roll a piece's
// packets are one encoder's (WMA) or differ only in the frames whose size is padded at 44.1 kHz
// (mp2, AC-3: each encoder counts the padding from its own start), with any pre-roll up to 100
// frames alike.
constexpr int OverlapPreRollFrames = 4;
// Frames encoded after a piece's last kept frame, beyond every encoder's look-ahead.
constexpr int PostRollFrames = 4;
// mp3 seams: the packets kept on both sides of a seam, so that the bytes the later piece's first
// frame may borrow (at most 511) and the room for them in the earlier piece lie in them, also at
// the lowest rates (60 main-data bytes a frame).
constexpr int Mp3HoldFrames = 16;
// A waiting worker is woken once this many frames wait for it (or its last came): a wake-up per
// frame cost a context switch per frame.
constexpr int WakeBatchFrames = 16;
// How often a wait for a piece on the main thread looks whether it is done.
constexpr auto DonePollInterval = std::chrono::milliseconds(20);

int PreRollFramesOf(const AVCodecContext& encoder) {
    switch (encoder.codec_id) {
    case AV_CODEC_ID_MP2:
    case AV_CODEC_ID_AC3:
    case AV_CODEC_ID_WMAV1:
    case AV_CODEC_ID_WMAV2:
        return OverlapPreRollFrames;
    default:
        const double frameSeconds = static_cast<double>(encoder.frame_size) / encoder.sample_rate;
        return std::max(MinPreRollFrames,
                        static_cast<int>(std::ceil(MinPreRollSeconds / frameSeconds)));
    }
}

void CopySettings(AVCodecContext& to, const AVCodecContext& from) {
    CopyEncoderSettings(to, from);
    // The pieces are the parallelism: each encoder keeps to its own thread.
    to.thread_count = 1;
}

// Opening and freeing (which closes) go under the lock, as every other codec opening.
void FreeEncoder(CodecContextPtr& encoder) {
    std::lock_guard guard(CodecLock());
    encoder.reset();
}

} // namespace

struct TSplitAudioEncoder::TPiece {
    int64_t Start = 0;            // index of its first kept frame in the stream
    int64_t EndFrame = INT64_MAX; // index after its last frame, post-roll included; none: the end
    bool First = false;
    // Packets kept: time stamp in [KeepFromTicks, KeepBeforeTicks), encoder time base. The
    // seam with the piece before lies at or after SeamFromTicks; those from HoldFromTicks on
    // wait for the seam with the next. Known once the frames at the seams came; the feeding
    // thread's alone.
    int64_t KeepFromTicks = INT64_MIN;
    int64_t KeepBeforeTicks = INT64_MAX;
    int64_t SeamFromTicks = INT64_MIN;
    int64_t HoldFromTicks = INT64_MAX;
    // Under the encoder's Lock: the frames still to encode, whether more will come, whether the
    // worker waits for them.
    std::deque<FramePtr> Queue;
    bool Closed = false;
    bool Waiting = false;
    std::condition_variable_any FrameReady;
    std::vector<PacketPtr> Packets; // every packet of its encoder; read once Done
    bool Done = false;              // under the encoder's Lock
    bool Failed = false;
    std::string Failure; // the encoder's refusal, when it gave one
    std::jthread Worker; // last: joined before the rest is freed

    // Keeps a packet of its encoder (those out of its range are dropped when handed on).
    void Keep(AVPacket* packet);
};

void TSplitAudioEncoder::TPiece::Keep(AVPacket* packet) {
    PacketPtr kept(ff::av_packet_clone(packet));
    if (!kept)
        throw FFmpegException("av_malloc failed");
    Packets.push_back(std::move(kept));
}

bool TSplitAudioEncoder::JoinsSeamlessly(const AVCodecContext& encoder,
                                         const AVDictionary* options) {
    // FLAC frames carry their own frame numbers and the header's checksum and sizes come from
    // the one encoder that saw every sample; PCM takes any frame size and needs no pieces.
    // The AAC encoder's adaptive state settles over many seconds: measured, the first seconds of
    // a piece sound 2.5 to 3.3 dB worse (signal to noise) than one encoder's after a pre-roll of
    // 1 s, and still up to 1.4 dB after 10 s, so AAC keeps one encoder.
    switch (encoder.codec_id) {
    case AV_CODEC_ID_MP3:
        return encoder.frame_size > 1 && Mp3SeamsAlwaysJoin(encoder, options);
    case AV_CODEC_ID_AC3:
    case AV_CODEC_ID_MP2:
    case AV_CODEC_ID_WMAV1:
    case AV_CODEC_ID_WMAV2:
    case AV_CODEC_ID_OPUS:
        return encoder.frame_size > 1;
    default:
        return false;
    }
}

TSplitAudioEncoder::TSplitAudioEncoder(const AVCodecContext& encoder,
                                       const TSplitAudioSettings& settings)
    : Template(ff::avcodec_alloc_context3(encoder.codec)), Settings(settings) {
    if (!Template)
        throw FFmpegException("av_malloc failed");
    CopySettings(*Template, encoder);
    AVDictionary* options = nullptr;
    ff::av_dict_copy(&options, settings.EncoderOptions, 0);
    Options.reset(options);
    Settings.EncoderOptions = nullptr;
    // The newest piece takes frames until the next one starts: one piece at a time would wait
    // for itself.
    Settings.Pieces = std::max(settings.Pieces, 2);
    PreRollFrames = PreRollFramesOf(encoder);
    Settings.SegmentFrames = std::max(settings.SegmentFrames, PreRollFrames + PostRollFrames);
    DelayTicks = ff::av_rescale_q(encoder.initial_padding, AVRational{1, encoder.sample_rate},
                                  encoder.time_base);
    FrameTicks =
        ff::av_rescale_q(encoder.frame_size, AVRational{1, encoder.sample_rate}, encoder.time_base);
    if (encoder.codec_id == AV_CODEC_ID_MP3)
        SeamHoldFrames = Mp3HoldFrames;
}

TSplitAudioEncoder::~TSplitAudioEncoder() {
    DropAll();
}

bool TSplitAudioEncoder::Stopping() const {
    return Settings.StopRequested && Settings.StopRequested->load();
}

// A worker may be handing a log line to the main thread: on it, the wait serves those
// hand-overs instead of blocking them.
void TSplitAudioEncoder::WaitFor(const TPiece& piece) {
    const auto over = [&] { return piece.Done; };
    if (IsMainThread()) {
        WaitServingMainThread(
            [&] {
                std::lock_guard guard(Lock);
                return over();
            },
            DonePollInterval);
        return;
    }
    std::unique_lock lock(Lock);
    PieceDone.wait(lock, over);
}

void TSplitAudioEncoder::DropAll() {
    for (auto& piece : Running)
        piece->Worker.request_stop();
    for (const auto& piece : Running)
        WaitFor(*piece);
    Running.clear();
    std::lock_guard guard(Lock);
    Spare.clear();
}

int64_t TSplitAudioEncoder::LaunchFrame() const {
    return NextPiece == 0 ? 0 : NextPiece * Settings.SegmentFrames - PreRollFrames;
}

void TSplitAudioEncoder::Push(FramePtr frame, const TSplitPacketWriter& write) {
    if (Ended)
        return;
    // After a stop no piece starts: the newest takes the frames still on their way (the
    // decoders' flush) and ends the stream.
    if (Pushed == LaunchFrame() && !Stopping()) {
        // The oldest pieces take no more frames: one ends and frees its worker.
        while (static_cast<int>(Running.size()) >= Settings.Pieces && !Stopping())
            WriteFinished(write, fwWaitOldest);
        if (!Stopping())
            Launch();
    }
    MarkSeam(*frame);
    Hand(std::move(frame));
    ++Pushed;
    WriteFinished(write, fwNoWait);
}

FramePtr TSplitAudioEncoder::TakeSpareFrame(int samples) {
    std::vector<FramePtr> dropped; // freed outside the lock
    FramePtr found;
    std::lock_guard guard(Lock);
    while (!found && !Spare.empty()) {
        FramePtr frame = std::move(Spare.back());
        Spare.pop_back();
        // A frame of a pre-roll is shared with the other piece until that one is done with it.
        if (frame->nb_samples >= samples && ff::av_frame_is_writable(frame.get()))
            found = std::move(frame);
        else
            dropped.push_back(std::move(frame));
    }
    return found;
}

void TSplitAudioEncoder::Finish(const TSplitPacketWriter& write) {
    if (Ended)
        return;
    Ended = true;
    // Also after a stop: the pieces running and the frames they were handed are encoded to
    // their end, so that the output keeps all the sound read before the stop.
    DropShortLastPiece();
    {
        std::lock_guard guard(Lock);
        for (auto& piece : Running) {
            piece->Closed = true;
            Wake(*piece);
        }
    }
    while (!Running.empty())
        WriteFinished(write, fwWaitOldest);
    DropAll();
}

void TSplitAudioEncoder::DropShortLastPiece() {
    if (Running.empty())
        return;
    TPiece& newest = *Running.back();
    if (newest.First || Pushed >= newest.Start + PostRollFrames)
        return;
    // Its kept frames would end the piece before within that one's post-roll.
    newest.Worker.request_stop();
    WaitFor(newest);
    Running.pop_back();
    TPiece& last = *Running.back();
    last.EndFrame = INT64_MAX;
    last.KeepBeforeTicks = INT64_MAX;
    last.HoldFromTicks = INT64_MAX;
}

void TSplitAudioEncoder::Launch() {
    auto piece = std::make_unique<TPiece>();
    piece->Start = NextPiece * Settings.SegmentFrames;
    piece->First = NextPiece == 0;
    // The piece before takes frames until the new one's post-roll ends (it is still open:
    // its end was not known before).
    if (!Running.empty())
        Running.back()->EndFrame = piece->Start + PostRollFrames;
    TPiece& target = *piece;
    piece->Worker = std::jthread([this, &target](std::stop_token stop) {
        pthread_setname_np(pthread_self(), "sp-split");
        EncodePiece(target, stop);
        std::lock_guard guard(Lock);
        target.Done = true;
        PieceDone.notify_all();
    });
    Running.push_back(std::move(piece));
    ++NextPiece;
}

void TSplitAudioEncoder::MarkSeam(const AVFrame& frame) {
    if (Running.size() < 2 || Running.back()->Start != Pushed)
        return;
    TPiece& newest = *Running.back();
    TPiece& before = *Running[Running.size() - 2];
    const int64_t seamTicks = frame.pts - DelayTicks;
    newest.SeamFromTicks = seamTicks;
    newest.KeepFromTicks = seamTicks - SeamHoldFrames * FrameTicks;
    before.KeepBeforeTicks = seamTicks;
    before.HoldFromTicks = seamTicks - SeamHoldFrames * FrameTicks;
}

void TSplitAudioEncoder::Hand(FramePtr frame) {
    // Closed is written on this thread only.
    std::vector<TPiece*> takers;
    for (const auto& piece : Running)
        if (!piece->Closed)
            takers.push_back(piece.get());
    std::lock_guard guard(Lock);
    for (std::size_t i = 0; i < takers.size(); ++i) {
        TPiece& piece = *takers[i];
        if (i + 1 < takers.size()) {
            FramePtr copy(ff::av_frame_clone(frame.get()));
            if (!copy)
                throw FFmpegException("av_malloc failed");
            piece.Queue.push_back(std::move(copy));
        } else {
            piece.Queue.push_back(std::move(frame));
        }
        piece.Closed = Pushed + 1 >= piece.EndFrame;
        Wake(piece);
    }
}

void TSplitAudioEncoder::Wake(TPiece& piece) {
    if (!piece.Waiting || (!piece.Closed && static_cast<int>(piece.Queue.size()) < WakeBatchFrames))
        return;
    piece.Waiting = false;
    piece.FrameReady.notify_one();
}

void TSplitAudioEncoder::EncodePiece(TPiece& piece, std::stop_token stop) {
    const AVCodec* codec = Template->codec;
    CodecContextPtr encoder(ff::avcodec_alloc_context3(codec));
    bool good = false;
    try {
        if (encoder) {
            CopySettings(*encoder, *Template);
            good = OpenCodec(*encoder, codec, Options.get()) >= 0;
        }
        const auto keep = [&piece](AVPacket* packet) { piece.Keep(packet); };
        FramePtr frame;
        while (good && (frame = NextFrame(piece, std::move(frame), stop)))
            EncodeAndDrain(encoder.get(), frame.get(), keep);
        if (good && !stop.stop_requested())
            EncodeAndDrain(encoder.get(), nullptr, keep);
    } catch (const FFmpegException& error) {
        piece.Failure = error.what();
        good = false;
    } catch (...) {
        good = false;
    }
    FreeEncoder(encoder);
    piece.Failed = !good;
}

FramePtr TSplitAudioEncoder::NextFrame(TPiece& piece, FramePtr spent, std::stop_token stop) {
    std::unique_lock lock(Lock);
    if (spent)
        Spare.push_back(std::move(spent));
    if (piece.Queue.empty() && !piece.Closed) {
        piece.Waiting = true;
        piece.FrameReady.wait(lock, stop, [&] { return !piece.Waiting; });
        piece.Waiting = false;
    }
    if (stop.stop_requested() || piece.Queue.empty())
        return nullptr;
    FramePtr next = std::move(piece.Queue.front());
    piece.Queue.pop_front();
    return next;
}

void TSplitAudioEncoder::WriteFinished(const TSplitPacketWriter& write, TFinishedWait wait) {
    while (!Running.empty()) {
        TPiece& piece = *Running.front();
        if (wait == fwWaitOldest)
            WaitFor(piece);
        {
            std::lock_guard guard(Lock);
            if (!piece.Done)
                return;
        }
        if (piece.Failed)
            throw FFmpegException(piece.Failure.empty() ? "Audio encoding failed" : piece.Failure);
        WritePiece(piece, write);
        Running.pop_front();
        wait = fwNoWait;
    }
}

void TSplitAudioEncoder::WritePiece(TPiece& piece, const TSplitPacketWriter& write) {
    std::vector<PacketPtr>& packets = piece.Packets;
    std::erase_if(packets, [&](const PacketPtr& packet) {
        return packet->pts < piece.KeepFromTicks || packet->pts >= piece.KeepBeforeTicks;
    });
    std::size_t first = 0;
    if (!piece.First) {
        const int64_t seamTicks = piece.SeamFromTicks;
        if (SeamHoldFrames > 0)
            JoinMp3(packets, seamTicks);
        else
            LogSeam(seamTicks, "joined as encoded");
        for (const PacketPtr& packet : Tail)
            if (packet->pts < seamTicks)
                write(packet.get());
        while (first < packets.size() && packets[first]->pts < seamTicks)
            ++first;
    }
    Tail.clear();
    for (std::size_t i = first; i < packets.size(); ++i) {
        if (packets[i]->pts >= piece.HoldFromTicks)
            Tail.push_back(std::move(packets[i]));
        else
            write(packets[i].get());
    }
}

void TSplitAudioEncoder::LogSeam(int64_t seamTicks, const std::string& how) const {
    if (!Settings.SeamLog)
        return;
    const double seconds = static_cast<double>(seamTicks) * av_q2d(Template->time_base);
    Settings.SeamLog(FormatText("seam at %.3f s: %s", seconds, how.c_str()));
}

void TSplitAudioEncoder::JoinMp3(std::vector<PacketPtr>& packets, int64_t seamTicks) {
    const TMp3Join join = JoinMp3Pieces(Tail, packets, seamTicks);
    // Never a frame that reads another piece's bytes as its own: the run fails instead.
    if (!join.Joined)
        throw FFmpegException("The mp3 pieces could not be joined");
    std::string how = FormatText("the first frame after it borrows %d bytes, %d are free before it",
                                 join.BorrowedBytes, join.FreeBytes);
    how += join.RaisedFrames == 0
               ? ": joined as encoded"
               : FormatText(": %d frame(s) raised to a higher bit rate to hold them",
                            join.RaisedFrames);
    LogSeam(seamTicks, how);
}
