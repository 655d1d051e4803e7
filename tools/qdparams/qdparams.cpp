// qdparams - prints the whole parameter tree of a device model, the way a
// host application sees it through the driver's public interface.
//
//   qdparams [options] --list
//   qdparams [options] --model NAME|INDEX [--lock NAME[:CHANNEL]]... [SETTING]...
//
// SETTING is NAME=VALUE or NAME:CHANNEL=VALUE. NAME is a parameter's display
// name (letter case does not matter) or its numeric id; CHANNEL is a channel
// number from 0 or its letter (A to E). A channel parameter given without a
// channel is set on every channel that has it. VALUE is matched against the
// option values of an option list (its text, or its number such as 250 for
// 250 sps; "#N" names option code N), else read as on/off, a number or a
// text. Settings are applied in the order given, before the tree is printed.
//
// Options:
//   --library PATH     the driver library to load (default: the library of
//                      this build, next to the tools folder)
//   --preload FILE     load this library first (a stand-in for a library the
//                      driver imports)
//   --shared-dir DIR   set ALLUSERSPROFILE to DIR before loading, so that the
//                      driver's log goes there
//
// The tree lists the general parameters, then each channel's, with the
// current value and unit, the option list in display order (the current
// option marked with *) and the flags constant, not applicable and locked.
// Locks are those this program set with --lock (the interface offers no way
// to ask for them). Exit status: 0 done, 1 a setting or lock failed (the
// tree is printed all the same), 2 bad command line or no driver.
//
// A host program: it sees only the public header and the system.
#ifdef _WIN32
#include <windows.h>
#else
#include <dlfcn.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "QuorvaneDrv.h"

namespace {

// ---------------------------------------------------------------------------
// Loading the driver
// ---------------------------------------------------------------------------

#ifdef _WIN32
typedef HMODULE Library;
Library loadLibrary(const char *path) { return LoadLibraryA(path); }
void *symbol(Library lib, const char *name) { return (void *)GetProcAddress(lib, name); }
void unloadLibrary(Library lib) { FreeLibrary(lib); }
std::string loadError() {
    char text[256];
    DWORD code = GetLastError();
    if (!FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0, text,
                        sizeof text, nullptr)) {
        snprintf(text, sizeof text, "error %lu", (unsigned long)code);
    }
    std::string s(text);
    while (!s.empty() && (s.back() == '\n' || s.back() == '\r')) s.pop_back();
    return s;
}
bool setSharedDir(const char *dir) {
    CreateDirectoryA(dir, nullptr);
    return SetEnvironmentVariableA("ALLUSERSPROFILE", dir) != 0;
}
std::string programPath(const char *) {
    char buf[MAX_PATH + 1];
    DWORD n = GetModuleFileNameA(nullptr, buf, sizeof buf);
    return n > 0 && n < sizeof buf ? std::string(buf, n) : std::string();
}
const char *const kLibraryName = sizeof(void *) == 8 ? "QuorvaneDrv64.dll" : "QuorvaneDrv.dll";
bool isSeparator(char c) { return c == '\\' || c == '/' || c == ':'; }
#else
typedef void *Library;
Library loadLibrary(const char *path) { return dlopen(path, RTLD_NOW | RTLD_GLOBAL); }
void *symbol(Library lib, const char *name) { return dlsym(lib, name); }
void unloadLibrary(Library lib) { dlclose(lib); }
std::string loadError() {
    const char *e = dlerror();
    return e ? e : "unknown error";
}
bool setSharedDir(const char *dir) {
    mkdir(dir, 0777);
    return setenv("ALLUSERSPROFILE", dir, 1) == 0;
}
std::string programPath(const char *argv0) {
    char buf[4096];
    ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
    if (n > 0) return std::string(buf, (size_t)n);
    return argv0 ? argv0 : "";
}
const char *const kLibraryName = "libQuorvaneDrv.so";
bool isSeparator(char c) { return c == '/'; }
#endif

std::string folderOf(const std::string &path) {
    size_t i = path.size();
    while (i > 0 && !isSeparator(path[i - 1])) --i;
    return path.substr(0, i);
}

