// ftsim.h - simulated FTDI transceivers behind the D2XX functions, and
// simulated Bluetooth and IrDA devices behind the socket seam.
//
// sim/ftsim_d2xx.cpp defines the sixteen FT_* functions of link/d2xx.h over
// an array of simulated transceivers (sim/ftsim.cpp); sim/ftsim_sockets.cpp
// a socket table (link/sockets.h) over the Bluetooth and IrDA devices of the
// same array. Linked in-process (qdsim, qdsim_test), the production link
// code talks to them in every test program; packaged as FTD2XX.dll or
// libqvftd2xx.so (sim/dll/), a host program can put them under the shipped
// driver library.
//
// Each transceiver has an 8-character serial number, a USB description, a
// flag for "opened by another process", modem status bits and fault knobs.
// The bytes the host writes go to an attached peer (the simulated device, or
// a test's fake), to scripted replies, or back (loopback); the bytes the host
// reads come from the peer and from bytes pushed by the test. Time is the
// driver clock (osClockMs, osClockUs), so a test that drives the clock by
// hand controls the transceivers too.
//
// The control functions below are plain C, exported by name from the
// simulator libraries. Indexes are transceiver slots 0..FTSIM_MAX-1; they
// return 0 (or the value asked for) on success and -1 for a bad index or
// argument. Every function is safe to call from any thread.
#pragma once

#include <stddef.h>
#include <stdint.h>

#if defined(_WIN32)
#define FTSIM_API
#else
#define FTSIM_API __attribute__((visibility("default")))
#endif

#define FTSIM_MAX 10                        /* transceiver slots: one per driver context */
#define FTSIM_DEFAULT_DESCRIPTION "Quorvane Halvex*"
/* Serial number of the transceiver that the environment variable
   FTSIM_USB_DEVICE=MODEL plugs in at the first listing or open, for host
   programs that link the driver and so cannot call the controls first. */
#define FTSIM_ENV_SERIAL "QVSIM001"

/* Fault knobs: the named call fails with the transceiver's fault status
   (FT_IO_ERROR = 4 unless ftsimSetFaultStatus says otherwise); a failing
   open always gives FT_DEVICE_NOT_OPENED (3). */
enum {
    FTSIM_FAULT_OPEN = 1u << 0,          /* FT_OpenEx */
    FTSIM_FAULT_MODEM_STATUS = 1u << 1,  /* FT_GetModemStatus */
    FTSIM_FAULT_RESET = 1u << 2,         /* FT_ResetPort */
    FTSIM_FAULT_BAUD_RATE = 1u << 3,     /* FT_SetBaudRate */
    FTSIM_FAULT_DATA_CHARS = 1u << 4,    /* FT_SetDataCharacteristics */
    FTSIM_FAULT_FLOW_CONTROL = 1u << 5,  /* FT_SetFlowControl */
    FTSIM_FAULT_DEVICE_INFO = 1u << 6,   /* FT_GetDeviceInfo */
    FTSIM_FAULT_WRITE = 1u << 7,         /* FT_Write (nothing written) */
    FTSIM_FAULT_READ = 1u << 8,          /* FT_Read (nothing read) */
    FTSIM_FAULT_CLOSE = 1u << 9,         /* FT_Close (the handle is released anyway) */
    FTSIM_FAULT_DETAIL = 1u << 10,       /* FT_GetDeviceInfoDetail of this entry */
};

/* Modem status bits as FT_GetModemStatus reports them. */
#define FTSIM_CTS 0x10u
#define FTSIM_DSR 0x20u

