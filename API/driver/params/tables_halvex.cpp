// tables_halvex.cpp - the Halvex channel (models 3 to 8, channel 1 of the
// Halvex+ 2 models), its EEG cap variants (channels 1 to 3 of the Halvex+ 4
// models), their maps, and the Halvex profile table, which every Halvex and
// Halvex+ channel uses.
#include "API/driver/params/tables.h"

const QdOption kOptInput[] = {OPT_T(0, "Input"), OPT_END};

static const QdOption kOptProfileHalvex[] = {
    OPT_T(0, "User defined"), OPT_T(3, "ECG for HRV"), OPT_T(14, "ECG"), OPT_T(2, "EMG"),
    OPT_T(1, "EEG"), OPT_T(6, "EEG 250sps"), OPT_T(8, "EOG"), OPT_T(4, "GSR"),
    OPT_T(9, "RESP belt"), OPT_T(7, "SCP"), OPT_T(5, "TEMP"), OPT_END,
};

const QdOption kOptFunction4[] = {
    OPT_T(0, "Voltage"), OPT_T(1, "Resistance"), OPT_T(2, "Conductance"), OPT_T(3, "Temperature"), OPT_END,
};

#define SHARP OPT_TC(0, "Linear phase sharp", "Band 0.4*sr, delay 19 samples.")
#define MILD OPT_TC(1, "Linear phase mild", "Band 0.3*sr, delay 11 samples.")
const QdOption kOptCharBoth[] = {SHARP, MILD, OPT_END};
const QdOption kOptCharSharp[] = {SHARP, OPT_END};

const QdOption kOptRangeVoltage[] = {OPT_F(0, 800.0f), OPT_F(3, 6000.0f), OPT_F(5, 24000.0f), OPT_END};
const QdOption kOptRangeResistance[] = {OPT_F(0, 31.25f), OPT_F(2, 125.0f), OPT_F(5, 1000.0f), OPT_END};
const QdOption kOptRangeConductance[] = {OPT_F(5, 20.0f), OPT_F(2, 160.0f), OPT_F(0, 640.0f), OPT_END};
const QdOption kOptRangeTemperature[] = {OPT_F(5, 30.0f), OPT_F(2, 120.0f), OPT_END};

const QdOption kOptRateVoltage[] = {
    OPT_F(6, 62.5f), OPT_F(7, 125.0f), OPT_F(8, 250.0f), OPT_F(9, 500.0f), OPT_F(10, 1000.0f), OPT_F(11, 2000.0f),
    OPT_END,
};
const QdOption kOptRateSlow[] = {OPT_F(4, 15.625f), OPT_END};

const QdOption kOptLowerLimit800[] = {OPT_F(0, 0.5f), OPT_F(2, 0.01f), OPT_END};
const QdOption kOptLowerLimitWide[] = {OPT_F(0, 0.5f), OPT_F(2, 0.01f), OPT_F(3, 0.0f), OPT_END};
const QdOption kOptLowerLimitNone[] = {OPT_F(0, 0.0f), OPT_END};

const QdOption kOptContinuitySr[] = {OPT_F(2, 3.90625f), OPT_END};

const QdOption kOptCommonRefHalvex[] = {
    OPT_T(0, "No connection"), OPT_T(1, "Internal connection"), OPT_T(2, "External connection"), OPT_END,
};
const QdOption kOptCommonRefNone[] = {OPT_T(0, "No connection"), OPT_END};