bool fileExists(const std::string &path) {
    FILE *f = fopen(path.c_str(), "rb");
    if (!f) return false;
    fclose(f);
    return true;
}

// The driver API, resolved by name.
struct Driver {
    decltype(&QdEnumDevices) enumDevices;
    decltype(&QdOpenDevContext) openDevContext;
    decltype(&QdCloseDevContext) closeDevContext;
    decltype(&QdEnumParams) enumParams;
    decltype(&QdParamInfo) paramInfo;
    decltype(&QdGetParam) getParam;
    decltype(&QdSetParam) setParam;
    decltype(&QdLockParam) lockParam;
};

template <typename F>
bool resolve(Library lib, const char *name, F *out) {
    *out = reinterpret_cast<F>(symbol(lib, name));
    if (!*out) fprintf(stderr, "qdparams: the driver library has no function %s\n", name);
    return *out != nullptr;
}

bool resolveDriver(Library lib, Driver *d) {
    bool ok = resolve(lib, "QdEnumDevices", &d->enumDevices);
    ok = resolve(lib, "QdOpenDevContext", &d->openDevContext) && ok;
    ok = resolve(lib, "QdCloseDevContext", &d->closeDevContext) && ok;
    ok = resolve(lib, "QdEnumParams", &d->enumParams) && ok;
    ok = resolve(lib, "QdParamInfo", &d->paramInfo) && ok;
    ok = resolve(lib, "QdGetParam", &d->getParam) && ok;
    ok = resolve(lib, "QdSetParam", &d->setParam) && ok;
    ok = resolve(lib, "QdLockParam", &d->lockParam) && ok;
    return ok;
}

// ---------------------------------------------------------------------------
// Texts
// ---------------------------------------------------------------------------

bool sameText(const char *a, const char *b) {
    for (; *a && *b; ++a, ++b) {
        if (tolower((unsigned char)*a) != tolower((unsigned char)*b)) return false;
    }
    return *a == *b;
}

std::string trim(const std::string &s) {
    size_t a = 0, b = s.size();
    while (a < b && isspace((unsigned char)s[a])) ++a;
    while (b > a && isspace((unsigned char)s[b - 1])) --b;
    return s.substr(a, b - a);
}

bool isOptionList(const QdParamDef *d) { return (d->type & QD_TYPE_OPTION_LIST) != 0; }
int kindOf(const QdParamDef *d) { return d->type & 0x7F; }

std::string formatNumber(double v) {
    char buf[64];
    snprintf(buf, sizeof buf, "%g", v);
    return buf;
}

std::string withUnit(const std::string &value, const char *unit) {
    return unit && *unit ? value + " " + unit : value;
}

// Display text of an option's value.
std::string optionText(const QdParamDef *d, const QdOption *o) {
    if (kindOf(d) == QD_KIND_FLOAT) return withUnit(formatNumber(o->value.f), d->unit);
    if (kindOf(d) == QD_KIND_STRING) return o->value.s ? o->value.s : "";
    return formatNumber(o->value.i);
}

// ---------------------------------------------------------------------------
// The model in the driver
// ---------------------------------------------------------------------------

struct Session {
    Driver api;
    int channels = 0;
    std::set<std::pair<uint16_t, int>> locked;  // (id, channel), channel -1 for general
};

int channelCount(const Session &s) {
    QdParamValue v{};
    if (s.api.getParam(QD_PAR_CHANNEL_COUNT, 0, &v) != 0) return 0;
    return v.value.i < 0 ? 0 : (v.value.i > QD_MAX_CHANNELS ? QD_MAX_CHANNELS : v.value.i);
}

// Ids of the general list (channel -1) or of a channel, in list order.
std::vector<uint16_t> listIds(const Session &s, int channel) {
    uint16_t ids[64];
    uint16_t n = s.api.enumParams((int16_t)channel, ids, sizeof ids);
    return std::vector<uint16_t>(ids, ids + n);
}

