// The media probe's describing half: opens a media file (or borrows an input an engine opened),
// counts its streams and reports its figures, tags and the "Source Media File Info" text.
#ifndef SOUNDPICK_PROBE_CUSTOMAVPROBE_H
#define SOUNDPICK_PROBE_CUSTOMAVPROBE_H

#include "StreamInfo.h"
#include "ffbind/FFHandles.h"
#include "ffbind/FFmpegLogger.h"
#include "ffbind/UnicodeProtocol.h"

#include <filesystem>
#include <string>
#include <vector>

// Used from one thread at a time. Failures return false / -1 / an empty text and leave the
// reason in LastError(); a missing library is an exception (std::runtime_error).
class TCustomAVProbe {
public:
    TCustomAVProbe();
    virtual ~TCustomAVProbe();
    TCustomAVProbe(const TCustomAVProbe&) = delete;
    TCustomAVProbe& operator=(const TCustomAVProbe&) = delete;

    // Opens and analyses a file; formatName forces an input format ("" probes the file).
    // A failure leaves no file open.
    bool LoadFile(const std::filesystem::path& fileName, const std::string& formatName = "");
    // Describes an input somebody else opened and analysed; the probe never closes it, and
    // refuses to seek or read on it. Its owner calls CloseFile (or destroys the probe) before
    // closing the input.
    virtual void AttachContext(AVFormatContext* context);
    // Also done at the start of LoadFile and AttachContext and on destruction.
    virtual void CloseFile();

    // Each fills the record, or leaves it reset with LastError() telling why.
    void GetFileStreamInfo(TFileStreamInfo& info);
    // index < 0: the first video stream.
    void GetVideoStreamInfo(int index, TVideoStreamInfo& info);
    // The "Source Media File Info" text: CR LF after every line.
    std::string GetInfoText();
    // The name that was opened (decoded from the library's URL).
    std::filesystem::path GetFileName();
    // The input format's short name, e.g. "mov,mp4,m4a,3gp,3g2,mj2".
    std::string GetFormatName();
    // The library's size when it knows one, else the file system's; -1 with no file.
    int64_t GetFileSize();

    const std::string& LastError() const { return LastErrorText; }
    AVFormatContext* FormatContext() const { return Context; }
    bool OwnsContext() const { return static_cast<bool>(Owned); }
    const std::string& ForcedFormatName() const { return ForcedFormat; }
    int StreamCount() const { return StreamCountValue; }
    int ProgramCount() const { return ProgramCountValue; }
    int AudioStreamCount() const { return AudioStreams; }
    // Moving pictures only: a cover (a picture attached to the file, such as the front cover of
    // a music file) is listed in the information text but has no time line to seek.
    int VideoStreamCount() const { return VideoStreams; }
    int CoverStreamCount() const { return CoverStreams; }
    int FirstCoverStream() const { return FirstCover; }
    bool IsCoverStream(int index) const;
    int SubtitleStreamCount() const { return SubtitleStreams; }
    int FirstAudioStream() const { return FirstAudio; }
    int FirstVideoStream() const { return FirstVideo; }
    int FirstSubtitleStream() const { return FirstSubtitle; }
    // The codec of the first audio stream as the libraries name it ("aac"); empty without one.
    std::string FirstAudioCodecName() const;

protected:
    // Sends text + "\n" to the library log at level and keeps text as LastError().
    void Fail(TLogLevel level, const std::string& text);
    void SetLastError(const std::string& text) { LastErrorText = text; }
    // False (logged as "file not loaded.") when no file is open.
    bool CheckFileLoaded();
    // The probe's own decoder context for a stream: made from the stream's parameters and opened
    // (under CodecLock) on first need; left unopened when no decoder exists or opening fails.
    AVCodecContext* StreamDecoder(int index);
    // Whether the stream's decoder context could be opened.
    bool StreamDecoderOpen(int index);
    bool IsAttached() const { return Context && !Owned; }

private:
    void CountStreams();
    std::string StreamLine(int index);
    std::string ProgramLines();

    // The probe's own decoder context of a stream, made on first need.
    struct TStreamDecoder {
        CodecContextPtr Context;
        bool Open = false;
    };

    AVFormatContext* Context = nullptr; // the input described: Owned's or an attached one
    TInputContext Owned;                // the input the probe opened itself
    std::vector<TStreamDecoder> Decoders;
    std::string LastErrorText;
    std::string ForcedFormat;
    int StreamCountValue = -1;
    int ProgramCountValue = -1;
    int AudioStreams = -1;
    int VideoStreams = -1;
    int SubtitleStreams = -1;
    int CoverStreams = -1;
    int FirstCover = -1;
    int FirstAudio = -1;
    int FirstVideo = -1;
    int FirstSubtitle = -1;
};

#endif
