// The main-thread hand-over: work produced on worker threads (log lines, previews) is run on
// the thread that started the program, the producer waiting until it has run.
// The window installs a wake-up that posts to its event loop; other front ends pump
// CheckSynchronize() themselves. Every wait loop on the main thread must pump it too.
#ifndef SOUNDPICK_FFBIND_MAINTHREAD_H
#define SOUNDPICK_FFBIND_MAINTHREAD_H

#include <chrono>
#include <functional>
#include <mutex>

// Runs fn on the main thread: at once when called there, else queued; the calling thread blocks
// until the main thread has run it. An exception thrown by fn reaches the caller.
void Synchronize(const std::function<void()>& fn);

// Runs every queued hand-over; call only on the main thread. Returns true when any ran.
bool CheckSynchronize();

// Waits on the main thread until done() is true, serving hand-overs meanwhile; elsewhere it
// simply polls. The poll period bounds the reaction time.
void WaitServingMainThread(const std::function<bool()>& done,
                           std::chrono::milliseconds pollPeriod = std::chrono::milliseconds(10));

// The waiting part of LockServingMainThread: calls tryLock until it succeeds, serving hand-overs.
void TakeLockServingMainThread(const std::function<bool()>& tryLock);

bool IsMainThread();

// Locks a mutex; on the main thread it serves hand-overs while the mutex is held elsewhere, so
// that a worker holding it while it hands a log line over cannot deadlock with the main thread
// (the probe's codec opening under CodecLock, for example).
template <class Mutex> std::unique_lock<Mutex> LockServingMainThread(Mutex& mutex) {
    std::unique_lock<Mutex> lock(mutex, std::defer_lock);
    if (IsMainThread())
        TakeLockServingMainThread([&] { return lock.try_lock(); });
    else
        lock.lock();
    return lock;
}

// Called (on any thread) whenever a hand-over is queued; the window posts an event from it.
// Once the call that replaces or removes it has returned, the old wake-up no longer runs.
void SetMainThreadWakeup(std::function<void()> wakeup);

// The kernel's identifier of the calling thread, as shown in log lines.
unsigned CurrentThreadId();

#endif
