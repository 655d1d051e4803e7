// Storage blobs: layout, round trips of every model, compatibility rows,
// conversions between models, and blobs that are short, damaged or hostile.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>

#include "tests/storage/storage_helpers.h"
#include "tests/support/log_lines.h"

using namespace qdtest;

namespace {

class Storage : public DriverTest {};

// A small deterministic generator: every model gets its own changes.
struct Lcg {
    uint32_t s;
    uint32_t next(uint32_t n) {
        s = s * 1664525u + 1013904223u;
        return n ? (s >> 8) % n : 0;
    }
};

// A random option code of the parameter's current definition other than its
// current code (or the only one there is).
bool randomOption(Lcg &r, uint16_t id, uint16_t channel, uint32_t *out) {
    const QdParamDef *d = QdParamInfo(id, (int16_t)channel);
    if (!d || !(d->type & QD_TYPE_OPTION_LIST) || !d->domain.options) return false;
    uint32_t n = 0;
    while (d->domain.options[n].code != QD_LIST_END) ++n;
    if (n < 2) return false;
    QdParamValue now{};
    QdGetParam(id, channel, &now);
    for (int tries = 0; tries < 8; ++tries) {
        uint32_t c = d->domain.options[r.next(n)].code;
        if (c != now.code) {
            *out = c;
            return true;
        }
    }
    return false;
}

bool settable(uint16_t id, uint16_t channel) {
    const QdParamDef *d = QdParamInfo(id, (int16_t)channel);
    return d && !(d->flags & (QD_FLAG_CONSTANT | QD_FLAG_NOT_APPLICABLE));
}

// Changes settings of the selected context of a model, differently for each
// model: device id, labels, sensor info, silent mode, profiles on some
// channels and function, range, rates, filters on the others. Returns the
// number of changes that took.
int changeSettings(int model) {
    Lcg r{(uint32_t)model * 7919u + 13u};
    int changes = 0;
    std::string id = "DEV-" + std::to_string(model * 37 + 5);
    if (settable(QD_PAR_DEVICE_ID, 0) && setText(QD_PAR_DEVICE_ID, 0, id.c_str()) == 0) ++changes;
    if (settable(QD_PAR_SILENT_MODE, 0) && setCode(QD_PAR_SILENT_MODE, 0, 1) == 0) ++changes;
    int channels = modelChannelCount((uint16_t)model);
    for (int c = 0; c < channels; ++c) {
        uint16_t ch = (uint16_t)c;
        std::string label = "L" + std::to_string(model) + "-" + std::to_string(c);
        if (settable(QD_PAR_CHANNEL_LABEL, ch) && setText(QD_PAR_CHANNEL_LABEL, ch, label.c_str()) == 0) ++changes;
        if (c == model % channels || c == 0) {
            std::string info = "sensor of model " + std::to_string(model) + " channel " + std::to_string(c);
            if (settable(QD_PAR_SENSOR_INFO, ch) && setText(QD_PAR_SENSOR_INFO, ch, info.c_str()) == 0) ++changes;
        }
        uint32_t code;
        if ((c + model) % 2 == 0 && settable(QD_PAR_CHANNEL_PROFILE, ch)) {
            // A preset channel: nothing it presets is changed afterwards.
            if (randomOption(r, QD_PAR_CHANNEL_PROFILE, ch, &code) && setCode(QD_PAR_CHANNEL_PROFILE, ch, code) == 0) {
                ++changes;
            }
            if (settable(QD_PAR_CHANNEL_ENABLE, ch) && setCode(QD_PAR_CHANNEL_ENABLE, ch, 1) == 0) ++changes;
            continue;
        }
        const uint16_t ids[] = {QD_PAR_CHANNEL_FUNCTION,  QD_PAR_FREQ_CHARACTERISTIC, QD_PAR_MEASUREMENT_RANGE,
                                QD_PAR_SAMPLE_RATE,       QD_PAR_LOWER_LIMIT,         QD_PAR_INTERFERENCE_FILTER,
                                QD_PAR_SUM_DISCONNECTED,  QD_PAR_COMMON_REFERENCE,    QD_PAR_EEG_CAP,
                                QD_PAR_CHANNEL_ENABLE};
        for (uint16_t pid : ids) {
            if (!settable(pid, ch)) continue;
            const QdParamDef *d = QdParamInfo(pid, (int16_t)c);
            if (d->type & QD_TYPE_OPTION_LIST) {
                if (randomOption(r, pid, ch, &code) && setCode(pid, ch, code) == 0) ++changes;
            } else if ((d->type & 0x7F) == QD_KIND_BOOL) {
                QdParamValue now{};
                QdGetParam(pid, ch, &now);
                if (setCode(pid, ch, now.value.code ? 0 : 1) == 0) ++changes;
            }
        }
    }
    QdCapConfig *cap = QdGetCapConfig();
    if (cap) {
        // Kept with the blob, but not in force (an enabled cap would choose
        // the sites when a profile is imposed again on load).
        cap->enabled = 0;
        cap->currentSet = 3;
        for (int s = 0; s < 5; ++s)
            for (int k = 0; k < 4; ++k) cap->sites[s][k] = (uint8_t)(8 + (s + k + model) % 8);
    }
    return changes;
}

// A blob in a heap block of exactly its size, so that the sanitizer sees
// every read beyond it.
struct ExactBlob {
    std::unique_ptr<uint8_t[]> bytes;
    uint32_t size;
    ExactBlob(const Blob &b, uint32_t n) : bytes(new uint8_t[n ? n : 1]), size(n) {
        std::memcpy(bytes.get(), b.data(), n < b.size() ? n : b.size());
        if (n > b.size()) std::memset(bytes.get() + b.size(), 0xA5, n - b.size());
    }
    int16_t load(int16_t context) { return QdSetDevConfig(context, bytes.get(), size); }
};

void putText(Blob &b, size_t at, const char *s, size_t field) {
    std::memset(b.data() + at, 0, field);
    std::memcpy(b.data() + at, s, std::strlen(s));
}

}  // namespace

