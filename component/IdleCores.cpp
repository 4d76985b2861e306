// Idle cores from the scheduler's count of threads running or ready to run at this moment: the
// load averages lag by a minute, which a program started beside a run would not show.
#include "component/IdleCores.h"

#include <algorithm>
#include <fstream>
#include <sched.h>
#include <sstream>
#include <thread>

int UsableCores() {
    cpu_set_t set;
    CPU_ZERO(&set);
    if (sched_getaffinity(0, sizeof set, &set) == 0)
        return std::max(1, CPU_COUNT(&set));
    return std::max(1, static_cast<int>(std::thread::hardware_concurrency()));
}

int IdleCoresFrom(const std::string& loadavgText, int usableCores) {
    std::istringstream fields(loadavgText);
    double averages[3] = {};
    int runnable = 0;
    char slash = 0;
    if (!(fields >> averages[0] >> averages[1] >> averages[2] >> runnable >> slash) || slash != '/')
        return usableCores;
    // The reading thread itself is one of the runnable ones.
    const int busyElsewhere = std::max(runnable - 1, 0);
    return std::clamp(usableCores - busyElsewhere, 1, std::max(usableCores, 1));
}

int IdleCores() {
    std::ifstream file("/proc/loadavg");
    std::string text;
    std::getline(file, text);
    return IdleCoresFrom(text, UsableCores());
}
