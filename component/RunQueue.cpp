// The machine's run queue, read from the kernel's load figures.
#include "component/RunQueue.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <fstream>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

namespace {

// The running count of /proc/loadavg ("0.52 0.58 0.59 3/1234 5678": 3 running, the reader
// among them); -1 when it cannot be read.
int RunningNow() {
    std::ifstream file("/proc/loadavg");
    std::string averages[3], counts;
    if (!(file >> averages[0] >> averages[1] >> averages[2] >> counts))
        return -1;
    try {
        return std::stoi(counts);
    } catch (const std::exception&) {
        return -1;
    }
}

// The median of three readings a moment apart, less the reader itself; 0 when unreadable.
int MedianOfReadings() {
    constexpr auto Apart = std::chrono::milliseconds(2);
    std::array<int, 3> readings{};
    for (std::size_t i = 0; i < readings.size(); ++i) {
        if (i > 0)
            std::this_thread::sleep_for(Apart);
        readings[i] = RunningNow();
        if (readings[i] < 0)
            return 0;
    }
    std::nth_element(readings.begin(), readings.begin() + 1, readings.end());
    return std::max(0, readings[1] - 1);
}

} // namespace

int OtherRunningThreads() {
    // Short files start a task every few milliseconds, and each reading waits 4 ms (under the
    // run's lock); pieces are taken for minutes of sound, for which a reading of the last second
    // is as good as a new one.
    constexpr auto Fresh = std::chrono::seconds(1);
    static std::mutex lock;
    static std::optional<std::chrono::steady_clock::time_point> readAt;
    static int last = 0;
    std::lock_guard guard(lock);
    if (readAt && std::chrono::steady_clock::now() - *readAt < Fresh)
        return last;
    last = MedianOfReadings();
    readAt = std::chrono::steady_clock::now();
    return last;
}
