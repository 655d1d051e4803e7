// models.cpp - the device models: each model's general parameter list and
// descriptor (which lists, maps, default image and profile table make it
// up), and the model table with one row per model.
//
// Adding a model means adding its general list, its descriptor and its row
// here (and counting it in QD_MODEL_COUNT; a new channel layout is a new
// group, with its channel count in kGroupChannels); everything the rest of the
// driver knows of a model (name, family, generation, storage version,
// compatible blobs, channel count) it reads from the row.
#include <array>
#include <cstring>

#include "API/driver/params/models.h"
#include "API/driver/params/tables.h"

// The protocol families (API/driver/protocol/halvex.cpp, brev.cpp).
extern const ProtocolFamilyOps halvexOps;
extern const ProtocolFamilyOps brevOps;

// The channel count of each group's models, written once: the row, the
// general list's "Number of channels" and the descriptor's channel lists
// all take it from here.
static constexpr uint16_t kGroupChannels[MODEL_GROUP_COUNT] = {
    /* BREV */ 1, /* FIRST_2 */ 2, /* FIRST_4 */ 4, /* HALVEX_2 */ 2, /* HALVEX_4 */ 4, /* PLUS_2 */ 3, /* PLUS_4 */ 5,
};

// ---------------------------------------------------------------------------
// General parameter lists
// ---------------------------------------------------------------------------

// "Link type": one option per model, the link the model speaks.
static const QdOption kOptLinkIrda[] = {OPT_T(QD_LINK_IRDA, "IrDA"), OPT_END};
static const QdOption kOptLinkBt[] = {OPT_T(QD_LINK_BT, "Bluetooth"), OPT_END};
static const QdOption kOptLinkUsb[] = {OPT_T(QD_LINK_USB, "USB"), OPT_END};
static const QdOption kOptLinkBle[] = {OPT_T(QD_LINK_BLE, "Bluetooth LE"), OPT_END};

static const QdOption kOptMains[] = {OPT_F(0, 50.0f), OPT_F(1, 60.0f), OPT_END};

#define H_INDICATORS \
    "Flags of supported indicators IND_* passed on to QdUserInd() function (one bit for each IND_* type)."
#define H_SILENT                                                                                \
    "The option turns off sound signalization of events (errors etc.) in the device during " \
    "measurements. Visual signalization is not influenced."
#define H_SILENT_FIRST_GEN H_SILENT " (The option is insignificant in devices without sound transducer.)"

#define LINK_TYPE(list, code) \
    DEF_OPTT(QD_PAR_LINK_TYPE, "Link type", G_LINK, F_CONST, list, code, nullptr, nullptr)
#define CHANNEL_COUNT(group) \
    DEF_INT(QD_PAR_CHANNEL_COUNT, "Number of channels", nullptr, F_INTERNAL, kGroupChannels[group], nullptr, nullptr)
#define INDICATORS(bits, help) \
    DEF_INT(QD_PAR_INDICATOR_SUPPORT, "Support of indicators", nullptr, F_INTERNAL, bits, nullptr, help)

static const QdParamDef kGeneralBrev[] = {
    LINK_TYPE(kOptLinkIrda, QD_LINK_IRDA),
    CHANNEL_COUNT(MODEL_GROUP_BREV),
    INDICATORS(13, H_INDICATORS),
    DEF_END,
};

// First generation: Bluetooth, 2 or 4 channels.
#define GENERAL_FIRST_GEN(group)                                                                     \
    {                                                                                                \
        LINK_TYPE(kOptLinkBt, QD_LINK_BT),                                                           \
        DEF_STR(QD_PAR_DEVICE_ID, "Device address", G_LINK, 0, 20, "Serial Port Device",             \
                "Remote device Bluetooth address or identifier."),                                   \
        CHANNEL_COUNT(group),                                                                        \
        INDICATORS(11, H_INDICATORS),                                                                \
        DEF_OPTF(QD_PAR_MAINS_FREQUENCY, "Power mains frequency", G_ENVIRONMENT, 0, kOptMains, "Hz", \
                 0, nullptr, nullptr),                                                               \
        DEF_BOOL(QD_PAR_SILENT_MODE, "Silent mode", G_ENVIRONMENT, 0, 0, H_SILENT_FIRST_GEN),       \
        DEF_END,                                                                                     \
    }

