// mains.cpp - mains frequency default from the user's country.
#include "API/driver/params/mains.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "os/os.h"

// Countries whose mains run at 60 Hz, sorted.
static const char *const k60HzCountries[] = {
    "ABW", "AIA", "ASM", "ATG", "BHS", "BLZ", "BMU", "BRA", "CAN", "COL", "CRI", "CUB", "CYM",
    "DOM", "ECU", "FSM", "GTM", "GUM", "GUY", "HND", "HTI", "KNA", "KOR", "MEX", "MSR", "NIC",
    "PAN", "PER", "PHL", "PRI", "PRK", "SAU", "SLV", "SUR", "TTO", "TWN", "USA", "VEN", "VIR",
};

static bool g_overrideActive = false;
static char g_overrideCountry[8];

void mainsOverrideCountry(bool active, const char *iso3) {
    g_overrideActive = active;
    g_overrideCountry[0] = '\0';
    if (active && iso3) {
        std::snprintf(g_overrideCountry, sizeof g_overrideCountry, "%s", iso3);
    }
}

static int compareCode(const void *key, const void *entry) {
    return std::strcmp((const char *)key, *(const char *const *)entry);
}

bool mainsIs60HzCountry(const char *iso3) {
    if (!iso3 || !*iso3) return false;
    return std::bsearch(iso3, k60HzCountries, sizeof k60HzCountries / sizeof k60HzCountries[0],
                        sizeof k60HzCountries[0], compareCode) != nullptr;
}

// The user's country; empty when the machine knows none.
static void userCountry(char *buffer, size_t size) {
    buffer[0] = '\0';
    if (g_overrideActive) {
        std::snprintf(buffer, size, "%s", g_overrideCountry);
        return;
    }
    if (!osUserCountryIso3(buffer, size)) buffer[0] = '\0';
}

uint32_t mainsFrequencyDefault() {
    char country[8];
    userCountry(country, sizeof country);

    // The choice settled for this country before stands (it may be the
    // user's own choice).
    char recent[8];
    uint32_t selected = 0;
    int n = osSettingGetString("RecentCountryCode", recent, sizeof recent);
    if (n > 0 && n <= 6 && std::strcmp(recent, country) == 0 && osSettingGetDword("PowFreqSel", &selected) &&
        selected < 2) {
        return selected;
    }

    uint32_t code = mainsIs60HzCountry(country) ? 1u : 0u;
    osSettingSetDword("PowFreqSel", code);
    osSettingSetString("RecentCountryCode", country);
    return code;
}

void mainsRememberChoice(uint32_t code) { osSettingSetDword("PowFreqSel", code); }
