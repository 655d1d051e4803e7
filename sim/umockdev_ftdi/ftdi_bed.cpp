// ftdi_bed - runs a program against an emulated FTDI transceiver with a
// simulated Halvex device behind it, in a umockdev test bed: the program's
// libusb and libftdi1 find the transceiver in sysfs and udev and talk usbfs
// to its /dev/bus/usb node, which this program answers (usbfs_chip.h).
//
//   umockdev-wrapper ftdi_bed [options] -- PROGRAM [ARGS...]
//
// The bed itself runs under umockdev's preload (so that it can send udev
// events); the program inherits the preload and the test bed's folder.
// Options:
//   --model NAME          the simulated device (default "Quorvane Halvex-4 USB")
//   --serial TEXT         the transceiver's serial number (default QV012345)
//   --product TEXT        its USB product string (default "Quorvane Halvex*")
//   --chips N             N transceivers (1 to 16), each with a device of the
//                         model behind it and on a USB bus of its own; the
//                         k-th further one's serial number is the first six
//                         characters of --serial and k as two digits
//                         (QV012301, ...). Faults, the CSV check and the wire
//                         times concern the first one.
//   --fault FAULT         (repeatable) at second S after the program started:
//                         unplug@S[+MS]  the transceiver vanishes, back after MS
//                                        (default 2000)
//                         unplug@start[+MS] it vanishes as the program's
//                                        reader submits its second bulk-in
//                                        transfer (the first one accepted)
//                         short@S        IN packets of one byte from then on
//                         status-only@S  IN packets carry no data from then on
//                         overrun@S      one packet loses bytes and says so
//                         lost-message@S one packet reports an overrun that
//                                        took the device's next data message
//                         framing@S      one packet reports a framing error
//                         stuck@S        the IN endpoint stops: bulk-in
//                                        transfers never complete unless
//                                        cancelled
//                         stall=REQ      the chip stalls vendor request REQ
//                                        (3 baud rate, 9 latency timer, ...)
//   --unreadable          the node exists but the program may not open it
//                         (as root: it runs without the capability to
//                         override file permissions)
//   --firmware FILE       writes a 65,024-byte firmware image for the
//                         device's boot loader before the program starts
//   --check-csv FILE      after the program: every row of qdacq's CSV file
//   --range R[,R...]      (phase,channel,value; channel c in a range of the
//                         c-th R, or the last one given) equals a sample the
//                         device sent, and none sent before the last row is
//                         missing
//   --wire-times FILE     keeps, by phase, when each data message went on the
//                         line (CLOCK_MONOTONIC ns) in a shared file of
//                         65536 64-bit entries, for a latency host
//   --stats               prints the chip's and the usbfs figures at the end
// Exit status: the program's; 65 when the CSV check failed; 2 bad options
// or no test bed.
#include <signal.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <fcntl.h>
#include <linux/capability.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "sim/sim_device.h"
#include "sim/umockdev_ftdi/usbfs_chip.h"
#include "tests/upgrade/image.h"

// The firmware file's check value (CRC-16/MCRF4XX), for the image the bed
// writes; the loader checks it with its own.
uint16_t crcUpdate(uint16_t crc, const uint8_t *data, size_t size) {
    for (size_t i = 0; i < size; ++i) {
        crc ^= data[i];
        for (int bit = 0; bit < 8; ++bit) crc = (crc & 1) ? (uint16_t)((crc >> 1) ^ 0x8408) : (uint16_t)(crc >> 1);
    }
    return crc;
}

