// The task list.
#include "component/FFmpegList.h"

int TFFmpegList::Add(TTaskPtr task) {
    std::lock_guard<std::mutex> guard(Lock);
    Items.push_back(std::move(task));
    Renumber();
    return static_cast<int>(Items.size()) - 1;
}

TTaskPtr TFFmpegList::Get(int index) const {
    std::lock_guard<std::mutex> guard(Lock);
    if (index < 0 || index >= static_cast<int>(Items.size()))
        return nullptr;
    return Items[index];
}

TTaskPtr TFFmpegList::Extract(int index) {
    std::lock_guard<std::mutex> guard(Lock);
    if (index < 0 || index >= static_cast<int>(Items.size()))
        return nullptr;
    TTaskPtr task = std::move(Items[index]);
    Items.erase(Items.begin() + index);
    if (task)
        task->Index = -1;
    Renumber();
    return task;
}

TTaskPtr TFFmpegList::ReleaseEnded(int index) {
    std::lock_guard<std::mutex> guard(Lock);
    if (index < 0 || index >= static_cast<int>(Items.size()) || !Items[index] ||
        !Items[index]->EndCounted)
        return nullptr;
    TTaskPtr task = std::move(Items[index]);
    task->Index = -1;
    return task;
}

std::vector<TTaskPtr> TFFmpegList::ExtractAll() {
    std::lock_guard<std::mutex> guard(Lock);
    std::vector<TTaskPtr> tasks;
    tasks.swap(Items);
    for (const TTaskPtr& task : tasks)
        if (task)
            task->Index = -1;
    CountValue = 0;
    return tasks;
}

std::vector<TTaskPtr> TFFmpegList::Snapshot() const {
    std::lock_guard<std::mutex> guard(Lock);
    std::vector<TTaskPtr> tasks;
    for (const TTaskPtr& task : Items)
        if (task)
            tasks.push_back(task);
    return tasks;
}

// Call with Lock held.
void TFFmpegList::Renumber() {
    for (std::size_t i = 0; i < Items.size(); ++i)
        if (Items[i])
            Items[i]->Index = static_cast<int>(i);
    CountValue = static_cast<int>(Items.size());
}
