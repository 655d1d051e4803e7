// codec_test.cpp - the frame receiver, validation texts, trace lines and
// frame building.
#include <string>
#include <vector>

#include "API/driver/protocol/codec.h"
#include "tests/protocol/harness.h"
#include "tests/support/log_lines.h"

namespace {

struct Frame {
    std::vector<uint8_t> body;
};

// Feeds bytes and collects the complete bodies and the over-long reports.
struct Feeder {
    Receiver rx;
    std::vector<Frame> frames;
    int tooLong = 0;
    Feeder() { rxReset(&rx); }
    void feed(const std::vector<uint8_t> &bytes) {
        for (uint8_t b : bytes) {
            uint32_t n = 0;
            RxEvent e = rxFeed(&rx, b, 0, &n);
            if (e == RX_FRAME) frames.push_back({std::vector<uint8_t>(rx.body, rx.body + n)});
            if (e == RX_TOO_LONG) tooLong++;
        }
    }
};

std::vector<uint8_t> repeat(uint8_t value, size_t count) { return std::vector<uint8_t>(count, value); }

}  // namespace

class Codec : public ProtocolTest {};

TEST_F(Codec, TwoByteLengthAnnouncesBodyAbove127) {
    Feeder f;
    f.feed({0x81, 0x01});
    f.feed(repeat(0xAB, 128));
    EXPECT_TRUE(f.frames.empty()) << "129 bytes were announced, 128 given";
    f.feed({0xCD});
    ASSERT_EQ(f.frames.size(), 1u);
    EXPECT_EQ(f.frames[0].body.size(), 129u);
    EXPECT_EQ(f.frames[0].body.back(), 0xCD);
}

TEST_F(Codec, OverLongFrameIsSkippedWholeAndTheNextOneIsRead) {
    LogWatch log;
    Feeder f;
    f.feed({0x82, 0x02});   // 2 + 2 * 128 = 258
    EXPECT_EQ(f.tooLong, 1);
    f.feed(repeat(0x01, 257));
    f.feed({0x02});          // last skipped byte
    EXPECT_TRUE(f.frames.empty());
    f.feed({0x02, 0x84, 0x00});
    ASSERT_EQ(f.frames.size(), 1u);
    EXPECT_EQ(f.frames[0].body, (std::vector<uint8_t>{0x84, 0x00}));
    EXPECT_TRUE(log.contains(errorLine(kLogMessageTooLong)));
}

// The length is read to the end of its prefix before an over-long frame is
// skipped: a prefix byte must not count as a skipped body byte.
TEST_F(Codec, OverLongLengthIsReadToItsEndBeforeTheSkip) {
    Feeder f;
    f.feed({0xFF, 0x83, 0x00});   // 127 + 3 * 128 = 511, written in three bytes
    EXPECT_EQ(f.tooLong, 1);
    f.feed(repeat(0x01, 511));
    f.feed({0x01, 0xC0});
    ASSERT_EQ(f.frames.size(), 1u);
    EXPECT_EQ(f.frames[0].body, std::vector<uint8_t>{0xC0});
}

// The loader's receiver is the same with its own limit of 513 bytes.
TEST_F(Codec, LimitIsTheCallersAndTheFrameBuilderKeepsIt) {
    Receiver rx;
    rxReset(&rx);
    const uint32_t limit = 513;
    std::vector<uint8_t> frame(frameSize(limit));
    std::vector<uint8_t> payload(limit - 1, 0x5A);
    uint32_t size = frameBuild(frame.data(), limit, 0x92, payload.data(), limit - 1);
    ASSERT_EQ(size, limit + 2);
    EXPECT_EQ(frameBuild(frame.data(), limit, 0x92, payload.data(), limit), 0u);
    uint32_t n = 0, frames = 0;
    for (uint32_t i = 0; i < size; i++) frames += rxTake(&rx, frame[i], limit, &n) == RX_FRAME;
    EXPECT_EQ(frames, 1u);
    EXPECT_EQ(n, limit);
    EXPECT_EQ(rx.body[0], 0x92);
    EXPECT_EQ(rxTake(&rx, 0x82, limit, &n), RX_MORE);
    EXPECT_EQ(rxTake(&rx, 0x04, limit, &n), RX_TOO_LONG) << "514 is one above the limit";
}

