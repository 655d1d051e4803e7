// Value index, value count and domain test of parameter definitions.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "API/driver/params/paramdefs.h"
#include "tests/params/param_helpers.h"
#include "tests/support/log_lines.h"

using namespace qdtest;

namespace {

QdOption opt(uint32_t c, const char *s) {
    QdOption o{};
    o.code = c;
    o.value.s = s;
    return o;
}

const QdOption kEnd = opt(QD_LIST_END, nullptr);

// The "Channel profile" display order of the Halvex channel.
const QdOption kProfiles[] = {opt(0, "User defined"), opt(3, "a"), opt(14, "b"), opt(2, "c"), opt(1, "d"),
                              opt(6, "e"), opt(8, "f"), opt(4, "g"), opt(9, "h"), opt(7, "i"), opt(5, "j"), kEnd};
const QdOption kTwo[] = {opt(0, "x"), opt(1, "y"), kEnd};
const QdOption kOne[] = {opt(5, "x"), kEnd};
const QdOption kThree[] = {opt(0, "x"), opt(1, "y"), opt(2, "z"), kEnd};

QdParamDef optionDef(uint16_t id, const QdOption *list) {
    QdParamDef d{};
    d.id = id;
    d.type = QD_TYPE_OPTION_LIST | QD_KIND_STRING;
    d.domain.options = list;
    return d;
}

QdParamDef kindDef(uint16_t id, uint8_t kind) {
    QdParamDef d{};
    d.id = id;
    d.type = kind;
    return d;
}

QdParamDef endDef() {
    QdParamDef d{};
    d.id = QD_LIST_END;
    return d;
}

}  // namespace

TEST(ValueIndex, OptionIndexIsThePositionInTheList) {
    QdParamDef d = optionDef(134, kProfiles);
    QdValue v = code(14);
    EXPECT_EQ(getValIndex(&d, &v), 2);
    v = code(5);
    EXPECT_EQ(getValIndex(&d, &v), 10);
    v = code(0);
    EXPECT_EQ(getValIndex(&d, &v), 0);
}

TEST(ValueIndex, ErrorsByKind) {
    QdParamDef nullList = optionDef(140, nullptr);
    QdParamDef list = optionDef(140, kTwo);
    QdValue v = code(7);
    EXPECT_EQ(getValIndex(&nullList, &v), -1);
    EXPECT_EQ(getValIndex(&list, &v), -2);

    QdParamDef b = kindDef(129, QD_KIND_BOOL);
    v = code(1);
    EXPECT_EQ(getValIndex(&b, &v), 1);

    QdParamDef i = kindDef(131, QD_KIND_INT);
    i.domain.i.min = -10;
    i.domain.i.max = 100;
    v.i = -10;
    EXPECT_EQ(getValIndex(&i, &v), 0);
    v.i = 5;
    EXPECT_EQ(getValIndex(&i, &v), 15);
    v.i = -11;  // below the minimum: the unsigned difference is huge
    EXPECT_EQ(getValIndex(&i, &v), -3);
    v.i = 65536 - 10;
    EXPECT_EQ(getValIndex(&i, &v), -3);

    QdParamDef f = kindDef(136, QD_KIND_FLOAT);
    QdParamDef s = kindDef(132, QD_KIND_STRING);
    QdParamDef other = kindDef(1, 9);
    EXPECT_EQ(getValIndex(&f, &v), -4);
    EXPECT_EQ(getValIndex(&s, &v), -4);
    EXPECT_EQ(getValIndex(&other, &v), -5);
}

TEST(ValueIndex, ErrorsAreLogged) {
    driverAttach();
    LogWatch log;
    QdParamDef nullList = optionDef(140, nullptr);
    QdParamDef list = optionDef(140, kTwo);
    QdParamDef f = kindDef(136, QD_KIND_FLOAT);
    QdValue v = code(7);
    getValIndex(&nullList, &v);
    getValIndex(&list, &v);
    getValIndex(&f, &v);
    EXPECT_TRUE(log.contains(errorLine(kLogValIndexBadDomain)));
    EXPECT_TRUE(log.contains(errorLine(kLogValIndexNoOption)));
    EXPECT_TRUE(log.contains(errorLine(kLogValIndexBadType)));
}

TEST(ValueCount, LargestCountOverTheVariants) {
    QdParamDef run[] = {optionDef(141, kTwo), optionDef(141, kOne), optionDef(141, kThree), endDef()};
    EXPECT_EQ(getValNum(run), 3);
    EXPECT_EQ(defRunLength(run), 3);

    QdParamDef single[] = {optionDef(140, kTwo), optionDef(141, kThree), endDef()};
    EXPECT_EQ(getValNum(single), 2);  // the next id is not a variant
    EXPECT_EQ(defRunLength(single), 1);

    QdParamDef booleans[] = {kindDef(142, QD_KIND_BOOL), kindDef(142, QD_KIND_BOOL), endDef()};
    EXPECT_EQ(getValNum(booleans), 2);
}

