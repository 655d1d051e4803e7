// protocol.h - the protocol engine's shared records: the per-context
// protocol state record, the table of protocol families, timers and events,
// the indicator and user-message paths and the engine lock helpers.
#pragma once

#include <cstdint>

#include "QuorvaneDrv.h"
#include "link/link.h"
#include "API/driver/frame/lifecycle.h"
#include "API/driver/params/model.h"
#include "API/driver/protocol/codec.h"
#include "API/driver/protocol/samples.h"
#include "API/driver/protocol/window_port.h"

// State 0 of every family.
enum : uint16_t { APP_IDLE = 0 };

// Events and timers share one numbering.
enum : uint16_t {
    INT_DISC = 0,   // link lost
    INT_CON = 1,    // link up again
    INT_T1 = 2,
    INT_T2 = 3,
    INT_T3 = 4,
    INT_T4 = 5,
    INT_T5 = 6,
    INT_NONE = 0xFFFF,
};
const int PROTOCOL_TIMERS = 5;   // Halvex uses INT_T1..INT_T5, Brev INT_T1..INT_T3

// Values of the link indicator (QD_IND_LINK), the public ones.
enum : uint16_t {
    LINK_IND_DISCONNECTED = QD_LINK_STATE_DISCONNECTED,
    LINK_IND_CONNECTED = QD_LINK_STATE_CONNECTED,
    LINK_IND_ERROR = QD_LINK_STATE_ERROR,
    LINK_IND_CONNECTING = QD_LINK_STATE_CONNECTING,   // only answered to a query
};

// User messages: the ids of the table in engine.cpp are the public QD_MSG_*.
enum : uint16_t {
    MSG_WRONG_MODEL = QD_MSG_WRONG_MODEL,
    MSG_UNSUPPORTED_MODEL = QD_MSG_UNSUPPORTED_MODEL,
    MSG_UNSUPPORTED_FIRMWARE = QD_MSG_UNSUPPORTED_FIRMWARE,
    MSG_UNSUPPORTED_CONFIG = QD_MSG_UNSUPPORTED_CONFIG,
    MSG_INVALID_CONFIG = QD_MSG_INVALID_CONFIG,
    MSG_NOT_RESPONDING = QD_MSG_NOT_RESPONDING,
    MSG_NOT_RESPONDING_USB = QD_MSG_NOT_RESPONDING_USB,
    MSG_LINK_LOST_IRDA = QD_MSG_LINK_LOST_IRDA,
    MSG_LINK_LOST = QD_MSG_LINK_LOST,
    MSG_LINK_LOST_USB = QD_MSG_LINK_LOST_USB,
    MSG_INCOMPATIBLE_STATE = QD_MSG_INCOMPATIBLE_STATE,
    MSG_DEVICE_ERROR = QD_MSG_DEVICE_ERROR,
    MSG_STOPPED_ON_DEVICE = QD_MSG_STOPPED_ON_DEVICE,
    MSG_RECONNECTED = QD_MSG_RECONNECTED,
    MSG_ONE_DEVICE_ONLY = QD_MSG_ONE_DEVICE_ONLY,
    MSG_HARDWARE_PROBLEM = QD_MSG_HARDWARE_PROBLEM,
    USER_MESSAGE_COUNT = QD_MSG_HARDWARE_PROBLEM + 1,
};

// The link library numbers its link kinds as the public header does.
static_assert(LINK_IRDA == QD_LINK_IRDA && LINK_BT == QD_LINK_BT && LINK_USB == QD_LINK_USB && LINK_BLE == QD_LINK_BLE,
              "link numbers of link/link.h and QuorvaneDrv.h differ");

const uint32_t CONFIG_IMAGE_SIZE = QD_IMAGE_MAX;
const uint32_t IDENT_TEXT_SIZE = 22;
const uint32_t DEVICE_ID_SIZE = 20;

