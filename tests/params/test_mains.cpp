// The mains frequency default from the user's country and the machine
// settings "PowFreqSel" and "RecentCountryCode".
#include <gtest/gtest.h>

#include "tests/params/param_helpers.h"

using namespace qdtest;

namespace {

class Mains : public DriverTest {
protected:
    // Opens a Halvex context and reads its mains frequency.
    void expectMains(uint32_t code, float hz) {
        int16_t ctx = open(3);
        QdParamValue v{};
        ASSERT_EQ(QdGetParam(QD_PAR_MAINS_FREQUENCY, 0, &v), 0);
        EXPECT_EQ(v.code, code);
        EXPECT_EQ(v.value.f, hz);
        EXPECT_EQ(v.type, 0x82);
        EXPECT_EQ(contextImage((uint16_t)ctx)[0] & 1, (int)code);
        QdCloseDevContext((uint16_t)ctx);
    }
    static uint32_t setting() {
        uint32_t v = 99;
        osSettingGetDword("PowFreqSel", &v);
        return v;
    }
    static std::string country() {
        char buf[16] = "";
        return osSettingGetString("RecentCountryCode", buf, sizeof buf) > 0 ? buf : "(none)";
    }
};

}  // namespace

TEST_F(Mains, OutsideTheListIs50Hz) {
    resetMainsSettings("DEU");
    expectMains(0, 50.0f);
    EXPECT_EQ(setting(), 0u);
    EXPECT_EQ(country(), "DEU");
}

TEST_F(Mains, UnitedStatesIs60Hz) {
    resetMainsSettings("USA");
    expectMains(1, 60.0f);
    EXPECT_EQ(setting(), 1u);
    EXPECT_EQ(country(), "USA");
}

TEST_F(Mains, AChoiceForTheSameCountryStands) {
    resetMainsSettings("USA");
    osSettingSetString("RecentCountryCode", "USA");
    osSettingSetDword("PowFreqSel", 0);
    expectMains(0, 50.0f);
    // A choice settled for another country does not.
    osSettingSetString("RecentCountryCode", "MEX");
    expectMains(1, 60.0f);
    EXPECT_EQ(country(), "USA");
    // Nor does a value that is no choice.
    osSettingSetDword("PowFreqSel", 7);
    expectMains(1, 60.0f);
    EXPECT_EQ(setting(), 1u);
}

TEST_F(Mains, TheUsersChoiceBecomesTheMachineDefault) {
    resetMainsSettings("USA");
    int16_t ctx = open(3);
    ASSERT_EQ(getCode(QD_PAR_MAINS_FREQUENCY, 0), 1u);
    ASSERT_EQ(setCode(QD_PAR_MAINS_FREQUENCY, 0, 0), 0);
    EXPECT_EQ(setting(), 0u);
    EXPECT_EQ(contextImage((uint16_t)ctx)[0], 0x02);
    QdCloseDevContext((uint16_t)ctx);
    expectMains(0, 50.0f);
    // Resetting takes the machine default, not the definition's default.
    osSettingSetDword("PowFreqSel", 1);
    ctx = open(1);
    EXPECT_EQ(getCode(QD_PAR_MAINS_FREQUENCY, 0), 1u);
    ASSERT_EQ(setCode(QD_PAR_MAINS_FREQUENCY, 0, 0), 0);
    ASSERT_EQ(QdSetDefaults(-1), 0);
    EXPECT_EQ(getCode(QD_PAR_MAINS_FREQUENCY, 0), 0u);
}

TEST_F(Mains, NoCountryCountsAsOutsideTheList) {
    resetMainsSettings(nullptr);
    expectMains(0, 50.0f);
    EXPECT_EQ(country(), "");
    resetMainsSettings("");
    osSettingSetDword("PowFreqSel", 1);
    osSettingSetString("RecentCountryCode", "");
    expectMains(1, 60.0f);
}

TEST_F(Mains, CountryList) {
    const char *sixty[] = {"ABW", "AIA", "ASM", "ATG", "BHS", "BLZ", "BMU", "BRA", "CAN", "COL",
                           "CRI", "CUB", "CYM", "DOM", "ECU", "FSM", "GTM", "GUM", "GUY", "HND",
                           "HTI", "KNA", "KOR", "MEX", "MSR", "NIC", "PAN", "PER", "PHL", "PRI",
                           "PRK", "SAU", "SLV", "SUR", "TTO", "TWN", "USA", "VEN", "VIR"};
    for (const char *c : sixty) EXPECT_TRUE(mainsIs60HzCountry(c)) << c;
    for (const char *c : {"DEU", "JPN", "GBR", "AAA", "ZZZ", "usa", "US", "USAA", ""}) {
        EXPECT_FALSE(mainsIs60HzCountry(c)) << c;
    }
    EXPECT_FALSE(mainsIs60HzCountry(nullptr));
}

TEST_F(Mains, TheSystemCountryIsAskedWithoutTheOverride) {
    mainsOverrideCountry(false, nullptr);
    char expected[8] = "";
    bool known = osUserCountryIso3(expected, sizeof expected);
    osSettingDelete("RecentCountryCode");
    osSettingDelete("PowFreqSel");
    expectMains(known && mainsIs60HzCountry(expected) ? 1u : 0u, known && mainsIs60HzCountry(expected) ? 60.0f : 50.0f);
    EXPECT_EQ(country(), known ? std::string(expected) : std::string());
}
