// Building the dependency spine, and propagating changes through it.
#include <gtest/gtest.h>

#include <vector>

#include "API/driver/params/paramdefs.h"
#include "API/driver/params/tables.h"
#include "tests/params/param_helpers.h"
#include "tests/support/log_lines.h"

using namespace qdtest;

namespace {

// A small model assembled per test: one channel whose "Channel function"
// decides "Frequency characteristic", both mapped.
const QdOption kOne[] = {OPT_T(0, "only"), OPT_END};
const QdOption kTwo[] = {OPT_T(0, "a"), OPT_T(1, "b"), OPT_END};
const uint16_t kDeps141[] = {141, QD_LIST_END};

struct Synthetic {
    std::vector<QdParamDef> general;
    std::vector<ParamMapEntry> generalMap;
    std::vector<QdParamDef> channel;
    std::vector<ParamMapEntry> channelMap;
    const QdParamDef *lists[1];
    const ParamMapEntry *maps[1];
    const QdParamDef *const *names = kChannelNames;
    uint8_t image[52] = {};
    ModelDescriptor m{};

    Synthetic() {
        general = {
            DEF_OPTT(0, "Link type", G_LINK, F_CONST, kOne, 0, nullptr, nullptr),
            DEF_INT(1, "Number of channels", nullptr, F_INTERNAL, 1, nullptr, nullptr),
            DEF_END,
        };
        generalMap = {MAP_NONE(0), MAP_NONE(1), MAP_END};
        channel = {
            DEF_OPTT(140, "Channel function", G_SETTINGS, 0, kTwo, 0, kDeps141, nullptr),
            DEF_OPTT(141, "Frequency characteristic", G_SETTINGS, 0, kTwo, 0, nullptr, nullptr),
            DEF_OPTT(141, "Frequency characteristic", G_SETTINGS, F_NA, kOne, 0, nullptr, nullptr),
            DEF_END,
        };
        channelMap = {MAP_BITS(140, 0xFF, 1, 0), MAP_BITS(141, 0x07, 0, 0), MAP_END};
    }

    const ModelDescriptor *descriptor() {
        lists[0] = channel.data();
        maps[0] = channelMap.data();
        m = ModelDescriptor{general.data(), names, lists, generalMap.data(), maps, 1, image, 52, 16, 6, nullptr};
        return &m;
    }
};

class Spine : public DriverTest {};

}  // namespace

TEST_F(Spine, SyntheticModelBuilds) {
    Synthetic s;
    EXPECT_EQ(buildSpine(s.descriptor()), 0);
    const SpineNode *n = spineNodeFor(141, 0);
    ASSERT_NE(n, nullptr);
    EXPECT_EQ(n->variants, 2);
    ASSERT_EQ(n->superiorCount, 1);
    EXPECT_EQ(n->superiors[0].id, 140);
    EXPECT_EQ(n->superiors[0].index, 0);
    EXPECT_EQ(n->superiors[0].count, 2);
    freeSpine();
}

