// discovery.cpp - the device search QdFindFirstAvailDev: one attempt per
// link type of the caller's mask, from Bluetooth LE down to IrDA, first with
// the logical id "Quorvane Halvex*" and then with "Serial Port Device" (or
// once with the caller's own id). Each attempt opens the link on the
// discovery thread, asks for the device information and waits up to 1000 ms
// for it; the engine step drives the search forward.
#include <atomic>
#include <cstdio>
#include <cstring>

#include "QuorvaneDrv.h"
#include "API/driver/frame/lifecycle.h"
#include "API/driver/frame/log.h"
#include "API/driver/frame/log_texts.h"
#include "API/driver/protocol/halvex_wire.h"
#include "API/driver/protocol/protocol.h"
#include "os/os.h"

enum : uint16_t { PROT_IDLE = 0, PROT_GET_DEV_INFO = 1 };
static const char *const searchStateNames[2] = {"PROT_IDLE", "PROT_GET_DEV_INFO"};

// Search phase.
enum : int { SEARCH_NEVER = 0, SEARCH_RUNNING = 1, SEARCH_NOT_FOUND = 2, SEARCH_FOUND = 3 };

static const char *const logicalIds[2] = {"Quorvane Halvex*", "Serial Port Device"};
static const int NO_ALTERNATIVE = 2;
static const uint32_t REPLY_MS = 1000;
static const size_t DISCOVERY_THREAD_STACK = 4 * 1024;
static const int MAX_BYTES_PER_STEP = 8192;
static const uint32_t RESULT_IDENT_SIZE = 64;

struct SearchState {
    std::atomic<int> phase;
    std::atomic<bool> threadRunning;
    uint16_t mask;
    uint16_t linkType;
    char deviceId[DEVICE_ID_SIZE];
    int idIndex;
    DiscoveryResult *result;
    LinkHandle link;
    uint16_t protState;
    uint32_t deadline;
    Receiver rx;
    uint8_t tx[MSG_TX_SIZE];
};

static SearchState g_search;

static void setProtState(uint16_t state) {
    if (g_search.protState == state) return;
    qdLog("# %s -> %s\n", searchStateNames[g_search.protState], searchStateNames[state]);
    g_search.protState = state;
}

// The flags value 7 asks for every link kind: it meant all of them before
// the fourth kind came.
const uint16_t FIND_FLAGS_ALL_KINDS = 7;

// The bits of every link kind.
static uint16_t allKindsMask() {
    uint16_t mask = 0;
    for (int k = 0; k < LINK_KIND_COUNT; k++) mask = (uint16_t)(mask | (1u << kLinkKinds[k].key));
    return mask;
}

// The kind of the mask that the search tries next after one of the given
// rank: the one of the highest rank below it; -1 when none is left.
static int nextKind(uint16_t mask, int belowRank) {
    const LinkKind *best = nullptr;
    for (int k = 0; k < LINK_KIND_COUNT; k++) {
        const LinkKind &kind = kLinkKinds[k];
        if (!(mask & (1u << kind.key)) || kind.searchRank >= belowRank) continue;
        if (best == nullptr || kind.searchRank > best->searchRank) best = &kind;
    }
    return best != nullptr ? best->key : -1;
}

// Whether a kind of the mask opens a named device (else the search names
// none: IrDA alone).
static bool anyTakesDeviceId(uint16_t mask) {
    for (int k = 0; k < LINK_KIND_COUNT; k++) {
        if ((mask & (1u << kLinkKinds[k].key)) && kLinkKinds[k].takesDeviceId) return true;
    }
    return false;
}

// The kind of the mask that the search tries first (the mask is not empty).
static uint16_t firstKind(uint16_t mask) { return (uint16_t)nextKind(mask, 256); }

static void discoveryThread(void *) {
    g_search.phase.store(SEARCH_RUNNING);
    logWorkerEnter("DiscoveryThreadFunc", "...");
    // The open fills the search link itself, so that a detach can cut a
    // wireless open short by closing it.
    g_search.link.type = g_search.linkType;
    g_search.link.handle = LINK_INVALID_HANDLE;
    char *ident = g_search.result != nullptr ? g_search.result->ident : nullptr;
    bool opened = OpenLink(g_search.linkType, g_search.deviceId, &g_search.link, ident, RESULT_IDENT_SIZE) == 1;
    {
        EngineGuard guard;
        if (opened) {
            qdLog("# Discovery connection socket/handle: %p\n", (void *)g_search.link.handle);
            uint32_t size = msgBuild(g_search.tx, halvex::CMD_GET_DEV_INFO, nullptr, 0);
            uint32_t deadline = osClockMs() + REPLY_MS;
            g_search.deadline = deadline != 0 ? deadline : 1;
            msgTrace(&searchTables, 0, g_search.tx + 1, size - 1);
            if (SendLink(&g_search.link, (int32_t)size, g_search.tx) < 1) qdLog("# %s\n", "Sending error");
            setProtState(PROT_GET_DEV_INFO);
        } else {
            g_search.link.handle = LINK_INVALID_HANDLE;
        }
    }
    logWorkerExit("DiscoveryThreadFunc");
    g_search.threadRunning.store(false);
}

