// The queue of hand-overs waiting for the main thread.
#include "MainThread.h"

#include <condition_variable>
#include <deque>
#include <exception>
#include <memory>
#include <mutex>
#include <thread>
#include <unistd.h>

namespace {

struct THandOver {
    std::function<void()> Fn;
    std::exception_ptr Error;
    bool Done = false;
};

struct TMainThreadState {
    std::mutex Lock; // guards every field below
    std::condition_variable DoneSignal;
    std::condition_variable QueuedSignal;
    std::deque<std::shared_ptr<THandOver>> Queue;
    std::thread::id MainId = std::this_thread::get_id();
    // Held while the wake-up runs and while it is replaced, so that once the program has
    // removed its wake-up (before its event loop goes away) no worker is still calling it.
    std::mutex WakeupLock;
    std::function<void()> Wakeup; // guarded by WakeupLock
};

TMainThreadState& State() {
    static TMainThreadState state;
    return state;
}

// Taken when the program starts so that the first thread is the main thread.
[[maybe_unused]] const bool mainThreadCaptured = (State(), true);

} // namespace

bool IsMainThread() {
    std::lock_guard<std::mutex> guard(State().Lock);
    return State().MainId == std::this_thread::get_id();
}

unsigned CurrentThreadId() {
    return static_cast<unsigned>(gettid());
}

void SetMainThreadWakeup(std::function<void()> wakeup) {
    std::lock_guard<std::mutex> guard(State().WakeupLock);
    State().Wakeup = std::move(wakeup);
}

void Synchronize(const std::function<void()>& fn) {
    if (IsMainThread()) {
        fn();
        return;
    }
    auto item = std::make_shared<THandOver>();
    item->Fn = fn;
    auto& state = State();
    {
        std::lock_guard<std::mutex> guard(state.Lock);
        state.Queue.push_back(item);
    }
    state.QueuedSignal.notify_all();
    {
        std::lock_guard<std::mutex> guard(state.WakeupLock);
        if (state.Wakeup)
            state.Wakeup();
    }
    std::unique_lock<std::mutex> lock(state.Lock);
    state.DoneSignal.wait(lock, [&] { return item->Done; });
    if (item->Error)
        std::rethrow_exception(item->Error);
}

bool CheckSynchronize() {
    if (!IsMainThread())
        return false; // the work was promised to run on the main thread
    auto& state = State();
    bool ranAny = false;
    for (;;) {
        std::shared_ptr<THandOver> item;
        {
            std::lock_guard<std::mutex> guard(state.Lock);
            if (state.Queue.empty())
                return ranAny;
            item = state.Queue.front();
            state.Queue.pop_front();
        }
        try {
            item->Fn();
        } catch (...) {
            item->Error = std::current_exception();
        }
        {
            std::lock_guard<std::mutex> guard(state.Lock);
            item->Done = true;
        }
        state.DoneSignal.notify_all();
        ranAny = true;
    }
}

namespace {

// Polls done() until it is true; on the main thread queued hand-overs are served meanwhile and
// a newly queued one ends the poll period early.
void ServeUntil(const std::function<bool()>& done, std::chrono::milliseconds pollPeriod) {
    const bool onMain = IsMainThread();
    auto& state = State();
    while (!done()) {
        if (onMain && CheckSynchronize())
            continue;
        std::unique_lock<std::mutex> lock(state.Lock);
        if (onMain)
            state.QueuedSignal.wait_for(lock, pollPeriod, [&] { return !state.Queue.empty(); });
        else
            state.QueuedSignal.wait_for(lock, pollPeriod);
    }
}

} // namespace

void WaitServingMainThread(const std::function<bool()>& done,
                           std::chrono::milliseconds pollPeriod) {
    ServeUntil(done, pollPeriod);
    if (IsMainThread())
        CheckSynchronize();
}

// Nothing is served once the lock is held: a hand-over run then could want the same lock.
void TakeLockServingMainThread(const std::function<bool()>& tryLock) {
    ServeUntil(tryLock, std::chrono::milliseconds(1));
}
