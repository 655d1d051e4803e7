// link_fixture.h - common ground of the link tests: the driver log open in
// the test folder, the simulated transceivers emptied before each test, and
// helpers to read what a test added to the log.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "API/driver/driver.h"
#include "API/driver/frame/lifecycle.h"
#include "API/driver/frame/log.h"
#include "link/link.h"
#include "os/os.h"
#include "sim/ftsim.h"
#include "tests/support/testenv.h"

class LinkTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { driverAttach(); }

    void SetUp() override {
        ftsimReset();
        ASSERT_EQ(InitLinkLibrary(), 1);
        logMark_ = testenvReadFile(logPath()).size();
        brokenMark_ = linkBrokenReportCount();
    }

    void TearDown() override {
        if (osClockIsManual()) osClockSetManual(false, 0);
        ftsimReset();
    }

    // The log entries written since the test began, timestamp lines left out.
    std::string newLog() const {
        std::string all = testenvReadFile(logPath());
        std::string text = all.size() > logMark_ ? all.substr(logMark_) : std::string();
        std::string out;
        size_t at = 0;
        while (at < text.size()) {
            size_t end = text.find('\n', at);
            end = end == std::string::npos ? text.size() : end + 1;
            if (text.compare(at, 2, "@ ") != 0) out += text.substr(at, end - at);
            at = end;
        }
        return out;
    }
    bool logHas(const std::string &line) const { return newLog().find(line) != std::string::npos; }
    uint32_t brokenReports() const { return linkBrokenReportCount() - brokenMark_; }

    static FtSimState state(int tx) {
        FtSimState st = {};
        EXPECT_EQ(ftsimGetState(tx, &st), 0);
        return st;
    }

    // Opens a USB link; returns OpenLink's result.
    int openUsb(const char *id, LinkHandle *link, char *idBuffer = nullptr, uint32_t size = 0) {
        link->type = LINK_USB;
        link->handle = LINK_INVALID_HANDLE;
        return OpenLink(LINK_USB, id, link, idBuffer, size);
    }

private:
    size_t logMark_ = 0;
    uint32_t brokenMark_ = 0;
};
