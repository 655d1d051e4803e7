// sockets.h - the socket seam: every call the Bluetooth and IrDA links make
// to the system's socket layer goes through one table of functions, so that
// the device simulator can stand in below it. The link code above the seam
// (link.cpp, bt.cpp, irda.cpp) is the code that ships, in tests too.
//
// Three tables implement it:
//   - the system's: Winsock on Windows (link/win32/sockets_win32.cpp), BSD
//     sockets with BlueZ's libbluetooth on Linux (link/posix/sockets_posix.cpp);
//   - the simulator's (sim/ftsim_sockets.cpp): simulated Bluetooth and IrDA
//     devices.
// The system's table is used unless a program chooses another: a test with
// linkUseSockets, or a host that loads the simulator library in place of
// the D2XX library (the link library then finds the simulator's table among
// that library's exports, see linkStandInSockets, and says so in its log).
//
// Conventions of the table, those of Winsock whatever the system:
//   - a socket is a pointer-sized value; LINK_INVALID_HANDLE is none;
//   - a failing call returns -1 (open: LINK_INVALID_HANDLE) and leaves its
//     reason, a Winsock error number, for lastError; the POSIX table maps
//     errno to these numbers in one place;
//   - option levels and names, ioctl commands and the byte layouts of
//     socket addresses, the IrDA device list and the IAS query are Winsock's
//     (below); they are the same in 32- and 64-bit processes.
#pragma once

#include <cstdint>

#include "link/link.h"

// ---------------------------------------------------------------------------
// Winsock numbers the links use
// ---------------------------------------------------------------------------

// Error numbers (WSAGetLastError).
enum : int {
    LINK_ERR_FAULT = 10014,           // buffer too small (a lookup result does not fit)
    LINK_ERR_INVALID = 10022,         // invalid argument
    LINK_ERR_WOULDBLOCK = 10035,      // a non-blocking call is in progress
    LINK_ERR_NOTSOCK = 10038,         // not a socket
    LINK_ERR_NOPROTOOPT = 10042,      // option not known
    LINK_ERR_AFNOSUPPORT = 10047,     // address family not supported
    LINK_ERR_NETDOWN = 10050,         // no adapter, network down
    LINK_ERR_NETRESET = 10052,
    LINK_ERR_CONNABORTED = 10053,
    LINK_ERR_CONNRESET = 10054,
    LINK_ERR_NOTCONN = 10057,
    LINK_ERR_TIMEDOUT = 10060,
    LINK_ERR_CONNREFUSED = 10061,
    LINK_ERR_HOSTDOWN = 10064,
    LINK_ERR_HOSTUNREACH = 10065,
    LINK_ERR_NOTINITIALISED = 10093,
    LINK_ERR_NO_MORE = 10110,         // the lookup has no more results
};

// Address families, socket types and protocols.
enum : int {
    LINK_AF_IRDA = 26,
    LINK_AF_BTH = 32,
    LINK_SOCK_STREAM = 1,
    LINK_PROTO_IRDA = 0,
    LINK_PROTO_RFCOMM = 3,
};

// Option levels and names.
enum : int {
    LINK_SOL_SOCKET = 0xFFFF,
    LINK_SO_RCVBUF = 0x1002,
    LINK_SO_ERROR = 0x1007,
    LINK_SOL_IRLMP = 0xFF,
    LINK_IRLMP_ENUMDEVICES = 0x10,
    LINK_IRLMP_IAS_QUERY = 0x12,
    LINK_IRLMP_9WIRE_MODE = 0x16,
};

// ioctl commands.
const uint32_t LINK_FIONREAD = 0x4004667Fu;
const uint32_t LINK_FIONBIO = 0x8004667Eu;

// Name lookup: name space of Bluetooth devices, and the flags of an
// inquiry (devices rather than services, with their names and addresses).
const uint32_t LINK_NS_BTH = 16;
const uint32_t LINK_LUP_CONTAINERS = 0x0002;
const uint32_t LINK_LUP_RETURN_NAME = 0x0010;
const uint32_t LINK_LUP_RETURN_ADDR = 0x0100;

