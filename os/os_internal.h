// os_internal.h - what the platform halves of the operating-system layer
// share with its portable part (os_common.cpp). Not for use outside os/.
#pragma once

#include <cstdint>

// The platform's raw monotonic counter in microseconds (any origin) and its
// raw tick count in milliseconds. Implemented by os/win32 and os/posix.
uint64_t osRawMonotonicUs();
uint32_t osRawTickCount();

// True when the manual clock is on; *us then holds its value in microseconds.
bool osClockManualUs(uint64_t *us);
