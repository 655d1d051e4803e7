// ble.cpp - the Bluetooth LE link: one GATT service of a device turned into
// a byte stream with credit-based flow control, over the GATT seam of
// link/ble_gatt.h (the same code on every system; the seam's table says
// whose GATT functions it calls).
//
// Bytes to the device are written to characteristic 0, bytes from the
// device arrive as notifications of characteristic 1 and go into the
// link's receive ring (link/ble_ring.h). Each side tells the other how much
// it may send: the host announces its ring's capacity at open and reports
// the bytes its consumer took in steps of 210 or more; the device's
// announcements and reports arrive as 3-byte notifications of
// characteristic 0 and set or raise the credit that a send may use.
//
// Threads: notifications arrive on the Bluetooth stack's thread (OnBleEvent,
// the ring's producer and the only one to raise the credit); sends and
// receives run on the thread that uses the link (the ring's consumer; a send
// takes credit). The credit is one atomic counter.
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

#include "link/ble_gatt.h"
#include "link/ble_ring.h"
#include "link/link_internal.h"
#include "os/os.h"

const char *const BLE_GATT_NAMES[BLE_STANDIN_FUNCTIONS] = {
    "BluetoothGATTGetServices",        "BluetoothGATTGetCharacteristics",     "BluetoothGATTGetDescriptors",
    "BluetoothGATTGetCharacteristicValue", "BluetoothGATTGetDescriptorValue", "BluetoothGATTSetCharacteristicValue",
    "BluetoothGATTSetDescriptorValue", "BluetoothGATTRegisterEvent",          "BluetoothGATTUnregisterEvent",
    "QvBleListBegin",                  "QvBleListPath",                       "QvBleListName",
    "QvBleListEnd",                    "QvBleOpenDevice",                     "QvBleCloseDevice",
};

bool bleGattBind(BleGattApi *api, int count, void *(*lookup)(void *library, const char *name), void *library) {
    // The table is a row of function pointers in the order of the names.
    static_assert(sizeof(BleGattApi) == (BLE_STANDIN_FUNCTIONS + 1) * sizeof(void *), "one pointer per function");
    void *slots[BLE_STANDIN_FUNCTIONS] = {};
    for (int i = 0; i < count && i < BLE_STANDIN_FUNCTIONS; ++i) {
        slots[i] = lookup(library, BLE_GATT_NAMES[i]);
        if (!slots[i]) return false;
    }
    BleGattApi bound = {};
    std::memcpy(&bound, slots, sizeof slots);
    *api = bound;
    return true;
}

// ---------------------------------------------------------------------------
// The table in use
// ---------------------------------------------------------------------------

static std::atomic<const BleGattApi *> g_systemGatt{nullptr};
static std::atomic<const BleGattApi *> g_chosenGatt{nullptr};

void linkBleSetSystemGatt(const BleGattApi *api) { g_systemGatt.store(api); }
void linkBleUseGatt(const BleGattApi *api) { g_chosenGatt.store(api); }

const BleGattApi *linkBleGatt() {
    const BleGattApi *chosen = g_chosenGatt.load();
    return chosen ? chosen : g_systemGatt.load();
}

bool linkBleLoaded() { return linkBleGatt() != nullptr; }

// ---------------------------------------------------------------------------
// The link record and the last path opened
// ---------------------------------------------------------------------------

struct BleLink {
    const BleGattApi *api = nullptr;     // the table the link was opened with
    void *device = BLE_INVALID_DEVICE;
    BleGattCharacteristic *characteristics = nullptr;
    uint16_t characteristicCount = 0;
    void *eventHandle = nullptr;
    std::atomic<uint32_t> credit{BLE_INITIAL_CREDIT};  // 0..65535
    uint32_t unacknowledged = 0;
    SpscRing<BLE_RING_SIZE> ring;
};

static BleLink *toBle(const LinkHandle *link) { return reinterpret_cast<BleLink *>(link->handle); }

static unsigned low16(BleResult r) { return (unsigned)((uint32_t)r & 0xFFFFu); }

