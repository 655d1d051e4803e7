// packet_test.cpp - sample packets into EDF and TSV files: the header on the
// first packet, phase continuity, EDF blocks as they fill, TSV lines with
// rate masks, completion of the record count, and failing writes.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "API/driver/ui/recorder.h"
#include "tests/recording/recording_helpers.h"
#include "tests/support/testenv.h"

namespace {

// Packets the way a device sends them: ticks from a phase on, each channel
// due when ((tick + 1) & mask) == 0, the channel's n-th value given by f.
struct Stream {
    std::vector<uint16_t> masks;
    std::vector<uint32_t> next;     // per channel: index of its next sample
    int16_t (*f)(int channel, uint32_t n);
    uint16_t phase = 0;

    Stream(std::vector<uint16_t> m, int16_t (*fn)(int, uint32_t)) : masks(m), next(m.size(), 0), f(fn) {}

    Packet packet(int ticks) {
        std::vector<std::vector<int16_t>> values(masks.size());
        for (int t = 0; t < ticks; t++) {
            uint16_t tick = (uint16_t)(phase + t);
            for (size_t c = 0; c < masks.size(); c++) {
                if ((((uint32_t)tick + 1) & masks[c]) == 0) values[c].push_back(f((int)c, next[c]++));
            }
        }
        phase = (uint16_t)(phase + ticks);
        return Packet(values, masks);
    }
};

int16_t ramp(int channel, uint32_t n) { return (int16_t)(uint16_t)(n * 997u + (uint32_t)channel * 10000u); }

class Packets : public testing::Test {
protected:
    void SetUp() override {
        fakeReset(2);
        dir = testenvNewDir("packets");
        out = newOutput();
    }
    void open(uint16_t format, const char *name = "r.edf") {
        path = dir + name;
        ASSERT_TRUE(recordingOpen(out.get(), path.c_str(), format, "client", "session"));
    }
    void send(Packet &p, uint16_t phase) { recordPacket(out.get(), phase, p.entry, 6); }
    std::string file() { return testenvReadFile(path); }

    std::string dir, path;
    std::unique_ptr<RecordingOutput> out;
};

// Mixed rates: A at 250 sps (mask 0), B at 62.5 (mask 3); records of 252
// and 63 samples.
void mixedRates() {
    fakeReset(2);
    g_fake.channel[1].rate = 62.5f;
    g_fake.channel[1].rateIndex = 6;
}

}  // namespace

TEST_F(Packets, FirstPacketWritesTheHeaderOnce) {
    open(RECORDING_EDF);
    EXPECT_EQ(file(), "");
    Stream s({0, 0}, ramp);
    Packet p = s.packet(16);
    send(p, 0);
    EXPECT_EQ(out->channels, 2);
    EXPECT_EQ(out->expectedPhase, 16);
    EXPECT_EQ(out->writeFailure, 0);
    EXPECT_EQ(file().size(), 3u * 256u);  // data of 250-sample blocks not full yet
    // A second packet appends no second header.
    g_fake.channel[0].label = "changed";
    Packet q = s.packet(16);
    send(q, 16);
    EXPECT_EQ(file().size(), 3u * 256u);
    EXPECT_EQ(parseEdf(file()).signal[0].label, "A:" + std::string(14, ' '));
}

TEST_F(Packets, FirstPacketOffPhaseZeroStopsTheRecording) {
    open(RECORDING_EDF);
    Stream s({0, 0}, ramp);
    s.phase = 48;
    Packet p = s.packet(16);
    testing::internal::CaptureStdout();
    send(p, 48);
    std::string printed = testing::internal::GetCapturedStdout();
    EXPECT_EQ(printed, "!Sample stream is not continuous (phase=48, exp=0)\n");
    EXPECT_EQ(out->writeFailure, 1);
    // The packet is still taken, and the stream goes on from its phase.
    EXPECT_EQ(out->edf.fill[0], 16);
    EXPECT_EQ(out->expectedPhase, 64);
}

