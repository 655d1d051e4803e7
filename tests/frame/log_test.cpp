// Driver log: banner, timestamps, the entry cut, the size rule, the migration
// of a log beside the host program, and what attach and detach write.
#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#if !defined(_WIN32)
#include <sys/stat.h>
#include <unistd.h>
#endif

#include "API/driver/driver.h"
#include "API/driver/frame/lifecycle.h"
#include "API/driver/frame/log.h"
#include "os/os.h"
#include "tests/support/driver_sandbox.h"
#include "tests/support/testenv.h"

namespace {

const char BANNER_HEAD[] = "\nQuorvane Driver v.5.4.5\n";
// Shapes of the writer's own lines: '#' one digit, '?' an optional digit.
const char DATE_LINE[] = "@ ####-?#-?# ?#:##:##.###\n";
const char STAMP_LINE[] = "@ ?#:##:##.###\n";

bool matches(const char *s, const char *shape) {
    for (;; ++s, ++shape) {
        if (*shape == '\0') return *s == '\0';
        if (*shape == '?') {
            if (*s >= '0' && *s <= '9' && matches(s + 1, shape + 1)) return true;
            --s;
            continue;
        }
        if (*shape == '#') {
            if (*s < '0' || *s > '9') return false;
        } else if (*s != *shape) {
            return false;
        }
    }
}
bool matches(const std::string &s, const char *shape) { return matches(s.c_str(), shape); }

// Number of timestamp lines ("@ h:mm:ss.mmm") in a log text.
int stampLines(const std::string &text) {
    int n = 0;
    size_t pos = 0;
    while ((pos = text.find("\n@ ", pos)) != std::string::npos) {
        size_t end = text.find('\n', pos + 1);
        if (matches(text.substr(pos + 1, end - pos), STAMP_LINE)) ++n;
        pos = end;
    }
    return n;
}

// Log text after the banner of the last attach.
std::string afterBanner(const std::string &text) {
    size_t start = text.rfind(BANNER_HEAD);
    if (start == std::string::npos) return std::string();
    size_t loaded = text.find('\n', start + sizeof BANNER_HEAD - 1);
    size_t date = text.find('\n', loaded + 1);
    return text.substr(date + 1);
}

}  // namespace

TEST(DriverLog, AttachWritesBannerAndDetachOnlyItsLine) {
    ManualClock clock;
    DriverSandbox box;
    box.attach();
    std::string text = box.log();
    ASSERT_EQ(0u, text.find(BANNER_HEAD)) << text;
    std::string loaded = "Loaded by: " + box.hostExe() + "\n";
    ASSERT_EQ(sizeof BANNER_HEAD - 1, text.find(loaded));
    std::string date = text.substr(sizeof BANNER_HEAD - 1 + loaded.size());
    EXPECT_TRUE(matches(date, DATE_LINE)) << date;
    EXPECT_EQ(box.logFile(), logPath());

    // Detach with no context open: the detach line and nothing else.
    box.detach();
    EXPECT_EQ(text + "Quorvane Driver detached\n", box.log());
    EXPECT_STREQ("", logPath());
}

TEST(DriverLog, NothingIsWrittenAfterDetach) {
    DriverSandbox box;
    box.attach();
    box.detach();
    std::string text = box.log();
    EXPECT_EQ(6, qdLog("{late\n"));
    EXPECT_EQ(text, box.log());
}

TEST(DriverLog, EntriesBeforeAnyAttachAreDropped) {
    // The test programs link the driver statically; until a test attaches it
    // the writer only formats.
    ASSERT_FALSE(driverAttached());
    EXPECT_EQ(9, qdLog("{x(%i)\n", 1234));
}

TEST(DriverLog, TimestampAtMostOncePerSecondAtLineStart) {
    ManualClock clock;
    DriverSandbox box;
    box.attach();
    clock.advance(999);
    qdLog("{a\n");  // 999 ms after the banner: no timestamp
    clock.advance(1);
    qdLog("{b\n");  // a full second: timestamp
    clock.advance(500);
    qdLog("{c\n");  // 500 ms later: none
    std::string tail = afterBanner(box.log());
    ASSERT_EQ(1, stampLines("\n" + tail)) << tail;
    std::string expect = "{a\n";
    EXPECT_EQ(0u, tail.find(expect)) << tail;
    size_t b = tail.find("{b\n");
    ASSERT_NE(std::string::npos, b);
    EXPECT_TRUE(matches(tail.substr(expect.size(), b - expect.size()), STAMP_LINE)) << tail;
    EXPECT_EQ(b + 3, tail.find("{c\n"));
}

