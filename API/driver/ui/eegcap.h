// eegcap.h - the "EEG Cap" page: which EEG cap site each cap channel is
// connected to, in five switchable sets kept in the selected context's EEG
// cap record (QdGetCapConfig). While the page exists it owns the channels'
// "EEG cap connection" parameters: their controls on the channel pages are
// locked.
//
// The cap channels are the channels that have "EEG cap connection", in
// order; cap channel k has the site list 212 + k.
#pragma once

#include <cstdint>

#include "API/driver/ui/controls.h"

constexpr int UI_CAP_CHANNELS = 4;   // channels of one set in the cap record
constexpr int UI_CAP_SETS = 5;

int capChannels(uint16_t *out, int room);
// Raises (lock) or lowers the lock count of every cap channel's "EEG cap
// connection".
void capLock(bool lock);

// Controls of the page in order (k from 0); false past the last. enable:
// the window's enabling (false while a measurement runs).
bool capPageControl(int k, bool enable, ControlDescriptor *out);
// Whether a cap page control is enabled under the window's enabling.
bool capControlEnabled(uint32_t id, bool enable);
// The site text cap channel k shows in its list for the current set
// (empty when none).
void capSiteText(int k, char *out, int room);

// What a cap command changed, for the window to show.
struct CapUpdate {
    uint32_t rebuiltChannels;   // channel pages to rebuild and re-enable (bit c)
    uint32_t siteChannels;      // channels whose "EEG cap connection" and label changed
    bool duplicate;             // the duplicate check found a conflict
};
// "Cap enable" (200) switched on or off.
void capEnable(bool on, CapUpdate *out);
// "Set1" .. "Set5" (201 .. 205): set 0 .. 4.
void capChooseSet(int set, CapUpdate *out);
// A site picked in cap channel k's list; false when the text is refused.
bool capPick(int k, const char *site, CapUpdate *out);

// Two enabled cap channels connected to the same site while the cap is
// enabled; then the warning below is due and a test must not start.
bool capDuplicateSites();
extern const char kCapDuplicateMessage[];