static OsLock g_lastLock;
static const bool g_lastLockMade = (osLockInit(&g_lastLock), true);
static char g_lastBlePath[BLE_PATH_SIZE];

// Copies a path, cut to BLE_PATH_SIZE with its terminator.
static void copyPath(char *dst, const char *src) {
    size_t n = std::strlen(src);
    if (n >= (size_t)BLE_PATH_SIZE) n = BLE_PATH_SIZE - 1;
    std::memmove(dst, src, n);
    dst[n] = '\0';
}

static void lastBlePath(char *out) {
    OsLockGuard guard(&g_lastLock);
    copyPath(out, g_lastBlePath);
}

static void setLastBlePath(const char *path) {
    OsLockGuard guard(&g_lastLock);
    copyPath(g_lastBlePath, path);
}

// Forgets the last path when it is this one (its open just failed).
static void forgetLastBlePath(const char *path) {
    OsLockGuard guard(&g_lastLock);
    if (std::strcmp(g_lastBlePath, path) == 0) g_lastBlePath[0] = '\0';
}

// ---------------------------------------------------------------------------
// Addresses
// ---------------------------------------------------------------------------

static int hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// Reads up to six pairs of hex digits at p into bytes; returns how many.
static int readPairs(const char **p, uint8_t bytes[6], bool colons) {
    int pairs = 0;
    for (; pairs < 6; ++pairs) {
        if (colons && pairs > 0 && **p == ':') ++*p;
        int hi = hexValue((*p)[0]);
        int lo = hi < 0 ? -1 : hexValue((*p)[1]);
        if (lo < 0) break;
        bytes[pairs] = (uint8_t)(hi * 16 + lo);
        *p += 2;
    }
    return pairs;
}

// ParseBtAddr's reading; returns the pairs read and where it stopped.
static int readBtAddr(const char *text, uint8_t bytes[6], const char **end) {
    *end = text;
    if (!text || std::strlen(text) < 12) return 0;
    const char *p = text;
    if (*p == '{') ++p;
    int pairs = readPairs(&p, bytes, true);
    if (pairs == 6 && *p == '}') ++p;
    *end = p;
    return pairs;
}

const char *ParseBtAddr(const char *text, uint8_t bytes[6]) {
    const char *end = text;
    readBtAddr(text, bytes, &end);
    return end;
}

bool bleIsAddress(const char *text, uint8_t bytes[6]) {
    const char *end = text;
    return readBtAddr(text, bytes, &end) == 6 && *end == '\0';
}

// The address in a Windows device interface path: the twelve hex digits
// after the first "}_". 0 when there is no mark, fewer than 14 characters
// from it on or a pair that is not hex (the pairs read so far stay), and,
// when strict, when anything but the end or '#' follows the digits.
static int interfacePathAddress(const char *path, uint8_t address[6], bool strict) {
    const char *mark = std::strstr(path, "}_");
    if (!mark || std::strlen(mark) < 14) return 0;
    const char *p = mark + 2;
    if (readPairs(&p, address, false) != 6) return 0;
    return !strict || *p == '\0' || *p == '#' ? 1 : 0;
}

int bleAddressOfPath(const char *path, uint8_t address[6], bool strict) {
    std::memset(address, 0, 6);
    const BleGattApi *api = linkBleGatt();
    if (api && api->pathAddress) return api->pathAddress(path, address);
    return interfacePathAddress(path, address, strict);
}

// ---------------------------------------------------------------------------
// Finding devices
// ---------------------------------------------------------------------------

struct BleSearch {
    const BleGattApi *api;
    void *list;
    const char *name;       // name mode: the wanted name
    bool byAddress;
    uint8_t address[6];
    char last[BLE_PATH_SIZE];
    int count;
    bool done;
};

// Address mode: a path without a readable address ends the search with no
// result; the wanted address ends it with that path alone.
static void matchAddress(BleSearch *s, const char *path, char (*paths)[BLE_PATH_SIZE]) {
    uint8_t a[6];
    if (!bleAddressOfPath(path, a, true)) {
        s->count = 0;
        s->done = true;
    } else if (std::memcmp(a, s->address, 6) == 0) {
        copyPath(paths[0], path);
        s->count = 1;
        s->done = true;
    }
}

