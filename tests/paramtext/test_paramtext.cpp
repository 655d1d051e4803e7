// Parameter values and option lists as text, and parameters set from text.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "tests/params/param_helpers.h"

using namespace qdtest;

namespace {

class ParamText : public DriverTest {};

std::string toText(uint16_t id, uint16_t channel) {
    char buffer[81];
    std::memset(buffer, 'x', sizeof buffer);
    const char *s = QdParam2Str(id, channel, buffer);
    EXPECT_EQ(s, s ? buffer : nullptr);
    return s ? s : "(null)";
}

// The texts of an option list, checked against the pointer array.
std::vector<std::string> listTexts(const QdParamDef *def) {
    char buffer[512];
    char *pointers[32];
    std::memset(buffer, 'x', sizeof buffer);
    std::vector<std::string> out;
    if (!QdParamList2Str(def, buffer, pointers)) return out;
    const char *p = buffer;
    size_t k = 0;
    while (*p) {
        EXPECT_EQ(pointers[k], p);
        out.push_back(p);
        p += std::strlen(p) + 1;
        ++k;
    }
    EXPECT_EQ(pointers[k], nullptr);
    return out;
}

}  // namespace

TEST_F(ParamText, ValuesAsText) {
    open(3);
    ASSERT_EQ(setCode(QD_PAR_SAMPLE_RATE, 0, 8), 0);
    EXPECT_EQ(toText(QD_PAR_SAMPLE_RATE, 0), "250");
    ASSERT_EQ(setCode(QD_PAR_SAMPLE_RATE, 0, 6), 0);
    EXPECT_EQ(toText(QD_PAR_SAMPLE_RATE, 0), "62.5");
    EXPECT_EQ(toText(QD_PAR_MEASUREMENT_RANGE, 0), "800");
    EXPECT_EQ(toText(QD_PAR_RANGE_MINIMUM, 0), "-800");
    EXPECT_EQ(toText(QD_PAR_CHANNEL_FUNCTION, 0), "Voltage");
    EXPECT_EQ(toText(QD_PAR_INTERFERENCE_FILTER, 0), "1");
    EXPECT_EQ(toText(QD_PAR_UPPER_LIMIT, 0), "0.4");
    EXPECT_EQ(toText(QD_PAR_LINK_TYPE, 0), "Bluetooth");
    EXPECT_EQ(toText(QD_PAR_CHANNEL_COUNT, 0), "2");
    EXPECT_EQ(toText(QD_PAR_DEVICE_ID, 0), "Quorvane Halvex*");
    ASSERT_EQ(setCode(QD_PAR_CHANNEL_FUNCTION, 1, 1), 0);
    EXPECT_EQ(toText(QD_PAR_CHANNEL_FUNCTION, 1), "Resistance");
    EXPECT_EQ(toText(QD_PAR_MEASUREMENT_RANGE, 1), "125");
    EXPECT_EQ(toText(QD_PAR_SAMPLE_RATE, 1), "15.625");

    // The longest text, a full "Sensor info", fits the 81 bytes.
    std::string info(79, 's');
    QdValue v = text(info.c_str());
    ASSERT_EQ(QdSetParam(QD_PAR_SENSOR_INFO, 0, &v), 0);
    EXPECT_EQ(toText(QD_PAR_SENSOR_INFO, 0), info);

    // What cannot be read gives no text.
    char buffer[81];
    EXPECT_EQ(QdParam2Str(QD_PAR_SAMPLE_RATE, 2, buffer), nullptr);   // no channel 2
    EXPECT_EQ(QdParam2Str(QD_PAR_EEG_CAP, 0, buffer), nullptr);       // not on this model
    EXPECT_EQ(QdParam2Str(QD_PAR_SAMPLE_RATE, 0, nullptr), nullptr);  // no buffer
    contextImage((uint16_t)QdGetSelectedDevContext())[16 + 3] = 0x7F;  // a code the list lacks
    EXPECT_EQ(QdParam2Str(QD_PAR_SAMPLE_RATE, 0, buffer), nullptr);
    closeAllContexts();
    EXPECT_EQ(QdParam2Str(QD_PAR_LINK_TYPE, 0, buffer), nullptr);     // no context
}

