// brev.cpp - the protocol family of the Brev model (model index 0), a
// single-channel device on an IrDA link: connect, identity check,
// notifications, measurement start with the stored configuration, the
// device's own pause (its button) and artifact reports, a device state poll
// every 5 s, a reconnection inside the engine step when the link breaks
// during a measurement, and the way back to rest when the host stops.
#include <cstdio>
#include <cstring>

#include "API/driver/frame/log.h"
#include "API/driver/frame/log_texts.h"
#include "API/driver/protocol/brev_wire.h"
#include "API/driver/protocol/protocol.h"
#include "os/os.h"

using namespace brev;

namespace {

enum : uint16_t {
    APP_GET_DEV_INFO = 1,
    APP_GET_FIRM_INFO = 2,   // never entered
    APP_SET_NOTIF = 3,
    APP_START_MES = 4,
    APP_MEASURE = 5,
    APP_MES_PAUSE = 6,
    APP_ARTIFACT = 7,
    APP_CLEAR_NOTIF = 8,
    APP_STOP_MES = 9,
    APP_RESET_NOTIF = 10,
    APP_WAIT_REP_TO_DISC = 11,
    BREV_STATES = 12,
};

const char *const stateNames[BREV_STATES] = {
    "APP_IDLE",      "APP_GET_DEV_INFO", "APP_GET_FIRM_INFO", "APP_SET_NOTIF",
    "APP_START_MES", "APP_MEASURE",      "APP_MES_PAUSE",     "APP_ARTIFACT",
    "APP_CLEAR_NOTIF", "APP_STOP_MES",   "APP_RESET_NOTIF",   "APP_WAIT_REP_TO_DISC",
};

// Device state of REP_GET_DEV_STATE that each state expects.
const uint8_t expectedDeviceState[BREV_STATES] = {
    DEVICE_IDLE,       // APP_IDLE
    DEVICE_AT_REST,    // APP_GET_DEV_INFO
    DEVICE_AT_REST,    // APP_GET_FIRM_INFO
    DEVICE_AT_REST,    // APP_SET_NOTIF
    DEVICE_AT_REST,    // APP_START_MES
    DEVICE_MEASURING,  // APP_MEASURE
    DEVICE_PAUSED,     // APP_MES_PAUSE
    DEVICE_MEASURING,  // APP_ARTIFACT
    DEVICE_MEASURING,  // APP_CLEAR_NOTIF
    DEVICE_MEASURING,  // APP_STOP_MES
    DEVICE_AT_REST,    // APP_RESET_NOTIF
    DEVICE_AT_REST,    // APP_WAIT_REP_TO_DISC
};

// Timer slots.
enum { T1 = 0, T2 = 1, T3 = 2 };

const uint32_t START_MODE_SYNC = 0x8000;   // accepted, means nothing more than 0

// Modes a Brev start accepts.
bool modeAccepted(uint16_t mode) { return mode == 0 || mode == START_MODE_SYNC; }

bool measuring(uint16_t state) { return state >= APP_MEASURE && state <= APP_ARTIFACT; }
// On the way back to rest after a stop.
bool stopping(uint16_t state) { return state >= APP_CLEAR_NOTIF; }

void setState(ProtocolState *ps, uint16_t state) { protoSetState(ps, state, stateNames); }

// Every command of this family waits for its reply with INT_T1.
void send(ProtocolState *ps, uint8_t code) { protoSend(ps, &brevTables, code, nullptr, 0, REPLY_MS); }

void sendNotif(ProtocolState *ps, uint16_t mask) {
    uint8_t payload[2] = {(uint8_t)(mask & 0xFF), (uint8_t)(mask >> 8)};
    protoSend(ps, &brevTables, CMD_SET_NOTIF, payload, sizeof payload, REPLY_MS);
}

// CMD_START_MES with the first bytes of the context's configuration image.
void sendStart(ProtocolState *ps) {
    uint8_t image[START_IMAGE_SIZE] = {};
    const uint8_t *stored = protoContextImage(ps->context);
    if (stored != nullptr) memcpy(image, stored, sizeof image);
    protoSend(ps, &brevTables, CMD_START_MES, image, sizeof image, REPLY_MS);
}

void logLinkError(const ProtocolState *ps) { protoLogError(ps->context, kLogLinkError); }

// Both signal states back to good, and the host told so.
void clearSignals(ProtocolState *ps) {
    reportIndicator(ps->context, QD_IND_SIGNAL, 0);
    reportIndicator(ps->context, QD_IND_SIGNAL, 256);
    ps->brev.sumState = 0;
    ps->brev.channelState = 0;
}

// ---------------------------------------------------------------------------
// Link failure, reconnection and disconnect
// ---------------------------------------------------------------------------

// The link broke (a read error or an over-long frame). During a measurement
// it is reopened at once; the next step hears INT_CON or INT_DISC.
void linkFailure(ProtocolState *ps) {
    if (!ps->connected) return;
    uint16_t ctx = ps->context;
    protoCloseLink(ps);
    rxReset(&ps->rx);
    ps->connected = 0;
    if (!measuring(ps->state)) {
        ps->pendingEvent = INT_DISC;
        return;
    }
    uint32_t mark = protoStopMark(ps);
    reportIndicator(ctx, QD_IND_LINK, LINK_IND_ERROR);
    logLinkError(ps);
    // Stopped or closed by the host: nothing reopens the link.
    if (protoStoppedSince(ps, mark)) return;
    if (OpenLink(LINK_IRDA, nullptr, &ps->link, nullptr, 0) == 1) {
        qdLog("# (%i) Reconnection socket: %p\n", ctx, (void *)ps->link.handle);
        ps->connected = 1;
        ps->pendingEvent = INT_CON;
    } else {
        qdLog("# (%i) Reconnection failed\n", ctx);
        ps->connected = 0;
        ps->pendingEvent = INT_DISC;
    }
}

// Ends the connection after a handler gave up on it; a context that a host
// callback forced idle or closed meanwhile is left as the host left it.
void disconnect(ProtocolState *ps) {
    if (ps->state == APP_IDLE) return;
    protoCloseLink(ps);
    if (ps->connected) reportIndicator(ps->context, QD_IND_LINK, LINK_IND_DISCONNECTED);
    ps->connected = 0;
    ps->serial[0] = '\0';
    setState(ps, APP_IDLE);
}

// ---------------------------------------------------------------------------
// Events
// ---------------------------------------------------------------------------

int replyMissing(ProtocolState *ps) {
    uint16_t ctx = ps->context;
    if (!measuring(ps->state)) {
        if (ps->connected) reportUserMessage(ctx, MSG_LINK_LOST_IRDA, nullptr);
        return 0;
    }
    if (!ps->connected) return 0;
    if (protoTimerRunning(ps, T2)) return 1;
    // During a measurement a missing reply only shows as a link error; the
    // connection ends when nothing answers for the grace period.
    protoTimerStart(ps, T2, LINK_ERROR_MS, true);
    reportIndicator(ctx, QD_IND_LINK, LINK_IND_ERROR);
    logLinkError(ps);
    return 1;
}

int reconnected(ProtocolState *ps) {
    // The device may have been stopped or paused meanwhile: ask it first.
    send(ps, CMD_GET_DEV_STATE);
    if (measuring(ps->state)) {
        protoTimerStop(ps, T2, true);
        protoTimerStart(ps, T3, STATE_POLL_MS, true);
    } else {
        protoTimerStop(ps, T3, true);
    }
    reportIndicator(ps->context, QD_IND_LINK, LINK_IND_CONNECTED);
    return 1;
}

int handleEvent(ProtocolState *ps, uint16_t event) {
    uint16_t ctx = ps->context;
    switch (event) {
    case INT_DISC:
        reportIndicator(ctx, QD_IND_LINK, LINK_IND_DISCONNECTED);
        reportUserMessage(ctx, MSG_LINK_LOST_IRDA, nullptr);
        return 0;
    case INT_CON:
        return reconnected(ps);
    case INT_T1:
        return replyMissing(ps);
    case INT_T2:
        if (ps->connected) reportUserMessage(ctx, MSG_LINK_LOST_IRDA, nullptr);
        return 0;
    case INT_T3:
        send(ps, CMD_GET_DEV_STATE);
        protoTimerStart(ps, T3, STATE_POLL_MS, true);
        return 1;
    default:
        return 1;
    }
}

// ---------------------------------------------------------------------------
// Replies and device states
// ---------------------------------------------------------------------------

// A reply with an error result: the user is told, the device is taken back
// to rest as far as it got, the connection ends.
int errorReply(ProtocolState *ps, uint8_t result) {
    protoLogError(ps->context, msgResultText(result));
    uint32_t mark = protoStopMark(ps);
    reportUserMessage(ps->context, result == 3 ? MSG_INCOMPATIBLE_STATE : MSG_DEVICE_ERROR, nullptr);
    // A stop the host made meanwhile has taken the device down already.
    if (protoStoppedSince(ps, mark)) return 0;
    if (ps->state > APP_GET_FIRM_INFO) sendNotif(ps, NOTIF_CLEAR);
    if (ps->state >= APP_MEASURE) send(ps, CMD_STOP_MES);
    return 0;
}

// The device measures (3) or is paused (5), whatever the context thought.
int deviceRunning(ProtocolState *ps, uint8_t device) {
    bool paused = device == DEVICE_PAUSED;
    uint32_t mark = protoStopMark(ps);
    reportIndicator(ps->context, QD_IND_PAUSE, paused ? 1 : 0);
    clearSignals(ps);
    if (!protoStoppedSince(ps, mark)) setState(ps, paused ? APP_MES_PAUSE : APP_MEASURE);
    return 1;
}

// REP_GET_DEV_STATE. replyDeadline: the reply timer before this reply.
int deviceStateReply(ProtocolState *ps, const uint8_t *body, uint32_t replyDeadline) {
    uint8_t device = body[DEV_STATE_AT];
    bool running = device == DEVICE_MEASURING || device == DEVICE_PAUSED;
    if (device == expectedDeviceState[ps->state] || (running && stopping(ps->state))) {
        // Outside a measurement nothing waits for this answer (a poll's
        // answer that crossed the stop, say): the wait for the replies the
        // state does wait for goes on, and so does the stop.
        if (!measuring(ps->state)) ps->timers[T1] = replyDeadline;
        return 1;
    }
    if (running) return deviceRunning(ps, device);
    if (measuring(ps->state)) {
        uint32_t mark = protoStopMark(ps);
        reportUserMessage(ps->context, MSG_STOPPED_ON_DEVICE, nullptr);
        if (!protoStoppedSince(ps, mark)) sendNotif(ps, NOTIF_CLEAR);
        return 0;
    }
    if (ps->state > APP_GET_FIRM_INFO) sendNotif(ps, NOTIF_CLEAR);
    if (ps->state >= APP_START_MES) send(ps, CMD_STOP_MES);
    return 0;
}

// ---------------------------------------------------------------------------
// Notifications of a measurement
// ---------------------------------------------------------------------------

// NOT_STATE_CHG: the device's button pauses and resumes; any other state
// means the measurement was ended on the device.
int stateChange(ProtocolState *ps, const uint8_t *body) {
    uint8_t device = body[STATE_CHG_AT];
    uint16_t ctx = ps->context;
    // A stop or close in a callback holds: the state stays as the host left it.
    uint32_t mark = protoStopMark(ps);
    switch (ps->state) {
    case APP_START_MES:
        if (device == DEVICE_MEASURING) return 1;
        break;
    case APP_MEASURE:
        if (device == DEVICE_MEASURING) return 1;
        if (device == DEVICE_PAUSED) {
            reportIndicator(ctx, QD_IND_PAUSE, 1);
            if (!protoStoppedSince(ps, mark)) setState(ps, APP_MES_PAUSE);
            return 1;
        }
        reportUserMessage(ctx, MSG_STOPPED_ON_DEVICE, nullptr);
        return 0;
    case APP_MES_PAUSE:
    case APP_ARTIFACT: {
        uint8_t resume = ps->state == APP_MES_PAUSE ? DEVICE_MEASURING : DEVICE_PAUSED;
        if (device != resume) break;
        if (ps->state == APP_ARTIFACT) clearSignals(ps);
        reportIndicator(ctx, QD_IND_PAUSE, resume == DEVICE_PAUSED ? 1 : 0);
        if (!protoStoppedSince(ps, mark)) setState(ps, resume == DEVICE_PAUSED ? APP_MES_PAUSE : APP_MEASURE);
        return 1;
    }
    default:
        protoLogError(ctx, "Message incompatible with current state");
        return 1;
    }
    if (ps->state == APP_START_MES) {
        protoLogError(ctx, "Message incompatible with current state");
        return 1;
    }
    reportUserMessage(ctx, MSG_STOPPED_ON_DEVICE, nullptr);
    if (!protoStoppedSince(ps, mark)) sendNotif(ps, NOTIF_CLEAR);
    return 0;
}

// Signal state of an artifact code b: 2 for 0 and 2, 1 for 4, else 0.
uint16_t artifactState(uint8_t b) {
    if (b == 0 || b == 2) return 2;
    return b == 4 ? 1 : 0;
}

// NOT_ARTIFACT in APP_MEASURE and APP_ARTIFACT.
int artifact(ProtocolState *ps, const uint8_t *body, uint32_t n) {
    uint8_t b = body[ARTIFACT_CODE_AT];
    uint32_t mark = protoStopMark(ps);
    if (b == ARTIFACT_END) {
        if (ps->state == APP_ARTIFACT) {
            clearSignals(ps);
            if (!protoStoppedSince(ps, mark)) setState(ps, APP_MEASURE);
        }
        return 1;
    }
    // The channel byte may be missing (the minimum length is 2) or name a
    // channel the device does not have: such a report is refused.
    uint8_t k = n > ARTIFACT_CHANNEL_AT ? body[ARTIFACT_CHANNEL_AT] : 0xFF;
    if (k != ARTIFACT_SUM && k != ARTIFACT_CHANNEL) {
        protoLogError(ps->context, "Artifact notification without a valid channel ignored");
        return 1;
    }
    uint16_t value = artifactState(b);
    if (k == ARTIFACT_SUM) {
        ps->brev.sumState = value;
    } else {
        ps->brev.channelState = value;
    }
    reportIndicator(ps->context, QD_IND_SIGNAL, (uint16_t)(value + 256 * k));
    if (!protoStoppedSince(ps, mark)) setState(ps, APP_ARTIFACT);
    return 1;
}

// ---------------------------------------------------------------------------
// Messages by state
// ---------------------------------------------------------------------------

const int NOT_EXPECTED = -1;
// Passed over without a log line; a reply of that kind leaves the reply
// timer as it was.
const int PASSED_OVER = 2;

// The device has identified itself: notifications on.
int deviceInfo(ProtocolState *ps, const uint8_t *body, uint32_t n) {
    if (!protoCheckIdentity(ps, body, n)) return 0;
    sendNotif(ps, NOTIF_ENABLE);
    setState(ps, APP_SET_NOTIF);
    return 1;
}

// The way to the measurement.
int setupMessage(ProtocolState *ps, uint8_t code, const uint8_t *body, uint32_t n) {
    switch (ps->state) {
    case APP_GET_DEV_INFO:
        if (code == REP_GET_DEV_INFO) return deviceInfo(ps, body, n);
        break;
    case APP_SET_NOTIF:
        if (code != REP_SET_NOTIF) break;
        sendStart(ps);
        setState(ps, APP_START_MES);
        return 1;
    case APP_START_MES:
        if (code == REP_START_MES) {
            setState(ps, APP_MEASURE);
            protoTimerStart(ps, T3, STATE_POLL_MS, true);
            return 1;
        }
        if (code == NOT_STATE_CHG) return stateChange(ps, body);
        break;
    default:
        break;
    }
    return NOT_EXPECTED;
}

// The measurement itself.
int measureMessage(ProtocolState *ps, uint8_t code, const uint8_t *body, uint32_t n) {
    if (!measuring(ps->state)) return NOT_EXPECTED;
    if (code == NOT_STATE_CHG) return stateChange(ps, body);
    if (ps->state == APP_MES_PAUSE) return NOT_EXPECTED;
    if (code == NOT_ARTIFACT) return artifact(ps, body, n);
    if (code == NOT_RAW_DATA) {
        samplesHandleRawData(ps, body, n);
        return 1;
    }
    return NOT_EXPECTED;
}

// The way back to rest. Where a second reply is still due when the first
// arrives, the reply timer guards the wait for it too.
int stopMessage(ProtocolState *ps, uint8_t code) {
    switch (ps->state) {
    case APP_CLEAR_NOTIF:
        if (code == NOT_RAW_DATA) return 1;
        if (code != REP_SET_NOTIF) break;
        setState(ps, APP_STOP_MES);
        protoTimerStart(ps, T1, REPLY_MS, true);
        return 1;
    case APP_STOP_MES:
        if (code == REP_STOP_MES) return 0;
        break;
    case APP_RESET_NOTIF:
        if (code != REP_SET_NOTIF) break;
        setState(ps, APP_WAIT_REP_TO_DISC);
        protoTimerStart(ps, T1, REPLY_MS, true);
        return 1;
    case APP_WAIT_REP_TO_DISC:
        // A reply that crossed the stop (REP_GET_DEV_INFO, say) must not
        // end the wait for REP_SET_NOTIF: if that one is lost, the reply
        // timer is all that ends the context.
        return code == REP_SET_NOTIF ? 0 : PASSED_OVER;
    default:
        break;
    }
    return NOT_EXPECTED;
}

int handleMessage(ProtocolState *ps, const uint8_t *body, uint32_t n) {
    uint8_t code = body[CODE_AT];
    bool reply = (code & CLASS_MASK) == REPLY_CLASS;
    uint32_t replyDeadline = ps->timers[T1];
    if (reply) {
        protoTimerStop(ps, T1, false);
        if (protoTimerRunning(ps, T2)) {
            protoTimerStop(ps, T2, true);
            uint32_t mark = protoStopMark(ps);
            reportIndicator(ps->context, QD_IND_LINK, LINK_IND_CONNECTED);
            // Stopped or closed by the host: the reply belongs to what came before.
            if (protoStoppedSince(ps, mark)) return 1;
        }
        if (body[RESULT_AT] != 0) return errorReply(ps, body[RESULT_AT]);
        if (code == REP_GET_DEV_STATE) return deviceStateReply(ps, body, replyDeadline);
    }
    int result = setupMessage(ps, code, body, n);
    if (result == NOT_EXPECTED) result = measureMessage(ps, code, body, n);
    if (result == NOT_EXPECTED) result = stopMessage(ps, code);
    if (result != NOT_EXPECTED && result != PASSED_OVER) return result;
    if (result == NOT_EXPECTED) protoLogError(ps->context, "Message incompatible with current state");
    // A reply the state does not wait for leaves the wait for the one it
    // does as it was.
    if (reply) ps->timers[T1] = replyDeadline;
    return 1;
}

// ---------------------------------------------------------------------------
// Engine step
// ---------------------------------------------------------------------------

const FamilyStep brevStepRules = {
    &brevTables, handleMessage, handleEvent, linkFailure, disconnect, nullptr,
    T3 + 1, INT_NONE, true, nullptr,
};

uint32_t brevStep(uint16_t ctx) { return protoStep(&protocolState[ctx], &brevStepRules); }

// ---------------------------------------------------------------------------
// Family operations
// ---------------------------------------------------------------------------

int32_t brevStart(uint16_t ctx, uint16_t mode) {
    if (!modeAccepted(mode)) return -2;
    EngineGuard guard;
    ProtocolState *ps = &protocolState[ctx];
    if (ps->state != APP_IDLE) return -1;
    ps->context = ctx;
    ps->mode = 0;
    ps->brev.sumState = 0;
    ps->brev.channelState = 0;
    ps->brev.phase = 0;
    ps->battery = BATTERY_AT_START;
    if (OpenLink(LINK_IRDA, nullptr, &ps->link, nullptr, 0) != 1) return 1;
    qdLog("# (%i) Connection socket: %p\n", ctx, (void *)ps->link.handle);
    for (int t = T1; t <= T3; t++) ps->timers[t] = 0;
    ps->pendingEvent = INT_NONE;
    rxReset(&ps->rx);
    ps->connected = 1;
    send(ps, CMD_GET_DEV_INFO);
    setState(ps, APP_GET_DEV_INFO);
    // Reported once the state is set, so that a stop in the callback holds.
    reportIndicator(ctx, QD_IND_LINK, LINK_IND_CONNECTED);
    return 0;
}

int32_t brevStop(uint16_t ctx) {
    EngineGuard guard;
    ProtocolState *ps = &protocolState[ctx];
    protoCountStop(ps);
    if (ps->state == APP_IDLE) return 0;
    protoTimerStop(ps, T2, true);
    protoTimerStop(ps, T3, true);
    switch (ps->state) {
    case APP_SET_NOTIF:
        sendNotif(ps, NOTIF_CLEAR);
        setState(ps, APP_RESET_NOTIF);
        break;
    case APP_START_MES:
    case APP_MEASURE:
    case APP_MES_PAUSE:
    case APP_ARTIFACT:
        sendNotif(ps, NOTIF_CLEAR);
        setState(ps, APP_CLEAR_NOTIF);
        send(ps, CMD_STOP_MES);
        break;
    case APP_CLEAR_NOTIF:
    case APP_STOP_MES:
        break;
    default:
        sendNotif(ps, NOTIF_CLEAR);
        setState(ps, APP_WAIT_REP_TO_DISC);
        break;
    }
    return 1;
}

int32_t brevLinkLost(uint16_t ctx, uint16_t disc) { return protoLinkLostNote("QB", ctx, disc); }

int32_t brevIndicator(uint16_t ctx, uint16_t type, uint16_t sub) {
    const ProtocolState *ps = &protocolState[ctx];
    switch (type) {
    case QD_IND_LINK:
        if (ps->state == APP_IDLE) return LINK_IND_DISCONNECTED;
        if (protoTimerRunning(ps, T2)) return LINK_IND_ERROR;
        return ps->connected ? LINK_IND_CONNECTED : LINK_IND_DISCONNECTED;
    case QD_IND_BATTERY:
        return ps->battery;
    case QD_IND_PAUSE:
        return ps->state == APP_MES_PAUSE ? 1 : 0;
    case QD_IND_SIGNAL:
        if (sub == 0) return ps->brev.sumState;
        if (sub == 1) return ps->brev.channelState;
        return -1;
    default:
        return -1;
    }
}

}  // namespace

const ProtocolFamilyOps brevOps = {brevStep, brevStart, brevStop, brevLinkLost, brevIndicator};
