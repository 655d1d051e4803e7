// harness.cpp - callback recorders and the log window of the protocol tests.
#include "tests/protocol/harness.h"

#include "API/driver/driver.h"
#include "API/driver/frame/lifecycle.h"
#include "API/driver/frame/log.h"
#include "tests/support/testenv.h"

Recorder g_recorder;

void Recorder::clear() {
    std::lock_guard<std::mutex> g(lock);
    indicators.clear();
    messages.clear();
    packets.clear();
    channelCount = 6;
}

std::vector<IndicatorCall> Recorder::indicatorsCopy() {
    std::lock_guard<std::mutex> g(lock);
    return indicators;
}

std::vector<MessageCall> Recorder::messagesCopy() {
    std::lock_guard<std::mutex> g(lock);
    return messages;
}

std::vector<SamplePacket> Recorder::packetsCopy() {
    std::lock_guard<std::mutex> g(lock);
    return packets;
}

bool Recorder::hasIndicator(uint16_t context, uint16_t type, uint16_t value) {
    std::lock_guard<std::mutex> g(lock);
    for (const IndicatorCall &c : indicators) {
        if (c.context == context && c.type == type && c.value == value) return true;
    }
    return false;
}

static int QDCALL recordSamples(uint16_t context, uint16_t phase, uint16_t sumState, ChannelSamples *channels) {
    SamplePacket p;
    int count = g_recorder.channelCount;
    p.context = context;
    p.phase = phase;
    p.sumState = sumState;
    for (int i = 0; i < count; i++) {
        const ChannelSamples &c = channels[i];
        p.delivered.push_back(c.samples != nullptr);
        p.channels.emplace_back();
        if (c.samples != nullptr) p.channels.back().assign(c.samples, c.samples + c.count);
        p.signalStates.push_back(c.signalState);
        p.rateMasks.push_back(c.rateMask);
    }
    std::lock_guard<std::mutex> g(g_recorder.lock);
    g_recorder.packets.push_back(p);
    return 0;
}

static void QDCALL recordIndicator(uint16_t context, uint16_t type, uint16_t value) {
    std::lock_guard<std::mutex> g(g_recorder.lock);
    g_recorder.indicators.push_back({context, type, value});
}

static void QDCALL recordMessage(uint16_t context, const char *text) {
    std::lock_guard<std::mutex> g(g_recorder.lock);
    g_recorder.messages.push_back({context, text});
}

void installCallbacks(bool samples, bool indicators, bool messages) {
    QdSetCallbacks(samples ? recordSamples : nullptr, indicators ? recordIndicator : nullptr,
                   messages ? recordMessage : nullptr);
}

static std::string readLog() { return testenvReadFile(logPath()); }

LogWatch::LogWatch() : start_(readLog().size()) {}

std::string LogWatch::text() const {
    std::string all = readLog();
    return all.size() > start_ ? all.substr(start_) : std::string();
}

bool LogWatch::contains(const std::string &needle) const { return text().find(needle) != std::string::npos; }

size_t LogWatch::find(const std::string &needle, size_t from) const { return text().find(needle, from); }

void ProtocolTest::SetUp() {
    driverAttach();
    g_recorder.clear();
    installCallbacks();
}

void ProtocolTest::TearDown() { QdSetCallbacks(nullptr, nullptr, nullptr); }
