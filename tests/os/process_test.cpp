// Starting programs: started without waiting, without inherited handles, and
// never left behind as zombies.
#include <gtest/gtest.h>

#include <string>

#include "os/os.h"
#include "tests/support/testenv.h"

namespace {

// Starts a shell command: sh -c on POSIX, cmd /c on Windows.
bool startShell(const std::string &posixScript, const std::string &windowsCommand) {
    if (testenvIsWindows()) {
        std::string line = "cmd.exe /c " + windowsCommand;
        return osStartProcess(nullptr, nullptr, line.c_str());
    }
    const char *argv[] = {"sh", "-c", posixScript.c_str(), nullptr};
    return osStartProcess("sh", argv, nullptr);
}

// Children of the calling thread as the Linux kernel lists them ("" when
// the system has no such list).
std::string childrenOfThisThread() {
    std::string stat = testenvReadFile("/proc/thread-self/stat");
    if (stat.empty()) return "";
    std::string tid = stat.substr(0, stat.find(' '));
    return testenvReadFile("/proc/thread-self/task/" + tid + "/children");
}

}  // namespace

TEST(OsProcess, StartsProgramFoundThroughThePath) {
    std::string dir = testenvNewDir("proc");
    std::string marker = dir + "started.txt";
    ASSERT_TRUE(startShell("echo ok > '" + marker + "'", "echo ok > \"" + marker + "\""));
    EXPECT_TRUE(testenvWaitForFile(marker));
}

TEST(OsProcess, DoesNotWaitForTheProgram) {
    std::string dir = testenvNewDir("proc");
    std::string marker = dir + "late.txt";
    // The program writes its marker only after half a minute: had the start
    // waited for it, the marker would be there when the start returns, on a
    // machine of any speed.
    ASSERT_TRUE(startShell("sleep 30; echo late > '" + marker + "'",
                           "ping -n 31 127.0.0.1 > nul & echo late > \"" + marker + "\""));
    EXPECT_FALSE(osPathExists(marker.c_str()));
}

TEST(OsProcess, MissingProgramFails) {
    if (testenvIsWindows()) {
        EXPECT_FALSE(osStartProcess(nullptr, nullptr, "no-such-program-qd.exe"));
    } else {
        const char *argv[] = {"no-such-program-qd", nullptr};
        EXPECT_FALSE(osStartProcess("no-such-program-qd", argv, nullptr));
        EXPECT_FALSE(osStartProcess("/nonexistent/prog", argv, nullptr));
    }
    EXPECT_FALSE(osStartProcess(nullptr, nullptr, nullptr));
}

TEST(OsProcess, LeavesNoZombies) {
    if (testenvIsWindows() || !osPathExists("/proc/thread-self/stat")) GTEST_SKIP() << "needs Linux /proc";
    std::string dir = testenvNewDir("proc");
    for (int i = 0; i < 5; ++i) {
        std::string marker = dir + "m" + std::to_string(i);
        ASSERT_TRUE(startShell("echo > '" + marker + "'", ""));
        ASSERT_TRUE(testenvWaitForFile(marker));
    }
    osSleep(100);
    // The programs ran and ended; none of them is a child of this thread.
    EXPECT_EQ("", childrenOfThisThread());
}

TEST(OsProcess, InheritsNoOpenFiles) {
    if (testenvIsWindows() || !osPathExists("/proc/self/fd")) GTEST_SKIP() << "needs Linux /proc";
    std::string dir = testenvNewDir("proc");
    std::string held = dir + "held.txt";
    OsFile f = osFileOpen(held.c_str(), OS_FILE_WRITE | OS_FILE_CREATE);
    ASSERT_NE(OS_INVALID_FILE, f);
    std::string marker = dir + "fds.txt";
    ASSERT_TRUE(startShell("ls -l /proc/$$/fd > '" + marker + ".part'; mv '" + marker + ".part' '" + marker + "'", ""));
    ASSERT_TRUE(testenvWaitForFile(marker));
    osFileClose(f);
    std::string fds = testenvReadFile(marker);
    EXPECT_EQ(std::string::npos, fds.find("held.txt")) << fds;
}