/* The counted D2XX functions. */
enum {
    FTSIM_CALL_CLOSE = 0,
    FTSIM_CALL_READ,
    FTSIM_CALL_WRITE,
    FTSIM_CALL_SET_BAUD_RATE,
    FTSIM_CALL_SET_DATA_CHARACTERISTICS,
    FTSIM_CALL_SET_FLOW_CONTROL,
    FTSIM_CALL_SET_DTR,
    FTSIM_CALL_CLR_DTR,
    FTSIM_CALL_CLR_RTS,
    FTSIM_CALL_GET_MODEM_STATUS,
    FTSIM_CALL_GET_QUEUE_STATUS,
    FTSIM_CALL_OPEN_EX,
    FTSIM_CALL_GET_DEVICE_INFO,
    FTSIM_CALL_RESET_PORT,
    FTSIM_CALL_CREATE_DEVICE_INFO_LIST,
    FTSIM_CALL_GET_DEVICE_INFO_DETAIL,
    FTSIM_CALL_GATT,                     /* any GATT or device-list function of a Bluetooth LE device */
    FTSIM_CALL_KINDS,
    FTSIM_CALL_ALL = -1
};

/* What sits behind a transceiver: receives the host's bytes and supplies
   the bytes the host reads. Called with the transceivers' lock held, on the
   thread that makes the D2XX call. */
typedef struct FtSimPeer {
    void *context;
    void (*receive)(void *context, const uint8_t *data, size_t size, uint32_t nowMs);
    size_t (*pending)(void *context, uint32_t nowMs);
    size_t (*take)(void *context, uint8_t *buffer, size_t max);
    void (*setLinkUp)(void *context, int up, uint32_t nowMs); /* may be null */
} FtSimPeer;

/* A transceiver's state as the host has set it. */
typedef struct FtSimState {
    int present;            /* plugged in */
    int open;               /* opened by this process (a socket connected to it) */
    int openedElsewhere;    /* held by another process */
    uint32_t baudRate;
    uint8_t wordLength, stopBits, parity;
    uint16_t flowControl;
    uint8_t xon, xoff;
    int dtr, rts;
    uint32_t opens, closes, resets;  /* successful opens, closes, port resets */
    uint32_t waiting;       /* bytes pushed or scripted and not read yet */
} FtSimState;

