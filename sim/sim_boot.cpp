// sim_boot.cpp - the simulated boot loader (see sim_boot.h).
//
// The simulator keeps its own codes and its own CRC (computed bit by bit,
// not by table) on purpose: it is a second opinion on what the loader sends.
#include "sim/sim_boot.h"

#include <cstring>

#include "sim/sim_frame.h"

namespace {

enum : uint8_t {
    CMD_GET_DEV_INFO = 0x00,
    CMD_GET_FIRM_INFO = 0x01,
    CMD_GET_BOOT_INFO = 0x02,
    CMD_GET_DEV_STATE = 0x03,
    CMD_RESTART = 0x0D,
    CMD_BOOT = 0x11,
    CMD_WRITE_FIRM = 0x12,
    CMD_START_FIRM = 0x14,
    REPLY_BIT = 0x80,
};

enum : uint8_t {
    RES_OK = 0,
    RES_UNKNOWN = 1,
    RES_STATE = 3,
    RES_RESOURCES = 4,
    RES_FORMAT = 5,
    RES_LENGTH = 6,
    RES_CRC = 7,
    RES_INCOMPATIBLE = 8,
};

const uint8_t STATE_REST = 1;
const uint32_t BLOCK = 512;
const uint32_t HEADER_NAME = 3, HEADER_NAME_SIZE = 76, HEADER_LENGTH = 80;
const size_t NAME_FIELD = 25;
const uint32_t BOOT_BODY_LIMIT = 1 + BLOCK;

uint16_t crcBits(uint16_t crc, const uint8_t *data, size_t size) {
    for (size_t i = 0; i < size; ++i) {
        crc ^= data[i];
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 1) ? (uint16_t)((crc >> 1) ^ 0x8408) : (uint16_t)(crc >> 1);
    }
    return crc;
}

size_t fail(uint8_t *reply, uint8_t result) {
    reply[1] = result;
    return 2;
}

size_t bootInfo(const SimBoot *boot, uint8_t *reply) {
    std::memset(reply + 2, 0, 3 + NAME_FIELD + 1);
    std::memcpy(reply + 2, boot->version, 3);
    std::memcpy(reply + 5, boot->name, std::strlen(boot->name));
    return 2 + 3 + NAME_FIELD;
}

// The name of the image's header as the application's name field holds it.
bool sameName(const uint8_t *header, const char *appName) {
    char name[NAME_FIELD] = {};
    for (size_t i = 0; i < HEADER_NAME_SIZE && header[HEADER_NAME + i]; ++i) {
        if (i + 1 >= NAME_FIELD) return false;
        name[i] = (char)header[HEADER_NAME + i];
    }
    return std::strncmp(name, appName, NAME_FIELD) == 0;
}

size_t writeBlock(SimBoot *boot, const SimBootView *view, const uint8_t *data, size_t size, uint8_t *reply) {
    if (size != BLOCK) return fail(reply, RES_FORMAT);
    if (boot->length == 0) {
        const uint32_t length = data[HEADER_LENGTH] | (uint32_t)data[HEADER_LENGTH + 1] << 8;
        if (length == 0 || length % BLOCK != 0 || length > SIM_BOOT_FLASH) return fail(reply, RES_LENGTH);
        if (!sameName(data, view->firmwareName)) return fail(reply, RES_INCOMPATIBLE);
        boot->appValid = false;     // the flash is erased for the new image
        boot->length = length;
        boot->written = 0;
        boot->crc = 0xFFFF;
        boot->verified = false;
    }
    if (boot->written + BLOCK > boot->length) return fail(reply, RES_LENGTH);
    std::memcpy(boot->flash + boot->written, data, BLOCK);
    boot->crc = crcBits(boot->crc, data, BLOCK);
    boot->written += BLOCK;
    ++boot->blocks;
    if (boot->written < boot->length) return 2;
    if (boot->corruptFlash) boot->flash[boot->length / 2] ^= 0x5A;
    if (crcBits(0xFFFF, boot->flash, boot->length) != boot->crc) {
        boot->length = 0;
        return fail(reply, RES_CRC);
    }
    boot->verified = true;
    return 2;
}

size_t startFirmware(SimBoot *boot, const SimBootView *view, uint8_t *reply, bool *restart) {
    if (boot->length != 0 && !boot->verified) return fail(reply, RES_LENGTH);
    if (boot->verified) {
        std::memcpy(view->firmware, boot->flash, 3);
        std::memset(view->firmwareName, 0, NAME_FIELD);
        for (size_t i = 0; i + 1 < NAME_FIELD && boot->flash[HEADER_NAME + i]; ++i)
            view->firmwareName[i] = (char)boot->flash[HEADER_NAME + i];
        boot->appValid = true;
    }
    if (!boot->appValid) return fail(reply, RES_STATE);
    boot->enterBoot = false;
    *restart = true;
    return 2;
}