TEST_F(Storage, SizesFromANullBuffer) {
    LogWatch log;
    int16_t bt = open(3);
    int16_t h4 = open(2);
    int16_t brev = open(0);
    EXPECT_EQ(QdGetDevConfig(bt, nullptr, 0), 842);
    EXPECT_EQ(QdGetDevConfig(h4, nullptr, 0), 594);
    EXPECT_EQ(QdGetDevConfig(brev, nullptr, 0), 594);
    EXPECT_TRUE(log.contains("{QdGetDevConfig(" + std::to_string(bt) + "...)\n"));
    EXPECT_TRUE(log.contains("}QdGetDevConfig: 842\n"));

    // Invalid contexts and short buffers write nothing.
    uint8_t buffer[842];
    std::memset(buffer, 0x5A, sizeof buffer);
    EXPECT_EQ(QdGetDevConfig(10, buffer, sizeof buffer), 0);
    EXPECT_EQ(QdGetDevConfig(-1, buffer, sizeof buffer), 0);
    QdCloseDevContext((uint16_t)brev);
    EXPECT_EQ(QdGetDevConfig(brev, buffer, sizeof buffer), 0);
    EXPECT_TRUE(log.contains(failLine("QdGetDevConfig", kLogInvalidContext)));
    EXPECT_EQ(QdGetDevConfig(bt, buffer, 841), 0);
    EXPECT_TRUE(log.contains(failLine("QdGetDevConfig", kLogTooSmallBuffer)));
    for (uint8_t byte : buffer) ASSERT_EQ(byte, 0x5A);
    EXPECT_EQ(QdGetDevConfig(h4, buffer, 594), 594);
}

TEST_F(Storage, BlobLayoutByteForByte) {
    int16_t ctx = open(6);
    ASSERT_EQ(setText(QD_PAR_DEVICE_ID, 0, "12AB"), 0);
    ASSERT_EQ(setText(QD_PAR_CHANNEL_LABEL, 3, "Fz"), 0);
    Blob b = blobOf(ctx);
    ASSERT_EQ(b.size(), 842u);
    uint8_t header[118] = {};
    std::memcpy(header, "Quorvane API storage", 20);
    std::memcpy(header + 24, "2.0", 3);
    std::memcpy(header + 30, "Quorvane Driver", 15);
    std::memcpy(header + 60, "Quorvane Halvex-4 BT", 20);
    header[94] = 52;
    EXPECT_EQ(0, std::memcmp(b.data(), header, sizeof header));
    EXPECT_EQ(0, std::memcmp(b.data() + 118, contextImage((uint16_t)ctx), 52));
    EXPECT_EQ(0, std::memcmp(b.data() + 170, contextStorage((uint16_t)ctx), 672));
    EXPECT_STREQ((const char *)b.data() + 170, "12AB");
    EXPECT_STREQ((const char *)b.data() + 170 + 20 + 3 * 16, "Fz");

    // Storage version 1: "1,0" as the model has it, a 40-byte image field.
    Blob h4 = blobOf(open(2));
    ASSERT_EQ(h4.size(), 594u);
    EXPECT_EQ(0, std::memcmp(h4.data() + 24, "1,0\0\0\0", 6));
    EXPECT_EQ(h4[94], 40);
    EXPECT_EQ(h4[95], 0);

    // The Brev model's 4-byte image stands zero-filled in its 40-byte field,
    // whatever an earlier context of the slot left behind.
    int16_t slot = open(14);
    std::memset(contextImage((uint16_t)slot), 0xEE, QD_IMAGE_MAX);
    QdCloseDevContext((uint16_t)slot);
    int16_t brev = open(0);
    ASSERT_EQ(brev, slot);
    Blob bb = blobOf(brev);
    ASSERT_EQ(bb.size(), 594u);
    EXPECT_EQ(0, std::memcmp(bb.data() + 24, "1.0", 4));
    const uint8_t brevImage[4] = {0x01, 0x00, 0xFF, 0x00};
    EXPECT_EQ(0, std::memcmp(bb.data() + 118, brevImage, 4));
    for (size_t k = 122; k < 158; ++k) ASSERT_EQ(bb[k], 0) << k;
    EXPECT_STREQ((const char *)bb.data() + 158, "EEG");
    EXPECT_STREQ((const char *)bb.data() + 158 + 16, "Ag electrodes");
}

