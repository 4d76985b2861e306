// The options dialog's envelope scan.
#include "EnvelopeWorker.h"

#include "probe/EnvelopeScan.h"

#include <QMetaObject>

#include <algorithm>
#include <thread>

TEnvelopeWorker::TEnvelopeWorker(QObject* parent) : QObject(parent) {}

TEnvelopeWorker::~TEnvelopeWorker() {
    Stop();
}

void TEnvelopeWorker::Stop() {
    Cancel = true;
    // A scanning thread may be handing a library log line to this thread.
    for (const auto& thread : Threads)
        thread->Join();
    Threads.clear();
    ++Generation;
}

void TEnvelopeWorker::Start(const TSoundSource& source, int64_t durationUs) {
    Stop();
    Cancel = false;
    Result = std::make_shared<TSoundEnvelope>();
    if (durationUs > 0)
        Result->Peaks.reserve(static_cast<std::size_t>(durationUs / TSoundEnvelope::BinUs + 1));
    AllComplete = true;
    const std::vector<TScanRange> parts =
        EnvelopeParts(durationUs, std::thread::hardware_concurrency());
    PartsLeft = static_cast<int>(parts.size());
    const unsigned generation = Generation;
    for (const TScanRange& range : parts) {
        ++ActiveThreads;
        Threads.push_back(std::make_unique<TServedThread>("envelope", [this, source, range,
                                                                       generation] {
            const auto handOver = [this, generation](std::size_t firstBin,
                                                     std::vector<float> peaks) {
                QMetaObject::invokeMethod(
                    this,
                    [this, generation, firstBin, peaks = std::move(peaks)] {
                        Merge(generation, firstBin, peaks);
                    },
                    Qt::QueuedConnection);
            };
            std::string error;
            const TScanEnd end = ScanSoundEnvelope(source, range, Cancel, handOver, error);
            QMetaObject::invokeMethod(
                this, [this, generation, end] { PartEnded(generation, end == TScanEnd::Complete); },
                Qt::QueuedConnection);
            --ActiveThreads;
        }));
        Threads.back()->Start();
    }
}

void TEnvelopeWorker::Merge(unsigned generation, std::size_t firstBin,
                            const std::vector<float>& peaks) {
    if (generation != Generation)
        return;
    std::vector<float>& bins = Result->Peaks;
    if (bins.size() < firstBin + peaks.size())
        bins.resize(firstBin + peaks.size(), 0.0f);
    std::copy(peaks.begin(), peaks.end(), bins.begin() + static_cast<long>(firstBin));
    emit binsArrived();
}

void TEnvelopeWorker::PartEnded(unsigned generation, bool complete) {
    if (generation != Generation)
        return;
    AllComplete = AllComplete && complete;
    if (--PartsLeft == 0)
        emit finished(AllComplete);
}
