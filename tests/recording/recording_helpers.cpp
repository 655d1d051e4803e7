// recording_helpers.cpp - fake parameters, the EDF image reader and the
// independent readers of the recording tests.
#include "tests/recording/recording_helpers.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sstream>

#include "tests/support/testenv.h"

FakeDevice g_fake;

namespace {

QdParamDef g_defs[8];

const FakeChannel *fakeChannel(uint16_t channel) {
    if (channel >= g_fake.channel.size() || (int32_t)channel >= g_fake.channelCount) return nullptr;
    return &g_fake.channel[channel];
}

int QDCALL fakeGetParam(uint16_t id, uint16_t channel, QdParamValue *v) {
    std::memset(v, 0, sizeof *v);
    auto failing = g_fake.failing.find(id);
    if (failing != g_fake.failing.end()) return failing->second;
    const FakeChannel *c = (id & 0x80) ? fakeChannel(channel) : nullptr;
    if ((id & 0x80) && c == nullptr) return 1;
    switch (id) {
    case QD_PAR_CHANNEL_COUNT: v->type = QD_KIND_INT; v->value.i = g_fake.channelCount; break;
    case QD_PAR_MAINS_FREQUENCY:
        v->type = QD_TYPE_OPTION_LIST | QD_KIND_FLOAT;
        v->code = g_fake.mains == 60.0f ? 1 : 0;
        v->value.f = g_fake.mains;
        break;
    case QD_PAR_CHANNEL_NAME: v->type = QD_KIND_STRING; v->value.s = c->name.c_str(); break;
    case QD_PAR_CHANNEL_ENABLE: v->type = QD_KIND_BOOL; v->value.code = c->enabled ? 1 : 0; break;
    case QD_PAR_CHANNEL_LABEL: v->type = QD_KIND_STRING; v->value.s = c->label.c_str(); break;
    case QD_PAR_SENSOR_INFO: v->type = QD_KIND_STRING; v->value.s = c->sensor.c_str(); break;
    case QD_PAR_MEASUREMENT_RANGE: v->type = QD_TYPE_OPTION_LIST | QD_KIND_FLOAT; v->value.f = c->range; break;
    case QD_PAR_RANGE_MINIMUM: v->type = QD_KIND_FLOAT; v->value.f = c->minimum; break;
    case QD_PAR_SAMPLE_RATE:
        v->type = QD_TYPE_OPTION_LIST | QD_KIND_FLOAT;
        v->code = c->rateIndex;
        v->value.f = c->rate;
        break;
    case QD_PAR_LOWER_LIMIT: v->type = QD_TYPE_OPTION_LIST | QD_KIND_FLOAT; v->value.f = c->lower; break;
    case QD_PAR_UPPER_LIMIT: v->type = QD_KIND_FLOAT; v->value.f = c->upper; break;
    case QD_PAR_INTERFERENCE_FILTER:
        if (c->filter < 0) return 1;
        v->type = QD_KIND_BOOL;
        v->value.code = (uint32_t)c->filter;
        break;
    default: return 1;
    }
    auto type = g_fake.typeOverride.find(id);
    if (type != g_fake.typeOverride.end()) v->type = type->second;
    return 0;
}

const QdParamDef *QDCALL fakeParamInfo(uint16_t id, int16_t channel) {
    if (channel < 0 || channel >= 8) return nullptr;
    const FakeChannel *c = fakeChannel((uint16_t)channel);
    if (c == nullptr) return nullptr;
    if (id == QD_PAR_INTERFERENCE_FILTER) return c->filter < 0 ? nullptr : &g_defs[channel];
    if (id != QD_PAR_MEASUREMENT_RANGE) return nullptr;
    QdParamDef *d = &g_defs[channel];
    std::memset(d, 0, sizeof *d);
    d->id = id;
    d->unit = c->unit.c_str();
    return d;
}

const char *QDCALL fakeDevName(void) { return g_fake.model.empty() ? nullptr : g_fake.model.c_str(); }

}  // namespace

const RecordingParams kFakeParams = {fakeGetParam, fakeParamInfo, fakeDevName};

void fakeReset(int channels) {
    g_fake = FakeDevice();
    g_fake.channelCount = channels;
    for (int i = 0; i < channels; i++) {
        FakeChannel c;
        c.name = std::string(1, (char)('A' + i));
        g_fake.channel.push_back(c);
    }
}

std::string trimmed(const std::string &field) {
    size_t end = field.find_last_not_of(' ');
    return end == std::string::npos ? std::string() : field.substr(0, end + 1);
}