// Name mode: an unreadable name ends the search; the last path opened goes
// first, the one that was first moves to the end.
static void matchName(BleSearch *s, uint32_t index, const char *path, char (*paths)[BLE_PATH_SIZE]) {
    char name[BLE_PATH_SIZE];
    if (s->api->listName(s->list, index, name, sizeof name) != 0) {
        s->done = true;
        return;
    }
    name[sizeof name - 1] = '\0';
    if (std::strcmp(name, s->name) != 0) return;
    int at = s->count++;
    if (at > 0 && std::strcmp(path, s->last) == 0) {
        copyPath(paths[at], paths[0]);
        at = 0;
    }
    copyPath(paths[at], path);
}

int FindBleDevices(const char *deviceId, char (*paths)[BLE_PATH_SIZE]) {
    BleSearch s = {};
    s.api = linkBleGatt();
    if (!s.api || !paths) return 0;
    s.byAddress = deviceId && bleIsAddress(deviceId, s.address);
    s.name = s.byAddress ? nullptr : deviceId;
    lastBlePath(s.last);
    s.list = s.api->listBegin(deviceId);
    if (!s.list) return -1;
    for (uint32_t i = 0; !s.done && s.count < BLE_MAX_PATHS; ++i) {
        char path[BLE_PATH_SIZE] = {0};
        int r = s.api->listPath(s.list, i, path, sizeof path);
        if (r == BLE_LIST_SKIP) continue;
        if (r != BLE_LIST_OK) break;
        path[sizeof path - 1] = '\0';
        if (s.byAddress) {
            matchAddress(&s, path, paths);
        } else if (s.name) {
            matchName(&s, i, path, paths);
        } else {
            copyPath(paths[s.count++], path);
        }
    }
    s.api->listEnd(s.list);
    return s.count;
}

// ---------------------------------------------------------------------------
// Flow control and notifications
// ---------------------------------------------------------------------------

static BleResult writeValue(BleLink *ble, int position, const uint8_t *data, uint32_t size) {
    BleGattValueBuffer value;
    value.dataSize = size;
    std::memcpy(value.data, data, size);
    return ble->api->setCharacteristicValue(ble->device, &ble->characteristics[position],
                                            reinterpret_cast<BleGattValue *>(&value), 0,
                                            BLE_FLAG_WRITE_WITHOUT_RESPONSE);
}

static BleResult sendFlowControlMsg(BleLink *ble, uint8_t type, uint16_t count) {
    const uint8_t message[BLE_FLOW_MSG_SIZE] = {type, (uint8_t)(count & 0xFF), (uint8_t)(count >> 8)};
    return writeValue(ble, 1, message, BLE_FLOW_MSG_SIZE);
}

// Takes n bytes of credit at once; false (nothing taken) when there is less.
static bool takeCredit(BleLink *ble, uint32_t n) {
    uint32_t c = ble->credit.load();
    do {
        if (c < n) return false;
    } while (!ble->credit.compare_exchange_weak(c, c - n));
    return true;
}

// Raises the credit, at most to the largest count a message can carry.
static void addCredit(BleLink *ble, uint32_t n) {
    uint32_t c = ble->credit.load();
    uint32_t next;
    do {
        next = c + n > 0xFFFFu ? 0xFFFFu : c + n;
    } while (!ble->credit.compare_exchange_weak(c, next));
}

static bool isHandleOf(const BleGattCharacteristic &ch, uint16_t handle) {
    return handle == ch.attributeHandle || handle == ch.characteristicValueHandle;
}