namespace {

const uint32_t RECORD_CAPACITY = 200000;    // per channel: 100 s at 2000 sps
const int RECORD_CHANNELS = 6;
const size_t WIRE_ENTRIES = 65536;
const uint32_t FIRMWARE_LENGTH = 65024;
const int CHECK_FAILED = 65;
const int MAX_CHIPS = 16;
// unplug@start: the bulk-in transfer of the reader's start at which the
// transceiver vanishes (the first is accepted, so the reader is midway).
const uint32_t READER_VANISH_TRANSFER = 2;
// The bed plays hardware, which a busy host does not slow down: its threads
// run this much above the program's priority where the system allows it.
const int BED_PRIORITY_STEPS = 10;
int g_programNice = 0;   // the priority the program under test runs at

struct Fault {
    std::string kind;
    double at;        // seconds after the program started
    double lastsMs;   // unplug: how long
    int request;      // stall: the vendor request
    bool atStart;     // unplug: at the reader's start, not at a time
    bool pulled;      // unplug: out now
    uint64_t pulledUs;  // unplug: when (usbfsNowUs)
    bool done;
};

struct Options {
    std::string model = "Quorvane Halvex-4 USB";
    std::string serial = "QV012345";
    std::string product = "Quorvane Halvex*";
    std::vector<Fault> faults;
    int chips = 1;
    bool unreadable = false;
    bool stats = false;
    std::string firmware, csv, wireTimes;
    std::vector<double> range;   // per channel; the last one for the rest
    std::vector<char *> command;
};

int usage(const char *why) {
    std::fprintf(stderr, "ftdi bed: %s\nusage: umockdev-wrapper ftdi_bed [--model NAME] [--serial TEXT] "
                         "[--product TEXT] [--chips N] [--fault FAULT]... [--unreadable] [--firmware FILE] "
                         "[--check-csv FILE --range R] [--wire-times FILE] [--stats] -- PROGRAM [ARGS...]\n",
                 why);
    return 2;
}

bool parseFault(const std::string &text, Fault *f) {
    *f = Fault{"", 0, 2000, -1, false, false, 0, false};
    size_t at = text.find('@'), eq = text.find('=');
    if (eq != std::string::npos && text.compare(0, eq, "stall") == 0) {
        f->kind = "stall";
        f->request = std::atoi(text.c_str() + eq + 1);
        return f->request >= 0 && f->request < 256;
    }
    if (at == std::string::npos) return false;
    f->kind = text.substr(0, at);
    char *end = nullptr;
    f->atStart = text.compare(at + 1, 5, "start") == 0;
    if (f->atStart) {
        end = const_cast<char *>(text.c_str()) + at + 6;
    } else {
        f->at = std::strtod(text.c_str() + at + 1, &end);
    }
    if (*end == '+') f->lastsMs = std::strtod(end + 1, &end);
    static const char *const kKinds[] = {"unplug", "short", "status-only", "overrun", "framing", "lost-message", "stuck"};
    for (const char *k : kKinds) {
        if (f->kind == k) return *end == '\0' && (!f->atStart || f->kind == "unplug");
    }
    return false;
}

int parse(int argc, char **argv, Options *o) {
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        bool more = i + 1 < argc;
        if (a == "--") {
            o->command.assign(argv + i + 1, argv + argc);
            o->command.push_back(nullptr);
            return o->command.size() > 1 ? 0 : usage("no program given");
        } else if (a == "--fault" && more) {
            Fault f;
            if (!parseFault(argv[++i], &f)) return usage("bad fault");
            o->faults.push_back(f);
        } else if ((a == "--model" || a == "--serial" || a == "--product" || a == "--firmware" ||
                    a == "--check-csv" || a == "--wire-times" || a == "--range") && more) {
            std::string v = argv[++i];
            if (a == "--model") o->model = v;
            if (a == "--serial") o->serial = v;
            if (a == "--product") o->product = v;
            if (a == "--firmware") o->firmware = v;
            if (a == "--check-csv") o->csv = v;
            if (a == "--wire-times") o->wireTimes = v;
            for (const char *p = v.c_str(); a == "--range" && *p;) {
                char *end = nullptr;
                o->range.push_back(std::strtod(p, &end));
                if (end == p) return usage("bad range");
                p = *end == ',' ? end + 1 : end;
            }
        } else if (a == "--chips" && more) {
            char *end = nullptr;
            long n = std::strtol(argv[++i], &end, 10);
            if (*end != '\0' || n < 1 || n > MAX_CHIPS) return usage("--chips takes 1 to 16");
            o->chips = (int)n;
        } else if (a == "--unreadable") {
            o->unreadable = true;
        } else if (a == "--stats") {
            o->stats = true;
        } else {
            return usage(("unknown option " + a).c_str());
        }
    }
    return usage("no program given");
}