TEST_F(Spine, ListFaultsAreRejectedWithTheirResult) {
    struct Case {
        const char *what;
        void (*spoil)(Synthetic &);
        int result;
        const char *message;
    };
    const Case cases[] = {
        {"general id 6", [](Synthetic &s) { s.general.insert(s.general.begin(), DEF_BOOL(6, "x", nullptr, F_CONST, 0, nullptr)); },
         1, "!}createSpine: Invalid parameter on general parameter list (1)\n"},
        {"general map without node", [](Synthetic &s) { s.generalMap.insert(s.generalMap.begin(), MAP_NONE(4)); },
         3, "!}createSpine: Invalid parameter on general parameter list (2)\n"},
        {"channel id 148", [](Synthetic &s) { s.channel.insert(s.channel.begin(), DEF_BOOL(148, "x", nullptr, F_CONST, 0, nullptr)); },
         5, "!}createSpine: Invalid parameter on channel parameter list (1)\n"},
        {"general id in a channel list", [](Synthetic &s) { s.channel.insert(s.channel.begin(), DEF_BOOL(5, "x", nullptr, F_CONST, 0, nullptr)); },
         5, "!}createSpine: Invalid parameter on channel parameter list (1)\n"},
        {"channel map without node", [](Synthetic &s) { s.channelMap.insert(s.channelMap.begin(), MAP_BITS(142, 0x40, 0, 0)); },
         7, "!}createSpine: Invalid parameter on channel parameter list (2)\n"},
        {"general default not an option", [](Synthetic &s) {
             static const uint16_t deps[] = {5, QD_LIST_END};
             s.general[0] = DEF_OPTT(0, "Link type", G_LINK, F_CONST, kOne, 7, deps, nullptr);
         }, 8, "!}createSpine: Parameter not allowed as an index (1)\n"},
        {"general dependent missing", [](Synthetic &s) {
             static const uint16_t deps[] = {5, QD_LIST_END};
             s.general[0] = DEF_OPTT(0, "Link type", G_LINK, F_CONST, kOne, 0, deps, nullptr);
         }, 9, "!}createSpine: Invalid parameter as dependent or too many dependencies (1)\n"},
        {"general dependent on no channel", [](Synthetic &s) {
             static const uint16_t deps[] = {142, QD_LIST_END};
             s.general[0] = DEF_OPTT(0, "Link type", G_LINK, F_CONST, kOne, 0, deps, nullptr);
         }, 11, "!}createSpine: Invalid parameter as dependent\n"},
        {"channel superior of float kind", [](Synthetic &s) {
             s.channel[0] = DEF_FLOAT(140, "Channel function", G_SETTINGS, F_CONST, 1.0f, nullptr, nullptr);
             s.channel[0].dependents = kDeps141;
         }, 12, "!}createSpine: Parameter not allowed as an index (2)\n"},
        {"channel dependent missing", [](Synthetic &s) {
             static const uint16_t deps[] = {146, QD_LIST_END};
             s.channel[0].dependents = deps;
         }, 13, "!}createSpine: Invalid parameter as dependent or too many dependencies (2)\n"},
        {"channel name not constant", [](Synthetic &s) {
             static const QdParamDef name[] = {DEF_STR(128, "Channel name", nullptr, 0, 2, "A", nullptr), DEF_END};
             static const QdParamDef *const names[] = {name};
             s.names = names;
         }, 14, "!}createSpine: Parameter not mapped and not constant or have more than one options (1)\n"},
        {"unmapped variable", [](Synthetic &s) { s.channelMap.erase(s.channelMap.begin() + 1); },
         15, "!}createSpine: Parameter not mapped and not constant or have more than one options (2)\n"},
        {"constant with two options", [](Synthetic &s) {
             s.general.insert(s.general.begin() + 2, DEF_OPTT(5, "x", nullptr, F_CONST, kTwo, 0, nullptr, nullptr));
         }, 15, "!}createSpine: Parameter not mapped and not constant or have more than one options (2)\n"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        Synthetic s;
        c.spoil(s);
        LogWatch log;
        EXPECT_EQ(buildSpine(s.descriptor()), c.result);
        EXPECT_TRUE(log.contains(c.message)) << log.text();
        EXPECT_FALSE(log.contains("}createspine: 0"));
        freeSpine();
    }
}

TEST_F(Spine, AFourthSuperiorIsRejected) {
    // 141 depends on 140, 142, 143 and 146.
    static const uint16_t deps[] = {141, QD_LIST_END};
    Synthetic s;
    s.channel.insert(s.channel.begin() + 1, {
        DEF_OPTT(142, "p", G_SETTINGS, 0, kOne, 0, deps, nullptr),
        DEF_OPTT(143, "q", G_SETTINGS, 0, kOne, 0, deps, nullptr),
        DEF_OPTT(146, "r", G_SETTINGS, 0, kOne, 0, deps, nullptr),
    });
    s.channelMap.insert(s.channelMap.begin(), {MAP_BITS(142, 0x40, 0, 0), MAP_BITS(143, 0x20, 0, 0), MAP_BITS(146, 0x18, 0, 3)});
    LogWatch log;
    EXPECT_EQ(buildSpine(s.descriptor()), 13);
    EXPECT_TRUE(log.contains(errorLine(kLogAddDepFailed)));
    freeSpine();

    // The same through a general superior on every channel.
    Synthetic g;
    g.channel.insert(g.channel.begin() + 1, {
        DEF_OPTT(142, "p", G_SETTINGS, 0, kOne, 0, deps, nullptr),
        DEF_OPTT(143, "q", G_SETTINGS, 0, kOne, 0, deps, nullptr),
    });
    g.channelMap.insert(g.channelMap.begin(), {MAP_BITS(142, 0x40, 0, 0), MAP_BITS(143, 0x20, 0, 0)});
    g.general[0].dependents = deps;
    // Registered first (general), so the channel's third superior is the
    // fourth.
    log.mark();
    EXPECT_EQ(buildSpine(g.descriptor()), 13);
    EXPECT_TRUE(log.contains(errorLine(kLogAddDepFailed)));
    freeSpine();
}

TEST_F(Spine, NoSelectedContext) {
    LogWatch log;
    EXPECT_EQ(createSpine(), 16);
    EXPECT_TRUE(log.contains("{createSpine()\n"));
    EXPECT_TRUE(log.contains(failLine("createSpine", kLogContextNotSelected)));
    EXPECT_EQ(updateAllDeps(), 3);
    EXPECT_TRUE(log.contains(errorLine(kLogUpdateAllNoContext)));
}

TEST_F(Spine, AllocationFailures) {
    // Model 3: six general nodes, then the name of channel 0, then its list.
    const ModelDescriptor *m = modelEntry(3)->descriptor;
    const struct {
        int after, result;
        const char *message;
    } cases[] = {
        {0, 2, "!}createSpine: Allocation error (1)\n"},
        {6, 4, "!}createSpine: Allocation error (2)\n"},
        {7, 6, "!}createSpine: Allocation error (3)\n"},
        {40, 6, "!}createSpine: Allocation error (3)\n"},
    };
    for (const auto &c : cases) {
        LogWatch log;
        spineFailAllocationAfter(c.after);
        EXPECT_EQ(buildSpine(m), c.result) << c.after;
        EXPECT_TRUE(log.contains(c.message)) << c.after;
        freeSpine();
    }
    spineFailAllocationAfter(-1);
    EXPECT_EQ(buildSpine(m), 0);
    freeSpine();
}

TEST_F(Spine, PropagationErrors) {
    Synthetic s;
    // A later variant names dependents the spine never registered.
    static const uint16_t strayChannel[] = {147, QD_LIST_END};
    static const uint16_t strayGeneral[] = {141, QD_LIST_END};
    ASSERT_EQ(buildSpine(s.descriptor()), 0);
    const SpineNode *function = spineNodeFor(140, 0);

    LogWatch log;
    QdValue bad = code(9);
    EXPECT_EQ(updateParDeps(function->base, 0, &bad, 0), 3);
    EXPECT_TRUE(log.contains(errorLine(kLogUpdateParNotIndex)));

    QdParamDef variant = *function->base;
    variant.dependents = strayChannel;
    QdValue ok = code(1);
    log.mark();
    EXPECT_EQ(updateParDeps(&variant, 0, &ok, 0), 4);
    EXPECT_TRUE(log.contains(errorLine(kLogUpdateDepNoDependent) + errorLine(kLogUpdateParFailed)));

    // 141 does not list 141 as its own superior.
    const SpineNode *characteristic = spineNodeFor(141, 0);
    QdParamDef selfish = *characteristic->base;
    selfish.dependents = strayGeneral;
    log.mark();
    EXPECT_EQ(updateParDeps(&selfish, 0, &ok, 0), 4);
    EXPECT_TRUE(log.contains(errorLine(kLogUpdateDepNoSuperior) + errorLine(kLogUpdateParFailed)));

    // A general parameter naming a channel parameter that never had it as a
    // superior.
    QdParamDef link = s.general[0];
    link.dependents = strayGeneral;
    QdValue zero = code(0);
    log.mark();
    EXPECT_EQ(updateParDeps(&link, 0, &zero, 0), 7);
    EXPECT_TRUE(log.contains(errorLine(kLogUpdateDepNoSuperior)));
    EXPECT_TRUE(log.contains(errorLine(kLogUpdateParNoDependent)));

    // Without apply only the superior entry moves.
    EXPECT_EQ(updateParDeps(function->base, 0, &ok, 0), 0);
    EXPECT_EQ(characteristic->superiors[0].index, 1);
    EXPECT_EQ(spineCurrentDef(characteristic), characteristic->base + 1);
    freeSpine();
}

TEST_F(Spine, ResistanceResetsItsDependents) {
    open(3);
    ASSERT_EQ(setCode(QD_PAR_SAMPLE_RATE, 0, 10), 0);
    ASSERT_EQ(setCode(QD_PAR_LOWER_LIMIT, 0, 2), 0);
    ASSERT_EQ(setCode(QD_PAR_FREQ_CHARACTERISTIC, 0, 1), 0);
    EXPECT_EQ(QdGetOptNum(QD_PAR_FREQ_CHARACTERISTIC, 0), 2);
    EXPECT_EQ(getCode(QD_PAR_INTERFERENCE_FILTER, 0), 1u);

    ASSERT_EQ(setCode(QD_PAR_CHANNEL_FUNCTION, 0, 1), 0);
    EXPECT_EQ(getCode(QD_PAR_MEASUREMENT_RANGE, 0), 2u);
    EXPECT_EQ(getCode(QD_PAR_SAMPLE_RATE, 0), 4u);
    EXPECT_EQ(getCode(QD_PAR_LOWER_LIMIT, 0), 0u);
    EXPECT_EQ(getCode(QD_PAR_INTERFERENCE_FILTER, 0), 0u);
    EXPECT_EQ(getFloat(QD_PAR_RANGE_MINIMUM, 0), 0.0f);
    EXPECT_EQ(QdGetOptNum(QD_PAR_FREQ_CHARACTERISTIC, 0), 1);
    EXPECT_EQ(getCode(QD_PAR_FREQ_CHARACTERISTIC, 0), 0u);
    // Channel 0's entry (bytes 16..21): function 1, range 2, rate 4, filter off.
    const uint8_t *image = contextImage(0);
    EXPECT_EQ(image[17], 1);
    EXPECT_EQ(image[18], 2);
    EXPECT_EQ(image[19], 4);
    EXPECT_EQ(image[20], 0);
    EXPECT_EQ(image[16] & 0x47, 0);
    // Channel 1 untouched.
    EXPECT_EQ(getCode(QD_PAR_CHANNEL_FUNCTION, 1), 0u);
    EXPECT_EQ(getCode(QD_PAR_SAMPLE_RATE, 1), 7u);
}

TEST_F(Spine, KeepIfValidOnRangeChanges) {
    open(3);
    ASSERT_EQ(setCode(QD_PAR_MEASUREMENT_RANGE, 0, 3), 0);  // 6000 uV
    ASSERT_EQ(setCode(QD_PAR_LOWER_LIMIT, 0, 3), 0);        // 0 Hz
    ASSERT_EQ(setCode(QD_PAR_MEASUREMENT_RANGE, 0, 5), 0);  // 24000 uV
    EXPECT_EQ(getCode(QD_PAR_LOWER_LIMIT, 0), 3u);
    EXPECT_EQ(getFloat(QD_PAR_RANGE_MINIMUM, 0), -24000.0f);
    ASSERT_EQ(setCode(QD_PAR_MEASUREMENT_RANGE, 0, 0), 0);  // 800 uV
    EXPECT_EQ(getCode(QD_PAR_LOWER_LIMIT, 0), 0u);
    EXPECT_EQ(getFloat(QD_PAR_RANGE_MINIMUM, 0), -800.0f);
    // 0.01 Hz exists for every voltage range and is kept.
    ASSERT_EQ(setCode(QD_PAR_LOWER_LIMIT, 0, 2), 0);
    ASSERT_EQ(setCode(QD_PAR_MEASUREMENT_RANGE, 0, 3), 0);
    EXPECT_EQ(getCode(QD_PAR_LOWER_LIMIT, 0), 2u);
    // A change of function is no keep-if-valid entry: the default returns.
    ASSERT_EQ(setCode(QD_PAR_CHANNEL_FUNCTION, 0, 0), 0);
    EXPECT_EQ(getCode(QD_PAR_LOWER_LIMIT, 0), 0u);
}

TEST_F(Spine, Profiles) {
    open(3);
    ASSERT_EQ(setCode(QD_PAR_CHANNEL_FUNCTION, 0, 2), 0);
    ASSERT_EQ(setCode(QD_PAR_SUM_DISCONNECTED, 0, 1), 0);
    uint8_t image[QD_IMAGE_MAX], storage[QD_STORAGE_SIZE];
    std::memcpy(image, contextImage(0), sizeof image);
    std::memcpy(storage, contextStorage(0), sizeof storage);

    // "User defined" changes nothing.
    ASSERT_EQ(setCode(QD_PAR_CHANNEL_PROFILE, 0, 0), 0);
    EXPECT_EQ(std::memcmp(image, contextImage(0), sizeof image), 0);
    EXPECT_EQ(std::memcmp(storage, contextStorage(0), sizeof storage), 0);

    // "ECG for HRV": function 0, characteristic 0, range 3, rate 8, lower 0,
    // sum 0, common reference 0.
    ASSERT_EQ(setCode(QD_PAR_CHANNEL_PROFILE, 0, 3), 0);
    EXPECT_EQ(getCode(QD_PAR_CHANNEL_FUNCTION, 0), 0u);
    EXPECT_EQ(getCode(QD_PAR_FREQ_CHARACTERISTIC, 0), 0u);
    EXPECT_EQ(getCode(QD_PAR_MEASUREMENT_RANGE, 0), 3u);
    EXPECT_EQ(getCode(QD_PAR_SAMPLE_RATE, 0), 8u);
    EXPECT_EQ(getCode(QD_PAR_LOWER_LIMIT, 0), 0u);
    EXPECT_EQ(getCode(QD_PAR_SUM_DISCONNECTED, 0), 0u);
    EXPECT_EQ(getCode(QD_PAR_COMMON_REFERENCE, 0), 0u);
    EXPECT_EQ(contextStorage(0)[596], 3);

    // "Button" is no option of a Halvex channel.
    LogWatch log;
    EXPECT_EQ(setCode(QD_PAR_CHANNEL_PROFILE, 0, 13), -1);
    EXPECT_TRUE(log.contains(errorLine(kLogSetParamOutside)));
    EXPECT_EQ(getCode(QD_PAR_CHANNEL_PROFILE, 0), 3u);

    // On a button channel it sets function 7 and rate 6.
    closeAllContexts();
    open(9);
    ASSERT_EQ(setCode(QD_PAR_SAMPLE_RATE, 2, 8), 0);
    ASSERT_EQ(setCode(QD_PAR_CHANNEL_PROFILE, 2, 13), 0);
    EXPECT_EQ(getCode(QD_PAR_CHANNEL_FUNCTION, 2), 7u);
    EXPECT_EQ(getCode(QD_PAR_SAMPLE_RATE, 2), 6u);
    EXPECT_EQ(contextImage(0)[16 + 2 * 6 + 3], 6);
}

TEST_F(Spine, ProfileApplicationGuards) {
    open(3);
    const QdParamDef *profile = QdParamInfo(QD_PAR_CHANNEL_PROFILE, 0);
    QdValue v = code(0x80000001u);
    EXPECT_EQ(applyProfile(profile, 0, &v), 1);
    v = code(200);  // no such row
    EXPECT_EQ(applyProfile(profile, 0, &v), 1);
    v = code(0);
    EXPECT_EQ(applyProfile(profile, 0, &v), 0);
    v = code(3);
    EXPECT_EQ(applyProfile(QdParamInfo(QD_PAR_CHANNEL_FUNCTION, 0), 0, &v), 0);  // not a profile
    EXPECT_EQ(getCode(QD_PAR_SAMPLE_RATE, 0), 7u);
}

TEST_F(Spine, BrevUpperLimitFollowsTheSampleRate) {
    open(0);
    ASSERT_EQ(setCode(QD_PAR_SAMPLE_RATE, 0, 2), 0);
    EXPECT_NEAR(getFloat(QD_PAR_UPPER_LIMIT, 0), 0.195312, 1e-6);
}

TEST_F(Spine, UpdateAllDepsAfterABulkLoad) {
    open(3);
    uint8_t *image = contextImage(0);
    uint8_t *storage = contextStorage(0);
    // As a loaded blob would leave it: channel 0 measures conductance in the
    // 160 uS range, channel 1 resistance 1000 kOhm.
    image[16 + 1] = 2;
    image[16 + 2] = 2;
    image[22 + 1] = 1;
    image[22 + 2] = 5;
    EXPECT_EQ(QdGetParam(QD_PAR_MEASUREMENT_RANGE, 0, nullptr), 1);
    QdParamValue v{};
    LogWatch log;
    EXPECT_EQ(QdGetParam(QD_PAR_MEASUREMENT_RANGE, 0, &v), 2);  // looked up in the voltage variant
    EXPECT_TRUE(log.contains("par: 135, chan: 0, v: 2\n" + errorLine(kLogGetParamUnknownOption)));
    ASSERT_EQ(updateAllDeps(), 0);
    ASSERT_EQ(QdGetParam(QD_PAR_MEASUREMENT_RANGE, 0, &v), 0);
    EXPECT_EQ(v.value.f, 160.0f);
    EXPECT_EQ(getFloat(QD_PAR_RANGE_MINIMUM, 0), 8.0f);
    EXPECT_EQ(getFloat(QD_PAR_CONTINUITY_RANGE, 1), 1000.0f);
    EXPECT_EQ(image[16 + 3], 7);  // values are not reset

    // A stored profile is imposed again.
    storage[596 + 8] = 5;  // channel 1: "TEMP"
    ASSERT_EQ(updateAllDeps(), 0);
    EXPECT_EQ(getCode(QD_PAR_CHANNEL_FUNCTION, 1), 3u);
    EXPECT_EQ(getCode(QD_PAR_MEASUREMENT_RANGE, 1), 2u);
    EXPECT_EQ(getCode(QD_PAR_SUM_DISCONNECTED, 1), 1u);

    // A stored function that does not exist stops the refresh.
    image[16 + 1] = 9;
    log.mark();
    EXPECT_EQ(updateAllDeps(), 2);
    EXPECT_TRUE(log.contains(errorLine(kLogUpdateAllChannelError)));
}
