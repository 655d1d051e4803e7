// tables_halvexplus.cpp - the Halvex+ signal channel (channel 0 of models 9
// to 14, on models 12 to 14 with its EEG cap site) and the button channel
// (the extra channel of every Halvex+ model).
#include "API/driver/params/tables.h"

static const QdOption kOptProfileHalvexPlus[] = {
    OPT_T(0, "User defined"), OPT_T(12, "BVP"), OPT_T(3, "ECG for HRV"), OPT_T(14, "ECG"),
    OPT_T(2, "EMG"), OPT_T(1, "EEG"), OPT_T(6, "EEG 250sps"), OPT_T(8, "EOG"),
    OPT_T(4, "GSR"), OPT_T(10, "nIR HEG"), OPT_T(11, "pIR HEG"), OPT_T(9, "RESP belt"),
    OPT_T(7, "SCP"), OPT_T(5, "TEMP"), OPT_END,
};

static const QdOption kOptFunction7[] = {
    OPT_T(0, "Voltage"), OPT_T(1, "Resistance"), OPT_T(2, "Conductance"), OPT_T(3, "Temperature"),
    OPT_T(4, "nIR HEG"), OPT_T(5, "pIR HEG"), OPT_T(6, "Current"), OPT_END,
};

static const QdOption kOptCharMild[] = {
    OPT_TC(1, "Linear phase mild", "Band 0.3*sr, delay 11 samples."), OPT_END,
};

static const QdOption kOptRangeNirHeg[] = {OPT_F(5, 200.0f), OPT_END};
static const QdOption kOptRangePirHeg[] = {OPT_F(3, 50.0f), OPT_END};
static const QdOption kOptRangeCurrent[] = {OPT_F(1, 400.0f), OPT_F(2, 2000.0f), OPT_F(3, 25000.0f), OPT_END};

static const QdOption kOptRateHeg[] = {OPT_F(6, 62.5f), OPT_END};

static const QdOption kOptLowerLimitCurrent[] = {OPT_F(0, 0.35f), OPT_END};
static const QdOption kOptLowerLimitOff[] = {OPT_F(3, 0.0f), OPT_END};

