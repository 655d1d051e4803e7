// os_common.cpp - the parts of the operating-system layer that are the same
// on every platform: the copy of a text into a caller's buffer, the driver
// clock with its manual test mode, and the mapping of a Win32 version record
// to the operating-system version code.
#include <atomic>
#include <cstring>

#include "os/os.h"
#include "os/os_internal.h"

// ---------------------------------------------------------------------------
// Texts
// ---------------------------------------------------------------------------

int copyOut(const char *text, char *buffer, size_t size) {
    if (buffer == nullptr || size == 0) return -1;
    size_t n = std::strlen(text);
    if (n + 1 > size) {
        buffer[0] = '\0';
        return -1;
    }
    std::memcpy(buffer, text, n + 1);
    return (int)n;
}

// ---------------------------------------------------------------------------
// Driver clock
// ---------------------------------------------------------------------------

// Origin of the driver clock: the raw counter when the clock was first read.
// The first read happens while the library's static objects are set up (see
// g_clockOriginInit below), so the clock counts from the start of the process
// for all practical purposes.
static uint64_t clockOriginUs() {
    static const uint64_t origin = osRawMonotonicUs();
    return origin;
}
static const uint64_t g_clockOriginInit = clockOriginUs();

static std::atomic<bool> g_manual{false};
static std::atomic<uint64_t> g_manualUs{0};

bool osClockManualUs(uint64_t *us) {
    if (!g_manual.load(std::memory_order_acquire)) return false;
    *us = g_manualUs.load(std::memory_order_acquire);
    return true;
}

void osClockSetManual(bool manual, uint32_t startMs) {
    if (manual) {
        g_manualUs.store((uint64_t)startMs * 1000u, std::memory_order_release);
    }
    g_manual.store(manual, std::memory_order_release);
}

void osClockAdvance(uint32_t ms) { g_manualUs.fetch_add((uint64_t)ms * 1000u, std::memory_order_acq_rel); }

bool osClockIsManual() { return g_manual.load(std::memory_order_acquire); }

uint64_t osClockUs() {
    uint64_t us;
    if (osClockManualUs(&us)) return us;
    (void)g_clockOriginInit;
    return osRawMonotonicUs() - clockOriginUs();
}

uint32_t osClockMs() { return (uint32_t)(osClockUs() / 1000u); }

uint32_t osTickCount() {
    uint64_t us;
    if (osClockManualUs(&us)) return (uint32_t)(us / 1000u);
    return osRawTickCount();
}

// ---------------------------------------------------------------------------
// Operating-system version code
// ---------------------------------------------------------------------------

int osVersionCodeFor(uint32_t platform, uint32_t major, uint32_t minor, const char *servicePack) {
    switch (platform) {
    case 0:  // Win32s
        return 1;
    case 1:  // Windows 95, 98, ME
        if (major == 4 && minor == 0) return 2;
        if (major == 4 && minor == 10) {
            bool secondEdition = servicePack && servicePack[0] != '\0' && servicePack[1] == 'A';
            return secondEdition ? 4 : 3;
        }
        if (major == 4 && minor == 90) return 5;
        return 14;
    case 2:  // NT line
        if (major < 5) return 6;
        if (major == 5 && minor == 0) return 7;
        if (major == 5 && minor == 1) return 8;
        if (major == 5 && minor == 2) return 9;
        if (major == 6 && minor == 0) return 10;
        if (major == 6 && minor == 1) return 11;
        if (major == 6 && minor == 2) return 12;
        if (major == 10 && minor == 0) return 13;
        return 14;
    default:
        return 14;
    }
}
