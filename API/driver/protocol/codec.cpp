// codec.cpp - receiver, validation, trace lines and frame building shared by
// both device families and the device search.
#include "API/driver/protocol/codec.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "API/driver/frame/log.h"
#include "API/driver/frame/log_texts.h"
#include "API/driver/protocol/brev_wire.h"
#include "API/driver/protocol/halvex_wire.h"

// ---------------------------------------------------------------------------
// Code tables
// ---------------------------------------------------------------------------

// Halvex: names and minimum lengths made from the lists of the wire format.
#define HALVEX_CMD_NAME(name, minimum) "CMD_" #name,
#define HALVEX_REP_NAME(name, minimum) "REP_" #name,
#define HALVEX_NOT_NAME(name, minimum) "NOT_" #name,
#define HALVEX_NO_NAME(name, minimum) "",
#define HALVEX_MINIMUM(name, minimum) minimum,
static const char *const halvexCommandNames[halvex::MESSAGE_COUNT] = {
    HALVEX_MESSAGES(HALVEX_CMD_NAME, HALVEX_NO_NAME)};
static const char *const halvexReplyNames[halvex::MESSAGE_COUNT] = {
    HALVEX_MESSAGES(HALVEX_REP_NAME, HALVEX_NO_NAME)};
static const uint8_t halvexReplyMinimum[halvex::MESSAGE_COUNT] = {HALVEX_MESSAGES(HALVEX_MINIMUM, HALVEX_MINIMUM)};
static const char *const halvexNotificationNames[halvex::NOTIFICATION_COUNT] = {
    HALVEX_NOTIFICATIONS(HALVEX_NOT_NAME)};
static const uint8_t halvexNotificationMinimum[halvex::NOTIFICATION_COUNT] = {HALVEX_NOTIFICATIONS(HALVEX_MINIMUM)};
#undef HALVEX_CMD_NAME
#undef HALVEX_REP_NAME
#undef HALVEX_NOT_NAME
#undef HALVEX_NO_NAME
#undef HALVEX_MINIMUM

// Brev: the same from the Brev lists.
#define BREV_CMD_NAME(name, minimum) "CMD_" #name,
#define BREV_REP_NAME(name, minimum) "REP_" #name,
#define BREV_NOT_NAME(name, minimum) "NOT_" #name,
#define BREV_MINIMUM(name, minimum) minimum,
static const char *const brevCommandNames[brev::MESSAGE_COUNT] = {BREV_MESSAGES(BREV_CMD_NAME)};
static const char *const brevReplyNames[brev::MESSAGE_COUNT] = {BREV_MESSAGES(BREV_REP_NAME)};
static const uint8_t brevReplyMinimum[brev::MESSAGE_COUNT] = {BREV_MESSAGES(BREV_MINIMUM)};
static const char *const brevNotificationNames[brev::NOTIFICATION_COUNT] = {BREV_NOTIFICATIONS(BREV_NOT_NAME)};
static const uint8_t brevNotificationMinimum[brev::NOTIFICATION_COUNT] = {BREV_NOTIFICATIONS(BREV_MINIMUM)};
#undef BREV_CMD_NAME
#undef BREV_REP_NAME
#undef BREV_NOT_NAME
#undef BREV_MINIMUM

// The device search knows only the device information exchange (index 0 of
// the Halvex lists); to it even the first notification is not implemented.
static const uint8_t searchNotificationMinimum[1] = {0};

const MessageTables halvexTables = {
    halvexCommandNames, halvex::MESSAGE_COUNT,
    halvexReplyNames, halvexReplyMinimum, halvex::MESSAGE_COUNT,
    halvexNotificationNames, halvexNotificationMinimum, halvex::NOTIFICATION_COUNT,
    true, true, halvex::NOT_DATA, true,
};

const MessageTables brevTables = {
    brevCommandNames, brev::MESSAGE_COUNT,
    brevReplyNames, brevReplyMinimum, brev::MESSAGE_COUNT,
    brevNotificationNames, brevNotificationMinimum, brev::NOTIFICATION_COUNT,
    false, false, brev::NOT_RAW_DATA, true,
};

const MessageTables searchTables = {
    halvexCommandNames, 1,
    halvexReplyNames, halvexReplyMinimum, 1,
    halvexNotificationNames, searchNotificationMinimum, 1,
    true, true, 0, false,
};

// ---------------------------------------------------------------------------
// Log helpers
// ---------------------------------------------------------------------------

static void contextPrefix(uint16_t ctx, char *buffer, size_t size) {
    if (ctx > 0) {
        snprintf(buffer, size, "(%i) ", (int)ctx);
    } else {
        buffer[0] = '\0';
    }
}