TEST_F(Packets, PhaseGapIsReportedAndTheNextPacketFollowsIt) {
    open(RECORDING_TSV, "r.txt");
    Stream s({0, 1}, ramp);
    Packet a = s.packet(16);
    send(a, 0);
    EXPECT_EQ(out->writeFailure, 0);
    s.phase = 40;  // 24 ticks lost
    Packet b = s.packet(16);
    testing::internal::CaptureStdout();
    send(b, 40);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "!Sample stream is not continuous (phase=40, exp=16)\n");
    EXPECT_EQ(out->writeFailure, 1);
    out->writeFailure = 2;  // the recorder reported it
    Packet c = s.packet(16);
    testing::internal::CaptureStdout();
    send(c, 56);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    EXPECT_EQ(out->writeFailure, 2);
}

TEST_F(Packets, TsvLinesFollowTheRateMasks) {
    open(RECORDING_TSV, "r.txt");
    fakeReset(3);
    g_fake.channel[2].enabled = false;
    // A every tick, B (mask 1) on odd phases; C not delivered.
    Packet p({{100, 200, 300, 400}, {-16384, 16384}, {}}, {0, 1, 0});
    send(p, 0);
    std::string text = file();
    size_t data = text.find("Sensor");
    ASSERT_NE(data, std::string::npos);
    data = text.find('\n', data) + 1;
    // 400 uV range: value * 2^16 * 400 / 2^31 = value * 400 / 32768.
    EXPECT_EQ(text.substr(data), "\t1.2207   \t\n"
                                 "\t2.44141  \t-200     \n"
                                 "\t3.66211  \t\n"
                                 "\t4.88281  \t200      \n");
    // A packet that starts on an odd phase gives B its value on the first line.
    Packet q({{1}, {2}, {}}, {0, 1, 0});
    recordPacket(out.get(), 4, q.entry, 6);
    std::string more = file().substr(text.size());
    EXPECT_EQ(more, "\t0.012207 \t\n");
    Packet r({{1, 2}, {3}, {}}, {0, 1, 0});
    recordPacket(out.get(), 5, r.entry, 6);
    EXPECT_EQ(file().substr(text.size() + more.size()), "\t0.012207 \t0.0366211\n");
}

TEST_F(Packets, TsvPacketIsOneWriteAndEmptyPacketsWriteNothing) {
    open(RECORDING_TSV, "r.txt");
    static int writes = 0;
    writes = 0;
    out->write = [](OsFile f, const void *d, uint32_t n) {
        writes++;
        return osFileWrite(f, d, n);
    };
    Stream s({0, 0}, ramp);
    Packet p = s.packet(16);
    send(p, 0);
    EXPECT_EQ(writes, 2);  // header, lines
    // A message with no samples: blocks with count 0.
    Packet empty({{1}, {1}}, {0, 0});
    empty.entry[0].count = empty.entry[1].count = 0;
    size_t before = file().size();
    send(empty, 16);
    EXPECT_EQ(file().size(), before);
    EXPECT_EQ(writes, 2);
    EXPECT_EQ(out->expectedPhase, 16);
}

TEST_F(Packets, EdfBlocksCompleteInRecordOrder) {
    mixedRates();
    open(RECORDING_EDF);
    Stream s({0, 3}, ramp);
    // 3 records of 252 ticks and some more; 16-tick packets like the device.
    uint16_t phase = 0;
    while (phase < 3 * 252 + 100) {
        Packet p = s.packet(16);
        send(p, phase);
        phase = (uint16_t)(phase + 16);
    }
    EXPECT_EQ(out->writeFailure, 0);
    EXPECT_EQ(out->edf.records, 3u);
    ASSERT_TRUE(completeEdfHeader(out.get(), nullptr));
    EdfImage e = parseEdf(file());
    ASSERT_TRUE(e.ok) << e.error;
    EXPECT_EQ(e.records, "3       ");
    EXPECT_EQ(e.recordCount, 3u);
    EXPECT_EQ(e.trailing, 0u);
    ASSERT_EQ(e.data[0].size(), 3u * 252u);
    ASSERT_EQ(e.data[1].size(), 3u * 63u);
    for (uint32_t n = 0; n < e.data[0].size(); n++) ASSERT_EQ(e.data[0][n], ramp(0, n)) << n;
    for (uint32_t n = 0; n < e.data[1].size(); n++) ASSERT_EQ(e.data[1][n], ramp(1, n)) << n;
    EXPECT_EQ(out->file, OS_INVALID_FILE);
}

