// models.h - the model table (models.cpp): one row per model, in model
// index order. A row names the model, its protocol family, its generation,
// its storage version and compatibility group, its parameter descriptor and
// its channel count; the models whose storage blobs it accepts are worked
// out from the groups when the table is compiled.
#pragma once

#include <cstdint>

#include "QuorvaneDrv.h"
#include "API/driver/params/model.h"

struct ProtocolFamilyOps;   // API/driver/protocol/protocol.h

// Generations of the devices: what the configuration image and the
// parameter storage record of a model look like.
enum ModelGeneration : uint8_t {
    MODEL_GEN_BREV,     // the Brev's own 4-byte image, one channel
    MODEL_GEN_FIRST,    // first Halvex generation: 40-byte image, 4-byte channel records
    MODEL_GEN_SECOND,   // Halvex and Halvex+: 52-byte image, 6-byte channel records with a high-pass choice
};

// Compatibility groups: models of one group share their channel layout, and
// a group accepts the storage blobs of the groups it lists (models.cpp).
enum ModelGroup : uint8_t {
    MODEL_GROUP_BREV,
    MODEL_GROUP_FIRST_2,    // first generation, 2 channels
    MODEL_GROUP_FIRST_4,    // first generation, 4 channels
    MODEL_GROUP_HALVEX_2,
    MODEL_GROUP_HALVEX_4,
    MODEL_GROUP_PLUS_2,     // Halvex+ 2: two channels and the button channel
    MODEL_GROUP_PLUS_4,     // Halvex+ 4: four channels and the button channel
    MODEL_GROUP_COUNT,
};

struct ModelEntry {
    const char *name;                   // what QdOpenDevContext matches
    const ProtocolFamilyOps *family;    // the protocol family that talks to the device
    ModelGeneration generation;
    const char *storageVersion;         // "1.0", "1,0" or "2.0"
    ModelGroup group;
    const ModelDescriptor *descriptor;
    uint16_t channels;                  // its group's, as the general list's "Number of channels"
    // Derived from the groups: models whose storage blobs this model
    // accepts, group by group in the order its group lists them.
    uint8_t compatible[QD_MODEL_COUNT];
    uint8_t compatibleCount;
};

// Row of model index 0..14, or null.
const ModelEntry *modelEntry(uint16_t model);
// Model index of a name (exact, case-sensitive), or -1.
int modelByName(const char *name);
// The model names in index order (QD_MODEL_COUNT of them), as QdEnumDevices
// hands them out.
const char *const *modelNames();
// Whether a model's channel records carry a high-pass filter choice (the
// driver filters those channels).
bool modelFiltersHighPass(uint16_t model);

