// qdparams - prints the whole parameter tree of a device model, the way a
// host application sees it through the driver's public interface.
//
//   qdparams [options] --list
//   qdparams [options] --model NAME|INDEX [--load FILE] [--lock NAME[:CHANNEL]]...
//            [SETTING]... [--save FILE]
//   qdparams [options] --load FILE [--lock ...] [SETTING]... [--save FILE]
//
// SETTING is NAME=VALUE or NAME:CHANNEL=VALUE. NAME is a parameter's display
// name (letter case does not matter) or its numeric id; CHANNEL is a channel
// number from 0 or its letter (A to E). A channel parameter given without a
// channel is set on every channel that has it. VALUE is set through the
// driver's own text conversion (QdStr2Param): an option list takes one of its
// option values exactly as listed (250 for 250 sps, "Voltage"; a trailing
// unit such as "250 sps" is allowed, and "#N" names option code N), a switch
// takes 0 or 1 (or on/off, yes/no, true/false), a number or a text as it
// stands. Settings are applied in the order given, before the tree is printed.
//
// Settings files (the storage blob of a context, extension ".qvc", which the
// settings window also reads and writes):
//   --load FILE        load the settings of FILE before the settings of the
//                      command line: into the model given with --model (a
//                      compatible model of the same family is converted), or,
//                      without --model, into a context of the file's model
//   --save FILE        after the settings, write the context's settings to
//                      FILE (".qvc" is added when the name has no extension)
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
// tree is printed all the same), 2 bad command line or no driver, 3 a
// settings file could not be loaded or saved.
//
// A host program: it sees only the public header and the system.
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
#include "tools/common/driver_binding.h"
#include "tools/common/host.h"

namespace {

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
    DriverApi api;
    OsLibrary preload = nullptr;   // loaded before the driver
    int channels = 0;
    std::set<std::pair<uint16_t, int>> locked;  // (id, channel), channel -1 for general
};

int channelCount(const Session &s) {
    QdParamValue v{};
    if (s.api.GetParam(QD_PAR_CHANNEL_COUNT, 0, &v) != QD_GETPARAM_OK) return 0;
    return v.value.i < 0 ? 0 : (v.value.i > QD_MAX_CHANNELS ? QD_MAX_CHANNELS : v.value.i);
}