static const QdParamDef kGeneralHalvex2[] = GENERAL_FIRST_GEN(MODEL_GROUP_FIRST_2);
static const QdParamDef kGeneralHalvex4[] = GENERAL_FIRST_GEN(MODEL_GROUP_FIRST_4);

// Halvex and Halvex+: link type, the group's channel count and the indicators the link
// can report (USB reports no link quality).
#define GENERAL_HALVEX(list, link, group, indicators)                                                \
    {                                                                                                \
        LINK_TYPE(list, link),                                                                       \
        DEF_STR(QD_PAR_DEVICE_ID, "Device id", G_LINK, 0, 20, "Quorvane Halvex*",                    \
                "Device transceiver identifier or its Bluetooth address."),                          \
        CHANNEL_COUNT(group),                                                                        \
        INDICATORS(indicators, nullptr),                                                             \
        DEF_OPTF(QD_PAR_MAINS_FREQUENCY, "Mains power frequency", G_ENVIRONMENT, 0, kOptMains, "Hz", \
                 0, nullptr, nullptr),                                                               \
        DEF_BOOL(QD_PAR_SILENT_MODE, "Silent mode", G_ENVIRONMENT, 0, 0, H_SILENT),                 \
        DEF_END,                                                                                     \
    }

static const QdParamDef kGeneralHalvex2Bt[] = GENERAL_HALVEX(kOptLinkBt, QD_LINK_BT, MODEL_GROUP_HALVEX_2, 11);
static const QdParamDef kGeneralHalvex2Usb[] = GENERAL_HALVEX(kOptLinkUsb, QD_LINK_USB, MODEL_GROUP_HALVEX_2, 9);
static const QdParamDef kGeneralHalvex2Ble[] = GENERAL_HALVEX(kOptLinkBle, QD_LINK_BLE, MODEL_GROUP_HALVEX_2, 11);
static const QdParamDef kGeneralHalvex4Bt[] = GENERAL_HALVEX(kOptLinkBt, QD_LINK_BT, MODEL_GROUP_HALVEX_4, 11);
static const QdParamDef kGeneralHalvex4Usb[] = GENERAL_HALVEX(kOptLinkUsb, QD_LINK_USB, MODEL_GROUP_HALVEX_4, 9);
static const QdParamDef kGeneralHalvex4Ble[] = GENERAL_HALVEX(kOptLinkBle, QD_LINK_BLE, MODEL_GROUP_HALVEX_4, 11);
static const QdParamDef kGeneralHalvexPlus2Bt[] = GENERAL_HALVEX(kOptLinkBt, QD_LINK_BT, MODEL_GROUP_PLUS_2, 11);
static const QdParamDef kGeneralHalvexPlus2Usb[] = GENERAL_HALVEX(kOptLinkUsb, QD_LINK_USB, MODEL_GROUP_PLUS_2, 9);
static const QdParamDef kGeneralHalvexPlus2Ble[] = GENERAL_HALVEX(kOptLinkBle, QD_LINK_BLE, MODEL_GROUP_PLUS_2, 11);
static const QdParamDef kGeneralHalvexPlus4Bt[] = GENERAL_HALVEX(kOptLinkBt, QD_LINK_BT, MODEL_GROUP_PLUS_4, 11);
static const QdParamDef kGeneralHalvexPlus4Usb[] = GENERAL_HALVEX(kOptLinkUsb, QD_LINK_USB, MODEL_GROUP_PLUS_4, 9);
static const QdParamDef kGeneralHalvexPlus4Ble[] = GENERAL_HALVEX(kOptLinkBle, QD_LINK_BLE, MODEL_GROUP_PLUS_4, 11);

// ---------------------------------------------------------------------------
// Descriptors
// ---------------------------------------------------------------------------

static const uint8_t kImageBrev[QD_IMAGE_BREV] = {0x01, 0x00, 0xFF, 0x00};
static const uint8_t kImageFirstGen[QD_IMAGE_FIRST_GEN] = {0x02};
static const uint8_t kImageHalvex[QD_IMAGE_MAX] = {0x02};