TEST_F(Packets, StopInTheMiddleOfARecordDropsIt) {
    mixedRates();
    open(RECORDING_EDF);
    Stream s({0, 3}, ramp);
    // Two records and 48 ticks of the third.
    for (uint16_t phase = 0; phase < 2 * 252 + 48; phase = (uint16_t)(phase + 8)) {
        Packet p = s.packet(8);
        send(p, phase);
    }
    EXPECT_EQ(out->edf.records, 2u);
    EXPECT_EQ(out->edf.fill[0], 48);
    EXPECT_EQ(out->edf.fill[1], 12);
    ASSERT_TRUE(completeEdfHeader(out.get(), nullptr));
    std::string bytes = file();
    EdfImage e = parseEdf(bytes);
    ASSERT_TRUE(e.ok);
    // The count is written left-aligned at byte 236: the number of signal-0
    // blocks written, each with its whole record.
    EXPECT_EQ(bytes.substr(236, 8), "2       ");
    EXPECT_EQ(bytes.size(), 768u + 2u * 2u * (252u + 63u));
    EXPECT_EQ(e.trailing, 0u);
}

TEST_F(Packets, HeaderIsTriedAgainWhileTheFileStaysEmpty) {
    open(RECORDING_EDF);
    g_fake.failing[QD_PAR_MEASUREMENT_RANGE] = 1;
    Stream s({0, 0}, ramp);
    Packet a = s.packet(16);
    send(a, 0);
    EXPECT_EQ(out->writeFailure, 1);
    EXPECT_EQ(out->channels, 0);
    EXPECT_EQ(file(), "");
    g_fake.failing.clear();
    Packet b = s.packet(16);
    testing::internal::CaptureStdout();
    send(b, 16);
    // The header now stands, and the first packet it sees is the new start.
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "!Sample stream is not continuous (phase=16, exp=0)\n");
    EXPECT_EQ(out->channels, 2);
    EXPECT_EQ(file().size(), 768u);
}

TEST_F(Packets, MoreDeliveringEntriesThanSignalsStayOutOfTheRows) {
    fakeReset(2);
    g_fake.channel[1].enabled = false;
    open(RECORDING_EDF);
    // Channel B delivers although the header has only A: its samples have
    // no row (and must not land in a row beyond the header's signals).
    Stream s({0, 0}, ramp);
    for (uint16_t phase = 0; phase < 512; phase = (uint16_t)(phase + 16)) {
        Packet p = s.packet(16);
        send(p, phase);
    }
    EXPECT_EQ(out->edf.records, 2u);
    EXPECT_EQ(out->edf.fill[1], 0);
    ASSERT_TRUE(completeEdfHeader(out.get(), nullptr));
    EdfImage e = parseEdf(file());
    ASSERT_TRUE(e.ok);
    EXPECT_EQ(e.recordCount, 2u);
    for (uint32_t n = 0; n < e.data[0].size(); n++) ASSERT_EQ(e.data[0][n], ramp(0, n));
    // Packets with fewer entries than the header's channels.
    fakeReset(8);
    auto wide = newOutput();
    std::string p8 = dir + "wide.edf";
    ASSERT_TRUE(recordingOpen(wide.get(), p8.c_str(), RECORDING_EDF, "", ""));
    Packet few({{1, 2}, {3, 4}}, {0, 0});
    recordPacket(wide.get(), 0, few.entry, 2);
    EXPECT_EQ(wide->channels, 8);
    EXPECT_EQ(wide->edf.fill[0], 2);
    EXPECT_EQ(wide->edf.fill[2], 0);
    completeEdfHeader(wide.get(), nullptr);
}