void BLE_CALL OnBleEvent(int32_t eventType, void *eventOut, void *context) {
    BleLink *ble = static_cast<BleLink *>(context);
    if (!ble || !eventOut || eventType != BLE_EVENT_VALUE_CHANGED) return;
    const BleGattValueChangedEvent *event = static_cast<const BleGattValueChangedEvent *>(eventOut);
    const BleGattValue *value = event->characteristicValue;
    if (!value || value->dataSize == 0) return;
    const BleGattCharacteristic *ch = ble->characteristics;
    if (event->changedAttributeHandle == ch[1].attributeHandle) {
        ble->ring.push(value->data, value->dataSize);
        return;
    }
    // Flow control comes from characteristic 0 only; values of other sizes
    // and unknown types are ignored.
    if (!isHandleOf(ch[0], event->changedAttributeHandle) || value->dataSize != BLE_FLOW_MSG_SIZE) return;
    uint16_t count = (uint16_t)(value->data[1] | (value->data[2] << 8));
    if (value->data[0] == INITIAL_BUF_SIZE_MSG) {
        ble->credit.store(count);
    } else if (value->data[0] == BUF_BYTES_FREED_MSG) {
        addCredit(ble, count);
    }
}

// ---------------------------------------------------------------------------
// Opening
// ---------------------------------------------------------------------------

// The pause after a short descriptor time-out, on the driver clock: a
// clock driven by hand (tests) moves on instead of the thread sleeping.
static void pauseMs(uint32_t ms) {
    if (osClockIsManual()) {
        osClockAdvance(ms);
    } else {
        osSleep(ms);
    }
}

// Writes the client configuration descriptor with notifications on, with
// the time-out and abort rules.
static BleResult writeClientConfiguration(BleLink *ble, BleGattDescriptor *descriptor) {
    BleGattDescriptorValue value;
    std::memset(&value, 0, sizeof value);
    value.descriptorType = BLE_DESCRIPTOR_CLIENT_CONFIGURATION;
    value.clientConfiguration.isSubscribeToNotification = 1;
    uint32_t start = osClockMs();
    BleResult r = ble->api->setDescriptorValue(ble->device, descriptor, &value, BLE_FLAG_NONE);
    if (r == BLE_E_TIMEOUT) {
        uint32_t elapsed = osClockMs() - start;
        linkLog("!BluetoothGATTSetDescriptorValue TIMEOUT after %lu ms\n", (unsigned long)elapsed);
        if (elapsed >= 2000) return r;
        pauseMs(10000);
        return BLE_OK;
    }
    if (r == BLE_E_ABORT) r = ble->api->setDescriptorValue(ble->device, descriptor, &value, BLE_FLAG_NONE);
    return r;
}

static BleResult subscribe(BleLink *ble, int position) {
    BleGattCharacteristic *ch = &ble->characteristics[position];
    if (!ch->isNotifiable) return BLE_E_INVALIDARG;
    uint16_t count = 0;
    BleResult r = ble->api->getDescriptors(ble->device, ch, 0, nullptr, &count, BLE_FLAG_NONE);
    if (r != BLE_E_MORE_DATA) return r;
    if (count == 0) return BLE_OK;
    BleGattDescriptor *descriptors = static_cast<BleGattDescriptor *>(std::calloc(count, sizeof *descriptors));
    if (!descriptors) return BLE_E_OUTOFMEMORY;
    uint16_t actual = 0;
    r = ble->api->getDescriptors(ble->device, ch, count, descriptors, &actual, BLE_FLAG_NONE);
    for (uint16_t i = 0; r == BLE_OK && i < actual && i < count; ++i) {
        if (descriptors[i].descriptorType == BLE_DESCRIPTOR_CLIENT_CONFIGURATION) {
            r = writeClientConfiguration(ble, &descriptors[i]);
        }
    }
    std::free(descriptors);
    return r;
}

BleResult SubscribeBle(LinkHandle *link, int position) {
    if (!link || link->handle == LINK_INVALID_HANDLE || position < 0 || position >= BLE_CHARACTERISTICS) {
        return BLE_E_INVALIDARG;
    }
    return subscribe(toBle(link), position);
}

