// engine.cpp - the protocol engine and its exported API: engine step and
// engine thread, measurement start and stop, state queries, callbacks,
// timers and events, indicator and user-message reports, force idle.
#include <atomic>
#include <cstdio>
#include <cstring>

#include "QuorvaneDrv.h"
#include "API/driver/frame/lifecycle.h"
#include "API/driver/frame/log.h"
#include "API/driver/protocol/protocol.h"
#include "link/link.h"
#include "os/os.h"

extern "C" {
QDDATA QdProcSamplesFn QdProcSamples = nullptr;
QDDATA QdUserIndFn QdUserInd = nullptr;
QDDATA QdUserMsgFn QdUserMsg = nullptr;
}

ProtocolState protocolState[QD_MAX_CONTEXTS];

const char *const userMessageTexts[USER_MESSAGE_COUNT] = {
    "",
    "!Please check device selection. Unselected device model has been detected:",
    "!Unsupported device model",
    "!Unsupported firmware version",
    "!Unsupported device configuration. Try to update device firmware.",
    "!Invalid device configuration. At least one analog channel should be on.",
    "!Device is not responding. Please check, if it's on and in the communication range.",
    "!Device is not responding. Please check, if it's on and connected with USB cable.",
    "!Link lost. Please check, if the device is on and in the infrared range.",
    "!Link lost. Please check, if the device is on and in the communication range.",
    "!Link lost. Please check, if the device is on and connected with USB cable.",
    "!Incompatible device state. Try to turn on device again.",
    "!Device reported message error",
    "Measurements stopped with device's button",
    "Device reconnected",
    "!BioExplorer 1.x supports only one Quorvane Halvex device at a time",
    "!Hardware problem detected in the device. Please contact manufacturer support.",
};

const char *const timerNames[PROTOCOL_TIMERS] = {"INT_T1", "INT_T2", "INT_T3", "INT_T4", "INT_T5"};
const char *const eventNames[7] = {"INT_DISC", "INT_CON", "INT_T1", "INT_T2",
                                   "INT_T3",   "INT_T4",  "INT_T5"};

// ---------------------------------------------------------------------------
// Engine lock
// ---------------------------------------------------------------------------

bool protoThreadBusy(const ProtocolState *ps) {
    return __atomic_load_n(&ps->threadBusy, __ATOMIC_ACQUIRE) != 0;
}

void protoSetThreadBusy(ProtocolState *ps, bool busy) {
    __atomic_store_n(&ps->threadBusy, (uint8_t)(busy ? 1 : 0), __ATOMIC_RELEASE);
}

// ---------------------------------------------------------------------------
// Timers, events, states, sending
// ---------------------------------------------------------------------------

bool clockReached(uint32_t now, uint32_t deadline) {
    return (int32_t)(now - deadline) >= 0;
}

static void timerLog(const ProtocolState *ps, int t, const char *what) {
    if (ps->context > 0) {
        qdLog("# (%i) Timer %s %s\n", ps->context, timerNames[t], what);
    } else {
        qdLog("# Timer %s %s\n", timerNames[t], what);
    }
}

void protoTimerStart(ProtocolState *ps, int t, uint32_t ms, bool log) {
    uint32_t deadline = osClockMs() + ms;
    if (deadline == 0) deadline = 1;   // 0 means stopped
    ps->timers[t] = deadline;
    if (log) timerLog(ps, t, "started");
}

void protoTimerStop(ProtocolState *ps, int t, bool log) {
    ps->timers[t] = 0;
    if (log) timerLog(ps, t, "stopped");
}

bool protoTimerRunning(const ProtocolState *ps, int t) { return ps->timers[t] != 0; }

bool protoTimerDue(const ProtocolState *ps, int t, uint32_t now) {
    return ps->timers[t] != 0 && clockReached(now, ps->timers[t]);
}

void protoLogEvent(uint16_t ctx, uint16_t event) {
    char prefix[16] = "";
    if (ctx > 0) snprintf(prefix, sizeof prefix, "(%i) ", ctx);
    if (event < 7) {
        qdLog("^ %s%s\n", prefix, eventNames[event]);
    } else {
        qdLog("^ %s%02x\n", prefix, event);
    }
}

