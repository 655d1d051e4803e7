// The device-service launcher: the command line it builds, and the program
// it really starts (a stand-in that records how it was started).
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "API/driver/frame/services.h"
#include "tests/params/param_helpers.h"
#include "tests/support/log_lines.h"

using namespace qdtest;

namespace {

bool windowsStyle() { return osPathSeparator() == '\\'; }

class Services : public DriverTest {
protected:
    void SetUp() override {
        DriverTest::SetUp();
        record_ = testenvNewDir("services") + "record.txt";
        osSetEnv("QD_SERVICES_RECORD", record_.c_str());
    }
    void TearDown() override {
        osSetEnv("QD_SERVICES_RECORD", nullptr);
        DriverTest::TearDown();
    }

    // Folder of the stand-in, built beside the test program.
    static std::string standInFolder() {
        char path[1024];
        int n = osMainModulePath(path, sizeof path);
        EXPECT_GT(n, 0);
        std::string exe(path);
        size_t cut = exe.find_last_of(windowsStyle() ? "\\/:" : "/");
        return exe.substr(0, cut + 1) + "services_stand_in";
    }

    // Starts the services for a folder and waits for the stand-in's record:
    // the raw command line on Windows, the arguments elsewhere.
    // Up to a minute each: the first Windows program of a test run may wait
    // for Wine's server and services to come up on a busy machine. Under Wine
    // the stand-in's rename keeps a handle with delete access open a moment
    // after the record appears: an open without delete sharing fails until
    // it closes, and a delete completes only then. So the wait is for a
    // record gone, and then for a record that reads.
    std::string run(const char *folder) {
        osFileDelete(record_.c_str());
        for (int i = 0; i < 6000 && osPathExists(record_.c_str()); ++i) {
            osSleep(10);
            osFileDelete(record_.c_str());
        }
        EXPECT_EQ(QdDevServices(folder), 0);
        std::string text;
        for (int i = 0; i < 6000 && text.empty(); ++i) {
            if (osPathExists(record_.c_str())) text = testenvReadFile(record_);
            if (text.empty()) osSleep(10);
        }
        EXPECT_FALSE(text.empty()) << "the stand-in left no record";
        return text;
    }

    // What the stand-in records for a start with these parts: the Windows
    // command line, or the program path and arguments.
    static std::string expected(const std::string &folder, bool trailing, const std::vector<std::string> &args) {
        if (windowsStyle()) {
            std::string line = "\"" + folder + (trailing ? "" : "\\") + "QuorvaneServ.exe\"";
            for (const std::string &a : args) {
                line += a[0] == 'L' ? " " + a : " \"" + a + "\"";
            }
            return "cmdline:" + line + "\n";
        }
        std::string out = "arg:" + folder + (trailing ? "" : "/") + "QuorvaneServ\n";
        for (const std::string &a : args) out += "arg:" + a + "\n";
        return out;
    }

    std::string record_;
};

std::string commandLine(const char *folder) {
    ServicesLaunch launch;
    servicesBuildLaunch(folder, &launch);
    return launch.commandLine;
}

std::vector<std::string> arguments(const char *folder) {
    ServicesLaunch launch;
    servicesBuildLaunch(folder, &launch);
    std::vector<std::string> out;
    for (const char *const *a = launch.argv; *a; ++a) out.push_back(*a);
    return out;
}

}  // namespace

TEST_F(Services, CommandLineOfTheFolder) {
    EXPECT_EQ(commandLine(nullptr), "QuorvaneServ.exe");
    EXPECT_EQ(commandLine(""), "QuorvaneServ.exe");
    EXPECT_EQ(commandLine("C:\\Apps"), "\"C:\\Apps\\QuorvaneServ.exe\"");
    EXPECT_EQ(commandLine("D:\\Tools\\"), "\"D:\\Tools\\QuorvaneServ.exe\"");
    EXPECT_EQ(commandLine("D:"), "\"D:QuorvaneServ.exe\"");
    std::string longest(239, 'f');
    EXPECT_EQ(commandLine(longest.c_str()), "\"" + longest + "\\QuorvaneServ.exe\"");
    std::string tooLong(240, 'f');
    EXPECT_EQ(commandLine(tooLong.c_str()), "QuorvaneServ.exe");

    // The program of POSIX systems: joined with '/', or found through PATH.
    EXPECT_EQ(arguments(nullptr), std::vector<std::string>{"QuorvaneServ"});
    EXPECT_EQ(arguments("/opt/quorvane"), std::vector<std::string>{"/opt/quorvane/QuorvaneServ"});
    EXPECT_EQ(arguments("/opt/quorvane/"), std::vector<std::string>{"/opt/quorvane/QuorvaneServ"});
    EXPECT_EQ(arguments(tooLong.c_str()), std::vector<std::string>{"QuorvaneServ"});
}