// The first service of the device; the count query must ask for more data.
static bool readFirstService(BleLink *ble, BleGattService *first) {
    uint16_t count = 0;
    BleResult r = ble->api->getServices(ble->device, 0, nullptr, &count, BLE_FLAG_NONE);
    if (r != BLE_E_MORE_DATA) {
        linkLog("!BluetoothGATTGetServices: 0x%x\n", low16(r));
        return false;
    }
    BleGattService *services = static_cast<BleGattService *>(std::calloc(count ? count : 1, sizeof *services));
    if (!services) {
        linkLog("!pServiceBuffer out of memory\n");
        return false;
    }
    uint16_t actual = 0;
    r = ble->api->getServices(ble->device, count, services, &actual, BLE_FLAG_NONE);
    // A device that lists no service has none to use.
    if (r == BLE_OK && (actual == 0 || count == 0)) r = BLE_E_NOT_FOUND;
    if (r != BLE_OK) {
        linkLog("!BluetoothGATTGetServices: 0x%x\n", low16(r));
    } else {
        if (actual > 1) linkLog("Warning: multiple device services. Only the 1st one will be considered further.\n");
        *first = services[0];
    }
    std::free(services);
    return r == BLE_OK;
}

// The characteristics of the service, at least three, in the contract's
// order.
static bool readCharacteristics(BleLink *ble, BleGattService *service) {
    uint16_t count = 0;
    BleResult r = ble->api->getCharacteristics(ble->device, service, 0, nullptr, &count, BLE_FLAG_NONE);
    if (r != BLE_E_MORE_DATA) {
        linkLog("!BluetoothGATTGetCharacteristics: 0x%x\n", low16(r));
        return false;
    }
    if (count == 0) {
        linkLog("!No characteristics found\n");
        return false;
    }
    ble->characteristics = static_cast<BleGattCharacteristic *>(std::calloc(count, sizeof(BleGattCharacteristic)));
    if (!ble->characteristics) {
        linkLog("!Characteristic array out of memory\n");
        return false;
    }
    uint16_t actual = 0;
    r = ble->api->getCharacteristics(ble->device, service, count, ble->characteristics, &actual, BLE_FLAG_NONE);
    if (r != BLE_OK) {
        linkLog("!BluetoothGATTGetCharacteristics: 0x%x\n", low16(r));
        return false;
    }
    ble->characteristicCount = actual < count ? actual : count;
    if (ble->characteristicCount < BLE_CHARACTERISTICS) {
        linkLog("!Too few service characteristics\n");
        return false;
    }
    for (int i = 0; i < BLE_CHARACTERISTICS; ++i) {
        const BleUuid &u = ble->characteristics[i].characteristicUuid;
        if (u.isShortUuid || !bleGuidEqual(u.value.longUuid, BLE_CHARACTERISTIC_GUIDS[i])) {
            linkLog("!Unexpected order in characteristic array or missing characteristic(s). \t\t\tSource code may "
                    "require adjustment.\n");
            return false;
        }
    }
    return true;
}

// Value-changed events of characteristics 1 and 0, then notifications on,
// then the host's buffer size.
static bool startNotifications(BleLink *ble) {
    BleGattEventRegistration registration;
    std::memset(&registration, 0, sizeof registration);
    registration.numCharacteristics = 2;
    registration.characteristics[0] = ble->characteristics[1];
    registration.characteristics[1] = ble->characteristics[0];
    void *handle = nullptr;
    BleResult r = ble->api->registerEvent(ble->device, BLE_EVENT_VALUE_CHANGED, &registration, OnBleEvent, ble,
                                          &handle, BLE_FLAG_NONE);
    if (r != BLE_OK) {
        linkLog("!BluetoothGATTRegisterEvent: 0x%x\n", low16(r));
        return false;
    }
    ble->eventHandle = handle;
    r = subscribe(ble, 1);
    if (r == BLE_OK) r = subscribe(ble, 0);
    if (r != BLE_OK) {
        linkLog("!Setting descriptor values failed: 0x%x\n", low16(r));
        return false;
    }
    r = sendFlowControlMsg(ble, INITIAL_BUF_SIZE_MSG, (uint16_t)BLE_RING_CAPACITY);
    if (r != BLE_OK) {
        linkLog("!sendFlowControlMsg(.., INITIAL_BUF_SIZE_MSG, ..): 0x%x\n", low16(r));
        return false;
    }
    return true;
}

