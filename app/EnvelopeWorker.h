// Measures a file's sound envelope for the options dialog on worker threads (two halves at once
// for a long file), handing the bins to the window's thread as they fill in. Stop, a new Start
// or destruction cancels the scan and joins its threads, so no work is left behind.
#ifndef SOUNDPICK_APP_ENVELOPEWORKER_H
#define SOUNDPICK_APP_ENVELOPEWORKER_H

#include "ffbind/ServedThread.h"
#include "probe/SoundDecoder.h"
#include "probe/SoundEnvelope.h"

#include <QObject>

#include <atomic>
#include <cstdint>
#include <memory>
#include <vector>

class TEnvelopeWorker : public QObject {
    Q_OBJECT
public:
    explicit TEnvelopeWorker(QObject* parent = nullptr);
    ~TEnvelopeWorker() override;

    // Starts measuring the sound (durationUs: -1 when unknown) into a new envelope.
    void Start(const TSoundSource& source, int64_t durationUs);
    void Stop();
    // Whether any scanning thread is still at work (they end soon after Stop returns never).
    bool Running() const { return ActiveThreads.load() > 0; }
    // The envelope being filled: bins arrive on the window's thread only.
    std::shared_ptr<const TSoundEnvelope> Envelope() const { return Result; }

signals:
    void binsArrived();
    // All threads ended: complete when every part of the sound was measured.
    void finished(bool complete);

private:
    void Merge(unsigned generation, std::size_t firstBin, const std::vector<float>& peaks);
    void PartEnded(unsigned generation, bool complete);

    std::vector<std::unique_ptr<TServedThread>> Threads;
    std::atomic<bool> Cancel{false};
    std::atomic<int> ActiveThreads{0};
    unsigned Generation = 0; // of the current scan; hand-overs of older ones are dropped
    int PartsLeft = 0;
    bool AllComplete = true;
    std::shared_ptr<TSoundEnvelope> Result;
};

#endif
