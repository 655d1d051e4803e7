// linkopen.cpp - opens one link with the link library alone and prints what
// the library logs on the way:
//
//     linkopen irda|bt|usb|ble [DEVICE-ID]
//
// DEVICE-ID names the device as the driver's "Device id" does (a USB serial
// number or description, a Bluetooth or BLE address or name). The link is
// closed again at once. Exit status 0 when it opened, 1 when it did not,
// 2 for a bad command line.
//
// The program carries the link library and the operating-system layer and
// nothing of the driver: like every program that carries the link library,
// it supplies the broken-link hook and points the log hook at its own log
// (here the standard output).
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "link/link.h"

// Nothing but this program owns the link, and it closes it at once.
void linkBrokenHook(const LinkHandle *) {}

namespace {

int printEntry(const char *format, va_list args) { return std::vprintf(format, args); }

// A link kind by its name ("irda" or "ir", "bt", "usb", "ble").
bool linkTypeOf(const char *name, uint16_t *type) {
    const LinkKind *kind = linkKindByName(name);
    if (kind) *type = kind->key;
    return kind != nullptr;
}

}  // namespace

int main(int argc, char **argv) {
    uint16_t type = 0;
    if (argc < 2 || argc > 3 || !linkTypeOf(argv[1], &type)) {
        std::fprintf(stderr, "usage: linkopen irda|bt|usb|ble [DEVICE-ID]\n");
        return 2;
    }
    std::setvbuf(stdout, nullptr, _IOLBF, 4096);
    linkSetLogHook(printEntry);
    if (!InitLinkLibrary()) {
        std::printf("linkopen: the link library could not start\n");
        return 1;
    }
    LinkHandle link = {type, LINK_INVALID_HANDLE};
    char opened[64] = "";
    int ok = OpenLink(type, argc == 3 ? argv[2] : nullptr, &link, opened, sizeof opened);
    if (ok) {
        std::printf("linkopen: %s link open (%s), closing it\n", argv[1], opened);
        CloseLink(&link);
    } else {
        std::printf("linkopen: the %s link did not open\n", argv[1]);
    }
    ReleaseLinkLibrary();
    return ok ? 0 : 1;
}
