// paramdefs.cpp - value index, value count and domain test of parameter
// definitions.
#include "API/driver/params/paramdefs.h"

#include "API/driver/frame/log.h"
#include "API/driver/frame/log_texts.h"

uint16_t defRunLength(const QdParamDef *base) {
    uint16_t n = 1;
    while (base[n].id == base->id) ++n;
    return n;
}

uint32_t optionCount(const QdOption *list) {
    uint32_t n = 0;
    if (list) {
        while (list[n].code != QD_LIST_END) ++n;
    }
    return n;
}

const QdOption *findOption(const QdOption *list, uint32_t code) {
    if (!list) return nullptr;
    for (const QdOption *o = list; o->code != QD_LIST_END; ++o) {
        if (o->code == code) return o;
    }
    return nullptr;
}

int32_t getValIndex(const QdParamDef *def, const QdValue *value) {
    if (defIsOptionList(def)) {
        const QdOption *list = def->domain.options;
        if (!list) {
            qdLog("!%s\n", kLogValIndexBadDomain);
            return -1;
        }
        for (int32_t i = 0; list[i].code != QD_LIST_END; ++i) {
            if (list[i].code == value->code) return i;
        }
        qdLog("!%s\n", kLogValIndexNoOption);
        return -2;
    }
    switch (defKind(def)) {
    case QD_KIND_BOOL:
        // A boolean is its own index. Only 0 and 1 are meaningful; anything
        // wider would not fit the 16-bit index.
        if (value->code >= 65536u) {
            qdLog("!%s\n", "getValIndex: Index range overflow");
            return -3;
        }
        return (int32_t)value->code;
    case QD_KIND_INT: {
        uint32_t diff = (uint32_t)value->i - (uint32_t)def->domain.i.min;
        if (diff >= 65536u) {
            qdLog("!%s\n", "getValIndex: Index range overflow");
            return -3;
        }
        return (int32_t)diff;
    }
    case QD_KIND_FLOAT:
    case QD_KIND_STRING:
        qdLog("!%s\n", kLogValIndexBadType);
        return -4;
    default:
        qdLog("!%s\n", "getValIndex: Unknown type");
        return -5;
    }
}

uint16_t getOptNum(const QdParamDef *def) {
    if (!def->domain.options) {
        qdLog("!%s\n", kLogOptNumBadDomain);
        return 0;
    }
    uint32_t n = optionCount(def->domain.options);
    return n > 0xFFFFu ? 0xFFFFu : (uint16_t)n;
}

uint16_t getValNum(const QdParamDef *base) {
    uint32_t best = 0;
    uint16_t run = defRunLength(base);
    for (uint16_t v = 0; v < run; ++v) {
        const QdParamDef *d = base + v;
        uint32_t count = 0;
        if (defIsOptionList(d)) {
            count = getOptNum(d);
        } else {
            switch (defKind(d)) {
            case QD_KIND_BOOL:
                count = 2;
                break;
            case QD_KIND_INT: {
                int64_t n = (int64_t)d->domain.i.max - (int64_t)d->domain.i.min + 1;
                if (n >= 65536) {
                    qdLog("!%s\n", kLogValNumOverflow);
                    return 0;
                }
                count = n > 0 ? (uint32_t)n : 0;
                break;
            }
            case QD_KIND_FLOAT:
            case QD_KIND_STRING:
                qdLog("!%s\n", kLogValNumBadType);
                return 0;
            default:
                qdLog("!%s\n", kLogValNumUnknownType);
                return 0;
            }
        }
        if (count == 0) return 0;
        if (count > best) best = count;
    }
    return (uint16_t)best;
}

static uint32_t boundedLength(const char *s, uint32_t limit) {
    uint32_t n = 0;
    while (n < limit && s[n] != '\0') ++n;
    return n;
}

bool valueOutsideDomain(const QdParamDef *def, const QdValue *value) {
    if (defIsOptionList(def)) {
        return findOption(def->domain.options, value->code) == nullptr;
    }
    switch (defKind(def)) {
    case QD_KIND_BOOL:
        return false;
    case QD_KIND_INT:
        return value->i < def->domain.i.min || value->i > def->domain.i.max;
    case QD_KIND_FLOAT:
        // A NaN lies in no range.
        return !(value->f >= def->domain.f.min && value->f <= def->domain.f.max);
    case QD_KIND_STRING:
        if (!value->s) return true;
        return boundedLength(value->s, def->domain.size) >= def->domain.size;
    default:
        return true;
    }
}
