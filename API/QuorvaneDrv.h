/*
 * QuorvaneDrv.h - public interface of the Quorvane acquisition driver.
 *
 * Hosts load QuorvaneDrv.dll (32-bit), QuorvaneDrv64.dll (64-bit) or
 * libQuorvaneDrv.so (Linux) and call the functions below. Every function uses
 * the C calling convention (cdecl); every name is exported undecorated.
 *
 * Ownership: buffers and result records passed in belong to the host. Texts
 * and records returned by the driver (model names, parameter definitions,
 * serial numbers, the EEG cap record) belong to the driver and stay valid
 * while their device context is open.
 *
 * The header compiles as C (C99 or later) and as C++.
 */
#ifndef QUORVANE_DRV_H
#define QUORVANE_DRV_H

#include <stddef.h>
#include <stdint.h>

#if defined(_WIN32)
#define QDCALL __cdecl
#else
#define QDCALL
#endif

#if defined(QD_BUILDING_DRIVER)
#if defined(_WIN32)
#define QDEXPORT
#define QDDATA
#else
#define QDEXPORT __attribute__((visibility("default")))
#define QDDATA __attribute__((visibility("default")))
#endif
#else
#define QDEXPORT
#if defined(_WIN32)
#define QDDATA __declspec(dllimport)
#else
#define QDDATA
#endif
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* ------------------------------------------------------------------ */
/* Constants                                                           */
/* ------------------------------------------------------------------ */

#define QD_MAX_CONTEXTS 10   /* device context slots 0..9 */
#define QD_MODEL_COUNT 15    /* device models 0..14 */
#define QD_MAX_CHANNELS 5    /* channels of the largest model */

/* Parameter ids: 0..5 general parameters, 128..147 channel parameters. */
#define QD_PAR_LINK_TYPE 0
#define QD_PAR_CHANNEL_COUNT 1
#define QD_PAR_INDICATOR_SUPPORT 2
#define QD_PAR_DEVICE_ID 3
#define QD_PAR_MAINS_FREQUENCY 4
#define QD_PAR_SILENT_MODE 5
#define QD_PAR_CHANNEL_NAME 128
#define QD_PAR_CHANNEL_ENABLE 129
#define QD_PAR_CHANNEL_DIRECTION 130
#define QD_PAR_ADC_RESOLUTION 131
#define QD_PAR_CHANNEL_LABEL 132
#define QD_PAR_SENSOR_INFO 133
#define QD_PAR_CHANNEL_PROFILE 134
#define QD_PAR_MEASUREMENT_RANGE 135
#define QD_PAR_RANGE_MINIMUM 136
#define QD_PAR_SAMPLE_RATE 137
#define QD_PAR_LOWER_LIMIT 138
#define QD_PAR_UPPER_LIMIT 139
#define QD_PAR_CHANNEL_FUNCTION 140
#define QD_PAR_FREQ_CHARACTERISTIC 141
#define QD_PAR_INTERFERENCE_FILTER 142
#define QD_PAR_SUM_DISCONNECTED 143
#define QD_PAR_CONTINUITY_SR 144
#define QD_PAR_CONTINUITY_RANGE 145
#define QD_PAR_COMMON_REFERENCE 146
#define QD_PAR_EEG_CAP 147

/* Type byte of a parameter definition: bit 7 = option list, bits 0..6 kind. */
#define QD_TYPE_OPTION_LIST 0x80
#define QD_KIND_BOOL 0
#define QD_KIND_INT 1
#define QD_KIND_FLOAT 2
#define QD_KIND_STRING 3

/* Flags byte of a parameter definition. */
#define QD_FLAG_CONSTANT 0x01
#define QD_FLAG_NOT_APPLICABLE 0x02

/* Bit 15 of a dependents-list entry: keep the dependent's value if valid. */
#define QD_DEP_KEEP_IF_VALID 0x8000
#define QD_LIST_END 0xFFFF

/* Link types. */
#define QD_LINK_IRDA 0
#define QD_LINK_BT 1
#define QD_LINK_USB 2
#define QD_LINK_BLE 3

/* Indicator types passed to QdUserInd. */
typedef enum QdIndicatorType {
    QD_IND_LINK = 0,      /* value: QD_LINK_STATE_* */
    QD_IND_BATTERY = 1,   /* value: the battery state byte the device reports */
    QD_IND_PAUSE = 2,     /* Brev: 1 while the measurement is paused, else 0 */
    QD_IND_SIGNAL = 3,    /* value: signal state (0..3) + 256 * k; k = 0 SUM, k = n channel n (from 1) */
    QD_IND_MESSAGE = 4    /* value: a user message number (QdUserMessage) */
} QdIndicatorType;

