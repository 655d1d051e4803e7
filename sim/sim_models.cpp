// sim_models.cpp - the simulated devices' model table and configuration check.
#include "sim/sim_models.h"

#include <cstring>

const SimModel simModels[SIM_MODEL_COUNT] = {
    {"Quorvane Brev 100", SIM_FAMILY_BREV, 0, 1, 0, {SIM_CH_FIRSTGEN}},
    {"Quorvane Halvex 2", SIM_FAMILY_HALVEX1, 1, 2, 0, {SIM_CH_FIRSTGEN, SIM_CH_FIRSTGEN}},
    {"Quorvane Halvex 4", SIM_FAMILY_HALVEX1, 1, 4, 0,
     {SIM_CH_FIRSTGEN, SIM_CH_FIRSTGEN, SIM_CH_FIRSTGEN, SIM_CH_FIRSTGEN}},
    {"Quorvane Halvex-2 BT", SIM_FAMILY_HALVEX, 1, 2, 0, {SIM_CH_HALVEX, SIM_CH_HALVEX}},
    {"Quorvane Halvex-2 USB", SIM_FAMILY_HALVEX, 2, 2, 0, {SIM_CH_HALVEX, SIM_CH_HALVEX}},
    {"Quorvane Halvex-2 BLE", SIM_FAMILY_HALVEX, 3, 2, 0, {SIM_CH_HALVEX, SIM_CH_HALVEX}},
    {"Quorvane Halvex-4 BT", SIM_FAMILY_HALVEX, 1, 4, 0,
     {SIM_CH_HALVEX, SIM_CH_HALVEX, SIM_CH_HALVEX, SIM_CH_HALVEX}},
    {"Quorvane Halvex-4 USB", SIM_FAMILY_HALVEX, 2, 4, 0,
     {SIM_CH_HALVEX, SIM_CH_HALVEX, SIM_CH_HALVEX, SIM_CH_HALVEX}},
    {"Quorvane Halvex-4 BLE", SIM_FAMILY_HALVEX, 3, 4, 0,
     {SIM_CH_HALVEX, SIM_CH_HALVEX, SIM_CH_HALVEX, SIM_CH_HALVEX}},
    {"Quorvane Halvex+ 2 BT", SIM_FAMILY_HALVEX, 1, 3, 0,
     {SIM_CH_PLUS_SIGNAL, SIM_CH_HALVEX, SIM_CH_BUTTON}},
    {"Quorvane Halvex+ 2 USB", SIM_FAMILY_HALVEX, 2, 3, 0,
     {SIM_CH_PLUS_SIGNAL, SIM_CH_HALVEX, SIM_CH_BUTTON}},
    {"Quorvane Halvex+ 2 BLE", SIM_FAMILY_HALVEX, 3, 3, 0,
     {SIM_CH_PLUS_SIGNAL, SIM_CH_HALVEX, SIM_CH_BUTTON}},
    {"Quorvane Halvex+ 4 BT", SIM_FAMILY_HALVEX, 1, 5, 1,
     {SIM_CH_PLUS_SIGNAL, SIM_CH_HALVEX, SIM_CH_HALVEX, SIM_CH_HALVEX, SIM_CH_BUTTON}},
    {"Quorvane Halvex+ 4 USB", SIM_FAMILY_HALVEX, 2, 5, 1,
     {SIM_CH_PLUS_SIGNAL, SIM_CH_HALVEX, SIM_CH_HALVEX, SIM_CH_HALVEX, SIM_CH_BUTTON}},
    {"Quorvane Halvex+ 4 BLE", SIM_FAMILY_HALVEX, 3, 5, 1,
     {SIM_CH_PLUS_SIGNAL, SIM_CH_HALVEX, SIM_CH_HALVEX, SIM_CH_HALVEX, SIM_CH_BUTTON}},
};

const SimModel *simModelFind(const char *name) {
    if (!name)
        return nullptr;
    for (const SimModel &m : simModels)
        if (std::strcmp(m.name, name) == 0)
            return &m;
    return nullptr;
}

int simModelIndex(const SimModel *model) {
    return model ? static_cast<int>(model - simModels) : -1;
}

int simModelRecordSize(const SimModel *model) {
    return model->family == SIM_FAMILY_HALVEX1 ? 4 : 6;
}

size_t simModelImageSize(const SimModel *model) {
    return SIM_GENERAL_BYTES + static_cast<size_t>(model->channels) * simModelRecordSize(model);
}

double simRateHz(int rateCode) {
    // 15.625 sps at code 4, doubling with every code.
    double r = 15.625;
    for (int c = 4; c < rateCode; ++c)
        r *= 2.0;
    for (int c = rateCode; c < 4; ++c)
        r /= 2.0;
    return r;
}

