// settings.cpp - parameters by name, set from text, listed, refusals explained.
#include "tools/qdacq/settings.h"

#include <cctype>
#include <cstdlib>
#include <cstring>

namespace {

std::string lower(std::string s) {
    for (char &c : s) c = (char)std::tolower((unsigned char)c);
    return s;
}

std::string trim(const std::string &s) {
    size_t b = s.find_first_not_of(" \t");
    size_t e = s.find_last_not_of(" \t");
    return b == std::string::npos ? std::string() : s.substr(b, e - b + 1);
}

// Ids of the general list (channel -1) or of a channel, in list order.
std::vector<uint16_t> listIds(const DriverApi &api, int channel) {
    uint16_t ids[128];
    uint16_t n = api.EnumParams((int16_t)channel, ids, (uint16_t)sizeof ids);
    return std::vector<uint16_t>(ids, ids + (n < 128 ? n : 128));
}

const char *kindName(uint8_t type) {
    switch (type & 0x7F) {
    case QD_KIND_BOOL: return "a flag (0 or 1)";
    case QD_KIND_INT: return "a whole number";
    case QD_KIND_FLOAT: return "a number";
    case QD_KIND_STRING: return "a text";
    default: return "a value of an unknown kind";
    }
}

// What a definition accepts, in words.
std::string domainText(const DriverApi &api, const QdParamDef *def) {
    char text[160];
    if (def->type & QD_TYPE_OPTION_LIST) return "one of: " + optionTexts(api, def);
    switch (def->type & 0x7F) {
    case QD_KIND_BOOL: return "0 or 1 (off or on)";
    case QD_KIND_INT:
        snprintf(text, sizeof text, "a whole number from %d to %d", (int)def->domain.i.min, (int)def->domain.i.max);
        return text;
    case QD_KIND_FLOAT:
        snprintf(text, sizeof text, "a number from %g to %g", (double)def->domain.f.min, (double)def->domain.f.max);
        return text;
    case QD_KIND_STRING:
        snprintf(text, sizeof text, "a text of at most %u characters",
                 def->domain.size > 0 ? (unsigned)def->domain.size - 1 : 0u);
        return text;
    default: return "nothing this program can write";
    }
}

// All parameter names of the selected context, for an "unknown parameter" answer.
std::string allNames(const DriverApi &api, int channels) {
    std::string general, channel;
    for (uint16_t id : listIds(api, -1)) {
        const QdParamDef *d = api.ParamInfo(id, 0);
        if (d && d->name) general += std::string(general.empty() ? "" : ", ") + d->name;
    }
    std::vector<uint16_t> seen;
    for (int c = 0; c < channels; ++c) {
        for (uint16_t id : listIds(api, c)) {
            bool known = false;
            for (uint16_t s : seen) known = known || s == id;
            if (known) continue;
            seen.push_back(id);
            const QdParamDef *d = api.ParamInfo(id, (int16_t)c);
            if (d && d->name) channel += std::string(channel.empty() ? "" : ", ") + d->name;
        }
    }
    return "general parameters: " + general + "\n  channel parameters: " + channel;
}

// Finds a parameter by display name (any letter case) or id.
bool findParam(const DriverApi &api, int channels, const std::string &name, uint16_t *id) {
    char *end = nullptr;
    long number = std::strtol(name.c_str(), &end, 10);
    if (!name.empty() && *end == '\0' && number >= 0 && number <= 0xFFFF) {
        *id = (uint16_t)number;
        return true;
    }
    std::string want = lower(name);
    for (int c = -1; c < channels; ++c) {
        for (uint16_t i : listIds(api, c)) {
            const QdParamDef *d = api.ParamInfo(i, (int16_t)(c < 0 ? 0 : c));
            if (d && d->name && lower(d->name) == want) {
                *id = i;
                return true;
            }
        }
    }
    return false;
}

int parseChannel(const std::string &text) {
    if (text.size() == 1 && std::isalpha((unsigned char)text[0])) return std::toupper((unsigned char)text[0]) - 'A';
    char *end = nullptr;
    long v = std::strtol(text.c_str(), &end, 10);
    if (text.empty() || *end != '\0' || v < 0 || v > 99) return -1;
    return (int)v;
}

// Explains a QdStr2Param refusal.
std::string refusal(const DriverApi &api, const std::vector<std::string> &driverLines, int rc, uint16_t id,
                    int channel, int channels, const std::string &value) {
    bool onModel = channel < channels;
    const QdParamDef *def = onModel ? api.ParamInfo(id, (int16_t)(channel < 0 ? 0 : channel)) : nullptr;
    const QdParamDef *named = def ? def : api.ParamInfo(id, 0);
    std::string name = named && named->name ? named->name : "parameter " + std::to_string(id);
    std::string where = channel >= 0 ? " on channel " + std::to_string(channel) : std::string();
    std::string text = "the driver refused \"" + value + "\" for \"" + name + "\"" + where + ": QdStr2Param result " +
                       std::to_string(rc);
    switch (rc) {
    case 1:
        text += " (not a valid value of its kind; it takes " + std::string(def ? kindName(def->type) : "?") + ")";
        break;
    case 2:
        text += " (no such option, or the value is refused)";
        break;
    case 3:
        text += " (constant, or not applicable with the current settings)";
        break;
    case 4:
        text += " (no such parameter for this model";
        text += channel >= 0 ? " on that channel; channels are 0 to " + std::to_string(channels - 1) + ")" : ")";
        break;
    default:
        break;
    }
    for (const std::string &line : driverLines) text += "\n  driver log: " + line;
    if (def && rc != 4) {
        char current[96];
        const char *now = api.Param2Str(id, (uint16_t)(channel < 0 ? 0 : channel), current);
        if (rc == 3) {
            text += "\n  its value stays " + std::string(now ? now : "?");
        } else {
            text += "\n  valid values: " + domainText(api, def);
        }
    }
    return text;
}

}  // namespace

