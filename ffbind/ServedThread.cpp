// The program's worker thread, whose join serves the main thread's hand-overs.
#include "ffbind/ServedThread.h"

#include "ffbind/MainThread.h"

#include <pthread.h>
#include <sys/resource.h>
#include <unistd.h>

TServedThread::TServedThread(std::string name, std::function<void()> body, int niceValue)
    : Name(std::move(name)), Body(std::move(body)), NiceValue(niceValue) {}

TServedThread::~TServedThread() {
    Join();
}

void TServedThread::Start() {
    // The handle is published before the thread can ask for it: the body's first IsCurrent or
    // Join waits here until the assignment below is done.
    std::lock_guard<std::mutex> guard(HandleLock);
    if (StartedFlag.exchange(true))
        return;
    // The thread keeps its own copies: a thread detached from a destroyed owner (one that
    // released itself from its own body) touches nothing of the owner afterwards.
    Thread = std::thread([name = Name, body = Body, nice = NiceValue, done = DoneFlag] {
        pthread_setname_np(pthread_self(), name.substr(0, 15).c_str());
        // A fresh thread per body: raising the nice value needs no privilege, lowering it would.
        if (nice != 0)
            setpriority(PRIO_PROCESS, static_cast<id_t>(gettid()), nice);
        body();
        *done = true;
    });
}

bool TServedThread::IsCurrent() const {
    std::lock_guard<std::mutex> guard(HandleLock);
    return Thread.get_id() == std::this_thread::get_id();
}

bool TServedThread::Joinable() const {
    std::lock_guard<std::mutex> guard(HandleLock);
    return Thread.joinable();
}

void TServedThread::Join() {
    {
        std::lock_guard<std::mutex> guard(HandleLock);
        if (!Thread.joinable())
            return;
        if (Thread.get_id() == std::this_thread::get_id()) {
            Thread.detach();
            return;
        }
    }
    // Not under the lock: the body may ask for the handle until its last statement.
    WaitServingMainThread([this] { return DoneFlag->load(); });
    std::lock_guard<std::mutex> guard(HandleLock);
    if (Thread.joinable()) // another joiner may have come first
        Thread.join();
}
