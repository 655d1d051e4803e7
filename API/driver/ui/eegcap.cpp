// eegcap.cpp - the "EEG Cap" page's controls, commands and duplicate check.
#include "API/driver/ui/eegcap.h"

#include <cstdio>
#include <cstring>

#include "API/driver/params/paramdefs.h"
#include "API/driver/ui/pages.h"
#include "API/driver/ui/testview.h"

const char kCapDuplicateMessage[] = "Different channels connected to the same EEG cap site(s), please check.";

namespace {

constexpr int CHANNEL_LABEL_NAME = 11;
constexpr int32_t SET_COLUMNS[UI_CAP_SETS] = {2, 12, 22, 32, 42};
constexpr uint32_t ENABLE_ROW = 6, SET_ROW = 10, CONNECTIONS_ROW = 13, GROUP_ROW = 14, FIRST_LIST_ROW = 18;
constexpr uint32_t LIST_STEP = 5;
constexpr const char kCapProfile[] = "EEG 250sps";

bool capHidden(uint16_t channel) {
    const QdParamDef *def = QdParamInfo(QD_PAR_EEG_CAP, (int16_t)channel);
    return !def || defIsNotApplicable(def);
}

// Sets "EEG cap connection" of a channel to an option code and brings its
// automatic label along.
void setSite(uint16_t channel, uint32_t code, CapUpdate *out) {
    QdValue v{};
    v.code = code;
    QdSetParam(QD_PAR_EEG_CAP, channel, &v);
    autoChannelLabel(channel, true);
    out->siteChannels |= 1u << channel;
}

// The site of the current set for a channel (0 when out of the record).
uint32_t storedSite(const QdCapConfig *cap, uint16_t channel) {
    if (cap->currentSet >= UI_CAP_SETS || channel >= UI_CAP_CHANNELS) return 0;
    return cap->sites[cap->currentSet][channel];
}

}  // namespace

int capChannels(uint16_t *out, int room) {
    int n = 0;
    int channels = selectedChannelCount();
    for (int c = 0; c < channels && n < room; ++c) {
        if (QdParamExists(QD_PAR_EEG_CAP, (int16_t)c)) out[n++] = (uint16_t)c;
    }
    return n;
}

void capLock(bool lock) {
    uint16_t channels[UI_CAP_CHANNELS];
    int n = capChannels(channels, UI_CAP_CHANNELS);
    for (int k = 0; k < n; ++k) QdLockParam(QD_PAR_EEG_CAP, (int16_t)channels[k], lock ? 1 : 0);
}

void capSiteText(int k, char *out, int room) {
    uint16_t channels[UI_CAP_CHANNELS];
    const QdCapConfig *cap = QdGetCapConfig();
    out[0] = '\0';
    if (!cap || k < 0 || k >= capChannels(channels, UI_CAP_CHANNELS)) return;
    const QdParamDef *def = QdParamInfo(QD_PAR_EEG_CAP, (int16_t)channels[k]);
    const QdOption *o = def && defIsOptionList(def) ? findOption(def->domain.options, storedSite(cap, channels[k])) : nullptr;
    if (o && o->value.s) std::snprintf(out, (size_t)room, "%s", o->value.s);
}

bool capControlEnabled(uint32_t id, bool enable) {
    const QdCapConfig *cap = QdGetCapConfig();
    bool capOn = enable && cap && cap->enabled;
    if (id == ID_CAP_ENABLE || id == ID_CAP_GROUP) return enable || id == ID_CAP_GROUP;
    if (id >= ID_CAP_LIST_FIRST && id < ID_CAP_LIST_FIRST + UI_CAP_CHANNELS) {
        uint16_t channels[UI_CAP_CHANNELS];
        int k = (int)(id - ID_CAP_LIST_FIRST);
        if (k >= capChannels(channels, UI_CAP_CHANNELS)) return false;
        return capOn && channelEnabled(channels[k]) && !capHidden(channels[k]);
    }
    return capOn;
}