namespace {

// A disk that takes a given number of bytes and then is full: the write
// that crosses the limit is short, the ones after fail.
uint32_t g_room = 0;
int32_t fullDiskWrite(OsFile f, const void *data, uint32_t size) {
    if (g_room == 0) return -1;
    uint32_t n = size < g_room ? size : g_room;
    int32_t written = osFileWrite(f, data, n);
    if (written > 0) g_room -= (uint32_t)written;
    return written;
}

std::vector<std::string> g_messages;
void collectMessage(void *window, const char *text, const char *caption) {
    EXPECT_EQ(window, (void *)&g_messages);
    g_messages.push_back(std::string(caption) + ": " + text);
}

}  // namespace

TEST_F(Packets, FullDiskKeepsTheCompleteRecordsReadable) {
    mixedRates();
    open(RECORDING_EDF);
    // Header, two whole records and half of signal 0's third block.
    g_room = 768 + 2 * 2 * (252 + 63) + 252;
    out->write = fullDiskWrite;
    Stream s({0, 3}, ramp);
    uint16_t phase = 0;
    for (int i = 0; i < 80; i++) {
        Packet p = s.packet(16);
        send(p, phase);
        phase = (uint16_t)(phase + 16);
    }
    EXPECT_EQ(out->writeFailure, 1);
    EXPECT_TRUE(out->dataStopped);
    EXPECT_EQ(out->edf.records, 2u);
    // The count and the cut to whole records need no room on the disk.
    g_room = 8;
    EXPECT_TRUE(completeEdfHeader(out.get(), nullptr));
    std::string bytes = file();
    EdfImage e = parseEdf(bytes);
    ASSERT_TRUE(e.ok);
    EXPECT_EQ(trimmed(e.records), "2");
    EXPECT_EQ(e.recordCount, 2u);
    EXPECT_EQ(e.trailing, 0u);
    for (uint32_t n = 0; n < e.data[0].size(); n++) ASSERT_EQ(e.data[0][n], ramp(0, n));
    for (uint32_t n = 0; n < e.data[1].size(); n++) ASSERT_EQ(e.data[1][n], ramp(1, n));
}

TEST_F(Packets, FailedSecondBlockDoesNotCountItsRecord) {
    mixedRates();
    open(RECORDING_EDF);
    // Room for the header, one record and signal 0's second block only.
    g_room = 768 + 2 * (252 + 63) + 2 * 252;
    out->write = fullDiskWrite;
    Stream s({0, 3}, ramp);
    for (uint16_t phase = 0; phase < 3 * 252; phase = (uint16_t)(phase + 16)) {
        Packet p = s.packet(16);
        send(p, phase);
    }
    EXPECT_EQ(out->writeFailure, 1);
    EXPECT_EQ(out->edf.records, 1u);
    g_room = 100;
    EXPECT_TRUE(completeEdfHeader(out.get(), nullptr));
    EdfImage e = parseEdf(file());
    EXPECT_EQ(trimmed(e.records), "1");
    EXPECT_EQ(e.recordCount, 1u);
    EXPECT_EQ(e.trailing, 0u);
}

TEST_F(Packets, HeaderThatDoesNotFitLeavesTheFileEmpty) {
    open(RECORDING_EDF);
    g_room = 300;  // the main header and a part of the signal headers
    out->write = fullDiskWrite;
    Stream s({0, 0}, ramp);
    Packet a = s.packet(16);
    send(a, 0);
    EXPECT_EQ(out->writeFailure, 1);
    EXPECT_EQ(out->channels, 0);
    EXPECT_EQ(file(), "");
    // Room again: the next packet writes the header.
    g_room = 100000;
    Packet b = s.packet(16);
    testing::internal::CaptureStdout();
    send(b, 16);
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(file().size(), 768u);
    // Completion with no room: the message, the file closed all the same,
    // its count field still "-1".
    g_room = 0;
    g_messages.clear();
    out->showMessage = collectMessage;
    EXPECT_FALSE(completeEdfHeader(out.get(), &g_messages));
    ASSERT_EQ(g_messages.size(), 1u);
    EXPECT_EQ(g_messages[0], "Error: Cannot complete the header of the output EDF file");
    EXPECT_EQ(out->file, OS_INVALID_FILE);
    EXPECT_EQ(file().substr(236, 8), "-1      ");
}