// Defaults, about ten changes that differ per model, save, load into a fresh
// context: every parameter of every channel reads back the same, and the
// loaded context saves the very same blob.
TEST_F(Storage, RoundTripOfEveryModel) {
    for (int model = 0; model < QD_MODEL_COUNT; ++model) {
        SCOPED_TRACE(modelName(model));
        int16_t source = open(model);
        std::vector<std::string> defaults = snapshot();
        int changes = changeSettings(model);
        EXPECT_GE(changes, model == 0 ? 3 : 10);
        std::vector<std::string> before = snapshot();
        EXPECT_NE(before, defaults);
        Blob saved = blobOf(source);
        ASSERT_FALSE(saved.empty());

        int16_t fresh = open(model);
        ASSERT_NE(fresh, source);
        ASSERT_EQ(snapshot(), defaults);
        Blob copy = saved;
        EXPECT_EQ(QdSetDevConfig(fresh, copy.data(), (uint32_t)copy.size()), fresh);
        EXPECT_EQ(copy, saved);  // same machine: the mains bits stay
        EXPECT_EQ(snapshot(), before);
        EXPECT_EQ(blobOf(fresh), saved);

        // Context -1 opens a third context that reads the same.
        int16_t third = QdSetDevConfig(-1, copy.data(), (uint32_t)copy.size());
        ASSERT_GE(third, 0);
        EXPECT_EQ(QdGetSelectedDevContext(), third);
        EXPECT_EQ(snapshot(), before);
        closeAllContexts();
    }
}

TEST_F(Storage, SignatureVersionAndImageLengthAreChecked) {
    int16_t ctx = open(3);
    Blob good = blobOf(ctx);
    LogWatch log;
    Blob b = good;
    b[0] = 'q';
    EXPECT_EQ(QdSetDevConfig(ctx, b.data(), (uint32_t)b.size()), -2);
    EXPECT_TRUE(log.contains(failLine("QdSetDevConfig", kLogIncompatibleStorage)));

    const char *refused[] = {"3.0", "3", "", "0.9", "2,5", "20", "21.0", "\xff"};
    for (const char *v : refused) {
        b = good;
        putText(b, 24, v, 6);
        EXPECT_EQ(QdSetDevConfig(ctx, b.data(), (uint32_t)b.size()), -2) << v;
    }
    // "2" and "2.x" are version 2; "1" anything is version 1 (and needs L 40).
    b = good;
    putText(b, 24, "2.7", 6);
    EXPECT_EQ(QdSetDevConfig(ctx, b.data(), (uint32_t)b.size()), ctx);
    b = good;
    putText(b, 24, "1.0", 6);
    EXPECT_EQ(QdSetDevConfig(ctx, b.data(), (uint32_t)b.size()), -2);
    // An image length other than the version's.
    for (uint16_t len : {0, 4, 40, 51, 53, 0xFFFF}) {
        b = good;
        b[94] = (uint8_t)len;
        b[95] = (uint8_t)(len >> 8);
        EXPECT_EQ(QdSetDevConfig(ctx, b.data(), (uint32_t)b.size()), -2) << len;
    }
    // A version text that fills its field without a terminator.
    b = good;
    std::memcpy(b.data() + 24, "222222", 6);
    EXPECT_EQ(QdSetDevConfig(ctx, b.data(), (uint32_t)b.size()), -2);
    b = good;
    std::memcpy(b.data() + 24, "111111", 6);  // between "1" and "2": version 1
    EXPECT_EQ(QdSetDevConfig(ctx, b.data(), (uint32_t)b.size()), -2);  // with L 52

    // Null blob, invalid contexts.
    EXPECT_EQ(QdSetDevConfig(ctx, nullptr, 842), -2);
    EXPECT_EQ(QdSetDevConfig(10, good.data(), 842), -1);
    EXPECT_EQ(QdSetDevConfig(-2, good.data(), 842), -1);
    EXPECT_EQ(QdSetDevConfig(7, good.data(), 842), -1);
    EXPECT_TRUE(log.contains(failLine("QdSetDevConfig", kLogInvalidContext)));
}

