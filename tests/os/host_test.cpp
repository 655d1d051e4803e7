// What host programs use: libraries loaded at run time and why a load
// failed, the bitness of image files, the interrupt key, the thread count.
#include <gtest/gtest.h>

#include <atomic>
#include <csignal>
#include <string>

#include "os/os.h"
#include "tests/support/testenv.h"

namespace {

const int kOwnBits = (int)(8 * sizeof(void *));

// The first 512 bytes of an ELF file of the given class.
std::string elfHeader(int elfClass) {
    std::string h = std::string("\x7f" "ELF", 4) + (char)elfClass;
    h.resize(512, '\0');
    return h;
}

// The first 512 bytes of a PE file whose headers start at offset (left out
// when they would not fit), with the given optional-header magic.
std::string peHeader(unsigned magic, uint32_t offset = 0x80) {
    std::string h(512, '\0');
    h[0] = 'M';
    h[1] = 'Z';
    for (int i = 0; i < 4; ++i) h[0x3C + i] = (char)(offset >> (8 * i));
    if (offset + 26 <= h.size()) {
        h.replace(offset, 4, std::string("PE\0\0", 4));
        h[offset + 24] = (char)(magic & 0xFF);
        h[offset + 25] = (char)(magic >> 8);
    }
    return h;
}

}  // namespace

TEST(OsHost, ImageBitsComeFromTheFilesOwnHeader) {
    std::string dir = testenvNewDir("image");
    const struct {
        const char *name;
        std::string bytes;
        int bits;
    } cases[] = {
        {"elf32", elfHeader(1), 32},
        {"elf64", elfHeader(2), 64},
        {"elf-odd-class", elfHeader(3), 0},
        {"pe32", peHeader(0x10B), 32},
        {"pe32plus", peHeader(0x20B), 64},
        {"pe-rom", peHeader(0x107), 0},
        {"pe-headers-beyond-the-end", peHeader(0x20B, 0x7FFFFFF0u), 0},
        {"mz-short", std::string("MZ\x90\0", 4), 0},
        {"text", "not a library\n", 0},
        {"empty", "", 0},
    };
    for (const auto &c : cases) {
        std::string path = dir + c.name;
        ASSERT_TRUE(testenvWriteFile(path, c.bytes));
        EXPECT_EQ(c.bits, osImageBits(path.c_str())) << c.name;
    }
    EXPECT_EQ(0, osImageBits((dir + "missing").c_str()));
    EXPECT_EQ(kOwnBits, osImageBits(QD_OS_TESTLIB));
}

TEST(OsHost, LibraryLoadsAndAFailedLoadSaysWhy) {
    std::string dir = testenvNewDir("load");
    std::string other = dir + "other-bitness.bin", text = dir + "text.bin";
    int otherBits = kOwnBits == 64 ? 32 : 64;
    ASSERT_TRUE(testenvWriteFile(other, testenvIsWindows() ? peHeader(otherBits == 64 ? 0x20B : 0x10B)
                                                           : elfHeader(otherBits == 64 ? 2 : 1)));
    ASSERT_TRUE(testenvWriteFile(text, "not a library\n"));
    const struct {
        std::string path;
        OsLoadKind kind;
    } cases[] = {
        {dir + "missing.bin", OS_LOAD_NOT_FOUND},
        {text, OS_LOAD_NOT_A_LIBRARY},
        {other, OS_LOAD_WRONG_BITNESS},
        {QD_OS_TESTUSER, OS_LOAD_MISSING_DEPENDENCY},
        {"", OS_LOAD_NOT_FOUND},
    };
    for (const auto &c : cases) {
        OsLoadFailure failure;
        EXPECT_EQ(nullptr, osLibraryLoad(c.path.c_str(), false, &failure)) << c.path;
        EXPECT_EQ(c.kind, failure.kind) << c.path << ": " << failure.text;
        EXPECT_NE('\0', failure.text[0]) << c.path;
    }
    OsLoadFailure failure;
    OsLibrary lib = osLibraryLoad(QD_OS_TESTLIB, false, &failure);
    ASSERT_NE(nullptr, lib) << failure.text;
    EXPECT_EQ(OS_LOAD_OK, failure.kind);
    int (*answer)() = (int (*)())osLibrarySymbol(lib, "qdOsTestAnswer");
    ASSERT_NE(nullptr, answer);
    EXPECT_EQ(42, answer());
    EXPECT_EQ(nullptr, osLibrarySymbol(lib, "qdOsTestNoSuchName"));
    osLibraryUnload(lib);
}

TEST(OsHost, InterruptKeyIsCountedInsteadOfEndingTheProcess) {
    osInterruptCatch();
    osInterruptCatch();
    int before = osInterruptCount();
    std::raise(SIGINT);
    std::raise(SIGINT);
    EXPECT_EQ(before + 2, osInterruptCount());
}

TEST(OsHost, ThreadCountFollowsTheThreadsOfTheProcess) {
    static std::atomic<bool> release{false};
    int before = osProcessThreadCount();
    ASSERT_GT(before, 0);
    OsThread t = osThreadStart([](void *) { while (!release) osSleep(1); }, nullptr, 0, OS_PRIORITY_NORMAL);
    ASSERT_NE(nullptr, t);
    EXPECT_EQ(before + 1, osProcessThreadCount());
    release = true;
    osThreadJoin(t);
    int after = osProcessThreadCount();
    for (uint32_t waited = 0; after != before && waited < kTestHangMs; waited += 10) {
        osSleep(10);
        after = osProcessThreadCount();
    }
    EXPECT_EQ(before, after);
}
