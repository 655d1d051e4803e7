// d2xx.h - the part of the FTDI D2XX library that the USB link uses.
//
// Our own declarations of the sixteen functions the link calls, with our own
// types. On Windows the driver and the loader import them from FTD2XX.dll by
// ordinal (see link/d2xx/FTD2XX.def); on Linux libqvftd2xx.so provides them
// (link/ftdi/, over libftdi); in tests the simulated transceivers of
// sim/ftsim.* provide them.
//
// Every function returns an FT_STATUS: 0 is success.
#pragma once

#include <cstdint>

// FT_CALL (the library's calling convention) and FT_EXPORT (how a library
// that implements these functions exports them) of this system: the header
// of the same name in link/win32 or link/posix, which the build puts on the
// include path by platform.
#include "d2xx_abi.h"

typedef void *FT_HANDLE;
typedef uint32_t FT_STATUS;

// Status values.
enum : FT_STATUS {
    FT_OK = 0,
    FT_INVALID_HANDLE = 1,
    FT_DEVICE_NOT_FOUND = 2,
    FT_DEVICE_NOT_OPENED = 3,
    FT_IO_ERROR = 4,
    FT_INSUFFICIENT_RESOURCES = 5,
    FT_INVALID_PARAMETER = 6,
    FT_INVALID_BAUD_RATE = 7,
    FT_OTHER_ERROR = 18,
    FT_NOT_SUPPORTED = 17,
};

// FT_OpenEx flags: what the argument names.
enum : uint32_t { FT_OPEN_BY_SERIAL_NUMBER = 1, FT_OPEN_BY_DESCRIPTION = 2 };

// FT_SetDataCharacteristics values.
enum : uint8_t { FT_BITS_8 = 8, FT_BITS_7 = 7, FT_STOP_BITS_1 = 0, FT_STOP_BITS_2 = 2, FT_PARITY_NONE = 0 };

// FT_SetFlowControl modes.
enum : uint16_t { FT_FLOW_NONE = 0x0000, FT_FLOW_RTS_CTS = 0x0100, FT_FLOW_DTR_DSR = 0x0200, FT_FLOW_XON_XOFF = 0x0400 };

// FT_GetModemStatus bits (low byte: modem status, next byte: line status).
enum : uint32_t { FT_MODEM_CTS = 0x10, FT_MODEM_DSR = 0x20, FT_MODEM_RI = 0x40, FT_MODEM_DCD = 0x80 };

// FT_GetDeviceInfoDetail flags.
enum : uint32_t { FT_FLAGS_OPENED = 1 };

// Buffer sizes the library writes into (terminator included).
enum : uint32_t { FT_SERIAL_SIZE = 16, FT_DESCRIPTION_SIZE = 64 };

extern "C" {
FT_EXPORT FT_STATUS FT_CALL FT_Close(FT_HANDLE handle);
FT_EXPORT FT_STATUS FT_CALL FT_Read(FT_HANDLE handle, void *buffer, uint32_t toRead, uint32_t *read);
FT_EXPORT FT_STATUS FT_CALL FT_Write(FT_HANDLE handle, void *buffer, uint32_t toWrite, uint32_t *written);
FT_EXPORT FT_STATUS FT_CALL FT_SetBaudRate(FT_HANDLE handle, uint32_t baudRate);
FT_EXPORT FT_STATUS FT_CALL FT_SetDataCharacteristics(FT_HANDLE handle, uint8_t wordLength, uint8_t stopBits, uint8_t parity);
FT_EXPORT FT_STATUS FT_CALL FT_SetFlowControl(FT_HANDLE handle, uint16_t flowControl, uint8_t xon, uint8_t xoff);
FT_EXPORT FT_STATUS FT_CALL FT_SetDtr(FT_HANDLE handle);
FT_EXPORT FT_STATUS FT_CALL FT_ClrDtr(FT_HANDLE handle);
FT_EXPORT FT_STATUS FT_CALL FT_ClrRts(FT_HANDLE handle);
FT_EXPORT FT_STATUS FT_CALL FT_GetModemStatus(FT_HANDLE handle, uint32_t *modemStatus);
FT_EXPORT FT_STATUS FT_CALL FT_GetQueueStatus(FT_HANDLE handle, uint32_t *rxBytes);
FT_EXPORT FT_STATUS FT_CALL FT_OpenEx(void *arg, uint32_t flags, FT_HANDLE *handle);
// type receives the chip type, id the USB vendor id (high word) and product
// id (low word); serial receives up to FT_SERIAL_SIZE bytes, description up
// to FT_DESCRIPTION_SIZE bytes; reserved is unused.
FT_EXPORT FT_STATUS FT_CALL FT_GetDeviceInfo(FT_HANDLE handle, uint32_t *type, uint32_t *id, char *serial,
                                             char *description, void *reserved);
FT_EXPORT FT_STATUS FT_CALL FT_ResetPort(FT_HANDLE handle);
FT_EXPORT FT_STATUS FT_CALL FT_CreateDeviceInfoList(uint32_t *count);
FT_EXPORT FT_STATUS FT_CALL FT_GetDeviceInfoDetail(uint32_t index, uint32_t *flags, uint32_t *type, uint32_t *id,
                                                   uint32_t *locationId, void *serial, void *description,
                                                   FT_HANDLE *handle);
}

// Linux's libqvftd2xx.so also says why a call failed where a status cannot
// (no permission to open the device, a vanished device, a line error, a
// request the chip refused): one line at a time, beginning with "!" and
// FT_LOG_TAG, handed to a hook that the program sets through this optional
// export. Other D2XX libraries do not have it.
#define FT_LOG_HOOK_EXPORT "qvftSetLogHook"
#define FT_LOG_TAG "libqvftd2xx: "
typedef void (*FtLogLine)(const char *line);
typedef void (*FtSetLogHookFn)(FtLogLine hook);

// And it can tell the program at once when data arrive, through this
// optional export: the hook runs on the library's own reader thread, after
// the bytes are readable (or reading has ended), and must only wake the
// program's reader (it must not call back into the library).
#define FT_RX_HOOK_EXPORT "qvftSetRxHook"
typedef void (*FtRxHook)(void);
typedef void (*FtSetRxHookFn)(FtRxHook hook);
