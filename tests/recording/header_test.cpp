// header_test.cpp - EDF and TSV headers built from the device parameters:
// record layout, every field with its width and padding, scaling, the
// prefiltering text, the recording identification, and bad input (texts
// outside printable ASCII, over-long texts, parameters that would overrun
// the buffers or give an unreadable file).
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "tests/recording/recording_helpers.h"
#include "tests/support/testenv.h"

namespace {

class Header : public testing::Test {
protected:
    void SetUp() override {
        fakeReset(1);
        dir = testenvNewDir("header");
    }

    // Writes the header of a fresh file and returns the file.
    std::string edfHeader(const char *client = "", const char *session = "", uint16_t *result = nullptr) {
        auto out = newOutput();
        std::string path = dir + "h.edf";
        EXPECT_TRUE(recordingOpen(out.get(), path.c_str(), RECORDING_EDF, client, session));
        uint16_t n = writeEdfHeader(out.get());
        if (result != nullptr) *result = n;
        // Read while the file is open: others may read it during a recording.
        std::string bytes = testenvReadFile(path);
        completeEdfHeader(out.get(), nullptr);
        return bytes;
    }
    EdfImage edf(const char *client = "", const char *session = "") { return parseEdf(edfHeader(client, session)); }

    std::string tsvHeader(uint16_t *result = nullptr, float *scale0 = nullptr) {
        auto out = newOutput();
        std::string path = dir + "h.txt";
        EXPECT_TRUE(recordingOpen(out.get(), path.c_str(), RECORDING_TSV, "client", "session"));
        uint16_t n = writeTsvHeader(out.get());
        if (result != nullptr) *result = n;
        if (scale0 != nullptr) *scale0 = out->tsv.scale[0];
        std::string bytes = testenvReadFile(path);
        completeEdfHeader(out.get(), nullptr);
        return bytes;
    }

    std::string dir;
};

void expectPrintable(const std::string &bytes) {
    for (size_t i = 0; i < bytes.size(); i++) {
        unsigned char c = (unsigned char)bytes[i];
        ASSERT_TRUE(c >= 32 && c <= 126) << "byte " << (int)c << " at offset " << i;
    }
}

}  // namespace

TEST(TrimExponent, ShortensExponentsOnly) {
    struct Case {
        const char *in, *out;
    } cases[] = {{"1e-05", "1e-5"}, {"2.5e+00", "2.5e+0"}, {"-3.2E+12", "-3.2E+12"}, {"4e+100", "4e+100"},
                 {"7e-010", "7e-10"}, {"6e5", "6e5"},       {"8e000", "8e0"},         {"399.988", "399.988"},
                 {"-400", "-400"},     {"", ""}};
    for (const Case &c : cases) {
        char text[32];
        std::strcpy(text, c.in);
        trimExponent(text);
        EXPECT_STREQ(text, c.out) << c.in;
    }
}

TEST_F(Header, MixedRatesGiveTheRecordLayout) {
    fakeReset(2);
    g_fake.channel[0].rate = 62.5f;
    g_fake.channel[0].rateIndex = 6;
    g_fake.channel[1].rate = 250.0f;
    g_fake.channel[1].rateIndex = 8;
    uint16_t n = 0;
    EdfImage e = parseEdf(edfHeader("", "", &n));
    ASSERT_TRUE(e.ok) << e.error;
    EXPECT_EQ(n, 2);
    EXPECT_EQ(e.duration, "1.008   ");
    EXPECT_EQ(e.headerBytes, "768     ");
    EXPECT_EQ(e.signals, "2   ");
    EXPECT_EQ(e.signal[0].samples, "63      ");
    EXPECT_EQ(e.signal[1].samples, "252     ");
    EXPECT_EQ(e.records, "-1      ");
}

