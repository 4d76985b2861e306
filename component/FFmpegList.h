// The task list: the component's tasks in order, each operation under the list's own lock.
// The list owns its tasks; a task taken out of it lives on while somebody still holds it. A slot
// whose ended task was released stays, empty, so that later tasks keep their indexes.
#ifndef SOUNDPICK_COMPONENT_FFMPEGLIST_H
#define SOUNDPICK_COMPONENT_FFMPEGLIST_H

#include "component/FFmpegTask.h"

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

using TTaskPtr = std::shared_ptr<TFFmpeg>;

class TFFmpegList {
public:
    // Appends a task and sets its Index to its position; returns that position.
    int Add(TTaskPtr task);
    // The task at an index, or none (also for an empty slot).
    TTaskPtr Get(int index) const;
    // Removes the task at an index and renumbers the later ones; returns it (none when out of
    // range) so the caller frees it outside the lock.
    TTaskPtr Extract(int index);
    // Removes every task and returns them, for freeing outside the lock.
    std::vector<TTaskPtr> ExtractAll();
    // Takes a task whose end was counted out of its slot, which stays empty so that no index
    // moves; returns it (none when the slot is empty or the end is not counted yet) for freeing
    // outside the lock.
    TTaskPtr ReleaseEnded(int index);
    // The tasks at this moment, in order; empty slots left out.
    std::vector<TTaskPtr> Snapshot() const;
    // The number of slots; read without the lock.
    int Count() const { return CountValue; }

private:
    void Renumber();

    mutable std::mutex Lock; // guards Items
    std::vector<TTaskPtr> Items;
    std::atomic<int> CountValue{0};
};

#endif