TEST(DriverLog, EntryContinuingALineNeverGetsATimestamp) {
    ManualClock clock;
    DriverSandbox box;
    box.attach();
    clock.advance(5000);
    qdLog("{QdSetDefaults(%i)", -2);  // starts a line: timestamp first
    clock.advance(60000);
    qdLog(" more");                    // continues it: none, however late
    clock.advance(60000);
    qdLog("\n");                       // ends it: still none
    std::string tail = afterBanner(box.log());
    EXPECT_EQ(1, stampLines("\n" + tail)) << tail;
    size_t entry = tail.find("{QdSetDefaults(-2) more\n");
    ASSERT_NE(std::string::npos, entry) << tail;
    EXPECT_EQ(entry + 24, tail.size());

    qdLog("#next\n");  // a new line long after the last timestamp: one more
    EXPECT_EQ(2, stampLines("\n" + afterBanner(box.log())));
}

TEST(DriverLog, TickCountWrapStillCountsElapsedTime) {
    ManualClock clock(0xFFFFFF00u);
    DriverSandbox box;
    box.attach();
    clock.advance(0x200);  // the tick count wraps past zero: 512 ms later
    qdLog("{a\n");
    EXPECT_EQ(0, stampLines("\n" + afterBanner(box.log())));
    clock.advance(600);
    qdLog("{b\n");
    EXPECT_EQ(1, stampLines("\n" + afterBanner(box.log())));
}

TEST(DriverLog, LongEntryIsCutTo255Characters) {
    ManualClock clock;
    DriverSandbox box;
    box.attach();
    std::string before = box.log();
    std::string longText(400, 'x');
    EXPECT_EQ(255, qdLog("!%s\n", longText.c_str()));
    std::string added = box.log().substr(before.size());
    EXPECT_EQ("!" + std::string(254, 'x'), added);
    // The cut entry ended without its line feed, so the next one continues
    // its line and gets no timestamp.
    clock.advance(2000);
    qdLog("}\n");
    EXPECT_EQ("!" + std::string(254, 'x') + "}\n", box.log().substr(before.size()));
}

TEST(DriverLog, ReturnsEntryLengthAndEmptyEntryKeepsLineState) {
    ManualClock clock;
    DriverSandbox box;
    box.attach();
    EXPECT_EQ(21, qdLog("{QdOpenDevContext(%s)", "Q4"));
    EXPECT_EQ(0, qdLog("%s", ""));
    clock.advance(3000);
    qdLog(": 0\n");  // still the same line: no timestamp
    std::string tail = afterBanner(box.log());
    EXPECT_EQ("{QdOpenDevContext(Q4): 0\n", tail);
}

TEST(DriverLog, EntriesOfConcurrentThreadsStayWhole) {
    DriverSandbox box;
    box.attach();
    const int perThread = 300;
    auto writer = [](char tag) {
        for (int i = 0; i < perThread; ++i) qdLog("# %c %04d %s\n", tag, i, "abcdefghijklmnopqrstuvwxyz");
    };
    std::vector<std::thread> threads;
    for (char tag : {'A', 'B', 'C'}) threads.emplace_back(writer, tag);
    for (auto &t : threads) t.join();
    box.detach();
    std::string text = box.log();
    int entries = 0;
    size_t pos = 0;
    while (pos < text.size()) {
        size_t end = text.find('\n', pos);
        std::string line = text.substr(pos, end - pos);
        if (line.rfind("# ", 0) == 0) {
            bool whole = line.size() == 35 && (line[2] == 'A' || line[2] == 'B' || line[2] == 'C') &&
                         matches(line.substr(3), " #### abcdefghijklmnopqrstuvwxyz");
            EXPECT_TRUE(whole) << line;
            ++entries;
        }
        pos = end + 1;
    }
    EXPECT_EQ(3 * perThread, entries);
}

TEST(DriverLog, AttachWithoutUsableFolderWorksWithoutLog) {
    DriverSandbox box;
    // The shared "folder" is a file: no Quorvane folder, no log.
    std::string notAFolder = box.sharedDir() + osPathSeparator() + "file";
    ASSERT_TRUE(testenvWriteFile(notAFolder, "x"));
    osSetEnv("ALLUSERSPROFILE", notAFolder.c_str());
    box.attach();
    EXPECT_STREQ("", logPath());
    EXPECT_EQ(5, qdLog("{x()\n"));
    box.detach();
    EXPECT_EQ("x", testenvReadFile(notAFolder));
}

#if !defined(_WIN32)
TEST(DriverLog, LinkOrFifoPlantedAsTheLogIsNotOpened) {
    // Another user of the shared folder plants the log's name: a link to a
    // file of theirs choosing must stay untouched, and a FIFO must not hold
    // the attach in its open.
    for (bool fifo : {false, true}) {
        DriverSandbox box;
        ASSERT_TRUE(osDirCreate(box.logFolder().c_str()));
        std::string target = box.sharedDir() + osPathSeparator() + "victim";
        ASSERT_TRUE(testenvWriteFile(target, "precious\n"));
        ASSERT_EQ(0, fifo ? mkfifo(box.logFile().c_str(), 0666) : symlink(target.c_str(), box.logFile().c_str()));
        box.attach();
        EXPECT_STREQ("", logPath()) << (fifo ? "FIFO" : "link");
        box.detach();
        EXPECT_EQ("precious\n", testenvReadFile(target));
    }
}
#endif