int contextChannels(const DriverApi &api) {
    QdParamValue v;
    std::memset(&v, 0, sizeof v);
    if (api.GetParam(QD_PAR_CHANNEL_COUNT, 0, &v) != QD_GETPARAM_OK) return 0;
    return v.value.i > 0 && v.value.i <= 6 ? v.value.i : 0;
}

long logSize(const std::string &logPath) {
    if (logPath.empty()) return 0;
    FILE *f = fopen(logPath.c_str(), "rb");
    if (!f) return 0;
    fseek(f, 0, SEEK_END);
    long n = ftell(f);
    fclose(f);
    return n < 0 ? 0 : n;
}

std::vector<std::string> logErrorsSince(const std::string &logPath, long from) {
    std::vector<std::string> lines;
    if (logPath.empty()) return lines;
    FILE *f = fopen(logPath.c_str(), "rb");
    if (!f) return lines;
    fseek(f, from, SEEK_SET);
    char buf[512];
    while (fgets(buf, sizeof buf, f)) {
        std::string s(buf);
        while (!s.empty() && (s.back() == '\n' || s.back() == '\r')) s.pop_back();
        if (!s.empty() && s[0] == '!') lines.push_back(s);
    }
    fclose(f);
    return lines;
}

std::string optionTexts(const DriverApi &api, const QdParamDef *def) {
    if (!def || !(def->type & QD_TYPE_OPTION_LIST)) return std::string();
    static char buffer[4096];
    char *pointers[64];
    // Room: at most 64 options of at most 80 characters each would not fit,
    // but the model tables have short lists; count them first.
    int count = 0;
    for (const QdOption *o = def->domain.options; o && o->code != QD_LIST_END; ++o) ++count;
    if (count >= 63) return "(long list)";
    if (!api.ParamList2Str(def, buffer, pointers)) return std::string();
    std::string out;
    for (int i = 0; pointers[i]; ++i) out += std::string(i ? ", " : "") + pointers[i];
    return out;
}