static const QdParamDef *const kListsBrev[] = {kChannelBrev};
static const ParamMapEntry *const kMapsBrev[] = {kMapChannelBrev};

static const QdParamDef *const kListsFirstGen[] = {kChannelFirstGen, kChannelFirstGen, kChannelFirstGen,
                                                   kChannelFirstGen};
static const ParamMapEntry *const kMapsFirstGen[] = {kMapChannelFirstGen, kMapChannelFirstGen, kMapChannelFirstGen,
                                                     kMapChannelFirstGen};

static const QdParamDef *const kListsHalvex[] = {kChannelHalvex, kChannelHalvex, kChannelHalvex, kChannelHalvex};
static const ParamMapEntry *const kMapsHalvex[] = {kMapChannelHalvex, kMapChannelHalvex, kMapChannelHalvex,
                                                   kMapChannelHalvex};

static const QdParamDef *const kListsHalvexPlus2[] = {kChannelHalvexPlus, kChannelHalvex, kChannelButton};
static const ParamMapEntry *const kMapsHalvexPlus2[] = {kMapChannelHalvex, kMapChannelHalvex, kMapChannelButton};

static const QdParamDef *const kListsHalvexPlus4[] = {kChannelHalvexPlusCap, kChannelCap2, kChannelCap3, kChannelCap4,
                                                      kChannelButton};
static const ParamMapEntry *const kMapsHalvexPlus4[] = {kMapChannelCap, kMapChannelCap, kMapChannelCap, kMapChannelCap,
                                                        kMapChannelButton};

#define BREV(general)                                                                                       \
    {general, kChannelNames, kListsBrev, kMapGeneralBrev, kMapsBrev, kGroupChannels[MODEL_GROUP_BREV], kImageBrev, \
     QD_IMAGE_BREV, 0, 4, nullptr}
#define FIRST_GEN(general, group)                                                                            \
    {general, kChannelNames, kListsFirstGen, kMapGeneral, kMapsFirstGen, kGroupChannels[group], kImageFirstGen, \
     QD_IMAGE_FIRST_GEN, 16, 4, &kProfilesFirstGen}
#define HALVEX(general, group)                                                                             \
    {general, kChannelNames, kListsHalvex, kMapGeneral, kMapsHalvex, kGroupChannels[group], kImageHalvex, QD_IMAGE_MAX, \
     16, 6, &kProfilesHalvex}
#define HALVEX_PLUS_2(general)                                                                                 \
    {general, kChannelNames, kListsHalvexPlus2, kMapGeneral, kMapsHalvexPlus2, kGroupChannels[MODEL_GROUP_PLUS_2], kImageHalvex, QD_IMAGE_MAX, 16, 6, \
     &kProfilesHalvex}
#define HALVEX_PLUS_4(general)                                                                                 \
    {general, kChannelNames, kListsHalvexPlus4, kMapGeneral, kMapsHalvexPlus4, kGroupChannels[MODEL_GROUP_PLUS_4], kImageHalvex, QD_IMAGE_MAX, 16, 6, \
     &kProfilesHalvex}

static const ModelDescriptor kBrev100 = BREV(kGeneralBrev);
static const ModelDescriptor kHalvex2 = FIRST_GEN(kGeneralHalvex2, MODEL_GROUP_FIRST_2);
static const ModelDescriptor kHalvex4 = FIRST_GEN(kGeneralHalvex4, MODEL_GROUP_FIRST_4);
static const ModelDescriptor kHalvex2Bt = HALVEX(kGeneralHalvex2Bt, MODEL_GROUP_HALVEX_2);
static const ModelDescriptor kHalvex2Usb = HALVEX(kGeneralHalvex2Usb, MODEL_GROUP_HALVEX_2);
static const ModelDescriptor kHalvex2Ble = HALVEX(kGeneralHalvex2Ble, MODEL_GROUP_HALVEX_2);
static const ModelDescriptor kHalvex4Bt = HALVEX(kGeneralHalvex4Bt, MODEL_GROUP_HALVEX_4);
static const ModelDescriptor kHalvex4Usb = HALVEX(kGeneralHalvex4Usb, MODEL_GROUP_HALVEX_4);
static const ModelDescriptor kHalvex4Ble = HALVEX(kGeneralHalvex4Ble, MODEL_GROUP_HALVEX_4);
static const ModelDescriptor kHalvexPlus2Bt = HALVEX_PLUS_2(kGeneralHalvexPlus2Bt);
static const ModelDescriptor kHalvexPlus2Usb = HALVEX_PLUS_2(kGeneralHalvexPlus2Usb);
static const ModelDescriptor kHalvexPlus2Ble = HALVEX_PLUS_2(kGeneralHalvexPlus2Ble);
static const ModelDescriptor kHalvexPlus4Bt = HALVEX_PLUS_4(kGeneralHalvexPlus4Bt);
static const ModelDescriptor kHalvexPlus4Usb = HALVEX_PLUS_4(kGeneralHalvexPlus4Usb);
static const ModelDescriptor kHalvexPlus4Ble = HALVEX_PLUS_4(kGeneralHalvexPlus4Ble);

