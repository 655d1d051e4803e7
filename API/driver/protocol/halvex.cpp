// halvex.cpp - the protocol family of the Halvex models (model indices 1-14):
// connect, identity check, configuration write, notifications, measurement
// or test measurement, data watch, background reconnection, and the way back
// to rest when the host stops.
#include <cstdio>
#include <cstring>

#include "API/driver/frame/log.h"
#include "API/driver/frame/log_texts.h"
#include "API/driver/protocol/halvex_wire.h"
#include "API/driver/protocol/protocol.h"
#include "os/os.h"

using namespace halvex;

enum : uint16_t {
    APP_GET_DEV_INFO = 1,
    APP_GET_FIRM_INFO = 2,   // never entered
    APP_WRITE_CFG = 3,
    APP_SET_NOTIF = 4,
    APP_START_TEST = 5,
    APP_TEST = 6,
    APP_STOP_TEST = 7,
    APP_START_MES = 8,
    APP_MEASURE = 9,
    APP_STOP_MES = 10,
    APP_CLEAR_NOTIF = 11,
    APP_RESET_NOTIF = 12,
    HALVEX_STATES = 13,
};

static const char *const stateNames[HALVEX_STATES] = {
    "APP_IDLE",      "APP_GET_DEV_INFO", "APP_GET_FIRM_INFO", "APP_WRITE_CFG", "APP_SET_NOTIF",
    "APP_START_TEST", "APP_TEST",        "APP_STOP_TEST",     "APP_START_MES", "APP_MEASURE",
    "APP_STOP_MES",  "APP_CLEAR_NOTIF",  "APP_RESET_NOTIF",
};

// Device state byte of REP_GET_DEV_STATE that each state expects.
static const uint8_t expectedDeviceState[HALVEX_STATES] = {
    DEVICE_STATE_OFF,        // APP_IDLE
    DEVICE_STATE_READY,      // APP_GET_DEV_INFO
    DEVICE_STATE_READY,      // APP_GET_FIRM_INFO
    DEVICE_STATE_READY,      // APP_WRITE_CFG
    DEVICE_STATE_READY,      // APP_SET_NOTIF
    DEVICE_STATE_READY,      // APP_START_TEST
    DEVICE_STATE_TESTING,    // APP_TEST
    DEVICE_STATE_TESTING,    // APP_STOP_TEST
    DEVICE_STATE_READY,      // APP_START_MES
    DEVICE_STATE_MEASURING,  // APP_MEASURE
    DEVICE_STATE_MEASURING,  // APP_STOP_MES
    DEVICE_STATE_READY,      // APP_CLEAR_NOTIF
    DEVICE_STATE_READY,      // APP_RESET_NOTIF
};

// Timer slots.
enum { T1 = 0, T2 = 1, T3 = 2, T4 = 3, T5 = 4 };

// Battery state a connection starts with, until the device reports its own.
static const uint8_t BATTERY_AT_START = 3;
// A stop waits this long for a connection thread whose link it closed.
static const int THREAD_WAIT_STEPS = 20;
static const uint32_t THREAD_WAIT_STEP_MS = 2;

// A device on a cable: its texts name the cable, its link loss is waited
// for longer, and it reports no battery state at the connection.
static bool onCable(const ProtocolState *ps) {
    const LinkKind *kind = linkKind(ps->link.type);
    return kind != nullptr && kind->reach == LINK_REACH_CABLE;
}

// An open of this link on a connection thread ends when its handle is
// closed.
static bool openCutByClose(uint16_t type) {
    const LinkKind *kind = linkKind(type);
    return kind != nullptr && kind->openCutByClose;
}

static void setState(ProtocolState *ps, uint16_t state) { protoSetState(ps, state, stateNames); }

static void send(ProtocolState *ps, uint8_t code, uint32_t replyMs) {
    protoSend(ps, &halvexTables, code, nullptr, 0, replyMs);
}