TEST_F(Header, SlowestRateSetsTheDuration) {
    g_fake.channel[0].rate = 15.625f;
    g_fake.channel[0].rateIndex = 4;
    EdfImage e = edf();
    ASSERT_TRUE(e.ok);
    EXPECT_EQ(trimmed(e.duration), "1.024");
    EXPECT_EQ(trimmed(e.signal[0].samples), "16");
    g_fake.channel[0].rate = 250.0f;
    g_fake.channel[0].rateIndex = 8;
    e = edf();
    EXPECT_EQ(trimmed(e.duration), "1");
    EXPECT_EQ(trimmed(e.signal[0].samples), "250");
}

TEST_F(Header, MainHeaderFieldsAndPadding) {
    EdfImage e = edf("client text", "session text");
    ASSERT_TRUE(e.ok);
    EXPECT_EQ(e.version, "0       ");
    EXPECT_EQ(e.patient, "client text" + std::string(69, ' '));
    EXPECT_EQ(trimmed(e.recording), "session text / Recorded with Quorvane Halvex-4 USB");
    EXPECT_EQ(e.reserved, std::string(44, ' '));
    // dd.mm.yy and hh.mm.ss.
    ASSERT_EQ(e.date.size(), 8u);
    for (int i : {0, 1, 3, 4, 6, 7}) {
        EXPECT_TRUE(e.date[(size_t)i] >= '0' && e.date[(size_t)i] <= '9') << e.date;
        EXPECT_TRUE(e.time[(size_t)i] >= '0' && e.time[(size_t)i] <= '9') << e.time;
    }
    EXPECT_EQ(e.date[2], '.');
    EXPECT_EQ(e.date[5], '.');
    EXPECT_EQ(e.time[2], '.');
    EXPECT_EQ(e.time[5], '.');
    EXPECT_EQ(e.headerBytes, "512     ");
    const EdfSignal &s = e.signal[0];
    EXPECT_EQ(s.label, "A:" + std::string(14, ' '));
    EXPECT_EQ(s.transducer, std::string(80, ' '));
    EXPECT_EQ(s.dimension, "uV      ");
    EXPECT_EQ(s.digMax, "32767   ");
    EXPECT_EQ(s.reserved, std::string(32, ' '));
    EXPECT_EQ(e.header.find('\0'), std::string::npos);
}

TEST_F(Header, RecordingIdentificationNamesTheModelWhenItFits) {
    const std::string model = "Quorvane Halvex-4 USB";  // 21 characters
    // Empty session: the model line alone.
    EXPECT_EQ(trimmed(edf().recording), "Recorded with " + model);
    // A session that names the model already keeps to itself.
    std::string named = "EEG with the " + model + " at home";
    EXPECT_EQ(trimmed(edf("", named.c_str()).recording), named);
    // 42 + 21 + 17 = 80 still fits; one more character does not.
    std::string fits(42, 's');
    EXPECT_EQ(trimmed(edf("", fits.c_str()).recording), fits + " / Recorded with " + model);
    std::string tooLong(43, 's');
    EXPECT_EQ(trimmed(edf("", tooLong.c_str()).recording), tooLong);
    // 60 characters with the 17-character "Quorvane Halvex 4": 94 > 80.
    g_fake.model = "Quorvane Halvex 4";
    std::string sixty(60, 'x');
    EXPECT_EQ(trimmed(edf("", sixty.c_str()).recording), sixty);
}