/* Values of the link indicator. */
typedef enum QdLinkState {
    QD_LINK_STATE_DISCONNECTED = 0,
    QD_LINK_STATE_CONNECTED = 1,
    QD_LINK_STATE_ERROR = 2,
    QD_LINK_STATE_CONNECTING = 3   /* only from QdGetUserInd */
} QdLinkState;

/* User message numbers: the value of QD_IND_MESSAGE when no QdUserMsg is
 * set. The texts (those marked "!" are errors) go to QdUserMsg. */
typedef enum QdUserMessage {
    QD_MSG_NONE = 0,
    QD_MSG_WRONG_MODEL = 1,            /* "!Please check device selection. ..." and the model found */
    QD_MSG_UNSUPPORTED_MODEL = 2,      /* "!Unsupported device model" */
    QD_MSG_UNSUPPORTED_FIRMWARE = 3,   /* "!Unsupported firmware version" */
    QD_MSG_UNSUPPORTED_CONFIG = 4,     /* "!Unsupported device configuration. ..." */
    QD_MSG_INVALID_CONFIG = 5,         /* "!Invalid device configuration. ..." (no analog channel on) */
    QD_MSG_NOT_RESPONDING = 6,         /* "!Device is not responding. ... communication range." */
    QD_MSG_NOT_RESPONDING_USB = 7,     /* "!Device is not responding. ... USB cable." */
    QD_MSG_LINK_LOST_IRDA = 8,         /* "!Link lost. ... infrared range." */
    QD_MSG_LINK_LOST = 9,              /* "!Link lost. ... communication range." */
    QD_MSG_LINK_LOST_USB = 10,         /* "!Link lost. ... USB cable." */
    QD_MSG_INCOMPATIBLE_STATE = 11,    /* "!Incompatible device state. ..." */
    QD_MSG_DEVICE_ERROR = 12,          /* "!Device reported message error" */
    QD_MSG_STOPPED_ON_DEVICE = 13,     /* "Measurements stopped with device's button" */
    QD_MSG_RECONNECTED = 14,           /* "Device reconnected" */
    QD_MSG_ONE_DEVICE_ONLY = 15,       /* "!BioExplorer 1.x supports only one ..." */
    QD_MSG_HARDWARE_PROBLEM = 16       /* "!Hardware problem detected in the device. ..." */
} QdUserMessage;

/* QdStartMeasurement flags. */
#define QD_START_ENGINE_THREAD 0x4000
#define QD_START_BACKGROUND 0x8000
#define QD_START_TEST 0x0001

/* QdComState with this context asks about every context and the search. */
#define QD_ALL_CONTEXTS 0xFFFF

/* Results of QdGetParam. */
typedef enum QdGetParamResult {
    QD_GETPARAM_OK = 0,
    QD_GETPARAM_INVALID = 1,          /* no context, or no such parameter */
    QD_GETPARAM_UNKNOWN_OPTION = 2    /* the stored option is not in the list */
} QdGetParamResult;

/* Results of QdSetParam. 3 to 7: the value was stored, but updating the
 * parameters that depend on it failed. */
typedef enum QdSetParamResult {
    QD_SETPARAM_OK = 0,
    QD_SETPARAM_OUTSIDE_DOMAIN = -1,
    QD_SETPARAM_CONSTANT = 2,                /* constant, or not mapped */
    QD_SETPARAM_NOT_AN_INDEX = 3,            /* its value cannot choose a dependent's definition */
    QD_SETPARAM_DEPENDENT_NOT_UPDATED = 4,   /* a dependent of its own list was not found */
    QD_SETPARAM_DEPENDENT_NOT_SET = 5,       /* a dependent of its own list could not be set */
    QD_SETPARAM_CHANNEL_DEPENDENT_NOT_SET = 6, /* a channel dependent of a general parameter could not be set */
    QD_SETPARAM_DEPENDENT_NOT_FOUND = 7,     /* no channel has the dependent of a general parameter */
    QD_SETPARAM_INVALID = 8,                 /* no such parameter on that channel */
    QD_SETPARAM_NO_CONTEXT = 9,
    QD_SETPARAM_PROFILE_FAILED = 10          /* the channel profile could not be applied */
} QdSetParamResult;

