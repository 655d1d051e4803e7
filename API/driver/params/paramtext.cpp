// paramtext.cpp - parameter values and option lists as text, and setting a
// parameter from text, on the selected context.
//
// One format per value kind: boolean and integer "%-i", float "%-g" (widened
// to double), string "%s". An option-list parameter is shown by its option's
// value, never by its code.
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "QuorvaneDrv.h"
#include "API/driver/frame/lifecycle.h"
#include "API/driver/frame/log.h"
#include "API/driver/params/paramdefs.h"

namespace {

// Room every caller of QdParam2Str provides: the longest value is a
// "Sensor info" text of 79 characters (80 with its terminator), plus one.
constexpr size_t TEXT_ROOM = 81;

// Formats a value of a kind; the number of characters, or -1 for a kind
// that has no text form or a null text.
int formatValue(uint8_t kind, const QdValue &value, char *out, size_t room) {
    int n;
    switch (kind) {
    case QD_KIND_BOOL:
    case QD_KIND_INT:
        n = std::snprintf(out, room, "%-i", value.i);
        break;
    case QD_KIND_FLOAT:
        n = std::snprintf(out, room, "%-g", (double)value.f);
        break;
    case QD_KIND_STRING:
        if (!value.s) return -1;
        n = std::snprintf(out, room, "%s", value.s);
        break;
    default:
        return -1;
    }
    if (n < 0) return -1;
    return (size_t)n < room ? n : (int)(room - 1);
}

bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v'; }

// Only decimal notation is accepted: digits, a sign, a decimal point and an
// exponent (no hexadecimal, no "inf" or "nan").
bool onlyDecimalCharacters(const char *begin, const char *end) {
    for (const char *p = begin; p < end; ++p) {
        char c = *p;
        if (!((c >= '0' && c <= '9') || c == '+' || c == '-' || c == '.' || c == 'e' || c == 'E' || isBlank(c))) {
            return false;
        }
    }
    return true;
}

// Integer text (leading blanks and a sign allowed, nothing left over); an
// empty text is 0.
bool parseInteger(const char *text, int32_t *out) {
    errno = 0;
    char *end = nullptr;
    long long v = std::strtoll(text, &end, 10);
    if (*end != '\0' || errno == ERANGE || v < INT32_MIN || v > INT32_MAX) return false;
    *out = (int32_t)v;
    return true;
}

// Decimal floating-point text (nothing left over), narrowed to 32 bits; an
// empty text is 0.
bool parseFloat(const char *text, float *out) {
    char *end = nullptr;
    double v = std::strtod(text, &end);
    if (*end != '\0' || !onlyDecimalCharacters(text, end)) return false;
    *out = (float)v;
    return true;
}

}  // namespace

extern "C" char *QDCALL QdParam2Str(uint16_t id, uint16_t channel, char *buffer) {
    EngineGuard guard;
    if (!buffer) {
        qdLog("!%s\n", "QdParam2Str: No buffer");
        return nullptr;
    }
    QdParamValue v{};
    if (QdGetParam(id, channel, &v) != 0) return nullptr;
    if (formatValue((uint8_t)(v.type & 0x7F), v.value, buffer, TEXT_ROOM) < 0) return nullptr;
    return buffer;
}

extern "C" char *QDCALL QdParamList2Str(const QdParamDef *definition, char *buffer, char **pointers) {
    if (!definition || !buffer || !defIsOptionList(definition) || !definition->domain.options) {
        qdLog("!%s\n", "QdParamList2Str: No option list or no buffer");
        return nullptr;
    }
    uint8_t kind = defKind(definition);
    char *at = buffer;
    uint32_t count = 0;
    for (const QdOption *o = definition->domain.options; o->code != QD_LIST_END; ++o) {
        char text[TEXT_ROOM];
        int n = formatValue(kind, o->value, text, sizeof text);
        if (n <= 0) return nullptr;
        std::memcpy(at, text, (size_t)n + 1);
        if (pointers) pointers[count] = at;
        at += n + 1;
        ++count;
    }
    *at = '\0';
    if (pointers) pointers[count] = nullptr;
    return buffer;
}

extern "C" int QDCALL QdStr2Param(const char *text, uint16_t id, uint16_t channel) {
    EngineGuard guard;
    const QdParamDef *def = QdParamInfo(id, (int16_t)channel);
    if (!def) return 4;
    if (defIsConstant(def) || defIsNotApplicable(def)) return 3;
    if (!text) return 1;

    QdValue parsed{};
    uint8_t kind = defKind(def);
    switch (kind) {
    case QD_KIND_BOOL:
        if (!parseInteger(text, &parsed.i) || parsed.i < 0 || parsed.i > 1) return 1;
        break;
    case QD_KIND_INT:
        if (!parseInteger(text, &parsed.i)) return 1;
        break;
    case QD_KIND_FLOAT:
        if (!parseFloat(text, &parsed.f)) return 1;
        break;
    case QD_KIND_STRING:
        parsed.s = text;
        break;
    default:
        return 1;
    }

    QdValue value = parsed;
    if (defIsOptionList(def)) {
        const QdOption *list = def->domain.options;
        if (!list) return 4;
        const QdOption *match = nullptr;
        for (const QdOption *o = list; o->code != QD_LIST_END && !match; ++o) {
            switch (kind) {
            case QD_KIND_BOOL:
            case QD_KIND_INT:
                if (o->value.i == parsed.i) match = o;
                break;
            case QD_KIND_FLOAT:
                if (o->value.f == parsed.f) match = o;
                break;
            default:
                if (o->value.s && std::strcmp(o->value.s, parsed.s) == 0) match = o;
                break;
            }
        }
        if (!match) return 2;
        value = QdValue{};
        value.code = match->code;
    }
    return QdSetParam(id, channel, &value) != 0 ? 2 : 0;
}
