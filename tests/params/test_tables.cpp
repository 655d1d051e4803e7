// Consistency of the 15 model tables, and their content where a wrong
// variant order or a slipped value would go unnoticed otherwise.
#include <gtest/gtest.h>

#include <cmath>
#include <set>
#include <vector>

#include "API/driver/params/paramdefs.h"
#include "sim/sim_models.h"
#include "tests/params/param_helpers.h"

using namespace qdtest;

namespace {

class Tables : public DriverTest {};

const ModelDescriptor *desc(int model) { return modelEntry((uint16_t)model)->descriptor; }

int channelsOf(int model) { return modelChannelCount((uint16_t)model); }

// Every definition list a model uses, with the channel (-1 general).
template <typename F>
void forEachDefinition(int model, F f) {
    const ModelDescriptor *m = desc(model);
    for (const QdParamDef *d = m->general; d->id != QD_LIST_END; ++d) f(-1, d);
    for (int c = 0; c < channelsOf(model); ++c) {
        f(c, m->channelNames[c]);
        for (const QdParamDef *d = m->channels[c]; d->id != QD_LIST_END; ++d) f(c, d);
    }
}

unsigned maskBytes(uint32_t mask) {
    unsigned n = 0;
    for (unsigned k = 0; k < 4; ++k)
        if ((mask >> (8 * k)) & 0xFF) n = k + 1;
    return n;
}

// Packs a value the way the configuration image holds it.
void pack(uint8_t *image, uint32_t offset, const ParamMapEntry *e, uint32_t value) {
    uint32_t bits = (e->mask & (e->mask >> 1)) ? (value << e->shift) & e->mask : (value ? e->mask : 0);
    for (unsigned k = 0; k < maskBytes(e->mask); ++k) {
        uint8_t m = (uint8_t)(e->mask >> (8 * k));
        image[offset + k] = (uint8_t)((image[offset + k] & ~m) | ((bits >> (8 * k)) & m));
    }
}

const ParamMapEntry *mapOf(int model, int channel) {
    return channel < 0 ? desc(model)->generalMap : desc(model)->channelMaps[channel];
}

}  // namespace

TEST_F(Tables, EverySpineBuilds) {
    for (int model = 0; model < QD_MODEL_COUNT; ++model) {
        EXPECT_EQ(buildSpine(desc(model)), 0) << modelName(model);
        EXPECT_EQ(spineChannelCount(), channelsOf(model));
        freeSpine();
    }
}

TEST_F(Tables, ModelRowsMatchTheModelTable) {
    struct Row {
        int link, channels, indicators, image, stride;
        const char *version;
    };
    const Row rows[QD_MODEL_COUNT] = {
        {0, 1, 13, 4, 4, "1.0"},  {1, 2, 11, 40, 4, "1.0"}, {1, 4, 11, 40, 4, "1,0"}, {1, 2, 11, 52, 6, "2.0"},
        {2, 2, 9, 52, 6, "2.0"},  {3, 2, 11, 52, 6, "2.0"}, {1, 4, 11, 52, 6, "2.0"}, {2, 4, 9, 52, 6, "2.0"},
        {3, 4, 11, 52, 6, "2.0"}, {1, 3, 11, 52, 6, "2.0"}, {2, 3, 9, 52, 6, "2.0"},  {3, 3, 11, 52, 6, "2.0"},
        {1, 5, 11, 52, 6, "2.0"}, {2, 5, 9, 52, 6, "2.0"},  {3, 5, 11, 52, 6, "2.0"},
    };
    const char *linkNames[] = {"IrDA", "Bluetooth", "USB", "Bluetooth LE"};
    for (int model = 0; model < QD_MODEL_COUNT; ++model) {
        SCOPED_TRACE(modelName(model));
        const ModelEntry *e = modelEntry((uint16_t)model);
        EXPECT_STREQ(e->name, modelName(model));
        EXPECT_STREQ(e->storageVersion, rows[model].version);
        EXPECT_EQ(modelLinkType((uint16_t)model), rows[model].link);
        EXPECT_EQ(modelChannelCount((uint16_t)model), rows[model].channels);
        QdValue v;
        ASSERT_TRUE(modelGeneralConstant((uint16_t)model, QD_PAR_INDICATOR_SUPPORT, &v));
        EXPECT_EQ(v.i, rows[model].indicators);
        EXPECT_EQ(e->descriptor->imageLength, rows[model].image);
        EXPECT_EQ(e->descriptor->stride, rows[model].stride);
        EXPECT_EQ(e->descriptor->channelStart, model == 0 ? 0 : 16);
        EXPECT_GE(e->descriptor->channelLists, rows[model].channels);
        const QdParamDef *link = findDefinition(e->descriptor->general, QD_PAR_LINK_TYPE);
        ASSERT_NE(link, nullptr);
        ASSERT_EQ(optionCount(link->domain.options), 1u);
        EXPECT_STREQ(link->domain.options[0].value.s, linkNames[rows[model].link]);
        EXPECT_EQ(modelGeneralConstant((uint16_t)model, QD_PAR_DEVICE_ID, nullptr), model != 0);
    }
    EXPECT_EQ(modelEntry(15), nullptr);
    EXPECT_EQ(modelChannelCount(15), -1);
}

