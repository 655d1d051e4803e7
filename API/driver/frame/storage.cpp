// storage.cpp - device configuration storage: saving a context's settings as
// one storage blob (QdGetDevConfig), loading a blob into a context with the
// conversions between models of one family (QdSetDevConfig), and moving the
// selected context's settings to a context of another model (QdChangeDevice).
//
// A blob comes from outside (a settings file, a host's buffer): nothing in it
// is trusted. Its size, signature, version, image length and model name are
// checked, and every conversion is first run without writing, before the
// context is opened, selected or reset, so that a refused blob leaves every
// context as it was.
#include "API/driver/frame/storage.h"

#include <cstring>

#include "QuorvaneDrv.h"
#include "API/driver/frame/contexts.h"
#include "API/driver/frame/lifecycle.h"
#include "API/driver/frame/log.h"
#include "API/driver/frame/log_texts.h"
#include "API/driver/params/spine.h"

namespace {

const char kSignature[] = "Quorvane API storage";
const char kProduct[] = "Quorvane Driver";
const char kSerialPortDevice[] = "Serial Port Device";
const char kHalvexAny[] = "Quorvane Halvex*";

// Parameter storage record layouts.
constexpr uint32_t DEVICE_ID_AT = 0;
constexpr uint32_t DEVICE_ID_SIZE = 20;
constexpr uint32_t LABEL_AT = 20;
constexpr uint32_t LABEL_SIZE = 16;
constexpr uint32_t SENSOR_SIZE = 80;
constexpr uint32_t PROFILE_SIZE = 8;
constexpr uint32_t V1_SENSOR_AT = 84;
constexpr uint32_t V2_SENSOR_AT = 116;
constexpr uint32_t V1_PROFILE_AT = 404;
constexpr uint32_t V2_PROFILE_AT = 596;
constexpr uint32_t CAP_SIZE = QD_STORAGE_SIZE - QD_CAP_RECORD_OFFSET;  // 28
// The Brev model keeps one label and one sensor info at the start.
constexpr uint32_t BREV_LABEL_SIZE = 16;
constexpr uint32_t BREV_SENSOR_AT = 16;
constexpr uint32_t BREV_SENSOR_SIZE = 80;

// Configuration image: channel entries from byte 16 on.
constexpr uint32_t CHANNEL_START = 16;
constexpr uint32_t V1_STRIDE = 4;
constexpr uint32_t V2_STRIDE = 6;
constexpr uint32_t FUNCTION_BYTE = 1;
constexpr uint32_t RANGE_BYTE = 2;
constexpr uint8_t FUNCTION_CURRENT = 6;

ModelGeneration generationOf(int model) { return modelEntry((uint16_t)model)->generation; }

uint32_t imageLengthOf(int version) { return version == 1 ? QD_BLOB_V1_IMAGE : QD_BLOB_V2_IMAGE; }
uint32_t storageLengthOf(int version) { return version == 1 ? QD_BLOB_V1_STORAGE : QD_BLOB_V2_STORAGE; }
uint32_t sensorAt(int version) { return version == 1 ? V1_SENSOR_AT : V2_SENSOR_AT; }
uint32_t profileAt(int version) { return version == 1 ? V1_PROFILE_AT : V2_PROFILE_AT; }

uint32_t maxU32(uint32_t a, uint32_t b) { return a > b ? a : b; }

// Storage version of a blob's version text (6 bytes, not necessarily
// terminated): the text up to its first '.' must lie between "1" and "2"
// (compared character by character, as strcmp does), so "1.0", "1,0" and
// "2.0" pass and "3.0", "" or "2,5" do not. 1 or 2, or 0 when refused.
int blobStorageVersion(const uint8_t *text) {
    size_t n = 0;
    while (n < QD_BLOB_VERSION_SIZE && text[n] != 0 && text[n] != '.') ++n;
    if (n == 0) return 0;
    // At least "1": the first character is '1' or above (a longer text that
    // starts with '1' is above "1").
    if (text[0] < '1') return 0;
    // At most "2": the first character is below '2', or the text is "2".
    if (text[0] == '2' && n == 1) return 2;
    if (text[0] < '2') return 1;
    return 0;
}

// What a load has to do, worked out from the blob and the context's model
// before anything is changed.
struct LoadPlan {
    int contextModel;      // model of the context that receives the blob
    int blobModel;         // model named in the blob
    int blobVersion;       // 1 or 2
    int contextVersion;    // 1 or 2
    uint32_t imageLength;  // L of the blob
    uint32_t storageSize;  // T: storage bytes the blob carries (at most QD_STORAGE_SIZE)
    int channels;          // n: channel count of the blob's model
    bool expand;           // Halvex+ 2 blob into a Halvex+ 4 context
};

// The image of the blob into the context's image 'dst' (null: only check).
// 0, or -5 when the blob's image does not hold what the conversion needs.
int convertImage(const LoadPlan &p, const uint8_t *src, uint8_t *dst) {
    const ModelDescriptor *m = modelEntry((uint16_t)p.contextModel)->descriptor;
    uint32_t usable = p.imageLength < m->imageLength ? p.imageLength : m->imageLength;  // L'
    if (generationOf(p.contextModel) == MODEL_GEN_BREV) {
        if (dst) std::memcpy(dst, src, usable);
        return 0;
    }
    uint32_t n = (uint32_t)p.channels;
    if (p.blobVersion == 2 && p.contextVersion == 1) return -5;
    if (p.blobVersion == 1 && p.contextVersion == 2) {
        if (n == 0 || CHANNEL_START > usable) return -5;
        // The new entries must fit the context's image as well.
        if (CHANNEL_START + V2_STRIDE * n > m->imageLength) return -5;
        for (uint32_t k = 0; k < n; ++k) {
            uint32_t at = CHANNEL_START + V1_STRIDE * k;
            if (at + V1_STRIDE > usable) return -5;
            uint8_t range = src[at + RANGE_BYTE];
            if (range != 1 && range != 4) return -5;
        }
        if (!dst) return 0;
        std::memcpy(dst, src, CHANNEL_START);
        for (uint32_t k = 0; k < n; ++k) {
            const uint8_t *from = src + CHANNEL_START + V1_STRIDE * k;
            uint8_t *to = dst + CHANNEL_START + V2_STRIDE * k;
            std::memcpy(to, from, V1_STRIDE);
            // The first generation's 1000 uV and 8000 uV ranges become 800 uV
            // and 6000 uV; the other functions keep their physical range.
            to[RANGE_BYTE] = from[FUNCTION_BYTE] != 0 ? (uint8_t)(from[RANGE_BYTE] + 1) : (uint8_t)(from[RANGE_BYTE] - 1);
        }
    } else {
        uint32_t stride = p.blobVersion == 1 ? V1_STRIDE : V2_STRIDE;
        uint32_t size = CHANNEL_START + stride * n;
        if (size > usable) return -5;
        if (p.expand) {
            // The blob's last entry is its button channel; the context's
            // button channel sits two entries further on, and the context's
            // channels 2 and 3 keep their defaults.
            if (n == 0 || size + 2 * stride > m->imageLength) return -5;
            if (dst) {
                std::memcpy(dst, src, size - stride);
                std::memcpy(dst + size + stride, src + size - stride, stride);
            }
        } else if (dst) {
            std::memcpy(dst, src, size);
        }
    }
    if (dst && p.contextVersion == 2) {
        // A "Current" channel was once stored with range code 0, which the
        // function does not offer; it is read as its first range.
        uint32_t entries = n + (p.expand ? 2u : 0u);
        for (uint32_t k = 0; k < entries; ++k) {
            uint8_t *e = dst + CHANNEL_START + V2_STRIDE * k;
            if (CHANNEL_START + V2_STRIDE * (k + 1) > m->imageLength) break;
            if (e[FUNCTION_BYTE] == FUNCTION_CURRENT && e[RANGE_BYTE] == 0) e[RANGE_BYTE] = 1;
        }
    }
    return 0;
}

// Ends a text slot of the storage record with a zero byte: a blob may carry
// a text that fills its slot without a terminator.
void terminateText(uint8_t *slot, uint32_t size) { slot[size - 1] = 0; }

// The storage part of the blob into the context's record 'dst' (null: only
// check). 0, or -5 when the blob's storage part is shorter than the
// conversion reads or the layouts do not convert.
int convertStorage(const LoadPlan &p, const uint8_t *src, uint8_t *dst) {
    uint32_t t = p.storageSize;
    if (t == 0) return 0;
    if (generationOf(p.contextModel) == MODEL_GEN_BREV) {
        if (dst) {
            std::memcpy(dst, src, t);
            terminateText(dst, BREV_LABEL_SIZE);
            terminateText(dst + BREV_SENSOR_AT, BREV_SENSOR_SIZE);
        }
        return 0;
    }
    uint32_t n = (uint32_t)p.channels;
    if (p.blobVersion == 2 && p.contextVersion == 1) return -5;
    if (p.blobVersion == 1 && p.contextVersion == 2 && n == 0) return -5;
    // Everything the copy below reads must lie inside the blob, and at least
    // the blob's whole storage record must be there.
    uint32_t need = storageLengthOf(p.blobVersion);
    if (n > 0) {
        need = maxU32(need, LABEL_AT + LABEL_SIZE * n);
        need = maxU32(need, sensorAt(p.blobVersion) + SENSOR_SIZE * n);
        need = maxU32(need, profileAt(p.blobVersion) + PROFILE_SIZE * n);
    }
    if (t < need) return -5;
    // And everything it writes inside the context's record, before the EEG
    // cap record.
    if (n > 0 && (LABEL_AT + LABEL_SIZE * n > sensorAt(p.contextVersion) ||
                  sensorAt(p.contextVersion) + SENSOR_SIZE * n > profileAt(p.contextVersion) ||
                  profileAt(p.contextVersion) + PROFILE_SIZE * n > QD_CAP_RECORD_OFFSET)) {
        return -5;
    }
    if (!dst) return 0;
    std::memcpy(dst + DEVICE_ID_AT, src + DEVICE_ID_AT, DEVICE_ID_SIZE);
    terminateText(dst + DEVICE_ID_AT, DEVICE_ID_SIZE);
    for (uint32_t k = 0; k < n; ++k) {
        uint8_t *label = dst + LABEL_AT + LABEL_SIZE * k;
        std::memcpy(label, src + LABEL_AT + LABEL_SIZE * k, LABEL_SIZE);
        terminateText(label, LABEL_SIZE);
        uint8_t *sensor = dst + sensorAt(p.contextVersion) + SENSOR_SIZE * k;
        std::memcpy(sensor, src + sensorAt(p.blobVersion) + SENSOR_SIZE * k, SENSOR_SIZE);
        terminateText(sensor, SENSOR_SIZE);
        std::memcpy(dst + profileAt(p.contextVersion) + PROFILE_SIZE * k,
                    src + profileAt(p.blobVersion) + PROFILE_SIZE * k, PROFILE_SIZE);
    }
    if (p.blobVersion == 2 && p.contextVersion == 2) {
        std::memcpy(dst + QD_CAP_RECORD_OFFSET, src + QD_CAP_RECORD_OFFSET, CAP_SIZE);
    }
    return 0;
}

// A Halvex+ 2 blob into a Halvex+ 4 context: its button channel moves to
// the context's button channel.
bool expandsInto(int contextModel, int blobModel) {
    return modelEntry((uint16_t)contextModel)->group == MODEL_GROUP_PLUS_4 &&
           modelEntry((uint16_t)blobModel)->group == MODEL_GROUP_PLUS_2;
}

bool acceptsBlobOf(int contextModel, int blobModel) {
    const ModelEntry *e = modelEntry((uint16_t)contextModel);
    for (uint8_t i = 0; i < e->compatibleCount; ++i) {
        if (e->compatible[i] == blobModel) return true;
    }
    return false;
}

// Gives the blob's image the context's mains frequency bits: loading settings
// never changes the mains frequency of the machine.
void keepMainsFrequency(int contextModel, const uint8_t *contextImg, uint8_t *blobImg, uint32_t blobImageLength) {
    const ModelDescriptor *m = modelEntry((uint16_t)contextModel)->descriptor;
    const ParamMapEntry *e = findMapEntry(m->generalMap, QD_PAR_MAINS_FREQUENCY);
    if (!e || !e->mask) return;
    for (uint32_t k = 0; k < 4; ++k) {
        uint8_t mask = (uint8_t)(e->mask >> (8 * k));
        uint32_t at = e->offset + k;
        if (!mask || at >= blobImageLength || at >= m->imageLength) continue;
        blobImg[at] = (uint8_t)((blobImg[at] & ~mask) | (contextImg[at] & mask));
    }
}

// Log texts of QdSetDevConfig's failure results (QdSetDevConfigResult),
// in result order from -1 down.
const char *const kSetFailureTexts[] = {
    kLogInvalidContext,    kLogIncompatibleStorage, kLogOtherModelStorage,
    kLogCannotOpenContext, kLogCannotCopyData,      kLogCannotInitDependencies,
};

int16_t setFail(int code) {
    logFail("QdSetDevConfig", "%s", kSetFailureTexts[-code - 1]);
    return (int16_t)code;
}

// The parts of a blob that passed the header checks.
struct BlobParts {
    char name[QD_BLOB_MODEL_SIZE + 1];  // model name, terminated
    uint8_t *image;                     // its image (the load changes its mains bits in place)
    const uint8_t *storage;             // its storage part, LoadPlan::storageSize bytes
};

// What a context held before a load, given back when the load is refused.
struct ContextSnapshot {
    uint8_t image[QD_IMAGE_MAX];
    uint8_t storage[QD_STORAGE_SIZE];
};

void snapshotTake(uint16_t context, ContextSnapshot *s) {
    std::memcpy(s->image, contextImage(context), QD_IMAGE_MAX);
    std::memcpy(s->storage, contextStorage(context), QD_STORAGE_SIZE);
}

void snapshotRestore(uint16_t context, const ContextSnapshot *s) {
    std::memcpy(contextImage(context), s->image, QD_IMAGE_MAX);
    std::memcpy(contextStorage(context), s->storage, QD_STORAGE_SIZE);
}

// The context a load writes into, and how to undo it.
struct LoadTarget {
    int16_t context;        // -1 until a context is opened for the blob
    int16_t remembered;     // selection to give back afterwards, -1 none
    bool opened;            // the load opened the context itself
    bool reset;             // another model's blob: the context is set to defaults first
    ContextSnapshot before;
};

// Header checks: signature, version, image length, and a size that holds the
// image. Fills the plan's blob fields. 0 or QD_SETCONFIG_INCOMPATIBLE.
int readBlob(uint8_t *bytes, uint32_t size, LoadPlan *plan, BlobParts *parts) {
    if (!bytes || size < QD_BLOB_HEADER ||
        std::memcmp(bytes + QD_BLOB_SIGNATURE_AT, kSignature, sizeof kSignature - 1) != 0) {
        return QD_SETCONFIG_INCOMPATIBLE;
    }
    int version = blobStorageVersion(bytes + QD_BLOB_VERSION_AT);
    uint32_t imageLength = bytes[QD_BLOB_IMAGE_LENGTH_AT] | (uint32_t)bytes[QD_BLOB_IMAGE_LENGTH_AT + 1] << 8;
    if (version == 0 || imageLength != imageLengthOf(version) || size - QD_BLOB_HEADER < imageLength) {
        return QD_SETCONFIG_INCOMPATIBLE;
    }
    std::memset(parts->name, 0, sizeof parts->name);
    std::memcpy(parts->name, bytes + QD_BLOB_MODEL_AT, QD_BLOB_MODEL_SIZE);
    plan->blobModel = modelByName(parts->name);
    plan->blobVersion = version;
    plan->imageLength = imageLength;
    uint32_t rest = size - QD_BLOB_HEADER - imageLength;
    plan->storageSize = rest < QD_STORAGE_SIZE ? rest : QD_STORAGE_SIZE;
    parts->image = bytes + QD_BLOB_HEADER;
    parts->storage = parts->image + imageLength;
    return 0;
}

// Which model receives the blob, and whether the conversions can be done,
// decided before anything is opened or reset. A blob whose model is unknown
// cannot open a context (that fails later, at the open). 0,
// QD_SETCONFIG_OTHER_MODEL or QD_SETCONFIG_CANNOT_COPY.
int planLoad(const BlobParts &parts, LoadPlan *plan, LoadTarget *target) {
    if (target->context == -1) {
        plan->contextModel = plan->blobModel;
    } else {
        plan->contextModel = contextModel((uint16_t)target->context);
        if (plan->blobModel != plan->contextModel) {
            if (plan->blobModel < 0 || !acceptsBlobOf(plan->contextModel, plan->blobModel)) {
                return QD_SETCONFIG_OTHER_MODEL;
            }
            target->reset = true;
            plan->expand = expandsInto(plan->contextModel, plan->blobModel);
        }
    }
    if (plan->contextModel < 0) return 0;
    plan->contextVersion = modelStorageVersion((uint16_t)plan->contextModel);
    int n = modelChannelCount((uint16_t)plan->blobModel);
    plan->channels = n > 0 ? (n < QD_MAX_CHANNELS ? n : QD_MAX_CHANNELS) : 0;
    if (convertImage(*plan, parts.image, nullptr) != 0 || convertStorage(*plan, parts.storage, nullptr) != 0) {
        return QD_SETCONFIG_CANNOT_COPY;
    }
    return 0;
}

// Makes the context ready: a new one of the blob's model for -1; the given
// one, selected and set to defaults, when the blob is of another model. The
// snapshot is taken before anything of the context changes. 0,
// QD_SETCONFIG_CANNOT_OPEN or QD_SETCONFIG_DEPENDENCIES.
int prepareTarget(const BlobParts &parts, LoadTarget *t) {
    if (t->context == -1) {
        t->context = QdOpenDevContext(parts.name);
        if (t->context < 0) return QD_SETCONFIG_CANNOT_OPEN;
        t->opened = true;
    } else if (t->reset) {
        int16_t selected = selectedContext();
        if (selected != t->context) {
            if (QdSelectDevContext((uint16_t)t->context) != t->context) return QD_SETCONFIG_DEPENDENCIES;
            t->remembered = selected;
        }
    }
    snapshotTake((uint16_t)t->context, &t->before);
    if (t->reset && QdSetDefaults(-2) != 0) {
        snapshotRestore((uint16_t)t->context, &t->before);
        if (t->remembered >= 0) QdSelectDevContext((uint16_t)t->remembered);
        return QD_SETCONFIG_DEPENDENCIES;
    }
    return 0;
}

// Writes the blob into the context; the plan has checked every conversion.
void applyBlob(uint16_t context, const LoadPlan &plan, const BlobParts &parts) {
    uint8_t *image = contextImage(context);
    uint8_t *storage = contextStorage(context);
    keepMainsFrequency(plan.contextModel, image, parts.image, plan.imageLength);
    convertImage(plan, parts.image, image);
    convertStorage(plan, parts.storage, storage);
    if (generationOf(plan.contextModel) == MODEL_GEN_SECOND &&
        std::strncmp((const char *)storage + DEVICE_ID_AT, kSerialPortDevice, DEVICE_ID_SIZE) == 0) {
        // The first generation's default device id names no device of the
        // later ones.
        std::memset(storage + DEVICE_ID_AT, 0, DEVICE_ID_SIZE);
        std::memcpy(storage + DEVICE_ID_AT, kHalvexAny, sizeof kHalvexAny - 1);
    }
}

// Gives the earlier selection back and brings the spine of a selected target
// in line. Values the model cannot hold (an option code its lists lack) undo
// the load, so that the context stays as it was; a context the load opened
// itself is closed again. 0 or QD_SETCONFIG_DEPENDENCIES.
int settleTarget(LoadTarget *t) {
    if (t->remembered >= 0) QdSelectDevContext((uint16_t)t->remembered);
    if (selectedContext() != t->context || updateAllDeps() == 0) return 0;
    if (t->opened) {
        QdCloseDevContext((uint16_t)t->context);
    } else {
        snapshotRestore((uint16_t)t->context, &t->before);
        updateAllDeps();
    }
    return QD_SETCONFIG_DEPENDENCIES;
}

}  // namespace

