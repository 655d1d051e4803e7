// os_internal.h - what the platform halves of the operating-system layer
// share with its portable part (os_common.cpp). Not for use outside os/.
#pragma once

#include <cstdint>

#include "os/os.h"

// The platform's raw monotonic counter in microseconds (any origin) and its
// raw tick count in milliseconds. Implemented by os/win32 and os/posix.
uint64_t osRawMonotonicUs();
uint32_t osRawTickCount();

// True when the manual clock is on; *us then holds its value in microseconds.
bool osClockManualUs(uint64_t *us);

// Counts one press of the interrupt key (osInterruptCount); safe in a signal
// handler. Called by the platforms' interrupt handlers.
void osInterruptNote();

// Starts osLibraryLoad: sets *failure (when given) to "loaded"; false, with
// the record saying so, when path names nothing to load.
bool osLoadBegin(const char *path, OsLoadFailure *failure);
