/**
 * @file QuorvaneDrv.h
 * @brief Public interface of the Quorvane acquisition driver.
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
 * Threads: the context, parameter and window functions belong to the host's
 * thread that uses them and take no lock; call them from one thread. The
 * measurement functions may be called while the engine runs on the driver's
 * engine thread. The callbacks run inside an engine step, on whichever
 * thread runs it (see QdProtocolEngine()).
 *
 * The log: the driver writes \%ALLUSERSPROFILE\%\\Quorvane\\QuorvaneDrv.log
 * (on Linux below the same variable, else below /var/lib). A line
 * "{Name(args)" enters an exported function and "}Name: result" leaves it;
 * a line beginning "!" is an error or warning ("!}Name: why" for a call
 * that failed); "#" lines trace the engine and the links, "<" and ">" the
 * messages to and from the device, "^ " the protocol's events. The
 * functions below say which of these lines they write.
 *
 * The header compiles as C (C99 or later) and as C++.
 */
#ifndef QUORVANE_DRV_H
#define QUORVANE_DRV_H

#include <stddef.h>
#include <stdint.h>

/** Calling convention of every function and callback: cdecl on Windows. */
#if defined(_WIN32)
#define QDCALL __cdecl
#else
#define QDCALL
#endif

/** @def QDEXPORT
 *  Marks an exported function (the export list of the DLLs names them).
 *  @def QDDATA
 *  Marks an exported variable: imported from the DLL by a Windows host. */
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

#define QD_MAX_CONTEXTS 10   /**< device context slots 0..9 */
#define QD_MODEL_COUNT 15    /**< device models 0..14 */
#define QD_MAX_CHANNELS 5    /**< channels of the largest model */

/** @name Parameter ids
 *  0..5 general parameters, 128..147 channel parameters (bit 7 set). The
 *  display names are given; a model has only some of the parameters.
 *  @{ */
#define QD_PAR_LINK_TYPE 0 /**< "Link type" (QD_LINK_*) */
#define QD_PAR_CHANNEL_COUNT 1 /**< "Number of channels" (constant) */
#define QD_PAR_INDICATOR_SUPPORT 2 /**< "Support of indicators": bit set of the QD_IND_* the model reports */
#define QD_PAR_DEVICE_ID 3 /**< "Device id": the address, name or serial number the link opens */
#define QD_PAR_MAINS_FREQUENCY 4 /**< mains frequency (50 or 60 Hz) for the interference filter */
#define QD_PAR_SILENT_MODE 5 /**< silent mode of the device */
#define QD_PAR_CHANNEL_NAME 128 /**< "Channel name" */
#define QD_PAR_CHANNEL_ENABLE 129 /**< "Channel enable" */
#define QD_PAR_CHANNEL_DIRECTION 130 /**< channel direction */
#define QD_PAR_ADC_RESOLUTION 131 /**< ADC resolution */
#define QD_PAR_CHANNEL_LABEL 132 /**< "Channel label" (a text of the host's) */
#define QD_PAR_SENSOR_INFO 133 /**< "Sensor info" (a text of the host's, up to 80 characters) */
#define QD_PAR_CHANNEL_PROFILE 134 /**< "Channel profile": sets a group of parameters at once */
#define QD_PAR_MEASUREMENT_RANGE 135 /**< "Measurement range" */
#define QD_PAR_RANGE_MINIMUM 136 /**< "Range minimum" */
#define QD_PAR_SAMPLE_RATE 137 /**< "Sample rate" */
#define QD_PAR_LOWER_LIMIT 138 /**< lower limit */
#define QD_PAR_UPPER_LIMIT 139 /**< upper limit */
#define QD_PAR_CHANNEL_FUNCTION 140 /**< "Channel function" */
#define QD_PAR_FREQ_CHARACTERISTIC 141 /**< frequency characteristic (the high-pass filter) */
#define QD_PAR_INTERFERENCE_FILTER 142 /**< interference filter */
#define QD_PAR_SUM_DISCONNECTED 143 /**< SUM disconnected */
#define QD_PAR_CONTINUITY_SR 144 /**< sample rate of the continuity test */
#define QD_PAR_CONTINUITY_RANGE 145 /**< range of the continuity test */
#define QD_PAR_COMMON_REFERENCE 146 /**< "Common reference" */
#define QD_PAR_EEG_CAP 147 /**< "EEG cap connection" */
/** @} */

/** @name Type byte of a parameter definition
 *  Bit 7: the value is chosen from an option list; bits 0..6: its kind.
 *  @{ */
#define QD_TYPE_OPTION_LIST 0x80 /**< the value is one of QdParamDef::domain's options */
#define QD_KIND_BOOL 0           /**< a flag, 0 or 1 (QdValue::i) */
#define QD_KIND_INT 1            /**< a signed integer (QdValue::i) */
#define QD_KIND_FLOAT 2          /**< a 32-bit float (QdValue::f) */
#define QD_KIND_STRING 3         /**< a text (QdValue::s) */
/** @} */

/** @name Flags byte of a parameter definition
 *  @{ */
#define QD_FLAG_CONSTANT 0x01       /**< the value cannot be changed */
#define QD_FLAG_NOT_APPLICABLE 0x02 /**< the parameter means nothing with the current settings */
/** @} */

/** Bit 15 of a dependents-list entry: keep the dependent's value if valid. */
#define QD_DEP_KEEP_IF_VALID 0x8000
/** Ends an option list (QdOption::code) and a dependents list. */
#define QD_LIST_END 0xFFFF

