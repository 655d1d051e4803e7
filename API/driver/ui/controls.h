// controls.h - the generated controls of the driver's windows, as plain
// records: what a control is, where it goes and what it starts with. The
// window code of each platform turns a ControlDescriptor into a control;
// everything decided here is the same on every system and is tested
// without a window.
//
// Units: widths and columns are in w (the window font's average character
// width, see layoutUnits), rows and heights in half-lines of u / 2 (u the
// line unit). A control's column counts from the page's label column L: its
// label starts at column + 2, the control itself at column + L + 3.
#pragma once

#include <cstdint>

#include "QuorvaneDrv.h"

// ---------------------------------------------------------------------------
// Control ids
// ---------------------------------------------------------------------------

enum : uint32_t {
    ID_TAB = 10,
    ID_IMPORT_SETTINGS = 21,      // commands the window carries out, no control
    ID_SAVE_SETTINGS = 22,
    ID_NEXT = 43,
    ID_CLOSE = 44,
    ID_SERVICES = 45,
    ID_LABEL_OFFSET = 50,         // a control's label has the control's id + 50
    ID_CAP_ENABLE = 200,
    ID_CAP_SET_FIRST = 201,       // "Set1" .. "Set5": 201 .. 205
    ID_CAP_GROUP = 211,
    ID_CAP_LIST_FIRST = 212,      // one list per cap channel
    ID_CAP_CONNECTIONS = 261,
    ID_CAP_LAST = 249,            // commands 200 .. 249 belong to the cap page
    ID_TEST = 300,
    ID_TEST_BOX_FIRST = 310,      // link, battery, pause, common voltage, channels
    ID_TEST_CHANNEL_BOX = 314,
    ID_TEST_PLUS_BAR = 414,
    ID_TEST_PLUS_READING = 514,
    ID_TEST_MINUS_BAR = 614,
    ID_TEST_MINUS_READING = 714,
    ID_STATUS_BOX_FIRST = 800,
    ID_RECORD_BOX_FIRST = 910,
    ID_ABOUT_TEXT = 1000,
    ID_LICENSE = 1001,
    ID_HELP = 1002,
    ID_PARAM_FIRST = 2048,        // parameter controls from here on
};

// Id of the control of parameter p on channel c (c ignored for device
// parameters), and the way back: false for an id that is no parameter
// control.
uint32_t paramControlId(uint16_t param, uint16_t channel);
bool paramFromControlId(uint32_t id, uint16_t *param, uint16_t *channel);

// ---------------------------------------------------------------------------
// Descriptors
// ---------------------------------------------------------------------------

enum ControlKind : uint8_t {
    CTL_CHECK,        // auto check box; text "0" or "1"
    CTL_EDIT,         // one-line edit, horizontal scrolling, sunken edge
    CTL_DROPDOWN,     // drop-down list; reserves 22 u for the opened list
    CTL_SITE_LIST,    // bordered multi-column list box, selection notification
    CTL_BUTTON,       // push button; text = caption
    CTL_RADIO,        // auto radio button; text = caption
    CTL_GROUP,        // group box (never created disabled)
    CTL_TEXT,         // static text
    CTL_CENTRED_TEXT, // static text, centred
    CTL_BOX,          // bordered static: an indicator box
    CTL_BAR,          // owner-drawn button: a test bar
    CTL_READING,      // read-only right-aligned edit: a test reading
};

constexpr int UI_TEXT_MAX = 256;
constexpr int UI_LIST_MAX = 40;        // entries of a list
constexpr int UI_LIST_TEXT_MAX = 1024; // their texts together

struct ControlDescriptor {
    uint32_t id;
    ControlKind kind;
    bool enabled;
    bool visible;          // shown together with its page
    bool checked;          // radio buttons: starts checked
    int8_t labelColumn;    // nonzero: this control's own label column
    int32_t column;        // in w, relative to the label column
    uint32_t row;          // half-lines from the top; 0 = the page's running row
    uint32_t width;        // in w
    uint32_t height;       // in half-lines
    char label[UI_TEXT_MAX];   // empty: no label
    char text[UI_TEXT_MAX];    // initial text
    const char *list[UI_LIST_MAX + 1];  // entries, null-terminated; list[0] null: none
    char listText[UI_LIST_TEXT_MAX];
    uint16_t param, channel;   // the parameter shown (param 0xFFFF: none)
};

// A descriptor of a fixed control (not a parameter). The label and the text
// are copied (null: empty).
void fixedControl(ControlDescriptor *d, uint32_t id, ControlKind kind, int32_t column, uint32_t row,
                  uint32_t width, uint32_t height, const char *label, const char *text);
// Appends an entry to the descriptor's list; false when it is full.
bool addListEntry(ControlDescriptor *d, const char *entry);

// Width of a text in w, rounded to the nearest whole w (the window measures
// it in its font).
typedef uint32_t (*TextWidthFn)(const char *text, void *context);
struct TextMeasure {
    TextWidthFn width;
    void *context;
};

// The descriptor of parameter p's control on channel c of the selected
// context, from its current definition, value and lock count. False when the
// parameter gets no control: it does not exist, is read-only and hidden, or
// is "Channel name" (which titles the channel's page).
bool paramDescriptor(uint16_t param, uint16_t channel, const TextMeasure *measure, ControlDescriptor *out);
// Whether the parameter's control may be enabled (not read-only, more than
// one option, not locked), by its current definition.
bool paramMayEnable(uint16_t param, uint16_t channel);
// A parameter value as its control shows it (empty when it has none).
void paramText(uint16_t param, uint16_t channel, char *out, int room);

// Control width in w: check box 2; otherwise the base rounded up to a
// multiple of 10, a base of 48 or more giving 47.
uint32_t controlWidth(ControlKind kind, uint32_t base);

// ---------------------------------------------------------------------------
// Layout
// ---------------------------------------------------------------------------

// Units of the window font: w from the width of the 69-character sample
// text, u from its height.
extern const char kFontSample[];
struct LayoutUnits {
    int w, u;
    int firstRow;   // r0, the first row of a page in half-lines
};
LayoutUnits layoutUnits(int sampleWidth, int sampleHeight);
// r0 from the tab control's header height t (pixels).
void layoutSetHeader(LayoutUnits *units, int headerHeight);

struct Rect {
    int x, y, width, height;
};
// Where a descriptor's label and control go on a page with label column L,
// in pixels of the window's client area; row = the running row (used when
// the descriptor's row is 0). A drop-down's height includes its opened list.
void controlRects(const ControlDescriptor *d, int labelColumn, uint32_t row, const LayoutUnits *units,
                  Rect *label, Rect *control);
// The running row after a descriptor.
uint32_t nextRow(const ControlDescriptor *d, uint32_t row);
