// paramapi.cpp - the exported parameter functions: listing, inspecting,
// reading, writing, locking and resetting the parameters of the selected
// context, and the unit prefix parser.
//
// A value lives either in bits of the context's configuration image or in a
// slot of its parameter storage record (see model.h); constants live only in
// their definition.
#include <cstring>

#include "QuorvaneDrv.h"
#include "API/driver/frame/contexts.h"
#include "API/driver/frame/lifecycle.h"
#include "API/driver/frame/log.h"
#include "API/driver/frame/log_texts.h"
#include "API/driver/params/mains.h"
#include "API/driver/params/mapping.h"
#include "API/driver/params/paramdefs.h"
#include "API/driver/params/spine.h"

namespace {

struct ParamAddress {
    SpineNode *node;
    const QdParamDef *def;   // current definition
    uint16_t channel;        // 0 for general parameters
    bool channelParam;
};

// Resolves (id, channel) on the selected context.
bool addressParam(uint16_t id, int32_t channel, ParamAddress *out) {
    if (selectedContext() < 0 || !spineModel()) return false;
    if ((id & 0xFF7F) >= SPINE_SLOTS) return false;
    bool channelParam = (id & 0x80) != 0;
    if (channelParam && (channel < 0 || channel >= spineChannelCount())) return false;
    SpineNode *node = spineNodeFor(id, channelParam ? (unsigned)channel : 0u);
    if (!node) return false;
    out->node = node;
    out->def = spineCurrentDef(node);
    out->channel = channelParam ? (uint16_t)channel : 0;
    out->channelParam = channelParam;
    return true;
}

// The image bytes a mapped parameter occupies, or null when they would lie
// outside the model's image.
uint8_t *imagePlace(const ParamAddress &a) {
    const ModelDescriptor *m = spineModel();
    const ParamMapEntry *e = a.node->map;
    uint32_t offset = e->offset;
    if (a.channelParam) offset += m->channelStart + (uint32_t)a.channel * m->stride;
    if (offset + mappedBytes(e->mask) > m->imageLength) return nullptr;
    return contextImage((uint16_t)selectedContext()) + offset;
}

// The storage slot of a parameter and its size, or null when it would lie
// outside the storage record.
uint8_t *storagePlace(const ParamAddress &a, uint32_t *size) {
    const ParamMapEntry *e = a.node->map;
    *size = defIsString(a.def) ? a.def->domain.size : 8u;
    uint32_t offset = e->slot + (uint32_t)a.channel * *size;
    if (*size == 0 || offset + *size > QD_STORAGE_SIZE) return nullptr;
    return contextStorage((uint16_t)selectedContext()) + offset;
}

// The stored value: image bits, storage slot or the definition's default.
bool readRaw(const ParamAddress &a, QdValue *raw) {
    *raw = QdValue{};
    const ParamMapEntry *e = a.node->map;
    if (e && e->mask) {
        const uint8_t *p = imagePlace(a);
        if (!p) return false;
        raw->code = readMapped(p, e);
        return true;
    }
    if (e && e->slot != QD_NO_SLOT) {
        uint32_t size;
        const uint8_t *p = storagePlace(a, &size);
        if (!p) return false;
        if (defIsString(a.def)) {
            raw->s = (const char *)p;
        } else {
            std::memcpy(raw, p, sizeof *raw);
        }
        return true;
    }
    *raw = a.def->def;
    return true;
}

bool isCapSiteRecorded(const ParamAddress &a) {
    return a.def->id == QD_PAR_EEG_CAP && !defIsNotApplicable(a.def);
}

}  // namespace

extern "C" uint16_t QDCALL QdEnumParams(int16_t channel, uint16_t *buffer, uint16_t size) {
    EngineGuard guard;
    const ModelDescriptor *m = spineModel();
    if (selectedContext() < 0 || !m) {
        qdLog("!%s\n", kLogEnumParamsNoContext);
        return 0;
    }
    const QdParamDef *list;
    uint16_t count = 0;
    if (channel == -1) {
        list = m->general;
    } else {
        if (channel < 0 || channel >= spineChannelCount() || (buffer && size < 2)) {
            qdLog("!%s\n", kLogEnumParamsBadChannel);
            return 0;
        }
        if (buffer) buffer[0] = QD_PAR_CHANNEL_NAME;
        count = 1;
        list = m->channels[channel];
    }
    uint16_t capacity = (uint16_t)(size / 2);
    for (const QdParamDef *d = list; d->id != QD_LIST_END; ++d) {
        if (d != list && d->id == d[-1].id) continue;
        if (buffer) {
            if (count >= capacity) {
                qdLog("!%s\n", kLogEnumParamsNoContext);
                return 0;
            }
            buffer[count] = d->id;
        }
        ++count;
    }
    return count;
}