/** @name Link types (values of QD_PAR_LINK_TYPE)
 *  @{ */
#define QD_LINK_IRDA 0 /**< IrDA (Brev) */
#define QD_LINK_BT 1   /**< Bluetooth serial port (RFCOMM) */
#define QD_LINK_USB 2  /**< USB through the FTDI transceiver (FTD2XX.dll) */
#define QD_LINK_BLE 3  /**< Bluetooth Low Energy (Windows 8.1 or newer) */
/** @} */

/** Indicator types passed to QdUserInd and asked with QdGetUserInd(). */
typedef enum QdIndicatorType {
    QD_IND_LINK = 0,      /**< value: QD_LINK_STATE_* */
    QD_IND_BATTERY = 1,   /**< value: the battery state byte the device reports */
    QD_IND_PAUSE = 2,     /**< Brev: 1 while the measurement is paused, else 0 */
    QD_IND_SIGNAL = 3,    /**< value: signal state (0..3) + 256 * k; k = 0 SUM, k = n channel n (from 1) */
    QD_IND_MESSAGE = 4    /**< value: a user message number (QdUserMessage) */
} QdIndicatorType;

/** Values of the link indicator (QD_IND_LINK). */
typedef enum QdLinkState {
    QD_LINK_STATE_DISCONNECTED = 0, /**< no link */
    QD_LINK_STATE_CONNECTED = 1,    /**< the link is up */
    QD_LINK_STATE_ERROR = 2,        /**< the link fails; the driver tries to keep or regain it */
    QD_LINK_STATE_CONNECTING = 3   /**< only from QdGetUserInd */
} QdLinkState;

/** User message numbers: the value of QD_IND_MESSAGE when no QdUserMsg is
 *  set. The texts (those marked "!" are errors) go to QdUserMsg. */
typedef enum QdUserMessage {
    QD_MSG_NONE = 0,                   /**< no message */
    QD_MSG_WRONG_MODEL = 1,            /**< "!Please check device selection. ..." and the model found */
    QD_MSG_UNSUPPORTED_MODEL = 2,      /**< "!Unsupported device model" */
    QD_MSG_UNSUPPORTED_FIRMWARE = 3,   /**< "!Unsupported firmware version" */
    QD_MSG_UNSUPPORTED_CONFIG = 4,     /**< "!Unsupported device configuration. ..." */
    QD_MSG_INVALID_CONFIG = 5,         /**< "!Invalid device configuration. ..." (no analog channel on) */
    QD_MSG_NOT_RESPONDING = 6,         /**< "!Device is not responding. ... communication range." */
    QD_MSG_NOT_RESPONDING_USB = 7,     /**< "!Device is not responding. ... USB cable." */
    QD_MSG_LINK_LOST_IRDA = 8,         /**< "!Link lost. ... infrared range." */
    QD_MSG_LINK_LOST = 9,              /**< "!Link lost. ... communication range." */
    QD_MSG_LINK_LOST_USB = 10,         /**< "!Link lost. ... USB cable." */
    QD_MSG_INCOMPATIBLE_STATE = 11,    /**< "!Incompatible device state. ..." */
    QD_MSG_DEVICE_ERROR = 12,          /**< "!Device reported message error" */
    QD_MSG_STOPPED_ON_DEVICE = 13,     /**< "Measurements stopped with device's button" */
    QD_MSG_RECONNECTED = 14,           /**< "Device reconnected" */
    QD_MSG_ONE_DEVICE_ONLY = 15,       /**< "!BioExplorer 1.x supports only one ..." */
    QD_MSG_HARDWARE_PROBLEM = 16       /**< "!Hardware problem detected in the device. ..." */
} QdUserMessage;

/** @name Flags of QdStartMeasurement()
 *  @{ */
#define QD_START_ENGINE_THREAD 0x4000 /**< run the engine on the driver's engine thread */
#define QD_START_BACKGROUND 0x8000    /**< connect on a connection thread; the call returns at once */
#define QD_START_TEST 0x0001          /**< a test measurement (Halvex) */
/** @} */

/** QdComState() with this context asks about every context and the search. */
#define QD_ALL_CONTEXTS 0xFFFF

/** Results of QdGetParam(). */
typedef enum QdGetParamResult {
    QD_GETPARAM_OK = 0,               /**< the record is filled */
    QD_GETPARAM_INVALID = 1,          /**< no context, or no such parameter */
    QD_GETPARAM_UNKNOWN_OPTION = 2    /**< the stored option is not in the list */
} QdGetParamResult;

/** Results of QdSetParam(). 3 to 7: the value was stored, but updating the
 *  parameters that depend on it failed. */
typedef enum QdSetParamResult {
    QD_SETPARAM_OK = 0,                      /**< stored, dependents updated */
    QD_SETPARAM_OUTSIDE_DOMAIN = -1,         /**< outside the parameter's domain; nothing changed */
    QD_SETPARAM_CONSTANT = 2,                /**< constant, or not mapped */
    QD_SETPARAM_NOT_AN_INDEX = 3,            /**< its value cannot choose a dependent's definition */
    QD_SETPARAM_DEPENDENT_NOT_UPDATED = 4,   /**< a dependent of its own list was not found */
    QD_SETPARAM_DEPENDENT_NOT_SET = 5,       /**< a dependent of its own list could not be set */
    QD_SETPARAM_CHANNEL_DEPENDENT_NOT_SET = 6, /**< a channel dependent of a general parameter could not be set */
    QD_SETPARAM_DEPENDENT_NOT_FOUND = 7,     /**< no channel has the dependent of a general parameter */
    QD_SETPARAM_INVALID = 8,                 /**< no such parameter on that channel */
    QD_SETPARAM_NO_CONTEXT = 9,              /**< no context is selected */
    QD_SETPARAM_PROFILE_FAILED = 10          /**< the channel profile could not be applied */
} QdSetParamResult;

