// spine.cpp - the dependency spine: building it for the selected context,
// propagating value changes to dependent parameters, re-deriving the
// superior entries from stored values, and applying channel profiles.
//
// The nodes are the only heap objects of the parameter model; they live from
// a selection to the next change of selection.
#include "API/driver/params/spine.h"

#include <cstring>
#include <new>

#include "API/driver/frame/contexts.h"
#include "API/driver/frame/log.h"
#include "API/driver/frame/log_texts.h"
#include "API/driver/params/paramdefs.h"

static SpineNode *g_spine[SPINE_ROWS][SPINE_SLOTS];
static uint16_t g_channelCount = 0;
static const ModelDescriptor *g_model = nullptr;
static int g_failAllocation = -1;

void spineFailAllocationAfter(int n) { g_failAllocation = n; }

static SpineNode *newNode(const QdParamDef *base) {
    if (g_failAllocation >= 0) {
        if (g_failAllocation == 0) {
            g_failAllocation = -1;
            return nullptr;
        }
        --g_failAllocation;
    }
    SpineNode *node = new (std::nothrow) SpineNode();
    if (node) {
        node->base = base;
        node->variants = defRunLength(base);
    }
    return node;
}

void freeSpine() {
    for (auto &row : g_spine) {
        for (auto &slot : row) {
            delete slot;
            slot = nullptr;
        }
    }
    g_channelCount = 0;
    g_model = nullptr;
}

SpineNode *spineNode(unsigned row, unsigned slot) {
    if (row >= (unsigned)SPINE_ROWS || slot >= (unsigned)SPINE_SLOTS) return nullptr;
    return g_spine[row][slot];
}

SpineNode *spineNodeFor(uint16_t id, unsigned channel) {
    if (id < 0x80) return spineNode(0, id);
    if (channel >= g_channelCount) return nullptr;
    return spineNode(channel + 1, (unsigned)(id - 0x80));
}

uint16_t spineChannelCount() { return g_channelCount; }
const ModelDescriptor *spineModel() { return g_model; }

const QdParamDef *spineCurrentDef(const SpineNode *node) {
    uint16_t v = 0;
    for (uint16_t i = 0; i < node->superiorCount; ++i) {
        v = (uint16_t)(v * node->superiors[i].count + node->superiors[i].index);
    }
    // A variant beyond the run would mean inconsistent tables; stay on the
    // base definition rather than read past the list.
    if (v >= node->variants) v = 0;
    return node->base + v;
}

static SpineSuperior *findSuperior(SpineNode *node, uint16_t id) {
    for (uint16_t i = 0; i < node->superiorCount; ++i) {
        if (node->superiors[i].id == id) return &node->superiors[i];
    }
    return nullptr;
}

// Registers a superior with its value index and count on a dependent's node.
static bool addDep(SpineNode *node, uint16_t superior, uint16_t index, uint16_t count) {
    if (!node) return false;
    if (node->superiorCount >= SPINE_MAX_SUPERIORS) {
        qdLog("!%s\n", kLogAddDepFailed);
        return false;
    }
    node->superiors[node->superiorCount++] = {superior, index, count};
    return true;
}

// Ends createSpine with its error: "!}createSpine: <message>\n".
static int fail(const char *message, int result) {
    logFail("createSpine", "%s", message);
    return result;
}

// A parameter without a place for its value must be a constant with at most
// one option.
static bool mappingRuleHolds(const SpineNode *node, const QdParamDef *d) {
    if (node && mapHasStorage(node->map)) return true;
    if (!defIsConstant(d)) return false;
    return !defIsOptionList(d) || optionCount(d->domain.options) == 1;
}

// Row 0: one node for the first definition of each general id, each with its
// map entry. The default of "Number of channels", limited to the places the
// spine and the model have, sets the channel count.
static int buildGeneralRow(const ModelDescriptor *m) {
    int channels = 0;
    for (const QdParamDef *d = m->general; d->id != QD_LIST_END; ++d) {
        if (d->id >= 6) return fail("Invalid parameter on general parameter list (1)", 1);
        if (g_spine[0][d->id]) continue;
        SpineNode *node = newNode(d);
        if (!node) return fail(kLogSpineAllocation, 2);
        g_spine[0][d->id] = node;
        if (d->id == QD_PAR_CHANNEL_COUNT) channels = d->def.i;
    }
    if (channels < 0) channels = 0;
    if (channels > QD_MAX_CHANNELS) channels = QD_MAX_CHANNELS;
    if (channels > m->channelLists) channels = m->channelLists;
    g_channelCount = (uint16_t)channels;

    for (const ParamMapEntry *e = m->generalMap; e->id != QD_LIST_END; ++e) {
        if (e->id >= 6 || !g_spine[0][e->id]) return fail("Invalid parameter on general parameter list (2)", 3);
        g_spine[0][e->id]->map = e;
    }
    return 0;
}