// ---------------------------------------------------------------------------
// What the device sends
// ---------------------------------------------------------------------------

uint64_t *g_wire = nullptr;
uint64_t g_deviceOriginUs = 0;  // CLOCK_MONOTONIC of the device's millisecond 0

void noteDeviceOrigin(FtdiChip *chip, void *) { g_deviceOriginUs = chip->startUs; }

// A message is stamped at its last tick (the device's millisecond that
// closed it), not when the chip's thread got round to it.
void wireTap(void *, const SimDataInfo *info) {
    if (g_wire && info->fate == SIM_FATE_SENT) g_wire[info->phase] = (g_deviceOriginUs + info->timeMs * 1000ull) * 1000u;
}

bool mapWireTimes(const std::string &path) {
    int fd = open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC, 0644);
    if (fd < 0 || ftruncate(fd, WIRE_ENTRIES * sizeof(uint64_t)) != 0) return false;
    void *p = mmap(nullptr, WIRE_ENTRIES * sizeof(uint64_t), PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    close(fd);
    if (p == MAP_FAILED) return false;
    g_wire = static_cast<uint64_t *>(p);
    return true;
}

// Every CSV row is a sample the device sent, and every sample it sent up
// to the last row is there.
int checkCsv(const Options &o, const std::vector<std::vector<SimSampleRecord>> &record) {
    FILE *f = std::fopen(o.csv.c_str(), "r");
    if (!f) return std::fprintf(stderr, "ftdi bed: no CSV file %s\n", o.csv.c_str()), 1;
    std::vector<std::map<uint32_t, const SimSampleRecord *>> sent(RECORD_CHANNELS);
    for (int c = 0; c < RECORD_CHANNELS; ++c) {
        for (const SimSampleRecord &s : record[c]) {
            if (s.fate == SIM_FATE_SENT) sent[c][s.tick & 0xFFFFu] = &s;
        }
    }
    char line[256];
    size_t rows = 0, wrong = 0;
    std::vector<size_t> perChannel(RECORD_CHANNELS, 0);
    uint32_t last = 0;
    while (std::fgets(line, sizeof line, f)) {
        unsigned tick;
        int c;
        double value;
        if (std::sscanf(line, "%u,%d,%lf", &tick, &c, &value) != 3) continue;
        ++rows;
        if (c < 0 || c >= RECORD_CHANNELS) c = 0, tick = ~0u;
        auto it = sent[c].find(tick);
        double range = o.range.empty() ? 0 : o.range[std::min<size_t>((size_t)c, o.range.size() - 1)];
        double want = it != sent[c].end() ? it->second->value * range / 32768.0 : NAN;
        if (!(std::fabs(value - want) <= 1e-6 * range)) {
            if (wrong++ < 3) std::fprintf(stderr, "ftdi bed: row %zu: %s  expected %.7g\n", rows, line, want);
            continue;
        }
        perChannel[c] += 1;
        if (tick > last) last = tick;
    }
    std::fclose(f);
    size_t missing = 0, after = 0;
    for (int c = 0; c < RECORD_CHANNELS; ++c) {
        size_t due = 0;
        for (const auto &s : sent[c]) (s.first <= last ? due : after) += 1;
        missing += due - perChannel[c];
    }
    std::printf("ftdi bed: %zu CSV rows, %zu differ from what the device sent, %zu sent samples up to tick %u "
                "missing, %zu sent after it\n",
                rows, wrong, missing, (unsigned)last, after);
    return rows > 0 && wrong == 0 && missing == 0 ? 0 : 1;
}

