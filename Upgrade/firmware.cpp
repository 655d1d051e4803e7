// firmware.cpp - opening and checking the firmware file, and reading its
// blocks for the update run.
#include "Upgrade/firmware.h"

#include <cstdio>
#include <cstring>

#include "Upgrade/output.h"
#include "os/os.h"

namespace {

// The CRC table: for every byte value, the register after shifting that
// byte through the reflected polynomial 0x8408.
struct CrcTable {
    uint16_t v[256];
};

constexpr CrcTable makeCrcTable() {
    CrcTable t{};
    for (unsigned i = 0; i < 256; ++i) {
        uint16_t crc = (uint16_t)i;
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 1u) ? (uint16_t)((crc >> 1) ^ 0x8408u) : (uint16_t)(crc >> 1);
        t.v[i] = crc;
    }
    return t;
}

constexpr CrcTable kCrcTable = makeCrcTable();

const size_t PATH_MAX_CHARS = 255;

OsFile g_file = OS_INVALID_FILE;
FirmwareHeader g_header;

// Reads exactly size bytes; false on a failed or short read.
bool readAll(OsFile f, uint8_t *buffer, uint32_t size) {
    uint32_t got = 0;
    while (got < size) {
        int32_t n = osFileRead(f, buffer + got, size - got);
        if (n <= 0) return false;
        got += (uint32_t)n;
    }
    return true;
}

bool namesFolder(const char *path) {
    for (const char *p = path; *p; ++p)
        if (osIsPathSeparator(*p) || *p == '\\' || *p == ':') return true;
    return false;
}

// Opens the file for reading; a bare name that cannot be opened is tried
// once more in the program's folder (when that path fits in 255 characters).
OsFile openShared(const char *path, const char *programPath) {
    OsFile f = osFileOpen(path, OS_FILE_READ | OS_FILE_SHARE_READ);
    if (f != OS_INVALID_FILE || namesFolder(path) || !programPath) return f;
    size_t cut = 0;
    for (size_t i = 0; programPath[i]; ++i)
        if (osIsPathSeparator(programPath[i])) cut = i + 1;
    char joined[PATH_MAX_CHARS + 1];
    if (cut == 0 || cut + std::strlen(path) > PATH_MAX_CHARS) return OS_INVALID_FILE;
    std::memcpy(joined, programPath, cut);
    std::strcpy(joined + cut, path);
    return osFileOpen(joined, OS_FILE_READ | OS_FILE_SHARE_READ);
}

// Checks the open file: header, length rule, CRC of the image against the
// check value. 0 when good, else the file error number.
unsigned checkFile(OsFile f, FirmwareHeader *header) {
    if (!readAll(f, header->bytes, FW_HEADER_SIZE)) return FW_ERR_LENGTH;
    const uint32_t length = firmwareLength(header);
    if ((int64_t)length + FW_CHECK_SIZE != osFileSize(f) || length % FW_BLOCK_SIZE != 0) return FW_ERR_LENGTH;
    if (osFileSeek(f, 0, OS_SEEK_SET) != 0) return FW_ERR_READ;
    uint16_t crc = CRC_START;
    uint8_t block[FW_BLOCK_SIZE];
    for (uint32_t i = 0; i < length / FW_BLOCK_SIZE; ++i) {
        if (!readAll(f, block, FW_BLOCK_SIZE)) return FW_ERR_READ;
        crc = crcUpdate(crc, block, FW_BLOCK_SIZE);
    }
    uint8_t check[FW_CHECK_SIZE];
    if (!readAll(f, check, FW_CHECK_SIZE)) return FW_ERR_READ;
    if ((uint16_t)(check[0] | check[1] << 8) != crc) return FW_ERR_CRC;
    return 0;
}

}  // namespace

void firmwareVersion(const FirmwareHeader *h, uint8_t version[3]) { std::memcpy(version, h->bytes, 3); }

void firmwareName(const FirmwareHeader *h, char *out, size_t size) {
    if (!out || size == 0) return;
    size_t n = 0;
    while (n < FW_NAME_SIZE && n + 1 < size && h->bytes[FW_NAME_OFFSET + n] != 0) {
        out[n] = (char)h->bytes[FW_NAME_OFFSET + n];
        ++n;
    }
    out[n] = '\0';
}

uint32_t firmwareLength(const FirmwareHeader *h) {
    return (uint32_t)h->bytes[FW_LENGTH_OFFSET] | (uint32_t)h->bytes[FW_LENGTH_OFFSET + 1] << 8;
}

uint16_t crcUpdate(uint16_t crc, const uint8_t *data, size_t size) {
    for (size_t i = 0; i < size; ++i)
        crc = (uint16_t)((crc >> 8) ^ kCrcTable.v[(crc ^ data[i]) & 0xFFu]);
    return crc;
}

int OpenFirmwareFile(const char *path, const char *programPath) {
    CloseFirmwareFile();
    if (!path) path = "";
    updLog("Firmware file: %s\n", path);
    OsFile f = openShared(path, programPath);
    if (f == OS_INVALID_FILE) {
        updUserMessage("!Can't open firmware file %s.\n", path);
        return 1;
    }
    unsigned error = checkFile(f, &g_header);
    if (error == 0 && osFileSeek(f, 0, OS_SEEK_SET) != 0) error = FW_ERR_READ;
    if (error != 0) {
        osFileClose(f);
        updUserMessage("!Firmware file error (%u).\n", error);
        return 1;
    }
    g_file = f;
    return 0;
}

void CloseFirmwareFile() {
    if (g_file != OS_INVALID_FILE) osFileClose(g_file);
    g_file = OS_INVALID_FILE;
}

const FirmwareHeader *firmwareHeader() { return g_file != OS_INVALID_FILE ? &g_header : nullptr; }

int32_t readFirmwareBlock(uint8_t block[FW_BLOCK_SIZE]) {
    if (g_file == OS_INVALID_FILE) return -1;
    uint32_t got = 0;
    while (got < FW_BLOCK_SIZE) {
        int32_t n = osFileRead(g_file, block + got, FW_BLOCK_SIZE - got);
        if (n < 0) return -1;
        if (n == 0) break;
        got += (uint32_t)n;
    }
    return (int32_t)got;
}