// EEG cap sites: "None" and eight sites with the codes 8 to 15, one list per
// cap channel.
const QdOption kOptSiteNone[] = {OPT_T(0, "None"), OPT_END};
const QdOption kOptSite1[] = {
    OPT_T(0, "None"), OPT_T(8, "Cz"), OPT_T(9, "F3"), OPT_T(10, "F4"), OPT_T(11, "F7"),
    OPT_T(12, "Fp1"), OPT_T(13, "Fpz"), OPT_T(14, "Fz"), OPT_T(15, "T3"), OPT_END,
};
static const QdOption kOptSite2[] = {
    OPT_T(0, "None"), OPT_T(8, "C3"), OPT_T(9, "Cz"), OPT_T(10, "F4"), OPT_T(11, "F7"),
    OPT_T(12, "F8"), OPT_T(13, "Fp2"), OPT_T(14, "Pz"), OPT_T(15, "T4"), OPT_END,
};
static const QdOption kOptSite3[] = {
    OPT_T(0, "None"), OPT_T(8, "C3"), OPT_T(9, "C4"), OPT_T(10, "Cz"), OPT_T(11, "O1"),
    OPT_T(12, "P3"), OPT_T(13, "P4"), OPT_T(14, "T4"), OPT_T(15, "T5"), OPT_END,
};
static const QdOption kOptSite4[] = {
    OPT_T(0, "None"), OPT_T(8, "C4"), OPT_T(9, "O1"), OPT_T(10, "O2"), OPT_T(11, "Oz"),
    OPT_T(12, "P3"), OPT_T(13, "P4"), OPT_T(14, "T5"), OPT_T(15, "T6"), OPT_END,
};

const uint16_t kDepsProfileHalvex[] = {
    QD_PAR_CHANNEL_FUNCTION, QD_PAR_FREQ_CHARACTERISTIC, QD_PAR_MEASUREMENT_RANGE, QD_PAR_SAMPLE_RATE,
    QD_PAR_LOWER_LIMIT, QD_PAR_SUM_DISCONNECTED, QD_PAR_COMMON_REFERENCE, QD_LIST_END,
};
const uint16_t kDepsFunctionHalvex[] = {
    QD_PAR_FREQ_CHARACTERISTIC, QD_PAR_MEASUREMENT_RANGE, QD_PAR_RANGE_MINIMUM, QD_PAR_SAMPLE_RATE,
    QD_PAR_LOWER_LIMIT, QD_PAR_INTERFERENCE_FILTER, QD_PAR_SUM_DISCONNECTED, QD_PAR_UPPER_LIMIT,
    QD_PAR_CONTINUITY_RANGE, QD_PAR_COMMON_REFERENCE, QD_LIST_END,
};
const uint16_t kDepsFunctionHalvexCap[] = {
    QD_PAR_FREQ_CHARACTERISTIC, QD_PAR_MEASUREMENT_RANGE, QD_PAR_RANGE_MINIMUM, QD_PAR_SAMPLE_RATE,
    QD_PAR_LOWER_LIMIT, QD_PAR_INTERFERENCE_FILTER, QD_PAR_SUM_DISCONNECTED, QD_PAR_UPPER_LIMIT,
    QD_PAR_CONTINUITY_RANGE, QD_PAR_COMMON_REFERENCE, QD_PAR_EEG_CAP, QD_LIST_END,
};
const uint16_t kDepsCharacteristic[] = {QD_PAR_UPPER_LIMIT, QD_LIST_END};
// "Lower limit frequency" keeps its option when the new range offers it.
const uint16_t kDepsRangeHalvex[] = {
    QD_PAR_RANGE_MINIMUM, QD_PAR_CONTINUITY_RANGE, KEEP(QD_PAR_LOWER_LIMIT), QD_LIST_END,
};

