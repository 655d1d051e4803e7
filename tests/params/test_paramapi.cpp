// The exported parameter functions on real models.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "API/driver/params/mapping.h"
#include "API/driver/params/paramdefs.h"
#include "tests/params/param_helpers.h"
#include "tests/support/log_lines.h"

using namespace qdtest;

namespace {
class ParamApi : public DriverTest {};
}  // namespace

TEST_F(ParamApi, EnumParamsCounts) {
    for (int model = 0; model < QD_MODEL_COUNT; ++model) {
        open(model);
        EXPECT_EQ(QdEnumParams(-1, nullptr, 0), model == 0 ? 3 : 6) << modelName(model);
        closeAllContexts();
    }
}

TEST_F(ParamApi, EnumParamsLists) {
    open(3);
    uint16_t ids[40];
    const std::vector<uint16_t> channel = {128, 129, 130, 131, 132, 133, 134, 140, 141, 135,
                                           136, 137, 138, 142, 143, 139, 144, 145, 146};
    ASSERT_EQ(QdEnumParams(0, ids, sizeof ids), channel.size());
    EXPECT_EQ(std::vector<uint16_t>(ids, ids + channel.size()), channel);
    EXPECT_EQ(QdEnumParams(1, nullptr, 0), channel.size());
    // An exact fit succeeds; one id less fails.
    EXPECT_EQ(QdEnumParams(0, ids, (uint16_t)(2 * channel.size())), channel.size());
    EXPECT_EQ(QdEnumParams(0, ids, (uint16_t)(2 * channel.size() - 1)), 0);
    ASSERT_EQ(QdEnumParams(-1, ids, 12), 6);
    EXPECT_EQ(std::vector<uint16_t>(ids, ids + 6), (std::vector<uint16_t>{0, 3, 1, 2, 4, 5}));
    EXPECT_EQ(QdEnumParams(-1, ids, 10), 0);
}

TEST_F(ParamApi, EnumParamsFailures) {
    uint16_t ids[4] = {0xAAAA, 0xAAAA, 0xAAAA, 0xAAAA};
    LogWatch log;
    EXPECT_EQ(QdEnumParams(-1, ids, sizeof ids), 0);
    EXPECT_TRUE(log.contains(errorLine(kLogEnumParamsNoContext)));

    open(3);
    log.mark();
    EXPECT_EQ(QdEnumParams(0, ids, 2), 0);
    EXPECT_EQ(ids[0], 128);
    EXPECT_EQ(ids[1], 0xAAAA);
    EXPECT_TRUE(log.contains(errorLine(kLogEnumParamsNoContext)));

    const int16_t badChannels[] = {2, 5, -2, -32768, 32767};
    for (int16_t c : badChannels) {
        log.mark();
        EXPECT_EQ(QdEnumParams(c, ids, sizeof ids), 0) << c;
        EXPECT_TRUE(log.contains(errorLine(kLogEnumParamsBadChannel)));
    }
    ids[0] = 0xAAAA;
    EXPECT_EQ(QdEnumParams(0, ids, 1), 0);
    EXPECT_EQ(ids[0], 0xAAAA);
    EXPECT_EQ(QdEnumParams(-1, ids, 0), 0);
    EXPECT_EQ(QdEnumParams(-1, ids, 1), 0);
    EXPECT_EQ(ids[0], 0xAAAA);
}

