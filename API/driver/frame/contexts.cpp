// contexts.cpp - the 10 device context slots and the exported functions
// that enumerate models and open, select and close contexts (the model
// table itself is in API/driver/params/models.cpp).
#include "API/driver/frame/contexts.h"

#include <cstring>

#include "API/driver/frame/lifecycle.h"
#include "API/driver/frame/log.h"
#include "API/driver/frame/log_texts.h"
#include "API/driver/params/spine.h"

// Context slots and their stores.
struct ContextSlot {
    uint16_t inUse;
    uint16_t model;
};

struct ContextStore {
    alignas(8) uint8_t image[QD_IMAGE_MAX];
    alignas(8) uint8_t storage[QD_STORAGE_SIZE];
    uint8_t terminator;  // always zero: texts read from the record end here at the latest
};

static ContextSlot g_slots[QD_MAX_CONTEXTS];
static ContextStore g_stores[QD_MAX_CONTEXTS];
// Set once an open has filled the context's values; a later selection then
// brings the spine in line with them.
static bool g_hasValues[QD_MAX_CONTEXTS];
static int16_t g_selected = -1;
static uint16_t g_reuseHint = 0;

bool modelGeneralConstant(uint16_t model, uint16_t id, QdValue *value) {
    const ModelEntry *entry = modelEntry(model);
    if (!entry || !findMapEntry(entry->descriptor->generalMap, id)) return false;
    const QdParamDef *def = findDefinition(entry->descriptor->general, id);
    if (!def) return false;
    if (value) *value = def->def;
    return true;
}

int modelChannelCount(uint16_t model) {
    const ModelEntry *entry = modelEntry(model);
    return entry ? entry->channels : -1;
}

int modelLinkType(uint16_t model) {
    QdValue v;
    return modelGeneralConstant(model, QD_PAR_LINK_TYPE, &v) ? (int)v.code : -1;
}

bool contextInUse(uint16_t context) { return context < QD_MAX_CONTEXTS && g_slots[context].inUse != 0; }

int contextModel(uint16_t context) { return contextInUse(context) ? g_slots[context].model : -1; }

int16_t selectedContext() { return g_selected; }

uint8_t *contextImage(uint16_t context) {
    return context < QD_MAX_CONTEXTS ? g_stores[context].image : nullptr;
}

uint8_t *contextStorage(uint16_t context) {
    return context < QD_MAX_CONTEXTS ? g_stores[context].storage : nullptr;
}

QdCapConfig *contextCapRecord(uint16_t context) {
    if (context >= QD_MAX_CONTEXTS) return nullptr;
    return reinterpret_cast<QdCapConfig *>(g_stores[context].storage + QD_CAP_RECORD_OFFSET);
}

const char *contextDeviceId(uint16_t context) {
    int model = contextModel(context);
    if (model < 0) return nullptr;
    const ModelDescriptor *m = modelEntry((uint16_t)model)->descriptor;
    const ParamMapEntry *e = findMapEntry(m->generalMap, QD_PAR_DEVICE_ID);
    if (!e || e->mask || e->slot == QD_NO_SLOT || e->slot >= QD_STORAGE_SIZE) return nullptr;
    return reinterpret_cast<const char *>(g_stores[context].storage + e->slot);
}

static_assert(sizeof(QdCapConfig) == QD_STORAGE_SIZE - QD_CAP_RECORD_OFFSET, "cap record ends the storage record");
static_assert(QD_CAP_RECORD_OFFSET % 4 == 0, "cap record is aligned inside the storage record");

static ContextHooks g_hooks = {};

void contextsSetHooks(const ContextHooks &hooks) { g_hooks = hooks; }

static void shutdownContext(uint16_t context) {
    if (g_hooks.shutdownContext) g_hooks.shutdownContext(context);
}

static void resetContext(uint16_t context) {
    if (g_hooks.resetContext) g_hooks.resetContext(context);
}

static void closeWindowForSelection() {
    if (g_hooks.closeWindowForSelection) g_hooks.closeWindowForSelection();
}

void contextsOnAttach() {
    freeSpine();
    for (uint16_t i = 0; i < QD_MAX_CONTEXTS; ++i) {
        g_slots[i].inUse = 0;
        g_hasValues[i] = false;
    }
    g_selected = -1;
    g_reuseHint = 0;
}

void contextsOnDetach() {
    for (uint16_t i = 0; i < QD_MAX_CONTEXTS; ++i) {
        if (g_slots[i].inUse) shutdownContext(i);
    }
}

extern "C" int QDCALL QdEnumDevices(const char *const **names) {
    logEnter("QdEnumDevices", "...");
    if (names) *names = modelNames();
    logExit("QdEnumDevices", "%i", QD_MODEL_COUNT);
    return QD_MODEL_COUNT;
}

