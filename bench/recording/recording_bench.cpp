// recording_bench.cpp - throughput of the recording writer.
//
// Feeds device-like packets (16 ticks each, channels due by their rate
// masks) through recordPacket into a temporary file, EDF and TSV, for a
// device of four channels at equal and at mixed rates, and prints samples
// per second and how many times faster than the device that is.
//
//   bench_recording [--samples N] [--dir FOLDER]
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "API/driver/ui/recording.h"
#include "os/os.h"

namespace {

struct Channel {
    float rate;
    uint32_t index;     // "Sample rate" option index
};

const Channel *g_channels = nullptr;
int g_count = 0;
const char *g_units = "uV";

int QDCALL getParam(uint16_t id, uint16_t channel, QdParamValue *v) {
    std::memset(v, 0, sizeof *v);
    if ((id & 0x80) && channel >= g_count) return 1;
    switch (id) {
    case QD_PAR_CHANNEL_COUNT: v->type = QD_KIND_INT; v->value.i = g_count; return 0;
    case QD_PAR_MAINS_FREQUENCY: v->type = QD_TYPE_OPTION_LIST | QD_KIND_FLOAT; v->value.f = 50.0f; return 0;
    case QD_PAR_CHANNEL_ENABLE:
    case QD_PAR_INTERFERENCE_FILTER: v->type = QD_KIND_BOOL; v->value.code = 1; return 0;
    case QD_PAR_CHANNEL_NAME: v->type = QD_KIND_STRING; v->value.s = "A"; return 0;
    case QD_PAR_CHANNEL_LABEL: v->type = QD_KIND_STRING; v->value.s = "EEG"; return 0;
    case QD_PAR_SENSOR_INFO: v->type = QD_KIND_STRING; v->value.s = "AgAgCl electrode"; return 0;
    case QD_PAR_MEASUREMENT_RANGE: v->type = QD_TYPE_OPTION_LIST | QD_KIND_FLOAT; v->value.f = 6000.0f; return 0;
    case QD_PAR_RANGE_MINIMUM: v->type = QD_KIND_FLOAT; v->value.f = -6000.0f; return 0;
    case QD_PAR_SAMPLE_RATE:
        v->type = QD_TYPE_OPTION_LIST | QD_KIND_FLOAT;
        v->code = g_channels[channel].index;
        v->value.f = g_channels[channel].rate;
        return 0;
    case QD_PAR_LOWER_LIMIT: v->type = QD_TYPE_OPTION_LIST | QD_KIND_FLOAT; v->value.f = 0.5f; return 0;
    case QD_PAR_UPPER_LIMIT: v->type = QD_KIND_FLOAT; v->value.f = 0.4f; return 0;
    default: return 1;
    }
}

const QdParamDef *QDCALL paramInfo(uint16_t id, int16_t channel) {
    static QdParamDef def;
    if (channel < 0 || channel >= g_count) return nullptr;
    if (id != QD_PAR_MEASUREMENT_RANGE && id != QD_PAR_INTERFERENCE_FILTER) return nullptr;
    def.id = id;
    def.unit = g_units;
    return &def;
}

const char *QDCALL devName(void) { return "Quorvane Halvex-4 USB"; }

const RecordingParams kParams = {getParam, paramInfo, devName};

struct Result {
    double seconds;
    uint64_t samples;
    int64_t bytes;
    double deviceSeconds;
};

// Runs one recording of about `samples` samples.
bool run(const std::string &path, uint16_t format, const Channel *channels, int count, uint64_t samples,
         Result *r) {
    g_channels = channels;
    g_count = count;
    // Rate masks as the device stream has them.
    uint32_t top = 0;
    for (int c = 0; c < count; c++) top = channels[c].index > top ? channels[c].index : top;
    uint16_t mask[6] = {};
    double perSecond = 0;
    for (int c = 0; c < count; c++) {
        mask[c] = (uint16_t)((1u << (top - channels[c].index)) - 1);
        perSecond += channels[c].rate;
    }
    static RecordingOutput out;
    out.params = &kParams;
    if (!recordingOpen(&out, path.c_str(), format, "bench", "throughput")) return false;
    static int32_t store[6][16];
    ChannelSamples entry[6] = {};
    uint16_t phase = 0;
    uint32_t value = 0;
    uint64_t done = 0, ticks = 0;
    uint64_t start = osClockUs();
    while (done < samples) {
        for (int c = 0; c < count; c++) {
            entry[c].samples = store[c];
            entry[c].count = 0;
            entry[c].rateMask = mask[c];
        }
        for (int t = 0; t < 16; t++) {
            uint32_t tick = (uint32_t)phase + (uint32_t)t;
            for (int c = 0; c < count; c++) {
                if (((tick + 1) & mask[c]) != 0) continue;
                value = value * 1103515245u + 12345u;
                store[c][entry[c].count++] = (int32_t)(value & 0xFFFF0000u);
                done++;
            }
        }
        recordPacket(&out, phase, entry, 6);
        phase = (uint16_t)(phase + 16);
        ticks += 16;
        if (out.writeFailure != 0) {
            std::fprintf(stderr, "write failure\n");
            completeEdfHeader(&out, nullptr);
            return false;
        }
    }
    completeEdfHeader(&out, nullptr);
    r->seconds = (double)(osClockUs() - start) / 1e6;
    r->samples = done;
    r->deviceSeconds = (double)done / perSecond;
    OsFile f = osFileOpen(path.c_str(), OS_FILE_READ | OS_FILE_SHARE_READ);
    r->bytes = osFileSize(f);
    osFileClose(f);
    osFileDelete(path.c_str());
    return true;
}

}  // namespace

