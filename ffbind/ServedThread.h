// The program's worker thread: created without running, it runs its body once on a fresh thread
// that is named and given its nice value first. The main thread may join it: up to its last
// statement the body may hand work to the main thread (a library log line, for one), so the join
// serves those hand-overs while it waits instead of waiting for a thread that waits for it.
#ifndef SOUNDPICK_FFBIND_SERVEDTHREAD_H
#define SOUNDPICK_FFBIND_SERVEDTHREAD_H

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

class TServedThread {
public:
    // Linux shows at most 15 characters of the name. A nice value above 0 lowers the thread's
    // priority (raising it would need a privilege).
    TServedThread(std::string name, std::function<void()> body, int niceValue = 0);
    // Joins.
    ~TServedThread();
    TServedThread(const TServedThread&) = delete;
    TServedThread& operator=(const TServedThread&) = delete;

    // Runs the body; later calls do nothing.
    void Start();
    bool Started() const { return StartedFlag; }
    // The body has returned.
    bool Done() const { return *DoneFlag; }
    // The calling thread is this thread.
    bool IsCurrent() const;
    // Waits until the body has returned (serving hand-overs on the main thread), then joins.
    // Called on the thread itself it only detaches (an owner released from its own body).
    void Join();
    bool Joinable() const;

private:
    std::string Name;
    std::function<void()> Body;
    int NiceValue;
    // Guards Thread, which Start assigns while other threads (and the new thread itself) may
    // already ask whether they are it or join it.
    mutable std::mutex HandleLock;
    std::thread Thread;
    std::atomic<bool> StartedFlag{false};
    std::shared_ptr<std::atomic<bool>> DoneFlag = std::make_shared<std::atomic<bool>>(false);
};

#endif
