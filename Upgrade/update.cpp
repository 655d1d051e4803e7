// update.cpp - the update run: acceptance rules, message
// handling by state, timers and events, and the message log lines.
#include "Upgrade/update.h"

#include <cstdio>
#include <cstring>

#include "API/driver/protocol/halvex_wire.h"
#include "Upgrade/output.h"
#include "link/frame_codec.h"
#include "os/os.h"

namespace {

// ---------------------------------------------------------------------------
// Wire format
// ---------------------------------------------------------------------------

// The command and reply codes are the device family's (the boot loader
// answers in the Halvex numbering whatever the model); a notification has
// bit 0x40 beside the reply class.
using halvex::CMD_BOOT;
using halvex::CMD_GET_BOOT_INFO;
using halvex::CMD_GET_DEV_INFO;
using halvex::CMD_GET_DEV_STATE;
using halvex::CMD_GET_FIRM_INFO;
using halvex::CMD_RESTART;
using halvex::CMD_START_FIRM;
using halvex::CMD_WRITE_FIRM;
using halvex::REP_BOOT;
using halvex::REP_GET_BOOT_INFO;
using halvex::REP_GET_DEV_INFO;
using halvex::REP_GET_DEV_STATE;
using halvex::REP_GET_FIRM_INFO;
using halvex::REP_RESTART;
using halvex::REP_START_FIRM;
using halvex::REP_WRITE_FIRM;
const uint8_t REPLY_BIT = halvex::REPLY_CLASS;
const uint8_t NOTIFY_BIT = halvex::NOTIFICATION_CLASS & ~halvex::REPLY_CLASS;
const uint8_t INDEX_MASK = (uint8_t)~halvex::CLASS_MASK;

// Offsets within a received message (the code byte is byte 0).
// Bytes one poll reads at most, as one step of the driver's engine.
const uint32_t MAX_BYTES_PER_POLL = 8192;
const uint32_t MSG_RESULT = 1;
const uint32_t INFO_MAKER = 2, INFO_MODEL = 35, INFO_SERIAL = 68, INFO_TEXT_FIELD = 33;
const uint32_t VERSION_AT = 2, VERSION_NAME = 5, VERSION_NAME_FIELD = 25;
const uint32_t STATE_AT = 2;

// Result codes of replies that the run treats specially.
const uint8_t RESULT_OK = 0;
const uint8_t RESULT_NO_RESOURCES = 4;

// Device states in REP_GET_DEV_STATE.
const uint8_t DEVICE_IN_BOOT_LOADER = 17;

const uint32_t REPLY_KINDS = 21;
const uint32_t NOTIFICATION_KINDS = 9;

// Names of the messages the loader knows, by code index; null: no name.
struct MessageName {
    const char *command;
    const char *reply;
};
const MessageName kNames[REPLY_KINDS] = {
    {"CMD_GET_DEV_INFO", "REP_GET_DEV_INFO"},   {"CMD_GET_FIRM_INFO", "REP_GET_FIRM_INFO"},
    {"CMD_GET_BOOT_INFO", "REP_GET_BOOT_INFO"}, {"CMD_GET_DEV_STATE", "REP_GET_DEV_STATE"},
    {nullptr, nullptr},                         {nullptr, nullptr},
    {nullptr, nullptr},                         {nullptr, nullptr},
    {nullptr, nullptr},                         {"CMD_TURN_OFF", "REP_TURN_OFF"},
    {nullptr, nullptr},                         {nullptr, nullptr},
    {nullptr, nullptr},                         {"CMD_RESTART", "REP_RESTART"},
    {nullptr, nullptr},                         {nullptr, nullptr},
    {nullptr, nullptr},                         {"CMD_BOOT", "REP_BOOT"},
    {"CMD_WRITE_FIRM", "REP_WRITE_FIRM"},       {nullptr, nullptr},
    {"CMD_START_FIRM", "REP_START_FIRM"},
};

// Minimum message lengths (code byte included) by code index; 0: not
// implemented.
const uint16_t kReplyMinimum[REPLY_KINDS] = {69, 30, 30, 3, 14, 4, 2, 2, 0, 2, 2, 2, 2, 2, 12, 8, 10, 2, 2, 0, 2};
const uint16_t kNotificationMinimum[NOTIFICATION_KINDS] = {2, 3, 3, 5, 3, 2, 5, 5, 3};

const char *const kResultTexts[] = {
    nullptr,
    "Unknown (or not implemented) command",
    "Invalid parameter(s) of the command",
    "The command cannot be executed in a current device state",
    "Required device resources are unavailable or insufficient",
    "Invalid data format",
    "Invalid firmware length",
    "Firmware CRC error",
    "Incompatible firmware",
};

// Supported models, tried in this order (the longer name before its prefix).
struct SupportedModel {
    const char *prefix;
    const char *minimumBootLoader;
};
const SupportedModel kModels[] = {
    {"Quorvane Brev", "1.0.0"},
    {"Quorvane Halvex+", "1.0.0"},
    {"Quorvane Halvex", "1.0.0"},
};
const int MODEL_COUNT = (int)(sizeof kModels / sizeof kModels[0]);
const char MANUFACTURER[] = "Quorvane Systems";

const char *const kStateNames[] = {
    "UPD_GET_DEV_INFO", "UPD_GET_DEV_STATE", "UPD_GET_BOOT_INFO", "UPD_GET_FIRM_INFO", "UPD_BOOT",
    "UPD_5",            "UPD_WRITE",         "UPD_START",         "UPD_OK",            "UPD_ERR",
};
const char *const kEventNames[] = {"INT_DISC", "INT_CON", "INT_T1", "INT_T4"};

// ---------------------------------------------------------------------------
// Run state
// ---------------------------------------------------------------------------

static_assert(UPD_MAX_BODY <= FRAME_BODY_CAPACITY, "the receiver holds a firmware block");

struct UpdateRun {
    uint16_t state;
    const FirmwareHeader *header;
    LinkHandle *link;
    uint32_t sent;
    uint32_t t1;            // deadlines on the driver clock; 0 = stopped
    uint32_t t4;
    int16_t model;          // row of kModels; -1 after an unsupported model
    bool ended;             // the link broke inside a link call
    Receiver rx;
    uint8_t tx[frameSize(UPD_MAX_BODY)];
};

UpdateRun g_run;

uint32_t deadlineIn(uint32_t ms) {
    uint32_t d = osClockMs() + ms;
    return d != 0 ? d : 1;
}

bool expired(uint32_t deadline) { return deadline != 0 && (int32_t)(osClockMs() - deadline) >= 0; }

// ---------------------------------------------------------------------------
// Log lines and acceptance
// ---------------------------------------------------------------------------

const char *messageName(uint8_t code) {
    const uint32_t index = code & INDEX_MASK;
    if ((code & NOTIFY_BIT) || index >= REPLY_KINDS) return nullptr;
    return (code & REPLY_BIT) ? kNames[index].reply : kNames[index].command;
}

// "%u:\n", then "< " or "> ", the name and the remaining bytes in hex (all
// bytes when the code has no name); the data of CMD_WRITE_FIRM as "...".
void traceMessage(const uint8_t *body, uint32_t size) {
    updLogStamp();
    const uint8_t code = body[0];
    updLog("%c ", (code & REPLY_BIT) ? '>' : '<');
    const char *name = messageName(code);
    uint32_t from = 0;
    if (name) {
        updLog("%s ", name);
        from = 1;
    }
    if (code == CMD_WRITE_FIRM) {
        updLog("...\n");
        return;
    }
    char line[UPD_TEXT_SIZE];
    size_t used = 0;
    for (uint32_t i = from; i < size; ++i) {
        used += (size_t)std::snprintf(line + used, sizeof line - used, "%02x ", body[i]);
        if (used + 4 > sizeof line) {
            updLog("%s", line);
            used = 0;
        }
    }
    updLog("%s\n", used ? line : "");
}

// Why a received message is refused, or null when it is accepted.
const char *rejectReason(const uint8_t *body, uint32_t size) {
    const uint8_t code = body[0];
    if (!(code & REPLY_BIT)) return "Invalid message direction.";
    const bool notification = (code & NOTIFY_BIT) != 0;
    const uint32_t index = code & INDEX_MASK;
    if (index >= (notification ? NOTIFICATION_KINDS : REPLY_KINDS)) return "Unknown message";
    const uint32_t minimum = notification ? kNotificationMinimum[index] : kReplyMinimum[index];
    if (minimum == 0) return "Unimplemented message.";
    const bool errorReply = !notification && size >= 2 && body[MSG_RESULT] != RESULT_OK;
    if (size < minimum && !errorReply) return "Message is too short.";
    return nullptr;
}

// ---------------------------------------------------------------------------
// Sending and state changes
// ---------------------------------------------------------------------------

void setState(uint16_t next) {
    const uint16_t now = g_run.state;
    if (next == now) return;
    if ((now == UPD_OK || now == UPD_ERR) && next != UPD_GET_DEV_INFO) return;
    char text[64];
    std::snprintf(text, sizeof text, "%s -> %s", kStateNames[now], kStateNames[next]);
    updLogNote(text);
    g_run.state = next;
    // UPD_ERR waits for one more reply at most, whatever stopped the timer;
    // the boot-loader delay has no meaning there any more.
    if (next == UPD_ERR) {
        g_run.t4 = 0;
        if (g_run.t1 == 0) g_run.t1 = deadlineIn(UPD_REPLY_TIMEOUT_MS);
    }
}

// Hands frame bytes to the link; the reply time-out runs from here whatever
// happens, so a failed send still ends in a time-out.
bool sendFrame(uint32_t bytes) {
    g_run.t1 = deadlineIn(UPD_REPLY_TIMEOUT_MS);
    if (g_run.link && SendLink(g_run.link, (int32_t)bytes, g_run.tx) >= 1) return true;
    updUserMessage("!Sending error.");
    setState(UPD_ERR);
    return false;
}

// Sends a command: the length in 7-bit groups, the code, the payload.
bool sendCommand(uint8_t code, const uint8_t *payload, uint32_t size) {
    const uint32_t frame = frameBuild(g_run.tx, UPD_MAX_BODY, code, payload, size);
    traceMessage(g_run.tx + frame - size - 1, size + 1);
    return sendFrame(frame);
}

// ---------------------------------------------------------------------------
// Texts out of messages
// ---------------------------------------------------------------------------

// Copies the text of a field at offset (field bytes long, or to the end of
// the message when field is 0), up to its zero byte.
void fieldText(const uint8_t *body, uint32_t size, uint32_t offset, uint32_t field, char *out, size_t outSize) {
    size_t n = 0;
    const uint32_t end = field && offset + field < size ? offset + field : size;
    for (uint32_t i = offset; i < end && body[i] != 0 && n + 1 < outSize; ++i)
        out[n++] = (char)body[i];
    out[n] = '\0';
}

const char *modelName() {
    if (g_run.model < 0) return "Device";
    return kModels[g_run.model].prefix;
}

}  // namespace

