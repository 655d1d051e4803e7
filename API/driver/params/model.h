// model.h - the records a device model is described by: where each
// parameter value lives (map entries), the model descriptor that ties the
// definition lists, the maps, the default configuration image and the
// profile table together, and the 15 descriptors themselves.
//
// Everything here is constant data (see the tables_*.cpp files).
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
    uint16_t imageLength;                    // 4, 40 or 52
    uint16_t channelStart;                   // first channel entry in the image
    uint16_t stride;                         // bytes per channel entry
    const ProfileTable *profiles;            // null: the model has no profiles
};

// The descriptors of the models 0..14, and the one of a model index (null
// when out of range).
extern const ModelDescriptor kModelDescriptors[QD_MODEL_COUNT];
const ModelDescriptor *modelDescriptor(uint16_t model);

// Largest configuration image and the size of the parameter storage record.
constexpr uint16_t QD_IMAGE_MAX = 52;
constexpr uint16_t QD_STORAGE_SIZE = 672;
constexpr uint16_t QD_CAP_RECORD_OFFSET = 644;

// First definition with this id in a definition list, or null.
const QdParamDef *findDefinition(const QdParamDef *list, uint16_t id);
// Map entry with this id in a map list, or null.
const ParamMapEntry *findMapEntry(const ParamMapEntry *map, uint16_t id);
