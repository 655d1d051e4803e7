// fuzz_timelimit.cpp - the recorder's "Time limit [hh:mm:ss]" parser and its
// output name with any text. A refused limit leaves the caller's value
// alone; an accepted one is made of digits, ':' and blanks only and reads
// back the same when written as h:mm:ss. The output name never writes past
// the room it is given and, when accepted, begins with the text typed.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include "API/driver/ui/recorder.h"
#include "API/driver/ui/recording.h"

namespace {

const uint32_t kUntouched = 0xDEADBEEFu;
const size_t kRoom = 300;
const uint8_t kCanary = 0xA5;

void checkLimit(const std::string &text) {
    uint32_t seconds = kUntouched;
    if (!parseTimeLimit(text.c_str(), &seconds)) {
        if (seconds != kUntouched) __builtin_trap();
        return;
    }
    for (char c : text) {
        if (c != ':' && c != ' ' && c != '\t' && (c < '0' || c > '9')) __builtin_trap();
    }
    char again[32];
    snprintf(again, sizeof again, "%u:%02u:%02u", seconds / 3600, seconds / 60 % 60, seconds % 60);
    uint32_t back = 0;
    if (!parseTimeLimit(again, &back) || back != seconds) __builtin_trap();
}

void checkOutput(const std::string &text, uint16_t format, size_t room) {
    uint8_t out[kRoom + 16];
    memset(out, kCanary, sizeof out);
    char *name = reinterpret_cast<char *>(out);
    OutputName result = outputPath(text.c_str(), format, name, room);
    for (size_t i = room; i < sizeof out; ++i) {
        if (out[i] != kCanary) __builtin_trap();
    }
    if (result == OUTPUT_OK && (strlen(name) > 255 || strncmp(name, text.c_str(), text.size()) != 0)) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size < 1) return 0;
    // The text ends at the first zero byte, as a window's text does.
    std::string text(reinterpret_cast<const char *>(data + 1), size - 1);
    text = text.c_str();
    checkLimit(text);
    checkOutput(text, (data[0] & 1) ? RECORDING_TSV : RECORDING_EDF, 1 + data[0] % kRoom);
    return 0;
}