void versionText(const uint8_t version[3], char out[16]) {
    std::snprintf(out, 16, "%u.%u.%u", (unsigned)version[0], (unsigned)version[1], (unsigned)version[2]);
    if (version[2] == 0) out[std::strlen(out) - 2] = '\0';
}

namespace {

// ---------------------------------------------------------------------------
// Message handlers, one per state; each returns 0 when the run ends
// ---------------------------------------------------------------------------

int onDeviceInfo(const uint8_t *body, uint32_t size) {
    char maker[INFO_TEXT_FIELD + 1], model[INFO_TEXT_FIELD + 1], serial[UPD_MAX_BODY];
    fieldText(body, size, INFO_MAKER, INFO_TEXT_FIELD, maker, sizeof maker);
    fieldText(body, size, INFO_MODEL, INFO_TEXT_FIELD, model, sizeof model);
    fieldText(body, size, INFO_SERIAL, 0, serial, sizeof serial);
    updUserMessage("Hardware:\n\t%s S/N %s\n", model, serial);
    g_run.model = -1;
    for (int i = 0; i < MODEL_COUNT; ++i) {
        if (std::strncmp(model, kModels[i].prefix, std::strlen(kModels[i].prefix)) == 0) {
            g_run.model = (int16_t)i;
            break;
        }
    }
    if (g_run.model < 0 || std::strcmp(maker, MANUFACTURER) != 0) {
        updUserMessage("!Unsupported device model.");
        return 0;
    }
    sendCommand(CMD_GET_DEV_STATE, nullptr, 0);
    setState(UPD_GET_DEV_STATE);
    return 1;
}

int onDeviceState(const uint8_t *body) {
    const uint8_t state = body[STATE_AT];
    if (state == 1 || state == 18 || state == 19) {
        sendCommand(CMD_BOOT, nullptr, 0);
        setState(UPD_BOOT);
    } else if (state == DEVICE_IN_BOOT_LOADER) {
        sendCommand(CMD_GET_BOOT_INFO, nullptr, 0);
        setState(UPD_GET_BOOT_INFO);
    } else {
        updUserMessage("!Device is not ready. (Please finish measurement session.)");
        return 0;
    }
    return 1;
}

int onBootInfo(const uint8_t *body, uint32_t size) {
    char name[VERSION_NAME_FIELD + 1], shown[16], full[16];
    fieldText(body, size, VERSION_NAME, VERSION_NAME_FIELD, name, sizeof name);
    versionText(body + VERSION_AT, shown);
    updUserMessage("Bootloader:\n\t%s ver. %s\n", name, shown);
    std::snprintf(full, sizeof full, "%u.%u.%u", (unsigned)body[VERSION_AT], (unsigned)body[VERSION_AT + 1],
                  (unsigned)body[VERSION_AT + 2]);
    const SupportedModel &model = kModels[g_run.model >= 0 ? g_run.model : 0];
    if (std::strcmp(full, model.minimumBootLoader) < 0) {
        updUserMessage("!Unsupported bootloader version.");
        return 0;
    }
    sendCommand(CMD_GET_FIRM_INFO, nullptr, 0);
    setState(UPD_GET_FIRM_INFO);
    return 1;
}

// Sends the next image block; false (after telling the user) when the file
// cannot deliver a whole one.
bool sendNextBlock() {
    uint8_t block[FW_BLOCK_SIZE];
    if (readFirmwareBlock(block) != (int32_t)FW_BLOCK_SIZE) {
        updUserMessage("!Firmware file error (%u).\n", (unsigned)FW_ERR_READ);
        return false;
    }
    sendCommand(CMD_WRITE_FIRM, block, FW_BLOCK_SIZE);
    return true;
}

int onFirmwareInfo(const uint8_t *body, uint32_t size) {
    if (body[MSG_RESULT] == RESULT_OK) {
        char name[VERSION_NAME_FIELD + 1], version[16];
        fieldText(body, size, VERSION_NAME, VERSION_NAME_FIELD, name, sizeof name);
        versionText(body + VERSION_AT, version);
        updUserMessage("Old firmware:\n\t%s ver. %s\n", name, version);
    }
    if (!g_run.header) {
        sendCommand(CMD_START_FIRM, nullptr, 0);
        setState(UPD_START);
        return 1;
    }
    if (!sendNextBlock()) return 0;
    setState(UPD_WRITE);
    return 1;
}

// A block was taken. The image is complete when L bytes are acknowledged;
// the check value after it is never sent.
int onBlockWritten() {
    const FirmwareHeader *h = g_run.header;
    const uint32_t length = firmwareLength(h);
    if (g_run.sent == 0) {
        char name[FW_NAME_SIZE + 1], version[16];
        uint8_t v[3];
        firmwareName(h, name, sizeof name);
        firmwareVersion(h, v);
        versionText(v, version);
        updUserMessage("New firmware:\n\t%s ver. %s\n", name, version);
    }
    g_run.sent += FW_BLOCK_SIZE;
    updProgress((int)((length / 2 + 100u * g_run.sent) / length));
    if (g_run.sent >= length) {
        sendCommand(CMD_START_FIRM, nullptr, 0);
        setState(UPD_START);
        return 1;
    }
    return sendNextBlock() ? 1 : 0;
}

int onStarted() {
    setState(UPD_OK);
    if (g_run.header) updUserMessage("Firmware updated successfully.");
    return 0;
}

// A message that does not belong to the current state: noted, and the
// reply time-out runs again (unless the boot-loader delay is what runs).
// UPD_ERR waits one reply time-out and no more: a device that keeps
// talking there must not keep the run alive, so its deadline stands.
int onUnexpected() {
    updLogNote(kUpdIncompatibleMessage);
    if (g_run.state != UPD_ERR && g_run.t4 == 0) g_run.t1 = deadlineIn(UPD_REPLY_TIMEOUT_MS);
    return 1;
}

// Handles an accepted message; 0 when the run ends.
int handleMessage(const uint8_t *body, uint32_t size) {
    const uint8_t code = body[0];
    if (!(code & NOTIFY_BIT)) {
        // In UPD_ERR every reply either ends the run or is unexpected; the
        // one deadline of that state keeps running meanwhile.
        if (g_run.state != UPD_ERR) g_run.t1 = 0;
        const uint8_t result = body[MSG_RESULT];
        const bool goesOn = code == REP_GET_FIRM_INFO && g_run.state == UPD_GET_FIRM_INFO &&
                            result == RESULT_NO_RESOURCES;
        if (result != RESULT_OK && !goesOn) {
            const bool known = result < sizeof kResultTexts / sizeof kResultTexts[0];
            updUserMessage("%s: %s", modelName(), known ? kResultTexts[result] : "Unknown return error.");
            return 0;
        }
    }
    switch (g_run.state) {
    case UPD_GET_DEV_INFO:
        if (code == REP_GET_DEV_INFO) return onDeviceInfo(body, size);
        break;
    case UPD_GET_DEV_STATE:
        if (code == REP_GET_DEV_STATE) return onDeviceState(body);
        break;
    case UPD_BOOT:
        if (code == REP_BOOT) {
            g_run.t4 = deadlineIn(UPD_BOOT_DELAY_MS);
            updLog("# Timer %s started\n", "INT_T4");
            return 1;
        }
        break;
    case UPD_GET_BOOT_INFO:
        if (code == REP_GET_BOOT_INFO) return onBootInfo(body, size);
        break;
    case UPD_GET_FIRM_INFO:
        if (code == REP_GET_FIRM_INFO) return onFirmwareInfo(body, size);
        break;
    case UPD_WRITE:
        if (code == REP_WRITE_FIRM) return onBlockWritten();
        break;
    case UPD_START:
        if (code == REP_START_FIRM) return onStarted();
        break;
    case UPD_ERR:
        if (code == REP_RESTART || code == REP_BOOT) return 0;
        break;
    default:
        break;
    }
    return onUnexpected();
}

// Reads the link until a message was handled, nothing waits or one pass's
// bytes were read (an endless stream, such as the zero bytes of a held
// break, must not keep the timers and the caller's loop from running). -1:
// go on to the timers; 0 or 1: the poll's result.
int readLink() {
    for (uint32_t bytes = 0; bytes < MAX_BYTES_PER_POLL; ++bytes) {
        uint8_t b = 0;
        int32_t got = RecvLink(g_run.link, &b);
        if (got < 0) {
            updUserMessage("!Receiving error.");
            return 0;
        }
        if (got == 0) return -1;
        uint32_t size = 0;
        RxEvent r = rxTake(&g_run.rx, b, UPD_MAX_BODY, &size);
        if (r == RX_TOO_LONG) {
            updLogNote("Message is too long.");
            updUserMessage("!Receiving error.");
            setState(UPD_ERR);
        } else if (r == RX_FRAME) {
            traceMessage(g_run.rx.body, size);
            const char *reason = rejectReason(g_run.rx.body, size);
            if (reason) {
                updLogNote(reason);
                updUserMessage("!Incorrect format of received message.");
                return 0;
            }
            return handleMessage(g_run.rx.body, size) ? -1 : 0;
        }
    }
    return -1;
}

// The time-out of a reply: a zero byte and a restart go out, and the run
// waits one more time-out (or the restart's reply) in UPD_ERR.
int onReplyTimeout() {
    if (g_run.state == UPD_ERR) return 0;
    g_run.tx[0] = 0x00;
    updLogStamp();
    updLog("< 00 \n");
    sendFrame(1);
    if (g_run.state != UPD_ERR) sendCommand(CMD_RESTART, nullptr, 0);
    if (g_run.link && !linkIsWireless(g_run.link->type)) {
        updUserMessage("!Device is not responding. Please check, if it's on.");
    } else {
        updUserMessage("!Device is not responding. Please check, if it's on and in wireless range.");
    }
    setState(UPD_ERR);
    return 1;
}

}  // namespace

