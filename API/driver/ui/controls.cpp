// controls.cpp - descriptors of the generated controls and the layout rules
// that place them.
#include "API/driver/ui/controls.h"

#include <cstdio>
#include <cstring>

#include "API/driver/params/paramdefs.h"
#include "API/driver/params/spine.h"

namespace {

// Ids of parameter controls: device parameter p at 2048 + p, channel
// parameter p of channel c at (c + 16) * 128 + p.
constexpr uint32_t CHANNEL_ID_BASE = 16;
constexpr uint32_t ID_BLOCK = 128;

constexpr uint32_t BASE_NUMBER_WIDTH = 10;  // boolean, integer, float edits
constexpr uint32_t BASE_LIST_WIDTH = 3;     // number option lists
constexpr uint32_t LIST_ARROW_WIDTH = 3;    // added to the widest option text
constexpr uint32_t WIDE_BASE = 48;          // from here on the width is WIDEST
constexpr uint32_t WIDEST = 47;
constexpr uint32_t CHECK_WIDTH = 2;
constexpr uint32_t CONTROL_HEIGHT = 2;      // half-lines
constexpr uint32_t ROW_GAP = 3;             // half-lines between running rows
constexpr int DROPDOWN_LIST_LINES = 22;     // u reserved for an opened list

void copyText(char *to, const char *from, size_t room) {
    std::snprintf(to, room, "%s", from ? from : "");
}

// A value in the format of its kind (text of at most room - 1 characters).
bool formatValue(uint8_t kind, const QdValue &v, char *out, size_t room) {
    switch (kind) {
    case QD_KIND_BOOL:
    case QD_KIND_INT:
        std::snprintf(out, room, "%-i", v.i);
        return true;
    case QD_KIND_FLOAT:
        std::snprintf(out, room, "%-g", (double)v.f);
        return true;
    case QD_KIND_STRING:
        if (!v.s) return false;
        std::snprintf(out, room, "%s", v.s);
        return true;
    default:
        return false;
    }
}

ControlKind kindOf(const QdParamDef *def) {
    if (defIsOptionList(def)) return CTL_DROPDOWN;
    return defKind(def) == QD_KIND_BOOL ? CTL_CHECK : CTL_EDIT;
}

// The option texts of an option-list definition into the descriptor's list;
// the widest text in w (0 without a measure).
uint32_t fillOptions(const QdParamDef *def, const TextMeasure *measure, ControlDescriptor *d) {
    uint32_t widest = 0;
    if (!def->domain.options) return 0;
    for (const QdOption *o = def->domain.options; o->code != QD_LIST_END; ++o) {
        char text[UI_TEXT_MAX];
        if (!formatValue(defKind(def), o->value, text, sizeof text) || !addListEntry(d, text)) break;
        uint32_t w = measure && measure->width ? measure->width(text, measure->context) : 0;
        if (w > widest) widest = w;
    }
    return widest;
}

uint32_t baseWidth(const QdParamDef *def, uint32_t widestOption) {
    if (defIsOptionList(def)) {
        return defKind(def) == QD_KIND_STRING ? widestOption + LIST_ARROW_WIDTH : BASE_LIST_WIDTH;
    }
    if (defKind(def) == QD_KIND_STRING) return def->domain.size;
    return BASE_NUMBER_WIDTH;
}

}  // namespace

uint32_t paramControlId(uint16_t param, uint16_t channel) {
    if (param < 128) return ID_PARAM_FIRST + param;
    return (channel + CHANNEL_ID_BASE) * ID_BLOCK + param;
}

bool paramFromControlId(uint32_t id, uint16_t *param, uint16_t *channel) {
    if (id < ID_PARAM_FIRST) return false;
    uint32_t block = id / ID_BLOCK - CHANNEL_ID_BASE;
    if (block == 0) {
        *param = (uint16_t)(id - ID_PARAM_FIRST);
        *channel = 0;
    } else {
        *param = (uint16_t)(ID_BLOCK + id % ID_BLOCK);
        *channel = (uint16_t)(block - 1);
    }
    return true;
}

void fixedControl(ControlDescriptor *d, uint32_t id, ControlKind kind, int32_t column, uint32_t row,
                  uint32_t width, uint32_t height, const char *label, const char *text) {
    std::memset(d, 0, sizeof *d);
    d->id = id;
    d->kind = kind;
    d->enabled = true;
    d->visible = true;
    d->column = column;
    d->row = row;
    d->width = width;
    d->height = height;
    copyText(d->label, label, sizeof d->label);
    copyText(d->text, text, sizeof d->text);
    d->param = 0xFFFF;
}