// The Halvex channel with four channel functions. Variants follow the
// superiors in the order they stand in the list: "Channel function" (4
// options), then "Measurement range" (3) or "Frequency characteristic" (2).
#define HALVEX_CHANNEL(functionDeps)                                                     \
    ROW_ENABLE(0, 0), ROW_DIRECTION, ROW_ADC(16), ROW_LABEL("", H_LABEL),                \
    ROW_SENSOR(0, "", "Sensor info"), ROW_PROFILE(kOptProfileHalvex, kDepsProfileHalvex), \
    ROW_FUNCTION(kOptFunction4, 0, functionDeps),                                        \
    /* by function */                                                                    \
    CHARACTERISTIC(0, kOptCharBoth, 0),                                                  \
    CHARACTERISTIC(F_NA, kOptCharSharp, 0),                                              \
    CHARACTERISTIC(F_NA, kOptCharSharp, 0),                                              \
    CHARACTERISTIC(F_NA, kOptCharSharp, 0),                                              \
    /* by function */                                                                    \
    RANGE(kDepsRangeHalvex, kOptRangeVoltage, "uV", 0, nullptr),                         \
    RANGE(kDepsRangeHalvex, kOptRangeResistance, "kOhm", 2, nullptr),                    \
    RANGE(kDepsRangeHalvex, kOptRangeConductance, "uS", 5, H_CONDUCTANCE),               \
    RANGE(kDepsRangeHalvex, kOptRangeTemperature, U_CELSIUS, 2, nullptr),                \
    /* by function and range */                                                          \
    RANGE_MIN(-800.0f, "uV"), RANGE_MIN(-6000.0f, "uV"), RANGE_MIN(-24000.0f, "uV"),     \
    RANGE_MIN(0.0f, "kOhm"), RANGE_MIN(0.0f, "kOhm"), RANGE_MIN(0.0f, "kOhm"),           \
    RANGE_MIN(1.0f, "uS"), RANGE_MIN(8.0f, "uS"), RANGE_MIN(32.0f, "uS"),                \
    RANGE_MIN(-18.0f, U_CELSIUS), RANGE_MIN(21.0f, U_CELSIUS), RANGE_MIN(21.0f, U_CELSIUS), \
    /* by function */                                                                    \
    RATE(kOptRateVoltage, 7), RATE(kOptRateSlow, 4), RATE(kOptRateSlow, 4),              \
    RATE(kOptRateSlow, 4),                                                               \
    /* by function and range */                                                          \
    LOWER(0, kOptLowerLimit800, 0), LOWER(0, kOptLowerLimitWide, 0),                     \
    LOWER(0, kOptLowerLimitWide, 0),                                                     \
    LOWER(F_NA, kOptLowerLimitNone, 0), LOWER(F_NA, kOptLowerLimitNone, 0),              \
    LOWER(F_NA, kOptLowerLimitNone, 0), LOWER(F_NA, kOptLowerLimitNone, 0),              \
    LOWER(F_NA, kOptLowerLimitNone, 0), LOWER(F_NA, kOptLowerLimitNone, 0),              \
    LOWER(F_NA, kOptLowerLimitNone, 0), LOWER(F_NA, kOptLowerLimitNone, 0),              \
    LOWER(F_NA, kOptLowerLimitNone, 0),                                                  \
    /* by function */                                                                    \
    FILTER(0, 1), FILTER(F_NA, 0), FILTER(F_NA, 0), FILTER(F_NA, 0),                     \
    SUM(0, 0), SUM(0, 0), SUM(0, 0), SUM(0, 1),                                          \
    /* by function and characteristic */                                                 \
    UPPER(0.4f), UPPER(0.3f), UPPER(0.37f), UPPER(0.37f),                                \
    UPPER(0.37f), UPPER(0.37f), UPPER(0.038f), UPPER(0.038f),                            \
    CONTINUITY_SR,                                                                       \
    /* by function and range */                                                          \
    CONTINUITY(125.0f), CONTINUITY(125.0f), CONTINUITY(125.0f),                          \
    CONTINUITY(31.25f), CONTINUITY(125.0f), CONTINUITY(1000.0f),                         \
    CONTINUITY(1000.0f), CONTINUITY(125.0f), CONTINUITY(31.25f),                         \
    CONTINUITY(1000.0f), CONTINUITY(125.0f), CONTINUITY(125.0f),                         \
    /* by function */                                                                    \
    COMMON_REF(0, kOptCommonRefHalvex, H_COMMON_REF_HALVEX),                             \
    COMMON_REF(F_NA, kOptCommonRefNone, H_COMMON_REF_HALVEX),                            \
    COMMON_REF(F_NA, kOptCommonRefNone, H_COMMON_REF_HALVEX),                            \
    COMMON_REF(F_NA, kOptCommonRefNone, H_COMMON_REF_HALVEX)

const QdParamDef kChannelHalvex[] = {HALVEX_CHANNEL(kDepsFunctionHalvex), DEF_END};

// EEG cap channels: the Halvex channel whose "Channel function" also decides
// "EEG cap connection" (a site only for voltage measurement).
#define CAP_CHANNEL(sites)                                                                                  \
    {                                                                                                       \
        HALVEX_CHANNEL(kDepsFunctionHalvexCap), CAP_SITE(0, sites), CAP_SITE(F_NA, kOptSiteNone),           \
            CAP_SITE(F_NA, kOptSiteNone), CAP_SITE(F_NA, kOptSiteNone), DEF_END,                            \
    }

