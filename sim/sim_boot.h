// sim_boot.h - the boot loader of a simulated Halvex-family device.
//
// Every simulated device carries one. While the application runs, the boot
// loader only answers CMD_GET_BOOT_INFO and CMD_BOOT (at rest: the reply,
// then a restart into the boot loader), reports the application's rest
// state as 1, 18 or 19 (simBootSetRestState), and refuses CMD_WRITE_FIRM and
// CMD_START_FIRM with result 3.
//
// While the boot loader runs (device state 17) it answers:
// - CMD_GET_DEV_INFO as the application does; CMD_GET_FIRM_INFO with the
//   application's version, or result 4 when no whole application is held;
//   CMD_GET_BOOT_INFO (version 3 bytes, name 25 bytes); CMD_GET_DEV_STATE 17;
// - CMD_WRITE_FIRM with exactly 512 image bytes (else result 5). Blocks are
//   taken in a row: any other command starts the image anew. The first block
//   carries the image header: its length L must be a whole number of blocks
//   that fits the flash (else result 6), its firmware name must be the
//   application's name (else result 8, "Incompatible firmware"); from then
//   on the old application is gone. A block beyond L gives result 6. With the
//   last block the boot loader reads the flash back and checks its CRC
//   against the CRC of the bytes received (result 7 when they differ);
// - CMD_START_FIRM: a verified image becomes the application (its version
//   and name are reported from then on); then the device restarts into the
//   application. Result 6 for an image begun and not finished, 3 when there
//   is no application at all;
// - CMD_RESTART: the reply, then a restart into the application if it is
//   whole, else into the boot loader again; CMD_BOOT: the reply (it runs
//   already); anything else result 1.
// A restart takes SIM_BOOT_RESTART_MS, during which commands are lost. A
// device that is switched on without a whole application starts its boot
// loader, so an upload broken off can be made again.
#pragma once

#include <cstddef>
#include <cstdint>

struct SimDevice;

const uint32_t SIM_BOOT_RESTART_MS = 50;
const uint32_t SIM_BOOT_FLASH = 65024;          // the largest image
const uint8_t SIM_STATE_BOOT_LOADER = 17;

struct SimBoot {
    bool running;               // the boot loader runs
    bool appValid;              // a whole application is in the flash
    bool enterBoot;             // the next restart starts the boot loader
    bool corruptFlash;          // fault: the flash reads back wrong
    uint8_t restState;          // state byte of the application at rest
    uint8_t version[3];
    char name[25];
    uint32_t deafUntil;         // restarting until then
    bool restarting;
    uint32_t length;            // L of the image being written (0: none begun)
    uint32_t written;
    uint16_t crc;               // CRC of the bytes received
    bool verified;
    uint32_t blocks;            // blocks taken since the device was made
    uint8_t flash[SIM_BOOT_FLASH];
};

// What of its device the boot loader reads and changes.
struct SimBootView {
    uint8_t *state;             // device state byte (1 at rest)
    uint8_t *firmware;          // application version, 3 bytes
    char *firmwareName;         // application name, 25 bytes
};

// Power-on values: boot loader 1.0.0 "Halvex boot loader", a whole
// application, rest state 1.
void simBootInit(SimBoot *boot);
// The device restarts (after a command, or switched off and on): picks the
// program that runs next.
void simBootRestart(SimBoot *boot);
// True while a restart is under way (commands are lost).
bool simBootDeaf(SimBoot *boot, uint32_t nowMs);
// Longest command body the running program accepts.
uint32_t simBootRxLimit(const SimBoot *boot);

enum SimBootAction {
    SIM_BOOT_PASS = 0,          // the application's command handling answers
    SIM_BOOT_REPLY = 1,         // reply holds the answer
};
// Looks at a command received at nowMs before the application does. reply
// has room for 81 bytes; *restart is set when the device restarts after the
// reply (it is then deaf for SIM_BOOT_RESTART_MS).
SimBootAction simBootCommand(SimBoot *boot, const SimBootView *view, const uint8_t *body, size_t size,
                             uint32_t nowMs, uint8_t *reply, size_t *replySize, bool *restart);

// Controls for tests and hosts.
SimBoot *simDeviceBoot(SimDevice *dev);
void simBootSetVersion(SimBoot *boot, uint8_t major, uint8_t minor, uint8_t patch, const char *name);
void simBootSetRestState(SimBoot *boot, uint8_t state);
void simBootSetCorruptFlash(SimBoot *boot, bool corrupt);
