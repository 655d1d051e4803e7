// fuzz_update.cpp - the update run with a device byte stream from the fuzz
// input, over a simulated USB transceiver. The first byte picks Upload (a
// valid 2048-byte image) or Check; then each chunk is
// [length][milliseconds][bytes]: the bytes wait on the wire, the run polls,
// the clock moves on. Whatever the device says, the run stays in a known
// state and ends within its time-outs once the device falls silent.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "Upgrade/firmware.h"
#include "Upgrade/update.h"
#include "os/os.h"
#include "sim/ftsim.h"

static char g_path[64];

static void writeImage() {
    uint8_t image[2048 + 2] = {2, 1, 0, 'H', 'a', 'l', 'v', 'e', 'x'};
    image[FW_LENGTH_OFFSET + 1] = 2048 >> 8;
    const uint16_t crc = crcUpdate(CRC_START, image, 2048);
    image[2048] = (uint8_t)crc;
    image[2049] = (uint8_t)(crc >> 8);
    OsFile f = osFileOpen(g_path, OS_FILE_WRITE | OS_FILE_TRUNCATE);
    osFileWrite(f, image, sizeof image);
    osFileClose(f);
}

static bool knownState(uint16_t s) { return s <= UPD_ERR && s != 5; }

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    std::snprintf(g_path, sizeof g_path, "/tmp/qd-fuzz-update-%d.bin", (int)getpid());
    writeImage();
    osClockSetManual(true, 100000);
    return InitLinkLibrary() ? 0 : 1;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size < 1) return 0;
    ftsimReset();
    const int slot = ftsimAdd("QVFUZZ01", nullptr);
    LinkHandle link = {LINK_USB, LINK_INVALID_HANDLE};
    if (OpenLink(LINK_USB, "QVFUZZ01", &link, nullptr, 0) != 1) __builtin_trap();
    const bool upload = (data[0] & 1) && OpenFirmwareFile(g_path, nullptr) == 0;
    StartUpdate(&link, upload ? firmwareHeader() : nullptr);
    bool going = true;
    for (size_t at = 1; going && at + 2 <= size;) {
        size_t length = data[at];
        const uint32_t ms = data[at + 1];
        at += 2;
        if (length > size - at) length = size - at;
        if (length > 0) ftsimPushBytes(slot, data + at, length);
        at += length;
        going = PollUpdate() != 0;
        osClockAdvance(ms * 8);
        if (!knownState(updateState()) || updateSent() > 2048) __builtin_trap();
    }
    // Silence: nothing more comes from the device, and the reply time-outs
    // end every run. A pass reads at most one message, so what is still on
    // the wire is read first without the clock moving (the program's loop
    // polls every millisecond); until it is, the device has not been silent.
    for (int i = 0, passes = 0; going && i < 100 && passes < 100000; ++passes) {
        going = PollUpdate() != 0;
        if (QueueStatusLink(&link) > 0) continue;
        osClockAdvance(100);
        ++i;
    }
    if (going) __builtin_trap();
    CloseLink(&link);
    CloseFirmwareFile();
    return 0;
}
