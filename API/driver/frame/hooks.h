// hooks.h - the calls that attach, detach and the context functions make
// into other parts of the driver. Each is implemented by the part it names.
#pragma once

#include <cstdint>

// Device contexts (frame/contexts.cpp).
void contextsOnAttach();          // mark all 10 slots free
void contextsOnDetach();          // shut every open context down

// Protocol engine (protocol/engine.cpp).
void engineOnAttach();            // clear the three host callbacks
void engineShutdownContext(uint16_t context);  // stop, wait, force idle
void engineResetContext(uint16_t context);     // clear the protocol state of a newly opened context
void engineThreadOnDetach();      // ask a running engine thread to stop

// The engine lock (protocol/engine.cpp) also guards the contexts and the
// parameter model: every exported function of theirs holds it, so that a
// host may call the API from several threads at once (a selection that
// rebuilds the spine while another thread reads it would free what that
// thread walks). The lock is recursive: host callbacks, which run inside
// the engine step, may call these functions. A function that waits for the
// engine thread or for a window's thread takes it only around its own
// work, never across the wait.
void engineLockAcquire();
void engineLockRelease();

struct ApiGuard {
    ApiGuard() { engineLockAcquire(); }
    ~ApiGuard() { engineLockRelease(); }
    ApiGuard(const ApiGuard &) = delete;
    ApiGuard &operator=(const ApiGuard &) = delete;
};

// Device search (protocol/discovery.cpp).
void discoveryOnDetach();         // close a running search

// Windows (ui/win32/devwindow_win32.cpp; ui/posix/devwindow_posix.cpp where
// the system has no driver windows).
void uiOnDetach();                // unregister the window class
void uiCloseForSelectionChange(); // stop the window's test and destroy it
