// Files, folders, attributes, environment and module paths of the
// operating-system layer.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#if !defined(_WIN32)
#include <sys/stat.h>
#endif

#include "os/os.h"
#include "tests/support/testenv.h"

TEST(OsFiles, ReadWriteSeekAndSize) {
    std::string path = testenvNewDir("rw") + "data.bin";
    OsFile f = osFileOpen(path.c_str(), OS_FILE_READ | OS_FILE_WRITE | OS_FILE_CREATE);
    ASSERT_NE(OS_INVALID_FILE, f);
    EXPECT_EQ(10, osFileWrite(f, "0123456789", 10));
    EXPECT_EQ(10, osFileSize(f));
    EXPECT_EQ(4, osFileSeek(f, 4, OS_SEEK_SET));
    char buf[8] = {};
    EXPECT_EQ(3, osFileRead(f, buf, 3));
    EXPECT_STREQ("456", buf);
    EXPECT_EQ(9, osFileSeek(f, 2, OS_SEEK_CUR));
    EXPECT_EQ(8, osFileSeek(f, -2, OS_SEEK_END));
    EXPECT_EQ(2, osFileRead(f, buf, sizeof buf));
    EXPECT_EQ(0, osFileRead(f, buf, sizeof buf));
    EXPECT_TRUE(osFileFlush(f));
    osFileClose(f);
}

TEST(OsFiles, OpenModes) {
    std::string dir = testenvNewDir("modes");
    std::string path = dir + "f.txt";
    EXPECT_EQ(OS_INVALID_FILE, osFileOpen(path.c_str(), OS_FILE_READ));
    EXPECT_EQ(OS_INVALID_FILE, osFileOpen(path.c_str(), OS_FILE_WRITE));
    ASSERT_TRUE(testenvWriteFile(path, "keep"));

    // Create keeps what is there.
    OsFile f = osFileOpen(path.c_str(), OS_FILE_WRITE | OS_FILE_CREATE);
    ASSERT_NE(OS_INVALID_FILE, f);
    EXPECT_EQ(4, osFileSize(f));
    osFileClose(f);
    EXPECT_EQ("keep", testenvReadFile(path));

    // Append writes at the end whatever the position.
    f = osFileOpen(path.c_str(), OS_FILE_WRITE | OS_FILE_CREATE | OS_FILE_APPEND | OS_FILE_SHARE_READ);
    ASSERT_NE(OS_INVALID_FILE, f);
    osFileSeek(f, 0, OS_SEEK_SET);
    EXPECT_EQ(3, osFileWrite(f, "+ab", 3));
    // Shared for reading: another reader sees the contents meanwhile.
    EXPECT_EQ("keep+ab", testenvReadFile(path));
    osFileClose(f);

    // Truncate starts anew.
    f = osFileOpen(path.c_str(), OS_FILE_WRITE | OS_FILE_TRUNCATE);
    ASSERT_NE(OS_INVALID_FILE, f);
    EXPECT_EQ(0, osFileSize(f));
    osFileClose(f);

    // A folder is not a file.
    EXPECT_EQ(OS_INVALID_FILE, osFileOpen(dir.c_str(), OS_FILE_READ));
}

