// step.cpp - the engine step that both device families share: the event a
// thread or a failure left, the messages waiting on the link and the expired
// timers, each handed to the family's handlers.
#include <cstdint>

#include "API/driver/frame/log_texts.h"
#include "API/driver/protocol/codec.h"
#include "API/driver/protocol/protocol.h"
#include "os/os.h"

// At most ten messages per context and step, so that one busy link cannot
// starve the others, and at most this many bytes, so that a flooding link
// (or an endless run of noise) cannot keep one step going.
static const int MAX_MESSAGES_PER_STEP = 10;
static const int MAX_BYTES_PER_STEP = 8192;

// How a step goes on after reading the link.
enum ReadOutcome {
    READ_ON,     // go on to the timers
    READ_DONE,   // the context is done (disconnected or idle)
    READ_BUSY,   // a connection thread owns the record now
};

// Handles one event; false when the context is done.
static bool runEvent(ProtocolState *ps, const FamilyStep *family, uint16_t event, bool log) {
    if (log) protoLogEvent(ps->context, event);
    if (family->event(ps, event) == 0) {
        family->disconnect(ps);
        return false;
    }
    return ps->state != APP_IDLE;
}

// Reads and handles up to ten messages. Reading stops early when the link
// is gone, an event waits to be handled first or no byte waits.
static ReadOutcome readMessages(ProtocolState *ps, const FamilyStep *family) {
    uint16_t ctx = ps->context;
    int handled = 0;
    for (int bytes = 0; handled < MAX_MESSAGES_PER_STEP && bytes < MAX_BYTES_PER_STEP; bytes++) {
        if (ps->link.handle == LINK_INVALID_HANDLE || ps->pendingEvent != INT_NONE) break;
        uint8_t b = 0;
        int32_t got = RecvLink(&ps->link, &b);
        if (got < 0) {
            protoLogError(ctx, kLogReceivingError);
            family->linkFailure(ps);
            return protoThreadBusy(ps) ? READ_BUSY : READ_ON;
        }
        if (got == 0) break;
        uint32_t n = 0;
        RxEvent e = rxFeed(&ps->rx, b, ctx, &n);
        if (e == RX_TOO_LONG && family->tooLongFailsLink) {
            family->linkFailure(ps);
            break;
        }
        if (e != RX_FRAME) continue;
        msgTrace(family->tables, ctx, ps->rx.body, n);
        handled++;
        bool accepted = msgValidate(family->tables, ctx, ps->rx.body, n);
        if (!accepted && family->rejectText != nullptr) protoLogError(ctx, family->rejectText);
        if (!accepted || family->message(ps, ps->rx.body, n) == 0) {
            family->disconnect(ps);
            return READ_DONE;
        }
        // A host callback may have stopped or closed the context meanwhile.
        if (ps->state == APP_IDLE) return READ_DONE;
        if (protoThreadBusy(ps)) return READ_BUSY;
    }
    return READ_ON;
}

uint32_t protoStep(ProtocolState *ps, const FamilyStep *family) {
    if (protoThreadBusy(ps)) return 1;
    if (ps->state == APP_IDLE) {
        if (family->idle != nullptr) family->idle(ps);
        return 0;
    }
    if (ps->pendingEvent != INT_NONE) {
        uint16_t event = ps->pendingEvent;
        ps->pendingEvent = INT_NONE;
        if (!runEvent(ps, family, event, true)) return 0;
    }
    ReadOutcome read = readMessages(ps, family);
    if (read != READ_ON) return read == READ_BUSY ? 1 : 0;
    uint32_t now = osClockMs();
    for (int t = 0; t < family->timers; t++) {
        if (!protoTimerDue(ps, t, now)) continue;
        ps->timers[t] = 0;
        uint16_t event = (uint16_t)(INT_T1 + t);
        if (!runEvent(ps, family, event, event != family->quietTimer)) return 0;
    }
    return 1;
}