TEST_F(Codec, ZeroBytesBetweenFramesAreSkipped) {
    Feeder f;
    f.feed({0x00, 0x00, 0x01, 0x00});
    ASSERT_EQ(f.frames.size(), 1u);
    EXPECT_EQ(f.frames[0].body, std::vector<uint8_t>{0x00});
    // A zero length written in two bytes starts no frame either.
    f.feed({0x80, 0x00, 0x01, 0x80});
    ASSERT_EQ(f.frames.size(), 2u);
    EXPECT_EQ(f.frames[1].body, std::vector<uint8_t>{0x80});
}

// A length prefix of continuation bytes without end must not shift the
// length past 32 bits; it counts as an over-long frame.
TEST_F(Codec, EndlessLengthPrefixIsTooLongAndTheStreamRecovers) {
    LogWatch log;
    Feeder f;
    f.feed(repeat(0x80, 5));
    EXPECT_EQ(f.tooLong, 1);
    f.feed({0x01, 0xC0});
    ASSERT_EQ(f.frames.size(), 1u);
    EXPECT_EQ(f.frames[0].body, std::vector<uint8_t>{0xC0});

    // With bytes announced in the first group those are skipped.
    Feeder g;
    g.feed({0x83, 0x80, 0x80, 0x80, 0x80});
    EXPECT_EQ(g.tooLong, 1);
    g.feed({0x11, 0x22, 0x33});
    g.feed({0x01, 0x8A});
    ASSERT_EQ(g.frames.size(), 1u);
    EXPECT_EQ(g.frames[0].body, std::vector<uint8_t>{0x8A});

    // A large group at the last shift is no valid frame either.
    Feeder h;
    h.feed({0x80, 0x80, 0x80, 0x80, 0x7F});
    EXPECT_EQ(h.tooLong, 1);
    EXPECT_TRUE(log.contains(errorLine(kLogMessageTooLong)));
}

TEST_F(Codec, HalvexValidationTexts) {
    LogWatch log;
    const uint8_t command[] = {0x08};
    const uint8_t noMeaning[] = {0x45, 0x00};
    const uint8_t unimplemented[] = {0x93, 0x00};
    const uint8_t unknown[] = {0x96, 0x00};
    const uint8_t unknownNotification[] = {0xC3, 0x00};
    const uint8_t extData[] = {0xC2, 0x00};
    EXPECT_FALSE(msgValidate(&halvexTables, 0, command, 1));
    EXPECT_FALSE(msgValidate(&halvexTables, 0, noMeaning, 2));
    EXPECT_FALSE(msgValidate(&halvexTables, 2, unimplemented, 2));
    EXPECT_FALSE(msgValidate(&halvexTables, 0, unknown, 2));
    EXPECT_FALSE(msgValidate(&halvexTables, 0, unknownNotification, 2));
    EXPECT_FALSE(msgValidate(&halvexTables, 0, extData, 2));
    std::string text = log.text();
    EXPECT_NE(text.find(errorLine(kLogInvalidDirection + std::string("."))), std::string::npos);
    EXPECT_NE(text.find(errorLine("(2) " + std::string(kLogUnimplementedMessage) + ".")), std::string::npos);
    EXPECT_NE(text.find(errorLine(kLogUnknownMessage + std::string("."))), std::string::npos);
}

TEST_F(Codec, ShortErrorRepliesPassOnlyInTheHalvexFamily) {
    LogWatch log;
    const uint8_t errorReply[] = {0x80, 0x03};
    const uint8_t okReply[] = {0x80, 0x00};
    const uint8_t shortEvent[] = {0xC0};
    EXPECT_TRUE(msgValidate(&halvexTables, 0, errorReply, 2));
    EXPECT_TRUE(msgValidate(&searchTables, 0, errorReply, 2));
    EXPECT_FALSE(msgValidate(&halvexTables, 0, okReply, 2));
    EXPECT_FALSE(msgValidate(&halvexTables, 0, shortEvent, 1));
    EXPECT_FALSE(msgValidate(&brevTables, 0, errorReply, 2));
    std::string text = log.text();
    EXPECT_NE(text.find(errorLine(kLogMessageTooShort + std::string("."))), std::string::npos);
    EXPECT_NE(text.find(errorLine(kLogMessageTooShort)), std::string::npos) << "Brev texts have no period";
}