// ---------------------------------------------------------------------------
// The model table
// ---------------------------------------------------------------------------

namespace {

// The groups whose blobs a group accepts, in the order their models are
// listed (a model never lists itself). A first-generation blob converts
// into the second generation; a two-channel blob fills the first channels
// of a four-channel model, and a Halvex+ 2 blob also its button channel.
struct GroupAccepts {
    ModelGroup groups[MODEL_GROUP_COUNT];
    uint8_t count;
};
constexpr GroupAccepts kGroupAccepts[] = {
    /* BREV */ {{}, 0},
    /* FIRST_2 */ {{}, 0},
    /* FIRST_4 */ {{MODEL_GROUP_FIRST_2}, 1},
    /* HALVEX_2 */ {{MODEL_GROUP_FIRST_2, MODEL_GROUP_HALVEX_2}, 2},
    /* HALVEX_4 */ {{MODEL_GROUP_FIRST_2, MODEL_GROUP_FIRST_4, MODEL_GROUP_HALVEX_2, MODEL_GROUP_HALVEX_4}, 4},
    /* PLUS_2 */ {{MODEL_GROUP_FIRST_2, MODEL_GROUP_HALVEX_2, MODEL_GROUP_PLUS_2}, 3},
    /* PLUS_4 */
    {{MODEL_GROUP_FIRST_2, MODEL_GROUP_FIRST_4, MODEL_GROUP_HALVEX_2, MODEL_GROUP_PLUS_2, MODEL_GROUP_HALVEX_4,
      MODEL_GROUP_PLUS_4},
     6},
};
static_assert(sizeof kGroupAccepts / sizeof kGroupAccepts[0] == MODEL_GROUP_COUNT, "one entry per group");

#define MODEL(name, family, generation, version, group, descriptor) \
    {name, family, generation, version, group, descriptor, kGroupChannels[group], {}, 0}

constexpr ModelEntry kModelRows[] = {
    MODEL("Quorvane Brev 100", &brevOps, MODEL_GEN_BREV, "1.0", MODEL_GROUP_BREV, &kBrev100),
    MODEL("Quorvane Halvex 2", &halvexOps, MODEL_GEN_FIRST, "1.0", MODEL_GROUP_FIRST_2, &kHalvex2),
    MODEL("Quorvane Halvex 4", &halvexOps, MODEL_GEN_FIRST, "1,0", MODEL_GROUP_FIRST_4, &kHalvex4),
    MODEL("Quorvane Halvex-2 BT", &halvexOps, MODEL_GEN_SECOND, "2.0", MODEL_GROUP_HALVEX_2, &kHalvex2Bt),
    MODEL("Quorvane Halvex-2 USB", &halvexOps, MODEL_GEN_SECOND, "2.0", MODEL_GROUP_HALVEX_2, &kHalvex2Usb),
    MODEL("Quorvane Halvex-2 BLE", &halvexOps, MODEL_GEN_SECOND, "2.0", MODEL_GROUP_HALVEX_2, &kHalvex2Ble),
    MODEL("Quorvane Halvex-4 BT", &halvexOps, MODEL_GEN_SECOND, "2.0", MODEL_GROUP_HALVEX_4, &kHalvex4Bt),
    MODEL("Quorvane Halvex-4 USB", &halvexOps, MODEL_GEN_SECOND, "2.0", MODEL_GROUP_HALVEX_4, &kHalvex4Usb),
    MODEL("Quorvane Halvex-4 BLE", &halvexOps, MODEL_GEN_SECOND, "2.0", MODEL_GROUP_HALVEX_4, &kHalvex4Ble),
    MODEL("Quorvane Halvex+ 2 BT", &halvexOps, MODEL_GEN_SECOND, "2.0", MODEL_GROUP_PLUS_2, &kHalvexPlus2Bt),
    MODEL("Quorvane Halvex+ 2 USB", &halvexOps, MODEL_GEN_SECOND, "2.0", MODEL_GROUP_PLUS_2, &kHalvexPlus2Usb),
    MODEL("Quorvane Halvex+ 2 BLE", &halvexOps, MODEL_GEN_SECOND, "2.0", MODEL_GROUP_PLUS_2, &kHalvexPlus2Ble),
    MODEL("Quorvane Halvex+ 4 BT", &halvexOps, MODEL_GEN_SECOND, "2.0", MODEL_GROUP_PLUS_4, &kHalvexPlus4Bt),
    MODEL("Quorvane Halvex+ 4 USB", &halvexOps, MODEL_GEN_SECOND, "2.0", MODEL_GROUP_PLUS_4, &kHalvexPlus4Usb),
    MODEL("Quorvane Halvex+ 4 BLE", &halvexOps, MODEL_GEN_SECOND, "2.0", MODEL_GROUP_PLUS_4, &kHalvexPlus4Ble),
};
constexpr int MODEL_ROWS = (int)(sizeof kModelRows / sizeof kModelRows[0]);
static_assert(MODEL_ROWS == QD_MODEL_COUNT, "one row per model");

// The rows with the models whose blobs each accepts filled in.
constexpr std::array<ModelEntry, MODEL_ROWS> withCompatibility() {
    std::array<ModelEntry, MODEL_ROWS> table{};
    for (int m = 0; m < MODEL_ROWS; ++m) {
        table[m] = kModelRows[m];
        const GroupAccepts &accepts = kGroupAccepts[kModelRows[m].group];
        for (int g = 0; g < accepts.count; ++g) {
            for (int other = 0; other < MODEL_ROWS; ++other) {
                if (other == m || kModelRows[other].group != accepts.groups[g]) continue;
                table[m].compatible[table[m].compatibleCount++] = (uint8_t)other;
            }
        }
    }
    return table;
}
constexpr std::array<ModelEntry, MODEL_ROWS> kModelTable = withCompatibility();

constexpr std::array<const char *, MODEL_ROWS> namesOf() {
    std::array<const char *, MODEL_ROWS> names{};
    for (int m = 0; m < MODEL_ROWS; ++m) names[m] = kModelRows[m].name;
    return names;
}
constexpr std::array<const char *, MODEL_ROWS> kModelNames = namesOf();

}  // namespace