int main(int argc, char **argv) {
    uint64_t samples = 20000000;
    std::string dir;
    for (int i = 1; i < argc; i++) {
        if (std::strcmp(argv[i], "--samples") == 0 && i + 1 < argc) {
            samples = std::strtoull(argv[++i], nullptr, 10);
        } else if (std::strcmp(argv[i], "--dir") == 0 && i + 1 < argc) {
            dir = argv[++i];
            if (!dir.empty() && !osIsPathSeparator(dir.back())) dir += osPathSeparator();
        } else {
            std::fprintf(stderr, "usage: bench_recording [--samples N] [--dir FOLDER]\n");
            return 2;
        }
    }
    if (dir.empty()) {
        char tmp[512];
        if (osTempDir(tmp, sizeof tmp) < 0) return 1;
        dir = tmp;
    }
    static const Channel equal[4] = {{2000.0f, 11}, {2000.0f, 11}, {2000.0f, 11}, {2000.0f, 11}};
    static const Channel mixed[4] = {{2000.0f, 11}, {500.0f, 9}, {62.5f, 6}, {15.625f, 4}};
    struct Case {
        const char *name;
        uint16_t format;
        const Channel *channels;
        uint64_t samples;
    } cases[] = {
        {"EDF, 4 channels at 2000 sps", RECORDING_EDF, equal, samples},
        {"EDF, 2000 + 500 + 62.5 + 15.625 sps", RECORDING_EDF, mixed, samples},
        {"TSV, 4 channels at 2000 sps", RECORDING_TSV, equal, samples / 10},
        {"TSV, 2000 + 500 + 62.5 + 15.625 sps", RECORDING_TSV, mixed, samples / 10},
    };
    char name[64];
    std::snprintf(name, sizeof name, "qd-bench-%u", (unsigned)osProcessId());
    std::printf("Recording writer throughput (file in %s)\n", dir.c_str());
    int rc = 0;
    for (const Case &c : cases) {
        Result r;
        std::string path = dir + name + outputFormat(c.format)->extension;
        if (!run(path, c.format, c.channels, 4, c.samples, &r)) {
            std::printf("%-40s failed\n", c.name);
            rc = 1;
            continue;
        }
        std::printf("%-38s %12.0f samples/s %7.1f MB/s %7.0fx real time (%llu samples, %.3f s)\n", c.name,
                    (double)r.samples / r.seconds, (double)r.bytes / r.seconds / 1e6, r.deviceSeconds / r.seconds,
                    (unsigned long long)r.samples, r.seconds);
    }
    return rc;
}