// A command while the boot loader runs.
SimBootAction inBootLoader(SimBoot *boot, const SimBootView *view, const uint8_t *body, size_t size,
                           uint8_t *reply, size_t *replySize, bool *restart) {
    const uint8_t code = body[0];
    if (code != CMD_WRITE_FIRM) boot->length = 0;   // an image is written in one row of blocks
    if (code == CMD_GET_DEV_INFO || (code == CMD_GET_FIRM_INFO && boot->appValid)) return SIM_BOOT_PASS;
    switch (code) {
    case CMD_GET_FIRM_INFO:
        *replySize = fail(reply, RES_RESOURCES);
        break;
    case CMD_GET_DEV_STATE:
        reply[2] = SIM_STATE_BOOT_LOADER;
        *replySize = 3;
        break;
    case CMD_WRITE_FIRM:
        *replySize = writeBlock(boot, view, body + 1, size - 1, reply);
        break;
    case CMD_START_FIRM:
        *replySize = startFirmware(boot, view, reply, restart);
        break;
    case CMD_RESTART:
        boot->enterBoot = false;
        *restart = true;
        break;
    case CMD_BOOT:
        break;
    default:
        *replySize = fail(reply, RES_UNKNOWN);
        break;
    }
    return SIM_BOOT_REPLY;
}

// A command while the application runs.
SimBootAction inApplication(SimBoot *boot, const SimBootView *view, const uint8_t *body, size_t size,
                            uint8_t *reply, size_t *replySize, bool *restart) {
    switch (body[0]) {
    case CMD_GET_DEV_STATE:
        if (*view->state != STATE_REST || boot->restState == STATE_REST || size != 1) return SIM_BOOT_PASS;
        reply[2] = boot->restState;
        *replySize = 3;
        return SIM_BOOT_REPLY;
    case CMD_BOOT:
        if (*view->state != STATE_REST) {
            *replySize = fail(reply, RES_STATE);
        } else {
            boot->enterBoot = true;
            *restart = true;
        }
        return SIM_BOOT_REPLY;
    case CMD_WRITE_FIRM:
    case CMD_START_FIRM:
        *replySize = fail(reply, RES_STATE);
        return SIM_BOOT_REPLY;
    default:
        return SIM_BOOT_PASS;
    }
}

}  // namespace

void simBootInit(SimBoot *boot) {
    std::memset(boot, 0, sizeof *boot);
    boot->appValid = true;
    boot->restState = STATE_REST;
    simBootSetVersion(boot, 1, 0, 0, "Halvex boot loader");
}

void simBootRestart(SimBoot *boot) {
    boot->running = boot->enterBoot || !boot->appValid;
    boot->enterBoot = false;
    boot->length = 0;
}

bool simBootDeaf(SimBoot *boot, uint32_t nowMs) {
    if (boot->restarting && (int32_t)(nowMs - boot->deafUntil) >= 0) boot->restarting = false;
    return boot->restarting;
}

uint32_t simBootRxLimit(const SimBoot *boot) { return boot->running ? BOOT_BODY_LIMIT : SIM_MAX_BODY; }

SimBootAction simBootCommand(SimBoot *boot, const SimBootView *view, const uint8_t *body, size_t size,
                             uint32_t nowMs, uint8_t *reply, size_t *replySize, bool *restart) {
    const uint8_t code = body[0];
    reply[0] = (uint8_t)(REPLY_BIT | code);
    reply[1] = RES_OK;
    *replySize = 2;
    SimBootAction action;
    if (code == CMD_GET_BOOT_INFO) {
        *replySize = size == 1 ? bootInfo(boot, reply) : fail(reply, RES_FORMAT);
        action = SIM_BOOT_REPLY;
    } else if (boot->running) {
        action = inBootLoader(boot, view, body, size, reply, replySize, restart);
    } else {
        action = inApplication(boot, view, body, size, reply, replySize, restart);
    }
    if (action == SIM_BOOT_REPLY && *restart) {
        boot->restarting = true;
        boot->deafUntil = nowMs + SIM_BOOT_RESTART_MS;
    }
    return action;
}

void simBootSetVersion(SimBoot *boot, uint8_t major, uint8_t minor, uint8_t patch, const char *name) {
    boot->version[0] = major;
    boot->version[1] = minor;
    boot->version[2] = patch;
    std::memset(boot->name, 0, sizeof boot->name);
    std::strncpy(boot->name, name ? name : "", sizeof boot->name - 1);
}

void simBootSetRestState(SimBoot *boot, uint8_t state) { boot->restState = state; }

void simBootSetCorruptFlash(SimBoot *boot, bool corrupt) { boot->corruptFlash = corrupt; }
