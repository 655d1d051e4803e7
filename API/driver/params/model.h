// model.h - the records a device model is described by: where each
// parameter value lives (map entries), the model descriptor that ties the
// definition lists, the maps, the default configuration image and the
// profile table together, and the sizes of the per-context stores.
//
// Everything here is constant data (see the tables_*.cpp files and
// models.cpp, which holds the descriptors and the model table).
#pragma once

#include <cstdint>

#include "QuorvaneDrv.h"

// Value of ParamMapEntry::slot when a parameter has no storage slot.
constexpr uint16_t QD_NO_SLOT = 0xFFFF;

// Where a parameter's value is kept. A list of these ends with id 0xFFFF.
//  - mask nonzero: bits of the configuration image, applied little-endian
//    from byte 'offset' (channel parameters: relative to the channel's entry);
//    a mask with two adjacent set bits is a multi-bit field shifted left by
//    'shift', any other mask a one-bit flag.
//  - mask zero, slot set: offset in the parameter storage record; a string
//    of channel c sits at slot + c * storage size, any other value (an
//    8-byte value cell) at slot + c * 8.
//  - mask zero, no slot: the value is the definition's default (constants).
struct ParamMapEntry {
    uint16_t id;
    uint32_t mask;
    uint16_t offset;
    uint16_t shift;
    uint16_t slot;
};

inline bool mapHasStorage(const ParamMapEntry *m) {
    return m && (m->mask != 0 || m->slot != QD_NO_SLOT);
}
inline bool maskIsMultiBit(uint32_t mask) { return (mask & (mask >> 1)) != 0; }

// Preset rows of "Channel profile": row = profile code, cell k = the option
// code given to the k-th entry of the profile's dependents list.
constexpr int QD_PROFILE_CELLS = 7;
struct ProfileTable {
    const QdValue (*rows)[QD_PROFILE_CELLS];
    uint16_t rowCount;
};

struct ModelDescriptor {
    const QdParamDef *general;               // ended by id 0xFFFF
    const QdParamDef *const *channelNames;   // "Channel name" record of channel c at [c]
    const QdParamDef *const *channels;       // definition list of channel c at [c]
    const ParamMapEntry *generalMap;         // ended by id 0xFFFF
    const ParamMapEntry *const *channelMaps; // map of channel c at [c]
    uint16_t channelLists;                   // entries in channels and channelMaps
    const uint8_t *defaultImage;
    uint16_t imageLength;                    // QD_IMAGE_BREV, QD_IMAGE_FIRST_GEN or QD_IMAGE_MAX
    uint16_t channelStart;                   // first channel entry in the image
    uint16_t stride;                         // bytes per channel entry
    const ProfileTable *profiles;            // null: the model has no profiles
};

// The descriptor of a model index (its row's, see the model table in
// API/driver/frame/contexts.h), or null when out of range.
const ModelDescriptor *modelDescriptor(uint16_t model);

// Configuration image sizes: the Brev's, the first generation's and the
// largest (the second generation's), which every context's image has room
// for; and the size of the parameter storage record.
constexpr uint16_t QD_IMAGE_BREV = 4;
constexpr uint16_t QD_IMAGE_FIRST_GEN = 40;
constexpr uint16_t QD_IMAGE_MAX = 52;
constexpr uint16_t QD_STORAGE_SIZE = 672;
constexpr uint16_t QD_CAP_RECORD_OFFSET = 644;

// First definition with this id in a definition list, or null.
const QdParamDef *findDefinition(const QdParamDef *list, uint16_t id);
// Map entry with this id in a map list, or null.
const ParamMapEntry *findMapEntry(const ParamMapEntry *map, uint16_t id);