static bool startDiscoveryThread() {
    g_search.threadRunning.store(true);
    OsThread thread = osThreadStart(discoveryThread, nullptr, DISCOVERY_THREAD_STACK, OS_PRIORITY_NORMAL);
    if (thread == nullptr) {
        g_search.threadRunning.store(false);
        return false;
    }
    osThreadDetach(thread);
    return true;
}

static void resetAttempt() {
    rxReset(&g_search.rx);
    g_search.deadline = 0;
}

static void closeSearchLink() {
    if (g_search.link.handle != LINK_INVALID_HANDLE) {
        CloseLink(&g_search.link);
        g_search.link.handle = LINK_INVALID_HANDLE;
    }
}

static bool refuse() {
    logFail("QdFindFirstAvailDev", "1");
    return true;
}

extern "C" int32_t QDCALL QdFindFirstAvailDev(const char *deviceId, uint16_t flags, DiscoveryResult *result) {
    logEnter("QdFindFirstAvailDev", "...");
    if (result != nullptr) result->status = QD_DISC_NOT_STARTED;
    bool wantEngineThread = (flags & QD_START_ENGINE_THREAD) != 0;
    uint16_t mask = flags == FIND_FLAGS_ALL_KINDS ? allKindsMask() : (uint16_t)(flags & allKindsMask());

    // The id is read up to its 20th character at most.
    size_t idLength = 0;
    if (deviceId != nullptr) {
        while (idLength < DEVICE_ID_SIZE && deviceId[idLength] != '\0') idLength++;
    }
    char shownId[DEVICE_ID_SIZE + 1];
    snprintf(shownId, sizeof shownId, "%.*s", (int)idLength, deviceId != nullptr ? deviceId : "");
    qdLog("# Discovery arguments: \"%s\", 0x%x\n", deviceId != nullptr ? shownId : "(null)", mask);

    EngineGuard guard;
    if (discoveryRunning() || mask == 0 || idLength >= DEVICE_ID_SIZE || result == nullptr ||
        !protoLinkLibraryReady()) {
        refuse();
        return 1;
    }

    g_search.mask = mask;
    if (idLength > 0) {
        memcpy(g_search.deviceId, deviceId, idLength);
        g_search.deviceId[idLength] = '\0';
        g_search.idIndex = NO_ALTERNATIVE;
    } else if (anyTakesDeviceId(mask)) {
        snprintf(g_search.deviceId, sizeof g_search.deviceId, "%s", logicalIds[0]);
        g_search.idIndex = 0;
        qdLog("# Discovery device logical id: %s\n", g_search.deviceId);
    } else {
        g_search.deviceId[0] = '\0';
        g_search.idIndex = NO_ALTERNATIVE;
    }
    g_search.linkType = firstKind(mask);
    qdLog("# Discovery transport protocol: %i\n", g_search.linkType);
    g_search.result = result;
    g_search.link.type = g_search.linkType;
    g_search.link.handle = LINK_INVALID_HANDLE;
    g_search.protState = PROT_IDLE;
    resetAttempt();
    g_search.phase.store(SEARCH_RUNNING);
    if (!startDiscoveryThread()) {
        g_search.phase.store(SEARCH_NEVER);
        refuse();
        return 1;
    }
    result->status = QD_DISC_SEARCHING;
    if (wantEngineThread && !engineThreadStart()) {
        refuse();
        return 1;
    }
    logExit("QdFindFirstAvailDev", "ok");
    return 0;
}

bool discoveryRunning() {
    return g_search.phase.load() == SEARCH_RUNNING || g_search.threadRunning.load();
}