namespace {

inline uint16_t bit(int code) { return static_cast<uint16_t>(1u << code); }

// What one channel function accepts; each field is a set of codes, bit c for
// code c. The lower limit set may depend on the range (lowerByRange).
struct KindRule {
    uint16_t ranges;
    uint16_t rates;
    uint16_t characteristics;   // byte 0 bits 0-2
    uint16_t references;        // byte 0 bits 3-4
    uint16_t lower;             // byte 4 (second generation)
    uint8_t lowerRangeLimited;  // range code whose lower limit set is lowerLimited
    uint16_t lowerLimited;
};

const uint16_t kVoltageRates = 0x0FC0;   // codes 6..11
const uint16_t kNone = 0xFFFF;           // marker: no exception by range

// Second generation and the Halvex+ signal channel, by channel function.
const KindRule kHalvexRules[7] = {
    // voltage: 800 uV (code 0) has no "0 Hz" lower limit
    {static_cast<uint16_t>(bit(0) | bit(3) | bit(5)), kVoltageRates, static_cast<uint16_t>(bit(0) | bit(1)),
     static_cast<uint16_t>(bit(0) | bit(1) | bit(2)), static_cast<uint16_t>(bit(0) | bit(2) | bit(3)), 0,
     static_cast<uint16_t>(bit(0) | bit(2))},
    // resistance
    {static_cast<uint16_t>(bit(0) | bit(2) | bit(5)), bit(4), bit(0), bit(0), bit(0), 0xFF, kNone},
    // conductance
    {static_cast<uint16_t>(bit(0) | bit(2) | bit(5)), bit(4), bit(0), bit(0), bit(0), 0xFF, kNone},
    // temperature
    {static_cast<uint16_t>(bit(2) | bit(5)), bit(4), bit(0), bit(0), bit(0), 0xFF, kNone},
    // nIR HEG
    {bit(5), bit(6), bit(1), bit(0), bit(0), 0xFF, kNone},
    // pIR HEG
    {bit(3), bit(6), bit(1), bit(0), bit(3), 0xFF, kNone},
    // current: 25000 nA (code 3) has only the "0 Hz" lower limit
    {static_cast<uint16_t>(bit(1) | bit(2) | bit(3)), bit(6), static_cast<uint16_t>(bit(0) | bit(1)), bit(0),
     bit(0), 3, bit(3)},
};

// First generation: two ranges per function, no lower limit byte.
const KindRule kFirstGenRules[4] = {
    {static_cast<uint16_t>(bit(1) | bit(4)), kVoltageRates, static_cast<uint16_t>(bit(0) | bit(1)),
     static_cast<uint16_t>(bit(0) | bit(1) | bit(2)), 0, 0xFF, kNone},
    {static_cast<uint16_t>(bit(1) | bit(4)), bit(4), bit(0), bit(0), 0, 0xFF, kNone},
    {static_cast<uint16_t>(bit(1) | bit(4)), bit(4), bit(0), bit(0), 0, 0xFF, kNone},
    {static_cast<uint16_t>(bit(1) | bit(4)), bit(4), bit(0), bit(0), 0, 0xFF, kNone},
};

const uint16_t kButtonRates = static_cast<uint16_t>(bit(6) | bit(7) | bit(8));

inline bool inSet(uint16_t set, unsigned code) { return code < 16 && (set & (1u << code)) != 0; }

// True when an enabled channel record of that class holds valid values.
bool channelValid(const SimModel *model, int ch, const uint8_t *rec) {
    const unsigned kind = rec[1], range = rec[2], rate = rec[3];
    const SimChannelClass cls = model->channel[ch];
    if (cls == SIM_CH_BUTTON)
        return kind == SIM_KIND_BUTTON && inSet(kButtonRates, rate);

    const unsigned kinds = cls == SIM_CH_PLUS_SIGNAL ? 7 : 4;
    if (kind >= kinds)
        return false;
    const KindRule &r = cls == SIM_CH_FIRSTGEN ? kFirstGenRules[kind] : kHalvexRules[kind];
    if (!inSet(r.ranges, range) || !inSet(r.rates, rate))
        return false;
    if (!inSet(r.characteristics, rec[0] & 7u) || !inSet(r.references, (rec[0] >> 3) & 3u))
        return false;
    if (cls == SIM_CH_FIRSTGEN)
        return true;
    const uint16_t lower = range == r.lowerRangeLimited ? r.lowerLimited : r.lower;
    if (!inSet(lower, rec[4]))
        return false;
    if (model->capSites && ch < 4 && rec[5] > 15)
        return false;
    return true;
}

}  // namespace

uint8_t simCheckConfig(const SimModel *model, const uint8_t *image, size_t size) {
    if (!model || !image || size != simModelImageSize(model))
        return 5;
    const int rs = simModelRecordSize(model);
    int analogOn = 0;
    for (int ch = 0; ch < model->channels; ++ch) {
        const uint8_t *rec = image + SIM_GENERAL_BYTES + ch * rs;
        if (!(rec[0] & 0x80))
            continue;   // an off channel's other bytes mean nothing
        if (!channelValid(model, ch, rec))
            return 2;
        if (rec[1] != SIM_KIND_BUTTON)
            ++analogOn;
    }
    return analogOn ? 0 : 2;
}