// ---------------------------------------------------------------------------
// The program and the faults
// ---------------------------------------------------------------------------

// Without CAP_DAC_OVERRIDE and CAP_DAC_READ_SEARCH root is held to the file
// modes like any user.
void dropFileOverride() {
    if (geteuid() != 0) return;
    prctl(PR_CAPBSET_DROP, CAP_DAC_OVERRIDE, 0, 0, 0);
    prctl(PR_CAPBSET_DROP, CAP_DAC_READ_SEARCH, 0, 0, 0);
    __user_cap_header_struct header = {_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct data[2];
    std::memset(data, 0, sizeof data);
    if (syscall(SYS_capget, &header, data) != 0) return;
    for (int cap : {CAP_DAC_OVERRIDE, CAP_DAC_READ_SEARCH}) {
        data[cap / 32].effective &= ~(1u << (cap % 32));
        data[cap / 32].permitted &= ~(1u << (cap % 32));
        data[cap / 32].inheritable &= ~(1u << (cap % 32));
    }
    syscall(SYS_capset, &header, data);
}

struct ChipFault {
    FtdiInFault in;
    int stall;
};

void applyChipFault(FtdiChip *chip, void *arg) {
    const ChipFault *f = static_cast<const ChipFault *>(arg);
    if (f->stall >= 0) chip->stallRequest = f->stall;
    if (f->in == FTDI_IN_LOST_MESSAGE) {
        ftdiChipLoseMessage(chip);
    } else if (f->in != FTDI_IN_NORMAL) {
        chip->inFault = f->in;
    }
}

void fire(UsbfsChip *bed, Fault &f, double elapsed) {
    static const struct {
        const char *kind;
        FtdiInFault in;
    } kIn[] = {{"short", FTDI_IN_SHORT}, {"status-only", FTDI_IN_STATUS_ONLY}, {"overrun", FTDI_IN_OVERRUN},
               {"framing", FTDI_IN_FRAMING}, {"lost-message", FTDI_IN_LOST_MESSAGE}, {"stuck", FTDI_IN_STUCK}};
    if (f.kind == "unplug" && f.atStart) {
        UsbfsStats s;
        usbfsChipStats(bed, &s);
        if (!f.pulled && s.vanishedUs != 0) {
            std::printf("ftdi bed: [%.2f s] transceiver pulled out at the reader's start\n", elapsed);
            f.pulled = true;
            f.pulledUs = s.vanishedUs;
            f.at = elapsed;
            f.atStart = false;
        }
        return;
    }
    if (f.kind == "unplug") {
        if (!f.pulled && elapsed >= f.at) {
            std::printf("ftdi bed: [%.2f s] transceiver pulled out\n", elapsed);
            // Stamped before the removal: the program may see the device
            // gone (and make its last request) while the removal still runs.
            f.pulledUs = usbfsNowUs();
            usbfsChipUnplug(bed);
            f.pulled = true;
        } else if (f.pulled && elapsed >= f.at + f.lastsMs / 1000.0) {
            std::printf("ftdi bed: [%.2f s] transceiver plugged in again\n", elapsed);
            usbfsChipReplug(bed);
            f.done = true;
        }
        return;
    }
    for (const auto &k : kIn) {
        if (f.kind != k.kind || elapsed < f.at) continue;
        std::printf("ftdi bed: [%.2f s] chip fault %s\n", elapsed, k.kind);
        ChipFault cf = {k.in, -1};
        usbfsChipWith(bed, applyChipFault, &cf);
        f.done = true;
    }
}

int runProgram(UsbfsChip *bed, Options &o) {
    std::fflush(stdout);
    pid_t child = fork();
    if (child == 0) {
        setpriority(PRIO_PROCESS, 0, g_programNice);
        if (o.unreadable) dropFileOverride();
        execvp(o.command[0], o.command.data());
        std::fprintf(stderr, "ftdi bed: cannot run %s: %s\n", o.command[0], std::strerror(errno));
        _exit(127);
    }
    if (child < 0) return 2;
    uint64_t start = usbfsNowUs();
    int status = 0;
    while (waitpid(child, &status, WNOHANG) == 0) {
        double elapsed = (double)(usbfsNowUs() - start) / 1e6;
        for (Fault &f : o.faults) {
            if (!f.done && f.kind != "stall") fire(bed, f, elapsed);
        }
        usleep(5000);
    }
    if (WIFEXITED(status)) return WEXITSTATUS(status);
    std::fprintf(stderr, "ftdi bed: %s ended by signal %d\n", o.command[0], WTERMSIG(status));
    return 2;
}

// The bed's own threads (the chip's step thread, umockdev's ioctl handling)
// cost CPU beside the program under test: their share of one core over the
// program's run.
void printOwnCost(double runSeconds) {
    rusage own;
    if (getrusage(RUSAGE_SELF, &own) != 0 || runSeconds <= 0) return;
    double cpu = (double)own.ru_utime.tv_sec + (double)own.ru_stime.tv_sec +
                 ((double)own.ru_utime.tv_usec + (double)own.ru_stime.tv_usec) / 1e6;
    std::printf("ftdi bed: its own threads used %.2f s of CPU in %.1f s: %.1f%% of a core\n", cpu, runSeconds,
                100.0 * cpu / runSeconds);
}

void printStats(UsbfsChip *bed) {
    UsbfsStats s;
    usbfsChipStats(bed, &s);
    FtdiChip c;
    usbfsChipWith(bed, [](FtdiChip *chip, void *out) { *static_cast<FtdiChip *>(out) = *chip; }, &c);
    std::printf("ftdi bed: chip: %u control requests (%u stalled), %u IN packets (%u status only), %u bytes up, "
                "%u down, %u overruns, %u baud, latency timer %u ms\n",
                c.controlRequests, c.stalls, c.packets, c.statusOnlyPackets, c.bytesUp, c.bytesDown, c.overruns,
                c.baud, c.latencyMs);
    std::printf("ftdi bed: usbfs: %u URBs submitted, %u reaped, %u empty reaps, %u unknown requests\n", s.submitted,
                s.reaped, s.emptyReaps, s.unknownIoctls);
}

// How soon after an unplug the program stopped asking the transceiver for
// data: its last request to the vanished device (the reaping of the
// transfers that ended with ENODEV), when the program learned of it.
void printUnplugFigure(UsbfsChip *bed, const Options &o) {
    UsbfsStats s;
    usbfsChipStats(bed, &s);
    for (const Fault &f : o.faults) {
        if (f.kind != "unplug" || !f.pulled || s.lastGoneIoctlUs < f.pulledUs) continue;
        double ms = (double)(s.lastGoneIoctlUs - f.pulledUs) / 1000.0;
        std::printf("ftdi bed: the program's last request to the vanished transceiver came %.1f ms after it was "
                    "pulled out\n", ms);
        std::printf("figure: usb_unplug_seen_ms %.1f\n", ms);
    }
}

// The transceivers after the first (--chips): a device of the model behind
// each, on buses 2, 3, ...
struct Others {
    std::vector<SimDevice *> devices;
    std::vector<UsbfsChip *> chips;
};

bool plugInOthers(const Options &o, Others *others) {
    for (int k = 1; k < o.chips; ++k) {
        SimDeviceConfig cfg;
        simDeviceDefaults(&cfg, o.model.c_str());
        SimDevice *device = simDeviceCreate(&cfg);
        char serial[USBFS_SERIAL_SIZE];
        usbfsChipSerial(o.serial.c_str(), k, serial);
        UsbfsChipConfig config = {serial, o.product.c_str(), device, k + 1};
        UsbfsChip *chip = device ? usbfsChipCreate(&config) : nullptr;
        if (!chip) {
            simDeviceDestroy(device);
            return false;
        }
        others->devices.push_back(device);
        others->chips.push_back(chip);
        std::printf("ftdi bed: %s behind FTDI transceiver %s at %s\n", o.model.c_str(), serial, usbfsChipNode(chip));
    }
    return true;
}

void unplugOthers(Others *others) {
    for (UsbfsChip *chip : others->chips) usbfsChipDestroy(chip);
    for (SimDevice *device : others->devices) simDeviceDestroy(device);
    others->chips.clear();
    others->devices.clear();
}

}  // namespace