static void sendNotif(ProtocolState *ps, uint8_t mask, uint32_t replyMs) {
    protoSend(ps, &halvexTables, CMD_SET_NOTIF, &mask, 1, replyMs);
}

static void logLinkError(const ProtocolState *ps) { protoLogError(ps->context, kLogLinkError); }

// ---------------------------------------------------------------------------
// Link failure and disconnect
// ---------------------------------------------------------------------------

static void linkFailure(ProtocolState *ps) {
    if (!ps->connected) return;
    if (ps->state == APP_MEASURE || ps->state == APP_TEST) {
        protoCloseLink(ps);
        rxReset(&ps->rx);
        ps->connected = 0;
        uint32_t mark = protoStopMark(ps);
        reportIndicator(ps->context, QD_IND_LINK, LINK_IND_ERROR);
        // Stopped or closed by the host: nothing reopens the link.
        if (protoStoppedSince(ps, mark)) return;
        protoTimerStop(ps, T4, false);
        logLinkError(ps);
        if (!protoThreadBusy(ps) && !reconnectionThreadStart(ps->context)) {
            // Nothing will reopen the link: end the measurement.
            ps->pendingEvent = INT_DISC;
        }
    } else {
        ps->connected = 0;
        ps->pendingEvent = INT_DISC;
    }
}

// Ends the connection after a handler gave up on it; a context that a host
// callback forced idle or closed meanwhile is left as the host left it.
static void disconnect(ProtocolState *ps) {
    if (ps->state == APP_IDLE) return;
    protoCloseLink(ps);
    if (ps->connected) reportIndicator(ps->context, QD_IND_LINK, LINK_IND_DISCONNECTED);
    ps->connected = 0;
    ps->serial[0] = '\0';
    ps->pendingEvent = INT_NONE;   // the idle record holds no connection thread's report
    protoTimerStop(ps, T5, true);
    setState(ps, APP_IDLE);
}

// ---------------------------------------------------------------------------
// Events
// ---------------------------------------------------------------------------

static int handleEvent(ProtocolState *ps, uint16_t event) {
    uint16_t ctx = ps->context;
    switch (event) {
    case INT_DISC:
        reportIndicator(ctx, QD_IND_LINK, LINK_IND_DISCONNECTED);
        reportUserMessage(ctx, onCable(ps) ? MSG_LINK_LOST_USB : MSG_LINK_LOST, nullptr);
        return 0;
    case INT_CON:
        reportIndicator(ctx, QD_IND_LINK, LINK_IND_CONNECTED);
        return 1;
    case INT_T1: {
        uint32_t mark = protoStopMark(ps);
        reportIndicator(ctx, QD_IND_LINK, LINK_IND_ERROR);
        logLinkError(ps);
        if (protoStoppedSince(ps, mark)) return 0;
        if (ps->state >= APP_START_TEST && ps->state <= APP_STOP_MES) send(ps, CMD_RESTART, 0);
        if (ps->connected) {
            reportUserMessage(ctx, onCable(ps) ? MSG_NOT_RESPONDING_USB : MSG_NOT_RESPONDING, nullptr);
        }
        return 0;
    }
    case INT_T2:
        if (ps->connected) {
            reportUserMessage(ctx, onCable(ps) ? MSG_LINK_LOST_USB : MSG_LINK_LOST, nullptr);
        }
        return 0;
    case INT_T3:
        if ((ps->state == APP_TEST || ps->state == APP_MEASURE) && ps->connected &&
            !protoTimerRunning(ps, T2)) {
            protoTimerStart(ps, T2, onCable(ps) ? LINK_LOSS_USB_MS : LINK_LOSS_MS, true);
            reportIndicator(ctx, QD_IND_LINK, LINK_IND_ERROR);
            protoTimerStop(ps, T4, false);
            logLinkError(ps);
        }
        return 1;
    case INT_T4:
        if (ps->connected) reportIndicator(ctx, QD_IND_LINK, LINK_IND_CONNECTED);
        return 1;
    case INT_T5:
        return 0;
    default:
        return 1;
    }
}

