// brev_wire.h - the Brev device's wire format as the driver speaks it:
// message codes and their trace names, the layouts of the messages the
// driver reads, device states, notification masks, artifact codes and the
// family's times.
//
// Frame and code classes are those of every family (codec.h): a command has
// the code of its index, its reply 0x80 | index, a notification 0xC0 | index.
#pragma once

#include <cstdint>

// ---------------------------------------------------------------------------
// Message codes. One list per class, in index order; each entry gives the
// name and the minimum length of the reply or notification (0: not
// implemented, such a message is refused). Codes, trace names and minimum
// lengths are all made from these lists (here and in codec.cpp).
// ---------------------------------------------------------------------------
#define BREV_MESSAGES(BREV_NAMED) \
    BREV_NAMED(GET_DEV_INFO, 81)  \
    BREV_NAMED(GET_FIRM_INFO, 6)  \
    BREV_NAMED(GET_BOOT_INFO, 0)  \
    BREV_NAMED(GET_DEV_STATE, 3)  \
    BREV_NAMED(GET_SYS_CLK, 0)    \
    BREV_NAMED(READ_CFG, 0)       \
    BREV_NAMED(WRITE_CFG, 0)      \
    BREV_NAMED(SET_NOTIF, 2)      \
    BREV_NAMED(TURN_ON, 0)        \
    BREV_NAMED(TURN_OFF, 0)       \
    BREV_NAMED(START_MES, 2)      \
    BREV_NAMED(STOP_MES, 2)       \
    BREV_NAMED(EXEC_MENU_CMD, 0)  \
    BREV_NAMED(RESTART, 0)        \
    BREV_NAMED(READ_SCORES, 0)    \
    BREV_NAMED(READ_EVENTS, 0)    \
    BREV_NAMED(GET_HARD_STATE, 0) \
    BREV_NAMED(BOOT, 0)           \
    BREV_NAMED(WRITE_FIRM, 0)     \
    BREV_NAMED(WRITE_BOOT, 0)     \
    BREV_NAMED(START_FIRM, 0)

#define BREV_NOTIFICATIONS(BREV_NAMED) \
    BREV_NAMED(STATE_CHG, 2)           \
    BREV_NAMED(DEV_ERR, 0)             \
    BREV_NAMED(CFG_CHG, 0)             \
    BREV_NAMED(FEEDBK_DATA, 0)         \
    BREV_NAMED(RAW_DATA, 3)            \
    BREV_NAMED(ARTIFACT, 2)            \
    BREV_NAMED(RND_SCORE, 0)           \
    BREV_NAMED(SES_SCORE, 0)           \
    BREV_NAMED(EVENT, 0)

namespace brev {

const uint8_t REPLY_CLASS = 0x80;
const uint8_t NOTIFICATION_CLASS = 0xC0;
const uint8_t CLASS_MASK = 0xC0;

// CMD_* = index.
enum : uint8_t {
#define BREV_CMD_CODE(name, minimum) CMD_##name,
    BREV_MESSAGES(BREV_CMD_CODE)
#undef BREV_CMD_CODE
    MESSAGE_COUNT
};

// REP_* = 0x80 | index.
enum : uint8_t {
#define BREV_REP_CODE(name, minimum) REP_##name = REPLY_CLASS | CMD_##name,
    BREV_MESSAGES(BREV_REP_CODE)
#undef BREV_REP_CODE
};

// NOT_* = 0xC0 | index.
enum : uint8_t {
#define BREV_NOT_INDEX(name, minimum) NOT_INDEX_##name,
    BREV_NOTIFICATIONS(BREV_NOT_INDEX)
#undef BREV_NOT_INDEX
    NOTIFICATION_COUNT
};
enum : uint8_t {
#define BREV_NOT_CODE(name, minimum) NOT_##name = NOTIFICATION_CLASS | NOT_INDEX_##name,
    BREV_NOTIFICATIONS(BREV_NOT_CODE)
#undef BREV_NOT_CODE
};

static_assert(CMD_START_FIRM == 0x14 && MESSAGE_COUNT == 21, "the message list keeps its indices");
static_assert(NOT_RAW_DATA == 0xC4 && NOT_ARTIFACT == 0xC5 && NOTIFICATION_COUNT == 9,
              "the notification list keeps its indices");

// ---------------------------------------------------------------------------
// Message layouts (byte offsets within the message, code at 0)
// ---------------------------------------------------------------------------
const uint32_t CODE_AT = 0;
const uint32_t RESULT_AT = 1;              // every reply
const uint32_t DEV_STATE_AT = 2;           // REP_GET_DEV_STATE
const uint32_t STATE_CHG_AT = 1;           // NOT_STATE_CHG: the device's new state
const uint32_t ARTIFACT_CODE_AT = 1;       // NOT_ARTIFACT: artifact code b
const uint32_t ARTIFACT_CHANNEL_AT = 2;    // NOT_ARTIFACT: 0 = SUM, 1 = the channel
const uint32_t START_IMAGE_SIZE = 4;       // CMD_START_MES: the first bytes of the image

// Device states (REP_GET_DEV_STATE, NOT_STATE_CHG).
enum : uint8_t {
    DEVICE_IDLE = 0,         // what an idle context expects
    DEVICE_AT_REST = 1,
    DEVICE_MEASURING = 3,
    DEVICE_PAUSED = 5,
};

// NOT_ARTIFACT: the artifact code that ends an artifact, and the channels.
const uint8_t ARTIFACT_END = 255;
const uint8_t ARTIFACT_SUM = 0;
const uint8_t ARTIFACT_CHANNEL = 1;

// CMD_SET_NOTIF payload: the 16-bit mask, one bit per notification index
// (state changes, raw data and artifacts on; or all off).
const uint16_t NOTIF_ENABLE = 0x0031;
const uint16_t NOTIF_CLEAR = 0x0000;

// ---------------------------------------------------------------------------
// Times (ms)
// ---------------------------------------------------------------------------
const uint32_t REPLY_MS = 2000;          // every command
const uint32_t LINK_ERROR_MS = 30000;    // a missing reply in a measurement, until the end
const uint32_t STATE_POLL_MS = 5000;     // device state asked for while measuring

const uint8_t BATTERY_AT_START = 2;

}  // namespace brev
