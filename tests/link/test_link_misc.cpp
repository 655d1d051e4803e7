// Library start and stop, and the link types whose transports are not
// available here (the system's own sockets, no Bluetooth adapter, no IrDA
// stack): each open fails with one log line, an invalid handle and no
// descriptor left open.
#include <cstring>
#include <set>
#include <string>

#if !defined(_WIN32)
#include <dirent.h>
#endif

#include "tests/link/link_fixture.h"

namespace {

class LinkLibrary : public LinkTest {};

TEST_F(LinkLibrary, StartIsIdempotentAndRestartable) {
    EXPECT_EQ(InitLinkLibrary(), 1);
    EXPECT_EQ(InitLinkLibrary(), 1);
    EXPECT_TRUE(linkLibraryReady());
    ReleaseLinkLibrary();
    EXPECT_FALSE(linkLibraryReady());
    ReleaseLinkLibrary();
    EXPECT_EQ(InitLinkLibrary(), 1);
    EXPECT_TRUE(linkLibraryReady());
}

static size_t errorLines(const std::string &log) {
    size_t n = 0;
    for (size_t at = 0; at < log.size();) {
        if (log[at] == '!') ++n;
        size_t end = log.find('\n', at);
        if (end == std::string::npos) break;
        at = end + 1;
    }
    return n;
}

// Open descriptors of the process (-1 where they cannot be counted).
static int openDescriptors() {
#if defined(_WIN32)
    return -1;
#else
    DIR *d = opendir("/proc/self/fd");
    if (d == nullptr) return -1;
    int n = 0;
    while (readdir(d) != nullptr) ++n;
    closedir(d);
    return n;
#endif
}

TEST_F(LinkLibrary, UnavailableTransportsFailCleanly) {
    int descriptors = openDescriptors();
    LinkHandle link = {LINK_USB, 0x77};
    char id[22] = "stale";
    EXPECT_EQ(OpenLink(LINK_IRDA, nullptr, &link, id, sizeof id), 0);
    EXPECT_EQ(link.type, LINK_IRDA);
    EXPECT_EQ(link.handle, LINK_INVALID_HANDLE);
    EXPECT_STREQ(id, "");
    EXPECT_EQ(errorLines(newLog()), 1u);

    // Bluetooth by address and by name.
    for (const char *device : {"00:11:22:33:44:55", "Quorvane Halvex*"}) {
        link.handle = 0x77;
        std::string before = newLog();
        EXPECT_EQ(OpenLink(LINK_BT, device, &link, id, sizeof id), 0);
        EXPECT_EQ(link.handle, LINK_INVALID_HANDLE);
        EXPECT_EQ(errorLines(newLog().substr(before.size())), 1u) << newLog();
    }
    EXPECT_EQ(openDescriptors(), descriptors);

    // Bluetooth LE: without a usable GATT library, or with no device found.
    link.handle = 0x77;
    EXPECT_EQ(OpenLink(LINK_BLE, "Quorvane Halvex*", &link, id, sizeof id), 0);
    EXPECT_EQ(link.type, LINK_BLE);
    EXPECT_EQ(link.handle, LINK_INVALID_HANDLE);
    const uint8_t b = 0;
    uint8_t r;
    EXPECT_EQ(SendLink(&link, 1, &b), -1);
    EXPECT_EQ(QueueStatusLink(&link), -1);
    EXPECT_EQ(RecvLink(&link, &r), -1);
    EXPECT_EQ(brokenReports(), 0u);
    CloseLink(&link);
}

// Every link kind is complete and sits at the position of its key (the
// loader's list shows them in that order); no spelling names two kinds.
TEST(LinkKinds, RowsAreCompleteAndNamesUnique) {
    std::set<std::string> spellings, titles;
    for (int k = 0; k < LINK_KIND_COUNT; ++k) {
        const LinkKind &kind = kLinkKinds[k];
        EXPECT_EQ(kind.key, k);
        EXPECT_EQ(linkKind(kind.key), &kind);
        ASSERT_TRUE(kind.name && kind.title && kind.noAnswerHint) << k;
        EXPECT_TRUE(titles.insert(kind.title).second) << kind.title;
        for (const char *name : {kind.name, kind.altName}) {
            if (!name) continue;
            EXPECT_TRUE(spellings.insert(name).second) << name;
            EXPECT_EQ(linkKindByName(name), &kind) << name;
        }
    }
    EXPECT_EQ(linkKind((uint32_t)LINK_KIND_COUNT), nullptr);
    EXPECT_EQ(linkKindByName("wifi"), nullptr);
}

}  // namespace