TEST_F(ParamText, OptionListsAsText) {
    open(6);
    using S = std::vector<std::string>;
    EXPECT_EQ(listTexts(QdParamInfo(QD_PAR_SAMPLE_RATE, 0)), (S{"62.5", "125", "250", "500", "1000", "2000"}));
    EXPECT_EQ(listTexts(QdParamInfo(QD_PAR_CHANNEL_FUNCTION, 0)),
              (S{"Voltage", "Resistance", "Conductance", "Temperature"}));
    EXPECT_EQ(listTexts(QdParamInfo(QD_PAR_LOWER_LIMIT, 0)), (S{"0.5", "0.01"}));

    // The exact bytes: each text ended by a zero byte, one more zero byte.
    char buffer[64];
    char *pointers[8];
    std::memset(buffer, 'x', sizeof buffer);
    std::memset(pointers, 0x55, sizeof pointers);
    ASSERT_EQ(QdParamList2Str(QdParamInfo(QD_PAR_SAMPLE_RATE, 0), buffer, pointers), buffer);
    const char expected[] = "62.5\0" "125\0" "250\0" "500\0" "1000\0" "2000\0";
    EXPECT_EQ(0, std::memcmp(buffer, expected, sizeof expected));
    EXPECT_EQ(buffer[sizeof expected], 'x');
    const int offsets[] = {0, 5, 9, 13, 17, 22};
    for (int k = 0; k < 6; ++k) EXPECT_EQ(pointers[k], buffer + offsets[k]);
    EXPECT_EQ(pointers[6], nullptr);
    // Without a pointer array the text is the same.
    std::memset(buffer, 'x', sizeof buffer);
    ASSERT_EQ(QdParamList2Str(QdParamInfo(QD_PAR_SAMPLE_RATE, 0), buffer, nullptr), buffer);
    EXPECT_EQ(0, std::memcmp(buffer, expected, sizeof expected));

    // An empty list is one zero byte; no list, no buffer: null.
    QdOption empty[] = {{QD_LIST_END, {}, nullptr}};
    QdParamDef def = *QdParamInfo(QD_PAR_SAMPLE_RATE, 0);
    def.domain.options = empty;
    std::memset(buffer, 'x', sizeof buffer);
    ASSERT_EQ(QdParamList2Str(&def, buffer, pointers), buffer);
    EXPECT_EQ(buffer[0], '\0');
    EXPECT_EQ(pointers[0], nullptr);
    def.domain.options = nullptr;
    EXPECT_EQ(QdParamList2Str(&def, buffer, pointers), nullptr);
    EXPECT_EQ(QdParamList2Str(QdParamInfo(QD_PAR_SAMPLE_RATE, 0), nullptr, pointers), nullptr);
    EXPECT_EQ(QdParamList2Str(nullptr, buffer, pointers), nullptr);
    EXPECT_EQ(QdParamList2Str(QdParamInfo(QD_PAR_CHANNEL_LABEL, 0), buffer, pointers), nullptr);  // no list
    // A text option without a text, or one that formats to nothing.
    QdOption bad[] = {{0, {}, nullptr}, {QD_LIST_END, {}, nullptr}};
    def = *QdParamInfo(QD_PAR_CHANNEL_FUNCTION, 0);
    def.domain.options = bad;
    EXPECT_EQ(QdParamList2Str(&def, buffer, pointers), nullptr);
    bad[0].value.s = "";
    EXPECT_EQ(QdParamList2Str(&def, buffer, pointers), nullptr);
}

