// firmware.h - the firmware file: its 84-byte header, the length rule and the
// CRC-16/MCRF4XX check value that follows the image.
//
// A firmware file is an image of L bytes (L a multiple of 512, at most
// 65,024 because L is a 16-bit field) followed by its 2-byte check value.
// The image starts with the header below, which is sent to the device as
// the start of the first block. All multi-byte values are little-endian.
//
// One firmware file is open at a time (the loader runs one update at a
// time); OpenFirmwareFile checks it whole and leaves it at offset 0.
#pragma once

#include <cstddef>
#include <cstdint>

const uint32_t FW_HEADER_SIZE = 84;
const uint32_t FW_BLOCK_SIZE = 512;
const uint32_t FW_NAME_OFFSET = 3;
const uint32_t FW_NAME_SIZE = 76;
const uint32_t FW_LENGTH_OFFSET = 80;
const uint32_t FW_CHECK_SIZE = 2;
// The largest image the 16-bit length field allows in whole blocks.
const uint32_t FW_MAX_IMAGE = 65024;

// The header as it stands at the start of the file.
struct FirmwareHeader {
    uint8_t bytes[FW_HEADER_SIZE];
};

// Version major, minor, patch; the name (cut at its zero byte or at the end
// of its 76-byte field, so always a terminated text); the image length L.
void firmwareVersion(const FirmwareHeader *h, uint8_t version[3]);
void firmwareName(const FirmwareHeader *h, char *out, size_t size);
uint32_t firmwareLength(const FirmwareHeader *h);

// CRC-16/MCRF4XX (reflected polynomial 0x8408, initial value 0xFFFF, no final
// XOR) by a 256-entry table, one byte at a time. crcStart gives the initial
// value; feed any number of pieces with crcUpdate.
const uint16_t CRC_START = 0xFFFF;
uint16_t crcUpdate(uint16_t crc, const uint8_t *data, size_t size);

// File errors reported as "!Firmware file error (%u).\n".
enum : unsigned {
    FW_ERR_READ = 1,    // a read failed or came short
    FW_ERR_LENGTH = 2,  // short header, size not L + 2, or L not a multiple of 512
    FW_ERR_CRC = 3,     // check value differs from the CRC of the image
};

// Opens and checks the firmware file at path. If the open fails and the path
// names no folder, it is tried once more in programPath's folder. Reports a
// failure through the user-message function and returns 1 (nothing left
// open); 0 when the file is good, open, and positioned at offset 0.
int OpenFirmwareFile(const char *path, const char *programPath);
// Closes the open firmware file, if any.
void CloseFirmwareFile();
// The open file's header, or null.
const FirmwareHeader *firmwareHeader();
// Reads the next block of the open file into block: the count read (512 for
// a full block, less at the end), or -1.
int32_t readFirmwareBlock(uint8_t block[FW_BLOCK_SIZE]);