/** Failures of QdSetDevConfig() (success is the context index, 0 or more). */
typedef enum QdSetDevConfigResult {
    QD_SETCONFIG_INVALID_CONTEXT = -1,  /**< the context is 10 or more, or not open */
    QD_SETCONFIG_INCOMPATIBLE = -2,     /**< not a storage blob, or of an unknown storage version */
    QD_SETCONFIG_OTHER_MODEL = -3,      /**< of a model the context's model cannot take */
    QD_SETCONFIG_CANNOT_OPEN = -4,      /**< no context could be opened for the blob's model */
    QD_SETCONFIG_CANNOT_COPY = -5,      /**< the blob is too short or cannot be converted */
    QD_SETCONFIG_DEPENDENCIES = -6      /**< the loaded values' dependencies could not be derived */
} QdSetDevConfigResult;

/** Results of QdChangeDevice(). */
typedef enum QdChangeDeviceResult {
    QD_CHANGE_FAILED = 0,               /**< nothing moved (see QdChangeDevice()) */
    QD_CHANGE_DONE = 1,                 /**< the new context is open and holds the settings */
    QD_CHANGE_NOT_APPLIED = -1          /**< the new context is open, the settings were not applied */
} QdChangeDeviceResult;

/** Results of QdStartMeasurement() and QdStopMeasurement(). */
typedef enum QdMeasurementResult {
    QD_MEAS_INVALID_CONTEXT = -1,       /**< both: invalid or closed context; start: not idle */
    QD_MEAS_STARTED = 0,                /**< link opened, device information requested */
    QD_MEAS_LINK_NOT_OPENED = 1,        /**< the link did not open (no such device, or it is in use) */
    QD_MEAS_LINK_LIBRARY_FAILED = 2,    /**< or the connection thread was not created */
    QD_MEAS_CONNECTING = 3,             /**< connecting in the background */
    QD_MEAS_SYSTEM_TOO_OLD = 4,         /**< Bluetooth LE needs a newer operating system */
    QD_MEAS_BAD_MODE = -2,              /**< start mode not accepted by the device family */
    QD_MEAS_NO_ENGINE_THREAD = -3,      /**< started, but the engine thread was not created */
    QD_MEAS_WAS_IDLE = 0,               /**< stop: the context was idle already */
    QD_MEAS_STOPPING = 1                /**< stop: the device is being stopped; QdComState() tells when it is idle */
} QdMeasurementResult;

/** Results of QdComState(). */
typedef enum QdComStateResult {
    QD_COM_IDLE = 0,  /**< no communication */
    QD_COM_ACTIVE = 1 /**< connecting, measuring or stopping (for QD_ALL_CONTEXTS also: searching) */
} QdComStateResult;

/** @name Values of DiscoveryResult::status
 *  @{ */
#define QD_DISC_NOT_STARTED 0 /**< refused, or not started */
#define QD_DISC_SEARCHING 1   /**< the search runs */
#define QD_DISC_NOT_FOUND 2   /**< finished: no device answered */
#define QD_DISC_FOUND 3       /**< finished: a device answered; the record names it */
/** @} */

/* ------------------------------------------------------------------ */
/* Records that cross the boundary                                     */
/* ------------------------------------------------------------------ */

/** An entry of an option list (struct QdOption). */
typedef struct QdOption QdOption;

/** 8-byte value cell: an option code, a flag, an integer, a float or a text.
 *  Only the first 32 bits are meaningful for every kind but text. */
typedef union QdValue {
    uint32_t code;          /**< option code (option lists) */
    int32_t i;              /**< flag or integer */
    float f;                /**< float */
    const char *s;          /**< text */
    unsigned char bytes[8]; /**< the cell as bytes */
} QdValue;

/** Domain of a parameter definition (8 bytes). */
typedef union QdDomain {
    const QdOption *options;            /**< option list, ended by code 0xFFFF */
    /** Integer range, both ends included. */
    struct { int32_t min, max; } i;
    /** Float range, both ends included. */
    struct { float min, max; } f;
    uint32_t size;                      /**< string storage size with terminator */
    unsigned char bytes[8];             /**< the domain as bytes */
} QdDomain;

/** One entry of an option list. */
struct QdOption {
    uint32_t code;          /**< stored code; 0xFFFF ends the list */
    QdValue value;          /**< display value: float (type 0x82) or text (0x83) */
    const char *comment;    /**< explanation, or null */
};

/** Static definition of a parameter (or one definition variant of it). */
typedef struct QdParamDef {
    uint16_t id;                /**< parameter id (QD_PAR_*) */
    const char *name;           /**< display name, e.g. "Sample rate" */
    const char *group;          /**< "Link", "Description", "Settings", "Environment" or null */
    uint8_t type;               /**< QD_TYPE_* and QD_KIND_* */
    uint8_t flags;              /**< QD_FLAG_* */
    QdDomain domain;            /**< options, range or text size, by the type */
    const char *unit;           /**< unit text or null */
    QdValue def;                /**< default value */
    const uint16_t *dependents; /**< ids ended by 0xFFFF, bit 15 = keep if valid */
    const char *help;           /**< explanatory text or null */
} QdParamDef;