TEST(OsFiles, MoveDeleteAndSameFile) {
    std::string dir = testenvNewDir("move");
    std::string a = dir + "a.log", b = dir + "b.log", c = dir + "c.log";
    ASSERT_TRUE(testenvWriteFile(a, "A"));
    ASSERT_TRUE(testenvWriteFile(b, "B"));
    EXPECT_FALSE(osFileMove(a.c_str(), b.c_str()));  // target exists
    EXPECT_EQ("B", testenvReadFile(b));
    EXPECT_TRUE(osFileMove(a.c_str(), c.c_str()));
    EXPECT_FALSE(osPathExists(a.c_str()));
    EXPECT_EQ("A", testenvReadFile(c));
    EXPECT_FALSE(osFileMove(a.c_str(), dir.c_str()));

    std::string dotted = dir + "." + osPathSeparator() + "c.log";
    EXPECT_TRUE(osSameFile(c.c_str(), dotted.c_str()));
    EXPECT_FALSE(osSameFile(c.c_str(), b.c_str()));
    EXPECT_FALSE(osSameFile(c.c_str(), a.c_str()));

    // A replace renames over the target in one step; one that fails (no
    // source, a folder as the target) keeps the target as it was.
    ASSERT_TRUE(testenvWriteFile(a, "new"));
    EXPECT_TRUE(osFileReplace(a.c_str(), c.c_str()));
    EXPECT_EQ("new", testenvReadFile(c));
    EXPECT_FALSE(osPathExists(a.c_str()));
    EXPECT_FALSE(osFileReplace(a.c_str(), c.c_str()));
    EXPECT_EQ("new", testenvReadFile(c));
    EXPECT_FALSE(osFileReplace(c.c_str(), dir.c_str()));
    EXPECT_EQ("new", testenvReadFile(c));

    // Temporary files: new names beside the file, never an existing file.
    char t1[512], t2[512];
    OsFile f1 = osFileCreateTemporary(c.c_str(), t1, sizeof t1), f2 = osFileCreateTemporary(c.c_str(), t2, sizeof t2);
    ASSERT_TRUE(f1 != OS_INVALID_FILE && f2 != OS_INVALID_FILE);
    EXPECT_TRUE(std::string(t1) != t2 && std::string(t1).find(c + ".") == 0) << t1 << " " << t2;
    osFileClose(f1);
    osFileClose(f2);
    EXPECT_TRUE(osFileDelete(t1) && osFileDelete(t2));
    EXPECT_EQ(OS_INVALID_FILE, osFileOpen(c.c_str(), OS_FILE_WRITE | OS_FILE_TRUNCATE | OS_FILE_EXCLUSIVE));
    EXPECT_EQ("new", testenvReadFile(c));

    EXPECT_TRUE(osFileDelete(c.c_str()));
    EXPECT_FALSE(osFileDelete(c.c_str()));
    EXPECT_FALSE(osPathExists(c.c_str()));
}

#if !defined(_WIN32)
TEST(OsFiles, SharedFolderIsStickyWhateverTheUmask) {
    // Others may add files to the shared folder but not replace or remove
    // ours (links and FIFOs planted there: DriverLog's tests).
    std::string dir = testenvNewDir("umask");
    osSetEnv("ALLUSERSPROFILE", dir.substr(0, dir.size() - 1).c_str());
    mode_t old = umask(0);
    char log[512];
    int n = osSharedFilePath("QuorvaneDrv.log", log, sizeof log);
    umask(old);
    osSetEnv("ALLUSERSPROFILE", testenvSharedDir().c_str());
    ASSERT_GT(n, 0);
    struct stat st;
    ASSERT_EQ(0, stat((dir + "Quorvane").c_str(), &st));
    EXPECT_EQ(01777u, (unsigned)(st.st_mode & 07777));
    // A plain file opens, and blocks again once open: a whole write.
    OsFile f = osFileOpen(log, OS_FILE_WRITE | OS_FILE_CREATE | OS_FILE_APPEND | OS_FILE_PLAIN_ONLY);
    ASSERT_NE(OS_INVALID_FILE, f);
    EXPECT_EQ(2, osFileWrite(f, "ok", 2));
    osFileClose(f);
}
#endif

TEST(OsFiles, FoldersAndAttributes) {
    std::string dir = testenvNewDir("attr");
    std::string sub = dir + "sub";
    EXPECT_TRUE(osDirCreate(sub.c_str()));
    EXPECT_TRUE(osDirCreate(sub.c_str()));  // already there
    EXPECT_TRUE(osIsDirectory(sub.c_str()));
    EXPECT_EQ(OS_ATTR_DIRECTORY, osFileAttributes(sub.c_str()));

    std::string file = sub + osPathSeparator() + "f";
    ASSERT_TRUE(testenvWriteFile(file, "x"));
    EXPECT_FALSE(osIsDirectory(file.c_str()));
    EXPECT_FALSE(osDirCreate(file.c_str()));  // a file of that name
    EXPECT_EQ(0u, osFileAttributes(file.c_str()));
    EXPECT_TRUE(osSetReadOnly(file.c_str(), true));
    EXPECT_EQ(OS_ATTR_READONLY, osFileAttributes(file.c_str()));
    EXPECT_TRUE(osSetReadOnly(file.c_str(), false));
    EXPECT_EQ(0u, osFileAttributes(file.c_str()));
    EXPECT_EQ(OS_ATTR_INVALID, osFileAttributes((sub + osPathSeparator() + "missing").c_str()));

    EXPECT_FALSE(osDirRemove(sub.c_str()));  // not empty
    osSetReadOnly(file.c_str(), true);
    std::string deeper = sub + osPathSeparator() + "deeper";
    ASSERT_TRUE(osDirCreate(deeper.c_str()));
    ASSERT_TRUE(testenvWriteFile(deeper + osPathSeparator() + "g", "y"));
    EXPECT_TRUE(osDirRemoveTree(sub.c_str()));
    EXPECT_FALSE(osPathExists(sub.c_str()));
    EXPECT_TRUE(osDirRemoveTree(sub.c_str()));  // nothing left to remove

    std::string empty = dir + "empty";
    ASSERT_TRUE(osDirCreate(empty.c_str()));
    EXPECT_TRUE(osDirRemove(empty.c_str()));
}