// Unregisters, closes and frees whatever the record holds.
static void releaseBle(BleLink *ble) {
    if (ble->eventHandle) ble->api->unregisterEvent(ble->eventHandle, BLE_FLAG_NONE);
    ble->eventHandle = nullptr;
    if (ble->device != BLE_INVALID_DEVICE) ble->api->closeDevice(ble->device);
    std::free(ble->characteristics);
    delete ble;
}

int OpenBle(const char *path, LinkHandle *link) {
    const BleGattApi *api = linkBleGatt();
    if (!link) return -1;
    link->handle = LINK_INVALID_HANDLE;
    char openPath[BLE_PATH_SIZE];
    if (path) {
        copyPath(openPath, path);
    } else {
        lastBlePath(openPath);
    }
    if (!api || openPath[0] == '\0') return -1;
    BleLink *ble = new (std::nothrow) BleLink();
    if (!ble) return -1;
    ble->api = api;
    uint32_t error = 0;
    ble->device = api->openDevice(openPath, &error);
    bool open = ble->device != BLE_INVALID_DEVICE;
    if (!open) linkLog("!CreateFile: %u\n", error);
    BleGattService service;
    open = open && readFirstService(ble, &service) && readCharacteristics(ble, &service) && startNotifications(ble);
    if (!open) {
        forgetLastBlePath(openPath);
        releaseBle(ble);
        return -1;
    }
    setLastBlePath(openPath);
    // Published only now: a stop that closes the link of an open still in
    // progress on another thread finds nothing to close, and the thread
    // that opens closes what it opened once it sees the stop.
    link->handle = reinterpret_cast<uintptr_t>(ble);
    return 0;
}

// ---------------------------------------------------------------------------
// Send, queue status, receive, close
// ---------------------------------------------------------------------------

int32_t sendBle(LinkHandle *link, int32_t length, const void *data) {
    BleLink *ble = toBle(link);
    if (length < 0 || !takeCredit(ble, (uint32_t)length)) return -1;
    const uint8_t *bytes = static_cast<const uint8_t *>(data);
    for (int32_t sent = 0; sent < length;) {
        uint32_t n = (uint32_t)(length - sent) < BLE_MAX_VALUE ? (uint32_t)(length - sent) : BLE_MAX_VALUE;
        if (writeValue(ble, 0, bytes + sent, n) != BLE_OK) {
            // What did not go out is not spent.
            addCredit(ble, (uint32_t)(length - sent));
            return -1;
        }
        sent += (int32_t)n;
    }
    return length;
}

int32_t queueStatusBle(LinkHandle *link) { return (int32_t)toBle(link)->ring.count(); }

int32_t recvBle(LinkHandle *link, void *buffer) {
    BleLink *ble = toBle(link);
    if (!ble->ring.pop(static_cast<uint8_t *>(buffer))) return 0;
    if (++ble->unacknowledged >= BLE_FREED_STEP) {
        uint16_t freed = ble->unacknowledged > 0xFFFFu ? 0xFFFF : (uint16_t)ble->unacknowledged;
        BleResult r = sendFlowControlMsg(ble, BUF_BYTES_FREED_MSG, freed);
        if (r == BLE_OK) {
            ble->unacknowledged -= freed;
        } else {
            linkLog("!sendFlowControlMsg(.., BUF_BYTES_FREED_MSG, ..): 0x%x\n", low16(r));
        }
    }
    return 1;
}

int CloseBle(LinkHandle *link) {
    if (!link || !linkBleLoaded() || link->handle == LINK_INVALID_HANDLE) return -1;
    BleLink *ble = toBle(link);
    uint32_t left = ble->ring.count();
    if (left > 0) linkLog("CloseBle warning: %u bytes remained in rec buf\n", left);
    releaseBle(ble);
    link->handle = LINK_INVALID_HANDLE;
    return 0;
}
