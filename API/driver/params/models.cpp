// models.cpp - the 15 model descriptors: which lists, maps, default image and
// profile table make up each model.
#include "API/driver/params/tables.h"

static const uint8_t kImageBrev[4] = {0x01, 0x00, 0xFF, 0x00};
static const uint8_t kImageFirstGen[40] = {0x02};
static const uint8_t kImageHalvex[52] = {0x02};

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

#define BREV(general) \
    {general, kChannelNames, kListsBrev, kMapGeneralBrev, kMapsBrev, 1, kImageBrev, 4, 0, 4, nullptr}
#define FIRST_GEN(general, n) \
    {general, kChannelNames, kListsFirstGen, kMapGeneral, kMapsFirstGen, n, kImageFirstGen, 40, 16, 4, &kProfilesFirstGen}
#define HALVEX(general, n) \
    {general, kChannelNames, kListsHalvex, kMapGeneral, kMapsHalvex, n, kImageHalvex, 52, 16, 6, &kProfilesHalvex}
#define HALVEX_PLUS_2(general) \
    {general, kChannelNames, kListsHalvexPlus2, kMapGeneral, kMapsHalvexPlus2, 3, kImageHalvex, 52, 16, 6, &kProfilesHalvex}
#define HALVEX_PLUS_4(general) \
    {general, kChannelNames, kListsHalvexPlus4, kMapGeneral, kMapsHalvexPlus4, 5, kImageHalvex, 52, 16, 6, &kProfilesHalvex}

const ModelDescriptor kModelDescriptors[QD_MODEL_COUNT] = {
    BREV(kGeneralBrev),
    FIRST_GEN(kGeneralHalvex2, 2),
    FIRST_GEN(kGeneralHalvex4, 4),
    HALVEX(kGeneralHalvex2Bt, 2),
    HALVEX(kGeneralHalvex2Usb, 2),
    HALVEX(kGeneralHalvex2Ble, 2),
    HALVEX(kGeneralHalvex4Bt, 4),
    HALVEX(kGeneralHalvex4Usb, 4),
    HALVEX(kGeneralHalvex4Ble, 4),
    HALVEX_PLUS_2(kGeneralHalvexPlus2Bt),
    HALVEX_PLUS_2(kGeneralHalvexPlus2Usb),
    HALVEX_PLUS_2(kGeneralHalvexPlus2Ble),
    HALVEX_PLUS_4(kGeneralHalvexPlus4Bt),
    HALVEX_PLUS_4(kGeneralHalvexPlus4Usb),
    HALVEX_PLUS_4(kGeneralHalvexPlus4Ble),
};

const ModelDescriptor *modelDescriptor(uint16_t model) {
    return model < QD_MODEL_COUNT ? &kModelDescriptors[model] : nullptr;
}

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
