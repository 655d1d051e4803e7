// os_common.cpp - the parts of the operating-system layer that are the same
// on every platform: the copy of a text into a caller's buffer, the driver
// clock with its manual test mode, the mapping of a Win32 version record to
// the operating-system version code, the bitness of an image file and the
// interrupt count.
#include <atomic>
#include <cstdio>
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

// ---------------------------------------------------------------------------
// Shared libraries and executable images
// ---------------------------------------------------------------------------

bool osLoadBegin(const char *path, OsLoadFailure *failure) {
    bool named = path != nullptr && path[0] != '\0';
    if (failure != nullptr) {
        failure->kind = named ? OS_LOAD_OK : OS_LOAD_NOT_FOUND;
        failure->code = 0;
        snprintf(failure->text, sizeof failure->text, "%s", named ? "" : "no library named");
    }
    return named;
}

static uint32_t littleEndian32(const uint8_t *p) {
    return (uint32_t)p[0] | (uint32_t)p[1] << 8 | (uint32_t)p[2] << 16 | (uint32_t)p[3] << 24;
}

// A PE image: "PE\0\0" at the offset the DOS header names, the 20-byte file
// header, then the optional header, whose magic tells PE32 from PE32+.
static int peImageBits(OsFile f, uint32_t offset) {
    uint8_t pe[26];
    if (osFileSeek(f, offset, OS_SEEK_SET) != (int64_t)offset) return 0;
    if (osFileRead(f, pe, sizeof pe) != (int32_t)sizeof pe || memcmp(pe, "PE\0\0", 4) != 0) return 0;
    unsigned magic = (unsigned)pe[24] | (unsigned)pe[25] << 8;
    return magic == 0x10Bu ? 32 : magic == 0x20Bu ? 64 : 0;
}

int osImageBits(const char *path) {
    if (path == nullptr) return 0;
    OsFile f = osFileOpen(path, OS_FILE_READ | OS_FILE_SHARE_READ | OS_FILE_SHARE_WRITE);
    if (f == OS_INVALID_FILE) return 0;
    uint8_t head[64];
    int32_t n = osFileRead(f, head, sizeof head);
    int bits = 0;
    if (n >= 5 && memcmp(head, "\x7f" "ELF", 4) == 0) {
        bits = head[4] == 1 ? 32 : head[4] == 2 ? 64 : 0;  // EI_CLASS
    } else if (n == (int32_t)sizeof head && head[0] == 'M' && head[1] == 'Z') {
        bits = peImageBits(f, littleEndian32(head + 0x3C));
    }
    osFileClose(f);
    return bits;
}

// ---------------------------------------------------------------------------
// Interrupt count
// ---------------------------------------------------------------------------

// Written from a signal handler or the console's control thread: a lock-free
// atomic is safe there.
static std::atomic<int> g_interrupts{0};
static_assert(std::atomic<int>::is_always_lock_free, "the interrupt count must be lock-free");

void osInterruptNote() { g_interrupts.fetch_add(1, std::memory_order_relaxed); }

int osInterruptCount() { return g_interrupts.load(std::memory_order_relaxed); }
