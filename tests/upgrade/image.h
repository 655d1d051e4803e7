// image.h - firmware images for the loader's tests and test hosts: a valid
// header (version, name, length L), a body pattern, the check value after L.
#pragma once

#include <cstring>
#include <string>
#include <vector>

#include "Upgrade/firmware.h"
#include "os/os.h"

inline std::vector<uint8_t> firmwareImage(uint32_t length, const char *name = "Halvex application", uint8_t major = 2,
                                          uint8_t minor = 1, uint8_t patch = 0) {
    std::vector<uint8_t> b(length);
    for (uint32_t i = 0; i < length; ++i)
        b[i] = (uint8_t)(i * 7 + i / 256);
    b[0] = major, b[1] = minor, b[2] = patch;
    std::memset(&b[FW_NAME_OFFSET], 0, FW_NAME_SIZE);
    std::memcpy(&b[FW_NAME_OFFSET], name, std::strlen(name));
    b[FW_LENGTH_OFFSET] = (uint8_t)length, b[FW_LENGTH_OFFSET + 1] = (uint8_t)(length >> 8);
    const uint16_t crc = crcUpdate(CRC_START, b.data(), b.size());
    b.push_back((uint8_t)crc), b.push_back((uint8_t)(crc >> 8));
    return b;
}

inline bool writeBytes(const std::string &path, const std::vector<uint8_t> &bytes) {
    OsFile f = osFileOpen(path.c_str(), OS_FILE_WRITE | OS_FILE_TRUNCATE);
    const bool ok = f != OS_INVALID_FILE && osFileWrite(f, bytes.data(), (uint32_t)bytes.size()) == (int32_t)bytes.size();
    if (f != OS_INVALID_FILE) osFileClose(f);
    return ok;
}