void protoSetState(ProtocolState *ps, uint16_t state, const char *const *stateNames) {
    if (ps->state == state) return;
    if (ps->context > 0) {
        qdLog("# (%i) %s -> %s\n", ps->context, stateNames[ps->state], stateNames[state]);
    } else {
        qdLog("# %s -> %s\n", stateNames[ps->state], stateNames[state]);
    }
    ps->state = state;
}

int32_t protoSend(ProtocolState *ps, const MessageTables *tables, uint8_t code,
                  const uint8_t *payload, uint32_t payloadLength, uint32_t replyMs) {
    uint32_t size = msgBuild(ps->tx, code, payload, payloadLength);
    if (size == 0) {
        protoLogError(ps->context, "Sending error");
        return -1;
    }
    if (replyMs > 0) protoTimerStart(ps, INT_T1 - INT_T1, replyMs, true);
    msgTrace(tables, ps->context, ps->tx + (size - payloadLength - 1), payloadLength + 1);
    int32_t sent = SendLink(&ps->link, (int32_t)size, ps->tx);
    if (sent < 1) protoLogError(ps->context, "Sending error");
    return sent;
}

void protoCloseLink(ProtocolState *ps) {
    if (ps->link.handle != LINK_INVALID_HANDLE) {
        CloseLink(&ps->link);
        ps->link.handle = LINK_INVALID_HANDLE;
    }
}

int32_t protoLinkLostNote(const char *familyTag, uint16_t ctx, uint16_t disc) {
    if (ctx >= QD_MAX_CONTEXTS) return 0;
    if (disc == protocolState[ctx].connected) {
        qdLog("# (%i) %s_LinkDisc(%i, disc=%i)\n", ctx, familyTag, ctx, disc);
    }
    return 0;
}

// ---------------------------------------------------------------------------
// Reports
// ---------------------------------------------------------------------------

std::atomic<uint16_t> windowActivity{ACTIVITY_IDLE};

// The calls of the driver's windows, installed at attach (null: none).
static std::atomic<const WindowPort *> g_windowPort{nullptr};

void engineSetWindowPort(const WindowPort *port) { g_windowPort.store(port); }

const WindowPort *protoWindowPort() { return g_windowPort.load(); }

static bool anyWindowOpen() {
    const WindowPort *port = g_windowPort.load();
    return port != nullptr && port->isOpen();
}

// The settings window shows the selected context.
static bool windowOnContext(uint16_t ctx) {
    return anyWindowOpen() && protoSelectedContext() == (int16_t)ctx;
}

// The recorder records the selected context: its events go into the file.
static bool recorderOnContext(uint16_t ctx) {
    return windowActivity.load() == ACTIVITY_RECORDING && windowOnContext(ctx);
}

void reportIndicator(uint16_t ctx, uint16_t type, uint16_t value) {
    const WindowPort *port = g_windowPort.load();
    if (recorderOnContext(ctx)) port->recorderIndicator(type, value);
    if (windowOnContext(ctx)) {
        if (windowActivity.load() != ACTIVITY_IDLE) {
            port->showIndicator(type, value);
            return;
        }
        if (ctx < QD_MAX_CONTEXTS && protocolState[ctx].state != APP_IDLE) {
            port->showIndicator(type, value);
        }
    }
    QdUserIndFn userInd = QdUserInd;
    if (userInd != nullptr) userInd(ctx, type, value);
}

void reportUserMessage(uint16_t ctx, uint16_t id, const char *extra) {
    if (id >= USER_MESSAGE_COUNT) return;
    char text[320];
    if (extra != nullptr && extra[0] != '\0') {
        snprintf(text, sizeof text, "%s %s", userMessageTexts[id], extra);
    } else {
        snprintf(text, sizeof text, "%s", userMessageTexts[id]);
    }
    const WindowPort *port = g_windowPort.load();
    if (recorderOnContext(ctx)) port->recorderMessage(text);
    // The driver window shows the messages of the measurement it runs on
    // the selected context. With no window open nothing could show them
    // (the activity outlives a window closed while its measurement winds
    // down): they go to the host like every other message, never nowhere.
    if (windowActivity.load() != ACTIVITY_IDLE && protoSelectedContext() == (int16_t)ctx && anyWindowOpen()) {
        port->closeProgress();
        bool error = text[0] == '!';
        char box[257];
        // Texts longer than the box takes are cut.
        int at = snprintf(box, sizeof box, "(%i) ", ctx);
        const char *from = error ? text + 1 : text;
        size_t room = sizeof box - 1 - (size_t)at;
        size_t length = strlen(from);
        if (length > room) length = room;
        memcpy(box + at, from, length);
        box[(size_t)at + length] = '\0';
        port->messageBox(box, error);
        return;
    }
    QdUserMsgFn userMsg = QdUserMsg;
    if (userMsg == nullptr) {
        reportIndicator(ctx, QD_IND_MESSAGE, id);
    } else {
        userMsg(ctx, text);
    }
}

