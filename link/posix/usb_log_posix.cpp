// usb_log_posix.cpp - the D2XX library's own log lines into the program's
// log, and its news of received data into the data event: libqvftd2xx.so
// exports FT_LOG_HOOK_EXPORT and FT_RX_HOOK_EXPORT (link/d2xx.h); a
// stand-in without them (the simulator) is left alone.
#include <dlfcn.h>

#include <atomic>
#include <cstring>

#include "link/d2xx.h"
#include "link/link_internal.h"

static void d2xxLine(const char *line) { linkLog("%s", line); }
static void d2xxData() { linkDataArrived(); }

// The export's setter as its function type, or null.
template <typename Fn>
static Fn exported(void *d2xx, const char *name) {
    void *symbol = dlsym(d2xx, name);
    Fn fn = nullptr;
    static_assert(sizeof fn == sizeof symbol, "a function pointer");
    if (symbol != nullptr) std::memcpy(&fn, &symbol, sizeof fn);
    return fn;
}

void linkUsbConnectLog() {
    static std::atomic<bool> connected{false};
    if (connected.exchange(true)) return;
    void *d2xx = dlopen("libqvftd2xx.so", RTLD_NOW | RTLD_NOLOAD);
    if (d2xx == nullptr) return;
    FtSetLogHookFn setLog = exported<FtSetLogHookFn>(d2xx, FT_LOG_HOOK_EXPORT);
    FtSetRxHookFn setRx = exported<FtSetRxHookFn>(d2xx, FT_RX_HOOK_EXPORT);
    dlclose(d2xx);
    if (setLog != nullptr) setLog(d2xxLine);
    if (setRx != nullptr) setRx(d2xxData);
}