// Every truncation of a blob is refused before anything changes, and no byte
// beyond the given size is read (the blob sits in a block of exactly that
// size under the sanitizer).
TEST_F(Storage, TruncatedBlobsAreRefusedWithoutChanges) {
    for (int model : {0, 2, 3, 9, 14}) {
        SCOPED_TRACE(modelName(model));
        int16_t source = open(model);
        changeSettings(model);
        Blob saved = blobOf(source);
        int16_t target = open(model);
        Blob before = blobOf(target);
        std::vector<std::string> values = snapshot();
        uint32_t imageEnd = 118 + (saved.size() == 594 ? 40 : 52);
        for (uint32_t size = 0; size < saved.size(); ++size) {
            ExactBlob e(saved, size);
            int16_t rc = e.load(target);
            if (size < imageEnd) {
                ASSERT_EQ(rc, -2) << size;
            } else if (size == imageEnd || model == 0) {
                // Only the image, or the Brev model's plain copy: loads.
                ASSERT_EQ(rc, target) << size;
                QdSetDevConfig(target, before.data(), (uint32_t)before.size());
            } else {
                ASSERT_EQ(rc, -5) << size;
            }
            ASSERT_EQ(blobOf(target), before) << size;
        }
        EXPECT_EQ(snapshot(), values);
        // Context -1 with a short blob opens nothing.
        ExactBlob shortBlob(saved, (uint32_t)saved.size() - 1);
        int open = 0;
        for (uint16_t i = 0; i < QD_MAX_CONTEXTS; ++i) open += contextInUse(i);
        if (model != 0) {
            EXPECT_EQ(shortBlob.load(-1), -5);
        }
        int after = 0;
        for (uint16_t i = 0; i < QD_MAX_CONTEXTS; ++i) after += contextInUse(i);
        EXPECT_EQ(after, open);
        closeAllContexts();
    }
}

TEST_F(Storage, LongerBlobsReadOnlyTheirStorageRecord) {
    int16_t ctx = open(5);
    changeSettings(5);
    Blob saved = blobOf(ctx);
    ExactBlob longer(saved, (uint32_t)saved.size() + 300);
    int16_t fresh = open(5);
    EXPECT_EQ(longer.load(fresh), fresh);
    EXPECT_EQ(blobOf(fresh), saved);
}

TEST_F(Storage, CompatibilityRows) {
    // Which model accepts which other model's blob.
    const std::vector<std::vector<int>> rows = {
        {}, {}, {1}, {1, 4, 5}, {1, 3, 5}, {1, 3, 4}, {1, 2, 3, 4, 5, 7, 8}, {1, 2, 3, 4, 5, 6, 8},
        {1, 2, 3, 4, 5, 6, 7}, {1, 3, 4, 5, 10, 11}, {1, 3, 4, 5, 9, 11}, {1, 3, 4, 5, 9, 10},
        {1, 2, 3, 4, 5, 9, 10, 11, 6, 7, 8, 13, 14}, {1, 2, 3, 4, 5, 9, 10, 11, 6, 7, 8, 12, 14},
        {1, 2, 3, 4, 5, 9, 10, 11, 6, 7, 8, 12, 13}};
    Blob blobs[QD_MODEL_COUNT];
    for (int m = 0; m < QD_MODEL_COUNT; ++m) {
        blobs[m] = blobOf(open(m));
        closeAllContexts();
    }
    LogWatch log;
    for (int target = 0; target < QD_MODEL_COUNT; ++target) {
        int16_t ctx = open(target);
        for (int m = 0; m < QD_MODEL_COUNT; ++m) {
            bool accepted = m == target;
            for (int a : rows[target]) accepted = accepted || a == m;
            Blob b = blobs[m];
            int16_t rc = QdSetDevConfig(ctx, b.data(), (uint32_t)b.size());
            EXPECT_EQ(rc, accepted ? ctx : -3) << modelName(m) << " into " << modelName(target);
        }
        closeAllContexts();
    }
    EXPECT_TRUE(log.contains(failLine("QdSetDevConfig", kLogOtherModelStorage)));

    // A Halvex-2 USB blob into a Halvex-2 BT context keeps what it carries.
    int16_t usb = open(4);
    ASSERT_EQ(setText(QD_PAR_CHANNEL_LABEL, 1, "Cz"), 0);
    ASSERT_EQ(setCode(QD_PAR_SAMPLE_RATE, 0, 10), 0);
    Blob b = blobOf(usb);
    int16_t bt = open(3);
    EXPECT_EQ(QdSetDevConfig(bt, b.data(), (uint32_t)b.size()), bt);
    EXPECT_EQ(getText(QD_PAR_CHANNEL_LABEL, 1), "Cz");
    EXPECT_EQ(getCode(QD_PAR_SAMPLE_RATE, 0), 10u);
    EXPECT_EQ(getCode(QD_PAR_LINK_TYPE, 0), 1u);
    // A Halvex-4 BT blob does not fit it.
    int16_t h4 = open(6);
    b = blobOf(h4);
    EXPECT_EQ(QdSetDevConfig(bt, b.data(), (uint32_t)b.size()), -3);
    // Nor does a blob of a model nobody knows; for context -1 it cannot open.
    putText(b, 60, "Quorvane Halvex-9", 34);
    EXPECT_EQ(QdSetDevConfig(bt, b.data(), (uint32_t)b.size()), -3);
    EXPECT_EQ(QdSetDevConfig(-1, b.data(), (uint32_t)b.size()), -4);
    // A name that fills its field without a terminator.
    std::memset(b.data() + 60, 'Q', 34);
    EXPECT_EQ(QdSetDevConfig(bt, b.data(), (uint32_t)b.size()), -3);
    EXPECT_EQ(QdSetDevConfig(-1, b.data(), (uint32_t)b.size()), -4);
    EXPECT_TRUE(log.contains(failLine("QdSetDevConfig", kLogCannotOpenContext)));
}