TEST_F(Codec, SearchKnowsOnlyTheDeviceInformation) {
    const uint8_t firmInfo[] = {0x81, 0x00};
    const uint8_t event[] = {0xC0, 0x40};
    std::vector<uint8_t> info(69, 0);
    info[0] = 0x80;
    EXPECT_FALSE(msgValidate(&searchTables, 0, firmInfo, 2));
    EXPECT_FALSE(msgValidate(&searchTables, 0, event, 2));
    EXPECT_TRUE(msgValidate(&searchTables, 0, info.data(), 69));
    EXPECT_FALSE(msgValidate(&searchTables, 0, info.data(), 68));
}

TEST_F(Codec, TraceLines) {
    LogWatch log;
    const uint8_t command[] = {0x04, 0x40};
    const uint8_t reply[] = {0x84, 0x00};
    const uint8_t unknown[] = {0x96, 0x01};
    const uint8_t data[] = {0xC1, 0x00, 0x00, 0x00, 0x00};
    const uint8_t rawData[] = {0xC4, 0x10, 0x00};
    const uint8_t event[] = {0xC0, 0x40, 0x02};
    msgTrace(&halvexTables, 0, command, 2);
    msgTrace(&halvexTables, 3, reply, 2);
    msgTrace(&halvexTables, 0, unknown, 2);
    msgTrace(&halvexTables, 0, data, 5);
    msgTrace(&brevTables, 0, rawData, 3);
    msgTrace(&searchTables, 0, event, 3);
    std::string text = log.text();
    EXPECT_NE(text.find("< CMD_SET_NOTIF 40 \n"), std::string::npos);
    EXPECT_NE(text.find("> (3) REP_SET_NOTIF 00 \n"), std::string::npos);
    EXPECT_NE(text.find("> 96 01 \n"), std::string::npos);
    EXPECT_EQ(text.find("NOT_DATA"), std::string::npos);
    EXPECT_EQ(text.find("NOT_RAW_DATA"), std::string::npos);
    EXPECT_EQ(text.find("c0 40 02"), std::string::npos);
    EXPECT_EQ(text.find("NOT_EVENT"), std::string::npos);
}

TEST_F(Codec, LongTraceLineIsWrittenWhole) {
    LogWatch log;
    std::vector<uint8_t> body(255);
    for (size_t i = 0; i < body.size(); i++) body[i] = (uint8_t)i;
    body[0] = 0x86;   // REP_READ_CFG
    msgTrace(&halvexTables, 0, body.data(), (uint32_t)body.size());
    std::string expected = "> REP_READ_CFG ";
    for (size_t i = 1; i < body.size(); i++) {
        char hex[4];
        snprintf(hex, sizeof hex, "%02x ", body[i]);
        expected += hex;
    }
    expected += "\n";
    EXPECT_NE(log.text().find(expected), std::string::npos);
}

TEST_F(Codec, FrameBuilding) {
    uint8_t tx[MSG_TX_SIZE];
    const uint8_t mask = 0xE0;
    ASSERT_EQ(msgBuild(tx, 0x04, &mask, 1), 3u);
    EXPECT_EQ(tx[0], 2);
    EXPECT_EQ(tx[1], 0x04);
    EXPECT_EQ(tx[2], 0xE0);
    std::vector<uint8_t> payload(200, 7);
    // A body above 127 bytes needs a second length byte; the receiver reads it back.
    uint32_t size = msgBuild(tx, 0x07, payload.data(), 200);
    ASSERT_EQ(size, 203u);
    Feeder f;
    f.feed(std::vector<uint8_t>(tx, tx + size));
    ASSERT_EQ(f.frames.size(), 1u);
    EXPECT_EQ(f.frames[0].body.size(), 201u);
    std::vector<uint8_t> tooBig(255, 0);
    EXPECT_EQ(msgBuild(tx, 0x07, tooBig.data(), 255), 0u);
}