#ifdef __cplusplus
extern "C" {
#endif

/* Removes every transceiver, clears the call counts and the list fault. */
FTSIM_API void ftsimReset(void);
/* Plugs in a new transceiver in the first free slot (enumeration follows
   slot order). serial: up to 15 characters (normally 8); description: up to
   63, null for FTSIM_DEFAULT_DESCRIPTION. Starts with CTS set, no faults.
   Returns the slot or -1. */
FTSIM_API int ftsimAdd(const char *serial, const char *description);
/* Takes a transceiver away for good; an open handle on it fails from then
   on with FT_IO_ERROR. */
FTSIM_API int ftsimRemove(int index);
FTSIM_API int ftsimSetDescription(int index, const char *description);
FTSIM_API int ftsimSetOpenedElsewhere(int index, int opened);
/* Modem status bits (FTSIM_CTS, FTSIM_DSR). */
FTSIM_API int ftsimSetModemStatus(int index, uint32_t bits);
/* CTS shows only this many microseconds after the open (0: at once). */
FTSIM_API int ftsimSetCtsDelayUs(int index, uint32_t delayUs);
/* FTSIM_FAULT_* bits; the status the failing calls return. */
FTSIM_API int ftsimSetFaults(int index, uint32_t faults);
FTSIM_API int ftsimSetFaultStatus(int index, uint32_t status);
/* At most this many bytes per FT_Write are taken (short write);
   0xFFFFFFFF: no limit. */
FTSIM_API int ftsimSetWriteLimit(int index, uint32_t maxBytes);
/* Status FT_GetQueueStatus returns (0: normal; e.g. 4 reports an I/O error). */
FTSIM_API int ftsimSetQueueStatusResult(int index, uint32_t status);
/* FT_CreateDeviceInfoList fails with this status (0: normal). */
FTSIM_API void ftsimSetListFault(uint32_t status);
/* Unplug: not enumerated, opens give FT_DEVICE_NOT_FOUND, every call on an
   open handle gives FT_IO_ERROR; the peer sees its link go down. Replug:
   present again and free to open (old handles stay dead until closed). */
FTSIM_API int ftsimUnplug(int index);
FTSIM_API int ftsimReplug(int index);
/* Attaches a peer (copied; null detaches). */
FTSIM_API int ftsimAttachPeer(int index, const FtSimPeer *peer);
/* Attaches a simulated device (sim/sim_device.h) as the peer; the caller
   keeps ownership and detaches (ftsimAttachPeer null) before destroying it. */
FTSIM_API int ftsimAttachDevice(int index, struct SimDevice *device);
/* Creates a simulated device with the defaults for a model name
   (simDeviceDefaults; serial null keeps the default serial) and attaches
   it; the transceiver owns it until it is removed, another peer is attached
   or ftsimReset runs. Returns the slot or -1 (unknown model). */
FTSIM_API int ftsimAttachNewDevice(int index, const char *model, const char *serial);
/* The device attached by ftsimAttachDevice or ftsimAttachNewDevice, or null. */
FTSIM_API struct SimDevice *ftsimDevice(int index);
/* Written bytes come straight back. */
FTSIM_API int ftsimSetLoopback(int index, int on);
/* Bytes that wait for the host to read. Returns how many were queued. */
FTSIM_API int ftsimPushBytes(int index, const uint8_t *data, size_t size);
/* Scripted reply: when one FT_Write carries exactly the request bytes, the
   reply is queued for the host. Up to 8 pairs of up to 256 bytes each. */
FTSIM_API int ftsimAddReply(int index, const uint8_t *request, size_t requestSize, const uint8_t *reply,
                            size_t replySize);
/* Takes up to max of the bytes the host wrote (the oldest first); returns
   the count. The last 4096 bytes are kept. */
FTSIM_API int ftsimTakeWritten(int index, uint8_t *buffer, size_t max);
FTSIM_API int ftsimGetState(int index, FtSimState *state);
/* How often a D2XX function was called (FTSIM_CALL_*, or FTSIM_CALL_ALL). */
FTSIM_API uint32_t ftsimCallCount(int call);
FTSIM_API void ftsimResetCallCounts(void);

/* ------------------------------------------------------------------------
   The simulated device behind a transceiver, for programs that load the
   simulator library and so cannot reach sim/sim_device.h: the same controls
   in plain C, each applied at the current driver clock time under the
   transceivers' lock. They return -1 when the slot has no simulated device
   (ftsimAttachDevice, ftsimAttachNewDevice, ftsimAttachNewDeviceEx) or an
   argument is bad.
   ------------------------------------------------------------------------ */

/* One channel's signal generator (SimSignal of sim/sim_device.h). */
typedef struct FtSimSignal {
    int kind;           /* 0 sine, 1 ramp, 2 constant, 3 square */
    int amplitude;      /* device units, -32768..32767 */
    int offset;         /* device units, -32768..32767 */
    float frequency;    /* Hz (sine, square) */
} FtSimSignal;

/* One generated sample as the device recorded it (SimSampleRecord). */
typedef struct FtSimSample {
    uint32_t tick;      /* tick of the sample (phase = low 16 bits) */
    uint32_t index;     /* the channel's sample index n */
    int16_t value;      /* device value */
    uint8_t fate;       /* 0 sent, 1 dropped, 2 silent, 3 link down, 4 notifications off, 5 overflow */
    uint8_t reserved;
} FtSimSample;

/* As ftsimAttachNewDevice, with the signals of the first count channels
   (up to 6) replaced. */
FTSIM_API int ftsimAttachNewDeviceEx(int index, const char *model, const char *serial, const FtSimSignal *signals,
                                     int count);
/* The n-th sample of a signal at a channel rate (simSignalValue). */
FTSIM_API int ftsimSignalValue(const FtSimSignal *signal, uint32_t n, double rateHz);
/* Arms a reply fault for command code 0x00..0x3F (-1: any command):
   action 0 clears, 1 withholds the reply, 2 ignores the command, 3 delays
   the reply by param ms, 4 replies with result code param; times uses
   (-1: until cleared). */
FTSIM_API int ftsimDeviceSetFault(int index, int command, int action, uint32_t param, int32_t times);
FTSIM_API int ftsimDeviceClearFaults(int index);
/* Withholds the next n data messages (a phase gap for the host). */
FTSIM_API int ftsimDeviceDropData(int index, uint32_t messages);
/* No data messages for durationMs (the device keeps measuring). */
FTSIM_API int ftsimDeviceSilence(int index, uint32_t durationMs);
/* The radio side of the device goes down or comes back while the
   transceiver stays plugged in: what the device sends meanwhile is lost. */
FTSIM_API int ftsimDeviceSetLinkUp(int index, int up);
/* Raw bytes on the wire. */
FTSIM_API int ftsimDeviceInjectBytes(int index, const uint8_t *data, size_t size);
/* NOT_EVENT with the event byte and a data byte (data < 0: none). */
FTSIM_API int ftsimDeviceSendEvent(int index, int event, int data);
/* Signal state 0..3 of a channel (-1: SUM) in the following data messages. */
FTSIM_API int ftsimDeviceSetSignalState(int index, int channel, int state);
/* Records channel ch's generated samples into the caller's buffer (null
   stops); ftsimDeviceRecordCount tells how many were generated since. */
FTSIM_API int ftsimDeviceRecordSamples(int index, int channel, FtSimSample *buffer, uint32_t capacity);
FTSIM_API int32_t ftsimDeviceRecordCount(int index, int channel);
/* The device is switched off and on (simDevicePowerCycle): at rest, its
   power-on configuration, faults kept. What a user does when the driver
   says "Try to turn on device again". */
FTSIM_API int ftsimDevicePowerCycle(int index);
/* Device state byte (Halvex: 1 rest, 2 test, 5 measuring; Brev: 1 rest,
   3 measuring, 5 paused). */
FTSIM_API int ftsimDeviceState(int index);

/* ------------------------------------------------------------------------
   Bluetooth and IrDA devices. They are slots of the same table, reached
   through the socket face (ftsimSocketApi) instead of the D2XX functions;
   a simulated device is put behind them as behind a transceiver
   (ftsimAttachNewDevice, ftsimAttachNewDeviceEx, ftsimAttachDevice), and
   the device controls above work on them. ftsimUnplug takes a device out
   of range (its connection breaks with 10053, connects time out with
   10060), ftsimReplug brings it back. ftsimTakeWritten gives what the host
   sent to it. The device sees its link up only while a socket is
   connected to it.
   ------------------------------------------------------------------------ */

/* A Bluetooth device in range with a Serial Port service: address text
   "00:80:98:A1:B2:C3" (parentheses allowed); name null: it gives no name in
   an inquiry. Inquiries list the devices and results in the order they were
   added. Returns the slot or -1. */
FTSIM_API int ftsimAddBluetooth(const char *address, const char *name);
/* count inquiry results that no device stands behind (connects to them
   time out), at the addresses from firstAddress on, counting up, all with
   that name (null: without a name; up to 299 bytes, so longer than a
   device name may be). 0 or -1. */
FTSIM_API int ftsimAddInquiryResults(const char *firstAddress, const char *name, int count);
/* The next inquiry fails to begin with this Winsock error (0: none). */
FTSIM_API void ftsimSetInquiryFault(int error);
/* The next result an inquiry fetches fails with this Winsock error (0: none). */
FTSIM_API void ftsimSetInquiryResultFault(int error);
/* The next times connects to this device fail with a Winsock error: 10060
   (time-out) after the connect was begun, any other (10022, 10038, ...) at
   once. times -1: until cleared with error 0. */
FTSIM_API int ftsimSetConnectFault(int index, int error, int32_t times);
/* While hold is 1, a begun connect to any device stays in progress (a slow
   stack); 0 lets the connects end. */
FTSIM_API void ftsimHoldConnects(int hold);
/* An IrDA device in range (name up to 21 characters) whose IAS entry for
   IrCOMM announces 9-wire mode (after another parameter). The device list
   names the devices in the order they were added. Returns the slot or -1. */
FTSIM_API int ftsimAddIrda(const char *name);
/* The IAS answer for IrCOMM "Parameters": its type (2: octet sequence),
   the length it claims and the octets it holds (up to 1100). */
FTSIM_API int ftsimSetIasAnswer(int index, uint32_t type, uint32_t claimedLength, const uint8_t *octets,
                                size_t size);
/* The connection to the device breaks (reset by the peer, 10054) while the
   device stays in range. -1 when none is connected. */
FTSIM_API int ftsimDropConnection(int index);
/* Sockets of the socket face that the host has open. */
FTSIM_API int ftsimOpenSockets(void);
/* The socket table (link/sockets.h) over these devices. A test hands it to
   linkUseSockets; the link library finds it under this name in a simulator
   library that stands in for its D2XX library. */
FTSIM_API const struct LinkSocketApi *ftsimSocketApi(void);

/* A Brev device (one channel, IrDA): its button pauses a measurement and
   resumes it; an artifact report (code, channel 0 = SUM, 1 = the channel);
   its state set by hand (1 at rest, 3 measuring, 5 paused, or any other
   value), announced with a state change notification. -1 when the device
   is not a Brev device (or, for the button, does not measure). */
FTSIM_API int ftsimDeviceButton(int index);
FTSIM_API int ftsimDeviceArtifact(int index, int code, int channel);
FTSIM_API int ftsimDeviceSetState(int index, int state);

/* ------------------------------------------------------------------------
   Simulated Bluetooth LE devices (sim/blesim*.cpp)

   A Bluetooth LE device takes a slot of the same table, so that the device
   controls above (ftsimAttachNewDevice..., ftsimDevice*, ftsimUnplug: out of
   range, ftsimTakeWritten, ftsimPushBytes) work on it by its slot. The D2XX
   functions do not see it. It offers the service and the three
   characteristics of the link's device contract (link/ble_gatt.h) through
   the GATT functions of the seam (BluetoothGATT*, QvBle*, exported by the
   simulator library; in-process: ftsimBleGattApi of sim/blesim.h) and, on
   Linux, through the stand-in BlueZ service (ftsimBluezStart).

   The device side of the flow control: the device sends data notifications
   only within the credit the host gave it (its INITIAL_BUF_SIZE_MSG, then
   BUF_BYTES_FREED_MSG), announces its own receive buffer when the host turns
   on the notifications of characteristic 0, and reports each value the host
   wrote as freed. What the device sends goes out when the slot is pumped:
   by default a thread of the simulator does that every millisecond while a
   host has registered for events; tests that drive the clock by hand turn
   that off (ftsimBleAutoPump) and call ftsimBlePump.
   ------------------------------------------------------------------------ */

/* Faults of a Bluetooth LE device (ftsimBleSetFaults). */
enum {
    FTSIM_BLE_WRONG_ORDER = 1u << 0,          /* characteristics 0 and 1 change places */
    FTSIM_BLE_TWO_CHARACTERISTICS = 1u << 1,  /* characteristic 2 is missing */
    FTSIM_BLE_DESCRIPTOR_TIMEOUT = 1u << 2,   /* a notification switch times out after param ms */
    FTSIM_BLE_DESCRIPTOR_ABORT = 1u << 3,     /* the first notification switch of an open is aborted */
    FTSIM_BLE_FLOOD = 1u << 4,                /* data notifications ignore the host's credit */
    FTSIM_BLE_NO_NAME = 1u << 5,              /* the device name cannot be read */
    FTSIM_BLE_FAIL_OPEN = 1u << 6,            /* the device does not open (error 5) */
    FTSIM_BLE_FAIL_SERVICES = 1u << 7,        /* the service count query fails */
    FTSIM_BLE_FAIL_SERVICES_READ = 1u << 8,   /* reading the services fails */
    FTSIM_BLE_FAIL_CHARACTERISTICS = 1u << 9, /* the characteristic count query fails */
    FTSIM_BLE_FAIL_CHARACTERISTICS_READ = 1u << 10,
    FTSIM_BLE_NO_CHARACTERISTICS = 1u << 11,  /* the service has none */
    FTSIM_BLE_FAIL_REGISTER = 1u << 12,       /* the event registration fails */
    FTSIM_BLE_FAIL_DESCRIPTORS = 1u << 13,    /* the descriptor query fails */
    FTSIM_BLE_FAIL_WRITE = 1u << 14,          /* every characteristic write fails */
    FTSIM_BLE_FAIL_SERVICE_READ_EMPTY = 1u << 15, /* reading the services gives none */
    /* The stand-in BlueZ service lists the device only from the second
       discovery start on, as BlueZ over a controller that reports an
       advertiser once per scan, when that report came too early */
    FTSIM_BLE_MISSED_SCAN = 1u << 16,
};

/* A snapshot of a Bluetooth LE device's side of the link. */
typedef struct FtSimBleState {
    int open;                 /* opened by the host */
    int registered;           /* the host registered for value-changed events */
    int notifying[3];         /* notifications on, by characteristic of the contract */
    uint32_t hostCredit;      /* bytes the device may still notify */
    int hostCreditKnown;      /* the host has announced its buffer */
    uint32_t valuesWritten;   /* data values the host wrote to characteristic 0 */
    uint32_t largestValue;    /* the largest of them */
    uint32_t bytesWritten;
    uint32_t flowMessages;    /* flow-control messages from the host */
    uint32_t lastFreed;       /* the count of the host's last BUF_BYTES_FREED_MSG */
    uint32_t bytesNotified;   /* data bytes the device notified */
} FtSimBleState;

/* Adds a Bluetooth LE device in the first free slot: name up to 63
   characters (null: FTSIM_DEFAULT_DESCRIPTION), address as 12 hex digits
   (null: one of the slot's own). Attach a simulated device behind it as
   behind a transceiver. Returns the slot or -1. */
FTSIM_API int ftsimAddBle(const char *name, const char *address);
/* FTSIM_BLE_* faults; param: the time-out in ms. */
FTSIM_API int ftsimBleSetFaults(int index, uint32_t faults, uint32_t param);
/* The device interface path the device list shows (null: its own). */
FTSIM_API int ftsimBleSetPath(int index, const char *path);
/* The receive buffer the device announces (0: it announces none) and
   whether it reports the values it took as freed. Default 2047 and on. */
FTSIM_API int ftsimBleSetDeviceBuffer(int index, uint32_t bytes, int reportFreed);
/* A flow-control message of the device (type 0 or 1), sent at the next pump. */
FTSIM_API int ftsimBleSendFlow(int index, int type, uint32_t count);
/* Notifies bytes on characteristic 1 now, as values of up to 243 bytes:
   within the host's credit (the rest is not sent), or whatever the credit
   when ignoreCredit. Returns the bytes notified, or -1. */
FTSIM_API int ftsimBleNotify(int index, const uint8_t *data, size_t size, int ignoreCredit);
FTSIM_API int ftsimBleGetState(int index, FtSimBleState *state);
/* Delivery by the simulator's own thread (on by default). */
FTSIM_API void ftsimBleAutoPump(int on);
/* Delivers what the devices have for hosts that use the GATT functions;
   returns the bytes delivered. */
FTSIM_API int ftsimBlePump(void);
/* Linux: serves the Bluetooth LE devices as BlueZ would (org.bluez on the
   bus at address; null: DBUS_SYSTEM_BUS_ADDRESS) from a thread of its own,
   with adapters adapters (0: none). 0, or -1 when the bus cannot be
   reached or the name cannot be had. Elsewhere: -1. */
FTSIM_API int ftsimBluezStart(const char *address, int adapters);
/* Linux: what any other client of the bus can do, from a connection of its
   own: a PropertiesChanged signal of the Value of characteristic 1 of the
   device that a host has opened through the stand-in BlueZ service,
   carrying these bytes. 0 once sent; -1 without such a device or bus. */
FTSIM_API int ftsimBluezForge(int index, const uint8_t *data, size_t size);
FTSIM_API void ftsimBluezStop(void);

#ifdef __cplusplus
}
#endif