// First-generation blobs into the later models: image entries of 4 bytes
// become entries of 6, the 1000 and 8000 uV ranges become 800 and 6000 uV,
// sensor info and profiles move to their new places.
TEST_F(Storage, FirstGenerationBlobIsConverted) {
    int16_t old = open(1);
    ASSERT_EQ(setCode(QD_PAR_CHANNEL_FUNCTION, 0, 0), 0);
    ASSERT_EQ(setCode(QD_PAR_MEASUREMENT_RANGE, 0, 4), 0);       // 8000 uV
    ASSERT_EQ(setCode(QD_PAR_SAMPLE_RATE, 0, 9), 0);
    ASSERT_EQ(setCode(QD_PAR_CHANNEL_ENABLE, 0, 1), 0);
    ASSERT_EQ(setCode(QD_PAR_CHANNEL_FUNCTION, 1, 1), 0);        // Resistance
    ASSERT_EQ(setCode(QD_PAR_MEASUREMENT_RANGE, 1, 4), 0);       // 1000 kOhm
    ASSERT_EQ(setText(QD_PAR_CHANNEL_LABEL, 1, "skin"), 0);
    ASSERT_EQ(setText(QD_PAR_SENSOR_INFO, 1, "AgAgCl electrode"), 0);
    ASSERT_EQ(setText(QD_PAR_DEVICE_ID, 0, "00:80:25:1A:2B:3C"), 0);
    Blob b = blobOf(old);
    ASSERT_EQ(b.size(), 594u);
    EXPECT_EQ(b[channelAt(b, 0) + 2], 4);

    int16_t bt = open(3);
    Blob copy = b;
    ASSERT_EQ(QdSetDevConfig(bt, copy.data(), (uint32_t)copy.size()), bt);
    EXPECT_EQ(getCode(QD_PAR_CHANNEL_FUNCTION, 0), 0u);
    EXPECT_EQ(getCode(QD_PAR_MEASUREMENT_RANGE, 0), 3u);  // 6000 uV
    EXPECT_FLOAT_EQ(getFloat(QD_PAR_RANGE_MINIMUM, 0), -6000.0f);
    EXPECT_EQ(getCode(QD_PAR_SAMPLE_RATE, 0), 9u);
    EXPECT_EQ(getCode(QD_PAR_CHANNEL_ENABLE, 0), 1u);
    EXPECT_EQ(getCode(QD_PAR_CHANNEL_FUNCTION, 1), 1u);
    EXPECT_EQ(getCode(QD_PAR_MEASUREMENT_RANGE, 1), 5u);  // 1000 kOhm
    EXPECT_EQ(getText(QD_PAR_CHANNEL_LABEL, 1), "skin");
    EXPECT_EQ(getText(QD_PAR_SENSOR_INFO, 1), "AgAgCl electrode");
    EXPECT_EQ(getText(QD_PAR_DEVICE_ID, 0), "00:80:25:1A:2B:3C");
    // Bytes 4 and 5 of each new entry keep their defaults.
    const uint8_t *img = contextImage((uint16_t)bt);
    EXPECT_EQ(img[16 + 4], 0);
    EXPECT_EQ(img[16 + 5], 0);

    // A stored range code the first generation never had cannot be converted.
    copy = b;
    copy[channelAt(b, 0) + 2] = 2;
    Blob before = blobOf(bt);
    LogWatch log;
    EXPECT_EQ(QdSetDevConfig(bt, copy.data(), (uint32_t)copy.size()), -5);
    EXPECT_TRUE(log.contains(failLine("QdSetDevConfig", kLogCannotCopyData)));
    EXPECT_EQ(blobOf(bt), before);

    // A profile stored by the first generation is imposed again.
    ASSERT_EQ(setCode(QD_PAR_CHANNEL_PROFILE, 0, 0), 0);
    QdSelectDevContext((uint16_t)old);
    ASSERT_EQ(setCode(QD_PAR_CHANNEL_PROFILE, 1, 3), 0);  // "HRV"
    b = blobOf(old);
    int16_t h4bt = open(7);
    ASSERT_EQ(QdSetDevConfig(h4bt, b.data(), (uint32_t)b.size()), h4bt);
    EXPECT_EQ(getCode(QD_PAR_CHANNEL_PROFILE, 1), 3u);  // "ECG for HRV"
    EXPECT_EQ(getCode(QD_PAR_MEASUREMENT_RANGE, 1), 3u);
    EXPECT_EQ(getCode(QD_PAR_SAMPLE_RATE, 1), 8u);
}

