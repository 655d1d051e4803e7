// tables_brev.cpp - the single channel of the Brev model (model 0) and its
// map. The Brev model has no profiles.
#include "API/driver/params/tables.h"

static const QdOption kOptRateBrev[] = {OPT_F(0, 128.0f), OPT_F(1, 256.0f), OPT_F(2, 512.0f), OPT_END};
static const uint16_t kDepsRateBrev[] = {QD_PAR_UPPER_LIMIT, QD_LIST_END};

const QdParamDef kChannelBrev[] = {
    ROW_ENABLE(F_INTERNAL, 1),
    ROW_DIRECTION,
    ROW_ADC(12),
    ROW_LABEL("EEG", H_LABEL),
    ROW_SENSOR(0, "Ag electrodes", H_SENSOR_EXAMPLE),
    DEF_FLOAT(QD_PAR_MEASUREMENT_RANGE, "Measurement range", G_SETTINGS, F_CONST, 150.0f, "uV", nullptr),
    RANGE_MIN(-150.0f, "uV"),
    DEF_OPTF(QD_PAR_SAMPLE_RATE, "Sample rate", G_SETTINGS, 0, kOptRateBrev, "sps", 0, kDepsRateBrev, nullptr),
    DEF_FLOAT(QD_PAR_LOWER_LIMIT, N_ABS_LOWER_LIMIT, G_SETTINGS, F_INTERNAL, 1.0f, "Hz", nullptr),
    // by sample rate
    UPPER(0.3125f), UPPER(0.3125f), UPPER(0.195312f),
    DEF_END,
};

// The image holds one 4-byte channel entry at byte 0; only the sample rate
// (byte 1) is a parameter. Label and sensor info share the storage record.
const ParamMapEntry kMapChannelBrev[] = {
    MAP_SLOT(QD_PAR_CHANNEL_LABEL, 0),
    MAP_SLOT(QD_PAR_SENSOR_INFO, 16),
    MAP_BITS(QD_PAR_SAMPLE_RATE, 0xFF, 1, 0),
    MAP_END,
};