bool applySetting(const DriverApi &api, const std::string &logPath, const std::string &setting, std::string *why) {
    size_t eq = setting.find('=');
    if (eq == std::string::npos) {
        *why = "a setting reads NAME=VALUE or NAME:CHANNEL=VALUE, not \"" + setting + "\"";
        return false;
    }
    std::string name = trim(setting.substr(0, eq));
    std::string value = setting.substr(eq + 1);
    int channels = contextChannels(api);
    int channel = -1;
    size_t colon = name.rfind(':');
    if (colon != std::string::npos) {
        channel = parseChannel(trim(name.substr(colon + 1)));
        if (channel < 0) {
            *why = "\"" + name.substr(colon + 1) + "\" is not a channel: give a number from 0 or a letter A to E";
            return false;
        }
        name = trim(name.substr(0, colon));
    }
    uint16_t id = 0;
    if (!findParam(api, channels, name, &id)) {
        *why = "the model has no parameter \"" + name + "\"; its\n  " + allNames(api, channels);
        return false;
    }
    std::vector<int> targets;
    if (id < 128) {
        if (channel >= 0) {
            *why = "\"" + name + "\" is a general parameter: it takes no channel";
            return false;
        }
        targets.push_back(0);
    } else if (channel >= 0) {
        targets.push_back(channel);
    } else {
        for (int c = 0; c < channels; ++c) {
            if (api.ParamExists(id, (int16_t)c)) targets.push_back(c);
        }
        if (targets.empty()) {
            *why = "no channel of this model has \"" + name + "\"";
            return false;
        }
    }
    for (int c : targets) {
        std::string text = value;
        const QdParamDef *def = api.ParamInfo(id, (int16_t)c);
        if (def && (def->type & 0x7F) == QD_KIND_BOOL) {
            std::string l = lower(trim(value));
            if (l == "on" || l == "true" || l == "yes") text = "1";
            if (l == "off" || l == "false" || l == "no") text = "0";
        }
        long from = logSize(logPath);
        int rc = api.Str2Param(text.c_str(), id, (uint16_t)c);
        if (rc != 0) {
            // The driver's own words first, before anything else is asked.
            std::vector<std::string> lines = logErrorsSince(logPath, from);
            *why = refusal(api, lines, rc, id, id < 128 ? -1 : c, channels, value);
            return false;
        }
    }
    return true;
}

void printParameters(const DriverApi &api, FILE *out) {
    int channels = contextChannels(api);
    auto print = [&](uint16_t id, int channel) {
        const QdParamDef *d = api.ParamInfo(id, (int16_t)(channel < 0 ? 0 : channel));
        if (!d || !d->name) return;
        char value[96];
        const char *v = api.Param2Str(id, (uint16_t)(channel < 0 ? 0 : channel), value);
        fprintf(out, "  %s = %s%s%s", d->name, v ? v : "?", d->unit ? " " : "", d->unit ? d->unit : "");
        if (d->flags & QD_FLAG_CONSTANT) fprintf(out, "  (constant)");
        if (d->flags & QD_FLAG_NOT_APPLICABLE) fprintf(out, "  (not applicable)");
        if (!(d->flags & (QD_FLAG_CONSTANT | QD_FLAG_NOT_APPLICABLE))) {
            fprintf(out, "  [%s]", domainText(api, d).c_str());
        }
        fprintf(out, "\n");
    };
    fprintf(out, "General parameters:\n");
    for (uint16_t id : listIds(api, -1)) print(id, -1);
    for (int c = 0; c < channels; ++c) {
        char letter[96];
        const char *n = api.Param2Str(QD_PAR_CHANNEL_NAME, (uint16_t)c, letter);
        fprintf(out, "Channel %d (%s):\n", c, n ? n : "?");
        for (uint16_t id : listIds(api, c)) {
            if (id != QD_PAR_CHANNEL_NAME) print(id, c);
        }
    }
}

void printModels(const DriverApi &api, FILE *out, int linkType) {
    const char *const *names = nullptr;
    int n = api.EnumDevices(&names);
    for (int i = 0; i < n; ++i) {
        int16_t ctx = api.OpenDevContext(names[i]);
        int link = -1, channels = 0;
        // The link's name is the text of the model's "Link type" option.
        char linkName[96] = "?";
        if (ctx >= 0) {
            QdParamValue v;
            std::memset(&v, 0, sizeof v);
            if (api.GetParam(QD_PAR_LINK_TYPE, 0, &v) == QD_GETPARAM_OK) link = (int)v.code;
            if (link < 0 || !api.Param2Str(QD_PAR_LINK_TYPE, 0, linkName)) std::snprintf(linkName, sizeof linkName, "?");
            channels = contextChannels(api);
            api.CloseDevContext((uint16_t)ctx);
        }
        if (linkType >= 0 && link != linkType) continue;
        fprintf(out, "%2d  %-24s %-13s %d channel%s\n", i, names[i], linkName, channels, channels == 1 ? "" : "s");
    }
}
