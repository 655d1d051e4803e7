// lifecycle.h - the state of the driver library's attach (API/driver/driver.h
// attaches and detaches it) and the engine lock, which every part takes.
#pragma once

#include "os/os.h"

bool driverAttached();
// True while a detach at the end of the process runs: the detach steps of
// the parts then do not wait for threads.
bool driverProcessEnding();
// Set by attach and detach.
void lifecycleSetAttached(bool attached);
void lifecycleSetProcessEnding(bool ending);

// The engine lock, created at attach and destroyed at detach; null while the
// driver is not attached (a statically linked test that never attached).
OsLock *engineLock();
void engineLockCreate();
void engineLockDestroy();

// The engine lock also guards the contexts and the parameter model: every
// exported function holds it, so that a host may call the API from several
// threads at once (a selection that rebuilds the spine while another thread
// reads it would free what that thread walks). It may be taken again on a
// thread that holds it: host callbacks, which run inside the engine step,
// call back into the API (QdProtocolEngine on such a thread returns the
// last result instead of stepping again). A function that waits for the
// engine thread or for a window's thread takes it only around its own work,
// never across the wait. Without an attach (engineLock() null) these count
// the depth and lock nothing.
void engineLockAcquire();
void engineLockRelease();
bool engineLockHeldHere();
// Takes the lock only when no other thread holds it (false then); for a
// thread that does not hold it already (QdProtocolEngine).
bool engineLockTryAcquire();

struct EngineGuard {
    EngineGuard() { engineLockAcquire(); }
    ~EngineGuard() { engineLockRelease(); }
    EngineGuard(const EngineGuard &) = delete;
    EngineGuard &operator=(const EngineGuard &) = delete;
};
