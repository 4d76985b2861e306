// The window's file reading on a thread of its own.
#include "InputReader.h"

#include <condition_variable>
#include <deque>
#include <exception>
#include <mutex>

// What the window and the reader's thread share: the jobs to run and where results go. The
// thread holds it too, so that it outlives the window when the thread is left in a job.
struct TInputReader::TShared {
    std::mutex Lock;
    std::condition_variable Wake;
    std::deque<TJob> Jobs;
    QObject* Receiver = nullptr; // none once the reader is gone: results are dropped
    bool InJob = false;
};

TInputReader::TInputReader(std::function<void(const std::string& what)> failed, QObject* parent)
    : QObject(parent), Failed(std::move(failed)) {
    StartThread();
}

TInputReader::~TInputReader() {
    LetThreadGo();
}

void TInputReader::StartThread() {
    Shared = std::make_shared<TShared>();
    Shared->Receiver = this;
    Thread = std::thread([shared = Shared] { Serve(shared); });
}

void TInputReader::LetThreadGo() {
    std::deque<TJob> dropped; // freed outside the lock
    bool inJob = false;
    {
        std::lock_guard<std::mutex> guard(Shared->Lock);
        Shared->Receiver = nullptr;
        dropped.swap(Shared->Jobs);
        inJob = Shared->InJob;
    }
    Shared->Wake.notify_all();
    if (inJob)
        Thread.detach();
    else
        Thread.join();
}

void TInputReader::Post(TJob job) {
    ++Pending;
    // The thread never touches the reader: it only carries it back in what it posts to it.
    TJob carried = [reader = this, generation = Generation,
                    job = std::move(job)]() -> std::function<void()> {
        std::function<void()> done;
        try {
            done = job();
        } catch (const std::exception& error) {
            done = [reader, what = std::string(error.what())] { reader->Failed(what); };
        }
        return [reader, generation, done] { reader->Deliver(generation, done); };
    };
    {
        std::lock_guard<std::mutex> guard(Shared->Lock);
        Shared->Jobs.push_back(std::move(carried));
    }
    Shared->Wake.notify_one();
}

void TInputReader::Cancel() {
    ++Generation;
    Pending = 0;
    std::deque<TJob> dropped;
    std::lock_guard<std::mutex> guard(Shared->Lock);
    dropped.swap(Shared->Jobs);
}

void TInputReader::Abandon() {
    Cancel();
    bool inJob = false;
    {
        std::lock_guard<std::mutex> guard(Shared->Lock);
        inJob = Shared->InJob;
    }
    if (!inJob)
        return;
    LetThreadGo();
    StartThread();
}

void TInputReader::Deliver(unsigned generation, const std::function<void()>& done) {
    if (generation != Generation)
        return;
    --Pending;
    // No exception may cross the event loop; the add it belongs to ends with the box.
    try {
        done();
    } catch (const std::exception& error) {
        Failed(error.what());
    }
}

void TInputReader::Serve(const std::shared_ptr<TShared>& shared) {
    std::unique_lock<std::mutex> lock(shared->Lock);
    for (;;) {
        shared->Wake.wait(lock, [&] { return !shared->Jobs.empty() || !shared->Receiver; });
        if (!shared->Receiver)
            return;
        TJob job = std::move(shared->Jobs.front());
        shared->Jobs.pop_front();
        shared->InJob = true;
        lock.unlock();
        std::function<void()> done = job();
        job = nullptr;
        lock.lock();
        shared->InJob = false;
        // Posted under the lock: the reader cannot go meanwhile, and once it has gone Qt
        // drops what was posted to it.
        if (shared->Receiver)
            QMetaObject::invokeMethod(shared->Receiver, std::move(done), Qt::QueuedConnection);
        else {
            lock.unlock();
            done = nullptr; // what the job read is freed here, not under the lock
            lock.lock();
        }
    }
}
