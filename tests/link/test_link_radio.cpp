// The Bluetooth and IrDA opens over the simulator's socket table: address
// or name, the device opened last first, the second connect, the candidate
// cap, malformed inquiry results; the IrDA device list, IAS answer and
// 9-wire check. Each failed open leaves no socket behind.
#include <cstring>
#include <string>
#include <vector>

#include "link/link_internal.h"
#include "link/sockets.h"
#include "tests/link/link_fixture.h"
#include "tests/support/log_lines.h"

namespace {

const char *const NAME = "Quorvane Halvex*";
const char *const A = "00:80:98:00:00:0A";
const char *const B = "00:80:98:00:00:0B";

class LinkRadio : public LinkTest {
protected:
    void SetUp() override {
        LinkTest::SetUp();
        linkUseSockets(ftsimSocketApi());
        btSetLastAddress(0);
    }
    void TearDown() override {
        linkUseSockets(nullptr);
        LinkTest::TearDown();
    }
    // Opens a Bluetooth link; the address text of what opened, or "" (and
    // no socket left open).
    std::string openBt(const char *id) {
        LinkHandle link = {LINK_USB, LINK_INVALID_HANDLE};
        char text[22] = "stale";
        if (OpenLink(LINK_BT, id, &link, text, sizeof text) != 1) {
            EXPECT_EQ(link.handle, LINK_INVALID_HANDLE);
            EXPECT_EQ(ftsimOpenSockets(), 0) << id;
            return "";
        }
        CloseLink(&link);
        return text;
    }
    static std::string paren(const char *address) { return std::string("(") + address + ")"; }
};

TEST_F(LinkRadio, AddressTextNeverStartsAnInquiry) {
    ftsimAddBluetooth(A, NAME);
    ftsimSetInquiryFault(LINK_ERR_NETDOWN);
    for (const char *id : {A, "(00:80:98:00:00:0a)"}) EXPECT_EQ(openBt(id), paren(A));
    EXPECT_FALSE(logHas("WSALookupService")) << newLog();
    EXPECT_EQ(btLastAddress(), 0x00809800000Aull);
    EXPECT_EQ(openBt(NAME), "") << "the inquiry fault was still armed";
    EXPECT_TRUE(logHas("!" + std::string(kLinkLookupFailed) + " 10050\n")) << newLog();
    ftsimSetInquiryResultFault(LINK_ERR_NETDOWN);
    EXPECT_EQ(openBt(NAME), "") << "a result the inquiry could not fetch";
    EXPECT_TRUE(logHas("!WSALookupServiceNext: WSALastError  10050\n")) << newLog();
    EXPECT_EQ(ftsimOpenSockets(), 0);
}

// Two devices of one name: the one opened last comes first; a failure
// other than "not a socket" or "not started" moves on to the other.
TEST_F(LinkRadio, DeviceOpenedLastIsTriedFirst) {
    int a = ftsimAddBluetooth(A, NAME);
    int b = ftsimAddBluetooth(B, "quorvane HALVEX*");
    EXPECT_EQ(openBt(NAME), paren(A)) << "discovery order";
    EXPECT_EQ(openBt(B), paren(B));
    EXPECT_EQ(openBt(NAME), paren(B)) << "the one opened last";
    ftsimSetConnectFault(b, LINK_ERR_CONNREFUSED, 1);
    EXPECT_EQ(openBt(NAME), paren(A));
    EXPECT_EQ(openBt(NAME), paren(A));
    ftsimSetConnectFault(a, LINK_ERR_NOTSOCK, 1);
    EXPECT_EQ(openBt(NAME), "") << "10038 stops the walk";
    EXPECT_EQ(btLastAddress(), 0u);
    EXPECT_EQ(openBt("Quorvane Halvex"), "") << "names match whole";
}

// A connect is tried twice on an invalid argument, and on a time-out only
// at the device opened last; a second failure says so.
TEST_F(LinkRadio, SecondConnect) {
    const struct {
        int error;
        bool last;
        int failures;
        bool secondTry;
    } cases[] = {{LINK_ERR_TIMEDOUT, true, 1, true}, {LINK_ERR_TIMEDOUT, false, 1, false},
                 {LINK_ERR_INVALID, false, 1, true}, {LINK_ERR_CONNREFUSED, true, 1, false},
                 {LINK_ERR_TIMEDOUT, true, 2, true}};
    for (const auto &c : cases) {
        ftsimReset();
        int a = ftsimAddBluetooth(A, NAME);
        btSetLastAddress(c.last ? 0x00809800000Aull : 0);
        ftsimSetConnectFault(a, c.error, c.failures);
        std::string before = newLog();
        const bool opens = c.secondTry && c.failures == 1;
        EXPECT_EQ(openBt(A), opens ? paren(A) : "") << c.error;
        std::string log = newLog().substr(before.size());
        const std::string error = "WSAGetLastError " + std::to_string(c.error) + "\n";
        EXPECT_EQ(log.find("!connect 1st trial: " + error) != std::string::npos, c.secondTry) << log;
        EXPECT_EQ(log.find("!" + std::string(kLinkConnectFailed) + " " + std::to_string(c.error) + "\n") != std::string::npos,
                  !c.secondTry)
            << log;
        EXPECT_EQ(log.find("!connect 2nd trail: " + error) != std::string::npos, c.secondTry && !opens) << log;
    }
}

TEST_F(LinkRadio, OnlyTheFirst255DevicesOfANameAreCandidates) {
    for (int phantoms : {255, 254}) {
        ftsimReset();
        ASSERT_EQ(ftsimAddInquiryResults("00:80:98:00:10:00", NAME, phantoms), 0);
        ftsimAddBluetooth(A, NAME);
        uint32_t count = 0;
        uint64_t found[BT_CANDIDATES_ROOM] = {};
        ASSERT_EQ(Name2AddrBt(NAME, 0, &count, found), 0);
        EXPECT_EQ(count, (uint32_t)phantoms + 1);
        EXPECT_EQ(found[254], phantoms == 255 ? 0x0080980010FEull : 0x00809800000Aull);
        EXPECT_EQ(found[255], 0u);
        EXPECT_EQ(openBt(NAME), phantoms == 255 ? "" : paren(A));
    }
}

// Results without a name, with a name longer than a device name may be, or
// with another name are passed over; a long name makes the lookup's buffer
// grow.
TEST_F(LinkRadio, MalformedInquiryResults) {
    std::string longName(249, 'x');
    std::string grown(200, 'y');
    ASSERT_EQ(ftsimAddInquiryResults("00:80:98:00:20:00", nullptr, 2), 0);
    ASSERT_EQ(ftsimAddInquiryResults("00:80:98:00:30:00", longName.c_str(), 1), 0);
    ASSERT_EQ(ftsimAddInquiryResults("00:80:98:00:40:00", grown.c_str(), 1), 0);
    ftsimAddBluetooth(A, NAME);
    EXPECT_EQ(openBt(NAME), paren(A));
    EXPECT_TRUE(logHas("!" + std::string(kLinkBtNameTooLong) + " 249\n")) << newLog();
    EXPECT_TRUE(logHas("Found device \"Quorvane Halvex*\": (00:80:98:00:00:0A)\n"));
    uint32_t count = 0;
    uint64_t found[BT_CANDIDATES_ROOM] = {};
    EXPECT_EQ(Name2AddrBt(grown.c_str(), 0, &count, found), 0);
    EXPECT_EQ(found[0], 0x008098004000ull);
    EXPECT_EQ(Name2AddrBt("nobody", 0, &count, found), -1) << "no match: no connect";
    EXPECT_EQ(Name2AddrBt(nullptr, 0, &count, found), -1);
}

// The IrDA open: the first device in range, its IAS answer, the 9-wire
// check over the parameter list.
TEST_F(LinkRadio, IrdaPeerMustAnnounceNineWire) {
    const struct {
        uint32_t type, claimed;
        std::vector<uint8_t> octets;
        const char *refusal;   // null: opens
    } cases[] = {
        {2, 3, {0x00, 0x01, 0x04}, nullptr},
        {2, 6, {0x01, 0x01, 0x00, 0x00, 0x01, 0x06}, nullptr},
        {2, 3, {0x00, 0x01, 0x02}, "!getsockopt 2: peer doesn't support 9 wire mode\n"},
        {2, 5, {0x01, 0x05, 0x00, 0x01, 0x04}, "!getsockopt 2: peer doesn't support 9 wire mode\n"},
        {2, 4, {0x00, 0x00, 0x00, 0x04}, "!getsockopt 2: peer doesn't support 9 wire mode\n"},
        {3, 3, {0x00, 0x01, 0x04}, "!getsockopt 2: Peer's IAS database entry for IrCOMM is bad\n"},
        {2, 2, {0x00, 0x00}, "!getsockopt 2: Peer's IAS database entry for IrCOMM is bad\n"},
        {2, 40, {0x00, 0x01, 0x04}, "!getsockopt 2: Peer's IAS database entry for IrCOMM is bad\n"},
        {2, 2000, {0x00, 0x01, 0x04}, "!getsockopt 2: Peer's IAS database entry for IrCOMM is bad\n"},
    };
    for (const auto &c : cases) {
        ftsimReset();
        int first = ftsimAddIrda("Brev");
        ftsimAddIrda("Other");
        ASSERT_EQ(ftsimSetIasAnswer(first, c.type, c.claimed, c.octets.data(), c.octets.size()), 0);
        std::string before = newLog();
        LinkHandle link = {LINK_USB, LINK_INVALID_HANDLE};
        char id[22] = "stale";
        int opened = OpenLink(LINK_IRDA, nullptr, &link, id, sizeof id);
        EXPECT_EQ(opened, c.refusal ? 0 : 1) << c.refusal;
        EXPECT_STREQ(id, "");
        if (opened) {
            EXPECT_EQ(state(first).open, 1) << "the first device listed";
        }
        CloseLink(&link);
        EXPECT_EQ(newLog().substr(before.size()), c.refusal ? c.refusal : "");
        EXPECT_EQ(ftsimOpenSockets(), 0);
    }
    ftsimReset();
    LinkHandle link = {LINK_IRDA, LINK_INVALID_HANDLE};
    EXPECT_EQ(OpenLink(LINK_IRDA, nullptr, &link, nullptr, 0), 0);
    EXPECT_TRUE(logHas(errorLine(kLinkIrdaNoDevice)));
}

// A connection the peer breaks is a broken link: reads fail with the
// connection error and the owner hears of it.
TEST_F(LinkRadio, BrokenConnectionIsReported) {
    int a = ftsimAddBluetooth(A, NAME);
    LinkHandle link = {LINK_BT, LINK_INVALID_HANDLE};
    ASSERT_EQ(OpenLink(LINK_BT, A, &link, nullptr, 0), 1);
    EXPECT_EQ(SendLink(&link, 2, "\x01\x00"), 2);
    uint8_t written[4];
    EXPECT_EQ(ftsimTakeWritten(a, written, sizeof written), 2);
    ASSERT_EQ(ftsimDropConnection(a), 0);
    uint8_t b;
    EXPECT_EQ(RecvLink(&link, &b), -1);
    EXPECT_EQ(brokenReports(), 1u);
    EXPECT_TRUE(logHas("!" + std::string(kLinkQueueFailed) + " 10054\n"));
    CloseLink(&link);
    EXPECT_EQ(ftsimOpenSockets(), 0);
}

}  // namespace