TEST_F(Header, PhysicalAndDigitalScale) {
    EdfImage e = edf();
    ASSERT_TRUE(e.ok);
    EXPECT_EQ(e.signal[0].physMin, "-400    ");
    EXPECT_EQ(e.signal[0].physMax, "399.988 ");
    EXPECT_EQ(e.signal[0].digMin, "-32768  ");
    EXPECT_EQ(e.signal[0].digMax, "32767   ");
    // Conductance 20 uS from 1 uS: 1 * 32768 / 20 = 1638.4, truncated.
    g_fake.channel[0].unit = "uS";
    g_fake.channel[0].range = 20.0f;
    g_fake.channel[0].minimum = 1.0f;
    e = edf();
    EXPECT_EQ(trimmed(e.signal[0].physMin), "1");
    EXPECT_EQ(trimmed(e.signal[0].physMax), "19.9994");
    EXPECT_EQ(trimmed(e.signal[0].digMin), "1638");
    EXPECT_EQ(trimmed(e.signal[0].dimension), "uS");
    // Temperature from 21 `C in a range of 120: the Celsius unit stays.
    g_fake.channel[0].unit = "`C";
    g_fake.channel[0].range = 120.0f;
    g_fake.channel[0].minimum = 21.0f;
    e = edf();
    EXPECT_EQ(trimmed(e.signal[0].dimension), "`C");
    EXPECT_EQ(trimmed(e.signal[0].digMin), "5734");
    EXPECT_EQ(trimmed(e.signal[0].physMax), "119.996");
    // Negative digital minimum truncates toward zero: -18 * 32768 / 30.
    g_fake.channel[0].range = 30.0f;
    g_fake.channel[0].minimum = -18.0f;
    EXPECT_EQ(trimmed(edf().signal[0].digMin), "-19660");
}

TEST_F(Header, PrefilteringNamesTheNotchOnlyWhenTheFilterIsOn) {
    fakeReset(3);
    // Channel A: no filter parameter; B: filter off; C: filter on, 60 Hz.
    g_fake.mains = 60.0f;
    g_fake.channel[1].filter = 0;
    g_fake.channel[2].filter = 1;
    g_fake.channel[2].lower = 0.01f;
    g_fake.channel[2].rate = 62.5f;
    g_fake.channel[2].rateIndex = 6;
    g_fake.channel[2].upper = 0.3f;
    EdfImage e = edf();
    ASSERT_TRUE(e.ok);
    EXPECT_EQ(trimmed(e.signal[0].prefilter), "HP:0.5Hz LP:100Hz");
    EXPECT_EQ(trimmed(e.signal[1].prefilter), "HP:0.5Hz LP:100Hz");
    EXPECT_EQ(trimmed(e.signal[2].prefilter), "HP:0.01Hz LP:18.75Hz N:60Hz");
    // LP follows each channel's own rate; an unreadable mains frequency
    // leaves the notch out without failing the header.
    g_fake.failing[QD_PAR_MAINS_FREQUENCY] = 1;
    e = edf();
    ASSERT_TRUE(e.ok);
    EXPECT_EQ(trimmed(e.signal[2].prefilter), "HP:0.01Hz LP:18.75Hz");
    EXPECT_EQ(trimmed(e.signal[0].samples), "252");
    EXPECT_EQ(trimmed(e.signal[2].samples), "63");
}

TEST_F(Header, SignalHeadersAreFieldMajorAndSkipDisabledChannels) {
    fakeReset(4);
    g_fake.channel[1].enabled = false;
    g_fake.channel[0].label = "EEG FpzCz";
    g_fake.channel[2].label = "ECG";
    g_fake.channel[3].label = "EMG";
    g_fake.channel[3].unit = "kOhm";
    uint16_t n = 0;
    std::string bytes = edfHeader("", "", &n);
    EXPECT_EQ(n, 4);  // entries to process: all channels, not only the enabled
    EdfImage e = parseEdf(bytes);
    ASSERT_TRUE(e.ok);
    ASSERT_EQ(e.signal.size(), 3u);
    EXPECT_EQ(bytes.size(), 4u * 256u);
    // The labels stand side by side, then the transducer fields.
    EXPECT_EQ(bytes.substr(256, 48), "A:EEG FpzCz     C:ECG           D:EMG           ");
    EXPECT_EQ(trimmed(e.signal[2].dimension), "kOhm");
}

