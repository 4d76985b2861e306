// The main-thread hand-over: work of worker threads runs on the main thread while they wait,
// failures come back to the caller, and a main thread waiting for a lock keeps serving.
#include "ffbind/MainThread.h"
#include "ffbind/FFmpegLoader.h"
#include "ffbind/ServedThread.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <stdexcept>
#include <thread>
#include <vector>

namespace {

// Serves hand-overs until done() holds or a minute has passed; true when done.
bool ServeUntil(const std::function<bool()>& done) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    WaitServingMainThread([&] { return done() || std::chrono::steady_clock::now() > deadline; });
    return done();
}

} // namespace

TEST(MainThreadTest, WorkRunsOnTheMainThreadWhileTheWorkerWaits) {
    ASSERT_TRUE(IsMainThread());
    bool ranOnMain = false;
    int value = 0;
    std::atomic<bool> workerSawValue{false};
    std::atomic<bool> finished{false};
    std::thread worker([&] {
        EXPECT_FALSE(IsMainThread());
        Synchronize([&] {
            ranOnMain = IsMainThread();
            value = 42;
        });
        workerSawValue = value == 42; // the worker resumes only after the work ran
        finished = true;
    });
    ASSERT_TRUE(ServeUntil([&] { return finished.load(); }));
    worker.join();
    EXPECT_TRUE(ranOnMain);
    EXPECT_TRUE(workerSawValue);
}

// A worker that pumps by mistake runs nothing of another worker's work.
TEST(MainThreadTest, OnlyTheMainThreadServes) {
    std::atomic<bool> queued{false};
    bool ranOnMain = false;
    std::thread producer([&] {
        queued = true;
        Synchronize([&] { ranOnMain = IsMainThread(); });
    });
    while (!queued)
        std::this_thread::yield();
    std::thread pumper([] {
        for (int i = 0; i < 100; ++i)
            EXPECT_FALSE(CheckSynchronize());
    });
    pumper.join();
    std::atomic<bool> finished{false};
    std::thread waiter([&] {
        producer.join();
        finished = true;
    });
    ASSERT_TRUE(ServeUntil([&] { return finished.load(); }));
    waiter.join();
    EXPECT_TRUE(ranOnMain);
}

TEST(MainThreadTest, MainThreadRunsItsOwnWorkAtOnce) {
    bool ran = false;
    Synchronize([&] { ran = true; });
    EXPECT_TRUE(ran);
    EXPECT_FALSE(CheckSynchronize());
}

// An exception of the handed-over work reaches the waiting worker, not the main thread.
TEST(MainThreadTest, FailureReachesTheCaller) {
    std::string caught;
    std::atomic<bool> finished{false};
    std::thread worker([&] {
        try {
            Synchronize([] { throw std::runtime_error("handler failed"); });
        } catch (const std::runtime_error& e) {
            caught = e.what();
        }
        finished = true;
    });
    ASSERT_TRUE(ServeUntil([&] { return finished.load(); }));
    worker.join();
    EXPECT_EQ(caught, "handler failed");
}

TEST(MainThreadTest, WakeupIsCalledForEveryQueuedHandOver) {
    std::atomic<int> wakeups{0};
    SetMainThreadWakeup([&] { ++wakeups; });
    std::atomic<bool> finished{false};
    std::thread worker([&] {
        Synchronize([] {});
        Synchronize([] {});
        finished = true;
    });
    ASSERT_TRUE(ServeUntil([&] { return finished.load(); }));
    worker.join();
    SetMainThreadWakeup(nullptr);
    EXPECT_EQ(wakeups, 2);
}

// A worker holds the codec lock while it hands a log line over; the main thread, waiting for
// that lock, serves the hand-over instead of waiting forever.
TEST(MainThreadTest, WaitingForTheCodecLockKeepsServing) {
    std::atomic<bool> workerHoldsLock{false};
    std::atomic<bool> finished{false};
    std::thread worker([&] {
        std::lock_guard guard(CodecLock());
        workerHoldsLock = true;
        Synchronize([] {});
        finished = true;
    });
    while (!workerHoldsLock)
        std::this_thread::yield();
    {
        std::lock_guard held(CodecLock());
        EXPECT_TRUE(finished);
    }
    worker.join();
}

// A worker hands a line over only once the main thread has begun to join it (a damaged file's
// library warning while a dialog closes): the join serves it, where a plain join would wait for
// ever. Run three times, also with a thread that never hands over.
TEST(MainThreadTest, JoiningAServedThreadKeepsServing) {
    for (const bool handsOver : {true, false, true}) {
        std::atomic<bool> joining{false};
        bool ranOnMain = false;
        TServedThread worker("served", [&] {
            while (!joining)
                std::this_thread::yield();
            if (handsOver)
                Synchronize([&] { ranOnMain = IsMainThread(); });
        });
        worker.Start();
        joining = true;
        worker.Join();
        EXPECT_FALSE(worker.Joinable());
        EXPECT_EQ(ranOnMain, handsOver);
    }
}

// A body that asks at once whether it runs on its thread (as an engine releasing its run's
// threads from the run does) is told so, however soon after the start it asks.
TEST(MainThreadTest, AServedThreadKnowsItselfFromItsFirstStatement) {
    int strangers = 0;
    for (int i = 0; i < 5000; ++i) {
        std::atomic<bool> current{false};
        const TServedThread* self = nullptr;
        TServedThread worker("itself", [&] { current = self->IsCurrent(); });
        self = &worker;
        worker.Start();
        while (!worker.Done()) // a join would wait for its next poll
            std::this_thread::yield();
        worker.Join();
        strangers += current ? 0 : 1;
    }
    EXPECT_EQ(strangers, 0);
}

// Many workers handing over at once: every piece of work runs exactly once, on the main thread.
TEST(MainThreadTest, ManyWorkersStress) {
    constexpr int Workers = 8;
    constexpr int Calls = 300;
    int counter = 0; // touched only on the main thread
    int offMain = 0;
    std::atomic<int> finished{0};
    std::vector<std::thread> threads;
    for (int w = 0; w < Workers; ++w)
        threads.emplace_back([&] {
            for (int i = 0; i < Calls; ++i)
                Synchronize([&] {
                    ++counter;
                    offMain += !IsMainThread();
                });
            ++finished;
        });
    const bool done = ServeUntil([&] { return finished == Workers; });
    if (!done) {
        for (std::thread& t : threads)
            t.detach();
        FAIL() << "workers did not finish";
    }
    for (std::thread& t : threads)
        t.join();
    EXPECT_EQ(counter, Workers * Calls);
    EXPECT_EQ(offMain, 0);
}
