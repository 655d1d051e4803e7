// fuzz_firmware.cpp - any file content through the firmware file check. A
// file the check takes must hold an image of L bytes (a whole number of
// blocks) and its CRC, as an independent bit-by-bit CRC sees it; a file it
// refuses must leave nothing open.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "Upgrade/firmware.h"
#include "os/os.h"

static char g_path[64];

static uint16_t crcBits(const uint8_t *data, size_t size) {
    uint16_t crc = 0xFFFF;
    for (size_t i = 0; i < size; ++i) {
        crc ^= data[i];
        for (int bit = 0; bit < 8; ++bit) crc = (crc & 1) ? (uint16_t)((crc >> 1) ^ 0x8408) : (uint16_t)(crc >> 1);
    }
    return crc;
}

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    std::snprintf(g_path, sizeof g_path, "/tmp/qd-fuzz-firmware-%d.bin", (int)getpid());
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    OsFile f = osFileOpen(g_path, OS_FILE_WRITE | OS_FILE_TRUNCATE);
    if (f == OS_INVALID_FILE) return 0;
    const bool written = size == 0 || osFileWrite(f, data, (uint32_t)size) == (int32_t)size;
    osFileClose(f);
    if (!written) return 0;
    if (OpenFirmwareFile(g_path, nullptr) != 0) {
        if (firmwareHeader() != nullptr) __builtin_trap();
        return 0;
    }
    const uint32_t length = firmwareLength(firmwareHeader());
    if (size < FW_HEADER_SIZE || length % FW_BLOCK_SIZE != 0 || size != length + 2u) __builtin_trap();
    if (crcBits(data, length) != (uint16_t)(data[length] | data[length + 1] << 8)) __builtin_trap();
    // The blocks come back as the file holds them, then the short tail.
    uint8_t block[FW_BLOCK_SIZE];
    for (uint32_t at = 0; at < length; at += FW_BLOCK_SIZE)
        if (readFirmwareBlock(block) != (int32_t)FW_BLOCK_SIZE || block[0] != data[at]) __builtin_trap();
    if (readFirmwareBlock(block) != 2) __builtin_trap();
    CloseFirmwareFile();
    return 0;
}