// Row c + 1: the channel's name record, then its list, then its map.
static int buildChannelRow(const ModelDescriptor *m, int c) {
    SpineNode **row = g_spine[c + 1];
    row[0] = newNode(m->channelNames[c]);
    if (!row[0]) return fail("Allocation error (2)", 4);
    for (const QdParamDef *d = m->channels[c]; d->id != QD_LIST_END; ++d) {
        uint16_t slot = (uint16_t)(d->id - 0x80);
        if (slot >= SPINE_SLOTS) return fail("Invalid parameter on channel parameter list (1)", 5);
        if (row[slot]) continue;
        row[slot] = newNode(d);
        if (!row[slot]) return fail("Allocation error (3)", 6);
    }
    for (const ParamMapEntry *e = m->channelMaps[c]; e->id != QD_LIST_END; ++e) {
        uint16_t slot = (uint16_t)(e->id - 0x80);
        if (slot >= SPINE_SLOTS || !row[slot]) return fail("Invalid parameter on channel parameter list (2)", 7);
        row[slot]->map = e;
    }
    return 0;
}

// Dependencies declared by one general definition: a general dependent in
// row 0, a channel dependent on every channel that has it.
static int addGeneralDeps(const QdParamDef *d) {
    int32_t index = getValIndex(d, &d->def);
    uint16_t count = getValNum(d);
    if (index < 0 || count == 0) return fail("Parameter not allowed as an index (1)", 8);
    for (const uint16_t *dep = d->dependents; *dep != QD_LIST_END; ++dep) {
        uint16_t id = (uint16_t)(*dep & ~QD_DEP_KEEP_IF_VALID);
        if (id < 0x80) {
            if (!addDep(spineNode(0, id), d->id, (uint16_t)index, count))
                return fail("Invalid parameter as dependent or too many dependencies (1)", 9);
            continue;
        }
        bool found = false;
        for (int c = 0; c < g_channelCount; ++c) {
            SpineNode *node = spineNode((unsigned)c + 1, (unsigned)(id - 0x80));
            if (!node) continue;
            if (!addDep(node, d->id, (uint16_t)index, count)) return fail("Too many dependencies", 10);
            found = true;
        }
        if (!found) return fail("Invalid parameter as dependent", 11);
    }
    return 0;
}

// Dependencies declared by one channel definition, within its own row.
static int addChannelDeps(const QdParamDef *d, int c) {
    int32_t index = getValIndex(d, &d->def);
    uint16_t count = getValNum(d);
    if (index < 0 || count == 0) return fail("Parameter not allowed as an index (2)", 12);
    for (const uint16_t *dep = d->dependents; *dep != QD_LIST_END; ++dep) {
        uint16_t id = (uint16_t)(*dep & ~QD_DEP_KEEP_IF_VALID);
        SpineNode *node = spineNode((unsigned)c + 1, (uint16_t)(id - 0x80));
        if (!addDep(node, d->id, (uint16_t)index, count))
            return fail("Invalid parameter as dependent or too many dependencies (2)", 13);
    }
    return 0;
}

// Every dependency the model's lists declare, general lists first. Only the
// first definition of a run declares; "Channel profile" drives its
// dependents through the profile table only.
static int addAllDeps(const ModelDescriptor *m) {
    for (const QdParamDef *d = m->general; d->id != QD_LIST_END; ++d) {
        if (!d->dependents || g_spine[0][d->id]->base != d) continue;
        int result = addGeneralDeps(d);
        if (result != 0) return result;
    }
    for (int c = 0; c < g_channelCount; ++c) {
        SpineNode **row = g_spine[c + 1];
        for (const QdParamDef *d = m->channels[c]; d->id != QD_LIST_END; ++d) {
            if (!d->dependents || d->id == QD_PAR_CHANNEL_PROFILE) continue;
            if (row[d->id - 0x80]->base != d) continue;
            int result = addChannelDeps(d, c);
            if (result != 0) return result;
        }
    }
    return 0;
}

