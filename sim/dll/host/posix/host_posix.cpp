// host_posix.cpp - library loading for the simulator host on Linux.
#include <dlfcn.h>
#include <link.h>

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

static int countD2xx(struct dl_phdr_info *info, size_t, void *data) {
    const char *name = info->dlpi_name ? info->dlpi_name : "";
    const char *base = std::strrchr(name, '/');
    base = base ? base + 1 : name;
    if (std::strcmp(base, "libqvftd2xx.so") == 0) ++*static_cast<int *>(data);
    return 0;
}

bool hostD2xxIs(void *library) {
    // Asked by its SONAME, the loader names the object that met the driver's
    // dependency.
    void *bound = dlopen("libqvftd2xx.so", RTLD_NOW | RTLD_NOLOAD);
    if (!bound) return false;
    dlclose(bound);
    int copies = 0;
    dl_iterate_phdr(countD2xx, &copies);
    return bound == library && copies == 1;
}
