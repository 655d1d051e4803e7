// spine.h - the dependency spine of the selected context.
//
// One node per parameter (row 0: general parameters by id; row c + 1:
// channel c by id - 128) links the parameter to its base definition, its map
// entry and up to three superiors, whose current value indexes choose the
// parameter's current definition variant:
//   v = ((index1) * count2 + index2) * count3 + index3
// in the order the superiors were registered.
#pragma once

#include <cstdint>

#include "QuorvaneDrv.h"
#include "API/driver/params/model.h"

constexpr int SPINE_ROWS = 1 + QD_MAX_CHANNELS;
constexpr int SPINE_SLOTS = 20;
constexpr int SPINE_MAX_SUPERIORS = 3;

struct SpineSuperior {
    uint16_t id;      // superior parameter id
    uint16_t index;   // index of its current value
    uint16_t count;   // its number of values
};

struct SpineNode {
    const ParamMapEntry *map;       // null: not listed in the map
    const QdParamDef *base;         // first definition of the run of variants
    uint16_t superiorCount;
    uint8_t lockCount;              // settings-window lock depth
    SpineSuperior superiors[SPINE_MAX_SUPERIORS];
    uint16_t variants;              // length of the run of variants
};

// Builds the spine of the selected context: 0, or 1..16 (see spine.cpp).
// Nodes made before a failure stay; the caller frees them.
int createSpine();
// The same for a given model, without a selected context (also used by the
// table checks).
int buildSpine(const ModelDescriptor *model);
// Frees every node.
void freeSpine();

// Node of (row, slot), or null. Row 0 = general, row c + 1 = channel c.
SpineNode *spineNode(unsigned row, unsigned slot);
// Node of a parameter id on a channel (channel ignored for ids below 128).
SpineNode *spineNodeFor(uint16_t id, unsigned channel);
// Channel rows in use, and the model the spine was built for (null if none).
uint16_t spineChannelCount();
const ModelDescriptor *spineModel();
// Current definition of a node, chosen by its superiors' value indexes.
const QdParamDef *spineCurrentDef(const SpineNode *node);

// Propagates a new value of a parameter (def = its current definition) to
// its dependents: stores the new value index in their superior entries and,
// with apply set, resets each dependent to its new default (keeping it when
// its entry has the keep-if-valid bit and the value is still valid).
// QD_SETPARAM_OK, or one of the dependent failures QD_SETPARAM_NOT_AN_INDEX
// to QD_SETPARAM_DEPENDENT_NOT_FOUND.
int updateParDeps(const QdParamDef *def, uint16_t channel, const QdValue *value, int apply);
// Re-derives every superior entry from the stored values after a bulk load;
// a stored channel profile other than "User defined" is imposed again.
// 0, or 1..3.
int updateAllDeps();
// After a context is selected again: brings every superior entry in line
// with the stored values without changing any value (no profile is imposed,
// nothing is reset). Parameters whose stored value is invalid keep the entry
// of their default.
void refreshSpineFromStored();
// Applies a "Channel profile" value to its dependents on one channel: 0 or 1.
int applyProfile(const QdParamDef *def, uint16_t channel, const QdValue *value);

// Test hook: the n-th node allocation from now on fails (n = 0: the next);
// a negative n turns the failure off.
void spineFailAllocationAfter(int n);