// Every variant of every parameter either has a place for its value or is a
// constant.
static int checkMapping(const ModelDescriptor *m) {
    static const char kUnmapped1[] = "Parameter not mapped and not constant or have more than one options (1)";
    static const char kUnmapped2[] = "Parameter not mapped and not constant or have more than one options (2)";
    for (const QdParamDef *d = m->general; d->id != QD_LIST_END; ++d) {
        if (!mappingRuleHolds(g_spine[0][d->id], d)) return fail(kUnmapped2, 15);
    }
    for (int c = 0; c < g_channelCount; ++c) {
        SpineNode **row = g_spine[c + 1];
        if (!mappingRuleHolds(row[0], m->channelNames[c])) return fail(kUnmapped1, 14);
        for (const QdParamDef *d = m->channels[c]; d->id != QD_LIST_END; ++d) {
            if (!mappingRuleHolds(row[d->id - 0x80], d)) return fail(kUnmapped2, 15);
        }
    }
    return 0;
}

int buildSpine(const ModelDescriptor *m) {
    freeSpine();
    if (!m) return fail(kLogContextNotSelected, 16);
    g_model = m;
    int result = buildGeneralRow(m);
    for (int c = 0; result == 0 && c < g_channelCount; ++c) result = buildChannelRow(m, c);
    if (result == 0) result = addAllDeps(m);
    if (result == 0) result = checkMapping(m);
    if (result != 0) return result;
    // The success line has always been spelt with a lower-case s.
    logExit("createspine", "0");
    return 0;
}

int createSpine() {
    logEnter("createSpine", "%s", "");
    int16_t context = selectedContext();
    if (context < 0) {
        freeSpine();
        return fail(kLogContextNotSelected, 16);
    }
    return buildSpine(modelEntry((uint16_t)contextModel((uint16_t)context))->descriptor);
}

// The value cell that stands for a parameter's value in propagation: the
// option code for option lists, the stored value otherwise.
static QdValue propagationCell(const QdParamDef *def, const QdParamValue &read) {
    QdValue cell{};
    if (defIsOptionList(def)) {
        cell.code = read.code;
    } else {
        cell = read.value;
    }
    return cell;
}

// Default of a dependent for settling: "EEG cap connection" follows the EEG
// cap assignment of the current set while the cap is enabled.
static const QdValue *settleValue(const QdParamDef *def, uint16_t channel, QdValue *scratch) {
    if (def->id == QD_PAR_EEG_CAP && !defIsNotApplicable(def)) {
        int16_t context = selectedContext();
        const QdCapConfig *cap = context >= 0 ? contextCapRecord((uint16_t)context) : nullptr;
        if (cap && cap->enabled && cap->currentSet < 5 && channel < 4) {
            *scratch = QdValue{};
            scratch->code = cap->sites[cap->currentSet][channel];
            return scratch;
        }
    }
    return &def->def;
}

// Brings a dependent in line with its (possibly new) current definition.
static bool settleDependent(const SpineNode *node, uint16_t id, uint16_t channel, bool keepIfValid) {
    const QdParamDef *def = spineCurrentDef(node);
    if (defIsConstant(def)) return true;
    if (keepIfValid) {
        QdParamValue read;
        if (QdGetParam(id, channel, &read) == 0) {
            QdValue cell = propagationCell(def, read);
            if (!valueOutsideDomain(def, &cell)) return true;
        }
    }
    QdValue scratch;
    return QdSetParam(id, channel, settleValue(def, channel, &scratch)) == QD_SETPARAM_OK;
}

int updateParDeps(const QdParamDef *def, uint16_t channel, const QdValue *value, int apply) {
    if (!def->dependents) return QD_SETPARAM_OK;
    int32_t index = getValIndex(def, value);
    const SpineNode *self = spineNodeFor(def->id, channel);
    uint16_t count = self ? getValNum(self->base) : 0;
    if (count == 0 || index < 0) {
        qdLog("!%s\n", kLogUpdateParNotIndex);
        return QD_SETPARAM_NOT_AN_INDEX;
    }
    if (def->id == QD_PAR_CHANNEL_PROFILE) return QD_SETPARAM_OK;

    bool general = def->id < 0x80;
    for (const uint16_t *dep = def->dependents; *dep != QD_LIST_END; ++dep) {
        bool keep = (*dep & QD_DEP_KEEP_IF_VALID) != 0;
        uint16_t id = (uint16_t)(*dep & ~QD_DEP_KEEP_IF_VALID);
        if (general && id >= 0x80) {
            // A general parameter decides a channel parameter on every channel.
            bool any = false;
            for (uint16_t c = 0; c < g_channelCount; ++c) {
                SpineNode *node = spineNodeFor(id, c);
                if (!node) {
                    qdLog("!%s\n", kLogUpdateDepNoDependent);
                    continue;
                }
                SpineSuperior *sup = findSuperior(node, def->id);
                if (!sup) {
                    qdLog("!%s\n", kLogUpdateDepNoSuperior);
                    continue;
                }
                sup->index = (uint16_t)index;
                sup->count = count;
                any = true;
                if (apply && !settleDependent(node, id, c, keep)) {
                    qdLog("!%s\n", "updateParDeps: Cannot set dependent parameter to defaults (2)");
                    return QD_SETPARAM_CHANNEL_DEPENDENT_NOT_SET;
                }
            }
            if (!any) {
                qdLog("!%s\n", kLogUpdateParNoDependent);
                return QD_SETPARAM_DEPENDENT_NOT_FOUND;
            }
            continue;
        }
        SpineNode *node = spineNodeFor(id, channel);
        if (!node) {
            qdLog("!%s\n", kLogUpdateDepNoDependent);
            qdLog("!%s\n", kLogUpdateParFailed);
            return QD_SETPARAM_DEPENDENT_NOT_UPDATED;
        }
        SpineSuperior *sup = findSuperior(node, def->id);
        if (!sup) {
            qdLog("!%s\n", kLogUpdateDepNoSuperior);
            qdLog("!%s\n", kLogUpdateParFailed);
            return QD_SETPARAM_DEPENDENT_NOT_UPDATED;
        }
        sup->index = (uint16_t)index;
        sup->count = count;
        if (apply && !settleDependent(node, id, channel, keep)) {
            qdLog("!%s\n", "updateParDeps: Cannot set dependent parameter to defaults (1)");
            return QD_SETPARAM_DEPENDENT_NOT_SET;
        }
    }
    return QD_SETPARAM_OK;
}

