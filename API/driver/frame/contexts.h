// contexts.h - the model table and the 10 device context slots, as the rest
// of the driver sees them (protocol engine, storage blob, windows).
//
// Per context the driver keeps a configuration image (what the device is
// sent, QD_IMAGE_MAX bytes, of which the model uses its image length) and a
// parameter storage record (QD_STORAGE_SIZE bytes of host-side values: device
// id, labels, sensor info, profiles, EEG cap record). Both live here for the
// life of the process and keep their contents while other contexts are
// selected.
#pragma once

#include <cstdint>

#include "QuorvaneDrv.h"
#include "API/driver/params/model.h"

// The model table (API/driver/params/models.cpp): one row per model, in
// model index order. A row names the model, its protocol family, its
// generation, its storage version and compatibility group, its parameter
// descriptor and its channel count; the models whose storage blobs it
// accepts are worked out from the groups when the table is compiled.
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

// Default of a general parameter that the model lists in its general map,
// found by walking the map (for the constants "Link type", "Number of
// channels", "Support of indicators"). False when the model has no such entry.
bool modelGeneralConstant(uint16_t model, uint16_t id, QdValue *value);
// "Number of channels" (the row's channel count) and "Link type" of a
// model, or -1.
int modelChannelCount(uint16_t model);
int modelLinkType(uint16_t model);

// Attach marks all 10 slots free; detach shuts every open context down.
void contextsOnAttach();
void contextsOnDetach();

// What the context functions ask of the parts above them: the protocol
// engine stops a context and waits for it (shutdownContext), clears the
// protocol state of a newly opened one (resetContext), and the settings
// window closes before the selection changes (closeWindowForSelection). The
// driver installs them at attach; an entry left null does nothing (a
// program of the contexts alone).
struct ContextHooks {
    void (*shutdownContext)(uint16_t context);
    void (*resetContext)(uint16_t context);
    void (*closeWindowForSelection)();
};
void contextsSetHooks(const ContextHooks &hooks);

// Slots.
bool contextInUse(uint16_t context);
// Model index of an open context, or -1.
int contextModel(uint16_t context);
// The selected context, -1 when none (same as QdGetSelectedDevContext).
int16_t selectedContext();

// Per-context stores of slots 0..9 (null for a larger index). The storage
// record is followed by one byte that is always zero, so that a text read
// from the record always ends inside the context's memory.
uint8_t *contextImage(uint16_t context);
uint8_t *contextStorage(uint16_t context);
// The EEG cap record at the end of the storage record.
QdCapConfig *contextCapRecord(uint16_t context);
// The device id ("Device id" / "Device address") text of a context, or null
// when its model has none (the Brev model) or the context is not open.
const char *contextDeviceId(uint16_t context);