bool capPageControl(int k, bool enable, ControlDescriptor *out) {
    const QdCapConfig *cap = QdGetCapConfig();
    uint16_t channels[UI_CAP_CHANNELS];
    int n = capChannels(channels, UI_CAP_CHANNELS);
    if (!cap || k < 0 || k >= 8 + n) return false;
    if (k == 0) {
        fixedControl(out, ID_CAP_ENABLE, CTL_CHECK, 2, ENABLE_ROW, 2, 2, "Cap enable", cap->enabled ? "1" : "0");
    } else if (k <= UI_CAP_SETS) {
        char text[8];
        std::snprintf(text, sizeof text, "Set%d", k);
        fixedControl(out, ID_CAP_SET_FIRST + (uint32_t)(k - 1), CTL_RADIO, SET_COLUMNS[k - 1], SET_ROW, 6, 3, nullptr,
                     text);
        out->checked = cap->currentSet == (uint32_t)(k - 1);
    } else if (k == 6) {
        fixedControl(out, ID_CAP_GROUP, CTL_GROUP, -11, GROUP_ROW, 72, 60, nullptr, nullptr);
    } else if (k == 7) {
        fixedControl(out, ID_CAP_CONNECTIONS, CTL_TEXT, -10, CONNECTIONS_ROW, 10, 2, nullptr, " Connections");
    } else {
        int list = k - 8;
        char label[32], name[16];
        channelName(channels[list], CHANNEL_LABEL_NAME, name, sizeof name);
        std::snprintf(label, sizeof label, "Channel %s", name);
        fixedControl(out, ID_CAP_LIST_FIRST + (uint32_t)list, CTL_SITE_LIST, 2, FIRST_LIST_ROW + LIST_STEP * list, 46, 4,
                     label, nullptr);
        const QdParamDef *def = QdParamInfo(QD_PAR_EEG_CAP, (int16_t)channels[list]);
        for (const QdOption *o = def && defIsOptionList(def) ? def->domain.options : nullptr; o && o->code != QD_LIST_END;
             ++o) {
            if (!o->value.s || !addListEntry(out, o->value.s)) break;
        }
        capSiteText(list, out->text, sizeof out->text);
    }
    out->enabled = capControlEnabled(out->id, enable);
    return true;
}

// ---------------------------------------------------------------------------
// Commands
// ---------------------------------------------------------------------------

void capEnable(bool on, CapUpdate *out) {
    std::memset(out, 0, sizeof *out);
    QdCapConfig *cap = QdGetCapConfig();
    if (!cap) return;
    cap->enabled = on ? 1 : 0;
    uint16_t channels[UI_CAP_CHANNELS];
    int n = capChannels(channels, UI_CAP_CHANNELS);
    for (int k = 0; k < n; ++k) {
        uint16_t c = channels[k];
        if (on) {
            QdStr2Param("1", QD_PAR_CHANNEL_ENABLE, c);
            QdStr2Param(kCapProfile, QD_PAR_CHANNEL_PROFILE, c);
            out->rebuiltChannels |= 1u << c;
        }
        if (!capHidden(c)) setSite(c, on ? storedSite(cap, c) : 0, out);
    }
    out->duplicate = on && capDuplicateSites();
}

void capChooseSet(int set, CapUpdate *out) {
    std::memset(out, 0, sizeof *out);
    QdCapConfig *cap = QdGetCapConfig();
    if (!cap || set < 0 || set >= UI_CAP_SETS) return;
    cap->currentSet = (uint32_t)set;
    uint16_t channels[UI_CAP_CHANNELS];
    int n = capChannels(channels, UI_CAP_CHANNELS);
    for (int k = 0; k < n; ++k) {
        if (!capHidden(channels[k])) setSite(channels[k], storedSite(cap, channels[k]), out);
    }
    out->duplicate = capDuplicateSites();
}

bool capPick(int k, const char *site, CapUpdate *out) {
    std::memset(out, 0, sizeof *out);
    uint16_t channels[UI_CAP_CHANNELS];
    if (k < 0 || k >= capChannels(channels, UI_CAP_CHANNELS)) return false;
    if (QdStr2Param(site, QD_PAR_EEG_CAP, channels[k]) != 0) return false;
    autoChannelLabel(channels[k], true);
    out->siteChannels |= 1u << channels[k];
    out->duplicate = capDuplicateSites();
    return true;
}

bool capDuplicateSites() {
    const QdCapConfig *cap = QdGetCapConfig();
    if (!cap || !cap->enabled) return false;
    char seen[UI_CAP_CHANNELS * 2][96];
    int count = 0;
    int channels = selectedChannelCount();
    for (int c = 0; c < channels; ++c) {
        if (!QdParamExists(QD_PAR_EEG_CAP, (int16_t)c) || capHidden((uint16_t)c) || !channelEnabled((uint16_t)c)) continue;
        const QdParamDef *def = QdParamInfo(QD_PAR_EEG_CAP, (int16_t)c);
        QdParamValue v{};
        if (QdGetParam(QD_PAR_EEG_CAP, (uint16_t)c, &v) != 0 || !def->domain.options ||
            v.code == def->domain.options[0].code || !v.value.s) {
            continue;
        }
        // Sites are compared as whole texts.
        for (int i = 0; i < count; ++i) {
            if (std::strcmp(seen[i], v.value.s) == 0) return true;
        }
        if (count < (int)(sizeof seen / sizeof seen[0])) std::snprintf(seen[count++], sizeof seen[0], "%s", v.value.s);
    }
    return false;
}