TEST(OsFiles, TempDirEndsWithSeparator) {
    char tmp[512];
    int n = osTempDir(tmp, sizeof tmp);
    ASSERT_GT(n, 0);
    EXPECT_EQ((size_t)n, strlen(tmp));
    EXPECT_TRUE(osIsPathSeparator(tmp[n - 1]));
    EXPECT_TRUE(osIsDirectory(tmp));
    char tiny[2];
    EXPECT_EQ(-1, osTempDir(tiny, sizeof tiny));
    EXPECT_STREQ("", tiny);
}

// A text that fits with its terminator is copied whole; one that does not
// leaves an empty text; a buffer without room is not touched.
TEST(OsEnvironment, CopyOutFitsOrLeavesEmpty) {
    const struct {
        const char *text;
        size_t size;
        int result;
        const char *left;
    } cases[] = {{"abc", 4, 3, "abc"}, {"abc", 3, -1, ""}, {"", 1, 0, ""}, {"abc", 0, -1, "x"}};
    for (const auto &c : cases) {
        char buf[8] = "x";
        EXPECT_EQ(c.result, copyOut(c.text, buf, c.size)) << c.text << " in " << c.size;
        EXPECT_STREQ(c.left, buf) << c.text << " in " << c.size;
    }
    EXPECT_EQ(-1, copyOut("abc", nullptr, 4));
}

TEST(OsEnvironment, SetGetAndRemove) {
    char buf[64];
    EXPECT_TRUE(osSetEnv("QD_TEST_VALUE", "abc"));
    EXPECT_EQ(3, osGetEnv("QD_TEST_VALUE", buf, sizeof buf));
    EXPECT_STREQ("abc", buf);
    char small[3];
    EXPECT_EQ(-1, osGetEnv("QD_TEST_VALUE", small, sizeof small));
    EXPECT_STREQ("", small);
    EXPECT_TRUE(osSetEnv("QD_TEST_VALUE", nullptr));
    EXPECT_EQ(-1, osGetEnv("QD_TEST_VALUE", buf, sizeof buf));
    EXPECT_FALSE(osSetEnv("A=B", "x"));
}

TEST(OsEnvironment, SharedDataDirFollowsAllUsersProfile) {
    char buf[512];
    ASSERT_GT(osSharedDataDir(buf, sizeof buf), 0);
    EXPECT_EQ(testenvSharedDir(), buf);

    osSetEnv("ALLUSERSPROFILE", nullptr);
    int n = osSharedDataDir(buf, sizeof buf);
    osSetEnv("ALLUSERSPROFILE", testenvSharedDir().c_str());
    ASSERT_GT(n, 0);
    if (!testenvIsWindows()) {
        EXPECT_STREQ("/var/lib", buf);
    }
}

static void someFunction() {}

TEST(OsModules, MainModuleIsThisProgram) {
    char exe[512], mod[512];
    int n = osMainModulePath(exe, sizeof exe);
    ASSERT_GT(n, 0);
    std::string path(exe);
    std::string name = path.substr(path.find_last_of(osPathSeparator()) + 1);
    EXPECT_TRUE(name == "test_os" || name == "test_os.exe") << path;
    // This program links the layer statically: code of this file is in it.
    ASSERT_GT(osModulePathOf((const void *)&someFunction, mod, sizeof mod), 0);
    EXPECT_TRUE(osSameFile(exe, mod)) << exe << " / " << mod;
    char tiny[4];
    EXPECT_EQ(-1, osMainModulePath(tiny, sizeof tiny));
    EXPECT_STREQ("", tiny);

    osMainModulePathOverride("elsewhere");
    EXPECT_EQ(9, osMainModulePath(exe, sizeof exe));
    EXPECT_STREQ("elsewhere", exe);
    osMainModulePathOverride(nullptr);
    EXPECT_EQ(n, osMainModulePath(exe, sizeof exe));
}
