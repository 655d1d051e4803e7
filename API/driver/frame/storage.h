// storage.h - layout of the storage blob, the save and load format of a
// device context's settings (QdGetDevConfig, QdSetDevConfig).
//
// All multi-byte numbers are little-endian.
//   0   24  "Quorvane API storage", zero-filled
//   24   6  storage version text of the model ("1.0", "1,0", "2.0"), zero-filled
//   30  16  "Quorvane Driver" and its terminator
//   46  14  zero
//   60  34  model name, zero-filled
//   94   2  image length L: 40 (storage version 1) or 52 (version 2)
//   96  22  zero
//   118  L  configuration image, its first L bytes
//   118+L S parameter storage record, its first S bytes: 436 (version 1) or 672 (version 2)
#pragma once

#include <cstdint>

#include "API/driver/params/model.h"

constexpr uint32_t QD_BLOB_HEADER = 118;
constexpr uint32_t QD_BLOB_SIGNATURE_AT = 0;
constexpr uint32_t QD_BLOB_VERSION_AT = 24;
constexpr uint32_t QD_BLOB_VERSION_SIZE = 6;
constexpr uint32_t QD_BLOB_PRODUCT_AT = 30;
constexpr uint32_t QD_BLOB_MODEL_AT = 60;
constexpr uint32_t QD_BLOB_MODEL_SIZE = 34;
constexpr uint32_t QD_BLOB_IMAGE_LENGTH_AT = 94;

// Version 2 carries the whole image and storage record of a context.
constexpr uint32_t QD_BLOB_V1_IMAGE = QD_IMAGE_FIRST_GEN;
constexpr uint32_t QD_BLOB_V2_IMAGE = QD_IMAGE_MAX;
constexpr uint32_t QD_BLOB_V1_STORAGE = 436;
constexpr uint32_t QD_BLOB_V2_STORAGE = QD_STORAGE_SIZE;
constexpr uint32_t QD_BLOB_V1_SIZE = QD_BLOB_HEADER + QD_BLOB_V1_IMAGE + QD_BLOB_V1_STORAGE;  // 594
constexpr uint32_t QD_BLOB_V2_SIZE = QD_BLOB_HEADER + QD_BLOB_V2_IMAGE + QD_BLOB_V2_STORAGE;  // 842
constexpr uint32_t QD_BLOB_MAX_SIZE = QD_BLOB_V2_SIZE;

// Storage version (1 or 2) of a model's version text, or 0 for an index out
// of range.
int modelStorageVersion(uint16_t model);
