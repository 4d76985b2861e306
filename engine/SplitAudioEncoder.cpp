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

// Frames encoded before a piece's first kept frame (Opus wants at least 80 ms). Measured on
// mp3: after a second the encoder's state at the seam matches one encoder's (after 8 frames a
// seam sounded up to 0.9 dB worse).
constexpr int MinPreRollFrames = 8;
constexpr double MinPreRollSeconds = 1.0;
// Frames encoded after a piece's last kept frame, beyond every encoder's look-ahead.
constexpr int PostRollFrames = 4;
// mp3 seams: the packets kept on both sides of a seam, so that the bytes the later piece's first
// frame may borrow (at most 511) and the room for them in the earlier piece lie in them, also at
// the lowest rates (60 main-data bytes a frame).
constexpr int Mp3HoldFrames = 16;
// How often a wait for a piece on the main thread looks whether it is done.
constexpr auto DonePollInterval = std::chrono::milliseconds(20);

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
    std::vector<FramePtr> Frames;
    bool First = false;
    // Packets kept: time stamp in [KeepFromTicks, KeepBeforeTicks), encoder time base. The
    // seam with the piece before lies at or after SeamFromTicks; those from HoldFromTicks on
    // wait for the seam with the next.
    int64_t KeepFromTicks = INT64_MIN;
    int64_t KeepBeforeTicks = INT64_MAX;
    int64_t SeamFromTicks = INT64_MIN;
    int64_t HoldFromTicks = INT64_MAX;
    std::vector<PacketPtr> Packets;
    bool Done = false; // under the encoder's Lock
    bool Failed = false;
    std::string Failure; // the encoder's refusal, when it gave one
    std::jthread Worker; // last: joined before the rest is freed

    // Encodes the frames on the worker; false when the encoder fails.
    bool Encode(const AVCodecContext& settings, const AVDictionary* options, std::stop_token stop);
    // Keeps a packet of the piece's range.
    void Keep(AVPacket* packet);
};

bool TSplitAudioEncoder::TPiece::Encode(const AVCodecContext& settings, const AVDictionary* options,
                                        std::stop_token stop) {
    const AVCodec* codec = settings.codec;
    CodecContextPtr encoder(ff::avcodec_alloc_context3(codec));
    if (!encoder)
        return false;
    CopySettings(*encoder, settings);
    bool good = OpenCodec(*encoder, codec, options) >= 0;
    const auto keep = [this](AVPacket* packet) { Keep(packet); };
    try {
        // The frames are freed with the piece, on the thread that made them: freeing each here
        // took the lock of that thread's allocator arena and made ten times the context switches.
        for (std::size_t i = 0; good && i < Frames.size() && !stop.stop_requested(); ++i)
            EncodeAndDrain(encoder.get(), Frames[i].get(), keep);
        if (good && !stop.stop_requested())
            EncodeAndDrain(encoder.get(), nullptr, keep);
    } catch (const FFmpegException& error) {
        Failure = error.what();
        good = false;
    }
    FreeEncoder(encoder);
    return good;
}

void TSplitAudioEncoder::TPiece::Keep(AVPacket* packet) {
    if (packet->pts < KeepFromTicks || packet->pts >= KeepBeforeTicks)
        return;
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
    Settings.Pieces = std::max(settings.Pieces, 1);
    const double frameSeconds = static_cast<double>(encoder.frame_size) / encoder.sample_rate;
    PreRollFrames =
        std::max(MinPreRollFrames, static_cast<int>(std::ceil(MinPreRollSeconds / frameSeconds)));
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
    Frames.clear();
}

void TSplitAudioEncoder::Push(const AVFrame& frame, const TSplitPacketWriter& write) {
    if (Ended)
        return;
    FramePtr copy(ff::av_frame_clone(&frame));
    if (!copy)
        throw FFmpegException("av_malloc failed");
    Frames.push_back(std::move(copy));
    const int64_t segmentEnd = (NextPiece + 1) * Settings.SegmentFrames;
    const int64_t pushed = FirstFrameIndex + static_cast<int64_t>(Frames.size());
    // After a stop only the frames still on their way come (the decoders' flush): they wait
    // for the last piece, which Finish launches.
    if (pushed >= segmentEnd + PostRollFrames && !Stopping()) {
        while (static_cast<int>(Running.size()) >= Settings.Pieces) {
            if (Stopping())
                return;
            WriteFinished(write, fwWaitOldest);
        }
        Launch(pushed, peSegment);
        // What the next piece needs starts at its pre-roll.
        while (FirstFrameIndex < segmentEnd - PreRollFrames) {
            Frames.pop_front();
            ++FirstFrameIndex;
        }
    }
    WriteFinished(write, fwNoWait);
}

void TSplitAudioEncoder::Finish(const TSplitPacketWriter& write) {
    if (Ended)
        return;
    Ended = true;
    // Also after a stop: the pieces handed to workers and the frames read since (less than a
    // segment and its post-roll) are encoded to their end, so that the output keeps all the
    // sound read before the stop; the wait is bounded by one piece per worker and one more.
    const int64_t pushed = FirstFrameIndex + static_cast<int64_t>(Frames.size());
    if (pushed > NextPiece * Settings.SegmentFrames) {
        while (static_cast<int>(Running.size()) >= Settings.Pieces)
            WriteFinished(write, fwWaitOldest);
        Launch(pushed, peStreamEnd);
    }
    while (!Running.empty())
        WriteFinished(write, fwWaitOldest);
    DropAll();
}

void TSplitAudioEncoder::Launch(int64_t endFrame, TPieceEnd end) {
    auto piece = std::make_unique<TPiece>();
    const int64_t start = NextPiece * Settings.SegmentFrames;
    const int64_t from = std::max<int64_t>(start - PreRollFrames, 0);
    const auto at = [&](int64_t index) {
        return Frames[static_cast<std::size_t>(index - FirstFrameIndex)].get();
    };
    for (int64_t i = from; i < endFrame; ++i) {
        FramePtr copy(ff::av_frame_clone(at(i)));
        if (!copy)
            throw FFmpegException("av_malloc failed");
        piece->Frames.push_back(std::move(copy));
    }
    piece->First = NextPiece == 0;
    if (!piece->First) {
        piece->SeamFromTicks = at(start)->pts - DelayTicks;
        piece->KeepFromTicks = piece->SeamFromTicks - SeamHoldFrames * FrameTicks;
    }
    if (end == peSegment) {
        const int64_t endTicks = at(start + Settings.SegmentFrames)->pts - DelayTicks;
        piece->KeepBeforeTicks = endTicks;
        piece->HoldFromTicks = endTicks - SeamHoldFrames * FrameTicks;
    }
    TPiece& target = *piece;
    piece->Worker = std::jthread([this, &target](std::stop_token stop) {
        pthread_setname_np(pthread_self(), "sp-split");
        bool good = false;
        try {
            good = target.Encode(*Template, Options.get(), stop);
        } catch (...) {
        }
        std::lock_guard guard(Lock);
        target.Failed = !good;
        target.Done = true;
        PieceDone.notify_all();
    });
    Running.push_back(std::move(piece));
    ++NextPiece;
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