// Each row is complete and agrees with its own descriptor; names are unique;
// a model never accepts its own blobs as another model's, nor one twice.
TEST_F(Tables, ModelRowsAreCompleteAndConsistent) {
    std::set<std::string> names;
    for (int model = 0; model < QD_MODEL_COUNT; ++model) {
        const ModelEntry *e = modelEntry((uint16_t)model);
        ASSERT_TRUE(e->name && e->family && e->descriptor && e->storageVersion) << model;
        EXPECT_TRUE(names.insert(e->name).second) << e->name;
        QdValue count;
        ASSERT_TRUE(modelGeneralConstant((uint16_t)model, QD_PAR_CHANNEL_COUNT, &count)) << e->name;
        EXPECT_EQ(count.i, e->channels) << e->name;
        EXPECT_EQ(e->descriptor->channelLists, e->channels) << e->name;
        const uint16_t images[] = {QD_IMAGE_BREV, QD_IMAGE_FIRST_GEN, QD_IMAGE_MAX};
        EXPECT_EQ(e->descriptor->imageLength, images[e->generation]) << e->name;
        EXPECT_EQ(e->storageVersion[0] == '2', e->generation == MODEL_GEN_SECOND) << e->name;
        std::set<int> accepted(e->compatible, e->compatible + e->compatibleCount);
        EXPECT_EQ(accepted.size(), e->compatibleCount) << e->name;
        EXPECT_EQ(accepted.count(model), 0u) << e->name;
        // The simulator keeps its own table on purpose; it must play the
        // same models.
        const SimModel &sim = simModels[model];
        EXPECT_STREQ(sim.name, e->name);
        EXPECT_EQ(sim.channels, e->channels) << e->name;
        EXPECT_EQ(sim.linkType, modelLinkType((uint16_t)model)) << e->name;
    }
}

TEST_F(Tables, DefaultImages) {
    const uint8_t brev[4] = {0x01, 0x00, 0xFF, 0x00};
    EXPECT_EQ(std::memcmp(desc(0)->defaultImage, brev, 4), 0);
    for (int model = 1; model < QD_MODEL_COUNT; ++model) {
        const ModelDescriptor *m = desc(model);
        EXPECT_EQ(m->defaultImage[0], 0x02);
        for (int i = 1; i < m->imageLength; ++i) EXPECT_EQ(m->defaultImage[i], 0) << model << " byte " << i;
    }
}

TEST_F(Tables, FamilyNames) {
    for (int model = 0; model < QD_MODEL_COUNT; ++model) {
        SCOPED_TRACE(modelName(model));
        const ModelDescriptor *m = desc(model);
        const QdParamDef *id = findDefinition(m->general, QD_PAR_DEVICE_ID);
        const QdParamDef *mains = findDefinition(m->general, QD_PAR_MAINS_FREQUENCY);
        const QdParamDef *lower = findDefinition(m->channels[0], QD_PAR_LOWER_LIMIT);
        ASSERT_NE(lower, nullptr);
        if (model == 0) {
            EXPECT_EQ(id, nullptr);
            EXPECT_EQ(mains, nullptr);
            EXPECT_EQ(findDefinition(m->channels[0], QD_PAR_CHANNEL_PROFILE), nullptr);
        } else {
            ASSERT_NE(id, nullptr);
            ASSERT_NE(mains, nullptr);
            EXPECT_STREQ(id->name, model <= 2 ? "Device address" : "Device id");
            EXPECT_STREQ(id->def.s, model <= 2 ? "Serial Port Device" : "Quorvane Halvex*");
            EXPECT_EQ(id->domain.size, 20u);
            EXPECT_STREQ(mains->name, model <= 2 ? "Power mains frequency" : "Mains power frequency");
        }
        EXPECT_STREQ(lower->name, model <= 2 ? "Absolute lower limit frequency" : "Lower limit frequency");
        // General list order.
        std::vector<uint16_t> ids;
        for (const QdParamDef *d = m->general; d->id != QD_LIST_END; ++d) ids.push_back(d->id);
        if (model == 0) {
            EXPECT_EQ(ids, (std::vector<uint16_t>{0, 1, 2}));
        } else {
            EXPECT_EQ(ids, (std::vector<uint16_t>{0, 3, 1, 2, 4, 5}));
        }
        // Every variant of a parameter shares its name.
        for (int c = -1; c < channelsOf(model); ++c) {
            const QdParamDef *list = c < 0 ? m->general : m->channels[c];
            for (const QdParamDef *d = list + 1; d->id != QD_LIST_END; ++d) {
                if (d->id == d[-1].id) {
            EXPECT_STREQ(d->name, d[-1].name);
        }
            }
        }
    }
}

