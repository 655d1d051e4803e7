// window_hooks.cpp - what the driver window does with the selected context,
// shared by the engine and the windows. The hooks themselves are
// platform code: ui/win32/window_hooks_win32.cpp, and on systems without
// driver windows ui/posix/devwindow_posix.cpp (no window is ever open).
#include "API/driver/ui/window_hooks.h"

std::atomic<uint16_t> windowActivity{ACTIVITY_IDLE};
