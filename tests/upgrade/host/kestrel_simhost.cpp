// kestrel_simhost - runs the kestrel program (the same kestrelMain as the
// shipped command line) against a simulated USB device in this process.
//
//   kestrel_simhost upload DIR   started in DIR without arguments, with an
//                                upgrade.cfg naming the file and L=usb, it
//                                uploads a 65,024-byte image; then a Check
//                                shows the new version; both exit 0
//   kestrel_simhost relink DIR   the transceiver is pulled out during the
//                                upload (the run fails), plugged in again,
//                                and a second run finishes the upload
//
// DIR receives the firmware file. Exit status 0 when every run ended as
// expected.
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "Upgrade/posix/kestrel_cli.h"
#include "os/os.h"
#include "sim/ftsim.h"
#include "sim/sim_boot.h"
#include "sim/sim_device.h"
#include "tests/upgrade/image.h"

namespace {

const char SERIAL[] = "QVSIM001";
const uint32_t UNPLUG_AFTER_WRITES = 40;    // about a third of the blocks

std::string writeImage(const std::string &dir, uint8_t major) {
    const std::string path = dir + "/firmware.bin";
    return writeBytes(path, firmwareImage(FW_MAX_IMAGE, "Halvex application", major, 0, 0)) ? path : std::string();
}

int kestrel(std::vector<std::string> args) {
    args.insert(args.begin(), "kestrel");
    std::vector<char *> argv;
    for (std::string &a : args)
        argv.push_back(&a[0]);
    std::printf("---- kestrel");
    for (size_t i = 1; i < args.size(); ++i)
        std::printf(" %s", args[i].c_str());
    std::printf("\n");
    std::fflush(stdout);
    const int rc = kestrelMain((int)argv.size(), argv.data());
    std::printf("---- exit status %d\n", rc);
    return rc;
}

bool expect(bool ok, const char *what) {
    if (!ok) std::printf("FAILED: %s\n", what);
    return ok;
}

// Pulls the transceiver out once the loader has written that many times.
std::atomic<bool> g_watch{false};
void unplugLater(void *) {
    while (g_watch.load() && ftsimCallCount(FTSIM_CALL_WRITE) < UNPLUG_AFTER_WRITES)
        osSleep(1);
    if (g_watch.load()) ftsimUnplug(0);
}

// The upgrade log of the runs so far (ALLUSERSPROFILE is the test's folder).
std::string upgradeLog() {
    const char *shared = std::getenv("ALLUSERSPROFILE");
    std::string text;
    FILE *f = shared ? std::fopen((std::string(shared) + "/Quorvane/upgrade.log").c_str(), "rb") : nullptr;
    for (int c; f && (c = std::fgetc(f)) != EOF;) text += (char)c;
    if (f) std::fclose(f);
    return text;
}

bool relink(const std::string &image) {
    const std::vector<std::string> upload = {image, "L=usb", std::string("A=") + SERIAL};
    const size_t logMark = upgradeLog().size();
    ftsimResetCallCounts();
    g_watch = true;
    OsThread watcher = osThreadStart(unplugLater, nullptr, 0, OS_PRIORITY_NORMAL);
    const int first = kestrel(upload);
    g_watch = false;
    osThreadJoin(watcher);
    ftsimReplug(0);
    bool ok = expect(first == KESTREL_FAILED, "the broken upload fails");
    // The link library's broken-link hook raised the disconnection event.
    const std::string log = upgradeLog().substr(logMark);
    const size_t event = log.find("^ INT_DISC\n");
    ok &= expect(event != std::string::npos && log.find("!Communication broken.\n", event) != std::string::npos,
                 "the broken link ends the run as \"Communication broken.\"");
    ok &= expect(simDeviceBoot(ftsimDevice(0))->running, "the device waits in its boot loader");
    ok &= expect(kestrel(upload) == KESTREL_OK, "the second upload succeeds");
    return ok;
}

}  // namespace

int main(int argc, char **argv) {
    if (argc != 3 || (std::strcmp(argv[1], "upload") != 0 && std::strcmp(argv[1], "relink") != 0)) {
        std::fprintf(stderr, "usage: kestrel_simhost upload|relink DIR\n");
        return 2;
    }
    ftsimReset();
    if (ftsimAdd(SERIAL, nullptr) != 0 || ftsimAttachNewDevice(0, "Quorvane Halvex-4 USB", nullptr) != 0) return 2;
    const std::string image = writeImage(argv[2], 3);
    if (image.empty()) return 2;
    bool ok;
    if (std::strcmp(argv[1], "upload") == 0) {
        const std::string cfg = std::string("firmware.bin L=usb A=") + SERIAL + "\r\n";
        ok = expect(writeBytes(std::string(argv[2]) + "/upgrade.cfg", std::vector<uint8_t>(cfg.begin(), cfg.end())) &&
                        chdir(argv[2]) == 0 && kestrel({}) == KESTREL_OK,
                    "the upload from upgrade.cfg succeeds");
    } else {
        ok = relink(image);
    }
    osSleep(2 * SIM_BOOT_RESTART_MS);
    ok &= expect(kestrel({"--check", "L=USB", std::string("A=") + SERIAL}) == KESTREL_OK, "the Check succeeds");
    uint8_t version[3] = {};
    std::memcpy(version, simDeviceBoot(ftsimDevice(0))->flash, 3);
    ok &= expect(version[0] == 3, "the device holds the new image");
    ftsimReset();
    return ok ? 0 : 1;
}