TEST_F(Tables, DefaultsLieInsideTheirOwnDomain) {
    for (int model = 0; model < QD_MODEL_COUNT; ++model) {
        forEachDefinition(model, [&](int channel, const QdParamDef *d) {
            SCOPED_TRACE(::testing::Message() << modelName(model) << " channel " << channel << " id " << d->id);
            // Integer and float constants carry an unused 0..0 range.
            bool rangeConstant = defIsConstant(d) && !defIsOptionList(d) &&
                                 (defKind(d) == QD_KIND_INT || defKind(d) == QD_KIND_FLOAT);
            if (!rangeConstant) {
            EXPECT_FALSE(valueOutsideDomain(d, &d->def));
        }
            // A "not applicable" variant carries a single option or is constant.
            if (defIsNotApplicable(d)) {
                EXPECT_TRUE(defIsConstant(d) || (defIsOptionList(d) && optionCount(d->domain.options) == 1) ||
                            defKind(d) == QD_KIND_BOOL);
            }
            if (defIsOptionList(d)) {
                EXPECT_GT(optionCount(d->domain.options), 0u);
                std::set<uint32_t> codes;
                for (const QdOption *o = d->domain.options; o->code != QD_LIST_END; ++o) {
                    EXPECT_TRUE(codes.insert(o->code).second) << "duplicate code " << o->code;
                    if (defKind(d) == QD_KIND_STRING) {
            EXPECT_NE(o->value.s, nullptr);
        }
                }
            }
            if (d->dependents) {
                int n = 0;
                for (const uint16_t *p = d->dependents; *p != QD_LIST_END; ++p) ++n;
                EXPECT_LE(n, QD_PROFILE_CELLS + 4);
            }
        });
    }
}

TEST_F(Tables, VariantCountsEqualTheProductOfTheSuperiorCounts) {
    for (int model = 0; model < QD_MODEL_COUNT; ++model) {
        ASSERT_EQ(buildSpine(desc(model)), 0);
        for (unsigned row = 0; row < (unsigned)SPINE_ROWS; ++row) {
            for (unsigned slot = 0; slot < (unsigned)SPINE_SLOTS; ++slot) {
                const SpineNode *n = spineNode(row, slot);
                if (!n) continue;
                unsigned product = 1;
                for (int i = 0; i < n->superiorCount; ++i) {
                    const SpineNode *sup = spineNodeFor(n->superiors[i].id, row ? row - 1 : 0);
                    ASSERT_NE(sup, nullptr);
                    EXPECT_EQ(n->superiors[i].count, getValNum(sup->base));
                    product *= n->superiors[i].count;
                }
                EXPECT_EQ(product, n->variants)
                    << modelName(model) << " row " << row << " id " << n->base->id;
            }
        }
        freeSpine();
    }
}

