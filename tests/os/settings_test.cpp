// The persistent settings store and the user's country.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#if !defined(_WIN32)
#include <unistd.h>
#endif

#include "os/os.h"
#include "tests/support/testenv.h"

namespace {

// Points the store at a location of its own for one test.
class SettingsStore : public testing::Test {
protected:
    void SetUp() override {
        static int counter = 0;
        std::string name = "store" + std::to_string(++counter);
        location = testenvIsWindows() ? "Software\\QuorvaneTests\\" + name : testenvNewDir("settings") + name;
        osSettingsOverride(location.c_str());
    }
    void TearDown() override {
        osSettingsRemoveOverridden();
        osSettingsOverride(nullptr);
        // Back to the store of the whole test program.
        std::string program = testenvIsWindows() ? std::string() : testenvRoot() + "settings";
        if (!program.empty()) osSettingsOverride(program.c_str());
    }
    std::string location;
};

}  // namespace

TEST_F(SettingsStore, DwordAndStringRoundTrip) {
    uint32_t v = 99;
    char buf[16];
    EXPECT_FALSE(osSettingGetDword("PowFreqSel", &v));
    EXPECT_EQ(99u, v);
    EXPECT_EQ(-1, osSettingGetString("RecentCountryCode", buf, sizeof buf));

    EXPECT_TRUE(osSettingSetDword("PowFreqSel", 1));
    EXPECT_TRUE(osSettingSetString("RecentCountryCode", "USA"));
    EXPECT_TRUE(osSettingGetDword("PowFreqSel", &v));
    EXPECT_EQ(1u, v);
    EXPECT_EQ(4, osSettingGetString("RecentCountryCode", buf, sizeof buf));
    EXPECT_STREQ("USA", buf);

    // Replacing a value keeps the other.
    EXPECT_TRUE(osSettingSetDword("PowFreqSel", 4294967295u));
    EXPECT_TRUE(osSettingGetDword("PowFreqSel", &v));
    EXPECT_EQ(4294967295u, v);
    EXPECT_EQ(4, osSettingGetString("RecentCountryCode", buf, sizeof buf));

    // A string is no DWORD.
    EXPECT_FALSE(osSettingGetDword("RecentCountryCode", &v));

    EXPECT_TRUE(osSettingDelete("PowFreqSel"));
    EXPECT_FALSE(osSettingGetDword("PowFreqSel", &v));
    EXPECT_FALSE(osSettingDelete("PowFreqSel"));
    EXPECT_EQ(4, osSettingGetString("RecentCountryCode", buf, sizeof buf));
}

TEST_F(SettingsStore, StringLargerThanTheBufferIsRefused) {
    char buf[6];
    EXPECT_TRUE(osSettingSetString("RecentCountryCode", "ABCDE"));
    EXPECT_EQ(6, osSettingGetString("RecentCountryCode", buf, sizeof buf));
    EXPECT_STREQ("ABCDE", buf);
    EXPECT_TRUE(osSettingSetString("RecentCountryCode", "ABCDEF"));  // 7 bytes
    EXPECT_EQ(-1, osSettingGetString("RecentCountryCode", buf, sizeof buf));
    EXPECT_STREQ("", buf);
    EXPECT_TRUE(osSettingSetString("RecentCountryCode", ""));
    EXPECT_EQ(1, osSettingGetString("RecentCountryCode", buf, sizeof buf));
}

TEST_F(SettingsStore, OverrideSeparatesStores) {
    uint32_t v = 0;
    ASSERT_TRUE(osSettingSetDword("PowFreqSel", 1));
    std::string other = location + "-other";
    osSettingsOverride(other.c_str());
    EXPECT_FALSE(osSettingGetDword("PowFreqSel", &v));
    EXPECT_TRUE(osSettingSetDword("PowFreqSel", 0));
    EXPECT_TRUE(osSettingsRemoveOverridden());
    osSettingsOverride(location.c_str());
    EXPECT_TRUE(osSettingGetDword("PowFreqSel", &v));
    EXPECT_EQ(1u, v);
    EXPECT_TRUE(osSettingsRemoveOverridden());
    EXPECT_FALSE(osSettingGetDword("PowFreqSel", &v));
}

TEST_F(SettingsStore, RemovingWithoutOverrideIsRefused) {
    osSettingsOverride(nullptr);
    EXPECT_FALSE(osSettingsRemoveOverridden());
    osSettingsOverride(location.c_str());
}

TEST_F(SettingsStore, ConcurrentWritersLoseNothing) {
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([t] {
            for (int i = 0; i < 20; ++i) osSettingSetDword(("V" + std::to_string(t * 100 + i)).c_str(), (uint32_t)i);
        });
    }
    for (auto &t : threads) t.join();
    for (int t = 0; t < 4; ++t) {
        for (int i = 0; i < 20; ++i) {
            uint32_t v = 999;
            EXPECT_TRUE(osSettingGetDword(("V" + std::to_string(t * 100 + i)).c_str(), &v));
            EXPECT_EQ((uint32_t)i, v);
        }
    }
}

