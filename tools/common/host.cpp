// host.cpp - the host programs' shared services, over os/os.h.
#include "tools/common/host.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace host {

// ---------------------------------------------------------------------------
// Paths and files
// ---------------------------------------------------------------------------

std::string localPath(const std::string &path) {
    if (path.find('/') != std::string::npos || path.find('\\') != std::string::npos) return path;
    return std::string(".") + separator() + path;
}

std::string programDir() {
    char path[4096];
    if (osMainModulePath(path, sizeof path) <= 0) return std::string();
    size_t cut = std::strlen(path);
    while (cut > 0 && !osIsPathSeparator(path[cut - 1])) --cut;
    return std::string(path, cut);
}

char separator() { return osPathSeparator(); }

bool fileExists(const std::string &path) { return osPathExists(path.c_str()) && !osIsDirectory(path.c_str()); }

bool makeDir(const std::string &path) {
    // Each folder on the way, then the folder itself.
    for (size_t at = path.find_first_of("/\\", 1); at != std::string::npos; at = path.find_first_of("/\\", at + 1)) {
        if (path[at - 1] != ':') osDirCreate(path.substr(0, at).c_str());
    }
    return osDirCreate(path.c_str());
}

ReadResult readFile(const std::string &path, std::string *out, size_t limit) {
    out->clear();
    FILE *f = std::fopen(path.c_str(), "rb");
    if (!f) return ReadResult::CANNOT_OPEN;
    char buf[8192];
    while (out->size() < limit) {
        size_t want = limit - out->size() < sizeof buf ? limit - out->size() : sizeof buf;
        size_t n = std::fread(buf, 1, want, f);
        if (n == 0) break;
        out->append(buf, n);
    }
    bool failed = std::ferror(f) != 0;
    std::fclose(f);
    return failed ? ReadResult::FAILED : ReadResult::OK;
}

std::string readFile(const std::string &path) {
    std::string out;
    if (readFile(path, &out, (size_t)-1) != ReadResult::OK) out.clear();
    return out;
}

// ---------------------------------------------------------------------------
// Time, environment, the driver's folder
// ---------------------------------------------------------------------------

double seconds() { return (double)osClockUs() * 1e-6; }

void sleepMs(unsigned ms) { osSleep(ms); }

std::string getEnv(const char *name) {
    char value[32768];
    return osGetEnv(name, value, sizeof value) > 0 ? std::string(value) : std::string();
}

bool setEnv(const char *name, const std::string &value) { return osSetEnv(name, value.c_str()); }

std::string sharedDir() {
    char dir[4096];
    return osSharedDataDir(dir, sizeof dir) > 0 ? std::string(dir) : std::string();
}

bool setSharedDir(const std::string &dir) {
    makeDir(dir);
    return setEnv("ALLUSERSPROFILE", dir);
}

std::string driverLogPath() {
    std::string dir = sharedDir();
    if (dir.empty()) return std::string();
    char sep = separator();
    if (dir.back() != sep && dir.back() != '/') dir += sep;
    return dir + "Quorvane" + sep + "QuorvaneDrv.log";
}

// ---------------------------------------------------------------------------
// Binding a library's exports
// ---------------------------------------------------------------------------

static_assert(sizeof(void *) == sizeof(void (*)()), "a symbol's address must fit a function pointer");

bool bindSymbols(OsLibrary library, void *base, const Symbol *table, size_t count,
                 std::vector<const char *> *missing) {
    size_t before = missing->size();
    for (size_t i = 0; i < count; ++i) {
        void *address = osLibrarySymbol(library, table[i].name);
        std::memcpy(static_cast<char *>(base) + table[i].offset, &address, sizeof address);
        if (address == nullptr) missing->push_back(table[i].name);
    }
    return missing->size() == before;
}

std::string joinNames(const std::vector<const char *> &names) {
    std::string text;
    for (const char *name : names) text += std::string(text.empty() ? "" : ", ") + name;
    return text;
}

bool parseNumber(const char *text, const NumberRange &range, double *out) {
    if (text == nullptr || *text == '\0') return false;
    char *end = nullptr;
    errno = 0;
    double v = std::strtod(text, &end);
    // strtod takes "nan" and "inf" and gives HUGE_VAL (ERANGE) on overflow.
    if (*end != '\0' || errno == ERANGE || !std::isfinite(v)) return false;
    if (v < range.low || v > range.high || (range.whole && v != std::floor(v))) return false;
    *out = v;
    return true;
}

bool stdoutWritten(const char *tool) {
    if (std::fflush(stdout) == 0 && !std::ferror(stdout)) return true;
    std::fprintf(stderr, "%s: the standard output could not be written in full\n", tool);
    return false;
}

bool numberOption(const char *tool, const char *option, const char *what, const char *text, const NumberRange &range,
                  double *out) {
    if (parseNumber(text, range, out)) return true;
    std::fprintf(stderr, "%s: %s needs %s%s from %.15g to %.15g, not \"%s\"\n", tool, option, what,
                 range.whole ? " (a whole number)" : "", range.low, range.high, text ? text : "");
    return false;
}

}  // namespace host