TEST_F(Storage, SerialPortDeviceBecomesTheHalvexDefault) {
    int16_t old = open(1);
    ASSERT_EQ(setText(QD_PAR_DEVICE_ID, 0, "Serial Port Device"), 0);
    Blob b = blobOf(old);
    int16_t bt = open(3);
    ASSERT_EQ(QdSetDevConfig(bt, b.data(), (uint32_t)b.size()), bt);
    EXPECT_EQ(getText(QD_PAR_DEVICE_ID, 0), "Quorvane Halvex*");
    // The first generation keeps it.
    int16_t h4 = open(2);
    ASSERT_EQ(QdSetDevConfig(h4, b.data(), (uint32_t)b.size()), h4);
    EXPECT_EQ(getText(QD_PAR_DEVICE_ID, 0), "Serial Port Device");
}

TEST_F(Storage, TextsWithoutTerminatorAreCut) {
    int16_t ctx = open(8);
    Blob b = blobOf(ctx);
    size_t s = storageAt(b);
    std::memset(b.data() + s, 'A', 20);                 // device id
    std::memset(b.data() + s + 20, 'B', 16 * 4);        // all four labels
    std::memset(b.data() + s + 116, 'C', 80 * 4);       // all sensor infos
    int16_t fresh = open(8);
    ASSERT_EQ(QdSetDevConfig(fresh, b.data(), (uint32_t)b.size()), fresh);
    EXPECT_EQ(getText(QD_PAR_DEVICE_ID, 0), std::string(19, 'A'));
    for (uint16_t c = 0; c < 4; ++c) {
        EXPECT_EQ(getText(QD_PAR_CHANNEL_LABEL, c), std::string(15, 'B'));
        EXPECT_EQ(getText(QD_PAR_SENSOR_INFO, c), std::string(79, 'C'));
    }
}

// A Halvex+ 2 blob in a Halvex+ 4 context: the button channel's entry goes to
// the button channel (4), channels 2 and 3 keep their defaults.
TEST_F(Storage, HalvexPlus2ExpandsIntoHalvexPlus4) {
    int16_t reference = open(14);
    std::vector<std::string> ch2 = channelSnapshot(2), ch3 = channelSnapshot(3);
    int16_t small = open(10);
    ASSERT_EQ(setCode(QD_PAR_CHANNEL_FUNCTION, 0, 4), 0);  // nIR HEG
    ASSERT_EQ(setCode(QD_PAR_CHANNEL_ENABLE, 0, 1), 0);
    ASSERT_EQ(setCode(QD_PAR_CHANNEL_FUNCTION, 1, 2), 0);  // Conductance
    ASSERT_EQ(setCode(QD_PAR_CHANNEL_ENABLE, 2, 1), 0);    // the button
    ASSERT_EQ(setCode(QD_PAR_SAMPLE_RATE, 2, 8), 0);
    Blob b = blobOf(small);
    int16_t big = open(14);
    ASSERT_EQ(QdSetDevConfig(big, b.data(), (uint32_t)b.size()), big);
    EXPECT_EQ(getCode(QD_PAR_CHANNEL_FUNCTION, 0), 4u);
    EXPECT_EQ(getCode(QD_PAR_CHANNEL_ENABLE, 0), 1u);
    EXPECT_EQ(getCode(QD_PAR_CHANNEL_FUNCTION, 1), 2u);
    EXPECT_EQ(getCode(QD_PAR_CHANNEL_FUNCTION, 4), 7u);
    EXPECT_EQ(getCode(QD_PAR_CHANNEL_ENABLE, 4), 1u);
    EXPECT_EQ(getCode(QD_PAR_SAMPLE_RATE, 4), 8u);
    EXPECT_EQ(channelSnapshot(2), ch2);
    EXPECT_EQ(channelSnapshot(3), ch3);
    (void)reference;
}

TEST_F(Storage, CurrentWithRangeZeroIsRepaired) {
    int16_t ctx = open(9);
    ASSERT_EQ(setCode(QD_PAR_CHANNEL_FUNCTION, 0, 6), 0);  // Current
    Blob b = blobOf(ctx);
    ASSERT_EQ(b[channelAt(b, 0) + 1], 6);
    b[channelAt(b, 0) + 2] = 0;
    int16_t fresh = open(11);
    ASSERT_EQ(QdSetDevConfig(fresh, b.data(), (uint32_t)b.size()), fresh);
    EXPECT_EQ(getCode(QD_PAR_CHANNEL_FUNCTION, 0), 6u);
    EXPECT_EQ(getCode(QD_PAR_MEASUREMENT_RANGE, 0), 1u);  // 400 nA
}

