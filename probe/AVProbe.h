// The media probe: describes a file (TCustomAVProbe) and shows its pictures: seek to a time,
// then decode the picture there into a 24-bit bitmap, keeping the decoder, scaler and bitmap
// between grabs so that moving a slider costs one seek and one short decode.
#ifndef SOUNDPICK_PROBE_AVPROBE_H
#define SOUNDPICK_PROBE_AVPROBE_H

#include "CustomAVProbe.h"
#include "ffbind/FFUtils.h"

class TAVProbe : public TCustomAVProbe {
public:
    TAVProbe();
    ~TAVProbe() override;

    void CloseFile() override;

    // Moves the read position to timeUs (microseconds from the start of the file) on a stream
    // (negative: the first video, else audio, else subtitle stream; none: the container's
    // clock). The next GetFrameBitmap shows the picture at that time. False with LastError()
    // on failure; an attached input is refused with an exception. When the picture to grab is
    // a cover, nothing moves: a cover is the same at every time.
    bool Seek(int streamIndex, int64_t timeUs);
    // Decodes the next picture of a video stream (negative: the first one, or the first cover
    // when the file has no moving pictures) from the read position; a cover stream gives its
    // cover. The bitmap stays the probe's and is overwritten by the next call. Failures
    // return it empty (0 x 0) or, at the end of the stream, black, with LastError() set.
    const TBitmap24& GetFrameBitmap(int streamIndex);
    // A copy of the last picture grabbed successfully.
    const TBitmap24& GetLastBitmap() const { return LastBitmap; }

    // Library seek flags added to every seek. A seek always lands on the key frame at or before
    // the time and the next grab decodes forward to the time itself, so no flag is needed for
    // an exact picture.
    int SeekFlags = 0;
    // How many pixels of pictures before the time asked a grab may decode forward from the key
    // frame; when they are spent, the picture reached is shown (files with key frames far apart
    // would otherwise cost seconds per slider step). Counted in pixels so that the cost stays
    // alike at every picture size, and the result does not depend on the machine's load. The
    // default is a hundred 1280x720 pictures.
    int64_t ForwardDecodeBudgetPixels = int64_t{100} * 1280 * 720;

private:
    int VideoStreamToGrab(int streamIndex);
    bool GrabsCover(int streamIndex) const;
    void DecodeCover(int index);
    bool PrepareDecoder(int index);
    enum TGrabResult { grMore, grShown, grFailed };
    void DecodeToPicture(int index);
    TGrabResult ReceivePictures(int index);
    bool IsWanted(const AVFrame* frame, const AVStream* stream) const;
    bool EndsBeforeTarget(const AVPacket* packet, const AVStream* stream) const;
    bool EndsBeforeTarget(int64_t time, int64_t duration, const AVStream* stream) const;
    bool ShowPicture(const AVFrame* frame);
    void EmptyBitmap(TLogLevel level, const std::string& text);
    void PaintBlack();

    AVCodecContext* DecoderContext = nullptr; // one of the probe's stream decoders
    TPictureConverter Converter;              // scaler and picture buffer, kept between grabs
    TBitmap24 Bitmap;
    TBitmap24 LastBitmap;
    bool IsImage2 = false;
    PacketPtr Packet;
    FramePtr Frame;
    // After a seek the first picture shown is the one at this time (in TargetTimeBase).
    bool HasTarget = false;
    int64_t Target = 0;
    int64_t PixelsPassed = 0; // of the pictures a grab decoded before the time asked
    AVRational TargetTimeBase = {1, 1000000};
};

#endif
