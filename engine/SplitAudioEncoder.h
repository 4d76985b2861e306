// Encodes one output stream's sound in consecutive pieces on worker threads, each with its own
// encoder, and hands the packets on in order so that they join into the stream one encoder
// would have made: same packet grid, same time stamps, same sample count.
#ifndef SOUNDPICK_ENGINE_SPLITAUDIOENCODER_H
#define SOUNDPICK_ENGINE_SPLITAUDIOENCODER_H

#include "ffbind/FFHandles.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <stop_token>
#include <string>
#include <vector>

// Receives a packet in the encoder's time base; runs on the thread that fed the encoder.
using TSplitPacketWriter = std::function<void(AVPacket* packet)>;

struct TSplitAudioSettings {
    int Pieces = 2;                               // pieces encoded at once (worker threads)
    int SegmentFrames = 1;                        // encoder frames a piece keeps
    const AVDictionary* EncoderOptions = nullptr; // the stream's private encoder options
    // Set when a stop is asked for: no further piece starts until Finish, which encodes what was
    // read before the stop to its end. None: never.
    const std::atomic<bool>* StopRequested = nullptr;
    // Receives a log line telling how each seam was joined, on the thread that feeds the encoder.
    std::function<void(const std::string& line)> SeamLog;
};

class TSplitAudioEncoder {
public:
    // Whether pieces of this encoder's output join without a seam a listener or a decoder can
    // tell (measured per codec); options: the stream's private encoder options.
    static bool JoinsSeamlessly(const AVCodecContext& encoder, const AVDictionary* options);

    // encoder: the stream's opened encoder, whose parameters every piece's encoder copies.
    TSplitAudioEncoder(const AVCodecContext& encoder, const TSplitAudioSettings& settings);
    // Drops the pieces still encoding (when Finish did not run) and joins their threads.
    ~TSplitAudioEncoder();
    TSplitAudioEncoder(const TSplitAudioEncoder&) = delete;
    TSplitAudioEncoder& operator=(const TSplitAudioEncoder&) = delete;

    // Takes the next encoder frame (its time stamp on the encoder's grid) and hands it to the
    // pieces it belongs to, whose encoders take it as it comes; hands on the packets of the
    // pieces finished so far. Waits for the oldest piece when a piece is to start and all
    // workers are busy.
    void Push(FramePtr frame, const TSplitPacketWriter& write);
    // A frame the pieces have encoded and let go of, writable and holding at least that many
    // samples, to be filled again; null when there is none.
    FramePtr TakeSpareFrame(int samples);
    // At the end of the sound, also after a stop: encodes the last piece to its end, waits for
    // the pieces still encoding and hands on every packet left.
    void Finish(const TSplitPacketWriter& write);

private:
    struct TPiece;
    // Whether handing on waits for the oldest piece or takes only what is finished.
    enum TFinishedWait { fwNoWait, fwWaitOldest };

    void Launch();
    // The frame the next piece's encoder starts at (its pre-roll included).
    int64_t LaunchFrame() const;
    // Sets the seams a frame's time stamp fixes: the start of the piece whose kept frames it
    // begins and the end of the piece before.
    void MarkSeam(const AVFrame& frame);
    // Queues the frame for every piece still taking frames; closes those it ends.
    void Hand(FramePtr frame);
    // Lets the piece's worker go on when it waits and has enough to do.
    void Wake(TPiece& piece);
    // The worker: encodes the piece's frames as they come.
    void EncodePiece(TPiece& piece, std::stop_token stop);
    // The next frame for the piece's encoder, after giving back the one it encoded; null when
    // the piece is closed and done or a stop is asked for.
    FramePtr NextFrame(TPiece& piece, FramePtr spent, std::stop_token stop);
    // At the end: a newest piece whose kept frames are fewer than the post-roll of the one
    // before is dropped, and that one keeps everything to the end.
    void DropShortLastPiece();
    // Hands on the packets of finished pieces in order.
    void WriteFinished(const TSplitPacketWriter& write, TFinishedWait wait);
    // Hands on a finished piece's packets from its seam with the one before; keeps back those
    // the seam with the next one may still change.
    void WritePiece(TPiece& piece, const TSplitPacketWriter& write);
    // Joins the held packets of the piece before with an mp3 piece's packets at the seam.
    void JoinMp3(std::vector<PacketPtr>& packets, int64_t seamTicks);
    void LogSeam(int64_t seamTicks, const std::string& how) const;
    bool Stopping() const;
    // Waits until the piece is done.
    void WaitFor(const TPiece& piece);
    void DropAll();

    CodecContextPtr Template; // unopened, holding the stream encoder's settings
    TSplitAudioSettings Settings;
    DictionaryPtr Options;
    int PreRollFrames;
    // Codecs whose frames borrow bytes from the frames before (mp3) join each seam from packets
    // kept on both sides of it.
    int SeamHoldFrames = 0;
    int64_t FrameTicks; // one encoder frame in the encoder's time base
    int64_t DelayTicks; // the encoder's delay in its time base: packet time = frame time - delay
    int64_t Pushed = 0; // frames taken so far: the index of the next one in the stream
    int64_t NextPiece = 0;
    bool Ended = false;                          // Finish ran: the stream takes nothing more
    std::deque<std::unique_ptr<TPiece>> Running; // in stream order
    std::vector<PacketPtr> Tail; // the last piece handed on: packets the next seam may change
    std::mutex Lock;
    std::condition_variable PieceDone;
    // Frames the pieces have encoded, back to the feeding thread, which frees them or fills
    // them again (freeing them on the workers took the lock of the feeding thread's allocator
    // arena and made ten times the context switches); under Lock.
    std::vector<FramePtr> Spare;
};

#endif
