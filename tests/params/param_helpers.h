// param_helpers.h - helpers shared by the parameter and context tests.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>

#include "QuorvaneDrv.h"
#include "API/driver/frame/contexts.h"
#include "API/driver/driver.h"
#include "API/driver/frame/lifecycle.h"
#include "API/driver/frame/log.h"
#include "API/driver/params/mains.h"
#include "API/driver/params/spine.h"
#include "os/os.h"
#include "tests/support/testenv.h"

namespace qdtest {

// The model names in model-index order.
inline const char *modelName(int model) {
    const char *const *names = nullptr;
    QdEnumDevices(&names);
    return names[model];
}

inline void closeAllContexts() {
    for (uint16_t i = 0; i < QD_MAX_CONTEXTS; ++i) QdCloseDevContext(i);
}

// Settles the machine's mains frequency as if the user lived in a country
// outside the 60 Hz list, with no choice remembered.
inline void resetMainsSettings(const char *country = "DEU") {
    osSettingDelete("PowFreqSel");
    osSettingDelete("RecentCountryCode");
    mainsOverrideCountry(true, country);
}

// Attaches the driver once per test program and starts every test with no
// context open.
class DriverTest : public ::testing::Test {
protected:
    void SetUp() override {
        driverAttach();
        closeAllContexts();
        contextsOnAttach();  // every test starts from slot 0
        resetMainsSettings();
        spineFailAllocationAfter(-1);
    }
    void TearDown() override {
        closeAllContexts();
        spineFailAllocationAfter(-1);
    }

    // Opens a context for a model index and expects success.
    int16_t open(int model) {
        int16_t ctx = QdOpenDevContext(modelName(model));
        EXPECT_GE(ctx, 0) << modelName(model);
        return ctx;
    }
};

// What the log received after a mark.
class LogWatch {
public:
    LogWatch() { mark(); }
    void mark() { start_ = size(); }
    // The log since the mark without the writer's timestamp lines ("@ ..."),
    // which appear whenever a second passed between entries (often on a slow
    // or emulated machine).
    std::string text() const {
        std::string raw;
        OsFile f = osFileOpen(logPath(), OS_FILE_READ | OS_FILE_SHARE_READ | OS_FILE_SHARE_WRITE);
        if (f == OS_INVALID_FILE) return raw;
        if (osFileSeek(f, start_, OS_SEEK_SET) == start_) {
            char buf[4096];
            int32_t n;
            while ((n = osFileRead(f, buf, sizeof buf)) > 0) raw.append(buf, (size_t)n);
        }
        osFileClose(f);
        std::string out;
        for (size_t at = 0; at < raw.size();) {
            size_t end = raw.find('\n', at);
            end = end == std::string::npos ? raw.size() : end + 1;
            if (raw.compare(at, 2, "@ ") != 0) out.append(raw, at, end - at);
            at = end;
        }
        return out;
    }
    bool contains(const std::string &s) const { return text().find(s) != std::string::npos; }

private:
    static int64_t size() {
        OsFile f = osFileOpen(logPath(), OS_FILE_READ | OS_FILE_SHARE_READ | OS_FILE_SHARE_WRITE);
        if (f == OS_INVALID_FILE) return 0;
        int64_t n = osFileSize(f);
        osFileClose(f);
        return n < 0 ? 0 : n;
    }
    int64_t start_ = 0;
};

inline QdValue code(uint32_t c) {
    QdValue v{};
    v.code = c;
    return v;
}

inline QdValue text(const char *s) {
    QdValue v{};
    v.s = s;
    return v;
}

// Option code of a parameter (or the raw first 32 bits for other kinds);
// fails the test when it cannot be read.
inline uint32_t getCode(uint16_t id, uint16_t channel) {
    QdParamValue v{};
    int rc = QdGetParam(id, channel, &v);
    EXPECT_EQ(rc, 0) << "id " << id << " channel " << channel;
    return (QdParamInfo(id, (int16_t)channel)->type & QD_TYPE_OPTION_LIST) ? v.code : v.value.code;
}

inline float getFloat(uint16_t id, uint16_t channel) {
    QdParamValue v{};
    EXPECT_EQ(QdGetParam(id, channel, &v), 0) << "id " << id << " channel " << channel;
    return v.value.f;
}

inline int setCode(uint16_t id, uint16_t channel, uint32_t c) {
    QdValue v = code(c);
    return QdSetParam(id, channel, &v);
}

}  // namespace qdtest
