// The cores a starting task may encode its sound on.
#include "component/PieceBudget.h"

#include <algorithm>

int TaskPieceBudget(int cores, int workers, const TTasksLeft& tasks) {
    const int left = tasks.ToCome < 0 ? workers : tasks.NotEnded + tasks.ToCome;
    const int atOnce = std::clamp(std::min(workers, left), 1, std::max(1, workers));
    return std::max(1, cores / atOnce);
}