TEST_F(Tables, MapsStayInsideTheirStoresAndDoNotOverlap) {
    for (int model = 0; model < QD_MODEL_COUNT; ++model) {
        SCOPED_TRACE(modelName(model));
        const ModelDescriptor *m = desc(model);
        std::vector<uint8_t> usedBits(m->imageLength, 0);
        std::vector<int> usedBytes(QD_STORAGE_SIZE, 0);
        for (int channel = -1; channel < channelsOf(model); ++channel) {
            const QdParamDef *list = channel < 0 ? m->general : m->channels[channel];
            for (const ParamMapEntry *e = mapOf(model, channel); e->id != QD_LIST_END; ++e) {
                SCOPED_TRACE(::testing::Message() << "channel " << channel << " id " << e->id);
                const QdParamDef *base = findDefinition(list, e->id);
                ASSERT_NE(base, nullptr);
                if (e->mask) {
                    uint32_t offset = e->offset + (channel >= 0 ? m->channelStart + channel * m->stride : 0);
                    unsigned n = maskBytes(e->mask);
                    ASSERT_LE(offset + n, m->imageLength);
                    if (channel >= 0) {
            EXPECT_LE(e->offset + n, m->stride);
        }
                    for (unsigned k = 0; k < n; ++k) {
                        uint8_t bits = (uint8_t)(e->mask >> (8 * k));
                        EXPECT_EQ(usedBits[offset + k] & bits, 0) << "bits shared";
                        usedBits[offset + k] |= bits;
                    }
                    // Every value of every variant fits its field.
                    for (uint16_t v = 0; v < defRunLength(base); ++v) {
                        const QdParamDef *d = base + v;
                        if (defIsOptionList(d)) {
                            ASSERT_TRUE(maskIsMultiBit(e->mask) || optionCount(d->domain.options) <= 2);
                            for (const QdOption *o = d->domain.options; o->code != QD_LIST_END; ++o) {
                                if (maskIsMultiBit(e->mask)) {
                                    EXPECT_EQ(((o->code << e->shift) & e->mask) >> e->shift, o->code);
                                } else {
                                    EXPECT_LE(o->code, 1u);
                                }
                            }
                        } else {
                            EXPECT_EQ(defKind(d), QD_KIND_BOOL);
                            EXPECT_FALSE(maskIsMultiBit(e->mask));
                        }
                    }
                } else if (e->slot != QD_NO_SLOT) {
                    uint32_t size = defIsString(base) ? base->domain.size : 8;
                    uint32_t start = e->slot + (uint32_t)(channel < 0 ? 0 : channel) * size;
                    ASSERT_LE(start + size, (uint32_t)QD_CAP_RECORD_OFFSET);
                    for (uint32_t b = start; b < start + size; ++b) {
                        EXPECT_EQ(usedBytes[b], 0) << "storage byte " << b << " shared";
                        usedBytes[b] = 1;
                    }
                } else {
                    EXPECT_TRUE(defIsConstant(base));
                }
            }
        }
    }
}

TEST_F(Tables, StorageLayoutOfEachFamily) {
    // Device id, labels, sensor info and profiles where the storage blob
    // expects them.
    struct Expect {
        int model;
        uint16_t id;
        uint16_t slot;
    };
    const Expect cases[] = {
        {0, QD_PAR_CHANNEL_LABEL, 0},      {0, QD_PAR_SENSOR_INFO, 16},     {1, QD_PAR_CHANNEL_LABEL, 20},
        {1, QD_PAR_SENSOR_INFO, 84},       {1, QD_PAR_CHANNEL_PROFILE, 404}, {3, QD_PAR_CHANNEL_LABEL, 20},
        {3, QD_PAR_SENSOR_INFO, 116},      {3, QD_PAR_CHANNEL_PROFILE, 596}, {12, QD_PAR_CHANNEL_PROFILE, 596},
    };
    for (const Expect &e : cases) {
        const ParamMapEntry *m = findMapEntry(desc(e.model)->channelMaps[0], e.id);
        ASSERT_NE(m, nullptr);
        EXPECT_EQ(m->mask, 0u);
        EXPECT_EQ(m->slot, e.slot) << e.model << " " << e.id;
    }
    // The button channel keeps no sensor info of its own.
    EXPECT_EQ(findMapEntry(desc(9)->channelMaps[2], QD_PAR_SENSOR_INFO), nullptr);
    EXPECT_EQ(findMapEntry(desc(14)->channelMaps[4], QD_PAR_SENSOR_INFO), nullptr);
}

