// The component's terminate-event delivery thread.
#include "component/TerminateDelivery.h"

#include "ffbind/FFmpegLogger.h"
#include "ffbind/MainThread.h"

#include <pthread.h>

TTerminateDelivery::~TTerminateDelivery() {
    WaitIdle();
    std::lock_guard<std::mutex> guard(Lock);
    if (Worker.joinable())
        Worker.join();
}

void TTerminateDelivery::Post(TCall call) {
    std::lock_guard<std::mutex> guard(Lock);
    Queue.push_back(std::move(call));
    if (Busy)
        return;
    Busy = true;
    // The previous delivery thread has left its loop; it only has to return.
    if (Worker.joinable())
        Worker.join();
    Worker = std::thread(&TTerminateDelivery::Serve, this);
}

void TTerminateDelivery::WaitIdle() {
    WaitServingMainThread([this] {
        std::lock_guard<std::mutex> guard(Lock);
        return !Busy;
    });
}

void TTerminateDelivery::Serve() {
    pthread_setname_np(pthread_self(), "sp-deliver");
    while (true) {
        TCall call;
        {
            std::lock_guard<std::mutex> guard(Lock);
            if (Queue.empty()) {
                Busy = false;
                return;
            }
            call = std::move(Queue.front());
            Queue.pop_front();
        }
        try {
            call();
        } catch (const std::exception& error) {
            // A handler's failure must not end the process from this thread.
            GetLogger()->Log(this, llError,
                             std::string("Terminate handler failed: ") + error.what());
        }
    }
}