int modelStorageVersion(uint16_t model) {
    const ModelEntry *e = modelEntry(model);
    if (!e) return 0;
    return e->storageVersion[0] == '1' ? 1 : 2;
}

extern "C" int32_t QDCALL QdGetDevConfig(int16_t context, void *buffer, uint32_t size) {
    EngineGuard guard;
    logEnter("QdGetDevConfig", "%i...", context);
    int model = context >= 0 ? contextModel((uint16_t)context) : -1;
    if (model < 0) {
        logFail("QdGetDevConfig", "%s", kLogInvalidContext);
        return 0;
    }
    const ModelEntry *entry = modelEntry((uint16_t)model);
    int version = modelStorageVersion((uint16_t)model);
    uint32_t imageLength = imageLengthOf(version);
    uint32_t storageLength = storageLengthOf(version);
    uint32_t blobSize = QD_BLOB_HEADER + imageLength + storageLength;

    uint8_t header[QD_BLOB_HEADER] = {};
    std::memcpy(header + QD_BLOB_SIGNATURE_AT, kSignature, sizeof kSignature - 1);
    std::strncpy((char *)header + QD_BLOB_VERSION_AT, entry->storageVersion, QD_BLOB_VERSION_SIZE - 1);
    std::memcpy(header + QD_BLOB_PRODUCT_AT, kProduct, sizeof kProduct);
    std::strncpy((char *)header + QD_BLOB_MODEL_AT, entry->name, QD_BLOB_MODEL_SIZE - 1);
    header[QD_BLOB_IMAGE_LENGTH_AT] = (uint8_t)(imageLength & 0xFF);
    header[QD_BLOB_IMAGE_LENGTH_AT + 1] = (uint8_t)(imageLength >> 8);

    if (buffer) {
        if (size < blobSize) {
            logFail("QdGetDevConfig", "%s", kLogTooSmallBuffer);
            return 0;
        }
        const uint8_t *image = contextImage((uint16_t)context);
        const uint8_t *storage = contextStorage((uint16_t)context);
        if (!image || !storage) {
            logFail("QdGetDevConfig", "%s", kLogCannotCopyData);
            return 0;
        }
        uint8_t *out = static_cast<uint8_t *>(buffer);
        std::memcpy(out, header, QD_BLOB_HEADER);
        // The model's image, zero-filled to the stored length (the Brev
        // model's 4 bytes stand in a 40-byte field).
        uint32_t modelLength = entry->descriptor->imageLength;
        uint32_t copied = modelLength < imageLength ? modelLength : imageLength;
        std::memcpy(out + QD_BLOB_HEADER, image, copied);
        std::memset(out + QD_BLOB_HEADER + copied, 0, imageLength - copied);
        std::memcpy(out + QD_BLOB_HEADER + imageLength, storage, storageLength);
    }
    logExit("QdGetDevConfig", "%i", (int)blobSize);
    return (int32_t)blobSize;
}