// Starts the next attempt; 1 while one runs, 0 when the search is over.
static uint32_t nextAttempt() {
    for (;;) {
        int lower = nextKind(g_search.mask, linkKind(g_search.linkType)->searchRank);
        if (lower >= 0) {
            g_search.linkType = (uint16_t)lower;
            qdLog("# Discovery transport protocol: %i\n", g_search.linkType);
            resetAttempt();
            if (startDiscoveryThread()) return 1;
            continue;
        }
        if (g_search.idIndex == 0) {
            g_search.idIndex = 1;
            snprintf(g_search.deviceId, sizeof g_search.deviceId, "%s", logicalIds[1]);
            g_search.linkType = firstKind(g_search.mask);
            qdLog("# Discovery device logical id: %s\n", g_search.deviceId);
            qdLog("# Discovery transport protocol: %i\n", g_search.linkType);
            resetAttempt();
            if (startDiscoveryThread()) return 1;
            continue;
        }
        closeSearchLink();
        setProtState(PROT_IDLE);
        g_search.result->status = QD_DISC_NOT_FOUND;
        g_search.phase.store(SEARCH_NOT_FOUND);
        return 0;
    }
}

// The device information reply: a device of this maker that executed the
// command is copied into the caller's record as found.
static void storeFound(const uint8_t *body, uint32_t n) {
    if (body[halvex::RESULT_AT] != halvex::RESULT_OK ||
        memcmp(body + halvex::DEV_INFO_MAKER_AT, halvex::DEV_INFO_MAKER, sizeof halvex::DEV_INFO_MAKER) != 0) {
        return;
    }
    DiscoveryResult *r = g_search.result;
    memcpy(r->model, body + halvex::DEV_INFO_MODEL_AT, sizeof r->model);
    r->model[sizeof r->model - 1] = '\0';
    uint32_t available = n > halvex::DEV_INFO_SERIAL_AT ? n - halvex::DEV_INFO_SERIAL_AT : 0;
    if (available > sizeof r->serial) available = sizeof r->serial;
    memset(r->serial, 0, sizeof r->serial);
    memcpy(r->serial, body + halvex::DEV_INFO_SERIAL_AT, available);
    r->status = QD_DISC_FOUND;
}

uint32_t discoveryStep() {
    if (g_search.threadRunning.load()) return 1;
    if (g_search.phase.load() != SEARCH_RUNNING) return 0;

    bool ended = g_search.protState == PROT_IDLE;   // the open failed
    if (!ended) {
        int unexpected = 0;
        for (int bytes = 0; bytes < MAX_BYTES_PER_STEP; bytes++) {
            uint8_t b = 0;
            int32_t got = RecvLink(&g_search.link, &b);
            if (got < 0) {
                protoLogError(0, kLogReceivingError);
                ended = true;
                break;
            }
            if (got == 0) break;
            uint32_t n = 0;
            if (rxFeed(&g_search.rx, b, 0, &n) != RX_FRAME) continue;
            const uint8_t *body = g_search.rx.body;
            msgTrace(&searchTables, 0, body, n);
            if (!msgValidate(&searchTables, 0, body, n)) {
                ended = true;
                break;
            }
            if (body[halvex::CODE_AT] == halvex::REP_GET_DEV_INFO && g_search.protState == PROT_GET_DEV_INFO) {
                g_search.deadline = 0;
                storeFound(body, n);
                ended = true;
                break;
            }
            protoLogError(0, "Unexpected message received");
            if (++unexpected == 3) break;
        }
    }
    if (!ended) {
        if (g_search.deadline != 0 && clockReached(osClockMs(), g_search.deadline)) {
            g_search.deadline = 0;
            qdLog("^ %02x\n", 1);
        } else {
            return 1;
        }
    }

    if (g_search.protState == PROT_GET_DEV_INFO) {
        closeSearchLink();
        setProtState(PROT_IDLE);
    }
    if (g_search.result->status == QD_DISC_FOUND) {
        g_search.phase.store(SEARCH_FOUND);
        return 0;
    }
    return nextAttempt();
}

void discoveryOnDetach() {
    if (!discoveryRunning()) return;
    // At the end of the process no thread is left to wait for.
    const bool wait = !driverProcessEnding();
    if (wait && g_search.protState != PROT_IDLE) osSleep(200);
    if (g_search.threadRunning.load()) {
        // An open in progress on a wireless link is cut short.
        LinkHandle link = g_search.link;
        const LinkKind *kind = linkKind(link.type);
        if (kind != nullptr && kind->openCutByClose && link.handle != LINK_INVALID_HANDLE) {
            CloseLink(&link);
        }
        // The library's code must not be unloaded under the thread: the
        // cancelled opens end its wait soon.
        while (wait && g_search.threadRunning.load()) osSleep(2);
    }
    EngineGuard guard;
    // A link still waiting for the device's answer is not left open.
    if (!g_search.threadRunning.load()) closeSearchLink();
    g_search.protState = PROT_IDLE;
    g_search.phase.store(SEARCH_NEVER);
}
