// mains.h - the default of the mains frequency parameter, settled once per
// country of the user and remembered in the machine settings
// ("RecentCountryCode", "PowFreqSel").
#pragma once

#include <cstdint>

// 0 (50 Hz) or 1 (60 Hz). Reads and, when the country changed, writes the
// machine settings.
uint32_t mainsFrequencyDefault();
// True when the ISO 3166-1 three-letter code is a 60 Hz country.
bool mainsIs60HzCountry(const char *iso3);
// Records an explicit choice of the user (option code 0 or 1).
void mainsRememberChoice(uint32_t code);

// Test hook: with active set, the user's country is taken to be 'iso3' (null
// or empty: the machine knows no country) instead of asking the system.
void mainsOverrideCountry(bool active, const char *iso3);