bool addListEntry(ControlDescriptor *d, const char *entry) {
    int n = 0;
    while (d->list[n]) ++n;
    size_t used = 0;
    if (n > 0) used = (size_t)(d->list[n - 1] - d->listText) + std::strlen(d->list[n - 1]) + 1;
    size_t length = std::strlen(entry);
    if (n >= UI_LIST_MAX || used + length + 1 > sizeof d->listText) return false;
    std::memcpy(d->listText + used, entry, length + 1);
    d->list[n] = d->listText + used;
    d->list[n + 1] = nullptr;
    return true;
}

uint32_t controlWidth(ControlKind kind, uint32_t base) {
    if (kind == CTL_CHECK) return CHECK_WIDTH;
    if (base >= WIDE_BASE) return WIDEST;
    return (base + 9) / 10 * 10;
}

void paramText(uint16_t param, uint16_t channel, char *out, int room) {
    char buffer[96];
    out[0] = '\0';
    if (QdParam2Str(param, channel, buffer)) copyText(out, buffer, (size_t)room);
}

bool paramMayEnable(uint16_t param, uint16_t channel) {
    const QdParamDef *def = QdParamInfo(param, (int16_t)channel);
    if (!def || defIsConstant(def)) return false;
    if (defIsOptionList(def) && QdGetOptNum(param, (int16_t)channel) < 2) return false;
    const SpineNode *node = spineNodeFor(param, channel);
    return node && node->lockCount == 0;
}

bool paramDescriptor(uint16_t param, uint16_t channel, const TextMeasure *measure, ControlDescriptor *out) {
    const QdParamDef *def = QdParamInfo(param, (int16_t)channel);
    if (!def || param == QD_PAR_CHANNEL_NAME || (defIsConstant(def) && defIsNotApplicable(def))) return false;
    fixedControl(out, paramControlId(param, channel), kindOf(def), 0, 0, 0, CONTROL_HEIGHT, nullptr, nullptr);
    out->param = param;
    out->channel = channel;
    int n = 0;
    if (def->unit && def->unit[0]) n = std::snprintf(out->label, sizeof out->label, "%s [%s]", def->name, def->unit);
    if (n <= 0 || n >= UI_TEXT_MAX) copyText(out->label, def->name, sizeof out->label);
    paramText(param, channel, out->text, sizeof out->text);
    uint32_t widest = defIsOptionList(def) ? fillOptions(def, measure, out) : 0;
    out->width = controlWidth(out->kind, baseWidth(def, widest));
    out->enabled = paramMayEnable(param, channel);
    out->visible = !defIsNotApplicable(def);
    return true;
}

// ---------------------------------------------------------------------------
// Layout
// ---------------------------------------------------------------------------

const char kFontSample[] = "abcdeghkmnopqrsuvwxyzABCDEFGHKLMNOPQRSTUVWXYZ1234567890@#$%^&*_+-=<>?";

LayoutUnits layoutUnits(int sampleWidth, int sampleHeight) {
    constexpr int SAMPLE_LENGTH = (int)sizeof kFontSample - 1;
    LayoutUnits units{};
    units.w = (sampleWidth + SAMPLE_LENGTH / 2) / SAMPLE_LENGTH + 1;
    units.u = sampleHeight - 1 > 2 * units.w ? sampleHeight - 1 : 2 * units.w;
    layoutSetHeader(&units, 0);
    return units;
}

void layoutSetHeader(LayoutUnits *units, int headerHeight) {
    int half = units->u / 2 > 0 ? units->u / 2 : 1;
    units->firstRow = (units->u / 4 + headerHeight) / half + 3;
}

void controlRects(const ControlDescriptor *d, int labelColumn, uint32_t row, const LayoutUnits *units,
                  Rect *label, Rect *control) {
    int column = d->column;
    if (d->labelColumn != 0) labelColumn = d->labelColumn;
    if (column < -1) {
        labelColumn += column + 1;
        column = -1;
    }
    int y = (int)(d->row != 0 ? d->row : row) * units->u / 2;
    int height = (int)d->height * units->u / 2;
    *label = Rect{(column + 2) * units->w, y, labelColumn * units->w + 1, height};
    *control = Rect{(column + labelColumn + 3) * units->w, y, (int)d->width * units->w, height};
    if (d->kind == CTL_DROPDOWN) control->height = DROPDOWN_LIST_LINES * units->u;
}

uint32_t nextRow(const ControlDescriptor *d, uint32_t row) {
    return d->row == 0 ? row + d->height + ROW_GAP : row;
}