void StartUpdate(LinkHandle *link, const FirmwareHeader *header) {
    g_run.link = link;
    g_run.header = header;
    g_run.t1 = 0;
    g_run.t4 = 0;
    g_run.ended = false;
    g_run.model = 0;        // no device identified in this run yet
    rxReset(&g_run.rx);
    g_run.sent = 0;
    setState(UPD_GET_DEV_INFO);
    sendCommand(CMD_GET_DEV_INFO, nullptr, 0);
}

int PollUpdate() {
    if (g_run.state == UPD_OK || g_run.ended || !g_run.link) return 0;
    const int read = readLink();
    if (read >= 0 || g_run.ended) return 0;
    if (expired(g_run.t1)) {
        g_run.t1 = 0;
        if (!UpdateEvent(INT_T1)) return 0;
    }
    if (expired(g_run.t4)) {
        g_run.t4 = 0;
        if (!UpdateEvent(INT_T4)) return 0;
    }
    return g_run.ended ? 0 : 1;
}

int UpdateEvent(uint16_t kind) {
    updLogStamp();
    if (kind < sizeof kEventNames / sizeof kEventNames[0]) {
        updLog("^ %s\n", kEventNames[kind]);
    } else {
        updLog("^ %02x\n", (unsigned)kind);
    }
    switch (kind) {
    case INT_DISC:
        updUserMessage("!Communication broken.");
        setState(UPD_ERR);
        g_run.ended = true;
        return 0;
    case INT_T1:
        return onReplyTimeout();
    case INT_T4:
        if (g_run.state == UPD_BOOT) {
            sendCommand(CMD_GET_BOOT_INFO, nullptr, 0);
            setState(UPD_GET_BOOT_INFO);
        }
        return 1;
    default:
        return 1;
    }
}

uint16_t updateState() { return g_run.state; }
uint32_t updateSent() { return g_run.sent; }
const LinkHandle *updateLink() { return g_run.link; }
