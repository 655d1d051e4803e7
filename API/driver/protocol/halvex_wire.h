// halvex_wire.h - the Halvex device's wire format as the driver speaks it:
// message codes and their trace names, the layouts of the replies and events
// the driver reads, result values, event sub-codes, notification masks, the
// channel records of the configuration image and the reply times.
//
// Frame and code classes are those of every family (codec.h): a command has
// the code of its index, its reply 0x80 | index, a notification 0xC0 | index.
#pragma once

#include <cstdint>

// ---------------------------------------------------------------------------
// Message codes. One list per class, in index order; each entry gives the
// name and the minimum length of the reply or notification (0: not
// implemented, such a message is refused). The codes, the trace names and
// the minimum lengths are all made from these lists (here and in codec.cpp),
// so that they cannot disagree. HALVEX_GAP stands for an index that has no
// name.
// ---------------------------------------------------------------------------
#define HALVEX_MESSAGES(HALVEX_NAMED, HALVEX_GAP) \
    HALVEX_NAMED(GET_DEV_INFO, 69)                \
    HALVEX_NAMED(GET_FIRM_INFO, 32)               \
    HALVEX_NAMED(GET_BOOT_INFO, 0)                \
    HALVEX_NAMED(GET_DEV_STATE, 3)                \
    HALVEX_NAMED(SET_NOTIF, 2)                    \
    HALVEX_NAMED(SET_RTC, 2)                      \
    HALVEX_NAMED(READ_CFG, 22)                    \
    HALVEX_NAMED(WRITE_CFG, 2)                    \
    HALVEX_NAMED(START_MES, 2)                    \
    HALVEX_NAMED(TURN_OFF, 2)                     \
    HALVEX_NAMED(STOP_MES, 2)                     \
    HALVEX_NAMED(START_TEST, 2)                   \
    HALVEX_NAMED(STOP_TEST, 2)                    \
    HALVEX_NAMED(RESTART, 2)                      \
    HALVEX_NAMED(SET_GEN, 2)                      \
    HALVEX_NAMED(CALIB, 0)                        \
    HALVEX_NAMED(CHECK, 0)                        \
    HALVEX_NAMED(BOOT, 0)                         \
    HALVEX_NAMED(WRITE_FIRM, 0)                   \
    HALVEX_GAP(UNNAMED_13, 0)                     \
    HALVEX_NAMED(START_FIRM, 0)

#define HALVEX_NOTIFICATIONS(HALVEX_NAMED) \
    HALVEX_NAMED(EVENT, 2)                 \
    HALVEX_NAMED(DATA, 5)                  \
    HALVEX_NAMED(EXT_DATA, 0)