// Finds a parameter by name or id: its id, or -1.
int findParameter(const Session &s, const std::string &name) {
    char *end = nullptr;
    errno = 0;
    long number = strtol(name.c_str(), &end, 10);
    bool numeric = !name.empty() && *end == '\0' && errno == 0;
    for (int channel = -1; channel < s.channels; ++channel) {
        for (uint16_t id : listIds(s, channel)) {
            if (numeric && number == id) return id;
            const QdParamDef *d = s.api.paramInfo(id, (int16_t)(channel < 0 ? 0 : channel));
            if (d && sameText(d->name, name.c_str())) return id;
        }
    }
    return -1;
}

// Channel from "0".."4" or "A".."E"; -1 when it is neither.
int parseChannel(const std::string &text) {
    if (text.size() == 1 && isalpha((unsigned char)text[0])) return toupper((unsigned char)text[0]) - 'A';
    char *end = nullptr;
    long v = strtol(text.c_str(), &end, 10);
    if (text.empty() || *end != '\0' || v < 0 || v > 255) return -1;
    return (int)v;
}

std::string describeOptions(const QdParamDef *d) {
    std::string out;
    for (const QdOption *o = d->domain.options; o && o->code != 0xFFFF; ++o) {
        if (!out.empty()) out += ", ";
        out += optionText(d, o);
    }
    return out;
}

// Turns a value text into a value cell for a definition. 'text' must outlive
// the cell (texts are passed by pointer). Returns an empty string on success,
// else what is wrong.
std::string parseValue(const QdParamDef *d, const std::string &text, QdValue *cell) {
    *cell = QdValue{};
    if (isOptionList(d)) {
        if (text.size() > 1 && text[0] == '#') {
            char *end = nullptr;
            unsigned long code = strtoul(text.c_str() + 1, &end, 10);
            if (*end == '\0') {
                cell->code = (uint32_t)code;
                return "";
            }
        }
        char *end = nullptr;
        double number = strtod(text.c_str(), &end);
        bool numeric = !text.empty() && (*end == '\0' || (d->unit && sameText(trim(end).c_str(), d->unit)));
        for (const QdOption *o = d->domain.options; o && o->code != 0xFFFF; ++o) {
            bool match = false;
            if (kindOf(d) == QD_KIND_STRING) {
                match = o->value.s && sameText(o->value.s, text.c_str());
            } else if (kindOf(d) == QD_KIND_FLOAT) {
                match = numeric && std::fabs(o->value.f - number) <= 1e-6 * std::fabs(number) + 1e-9;
                match = match || sameText(optionText(d, o).c_str(), text.c_str());
            }
            if (match) {
                cell->code = o->code;
                return "";
            }
        }
        return "\"" + text + "\" is not one of its options (" + describeOptions(d) + ")";
    }
    switch (kindOf(d)) {
    case QD_KIND_BOOL:
        if (sameText(text.c_str(), "1") || sameText(text.c_str(), "on") || sameText(text.c_str(), "yes") ||
            sameText(text.c_str(), "true")) {
            cell->code = 1;
            return "";
        }
        if (sameText(text.c_str(), "0") || sameText(text.c_str(), "off") || sameText(text.c_str(), "no") ||
            sameText(text.c_str(), "false")) {
            cell->code = 0;
            return "";
        }
        return "it is on or off, not \"" + text + "\"";
    case QD_KIND_INT: {
        char *end = nullptr;
        errno = 0;
        long v = strtol(text.c_str(), &end, 10);
        if (text.empty() || *end != '\0' || errno != 0) return "it takes a whole number, not \"" + text + "\"";
        cell->i = (int32_t)v;
        return "";
    }
    case QD_KIND_FLOAT: {
        char *end = nullptr;
        double v = strtod(text.c_str(), &end);
        if (text.empty() || *end != '\0') return "it takes a number, not \"" + text + "\"";
        cell->f = (float)v;
        return "";
    }
    case QD_KIND_STRING:
        cell->s = text.c_str();
        return "";
    default:
        return "its kind of value is unknown";
    }
}

