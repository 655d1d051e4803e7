// driver_sandbox.h - a driver attached in a folder of its own.
//
// A DriverSandbox gives one test its own shared application-data folder
// (ALLUSERSPROFILE) and its own host-program folder (the path the driver
// takes as the host executable), so that log files placed or written by
// one test never meet another's. It restores both when it ends and detaches
// the driver if the test left it attached.
#pragma once

#include <gtest/gtest.h>

#include <string>

class DriverSandbox {
public:
    DriverSandbox();
    ~DriverSandbox();
    DriverSandbox(const DriverSandbox &) = delete;
    DriverSandbox &operator=(const DriverSandbox &) = delete;

    void attach();
    void detach();

    // The shared folder (no trailing separator).
    const std::string &sharedDir() const { return shared_; }
    // The Quorvane folder below it and the log file in it.
    std::string logFolder() const;
    std::string logFile() const;
    // The host program path the driver sees, and the old log beside it.
    const std::string &hostExe() const { return hostExe_; }
    std::string oldLogFile() const;
    // Moves the host program somewhere else (before attach).
    void setHostExe(const std::string &path);
    // Contents of the log file (empty when there is none).
    std::string log() const;

private:
    std::string shared_;
    std::string hostDir_;
    std::string hostExe_;
};

// A test with a sandboxed driver attached in SetUp and detached in TearDown.
class AttachedDriverTest : public testing::Test {
protected:
    void SetUp() override { sandbox.attach(); }
    void TearDown() override { sandbox.detach(); }
    DriverSandbox sandbox;
};