TEST_F(Header, TextsOutsidePrintableAsciiAreReplaced) {
    fakeReset(1);
    g_fake.channel[0].name = "A\x01";
    g_fake.channel[0].label = "\xC3\xA9tiquette\t";
    g_fake.channel[0].sensor = "AgCl\r\nelectrode\x7F";
    g_fake.channel[0].unit = "\xB5V";
    g_fake.model = "Quorvane Halvex-4 USB";
    std::string bytes = edfHeader("Zo\xC3\xAB\n", "Sess\x1Bion");
    expectPrintable(bytes);
    EdfImage e = parseEdf(bytes);
    ASSERT_TRUE(e.ok);
    EXPECT_EQ(trimmed(e.patient), "Zo___");
    EXPECT_EQ(trimmed(e.recording), "Sess_ion / Recorded with Quorvane Halvex-4 USB");
    EXPECT_EQ(trimmed(e.signal[0].label), "A_:__tiquette_");
    EXPECT_EQ(trimmed(e.signal[0].transducer), "AgCl__electrode_");
    EXPECT_EQ(trimmed(e.signal[0].dimension), "_V");
}

TEST_F(Header, LongTextsAreCutToTheirFields) {
    fakeReset(2);
    g_fake.channel[0].name = std::string(40, 'N');
    g_fake.channel[0].label = std::string(40, 'L');
    g_fake.channel[0].sensor = std::string(200, 'S');
    g_fake.channel[0].unit = "Megaohm-metres";
    g_fake.channel[1].name = "B";
    g_fake.channel[1].label = "0123456789ABCDEFGH";
    std::string longText(300, 'c');
    std::string bytes = edfHeader(longText.c_str(), longText.c_str());
    EdfImage e = parseEdf(bytes);
    ASSERT_TRUE(e.ok);
    EXPECT_EQ(bytes.size(), 3u * 256u);
    EXPECT_EQ(e.patient, std::string(80, 'c'));
    EXPECT_EQ(e.recording, std::string(80, 'c'));
    EXPECT_EQ(e.signal[0].label, std::string(15, 'N') + ":");
    EXPECT_EQ(e.signal[1].label, "B:0123456789ABCD");
    EXPECT_EQ(e.signal[0].transducer, std::string(80, 'S'));
    EXPECT_EQ(e.signal[0].dimension, "Megaohm-");
    EXPECT_EQ(e.date.size(), 8u);  // the fields after the long texts are in place
    EXPECT_EQ(trimmed(e.signal[1].physMin), "-400");
}

TEST_F(Header, NumbersTooWideForTheirFieldLoseDigitsNotMagnitude) {
    g_fake.channel[0].range = 12345678.0f;
    g_fake.channel[0].minimum = -0.000012345f;
    EdfImage e = edf();
    ASSERT_TRUE(e.ok);
    EXPECT_EQ(e.signal[0].physMax, "1.235e+7");
    EXPECT_EQ(e.signal[0].physMin, "-1.23e-5");
}

TEST_F(Header, ParameterFailuresWriteNothing) {
    struct Case {
        uint16_t id;
        int fail;          // nonzero: the call fails
        uint8_t type;      // else: the reading's type byte
    } cases[] = {
        {QD_PAR_CHANNEL_COUNT, 1, 0},  {QD_PAR_CHANNEL_COUNT, 0, QD_KIND_FLOAT},
        {QD_PAR_CHANNEL_NAME, 0, QD_KIND_INT}, {QD_PAR_CHANNEL_ENABLE, 1, 0},
        {QD_PAR_SAMPLE_RATE, 0, QD_KIND_FLOAT},  // no option list: no option index
        {QD_PAR_MEASUREMENT_RANGE, 1, 0}, {QD_PAR_RANGE_MINIMUM, 0, QD_KIND_INT},
        {QD_PAR_UPPER_LIMIT, 1, 0},     {QD_PAR_SENSOR_INFO, 2, 0},
    };
    for (const Case &c : cases) {
        fakeReset(2);
        if (c.fail) {
            g_fake.failing[c.id] = c.fail;
        } else {
            g_fake.typeOverride[c.id] = c.type;
        }
        uint16_t n = 99;
        EXPECT_EQ(edfHeader("", "", &n), "") << "parameter " << c.id;
        EXPECT_EQ(n, 0);
        n = 99;
        // TSV has no upper limit row and needs no option index of the rate.
        if (c.id != QD_PAR_UPPER_LIMIT && !(c.id == QD_PAR_SAMPLE_RATE && !c.fail)) {
            EXPECT_EQ(tsvHeader(&n), "") << "parameter " << c.id;
            EXPECT_EQ(n, 0);
        }
    }
}

