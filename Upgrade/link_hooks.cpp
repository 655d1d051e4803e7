// link_hooks.cpp - what the link library asks of the program that carries
// it, as the firmware loader answers: its log lines go into upgrade.log, and
// a broken link raises the update run's disconnection event.
//
// Only the loader's programs are built with this file; the loader's library
// and its tests leave the hooks to whoever links them.
#include <cstdarg>

#include "API/driver/frame/log.h"
#include "Upgrade/loader.h"
#include "Upgrade/output.h"
#include "link/link.h"

int qdLogV(const char *format, va_list args) { return updLogV(format, args); }

int qdLog(const char *format, ...) {
    va_list args;
    va_start(args, format);
    int n = updLogV(format, args);
    va_end(args);
    return n;
}

void linkBrokenHook(const LinkHandle *link) { loaderLinkBroken(link); }
