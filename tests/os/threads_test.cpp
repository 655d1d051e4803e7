// Threads, the lock, the driver clock with its manual mode, CPU time, local
// time and the version code.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "os/os.h"
#include "tests/support/testenv.h"

namespace {

struct ThreadProbe {
    std::atomic<int> runs{0};
    std::atomic<bool> wasCurrent{false};
    OsThread self = nullptr;
    std::atomic<bool> selfKnown{false};
};

void probeProc(void *arg) {
    ThreadProbe *p = (ThreadProbe *)arg;
    while (!p->selfKnown) osSleep(1);
    p->wasCurrent = osThreadIsCurrent(p->self);
    p->runs++;
}

}  // namespace

TEST(OsThreads, StartAndJoinAtBothPriorities) {
    for (OsPriority priority : {OS_PRIORITY_NORMAL, OS_PRIORITY_HIGHEST}) {
        ThreadProbe probe;
        OsThread t = osThreadStart(probeProc, &probe, 0, priority);
        ASSERT_NE(nullptr, t);
        probe.self = t;
        probe.selfKnown = true;
        EXPECT_FALSE(osThreadIsCurrent(t));
        osThreadJoin(t);
        EXPECT_EQ(1, probe.runs);
        EXPECT_TRUE(probe.wasCurrent);
    }
}

TEST(OsThreads, DetachedThreadRunsToItsEnd) {
    static std::atomic<int> done{0};
    done = 0;
    for (int i = 0; i < 8; ++i) {
        OsThread t = osThreadStart([](void *) { done++; }, nullptr, 64 * 1024, OS_PRIORITY_NORMAL);
        ASSERT_NE(nullptr, t);
        osThreadDetach(t);
    }
    for (uint32_t waited = 0; done < 8 && waited < kTestHangMs; waited += 5) osSleep(5);
    EXPECT_EQ(8, done);
}

// What a library waits for before it is unloaded: its threads let run on
// alone have left its code.
TEST(OsThreads, AwaitExitWaitsForThreadsLeftAlone) {
    static std::atomic<bool> release{false};
    release = false;
    OsThread t = osThreadStart([](void *) { while (!release) osSleep(1); }, nullptr, 64 * 1024, OS_PRIORITY_NORMAL);
    ASSERT_NE(nullptr, t);
    osThreadDetach(t);
    EXPECT_FALSE(osThreadsAwaitExit(20));
    release = true;
    EXPECT_TRUE(osThreadsAwaitExit(kTestHangMs));
    EXPECT_TRUE(osThreadsAwaitExit(0));
}

TEST(OsLockTest, TryEnterFromAnotherThreadFailsWhileHeld) {
    OsLock lock;
    osLockInit(&lock);
    osLockEnter(&lock);
    // Recursive on its own thread, like a critical section.
    EXPECT_TRUE(osLockTryEnter(&lock));
    osLockLeave(&lock);
    bool other = true;
    std::thread([&] { other = osLockTryEnter(&lock); }).join();
    EXPECT_FALSE(other);
    osLockLeave(&lock);
    std::thread([&] {
        other = osLockTryEnter(&lock);
        if (other) osLockLeave(&lock);
    }).join();
    EXPECT_TRUE(other);
    osLockDestroy(&lock);
}

TEST(OsLockTest, SerialisesCounting) {
    OsLock lock;
    osLockInit(&lock);
    long counter = 0;
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&] {
            for (int i = 0; i < 20000; ++i) {
                osLockEnter(&lock);
                ++counter;
                osLockLeave(&lock);
            }
        });
    }
    for (auto &t : threads) t.join();
    EXPECT_EQ(80000, counter);
    osLockDestroy(&lock);
}

TEST(OsClock, ManualModeDrivesAllThreeClocks) {
    {
        ManualClock clock(5000);
        EXPECT_TRUE(osClockIsManual());
        EXPECT_EQ(5000u, osClockMs());
        EXPECT_EQ(5000000u, osClockUs());
        EXPECT_EQ(5000u, osTickCount());
        osSleep(20);  // real sleeping does not move it
        EXPECT_EQ(5000u, osClockMs());
        clock.advance(250);
        EXPECT_EQ(5250u, osClockMs());
        EXPECT_EQ(5250000u, osClockUs());
        EXPECT_EQ(5250u, osTickCount());

        // Advances from several threads all count.
        std::vector<std::thread> threads;
        for (int t = 0; t < 4; ++t) {
            threads.emplace_back([] {
                for (int i = 0; i < 1000; ++i) osClockAdvance(1);
            });
        }
        for (auto &t : threads) t.join();
        EXPECT_EQ(9250u, osClockMs());
    }
    EXPECT_FALSE(osClockIsManual());
}