TEST_F(Packets, CompletionLeavesEmptyAndTsvFilesAlone) {
    // A recording that never got a packet: the EDF file stays empty.
    open(RECORDING_EDF);
    g_messages.clear();
    out->showMessage = collectMessage;
    EXPECT_TRUE(completeEdfHeader(out.get(), &g_messages));
    EXPECT_EQ(file(), "");
    EXPECT_TRUE(g_messages.empty());
    EXPECT_EQ(out->file, OS_INVALID_FILE);
    // Nothing open: nothing happens.
    EXPECT_TRUE(completeEdfHeader(out.get(), nullptr));
    // TSV: closed as it is.
    open(RECORDING_TSV, "r.txt");
    Stream s({0, 0}, ramp);
    Packet p = s.packet(4);
    send(p, 0);
    std::string before = file();
    EXPECT_TRUE(completeEdfHeader(out.get(), nullptr));
    EXPECT_EQ(file(), before);
    EXPECT_EQ(out->file, OS_INVALID_FILE);
    // A new recording into the same output starts from a clean state.
    open(RECORDING_EDF, "again.edf");
    EXPECT_EQ(out->writeFailure, 0);
    EXPECT_EQ(out->edf.records, 0u);
    EXPECT_FALSE(recordingOpen(out.get(), (dir + "third.edf").c_str(), RECORDING_EDF, "", ""));
    completeEdfHeader(out.get(), nullptr);
}

TEST_F(Packets, OpenCutsTheTextsAndReplacesAnOldFile) {
    std::string longText(200, 'x');
    path = dir + "old.edf";
    ASSERT_TRUE(testenvWriteFile(path, std::string(5000, 'o')));
    ASSERT_TRUE(recordingOpen(out.get(), path.c_str(), RECORDING_EDF, longText.c_str(), longText.c_str()));
    EXPECT_EQ(std::string(out->client), std::string(80, 'x'));
    EXPECT_EQ(std::string(out->session), std::string(80, 'x'));
    EXPECT_EQ(file(), "");
    completeEdfHeader(out.get(), nullptr);
    // A folder that does not exist.
    EXPECT_FALSE(recordingOpen(out.get(), (dir + "missing" + (testenvIsWindows() ? "\\" : "/") + "r.edf").c_str(),
                               RECORDING_EDF, "", ""));
    EXPECT_EQ(out->file, OS_INVALID_FILE);
}

// Every output format is complete and named once; an unknown format is
// refused before a file is made, not written as another format.
TEST_F(Packets, FormatRowsAreCompleteAndUnknownFormatsRefused) {
    std::set<std::string> names;
    for (const OutputFormat &f : kOutputFormats) {
        ASSERT_TRUE(f.key && f.caption && f.summary && f.extension && f.filter && f.header && f.packet);
        EXPECT_EQ(f.extension[0], '.') << f.key;
        // EDF and EDF+ files share their extension (readers look for it).
        for (const char *name : {f.key, f.caption}) EXPECT_TRUE(names.insert(name).second) << name;
        int texts = 0;
        for (const char *t = f.filter; *t; t += std::strlen(t) + 1) ++texts;
        EXPECT_TRUE(texts > 0 && texts % 2 == 0) << f.key;
    }
    path = dir + "unknown.edf";
    EXPECT_FALSE(recordingOpen(out.get(), path.c_str(), RECORDING_FORMAT_COUNT, "", ""));
    EXPECT_EQ(osFileOpen(path.c_str(), OS_FILE_READ | OS_FILE_SHARE_READ), OS_INVALID_FILE);
    char name[64];
    EXPECT_EQ(outputPath("record", RECORDING_FORMAT_COUNT, name, sizeof name), OUTPUT_UNKNOWN_FORMAT);
}