/** What QdGetParam() writes. */
typedef struct QdParamValue {
    uint32_t code;   /**< option code for option lists, else 0 */
    QdValue value;   /**< option value, or the stored value */
    uint8_t type;    /**< type byte of the current definition */
} QdParamValue;

/** EEG cap record, the last 28 bytes of a context's parameter storage. */
typedef struct QdCapConfig {
    uint32_t enabled;          /**< nonzero while an assignment is in force */
    uint32_t currentSet;       /**< 0..4 */
    uint8_t sites[5][4];       /**< set x channel -> "EEG cap connection" code */
} QdCapConfig;

/** One channel's block of samples of one data message. A sample is the
 *  device value times 65536 (Halvex) or 1048576 (Brev); in physical units
 *  value = device value x R / 32768, R being the channel's "Measurement
 *  range". */
typedef struct ChannelSamples {
    uint16_t count;            /**< samples in this block */
    int32_t *samples;          /**< 32-bit samples, or null: channel not delivered */
    uint16_t signalState;      /**< last signal state of the channel, 0..3 */
    uint16_t rateMask;         /**< due at tick t when ((t + 1) & rateMask) == 0 */
} ChannelSamples;

/** Host-owned record filled by the device search (QdFindFirstAvailDev()). */
typedef struct DiscoveryResult {
    uint16_t status;           /**< QD_DISC_* */
    char model[33];            /**< model name of the device found */
    char serial[13];           /**< serial number of the device found */
    char ident[64];            /**< what was opened: address or USB serial number */
} DiscoveryResult;

/* ------------------------------------------------------------------ */
/* Callbacks                                                           */
/* ------------------------------------------------------------------ */

/**
 * Receives the samples of one data message of a measuring context.
 *
 * @param context  the device context (0..9) the samples come from
 * @param phase    the device's tick counter of the first tick in the
 *                 message; a gap in the phases means lost samples
 * @param sumState signal state of the common (SUM) input, 0..3
 * @param channels one block per channel of the model (QD_PAR_CHANNEL_COUNT
 *                 entries); a block whose samples pointer is null was not
 *                 delivered. The blocks are valid only during the call.
 * @return ignored
 *
 * Thread: the engine step's, inside the engine lock: the host's thread that
 * calls QdProtocolEngine(), or the driver's engine thread
 * (QD_START_ENGINE_THREAD). Return quickly; copy what you keep. Not called
 * while the driver's own settings window or recorder runs the measurement.
 */
typedef int (QDCALL *QdProcSamplesFn)(uint16_t context, uint16_t phase, uint16_t sumState,
                                       ChannelSamples *channels);
/**
 * Receives every change of an indicator.
 *
 * @param context the device context (0..9)
 * @param type    the indicator (QdIndicatorType)
 * @param value   its new value: QdLinkState for QD_IND_LINK, the battery
 *                state byte, the pause flag, signal state + 256 x k for
 *                QD_IND_SIGNAL (k = 0 SUM, k = n channel n from 1), or a
 *                QdUserMessage number for QD_IND_MESSAGE (only when no
 *                QdUserMsg is set)
 *
 * Thread: the engine step's, as QdProcSamplesFn.
 */
typedef void (QDCALL *QdUserIndFn)(uint16_t context, uint16_t type, uint16_t value);
/**
 * Receives a message for the user: a text of QdUserMessage, extended by
 * details such as the model found.
 *
 * @param context the device context (0..9)
 * @param text    the message; a leading '!' marks an error (show the text
 *                after it). Valid only during the call.
 *
 * Thread: the engine step's, as QdProcSamplesFn.
 */
typedef void (QDCALL *QdUserMsgFn)(uint16_t context, const char *text);

/** @name Exported callback variables
 *  Null when the driver is loaded, and until set; QdSetCallbacks() sets all
 *  three. A null callback is not called.
 *  @{ */
extern QDDATA QdProcSamplesFn QdProcSamples; /**< samples of each data message */
extern QDDATA QdUserIndFn QdUserInd;         /**< indicator changes */
extern QDDATA QdUserMsgFn QdUserMsg;         /**< messages for the user */
/** @} */

/* ------------------------------------------------------------------ */
/* Device models and contexts                                          */
/* ------------------------------------------------------------------ */

/**
 * Lists the device models.
 *
 * @param[out] names receives a pointer to the 15 model names in model
 *             order (e.g. "Quorvane Halvex-4 USB"), owned by the driver
 * @return 15 (QD_MODEL_COUNT)
 *
 * Logs "{QdEnumDevices(...)" and "}QdEnumDevices: 15".
 */
QDEXPORT int QDCALL QdEnumDevices(const char *const **names);
/**
 * Opens a device context for a model and selects it; its parameters take
 * their defaults.
 *
 * @param name a model name as QdEnumDevices() lists it
 * @return the context index 0..9; -1 all 10 contexts are open, -2 no model
 *         has that name, -3 the context could not be selected
 *
 * Thread: the host's (no lock). Logs "{QdOpenDevContext(name)" and
 * "}QdOpenDevContext: index", or "!}QdOpenDevContext: Too many contexts",
 * "Device not found" or "Context selection error".
 */
