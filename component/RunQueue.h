// The machine's run queue: how many threads besides the reader want a processor now.
#ifndef SOUNDPICK_COMPONENT_RUNQUEUE_H
#define SOUNDPICK_COMPONENT_RUNQUEUE_H

#include <functional>

// Reads how many threads other than the caller run or wait for a processor at this moment. The
// component reads the machine's; tests put a fixed count in its place.
using TRunQueueReading = std::function<int()>;

// The machine's: the median of a few readings of the kernel's running count a moment apart (a
// single reading catches a passing burst or a lull), less the reader itself; 0 when unreadable.
// A reading less than a second old is given again.
int OtherRunningThreads();

#endif