TEST_F(ParamApi, AddressingOfIdsAndChannels) {
    open(3);
    EXPECT_EQ(QdParamExists(QD_PAR_LINK_TYPE, 0), 1);
    EXPECT_EQ(QdParamExists(QD_PAR_LINK_TYPE, -1), 1);     // general parameters ignore the channel
    EXPECT_EQ(QdParamExists(QD_PAR_SILENT_MODE, 77), 1);
    EXPECT_EQ(QdParamExists(QD_PAR_CHANNEL_NAME, 1), 1);
    EXPECT_EQ(QdParamExists(QD_PAR_COMMON_REFERENCE, 1), 1);
    const struct {
        uint16_t id;
        int16_t channel;
    } missing[] = {{6, 0},   {19, 0},   {20, 0},     {127, 0},   {147, 0},    {148, 0},   {255, 0},
                   {0x100, 0}, {0x180, 0}, {0xFFFF, 0}, {129, 2},   {129, -1},   {129, 5},   {129, 32767}};
    for (const auto &m : missing) {
        LogWatch log;
        EXPECT_EQ(QdParamExists(m.id, m.channel), 0) << m.id << " " << m.channel;
        EXPECT_EQ(QdParamInfo(m.id, m.channel), nullptr);
        EXPECT_TRUE(log.contains(errorLine(kLogParamInfoInvalid)));
        QdParamValue v{};
        EXPECT_EQ(QdGetParam(m.id, (uint16_t)m.channel, &v), 1);
        EXPECT_TRUE(log.contains(errorLine(kLogGetParamInvalid)));
        QdValue val = code(0);
        EXPECT_EQ(QdSetParam(m.id, (uint16_t)m.channel, &val), 8);
        EXPECT_TRUE(log.contains(errorLine(kLogSetParamInvalid)));
        EXPECT_EQ(QdGetOptNum(m.id, m.channel), 0);
        EXPECT_TRUE(log.contains(errorLine(kLogGetOptNumInvalid)));
        EXPECT_EQ(QdLockParam(m.id, m.channel, 1), 1);
        EXPECT_TRUE(log.contains(errorLine(kLogLockParamInvalid)));
    }
    // The Brev model has no channel profile.
    closeAllContexts();
    open(0);
    EXPECT_EQ(QdParamExists(QD_PAR_CHANNEL_PROFILE, 0), 0);
    EXPECT_EQ(QdParamExists(QD_PAR_DEVICE_ID, 0), 0);
}

TEST_F(ParamApi, NoContext) {
    LogWatch log;
    QdParamValue v{};
    QdValue val = code(0);
    EXPECT_EQ(QdGetParam(0, 0, &v), 1);
    EXPECT_EQ(QdSetParam(0, 0, &val), 9);
    EXPECT_TRUE(log.contains(errorLine(kLogSetParamNoContext)));
    EXPECT_EQ(QdParamInfo(0, 0), nullptr);
    EXPECT_EQ(QdParamExists(0, 0), 0);
    EXPECT_EQ(QdGetOptNum(0, 0), 0);
    EXPECT_EQ(QdLockParam(0, 0, 1), 2);
    EXPECT_TRUE(log.contains(errorLine(kLogLockParamNoContext)));
    EXPECT_EQ(QdSetDefaults(-2), 3);
    EXPECT_TRUE(log.contains("{QdSetDefaults(-2)\n!}QdSetDefaults: Context not selected\n"));
}

TEST_F(ParamApi, GetParamRecords) {
    open(6);
    QdParamValue v{};
    ASSERT_EQ(QdGetParam(QD_PAR_CHANNEL_COUNT, 0, &v), 0);
    EXPECT_EQ(v.code, 0u);
    EXPECT_EQ(v.value.i, 4);
    EXPECT_EQ(v.type, QD_KIND_INT);
    ASSERT_EQ(QdGetParam(QD_PAR_LINK_TYPE, 0, &v), 0);
    EXPECT_EQ(v.code, 1u);
    EXPECT_STREQ(v.value.s, "Bluetooth");
    EXPECT_EQ(v.type, 0x83);
    ASSERT_EQ(QdGetParam(QD_PAR_SAMPLE_RATE, 3, &v), 0);
    EXPECT_EQ(v.code, 7u);
    EXPECT_EQ(v.value.f, 125.0f);
    EXPECT_EQ(v.type, 0x82);
    ASSERT_EQ(QdGetParam(QD_PAR_DEVICE_ID, 0, &v), 0);
    EXPECT_STREQ(v.value.s, "Quorvane Halvex*");
    EXPECT_EQ(v.value.s, (const char *)contextStorage(0));
    ASSERT_EQ(QdGetParam(QD_PAR_CHANNEL_NAME, 3, &v), 0);
    EXPECT_STREQ(v.value.s, "D");
    ASSERT_EQ(QdGetParam(QD_PAR_UPPER_LIMIT, 0, &v), 0);
    EXPECT_EQ(v.value.f, 0.4f);
    EXPECT_EQ(v.type, QD_KIND_FLOAT);
    EXPECT_EQ(QdGetParam(QD_PAR_UPPER_LIMIT, 0, nullptr), 1);
}