int main(int argc, char **argv) {
    setvbuf(stdout, nullptr, _IOLBF, 0);
    signal(SIGPIPE, SIG_IGN);
    Options o;
    if (int rc = parse(argc, argv, &o)) return rc;
    if (!o.firmware.empty() && !writeBytes(o.firmware, firmwareImage(FIRMWARE_LENGTH))) {
        return usage("cannot write the firmware file");
    }
    if (!o.wireTimes.empty() && !mapWireTimes(o.wireTimes)) return usage("cannot make the wire-times file");
    // Before any thread starts, so that all of the bed's inherit it; the
    // program gets the priority back.
    errno = 0;
    g_programNice = getpriority(PRIO_PROCESS, 0);
    if (errno == 0) (void)setpriority(PRIO_PROCESS, 0, g_programNice - BED_PRIORITY_STEPS);
    SimDeviceConfig cfg;
    simDeviceDefaults(&cfg, o.model.c_str());
    SimDevice *device = simDeviceCreate(&cfg);
    if (!device) return usage("unknown model");
    std::vector<std::vector<SimSampleRecord>> record(RECORD_CHANNELS,
                                                     std::vector<SimSampleRecord>(RECORD_CAPACITY));
    for (int c = 0; c < RECORD_CHANNELS; ++c) simDeviceRecordSamples(device, c, record[c].data(), RECORD_CAPACITY);
    simDeviceSetDataTap(device, wireTap, nullptr);

    UsbfsChipConfig chipConfig = {o.serial.c_str(), o.product.c_str(), device, 1};
    UsbfsChip *bed = usbfsChipCreate(&chipConfig);
    if (!bed) return 2;
    Others others;
    if (!plugInOthers(o, &others)) {
        unplugOthers(&others);
        usbfsChipDestroy(bed);
        return usage("cannot plug in the further transceivers");
    }
    usbfsChipWith(bed, noteDeviceOrigin, nullptr);
    for (const Fault &f : o.faults) {
        ChipFault cf = {FTDI_IN_NORMAL, f.kind == "stall" ? f.request : -1};
        usbfsChipWith(bed, applyChipFault, &cf);
        if (f.atStart) usbfsChipVanishAtInSubmit(bed, READER_VANISH_TRANSFER);
    }
    if (o.unreadable) chmod(usbfsChipNodeFile(bed), 0);
    std::printf("ftdi bed: %s behind FTDI transceiver %s \"%s\" at %s\n", o.model.c_str(), o.serial.c_str(),
                o.product.c_str(), usbfsChipNode(bed));
    uint64_t runStart = usbfsNowUs();
    int rc = runProgram(bed, o);
    if (o.stats) printStats(bed);
    if (o.stats) printOwnCost((double)(usbfsNowUs() - runStart) / 1e6);
    printUnplugFigure(bed, o);
    unplugOthers(&others);
    usbfsChipDestroy(bed);
    for (int c = 0; c < RECORD_CHANNELS; ++c) {
        record[c].resize(std::min<uint32_t>(simDeviceRecordCount(device, c), RECORD_CAPACITY));
    }
    if (!o.csv.empty() && checkCsv(o, record) != 0) rc = CHECK_FAILED;
    simDeviceDestroy(device);
    return rc;
}
