// How an engine run is threaded: where and at what priority it converts, whether a stop waits,
// and the gate that holds a paused worker.
#ifndef SOUNDPICK_ENGINE_ENGINETHREAD_H
#define SOUNDPICK_ENGINE_ENGINETHREAD_H

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>

// Priority of a run's worker thread: per-thread nice values 19, 10, 5 and 0.
enum TConvertPriority { cpIdle, cpLowest, cpLower, cpNormal };

// Where StartConvert runs the conversion: on a worker thread it creates, or on the caller's.
enum TConvertThreading { ctWorkerThread, ctCallerThread };

// Whether a stop returns at once or once the run's threads have ended.
enum TStopWait { swNoWait, swWaitForEnd };

// The nice value of a priority.
int NiceValue(TConvertPriority priority);

// The gate at the top of the transcode loop that holds a paused worker; the worker holds no
// lock of the engine while it waits. Wake makes the waiter re-test its stop condition.
class TPauseGate {
public:
    void Close();
    void Open();
    // A worker is being held at the gate now.
    bool Holding() const { return HoldingFlag; }
    void Wake();
    // Blocks while the gate is closed and stop() is false.
    template <typename TStopTest> void Pass(TStopTest stop) {
        std::unique_lock<std::mutex> lock(Lock);
        HoldingFlag = Closed && !stop();
        while (Closed && !stop())
            Signal.wait_for(lock, std::chrono::milliseconds(50));
        HoldingFlag = false;
    }

private:
    mutable std::mutex Lock;
    std::condition_variable Signal;
    bool Closed = false;
    std::atomic<bool> HoldingFlag{false};
};

#endif