void protoLogError(uint16_t ctx, const char *text) {
    char prefix[16];
    contextPrefix(ctx, prefix, sizeof prefix);
    if (text[0] == '!') text++;
    qdLog("!%s%s\n", prefix, text);
}

void protoLogTrace(uint16_t ctx, const char *format, ...) {
    char prefix[16];
    contextPrefix(ctx, prefix, sizeof prefix);
    char text[240];
    va_list args;
    va_start(args, format);
    vsnprintf(text, sizeof text, format, args);
    va_end(args);
    qdLog("# %s%s", prefix, text);
}

// ---------------------------------------------------------------------------
// Receiver
// ---------------------------------------------------------------------------

RxEvent rxFeed(Receiver *rx, uint8_t b, uint16_t ctx, uint32_t *length) {
    RxEvent e = rxTake(rx, b, MSG_MAX_BODY, length);
    if (e == RX_TOO_LONG) protoLogError(ctx, kLogMessageTooLong);
    return e;
}

// ---------------------------------------------------------------------------
// Validation and traces
// ---------------------------------------------------------------------------

const char *msgName(const MessageTables *t, uint8_t code) {
    uint8_t index = code & 0x3F;
    if (code < 0x40) {
        return index < t->commandCount ? t->commandNames[index] : nullptr;
    }
    if (code < 0x80) return nullptr;
    if (code < 0xC0) {
        return index < t->replyCount ? t->replyNames[index] : nullptr;
    }
    return index < t->notificationCount ? t->notificationNames[index] : nullptr;
}

static void validationError(const MessageTables *t, uint16_t ctx, const char *text) {
    char line[64];
    snprintf(line, sizeof line, "%s%s", text, t->textsWithPeriod ? "." : "");
    protoLogError(ctx, line);
}

bool msgValidate(const MessageTables *t, uint16_t ctx, const uint8_t *body, uint32_t n) {
    if (n < 1) {
        validationError(t, ctx, kLogMessageTooShort);
        return false;
    }
    uint8_t code = body[0];
    if (code < 0x80) {
        validationError(t, ctx, kLogInvalidDirection);
        return false;
    }
    bool notification = (code & 0x40) != 0;
    uint8_t index = code & 0x3F;
    uint8_t count = notification ? t->notificationCount : t->replyCount;
    if (index >= count) {
        validationError(t, ctx, kLogUnknownMessage);
        return false;
    }
    uint8_t minimum = notification ? t->notificationMinimum[index] : t->replyMinimum[index];
    if (minimum == 0) {
        validationError(t, ctx, kLogUnimplementedMessage);
        return false;
    }
    if (n < minimum) {
        bool errorReply = !notification && t->shortErrorReplies && n >= 2 && body[1] != 0;
        if (!errorReply) {
            validationError(t, ctx, kLogMessageTooShort);
            return false;
        }
    }
    return true;
}

void msgTrace(const MessageTables *t, uint16_t ctx, const uint8_t *body, uint32_t n) {
    if (n < 1) return;
    uint8_t code = body[0];
    if (t->untracedCode != 0 && code == t->untracedCode) return;
    if (code >= 0xC0 && !t->traceNotifications) return;

    // The whole line is built first and then written in pieces that stay
    // below the log writer's entry limit.
    char line[32 + 3 * 256];
    int pos = snprintf(line, sizeof line, "%c ", code < 0x80 ? '<' : '>');
    if (ctx > 0) pos += snprintf(line + pos, sizeof line - (size_t)pos, "(%i) ", (int)ctx);
    const char *name = msgName(t, code);
    uint32_t first = 0;
    if (name != nullptr) {
        if (name[0] != '\0') pos += snprintf(line + pos, sizeof line - (size_t)pos, "%s ", name);
        first = 1;
    }
    if (n > 256) n = 256;
    for (uint32_t i = first; i < n; i++) {
        pos += snprintf(line + pos, sizeof line - (size_t)pos, "%02x ", body[i]);
    }
    line[pos++] = '\n';
    line[pos] = '\0';
    const int piece = 249;
    for (int at = 0; at < pos; at += piece) {
        int len = pos - at < piece ? pos - at : piece;
        qdLog("%.*s", len, line + at);
    }
}

const char *msgResultText(uint8_t result) {
    switch (result) {
    case 1: return "!Unknown (or not implemented) device command";
    case 2: return "!Invalid parameter(s) of the device command";
    case 3: return "!The command cannot be executed in a current device state";
    case 4: return "!Device resources required by the command are unavailable or insufficient";
    case 5: return "!Invalid data format of the command received by device";
    default: return "Unknown error of a message";
    }
}

uint32_t msgBuild(uint8_t *tx, uint8_t code, const uint8_t *payload, uint32_t payloadLength) {
    return frameBuild(tx, MSG_MAX_BODY, code, payload, payloadLength);
}