TEST_F(SettingsStore, TextFileFormatAndForeignLines) {
    if (testenvIsWindows()) GTEST_SKIP() << "Windows keeps the settings in the registry";
    ASSERT_TRUE(testenvWriteFile(location, "# kept\nOther=x\r\nPowFreqSel=0\nbroken line\n"));
    uint32_t v = 9;
    EXPECT_TRUE(osSettingGetDword("PowFreqSel", &v));
    EXPECT_EQ(0u, v);
    char buf[8];
    EXPECT_EQ(2, osSettingGetString("Other", buf, sizeof buf));  // the CR is not part of it
    EXPECT_TRUE(osSettingSetDword("PowFreqSel", 1));
    EXPECT_TRUE(osSettingSetString("RecentCountryCode", "DEU"));
    EXPECT_EQ("# kept\nOther=x\r\nPowFreqSel=1\nbroken line\nRecentCountryCode=DEU\n", testenvReadFile(location));
    EXPECT_FALSE(osPathExists((location + ".tmp").c_str()));

    // Values that are not plain decimal numbers are no DWORDs.
    ASSERT_TRUE(testenvWriteFile(location, "A=-1\nB=4294967296\nC=12x\nD=\nE= 1\n"));
    for (const char *name : {"A", "B", "C", "D", "E"}) EXPECT_FALSE(osSettingGetDword(name, &v)) << name;

    // A name with '=' or a value with a line break would break the file.
    EXPECT_FALSE(osSettingSetString("X=Y", "1"));
    EXPECT_FALSE(osSettingSetString("X", "1\nPowFreqSel=0"));
}

TEST_F(SettingsStore, DefaultFileLivesInTheSharedFolder) {
    if (testenvIsWindows()) GTEST_SKIP() << "Windows keeps the settings in HKEY_LOCAL_MACHINE";
    std::string shared = testenvNewDir("machine");
    shared.pop_back();
    osSetEnv("ALLUSERSPROFILE", shared.c_str());
    osSettingsOverride(nullptr);
    bool set = osSettingSetDword("PowFreqSel", 1);
    std::string text = testenvReadFile(shared + "/Quorvane/QuorvaneDriver.conf");
    osSetEnv("ALLUSERSPROFILE", testenvSharedDir().c_str());
    osSettingsOverride(location.c_str());
    EXPECT_TRUE(set);
    EXPECT_EQ("PowFreqSel=1\n", text);
}

#if !defined(_WIN32)
TEST_F(SettingsStore, LinkInPlaceOfTheFileIsNeitherReadNorWrittenThrough) {
    // The store's folder is shared: a link planted as the file must not let
    // a change land in (or a read come from) the file it points at.
    std::string target = testenvNewDir("linked") + "victim";
    ASSERT_TRUE(testenvWriteFile(target, "Value=7\n"));
    ASSERT_EQ(0, symlink(target.c_str(), location.c_str()));
    uint32_t v = 0;
    EXPECT_FALSE(osSettingGetDword("Value", &v));
    EXPECT_FALSE(osSettingSetDword("Value", 8));
    EXPECT_EQ("Value=7\n", testenvReadFile(target));
}
#endif

// ---------------------------------------------------------------------------
// The user's country
// ---------------------------------------------------------------------------

namespace {

// Saves and restores an environment variable.
struct EnvGuard {
    explicit EnvGuard(const char *n) : name(n) {
        char buf[1024];
        had = osGetEnv(name, buf, sizeof buf) >= 0;
        if (had) value = buf;
    }
    ~EnvGuard() { osSetEnv(name, had ? value.c_str() : nullptr); }
    const char *name;
    bool had;
    std::string value;
};

}  // namespace

TEST(OsCountry, CountryIsThreeLettersOrNothing) {
    char buf[8] = "junk";
    bool known = osUserCountryIso3(buf, sizeof buf);
    if (known) {
        ASSERT_EQ(3u, std::string(buf).size());
        for (int i = 0; i < 3; ++i) EXPECT_TRUE(buf[i] >= 'A' && buf[i] <= 'Z') << buf;
    } else {
        EXPECT_STREQ("", buf);
    }
    char tiny[3];
    EXPECT_FALSE(osUserCountryIso3(tiny, sizeof tiny) && std::string(tiny).size() == 3);
}

TEST(OsCountry, LinuxTakesTheAddressCountryOfTheLocale) {
    if (testenvIsWindows()) GTEST_SKIP() << "Windows asks the user's geographic location";
    if (!osPathExists("/usr/bin/localedef") || !osPathExists("/usr/share/i18n/locales/de_DE")) {
        GTEST_SKIP() << "no locale sources to build a test locale from";
    }
    EnvGuard locpath("LOCPATH"), all("LC_ALL"), address("LC_ADDRESS"), lang("LANG");
    std::string dir = testenvNewDir("locales");
    std::string cmd = "localedef -i de_DE -f UTF-8 '" + dir + "de_DE.UTF-8' >/dev/null 2>&1";
    if (std::system(cmd.c_str()) != 0 || !osIsDirectory((dir + "de_DE.UTF-8").c_str())) {
        GTEST_SKIP() << "localedef could not build a test locale";
    }
    osSetEnv("LOCPATH", dir.c_str());
    osSetEnv("LC_ALL", nullptr);
    osSetEnv("LANG", "C");
    osSetEnv("LC_ADDRESS", "de_DE.UTF-8");
    char buf[8];
    EXPECT_TRUE(osUserCountryIso3(buf, sizeof buf));
    EXPECT_STREQ("DEU", buf);
    char tiny[3];
    EXPECT_FALSE(osUserCountryIso3(tiny, sizeof tiny));

    // The C locale names no country.
    osSetEnv("LC_ADDRESS", "C");
    EXPECT_FALSE(osUserCountryIso3(buf, sizeof buf));
    EXPECT_STREQ("", buf);
}
