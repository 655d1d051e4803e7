// tables_firstgen.cpp - the channel of the first-generation Halvex models
// (models 1 and 2), its map and its profile table.
#include "API/driver/params/tables.h"

static const QdOption kOptProfileFirstGen[] = {
    OPT_T(0, "User defined"), OPT_T(1, "EEG"), OPT_T(6, "EEG 250sps"), OPT_T(2, "EMG"),
    OPT_T(3, "HRV"), OPT_T(4, "GSR"), OPT_T(5, "TEMP"), OPT_END,
};

static const QdOption kOptRangeVoltage1[] = {OPT_F(1, 1000.0f), OPT_F(4, 8000.0f), OPT_END};
static const QdOption kOptRangeResistance1[] = {OPT_F(1, 125.0f), OPT_F(4, 1000.0f), OPT_END};
static const QdOption kOptRangeConductance1[] = {OPT_F(4, 20.0f), OPT_F(1, 160.0f), OPT_END};
static const QdOption kOptRangeTemperature1[] = {OPT_F(4, 30.0f), OPT_F(1, 120.0f), OPT_END};

static const QdOption kOptCommonRefFirstGen[] = {
    OPT_T(0, "No connection"), OPT_T(1, "Reference 1"), OPT_T(2, "Reference 2"), OPT_END,
};

static const uint16_t kDepsProfileFirstGen[] = {
    QD_PAR_CHANNEL_FUNCTION, QD_PAR_MEASUREMENT_RANGE, QD_PAR_SAMPLE_RATE, QD_PAR_COMMON_REFERENCE, QD_LIST_END,
};
static const uint16_t kDepsFunctionFirstGen[] = {
    QD_PAR_FREQ_CHARACTERISTIC, QD_PAR_MEASUREMENT_RANGE, QD_PAR_RANGE_MINIMUM, QD_PAR_SAMPLE_RATE,
    QD_PAR_INTERFERENCE_FILTER, QD_PAR_SUM_DISCONNECTED, QD_PAR_LOWER_LIMIT, QD_PAR_UPPER_LIMIT,
    QD_PAR_CONTINUITY_RANGE, QD_PAR_COMMON_REFERENCE, QD_LIST_END,
};
static const uint16_t kDepsRangeFirstGen[] = {QD_PAR_RANGE_MINIMUM, QD_PAR_CONTINUITY_RANGE, QD_LIST_END};

#define H_COMMON_REF_FIRST_GEN                                                                        \
    "It informs of external connection of \"-\" input of a given channel to a common reference "     \
    "electrode. Its suitable selection is required for correct results of electrode-skin impedance " \
    "tests for such inputs."

#define ABS_LOWER(v) DEF_FLOAT(QD_PAR_LOWER_LIMIT, N_ABS_LOWER_LIMIT, G_SETTINGS, F_INTERNAL, v, "Hz", nullptr)

