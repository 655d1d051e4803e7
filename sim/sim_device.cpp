// sim_device.cpp - the simulated Halvex-family device: the functions of
// sim_device.h.
//
// The device answers commands (sim_commands.cpp), keeps a configuration,
// measures on a tick clock derived from the caller's time and puts its
// frames into a transmit queue that the transceiver drains
// (sim_stream.cpp). Faults are armed through the control functions below.
#include "sim/sim_device.h"

#include <cstring>
#include <new>

#include "sim/sim_device_internal.h"

using namespace simdev;

namespace {

void copyField(char *dst, size_t size, const char *src) {
    std::memset(dst, 0, size);
    for (size_t i = 0; src && i + 1 < size && src[i]; ++i)
        dst[i] = src[i];
}

}  // namespace

// ---------------------------------------------------------------------------
// Life cycle
// ---------------------------------------------------------------------------

SimDevice *simDeviceCreate(const SimDeviceConfig *cfg) {
    if (!cfg)
        return nullptr;
    char name[33];
    copyField(name, sizeof name, cfg->model);
    const SimModel *model = simModelFind(name);
    if (!model)
        return nullptr;
    SimDevice *d = new (std::nothrow) SimDevice;
    if (!d)
        return nullptr;
    std::memset(static_cast<void *>(d), 0, sizeof *d);
    d->cfg = *cfg;
    d->cfg.model[sizeof d->cfg.model - 1] = 0;
    d->model = model;
    d->recSize = simModelRecordSize(model);
    d->imageSize = simModelImageSize(model);
    copyField(d->maker, sizeof d->maker, cfg->maker);
    copyField(d->modelName, sizeof d->modelName, cfg->model);
    copyField(d->serial, sizeof d->serial, cfg->serial);
    d->linkUp = true;
    simBootInit(&d->boot);
    resetDevice(d);
    return d;
}

void simDeviceDestroy(SimDevice *dev) { delete dev; }

void simDevicePowerCycle(SimDevice *dev, uint32_t nowMs) {
    if (!dev)
        return;
    advance(dev, nowMs);
    resetDevice(dev);
    dev->txQueue.clear();
    for (Scheduled &s : dev->slot)
        s.used = false;
}

// ---------------------------------------------------------------------------
// Transport side
// ---------------------------------------------------------------------------

void simDeviceReceive(SimDevice *dev, const uint8_t *data, size_t size, uint32_t nowMs) {
    if (!dev)
        return;
    const uint32_t now = advance(dev, nowMs);
    if (!data)
        return;
    if (!dev->linkUp) {
        dev->stats.bytesLostRx += static_cast<uint32_t>(size);
        return;
    }
    for (size_t i = 0; i < size; ++i) {
        SimRx &rx = dev->rx;
        if (dev->cfg.frameTimeoutMs && simRxBusy(&rx) && !before(now, rx.lastByteMs + dev->cfg.frameTimeoutMs)) {
            simRxReset(&rx, simBootRxLimit(&dev->boot));
            ++dev->stats.frameTimeouts;
        }
        rx.lastByteMs = now;
        uint32_t length = 0;
        switch (simRxFeed(&rx, data[i], &length)) {
        case SIM_RX_BODY:
            handleBody(dev, rx.body, length, now);
            break;
        case SIM_RX_OVERLONG:
            ++dev->stats.overlongFrames;
            break;
        default:
            break;
        }
    }
}

size_t simDevicePending(SimDevice *dev, uint32_t nowMs) {
    if (!dev)
        return 0;
    advance(dev, nowMs);
    return dev->txQueue.count;
}

size_t simDeviceTake(SimDevice *dev, uint8_t *buffer, size_t max) {
    if (!dev || !buffer)
        return 0;
    return dev->txQueue.take(buffer, max);
}

void simDeviceSetLinkUp(SimDevice *dev, bool up, uint32_t nowMs) {
    if (!dev)
        return;
    advance(dev, nowMs);
    if (!up && dev->linkUp)
        dev->txQueue.clear();                   // what was in flight is gone
    if (up && !dev->linkUp)
        simRxReset(&dev->rx, simBootRxLimit(&dev->boot));     // so is a partly received command
    dev->linkUp = up;
}

// ---------------------------------------------------------------------------
// Observation
// ---------------------------------------------------------------------------

uint8_t simDeviceState(const SimDevice *dev) { return dev ? dev->state : 0; }
uint8_t simDeviceNotifMask(const SimDevice *dev) { return dev ? dev->notif : 0; }
bool simDeviceLinkUp(const SimDevice *dev) { return dev && dev->linkUp; }
int simDeviceChannels(const SimDevice *dev) { return dev ? dev->model->channels : 0; }
int simDeviceRecordSize(const SimDevice *dev) { return dev ? dev->recSize : 0; }

