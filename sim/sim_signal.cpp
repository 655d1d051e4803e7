// sim_signal.cpp - the simulated signals and the default device settings.
#include <cmath>
#include <cstdio>
#include <cstring>

#include "sim/sim_device.h"
#include "sim/sim_models.h"

namespace {

int16_t clamp16(double v) {
    if (v >= 32767.0)
        return 32767;
    if (v <= -32768.0)
        return -32768;
    return static_cast<int16_t>(std::lround(v));
}

void copyText(char *dst, size_t size, const char *src) {
    std::memset(dst, 0, size);
    for (size_t i = 0; src && i + 1 < size && src[i]; ++i)
        dst[i] = src[i];
}

}  // namespace

int16_t simSignalValue(const SimSignal *signal, uint32_t n, double rate) {
    if (!signal)
        return 0;
    switch (signal->kind) {
    case SIM_SIGNAL_SINE: {
        if (!(rate > 0.0))
            return signal->offset;
        const double pi = 3.14159265358979323846;
        // Reduce the phase to one period first, so that long runs keep their
        // precision.
        double cycles = static_cast<double>(n) * signal->frequency / rate;
        cycles -= std::floor(cycles);
        return clamp16(signal->offset + signal->amplitude * std::sin(2.0 * pi * cycles));
    }
    case SIM_SIGNAL_RAMP: {
        // Two's complement wrap, done on unsigned numbers.
        const uint32_t v = static_cast<uint32_t>(static_cast<int32_t>(signal->offset)) +
                           n * static_cast<uint32_t>(static_cast<int32_t>(signal->amplitude));
        const uint16_t low = static_cast<uint16_t>(v & 0xFFFFu);
        return low >= 0x8000u ? static_cast<int16_t>(static_cast<int32_t>(low) - 0x10000) : static_cast<int16_t>(low);
    }
    case SIM_SIGNAL_SQUARE: {
        if (!(rate > 0.0) || !(signal->frequency > 0.0f))
            return clamp16(static_cast<double>(signal->offset) + signal->amplitude);
        double cycles = static_cast<double>(n) * signal->frequency / rate;
        cycles -= std::floor(cycles);
        return cycles < 0.5 ? clamp16(static_cast<double>(signal->offset) + signal->amplitude) : signal->offset;
    }
    case SIM_SIGNAL_CONST:
    default:
        return signal->offset;
    }
}

void simDeviceDefaults(SimDeviceConfig *cfg, const char *model) {
    if (!cfg)
        return;
    std::memset(cfg, 0, sizeof *cfg);
    copyText(cfg->maker, sizeof cfg->maker, "Quorvane Systems");
    copyText(cfg->model, sizeof cfg->model, model);
    const SimModel *m = simModelFind(model);
    std::snprintf(cfg->serial, sizeof cfg->serial, "QV%02d0001", m ? simModelIndex(m) : 99);
    cfg->battery = 3;
    for (int i = 0; i < 6; ++i) {
        cfg->signal[i].kind = SIM_SIGNAL_SINE;
        cfg->signal[i].amplitude = static_cast<int16_t>(1000 * (i + 1));
        cfg->signal[i].offset = 0;
        cfg->signal[i].frequency = static_cast<float>(i + 1);
        if (m && i < m->channels && m->channel[i] == SIM_CH_BUTTON) {
            cfg->signal[i].kind = SIM_SIGNAL_SQUARE;
            cfg->signal[i].amplitude = 1;
            cfg->signal[i].frequency = 0.5f;
        }
    }
    cfg->firmware[0] = 1;
    cfg->firmware[1] = 4;
    cfg->firmware[2] = 2;
    copyText(cfg->firmwareName, sizeof cfg->firmwareName, "Halvex application");
    cfg->batteryPeriodMs = 0;
    cfg->maxMessageMs = 0;
    cfg->frameTimeoutMs = 100;
}