// ---------------------------------------------------------------------------
// Size rule
// ---------------------------------------------------------------------------

class DriverLogSize : public testing::Test {
protected:
    void placeLog(size_t size) {
        ASSERT_TRUE(osDirCreate(box.logFolder().c_str()));
        content = std::string(size - 1, 'o') + "\n";
        ASSERT_TRUE(testenvWriteFile(box.logFile(), content));
    }
    DriverSandbox box;
    std::string content;
};

TEST_F(DriverLogSize, ExactlyOneMebibyteStaysAndIsAppended) {
    placeLog(1048576);
    box.attach();
    std::string text = box.log();
    ASSERT_GT(text.size(), content.size());
    EXPECT_EQ(content, text.substr(0, content.size()));
    EXPECT_EQ(content.size(), text.find(BANNER_HEAD));
}

TEST_F(DriverLogSize, OneByteMoreStartsANewLog) {
    placeLog(1048577);
    box.attach();
    std::string text = box.log();
    EXPECT_EQ(0u, text.find(BANNER_HEAD));
    EXPECT_LT(text.size(), 1024u);
}

// ---------------------------------------------------------------------------
// Migration of a log kept beside the host program
// ---------------------------------------------------------------------------

TEST(DriverLogMigration, OldLogMovesToSharedFolderWhenThereIsNone) {
    DriverSandbox box;
    ASSERT_TRUE(testenvWriteFile(box.oldLogFile(), "old entries\n"));
    box.attach();
    EXPECT_FALSE(osPathExists(box.oldLogFile().c_str()));
    std::string text = box.log();
    EXPECT_EQ(0u, text.find("old entries\n"));
    EXPECT_EQ(12u, text.find(BANNER_HEAD));
}

TEST(DriverLogMigration, OldLogIsDeletedWhenSharedLogExists) {
    DriverSandbox box;
    ASSERT_TRUE(osDirCreate(box.logFolder().c_str()));
    ASSERT_TRUE(testenvWriteFile(box.logFile(), "shared entries\n"));
    ASSERT_TRUE(testenvWriteFile(box.oldLogFile(), "old entries\n"));
    box.attach();
    EXPECT_FALSE(osPathExists(box.oldLogFile().c_str()));
    std::string text = box.log();
    EXPECT_EQ(0u, text.find("shared entries\n"));
    EXPECT_EQ(std::string::npos, text.find("old entries"));
}

TEST(DriverLogMigration, HostRunningFromTheLogFolderKeepsItsLog) {
    // The old log path and the log path name the same file: it must be
    // neither deleted nor moved.
    DriverSandbox box;
    ASSERT_TRUE(osDirCreate(box.logFolder().c_str()));
    ASSERT_TRUE(testenvWriteFile(box.logFile(), "earlier run\n"));
    box.setHostExe(box.logFolder() + osPathSeparator() + "host");
    box.attach();
    EXPECT_EQ(0u, box.log().find("earlier run\n"));
}

TEST(DriverLogMigration, OldLogPathTooLongIsNotTouched) {
    // A host folder whose old log path would exceed 255 characters: there is
    // no adoption, so the file beside the host program stays, and so does a
    // log of that name in the current folder (it is not the program's).
    DriverSandbox box;
    const char bare[] = "QuorvaneDrv.log";
    ASSERT_TRUE(testenvWriteFile(bare, "current folder\n"));
    std::string dir = testenvNewDir("long");
    dir.pop_back();
    while (dir.size() < 244) dir += "d";
    ASSERT_TRUE(osDirCreate(dir.c_str()));
    std::string exe = dir + osPathSeparator() + "h";
    ASSERT_LE(exe.size(), 255u);
    ASSERT_GT(dir.size() + 1 + 15, 255u);
    box.setHostExe(exe);
    std::string old = dir + osPathSeparator() + "QuorvaneDrv.log";
    ASSERT_TRUE(testenvWriteFile(old, "old\n"));
    box.attach();
    EXPECT_EQ("old\n", testenvReadFile(old));
    EXPECT_EQ(0u, box.log().find(BANNER_HEAD));
    box.detach();
    // Nor when the program's path names no folder.
    box.setHostExe("host");
    box.attach();
    EXPECT_EQ("current folder\n", testenvReadFile(bare));
    EXPECT_TRUE(osFileDelete(bare));
}
