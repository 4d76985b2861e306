// The threads of an engine run: the worker that converts, the helper that delivers an end
// notification for a task that never ran, and the gate that holds a paused worker.
#ifndef SOUNDPICK_ENGINE_ENGINETHREAD_H
#define SOUNDPICK_ENGINE_ENGINETHREAD_H

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

class TCustomFFmpeg;

// Priority of a run's worker thread: per-thread nice values 19, 10, 5 and 0.
enum TConvertPriority { cpIdle, cpLowest, cpLower, cpNormal };

// Where StartConvert runs the conversion: on a worker thread it creates, or on the caller's.
enum TConvertThreading { ctWorkerThread, ctCallerThread };

// Whether a stop returns at once or once the run's threads have ended.
enum TStopWait { swNoWait, swWaitForEnd };

// The nice value of a priority.
int NiceValue(TConvertPriority priority);

// A thread created without running: Start runs the body once on a fresh std::thread, which is
// named and given its nice value first. The owner joins it (Join) or lets the destructor do so.
class TEngineThread {
public:
    TEngineThread(std::string name, std::function<void()> body,
                  TConvertPriority priority = cpNormal);
    ~TEngineThread();
    TEngineThread(const TEngineThread&) = delete;
    TEngineThread& operator=(const TEngineThread&) = delete;

    // Runs the body; later calls do nothing.
    void Start();
    bool Started() const { return StartedFlag; }
    // The body has returned.
    bool Done() const { return *DoneFlag; }
    // The calling thread is this thread.
    bool IsCurrent() const;
    // Waits for the body to return (serving main-thread hand-overs when called on the main
    // thread) and joins. Called on the thread itself it only detaches.
    void Join();

private:
    std::string Name;
    std::function<void()> Body;
    TConvertPriority Priority;
    std::thread Thread;
    std::atomic<bool> StartedFlag{false};
    std::shared_ptr<std::atomic<bool>> DoneFlag = std::make_shared<std::atomic<bool>>(false);
};

// The worker thread of a run: its body is the engine's Run.
class TConvertThread : public TEngineThread {
public:
    TConvertThread(TCustomFFmpeg& engine, TConvertPriority priority);
};

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
