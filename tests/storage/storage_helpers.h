// storage_helpers.h - helpers of the storage blob tests: blobs of contexts,
// snapshots of every parameter value, and a few well-known blob offsets.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "API/driver/frame/storage.h"
#include "tests/params/param_helpers.h"

namespace qdtest {

using Blob = std::vector<uint8_t>;

// The blob of a context (empty when QdGetDevConfig fails).
inline Blob blobOf(int16_t context) {
    int32_t size = QdGetDevConfig(context, nullptr, 0);
    if (size <= 0) return Blob();
    Blob b((size_t)size);
    if (QdGetDevConfig(context, b.data(), (uint32_t)b.size()) != size) return Blob();
    return b;
}

// Offsets inside a blob of either version.
inline size_t imageAt() { return QD_BLOB_HEADER; }
inline size_t storageAt(const Blob &b) { return QD_BLOB_HEADER + (b.size() == QD_BLOB_V1_SIZE ? 40 : 52); }
inline size_t channelAt(const Blob &b, int channel) {
    return QD_BLOB_HEADER + 16 + (size_t)channel * (b.size() == QD_BLOB_V1_SIZE ? 4 : 6);
}

// Every parameter of the selected context as "id/channel=value" lines:
// option code, text, or the raw 32 bits of the stored value.
inline std::vector<std::string> snapshot() {
    std::vector<std::string> out;
    auto add = [&out](uint16_t id, uint16_t channel) {
        QdParamValue v{};
        int rc = QdGetParam(id, channel, &v);
        std::string line = std::to_string(id) + "/" + std::to_string(channel) + "=";
        if (rc != 0) {
            line += "error " + std::to_string(rc);
        } else if (v.type & QD_TYPE_OPTION_LIST) {
            line += "code " + std::to_string(v.code);
        } else if ((v.type & 0x7F) == QD_KIND_STRING) {
            line += std::string("text ") + (v.value.s ? v.value.s : "(null)");
        } else {
            line += "raw " + std::to_string(v.value.code);
        }
        out.push_back(line);
    };
    uint16_t ids[64];
    uint16_t n = QdEnumParams(-1, ids, sizeof ids);
    for (uint16_t i = 0; i < n; ++i) add(ids[i], 0);
    QdValue count{};
    QdParamValue v{};
    if (QdGetParam(QD_PAR_CHANNEL_COUNT, 0, &v) == 0) count = v.value;
    for (int c = 0; c < count.i; ++c) {
        n = QdEnumParams((int16_t)c, ids, sizeof ids);
        for (uint16_t i = 0; i < n; ++i) add(ids[i], (uint16_t)c);
    }
    return out;
}

// The values of one channel of the selected context (a part of snapshot()).
inline std::vector<std::string> channelSnapshot(int channel) {
    std::vector<std::string> all = snapshot(), out;
    std::string tag = "/" + std::to_string(channel) + "=";
    for (const std::string &line : all) {
        if (line.find('/') != std::string::npos && line.compare(line.find('/'), tag.size(), tag) == 0 &&
            std::stoi(line) >= 128) {
            out.push_back(line);
        }
    }
    return out;
}

inline int setText(uint16_t id, uint16_t channel, const char *s) {
    QdValue v = text(s);
    return QdSetParam(id, channel, &v);
}

inline std::string getText(uint16_t id, uint16_t channel) {
    QdParamValue v{};
    EXPECT_EQ(QdGetParam(id, channel, &v), 0) << "id " << id << " channel " << channel;
    return v.value.s ? v.value.s : "";
}

}  // namespace qdtest