size_t simDeviceConfigImage(const SimDevice *dev, uint8_t *out, size_t max) {
    if (!dev)
        return 0;
    if (out)
        std::memcpy(out, dev->image, max < dev->imageSize ? max : dev->imageSize);
    return dev->imageSize;
}

void simDeviceSetDataTap(SimDevice *dev, SimDataTap tap, void *user) {
    if (!dev)
        return;
    dev->tap = tap;
    dev->tapUser = user;
}

void simDeviceRecordSamples(SimDevice *dev, int ch, SimSampleRecord *buffer, uint32_t capacity) {
    if (!dev || ch < 0 || ch >= SIM_MAX_CHANNELS)
        return;
    dev->rec[ch] = buffer;
    dev->recCap[ch] = buffer ? capacity : 0;
    dev->recCount[ch] = 0;
}

uint32_t simDeviceRecordCount(const SimDevice *dev, int ch) {
    if (!dev || ch < 0 || ch >= SIM_MAX_CHANNELS)
        return 0;
    return dev->recCount[ch];
}

void simDeviceGetStats(const SimDevice *dev, SimDeviceStats *stats) {
    if (!stats)
        return;
    if (dev)
        *stats = dev->stats;
    else
        std::memset(stats, 0, sizeof *stats);
}

// ---------------------------------------------------------------------------
// Control
// ---------------------------------------------------------------------------

void simDeviceSetSignalState(SimDevice *dev, int ch, uint8_t state, uint32_t nowMs) {
    if (!dev || ch < -1 || ch >= dev->model->channels)
        return;
    advance(dev, nowMs);
    if (ch < 0)
        dev->sumState = state & 3u;
    else
        dev->chState[ch] = state & 3u;
}

void simDeviceSendEvent(SimDevice *dev, uint8_t event, int data, uint32_t nowMs) {
    if (!dev)
        return;
    advance(dev, nowMs);
    uint8_t body[3] = {NOT_EVENT, event, 0};
    size_t size = 2;
    if (data >= 0 && data <= 255) {
        body[2] = static_cast<uint8_t>(data);
        size = 3;
    }
    if (sendBody(dev, body, size))
        ++dev->stats.events;
}

void simDeviceSetBattery(SimDevice *dev, uint8_t state, uint32_t nowMs) {
    if (!dev)
        return;
    dev->cfg.battery = state;
    simDeviceSendEvent(dev, SIM_EVENT_BATTERY, state, nowMs);
}

bool simDeviceSetFault(SimDevice *dev, int command, SimFaultAction action, uint32_t param, int32_t times) {
    if (!dev || command < SIM_ANY_COMMAND || command >= 0x40)
        return false;
    if (action > SIM_FAULT_RESULT)
        return false;
    if (action != SIM_FAULT_NONE && times != SIM_ALWAYS && times <= 0)
        return false;
    if (action == SIM_FAULT_RESULT && (param < 1 || param > 255))
        return false;
    Fault &f = command == SIM_ANY_COMMAND ? dev->anyFault : dev->fault[command];
    if (action == SIM_FAULT_NONE)
        f = Fault{};
    else
        f = Fault{action, param, times};
    return true;
}

void simDeviceClearFaults(SimDevice *dev) {
    if (!dev)
        return;
    for (Fault &f : dev->fault)
        f = Fault{};
    dev->anyFault = Fault{};
    dev->dropData = 0;
    dev->silence = false;
}

void simDeviceInjectBytes(SimDevice *dev, const uint8_t *data, size_t size, uint32_t nowMs) {
    if (!dev || !data)
        return;
    advance(dev, nowMs);
    sendFrame(dev, data, size);
}

bool simDeviceInjectFrame(SimDevice *dev, uint8_t code, const uint8_t *payload, size_t size, uint32_t nowMs) {
    if (!dev || size + 1 > kInjectMax)
        return false;
    uint8_t body[kInjectMax];
    body[0] = code;
    if (payload)
        std::memcpy(body + 1, payload, size);
    else
        std::memset(body + 1, 0, size);
    advance(dev, nowMs);
    sendBody(dev, body, size + 1);
    return true;
}

void simDeviceDropData(SimDevice *dev, uint32_t n) {
    if (dev)
        dev->dropData = n;
}

void simDeviceSilence(SimDevice *dev, uint32_t durationMs, uint32_t nowMs) {
    if (!dev)
        return;
    const uint32_t now = advance(dev, nowMs);
    dev->silence = durationMs != 0;
    dev->silenceFrom = now;
    dev->silenceUntil = now + durationMs;
}

void simDeviceSetIdentity(SimDevice *dev, const char *maker, const char *model, const char *serial) {
    if (!dev)
        return;
    if (maker)
        copyField(dev->maker, sizeof dev->maker, maker);
    if (model)
        copyField(dev->modelName, sizeof dev->modelName, model);
    if (serial)
        copyField(dev->serial, sizeof dev->serial, serial);
}

SimBoot *simDeviceBoot(SimDevice *dev) { return dev ? &dev->boot : nullptr; }
