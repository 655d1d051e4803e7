// Attach and detach: the engine lock's life, the cleared host callbacks and
// repeated attach.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "API/driver/driver.h"
#include "API/driver/frame/lifecycle.h"
#include "QuorvaneDrv.h"
#include "tests/support/driver_sandbox.h"
#include "tests/support/testenv.h"

namespace {
int QDCALL dummySamples(uint16_t, uint16_t, uint16_t, ChannelSamples *) { return 0; }
void QDCALL dummyInd(uint16_t, uint16_t, uint16_t) {}
void QDCALL dummyMsg(uint16_t, const char *) {}
}  // namespace

TEST(Lifecycle, EngineLockLivesFromAttachToDetach) {
    DriverSandbox box;
    EXPECT_EQ(nullptr, engineLock());
    box.attach();
    OsLock *lock = engineLock();
    ASSERT_NE(nullptr, lock);
    ASSERT_TRUE(osLockTryEnter(lock));
    std::atomic<bool> other{true};
    std::thread([&] { other = osLockTryEnter(lock); }).join();
    EXPECT_FALSE(other);
    osLockLeave(lock);
    box.detach();
    EXPECT_EQ(nullptr, engineLock());
    EXPECT_FALSE(driverAttached());
}

TEST(Lifecycle, AttachClearsHostCallbacks) {
    DriverSandbox box;
    QdProcSamples = dummySamples;
    QdUserInd = dummyInd;
    QdUserMsg = dummyMsg;
    box.attach();
    EXPECT_EQ(nullptr, QdProcSamples);
    EXPECT_EQ(nullptr, QdUserInd);
    EXPECT_EQ(nullptr, QdUserMsg);
}

TEST(Lifecycle, SecondAttachAndSecondDetachDoNothing) {
    ManualClock clock;
    DriverSandbox box;
    box.attach();
    std::string once = box.log();
    driverAttach();
    EXPECT_EQ(once, box.log());
    box.detach();
    driverDetach();
    EXPECT_EQ(once + "Quorvane Driver detached\n", box.log());
}

TEST(Lifecycle, ReattachAppendsANewBanner) {
    ManualClock clock;
    DriverSandbox box;
    box.attach();
    box.detach();
    std::string first = box.log();
    box.attach();
    std::string text = box.log();
    EXPECT_EQ(first, text.substr(0, first.size()));
    EXPECT_EQ(first.size(), text.find("\nQuorvane Driver v.5.4.5\nLoaded by: ", first.size()));
}
