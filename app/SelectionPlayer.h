// Plays a stretch of a file's sound through the default sound output (Qt Multimedia's
// QAudioSink): a worker decodes it with our own decoder into a bounded queue that the sink
// drains. Stop, a new Play or destruction ends the worker and the sink.
#ifndef SOUNDPICK_APP_SELECTIONPLAYER_H
#define SOUNDPICK_APP_SELECTIONPLAYER_H

#include "ffbind/ServedThread.h"
#include "probe/SoundDecoder.h"

#include <QObject>

#include <atomic>
#include <cstdint>
#include <memory>

class QAudioSink;
class TPcmQueue;

class TSelectionPlayer : public QObject {
    Q_OBJECT
public:
    explicit TSelectionPlayer(QObject* parent = nullptr);
    ~TSelectionPlayer() override;

    enum class TStart { Playing, NoOutput };
    // Plays [fromUs, toUs) of the sound (toUs < 0: to its end) on one or two channels (a mono
    // sound is played as it is, at its own level). NoOutput when the system has no sound output
    // to play on.
    TStart Play(const TSoundSource& source, int channels, int64_t fromUs, int64_t toUs);
    void Stop();
    bool Playing() const { return Sink != nullptr; }

signals:
    void stopped();

private:
    void SinkStateChanged();

    std::unique_ptr<TPcmQueue> Queue;
    std::unique_ptr<QAudioSink> Sink;
    std::unique_ptr<TServedThread> Decoding;
    std::atomic<bool> Cancel{false};
};

#endif