TEST_F(ParamApi, SetParamRefusals) {
    open(3);
    uint8_t image[QD_IMAGE_MAX], storage[QD_STORAGE_SIZE];
    std::memcpy(image, contextImage(0), sizeof image);
    std::memcpy(storage, contextStorage(0), sizeof storage);
    LogWatch log;
    QdValue v = code(3);
    EXPECT_EQ(QdSetParam(QD_PAR_CHANNEL_COUNT, 0, &v), 2);
    EXPECT_TRUE(log.contains(errorLine(kLogSetParamConstant)));
    EXPECT_EQ(QdSetParam(QD_PAR_RANGE_MINIMUM, 0, &v), 2);
    EXPECT_EQ(QdSetParam(QD_PAR_CHANNEL_NAME, 0, &v), 2);
    v = text("1234567890123456");  // 16 characters, storage 16
    EXPECT_EQ(QdSetParam(QD_PAR_CHANNEL_LABEL, 0, &v), -1);
    EXPECT_TRUE(log.contains(errorLine(kLogSetParamOutside)));
    v = text("12345678901234567890");
    EXPECT_EQ(QdSetParam(QD_PAR_DEVICE_ID, 0, &v), -1);
    v = text(nullptr);
    EXPECT_EQ(QdSetParam(QD_PAR_CHANNEL_LABEL, 0, &v), -1);
    EXPECT_EQ(QdSetParam(QD_PAR_CHANNEL_LABEL, 0, nullptr), -1);
    EXPECT_EQ(QdSetParam(QD_PAR_SAMPLE_RATE, 0, nullptr), -1);
    v = code(12);
    EXPECT_EQ(QdSetParam(QD_PAR_SAMPLE_RATE, 0, &v), -1);
    v = code(0x100 | 7);  // only the code's exact value counts
    EXPECT_EQ(QdSetParam(QD_PAR_SAMPLE_RATE, 0, &v), -1);
    // Nothing changed by any of them.
    EXPECT_EQ(std::memcmp(image, contextImage(0), sizeof image), 0);
    EXPECT_EQ(std::memcmp(storage, contextStorage(0), sizeof storage), 0);
}

TEST_F(ParamApi, TextsFillTheirSlot) {
    open(3);
    QdValue v = text("123456789012345");
    ASSERT_EQ(QdSetParam(QD_PAR_CHANNEL_LABEL, 1, &v), 0);
    QdParamValue r{};
    ASSERT_EQ(QdGetParam(QD_PAR_CHANNEL_LABEL, 1, &r), 0);
    EXPECT_STREQ(r.value.s, "123456789012345");
    EXPECT_EQ(r.value.s, (const char *)contextStorage(0) + 20 + 16);
    v = text("EEG");
    ASSERT_EQ(QdSetParam(QD_PAR_CHANNEL_LABEL, 1, &v), 0);
    const uint8_t *slot = contextStorage(0) + 36;
    EXPECT_EQ(std::memcmp(slot, "EEG\0\0\0\0\0\0\0\0\0\0\0\0\0", 16), 0);
    EXPECT_EQ(contextStorage(0)[20], 0);  // channel 0's label untouched
    EXPECT_EQ(contextStorage(0)[52], 0);

    // Setting a text from the pointer QdGetParam handed out keeps it whole.
    ASSERT_EQ(QdGetParam(QD_PAR_CHANNEL_LABEL, 1, &r), 0);
    ASSERT_EQ(QdSetParam(QD_PAR_CHANNEL_LABEL, 1, &r.value), 0);
    ASSERT_EQ(QdGetParam(QD_PAR_CHANNEL_LABEL, 1, &r), 0);
    EXPECT_STREQ(r.value.s, "EEG");
    // ... and from the middle of itself.
    v = text("xyzEEG");
    ASSERT_EQ(QdSetParam(QD_PAR_SENSOR_INFO, 0, &v), 0);
    ASSERT_EQ(QdGetParam(QD_PAR_SENSOR_INFO, 0, &r), 0);
    v = text(r.value.s + 3);
    ASSERT_EQ(QdSetParam(QD_PAR_SENSOR_INFO, 0, &v), 0);
    ASSERT_EQ(QdGetParam(QD_PAR_SENSOR_INFO, 0, &r), 0);
    EXPECT_STREQ(r.value.s, "EEG");

    v = text("00:11:22:33:44:55");
    ASSERT_EQ(QdSetParam(QD_PAR_DEVICE_ID, 0, &v), 0);
    EXPECT_STREQ(contextDeviceId(0), "00:11:22:33:44:55");
}