TEST_F(Tables, DefaultsReadBackAndPackIntoTheDefaultImage) {
    for (int model = 0; model < QD_MODEL_COUNT; ++model) {
        SCOPED_TRACE(modelName(model));
        int16_t ctx = open(model);
        ASSERT_GE(ctx, 0);
        // Dirty the stores first: the reset must not depend on a fresh slot.
        std::memset(contextImage((uint16_t)ctx), 0x5A, QD_IMAGE_MAX);
        std::memset(contextStorage((uint16_t)ctx), 0x5A, QD_STORAGE_SIZE);
        ASSERT_EQ(QdSetDefaults(-2), 0);

        const ModelDescriptor *m = desc(model);
        uint8_t expected[QD_IMAGE_MAX] = {};
        std::memcpy(expected, m->defaultImage, m->imageLength);
        for (int channel = -1; channel < channelsOf(model); ++channel) {
            uint16_t ch = (uint16_t)(channel < 0 ? 0 : channel);
            // Every parameter of the list reads back as its default.
            uint16_t ids[64];
            uint16_t n = QdEnumParams((int16_t)channel, ids, sizeof ids);
            ASSERT_GT(n, 0);
            for (uint16_t i = 0; i < n; ++i) {
                const QdParamDef *d = QdParamInfo(ids[i], (int16_t)ch);
                ASSERT_NE(d, nullptr);
                QdParamValue v{};
                ASSERT_EQ(QdGetParam(ids[i], ch, &v), 0) << "id " << ids[i] << " channel " << channel;
                EXPECT_EQ(v.type, d->type);
                if (defIsOptionList(d)) {
                    EXPECT_EQ(v.code, d->def.code) << "id " << ids[i];
                } else if (defIsString(d)) {
                    EXPECT_STREQ(v.value.s, d->def.s) << "id " << ids[i];
                } else if (defKind(d) == QD_KIND_FLOAT) {
                    EXPECT_EQ(v.value.f, d->def.f) << "id " << ids[i];
                } else {
                    EXPECT_EQ(v.value.i, d->def.i) << "id " << ids[i];
                }
            }
            for (const ParamMapEntry *e = mapOf(model, channel); e->id != QD_LIST_END; ++e) {
                if (!e->mask) continue;
                const QdParamDef *d = QdParamInfo(e->id, (int16_t)ch);
                uint32_t value = defKind(d) == QD_KIND_BOOL && !defIsOptionList(d) ? d->def.bytes[0] : d->def.code;
                uint32_t offset = e->offset + (channel >= 0 ? m->channelStart + channel * m->stride : 0);
                pack(expected, offset, e, value);
            }
        }
        EXPECT_EQ(std::memcmp(contextImage((uint16_t)ctx), expected, QD_IMAGE_MAX), 0);
        // The storage record holds the default texts and cells, zeros elsewhere.
        uint8_t storage[QD_STORAGE_SIZE] = {};
        for (int channel = -1; channel < channelsOf(model); ++channel) {
            uint16_t ch = (uint16_t)(channel < 0 ? 0 : channel);
            for (const ParamMapEntry *e = mapOf(model, channel); e->id != QD_LIST_END; ++e) {
                if (e->mask || e->slot == QD_NO_SLOT) continue;
                const QdParamDef *d = QdParamInfo(e->id, (int16_t)ch);
                if (defIsString(d)) {
                    std::memcpy(storage + e->slot + ch * d->domain.size, d->def.s, std::strlen(d->def.s));
                } else {
                    std::memcpy(storage + e->slot + ch * 8, &d->def, 8);
                }
            }
        }
        EXPECT_EQ(std::memcmp(contextStorage((uint16_t)ctx), storage, QD_STORAGE_SIZE), 0);
        QdCloseDevContext((uint16_t)ctx);
    }
}

