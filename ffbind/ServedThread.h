// A worker thread the main thread may join: up to its last statement the body may hand work to
// the main thread (a library log line, for one), so the join serves those hand-overs while it
// waits instead of waiting for a thread that waits for it.
#ifndef SOUNDPICK_FFBIND_SERVEDTHREAD_H
#define SOUNDPICK_FFBIND_SERVEDTHREAD_H

#include <atomic>
#include <functional>
#include <thread>

class TServedThread {
public:
    TServedThread() = default;
    TServedThread(const TServedThread&) = delete;
    TServedThread& operator=(const TServedThread&) = delete;
    ~TServedThread() { Join(); }

    // Runs body on a new thread, after joining the one before.
    void Start(std::function<void()> body);
    // Waits until the body has returned (serving hand-overs on the main thread), then joins.
    void Join();
    bool Joinable() const { return Thread.joinable(); }

private:
    std::atomic<bool> Ended{true};
    std::thread Thread;
};

#endif