QDEXPORT int16_t QDCALL QdOpenDevContext(const char *name);
/**
 * Selects the context that the parameter functions and the windows work on.
 *
 * @param context an open context, 0..9
 * @return the context; -2 it is 10 or more or not open, -1 its parameter
 *         dependencies could not be built
 *
 * Thread: the host's. Logs "{QdSelectDevContext(context)" and
 * "}QdSelectDevContext: context", or "!}QdSelectDevContext: Invalid context"
 * or "Initialization error".
 */
QDEXPORT int16_t QDCALL QdSelectDevContext(uint16_t context);
/**
 * Tells the selected context.
 *
 * @return the selected context, or -1 when none is selected
 *
 * Thread: the host's. Logs nothing.
 */
QDEXPORT int16_t QDCALL QdGetSelectedDevContext(void);
/**
 * Stops a measurement of the context (waiting briefly for the device) and
 * frees the context.
 *
 * @param context the context; an index of 10 or more, or a free one, is
 *        ignored
 *
 * Thread: the host's. Logs "{QdCloseDevContext(context)" and
 * "}QdCloseDevContext: void", with the stop's lines in between.
 */
QDEXPORT void QDCALL QdCloseDevContext(uint16_t context);
/**
 * Tells the model of the selected context.
 *
 * @return its model name (owned by the driver), or null when no context is
 *         selected
 *
 * Thread: the host's. Logs nothing.
 */
QDEXPORT const char *QDCALL QdGetDevName(void);
/**
 * Gives the EEG cap record of the selected context, to read and change in
 * place.
 *
 * @return the record, valid while the context is open; null when no context
 *         is selected or its model has no EEG cap connection (the Halvex+ 4
 *         models have one)
 *
 * Thread: the host's. Logs nothing.
 */
QDEXPORT QdCapConfig *QDCALL QdGetCapConfig(void);

/* ------------------------------------------------------------------ */
/* Configuration blobs and change of model                             */
/* ------------------------------------------------------------------ */

/**
 * Writes a context's settings as a storage blob, the form a host keeps them
 * in (the settings files hold the same).
 *
 * @param context    the context, 0..9
 * @param[out] buffer receives the blob; null only asks for its size
 * @param size       the buffer's size in bytes
 * @return the blob's size (594 or 842 bytes), or 0: invalid context, buffer
 *         too small, or the settings could not be copied
 *
 * Thread: the host's. Logs "{QdGetDevConfig(context...)" and
 * "}QdGetDevConfig: size", or "!}QdGetDevConfig: Invalid context",
 * "Too small buffer" or "Cannot copy data".
 */
QDEXPORT int32_t QDCALL QdGetDevConfig(int16_t context, void *buffer, uint32_t size);
/**
 * Loads a storage blob (from QdGetDevConfig()) into a context.
 *
 * @param context the context to load into, or -1 to open a new context for
 *        the blob's model
 * @param[in,out] blob the blob; its mains-frequency bits are set to this
 *        machine's choice in place
 * @param size the blob's size in bytes
 * @return the context's index (then selected), or a QdSetDevConfigResult
 *         failure (-1 to -6)
 *
 * Thread: the host's. Logs "{QdSetDevConfig(context)" and
 * "}QdSetDevConfig: index", or "!}QdSetDevConfig: " with the failure
 * ("Invalid context", "Incompatible storage", "Storage for inconsistent
 * device model", "Cannot open device context", "Cannot copy data", "Cannot
 * initialize parameter dependency info").
 */
QDEXPORT int16_t QDCALL QdSetDevConfig(int16_t context, void *blob, uint32_t size);
/**
 * Moves the selected context's settings to a new context of another model
 * of the same family; the old context is closed.
 *
 * @param name the new model's name
 * @return a QdChangeDeviceResult: 1 done, -1 the new context is open but
 *         the settings could not be applied, 0 failed (no context selected,
 *         the settings could not be read, or the new context not opened)
 *
 * Thread: the host's. Logs "{QdChangeDevice(name)" and
 * "}QdChangeDevice: result", with the lines of the context functions it
 * calls.
 */
QDEXPORT int QDCALL QdChangeDevice(const char *name);

/* ------------------------------------------------------------------ */
/* Device services                                                     */
/* ------------------------------------------------------------------ */

/**
 * Starts the device-service program QuorvaneServ.exe for the selected
 * context (its model, link and device id on the command line).
 *
 * @param folder the folder that holds QuorvaneServ.exe, or null for the
 *        system's search
 * @return 0 started, 1 failed
 *
 * Thread: the host's. Logs "{QdDevServices(folder)" and
 * "}QdDevServices: 0", or "!}QdDevServices: Cannot run device service
 * application".
 */
QDEXPORT int QDCALL QdDevServices(const char *folder);

/* ------------------------------------------------------------------ */
/* Parameters of the selected context                                  */
/* ------------------------------------------------------------------ */

/**
 * Lists the parameter ids of the selected context: the general ones, or a
 * channel's (starting with QD_PAR_CHANNEL_NAME).
 *
 * @param channel    -1 for the general parameters, else a channel from 0
 * @param[out] buffer receives the ids; null only counts them
 * @param size       the buffer's size in bytes (2 per id)
 * @return the number of ids; 0 on failure
 *
 * Thread: the host's. Failures log "!QdEnumParams: No context or buffer too
 * short" or "!QdEnumParams: Invalid channel or buffer too short".
 */
