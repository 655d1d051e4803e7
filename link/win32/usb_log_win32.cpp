// usb_log_win32.cpp - FTD2XX.dll writes no lines of its own into the
// program's log (link/d2xx.h, FT_LOG_HOOK_EXPORT): nothing to connect.
#include "link/link_internal.h"

void linkUsbConnectLog() {}
