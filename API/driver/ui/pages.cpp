// pages.cpp - page lists, the parameter pages' enabling, committing edits
// and the automatic channel label.
#include "API/driver/ui/pages.h"

#include <cctype>
#include <cstdio>
#include <cstring>

#include "API/driver/params/paramdefs.h"

namespace {

constexpr int CHANNEL_TITLE_NAME = 5;   // characters of the name in "Chan X"
constexpr uint32_t BUTTON_ROW = 77;
constexpr uint32_t BUTTON_HEIGHT = 4;
constexpr uint32_t BUTTON_WIDTH = 10;
constexpr int32_t SERVICES_COLUMN = 30;
constexpr uint32_t SERVICES_WIDTH = 17;
constexpr int32_t CLOSE_COLUMN = 22;
constexpr int32_t NEXT_COLUMN = 37;
constexpr int32_t ABOUT_TEXT_COLUMN = -22;   // 70 w wide, from 4 w
constexpr uint32_t ABOUT_TEXT_WIDTH = 70;
constexpr uint32_t ABOUT_TEXT_HEIGHT = 17;

const char kAboutText[] =
    "Quorvane Driver v. 5.4.5\n"
    "Copyright (C) Quorvane Systems. All rights reserved.\n\n"
    "The driver for physiological data acquisition\nequipment by Quorvane Systems.\n\n"
    "www.quorvane-systems.example";

void addPage(PageEntry *out, int room, int *n, PageKind kind, uint16_t channel, const char *title) {
    if (*n >= room) return;
    PageEntry *p = &out[(*n)++];
    p->kind = kind;
    p->channel = channel;
    std::snprintf(p->title, sizeof p->title, "%s", title);
}

// Option index of a parameter's value (0 = its first option), -1 when it
// cannot be read.
int optionIndex(uint16_t param, uint16_t channel) {
    const QdParamDef *def = QdParamInfo(param, (int16_t)channel);
    QdParamValue v{};
    if (!def || !defIsOptionList(def) || QdGetParam(param, channel, &v) != 0) return -1;
    QdValue code{};
    code.code = v.code;
    return getValIndex(def, &code);
}

bool switchedOff(uint16_t param, uint16_t channel) {
    QdParamValue v{};
    return QdGetParam(param, channel, &v) == 0 && v.value.i == 0;
}

// The text of the option a parameter reads, or an empty text.
void optionText(uint16_t param, uint16_t channel, char *out, size_t room) {
    char buffer[96];
    std::snprintf(out, room, "%s", QdParam2Str(param, channel, buffer) ? buffer : "");
}

}  // namespace

int selectedChannelCount() {
    QdParamValue v{};
    if (QdGetSelectedDevContext() < 0 || QdGetParam(QD_PAR_CHANNEL_COUNT, 0, &v) != 0) return 0;
    return v.value.i > 0 ? v.value.i : 0;
}

bool anyChannelHas(uint16_t param) {
    int channels = selectedChannelCount();
    for (int c = 0; c < channels; ++c) {
        if (QdParamExists(param, (int16_t)c)) return true;
    }
    return false;
}

void channelName(uint16_t channel, int longest, char *out, int room) {
    char buffer[96];
    if (!QdParam2Str(QD_PAR_CHANNEL_NAME, channel, buffer)) buffer[0] = '\0';
    std::snprintf(out, (size_t)room, "%.*s", longest, buffer);
}

int devicePages(bool connected, PageEntry *out, int room) {
    int n = 0;
    addPage(out, room, &n, PAGE_GENERAL, 0, "General");
    int channels = selectedChannelCount();
    if (channels <= UI_MAX_CHANNEL_PAGES) {
        for (int c = 0; c < channels; ++c) {
            char name[8], title[16];
            channelName((uint16_t)c, CHANNEL_TITLE_NAME, name, sizeof name);
            std::snprintf(title, sizeof title, "Chan %s", name);
            addPage(out, room, &n, PAGE_CHANNEL, (uint16_t)c, title);
        }
    }
    if (anyChannelHas(QD_PAR_EEG_CAP)) addPage(out, room, &n, PAGE_EEG_CAP, 0, "EEG Cap");
    if (!connected && anyChannelHas(QD_PAR_CONTINUITY_RANGE)) addPage(out, room, &n, PAGE_TEST, 0, "Test");
    return n;
}

int settingsWindowPages(bool connected, PageEntry *out, int room) {
    int n = devicePages(connected, out, room);
    if (connected) addPage(out, room, &n, PAGE_STATUS, 0, "Status");
    addPage(out, room, &n, PAGE_ABOUT, 0, "About");
    return n;
}

// ---------------------------------------------------------------------------
// Parameter pages
// ---------------------------------------------------------------------------

void pageWalkBegin(PageWalk *walk, int16_t channel, bool enable) {
    walk->channel = channel;
    walk->enable = enable;
    walk->next = 0;
    walk->blocked = false;
    walk->count = QdEnumParams(channel, walk->ids, sizeof walk->ids);
}

