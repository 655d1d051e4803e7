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

// One row of the model table.
struct ModelEntry {
    const char *name;               // what QdOpenDevContext matches
    const char *storageVersion;     // "1.0", "1,0" or "2.0"
    const uint8_t *compatible;      // models whose storage blobs this model accepts
    uint8_t compatibleCount;
    const ModelDescriptor *descriptor;
};

// Row of model index 0..14, or null.
const ModelEntry *modelEntry(uint16_t model);
// Model index of a name (exact, case-sensitive), or -1.
int modelByName(const char *name);

// Default of a general parameter that the model lists in its general map,
// found by walking the map (for the constants "Link type", "Number of
// channels", "Support of indicators"). False when the model has no such entry.
bool modelGeneralConstant(uint16_t model, uint16_t id, QdValue *value);
// "Number of channels" and "Link type" of a model, or -1.
int modelChannelCount(uint16_t model);
int modelLinkType(uint16_t model);

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
