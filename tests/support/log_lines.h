// log_lines.h - the log lines the code writes for the named texts of
// API/driver/frame/log_texts.h and link/link_texts.h.
#pragma once

#include <string>

#include "API/driver/frame/log_texts.h"
#include "link/link_texts.h"

// "!TEXT\n": a parameter-model error, or a protocol error of context 0.
inline std::string errorLine(const std::string &text) { return "!" + text + "\n"; }
// "!}FUNCTION: TEXT\n": a function ending with a failure.
inline std::string failLine(const char *function, const char *text) {
    return std::string("!}") + function + ": " + text + "\n";
}
