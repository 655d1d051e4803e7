// sim_host.h - a small host end for driving a simulated device byte by byte
// in tests: frames commands, drains the device at a hand-driven clock and
// splits what comes back into bodies. Written for the tests only.
#pragma once

#include <cstdint>
#include <cstring>
#include <vector>

#include "sim/sim_device.h"

typedef std::vector<uint8_t> Bytes;

struct SimHost {
    SimDevice *dev = nullptr;
    uint32_t now = 1000;
    // receiver
    uint32_t length = 0, shift = 0, count = 0;
    bool readingLength = true, skipping = false;
    Bytes body;
    std::vector<Bytes> frames;      // complete bodies, oldest first
    uint32_t overlong = 0;

    explicit SimHost(const char *model, void (*tweak)(SimDeviceConfig *) = nullptr) {
        SimDeviceConfig cfg;
        simDeviceDefaults(&cfg, model);
        if (tweak)
            tweak(&cfg);
        dev = simDeviceCreate(&cfg);
    }
    ~SimHost() { simDeviceDestroy(dev); }
    SimHost(const SimHost &) = delete;
    SimHost &operator=(const SimHost &) = delete;

    static Bytes frame(const Bytes &b) {
        Bytes f;
        size_t v = b.size();
        do {
            uint8_t g = v & 0x7F;
            v >>= 7;
            f.push_back(static_cast<uint8_t>(g | (v ? 0x80 : 0)));
        } while (v);
        f.insert(f.end(), b.begin(), b.end());
        return f;
    }
    void raw(const Bytes &bytes) { simDeviceReceive(dev, bytes.data(), bytes.size(), now); }
    void send(const Bytes &b) { raw(frame(b)); }

    void feed(uint8_t x) {
        if (readingLength) {
            length |= static_cast<uint32_t>(x & 0x7F) << shift;
            if (length > 255) {
                ++overlong;
                readingLength = false;
                skipping = true;
                count = 0;
                return;
            }
            if (x & 0x80)
                shift += 7;
            else if (length) {
                readingLength = false;
                count = 0;
                body.clear();
            }
            return;
        }
        if (!skipping)
            body.push_back(x);
        if (++count == length) {
            if (!skipping)
                frames.push_back(body);
            readingLength = true;
            skipping = false;
            length = shift = count = 0;
        }
    }
    // Drains the device at the current time.
    void poll() {
        size_t n = simDevicePending(dev, now);
        while (n) {
            uint8_t buf[512];
            size_t got = simDeviceTake(dev, buf, sizeof buf);
            for (size_t i = 0; i < got; ++i)
                feed(buf[i]);
            n -= got;
            if (!got)
                break;
        }
    }
    // Advances the clock in steps, draining after each.
    void run(uint32_t ms, uint32_t step = 1) {
        for (uint32_t t = 0; t < ms; t += step) {
            now += step;
            poll();
        }
    }
    std::vector<Bytes> take() {
        poll();
        std::vector<Bytes> out;
        out.swap(frames);
        return out;
    }
    // Sends a command and returns the one reply to it (empty if none came).
    Bytes command(const Bytes &b) {
        send(b);
        Bytes reply;
        for (auto &f : take())
            if (f[0] == (b[0] | 0x80) && reply.empty())
                reply = f;
        return reply;
    }
    uint8_t result(const Bytes &b) {
        Bytes r = command(b);
        return r.size() >= 2 ? r[1] : 0xFF;
    }
};

// A configuration image: 16 general bytes and a record per channel.
struct Image {
    Bytes bytes;
    int rs;
    Image(int channels, int recordSize) : bytes(16 + channels * recordSize, 0), rs(recordSize) {}
    uint8_t *rec(int ch) { return &bytes[16 + ch * rs]; }
    Image &on(int ch, uint8_t kind, uint8_t range, uint8_t rate, uint8_t lower = 0) {
        uint8_t *r = rec(ch);
        r[0] = 0x80;
        r[1] = kind;
        r[2] = range;
        r[3] = rate;
        if (rs > 4)
            r[4] = lower;
        return *this;
    }
    Bytes writeCmd() const {
        Bytes b{0x07};
        b.insert(b.end(), bytes.begin(), bytes.end());
        return b;
    }
};

inline uint16_t u16(const Bytes &b, size_t at) { return static_cast<uint16_t>(b[at] | (b[at + 1] << 8)); }
inline int16_t s16(const Bytes &b, size_t at) { return static_cast<int16_t>(u16(b, at)); }