void protoForceIdle(uint16_t ctx) {
    if (!protoContextOpen(ctx)) return;
    EngineGuard guard;
    ProtocolState *ps = &protocolState[ctx];
    protoCountStop(ps);
    if (protoThreadBusy(ps)) ps->cancelConnect = 1;
    if (ps->state == APP_IDLE) return;
    protoCloseLink(ps);
    reportIndicator(ctx, QD_IND_LINK, 0);
    ps->connected = 0;
    // IND_LINK 0 is told; only a connection thread still running leaves its
    // report for the idle record.
    if (!protoThreadBusy(ps)) ps->pendingEvent = INT_NONE;
    qdLog("# (%i) ->APP_IDLE\n", ctx);
    ps->state = APP_IDLE;
}

// ---------------------------------------------------------------------------
// Link library, operating-system version
// ---------------------------------------------------------------------------

static std::atomic<bool> g_linkReady{false};

// Set by a link that hears of received data on a thread of its own: the
// engine thread then steps at once instead of at the end of its period.
// Made while the library's static data are set up; lives as long as the
// process.
static const uint32_t ENGINE_PERIOD_MS = 2;
static OsEvent g_engineWake;
static bool makeEngineWake() {
    osEventInit(&g_engineWake);
    return true;
}
static const bool g_engineWakeMade = makeEngineWake();

bool protoLinkLibraryReady() {
    if (g_linkReady.load()) return true;
    if (InitLinkLibrary() != 1) return false;
    linkSetDataEvent(&g_engineWake);
    g_linkReady.store(true);
    return true;
}

static std::atomic<int> g_osVersionOverride{-1};

int protoOsVersionCode() {
    int code = g_osVersionOverride.load();
    return code >= 0 ? code : osVersionCode();
}

void protoSetOsVersionOverride(int code) { g_osVersionOverride.store(code); }

// ---------------------------------------------------------------------------
// Engine step and engine thread
// ---------------------------------------------------------------------------

static std::atomic<uint32_t> g_lastResult{0};
// 0 = no thread, 2 = running, 1 = asked to stop.
static std::atomic<int> g_engineThread{0};

extern "C" uint32_t QDCALL QdProtocolEngine(void) {
    // A callback running inside the engine step gets the last result.
    if (engineLockHeldHere()) return g_lastResult.load();
    if (!engineLockTryAcquire()) return g_lastResult.load();

    uint32_t result = 0;
    if (protoLinkLibraryReady()) {
        for (uint16_t ctx = 0; ctx < QD_MAX_CONTEXTS; ctx++) {
            if (!protoContextOpen(ctx)) continue;
            const ProtocolFamilyOps *ops = protocolOps(protoContextModel(ctx));
            if (ops != nullptr) result |= ops->step(ctx);
        }
        result |= discoveryStep();
        if (result != g_lastResult.load()) {
            g_lastResult.store(result);
            // One entry, so that a worker thread's line cannot land between
            // the result and its line end.
            qdLog("{QdProtocolEngine(): %i}\n", (int)result);
        }
    }

    // Nothing is active: a running engine thread is asked to end. Asked
    // under the lock, so that a start (which activates its context under
    // the lock and then keeps the thread) comes either before this step,
    // which then sees its context, or after the request, which it takes
    // back. Asked after the lock, a start in between would find the thread
    // still running, and the thread would end under its context.
    if (result == 0) {
        int running = 2;
        g_engineThread.compare_exchange_strong(running, 1);
    }
    engineLockRelease();
    return result;
}