TEST_F(ParamApi, CommonReferenceBits) {
    open(3);
    uint8_t *byte22 = contextImage(0) + 22;
    ASSERT_EQ(setCode(QD_PAR_CHANNEL_ENABLE, 1, 1), 0);
    ASSERT_EQ(setCode(QD_PAR_SUM_DISCONNECTED, 1, 1), 0);
    ASSERT_EQ(setCode(QD_PAR_FREQ_CHARACTERISTIC, 1, 1), 0);
    ASSERT_EQ(setCode(QD_PAR_COMMON_REFERENCE, 1, 1), 0);
    EXPECT_EQ(*byte22, 0x80 | 0x40 | 0x20 | 0x08 | 0x01);
    ASSERT_EQ(setCode(QD_PAR_COMMON_REFERENCE, 1, 2), 0);
    EXPECT_EQ(*byte22, 0x80 | 0x40 | 0x20 | 0x10 | 0x01);
    EXPECT_EQ(getCode(QD_PAR_COMMON_REFERENCE, 1), 2u);
    EXPECT_EQ(contextImage(0)[16], 0x40);  // channel 0 untouched
}

TEST_F(ParamApi, BooleansStoreTheirLowestByte) {
    open(3);
    QdValue v{};
    v.code = 0x100;  // lowest byte 0
    ASSERT_EQ(QdSetParam(QD_PAR_CHANNEL_ENABLE, 0, &v), 0);
    EXPECT_EQ(getCode(QD_PAR_CHANNEL_ENABLE, 0), 0u);
    v.code = 0x2;
    ASSERT_EQ(QdSetParam(QD_PAR_CHANNEL_ENABLE, 0, &v), 0);
    EXPECT_EQ(getCode(QD_PAR_CHANNEL_ENABLE, 0), 1u);
    EXPECT_EQ(contextImage(0)[16] & 0x80, 0x80);
    ASSERT_EQ(setCode(QD_PAR_SILENT_MODE, 0, 1), 0);
    EXPECT_EQ(contextImage(0)[0], 0x02 | 0x20);
}

TEST(Mapping, MultiByteMasksAreLittleEndian) {
    uint8_t image[4] = {0xFF, 0xFF, 0xFF, 0xFF};
    ParamMapEntry wide{1, 0x0FF0u, 0, 4, QD_NO_SLOT};
    writeMapped(image, &wide, 0xAB);
    EXPECT_EQ(image[0], 0xBF);
    EXPECT_EQ(image[1], 0xFA);
    EXPECT_EQ(image[2], 0xFF);
    EXPECT_EQ(readMapped(image, &wide), 0xABu);
    writeMapped(image, &wide, 0x1234);  // bits beyond the field are dropped
    EXPECT_EQ(readMapped(image, &wide), 0x34u);

    // A mask that starts in its second byte leaves the first alone.
    uint8_t other[3] = {0x5A, 0x00, 0x00};
    ParamMapEntry high{1, 0x00FF00u, 0, 8, QD_NO_SLOT};
    writeMapped(other, &high, 0x77);
    EXPECT_EQ(other[0], 0x5A);
    EXPECT_EQ(other[1], 0x77);
    EXPECT_EQ(readMapped(other, &high), 0x77u);

    // One-bit flags (including non-adjacent bits) are all or nothing.
    uint8_t flags[2] = {0, 0};
    ParamMapEntry split{1, 0x0101u, 0, 0, QD_NO_SLOT};
    writeMapped(flags, &split, 5);
    EXPECT_EQ(flags[0], 1);
    EXPECT_EQ(flags[1], 1);
    EXPECT_EQ(readMapped(flags, &split), 1u);
    writeMapped(flags, &split, 0);
    EXPECT_EQ(flags[0] | flags[1], 0);
    EXPECT_EQ(mappedBytes(0x80000000u), 4u);
    EXPECT_EQ(mappedBytes(0), 0u);

    // A shift of 32 or more yields nothing rather than an undefined shift.
    ParamMapEntry bad{1, 0xFF, 0, 40, QD_NO_SLOT};
    uint8_t b[1] = {0x33};
    writeMapped(b, &bad, 1);
    EXPECT_EQ(b[0], 0);
    EXPECT_EQ(readMapped(b, &bad), 0u);
}

