// Pins the layout of every record that crosses the library boundary, so that
// the 32-bit and 64-bit builds stay what hosts were compiled against.
#include "QuorvaneDrv.h"

#include <cstddef>

#define QD_AT(type, field, off32, off64) \
    static_assert(offsetof(type, field) == (sizeof(void *) == 4 ? (off32) : (off64)), \
                  #type "." #field " moved")
#define QD_SIZE(type, s32, s64) \
    static_assert(sizeof(type) == (sizeof(void *) == 4 ? (s32) : (s64)), #type " resized")

static_assert(sizeof(void *) == 4 || sizeof(void *) == 8, "unsupported pointer size");

// The 8-byte value cell.
static_assert(sizeof(QdValue) == 8, "value cell must be 8 bytes");
static_assert(sizeof(QdDomain) == 8, "domain must be 8 bytes");

// Option entry: code, value cell, comment.
QD_AT(QdOption, code, 0, 0);
QD_AT(QdOption, value, 4, 8);
QD_AT(QdOption, comment, 12, 16);
QD_SIZE(QdOption, 16, 24);

// Parameter definition.
QD_AT(QdParamDef, id, 0, 0);
QD_AT(QdParamDef, name, 4, 8);
QD_AT(QdParamDef, group, 8, 16);
QD_AT(QdParamDef, type, 12, 24);
QD_AT(QdParamDef, flags, 13, 25);
QD_AT(QdParamDef, domain, 16, 32);
QD_AT(QdParamDef, unit, 24, 40);
QD_AT(QdParamDef, def, 28, 48);
QD_AT(QdParamDef, dependents, 36, 56);
QD_AT(QdParamDef, help, 40, 64);
QD_SIZE(QdParamDef, 44, 72);

// Parameter value record.
QD_AT(QdParamValue, code, 0, 0);
QD_AT(QdParamValue, value, 4, 8);
QD_AT(QdParamValue, type, 12, 16);
QD_SIZE(QdParamValue, 16, 24);

// EEG cap record: 28 bytes on both.
static_assert(offsetof(QdCapConfig, sites) == 8, "cap sites moved");
static_assert(sizeof(QdCapConfig) == 28, "cap record must be 28 bytes");

// Per-channel sample block, natural alignment.
QD_AT(ChannelSamples, count, 0, 0);
QD_AT(ChannelSamples, samples, 4, 8);
QD_AT(ChannelSamples, signalState, 8, 16);
QD_AT(ChannelSamples, rateMask, 10, 18);
QD_SIZE(ChannelSamples, 12, 24);

// Discovery result: status, model, serial, identifier.
static_assert(offsetof(DiscoveryResult, status) == 0, "status moved");
static_assert(offsetof(DiscoveryResult, model) == 2, "model moved");
static_assert(offsetof(DiscoveryResult, serial) == 35, "serial moved");
static_assert(offsetof(DiscoveryResult, ident) == 48, "ident moved");
static_assert(sizeof(DiscoveryResult) == 112, "discovery result resized");