// ---------------------------------------------------------------------------
// Messages
// ---------------------------------------------------------------------------

// Configuration write after the device has identified itself.
static int deviceInfo(ProtocolState *ps, const uint8_t *body, uint32_t n) {
    uint16_t ctx = ps->context;
    if (!protoCheckIdentity(ps, body, n)) return 0;
    uint16_t modelIndex = protoContextModel(ctx);
    ModelFacts facts;
    if (!protoModelFacts(modelIndex, &facts)) return 0;

    samplesPrepare(ps, modelIndex, facts.channelStride);
    if (!onCable(ps)) {
        ps->battery = BATTERY_AT_START;
        uint32_t mark = protoStopMark(ps);
        reportIndicator(ctx, QD_IND_BATTERY, BATTERY_AT_START);
        // The host stopped or closed the context: no configuration goes out.
        if (protoStoppedSince(ps, mark)) return 1;
    }
    // The general bytes and the records of the model's channels.
    uint32_t channels = ps->channels < CONFIG_MAX_CHANNELS ? ps->channels : CONFIG_MAX_CHANNELS;
    uint32_t size = facts.imageSize - (CONFIG_MAX_CHANNELS - channels) * facts.channelStride;
    if (size > CONFIG_IMAGE_SIZE) size = CONFIG_IMAGE_SIZE;
    protoSend(ps, &halvexTables, CMD_WRITE_CFG, ps->image, size, REPLY_MS);
    setState(ps, APP_WRITE_CFG);
    return 1;
}

// Channels of the configuration that are on and analog.
static int analogChannelsOn(const ProtocolState *ps) {
    ModelFacts facts;
    uint32_t stride =
        protoModelFacts(protoContextModel(ps->context), &facts) ? facts.channelStride : CONFIG_CHANNEL_STRIDE;
    int analog = 0;
    for (uint32_t i = 0; i < ps->channels && i < CONFIG_MAX_CHANNELS; i++) {
        uint32_t at = CONFIG_CHANNELS_AT + i * stride;
        if (at + CHANNEL_KIND_AT + 1 > CONFIG_IMAGE_SIZE) break;
        const uint8_t *rec = ps->image + at;
        if ((rec[CHANNEL_ON_AT] & CHANNEL_ON_BIT) != 0 && rec[CHANNEL_KIND_AT] != CHANNEL_KIND_NOT_ANALOG) analog++;
    }
    return analog;
}

// An error reply: tell the user, take the device back to rest, close.
static int errorReply(ProtocolState *ps, const uint8_t *body) {
    uint16_t ctx = ps->context;
    uint8_t code = body[CODE_AT];
    uint8_t result = body[RESULT_AT];
    protoLogError(ctx, msgResultText(result));
    uint32_t mark = protoStopMark(ps);
    if (code == REP_WRITE_CFG && result == RESULT_INVALID_PARAMETER) {
        reportUserMessage(ctx, analogChannelsOn(ps) == 0 ? MSG_INVALID_CONFIG : MSG_UNSUPPORTED_CONFIG, nullptr);
    } else {
        reportUserMessage(ctx, result == RESULT_WRONG_STATE ? MSG_INCOMPATIBLE_STATE : MSG_DEVICE_ERROR, nullptr);
    }
    // A stop the host made meanwhile has taken the device down already.
    if (protoStoppedSince(ps, mark)) return 0;
    if (ps->state > APP_SET_NOTIF) sendNotif(ps, NOTIF_CLEAR, 0);
    if (ps->state == APP_MEASURE) {
        send(ps, CMD_STOP_MES, REPLY_MS);
        sendNotif(ps, NOTIF_CLEAR, 0);
        setState(ps, APP_STOP_MES);
    } else if (ps->state == APP_TEST) {
        send(ps, CMD_STOP_TEST, REPLY_MS);
        sendNotif(ps, NOTIF_CLEAR, 0);
        setState(ps, APP_STOP_TEST);
    }
    return 0;
}