EdfImage parseEdf(const std::string &bytes) {
    EdfImage e;
    if (bytes.size() < 256) {
        e.error = "shorter than a main header";
        return e;
    }
    e.header = bytes.substr(0, 256);
    auto at = [&](size_t offset, size_t width) { return bytes.substr(offset, width); };
    e.version = at(0, 8);
    e.patient = at(8, 80);
    e.recording = at(88, 80);
    e.date = at(168, 8);
    e.time = at(176, 8);
    e.headerBytes = at(184, 8);
    e.reserved = at(192, 44);
    e.records = at(236, 8);
    e.duration = at(244, 8);
    e.signals = at(252, 4);
    int ns = std::atoi(e.signals.c_str());
    if (ns <= 0 || bytes.size() < (size_t)(ns + 1) * 256) {
        e.error = "no complete signal headers";
        return e;
    }
    static const int width[10] = {16, 80, 8, 8, 8, 8, 8, 80, 8, 32};
    e.signal.resize((size_t)ns);
    size_t offset = 256;
    for (int f = 0; f < 10; f++) {
        for (int k = 0; k < ns; k++) {
            std::string v = at(offset, (size_t)width[f]);
            offset += (size_t)width[f];
            EdfSignal &s = e.signal[(size_t)k];
            std::string *fields[10] = {&s.label, &s.transducer, &s.dimension, &s.physMin, &s.physMax,
                                       &s.digMin, &s.digMax, &s.prefilter, &s.samples, &s.reserved};
            *fields[f] = v;
        }
    }
    size_t recordSamples = 0;
    std::vector<size_t> spr;
    for (const EdfSignal &s : e.signal) {
        spr.push_back((size_t)std::atoi(s.samples.c_str()));
        recordSamples += spr.back();
    }
    e.data.resize((size_t)ns);
    size_t recordBytes = 2 * recordSamples;
    size_t data = bytes.size() - offset;
    e.recordCount = recordBytes > 0 ? data / recordBytes : 0;
    e.trailing = recordBytes > 0 ? data % recordBytes : data;
    for (size_t r = 0; r < e.recordCount; r++) {
        for (size_t k = 0; k < (size_t)ns; k++) {
            for (size_t i = 0; i < spr[k]; i++) {
                uint8_t lo = (uint8_t)bytes[offset], hi = (uint8_t)bytes[offset + 1];
                e.data[k].push_back((int16_t)(uint16_t)(lo | (hi << 8)));
                offset += 2;
            }
        }
    }
    e.ok = true;
    return e;
}

namespace {

// Runs a command line with its output into a file and returns that output.
[[maybe_unused]] std::string runToText(const std::string &command, int *status) {
    static int counter = 0;
    std::string out = testenvRoot() + "reader-" + std::to_string(++counter) + ".txt";
    *status = std::system((command + " >\"" + out + "\" 2>&1").c_str());
    return testenvReadFile(out);
}

}  // namespace

ReaderResult readWithEdflib(const std::string &path) {
    ReaderResult r;
#if defined(QD_EDFCHECK)
    r.ran = true;
    int status = 0;
    r.output = runToText(std::string("\"") + QD_EDFCHECK + "\" \"" + path + "\"", &status);
    r.accepted = status == 0;
    std::istringstream in(r.output);
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream words(line);
        std::string key;
        words >> key;
        static const char *const perSignal[] = {"label", "transducer", "dimension", "physmin", "physmax", "digmin",
                                                "digmax", "prefilter", "spr", "samples", "data"};
        bool signalKey = false;
        for (const char *k : perSignal) signalKey = signalKey || key == k;
        if (!signalKey) {
            std::string rest;
            std::getline(words, rest);
            r.field[key] = rest.empty() ? rest : rest.substr(1);
            continue;
        }
        size_t s;
        words >> s;
        if (r.signal.size() <= s) r.signal.resize(s + 1);
        if (key == "data") {
            double v;
            while (words >> v) r.signal[s].values.push_back(v);
        } else {
            std::string rest;
            std::getline(words, rest);
            r.signal[s].field[key] = rest.empty() ? rest : rest.substr(1);
        }
    }
#else
    (void)path;
#endif
    return r;
}

ReaderResult readWithBiosig(const std::string &path, int signals) {
    ReaderResult r;
#if defined(QD_SAVE2GDF)
    r.ran = true;
    static int counter = 0;
    std::string base = testenvRoot() + "biosig-" + std::to_string(++counter);
    int status = 0;
    r.output = runToText(std::string("\"") + QD_SAVE2GDF + "\" -f=ASCII \"" + path + "\" \"" + base + "\"", &status);
    r.accepted = status == 0;
    std::string header = testenvReadFile(base);
    std::istringstream in(header);
    std::string line;
    while (std::getline(in, line)) {
        size_t eq = line.find('=');
        if (eq == std::string::npos) continue;
        std::string key = trimmed(line.substr(0, eq));
        while (!key.empty() && (key.back() == '\t' || key.back() == ' ')) key.pop_back();
        std::string value = line.substr(eq + 1);
        size_t hash = value.find('#');
        if (hash != std::string::npos) value = value.substr(0, hash);
        while (!value.empty() && (value[0] == ' ' || value[0] == '\t')) value.erase(0, 1);
        while (!value.empty() && (value.back() == ' ' || value.back() == '\t')) value.pop_back();
        r.field.emplace(key, value);
    }
    r.signal.resize((size_t)signals);
    for (int s = 0; s < signals; s++) {
        char ext[24];
        std::snprintf(ext, sizeof ext, ".a%02d", s + 1);
        std::istringstream values(testenvReadFile(base + ext));
        double v;
        while (values >> v) r.signal[(size_t)s].values.push_back(v);
    }
#else
    (void)path;
    (void)signals;
#endif
    return r;
}

std::unique_ptr<RecordingOutput> newOutput(const RecordingParams *params) {
    std::unique_ptr<RecordingOutput> out(new RecordingOutput());
    out->params = params;
    return out;
}

Packet::Packet(const std::vector<std::vector<int16_t>> &values, const std::vector<uint16_t> &masks) {
    store.resize(values.size());
    for (size_t i = 0; i < values.size() && i < 6; i++) {
        for (int16_t v : values[i]) store[i].push_back((int32_t)v * 65536);
        entry[i].count = (uint16_t)store[i].size();
        entry[i].samples = values[i].empty() ? nullptr : store[i].data();
        entry[i].rateMask = i < masks.size() ? masks[i] : 0;
    }
}