TEST(OsClock, RealClockIsMonotonicAndCountsFromProcessStart) {
    uint64_t a = osClockUs();
    uint32_t ms = osClockMs();
    EXPECT_LT(ms, 600000u);  // the program has run for less than ten minutes
    osSleep(30);
    uint64_t b = osClockUs();
    EXPECT_GE(b - a, 25000u);
    EXPECT_LT(b - a, 5000000u);
    EXPECT_GE(osClockMs(), ms + 25);
    // Wine updates the tick count from a timer of its own, which can lag a
    // sleep on a loaded or emulated machine: the tick only has to reach 20 ms
    // within seconds, and not run ahead of the clock.
    uint32_t t0 = osTickCount();
    uint64_t c0 = osClockUs();
    while (osTickCount() - t0 < 20u && osClockUs() - c0 < 5000000u) osSleep(5);
    uint32_t ticked = osTickCount() - t0;
    EXPECT_GE(ticked, 20u);
    EXPECT_LE(ticked, (osClockUs() - c0) / 1000 + 100);
}

TEST(OsTime, CpuAndLocalTime) {
    double p0 = osProcessCpuSeconds(), t0 = osThreadCpuSeconds();
    volatile double x = 0;
    for (int i = 0; i < 20000000; ++i) x = x + 1.0;
    EXPECT_GT(osProcessCpuSeconds(), p0);
    EXPECT_GT(osThreadCpuSeconds(), t0);
    EXPECT_GE(osProcessCpuSeconds(), osThreadCpuSeconds() - 0.05);

    OsLocalTime t;
    osLocalTime(&t);
    EXPECT_GE(t.year, 2020);
    EXPECT_TRUE(t.month >= 1 && t.month <= 12);
    EXPECT_TRUE(t.day >= 1 && t.day <= 31);
    EXPECT_LE(t.hour, 23);
    EXPECT_LE(t.minute, 59);
    EXPECT_LE(t.second, 60);
    EXPECT_LE(t.millisecond, 999);
}

TEST(OsVersion, CodesOfTheVersionRecord) {
    EXPECT_EQ(1, osVersionCodeFor(0, 3, 11, ""));
    EXPECT_EQ(2, osVersionCodeFor(1, 4, 0, ""));
    EXPECT_EQ(3, osVersionCodeFor(1, 4, 10, ""));
    EXPECT_EQ(3, osVersionCodeFor(1, 4, 10, "A"));
    EXPECT_EQ(4, osVersionCodeFor(1, 4, 10, " A "));
    EXPECT_EQ(3, osVersionCodeFor(1, 4, 10, nullptr));
    EXPECT_EQ(5, osVersionCodeFor(1, 4, 90, ""));
    EXPECT_EQ(14, osVersionCodeFor(1, 5, 0, ""));
    EXPECT_EQ(6, osVersionCodeFor(2, 4, 0, "Service Pack 6"));
    EXPECT_EQ(6, osVersionCodeFor(2, 3, 51, ""));
    EXPECT_EQ(7, osVersionCodeFor(2, 5, 0, ""));
    EXPECT_EQ(8, osVersionCodeFor(2, 5, 1, "Service Pack 3"));
    EXPECT_EQ(9, osVersionCodeFor(2, 5, 2, ""));
    EXPECT_EQ(10, osVersionCodeFor(2, 6, 0, ""));
    EXPECT_EQ(11, osVersionCodeFor(2, 6, 1, ""));
    EXPECT_EQ(12, osVersionCodeFor(2, 6, 2, ""));
    EXPECT_EQ(14, osVersionCodeFor(2, 6, 3, ""));
    EXPECT_EQ(13, osVersionCodeFor(2, 10, 0, ""));
    EXPECT_EQ(14, osVersionCodeFor(2, 10, 1, ""));
    EXPECT_EQ(14, osVersionCodeFor(2, 5, 3, ""));
    EXPECT_EQ(14, osVersionCodeFor(3, 10, 0, ""));

    int code = osVersionCode();
    if (testenvIsWindows()) {
        EXPECT_GE(code, 8);  // Wine and every supported Windows
        EXPECT_LE(code, 14);
    } else {
        EXPECT_EQ(14, code);
    }
}