namespace {

struct RangeCase {
    uint32_t function;
    uint32_t range;
    float rangeValue;
    const char *unit;
    float minimum;
    float continuity;
    std::vector<uint32_t> lowerLimits;  // option codes of "Lower limit frequency"
};

// Halvex and Halvex+ signal channels (the first four functions are those of
// the Halvex channel).
const std::vector<RangeCase> kHalvexRanges = {
    {0, 0, 800, "uV", -800, 125, {0, 2}},       {0, 3, 6000, "uV", -6000, 125, {0, 2, 3}},
    {0, 5, 24000, "uV", -24000, 125, {0, 2, 3}}, {1, 0, 31.25f, "kOhm", 0, 31.25f, {0}},
    {1, 2, 125, "kOhm", 0, 125, {0}},           {1, 5, 1000, "kOhm", 0, 1000, {0}},
    {2, 5, 20, "uS", 1, 1000, {0}},             {2, 2, 160, "uS", 8, 125, {0}},
    {2, 0, 640, "uS", 32, 31.25f, {0}},         {3, 5, 30, "`C", -18, 1000, {0}},
    {3, 2, 120, "`C", 21, 125, {0}},            {4, 5, 200, "%", 0, 1000, {0}},
    {5, 3, 50, "`C", 0, 1000, {3}},             {6, 1, 400, "nA", -400, 1000, {0}},
    {6, 2, 2000, "nA", -2000, 1000, {0}},       {6, 3, 25000, "nA", -25000, 1000, {3}},
};

const std::vector<RangeCase> kFirstGenRanges = {
    {0, 1, 1000, "uV", -1000, 125, {}}, {0, 4, 8000, "uV", -8000, 125, {}}, {1, 1, 125, "kOhm", 0, 125, {}},
    {1, 4, 1000, "kOhm", 0, 1000, {}},  {2, 4, 20, "uS", 1, 1000, {}},      {2, 1, 160, "uS", 8, 125, {}},
    {3, 4, 30, "`C", -18, 1000, {}},    {3, 1, 120, "`C", 21, 125, {}},
};

struct UpperCase {
    uint32_t function;
    uint32_t characteristic;
    float upper;
};

const std::vector<UpperCase> kUpperLimits = {
    {0, 0, 0.4f}, {0, 1, 0.3f}, {1, 0, 0.37f}, {2, 0, 0.37f}, {3, 0, 0.038f},
    {4, 1, 0.3f}, {5, 1, 0.3f}, {6, 0, 0.4f},  {6, 1, 0.3f},
};

std::vector<uint32_t> optionCodes(uint16_t id, uint16_t channel) {
    std::vector<uint32_t> codes;
    const QdParamDef *d = QdParamInfo(id, (int16_t)channel);
    if (d && defIsOptionList(d))
        for (const QdOption *o = d->domain.options; o->code != QD_LIST_END; ++o) codes.push_back(o->code);
    return codes;
}

void checkRanges(const std::vector<RangeCase> &cases, uint16_t channel, uint32_t functions, bool halvex) {
    for (const RangeCase &r : cases) {
        if (r.function >= functions) continue;
        SCOPED_TRACE(::testing::Message() << "channel " << channel << " function " << r.function << " range "
                                          << r.range);
        ASSERT_EQ(setCode(QD_PAR_CHANNEL_FUNCTION, channel, r.function), 0);
        ASSERT_EQ(setCode(QD_PAR_MEASUREMENT_RANGE, channel, r.range), 0);
        QdParamValue v{};
        ASSERT_EQ(QdGetParam(QD_PAR_MEASUREMENT_RANGE, channel, &v), 0);
        EXPECT_EQ(v.value.f, r.rangeValue);
        EXPECT_STREQ(QdParamInfo(QD_PAR_MEASUREMENT_RANGE, (int16_t)channel)->unit, r.unit);
        EXPECT_EQ(getFloat(QD_PAR_RANGE_MINIMUM, channel), r.minimum);
        EXPECT_STREQ(QdParamInfo(QD_PAR_RANGE_MINIMUM, (int16_t)channel)->unit, r.unit);
        EXPECT_EQ(getFloat(QD_PAR_CONTINUITY_RANGE, channel), r.continuity);
        if (halvex) {
            EXPECT_EQ(optionCodes(QD_PAR_LOWER_LIMIT, channel), r.lowerLimits);
        }
    }
}

void checkUpperLimits(uint16_t channel, uint32_t functions) {
    for (const UpperCase &u : kUpperLimits) {
        if (u.function >= functions) continue;
        SCOPED_TRACE(::testing::Message() << "function " << u.function << " characteristic " << u.characteristic);
        ASSERT_EQ(setCode(QD_PAR_CHANNEL_FUNCTION, channel, u.function), 0);
        ASSERT_EQ(setCode(QD_PAR_FREQ_CHARACTERISTIC, channel, u.characteristic), 0);
        EXPECT_EQ(getFloat(QD_PAR_UPPER_LIMIT, channel), u.upper);
    }
}

}  // namespace

TEST_F(Tables, HalvexChannelVariants) {
    open(3);
    checkRanges(kHalvexRanges, 1, 4, true);
    checkUpperLimits(1, 4);
}

TEST_F(Tables, HalvexPlusSignalChannelVariants) {
    open(9);
    checkRanges(kHalvexRanges, 0, 7, true);
    checkUpperLimits(0, 7);
    checkRanges(kHalvexRanges, 1, 4, true);  // channel 1 is a Halvex channel
    EXPECT_EQ(setCode(QD_PAR_CHANNEL_FUNCTION, 1, 4), -1);
}

TEST_F(Tables, HalvexPlus4ChannelVariants) {
    open(14);
    checkRanges(kHalvexRanges, 0, 7, true);
    checkUpperLimits(0, 7);
    for (uint16_t c = 1; c <= 3; ++c) {
        checkRanges(kHalvexRanges, c, 4, true);
        checkUpperLimits(c, 4);
    }
}

