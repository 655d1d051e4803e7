// disk_full_test.cpp - the writer on a real file system that refuses data:
// a full device (/dev/full) and a file that reaches the process's file size
// limit in the middle of a record (a short write, then failures). Linux only.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "tests/recording/recording_helpers.h"
#include "tests/support/testenv.h"

namespace {

// Feeds 16-tick packets of two channels at 250 and 62.5 sps.
void feed(RecordingOutput *out, int packets) {
    uint32_t n0 = 0, n1 = 0;
    for (int i = 0; i < packets; i++) {
        std::vector<int16_t> a, b;
        for (int t = 0; t < 16; t++) {
            uint32_t tick = (uint32_t)i * 16u + (uint32_t)t;
            a.push_back((int16_t)(n0++ * 31));
            if (((tick + 1) & 3) == 0) b.push_back((int16_t)(-(int32_t)(n1++) * 17));
        }
        Packet p({a, b}, {0, 3});
        recordPacket(out, (uint16_t)(i * 16), p.entry, 6);
    }
}

void mixedRates() {
    fakeReset(2);
    g_fake.channel[1].rate = 62.5f;
    g_fake.channel[1].rateIndex = 6;
}

// Limits the size of files this process writes; writes past it fail with
// EFBIG instead of raising SIGXFSZ.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes) {
        getrlimit(RLIMIT_FSIZE, &old_);
        oldHandler_ = signal(SIGXFSZ, SIG_IGN);
        rlimit limit = old_;
        limit.rlim_cur = bytes;
        ok_ = setrlimit(RLIMIT_FSIZE, &limit) == 0;
    }
    ~FileSizeLimit() {
        setrlimit(RLIMIT_FSIZE, &old_);
        signal(SIGXFSZ, oldHandler_);
    }
    bool ok() const { return ok_; }

private:
    rlimit old_;
    void (*oldHandler_)(int);
    bool ok_ = false;
};

}  // namespace

TEST(DiskFull, FullDeviceFailsTheHeaderAndLeavesNothingBehind) {
    if (access("/dev/full", W_OK) != 0) GTEST_SKIP() << "no /dev/full";
    mixedRates();
    auto out = newOutput();
    ASSERT_TRUE(recordingOpen(out.get(), "/dev/full", RECORDING_EDF, "", ""));
    feed(out.get(), 4);
    EXPECT_EQ(out->writeFailure, 1);
    EXPECT_EQ(out->channels, 0);
    EXPECT_EQ(out->edf.headerBytes, 0u);
    EXPECT_TRUE(completeEdfHeader(out.get(), nullptr));
    // TSV alike.
    ASSERT_TRUE(recordingOpen(out.get(), "/dev/full", RECORDING_TSV, "", ""));
    feed(out.get(), 2);
    EXPECT_EQ(out->writeFailure, 1);
    completeEdfHeader(out.get(), nullptr);
}

TEST(DiskFull, FileSizeLimitInTheMiddleOfARecord) {
    mixedRates();
    std::string path = testenvNewDir("fsize") + "limited.edf";
    auto out = newOutput();
    ASSERT_TRUE(recordingOpen(out.get(), path.c_str(), RECORDING_EDF, "client", "session"));
    // Header (768), three records of 630 bytes, and 100 bytes of the fourth.
    {
        FileSizeLimit limit(768 + 3 * 630 + 100);
        ASSERT_TRUE(limit.ok());
        feed(out.get(), 80);
    }
    EXPECT_EQ(out->writeFailure, 1);
    EXPECT_TRUE(out->dataStopped);
    EXPECT_EQ(out->edf.records, 3u);
    EXPECT_TRUE(completeEdfHeader(out.get(), nullptr));
    std::string bytes = testenvReadFile(path);
    EXPECT_EQ(bytes.size(), 768u + 3u * 630u);
    EdfImage e = parseEdf(bytes);
    ASSERT_TRUE(e.ok);
    EXPECT_EQ(e.records, "3       ");
    EXPECT_EQ(e.trailing, 0u);
    for (uint32_t n = 0; n < e.data[0].size(); n++) ASSERT_EQ(e.data[0][n], (int16_t)(n * 31));
    for (uint32_t n = 0; n < e.data[1].size(); n++) ASSERT_EQ(e.data[1][n], (int16_t)(-(int32_t)n * 17));
    // The strict reader takes the file with its three records.
    ReaderResult lib = readWithEdflib(path);
    if (lib.ran) {
        ASSERT_TRUE(lib.accepted) << lib.output.substr(0, 300);
        EXPECT_EQ(lib.field["records"], "3");
        ASSERT_EQ(lib.signal.size(), 2u);
        EXPECT_EQ(lib.signal[0].values.size(), 3u * 252u);
    }
}
