// harness.h - shared pieces of the protocol tests: the attached driver, a
// window onto the driver log, and recorders for the three host callbacks.
#pragma once

#include <gtest/gtest.h>

#include <mutex>
#include <string>
#include <vector>

#include "QuorvaneDrv.h"

// What the host callbacks received.
struct IndicatorCall {
    uint16_t context, type, value;
    bool operator==(const IndicatorCall &o) const {
        return context == o.context && type == o.type && value == o.value;
    }
};
struct MessageCall {
    uint16_t context;
    std::string text;
};
struct SamplePacket {
    uint16_t context, phase, sumState;
    std::vector<std::vector<int32_t>> channels;   // per channel; empty when not delivered
    std::vector<uint16_t> signalStates;
    std::vector<uint16_t> rateMasks;
    std::vector<bool> delivered;
};

struct Recorder {
    std::mutex lock;
    std::vector<IndicatorCall> indicators;
    std::vector<MessageCall> messages;
    std::vector<SamplePacket> packets;
    int channelCount = 6;   // entries of a packet the sample callback reads

    void clear();
    std::vector<IndicatorCall> indicatorsCopy();
    std::vector<MessageCall> messagesCopy();
    std::vector<SamplePacket> packetsCopy();
    bool hasIndicator(uint16_t context, uint16_t type, uint16_t value);
};
extern Recorder g_recorder;

// Installs the recording callbacks (each may be left out).
void installCallbacks(bool samples = true, bool indicators = true, bool messages = true);

// The driver log from the moment of construction on.
class LogWatch {
public:
    LogWatch();
    std::string text() const;
    bool contains(const std::string &needle) const;
    // Order of two texts in the log; npos when missing.
    size_t find(const std::string &needle, size_t from = 0) const;

private:
    size_t start_;
};

// Base of every protocol test: attached driver, fresh recorders, callbacks
// installed.
class ProtocolTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;
};
