// ftsim_device.cpp - the controls of sim/ftsim.h for the simulated device
// behind a transceiver: plain C over sim/sim_device.h, each applied at the
// current driver clock time under the transceivers' lock.
#include <cstddef>

#include "os/os.h"
#include "sim/ftsim_internal.h"

using namespace ftsim;

static_assert(sizeof(FtSimSample) == sizeof(SimSampleRecord), "FtSimSample mirrors SimSampleRecord");
static_assert(offsetof(FtSimSample, value) == offsetof(SimSampleRecord, value), "FtSimSample mirrors SimSampleRecord");
static_assert(offsetof(FtSimSample, fate) == offsetof(SimSampleRecord, fate), "FtSimSample mirrors SimSampleRecord");

namespace {

bool toSimSignal(const FtSimSignal *in, SimSignal *out) {
    if (!in || in->kind < SIM_SIGNAL_SINE || in->kind > SIM_SIGNAL_SQUARE) return false;
    if (in->amplitude < -32768 || in->amplitude > 32767 || in->offset < -32768 || in->offset > 32767) return false;
    out->kind = static_cast<SimSignalKind>(in->kind);
    out->amplitude = static_cast<int16_t>(in->amplitude);
    out->offset = static_cast<int16_t>(in->offset);
    out->frequency = in->frequency;
    return true;
}

// Applies a change to the simulated device of a transceiver under the lock.
template <typename F>
int withDevice(int index, F change) {
    OsLockGuard guard(&g_lock);
    Transceiver *tx = txAt(index);
    if (!tx || !tx->device) return -1;
    return change(tx->device, osClockMs());
}

}  // namespace

extern "C" {

int ftsimAttachNewDeviceEx(int index, const char *model, const char *serial, const FtSimSignal *signals, int count) {
    if (!model || count < 0 || count > 6 || (count > 0 && !signals)) return -1;
    SimDeviceConfig cfg;
    simDeviceDefaults(&cfg, model);
    if (serial) copyText(cfg.serial, sizeof cfg.serial, serial);
    for (int c = 0; c < count; ++c) {
        if (!toSimSignal(&signals[c], &cfg.signal[c])) return -1;
    }
    SimDevice *device = simDeviceCreate(&cfg);
    if (!device) return -1;
    int rc = withTx(index, [&](Transceiver *tx) {
        attachDevice(tx, device, true);
        return index;
    });
    if (rc < 0) simDeviceDestroy(device);
    return rc;
}

int ftsimSignalValue(const FtSimSignal *signal, uint32_t n, double rateHz) {
    SimSignal s;
    if (!toSimSignal(signal, &s)) return 0;
    return simSignalValue(&s, n, rateHz);
}

int ftsimDeviceSetFault(int index, int command, int action, uint32_t param, int32_t times) {
    if (action < SIM_FAULT_NONE || action > SIM_FAULT_RESULT) return -1;
    return withDevice(index, [&](SimDevice *d, uint32_t) {
        return simDeviceSetFault(d, command, static_cast<SimFaultAction>(action), param, times) ? 0 : -1;
    });
}

int ftsimDeviceClearFaults(int index) {
    return withDevice(index, [&](SimDevice *d, uint32_t) {
        simDeviceClearFaults(d);
        return 0;
    });
}

int ftsimDeviceDropData(int index, uint32_t messages) {
    return withDevice(index, [&](SimDevice *d, uint32_t) {
        simDeviceDropData(d, messages);
        return 0;
    });
}

int ftsimDeviceSilence(int index, uint32_t durationMs) {
    return withDevice(index, [&](SimDevice *d, uint32_t now) {
        simDeviceSilence(d, durationMs, now);
        return 0;
    });
}

int ftsimDeviceSetLinkUp(int index, int up) {
    return withDevice(index, [&](SimDevice *d, uint32_t now) {
        simDeviceSetLinkUp(d, up != 0, now);
        return 0;
    });
}

int ftsimDeviceInjectBytes(int index, const uint8_t *data, size_t size) {
    if (!data && size > 0) return -1;
    return withDevice(index, [&](SimDevice *d, uint32_t now) {
        if (size > 0) simDeviceInjectBytes(d, data, size, now);
        return 0;
    });
}

int ftsimDeviceSendEvent(int index, int event, int data) {
    if (event < 0 || event > 255) return -1;
    return withDevice(index, [&](SimDevice *d, uint32_t now) {
        simDeviceSendEvent(d, static_cast<uint8_t>(event), data, now);
        return 0;
    });
}

int ftsimDeviceSetSignalState(int index, int channel, int state) {
    if (state < 0 || state > 3 || channel < -1) return -1;
    return withDevice(index, [&](SimDevice *d, uint32_t now) {
        if (channel >= simDeviceChannels(d)) return -1;
        simDeviceSetSignalState(d, channel, static_cast<uint8_t>(state), now);
        return 0;
    });
}

int ftsimDeviceRecordSamples(int index, int channel, FtSimSample *buffer, uint32_t capacity) {
    if (channel < 0 || channel >= 6) return -1;
    return withDevice(index, [&](SimDevice *d, uint32_t) {
        simDeviceRecordSamples(d, channel, reinterpret_cast<SimSampleRecord *>(buffer), capacity);
        return 0;
    });
}

int32_t ftsimDeviceRecordCount(int index, int channel) {
    if (channel < 0 || channel >= 6) return -1;
    return withDevice(index, [&](SimDevice *d, uint32_t) { return (int)simDeviceRecordCount(d, channel); });
}

int ftsimDeviceButton(int index) {
    return withDevice(index, [&](SimDevice *d, uint32_t now) { return simDeviceButton(d, now) ? 0 : -1; });
}

int ftsimDeviceArtifact(int index, int code, int channel) {
    if (code < 0 || code > 255 || channel < 0 || channel > 255) return -1;
    return withDevice(index, [&](SimDevice *d, uint32_t now) {
        return simDeviceArtifact(d, (uint8_t)code, (uint8_t)channel, now) ? 0 : -1;
    });
}

int ftsimDeviceSetState(int index, int state) {
    if (state < 0 || state > 255) return -1;
    return withDevice(index, [&](SimDevice *d, uint32_t now) { return simDeviceSetState(d, (uint8_t)state, now) ? 0 : -1; });
}

int ftsimDevicePowerCycle(int index) {
    return withDevice(index, [&](SimDevice *d, uint32_t now) {
        simDevicePowerCycle(d, now);
        return 0;
    });
}

int ftsimDeviceState(int index) {
    return withDevice(index, [&](SimDevice *d, uint32_t now) {
        simDevicePending(d, now);
        return (int)simDeviceState(d);
    });
}

}  // extern "C"