// Plain words for what QdSetParam reported.
std::string setError(int rc, const QdParamDef *d, const std::string &value) {
    switch (rc) {
    case -1:
        if (!isOptionList(d) && kindOf(d) == QD_KIND_STRING) {
            return "\"" + value + "\" is too long (at most " + std::to_string(d->domain.size - 1) + " characters)";
        }
        return "\"" + value + "\" is outside the values it takes";
    case 2:
        return "it is fixed by the device model and cannot be changed";
    case 8:
        return "there is no such parameter on that channel";
    case 9:
        return "no device context is open";
    case 10:
        return "the profile could not be applied to the channel";
    default:
        return "the parameters that depend on it could not be updated (error " + std::to_string(rc) + ")";
    }
}

// Applies one NAME[:CHANNEL]=VALUE; prints what went wrong.
bool applySetting(Session &s, const std::string &setting) {
    size_t eq = setting.find('=');
    if (eq == std::string::npos || eq == 0) {
        fprintf(stderr, "qdparams: \"%s\" is no setting; write NAME=VALUE or NAME:CHANNEL=VALUE\n", setting.c_str());
        return false;
    }
    std::string name = trim(setting.substr(0, eq));
    std::string value = trim(setting.substr(eq + 1));
    int channel = -1;
    size_t colon = name.rfind(':');
    if (colon != std::string::npos) {
        channel = parseChannel(trim(name.substr(colon + 1)));
        if (channel < 0 || channel >= s.channels) {
            fprintf(stderr, "qdparams: %s: the model has channels 0 to %d (A to %c)\n", setting.c_str(),
                    s.channels - 1, 'A' + s.channels - 1);
            return false;
        }
        name = trim(name.substr(0, colon));
    }
    int id = findParameter(s, name);
    if (id < 0) {
        fprintf(stderr, "qdparams: %s: the model has no parameter \"%s\"\n", setting.c_str(), name.c_str());
        return false;
    }
    std::vector<int> targets;
    if (id < 128) {
        targets.push_back(0);
    } else if (channel >= 0) {
        targets.push_back(channel);
    } else {
        for (int c = 0; c < s.channels; ++c) {
            if (s.api.paramInfo((uint16_t)id, (int16_t)c)) targets.push_back(c);
        }
    }
    bool ok = true;
    for (int c : targets) {
        const QdParamDef *d = s.api.paramInfo((uint16_t)id, (int16_t)c);
        if (!d) {
            fprintf(stderr, "qdparams: %s: channel %d has no parameter \"%s\"\n", setting.c_str(), c, name.c_str());
            ok = false;
            continue;
        }
        QdValue cell;
        std::string problem = parseValue(d, value, &cell);
        int rc = problem.empty() ? s.api.setParam((uint16_t)id, (uint16_t)c, &cell) : 0;
        if (problem.empty() && rc != 0) problem = setError(rc, d, value);
        if (!problem.empty()) {
            if (id < 128) {
                fprintf(stderr, "qdparams: cannot set %s: %s\n", d->name, problem.c_str());
            } else {
                fprintf(stderr, "qdparams: cannot set %s on channel %d: %s\n", d->name, c, problem.c_str());
            }
            ok = false;
        }
    }
    return ok;
}

// Locks NAME or NAME:CHANNEL (CHANNEL * = every channel).
bool applyLock(Session &s, const std::string &what) {
    std::string name = what;
    int channel = -1;
    bool all = false;
    size_t colon = what.rfind(':');
    if (colon != std::string::npos) {
        std::string ch = trim(what.substr(colon + 1));
        name = trim(what.substr(0, colon));
        if (ch == "*") {
            all = true;
        } else {
            channel = parseChannel(ch);
            if (channel < 0 || channel >= s.channels) {
                fprintf(stderr, "qdparams: --lock %s: the model has channels 0 to %d\n", what.c_str(), s.channels - 1);
                return false;
            }
        }
    }
    int id = findParameter(s, name);
    if (id < 0) {
        fprintf(stderr, "qdparams: --lock %s: the model has no parameter \"%s\"\n", what.c_str(), name.c_str());
        return false;
    }
    if (id >= 128 && channel < 0) all = true;
    int16_t target = id < 128 ? 0 : (all ? -2 : (int16_t)channel);
    if (s.api.lockParam((uint16_t)id, target, 1) != 0) {
        fprintf(stderr, "qdparams: --lock %s: the parameter cannot be locked there\n", what.c_str());
        return false;
    }
    if (id < 128) {
        s.locked.insert({(uint16_t)id, -1});
    } else if (all) {
        for (int c = 0; c < s.channels; ++c) s.locked.insert({(uint16_t)id, c});
    } else {
        s.locked.insert({(uint16_t)id, channel});
    }
    return true;
}

