// connect.cpp - the short-lived threads that open a Halvex context's link
// where the caller must not wait: the connection thread of a start in the
// background and the reconnection thread after a link loss during a
// measurement. Each works on its own context's record only; the slow open
// runs without the engine lock, the record update after it under the lock.
// Thread busy is set before a thread starts and cleared as its last act;
// while it is set the engine step leaves the context alone.
#include <cstdint>

#include "API/driver/frame/log.h"
#include "API/driver/protocol/protocol.h"
#include "os/os.h"

static const size_t CONNECTION_THREAD_STACK = 64 * 1024;

static void connectionThread(void *arg) {
    uint16_t ctx = (uint16_t)(uintptr_t)arg;
    ProtocolState *ps = &protocolState[ctx];
    logWorkerEnter("ConThreadFunc", "..");
    bool opened = OpenLink(ps->link.type, ps->deviceId, &ps->link, ps->ident, IDENT_TEXT_SIZE) == 1;
    uint16_t indicator;
    {
        EngineGuard guard;
        if (ps->closedByStop != LINK_INVALID_HANDLE) {
            // The host stopped and closed the socket being opened.
            if (ps->link.handle == ps->closedByStop) ps->link.handle = LINK_INVALID_HANDLE;
            ps->closedByStop = LINK_INVALID_HANDLE;
            opened = opened && ps->link.handle != LINK_INVALID_HANDLE;
        }
        if (opened && ps->cancelConnect) {
            // The host stopped while the link was being opened.
            protoCloseLink(ps);
            opened = false;
        }
        ps->cancelConnect = 0;
        if (opened) {
            halvexConnected(ps);
            indicator = 1;
        } else {
            indicator = 0;
        }
    }
    reportIndicator(ctx, QD_IND_LINK, indicator);
    logWorkerExit("ConThreadFunc");
    protoSetThreadBusy(ps, false);
}

static void reconnectionThread(void *arg) {
    uint16_t ctx = (uint16_t)(uintptr_t)arg;
    ProtocolState *ps = &protocolState[ctx];
    logWorkerEnter("ReconThreadFunc", "..");
    bool opened = OpenLink(ps->link.type, ps->ident, &ps->link, nullptr, 0) == 1;
    if (opened) {
        qdLog("# (%i) Reconnection socket/handle: %p\n", ctx, (void *)ps->link.handle);
    } else {
        qdLog("# (%i) Reconnection failed\n", ctx);
    }
    {
        EngineGuard guard;
        if (ps->closedByStop != LINK_INVALID_HANDLE) {
            if (ps->link.handle == ps->closedByStop) ps->link.handle = LINK_INVALID_HANDLE;
            ps->closedByStop = LINK_INVALID_HANDLE;
            opened = opened && ps->link.handle != LINK_INVALID_HANDLE;
        }
        ps->connected = opened ? 1 : 0;
        ps->pendingEvent = opened ? INT_CON : INT_DISC;
    }
    logWorkerExit("ReconThreadFunc");
    protoSetThreadBusy(ps, false);
}

static bool startThread(uint16_t ctx, OsThreadProc proc) {
    ProtocolState *ps = &protocolState[ctx];
    protoSetThreadBusy(ps, true);
    OsThread thread = osThreadStart(proc, (void *)(uintptr_t)ctx, CONNECTION_THREAD_STACK, OS_PRIORITY_NORMAL);
    if (thread == nullptr) {
        protoSetThreadBusy(ps, false);
        return false;
    }
    osThreadDetach(thread);
    return true;
}

bool connectionThreadStart(uint16_t ctx) { return startThread(ctx, connectionThread); }

bool reconnectionThreadStart(uint16_t ctx) { return startThread(ctx, reconnectionThread); }
