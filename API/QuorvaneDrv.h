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
#define QD_IND_LINK 0
#define QD_IND_BATTERY 1
#define QD_IND_PAUSE 2
#define QD_IND_SIGNAL 3
#define QD_IND_MESSAGE 4

/* QdStartMeasurement flags. */
#define QD_START_ENGINE_THREAD 0x4000
#define QD_START_BACKGROUND 0x8000
#define QD_START_TEST 0x0001

/* QdComState with this context asks about every context and the search. */
#define QD_ALL_CONTEXTS 0xFFFF

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
 * context index or -1..-6. The blob's mains-frequency bits are changed in place. */
QDEXPORT int16_t QDCALL QdSetDevConfig(int16_t context, void *blob, uint32_t size);
/* Moves the selected context's settings to a new context of another model:
 * 1 done, -1 opened but not applied, 0 failed. */
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
/* 0 ok, 1 no context or invalid parameter, 2 stored option not in the list. */
QDEXPORT int QDCALL QdGetParam(uint16_t id, uint16_t channel, QdParamValue *value);
/* 0 ok; -1 outside the domain, 2 constant, 8 invalid, 9 no context,
 * 10 profile failure, 3..7 dependency update failures. */
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
/* Starts a measurement (flags: QD_START_*): 0, 1, 2, 3, 4, -1, -2, -3. */
QDEXPORT int32_t QDCALL QdStartMeasurement(uint16_t context, uint16_t flags);
/* Stops a measurement: 0 idle, 1 stopping, -1 invalid context. */
QDEXPORT int32_t QDCALL QdStopMeasurement(uint16_t context);
/* 1 while the context (or any, with 0xFFFF) communicates. */
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