bool pageWalkNext(PageWalk *walk, uint16_t *param, bool *enabled) {
    if (walk->next >= walk->count) return false;
    uint16_t id = walk->ids[walk->next++];
    uint16_t channel = walk->channel < 0 ? 0 : (uint16_t)walk->channel;
    *param = id;
    *enabled = walk->enable && !walk->blocked && paramMayEnable(id, channel);
    if (walk->channel >= 0) {
        if (id == QD_PAR_CHANNEL_ENABLE && switchedOff(id, channel)) walk->blocked = true;
        if (id == QD_PAR_CHANNEL_PROFILE && optionIndex(id, channel) > 0) walk->blocked = true;
    }
    return true;
}

void windowButton(uint32_t id, ControlDescriptor *out) {
    switch (id) {
    case ID_SERVICES:
        fixedControl(out, id, CTL_BUTTON, SERVICES_COLUMN, 0, SERVICES_WIDTH, BUTTON_HEIGHT, nullptr,
                     "&Device services");
        break;
    case ID_CLOSE:
        fixedControl(out, id, CTL_BUTTON, CLOSE_COLUMN, BUTTON_ROW, BUTTON_WIDTH, BUTTON_HEIGHT, nullptr, "&Close");
        break;
    default:
        fixedControl(out, ID_NEXT, CTL_BUTTON, NEXT_COLUMN, BUTTON_ROW, BUTTON_WIDTH, BUTTON_HEIGHT, nullptr,
                     "&Next");
        break;
    }
}

bool aboutPageControl(int k, ControlDescriptor *out) {
    switch (k) {
    case 0:
        fixedControl(out, ID_ABOUT_TEXT, CTL_CENTRED_TEXT, ABOUT_TEXT_COLUMN, 0, ABOUT_TEXT_WIDTH, ABOUT_TEXT_HEIGHT,
                     nullptr, kAboutText);
        return true;
    case 1:
        fixedControl(out, ID_LICENSE, CTL_BUTTON, SERVICES_COLUMN, 0, BUTTON_WIDTH, BUTTON_HEIGHT, nullptr, "License");
        return true;
    case 2:
        fixedControl(out, ID_HELP, CTL_BUTTON, SERVICES_COLUMN, 0, BUTTON_WIDTH, BUTTON_HEIGHT, nullptr, "&Help");
        return true;
    default:
        return false;
    }
}

// ---------------------------------------------------------------------------
// Committing an edit
// ---------------------------------------------------------------------------

const char *commitMessage(int error) {
    switch (error) {
    case 1: return "Invalid data type";
    case 2: return "Data out of range";
    case 3: return "Parameter change not allowed";
    case 4: return "Invalid parameter";
    default: return nullptr;
    }
}

void commitEdit(uint16_t param, uint16_t channel, const char *text, CommitResult *out) {
    std::memset(out, 0, sizeof *out);
    const QdParamDef *def = QdParamInfo(param, (int16_t)channel);
    if (param == QD_PAR_DEVICE_ID && (!text || !text[0]) && def && defIsString(def) && def->def.s) {
        // An empty link address takes the default, which the control shows.
        text = def->def.s;
        out->setText = true;
        std::snprintf(out->text, sizeof out->text, "%s", text);
    }
    out->error = QdStr2Param(text ? text : "", param, channel);
    if (out->error != 0) {
        out->message = commitMessage(out->error);
        if (!out->message) out->message = commitMessage(4);
        out->setText = true;
        paramText(param, channel, out->text, sizeof out->text);
        return;
    }
    if (param == QD_PAR_CHANNEL_ENABLE) {
        out->reenable = true;
    } else if (def && def->dependents) {
        out->rebuild = true;
        out->reenable = param == QD_PAR_CHANNEL_PROFILE;
    }
    if (param == QD_PAR_CHANNEL_PROFILE || param == QD_PAR_EEG_CAP) {
        out->labelChanged = autoChannelLabel(channel, false);
    }
}

// ---------------------------------------------------------------------------
// Automatic channel label
// ---------------------------------------------------------------------------

bool autoChannelLabel(uint16_t channel, bool forced) {
    char composed[UI_TEXT_MAX] = "";
    int last = -1;
    if (QdParamExists(QD_PAR_CHANNEL_PROFILE, (int16_t)channel)) {
        last = optionIndex(QD_PAR_CHANNEL_PROFILE, channel);
        if (last > 0) {
            // The profile's leading word: up to the first digit, without a
            // trailing space ("EEG 250sps" gives "EEG").
            optionText(QD_PAR_CHANNEL_PROFILE, channel, composed, sizeof composed);
            size_t n = 0;
            while (composed[n] && !std::isdigit((unsigned char)composed[n])) ++n;
            while (n > 0 && composed[n - 1] == ' ') --n;
            composed[n] = '\0';
        }
    }
    if (QdParamExists(QD_PAR_EEG_CAP, (int16_t)channel)) {
        last = optionIndex(QD_PAR_EEG_CAP, channel);
        if (last > 0) {
            char site[96];
            optionText(QD_PAR_EEG_CAP, channel, site, sizeof site);
            size_t n = std::strlen(composed);
            std::snprintf(composed + n, sizeof composed - n, "%s%s", n ? " " : "", site);
        }
    }
    if (!(forced && last == 0)) {
        char current[96];
        optionText(QD_PAR_CHANNEL_LABEL, channel, current, sizeof current);
        if (!composed[0] || std::strncmp(current, composed, std::strlen(composed)) == 0) return false;
    }
    return QdStr2Param(composed, QD_PAR_CHANNEL_LABEL, channel) == 0;
}
