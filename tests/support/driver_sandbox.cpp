// driver_sandbox.cpp - a driver attached in a folder of its own.
#include "tests/support/driver_sandbox.h"

#include "API/driver/driver.h"
#include "API/driver/frame/lifecycle.h"
#include "os/os.h"
#include "tests/support/testenv.h"

DriverSandbox::DriverSandbox() {
    std::string base = testenvNewDir("sandbox");
    shared_ = base + "shared";
    osDirCreate(shared_.c_str());
    hostDir_ = base + "host";
    osDirCreate(hostDir_.c_str());
    hostExe_ = hostDir_ + osPathSeparator() + (testenvIsWindows() ? "host.exe" : "host");
    osSetEnv("ALLUSERSPROFILE", shared_.c_str());
    osMainModulePathOverride(hostExe_.c_str());
}

DriverSandbox::~DriverSandbox() {
    detach();
    osMainModulePathOverride(nullptr);
    osSetEnv("ALLUSERSPROFILE", testenvSharedDir().c_str());
}

void DriverSandbox::attach() { driverAttach(); }

void DriverSandbox::detach() {
    if (driverAttached()) driverDetach();
}

std::string DriverSandbox::logFolder() const { return shared_ + osPathSeparator() + "Quorvane"; }
std::string DriverSandbox::logFile() const { return logFolder() + osPathSeparator() + "QuorvaneDrv.log"; }

std::string DriverSandbox::oldLogFile() const {
    size_t cut = hostExe_.find_last_of(osPathSeparator());
    return hostExe_.substr(0, cut + 1) + "QuorvaneDrv.log";
}

void DriverSandbox::setHostExe(const std::string &path) {
    hostExe_ = path;
    osMainModulePathOverride(hostExe_.c_str());
}

std::string DriverSandbox::log() const { return testenvReadFile(logFile()); }