QDEXPORT uint16_t QDCALL QdEnumParams(int16_t channel, uint16_t *buffer, uint16_t size);
/**
 * Gives the definition of a parameter in force for the current settings
 * (some parameters change their domain with others).
 *
 * @param id      the parameter (QD_PAR_*)
 * @param channel its channel from 0 (ignored for general parameters)
 * @return the definition, owned by the driver; null when no context is
 *         selected or the parameter does not exist there ("!QdParamInfo: No
 *         context or invalid parameter" is logged)
 *
 * Thread: the host's.
 */
QDEXPORT const QdParamDef *QDCALL QdParamInfo(uint16_t id, int16_t channel);
/**
 * Tells whether the selected context has a parameter.
 *
 * @param id      the parameter (QD_PAR_*)
 * @param channel its channel from 0 (ignored for general parameters)
 * @return 1 when it exists, else 0
 *
 * Thread: the host's. Logs nothing.
 */
QDEXPORT int QDCALL QdParamExists(uint16_t id, int16_t channel);
/**
 * Reads a parameter of the selected context.
 *
 * @param id         the parameter (QD_PAR_*)
 * @param channel    its channel from 0 (ignored for general parameters)
 * @param[out] value receives the option code (option lists), the value and
 *                   the definition's type byte
 * @return a QdGetParamResult: 0 read; 1 no context, no such parameter or no
 *         record; 2 the stored code is not one of the options
 *
 * Thread: the host's. Failures log "!QdGetParam: No context or invalid
 * parameter", or a line with the stored value and "!QdGetParam: Unknown
 * parameter option".
 */
QDEXPORT int QDCALL QdGetParam(uint16_t id, uint16_t channel, QdParamValue *value);
/**
 * Changes a parameter of the selected context; the parameters that depend
 * on it follow. An explicit mains frequency becomes this machine's default.
 *
 * @param id      the parameter (QD_PAR_*)
 * @param channel its channel from 0 (ignored for general parameters)
 * @param value   the new value: an option code for option lists, else the
 *                value of the parameter's kind (a text is copied)
 * @return a QdSetParamResult: 0 set; -1 outside the domain, 2 constant,
 *         8 no such parameter, 9 no context, 10 the profile could not be
 *         applied (nothing changed for -1, 2, 8, 9); 3..7 the value is set
 *         but a dependent parameter could not follow
 *
 * Thread: the host's; not while the context's configuration is being sent
 * to the device (a measurement starting). Failures log "!QdSetParam: " with
 * "No context", "Invalid parameter", "Constant parameter", "Value outside
 * parameter's domain" or "Cannot update profile dependent parameter".
 */
QDEXPORT int QDCALL QdSetParam(uint16_t id, uint16_t channel, const QdValue *value);
/**
 * Counts the options of a parameter of the selected context.
 *
 * @param id      the parameter (QD_PAR_*)
 * @param channel its channel from 0 (ignored for general parameters)
 * @return the number of options of the definition in force; 0 when it has
 *         no option list, or on failure ("!QdGetOptNum: No context or
 *         invalid parameter" is logged)
 *
 * Thread: the host's.
 */
QDEXPORT uint16_t QDCALL QdGetOptNum(uint16_t id, int16_t channel);
/**
 * Locks or unlocks a parameter against the user: the settings window
 * disables a parameter whose lock count is above 0. Locks count (up to
 * 255): each lock needs its unlock.
 *
 * @param id      the parameter (QD_PAR_*)
 * @param channel its channel from 0, or -2 for every channel
 * @param lock    nonzero locks, 0 unlocks
 * @return 0 done, 1 no such parameter, 2 no context selected
 *
 * Thread: the host's. Failures log "!QdLockParam: Invalid parameter" or
 * "!QdLockParam: No context".
 */
QDEXPORT int QDCALL QdLockParam(uint16_t id, int16_t channel, int lock);
/**
 * Resets parameters of the selected context to their defaults.
 *
 * @param selector -2 every parameter (and the host's texts and the EEG cap
 *        record), -1 the general parameters, 0 or more that channel's
 * @return 0 done; 1 a general, 2 a channel parameter could not be set;
 *         3 no context selected
 *
 * Thread: the host's. Logs "{QdSetDefaults(selector)" and
 * "}QdSetDefaults: 0", or "!}QdSetDefaults: " with "Context not selected",
 * "General parameter setting error" or "Channel parameter setting error".
 */
QDEXPORT int QDCALL QdSetDefaults(int16_t selector);
/**
 * Splits an SI prefix (T, G, M, k, m, u, n, p) off a unit text.
 *
 * @param unit            a unit, e.g. "uV"
 * @param[out] multiplier receives the prefix's factor (1e-6 for "uV"), 1.0
 *                        without a prefix; may be null
 * @return the unit after the prefix ("V"), the unit itself when it has no
 *         prefix or only one letter, or null for a null unit
 *
 * Any thread. Logs nothing.
 */
QDEXPORT const char *QDCALL QdParseParamUnit(const char *unit, double *multiplier);

/* ------------------------------------------------------------------ */
/* Parameter texts                                                     */
/* ------------------------------------------------------------------ */

/**
 * Writes a parameter's value of the selected context as text ("250",
 * "Resistance", "-800").
 *
 * @param id          the parameter (QD_PAR_*)
 * @param channel     its channel from 0 (ignored for general parameters)
 * @param[out] buffer receives the text; room for 81 bytes
 * @return buffer, or null when the parameter cannot be read (with
 *         QdGetParam()'s log lines) or buffer is null ("!QdParam2Str: No
 *         buffer")
 *
 * Thread: the host's.
 */