TEST_F(ParamApi, GetOptNum) {
    open(12);
    EXPECT_EQ(QdGetOptNum(QD_PAR_CHANNEL_FUNCTION, 0), 7);
    EXPECT_EQ(QdGetOptNum(QD_PAR_CHANNEL_FUNCTION, 1), 4);
    EXPECT_EQ(QdGetOptNum(QD_PAR_CHANNEL_FUNCTION, 4), 1);
    EXPECT_EQ(QdGetOptNum(QD_PAR_MAINS_FREQUENCY, 0), 2);
    LogWatch log;
    EXPECT_EQ(QdGetOptNum(QD_PAR_CHANNEL_LABEL, 0), 0);
    EXPECT_TRUE(log.contains(errorLine(kLogGetOptNumInvalid)));
}

TEST_F(ParamApi, LockCounts) {
    open(3);
    ASSERT_EQ(QdLockParam(129, -2, 1), 0);
    ASSERT_EQ(QdLockParam(129, -2, 1), 0);
    ASSERT_EQ(QdLockParam(129, 0, 0), 0);
    EXPECT_EQ(spineNodeFor(129, 0)->lockCount, 1);
    EXPECT_EQ(spineNodeFor(129, 1)->lockCount, 2);
    for (int i = 0; i < 300; ++i) QdLockParam(QD_PAR_SILENT_MODE, -2, 1);
    EXPECT_EQ(spineNodeFor(QD_PAR_SILENT_MODE, 0)->lockCount, 255);
    for (int i = 0; i < 300; ++i) QdLockParam(QD_PAR_SILENT_MODE, 0, 0);
    EXPECT_EQ(spineNodeFor(QD_PAR_SILENT_MODE, 0)->lockCount, 0);
    EXPECT_EQ(QdLockParam(129, -3, 1), 1);
    EXPECT_EQ(QdLockParam(150, -2, 1), 1);
    // Locks belong to the selection: a new spine starts unlocked.
    open(3);
    QdSelectDevContext(0);
    EXPECT_EQ(spineNodeFor(129, 1)->lockCount, 0);
}

TEST_F(ParamApi, SetDefaultsBySelector) {
    open(3);
    for (uint16_t c = 0; c < 2; ++c) {
        ASSERT_EQ(setCode(QD_PAR_CHANNEL_FUNCTION, c, 2), 0);
        QdValue v = text("label");
        ASSERT_EQ(QdSetParam(QD_PAR_CHANNEL_LABEL, c, &v), 0);
    }
    ASSERT_EQ(setCode(QD_PAR_SILENT_MODE, 0, 1), 0);
    uint8_t image[QD_IMAGE_MAX], storage[QD_STORAGE_SIZE];
    std::memcpy(image, contextImage(0), sizeof image);
    std::memcpy(storage, contextStorage(0), sizeof storage);

    LogWatch log;
    EXPECT_EQ(QdSetDefaults(5), 0);
    EXPECT_EQ(QdSetDefaults(-3), 0);
    EXPECT_EQ(std::memcmp(image, contextImage(0), sizeof image), 0);
    EXPECT_EQ(std::memcmp(storage, contextStorage(0), sizeof storage), 0);
    EXPECT_TRUE(log.contains("{QdSetDefaults(5)\n}QdSetDefaults: 0\n"));

    ASSERT_EQ(QdSetDefaults(1), 0);
    EXPECT_EQ(getCode(QD_PAR_CHANNEL_FUNCTION, 1), 0u);
    EXPECT_EQ(getCode(QD_PAR_CHANNEL_FUNCTION, 0), 2u);
    QdParamValue r{};
    ASSERT_EQ(QdGetParam(QD_PAR_CHANNEL_LABEL, 1, &r), 0);
    EXPECT_STREQ(r.value.s, "");
    ASSERT_EQ(QdGetParam(QD_PAR_CHANNEL_LABEL, 0, &r), 0);
    EXPECT_STREQ(r.value.s, "label");
    EXPECT_EQ(getCode(QD_PAR_SILENT_MODE, 0), 1u);
    EXPECT_EQ(std::memcmp(image, contextImage(0), 22), 0);  // general bytes and channel 0

    ASSERT_EQ(QdSetDefaults(-1), 0);
    EXPECT_EQ(getCode(QD_PAR_SILENT_MODE, 0), 0u);
    EXPECT_EQ(getCode(QD_PAR_CHANNEL_FUNCTION, 0), 2u);

    ASSERT_EQ(QdSetDefaults(-2), 0);
    EXPECT_EQ(getCode(QD_PAR_CHANNEL_FUNCTION, 0), 0u);
    ASSERT_EQ(QdGetParam(QD_PAR_CHANNEL_LABEL, 0, &r), 0);
    EXPECT_STREQ(r.value.s, "");
}