/* Failures of QdSetDevConfig (success is the context index, 0 or more). */
typedef enum QdSetDevConfigResult {
    QD_SETCONFIG_INVALID_CONTEXT = -1,
    QD_SETCONFIG_INCOMPATIBLE = -2,     /* not a storage blob, or of an unknown storage version */
    QD_SETCONFIG_OTHER_MODEL = -3,      /* of a model the context's model cannot take */
    QD_SETCONFIG_CANNOT_OPEN = -4,      /* no context could be opened for the blob's model */
    QD_SETCONFIG_CANNOT_COPY = -5,      /* the blob is too short or cannot be converted */
    QD_SETCONFIG_DEPENDENCIES = -6      /* the loaded values' dependencies could not be derived */
} QdSetDevConfigResult;

/* Results of QdChangeDevice. */
typedef enum QdChangeDeviceResult {
    QD_CHANGE_FAILED = 0,
    QD_CHANGE_DONE = 1,
    QD_CHANGE_NOT_APPLIED = -1          /* the new context is open, the settings were not applied */
} QdChangeDeviceResult;

/* Results of QdStartMeasurement and QdStopMeasurement. */
typedef enum QdMeasurementResult {
    QD_MEAS_INVALID_CONTEXT = -1,       /* both: invalid or closed context; start: not idle */
    /* QdStartMeasurement */
    QD_MEAS_STARTED = 0,                /* link opened, device information requested */
    QD_MEAS_LINK_NOT_OPENED = 1,
    QD_MEAS_LINK_LIBRARY_FAILED = 2,    /* or the connection thread was not created */
    QD_MEAS_CONNECTING = 3,             /* connecting in the background */
    QD_MEAS_SYSTEM_TOO_OLD = 4,         /* Bluetooth LE needs a newer operating system */
    QD_MEAS_BAD_MODE = -2,              /* start mode not accepted by the device family */
    QD_MEAS_NO_ENGINE_THREAD = -3,      /* started, but the engine thread was not created */
    /* QdStopMeasurement */
    QD_MEAS_WAS_IDLE = 0,
    QD_MEAS_STOPPING = 1
} QdMeasurementResult;

/* Results of QdComState. */
typedef enum QdComStateResult {
    QD_COM_IDLE = 0,
    QD_COM_ACTIVE = 1
} QdComStateResult;

/* DiscoveryResult status values. */
#define QD_DISC_NOT_STARTED 0
#define QD_DISC_SEARCHING 1
#define QD_DISC_NOT_FOUND 2
#define QD_DISC_FOUND 3

/* ------------------------------------------------------------------ */
/* Records that cross the boundary                                     */
/* ------------------------------------------------------------------ */

typedef struct QdOption QdOption;

/* 8-byte value cell: an option code, a flag, an integer, a float or a text.
 * Only the first 32 bits are meaningful for every kind but text. */
typedef union QdValue {
    uint32_t code;
    int32_t i;
    float f;
    const char *s;
    unsigned char bytes[8];
} QdValue;

/* Domain of a parameter definition (8 bytes). */
typedef union QdDomain {
    const QdOption *options;            /* option list, ended by code 0xFFFF */
    struct { int32_t min, max; } i;     /* integer range */
    struct { float min, max; } f;       /* float range */
    uint32_t size;                      /* string storage size with terminator */
    unsigned char bytes[8];
} QdDomain;

/* One entry of an option list. */
struct QdOption {
    uint32_t code;          /* stored code; 0xFFFF ends the list */
    QdValue value;          /* display value: float (type 0x82) or text (0x83) */
    const char *comment;    /* explanation, or null */
};

/* Static definition of a parameter (or one definition variant of it). */
typedef struct QdParamDef {
    uint16_t id;
    const char *name;
    const char *group;          /* "Link", "Description", "Settings", "Environment" or null */
    uint8_t type;               /* QD_TYPE_* and QD_KIND_* */
    uint8_t flags;              /* QD_FLAG_* */
    QdDomain domain;
    const char *unit;           /* unit text or null */
    QdValue def;                /* default value */
    const uint16_t *dependents; /* ids ended by 0xFFFF, bit 15 = keep if valid */
    const char *help;           /* explanatory text or null */
} QdParamDef;

/* What QdGetParam writes. */
typedef struct QdParamValue {
    uint32_t code;   /* option code for option lists, else 0 */
    QdValue value;   /* option value, or the stored value */
    uint8_t type;    /* type byte of the current definition */
} QdParamValue;