int applyProfile(const QdParamDef *def, uint16_t channel, const QdValue *value) {
    if (def->id != QD_PAR_CHANNEL_PROFILE || !def->dependents) return 0;
    uint32_t code = value->code;
    if (code == 0) return 0;
    if (code & 0x80000000u) return 1;
    // A code without a row (possible only in a loaded blob) is refused rather
    // than read past the table.
    const ProfileTable *table = g_model ? g_model->profiles : nullptr;
    if (!table || code >= table->rowCount) return 1;
    const QdValue *row = table->rows[code];
    for (int k = 0; def->dependents[k] != QD_LIST_END; ++k) {
        if (k >= QD_PROFILE_CELLS) return 1;
        uint16_t id = (uint16_t)(def->dependents[k] & ~QD_DEP_KEEP_IF_VALID);
        if (QdSetParam(id, channel, &row[k]) != QD_SETPARAM_OK) return 1;
    }
    return 0;
}

// Walks the maps in order and refreshes the superior entries from the stored
// values. 'strict' stops at the first failure (bulk load); otherwise a
// parameter that cannot be refreshed is passed over.
static int refreshAll(bool applyProfiles, bool strict) {
    const ModelDescriptor *m = g_model;
    if (!m) return strict ? 1 : 0;
    for (const ParamMapEntry *e = m->generalMap; e->id != QD_LIST_END; ++e) {
        SpineNode *node = spineNodeFor(e->id, 0);
        bool ok = node != nullptr;
        if (ok) {
            const QdParamDef *def = spineCurrentDef(node);
            if (def->dependents) {
                QdParamValue read;
                ok = QdGetParam(e->id, 0, &read) == 0;
                if (ok) {
                    QdValue cell = propagationCell(def, read);
                    ok = updateParDeps(def, 0, &cell, 0) == 0;
                }
            }
        }
        if (!ok && strict) {
            qdLog("!%s\n", "updateAllDeps: General parameter dependency update error");
            return 1;
        }
    }
    for (uint16_t c = 0; c < g_channelCount; ++c) {
        for (const ParamMapEntry *e = m->channelMaps[c]; e->id != QD_LIST_END; ++e) {
            SpineNode *node = spineNodeFor(e->id, c);
            bool ok = node != nullptr;
            if (ok) {
                const QdParamDef *def = spineCurrentDef(node);
                if (def->dependents) {
                    QdParamValue read;
                    ok = QdGetParam(e->id, c, &read) == 0;
                    if (ok) {
                        QdValue cell = propagationCell(def, read);
                        if (applyProfiles && def->id == QD_PAR_CHANNEL_PROFILE) ok = applyProfile(def, c, &cell) == 0;
                        if (ok) ok = updateParDeps(def, c, &cell, 0) == 0;
                    }
                }
            }
            if (!ok && strict) {
                qdLog("!%s\n", kLogUpdateAllChannelError);
                return 2;
            }
        }
    }
    return 0;
}

int updateAllDeps() {
    if (selectedContext() < 0 || !g_model) {
        qdLog("!%s\n", kLogUpdateAllNoContext);
        return 3;
    }
    return refreshAll(true, true);
}

void refreshSpineFromStored() { refreshAll(false, false); }
