// The socket paths of the link layer (Bluetooth and IrDA links use them once
// open), over a connected pair of local stream sockets.
#include <cstring>

#if defined(_WIN32)
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <sys/socket.h>
#include <unistd.h>
#endif

#include "tests/link/link_fixture.h"
#include "tests/support/log_lines.h"

namespace {

#if defined(_WIN32)
typedef SOCKET Sock;
bool makePair(uintptr_t *a, Sock *b) {
    SOCKET listener = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in addr = {};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int len = sizeof addr;
    if (bind(listener, (sockaddr *)&addr, sizeof addr) != 0 || listen(listener, 1) != 0 ||
        getsockname(listener, (sockaddr *)&addr, &len) != 0) {
        closesocket(listener);
        return false;
    }
    SOCKET client = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (connect(client, (sockaddr *)&addr, sizeof addr) != 0) return false;
    SOCKET server = accept(listener, nullptr, nullptr);
    closesocket(listener);
    *a = (uintptr_t)client;
    *b = server;
    return server != INVALID_SOCKET;
}
int peerSend(Sock s, const void *d, int n) { return send(s, (const char *)d, n, 0); }
int peerRecv(Sock s, void *d, int n) { return recv(s, (char *)d, n, 0); }
void peerReset(Sock s) {
    linger l = {1, 0};  // close with a reset
    setsockopt(s, SOL_SOCKET, SO_LINGER, (const char *)&l, sizeof l);
    closesocket(s);
}
#else
typedef int Sock;
bool makePair(uintptr_t *a, Sock *b) {
    int fds[2];
    if (socketpair(AF_UNIX, SOCK_STREAM, 0, fds) != 0) return false;
    *a = (uintptr_t)fds[0];
    *b = fds[1];
    return true;
}
int peerSend(Sock s, const void *d, int n) { return (int)send(s, d, (size_t)n, 0); }
int peerRecv(Sock s, void *d, int n) { return (int)recv(s, d, (size_t)n, 0); }
void peerReset(Sock s) { close(s); }
#endif

class LinkSocket : public LinkTest {
protected:
    void SetUp() override {
        LinkTest::SetUp();
        uintptr_t mine;
        ASSERT_TRUE(makePair(&mine, &peer));
        link.type = LINK_BT;
        link.handle = mine;
    }
    void TearDown() override {
        CloseLink(&link);
        if (!peerClosed) peerReset(peer);
        LinkTest::TearDown();
    }
    // Waits until the link reports at least n bytes.
    int32_t waitFor(int32_t n) {
        int32_t q = 0;
        for (uint32_t i = 0; i < kTestHangMs && (q = QueueStatusLink(&link)) >= 0 && q < n; ++i) osSleep(1);
        return q;
    }
    LinkHandle link = {LINK_BT, LINK_INVALID_HANDLE};
    Sock peer;
    bool peerClosed = false;
};

TEST_F(LinkSocket, BytesBothWays) {
    EXPECT_EQ(SendLink(&link, 0, "x"), 0);
    EXPECT_EQ(SendLink(&link, 3, "\x02\x04\x40"), 3);
    char got[4] = {};
    ASSERT_EQ(peerRecv(peer, got, 3), 3);
    EXPECT_EQ(std::memcmp(got, "\x02\x04\x40", 3), 0);

    uint8_t b = 0;
    EXPECT_EQ(RecvLink(&link, &b), 0);
    ASSERT_EQ(peerSend(peer, "\x81\x01", 2), 2);
    ASSERT_EQ(waitFor(2), 2);
    ASSERT_EQ(RecvLink(&link, &b), 1);
    EXPECT_EQ(b, 0x81);
    ASSERT_EQ(RecvLink(&link, &b), 1);
    EXPECT_EQ(b, 0x01);
    EXPECT_EQ(RecvLink(&link, &b), 0);
    EXPECT_EQ(newLog(), "");
}

TEST_F(LinkSocket, PeerGoneIsABrokenLink) {
    peerReset(peer);
    peerClosed = true;
    osSleep(20);
    int32_t rc = 0;
    // The first send after the peer left may still be taken by the stack.
    for (int i = 0; i < 5 && rc >= 0; ++i) rc = SendLink(&link, 2, "\x01\x00");
    EXPECT_EQ(rc, -1);
    EXPECT_EQ(brokenReports(), 1u);
    EXPECT_TRUE(logHas("!" + std::string(kLinkSendFailed) + " 1005")) << newLog();
}

// A peer that leaves a quiet link: the bytes it sent before are read, then
// the end of the connection is a broken link, without a send to find it.
TEST_F(LinkSocket, PeerGoneWhileQuietIsABrokenLink) {
#if defined(_WIN32)
    GTEST_SKIP() << "the Windows table takes Winsock's FIONREAD as it answers";
#endif
    ASSERT_EQ(peerSend(peer, "\x81\x01", 2), 2);
    peerReset(peer);
    peerClosed = true;
    ASSERT_EQ(waitFor(2), 2);
    uint8_t b[2] = {};
    ASSERT_EQ(RecvLink(&link, &b[0]), 1);
    ASSERT_EQ(RecvLink(&link, &b[1]), 1);
    EXPECT_EQ(b[1], 0x01);
    EXPECT_EQ(RecvLink(&link, &b[0]), -1);
    EXPECT_EQ(brokenReports(), 1u);
    EXPECT_TRUE(logHas("!" + std::string(kLinkQueueFailed) + " 10057")) << newLog();
}

TEST_F(LinkSocket, InvalidSocket) {
    LinkHandle bogus = {LINK_IRDA, (uintptr_t)0x7FFF0000};
    uint8_t b;
    EXPECT_EQ(QueueStatusLink(&bogus), -1);
    EXPECT_EQ(RecvLink(&bogus, &b), -1);
    CloseLink(&bogus);
    EXPECT_EQ(bogus.handle, LINK_INVALID_HANDLE);
    EXPECT_EQ(newLog(),
              "!ioctlsocket: WSAGetLastError 10038\n"
              "!ioctlsocket: WSAGetLastError 10038\n"
              "!closesocket: WSAGetLastError 10038\n");
    EXPECT_EQ(brokenReports(), 0u);
}

}  // namespace
