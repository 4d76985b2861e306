// The run's priorities and the pause gate.
#include "engine/EngineThread.h"

int NiceValue(TConvertPriority priority) {
    switch (priority) {
    case cpIdle:
        return 19;
    case cpLowest:
        return 10;
    case cpLower:
        return 5;
    default:
        return 0;
    }
}

void TPauseGate::Close() {
    std::lock_guard<std::mutex> guard(Lock);
    Closed = true;
}

void TPauseGate::Open() {
    {
        std::lock_guard<std::mutex> guard(Lock);
        Closed = false;
    }
    Signal.notify_all();
}

void TPauseGate::Wake() {
    { std::lock_guard<std::mutex> guard(Lock); }
    Signal.notify_all();
}
