// contexts.h - the 10 device context slots, as the rest of the driver sees
// them (protocol engine, storage blob, windows), and what the contexts read
// of a model (the model table itself: API/driver/params/models.h).
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
#include "API/driver/params/models.h"

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