// One per device context, zero at load.
struct ProtocolState {
    uint16_t state;                        // APP_* of the family
    LinkHandle link;
    char serial[14];                       // up to 13 characters
    uint16_t connected;
    uint16_t mode;
    uint16_t context;
    uint16_t channels;
    uint8_t image[CONFIG_IMAGE_SIZE];      // configuration image taken at start
    char ident[IDENT_TEXT_SIZE];           // what the first open reported
    uint32_t timers[PROTOCOL_TIMERS];      // deadlines on the driver clock, 0 = stopped
    uint16_t pendingEvent;                 // INT_* left by a thread, INT_NONE = none
    Receiver rx;
    uint8_t tx[MSG_TX_SIZE];
    SampleStaging staging;                 // Halvex
    BrevStaging brev;                      // Brev
    uint8_t battery;
    uint8_t threadBusy;                    // a connection thread runs (atomic access)
    uint8_t cancelConnect;                 // a stop gave up waiting for the connection thread
    uintptr_t closedByStop;                // handle a stop closed under a connection thread
    char deviceId[DEVICE_ID_SIZE];         // device id text taken at start
    uint32_t stops;                        // stops and closes so far (see protoStopMark)
};

extern ProtocolState protocolState[QD_MAX_CONTEXTS];

// Five operations per protocol family; each model's row in the model table
// names its family.
struct ProtocolFamilyOps {
    uint32_t (*step)(uint16_t ctx);                              // 1 = still active
    int32_t (*start)(uint16_t ctx, uint16_t mode);
    int32_t (*stop)(uint16_t ctx);                               // 0 idle, 1 stopping
    int32_t (*linkLost)(uint16_t ctx, uint16_t disc);
    int32_t (*indicator)(uint16_t ctx, uint16_t type, uint16_t sub);
};

extern const ProtocolFamilyOps halvexOps;
extern const ProtocolFamilyOps brevOps;

// Family of a model (its row's), or null for an unknown model index.
const ProtocolFamilyOps *protocolOps(uint16_t model);

// What a family gives the engine step that both share (step.cpp): its
// message and event handlers and the few rules in which the families differ.
struct FamilyStep {
    const MessageTables *tables;
    // An accepted body, an event (INT_*): 0 ends the connection.
    int (*message)(ProtocolState *ps, const uint8_t *body, uint32_t n);
    int (*event)(ProtocolState *ps, uint16_t event);
    void (*linkFailure)(ProtocolState *ps);   // after a read error
    void (*disconnect)(ProtocolState *ps);    // after a handler gave up or a body was refused
    void (*idle)(ProtocolState *ps);          // a step of an idle record; null: nothing
    uint8_t timers;                           // the family's timers: INT_T1 onwards
    uint16_t quietTimer;                      // a timer event that is not logged (INT_NONE: none)
    bool tooLongFailsLink;                    // an over-long frame is also a link failure
    const char *rejectText;                   // logged after a refused body; null: nothing
};

// One engine step of a context: the event left for it, up to ten messages
// from its link, then its expired timers. 1 while the context is active.
uint32_t protoStep(ProtocolState *ps, const FamilyStep *family);

// Thread busy flag, shared between a connection thread and the engine.
bool protoThreadBusy(const ProtocolState *ps);
void protoSetThreadBusy(ProtocolState *ps, bool busy);

// ---------------------------------------------------------------------------
// Timers, states, events, sending
// ---------------------------------------------------------------------------
extern const char *const timerNames[PROTOCOL_TIMERS];   // "INT_T1".."INT_T5"
extern const char *const eventNames[7];                  // "INT_DISC".."INT_T5"

// Starts timer t (0 = INT_T1) for ms milliseconds; logs "Timer %s started".
void protoTimerStart(ProtocolState *ps, int t, uint32_t ms, bool log);
// Stops timer t; logs "Timer %s stopped" when asked (even if it was stopped).
void protoTimerStop(ProtocolState *ps, int t, bool log);
bool protoTimerRunning(const ProtocolState *ps, int t);
// True once a running timer's deadline is reached.
bool protoTimerDue(const ProtocolState *ps, int t, uint32_t now);
// Deadline arithmetic on the wrapping 32-bit clock.
bool clockReached(uint32_t now, uint32_t deadline);

// Logs "^ " (with the context prefix) and the event name.
void protoLogEvent(uint16_t ctx, uint16_t event);