TEST_F(Header, LayoutsTheRowsCannotHoldAreRefused) {
    // 15.625 and 2000 sps: 16 << 7 = 2048 samples, the largest that occurs.
    fakeReset(2);
    g_fake.channel[0].rate = 15.625f;
    g_fake.channel[0].rateIndex = 4;
    g_fake.channel[1].rate = 2000.0f;
    g_fake.channel[1].rateIndex = 11;
    EdfImage e = edf();
    ASSERT_TRUE(e.ok);
    EXPECT_EQ(trimmed(e.signal[1].samples), "2048");
    // One step more would need 4096 samples per row.
    g_fake.channel[1].rate = 4000.0f;
    g_fake.channel[1].rateIndex = 12;
    uint16_t n = 99;
    EXPECT_EQ(edfHeader("", "", &n), "");
    EXPECT_EQ(n, 0);
    // A rate above 2200 on its own, an index difference that would shift
    // past 16 bits, and rates that give no whole sample per record.
    const struct {
        float rate0;
        uint32_t index0;
        float rate1;
        uint32_t index1;
    } bad[] = {{4096.0f, 12, 4096.0f, 12}, {15.625f, 4, 1e9f, 40}, {0.2f, 0, 0.2f, 0}, {-5.0f, 4, 10.0f, 5},
               {1e30f, 4, 1e30f, 4}};
    for (const auto &b : bad) {
        g_fake.channel[0].rate = b.rate0;
        g_fake.channel[0].rateIndex = b.index0;
        g_fake.channel[1].rate = b.rate1;
        g_fake.channel[1].rateIndex = b.index1;
        EXPECT_EQ(edfHeader(), "") << b.rate0 << " " << b.rate1;
    }
}

TEST_F(Header, ScalesNoReaderCouldUseAreRefused) {
    const struct {
        float range, minimum;
    } bad[] = {{0.0f, 0.0f}, {-400.0f, -400.0f}, {400.0f, 400.0f}, {400.0f, -401.0f}, {400.0f, 500.0f}};
    for (const auto &b : bad) {
        g_fake.channel[0].range = b.range;
        g_fake.channel[0].minimum = b.minimum;
        EXPECT_EQ(edfHeader(), "") << b.range << " " << b.minimum;
    }
}

TEST_F(Header, ChannelCountsBeyondTheBuffersAreLimited) {
    fakeReset(12);
    uint16_t n = 0;
    EdfImage e = parseEdf(edfHeader("", "", &n));
    ASSERT_TRUE(e.ok);
    EXPECT_EQ(n, 8);
    EXPECT_EQ(e.signal.size(), 8u);
    EXPECT_EQ(trimmed(e.signal[7].label), "H:");
    std::string tsv = tsvHeader(&n);
    EXPECT_EQ(n, 8);
    EXPECT_NE(tsv.find("Signals: 8\n"), std::string::npos);
    // No channel enabled, or a negative count: no EDF file can be made.
    fakeReset(2);
    g_fake.channel[0].enabled = g_fake.channel[1].enabled = false;
    EXPECT_EQ(edfHeader(), "");
    g_fake.channelCount = -3;
    EXPECT_EQ(edfHeader(), "");
}

TEST_F(Header, SingleChannelDeviceNeedsNoEnableReading) {
    fakeReset(1);
    g_fake.failing[QD_PAR_CHANNEL_ENABLE] = 1;
    g_fake.channel[0].rate = 128.0f;
    g_fake.channel[0].rateIndex = 0;
    EdfImage e = edf();
    ASSERT_TRUE(e.ok);
    EXPECT_EQ(trimmed(e.signal[0].samples), "128");
}