QDEXPORT char *QDCALL QdParam2Str(uint16_t id, uint16_t channel, char *buffer);
/**
 * Writes the options of a definition as texts, each ended by a zero byte,
 * with one more zero byte after the last.
 *
 * @param definition    a definition with an option list (QdParamInfo())
 * @param[out] buffer   receives the texts: room for 81 bytes per option
 * @param[out] pointers receives a pointer to each text and a null pointer
 *                      after them (room for the options + 1); may be null
 * @return buffer, or null when the definition has no option list, an option
 *         cannot be written, or buffer is null ("!QdParamList2Str: No
 *         option list or no buffer")
 *
 * Any thread.
 */
QDEXPORT char *QDCALL QdParamList2Str(const QdParamDef *definition, char *buffer, char **pointers);
/**
 * Sets a parameter of the selected context from its text, as a user types
 * it ("500" for a sample rate, "Voltage", letter case counting).
 *
 * @param text    the value as text: an option's text, or a number or text
 *                of the parameter's kind
 * @param id      the parameter (QD_PAR_*)
 * @param channel its channel from 0 (ignored for general parameters)
 * @return 0 set; 1 the text is no value of the parameter's kind; 2 no
 *         option has that text, or QdSetParam() refused it; 3 the parameter
 *         is constant or not applicable; 4 no such parameter
 *
 * Thread: the host's. Logs what QdSetParam() logs.
 */
QDEXPORT int QDCALL QdStr2Param(const char *text, uint16_t id, uint16_t channel);

/* ------------------------------------------------------------------ */
/* Measurement                                                         */
/* ------------------------------------------------------------------ */

/**
 * Runs one step of the protocol engine over every open context and the
 * device search: it reads what the devices sent, answers them, runs their
 * timers and calls the callbacks.
 *
 * A host calls it every 2 to 10 ms while a measurement runs, from one
 * thread, unless it started the measurement with QD_START_ENGINE_THREAD:
 * then the driver's engine thread calls it every 2 ms and ends itself when
 * nothing is active. A second caller while a step runs returns at once with
 * the previous result; a callback that calls it makes no progress.
 *
 * @return nonzero while a context communicates or the search runs (call
 *         again soon), 0 when everything is idle
 *
 * Logs "{QdProtocolEngine(): result}" when the result changes, and the
 * protocol's "#", "<", ">" and "^ " lines.
 */
QDEXPORT uint32_t QDCALL QdProtocolEngine(void);
/**
 * Tells whether a device has sent bytes not read yet, so that a host loop
 * can give the engine priority over its other work.
 *
 * @return 1 when an active context has received bytes waiting, else 0
 *         (also when the link library cannot start)
 *
 * Any thread. Logs nothing.
 */
QDEXPORT int32_t QDCALL QdAwaitingMessages(void);
/**
 * Starts a measurement on a context: opens the link named by its "Link
 * type" and "Device id", configures the device from the context's
 * parameters and starts it. The samples then come to QdProcSamples.
 *
 * @param context an open, idle context, 0..9
 * @param flags   QD_START_ENGINE_THREAD, QD_START_BACKGROUND (connect on a
 *                thread of the driver's, without blocking the caller), and
 *                the mode: 0 a measurement, QD_START_TEST a test measurement
 *                (Halvex); the Brev takes only 0 and QD_START_BACKGROUND
 * @return a QdMeasurementResult: 0 the link is open, 3 connecting in the
 *         background; 1 the link did not open, 2 the link library could not
 *         start (or the connection thread not be made), 4 Bluetooth LE needs
 *         Windows 8.1, -1 no such context or it is not idle, -2 a mode the
 *         model does not take, -3 started but no engine thread
 *
 * Thread: the host's. The device's refusals and lost links come later,
 * through QdUserMsg / QdUserInd. Logs "{QdStartMeasurement(context...)" and
 * "}QdStartMeasurement: result" (0 and 3), "!}QdStartMeasurement: result"
 * otherwise, and the link's "#" lines.
 */
QDEXPORT int32_t QDCALL QdStartMeasurement(uint16_t context, uint16_t flags);
/**
 * Asks the device of a context to stop; the engine completes the stop
 * (until QdComState() reports the context idle; the driver's timers bound
 * the wait).
 *
 * @param context an open context, 0..9
 * @return QD_MEAS_STOPPING (1) stopping, QD_MEAS_WAS_IDLE (0) it was idle,
 *         QD_MEAS_INVALID_CONTEXT (-1) no such context
 *
 * Thread: the host's. Logs "{QdStopMeasurement(context)" and
 * "}QdStopMeasurement: result", or "!}QdStopMeasurement: -1".
 */
QDEXPORT int32_t QDCALL QdStopMeasurement(uint16_t context);
/**
 * Tells whether a context communicates.
 *
 * @param context a context 0..9, or QD_ALL_CONTEXTS for every context and
 *        the device search
 * @return QD_COM_ACTIVE (1) while connecting, measuring or stopping (or
 *         searching), else QD_COM_IDLE (0), also for a closed context
 *
 * Any thread (it waits for a running engine step). Logs nothing.
 */