/* EEG cap record, the last 28 bytes of a context's parameter storage. */
typedef struct QdCapConfig {
    uint32_t enabled;          /* nonzero while an assignment is in force */
    uint32_t currentSet;       /* 0..4 */
    uint8_t sites[5][4];       /* set x channel -> "EEG cap connection" code */
} QdCapConfig;

/* One channel's block of samples of one data message. */
typedef struct ChannelSamples {
    uint16_t count;            /* samples in this block */
    int32_t *samples;          /* 32-bit samples, or null: channel not delivered */
    uint16_t signalState;      /* last signal state of the channel, 0..3 */
    uint16_t rateMask;         /* due at tick t when ((t + 1) & rateMask) == 0 */
} ChannelSamples;

/* Host-owned record filled by the device search. */
typedef struct DiscoveryResult {
    uint16_t status;           /* QD_DISC_* */
    char model[33];            /* model name of the device found */
    char serial[13];           /* serial number of the device found */
    char ident[64];            /* what was opened: address or USB serial number */
} DiscoveryResult;

/* ------------------------------------------------------------------ */
/* Callbacks                                                           */
/* ------------------------------------------------------------------ */

/* Called once per data message; the blocks are valid only during the call.
 * The result is not used. */
typedef int (QDCALL *QdProcSamplesFn)(uint16_t context, uint16_t phase, uint16_t sumState,
                                       ChannelSamples *channels);
/* Called on every indicator change (QD_IND_*). */
typedef void (QDCALL *QdUserIndFn)(uint16_t context, uint16_t type, uint16_t value);
/* Called with a user message text; a leading '!' marks an error. */
typedef void (QDCALL *QdUserMsgFn)(uint16_t context, const char *text);

/* Exported callback variables (null until set). */
extern QDDATA QdProcSamplesFn QdProcSamples;
extern QDDATA QdUserIndFn QdUserInd;
extern QDDATA QdUserMsgFn QdUserMsg;

/* ------------------------------------------------------------------ */
/* Device models and contexts                                          */
/* ------------------------------------------------------------------ */

/* Stores a pointer to the 15 model names and returns 15. */
QDEXPORT int QDCALL QdEnumDevices(const char *const **names);
/* Opens a context for a model name: index 0..9, -1 too many, -2 unknown
 * model, -3 selection error. The new context is selected. */
QDEXPORT int16_t QDCALL QdOpenDevContext(const char *name);
/* Selects a context: its index, -2 invalid, -1 initialisation error. */
QDEXPORT int16_t QDCALL QdSelectDevContext(uint16_t context);
/* The selected context, or -1. */
QDEXPORT int16_t QDCALL QdGetSelectedDevContext(void);
/* Stops and frees a context; invalid indices are ignored. */
QDEXPORT void QDCALL QdCloseDevContext(uint16_t context);
/* Model name of the selected context, or null. */
QDEXPORT const char *QDCALL QdGetDevName(void);
/* EEG cap record of the selected context, or null if the model has none. */
QDEXPORT QdCapConfig *QDCALL QdGetCapConfig(void);

/* ------------------------------------------------------------------ */
/* Configuration blobs and change of model                             */
/* ------------------------------------------------------------------ */

/* Writes the storage blob of a context; returns its size (594 or 842) or 0.
 * With a null buffer only the size is returned. */
QDEXPORT int32_t QDCALL QdGetDevConfig(int16_t context, void *buffer, uint32_t size);
/* Loads a storage blob into a context (-1 opens a new one); returns the
 * context index or a QD_SETCONFIG_* failure. The blob's mains-frequency bits
 * are changed in place. */
QDEXPORT int16_t QDCALL QdSetDevConfig(int16_t context, void *blob, uint32_t size);
/* Moves the selected context's settings to a new context of another model:
 * QD_CHANGE_* (1 done, -1 opened but not applied, 0 failed). */
QDEXPORT int QDCALL QdChangeDevice(const char *name);

/* ------------------------------------------------------------------ */
/* Device services                                                     */
/* ------------------------------------------------------------------ */

/* Starts the device-service program; 0 started, 1 failed. */
QDEXPORT int QDCALL QdDevServices(const char *folder);

/* ------------------------------------------------------------------ */
/* Parameters of the selected context                                  */
/* ------------------------------------------------------------------ */

/* Lists parameter ids of the general list (channel -1) or of a channel. */
QDEXPORT uint16_t QDCALL QdEnumParams(int16_t channel, uint16_t *buffer, uint16_t size);
/* Current definition of a parameter, or null. */
QDEXPORT const QdParamDef *QDCALL QdParamInfo(uint16_t id, int16_t channel);
/* 1 if the parameter exists for the selected context, else 0. */
QDEXPORT int QDCALL QdParamExists(uint16_t id, int16_t channel);
/* QD_GETPARAM_*: 0 ok, 1 no context or invalid parameter, 2 stored option
 * not in the list. */