// ---------------------------------------------------------------------------
// Byte layouts (little-endian numbers, no padding between fields)
// ---------------------------------------------------------------------------

// Bluetooth socket address (SOCKADDR_BTH, 30 bytes): family, the 48-bit
// device address in a 64-bit field, the service class and the RFCOMM
// channel (0: the service class chooses it).
const int BTH_ADDR_SIZE = 30;
const int BTH_FAMILY_AT = 0;
const int BTH_ADDRESS_AT = 2;
const int BTH_SERVICE_AT = 10;
const int BTH_PORT_AT = 26;
// The Serial Port service class 00001101-0000-1000-8000-00805F9B34FB as
// the address holds it (the first three groups little-endian).
const uint8_t BTH_SERIAL_PORT_CLASS[16] = {0x01, 0x11, 0x00, 0x00, 0x00, 0x00, 0x00, 0x10,
                                           0x80, 0x00, 0x00, 0x80, 0x5F, 0x9B, 0x34, 0xFB};
const uint64_t BTH_ADDRESS_MASK = 0xFFFFFFFFFFFFull;

// IrDA socket address (SOCKADDR_IRDA, 32 bytes): family, device id,
// service name.
const int IRDA_ADDR_SIZE = 32;
const int IRDA_FAMILY_AT = 0;
const int IRDA_DEVICE_AT = 2;
const int IRDA_SERVICE_AT = 6;
const int IRDA_SERVICE_SIZE = 25;

// IrDA device list (DEVICELIST): the count, then one 29-byte entry per
// device (id, name, two hint bytes, character set).
const int IRDA_LIST_COUNT_AT = 0;
const int IRDA_LIST_DEVICES_AT = 4;
const int IRDA_DEVICE_SIZE = 29;
const int IRDA_DEVICE_ID_SIZE = 4;
const int IRDA_DEVICE_NAME_AT = 4;
const int IRDA_DEVICE_NAME_SIZE = 22;

// IAS query (IAS_QUERY, 1356 bytes): device id, class and attribute names
// asked for, then the answer: its type, and for an octet sequence (type 2)
// its length and the octets.
const int IAS_QUERY_SIZE = 1356;
const int IAS_DEVICE_AT = 0;
const int IAS_CLASS_AT = 4;
const int IAS_CLASS_SIZE = 64;
const int IAS_ATTRIBUTE_AT = 68;
const int IAS_ATTRIBUTE_SIZE = 256;
const int IAS_TYPE_AT = 324;
const int IAS_OCTETS_LENGTH_AT = 328;
const int IAS_OCTETS_AT = 332;
const int IAS_OCTETS_SIZE = 1024;
const uint32_t IAS_TYPE_OCTETS = 2;

// Longest Bluetooth device name (bytes, without a terminator).
const uint32_t LINK_BT_NAME_MAX = 248;

// One result of a Bluetooth inquiry.
struct LinkBtFound {
    const char *name;       // null: the device gave no name; else nameLength bytes (and a NUL)
    uint32_t nameLength;    // may exceed LINK_BT_NAME_MAX when the system reports a longer name
    uint64_t address;       // 48 significant bits
};

// ---------------------------------------------------------------------------
// The seam
// ---------------------------------------------------------------------------

const uint32_t LINK_SOCKET_API_VERSION = 1;

struct LinkSocketApi {
    uint32_t version;        // LINK_SOCKET_API_VERSION
    const char *name;        // for the log: "Winsock", "BlueZ", "device simulator"
    bool irda;               // false: the system has no IrDA stack

    // WSAStartup (version 2.2) and WSACleanup. start: 1, or 0 with the
    // error in *error.
    int (*start)(int *error);
    void (*stop)();
    // The calling thread's last error, and setting it (a failed connect's
    // reason survives the close of its socket).
    int (*lastError)();
    void (*setLastError)(int error);