TEST_F(ParamText, OptionsFromText) {
    open(3);
    EXPECT_EQ(QdStr2Param("250", QD_PAR_SAMPLE_RATE, 0), 0);
    EXPECT_EQ(getCode(QD_PAR_SAMPLE_RATE, 0), 8u);
    EXPECT_EQ(QdStr2Param("62.5", QD_PAR_SAMPLE_RATE, 0), 0);
    EXPECT_EQ(getCode(QD_PAR_SAMPLE_RATE, 0), 6u);
    EXPECT_EQ(QdStr2Param("250.0", QD_PAR_SAMPLE_RATE, 0), 0);
    EXPECT_EQ(getCode(QD_PAR_SAMPLE_RATE, 0), 8u);
    EXPECT_EQ(QdStr2Param(" 2.5e2", QD_PAR_SAMPLE_RATE, 0), 0);
    EXPECT_EQ(QdStr2Param("251", QD_PAR_SAMPLE_RATE, 0), 2);
    EXPECT_EQ(QdStr2Param("250x", QD_PAR_SAMPLE_RATE, 0), 1);
    EXPECT_EQ(QdStr2Param("250 ", QD_PAR_SAMPLE_RATE, 0), 1);
    EXPECT_EQ(QdStr2Param("0xFA", QD_PAR_SAMPLE_RATE, 0), 1);
    EXPECT_EQ(QdStr2Param("inf", QD_PAR_SAMPLE_RATE, 0), 1);
    EXPECT_EQ(QdStr2Param("nan", QD_PAR_SAMPLE_RATE, 0), 1);
    EXPECT_EQ(getCode(QD_PAR_SAMPLE_RATE, 0), 8u);

    EXPECT_EQ(QdStr2Param("Resistance", QD_PAR_CHANNEL_FUNCTION, 1), 0);
    EXPECT_EQ(getCode(QD_PAR_CHANNEL_FUNCTION, 1), 1u);
    EXPECT_EQ(QdStr2Param("voltage", QD_PAR_CHANNEL_FUNCTION, 1), 2);
    EXPECT_EQ(QdStr2Param("Voltage ", QD_PAR_CHANNEL_FUNCTION, 1), 2);
    EXPECT_EQ(QdStr2Param("Voltage", QD_PAR_CHANNEL_FUNCTION, 1), 0);
    EXPECT_EQ(getCode(QD_PAR_CHANNEL_FUNCTION, 1), 0u);
    EXPECT_EQ(QdStr2Param("6000", QD_PAR_MEASUREMENT_RANGE, 1), 0);
    EXPECT_EQ(getCode(QD_PAR_MEASUREMENT_RANGE, 1), 3u);
    EXPECT_EQ(QdStr2Param("ECG for HRV", QD_PAR_CHANNEL_PROFILE, 0), 0);
    EXPECT_EQ(getCode(QD_PAR_CHANNEL_PROFILE, 0), 3u);
    EXPECT_EQ(QdStr2Param("60", QD_PAR_MAINS_FREQUENCY, 0), 0);
    EXPECT_EQ(getCode(QD_PAR_MAINS_FREQUENCY, 0), 1u);
}

TEST_F(ParamText, PlainValuesFromText) {
    open(4);
    // Booleans: 0 or 1, an empty text is 0.
    EXPECT_EQ(QdStr2Param("1", QD_PAR_CHANNEL_ENABLE, 1), 0);
    EXPECT_EQ(getCode(QD_PAR_CHANNEL_ENABLE, 1), 1u);
    EXPECT_EQ(QdStr2Param("", QD_PAR_CHANNEL_ENABLE, 1), 0);
    EXPECT_EQ(getCode(QD_PAR_CHANNEL_ENABLE, 1), 0u);
    EXPECT_EQ(QdStr2Param("  +1", QD_PAR_CHANNEL_ENABLE, 1), 0);
    EXPECT_EQ(getCode(QD_PAR_CHANNEL_ENABLE, 1), 1u);
    EXPECT_EQ(QdStr2Param("2", QD_PAR_CHANNEL_ENABLE, 1), 1);
    EXPECT_EQ(QdStr2Param("-1", QD_PAR_CHANNEL_ENABLE, 1), 1);
    EXPECT_EQ(QdStr2Param("yes", QD_PAR_CHANNEL_ENABLE, 1), 1);
    EXPECT_EQ(QdStr2Param("99999999999999999999", QD_PAR_CHANNEL_ENABLE, 1), 1);
    EXPECT_EQ(getCode(QD_PAR_CHANNEL_ENABLE, 1), 1u);
    EXPECT_EQ(QdStr2Param("0", QD_PAR_SILENT_MODE, 0), 0);

    // Texts, within their storage size.
    EXPECT_EQ(QdStr2Param("Fp1-A1", QD_PAR_CHANNEL_LABEL, 0), 0);
    QdParamValue v{};
    ASSERT_EQ(QdGetParam(QD_PAR_CHANNEL_LABEL, 0, &v), 0);
    EXPECT_STREQ(v.value.s, "Fp1-A1");
    EXPECT_EQ(QdStr2Param("0123456789abcdef", QD_PAR_CHANNEL_LABEL, 0), 2);  // 16 characters
    EXPECT_EQ(QdStr2Param("", QD_PAR_CHANNEL_LABEL, 0), 0);
    EXPECT_EQ(QdStr2Param(nullptr, QD_PAR_CHANNEL_LABEL, 0), 1);
    EXPECT_EQ(QdStr2Param(nullptr, QD_PAR_SAMPLE_RATE, 0), 1);
}

