// pages.h - the pages of the driver's windows and the logic of the
// parameter pages: which pages a device context gets, which controls a page
// holds and which of them are enabled, committing an edit, and the
// automatic channel label. Everything works on the selected context.
//
// The settings window shows: "General", one "Chan X" page per channel, then
// "EEG Cap" (a model with EEG cap sites), "Test" (not connected, a model
// with an input test range), "Status" (connected) and "About". The recorder
// shows the same device pages between pages of its own.
#pragma once

#include <cstdint>

#include "API/driver/ui/controls.h"

enum PageKind : uint8_t {
    PAGE_GENERAL,
    PAGE_CHANNEL,
    PAGE_EEG_CAP,
    PAGE_TEST,
    PAGE_STATUS,
    PAGE_ABOUT,
    PAGE_OTHER,     // a page of the hosting window's own (recorder)
    PAGE_KIND_COUNT,
};

constexpr int UI_MAX_PAGES = 13;         // tabs of one window
constexpr int UI_MAX_CHANNEL_PAGES = 8;  // channel pages exist up to 8 channels
constexpr int UI_PAGE_PARAMS = 128;      // parameters of one page

struct PageEntry {
    PageKind kind;
    uint16_t channel;   // PAGE_CHANNEL
    char title[24];
};

// Label columns (w) of the pages.
constexpr int LABEL_COLUMN_PARAMS = 23;
constexpr int LABEL_COLUMN_RECORDER = 18;
constexpr int LABEL_COLUMN_STATUS = 18;
constexpr int LABEL_COLUMN_TEST = 16;
constexpr int LABEL_COLUMN_CAP = 10;

// The device pages of the selected context (General, channels, EEG Cap,
// Test) into out; their number. "Test" only while not connected.
int devicePages(bool connected, PageEntry *out, int room);
// The settings window's pages: the device pages, "Status" while connected,
// "About".
int settingsWindowPages(bool connected, PageEntry *out, int room);
// Whether the selected context's model has a channel with this parameter.
bool anyChannelHas(uint16_t param);
// Channel count of the selected context (0 without one).
int selectedChannelCount();
// A channel's name as page titles and indicator labels show it, at most
// `longest` characters.
void channelName(uint16_t channel, int longest, char *out, int room);

// ---------------------------------------------------------------------------
// Parameter pages
// ---------------------------------------------------------------------------

// Walks the parameters of a parameter page in list order, deciding for each
// whether its control is enabled: only when enabling is asked for, no
// earlier "Channel enable" reading off or "Channel profile" reading an
// option other than the first was met on the page, and the parameter itself
// may be enabled (not read-only, two options or more, not locked).
struct PageWalk {
    int16_t channel;    // -1: the general page
    bool enable;
    uint16_t ids[UI_PAGE_PARAMS];
    int count, next;
    bool blocked;
};
void pageWalkBegin(PageWalk *walk, int16_t channel, bool enable);
bool pageWalkNext(PageWalk *walk, uint16_t *param, bool *enabled);

// The window buttons: "&Device services" (45, shown with "General"),
// "&Close" (44) and "&Next" (43).
void windowButton(uint32_t id, ControlDescriptor *out);
// The controls of the "About" page in order (k from 0); false past the last.
bool aboutPageControl(int k, ControlDescriptor *out);

// Committing an edit: what the control's text did to its parameter and
// what the window must do about it.
struct CommitResult {
    int error;              // QdStr2Param's result (0 = set)
    const char *message;    // warning text for a refusal, else null
    bool setText;           // the control must show `text`
    char text[UI_TEXT_MAX];
    bool reenable;          // re-evaluate the page's enabling
    bool rebuild;           // rebuild the page's controls (dependants changed)
    bool labelChanged;      // the channel's "Channel label" was set
};
void commitEdit(uint16_t param, uint16_t channel, const char *text, CommitResult *out);
// The warning of a refused edit (QdStr2Param's result 1 to 4), or null.
const char *commitMessage(int error);

// The automatic channel label from "Channel profile" and "EEG cap
// connection"; forced after a change on the EEG cap page. True when
// "Channel label" was set.
bool autoChannelLabel(uint16_t channel, bool forced);
