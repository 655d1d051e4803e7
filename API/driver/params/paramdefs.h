// paramdefs.h - the small rules every parameter definition obeys: the value
// index of a value, the number of values of a parameter over its variants,
// and the domain test.
//
// A parameter may have several definitions ("variants") that follow one
// another in its list with the same id; the first is the base definition.
#pragma once

#include <cstdint>

#include "QuorvaneDrv.h"

// Value kind (bits 0..6 of the type byte) and option-list bit.
inline uint8_t defKind(const QdParamDef *d) { return (uint8_t)(d->type & 0x7F); }
inline bool defIsOptionList(const QdParamDef *d) { return (d->type & QD_TYPE_OPTION_LIST) != 0; }
// A text value (kind string without an option list; an option list with
// text values stores option codes).
inline bool defIsString(const QdParamDef *d) { return !defIsOptionList(d) && defKind(d) == QD_KIND_STRING; }
inline bool defIsConstant(const QdParamDef *d) { return (d->flags & QD_FLAG_CONSTANT) != 0; }
inline bool defIsNotApplicable(const QdParamDef *d) { return (d->flags & QD_FLAG_NOT_APPLICABLE) != 0; }

// Number of definitions in the run of variants that starts at base (all
// consecutive definitions with the same id). At least 1.
uint16_t defRunLength(const QdParamDef *base);

// Number of options of an option list (0 for a null list).
uint32_t optionCount(const QdOption *list);
// The option with the given code, or null.
const QdOption *findOption(const QdOption *list, uint32_t code);

// Value index of a value under a definition: 0..65535, or
// -1 null option list, -2 option not found, -3 index range overflow,
// -4 float or string, -5 unknown kind. Errors are logged.
int32_t getValIndex(const QdParamDef *def, const QdValue *value);

// Number of values of the parameter over all its variants (largest count),
// 0 when it cannot serve as an index. Errors are logged.
uint16_t getValNum(const QdParamDef *base);

// Number of options of one definition's option list; logs and returns 0 for
// a null list. The definition must be an option list.
uint16_t getOptNum(const QdParamDef *def);

// True when the value lies outside the definition's domain. A string value
// is read at most up to the storage size, and a null text is outside.
bool valueOutsideDomain(const QdParamDef *def, const QdValue *value);
