// Models and device contexts: enumerating, opening, selecting, closing.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>

#include "tests/params/param_helpers.h"
#include "tests/support/log_lines.h"

using namespace qdtest;

namespace {
class Contexts : public DriverTest {};
}  // namespace

TEST_F(Contexts, EnumDevices) {
    const char *const *names = nullptr;
    LogWatch log;
    ASSERT_EQ(QdEnumDevices(&names), 15);
    ASSERT_NE(names, nullptr);
    EXPECT_STREQ(names[0], "Quorvane Brev 100");
    EXPECT_STREQ(names[2], "Quorvane Halvex 4");
    EXPECT_STREQ(names[5], "Quorvane Halvex-2 BLE");
    EXPECT_STREQ(names[9], "Quorvane Halvex+ 2 BT");
    EXPECT_STREQ(names[14], "Quorvane Halvex+ 4 BLE");
    EXPECT_TRUE(log.contains("{QdEnumDevices(...)\n}QdEnumDevices: 15\n"));
    EXPECT_EQ(QdEnumDevices(nullptr), 15);
    for (int i = 0; i < 15; ++i) EXPECT_EQ(modelByName(names[i]), i);
}

TEST_F(Contexts, ElevenOpens) {
    for (int i = 0; i < 10; ++i) {
        LogWatch log;
        EXPECT_EQ(QdOpenDevContext(modelName(i)), i);
        EXPECT_EQ(QdGetSelectedDevContext(), i);
        EXPECT_TRUE(log.contains("{QdOpenDevContext(" + std::string(modelName(i)) + ")\n"));
        EXPECT_TRUE(log.contains("}QdOpenDevContext: " + std::to_string(i) + "\n"));
    }
    LogWatch log;
    EXPECT_EQ(QdOpenDevContext(modelName(3)), -1);
    EXPECT_TRUE(log.contains(failLine("QdOpenDevContext", kLogTooManyContexts)));
    EXPECT_EQ(QdGetSelectedDevContext(), 9);
}

TEST_F(Contexts, ReuseHint) {
    EXPECT_EQ(open(3), 0);
    EXPECT_EQ(open(3), 1);
    EXPECT_EQ(open(3), 2);
    QdCloseDevContext(1);
    EXPECT_EQ(open(4), 1);
    EXPECT_EQ(open(4), 3);
    QdCloseDevContext(0);
    QdCloseDevContext(2);
    EXPECT_EQ(open(4), 2);
    EXPECT_EQ(open(4), 0);
}

TEST_F(Contexts, NamesMustMatchExactly) {
    for (const char *name : {"Quorvane Halvex-2 BT ", "quorvane halvex-2 bt", "Quorvane Halvex-2", "", "Brev"}) {
        LogWatch log;
        EXPECT_EQ(QdOpenDevContext(name), -2) << name;
        EXPECT_TRUE(log.contains(failLine("QdOpenDevContext", kLogDeviceNotFound)));
    }
    EXPECT_EQ(QdOpenDevContext(nullptr), -2);
    EXPECT_EQ(QdGetSelectedDevContext(), -1);
    // The slot stayed free.
    EXPECT_EQ(open(3), 0);
}

TEST_F(Contexts, Selection) {
    open(3);
    open(12);
    EXPECT_EQ(QdGetSelectedDevContext(), 1);
    EXPECT_STREQ(QdGetDevName(), "Quorvane Halvex+ 4 BT");
    LogWatch log;
    EXPECT_EQ(QdSelectDevContext(0), 0);
    EXPECT_TRUE(log.contains("{QdSelectDevContext(0)\n{createSpine()\n}createspine: 0\n}QdSelectDevContext: 0\n"));
    EXPECT_STREQ(QdGetDevName(), "Quorvane Halvex-2 BT");
    EXPECT_EQ(spineChannelCount(), 2);

    // The selected one again: nothing is rebuilt, no exit line.
    SpineNode *before = spineNodeFor(129, 0);
    log.mark();
    EXPECT_EQ(QdSelectDevContext(0), 0);
    EXPECT_EQ(log.text(), "{QdSelectDevContext(0)\n");
    EXPECT_EQ(spineNodeFor(129, 0), before);

    for (uint16_t bad : {2, 9, 10, 0xFFFF}) {
        log.mark();
        EXPECT_EQ(QdSelectDevContext(bad), -2) << bad;
        EXPECT_TRUE(log.contains(failLine("QdSelectDevContext", kLogInvalidContext)));
    }
    EXPECT_EQ(QdGetSelectedDevContext(), 0);
}

TEST_F(Contexts, CloseInvalidOnlyLogs) {
    open(3);
    for (uint16_t bad : {10, 5, 0xFFFF}) {
        LogWatch log;
        QdCloseDevContext(bad);
        EXPECT_EQ(log.text(), "{QdCloseDevContext(" + std::to_string(bad) + ")\n}QdCloseDevContext: void\n");
    }
    EXPECT_EQ(QdGetSelectedDevContext(), 0);
    EXPECT_TRUE(contextInUse(0));
}