// Ids of the general list (channel -1) or of a channel, in list order.
std::vector<uint16_t> listIds(const Session &s, int channel) {
    uint16_t ids[64];
    uint16_t n = s.api.EnumParams((int16_t)channel, ids, sizeof ids);
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
            const QdParamDef *d = s.api.ParamInfo(id, (int16_t)(channel < 0 ? 0 : channel));
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

std::string setError(int rc, const QdParamDef *d, const std::string &value);

// The option values of a list as the driver writes them, for messages.
std::string validValues(const Session &s, const QdParamDef *d) {
    static char buffer[4096];
    static char *pointers[256];
    // Every option text is short: 256 options of at most 15 characters fit.
    uint32_t options = 0;
    for (const QdOption *o = d->domain.options; o && o->code != 0xFFFF; ++o) ++options;
    if (options >= 256 || !s.api.ParamList2Str(d, buffer, pointers)) return "";
    std::string out;
    for (char **p = pointers; *p; ++p) {
        if (!out.empty()) out += ", ";
        out += *p;
    }
    return out;
}

// Ends 'text' with the unit (letter case aside) after a blank?
bool endsWithUnit(const std::string &text, const char *unit) {
    if (!unit || !*unit) return false;
    size_t n = strlen(unit);
    return text.size() > n + 1 && isspace((unsigned char)text[text.size() - n - 1]) &&
           sameText(text.c_str() + text.size() - n, unit);
}

// Sets a parameter from its value text through the driver's QdStr2Param.
// Returns an empty string on success, else what is wrong in plain words.
std::string setFromText(const Session &s, const QdParamDef *d, uint16_t id, uint16_t channel, const std::string &text) {
    std::string value = text;
    if (isOptionList(d) && value.size() > 1 && value[0] == '#') {
        // An option code, for lists whose values are hard to type.
        double code = 0;
        if (host::parseNumber(value.c_str() + 1, {0, 4294967295.0, true}, &code)) {
            QdValue cell{};
            cell.code = (uint32_t)code;
            int rc = s.api.SetParam(id, channel, &cell);
            return rc == QD_SETPARAM_OK ? "" : setError(rc, d, value);
        }
    }
    if (!isOptionList(d) && kindOf(d) == QD_KIND_BOOL) {
        if (sameText(value.c_str(), "on") || sameText(value.c_str(), "yes") || sameText(value.c_str(), "true")) value = "1";
        if (sameText(value.c_str(), "off") || sameText(value.c_str(), "no") || sameText(value.c_str(), "false")) value = "0";
    }
    if (kindOf(d) != QD_KIND_STRING && endsWithUnit(value, d->unit)) value = trim(value.substr(0, value.size() - strlen(d->unit)));
    int rc = s.api.Str2Param(value.c_str(), id, channel);
    switch (rc) {
    case 0:
        return "";
    case 1:
        switch (kindOf(d)) {
        case QD_KIND_BOOL:
            return "\"" + text + "\" is not a valid value: it is 0 or 1 (on or off)";
        case QD_KIND_INT:
            return "\"" + text + "\" is not a valid value: it takes a whole number";
        default:
            return "\"" + text + "\" is not a valid value: it takes a number";
        }
    case 2:
        if (isOptionList(d)) {
            return "\"" + text + "\" is not one of its values (" + validValues(s, d) + ")";
        }
        if (kindOf(d) == QD_KIND_STRING && d->domain.size > 0 && text.size() >= d->domain.size) {
            return "\"" + text + "\" is too long (at most " + std::to_string(d->domain.size - 1) + " characters)";
        }
        return "the driver refused \"" + text + "\"";
    case 3:
        return "it is fixed by the device model or has no meaning with the channel's other settings";
    default:
        return "there is no such parameter on that channel";
    }
}

// Plain words for what QdSetParam reported.
std::string setError(int rc, const QdParamDef *d, const std::string &value) {
    switch (rc) {
    case QD_SETPARAM_OUTSIDE_DOMAIN:
        if (!isOptionList(d) && kindOf(d) == QD_KIND_STRING) {
            return "\"" + value + "\" is too long (at most " + std::to_string(d->domain.size - 1) + " characters)";
        }
        return "\"" + value + "\" is outside the values it takes";
    case QD_SETPARAM_CONSTANT:
        return "it is fixed by the device model and cannot be changed";
    case QD_SETPARAM_INVALID:
        return "there is no such parameter on that channel";
    case QD_SETPARAM_NO_CONTEXT:
        return "no device context is open";
    case QD_SETPARAM_PROFILE_FAILED:
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
            if (s.api.ParamInfo((uint16_t)id, (int16_t)c)) targets.push_back(c);
        }
    }
    bool ok = true;
    for (int c : targets) {
        const QdParamDef *d = s.api.ParamInfo((uint16_t)id, (int16_t)c);
        if (!d) {
            fprintf(stderr, "qdparams: %s: channel %d has no parameter \"%s\"\n", setting.c_str(), c, name.c_str());
            ok = false;
            continue;
        }
        std::string problem = setFromText(s, d, (uint16_t)id, (uint16_t)c, value);
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
    if (s.api.LockParam((uint16_t)id, target, 1) != 0) {
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
    const QdParamDef *d = s.api.ParamInfo(id, (int16_t)ch);
    if (!d) return;
    QdParamValue v{};
    int rc = s.api.GetParam(id, ch, &v);
    std::string value;
    const QdOption *current = nullptr;
    if (rc == QD_GETPARAM_UNKNOWN_OPTION) {
        value = "(stored option is not in the list)";
    } else if (rc != QD_GETPARAM_OK) {
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
        s.api.GetParam(QD_PAR_CHANNEL_NAME, (uint16_t)c, &name);
        printf("\nChannel %d (%s)\n", c, name.value.s ? name.value.s : "?");
        for (uint16_t id : listIds(s, c)) {
            if (id != QD_PAR_CHANNEL_NAME) printParameter(s, id, c);
        }
    }
}

// ---------------------------------------------------------------------------
// Settings files
// ---------------------------------------------------------------------------

// Largest file worth reading: a settings file is 594 or 842 bytes.
const size_t kSettingsFileMax = 65536;

// The name with ".qvc" added when its last component has no extension.
std::string withSettingsExtension(const std::string &name) {
    size_t i = name.size();
    while (i > 0 && !osIsPathSeparator(name[i - 1]) && name[i - 1] != '/') --i;
    return name.find('.', i) == std::string::npos ? name + ".qvc" : name;
}

// The model name a settings file carries, for messages (printable
// characters only, at most its 34 bytes).
std::string modelNamed(const std::vector<uint8_t> &blob) {
    std::string name;
    for (size_t k = 60; k < 94 && k < blob.size() && blob[k]; ++k) {
        name += isprint(blob[k]) ? (char)blob[k] : '?';
    }
    return name;
}

// Loads FILE into the context (-1: a context of the file's model); the
// context index, or -1 after printing what went wrong.
int loadSettings(const Session &s, const std::string &file, int16_t context) {
    std::string bytes;
    host::ReadResult read = host::readFile(file, &bytes, kSettingsFileMax + 1);
    if (read == host::ReadResult::CANNOT_OPEN) {
        fprintf(stderr, "qdparams: cannot read the settings file %s: %s\n", file.c_str(), strerror(errno));
        return -1;
    }
    if (read == host::ReadResult::FAILED) {
        fprintf(stderr, "qdparams: cannot read the settings file %s\n", file.c_str());
        return -1;
    }
    bool tooLarge = bytes.size() > kSettingsFileMax;
    if (tooLarge || bytes.empty()) {
        fprintf(stderr, "qdparams: %s is not a settings file (%s)\n", file.c_str(), tooLarge ? "far too large" : "it is empty");
        return -1;
    }
    std::vector<uint8_t> blob(bytes.begin(), bytes.end());
    std::string fileModel = modelNamed(blob);
    const char *contextModel = context >= 0 ? s.api.GetDevName() : nullptr;
    int16_t rc = s.api.SetDevConfig(context, blob.data(), (uint32_t)blob.size());
    if (rc >= 0) return rc;
    switch (rc) {
    case QD_SETCONFIG_INCOMPATIBLE:
        fprintf(stderr, "qdparams: %s is not a settings file of this driver, or of a version it does not know\n",
                file.c_str());
        break;
    case QD_SETCONFIG_OTHER_MODEL:
        fprintf(stderr, "qdparams: %s holds settings of \"%s\", which do not fit the model %s\n", file.c_str(),
                fileModel.c_str(), contextModel ? contextModel : "chosen");
        break;
    case QD_SETCONFIG_CANNOT_OPEN:
        fprintf(stderr, "qdparams: %s holds settings of \"%s\", a model the driver does not know\n", file.c_str(),
                fileModel.c_str());
        break;
    case QD_SETCONFIG_CANNOT_COPY:
        fprintf(stderr, "qdparams: %s is damaged: it is shorter than the settings of its model need\n", file.c_str());
        break;
    case QD_SETCONFIG_DEPENDENCIES:
        fprintf(stderr, "qdparams: %s holds values the model cannot take; nothing was loaded\n", file.c_str());
        break;
    default:
        fprintf(stderr, "qdparams: the driver could not load %s (error %d)\n", file.c_str(), rc);
        break;
    }
    return -1;
}

bool saveSettings(const Session &s, const std::string &file, int16_t context) {
    int32_t size = s.api.GetDevConfig(context, nullptr, 0);
    std::vector<uint8_t> blob(size > 0 ? (size_t)size : 0);
    if (size <= 0 || s.api.GetDevConfig(context, blob.data(), (uint32_t)blob.size()) != size) {
        fprintf(stderr, "qdparams: the driver gave no settings to save\n");
        return false;
    }
    std::string temp = file + ".part";
    FILE *f = fopen(temp.c_str(), "wb");
    if (!f) {
        fprintf(stderr, "qdparams: cannot write the settings file %s: %s\n", file.c_str(), strerror(errno));
        return false;
    }
    bool ok = fwrite(blob.data(), 1, blob.size(), f) == blob.size();
    ok = fclose(f) == 0 && ok;
    // Replace an older file only once the new one is complete, in one step:
    // a failed rename keeps the old file.
    ok = ok && osFileReplace(temp.c_str(), file.c_str());
    if (!ok) {
        remove(temp.c_str());
        fprintf(stderr, "qdparams: cannot write the settings file %s\n", file.c_str());
        return false;
    }
    return true;
}

int usage() {
    fprintf(stderr,
            "usage: qdparams [--library PATH] [--preload FILE] [--shared-dir DIR] --list\n"
            "       qdparams [--library PATH] [--preload FILE] [--shared-dir DIR] --model NAME|INDEX\n"
            "                [--load FILE] [--lock NAME[:CHANNEL]]... [NAME[:CHANNEL]=VALUE]... [--save FILE]\n"
            "       qdparams [--library PATH] [--preload FILE] [--shared-dir DIR] --load FILE\n"
            "                [--lock NAME[:CHANNEL]]... [NAME[:CHANNEL]=VALUE]... [--save FILE]\n");
    return 2;
}

// ---------------------------------------------------------------------------
// The run
// ---------------------------------------------------------------------------

struct Args {
    std::string library;
    const char *preload = nullptr;
    const char *shared = nullptr;
    const char *modelArg = nullptr;
    const char *loadFile = nullptr;
    const char *saveFile = nullptr;
    bool list = false;
    std::vector<std::string> locks, settings;
};

// Reads the command line; -1 to go on, else an exit status.
int parseArgs(int argc, char **argv, Args *args) {
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        bool more = i + 1 < argc;
        if (a == "--library" && more) {
            args->library = argv[++i];
        } else if (a == "--preload" && more) {
            args->preload = argv[++i];
        } else if (a == "--shared-dir" && more) {
            args->shared = argv[++i];
        } else if (a == "--model" && more) {
            args->modelArg = argv[++i];
        } else if (a == "--load" && more) {
            args->loadFile = argv[++i];
        } else if (a == "--save" && more) {
            args->saveFile = argv[++i];
        } else if (a == "--lock" && more) {
            args->locks.push_back(argv[++i]);
        } else if (a == "--list") {
            args->list = true;
        } else if (a == "--help" || a == "-h") {
            usage();
            return 0;
        } else if (a.size() > 1 && a[0] == '-' && a[1] == '-') {
            fprintf(stderr, "qdparams: unknown option %s\n", a.c_str());
            return usage();
        } else {
            args->settings.push_back(a);
        }
    }
    bool chosen = args->modelArg != nullptr || args->loadFile != nullptr;
    bool editing = !args->settings.empty() || !args->locks.empty() || args->saveFile;
    if (args->list == chosen || (args->list && editing)) return usage();
    return -1;
}

// Points the driver's log at the shared folder, loads the library to load
// first and the driver (that of this build when none is named); -1 to go
// on, else an exit status.
int loadDriver(const Args &args, Session *s) {
    if (args.shared && !host::setSharedDir(args.shared)) {
        fprintf(stderr, "qdparams: cannot use %s as the shared folder\n", args.shared);
        return 2;
    }
    OsLoadFailure failure;
    if (args.preload && !(s->preload = osLibraryLoad(args.preload, true, &failure))) {
        fprintf(stderr, "qdparams: cannot load %s: %s\n", args.preload, failure.text);
        return 2;
    }
    static const DriverHints hints = {"--library PATH", "load the simulator library first with --preload FILE"};
    std::string why;
    if (!driverLoad(&s->api, args.library, hints, &why)) {
        fprintf(stderr, "qdparams: %s\n", why.c_str());
        return 2;
    }
    return -1;
}

// The model --model names: its exact name, its index, or its name in any
// letter case; null when there is none.
const char *findModel(const char *const *names, int count, const char *arg) {
    for (int i = 0; i < count; ++i) {
        if (strcmp(names[i], arg) == 0) return names[i];
    }
    char *end = nullptr;
    long index = strtol(arg, &end, 10);
    if (*arg && *end == '\0' && index >= 0 && index < count) return names[index];
    const char *model = nullptr;
    for (int i = 0; i < count; ++i) {
        if (sameText(names[i], arg)) model = names[i];
    }
    return model;
}

// Opens the context of --model and loads --load into it (or into a context
// of the file's model); -1 to go on, else an exit status.
int openContext(const Args &args, Session *s, int16_t *context, const char **model) {
    const char *const *names = nullptr;
    int count = s->api.EnumDevices(&names);
    if (args.modelArg) {
        *model = findModel(names, count, args.modelArg);
        if (!*model) {
            fprintf(stderr, "qdparams: there is no model \"%s\"; qdparams --list shows the models\n", args.modelArg);
            return 2;
        }
        *context = s->api.OpenDevContext(*model);
        if (*context < 0) {
            fprintf(stderr, "qdparams: the driver could not open a context for %s (error %d)\n", *model, *context);
            return 2;
        }
    }
    if (args.loadFile) {
        int loaded = loadSettings(*s, args.loadFile, *context);
        if (loaded < 0) {
            if (*context >= 0) s->api.CloseDevContext((uint16_t)*context);
            driverUnload(&s->api);
            return 3;
        }
        *context = (int16_t)loaded;
        *model = s->api.GetDevName();
    }
    s->channels = channelCount(*s);
    return -1;
}

// Locks, settings, the tree and --save; the exit status.
int editAndPrint(const Args &args, Session *s, int16_t context, const char *model) {
    bool ok = true;
    for (const std::string &l : args.locks) ok = applyLock(*s, l) && ok;
    for (const std::string &setting : args.settings) ok = applySetting(*s, setting) && ok;
    printTree(*s, model);
    bool saved = true;
    if (args.saveFile) {
        std::string file = withSettingsExtension(args.saveFile);
        saved = saveSettings(*s, file, context);
        if (saved) printf("\nSettings saved to %s\n", file.c_str());
    }
    if (!saved) return 3;
    return ok ? 0 : 1;
}

}  // namespace

int main(int argc, char **argv) {
    Args args;
    int rc = parseArgs(argc, argv, &args);
    if (rc >= 0) return rc;
    Session s;
    rc = loadDriver(args, &s);
    if (rc >= 0) return rc;
    if (args.list) {
        const char *const *names = nullptr;
        int count = s.api.EnumDevices(&names);
        for (int i = 0; i < count; ++i) printf("%2d  %s\n", i, names[i]);
        driverUnload(&s.api);
        return host::stdoutWritten("qdparams") ? 0 : 1;
    }
    int16_t context = -1;
    const char *model = nullptr;
    rc = openContext(args, &s, &context, &model);
    if (rc >= 0) return rc;
    rc = editAndPrint(args, &s, context, model);
    s.api.CloseDevContext((uint16_t)context);
    driverUnload(&s.api);
    osLibraryUnload(s.preload);
    if (!host::stdoutWritten("qdparams") && rc == 0) rc = 1;
    return rc;
}