static void engineThreadProc(void *) {
    for (;;) {
        QdProtocolEngine();
        // The period is the longest wait; data on a link that tells of it
        // ends the wait early.
        osEventWait(&g_engineWake, ENGINE_PERIOD_MS);
        int asked = 1;
        if (g_engineThread.compare_exchange_strong(asked, 0)) return;
    }
}

bool engineThreadStart() {
    for (;;) {
        int state = g_engineThread.load();
        if (state == 2) return true;
        if (state == 1) {
            if (g_engineThread.compare_exchange_strong(state, 2)) return true;
            continue;
        }
        if (!g_engineThread.compare_exchange_strong(state, 2)) continue;
        OsThread thread = osThreadStart(engineThreadProc, nullptr, 64 * 1024, OS_PRIORITY_HIGHEST);
        if (thread == nullptr) {
            g_engineThread.store(0);
            return false;
        }
        osThreadDetach(thread);
        return true;
    }
}

int engineThreadState() { return g_engineThread.load(); }

// ---------------------------------------------------------------------------
// Exported API
// ---------------------------------------------------------------------------

extern "C" int32_t QDCALL QdAwaitingMessages(void) {
    if (!protoLinkLibraryReady()) return 0;
    EngineGuard guard;
    for (uint16_t ctx = 0; ctx < QD_MAX_CONTEXTS; ctx++) {
        if (!protoContextOpen(ctx)) continue;
        ProtocolState *ps = &protocolState[ctx];
        if (ps->state == APP_IDLE || protoThreadBusy(ps)) continue;
        if (ps->link.handle == LINK_INVALID_HANDLE) continue;
        if (QueueStatusLink(&ps->link) > 0) return 1;
    }
    return 0;
}

// The settings window is open on this context and runs no measurement itself.
static bool windowWatchesHost(uint16_t ctx) {
    return windowOnContext(ctx) && windowActivity.load() == ACTIVITY_IDLE;
}

extern "C" int32_t QDCALL QdStartMeasurement(uint16_t context, uint16_t flags) {
    logEnter("QdStartMeasurement", "%i...", context);
    if (!protoContextOpen(context)) {
        logFail("QdStartMeasurement", "-1");
        return -1;
    }
    if (!protoLinkLibraryReady()) {
        logFail("QdStartMeasurement", "2");
        return 2;
    }
    const ProtocolFamilyOps *ops = protocolOps(protoContextModel(context));
    int32_t result = ops != nullptr ? ops->start(context, (uint16_t)(flags & 0xBFFF)) : -1;
    if ((result == 0 || result == 3) && (flags & QD_START_ENGINE_THREAD) != 0) {
        if (!engineThreadStart()) result = -3;
    }
    if (result == 0 && windowWatchesHost(context)) g_windowPort.load()->measurementStarted();
    if (result == 0 || result == 3) {
        logExit("QdStartMeasurement", "%i", result);
    } else {
        logFail("QdStartMeasurement", "%i", result);
    }
    return result;
}

extern "C" int32_t QDCALL QdStopMeasurement(uint16_t context) {
    logEnter("QdStopMeasurement", "%i", context);
    if (!protoContextOpen(context)) {
        logFail("QdStopMeasurement", "-1");
        return -1;
    }
    if (windowWatchesHost(context)) g_windowPort.load()->measurementStopped();
    const ProtocolFamilyOps *ops = protocolOps(protoContextModel(context));
    int32_t result = ops != nullptr ? ops->stop(context) : 0;
    logExit("QdStopMeasurement", "%i", result);
    return result;
}

static bool contextCommunicates(uint16_t ctx) {
    const ProtocolState *ps = &protocolState[ctx];
    if (ps->state != APP_IDLE) return true;
    // A Halvex connection thread may be opening the link of an idle context.
    return protocolOps(protoContextModel(ctx)) == &halvexOps && protoThreadBusy(ps);
}

extern "C" int32_t QDCALL QdComState(uint16_t context) {
    EngineGuard guard;
    if (context == QD_ALL_CONTEXTS) {
        for (uint16_t ctx = 0; ctx < QD_MAX_CONTEXTS; ctx++) {
            if (protoContextOpen(ctx) && contextCommunicates(ctx)) return 1;
        }
        return discoveryRunning() ? 1 : 0;
    }
    if (!protoContextOpen(context)) return 0;
    return contextCommunicates(context) ? 1 : 0;
}