// Packets of any shape (counts, masks, phases, missing blocks) into both
// formats: nothing is read or written outside the buffers (the sanitizers
// watch), and the EDF file holds whole records after completion.
TEST_F(Packets, AnyPacketsStayInsideTheBuffers) {
    uint32_t seed = 777;
    auto next = [&seed]() {
        seed = seed * 1664525u + 1013904223u;
        return seed >> 8;
    };
    static int32_t samples[6][70];
    for (int round = 0; round < 40; round++) {
        fakeReset(1 + (int)(next() % 8));
        for (FakeChannel &c : g_fake.channel) {
            c.rateIndex = 4 + next() % 5;
            c.rate = 15.625f * (float)(1u << (c.rateIndex - 4));
        }
        uint16_t format = next() % 2 ? RECORDING_TSV : RECORDING_EDF;
        auto o = newOutput();
        std::string name = dir + "any" + std::to_string(round);
        ASSERT_TRUE(recordingOpen(o.get(), name.c_str(), format, "", ""));
        for (int k = 0; k < 60; k++) {
            ChannelSamples entry[6] = {};
            for (int i = 0; i < 6; i++) {
                for (int32_t &s : samples[i]) s = (int32_t)(next() << 8);
                entry[i].samples = next() % 5 ? samples[i] : nullptr;
                entry[i].count = (uint16_t)(next() % 71);
                entry[i].rateMask = (uint16_t)(next() % 3 ? (1u << (next() % 4)) - 1 : next());
            }
            testing::internal::CaptureStdout();
            recordPacket(o.get(), (uint16_t)(next() % 3 ? o->expectedPhase : next()), entry, 1 + (int)(next() % 6));
            testing::internal::GetCapturedStdout();
        }
        completeEdfHeader(o.get(), nullptr);
        if (format == RECORDING_EDF) {
            std::string bytes = testenvReadFile(name);
            if (bytes.empty()) continue;
            EdfImage e = parseEdf(bytes);
            ASSERT_TRUE(e.ok);
            EXPECT_EQ(e.trailing, 0u);
            EXPECT_EQ((size_t)std::atoi(e.records.c_str()), e.recordCount);
        }
    }
}

namespace {

// The annotation signal of every record of an EDF+ file, as bytes.
std::vector<std::string> annotationBlocks(const EdfImage &e) {
    std::vector<std::string> blocks;
    const std::vector<int16_t> &words = e.data.back();
    size_t perRecord = e.recordCount ? words.size() / e.recordCount : 0;
    for (size_t r = 0; r < e.recordCount; r++) {
        std::string b;
        for (size_t i = 0; i < perRecord; i++) {
            uint16_t w = (uint16_t)words[r * perRecord + i];
            b += (char)(w & 0xFF);
            b += (char)(w >> 8);
        }
        blocks.push_back(b);
    }
    return blocks;
}

}  // namespace