TEST_F(Storage, MainsFrequencyStaysTheMachines) {
    int16_t us = open(6);
    ASSERT_EQ(setCode(QD_PAR_MAINS_FREQUENCY, 0, 1), 0);  // saved in a 60 Hz country
    ASSERT_EQ(setText(QD_PAR_CHANNEL_LABEL, 0, "from abroad"), 0);
    Blob b = blobOf(us);
    ASSERT_EQ(b[118] & 1, 1);
    closeAllContexts();
    resetMainsSettings("DEU");

    int16_t here = open(6);
    ASSERT_EQ(getCode(QD_PAR_MAINS_FREQUENCY, 0), 0u);
    ASSERT_EQ(QdSetDevConfig(here, b.data(), (uint32_t)b.size()), here);
    EXPECT_EQ(getCode(QD_PAR_MAINS_FREQUENCY, 0), 0u);
    EXPECT_EQ(getText(QD_PAR_CHANNEL_LABEL, 0), "from abroad");
    EXPECT_EQ(b[118] & 1, 0);  // the caller's blob was changed in place
    // Also into another model, and into a context opened by the load.
    b[118] |= 1;
    int16_t other = open(8);
    ASSERT_EQ(QdSetDevConfig(other, b.data(), (uint32_t)b.size()), other);
    EXPECT_EQ(getCode(QD_PAR_MAINS_FREQUENCY, 0), 0u);
    b[118] |= 1;
    int16_t opened = QdSetDevConfig(-1, b.data(), (uint32_t)b.size());
    ASSERT_GE(opened, 0);
    EXPECT_EQ(getCode(QD_PAR_MAINS_FREQUENCY, 0), 0u);
}

TEST_F(Storage, ContextMinusOneOpensAndSelects) {
    int16_t src = open(12);
    ASSERT_EQ(setText(QD_PAR_CHANNEL_LABEL, 2, "O1"), 0);
    Blob b = blobOf(src);
    int16_t other = open(3);
    LogWatch log;
    int16_t ctx = QdSetDevConfig(-1, b.data(), (uint32_t)b.size());
    ASSERT_GE(ctx, 0);
    EXPECT_NE(ctx, src);
    EXPECT_NE(ctx, other);
    EXPECT_EQ(QdGetSelectedDevContext(), ctx);
    EXPECT_STREQ(QdGetDevName(), "Quorvane Halvex+ 4 BT");
    EXPECT_EQ(getText(QD_PAR_CHANNEL_LABEL, 2), "O1");
    EXPECT_TRUE(log.contains("{QdSetDevConfig(-1)\n"));
    EXPECT_TRUE(log.contains("}QdSetDevConfig: " + std::to_string(ctx) + "\n"));

    // With every slot taken the load cannot open one.
    while (QdOpenDevContext(modelName(3)) >= 0) {
    }
    EXPECT_EQ(QdSetDevConfig(-1, b.data(), (uint32_t)b.size()), -4);
}

// A load of another model into a context that is not selected selects it
// for the defaults and then gives the selection back.
TEST_F(Storage, LoadIntoAnUnselectedContext) {
    int16_t usb = open(7);
    ASSERT_EQ(setCode(QD_PAR_SAMPLE_RATE, 3, 11), 0);
    ASSERT_EQ(setText(QD_PAR_CHANNEL_LABEL, 3, "T4"), 0);
    Blob b = blobOf(usb);
    int16_t target = open(8);
    ASSERT_EQ(setCode(QD_PAR_SAMPLE_RATE, 2, 6), 0);  // reset by the defaults of the load
    int16_t selected = open(3);
    ASSERT_EQ(QdSetDevConfig(target, b.data(), (uint32_t)b.size()), target);
    EXPECT_EQ(QdGetSelectedDevContext(), selected);
    ASSERT_EQ(QdSelectDevContext((uint16_t)target), target);
    EXPECT_EQ(getCode(QD_PAR_SAMPLE_RATE, 3), 11u);
    EXPECT_EQ(getText(QD_PAR_CHANNEL_LABEL, 3), "T4");
    EXPECT_EQ(getCode(QD_PAR_SAMPLE_RATE, 2), 7u);
}

TEST_F(Storage, FailedLoadLeavesTheContextUsable) {
    int16_t ctx = open(13);
    ASSERT_EQ(setText(QD_PAR_CHANNEL_LABEL, 0, "kept"), 0);
    Blob good = blobOf(ctx);
    Blob bad = good;
    putText(bad, 24, "1.0", 6);
    bad[94] = 40;  // a version-1 image of a version-2 model: the storage part is too short
    EXPECT_EQ(QdSetDevConfig(ctx, bad.data(), (uint32_t)bad.size()), -5);
    EXPECT_EQ(getText(QD_PAR_CHANNEL_LABEL, 0), "kept");
    EXPECT_EQ(setText(QD_PAR_CHANNEL_LABEL, 0, "changed"), 0);
    EXPECT_EQ(QdSetDevConfig(ctx, good.data(), (uint32_t)good.size()), ctx);
    EXPECT_EQ(getText(QD_PAR_CHANNEL_LABEL, 0), "kept");
}