QDEXPORT int QDCALL QdGetParam(uint16_t id, uint16_t channel, QdParamValue *value);
/* QD_SETPARAM_*: 0 ok; -1 outside the domain, 2 constant, 8 invalid,
 * 9 no context, 10 profile failure, 3..7 dependency update failures. */
QDEXPORT int QDCALL QdSetParam(uint16_t id, uint16_t channel, const QdValue *value);
/* Number of options of the current definition, 0 on error. */
QDEXPORT uint16_t QDCALL QdGetOptNum(uint16_t id, int16_t channel);
/* Locks (nonzero) or unlocks a parameter; channel -2 = all channels. */
QDEXPORT int QDCALL QdLockParam(uint16_t id, int16_t channel, int lock);
/* Resets parameters: -2 all, -1 general, 0.. one channel. */
QDEXPORT int QDCALL QdSetDefaults(int16_t selector);
/* Splits an SI prefix off a unit text. */
QDEXPORT const char *QDCALL QdParseParamUnit(const char *unit, double *multiplier);

/* ------------------------------------------------------------------ */
/* Parameter texts                                                     */
/* ------------------------------------------------------------------ */

/* Formats a parameter value into buffer (room for 81 bytes); null on error. */
QDEXPORT char *QDCALL QdParam2Str(uint16_t id, uint16_t channel, char *buffer);
/* Formats the option list of a definition; optional pointer array. */
QDEXPORT char *QDCALL QdParamList2Str(const QdParamDef *definition, char *buffer, char **pointers);
/* Sets a parameter from text: 0 ok, 1 bad text, 2 no option or refused,
 * 3 constant or not applicable, 4 no such parameter. */
QDEXPORT int QDCALL QdStr2Param(const char *text, uint16_t id, uint16_t channel);

/* ------------------------------------------------------------------ */
/* Measurement                                                         */
/* ------------------------------------------------------------------ */

/* One engine step over all contexts; nonzero while anything is active. */
QDEXPORT uint32_t QDCALL QdProtocolEngine(void);
/* 1 if an active context has received bytes waiting. */
QDEXPORT int32_t QDCALL QdAwaitingMessages(void);
/* Starts a measurement (flags: QD_START_*); result QD_MEAS_* (0, 1, 2, 3, 4,
 * -1, -2, -3). */
QDEXPORT int32_t QDCALL QdStartMeasurement(uint16_t context, uint16_t flags);
/* Stops a measurement: QD_MEAS_WAS_IDLE, QD_MEAS_STOPPING or
 * QD_MEAS_INVALID_CONTEXT. */
QDEXPORT int32_t QDCALL QdStopMeasurement(uint16_t context);
/* QD_COM_ACTIVE while the context (or any, with 0xFFFF) communicates, else
 * QD_COM_IDLE. */
QDEXPORT int32_t QDCALL QdComState(uint16_t context);
/* Serial number of the connected device, or null. */
QDEXPORT const char *QDCALL QdGetDevSN(uint16_t context);
/* Queries an indicator; -1 when not available. */
QDEXPORT int32_t QDCALL QdGetUserInd(uint16_t context, uint16_t type, uint16_t sub);
/* Installs the three callbacks (null allowed). */
QDEXPORT void QDCALL QdSetCallbacks(QdProcSamplesFn procSamples, QdUserIndFn userInd,
                                    QdUserMsgFn userMsg);

/* ------------------------------------------------------------------ */
/* Device search                                                       */
/* ------------------------------------------------------------------ */

/* Starts the search for the first reachable device: 0 started, 1 refused. */
QDEXPORT int32_t QDCALL QdFindFirstAvailDev(const char *deviceId, uint16_t flags,
                                            DiscoveryResult *result);

/* ------------------------------------------------------------------ */
/* Windows (Windows builds only; elsewhere they fail)                  */
/* ------------------------------------------------------------------ */

/* Opens the device settings window; returns its window handle or null. */
QDEXPORT void *QDCALL QdCreateDevWindow(void *instance, void *parent, const char *directory);
/* Runs the recorder window until it is closed: 1, or 0 if not created. */
QDEXPORT int QDCALL QdCreateRecWindow(void *instance, void *parent, const char *directory);

#ifdef __cplusplus
}
#endif

#endif /* QUORVANE_DRV_H */