extern "C" const QdParamDef *QDCALL QdParamInfo(uint16_t id, int16_t channel) {
    EngineGuard guard;
    ParamAddress a;
    if (!addressParam(id, channel, &a)) {
        qdLog("!%s\n", kLogParamInfoInvalid);
        return nullptr;
    }
    return a.def;
}

extern "C" int QDCALL QdParamExists(uint16_t id, int16_t channel) {
    EngineGuard guard;
    ParamAddress a;
    return addressParam(id, channel, &a) ? 1 : 0;
}

extern "C" int QDCALL QdGetParam(uint16_t id, uint16_t channel, QdParamValue *value) {
    EngineGuard guard;
    ParamAddress a;
    QdValue raw;
    if (!value || !addressParam(id, channel, &a) || !readRaw(a, &raw)) {
        qdLog("!%s\n", kLogGetParamInvalid);
        return QD_GETPARAM_INVALID;
    }
    if (!defIsOptionList(a.def)) {
        value->code = 0;
        value->value = raw;
        value->type = a.def->type;
        return QD_GETPARAM_OK;
    }
    const QdOption *option = findOption(a.def->domain.options, raw.code);
    if (!option) {
        qdLog("par: %i, chan: %i, v: %li\n", id, channel, (long)raw.i);
        qdLog("!%s\n", kLogGetParamUnknownOption);
        return QD_GETPARAM_UNKNOWN_OPTION;
    }
    value->code = option->code;
    value->value = option->value;
    value->type = a.def->type;
    return QD_GETPARAM_OK;
}

// Writes a value that passed the domain test into its place: the bits of a
// mapped parameter in the device image, or the bytes in the context's
// storage. *stored receives the value as written (the mains frequency's
// default is the machine's). False when the place cannot be had.
static bool writeValue(const ParamAddress &a, uint16_t id, const QdValue *value, QdValue *stored) {
    const QdParamDef *def = a.def;
    const ParamMapEntry *e = a.node->map;
    if (e->mask) {
        uint8_t *p = imagePlace(a);
        if (!p) return false;
        uint32_t v = defKind(def) == QD_KIND_BOOL && !defIsOptionList(def) ? value->bytes[0] : value->code;
        if (id == QD_PAR_MAINS_FREQUENCY) {
            // Resetting to the default takes the machine's mains frequency;
            // an explicit choice becomes the machine's default.
            if (value == &def->def) {
                v = mainsFrequencyDefault();
            } else {
                mainsRememberChoice(v);
            }
            *stored = QdValue{};
            stored->code = v;
        }
        writeMapped(p, e, v);
        return true;
    }
    uint32_t size;
    uint8_t *p = storagePlace(a, &size);
    if (!p) return false;
    if (defIsString(def)) {
        // The text is shorter than the slot (domain test). It may be the
        // slot's own text, as QdGetParam hands it out: move, then clear the
        // rest.
        size_t n = std::strlen(value->s);
        std::memmove(p, value->s, n);
        std::memset(p + n, 0, size - n);
    } else {
        std::memcpy(p, value, 8);
    }
    return true;
}

// The cap site of a channel goes into the current set of the context's cap
// record as well.
static void recordCapSite(const ParamAddress &a, const QdValue *value) {
    QdCapConfig *cap = contextCapRecord((uint16_t)selectedContext());
    if (cap->enabled && cap->currentSet < 5 && a.channel < 4) {
        cap->sites[cap->currentSet][a.channel] = (uint8_t)value->code;
    }
}

extern "C" int QDCALL QdSetParam(uint16_t id, uint16_t channel, const QdValue *value) {
    EngineGuard guard;
    if (selectedContext() < 0 || !spineModel()) {
        qdLog("!%s\n", kLogSetParamNoContext);
        return QD_SETPARAM_NO_CONTEXT;
    }
    ParamAddress a;
    if (!addressParam(id, channel, &a)) {
        qdLog("!%s\n", kLogSetParamInvalid);
        return QD_SETPARAM_INVALID;
    }
    const QdParamDef *def = a.def;
    const ParamMapEntry *e = a.node->map;
    if (defIsConstant(def) || !mapHasStorage(e)) {
        qdLog("!%s\n", kLogSetParamConstant);
        return QD_SETPARAM_CONSTANT;
    }
    if (!value || valueOutsideDomain(def, value)) {
        qdLog("!%s\n", kLogSetParamOutside);
        return QD_SETPARAM_OUTSIDE_DOMAIN;
    }

    QdValue stored = *value;
    if (!writeValue(a, id, value, &stored)) {
        qdLog("!%s\n", kLogSetParamInvalid);
        return QD_SETPARAM_INVALID;
    }
    if (isCapSiteRecorded(a)) recordCapSite(a, value);

    if (!def->dependents) return QD_SETPARAM_OK;
    if (id == QD_PAR_CHANNEL_PROFILE) {
        if (value->code == 0) return QD_SETPARAM_OK;
        if (applyProfile(def, a.channel, value) != 0) {
            qdLog("!%s\n", "QdSetParam: Cannot update profile dependent parameter");
            return QD_SETPARAM_PROFILE_FAILED;
        }
        return QD_SETPARAM_OK;
    }
    return updateParDeps(def, a.channel, &stored, 1);
}

