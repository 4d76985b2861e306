// Delivers the component's terminate events away from the threads that end tasks: a queue served
// by a short-lived delivery thread, so a handler never blocks a worker and the events arrive one
// at a time in the order the ends happened.
#ifndef SOUNDPICK_COMPONENT_TERMINATEDELIVERY_H
#define SOUNDPICK_COMPONENT_TERMINATEDELIVERY_H

#include <deque>
#include <functional>
#include <mutex>
#include <thread>

class TTerminateDelivery {
public:
    using TCall = std::function<void()>;

    TTerminateDelivery() = default;
    // Waits until every queued call has run.
    ~TTerminateDelivery();
    TTerminateDelivery(const TTerminateDelivery&) = delete;
    TTerminateDelivery& operator=(const TTerminateDelivery&) = delete;

    // Queues a call; a delivery thread is started when none is running.
    void Post(TCall call);
    // Waits until the queue is empty and no call runs; on the main thread it serves hand-overs
    // meanwhile (a handler may be waiting for the main thread).
    void WaitIdle();

private:
    void Serve();

    std::mutex Lock; // guards Queue, Busy, Worker
    // True from the first Post until the delivery thread finds the queue empty.
    std::deque<TCall> Queue;
    bool Busy = false;
    std::thread Worker;
};

#endif