extern "C" int16_t QDCALL QdSetDevConfig(int16_t context, void *blob, uint32_t size) {
    EngineGuard guard;
    logEnter("QdSetDevConfig", "%i", context);
    if (context != -1 && (context < 0 || !contextInUse((uint16_t)context))) return setFail(QD_SETCONFIG_INVALID_CONTEXT);
    LoadPlan plan{};
    BlobParts parts{};
    LoadTarget target{};
    target.context = context;
    target.remembered = -1;
    int result = readBlob(static_cast<uint8_t *>(blob), size, &plan, &parts);
    if (result == 0) result = planLoad(parts, &plan, &target);
    if (result == 0) result = prepareTarget(parts, &target);
    if (result == 0) {
        applyBlob((uint16_t)target.context, plan, parts);
        result = settleTarget(&target);
    }
    if (result != 0) return setFail(result);
    logExit("QdSetDevConfig", "%i", target.context);
    return target.context;
}

extern "C" int QDCALL QdChangeDevice(const char *name) {
    logEnter("QdChangeDevice", "%s", name ? name : "");
    // A name of no model moves nothing: the selected context, and any
    // measurement on it, stays as it is.
    if (modelByName(name) < 0) {
        logFail("QdChangeDevice", "%s", kLogDeviceNotFound);
        return 0;
    }
    int16_t selected = selectedContext();
    int result = 0;
    if (selected >= 0) {
        // The largest blob fits a fixed buffer: no allocation is needed.
        uint8_t blob[QD_BLOB_MAX_SIZE];
        int32_t size = QdGetDevConfig(selected, nullptr, 0);
        if (size > 0 && (uint32_t)size <= sizeof blob && QdGetDevConfig(selected, blob, sizeof blob) == size) {
            QdCloseDevContext((uint16_t)selected);
            int16_t context = QdOpenDevContext(name);
            if (context >= 0) result = QdSetDevConfig(context, blob, (uint32_t)size) < 0 ? -1 : 1;
        }
    }
    logExit("QdChangeDevice", "%i", result);
    return result;
}