QDEXPORT int32_t QDCALL QdComState(uint16_t context);
/**
 * Tells the serial number of a context's connected device.
 *
 * @param context the context, 0..9
 * @return the serial number (owned by the driver, valid until the device is
 *         disconnected), or null when the context is invalid or no device
 *         has identified itself
 *
 * Any thread. Logs nothing.
 */
QDEXPORT const char *QDCALL QdGetDevSN(uint16_t context);
/**
 * Asks for the current value of an indicator.
 *
 * @param context the context, 0..9
 * @param type    the indicator (QdIndicatorType)
 * @param sub     for QD_IND_SIGNAL: 0 the SUM input, n channel n (from 1);
 *                else 0
 * @return the value as QdUserIndFn receives it (QD_IND_LINK also
 *         QD_LINK_STATE_CONNECTING); -1 for an invalid context, a type
 *         other than QD_IND_LINK while the context is idle, or an unknown
 *         type or channel
 *
 * Any thread. Logs nothing.
 */
QDEXPORT int32_t QDCALL QdGetUserInd(uint16_t context, uint16_t type, uint16_t sub);
/**
 * Installs the three callbacks at once (the exported variables
 * QdProcSamples, QdUserInd and QdUserMsg).
 *
 * @param procSamples receives the samples, or null
 * @param userInd     receives indicator changes, or null
 * @param userMsg     receives messages for the user, or null (then they
 *                    come to userInd as QD_IND_MESSAGE numbers)
 *
 * Set them before starting a measurement. Logs nothing.
 */
QDEXPORT void QDCALL QdSetCallbacks(QdProcSamplesFn procSamples, QdUserIndFn userInd,
                                    QdUserMsgFn userMsg);

/* ------------------------------------------------------------------ */
/* Device search                                                       */
/* ------------------------------------------------------------------ */

/**
 * Starts the search for the first device that answers, over the chosen
 * links (Bluetooth LE first, IrDA last), on a thread of the driver's; the
 * engine steps (QdProtocolEngine()) carry it on and fill result.
 *
 * @param deviceId a device id to open (under 20 characters), or null or ""
 *        for "Quorvane Halvex*" and then "Serial Port Device"
 * @param flags    link types as bits (bit k = link type k, QD_LINK_*; 7
 *        means all four), and QD_START_ENGINE_THREAD to have the engine
 *        thread run the search
 * @param[out] result the host's record: status QD_DISC_SEARCHING, then
 *        QD_DISC_FOUND with the model, serial number and what was opened,
 *        or QD_DISC_NOT_FOUND; it must stay valid until the search ends
 * @return 0 started; 1 refused (a search runs, no link type, the id too
 *         long, no result record, or the link library or a thread could
 *         not start)
 *
 * Thread: the host's. Logs "{QdFindFirstAvailDev(...)", the search's "#"
 * lines and "}QdFindFirstAvailDev: ok", or "!}QdFindFirstAvailDev: 1".
 */
QDEXPORT int32_t QDCALL QdFindFirstAvailDev(const char *deviceId, uint16_t flags,
                                            DiscoveryResult *result);

/* ------------------------------------------------------------------ */
/* Windows (Windows builds only; elsewhere they fail)                  */
/* ------------------------------------------------------------------ */

/**
 * Opens the settings window of the selected context: one page per group
 * of parameters, the test, status and EEG cap pages, settings files. Every
 * edit is set at once. The window is modeless: the host's message loop
 * drives it (IsDialogMessage for its keyboard navigation); the host's
 * WM_COMMAND 22 saves, 21 imports a settings file.
 *
 * @param instance  the host's module instance (null: the parent's, else the
 *                  program's)
 * @param parent    the host's window, disabled while this one is open; null
 *                  takes the foreground window
 * @param directory the folder of the help page Quorvane_Driver_Dev_Win.htm
 *                  and the licence text (normally the driver's folder)
 * @return the window's handle (HWND), or null: another driver window is
 *         open, no context is selected, or the window could not be made;
 *         always null on Linux
 *
 * Thread: the host's thread that runs the message loop. Logs
 * "{QdCreateDevWindow(...)" and "}QdCreateDevWindow: handle", or
 * "!}QdCreateDevWindow: NULL".
 */
QDEXPORT void *QDCALL QdCreateDevWindow(void *instance, void *parent, const char *directory);
/**
 * Runs the recorder: a window that records the selected context (a
 * "Quorvane Halvex+ 4 USB" context is opened when none is selected) into an
 * EDF or text file, with the device's settings pages, and can start
 * EDFbrowser on the growing file. It runs its own message loop and the
 * protocol engine, and returns when the window has been closed (a running
 * recording is stopped and completed first).
 *
 * @param instance  the host's module instance (null: the parent's, else the
 *                  program's)
 * @param parent    the host's window, disabled meanwhile, or null
 * @param directory the folder of the help page Quorvane_Recorder.htm and
 *                  the licence text (normally the driver's folder)
 * @return 1 after the window was shown and closed; 0 when it could not be
 *         made (another driver window is open, an unsupported system, no
 *         context); always 0 on Linux
 *
 * Thread: the calling thread, for the window's whole life. Logs
 * "{QdCreateRecWindow(...)" and "}QdCreateRecWindow: true", or
 * "!}QdCreateRecWindow: false".
 */
QDEXPORT int QDCALL QdCreateRecWindow(void *instance, void *parent, const char *directory);

#ifdef __cplusplus
}
#endif

#endif /* QUORVANE_DRV_H */
