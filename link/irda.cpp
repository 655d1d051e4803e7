// irda.cpp - the IrDA link: an IrCOMM socket in 9-wire mode to the first
// IrDA device in range. The device must announce 9-wire mode in the
// "Parameters" attribute of its IrCOMM entry in the IAS database. Every
// socket call goes through the socket seam (sockets.h); a system without an
// IrDA stack (Linux) refuses the open at once.
#include <cstring>

#include "link/link_internal.h"
#include "link/link_texts.h"
#include "link/sockets.h"

namespace {

// The device list is asked for with room for five devices.
const int DEVICE_LIST_SIZE = 152;
const char IRCOMM_CLASS[] = "IrDA:IrCOMM";
const char IRCOMM_ATTRIBUTE[] = "Parameters";
// IrCOMM parameter list: identifier, length, value bytes. The service type
// (identifier 0) has the 9-wire bit in its first value byte.
const uint8_t PARAM_SERVICE_TYPE = 0x00;
const uint8_t SERVICE_NINE_WIRE = 0x04;
const uint32_t PARAMS_MINIMUM = 3;

// Closes the socket of a failed open, then logs why: the error a call left
// ("!%s %i") or a text of its own ("!%s").
uintptr_t failWithError(const LinkSocketApi *api, uintptr_t socket, const char *tag) {
    int error = api->lastError();
    api->close(socket);
    linkLog("!%s %i\n", tag, error);
    return LINK_INVALID_HANDLE;
}

uintptr_t failWithText(const LinkSocketApi *api, uintptr_t socket, const char *text) {
    api->close(socket);
    linkLog("!%s\n", text);
    return LINK_INVALID_HANDLE;
}

// True when the parameter list holds a service type with the 9-wire bit.
// The walk goes one whole parameter at a time and stops where a parameter
// would run past the end of the list.
bool nineWireAnnounced(const uint8_t *params, uint32_t length) {
    uint32_t at = 0;
    while (at + 2 <= length) {
        uint8_t id = params[at];
        uint32_t size = params[at + 1];
        if (at + 2 + size > length) return false;
        if (id == PARAM_SERVICE_TYPE && size >= 1 && (params[at + 2] & SERVICE_NINE_WIRE) != 0) return true;
        at += 2 + size;
    }
    return false;
}

enum IasVerdict { IAS_CALL_FAILED, IAS_BAD, IAS_NO_NINE_WIRE, IAS_NINE_WIRE };

// Asks the device's IAS database for IrCOMM's "Parameters". An answer that
// is not an octet sequence of at least 3 bytes, or that claims more octets
// than it holds, is bad.
IasVerdict askParameters(const LinkSocketApi *api, uintptr_t socket, const uint8_t *deviceId) {
    uint8_t query[IAS_QUERY_SIZE];
    std::memset(query, 0, sizeof query);
    std::memcpy(query + IAS_DEVICE_AT, deviceId, IRDA_DEVICE_ID_SIZE);
    std::memcpy(query + IAS_CLASS_AT, IRCOMM_CLASS, sizeof IRCOMM_CLASS);
    std::memcpy(query + IAS_ATTRIBUTE_AT, IRCOMM_ATTRIBUTE, sizeof IRCOMM_ATTRIBUTE);
    int size = IAS_QUERY_SIZE;
    if (api->getOption(socket, LINK_SOL_IRLMP, LINK_IRLMP_IAS_QUERY, query, &size) != 0) return IAS_CALL_FAILED;
    uint32_t type = linkGet32(query + IAS_TYPE_AT);
    uint32_t length = linkGet32(query + IAS_OCTETS_LENGTH_AT);
    bool whole = size >= IAS_OCTETS_AT && length <= (uint32_t)IAS_OCTETS_SIZE &&
                 length <= (uint32_t)(size - IAS_OCTETS_AT);
    if (type != IAS_TYPE_OCTETS || length < PARAMS_MINIMUM || !whole) return IAS_BAD;
    return nineWireAnnounced(query + IAS_OCTETS_AT, length) ? IAS_NINE_WIRE : IAS_NO_NINE_WIRE;
}

}  // namespace

uintptr_t OpenIrda() {
    const LinkSocketApi *api = linkSockets();
    if (!api->irda) {
        linkLog("!%s\n", "OpenIrda: IrDA is not supported on this system");
        return LINK_INVALID_HANDLE;
    }
    uintptr_t s = api->open(LINK_AF_IRDA, LINK_SOCK_STREAM, LINK_PROTO_IRDA);
    if (s == LINK_INVALID_HANDLE) {
        linkLog("!%s %i\n", "socket: WSAGetLastError", api->lastError());
        return LINK_INVALID_HANDLE;
    }

    // The devices in range; only the entries the answer really holds count.
    uint8_t list[DEVICE_LIST_SIZE];
    std::memset(list, 0, sizeof list);
    int size = DEVICE_LIST_SIZE;
    if (api->getOption(s, LINK_SOL_IRLMP, LINK_IRLMP_ENUMDEVICES, list, &size) != 0) {
        return failWithError(api, s, "getsockopt 1: WSAGetLastError");
    }
    uint32_t held = size > IRDA_LIST_DEVICES_AT ? (uint32_t)(size - IRDA_LIST_DEVICES_AT) / IRDA_DEVICE_SIZE : 0;
    if (linkGet32(list + IRDA_LIST_COUNT_AT) == 0 || held == 0) {
        return failWithText(api, s, kLinkIrdaNoDevice);
    }
    const uint8_t *deviceId = list + IRDA_LIST_DEVICES_AT;

    switch (askParameters(api, s, deviceId)) {
    case IAS_CALL_FAILED: return failWithError(api, s, "getsockopt 2: WSAGetLastError");
    case IAS_BAD: return failWithText(api, s, "getsockopt 2: Peer's IAS database entry for IrCOMM is bad");
    case IAS_NO_NINE_WIRE: return failWithText(api, s, "getsockopt 2: peer doesn't support 9 wire mode");
    case IAS_NINE_WIRE: break;
    }

    uint8_t on[4];
    linkPut32(on, 1);
    if (api->setOption(s, LINK_SOL_IRLMP, LINK_IRLMP_9WIRE_MODE, on, sizeof on) != 0) {
        return failWithError(api, s, "setsockopt: WSAGetLastError");
    }
    uint8_t address[IRDA_ADDR_SIZE];
    std::memset(address, 0, sizeof address);
    linkPut16(address + IRDA_FAMILY_AT, LINK_AF_IRDA);
    std::memcpy(address + IRDA_DEVICE_AT, deviceId, IRDA_DEVICE_ID_SIZE);
    std::memcpy(address + IRDA_SERVICE_AT, IRCOMM_CLASS, sizeof IRCOMM_CLASS);
    if (api->connect(s, address, IRDA_ADDR_SIZE) != 0) return failWithError(api, s, kLinkConnectFailed);
    return s;
}
