// tables_general.cpp - general parameter lists of the 15 models, their maps,
// and the "Channel name" records of channels A to E.
#include "API/driver/params/tables.h"

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
#define CHANNEL_COUNT(n) DEF_INT(QD_PAR_CHANNEL_COUNT, "Number of channels", nullptr, F_INTERNAL, n, nullptr, nullptr)
#define INDICATORS(bits, help) \
    DEF_INT(QD_PAR_INDICATOR_SUPPORT, "Support of indicators", nullptr, F_INTERNAL, bits, nullptr, help)

const QdParamDef kGeneralBrev[] = {
    LINK_TYPE(kOptLinkIrda, QD_LINK_IRDA),
    CHANNEL_COUNT(1),
    INDICATORS(13, H_INDICATORS),
    DEF_END,
};

// First generation (models 1 and 2): Bluetooth, 2 or 4 channels.
#define GENERAL_FIRST_GEN(channels)                                                                  \
    {                                                                                                \
        LINK_TYPE(kOptLinkBt, QD_LINK_BT),                                                           \
        DEF_STR(QD_PAR_DEVICE_ID, "Device address", G_LINK, 0, 20, "Serial Port Device",             \
                "Remote device Bluetooth address or identifier."),                                   \
        CHANNEL_COUNT(channels),                                                                     \
        INDICATORS(11, H_INDICATORS),                                                                \
        DEF_OPTF(QD_PAR_MAINS_FREQUENCY, "Power mains frequency", G_ENVIRONMENT, 0, kOptMains, "Hz", \
                 0, nullptr, nullptr),                                                               \
        DEF_BOOL(QD_PAR_SILENT_MODE, "Silent mode", G_ENVIRONMENT, 0, 0, H_SILENT_FIRST_GEN),       \
        DEF_END,                                                                                     \
    }

const QdParamDef kGeneralHalvex2[] = GENERAL_FIRST_GEN(2);
const QdParamDef kGeneralHalvex4[] = GENERAL_FIRST_GEN(4);

// Halvex and Halvex+ (models 3 to 14): link type, channel count and the
// indicators the link can report (USB reports no link quality).
#define GENERAL_HALVEX(list, link, channels, indicators)                                             \
    {                                                                                                \
        LINK_TYPE(list, link),                                                                       \
        DEF_STR(QD_PAR_DEVICE_ID, "Device id", G_LINK, 0, 20, "Quorvane Halvex*",                    \
                "Device transceiver identifier or its Bluetooth address."),                          \
        CHANNEL_COUNT(channels),                                                                     \
        INDICATORS(indicators, nullptr),                                                             \
        DEF_OPTF(QD_PAR_MAINS_FREQUENCY, "Mains power frequency", G_ENVIRONMENT, 0, kOptMains, "Hz", \
                 0, nullptr, nullptr),                                                               \
        DEF_BOOL(QD_PAR_SILENT_MODE, "Silent mode", G_ENVIRONMENT, 0, 0, H_SILENT),                 \
        DEF_END,                                                                                     \
    }

const QdParamDef kGeneralHalvex2Bt[] = GENERAL_HALVEX(kOptLinkBt, QD_LINK_BT, 2, 11);
const QdParamDef kGeneralHalvex2Usb[] = GENERAL_HALVEX(kOptLinkUsb, QD_LINK_USB, 2, 9);
const QdParamDef kGeneralHalvex2Ble[] = GENERAL_HALVEX(kOptLinkBle, QD_LINK_BLE, 2, 11);
const QdParamDef kGeneralHalvex4Bt[] = GENERAL_HALVEX(kOptLinkBt, QD_LINK_BT, 4, 11);
const QdParamDef kGeneralHalvex4Usb[] = GENERAL_HALVEX(kOptLinkUsb, QD_LINK_USB, 4, 9);
const QdParamDef kGeneralHalvex4Ble[] = GENERAL_HALVEX(kOptLinkBle, QD_LINK_BLE, 4, 11);
const QdParamDef kGeneralHalvexPlus2Bt[] = GENERAL_HALVEX(kOptLinkBt, QD_LINK_BT, 3, 11);
const QdParamDef kGeneralHalvexPlus2Usb[] = GENERAL_HALVEX(kOptLinkUsb, QD_LINK_USB, 3, 9);
const QdParamDef kGeneralHalvexPlus2Ble[] = GENERAL_HALVEX(kOptLinkBle, QD_LINK_BLE, 3, 11);
const QdParamDef kGeneralHalvexPlus4Bt[] = GENERAL_HALVEX(kOptLinkBt, QD_LINK_BT, 5, 11);
const QdParamDef kGeneralHalvexPlus4Usb[] = GENERAL_HALVEX(kOptLinkUsb, QD_LINK_USB, 5, 9);
const QdParamDef kGeneralHalvexPlus4Ble[] = GENERAL_HALVEX(kOptLinkBle, QD_LINK_BLE, 5, 11);

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
