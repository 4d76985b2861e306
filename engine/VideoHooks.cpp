// The video path's state of a run and the process-wide preview lock.
#include "engine/VideoHooks.h"

#include "engine/EngineRun.h"

void TVideoHookStateDeleter::operator()(TVideoHookState* state) const {
    delete state;
}

std::mutex& PreviewLock() {
    static std::mutex lock;
    return lock;
}
