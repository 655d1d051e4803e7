// mapping.cpp - image bit fields of mapped parameters.
#include "API/driver/params/mapping.h"

unsigned mappedBytes(uint32_t mask) {
    unsigned n = 0;
    for (unsigned k = 0; k < 4; ++k) {
        if ((mask >> (8 * k)) & 0xFFu) n = k + 1;
    }
    return n;
}

uint32_t readMapped(const uint8_t *p, const ParamMapEntry *e) {
    uint32_t bits = 0;
    for (unsigned k = 0; k < mappedBytes(e->mask); ++k) {
        uint8_t m = (uint8_t)(e->mask >> (8 * k));
        if (m) bits |= (uint32_t)(p[k] & m) << (8 * k);  // leading zero mask bytes are not read
    }
    if (maskIsMultiBit(e->mask)) return e->shift < 32 ? bits >> e->shift : 0;
    return bits ? 1u : 0u;
}

void writeMapped(uint8_t *p, const ParamMapEntry *e, uint32_t value) {
    uint32_t bits;
    if (maskIsMultiBit(e->mask)) {
        bits = (e->shift < 32 ? value << e->shift : 0) & e->mask;
    } else {
        bits = value ? e->mask : 0;
    }
    for (unsigned k = 0; k < mappedBytes(e->mask); ++k) {
        uint8_t m = (uint8_t)(e->mask >> (8 * k));
        if (m) p[k] = (uint8_t)((p[k] & ~m) | ((bits >> (8 * k)) & m));
    }
}