TEST_F(Tables, FirstGenerationChannelVariants) {
    open(2);
    for (uint16_t c = 0; c < 4; ++c) checkRanges(kFirstGenRanges, c, 4, false);
    checkUpperLimits(0, 4);
    ASSERT_EQ(setCode(QD_PAR_CHANNEL_FUNCTION, 0, 0), 0);
    EXPECT_FLOAT_EQ(getFloat(QD_PAR_LOWER_LIMIT, 0), 0.35f);
    ASSERT_EQ(setCode(QD_PAR_CHANNEL_FUNCTION, 0, 2), 0);
    EXPECT_EQ(getFloat(QD_PAR_LOWER_LIMIT, 0), 0.0f);
    EXPECT_EQ(optionCodes(QD_PAR_COMMON_REFERENCE, 0), (std::vector<uint32_t>{0}));
    ASSERT_EQ(setCode(QD_PAR_CHANNEL_FUNCTION, 0, 0), 0);
    EXPECT_EQ(optionCodes(QD_PAR_COMMON_REFERENCE, 0), (std::vector<uint32_t>{0, 1, 2}));
    QdParamValue v{};
    ASSERT_EQ(QdGetParam(QD_PAR_COMMON_REFERENCE, 0, &v), 0);
    EXPECT_STREQ(QdParamInfo(QD_PAR_COMMON_REFERENCE, 0)->domain.options[1].value.s, "Reference 1");
}

TEST_F(Tables, FunctionDefaultsOfTheHalvexPlusSignalChannel) {
    // Per function: range, characteristic, sample rate options, lower limit,
    // interference filter, sum disconnected.
    struct Case {
        uint32_t function, range, characteristic;
        std::vector<uint32_t> rates;
        uint32_t rate, lower, filter, sum;
    };
    const Case cases[] = {
        {0, 0, 0, {6, 7, 8, 9, 10, 11}, 7, 0, 1, 0}, {1, 2, 0, {4}, 4, 0, 0, 0}, {2, 5, 0, {4}, 4, 0, 0, 0},
        {3, 2, 0, {4}, 4, 0, 0, 1},                  {4, 5, 1, {6}, 6, 0, 0, 1}, {5, 3, 1, {6}, 6, 3, 0, 1},
        {6, 1, 0, {6}, 6, 0, 0, 1},
    };
    open(12);
    for (const Case &k : cases) {
        SCOPED_TRACE(k.function);
        ASSERT_EQ(setCode(QD_PAR_CHANNEL_FUNCTION, 0, k.function), 0);
        EXPECT_EQ(getCode(QD_PAR_MEASUREMENT_RANGE, 0), k.range);
        EXPECT_EQ(getCode(QD_PAR_FREQ_CHARACTERISTIC, 0), k.characteristic);
        EXPECT_EQ(optionCodes(QD_PAR_SAMPLE_RATE, 0), k.rates);
        EXPECT_EQ(getCode(QD_PAR_SAMPLE_RATE, 0), k.rate);
        EXPECT_EQ(getCode(QD_PAR_LOWER_LIMIT, 0), k.lower);
        EXPECT_EQ(getCode(QD_PAR_INTERFERENCE_FILTER, 0), k.filter);
        EXPECT_EQ(getCode(QD_PAR_SUM_DISCONNECTED, 0), k.sum);
        EXPECT_EQ(getCode(QD_PAR_COMMON_REFERENCE, 0), 0u);
        EXPECT_EQ(optionCodes(QD_PAR_COMMON_REFERENCE, 0).size(), k.function == 0 ? 3u : 1u);
        EXPECT_EQ(optionCodes(QD_PAR_EEG_CAP, 0).size(), k.function == 0 ? 9u : 1u);
        EXPECT_EQ((QdParamInfo(QD_PAR_EEG_CAP, 0)->flags & QD_FLAG_NOT_APPLICABLE) != 0, k.function != 0);
    }
}

TEST_F(Tables, EegCapSiteLists) {
    const std::vector<std::string> sites[4] = {
        {"None", "Cz", "F3", "F4", "F7", "Fp1", "Fpz", "Fz", "T3"},
        {"None", "C3", "Cz", "F4", "F7", "F8", "Fp2", "Pz", "T4"},
        {"None", "C3", "C4", "Cz", "O1", "P3", "P4", "T4", "T5"},
        {"None", "C4", "O1", "O2", "Oz", "P3", "P4", "T5", "T6"},
    };
    for (int model = 12; model <= 14; ++model) {
        open(model);
        for (uint16_t c = 0; c < 4; ++c) {
            const QdParamDef *d = QdParamInfo(QD_PAR_EEG_CAP, (int16_t)c);
            ASSERT_NE(d, nullptr);
            std::vector<std::string> texts;
            std::vector<uint32_t> codes;
            for (const QdOption *o = d->domain.options; o->code != QD_LIST_END; ++o) {
                texts.push_back(o->value.s);
                codes.push_back(o->code);
            }
            EXPECT_EQ(texts, sites[c]);
            EXPECT_EQ(codes, (std::vector<uint32_t>{0, 8, 9, 10, 11, 12, 13, 14, 15}));
        }
        EXPECT_EQ(QdParamExists(QD_PAR_EEG_CAP, 4), 0);
        closeAllContexts();
    }
    for (int model = 0; model < 12; ++model) {
        open(model);
        for (int16_t c = 0; c < channelsOf(model); ++c) EXPECT_EQ(QdParamExists(QD_PAR_EEG_CAP, c), 0);
        closeAllContexts();
    }
}

