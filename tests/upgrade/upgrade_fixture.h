// upgrade_fixture.h - what the loader tests share: firmware images and
// files, the loader's user messages and progress as the sinks receive them,
// and an update run against a simulated USB device on the manual clock.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "Upgrade/firmware.h"
#include "Upgrade/loader.h"
#include "Upgrade/output.h"
#include "Upgrade/update.h"
#include "sim/ftsim.h"
#include "sim/sim_boot.h"
#include "sim/sim_device.h"
#include "tests/support/testenv.h"
#include "tests/upgrade/image.h"

typedef std::vector<uint8_t> Bytes;
// Writes bytes to a fresh file in the test folder; returns its path.
std::string writeFirmwareFile(const Bytes &bytes, const char *name = "fw.bin");

// Everything the sinks received since the last clear.
struct LoaderOutput {
    std::vector<std::string> messages;
    std::vector<int> progress;
    bool has(const std::string &text) const;
    bool hasPrefix(const std::string &prefix) const;
};
extern LoaderOutput g_output;

// A simulated USB device (transceiver QVSIM001) opened through the link
// library, the sinks installed, the manual clock on.
class UpdateTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;
    // Plugs in the device (model name) and opens the link.
    void plugIn(const char *model = "Quorvane Halvex-4 USB");
    // Starts an update run and polls it (1 ms steps of the clock) until it
    // ends or limitMs have passed; returns the milliseconds it took.
    uint32_t run(const FirmwareHeader *header, uint32_t limitMs = 60000);
    // Checks and opens a firmware file for an upload.
    const FirmwareHeader *openImage(const Bytes &image);
    // The frames the loader wrote since the last call, as bytes.
    Bytes written();
    SimBoot *boot() { return simDeviceBoot(dev_); }

    ManualClock *clock_ = nullptr;
    int tx_ = -1;
    SimDevice *dev_ = nullptr;
    LinkHandle link_ = {LINK_USB, LINK_INVALID_HANDLE};
};