// Any message ends a link error that the data watch raised; the watch goes
// on. True when the host stopped or closed the context in its callback.
static bool linkErrorCleared(ProtocolState *ps) {
    if (!protoTimerRunning(ps, T2)) return false;
    protoTimerStop(ps, T2, true);
    uint32_t mark = protoStopMark(ps);
    reportIndicator(ps->context, QD_IND_LINK, LINK_IND_CONNECTED);
    if (protoStoppedSince(ps, mark)) return true;
    if ((ps->state == APP_MEASURE || ps->state == APP_TEST) && !protoTimerRunning(ps, T3)) {
        protoTimerStart(ps, T3, DATA_WATCH_MS, false);
    }
    return false;
}

// REP_GET_DEV_STATE: a device in the state the context expects keeps the
// reply timer running (replyDeadline: its deadline before the reply).
static int deviceStateReply(ProtocolState *ps, const uint8_t *body, uint32_t replyDeadline) {
    if (body[DEV_STATE_AT] == expectedDeviceState[ps->state]) {
        ps->timers[T1] = replyDeadline;
        return 1;
    }
    uint32_t mark = protoStopMark(ps);
    reportUserMessage(ps->context, MSG_INCOMPATIBLE_STATE, nullptr);
    if (!protoStoppedSince(ps, mark)) send(ps, CMD_RESTART, 0);
    return 0;
}

static int eventNotification(ProtocolState *ps, const uint8_t *body, uint32_t n) {
    uint16_t ctx = ps->context;
    switch (body[EVENT_AT]) {
    case EVENT_BATTERY:
        // The battery state follows the event byte; a message without it
        // carries no state.
        if (n > EVENT_BATTERY_AT) {
            ps->battery = body[EVENT_BATTERY_AT];
            reportIndicator(ctx, QD_IND_BATTERY, ps->battery);
        }
        break;
    case EVENT_LINK_ERROR: {
        uint32_t mark = protoStopMark(ps);
        reportIndicator(ctx, QD_IND_LINK, LINK_IND_ERROR);
        if (protoStoppedSince(ps, mark)) break;
        protoTimerStart(ps, T4, LINK_ERROR_MS, false);
        logLinkError(ps);
        break;
    }
    case EVENT_LINK_FAILURE:
        linkFailure(ps);
        break;
    case EVENT_HARDWARE:
        reportUserMessage(ctx, MSG_HARDWARE_PROBLEM, nullptr);
        break;
    default:
        break;
    }
    return 1;
}

// What a message that the state waits for does: the handler's result, or -1
// when the state has no use for the message.
static const int NOT_EXPECTED = -1;

// The way to the measurement: configuration, notifications, start.
static int setupMessage(ProtocolState *ps, uint8_t code, const uint8_t *body, uint32_t n) {
    switch (ps->state) {
    case APP_GET_DEV_INFO:
        if (code == REP_GET_DEV_INFO) return deviceInfo(ps, body, n);
        break;
    case APP_WRITE_CFG:
        if (code != REP_WRITE_CFG) break;
        sendNotif(ps, NOTIF_ENABLE, REPLY_MS);
        setState(ps, APP_SET_NOTIF);
        return 1;
    case APP_SET_NOTIF:
        if (code != REP_SET_NOTIF) break;
        if (ps->mode == QD_START_TEST) {
            send(ps, CMD_START_TEST, REPLY_MS);
            setState(ps, APP_START_TEST);
        } else {
            send(ps, CMD_START_MES, REPLY_MS);
            setState(ps, APP_START_MES);
        }
        return 1;
    case APP_START_TEST:
        if (code != REP_START_TEST) break;
        setState(ps, APP_TEST);
        protoTimerStart(ps, T3, DATA_WATCH_MS, true);
        return 1;
    case APP_START_MES:
        if (code != REP_START_MES) break;
        setState(ps, APP_MEASURE);
        protoTimerStart(ps, T3, DATA_WATCH_MS, true);
        return 1;
    default:
        break;
    }
    return NOT_EXPECTED;
}

