// upgrade_fixture.cpp - shared pieces of the loader tests.
#include "tests/upgrade/upgrade_fixture.h"


#include "os/os.h"

LoaderOutput g_output;

namespace {

void onMessage(const char *text) {
    noteUserMessage(text);
    g_output.messages.push_back(text);
}
void onProgress(int percent) { g_output.progress.push_back(percent); }

}  // namespace

bool LoaderOutput::has(const std::string &text) const {
    for (const std::string &m : messages)
        if (m == text) return true;
    return false;
}

bool LoaderOutput::hasPrefix(const std::string &prefix) const {
    for (const std::string &m : messages)
        if (m.compare(0, prefix.size(), prefix) == 0) return true;
    return false;
}

std::string writeFirmwareFile(const Bytes &bytes, const char *name) {
    std::string path = testenvNewDir("fw") + name;
    EXPECT_TRUE(testenvWriteFile(path, std::string(bytes.begin(), bytes.end())));
    return path;
}

void UpdateTest::SetUp() {
    g_output = LoaderOutput();
    const LoaderSinks sinks = {onMessage, onProgress};
    setLoaderSinks(&sinks);
    loaderInit("");
    clock_ = new ManualClock();
    ftsimReset();
    ASSERT_EQ(InitLinkLibrary(), 1);
}

void UpdateTest::TearDown() {
    CloseLink(&link_);
    CloseFirmwareFile();
    ftsimReset();
    delete clock_;
    setLoaderSinks(nullptr);
}

void UpdateTest::plugIn(const char *model) {
    tx_ = ftsimAdd("QVSIM001", nullptr);
    ASSERT_GE(ftsimAttachNewDevice(tx_, model, nullptr), 0);
    dev_ = ftsimDevice(tx_);
    ASSERT_EQ(OpenLink(LINK_USB, "QVSIM001", &link_, nullptr, 0), 1);
    written();
}

uint32_t UpdateTest::run(const FirmwareHeader *header, uint32_t limitMs) {
    clock_->advance(SIM_BOOT_RESTART_MS);   // a device restarted by the last run is up again
    g_loader.flags = LOADER_RUNNING;
    StartUpdate(&link_, header);
    uint32_t ms = 0;
    while (PollUpdate() && ms < limitMs) {
        clock_->advance(1);
        ++ms;
    }
    EXPECT_LT(ms, limitMs) << "the update run did not end";
    return ms;
}

const FirmwareHeader *UpdateTest::openImage(const Bytes &image) {
    EXPECT_EQ(OpenFirmwareFile(writeFirmwareFile(image).c_str(), nullptr), 0);
    return firmwareHeader();
}

Bytes UpdateTest::written() {
    Bytes out(4096);
    int n = ftsimTakeWritten(tx_, out.data(), out.size());
    out.resize(n > 0 ? (size_t)n : 0);
    return out;
}