// ---------------------------------------------------------------------------
// Printing
// ---------------------------------------------------------------------------

void printParameter(const Session &s, uint16_t id, int channel) {
    uint16_t ch = (uint16_t)(channel < 0 ? 0 : channel);
    const QdParamDef *d = s.api.paramInfo(id, (int16_t)ch);
    if (!d) return;
    QdParamValue v{};
    int rc = s.api.getParam(id, ch, &v);
    std::string value;
    const QdOption *current = nullptr;
    if (rc == 2) {
        value = "(stored option is not in the list)";
    } else if (rc != 0) {
        value = "(cannot be read)";
    } else if (isOptionList(d)) {
        for (const QdOption *o = d->domain.options; o && o->code != 0xFFFF; ++o) {
            if (o->code == v.code) current = o;
        }
        value = current ? optionText(d, current) : "?";
    } else {
        switch (kindOf(d)) {
        case QD_KIND_BOOL:
            value = v.value.code ? "on" : "off";
            break;
        case QD_KIND_INT:
            value = withUnit(std::to_string(v.value.i), d->unit);
            break;
        case QD_KIND_FLOAT:
            value = withUnit(formatNumber(v.value.f), d->unit);
            break;
        case QD_KIND_STRING:
            value = std::string("\"") + (v.value.s ? v.value.s : "") + "\"";
            break;
        default:
            value = "?";
        }
    }
    std::string flags;
    auto addFlag = [&flags](const char *f) { flags += flags.empty() ? std::string(f) : std::string(", ") + f; };
    if (d->flags & QD_FLAG_CONSTANT) addFlag("constant");
    if (d->flags & QD_FLAG_NOT_APPLICABLE) addFlag("not applicable");
    if (s.locked.count({id, channel})) addFlag("locked");

    std::string line = "  " + std::string(d->name) + " = " + value;
    if (!flags.empty()) line += "  (" + flags + ")";
    if (d->group) line += "  [" + std::string(d->group) + "]";
    printf("%s\n", line.c_str());
    if (isOptionList(d)) {
        for (const QdOption *o = d->domain.options; o && o->code != 0xFFFF; ++o) {
            printf("      %c [%u] %s", o == current ? '*' : ' ', (unsigned)o->code, optionText(d, o).c_str());
            if (o->comment) printf("  - %s", o->comment);
            printf("\n");
        }
    } else if (kindOf(d) == QD_KIND_STRING && !(d->flags & QD_FLAG_CONSTANT)) {
        printf("      text of at most %u characters\n", (unsigned)(d->domain.size ? d->domain.size - 1 : 0));
    }
}

void printTree(const Session &s, const char *model) {
    printf("Model: %s\n", model);
    printf("\nGeneral parameters\n");
    for (uint16_t id : listIds(s, -1)) printParameter(s, id, -1);
    for (int c = 0; c < s.channels; ++c) {
        QdParamValue name{};
        s.api.getParam(QD_PAR_CHANNEL_NAME, (uint16_t)c, &name);
        printf("\nChannel %d (%s)\n", c, name.value.s ? name.value.s : "?");
        for (uint16_t id : listIds(s, c)) {
            if (id != QD_PAR_CHANNEL_NAME) printParameter(s, id, c);
        }
    }
}

