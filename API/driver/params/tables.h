// tables.h - shorthand for writing the model tables, and the option and
// dependents lists that more than one table file uses. Only the tables_*.cpp
// files and models.cpp include this.
//
// The value cells and domains are unions; the tables name the member they
// fill with a designated initializer so that every table stays constant
// data, initialised at compile time.
#pragma once

#include "API/driver/params/model.h"

// Flags bytes.
#define F_CONST QD_FLAG_CONSTANT
#define F_NA QD_FLAG_NOT_APPLICABLE
#define F_INTERNAL (QD_FLAG_CONSTANT | QD_FLAG_NOT_APPLICABLE)

#define KEEP(id_) (QD_DEP_KEEP_IF_VALID | (id_))

// Option entries.
#define OPT_F(code_, v_) {code_, {.f = (v_)}, nullptr}
#define OPT_T(code_, text_) {code_, {.s = (text_)}, nullptr}
#define OPT_TC(code_, text_, comment_) {code_, {.s = (text_)}, comment_}
#define OPT_END {QD_LIST_END, {.code = 0}, nullptr}

// Definitions, by value kind: id, name, group, flags, ..., help.
#define DEF_OPTF(id_, name_, group_, flags_, list_, unit_, code_, deps_, help_) \
    {id_, name_, group_, QD_TYPE_OPTION_LIST | QD_KIND_FLOAT, flags_, {.options = (list_)}, unit_, {.code = (code_)}, deps_, help_}
#define DEF_OPTT(id_, name_, group_, flags_, list_, code_, deps_, help_) \
    {id_, name_, group_, QD_TYPE_OPTION_LIST | QD_KIND_STRING, flags_, {.options = (list_)}, nullptr, {.code = (code_)}, deps_, help_}
#define DEF_BOOL(id_, name_, group_, flags_, value_, help_) \
    {id_, name_, group_, QD_KIND_BOOL, flags_, {.i = {0, 0}}, nullptr, {.code = (value_)}, nullptr, help_}
#define DEF_INT(id_, name_, group_, flags_, value_, unit_, help_) \
    {id_, name_, group_, QD_KIND_INT, flags_, {.i = {0, 0}}, unit_, {.i = (value_)}, nullptr, help_}
#define DEF_FLOAT(id_, name_, group_, flags_, value_, unit_, help_) \
    {id_, name_, group_, QD_KIND_FLOAT, flags_, {.f = {0, 0}}, unit_, {.f = (value_)}, nullptr, help_}
#define DEF_STR(id_, name_, group_, flags_, size_, text_, help_) \
    {id_, name_, group_, QD_KIND_STRING, flags_, {.size = (size_)}, nullptr, {.s = (text_)}, nullptr, help_}
#define DEF_END {QD_LIST_END, nullptr, nullptr, 0, 0, {.options = nullptr}, nullptr, {.code = 0}, nullptr, nullptr}

// Map entries.
#define MAP_BITS(id_, mask_, offset_, shift_) {id_, mask_, offset_, shift_, QD_NO_SLOT}
#define MAP_SLOT(id_, slot_) {id_, 0, 0, 0, slot_}
#define MAP_NONE(id_) {id_, 0, 0, 0, QD_NO_SLOT}
#define MAP_END {QD_LIST_END, 0, 0, 0, QD_NO_SLOT}

// Units and groups.
#define U_CELSIUS "`C"
#define G_LINK "Link"
#define G_DESCRIPTION "Description"
#define G_SETTINGS "Settings"
#define G_ENVIRONMENT "Environment"

// Names that differ between model families.
#define N_LOWER_LIMIT "Lower limit frequency"
#define N_ABS_LOWER_LIMIT "Absolute lower limit frequency"

// Help texts used by several lists.
#define H_LABEL "E.g. \"EEG FpzCz\"."
#define H_SENSOR_EXAMPLE "E.g. \"AgAgCl electrode\"."
#define H_PROFILE                                                                              \
    "The profile enables to set the default parameters for some basic types of physiological " \
    "signals in one step. In order to freely set all parameters by yourself select \"User "     \
    "defined\" option."
#define H_SUM_DISCONNECTED                                                                       \
    "Option disconnecting sum voltage in channel from common voltage feedback amplifier "         \
    "(generating virtual ground potential). The option has to be cleared for channels "          \
    "galvanically connected with body (measuring EEG, EMG, GSR etc. signals on the skin "         \
    "surface). It is recommended to set the option for channels connected to transducers with " \
    "asymmetric (two-wire) voltage output."
#define H_UPPER_LIMIT "It should be multiplied by sampling rate to receive absolute frequency limit in Hz."
#define H_CONDUCTANCE "1uS (micro Siemens) = 1micromhO"

// Channel parameter rows shared by the channel lists.
#define ROW_ENABLE(flags_, v_) DEF_BOOL(QD_PAR_CHANNEL_ENABLE, "Channel enable", nullptr, flags_, v_, nullptr)
#define ROW_DIRECTION \
    DEF_OPTT(QD_PAR_CHANNEL_DIRECTION, "Channel direction", nullptr, F_INTERNAL, kOptInput, 0, nullptr, nullptr)
#define ROW_ADC(bits_) DEF_INT(QD_PAR_ADC_RESOLUTION, "ADC resolution", nullptr, F_INTERNAL, bits_, "bit", nullptr)
#define ROW_LABEL(text_, help_) DEF_STR(QD_PAR_CHANNEL_LABEL, "Channel label", G_DESCRIPTION, 0, 16, text_, help_)
#define ROW_SENSOR(flags_, text_, help_) DEF_STR(QD_PAR_SENSOR_INFO, "Sensor info", G_DESCRIPTION, flags_, 80, text_, help_)
#define ROW_PROFILE(list_, deps_) \
    DEF_OPTT(QD_PAR_CHANNEL_PROFILE, "Channel profile", G_SETTINGS, 0, list_, 0, deps_, H_PROFILE)