// A host callback may stop or close the context it reports on (the engine
// lock lets it back in). A handler that calls the host and then goes on
// takes a mark before the call; when the mark has moved, the host's stop or
// close holds and the handler leaves the record as the host left it.
inline uint32_t protoStopMark(const ProtocolState *ps) { return ps->stops; }
inline bool protoStoppedSince(const ProtocolState *ps, uint32_t mark) { return ps->stops != mark; }
// Counts a stop or close of the record (under the engine lock).
inline void protoCountStop(ProtocolState *ps) { ps->stops++; }

// Changes the state and writes the state trace "old -> new".
void protoSetState(ProtocolState *ps, uint16_t state, const char *const *stateNames);

// Builds and sends one message on the record's link: optional reply timer
// INT_T1 (replyMs > 0), trace, SendLink; "Sending error" when it fails.
// Returns SendLink's result.
int32_t protoSend(ProtocolState *ps, const MessageTables *tables, uint8_t code,
                  const uint8_t *payload, uint32_t payloadLength, uint32_t replyMs);

// Closes the record's link (if open) and marks it closed.
void protoCloseLink(ProtocolState *ps);

// The link-lost note of a family (tag "QH" Halvex, "QB" Brev): logs
// "# (%i) <tag>_LinkDisc(%i, disc=%i)" when disc equals the context's
// connected flag. Returns 0.
int32_t protoLinkLostNote(const char *familyTag, uint16_t ctx, uint16_t disc);

// ---------------------------------------------------------------------------
// Reports to the host and the driver's windows
// ---------------------------------------------------------------------------
void reportIndicator(uint16_t ctx, uint16_t type, uint16_t value);
void reportUserMessage(uint16_t ctx, uint16_t id, const char *extra);
extern const char *const userMessageTexts[USER_MESSAGE_COUNT];

// Closes the link of an active context, reports IND_LINK 0 and sets APP_IDLE.
void protoForceIdle(uint16_t ctx);

// ---------------------------------------------------------------------------
// Engine thread and services of other parts
// ---------------------------------------------------------------------------
// Starts (or keeps) the engine thread; false when it cannot be created.
bool engineThreadStart();
// 0 none, 1 asked to stop, 2 running.
int engineThreadState();

// Link library started once by the first user.
bool protoLinkLibraryReady();

// Operating-system version code for the Bluetooth LE check; tests may set an
// override (-1 restores the real one).
int protoOsVersionCode();
void protoSetOsVersionOverride(int code);

// The identity check of a REP_GET_DEV_INFO body of length n (both
// families): the maker and the context's model, else the user message (2
// or 1 with the reported model) and false; on success the serial number is
// kept in the record.
bool protoCheckIdentity(ProtocolState *ps, const uint8_t *body, uint32_t n);

// The Halvex family's part of a connection made by the connection thread
// (under the engine lock): connected, device information requested.
void halvexConnected(ProtocolState *ps);

// Connection threads (connect.cpp). Both set thread busy before they start.
bool connectionThreadStart(uint16_t ctx);
bool reconnectionThreadStart(uint16_t ctx);

// Attach and detach (engine.cpp, discovery.cpp): attach clears the three host
// callbacks; detach asks a running engine thread to stop and closes a
// running device search. The contexts call shutdown (stop, wait, force idle)
// and reset (clear the protocol state of a newly opened context).
void engineOnAttach();
void engineThreadOnDetach();
void discoveryOnDetach();
void engineShutdownContext(uint16_t context);
void engineResetContext(uint16_t context);

// Device search step (discovery.cpp); 1 while the search needs more steps.
uint32_t discoveryStep();
bool discoveryRunning();

// Model facts the protocol needs (from the model tables and the context).
struct ModelFacts {
    bool haveLinkType;
    bool haveChannels;
    uint16_t linkType;
    uint16_t channels;
    uint32_t imageSize;       // the descriptor's image length
    uint32_t channelStride;   // 6, or 4 for the first generation
    const char *name;
};
bool protoModelFacts(uint16_t model, ModelFacts *facts);

// Device contexts as the protocol sees them (context.cpp).
bool protoContextOpen(uint16_t ctx);          // valid index and slot in use
uint16_t protoContextModel(uint16_t ctx);
int16_t protoSelectedContext();               // -1 when none
const uint8_t *protoContextImage(uint16_t ctx);   // CONFIG_IMAGE_SIZE bytes
const char *protoContextDeviceId(uint16_t ctx);   // device id parameter text