// EDF+: the header's structured fields and annotation signal; a phase gap
// filled with 0 and marked BAD_ACQ_SKIP; every record opens with its
// time-keeping; a burst of markers is carried on, none dropped, the last
// record completed for them.
TEST_F(Packets, EdfPlusGoesOnThroughGapsAndKeepsEveryAnnotation) {
    mixedRates();
    open(RECORDING_EDFPLUS);
    Stream s({0, 3}, ramp);
    double t = 0.5;
    auto sendAt = [&](uint16_t ticks) {
        uint16_t phase = s.phase;
        Packet p = s.packet(ticks);
        t += ticks / 250.0;
        recordPacketAt(out.get(), phase, p.entry, 6, t);
    };
    for (int k = 0; k < 20; k++) sendAt(16);
    s.phase = (uint16_t)(s.phase + 32);   // 32 ticks lost
    t += 32 / 250.0;
    for (int m = 0; m < 200; m++) recordText(out.get(), ("marker " + std::to_string(m)).c_str(), t);
    for (int k = 0; k < 20; k++) sendAt(16);
    EXPECT_EQ(out->writeFailure, 0);
    ASSERT_TRUE(completeEdfHeader(out.get(), nullptr));
    EdfImage e = parseEdf(file());
    ASSERT_TRUE(e.ok) << e.error;
    EXPECT_EQ(e.reserved.substr(0, 6), "EDF+C ");
    EXPECT_EQ(e.patient.substr(0, 15), "X X X client   ");
    EXPECT_EQ(e.recording.substr(0, 10), "Startdate ");
    EXPECT_NE(e.recording.find(" X X Quorvane_Halvex-4_USB session "), std::string::npos) << e.recording;
    ASSERT_EQ(e.signal.size(), 3u);
    EXPECT_EQ(e.signal[2].label, "EDF Annotations ");
    EXPECT_EQ(trimmed(e.signal[2].samples), "512");
    EXPECT_EQ(e.trailing, 0u);
    // A's samples 320..351 are the gap's 0s; the ramp goes on after it.
    EXPECT_EQ(e.data[0][319], ramp(0, 319));
    for (int i = 320; i < 352; i++) EXPECT_EQ(e.data[0][i], 0) << i;
    EXPECT_EQ(e.data[0][352], ramp(0, 320));
    std::vector<std::string> blocks = annotationBlocks(e);
    ASSERT_GE(blocks.size(), 3u);
    std::string all;
    for (size_t r = 0; r < blocks.size(); r++) {
        // The time-keeping TAL first: the start's fraction plus r records of 1.008 s.
        double at = std::atof(blocks[r].c_str() + 1) - std::atof(blocks[0].c_str() + 1);
        EXPECT_NEAR(at, 1.008 * (double)r, 1e-9) << r;
        EXPECT_EQ(blocks[r].substr(blocks[r].find('\x14'), 3), std::string("\x14\x14\0", 3));
        all += blocks[r];
    }
    double start = std::atof(blocks[0].c_str() + 1);
    size_t gap = all.find("\x14" "BAD_ACQ_SKIP\x14");
    ASSERT_NE(gap, std::string::npos);
    size_t onset = all.rfind('+', gap);
    EXPECT_NEAR(std::atof(all.c_str() + onset + 1) - start, 320 / 250.0, 1e-3);
    EXPECT_EQ(all.substr(all.find('\x15', onset), 7), "\x15" "0.1280");
    for (int m = 0; m < 200; m++) {
        EXPECT_NE(all.find("\x14marker " + std::to_string(m) + "\x14"), std::string::npos) << m;
    }
    EXPECT_EQ(out->plus.annotationsRefused, 0u);
}

// What an annotation keeps of a text.
TEST(AnnotationText, CleansCutsAndNeverSplitsACharacter) {
    const struct {
        std::string in, out;
        bool cut;
    } cases[] = {
        {"", "", false},
        {"  \r\n", "", false},
        {"stimulus\t1\x14x\x15y", "stimulus 1 x y", false},
        {"bad \xff\xc0\x80 utf8 \xed\xa0\x80", "bad ??? utf8 ???", false},
        {"caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x98\x80", "caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x98\x80", false},
        {std::string(119, 'a') + "\xc3\xa9", std::string(119, 'a'), true},
        {std::string(130, 'b'), std::string(REC_ANNOTATION_TEXT, 'b'), true},
    };
    for (const auto &c : cases) {
        char text[REC_ANNOTATION_TEXT + 1];
        bool cut = false;
        EXPECT_EQ(annotationText(text, c.in.c_str(), &cut), c.out.size()) << c.in;
        EXPECT_EQ(std::string(text), c.out);
        EXPECT_EQ(cut, c.cut) << c.in;
    }
}