// The measurement and the way back to rest.
static int runMessage(ProtocolState *ps, uint8_t code, const uint8_t *body, uint32_t n) {
    switch (ps->state) {
    case APP_TEST:
    case APP_MEASURE:
        if (code != NOT_DATA) break;
        samplesHandleData(ps, body, n);
        return 1;
    case APP_STOP_TEST:
    case APP_STOP_MES: {
        uint8_t stopReply = ps->state == APP_STOP_TEST ? REP_STOP_TEST : REP_STOP_MES;
        if (code == stopReply) {
            protoTimerStart(ps, T1, REPLY_MS, true);
            setState(ps, APP_CLEAR_NOTIF);
            return 1;
        }
        // Data still in flight after the stop is dropped without a word.
        if (code == NOT_DATA) return 1;
        break;
    }
    case APP_CLEAR_NOTIF:
        if (code == REP_SET_NOTIF) return 0;
        break;
    case APP_RESET_NOTIF:
        if (code != REP_SET_NOTIF) break;
        setState(ps, APP_CLEAR_NOTIF);
        return 1;
    default:
        break;
    }
    return NOT_EXPECTED;
}

// A message the state has no use for is logged and passed over; a reply
// among them puts the reply timer back (replyDeadline).
static int unexpectedMessage(ProtocolState *ps, uint8_t code, bool reply, uint32_t replyDeadline) {
    uint16_t ctx = ps->context;
    if (code == NOT_DATA) {
        const char *name = msgName(&halvexTables, NOT_DATA);
        if (ctx > 0) {
            qdLog("> (%i) %s ...\n", ctx, name);
        } else {
            qdLog("> %s ...\n", name);
        }
    }
    protoLogError(ctx, "Received message is incompatible with current state");
    if (reply) ps->timers[T1] = replyDeadline;
    return 1;
}

static int handleMessage(ProtocolState *ps, const uint8_t *body, uint32_t n) {
    uint8_t code = body[CODE_AT];
    bool reply = (code & CLASS_MASK) == REPLY_CLASS;
    // Stopped or closed by the host: the message belongs to what came before.
    if (linkErrorCleared(ps)) return 1;

    // A reply the state is not waiting for must not cancel the wait for the
    // one it is: such replies put the reply timer back.
    uint32_t replyDeadline = ps->timers[T1];
    if (reply) {
        protoTimerStop(ps, T1, false);
        if (body[RESULT_AT] != RESULT_OK) return errorReply(ps, body);
    }
    if (code == REP_GET_DEV_STATE) return deviceStateReply(ps, body, replyDeadline);
    if (code == NOT_EVENT) return eventNotification(ps, body, n);

    int result = setupMessage(ps, code, body, n);
    if (result == NOT_EXPECTED) result = runMessage(ps, code, body, n);
    if (result == NOT_EXPECTED) result = unexpectedMessage(ps, code, reply, replyDeadline);
    return result;
}

// ---------------------------------------------------------------------------
// Family operations
// ---------------------------------------------------------------------------

// A connection thread that did not connect leaves INT_DISC on the idle
// record: the host hears IND_LINK 0 from the engine step.
static void connectionFailed(ProtocolState *ps, uint16_t ctx) {
    if (ps->pendingEvent != INT_DISC) return;
    ps->pendingEvent = INT_NONE;
    reportIndicator(ctx, QD_IND_LINK, LINK_IND_DISCONNECTED);
}

static void stepIdle(ProtocolState *ps) { connectionFailed(ps, ps->context); }

