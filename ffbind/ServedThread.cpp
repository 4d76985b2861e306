// A worker thread whose join serves the main thread's hand-overs.
#include "ffbind/ServedThread.h"

#include "ffbind/MainThread.h"

void TServedThread::Start(std::function<void()> body) {
    Join();
    Ended = false;
    Thread = std::thread([this, body = std::move(body)] {
        body();
        Ended = true;
    });
}

void TServedThread::Join() {
    if (!Thread.joinable())
        return;
    WaitServingMainThread([this] { return Ended.load(); });
    Thread.join();
}