// Seven channel functions: Voltage, Resistance, Conductance, Temperature,
// nIR HEG, pIR HEG, Current. Variants by function (7), by function and range
// (7 x 3) or by function and characteristic (7 x 2).
#define HALVEX_PLUS_CHANNEL(functionDeps)                                                \
    ROW_ENABLE(0, 0), ROW_DIRECTION, ROW_ADC(16), ROW_LABEL("", H_LABEL),                \
    ROW_SENSOR(0, "", "Sensor info"), ROW_PROFILE(kOptProfileHalvexPlus, kDepsProfileHalvex), \
    ROW_FUNCTION(kOptFunction7, 0, functionDeps),                                        \
    /* by function */                                                                    \
    CHARACTERISTIC(0, kOptCharBoth, 0),                                                  \
    CHARACTERISTIC(F_NA, kOptCharSharp, 0),                                              \
    CHARACTERISTIC(F_NA, kOptCharSharp, 0),                                              \
    CHARACTERISTIC(F_NA, kOptCharSharp, 0),                                              \
    CHARACTERISTIC(F_NA, kOptCharMild, 1),                                               \
    CHARACTERISTIC(F_NA, kOptCharMild, 1),                                               \
    CHARACTERISTIC(0, kOptCharBoth, 0),                                                  \
    /* by function */                                                                    \
    RANGE(kDepsRangeHalvex, kOptRangeVoltage, "uV", 0, nullptr),                         \
    RANGE(kDepsRangeHalvex, kOptRangeResistance, "kOhm", 2, nullptr),                    \
    RANGE(kDepsRangeHalvex, kOptRangeConductance, "uS", 5, H_CONDUCTANCE),               \
    RANGE(kDepsRangeHalvex, kOptRangeTemperature, U_CELSIUS, 2, nullptr),                \
    RANGE(kDepsRangeHalvex, kOptRangeNirHeg, "%", 5, nullptr),                           \
    RANGE(kDepsRangeHalvex, kOptRangePirHeg, U_CELSIUS, 3, nullptr),                     \
    RANGE(kDepsRangeHalvex, kOptRangeCurrent, "nA", 1, nullptr),                         \
    /* by function and range */                                                          \
    RANGE_MIN(-800.0f, "uV"), RANGE_MIN(-6000.0f, "uV"), RANGE_MIN(-24000.0f, "uV"),     \
    RANGE_MIN(0.0f, "kOhm"), RANGE_MIN(0.0f, "kOhm"), RANGE_MIN(0.0f, "kOhm"),           \
    RANGE_MIN(1.0f, "uS"), RANGE_MIN(8.0f, "uS"), RANGE_MIN(32.0f, "uS"),                \
    RANGE_MIN(-18.0f, U_CELSIUS), RANGE_MIN(21.0f, U_CELSIUS), RANGE_MIN(21.0f, U_CELSIUS), \
    RANGE_MIN(0.0f, "%"), RANGE_MIN(0.0f, "%"), RANGE_MIN(0.0f, "%"),                    \
    RANGE_MIN(0.0f, U_CELSIUS), RANGE_MIN(0.0f, U_CELSIUS), RANGE_MIN(0.0f, U_CELSIUS),  \
    RANGE_MIN(-400.0f, "nA"), RANGE_MIN(-2000.0f, "nA"), RANGE_MIN(-25000.0f, "nA"),     \
    /* by function */                                                                    \
    RATE(kOptRateVoltage, 7), RATE(kOptRateSlow, 4), RATE(kOptRateSlow, 4),              \
    RATE(kOptRateSlow, 4), RATE(kOptRateHeg, 6), RATE(kOptRateHeg, 6), RATE(kOptRateHeg, 6), \
    /* by function and range */                                                          \
    LOWER(0, kOptLowerLimit800, 0), LOWER(0, kOptLowerLimitWide, 0),                     \
    LOWER(0, kOptLowerLimitWide, 0),                                                     \
    LOWER(F_NA, kOptLowerLimitNone, 0), LOWER(F_NA, kOptLowerLimitNone, 0),              \
    LOWER(F_NA, kOptLowerLimitNone, 0), LOWER(F_NA, kOptLowerLimitNone, 0),              \
    LOWER(F_NA, kOptLowerLimitNone, 0), LOWER(F_NA, kOptLowerLimitNone, 0),              \
    LOWER(F_NA, kOptLowerLimitNone, 0), LOWER(F_NA, kOptLowerLimitNone, 0),              \
    LOWER(F_NA, kOptLowerLimitNone, 0),                                                  \
    LOWER(F_NA, kOptLowerLimitNone, 0), LOWER(F_NA, kOptLowerLimitNone, 0),              \
    LOWER(F_NA, kOptLowerLimitNone, 0),                                                  \
    LOWER(F_NA, kOptLowerLimitOff, 3), LOWER(F_NA, kOptLowerLimitOff, 3),                \
    LOWER(F_NA, kOptLowerLimitOff, 3),                                                   \
    LOWER(0, kOptLowerLimitCurrent, 0), LOWER(0, kOptLowerLimitCurrent, 0),              \
    LOWER(0, kOptLowerLimitOff, 3),                                                      \
    /* by function */                                                                    \
    FILTER(0, 1), FILTER(F_NA, 0), FILTER(F_NA, 0), FILTER(F_NA, 0),                     \
    FILTER(F_NA, 0), FILTER(F_NA, 0), FILTER(F_NA, 0),                                   \
    SUM(0, 0), SUM(0, 0), SUM(0, 0), SUM(0, 1), SUM(F_NA, 1), SUM(F_NA, 1), SUM(F_NA, 1), \
    /* by function and characteristic */                                                 \
    UPPER(0.4f), UPPER(0.3f), UPPER(0.37f), UPPER(0.37f),                                \
    UPPER(0.37f), UPPER(0.37f), UPPER(0.038f), UPPER(0.038f),                            \
    UPPER(0.3f), UPPER(0.3f), UPPER(0.3f), UPPER(0.3f), UPPER(0.4f), UPPER(0.3f),        \
    CONTINUITY_SR,                                                                       \
    /* by function and range */                                                          \
    CONTINUITY(125.0f), CONTINUITY(125.0f), CONTINUITY(125.0f),                          \
    CONTINUITY(31.25f), CONTINUITY(125.0f), CONTINUITY(1000.0f),                         \
    CONTINUITY(1000.0f), CONTINUITY(125.0f), CONTINUITY(31.25f),                         \
    CONTINUITY(1000.0f), CONTINUITY(125.0f), CONTINUITY(125.0f),                         \
    CONTINUITY(1000.0f), CONTINUITY(1000.0f), CONTINUITY(1000.0f),                       \
    CONTINUITY(1000.0f), CONTINUITY(1000.0f), CONTINUITY(1000.0f),                       \
    CONTINUITY(1000.0f), CONTINUITY(1000.0f), CONTINUITY(1000.0f),                       \
    /* by function */                                                                    \
    COMMON_REF(0, kOptCommonRefHalvex, H_COMMON_REF_HALVEX),                             \
    COMMON_REF(F_NA, kOptCommonRefNone, H_COMMON_REF_HALVEX),                            \
    COMMON_REF(F_NA, kOptCommonRefNone, H_COMMON_REF_HALVEX),                            \
    COMMON_REF(F_NA, kOptCommonRefNone, H_COMMON_REF_HALVEX),                            \
    COMMON_REF(F_NA, kOptCommonRefNone, H_COMMON_REF_HALVEX),                            \
    COMMON_REF(F_NA, kOptCommonRefNone, H_COMMON_REF_HALVEX),                            \
    COMMON_REF(F_NA, kOptCommonRefNone, H_COMMON_REF_HALVEX)