#define ROW_FUNCTION(list_, code_, deps_) \
    DEF_OPTT(QD_PAR_CHANNEL_FUNCTION, "Channel function", G_SETTINGS, 0, list_, code_, deps_, nullptr)
#define CHARACTERISTIC(flags_, list_, code_)                                                                    \
    DEF_OPTT(QD_PAR_FREQ_CHARACTERISTIC, "Frequency characteristic", G_SETTINGS, flags_, list_, code_,         \
             kDepsCharacteristic, nullptr)
#define RANGE(deps_, list_, unit_, code_, help_) \
    DEF_OPTF(QD_PAR_MEASUREMENT_RANGE, "Measurement range", G_SETTINGS, 0, list_, unit_, code_, deps_, help_)
#define RANGE_MIN(v_, unit_) DEF_FLOAT(QD_PAR_RANGE_MINIMUM, "Range minimum", G_SETTINGS, F_CONST, v_, unit_, nullptr)
#define RATE(list_, code_) DEF_OPTF(QD_PAR_SAMPLE_RATE, "Sample rate", G_SETTINGS, 0, list_, "sps", code_, nullptr, nullptr)
#define LOWER(flags_, list_, code_) \
    DEF_OPTF(QD_PAR_LOWER_LIMIT, N_LOWER_LIMIT, G_SETTINGS, flags_, list_, "Hz", code_, nullptr, nullptr)
#define FILTER(flags_, v_) DEF_BOOL(QD_PAR_INTERFERENCE_FILTER, "Power interference filter", G_SETTINGS, flags_, v_, nullptr)
#define SUM(flags_, v_) DEF_BOOL(QD_PAR_SUM_DISCONNECTED, "Sum disconnected", G_SETTINGS, flags_, v_, H_SUM_DISCONNECTED)
#define UPPER(v_) \
    DEF_FLOAT(QD_PAR_UPPER_LIMIT, "Relative upper limit frequency", G_SETTINGS, F_INTERNAL, v_, nullptr, H_UPPER_LIMIT)
#define CONTINUITY_SR                                                                                        \
    DEF_OPTF(QD_PAR_CONTINUITY_SR, "Input circuit continuity test SR", nullptr, F_INTERNAL, kOptContinuitySr, \
             "Hz", 2, nullptr, nullptr)
#define CONTINUITY(v_) \
    DEF_FLOAT(QD_PAR_CONTINUITY_RANGE, "Input circuit continuity test range", nullptr, F_INTERNAL, v_, "kOhm", nullptr)
#define COMMON_REF(flags_, list_, help_) \
    DEF_OPTT(QD_PAR_COMMON_REFERENCE, "Common reference", G_SETTINGS, flags_, list_, 0, nullptr, help_)
#define CAP_SITE(flags_, list_) DEF_OPTT(QD_PAR_EEG_CAP, "EEG cap connection", G_SETTINGS, flags_, list_, 0, nullptr, nullptr)

#define H_COMMON_REF_HALVEX \
    "It informs of connection of negative input of a given channel to a common reference electrode."

// Option lists shared between table files (tables_halvex.cpp).
extern const QdOption kOptInput[];
extern const QdOption kOptFunction4[];
extern const QdOption kOptCharBoth[];
extern const QdOption kOptCharSharp[];
extern const QdOption kOptRangeVoltage[];
extern const QdOption kOptRangeResistance[];
extern const QdOption kOptRangeConductance[];
extern const QdOption kOptRangeTemperature[];
extern const QdOption kOptRateVoltage[];
extern const QdOption kOptRateSlow[];
extern const QdOption kOptLowerLimit800[];
extern const QdOption kOptLowerLimitWide[];
extern const QdOption kOptLowerLimitNone[];
extern const QdOption kOptContinuitySr[];
extern const QdOption kOptCommonRefHalvex[];
extern const QdOption kOptCommonRefNone[];
extern const QdOption kOptSiteNone[];
extern const QdOption kOptSite1[];
extern const uint16_t kDepsCharacteristic[];
extern const uint16_t kDepsRangeHalvex[];
extern const uint16_t kDepsFunctionHalvex[];
extern const uint16_t kDepsFunctionHalvexCap[];
extern const uint16_t kDepsProfileHalvex[];

// Definition lists, maps and profile tables (one file per model family).
extern const QdParamDef *const kChannelNames[QD_MAX_CHANNELS];
extern const ParamMapEntry kMapGeneralBrev[];
extern const ParamMapEntry kMapGeneral[];

extern const QdParamDef kChannelBrev[];
extern const ParamMapEntry kMapChannelBrev[];

extern const QdParamDef kChannelFirstGen[];
extern const ParamMapEntry kMapChannelFirstGen[];
extern const ProfileTable kProfilesFirstGen;

extern const QdParamDef kChannelHalvex[];
extern const QdParamDef kChannelCap2[];
extern const QdParamDef kChannelCap3[];
extern const QdParamDef kChannelCap4[];
extern const ParamMapEntry kMapChannelHalvex[];
extern const ParamMapEntry kMapChannelCap[];
extern const ProfileTable kProfilesHalvex;

extern const QdParamDef kChannelHalvexPlus[];
extern const QdParamDef kChannelHalvexPlusCap[];
extern const QdParamDef kChannelButton[];
extern const ParamMapEntry kMapChannelButton[];
