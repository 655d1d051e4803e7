// mapping.h - packing a parameter value into the bits of the configuration
// image that its map entry names, and reading it back.
//
// The mask applies little-endian to consecutive image bytes from the entry's
// place. A mask with two adjacent set bits is a multi-bit field: the value is
// shifted left by the entry's shift and masked. Any other mask is a one-bit
// flag: a nonzero value sets all mask bits, zero clears them. Bits outside
// the mask are kept.
#pragma once

#include <cstdint>

#include "API/driver/params/model.h"

// Number of image bytes a mask spans (up to its last nonzero byte, 0..4).
unsigned mappedBytes(uint32_t mask);
// Reads the value at p (the entry's first image byte).
uint32_t readMapped(const uint8_t *p, const ParamMapEntry *e);
// Writes the value at p.
void writeMapped(uint8_t *p, const ParamMapEntry *e, uint32_t value);
