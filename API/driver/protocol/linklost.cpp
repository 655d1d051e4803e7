// linklost.cpp - the driver's answer to a broken link.
//
// The link library calls linkBrokenHook when a send or receive shows that a
// link is gone. The first context (in index order) that is in use, whose
// protocol state is active and whose link has the same type and handle gets
// the link-lost note of its protocol family, with the value 1
// (disconnected). A link that no context owns (the device search's, or one
// already given up) is left alone.
#include "link/link.h"
#include "API/driver/protocol/protocol.h"

void linkBrokenHook(const LinkHandle *link) {
    if (link == nullptr) return;
    for (uint16_t ctx = 0; ctx < QD_MAX_CONTEXTS; ctx++) {
        if (!protoContextOpen(ctx)) continue;
        const ProtocolState *ps = &protocolState[ctx];
        if (ps->state == APP_IDLE) continue;
        if (ps->link.type != link->type || ps->link.handle != link->handle) continue;
        const ProtocolFamilyOps *ops = protocolOps(protoContextModel(ctx));
        if (ops != nullptr) ops->linkLost(ctx, 1);
        return;
    }
}
