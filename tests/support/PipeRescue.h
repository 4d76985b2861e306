// Keeps a call that may wait in a pipe's open from hanging a test: unless told the call returned
// within 30 s, it opens the pipe's writing end, which lets the call go on and fails the test.
#ifndef SOUNDPICK_TESTS_PIPERESCUE_H
#define SOUNDPICK_TESTS_PIPERESCUE_H

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>

class TPipeRescue {
public:
    explicit TPipeRescue(std::string pipe)
        : Pipe(std::move(pipe)), Thread([this] {
              const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(30);
              while (!Done && std::chrono::steady_clock::now() < until)
                  std::this_thread::sleep_for(std::chrono::milliseconds(10));
              if (Done.exchange(true))
                  return;
              Rescued = true;
              ::close(::open(Pipe.c_str(), O_WRONLY | O_NONBLOCK));
          }) {}
    ~TPipeRescue() { Returned(); }
    TPipeRescue(const TPipeRescue&) = delete;
    TPipeRescue& operator=(const TPipeRescue&) = delete;

    // The call has returned: true when it did so by itself, before any rescue.
    bool Returned() {
        Done = true;
        if (Thread.joinable())
            Thread.join();
        return !Rescued;
    }

private:
    std::string Pipe;
    std::atomic<bool> Done{false}, Rescued{false};
    std::thread Thread;
};

#endif