extern "C" uint16_t QDCALL QdGetOptNum(uint16_t id, int16_t channel) {
    EngineGuard guard;
    ParamAddress a;
    if (!addressParam(id, channel, &a) || !defIsOptionList(a.def)) {
        qdLog("!%s\n", kLogGetOptNumInvalid);
        return 0;
    }
    return getOptNum(a.def);
}

static void changeLock(SpineNode *node, int lock) {
    if (lock) {
        if (node->lockCount < 255) ++node->lockCount;
    } else {
        if (node->lockCount > 0) --node->lockCount;
    }
}

extern "C" int QDCALL QdLockParam(uint16_t id, int16_t channel, int lock) {
    EngineGuard guard;
    if (selectedContext() < 0 || !spineModel()) {
        qdLog("!%s\n", kLogLockParamNoContext);
        return 2;
    }
    if (channel == -2 && (id & 0x80)) {
        for (uint16_t c = 0; c < spineChannelCount(); ++c) {
            ParamAddress a;
            if (!addressParam(id, c, &a)) {
                qdLog("!%s\n", kLogLockParamInvalid);
                return 1;
            }
            changeLock(a.node, lock);
        }
        return 0;
    }
    ParamAddress a;
    if (!addressParam(id, channel, &a)) {
        qdLog("!%s\n", kLogLockParamInvalid);
        return 1;
    }
    changeLock(a.node, lock);
    return 0;
}

// Sets one mapped parameter to its current default; constants keep theirs.
static bool resetToDefault(uint16_t id, uint16_t channel) {
    SpineNode *node = spineNodeFor(id, channel);
    if (!node) return false;
    const QdParamDef *def = spineCurrentDef(node);
    if (defIsConstant(def)) return true;
    const QdValue *value = &def->def;
    QdValue capSite{};
    if (id == QD_PAR_EEG_CAP && !defIsNotApplicable(def)) {
        const QdCapConfig *cap = contextCapRecord((uint16_t)selectedContext());
        if (cap->enabled && cap->currentSet < 5 && channel < 4) {
            capSite.code = cap->sites[cap->currentSet][channel];
            value = &capSite;
        }
    }
    return QdSetParam(id, channel, value) == QD_SETPARAM_OK;
}

extern "C" int QDCALL QdSetDefaults(int16_t selector) {
    EngineGuard guard;
    logEnter("QdSetDefaults", "%i", selector);
    int16_t context = selectedContext();
    const ModelDescriptor *m = spineModel();
    if (context < 0 || !m) {
        logFail("QdSetDefaults", "%s", kLogContextNotSelected);
        return 3;
    }
    if (selector == -2) {
        // Bytes beyond the model's image are cleared too, so that nothing of
        // an earlier context in this slot survives into a saved blob.
        uint8_t *image = contextImage((uint16_t)context);
        std::memset(image, 0, QD_IMAGE_MAX);
        std::memcpy(image, m->defaultImage, m->imageLength);
        std::memset(contextStorage((uint16_t)context), 0, QD_STORAGE_SIZE);
    }
    if (selector == -2 || selector == -1) {
        for (const ParamMapEntry *e = m->generalMap; e->id != QD_LIST_END; ++e) {
            if (!resetToDefault(e->id, 0)) {
                logFail("QdSetDefaults", "General parameter setting error");
                return 1;
            }
        }
    }
    if (selector == -2 || selector >= 0) {
        for (uint16_t c = 0; c < spineChannelCount(); ++c) {
            if (selector >= 0 && c != selector) continue;
            for (const ParamMapEntry *e = m->channelMaps[c]; e->id != QD_LIST_END; ++e) {
                if (!resetToDefault(e->id, c)) {
                    logFail("QdSetDefaults", "Channel parameter setting error");
                    return 2;
                }
            }
        }
    }
    logExit("QdSetDefaults", "0");
    return 0;
}

extern "C" const char *QDCALL QdParseParamUnit(const char *unit, double *multiplier) {
    if (!unit) return nullptr;
    if (multiplier) *multiplier = 1.0;
    static const char kPrefixes[] = "TGMkmunp";
    static const double kFactors[] = {1e12, 1e9, 1e6, 1e3, 1e-3, 1e-6, 1e-9, 1e-12};
    if (unit[0] != '\0' && unit[1] != '\0') {
        const char *hit = std::strchr(kPrefixes, unit[0]);
        if (hit) {
            if (multiplier) *multiplier = kFactors[hit - kPrefixes];
            return unit + 1;
        }
    }
    return unit;
}