TEST_F(ParamText, WhatCannotBeSetFromText) {
    open(9);
    EXPECT_EQ(QdStr2Param("2", QD_PAR_CHANNEL_COUNT, 0), 3);           // constant
    EXPECT_EQ(QdStr2Param("USB", QD_PAR_LINK_TYPE, 0), 3);
    EXPECT_EQ(QdStr2Param("-800", QD_PAR_RANGE_MINIMUM, 0), 3);
    ASSERT_EQ(setCode(QD_PAR_CHANNEL_FUNCTION, 1, 1), 0);
    EXPECT_EQ(QdStr2Param("Linear phase sharp", QD_PAR_FREQ_CHARACTERISTIC, 1), 3);  // not applicable
    EXPECT_EQ(QdStr2Param("250", QD_PAR_SAMPLE_RATE, 3), 4);           // the model has 3 channels
    EXPECT_EQ(QdStr2Param("250", QD_PAR_SAMPLE_RATE, 0xFFFF), 4);
    EXPECT_EQ(QdStr2Param("1", 25, 0), 4);
    EXPECT_EQ(QdStr2Param("Cz", QD_PAR_EEG_CAP, 0), 4);                 // models 12 to 14 only
    EXPECT_EQ(QdStr2Param("Button", QD_PAR_CHANNEL_PROFILE, 0), 2);     // not a signal channel's profile
    EXPECT_EQ(QdStr2Param("Button", QD_PAR_CHANNEL_PROFILE, 2), 0);
    EXPECT_EQ(getCode(QD_PAR_SAMPLE_RATE, 2), 6u);
    closeAllContexts();
    EXPECT_EQ(QdStr2Param("250", QD_PAR_SAMPLE_RATE, 0), 4);           // no context
}

// What QdParam2Str writes, QdStr2Param takes back, for every settable
// option of every channel of a model of each family.
TEST_F(ParamText, TextRoundTripOfEveryOption) {
    for (int model : {0, 2, 5, 13}) {
        SCOPED_TRACE(modelName(model));
        open(model);
        int channels = modelChannelCount((uint16_t)model);
        for (uint16_t c = 0; c < channels; ++c) {
            for (uint16_t id : {QD_PAR_CHANNEL_FUNCTION, QD_PAR_MEASUREMENT_RANGE, QD_PAR_SAMPLE_RATE,
                                QD_PAR_LOWER_LIMIT, QD_PAR_COMMON_REFERENCE, QD_PAR_EEG_CAP}) {
                const QdParamDef *d = QdParamInfo(id, (int16_t)c);
                if (!d || (d->flags & (QD_FLAG_CONSTANT | QD_FLAG_NOT_APPLICABLE))) continue;
                std::vector<std::string> texts = listTexts(d);
                ASSERT_FALSE(texts.empty());
                for (size_t k = 0; k < texts.size(); ++k) {
                    EXPECT_EQ(QdStr2Param(texts[k].c_str(), id, c), 0) << id << " " << texts[k];
                    EXPECT_EQ(toText(id, c), texts[k]);
                    EXPECT_EQ(getCode(id, c), d->domain.options[k].code);
                }
            }
        }
        closeAllContexts();
    }
}