TEST_F(ParamApi, ParseParamUnit) {
    double k = 0;
    EXPECT_STREQ(QdParseParamUnit("uV", &k), "V");
    EXPECT_EQ(k, 1e-6);
    EXPECT_STREQ(QdParseParamUnit("m", &k), "m");
    EXPECT_EQ(k, 1.0);
    EXPECT_STREQ(QdParseParamUnit("sps", &k), "sps");
    EXPECT_EQ(k, 1.0);
    EXPECT_STREQ(QdParseParamUnit("kOhm", &k), "Ohm");
    EXPECT_EQ(k, 1e3);
    EXPECT_STREQ(QdParseParamUnit("nA", &k), "A");
    EXPECT_EQ(k, 1e-9);
    EXPECT_STREQ(QdParseParamUnit("TB", &k), "B");
    EXPECT_EQ(k, 1e12);
    EXPECT_STREQ(QdParseParamUnit("pF", &k), "F");
    EXPECT_EQ(k, 1e-12);
    EXPECT_STREQ(QdParseParamUnit("Hz", &k), "Hz");
    EXPECT_STREQ(QdParseParamUnit("`C", &k), "`C");
    EXPECT_STREQ(QdParseParamUnit("", &k), "");
    EXPECT_EQ(k, 1.0);
    EXPECT_STREQ(QdParseParamUnit("MHz", nullptr), "Hz");
    EXPECT_EQ(QdParseParamUnit(nullptr, &k), nullptr);
}

TEST_F(ParamApi, EegCapRecordFollowsTheCapSites) {
    open(12);
    QdCapConfig *cap = QdGetCapConfig();
    ASSERT_NE(cap, nullptr);
    EXPECT_EQ((uint8_t *)cap, contextStorage(0) + 644);
    // Disabled: nothing is recorded.
    ASSERT_EQ(setCode(QD_PAR_EEG_CAP, 1, 9), 0);
    EXPECT_EQ(cap->sites[0][1], 0);

    cap->enabled = 1;
    cap->currentSet = 2;
    ASSERT_EQ(setCode(QD_PAR_EEG_CAP, 1, 10), 0);
    EXPECT_EQ(cap->sites[2][1], 10);
    EXPECT_EQ(contextImage(0)[16 + 6 + 5], 10);

    // The defaults of enabled cap channels come from the current set.
    cap->sites[2][3] = 14;
    ASSERT_EQ(QdSetDefaults(3), 0);
    EXPECT_EQ(getCode(QD_PAR_EEG_CAP, 3), 14u);
    ASSERT_EQ(setCode(QD_PAR_CHANNEL_FUNCTION, 3, 1), 0);  // "None", not applicable
    EXPECT_EQ(getCode(QD_PAR_EEG_CAP, 3), 0u);
    EXPECT_EQ(cap->sites[2][3], 14);                        // a hidden site is not recorded
    ASSERT_EQ(setCode(QD_PAR_CHANNEL_FUNCTION, 3, 0), 0);  // back to voltage: the set's site
    EXPECT_EQ(getCode(QD_PAR_EEG_CAP, 3), 14u);

    // A set number out of range is ignored rather than written past the record.
    uint8_t storage[QD_STORAGE_SIZE];
    std::memcpy(storage, contextStorage(0), sizeof storage);
    cap->currentSet = 77;
    storage[648] = 77;
    ASSERT_EQ(setCode(QD_PAR_EEG_CAP, 0, 8), 0);
    EXPECT_EQ(std::memcmp(storage, contextStorage(0), sizeof storage), 0);
    ASSERT_EQ(QdSetDefaults(0), 0);
    EXPECT_EQ(getCode(QD_PAR_EEG_CAP, 0), 0u);

    // -2 clears the record.
    ASSERT_EQ(QdSetDefaults(-2), 0);
    EXPECT_EQ(cap->enabled, 0u);
    EXPECT_EQ(cap->sites[2][1], 0);
}