TEST_F(Storage, ChangeDevice) {
    EXPECT_EQ(QdChangeDevice(modelName(3)), 0);  // nothing selected

    int16_t usb = open(4);
    ASSERT_EQ(setText(QD_PAR_CHANNEL_LABEL, 0, "moved"), 0);
    EXPECT_EQ(QdChangeDevice(modelName(3)), 1);
    EXPECT_FALSE(contextInUse((uint16_t)usb) && contextModel((uint16_t)usb) == 4);
    EXPECT_STREQ(QdGetDevName(), modelName(3));
    EXPECT_EQ(getText(QD_PAR_CHANNEL_LABEL, 0), "moved");

    // Halvex-2 BT settings cannot go to the Brev model: opened, not applied.
    EXPECT_EQ(QdChangeDevice(modelName(0)), -1);
    EXPECT_STREQ(QdGetDevName(), modelName(0));

    // A name of no model (or none) moves nothing: the old context stays open
    // and selected.
    int16_t sel = QdGetSelectedDevContext();
    for (const char *name : {"Quorvane Nothing", (const char *)nullptr}) {
        EXPECT_EQ(QdChangeDevice(name), 0);
        EXPECT_TRUE(contextInUse((uint16_t)sel));
        EXPECT_EQ(QdGetSelectedDevContext(), sel);
    }
}

// Values the model cannot hold (a superior parameter with an option code its
// list lacks) make the load fail with -6 and leave the context as it was; a
// context that the load opened itself is closed again.
TEST_F(Storage, InconsistentValuesUndoTheLoad) {
    int16_t ctx = open(6);
    ASSERT_EQ(setText(QD_PAR_CHANNEL_LABEL, 2, "before"), 0);
    ASSERT_EQ(setCode(QD_PAR_SAMPLE_RATE, 2, 9), 0);
    Blob before = blobOf(ctx);
    std::vector<std::string> values = snapshot();
    Blob b = before;
    putText(b, storageAt(b) + 20 + 2 * 16, "after", 16);
    b[channelAt(b, 2) + 1] = 0x7E;  // a channel function code no list has
    LogWatch log;
    EXPECT_EQ(QdSetDevConfig(ctx, b.data(), (uint32_t)b.size()), -6);
    EXPECT_TRUE(log.contains(failLine("QdSetDevConfig", kLogCannotInitDependencies)));
    EXPECT_EQ(blobOf(ctx), before);
    EXPECT_EQ(snapshot(), values);
    EXPECT_EQ(setCode(QD_PAR_SAMPLE_RATE, 2, 10), 0);

    // The same from another model of the family, which first resets.
    int16_t other = open(8);
    Blob otherBefore = blobOf(other);
    putText(b, 60, "Quorvane Halvex-4 BT", 34);
    EXPECT_EQ(QdSetDevConfig(other, b.data(), (uint32_t)b.size()), -6);
    EXPECT_EQ(blobOf(other), otherBefore);

    int inUse = 0;
    for (uint16_t i = 0; i < QD_MAX_CONTEXTS; ++i) inUse += contextInUse(i);
    EXPECT_EQ(QdSetDevConfig(-1, b.data(), (uint32_t)b.size()), -6);
    int after = 0;
    for (uint16_t i = 0; i < QD_MAX_CONTEXTS; ++i) after += contextInUse(i);
    EXPECT_EQ(after, inUse);
    EXPECT_EQ(QdGetSelectedDevContext(), -1);
}

// Writes the seed corpus of the storage fuzz target (tests/fuzz/corpus/storage)
// into the folder named by QD_FUZZ_SEED_DIR: a first byte choosing the model
// of the receiving context, then a real blob. Run by hand:
//   QD_FUZZ_SEED_DIR=tests/fuzz/corpus/storage build/native/test_storage
//       --gtest_also_run_disabled_tests --gtest_filter='*WriteFuzzSeeds'
TEST_F(Storage, DISABLED_WriteFuzzSeeds) {
    char dir[1024];
    ASSERT_GT(osGetEnv("QD_FUZZ_SEED_DIR", dir, sizeof dir), 0);
    auto write = [&dir](const std::string &name, int target, const Blob &b) {
        std::string content(1, (char)target);
        content.append(b.begin(), b.end());
        ASSERT_TRUE(testenvWriteFile(std::string(dir) + "/" + name, content));
    };
    for (int m = 0; m < QD_MODEL_COUNT; ++m) {
        int16_t ctx = open(m);
        changeSettings(m);
        write("model-" + std::to_string(m), m, blobOf(ctx));
        closeAllContexts();
    }
    int16_t ctx = open(1);
    setText(QD_PAR_DEVICE_ID, 0, "Serial Port Device");
    setCode(QD_PAR_MEASUREMENT_RANGE, 1, 4);
    write("first-generation-into-halvex-2-bt", 3, blobOf(ctx));
    ctx = open(2);
    changeSettings(2);
    write("halvex-4-into-halvex-plus-4", 12, blobOf(ctx));
    ctx = open(10);
    setCode(QD_PAR_CHANNEL_ENABLE, 2, 1);
    setCode(QD_PAR_SAMPLE_RATE, 2, 8);
    write("halvex-plus-2-expanded", 14, blobOf(ctx));
    ctx = open(9);
    setCode(QD_PAR_CHANNEL_FUNCTION, 0, 6);
    Blob b = blobOf(ctx);
    b[channelAt(b, 0) + 2] = 0;
    write("current-range-zero", 11, b);
    b.resize(b.size() - 100);
    write("truncated-storage", 9, b);
}
