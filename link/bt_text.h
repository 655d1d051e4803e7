// bt_text.h - Bluetooth address texts the way Winsock reads and writes them
// (WSAStringToAddressA, WSAAddressToStringA for Bluetooth addresses), for
// the socket tables that have no Winsock below them: the Linux table and
// the device simulator. Both must read and write the same texts as Windows,
// since the texts travel: the driver keeps the address of the device it
// opened and reopens it by that text, and the logs of the builds are
// compared.
//
// Read: six pairs of hex digits separated by colons, "00:80:98:A1:B2:C3",
// optionally inside parentheses; the first pair is the most significant
// byte. Written: "(00:80:98:A1:B2:C3)", upper-case, 19 characters.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstring>

#include "link/sockets.h"

const uint32_t BT_TEXT_SIZE = 20;   // the written form with its terminator

// Reads an address text; false when text is not one (nothing else follows).
inline bool btTextRead(const char *text, uint64_t *address) {
    if (!text) return false;
    const char *p = text;
    bool paren = *p == '(';
    if (paren) ++p;
    uint64_t value = 0;
    for (int pair = 0; pair < 6; ++pair) {
        for (int digit = 0; digit < 2; ++digit, ++p) {
            char c = *p;
            int v = c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1;
            if (v < 0) return false;
            value = (value << 4) | (uint64_t)v;
        }
        if (pair < 5 && *p++ != ':') return false;
    }
    if (paren && *p++ != ')') return false;
    if (*p != '\0') return false;
    *address = value;
    return true;
}

// Writes the address text into text (size bytes, at least BT_TEXT_SIZE);
// false when it does not fit.
inline bool btTextWrite(uint64_t address, char *text, uint32_t size) {
    if (!text || size < BT_TEXT_SIZE) return false;
    std::snprintf(text, size, "(%02X:%02X:%02X:%02X:%02X:%02X)", (unsigned)(address >> 40) & 0xFF,
                  (unsigned)(address >> 32) & 0xFF, (unsigned)(address >> 24) & 0xFF, (unsigned)(address >> 16) & 0xFF,
                  (unsigned)(address >> 8) & 0xFF, (unsigned)address & 0xFF);
    return true;
}

// The table functions textToAddress and addressToText over these texts: 0,
// or -1 with the Winsock error in *error (LINK_ERR_INVALID: not an address
// text or not a Bluetooth address; LINK_ERR_FAULT: no room, *size or
// *textSize then tells the room needed).
inline int btTextToSockaddr(const char *text, int family, void *address, int *size, int *error) {
    uint64_t value = 0;
    if (family != LINK_AF_BTH || !size || !btTextRead(text, &value)) {
        *error = LINK_ERR_INVALID;
        return -1;
    }
    if (!address || *size < BTH_ADDR_SIZE) {
        *size = BTH_ADDR_SIZE;
        *error = LINK_ERR_FAULT;
        return -1;
    }
    uint8_t *a = static_cast<uint8_t *>(address);
    std::memset(a, 0, BTH_ADDR_SIZE);
    linkPut16(a + BTH_FAMILY_AT, LINK_AF_BTH);
    linkPut64(a + BTH_ADDRESS_AT, value);
    *size = BTH_ADDR_SIZE;
    return 0;
}

inline int btSockaddrToText(const void *address, int size, char *text, uint32_t *textSize, int *error) {
    const uint8_t *a = static_cast<const uint8_t *>(address);
    if (!a || size < BTH_ADDR_SIZE || !textSize || linkGet16(a + BTH_FAMILY_AT) != LINK_AF_BTH) {
        *error = LINK_ERR_INVALID;
        return -1;
    }
    if (!btTextWrite(linkGet64(a + BTH_ADDRESS_AT) & BTH_ADDRESS_MASK, text, *textSize)) {
        *textSize = BT_TEXT_SIZE;
        *error = LINK_ERR_FAULT;
        return -1;
    }
    *textSize = (uint32_t)std::strlen(text) + 1;
    return 0;
}