TEST_F(Contexts, ClosingTheSelectedContext) {
    open(12);
    open(3);
    QdSelectDevContext(0);
    EXPECT_NE(QdGetCapConfig(), nullptr);
    QdCloseDevContext(0);
    EXPECT_EQ(QdGetSelectedDevContext(), -1);
    EXPECT_EQ(QdGetDevName(), nullptr);
    EXPECT_EQ(QdGetCapConfig(), nullptr);
    EXPECT_EQ(spineModel(), nullptr);
    QdParamValue v{};
    EXPECT_EQ(QdGetParam(0, 0, &v), 1);
    // Closing another context keeps the selection.
    QdSelectDevContext(1);
    open(0);
    QdSelectDevContext(1);
    QdCloseDevContext(2);
    EXPECT_EQ(QdGetSelectedDevContext(), 1);
    EXPECT_STREQ(QdGetDevName(), "Quorvane Halvex-2 BT");
}

TEST_F(Contexts, CapConfigOnlyForCapModels) {
    for (int model = 0; model < QD_MODEL_COUNT; ++model) {
        int16_t ctx = open(model);
        QdCapConfig *cap = QdGetCapConfig();
        if (model >= 12) {
            EXPECT_EQ((uint8_t *)cap, contextStorage((uint16_t)ctx) + 644) << model;
        } else {
            EXPECT_EQ(cap, nullptr) << model;
        }
        QdCloseDevContext((uint16_t)ctx);
    }
}

TEST_F(Contexts, FailedSelectionKeepsThePreviousOne) {
    open(3);
    open(14);
    QdSelectDevContext(0);
    ASSERT_EQ(setCode(QD_PAR_SAMPLE_RATE, 1, 10), 0);
    spineFailAllocationAfter(3);
    LogWatch log;
    EXPECT_EQ(QdSelectDevContext(1), -1);
    EXPECT_TRUE(log.contains(failLine("createSpine", kLogSpineAllocation)));
    EXPECT_TRUE(log.contains(failLine("QdSelectDevContext", kLogInitializationError)));
    EXPECT_EQ(QdGetSelectedDevContext(), 0);
    EXPECT_STREQ(QdGetDevName(), "Quorvane Halvex-2 BT");
    EXPECT_EQ(getCode(QD_PAR_SAMPLE_RATE, 1), 10u);
    EXPECT_EQ(QdSelectDevContext(1), 1);
}

TEST_F(Contexts, FailedOpenLeavesTheSlotFree) {
    open(3);
    spineFailAllocationAfter(10);
    LogWatch log;
    EXPECT_EQ(QdOpenDevContext(modelName(5)), -3);
    EXPECT_TRUE(log.contains(failLine("QdOpenDevContext", kLogContextSelectionError)));
    EXPECT_FALSE(contextInUse(1));
    EXPECT_EQ(QdGetSelectedDevContext(), 0);
    EXPECT_EQ(open(5), 1);
}

TEST_F(Contexts, ModelTableRows) {
    EXPECT_EQ(modelLinkType(0), 0);
    EXPECT_EQ(modelLinkType(7), 2);
    EXPECT_EQ(modelLinkType(14), 3);
    EXPECT_EQ(modelChannelCount(12), 5);
    EXPECT_EQ(modelChannelCount(10), 3);
    const ModelEntry *e = modelEntry(12);
    ASSERT_EQ(e->compatibleCount, 13);
    const uint8_t expected[] = {1, 2, 3, 4, 5, 9, 10, 11, 6, 7, 8, 13, 14};
    EXPECT_EQ(std::memcmp(e->compatible, expected, sizeof expected), 0);
    EXPECT_EQ(modelEntry(0)->compatibleCount, 0);
    EXPECT_EQ(modelEntry(1)->compatibleCount, 0);
    EXPECT_EQ(modelEntry(2)->compatibleCount, 1);
    EXPECT_EQ(modelEntry(2)->compatible[0], 1);
    EXPECT_EQ(modelByName("nothing"), -1);
    EXPECT_EQ(modelByName(nullptr), -1);
}

TEST_F(Contexts, DeviceIdText) {
    open(0);
    open(1);
    open(7);
    EXPECT_EQ(contextDeviceId(0), nullptr);
    EXPECT_STREQ(contextDeviceId(1), "Serial Port Device");
    EXPECT_STREQ(contextDeviceId(2), "Quorvane Halvex*");
    EXPECT_EQ(contextDeviceId(3), nullptr);
    EXPECT_EQ(contextDeviceId(10), nullptr);
    // A text filling the whole storage record still ends inside the context.
    std::memset(contextStorage(2), 'x', QD_STORAGE_SIZE);
    EXPECT_EQ(std::strlen(contextDeviceId(2)), QD_STORAGE_SIZE);
}