TEST_F(Header, TsvHeaderRows) {
    fakeReset(3);
    g_fake.channel[0].label = "EEG";
    g_fake.channel[0].sensor = "Ag\telectrode";
    g_fake.channel[1].enabled = false;
    g_fake.channel[2].unit = "`C";
    g_fake.channel[2].range = 120.0f;
    g_fake.channel[2].minimum = 21.0f;
    g_fake.channel[2].rate = 15.625f;
    uint16_t n = 0;
    float scale = 0;
    std::string text = tsvHeader(&n, &scale);
    EXPECT_EQ(n, 3);
    EXPECT_FLOAT_EQ(scale, 400.0f / 2147483648.0f);
    size_t rows = text.find("Channel\t");
    ASSERT_NE(rows, std::string::npos) << text;
    EXPECT_EQ(text.substr(rows), "Channel\tA\tC\n"
                                 "Min\t-400\t21\n"
                                 "Max\t400\t120\n"
                                 "Unit\tuV\t`C\n"
                                 "SR\t250\t15.625\n"
                                 "Label\tEEG\t\n"
                                 "Sensor\tAg_electrode\t\n");
    EXPECT_EQ(text.substr(0, 6), "Date: ");
    EXPECT_NE(text.find("\nClient: client\nSession: session\nDevice: Quorvane Halvex-4 USB\nSignals: 2\n"),
              std::string::npos);
    size_t time = text.find("Time: ");
    ASSERT_NE(time, std::string::npos);
    EXPECT_EQ(text[time + 8], ':');
    EXPECT_EQ(text[time + 11], ':');
}

// Any parameter values: the headers never overrun a buffer (the sanitizers
// watch), and whatever EDF header gets written is whole and printable.
TEST_F(Header, AnyParameterValuesGiveAWholePrintableHeaderOrNone) {
    uint32_t seed = 12345;
    auto next = [&seed]() {
        seed = seed * 1103515245u + 12345u;
        return seed >> 8;
    };
    const float odd[] = {0.0f, -1.0f, 1e-30f, 1e30f, 15.625f, 2000.0f, 62.5f, 3.3e9f, -65536.0f, 0.49f};
    for (int round = 0; round < 300; round++) {
        fakeReset((int)(next() % 11));
        g_fake.channelCount = (int32_t)(next() % 16) - 2;
        g_fake.model = std::string(next() % 90, (char)('a' + next() % 26));
        for (FakeChannel &c : g_fake.channel) {
            c.enabled = next() % 4 != 0;
            c.name = std::string(next() % 40, (char)(next() % 256));
            c.label = std::string(next() % 40, (char)(next() % 256));
            c.sensor = std::string(next() % 120, (char)(next() % 256));
            c.unit = std::string(next() % 20, (char)(1 + next() % 255));
            c.range = next() % 3 ? (float)(next() % 30000) / 7.0f : odd[next() % 10];
            c.minimum = next() % 3 ? -(float)(next() % 30000) / 9.0f : odd[next() % 10];
            c.rate = next() % 2 ? 15.625f * (float)(1u << (next() % 8)) : odd[next() % 10];
            c.rateIndex = next() % 2 ? 4 + next() % 8 : next();
            c.lower = odd[next() % 10];
            c.upper = odd[next() % 10];
            c.filter = (int)(next() % 3) - 1;
        }
        std::string bytes = edfHeader(std::string(next() % 100, 'c').c_str(), std::string(next() % 100, 's').c_str());
        if (bytes.empty()) continue;
        expectPrintable(bytes);
        EdfImage e = parseEdf(bytes);
        ASSERT_TRUE(e.ok) << e.error;
        ASSERT_EQ(bytes.size(), (e.signal.size() + 1) * 256);
        ASSERT_EQ((size_t)std::atoi(e.headerBytes.c_str()), bytes.size());
        for (const EdfSignal &s : e.signal) {
            int spr = std::atoi(s.samples.c_str());
            ASSERT_TRUE(spr >= 1 && spr <= 2200) << s.samples;
            ASSERT_LT(std::atoi(s.digMin.c_str()), 32767);
            ASSERT_GE(std::atoi(s.digMin.c_str()), -32768);
        }
        tsvHeader();
    }
}