const QdParamDef kChannelHalvexPlus[] = {HALVEX_PLUS_CHANNEL(kDepsFunctionHalvex), DEF_END};

// Channel 0 of the Halvex+ 4 models carries the first EEG cap site list.
const QdParamDef kChannelHalvexPlusCap[] = {
    HALVEX_PLUS_CHANNEL(kDepsFunctionHalvexCap),
    CAP_SITE(0, kOptSite1),
    CAP_SITE(F_NA, kOptSiteNone),
    CAP_SITE(F_NA, kOptSiteNone),
    CAP_SITE(F_NA, kOptSiteNone),
    CAP_SITE(F_NA, kOptSiteNone),
    CAP_SITE(F_NA, kOptSiteNone),
    CAP_SITE(F_NA, kOptSiteNone),
    DEF_END,
};

// The button channel: one function, a choice of three sample rates.
static const QdOption kOptProfileButton[] = {OPT_T(0, "User defined"), OPT_T(13, "Button"), OPT_END};
static const QdOption kOptFunctionButton[] = {OPT_T(7, "Button"), OPT_END};
static const QdOption kOptRateButton[] = {OPT_F(6, 62.5f), OPT_F(7, 125.0f), OPT_F(8, 250.0f), OPT_END};
static const uint16_t kDepsProfileButton[] = {QD_PAR_CHANNEL_FUNCTION, QD_PAR_SAMPLE_RATE, QD_LIST_END};
static const uint16_t kDepsFunctionButton[] = {QD_PAR_SAMPLE_RATE, QD_LIST_END};

const QdParamDef kChannelButton[] = {
    ROW_ENABLE(0, 0),
    ROW_DIRECTION,
    ROW_ADC(16),
    ROW_LABEL("", nullptr),
    ROW_SENSOR(F_INTERNAL, "Button", nullptr),
    ROW_PROFILE(kOptProfileButton, kDepsProfileButton),
    ROW_FUNCTION(kOptFunctionButton, 7, kDepsFunctionButton),
    DEF_FLOAT(QD_PAR_MEASUREMENT_RANGE, "Measurement range", G_SETTINGS, F_CONST, 2.0f, nullptr, nullptr),
    RANGE_MIN(0.0f, nullptr),
    RATE(kOptRateButton, 6),
    DEF_FLOAT(QD_PAR_LOWER_LIMIT, N_LOWER_LIMIT, G_SETTINGS, F_INTERNAL, 0.0f, "Hz", nullptr),
    UPPER(0.5f),
    DEF_END,
};

const ParamMapEntry kMapChannelButton[] = {
    MAP_BITS(QD_PAR_CHANNEL_ENABLE, 0x80, 0, 0),
    MAP_SLOT(QD_PAR_CHANNEL_LABEL, 20),
    MAP_SLOT(QD_PAR_CHANNEL_PROFILE, 596),
    MAP_BITS(QD_PAR_CHANNEL_FUNCTION, 0xFF, 1, 0),
    MAP_BITS(QD_PAR_SAMPLE_RATE, 0xFF, 3, 0),
    MAP_END,
};