// Whatever id, channel and value a host passes, only the selected context's
// image (within its model's length) and storage record change.
TEST_F(ParamApi, BadInputStaysInsideTheContext) {
    const uint16_t channels[] = {0, 1, 2, 3, 4, 5, 6, 9, 0x7FFF, 0x8000, 0xFFFE, 0xFFFF};
    std::vector<uint16_t> ids;
    for (uint16_t id = 0; id < 160; ++id) ids.push_back(id);
    for (uint16_t id : {0x100, 0x180, 0x193, 0x7FFF, 0x8000, 0x8080, 0xFF7F, 0xFFFE, 0xFFFF}) ids.push_back(id);
    const uint32_t codes[] = {0, 1, 2, 3, 7, 13, 15, 255, 0xFFFF, 0x80000000u, 0xFFFFFFFFu};
    for (int model : {0, 2, 11, 14}) {
        closeAllContexts();
        for (int i = 0; i < QD_MAX_CONTEXTS; ++i) open(i % 2 ? 14 : 0);
        ASSERT_EQ(QdSelectDevContext(5), 5);
        QdCloseDevContext(5);
        ASSERT_EQ(QdOpenDevContext(modelName(model)), 5);
        // Fill the other contexts and the unused image tail with a pattern.
        for (uint16_t c = 0; c < QD_MAX_CONTEXTS; ++c) {
            if (c == 5) continue;
            std::memset(contextImage(c), 0xA5, QD_IMAGE_MAX);
            std::memset(contextStorage(c), 0x5A, QD_STORAGE_SIZE);
        }
        uint16_t length = modelEntry((uint16_t)model)->descriptor->imageLength;
        std::memset(contextImage(5) + length, 0xA5, QD_IMAGE_MAX - length);
        for (uint16_t id : ids) {
            for (uint16_t ch : channels) {
                // A text parameter takes a text pointer: its value cell is
                // not probed with numbers.
                const QdParamDef *d = QdParamInfo(id, (int16_t)ch);
                bool isText = d && (d->type & 0x7F) == QD_KIND_STRING && !(d->type & QD_TYPE_OPTION_LIST);
                for (uint32_t c : codes) {
                    QdValue v = code(c);
                    if (!isText) QdSetParam(id, ch, &v);
                }
                QdValue t = text("x");
                QdSetParam(id, ch, &t);
                QdParamValue r;
                QdGetParam(id, ch, &r);
                QdLockParam(id, (int16_t)ch, 1);
                QdGetOptNum(id, (int16_t)ch);
            }
            QdLockParam(id, -2, 1);
        }
        for (uint16_t c = 0; c < QD_MAX_CONTEXTS; ++c) {
            if (c == 5) continue;
            for (int i = 0; i < QD_IMAGE_MAX; ++i) ASSERT_EQ(contextImage(c)[i], 0xA5) << model << " ctx " << c;
            for (int i = 0; i < QD_STORAGE_SIZE; ++i) ASSERT_EQ(contextStorage(c)[i], 0x5A) << model << " ctx " << c;
        }
        for (int i = length; i < QD_IMAGE_MAX; ++i) ASSERT_EQ(contextImage(5)[i], 0xA5) << model;
        // The context still works.
        EXPECT_EQ(QdSetDefaults(-2), 0);
        EXPECT_EQ(QdEnumParams(-1, nullptr, 0), model == 0 ? 3 : 6);
    }
}