TEST(ValueCount, ZeroWhenAVariantCannotServeAsIndex) {
    driverAttach();
    LogWatch log;
    QdParamDef withNull[] = {optionDef(141, kTwo), optionDef(141, nullptr), endDef()};
    EXPECT_EQ(getValNum(withNull), 0);
    EXPECT_TRUE(log.contains(errorLine(kLogOptNumBadDomain)));

    QdParamDef withFloat[] = {optionDef(141, kTwo), kindDef(141, QD_KIND_FLOAT), endDef()};
    EXPECT_EQ(getValNum(withFloat), 0);
    EXPECT_TRUE(log.contains(errorLine(kLogValNumBadType)));

    QdParamDef wide = kindDef(131, QD_KIND_INT);
    wide.domain.i.min = 0;
    wide.domain.i.max = 65535;  // 65536 values
    QdParamDef wideRun[] = {wide, endDef()};
    EXPECT_EQ(getValNum(wideRun), 0);
    EXPECT_TRUE(log.contains(errorLine(kLogValNumOverflow)));

    QdParamDef narrow = wide;
    narrow.domain.i.max = 65534;
    QdParamDef narrowRun[] = {narrow, endDef()};
    EXPECT_EQ(getValNum(narrowRun), 65535);

    QdParamDef unknown[] = {kindDef(1, 9), endDef()};
    EXPECT_EQ(getValNum(unknown), 0);
    EXPECT_TRUE(log.contains(errorLine(kLogValNumUnknownType)));
}

TEST(DomainTest, StringsNeedRoomForTheTerminator) {
    QdParamDef label = kindDef(132, QD_KIND_STRING);
    label.domain.size = 16;
    QdValue v = text("123456789012345");  // 15 characters
    EXPECT_FALSE(valueOutsideDomain(&label, &v));
    v = text("1234567890123456");  // 16 characters
    EXPECT_TRUE(valueOutsideDomain(&label, &v));
    v = text("");
    EXPECT_FALSE(valueOutsideDomain(&label, &v));
    v = text(nullptr);
    EXPECT_TRUE(valueOutsideDomain(&label, &v));

    // An unterminated buffer is judged by its first storage-size bytes only.
    char raw[16];
    std::memset(raw, 'x', sizeof raw);
    v = text(raw);
    EXPECT_TRUE(valueOutsideDomain(&label, &v));
}

TEST(DomainTest, ByKind) {
    QdParamDef b = kindDef(129, QD_KIND_BOOL);
    QdValue v = code(0xFFFFFFFFu);
    EXPECT_FALSE(valueOutsideDomain(&b, &v));

    QdParamDef i = kindDef(131, QD_KIND_INT);
    i.domain.i.min = -5;
    i.domain.i.max = 5;
    v.i = -5;
    EXPECT_FALSE(valueOutsideDomain(&i, &v));
    v.i = 5;
    EXPECT_FALSE(valueOutsideDomain(&i, &v));
    v.i = 6;
    EXPECT_TRUE(valueOutsideDomain(&i, &v));
    v.i = -6;
    EXPECT_TRUE(valueOutsideDomain(&i, &v));

    QdParamDef f = kindDef(136, QD_KIND_FLOAT);
    f.domain.f.min = 0.5f;
    f.domain.f.max = 2.0f;
    v.f = 0.5f;
    EXPECT_FALSE(valueOutsideDomain(&f, &v));
    v.f = 2.0f;
    EXPECT_FALSE(valueOutsideDomain(&f, &v));
    v.f = 2.5f;
    EXPECT_TRUE(valueOutsideDomain(&f, &v));
    v.f = std::numeric_limits<float>::quiet_NaN();
    EXPECT_TRUE(valueOutsideDomain(&f, &v));

    QdParamDef list = optionDef(140, kTwo);
    v = code(1);
    EXPECT_FALSE(valueOutsideDomain(&list, &v));
    v = code(2);
    EXPECT_TRUE(valueOutsideDomain(&list, &v));
    QdOption empty[] = {kEnd};
    QdParamDef emptyList = optionDef(140, empty);
    v = code(QD_LIST_END);  // the end marker is no option
    EXPECT_TRUE(valueOutsideDomain(&emptyList, &v));
    QdParamDef nullList = optionDef(140, nullptr);
    EXPECT_TRUE(valueOutsideDomain(&nullList, &v));

    QdParamDef other = kindDef(1, 7);
    EXPECT_TRUE(valueOutsideDomain(&other, &v));
}