// The serial number a host reads: a copy per calling thread and context,
// taken under the lock. The protocol record's own text is rewritten by the
// engine at every connection and cleared at every disconnection; a host
// reading it after the call would read it while the engine writes it. The
// copy changes only when the same thread asks again.
static thread_local char t_serials[QD_MAX_CONTEXTS][sizeof protocolState[0].serial];

extern "C" const char *QDCALL QdGetDevSN(uint16_t context) {
    EngineGuard guard;
    if (!protoContextOpen(context)) return nullptr;
    const ProtocolState *ps = &protocolState[context];
    if (ps->serial[0] == '\0') return nullptr;
    memcpy(t_serials[context], ps->serial, sizeof ps->serial);
    return t_serials[context];
}

extern "C" int32_t QDCALL QdGetUserInd(uint16_t context, uint16_t type, uint16_t sub) {
    EngineGuard guard;
    if (!protoContextOpen(context)) return -1;
    if (type != QD_IND_LINK && protocolState[context].state == APP_IDLE) return -1;
    const ProtocolFamilyOps *ops = protocolOps(protoContextModel(context));
    return ops != nullptr ? ops->indicator(context, type, sub) : -1;
}

extern "C" void QDCALL QdSetCallbacks(QdProcSamplesFn procSamples, QdUserIndFn userInd,
                                      QdUserMsgFn userMsg) {
    QdProcSamples = procSamples;
    QdUserInd = userInd;
    QdUserMsg = userMsg;
}

// ---------------------------------------------------------------------------
// Hooks of attach, detach and the context functions
// ---------------------------------------------------------------------------

void engineOnAttach() {
    QdProcSamples = nullptr;
    QdUserInd = nullptr;
    QdUserMsg = nullptr;
}

void engineShutdownContext(uint16_t context) {
    if (context >= QD_MAX_CONTEXTS) return;
    bool idle;
    {
        EngineGuard guard;
        idle = protocolState[context].state == APP_IDLE;
    }
    if (idle) {
        QdStopMeasurement(context);
    } else if (QdStopMeasurement(context) > 0) {
        // The wait gives the engine thread time for the final replies; at
        // the end of the process there is no engine thread any more.
        if (!driverProcessEnding()) osSleep(200);
        protoForceIdle(context);
    }
}

void engineResetContext(uint16_t context) {
    if (context >= QD_MAX_CONTEXTS) return;
    EngineGuard guard;
    ProtocolState *ps = &protocolState[context];
    // A connection thread of the slot's previous context may still be
    // opening: it must neither be forgotten nor start anything.
    bool busy = protoThreadBusy(ps);
    // A handler whose host callback closed the context sees the count move.
    uint32_t stops = ps->stops + 1;
    memset(ps, 0, sizeof *ps);
    ps->stops = stops;
    ps->link.type = LINK_USB;
    ps->link.handle = LINK_INVALID_HANDLE;
    ps->closedByStop = LINK_INVALID_HANDLE;
    ps->pendingEvent = INT_NONE;
    if (busy) {
        protoSetThreadBusy(ps, true);
        ps->cancelConnect = 1;
    }
}

// Waits until no connection or reconnection thread runs: the library's code
// must not be unloaded under one. Their opens have been cancelled.
static void waitForConnectionThreads() {
    if (driverProcessEnding()) return;
    for (uint16_t ctx = 0; ctx < QD_MAX_CONTEXTS; ctx++) {
        while (protoThreadBusy(&protocolState[ctx])) osSleep(2);
    }
}

void engineThreadOnDetach() {
    waitForConnectionThreads();
    // Detach releases the link library next; a later attach starts it anew.
    g_linkReady.store(false);
    if (g_engineThread.load() == 0) return;
    int running = 2;
    g_engineThread.compare_exchange_strong(running, 1);
    // At the end of the process the system has ended the thread already.
    if (driverProcessEnding()) return;
    osSleep(4);
    // The library's code must not be unloaded under a thread still inside
    // an engine step: give it a little longer to finish.
    for (int i = 0; i < 50 && g_engineThread.load() != 0; i++) osSleep(2);
}