namespace halvex {

const uint8_t REPLY_CLASS = 0x80;
const uint8_t NOTIFICATION_CLASS = 0xC0;
const uint8_t CLASS_MASK = 0xC0;

// CMD_* = index.
enum : uint8_t {
#define HALVEX_CMD_CODE(name, minimum) CMD_##name,
#define HALVEX_CMD_GAP(name, minimum) CMD_##name,
    HALVEX_MESSAGES(HALVEX_CMD_CODE, HALVEX_CMD_GAP)
#undef HALVEX_CMD_CODE
#undef HALVEX_CMD_GAP
    MESSAGE_COUNT
};

// REP_* = 0x80 | index.
enum : uint8_t {
#define HALVEX_REP_CODE(name, minimum) REP_##name = REPLY_CLASS | CMD_##name,
#define HALVEX_REP_GAP(name, minimum)
    HALVEX_MESSAGES(HALVEX_REP_CODE, HALVEX_REP_GAP)
#undef HALVEX_REP_CODE
#undef HALVEX_REP_GAP
};

// NOT_* = 0xC0 | index.
enum : uint8_t {
#define HALVEX_NOT_INDEX(name, minimum) NOT_INDEX_##name,
    HALVEX_NOTIFICATIONS(HALVEX_NOT_INDEX)
#undef HALVEX_NOT_INDEX
    NOTIFICATION_COUNT
};
enum : uint8_t {
#define HALVEX_NOT_CODE(name, minimum) NOT_##name = NOTIFICATION_CLASS | NOT_INDEX_##name,
    HALVEX_NOTIFICATIONS(HALVEX_NOT_CODE)
#undef HALVEX_NOT_CODE
};

static_assert(CMD_START_FIRM == 0x14 && MESSAGE_COUNT == 21, "the message list keeps its indices");
static_assert(NOT_DATA == 0xC1 && NOTIFICATION_COUNT == 3, "the notification list keeps its indices");

// ---------------------------------------------------------------------------
// Message layouts (byte offsets within the message, code at 0)
// ---------------------------------------------------------------------------
const uint32_t CODE_AT = 0;
// Every reply: the result byte; the reply's own data follows it.
const uint32_t RESULT_AT = 1;

// REP_GET_DEV_INFO: three NUL-terminated text fields.
const uint32_t DEV_INFO_MAKER_AT = 2;
const uint32_t DEV_INFO_MAKER_SIZE = 33;
const uint32_t DEV_INFO_MODEL_AT = 35;
const uint32_t DEV_INFO_MODEL_SIZE = 33;
const uint32_t DEV_INFO_SERIAL_AT = 68;
const uint32_t DEV_INFO_SERIAL_SIZE = 13;   // the rest of the message, at most this
const char DEV_INFO_MAKER[] = "Quorvane Systems";

// REP_GET_DEV_STATE: the device's state byte.
const uint32_t DEV_STATE_AT = 2;
enum : uint8_t {
    DEVICE_STATE_OFF = 0,        // what an idle context expects
    DEVICE_STATE_READY = 1,
    DEVICE_STATE_TESTING = 2,
    DEVICE_STATE_MEASURING = 5,
};

// NOT_EVENT: the sub-code, and with EVENT_BATTERY the battery state.
const uint32_t EVENT_AT = 1;
const uint32_t EVENT_BATTERY_AT = 2;
enum : uint8_t {
    EVENT_BATTERY = 0x40,        // battery state changed
    EVENT_LINK_ERROR = 0x60,     // the device's side of the link had an error
    EVENT_LINK_FAILURE = 0x61,   // the device's side of the link failed
    EVENT_HARDWARE = 0x80,       // hardware problem
};

// Result byte of a reply.
enum : uint8_t {
    RESULT_OK = 0,
    RESULT_UNKNOWN_COMMAND = 1,
    RESULT_INVALID_PARAMETER = 2,
    RESULT_WRONG_STATE = 3,
    RESULT_NO_RESOURCES = 4,
    RESULT_INVALID_FORMAT = 5,
};

// CMD_SET_NOTIF payload: the notification mask.
enum : uint8_t { NOTIF_ENABLE = 0x40, NOTIF_CLEAR = 0xE0 };

// ---------------------------------------------------------------------------
// Configuration image sent with CMD_WRITE_CFG: 16 general bytes, then one
// record per channel (6 bytes, 4 on the first generation).
// ---------------------------------------------------------------------------
const uint32_t CONFIG_CHANNELS_AT = 16;
const uint32_t CONFIG_MAX_CHANNELS = 6;
const uint32_t CONFIG_CHANNEL_STRIDE = 6;
const uint32_t CHANNEL_ON_AT = 0;
const uint8_t CHANNEL_ON_BIT = 0x80;
const uint32_t CHANNEL_KIND_AT = 1;
const uint8_t CHANNEL_KIND_NOT_ANALOG = 7;

// ---------------------------------------------------------------------------
// Times (ms)
// ---------------------------------------------------------------------------
const uint32_t REPLY_MS = 900;           // every command that expects a reply
const uint32_t DATA_WATCH_MS = 2000;     // longest gap in the data stream
const uint32_t LINK_ERROR_MS = 10000;    // link error shown after EVENT_LINK_ERROR
const uint32_t LINK_LOSS_USB_MS = 1000;  // link error that ends the connection, USB
const uint32_t LINK_LOSS_MS = 10000;     // the same on the wireless links
const uint32_t STOP_WAIT_MS = 1000;      // longest way back to rest after a stop

}  // namespace halvex