static const FamilyStep halvexStepRules = {
    &halvexTables, handleMessage, handleEvent, linkFailure, disconnect, stepIdle,
    T5 + 1, INT_T4, false, kLogIncorrectFormat,
};

static uint32_t halvexStep(uint16_t ctx) { return protoStep(&protocolState[ctx], &halvexStepRules); }

// Start modes a Halvex measurement knows (beside the background bit): the
// sample stream decodes only these.
static bool modeAccepted(uint16_t mode) {
    uint16_t run = (uint16_t)(mode & ~QD_START_BACKGROUND);
    return run == 0 || run == QD_START_TEST;
}

static int32_t halvexStart(uint16_t ctx, uint16_t mode) {
    if (!modeAccepted(mode)) return -2;
    EngineGuard guard;
    ProtocolState *ps = &protocolState[ctx];
    if (ps->state != APP_IDLE) return -1;
    ps->context = ctx;
    // A connection thread still running owns the record: a second
    // connection must not be started beside it, nor its settings changed.
    if (protoThreadBusy(ps)) return (mode & QD_START_BACKGROUND) ? 3 : -1;
    ps->closedByStop = LINK_INVALID_HANDLE;

    ModelFacts facts;
    if (!protoModelFacts(protoContextModel(ctx), &facts) || !facts.haveChannels || !facts.haveLinkType) {
        return -1;
    }
    ps->channels = facts.channels;
    ps->link.type = facts.linkType;
    const LinkKind *kind = linkKind(facts.linkType);
    if (openCutByClose(facts.linkType)) ps->link.handle = LINK_INVALID_HANDLE;
    if (kind != nullptr && kind->minOsCode > 0 && protoOsVersionCode() < kind->minOsCode) return 4;

    const uint8_t *image = protoContextImage(ctx);
    if (image != nullptr) memcpy(ps->image, image, CONFIG_IMAGE_SIZE);
    ps->battery = BATTERY_AT_START;
    ps->mode = (uint16_t)(mode & ~QD_START_BACKGROUND);
    for (int t = T1; t <= T5; t++) ps->timers[t] = 0;
    ps->pendingEvent = INT_NONE;
    rxReset(&ps->rx);

    if (mode & QD_START_BACKGROUND) {
        const char *id = protoContextDeviceId(ctx);
        snprintf(ps->deviceId, sizeof ps->deviceId, "%s", id != nullptr ? id : "");
        ps->cancelConnect = 0;
        return connectionThreadStart(ctx) ? 3 : 2;
    }

    const char *id = protoContextDeviceId(ctx);
    snprintf(ps->deviceId, sizeof ps->deviceId, "%s", id != nullptr ? id : "");
    if (OpenLink(ps->link.type, ps->deviceId, &ps->link, ps->ident, IDENT_TEXT_SIZE) != 1) return 1;
    qdLog("# (%i) Connection socket/handle: %p\n", ctx, (void *)ps->link.handle);
    ps->connected = 1;
    send(ps, CMD_GET_DEV_INFO, REPLY_MS);
    setState(ps, APP_GET_DEV_INFO);
    // Reported once the state is set, so that a stop in the callback holds.
    reportIndicator(ctx, QD_IND_LINK, LINK_IND_CONNECTED);
    return 0;
}

