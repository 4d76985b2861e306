// The cores a starting task may encode its sound on.
#include "component/PieceBudget.h"

#include <algorithm>
#include <sched.h>
#include <thread>

int UsableCores() {
    cpu_set_t set;
    CPU_ZERO(&set);
    if (sched_getaffinity(0, sizeof set, &set) == 0)
        return std::max(1, CPU_COUNT(&set));
    return std::max(1, static_cast<int>(std::thread::hardware_concurrency()));
}

int TaskPieceBudget(int cores, int workers, const TTasksLeft& tasks) {
    const int left = tasks.ToCome < 0 ? workers : tasks.NotEnded + tasks.ToCome;
    const int atOnce = std::clamp(std::min(workers, left), 1, std::max(1, workers));
    return std::max(1, cores / atOnce);
}

int PiecesOnIdleCores(int budget, int cores, int otherRunning) {
    const int idle = std::max(0, cores - std::max(otherRunning, 0));
    return std::clamp(idle + 1, 1, std::max(1, budget));
}
