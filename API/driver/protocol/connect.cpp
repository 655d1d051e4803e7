// connect.cpp - the short-lived threads that open a Halvex context's link
// where the caller must not wait: the connection thread of a start in the
// background and the reconnection thread after a link loss during a
// measurement. Each works on its own context's record only; the slow open
// runs without the engine lock, the record update after it under the lock.
// Thread busy is set before a thread starts and cleared as its last act;
// while it is set the engine step leaves the context alone.
#include <cstdint>
#include <cstring>

#include "API/driver/frame/log.h"
#include "API/driver/protocol/protocol.h"
#include "os/os.h"

static const size_t CONNECTION_THREAD_STACK = 64 * 1024;

// What a thread opens with: copies of the record's link type and texts,
// taken as it begins. The record's link and identifier change only under
// the engine lock, where the stop and the engine step read them: the open
// runs on the copies and its result is put into the record under the lock.
struct OpenCopy {
    LinkHandle link;
    char deviceId[DEVICE_ID_SIZE];
    char ident[IDENT_TEXT_SIZE];
};

static void takeCopy(const ProtocolState *ps, OpenCopy *c) {
    c->link.type = ps->link.type;
    c->link.handle = LINK_INVALID_HANDLE;
    memcpy(c->deviceId, ps->deviceId, sizeof c->deviceId);
    memcpy(c->ident, ps->ident, sizeof c->ident);
    c->deviceId[sizeof c->deviceId - 1] = '\0';
    c->ident[sizeof c->ident - 1] = '\0';
}

// A stop that found the record's link open closed it (never this thread's
// link, which is not in the record yet): the record forgets the handle,
// whose number may belong to another socket by now. Under the lock.
static void forgetClosedByStop(ProtocolState *ps) {
    if (ps->closedByStop == LINK_INVALID_HANDLE) return;
    if (ps->link.handle == ps->closedByStop) ps->link.handle = LINK_INVALID_HANDLE;
    ps->closedByStop = LINK_INVALID_HANDLE;
}

static void connectionThread(void *arg) {
    uint16_t ctx = (uint16_t)(uintptr_t)arg;
    ProtocolState *ps = &protocolState[ctx];
    OpenCopy c;
    takeCopy(ps, &c);
    logWorkerEnter("ConThreadFunc", "..");
    bool opened = OpenLink(c.link.type, c.deviceId, &c.link, c.ident, IDENT_TEXT_SIZE) == 1;
    {
        EngineGuard guard;
        forgetClosedByStop(ps);
        if (opened && ps->cancelConnect) {
            // The host stopped while the link was being opened.
            CloseLink(&c.link);
            opened = false;
        }
        ps->cancelConnect = 0;
        if (opened) {
            ps->link = c.link;
            memcpy(ps->ident, c.ident, sizeof ps->ident);
            halvexConnected(ps);
        }
        // The link indicator goes to the host from the engine step, like
        // every other callback: INT_CON on the connected record, INT_DISC
        // on the idle one.
        ps->pendingEvent = opened ? INT_CON : INT_DISC;
    }
    logWorkerExit("ConThreadFunc");
    protoSetThreadBusy(ps, false);
}

static void reconnectionThread(void *arg) {
    uint16_t ctx = (uint16_t)(uintptr_t)arg;
    ProtocolState *ps = &protocolState[ctx];
    OpenCopy c;
    takeCopy(ps, &c);
    logWorkerEnter("ReconThreadFunc", "..");
    bool opened = OpenLink(c.link.type, c.ident, &c.link, nullptr, 0) == 1;
    if (opened) {
        qdLog("# (%i) Reconnection socket/handle: %p\n", ctx, (void *)c.link.handle);
    } else {
        qdLog("# (%i) Reconnection failed\n", ctx);
    }
    {
        EngineGuard guard;
        forgetClosedByStop(ps);
        if (ps->cancelConnect) {
            // The host stopped or closed the context meanwhile: the record
            // may be reset or another context's. The link is not put into
            // it; the stop ends the context without it.
            if (opened) CloseLink(&c.link);
            ps->cancelConnect = 0;
            ps->connected = 0;
        } else {
            if (opened) ps->link = c.link;
            ps->connected = opened ? 1 : 0;
            ps->pendingEvent = opened ? INT_CON : INT_DISC;
        }
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
