// usb_log_posix.cpp - the D2XX library's own log lines into the program's
// log: libqvftd2xx.so exports FT_LOG_HOOK_EXPORT (link/d2xx.h); a stand-in
// without it (the simulator) is left alone.
#include <dlfcn.h>

#include <atomic>
#include <cstring>

#include "link/d2xx.h"
#include "link/link_internal.h"

static void d2xxLine(const char *line) { linkLog("%s", line); }

void linkUsbConnectLog() {
    static std::atomic<bool> connected{false};
    if (connected.exchange(true)) return;
    void *d2xx = dlopen("libqvftd2xx.so", RTLD_NOW | RTLD_NOLOAD);
    if (d2xx == nullptr) return;
    void *symbol = dlsym(d2xx, FT_LOG_HOOK_EXPORT);
    dlclose(d2xx);
    if (symbol == nullptr) return;
    FtSetLogHookFn set;
    static_assert(sizeof set == sizeof symbol, "a function pointer");
    std::memcpy(&set, &symbol, sizeof set);
    set(d2xxLine);
}