static int32_t halvexStop(uint16_t ctx) {
    ProtocolState *ps = &protocolState[ctx];
    if (protoThreadBusy(ps)) {
        // A wireless open in progress is cut short by closing its socket.
        // The handle is remembered as closed, so that nobody closes it again
        // (its number may belong to another socket by then). A link that
        // the thread has already put into the record (connected) is not in
        // progress any more, although the thread has yet to end: it is the
        // context's own, and the stop below takes the device down over it.
        {
            EngineGuard guard;
            LinkHandle link = ps->link;
            if (openCutByClose(link.type) && link.handle != LINK_INVALID_HANDLE && !ps->connected) {
                ps->closedByStop = link.handle;
                CloseLink(&link);
            }
        }
        for (int i = 0; i < THREAD_WAIT_STEPS && protoThreadBusy(ps); i++) osSleep(THREAD_WAIT_STEP_MS);
    }

    EngineGuard guard;
    if (ps->closedByStop != LINK_INVALID_HANDLE) {
        if (ps->link.handle == ps->closedByStop) ps->link.handle = LINK_INVALID_HANDLE;
        if (!protoThreadBusy(ps)) ps->closedByStop = LINK_INVALID_HANDLE;
    }
    // A connection thread that is still opening must not start a
    // measurement once it gets through.
    protoCountStop(ps);
    if (protoThreadBusy(ps)) ps->cancelConnect = 1;
    if (ps->state == APP_IDLE) return 0;
    protoTimerStop(ps, T2, true);
    protoTimerStop(ps, T3, false);
    switch (ps->state) {
    case APP_SET_NOTIF:
        sendNotif(ps, NOTIF_CLEAR, 0);
        setState(ps, APP_RESET_NOTIF);
        protoTimerStart(ps, T5, STOP_WAIT_MS, true);
        break;
    case APP_START_TEST:
    case APP_TEST:
        send(ps, CMD_STOP_TEST, REPLY_MS);
        sendNotif(ps, NOTIF_CLEAR, 0);
        protoTimerStart(ps, T5, STOP_WAIT_MS, true);
        setState(ps, APP_STOP_TEST);
        break;
    case APP_START_MES:
    case APP_MEASURE:
        send(ps, CMD_STOP_MES, REPLY_MS);
        sendNotif(ps, NOTIF_CLEAR, 0);
        protoTimerStart(ps, T5, STOP_WAIT_MS, true);
        setState(ps, APP_STOP_MES);
        break;
    case APP_STOP_MES:
    case APP_CLEAR_NOTIF:
        break;
    default:
        sendNotif(ps, NOTIF_CLEAR, 0);
        setState(ps, APP_CLEAR_NOTIF);
        protoTimerStart(ps, T5, STOP_WAIT_MS, true);
        break;
    }
    return 1;
}

static int32_t halvexLinkLost(uint16_t ctx, uint16_t disc) { return protoLinkLostNote("QH", ctx, disc); }

static int32_t halvexIndicator(uint16_t ctx, uint16_t type, uint16_t sub) {
    const ProtocolState *ps = &protocolState[ctx];
    switch (type) {
    case QD_IND_LINK: {
        bool busy = protoThreadBusy(ps);
        if (busy && ps->state > APP_GET_DEV_INFO) return LINK_IND_ERROR;
        if (!busy && ps->state == APP_IDLE) return LINK_IND_DISCONNECTED;
        if (protoTimerRunning(ps, T2) || protoTimerRunning(ps, T4)) return LINK_IND_ERROR;
        if (busy) return LINK_IND_CONNECTING;
        return ps->connected ? LINK_IND_CONNECTED : LINK_IND_DISCONNECTED;
    }
    case QD_IND_BATTERY:
        return ps->battery;
    case QD_IND_PAUSE:
        return 0;
    case QD_IND_SIGNAL:
        if (sub == 0) return ps->staging.sumState;
        if (sub <= ps->channels && sub <= STAGING_CHANNELS) return ps->staging.blocks[sub - 1].signalState;
        return -1;
    default:
        return -1;
    }
}

const ProtocolFamilyOps halvexOps = {halvexStep, halvexStart, halvexStop, halvexLinkLost, halvexIndicator};

// The connection thread's work once the link is open (called under the
// engine lock): connected, IND_LINK 1 is left to the caller, device
// information requested.
void halvexConnected(ProtocolState *ps) {
    qdLog("# (%i) Connection socket/handle: %p\n", ps->context, (void *)ps->link.handle);
    ps->connected = 1;
    send(ps, CMD_GET_DEV_INFO, REPLY_MS);
    setState(ps, APP_GET_DEV_INFO);
}