const QdParamDef kChannelCap2[] = CAP_CHANNEL(kOptSite2);
const QdParamDef kChannelCap3[] = CAP_CHANNEL(kOptSite3);
const QdParamDef kChannelCap4[] = CAP_CHANNEL(kOptSite4);

// Channel entry of 6 bytes: flags, function, range, sample rate, lower
// limit, cap site. Label, sensor info and profile live in the storage record.
#define HALVEX_CHANNEL_MAP                                          \
    MAP_BITS(QD_PAR_CHANNEL_ENABLE, 0x80, 0, 0),                    \
    MAP_SLOT(QD_PAR_CHANNEL_LABEL, 20),                             \
    MAP_SLOT(QD_PAR_SENSOR_INFO, 116),                              \
    MAP_SLOT(QD_PAR_CHANNEL_PROFILE, 596),                          \
    MAP_BITS(QD_PAR_CHANNEL_FUNCTION, 0xFF, 1, 0),                  \
    MAP_BITS(QD_PAR_FREQ_CHARACTERISTIC, 0x07, 0, 0),               \
    MAP_BITS(QD_PAR_MEASUREMENT_RANGE, 0xFF, 2, 0),                 \
    MAP_BITS(QD_PAR_SAMPLE_RATE, 0xFF, 3, 0),                       \
    MAP_BITS(QD_PAR_LOWER_LIMIT, 0xFF, 4, 0),                       \
    MAP_BITS(QD_PAR_INTERFERENCE_FILTER, 0x40, 0, 0),               \
    MAP_BITS(QD_PAR_SUM_DISCONNECTED, 0x20, 0, 0),                  \
    MAP_BITS(QD_PAR_COMMON_REFERENCE, 0x18, 0, 3)

const ParamMapEntry kMapChannelHalvex[] = {HALVEX_CHANNEL_MAP, MAP_END};
const ParamMapEntry kMapChannelCap[] = {HALVEX_CHANNEL_MAP, MAP_BITS(QD_PAR_EEG_CAP, 0xFF, 5, 0), MAP_END};

// Cells: function, characteristic, range, sample rate, lower limit, sum
// disconnected, common reference. The button channel reads only the first
// two (function, sample rate). Row 0 ("User defined") is never applied.
static const QdValue kProfileRowsHalvex[][QD_PROFILE_CELLS] = {
    {{0}, {0}, {0}, {0}, {0}, {0}, {0}},
    {{0}, {0}, {0}, {7}, {0}, {0}, {1}},   // 1 EEG
    {{0}, {0}, {0}, {10}, {0}, {0}, {0}},  // 2 EMG
    {{0}, {0}, {3}, {8}, {0}, {0}, {0}},   // 3 ECG for HRV
    {{2}, {0}, {5}, {4}, {0}, {0}, {0}},   // 4 GSR
    {{3}, {0}, {2}, {4}, {0}, {1}, {0}},   // 5 TEMP
    {{0}, {1}, {0}, {8}, {0}, {0}, {1}},   // 6 EEG 250sps
    {{0}, {0}, {3}, {6}, {3}, {0}, {1}},   // 7 SCP
    {{0}, {0}, {5}, {8}, {3}, {0}, {0}},   // 8 EOG
    {{0}, {1}, {3}, {6}, {3}, {1}, {0}},   // 9 RESP belt
    {{4}, {1}, {5}, {6}, {0}, {1}, {0}},   // 10 nIR HEG
    {{5}, {1}, {3}, {6}, {3}, {1}, {0}},   // 11 pIR HEG
    {{6}, {0}, {1}, {6}, {0}, {1}, {0}},   // 12 BVP
    {{7}, {6}, {0}, {0}, {0}, {0}, {0}},   // 13 Button
    {{0}, {0}, {3}, {8}, {2}, {0}, {0}},   // 14 ECG
};

const ProfileTable kProfilesHalvex = {
    kProfileRowsHalvex, (uint16_t)(sizeof kProfileRowsHalvex / sizeof kProfileRowsHalvex[0]),
};