// Two measurement ranges per function, so the variants by function and range
// number 4 x 2.
const QdParamDef kChannelFirstGen[] = {
    ROW_ENABLE(0, 0),
    ROW_DIRECTION,
    ROW_ADC(16),
    ROW_LABEL("", H_LABEL),
    ROW_SENSOR(0, "", H_SENSOR_EXAMPLE),
    ROW_PROFILE(kOptProfileFirstGen, kDepsProfileFirstGen),
    ROW_FUNCTION(kOptFunction4, 0, kDepsFunctionFirstGen),
    // by function
    CHARACTERISTIC(0, kOptCharBoth, 0),
    CHARACTERISTIC(F_NA, kOptCharSharp, 0),
    CHARACTERISTIC(F_NA, kOptCharSharp, 0),
    CHARACTERISTIC(F_NA, kOptCharSharp, 0),
    // by function
    RANGE(kDepsRangeFirstGen, kOptRangeVoltage1, "uV", 1, nullptr),
    RANGE(kDepsRangeFirstGen, kOptRangeResistance1, "kOhm", 1, nullptr),
    RANGE(kDepsRangeFirstGen, kOptRangeConductance1, "uS", 4, nullptr),
    RANGE(kDepsRangeFirstGen, kOptRangeTemperature1, U_CELSIUS, 1, nullptr),
    // by function and range
    RANGE_MIN(-1000.0f, "uV"), RANGE_MIN(-8000.0f, "uV"),
    RANGE_MIN(0.0f, "kOhm"), RANGE_MIN(0.0f, "kOhm"),
    RANGE_MIN(1.0f, "uS"), RANGE_MIN(8.0f, "uS"),
    RANGE_MIN(-18.0f, U_CELSIUS), RANGE_MIN(21.0f, U_CELSIUS),
    // by function
    RATE(kOptRateVoltage, 7), RATE(kOptRateSlow, 4), RATE(kOptRateSlow, 4), RATE(kOptRateSlow, 4),
    FILTER(0, 1), FILTER(F_NA, 0), FILTER(F_NA, 0), FILTER(F_NA, 0),
    SUM(0, 0), SUM(0, 0), SUM(0, 0), SUM(0, 1),
    ABS_LOWER(0.35f), ABS_LOWER(0.0f), ABS_LOWER(0.0f), ABS_LOWER(0.0f),
    // by function and characteristic
    UPPER(0.4f), UPPER(0.3f), UPPER(0.37f), UPPER(0.37f),
    UPPER(0.37f), UPPER(0.37f), UPPER(0.038f), UPPER(0.038f),
    CONTINUITY_SR,
    // by function and range
    CONTINUITY(125.0f), CONTINUITY(125.0f), CONTINUITY(125.0f), CONTINUITY(1000.0f),
    CONTINUITY(1000.0f), CONTINUITY(125.0f), CONTINUITY(1000.0f), CONTINUITY(125.0f),
    // by function
    COMMON_REF(0, kOptCommonRefFirstGen, H_COMMON_REF_FIRST_GEN),
    COMMON_REF(F_NA, kOptCommonRefNone, H_COMMON_REF_FIRST_GEN),
    COMMON_REF(F_NA, kOptCommonRefNone, H_COMMON_REF_FIRST_GEN),
    COMMON_REF(F_NA, kOptCommonRefNone, H_COMMON_REF_FIRST_GEN),
    DEF_END,
};

// Channel entry of 4 bytes: flags, function, range, sample rate.
const ParamMapEntry kMapChannelFirstGen[] = {
    MAP_BITS(QD_PAR_CHANNEL_ENABLE, 0x80, 0, 0),
    MAP_SLOT(QD_PAR_CHANNEL_LABEL, 20),
    MAP_SLOT(QD_PAR_SENSOR_INFO, 84),
    MAP_SLOT(QD_PAR_CHANNEL_PROFILE, 404),
    MAP_BITS(QD_PAR_CHANNEL_FUNCTION, 0xFF, 1, 0),
    MAP_BITS(QD_PAR_FREQ_CHARACTERISTIC, 0x07, 0, 0),
    MAP_BITS(QD_PAR_MEASUREMENT_RANGE, 0xFF, 2, 0),
    MAP_BITS(QD_PAR_SAMPLE_RATE, 0xFF, 3, 0),
    MAP_BITS(QD_PAR_INTERFERENCE_FILTER, 0x40, 0, 0),
    MAP_BITS(QD_PAR_SUM_DISCONNECTED, 0x20, 0, 0),
    MAP_BITS(QD_PAR_COMMON_REFERENCE, 0x18, 0, 3),
    MAP_END,
};

// Cells: function, range, sample rate, common reference.
static const QdValue kProfileRowsFirstGen[][QD_PROFILE_CELLS] = {
    {{0}, {0}, {0}, {0}, {0}, {0}, {0}},
    {{0}, {1}, {7}, {1}, {0}, {0}, {0}},   // 1 EEG
    {{0}, {1}, {10}, {0}, {0}, {0}, {0}},  // 2 EMG
    {{0}, {4}, {8}, {0}, {0}, {0}, {0}},   // 3 HRV
    {{2}, {4}, {4}, {0}, {0}, {0}, {0}},   // 4 GSR
    {{3}, {1}, {4}, {0}, {0}, {0}, {0}},   // 5 TEMP
    {{0}, {1}, {8}, {1}, {0}, {0}, {0}},   // 6 EEG 250sps
};

const ProfileTable kProfilesFirstGen = {
    kProfileRowsFirstGen, (uint16_t)(sizeof kProfileRowsFirstGen / sizeof kProfileRowsFirstGen[0]),
};
