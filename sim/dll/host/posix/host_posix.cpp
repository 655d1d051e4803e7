// host_posix.cpp - library loading for the simulator host on Linux.
#include <dlfcn.h>
#include <link.h>

#include <ctime>
#include <cstdio>
#include <cstring>

#include "sim/dll/host/host.h"

void *hostLoad(const char *path, bool global) {
    void *h = dlopen(path, RTLD_NOW | (global ? RTLD_GLOBAL : RTLD_LOCAL));
    if (!h) std::printf("cannot load %s: %s\n", path, dlerror());
    return h;
}

void *hostSymbol(void *library, const char *name) { return dlsym(library, name); }

void hostUnload(void *library) { dlclose(library); }

struct D2xxSeen {
    int copies;
    bool simulator;
};

static int countD2xx(struct dl_phdr_info *info, size_t, void *data) {
    const char *name = info->dlpi_name ? info->dlpi_name : "";
    const char *base = std::strrchr(name, '/');
    base = base ? base + 1 : name;
    if (std::strcmp(base, "libqvftd2xx.so") == 0) {
        D2xxSeen *seen = static_cast<D2xxSeen *>(data);
        ++seen->copies;
        if (std::strstr(name, "/sim/")) seen->simulator = true;
    }
    return 0;
}

bool hostD2xxIsNotSimulator() {
    D2xxSeen seen = {0, false};
    dl_iterate_phdr(countD2xx, &seen);
    return seen.copies == 1 && !seen.simulator;
}

unsigned long long hostMicroseconds() {
    timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return (unsigned long long)t.tv_sec * 1000000ull + (unsigned long long)t.tv_nsec / 1000u;
}

bool hostD2xxIs(void *library) {
    // Asked by its SONAME, the loader names the object that met the driver's
    // dependency.
    void *bound = dlopen("libqvftd2xx.so", RTLD_NOW | RTLD_NOLOAD);
    if (!bound) return false;
    dlclose(bound);
    D2xxSeen seen = {0, false};
    dl_iterate_phdr(countD2xx, &seen);
    return bound == library && seen.copies == 1;
}
