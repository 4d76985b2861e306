// The sound a player hands its output: a bounded queue of PCM bytes that a decoding worker fills
// (waiting while it is full) and the sound output drains on the window's thread (never waiting:
// it takes what there is). Closing it ends the worker's wait and, once drained, the reading.
// Open it unbuffered: the queue is the buffer.
#ifndef SOUNDPICK_APP_PCMQUEUE_H
#define SOUNDPICK_APP_PCMQUEUE_H

#include <QIODevice>

#include <condition_variable>
#include <deque>
#include <mutex>

class TPcmQueue : public QIODevice {
    Q_OBJECT
public:
    explicit TPcmQueue(qint64 capacityBytes, QObject* parent = nullptr);

    // From the worker: waits for room; false once the queue is closed (nothing is taken then).
    bool Push(const char* data, qint64 size);
    // No more sound will come: the reader ends after what is queued.
    void Finish();
    // Ends both sides at once: a waiting Push returns false.
    void Abort();

    bool isSequential() const override { return true; }
    qint64 bytesAvailable() const override;
    bool atEnd() const override;

protected:
    qint64 readData(char* data, qint64 maxSize) override;
    qint64 writeData(const char*, qint64) override { return -1; }

private:
    const qint64 CapacityBytes;
    mutable std::mutex Lock; // guards Bytes, Finished and Aborted
    std::condition_variable Room;
    std::deque<char> Bytes;
    bool Finished = false;
    bool Aborted = false;
};

#endif
