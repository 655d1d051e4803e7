// sim_models.h - what the simulated devices are: the model table as the
// device firmware sees it, and the checks a device makes on a configuration
// image. Kept apart from the driver's own parameter tables on purpose: the
// simulator is an independent second opinion on what the driver sends.
#pragma once

#include <cstddef>
#include <cstdint>

enum SimFamily : uint8_t {
    SIM_FAMILY_BREV = 0,
    SIM_FAMILY_HALVEX1 = 1,     // first generation: 4-byte channel records
    SIM_FAMILY_HALVEX = 2,      // 6-byte channel records
};

// What one channel of a model can do.
enum SimChannelClass : uint8_t {
    SIM_CH_FIRSTGEN = 0,        // voltage, resistance, conductance, temperature
    SIM_CH_HALVEX = 1,          // the same with the second generation's ranges
    SIM_CH_PLUS_SIGNAL = 2,     // also nIR HEG, pIR HEG, current
    SIM_CH_BUTTON = 3,          // button only
};

const int SIM_MAX_CHANNELS = 6;
const int SIM_GENERAL_BYTES = 16;

// Channel functions (byte 1 of a channel record).
enum : uint8_t {
    SIM_KIND_VOLTAGE = 0,
    SIM_KIND_RESISTANCE = 1,
    SIM_KIND_CONDUCTANCE = 2,
    SIM_KIND_TEMPERATURE = 3,
    SIM_KIND_NIR_HEG = 4,
    SIM_KIND_PIR_HEG = 5,
    SIM_KIND_CURRENT = 6,
    SIM_KIND_BUTTON = 7,
};

struct SimModel {
    const char *name;
    SimFamily family;
    uint8_t linkType;           // 0 IrDA, 1 Bluetooth, 2 USB, 3 Bluetooth LE
    uint8_t channels;
    uint8_t capSites;           // 1: channels 0-3 carry an EEG cap site byte
    SimChannelClass channel[SIM_MAX_CHANNELS];
};

const int SIM_MODEL_COUNT = 15;
extern const SimModel simModels[SIM_MODEL_COUNT];

// The model of that exact name, or null.
const SimModel *simModelFind(const char *name);
int simModelIndex(const SimModel *model);
// Channel record size of the model (6, or 4 for the first generation).
int simModelRecordSize(const SimModel *model);
// Length of the model's configuration image: 16 general bytes and a record
// per channel.
size_t simModelImageSize(const SimModel *model);

// Checks a configuration image as the device does before taking it:
// 0 accepted, 5 wrong length, 2 an invalid value or no analog channel on.
uint8_t simCheckConfig(const SimModel *model, const uint8_t *image, size_t size);

// Sample rate in Hz of a rate code (4 = 15.625 sps ... 11 = 2000 sps).
double simRateHz(int rateCode);
