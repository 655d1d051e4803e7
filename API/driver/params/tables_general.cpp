// tables_general.cpp - the maps of the general parameter lists (the lists
// themselves stand with their models in models.cpp), and the "Channel name"
// records of channels A to E.
#include "API/driver/params/tables.h"

// The constants are listed without a place so that the protocol engine can
// find "Link type" and "Number of channels" by walking the map.
const ParamMapEntry kMapGeneralBrev[] = {
    MAP_NONE(QD_PAR_LINK_TYPE),
    MAP_NONE(QD_PAR_CHANNEL_COUNT),
    MAP_NONE(QD_PAR_INDICATOR_SUPPORT),
    MAP_END,
};

const ParamMapEntry kMapGeneral[] = {
    MAP_NONE(QD_PAR_LINK_TYPE),
    MAP_SLOT(QD_PAR_DEVICE_ID, 0),
    MAP_NONE(QD_PAR_CHANNEL_COUNT),
    MAP_NONE(QD_PAR_INDICATOR_SUPPORT),
    MAP_BITS(QD_PAR_MAINS_FREQUENCY, 0x01, 0, 0),
    MAP_BITS(QD_PAR_SILENT_MODE, 0x20, 0, 0),
    MAP_END,
};

#define CHANNEL_NAME(letter) DEF_STR(QD_PAR_CHANNEL_NAME, "Channel name", nullptr, F_CONST, 2, letter, nullptr)

// Each record stands alone (followed by the end marker), so that it is a run
// of one definition like any other parameter.
static const QdParamDef kChannelNameA[] = {CHANNEL_NAME("A"), DEF_END};
static const QdParamDef kChannelNameB[] = {CHANNEL_NAME("B"), DEF_END};
static const QdParamDef kChannelNameC[] = {CHANNEL_NAME("C"), DEF_END};
static const QdParamDef kChannelNameD[] = {CHANNEL_NAME("D"), DEF_END};
static const QdParamDef kChannelNameE[] = {CHANNEL_NAME("E"), DEF_END};

const QdParamDef *const kChannelNames[QD_MAX_CHANNELS] = {
    kChannelNameA, kChannelNameB, kChannelNameC, kChannelNameD, kChannelNameE,
};
