// The player's queue of PCM bytes.
#include "PcmQueue.h"

#include <algorithm>

TPcmQueue::TPcmQueue(qint64 capacityBytes, QObject* parent)
    : QIODevice(parent), CapacityBytes(capacityBytes) {}

bool TPcmQueue::Push(const char* data, qint64 size) {
    while (size > 0) {
        std::unique_lock<std::mutex> guard(Lock);
        Room.wait(guard, [this] { return Aborted || qint64(Bytes.size()) < CapacityBytes; });
        if (Aborted)
            return false;
        const qint64 count = std::min(size, CapacityBytes - qint64(Bytes.size()));
        Bytes.insert(Bytes.end(), data, data + count);
        data += count;
        size -= count;
    }
    return true;
}

void TPcmQueue::Finish() {
    std::lock_guard<std::mutex> guard(Lock);
    Finished = true;
}

void TPcmQueue::Abort() {
    {
        std::lock_guard<std::mutex> guard(Lock);
        Aborted = Finished = true;
        Bytes.clear();
    }
    Room.notify_all();
}

qint64 TPcmQueue::bytesAvailable() const {
    std::lock_guard<std::mutex> guard(Lock);
    return qint64(Bytes.size()) + QIODevice::bytesAvailable();
}

bool TPcmQueue::atEnd() const {
    std::lock_guard<std::mutex> guard(Lock);
    return Finished && Bytes.empty() && QIODevice::bytesAvailable() == 0;
}

qint64 TPcmQueue::readData(char* data, qint64 maxSize) {
    qint64 count = 0;
    {
        std::lock_guard<std::mutex> guard(Lock);
        count = std::min(maxSize, qint64(Bytes.size()));
        std::copy_n(Bytes.begin(), count, data);
        Bytes.erase(Bytes.begin(), Bytes.begin() + count);
    }
    Room.notify_all();
    return count;
}