const ModelEntry *modelEntry(uint16_t model) { return model < MODEL_ROWS ? &kModelTable[model] : nullptr; }

const ModelDescriptor *modelDescriptor(uint16_t model) {
    return model < MODEL_ROWS ? kModelTable[model].descriptor : nullptr;
}

const char *const *modelNames() { return kModelNames.data(); }

int modelByName(const char *name) {
    if (!name) return -1;
    for (int i = 0; i < MODEL_ROWS; ++i) {
        if (std::strcmp(name, kModelNames[i]) == 0) return i;
    }
    return -1;
}

bool modelFiltersHighPass(uint16_t model) {
    return model < MODEL_ROWS && kModelTable[model].generation == MODEL_GEN_SECOND;
}

// ---------------------------------------------------------------------------
// Lookups in definition lists and maps
// ---------------------------------------------------------------------------

const QdParamDef *findDefinition(const QdParamDef *list, uint16_t id) {
    if (!list) return nullptr;
    for (; list->id != QD_LIST_END; ++list) {
        if (list->id == id) return list;
    }
    return nullptr;
}

const ParamMapEntry *findMapEntry(const ParamMapEntry *map, uint16_t id) {
    if (!map) return nullptr;
    for (; map->id != QD_LIST_END; ++map) {
        if (map->id == id) return map;
    }
    return nullptr;
}