TEST_F(Tables, ProfileOptionsInDisplayOrder) {
    open(3);
    EXPECT_EQ(optionCodes(QD_PAR_CHANNEL_PROFILE, 0), (std::vector<uint32_t>{0, 3, 14, 2, 1, 6, 8, 4, 9, 7, 5}));
    closeAllContexts();
    open(11);
    EXPECT_EQ(optionCodes(QD_PAR_CHANNEL_PROFILE, 0),
              (std::vector<uint32_t>{0, 12, 3, 14, 2, 1, 6, 8, 4, 10, 11, 9, 7, 5}));
    EXPECT_EQ(optionCodes(QD_PAR_CHANNEL_PROFILE, 2), (std::vector<uint32_t>{0, 13}));
    closeAllContexts();
    open(1);
    EXPECT_EQ(optionCodes(QD_PAR_CHANNEL_PROFILE, 1), (std::vector<uint32_t>{0, 1, 6, 2, 3, 4, 5}));
}

// Every profile of every channel can be applied, each cell landing on a
// valid option of its dependent in the variant the earlier cells chose.
TEST_F(Tables, EveryProfileAppliesOnEveryChannel) {
    for (int model = 1; model < QD_MODEL_COUNT; ++model) {
        int16_t ctx = open(model);
        const ModelDescriptor *m = desc(model);
        for (uint16_t c = 0; c < channelsOf(model); ++c) {
            const QdParamDef *p = QdParamInfo(QD_PAR_CHANNEL_PROFILE, (int16_t)c);
            ASSERT_NE(p, nullptr);
            for (const QdOption *o = p->domain.options; o->code != QD_LIST_END; ++o) {
                if (o->code == 0) continue;
                SCOPED_TRACE(::testing::Message() << modelName(model) << " channel " << c << " profile " << o->code);
                ASSERT_EQ(QdSetDefaults((int16_t)c), 0);
                ASSERT_EQ(setCode(QD_PAR_CHANNEL_PROFILE, c, o->code), 0);
                EXPECT_EQ(getCode(QD_PAR_CHANNEL_PROFILE, c), o->code);
                ASSERT_LT(o->code, m->profiles->rowCount);
                for (int k = 0; p->dependents[k] != QD_LIST_END; ++k) {
                    uint16_t id = (uint16_t)(p->dependents[k] & 0x7FFF);
                    EXPECT_EQ(getCode(id, c), m->profiles->rows[o->code][k].code) << "dependent " << id;
                }
            }
        }
        QdCloseDevContext((uint16_t)ctx);
    }
}

TEST_F(Tables, BrevChannel) {
    open(0);
    EXPECT_EQ(QdParamExists(QD_PAR_CHANNEL_PROFILE, 0), 0);
    QdParamValue v{};
    ASSERT_EQ(QdGetParam(QD_PAR_CHANNEL_LABEL, 0, &v), 0);
    EXPECT_STREQ(v.value.s, "EEG");
    ASSERT_EQ(QdGetParam(QD_PAR_SENSOR_INFO, 0, &v), 0);
    EXPECT_STREQ(v.value.s, "Ag electrodes");
    EXPECT_EQ(getCode(QD_PAR_ADC_RESOLUTION, 0), 12u);
    EXPECT_EQ(getCode(QD_PAR_CHANNEL_ENABLE, 0), 1u);
    EXPECT_EQ(getFloat(QD_PAR_MEASUREMENT_RANGE, 0), 150.0f);
    EXPECT_EQ(getFloat(QD_PAR_RANGE_MINIMUM, 0), -150.0f);
    EXPECT_EQ(getFloat(QD_PAR_LOWER_LIMIT, 0), 1.0f);
    const float upper[] = {0.3125f, 0.3125f, 0.195312f};
    const float rates[] = {128, 256, 512};
    for (uint32_t r = 0; r < 3; ++r) {
        ASSERT_EQ(setCode(QD_PAR_SAMPLE_RATE, 0, r), 0);
        ASSERT_EQ(QdGetParam(QD_PAR_SAMPLE_RATE, 0, &v), 0);
        EXPECT_EQ(v.value.f, rates[r]);
        EXPECT_EQ(getFloat(QD_PAR_UPPER_LIMIT, 0), upper[r]);
        EXPECT_EQ(contextImage(0)[1], r);
    }
}