extern "C" int16_t QDCALL QdOpenDevContext(const char *name) {
    logEnter("QdOpenDevContext", "%s", name ? name : "");
    EngineGuard guard;
    uint16_t slot = g_reuseHint;
    if (slot >= QD_MAX_CONTEXTS || g_slots[slot].inUse) {
        slot = QD_MAX_CONTEXTS;
        for (uint16_t i = 0; i < QD_MAX_CONTEXTS; ++i) {
            if (!g_slots[i].inUse) {
                slot = i;
                break;
            }
        }
        if (slot == QD_MAX_CONTEXTS) {
            logFail("QdOpenDevContext", "%s", kLogTooManyContexts);
            return -1;
        }
    }
    int model = modelByName(name);
    if (model < 0) {
        logFail("QdOpenDevContext", "%s", kLogDeviceNotFound);
        return -2;
    }
    g_slots[slot].inUse = 1;
    g_slots[slot].model = (uint16_t)model;
    g_hasValues[slot] = false;
    if (QdSelectDevContext(slot) != (int16_t)slot) {
        g_slots[slot].inUse = 0;
        logFail("QdOpenDevContext", "%s", kLogContextSelectionError);
        return -3;
    }
    if (QdSetDefaults(-2) != 0) {
        // The slot is given up; it must not stay selected.
        closeWindowForSelection();
        freeSpine();
        g_selected = -1;
        g_slots[slot].inUse = 0;
        logFail("QdOpenDevContext", "%s", kLogContextSelectionError);
        return -3;
    }
    g_hasValues[slot] = true;
    resetContext(slot);
    logExit("QdOpenDevContext", "%i", slot);
    return (int16_t)slot;
}

// Builds the spine of the selected context; a context that already holds
// values gets its superior entries from them.
static int buildSelectedSpine() {
    int result = createSpine();
    if (result == 0 && g_selected >= 0 && g_hasValues[g_selected]) refreshSpineFromStored();
    return result;
}

// Whether a context is open and whether it is the selected one, read under
// the lock.
static bool openAndSelected(uint16_t context, bool *selected) {
    EngineGuard guard;
    *selected = (int16_t)context == g_selected;
    return contextInUse(context);
}

extern "C" int16_t QDCALL QdSelectDevContext(uint16_t context) {
    logEnter("QdSelectDevContext", "%i", context);
    // A driver window on the selected context closes before the selection
    // moves; closing it may wait for the window's thread, so not under the
    // lock (the close below finds it gone, unless another thread opened one
    // meanwhile).
    bool selected = false;
    if (openAndSelected(context, &selected) && !selected) closeWindowForSelection();
    EngineGuard guard;
    if (!contextInUse(context)) {
        logFail("QdSelectDevContext", "%s", kLogInvalidContext);
        return -2;
    }
    if ((int16_t)context == g_selected) return g_selected;
    int16_t previous = g_selected;
    if (previous >= 0) {
        closeWindowForSelection();
        freeSpine();
    }
    g_selected = (int16_t)context;
    if (buildSelectedSpine() == 0) {
        logExit("QdSelectDevContext", "%i", context);
        return g_selected;
    }
    freeSpine();
    g_selected = previous;
    if (previous >= 0 && buildSelectedSpine() != 0) freeSpine();
    logFail("QdSelectDevContext", "%s", kLogInitializationError);
    return -1;
}

extern "C" int16_t QDCALL QdGetSelectedDevContext(void) {
    EngineGuard guard;
    return g_selected;
}

extern "C" void QDCALL QdCloseDevContext(uint16_t context) {
    logEnter("QdCloseDevContext", "%i", context);
    bool selected = false;
    if (openAndSelected(context, &selected)) {
        // The stop waits for the engine thread and the window's close for
        // its thread: both before the lock is taken.
        shutdownContext(context);
        if (selected) closeWindowForSelection();
    }
    EngineGuard guard;
    if (contextInUse(context)) {
        if ((int16_t)context == g_selected) {
            closeWindowForSelection();
            freeSpine();
            g_selected = -1;
        }
        g_slots[context].inUse = 0;
        g_hasValues[context] = false;
        g_reuseHint = context;
    }
    logExit("QdCloseDevContext", "void");
}

extern "C" const char *QDCALL QdGetDevName(void) {
    EngineGuard guard;
    int model = g_selected >= 0 ? contextModel((uint16_t)g_selected) : -1;
    return model >= 0 ? modelEntry((uint16_t)model)->name : nullptr;
}

extern "C" QdCapConfig *QDCALL QdGetCapConfig(void) {
    EngineGuard guard;
    int model = g_selected >= 0 ? contextModel((uint16_t)g_selected) : -1;
    if (model < 0) return nullptr;
    const ModelDescriptor *m = modelEntry((uint16_t)model)->descriptor;
    if (m->channelLists < 1 || !findDefinition(m->channels[0], QD_PAR_EEG_CAP)) return nullptr;
    return contextCapRecord((uint16_t)g_selected);
}