    // socket(family, type, protocol).
    uintptr_t (*open)(int family, int type, int protocol);
    // connect with an address of the layouts above (size bytes). A
    // non-blocking socket may fail with LINK_ERR_WOULDBLOCK: the connect
    // goes on, pollConnect tells when it is done.
    int (*connect)(uintptr_t socket, const void *address, int size);
    // select with the socket in the write and the exception set and no
    // wait: -1 on error, 0 while connecting, 1 when done; *failed is set
    // when the socket is in the exception set (its SO_ERROR says why).
    int (*pollConnect)(uintptr_t socket, int *failed);
    // ioctlsocket: LINK_FIONREAD (bytes waiting into *argument), LINK_FIONBIO
    // (*argument 1: non-blocking, 0: blocking).
    int (*ioctl)(uintptr_t socket, uint32_t command, uint32_t *argument);
    // getsockopt / setsockopt. SO_ERROR gives a Winsock error number.
    int (*getOption)(uintptr_t socket, int level, int name, void *value, int *size);
    int (*setOption)(uintptr_t socket, int level, int name, const void *value, int size);
    // send of the whole buffer, flags 0: bytes sent or -1.
    int32_t (*send)(uintptr_t socket, const void *data, int32_t length);
    // recv of one byte, flags 0: 1, 0 (closed by the peer) or -1.
    int32_t (*recvByte)(uintptr_t socket, void *buffer);
    // closesocket: 0 or -1.
    int (*close)(uintptr_t socket);

    // A Bluetooth inquiry (WSALookupServiceBegin/Next/End in the Bluetooth
    // name space). next fills *found and may keep the name in buffer (size
    // bytes); when it does not fit, it fails with LINK_ERR_FAULT, sets *size
    // to what it needs and gives the same result again at the next call.
    // The end of the results is LINK_ERR_NO_MORE.
    int (*lookupBegin)(uint32_t flags, uintptr_t *lookup);
    int (*lookupNext)(uintptr_t lookup, uint32_t flags, void *buffer, uint32_t *size, LinkBtFound *found);
    void (*lookupEnd)(uintptr_t lookup);

    // WSAStringToAddressA and WSAAddressToStringA for Bluetooth addresses
    // (family LINK_AF_BTH, the 30-byte layout): text "XX:XX:XX:XX:XX:XX",
    // with or without parentheses; written "(XX:XX:XX:XX:XX:XX)". *size
    // holds the room given and receives the size used (or needed).
    int (*textToAddress)(const char *text, int family, void *address, int *size);
    int (*addressToText)(const void *address, int size, char *text, uint32_t *textSize);
};

// The table the links use now (the system's unless another was chosen).
const LinkSocketApi *linkSockets();
// The system's own table.
const LinkSocketApi *linkSystemSockets();
// Makes api the table of the links (null: the system's again). A library
// already started is stopped with the old table and started with the new.
// For tests and for hosts that bring their own stand-in.
void linkUseSockets(const LinkSocketApi *api);

// The name a simulator library exports its table under ("the table of the
// stand-in", a function without arguments returning the table).
#define LINK_STAND_IN_SOCKETS "ftsimSocketApi"
typedef const LinkSocketApi *(*LinkStandInSocketsFn)();
// The stand-in table of the D2XX library this program uses, when that
// library is the device simulator; null otherwise (platform code).
const LinkSocketApi *linkStandInSockets(const char **library);

// ---------------------------------------------------------------------------
// Little-endian fields of the layouts
// ---------------------------------------------------------------------------

inline void linkPut16(uint8_t *p, uint16_t v) {
    p[0] = (uint8_t)v;
    p[1] = (uint8_t)(v >> 8);
}
inline void linkPut32(uint8_t *p, uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = (uint8_t)(v >> (8 * i));
}
inline void linkPut64(uint8_t *p, uint64_t v) {
    for (int i = 0; i < 8; ++i) p[i] = (uint8_t)(v >> (8 * i));
}
inline uint16_t linkGet16(const uint8_t *p) { return (uint16_t)(p[0] | (p[1] << 8)); }
inline uint32_t linkGet32(const uint8_t *p) {
    return (uint32_t)p[0] | ((uint32_t)p[1] << 8) | ((uint32_t)p[2] << 16) | ((uint32_t)p[3] << 24);
}
inline uint64_t linkGet64(const uint8_t *p) {
    uint64_t v = 0;
    for (int i = 7; i >= 0; --i) v = (v << 8) | p[i];
    return v;
}
