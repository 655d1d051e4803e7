// lifecycle.cpp - whether the driver is attached, whether a detach at the end
// of the process runs, and the engine lock.
#include "API/driver/frame/lifecycle.h"

#include <atomic>

static OsLock g_engineLock;
static std::atomic<bool> g_engineLockLive{false};
static std::atomic<bool> g_attached{false};
static std::atomic<bool> g_processEnding{false};

bool driverAttached() { return g_attached.load(std::memory_order_acquire); }
bool driverProcessEnding() { return g_processEnding.load(std::memory_order_acquire); }
void lifecycleSetAttached(bool attached) { g_attached.store(attached, std::memory_order_release); }
void lifecycleSetProcessEnding(bool ending) { g_processEnding.store(ending, std::memory_order_release); }

OsLock *engineLock() { return g_engineLockLive.load(std::memory_order_acquire) ? &g_engineLock : nullptr; }

void engineLockCreate() {
    osLockInit(&g_engineLock);
    g_engineLockLive.store(true, std::memory_order_release);
}

void engineLockDestroy() {
    g_engineLockLive.store(false, std::memory_order_release);
    osLockDestroy(&g_engineLock);
}

// Depth of the engine lock held by this thread: a host callback running
// inside the engine step may call start, stop or a query, which take the
// lock again without waiting on themselves.
static thread_local int t_lockDepth = 0;

void engineLockAcquire() {
    if (t_lockDepth++ == 0) {
        OsLock *lock = engineLock();
        if (lock != nullptr) osLockEnter(lock);
    }
}

void engineLockRelease() {
    if (--t_lockDepth == 0) {
        OsLock *lock = engineLock();
        if (lock != nullptr) osLockLeave(lock);
    }
}

bool engineLockHeldHere() { return t_lockDepth > 0; }

bool engineLockTryAcquire() {
    OsLock *lock = engineLock();
    if (lock != nullptr && !osLockTryEnter(lock)) return false;
    t_lockDepth = 1;
    return true;
}