// Selecting a context again brings its spine in line with its stored
// values: a dependent whose option exists only under the stored superior
// reads correctly, and nothing stored changes.
TEST_F(Contexts, ReselectionFollowsTheStoredValues) {
    open(12);
    ASSERT_EQ(setCode(QD_PAR_CHANNEL_PROFILE, 0, 3), 0);       // "ECG for HRV", then adjusted:
    ASSERT_EQ(setCode(QD_PAR_SAMPLE_RATE, 0, 6), 0);
    ASSERT_EQ(setCode(QD_PAR_CHANNEL_FUNCTION, 1, 2), 0);      // conductance
    ASSERT_EQ(setCode(QD_PAR_MEASUREMENT_RANGE, 1, 2), 0);     // 160 uS: no voltage range has code 2
    ASSERT_EQ(setCode(QD_PAR_CHANNEL_FUNCTION, 2, 3), 0);  // temperature
    ASSERT_EQ(setCode(QD_PAR_CHANNEL_FUNCTION, 0, 5), 0);      // pIR HEG: lower limit code 3
    uint8_t image[QD_IMAGE_MAX], storage[QD_STORAGE_SIZE];
    std::memcpy(image, contextImage(0), sizeof image);
    std::memcpy(storage, contextStorage(0), sizeof storage);

    open(3);
    LogWatch log;
    ASSERT_EQ(QdSelectDevContext(0), 0);
    EXPECT_EQ(std::memcmp(image, contextImage(0), sizeof image), 0);
    EXPECT_EQ(std::memcmp(storage, contextStorage(0), sizeof storage), 0);
    QdParamValue v{};
    ASSERT_EQ(QdGetParam(QD_PAR_MEASUREMENT_RANGE, 1, &v), 0);
    EXPECT_EQ(v.value.f, 160.0f);
    EXPECT_EQ(getFloat(QD_PAR_RANGE_MINIMUM, 1), 8.0f);
    EXPECT_STREQ(QdParamInfo(QD_PAR_MEASUREMENT_RANGE, 1)->unit, "uS");
    EXPECT_EQ(getCode(QD_PAR_LOWER_LIMIT, 0), 3u);
    EXPECT_EQ(QdGetOptNum(QD_PAR_FREQ_CHARACTERISTIC, 0), 1);
    EXPECT_EQ(getFloat(QD_PAR_RANGE_MINIMUM, 2), 21.0f);
    EXPECT_FALSE(log.contains(kLogGetParamUnknownOption));
    // The stored profile was not imposed again.
    EXPECT_EQ(getCode(QD_PAR_CHANNEL_PROFILE, 0), 3u);
    EXPECT_EQ(getCode(QD_PAR_CHANNEL_FUNCTION, 0), 5u);

    // A later change settles dependents from the right variant.
    ASSERT_EQ(setCode(QD_PAR_MEASUREMENT_RANGE, 1, 0), 0);  // 640 uS
    EXPECT_EQ(getFloat(QD_PAR_RANGE_MINIMUM, 1), 32.0f);
}

TEST_F(Contexts, ReselectionPassesOverInvalidStoredValues) {
    open(3);
    open(3);
    contextImage(0)[16 + 1] = 9;  // no such function
    LogWatch log;
    ASSERT_EQ(QdSelectDevContext(0), 0);
    QdParamValue v{};
    EXPECT_EQ(QdGetParam(QD_PAR_CHANNEL_FUNCTION, 0, &v), 2);
    EXPECT_EQ(getCode(QD_PAR_CHANNEL_FUNCTION, 1), 0u);
    // The channel is usable again once the value is set.
    ASSERT_EQ(setCode(QD_PAR_CHANNEL_FUNCTION, 0, 1), 0);
    EXPECT_EQ(getCode(QD_PAR_MEASUREMENT_RANGE, 0), 2u);
}

TEST_F(Contexts, AttachAndDetachHooks) {
    open(3);
    open(4);
    contextsOnDetach();  // stops the contexts, keeps the slots
    EXPECT_TRUE(contextInUse(0));
    EXPECT_TRUE(contextInUse(1));
    contextsOnAttach();
    EXPECT_FALSE(contextInUse(0));
    EXPECT_FALSE(contextInUse(1));
    EXPECT_EQ(QdGetSelectedDevContext(), -1);
    EXPECT_EQ(spineModel(), nullptr);
    EXPECT_EQ(open(5), 0);
}

// Two host threads that select contexts and read their parameters at once
// (every selection rebuilds the parameter spine) get answers of one of the
// two contexts, and nothing breaks.
TEST_F(Contexts, TwoThreadsSelectingAndReading) {
    int16_t usb = QdOpenDevContext("Quorvane Halvex-4 USB"), brev = QdOpenDevContext("Quorvane Brev 100");
    ASSERT_GE(usb, 0);
    ASSERT_GE(brev, 0);
    std::atomic<int> bad{0};
    auto reader = [&](int16_t first, int16_t second) {
        char text[256];
        for (int i = 0; i < 300; ++i) {
            int16_t ctx = i % 2 ? first : second;
            QdParamValue v;
            bad += QdSelectDevContext((uint16_t)ctx) != ctx;
            bad += QdGetParam(QD_PAR_CHANNEL_COUNT, 0, &v) != 0 || (v.value.i != 4 && v.value.i != 1);
            bad += QdParam2Str(QD_PAR_SAMPLE_RATE, 0, text) == nullptr;
        }
    };
    std::thread one(reader, usb, brev), two(reader, brev, usb);
    one.join();
    two.join();
    EXPECT_EQ(bad.load(), 0);
}
