// Closes the component's probe when a file's turn is over, however it ends.
#ifndef SOUNDPICK_APP_PROBECLOSER_H
#define SOUNDPICK_APP_PROBECLOSER_H

#include "probe/AVProbe.h"

struct TProbeCloser {
    TAVProbe& Probe;
    ~TProbeCloser() { Probe.CloseFile(); }
};

#endif
