// fuzz_irda.cpp - the IrDA link's open with any answers from the system's
// IrDA stack: the device list and the IAS query result (its type, the
// octet count it claims, the octets: the 9-wire parameter walk) come from
// the fuzz input, everything else from the simulator's sockets. The input
// is [listSize:2][list bytes][iasSize:2][ias bytes]; a size is what the
// stack reports having written (it writes at most the caller's room).
// Whatever the answers, the open ends with one open socket or none, and a
// link it reports open is one the simulator's device sees.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "link/link.h"
#include "link/link_internal.h"
#include "link/sockets.h"
#include "sim/ftsim.h"

void linkBrokenHook(const LinkHandle *) {}

namespace {

const uint8_t *g_list = nullptr;
size_t g_listSize = 0;
int g_listClaim = 0;
const uint8_t *g_ias = nullptr;
size_t g_iasSize = 0;
int g_iasClaim = 0;
LinkSocketApi g_table;

// Reads a 16-bit size and the bytes after it.
const uint8_t *part(const uint8_t **at, const uint8_t *end, size_t *size, int *claim) {
    if (end - *at < 2) return nullptr;
    *claim = (*at)[0] | ((*at)[1] << 8);
    *at += 2;
    *size = (size_t)(end - *at) < (size_t)*claim ? (size_t)(end - *at) : (size_t)*claim;
    const uint8_t *bytes = *at;
    *at += *size;
    return bytes;
}

// The answers of the stack: the fuzz bytes from offset `from` on, within
// the caller's room; the size written as claimed (never above the room).
// What lies before `from` (the query's device, class and attribute) stays
// as the caller wrote it, as a stack leaves it.
int answer(const uint8_t *bytes, size_t size, int claim, uint8_t *out, int from, int *room) {
    for (size_t i = 0; i < size && from + (int)i < *room; ++i) out[from + i] = bytes[i];
    if (claim < *room) *room = claim;
    return 0;
}

int getOption(uintptr_t socket, int level, int name, void *value, int *size) {
    if (level == LINK_SOL_IRLMP && name == LINK_IRLMP_ENUMDEVICES && g_list) {
        return answer(g_list, g_listSize, g_listClaim, static_cast<uint8_t *>(value), 0, size);
    }
    if (level == LINK_SOL_IRLMP && name == LINK_IRLMP_IAS_QUERY && g_ias) {
        return answer(g_ias, g_iasSize, g_iasClaim, static_cast<uint8_t *>(value), IAS_TYPE_AT, size);
    }
    return ftsimSocketApi()->getOption(socket, level, name, value, size);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    g_table = *ftsimSocketApi();
    g_table.getOption = getOption;
    linkUseSockets(&g_table);
    InitLinkLibrary();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    ftsimReset();
    int slot = ftsimAddIrda("Quorvane Brev");
    const uint8_t *at = data, *end = data + size;
    g_list = part(&at, end, &g_listSize, &g_listClaim);
    g_ias = part(&at, end, &g_iasSize, &g_iasClaim);
    LinkHandle link = {LINK_IRDA, LINK_INVALID_HANDLE};
    int opened = OpenLink(LINK_IRDA, nullptr, &link, nullptr, 0);
    if (opened != (link.handle != LINK_INVALID_HANDLE)) __builtin_trap();
    if (ftsimOpenSockets() != opened) __builtin_trap();   // nothing left open by a refused open
    FtSimState st;
    if (opened && (ftsimGetState(slot, &st) != 0 || !st.open)) __builtin_trap();
    CloseLink(&link);
    if (ftsimOpenSockets() != 0) __builtin_trap();
    return 0;
}
