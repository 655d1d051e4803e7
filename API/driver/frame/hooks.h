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

// Device search (protocol/discovery.cpp).
void discoveryOnDetach();         // close a running search

// Windows (ui/win32/devwindow_win32.cpp; ui/posix/devwindow_posix.cpp where
// the system has no driver windows).
void uiOnDetach();                // unregister the window class
void uiCloseForSelectionChange(); // stop the window's test and destroy it