TEST_F(Services, CommandLineOfTheSelectedContext) {
    open(7);
    ASSERT_EQ(setCode(QD_PAR_CHANNEL_ENABLE, 0, 1), 0);
    QdValue id = text("12AB");
    ASSERT_EQ(QdSetParam(QD_PAR_DEVICE_ID, 0, &id), 0);
    EXPECT_EQ(commandLine("C:\\Apps"), "\"C:\\Apps\\QuorvaneServ.exe\" \"D=Quorvane Halvex-4 USB\" L=usb \"A=12AB\"");
    EXPECT_EQ(arguments("/opt/q"), (std::vector<std::string>{"/opt/q/QuorvaneServ", "D=Quorvane Halvex-4 USB",
                                                             "L=usb", "A=12AB"}));
    // An empty device id leaves its part out.
    id = text("");
    ASSERT_EQ(QdSetParam(QD_PAR_DEVICE_ID, 0, &id), 0);
    EXPECT_EQ(commandLine(nullptr), "QuorvaneServ.exe \"D=Quorvane Halvex-4 USB\" L=usb");

    // The longest model name, device id and folder still fit.
    open(14);
    std::string longestId(19, 'i');
    id = text(longestId.c_str());
    ASSERT_EQ(QdSetParam(QD_PAR_DEVICE_ID, 0, &id), 0);
    std::string folder(239, 'f');
    EXPECT_EQ(commandLine(folder.c_str()),
              "\"" + folder + "\\QuorvaneServ.exe\" \"D=Quorvane Halvex+ 4 BLE\" L=ble \"A=" + longestId + "\"");

    // The Brev model: model and "ir", no device part (it has no device id).
    open(0);
    EXPECT_EQ(commandLine("C:\\Apps"), "\"C:\\Apps\\QuorvaneServ.exe\" \"D=Quorvane Brev 100\" L=ir");
    open(1);
    EXPECT_EQ(commandLine(nullptr), "QuorvaneServ.exe \"D=Quorvane Halvex 2\" L=bt \"A=Serial Port Device\"");

    // No context selected: the program alone.
    closeAllContexts();
    EXPECT_EQ(commandLine("C:\\Apps"), "\"C:\\Apps\\QuorvaneServ.exe\"");
}

// The program really starts with that command line (under Wine as well).
TEST_F(Services, StartsTheProgram) {
    std::string folder = standInFolder();
    LogWatch log;
    EXPECT_EQ(run(folder.c_str()), expected(folder, false, {}));
    EXPECT_TRUE(log.contains("{QdDevServices(" + folder + ")\n"));
    EXPECT_TRUE(log.contains("}QdDevServices: 0\n"));

    open(7);
    QdValue id = text("12AB");
    ASSERT_EQ(QdSetParam(QD_PAR_DEVICE_ID, 0, &id), 0);
    EXPECT_EQ(run(folder.c_str()), expected(folder, false, {"D=Quorvane Halvex-4 USB", "L=usb", "A=12AB"}));
    // A folder that ends with its separator gets no second one.
    std::string withSeparator = folder + osPathSeparator();
    EXPECT_EQ(run(withSeparator.c_str()),
              expected(withSeparator, true, {"D=Quorvane Halvex-4 USB", "L=usb", "A=12AB"}));
    id = text("");
    ASSERT_EQ(QdSetParam(QD_PAR_DEVICE_ID, 0, &id), 0);
    EXPECT_EQ(run(folder.c_str()), expected(folder, false, {"D=Quorvane Halvex-4 USB", "L=usb"}));
    open(0);
    EXPECT_EQ(run(folder.c_str()), expected(folder, false, {"D=Quorvane Brev 100", "L=ir"}));
}

// Without a folder the program is found through the program search path.
TEST_F(Services, FindsTheProgramThroughThePath) {
    char saved[32768];
    bool hadPath = osGetEnv("PATH", saved, sizeof saved) >= 0;
    std::string path = standInFolder() + (windowsStyle() ? ";" : ":") + (hadPath ? saved : "");
    osSetEnv("PATH", path.c_str());
    open(5);
    std::string got = run(nullptr);
    osSetEnv("PATH", hadPath ? saved : nullptr);
    if (windowsStyle()) {
        EXPECT_EQ(got, "cmdline:QuorvaneServ.exe \"D=Quorvane Halvex-2 BLE\" L=ble \"A=Quorvane Halvex*\"\n");
    } else {
        EXPECT_EQ(got, "arg:QuorvaneServ\narg:D=Quorvane Halvex-2 BLE\narg:L=ble\narg:A=Quorvane Halvex*\n");
    }
}

TEST_F(Services, FailureToStart) {
    std::string empty = testenvNewDir("no-services");
    LogWatch log;
    EXPECT_EQ(QdDevServices(empty.c_str()), 1);
    EXPECT_TRUE(log.contains(failLine("QdDevServices", kLogCannotRunServices)));
    EXPECT_FALSE(log.contains("}QdDevServices: 0"));
}