int usage() {
    fprintf(stderr,
            "usage: qdparams [--library PATH] [--preload FILE] [--shared-dir DIR] --list\n"
            "       qdparams [--library PATH] [--preload FILE] [--shared-dir DIR] --model NAME|INDEX\n"
            "                [--lock NAME[:CHANNEL]]... [NAME[:CHANNEL]=VALUE]...\n");
    return 2;
}

}  // namespace

int main(int argc, char **argv) {
    std::string library;
    const char *preload = nullptr;
    const char *shared = nullptr;
    const char *modelArg = nullptr;
    bool list = false;
    std::vector<std::string> locks, settings;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        bool more = i + 1 < argc;
        if (a == "--library" && more) {
            library = argv[++i];
        } else if (a == "--preload" && more) {
            preload = argv[++i];
        } else if (a == "--shared-dir" && more) {
            shared = argv[++i];
        } else if (a == "--model" && more) {
            modelArg = argv[++i];
        } else if (a == "--lock" && more) {
            locks.push_back(argv[++i]);
        } else if (a == "--list") {
            list = true;
        } else if (a == "--help" || a == "-h") {
            usage();
            return 0;
        } else if (a.size() > 1 && a[0] == '-' && a[1] == '-') {
            fprintf(stderr, "qdparams: unknown option %s\n", a.c_str());
            return usage();
        } else {
            settings.push_back(a);
        }
    }
    if (list == (modelArg != nullptr) || (list && (!settings.empty() || !locks.empty()))) return usage();

    if (library.empty()) {
        // The tools live in <build>/tools; the library in <build>.
        std::string folder = folderOf(programPath(argv[0]));
        library = kLibraryName;
        if (!folder.empty()) {
            std::string parent = folder + ".." + folder.back() + kLibraryName;
            if (fileExists(parent)) {
                library = parent;
            } else if (fileExists(folder + kLibraryName)) {
                library = folder + kLibraryName;
            }
        }
    }
    if (shared && !setSharedDir(shared)) {
        fprintf(stderr, "qdparams: cannot use %s as the shared folder\n", shared);
        return 2;
    }
    Library pre = nullptr;
    if (preload && !(pre = loadLibrary(preload))) {
        fprintf(stderr, "qdparams: cannot load %s: %s\n", preload, loadError().c_str());
        return 2;
    }
    Library lib = loadLibrary(library.c_str());
    if (!lib) {
        fprintf(stderr, "qdparams: cannot load the driver %s: %s\n", library.c_str(), loadError().c_str());
        return 2;
    }
    Session s;
    if (!resolveDriver(lib, &s.api)) return 2;

    const char *const *names = nullptr;
    int count = s.api.enumDevices(&names);
    if (list) {
        for (int i = 0; i < count; ++i) printf("%2d  %s\n", i, names[i]);
        unloadLibrary(lib);
        return 0;
    }

    const char *model = nullptr;
    for (int i = 0; i < count; ++i) {
        if (strcmp(names[i], modelArg) == 0) model = names[i];
    }
    if (!model) {
        char *end = nullptr;
        long index = strtol(modelArg, &end, 10);
        if (*modelArg && *end == '\0' && index >= 0 && index < count) model = names[index];
    }
    if (!model) {
        for (int i = 0; i < count; ++i) {
            if (sameText(names[i], modelArg)) model = names[i];
        }
    }
    if (!model) {
        fprintf(stderr, "qdparams: there is no model \"%s\"; qdparams --list shows the models\n", modelArg);
        return 2;
    }
    int16_t context = s.api.openDevContext(model);
    if (context < 0) {
        fprintf(stderr, "qdparams: the driver could not open a context for %s (error %d)\n", model, context);
        return 2;
    }
    s.channels = channelCount(s);

    bool ok = true;
    for (const std::string &l : locks) ok = applyLock(s, l) && ok;
    for (const std::string &setting : settings) ok = applySetting(s, setting) && ok;
    printTree(s, model);

    s.api.closeDevContext((uint16_t)context);
    unloadLibrary(lib);
    if (pre) unloadLibrary(pre);
    return ok ? 0 : 1;
}
