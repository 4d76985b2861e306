// The cores a task may encode its sound on: those this process may use (its affinity) that
// other programs leave idle right now, so that pieces are not run on cores that are busy.
#ifndef SOUNDPICK_COMPONENT_IDLECORES_H
#define SOUNDPICK_COMPONENT_IDLECORES_H

#include <string>

// The cores this process may run on (at least 1).
int UsableCores();

// From the text of /proc/loadavg ("0.52 0.58 0.59 3/211 4711"): usableCores less the threads
// running or ready to run besides the one reading it (the fourth field's first number), at
// least 1; usableCores when the text cannot be read.
int IdleCoresFrom(const std::string& loadavgText, int usableCores);

// The same now.
int IdleCores();

#endif
