// sim_commands.cpp - the simulated device's command side: each command the
// host sends is checked, executed and answered (or, with a fault armed,
// ignored, answered late, with another result or not at all).
#include <cstring>

#include "sim/sim_device_internal.h"

namespace simdev {

namespace {

size_t textLength(const char *s, size_t max) {
    size_t n = 0;
    while (n < max && s[n])
        ++n;
    return n;
}

Fault takeFault(SimDevice *d, uint8_t code) {
    Fault *f = &d->fault[code];
    if (f->action == SIM_FAULT_NONE)
        f = &d->anyFault;
    const Fault taken = *f;
    if (f->action != SIM_FAULT_NONE && f->times != SIM_ALWAYS && --f->times <= 0)
        *f = Fault{};
    return taken;
}

// ---------------------------------------------------------------------------
// The commands
// ---------------------------------------------------------------------------

// One command being executed: what the host sent and the reply being made,
// whose code and result (RES_OK) are set before the command runs.
struct Command {
    SimDevice *d;
    uint8_t code;
    const uint8_t *payload;
    size_t size;            // payload bytes
    uint32_t now;
    uint8_t *reply;
    bool restart;           // the device restarts once the reply is out
};

// The reply of a refused command: the result alone.
size_t refuse(Command &c, uint8_t result) {
    c.reply[1] = result;
    return 2;
}

size_t replyIdentity(Command &c) { return identityReply(c.d, c.reply); }

// 0x01: firmware version (3 bytes) and name (25), 2 bytes reserved.
size_t replyFirmware(Command &c) {
    const SimDeviceConfig &cfg = c.d->cfg;
    std::memset(c.reply + 2, 0, 30);
    std::memcpy(c.reply + 2, cfg.firmware, 3);
    std::memcpy(c.reply + 5, cfg.firmwareName, textLength(cfg.firmwareName, 24));
    return 32;
}

size_t replyState(Command &c) {
    c.reply[2] = c.d->state;
    return 3;
}

// 0x04: bit 7 of the mask clears the bits given, otherwise they are set.
// Turning data notifications on arms the periodic battery event.
size_t setNotifications(Command &c) {
    SimDevice *d = c.d;
    const uint8_t mask = c.payload[0];
    const bool wasOn = (d->notif & NOTIF_DATA) != 0;
    if (mask & 0x80)
        d->notif = static_cast<uint8_t>(d->notif & ~(mask & 0x7F));
    else
        d->notif = static_cast<uint8_t>(d->notif | mask);
    if (!wasOn && (d->notif & NOTIF_DATA)) {
        d->batteryArmed = true;
        d->nextBatteryMs = c.now + d->cfg.batteryPeriodMs;
    }
    return 2;
}

size_t replyConfig(Command &c) {
    std::memcpy(c.reply + 2, c.d->image, c.d->imageSize);
    return 2 + c.d->imageSize;
}

// 0x07: taken at rest only, and only an image the model accepts.
size_t writeConfig(Command &c) {
    if (c.d->state != SIM_STATE_REST)
        return refuse(c, RES_STATE);
    const uint8_t result = simCheckConfig(c.d->model, c.payload, c.size);
    if (result != RES_OK)
        return refuse(c, result);
    std::memcpy(c.d->image, c.payload, c.size);
    return 2;
}

// 0x08 and 0x0B: a run starts from rest with a channel on.
size_t startCommand(Command &c) {
    SimDevice *d = c.d;
    if (d->state != SIM_STATE_REST || !anyChannelOn(d))
        return refuse(c, RES_STATE);
    const bool test = c.code == CMD_START_TEST;
    startRun(d, test, c.now);
    d->state = test ? SIM_STATE_TEST : SIM_STATE_MEASURE;
    return 2;
}

// 0x0A and 0x0C: each stops only its own kind of run.
size_t stopCommand(Command &c) {
    SimDevice *d = c.d;
    if (d->state != (c.code == CMD_STOP_TEST ? SIM_STATE_TEST : SIM_STATE_MEASURE))
        return refuse(c, RES_STATE);
    stopRun(d, c.now);
    d->state = SIM_STATE_REST;
    return 2;
}

size_t restartCommand(Command &c) {
    c.restart = true;
    return 2;
}

// The payload a command takes; any other length is refused with RES_FORMAT
// before the command runs.
enum PayloadRule : uint8_t { PAYLOAD_NONE, PAYLOAD_MASK, PAYLOAD_IMAGE };

struct CommandRow {
    uint8_t code;
    PayloadRule payload;
    size_t (*run)(Command &c);
};

const CommandRow COMMANDS[] = {
    {CMD_GET_DEV_INFO, PAYLOAD_NONE, replyIdentity},
    {CMD_GET_FIRM_INFO, PAYLOAD_NONE, replyFirmware},
    {CMD_GET_DEV_STATE, PAYLOAD_NONE, replyState},
    {CMD_SET_NOTIF, PAYLOAD_MASK, setNotifications},
    {CMD_READ_CFG, PAYLOAD_NONE, replyConfig},
    {CMD_WRITE_CFG, PAYLOAD_IMAGE, writeConfig},
    {CMD_START_MES, PAYLOAD_NONE, startCommand},
    {CMD_STOP_MES, PAYLOAD_NONE, stopCommand},
    {CMD_START_TEST, PAYLOAD_NONE, startCommand},
    {CMD_STOP_TEST, PAYLOAD_NONE, stopCommand},
    {CMD_RESTART, PAYLOAD_NONE, restartCommand},
};

const CommandRow *findCommand(uint8_t code) {
    for (const CommandRow &row : COMMANDS) {
        if (row.code == code)
            return &row;
    }
    return nullptr;
}

size_t payloadSize(const SimDevice *d, PayloadRule rule) {
    switch (rule) {
    case PAYLOAD_MASK:
        return 1;
    case PAYLOAD_IMAGE:
        return d->imageSize;
    default:
        return 0;
    }
}

// Executes a command; writes the reply body and returns its size.
// *restart: the device restarts once the reply is out.
size_t execute(SimDevice *d, const uint8_t *body, size_t n, uint32_t now, uint8_t *reply, bool *restart) {
    Command c = {d, body[0], body + 1, n - 1, now, reply, false};
    reply[0] = static_cast<uint8_t>(REPLY_BIT | c.code);
    reply[1] = RES_OK;
    *restart = false;
    if (isBrev(d))
        return brevExecute(d, body, n, now, reply);
    const CommandRow *row = findCommand(c.code);
    size_t size;
    if (!row)
        size = refuse(c, RES_UNKNOWN);
    else if (c.size != payloadSize(d, row->payload))
        size = refuse(c, RES_FORMAT);
    else
        size = row->run(c);
    *restart = c.restart;
    return size;
}

}  // namespace

// ---------------------------------------------------------------------------
// Reset and command handling
// ---------------------------------------------------------------------------

// 0x00 of both families: maker, model and serial number in fields of 33, 33
// and 13 bytes.
size_t identityReply(const SimDevice *d, uint8_t *reply) {
    std::memset(reply + 2, 0, 79);
    std::memcpy(reply + 2, d->maker, std::strlen(d->maker));
    std::memcpy(reply + 35, d->modelName, std::strlen(d->modelName));
    std::memcpy(reply + 68, d->serial, std::strlen(d->serial));
    return 81;
}

void resetDevice(SimDevice *d) {
    d->streaming = false;
    d->msgOpen = false;
    d->state = SIM_STATE_REST;
    d->notif = 0;
    d->brevNotif = 0;
    d->batteryArmed = false;
    std::memset(d->image, 0, sizeof d->image);
    simBootRestart(&d->boot);
    simRxReset(&d->rx, simBootRxLimit(&d->boot));
}

void handleBody(SimDevice *d, const uint8_t *body, size_t n, uint32_t now) {
    ++d->stats.framesReceived;
    if (simBootDeaf(&d->boot, now))
        return;
    const uint8_t code = body[0];
    uint8_t reply[kReplyMax];

    if (code >= 0x40) {
        // Not a command at all: the device cannot know what was meant.
        reply[0] = static_cast<uint8_t>(REPLY_BIT | (code & 0x3F));
        reply[1] = RES_UNKNOWN;
        sendReplyNow(d, reply, 2);
        return;
    }

    const Fault f = takeFault(d, code);
    if (f.action == SIM_FAULT_IGNORE)
        return;
    if (f.action == SIM_FAULT_RESULT) {
        reply[0] = static_cast<uint8_t>(REPLY_BIT | code);
        reply[1] = static_cast<uint8_t>(f.param);
        sendReplyNow(d, reply, 2);
        return;
    }

    bool restart = false;
    size_t size = 0;
    const SimBootView view = {&d->state, d->cfg.firmware, d->cfg.firmwareName};
    if (simBootCommand(&d->boot, &view, body, n, now, reply, &size, &restart) == SIM_BOOT_PASS)
        size = execute(d, body, n, now, reply, &restart);
    if (f.action == SIM_FAULT_WITHHOLD)
        ++d->stats.repliesWithheld;
    else if (f.action == SIM_FAULT_DELAY && f.param)
        scheduleReply(d, reply, size, now + f.param);
    else
        sendReplyNow(d, reply, size);
    if (restart)
        resetDevice(d);
}

}  // namespace simdev
