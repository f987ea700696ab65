/* Reads vbus.ini: sections [bus], [adapter N] and [device A:T], one "key = value" a line. */
#include "vbus_bus.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace {

std::string trim(const std::string &s)
{
    size_t b = s.find_first_not_of(" \t");
    if (b == std::string::npos)
        return std::string();
    size_t e = s.find_last_not_of(" \t");
    return s.substr(b, e - b + 1);
}

std::string lower(std::string s)
{
    for (char &c : s)
        if (c >= 'A' && c <= 'Z')
            c = char(c - 'A' + 'a');
    return s;
}

std::vector<std::string> words(const std::string &s)
{
    std::vector<std::string> out;
    size_t i = 0;
    while (i < s.size()) {
        while (i < s.size() && (s[i] == ' ' || s[i] == '\t'))
            i++;
        size_t b = i;
        while (i < s.size() && s[i] != ' ' && s[i] != '\t')
            i++;
        if (i > b)
            out.push_back(s.substr(b, i - b));
    }
    return out;
}

/* Decimal, or hexadecimal after 0x. */
bool parseNumber(const std::string &text, uint64_t max, uint64_t &out)
{
    std::string s = lower(trim(text));
    if (s.empty())
        return false;
    int base = 10;
    size_t i = 0;
    if (s.size() > 2 && s[0] == '0' && s[1] == 'x') {
        base = 16;
        i = 2;
    }
    uint64_t v = 0;
    for (; i < s.size(); i++) {
        int d;
        char c = s[i];
        if (c >= '0' && c <= '9')
            d = c - '0';
        else if (base == 16 && c >= 'a' && c <= 'f')
            d = c - 'a' + 10;
        else
            return false;
        if (v > (max - uint64_t(d)) / uint64_t(base))
            return false;
        v = v * uint64_t(base) + uint64_t(d);
    }
    out = v;
    return true;
}

/* A byte count with an optional binary suffix K, M, G or T. */
bool parseSize(const std::string &text, uint64_t &out)
{
    std::string s = lower(trim(text));
    uint64_t unit = 1;
    if (!s.empty()) {
        switch (s.back()) {
        case 'k': unit = 1ull << 10; break;
        case 'm': unit = 1ull << 20; break;
        case 'g': unit = 1ull << 30; break;
        case 't': unit = 1ull << 40; break;
        default: break;
        }
        if (unit != 1)
            s.pop_back();
    }
    uint64_t v;
    if (!parseNumber(s, (1ull << 62) / unit, v))
        return false;
    out = v * unit;
    return true;
}

bool parseBool(const std::string &text, bool &out)
{
    std::string s = lower(text);
    if (s == "1" || s == "yes" || s == "true" || s == "on") {
        out = true;
        return true;
    }
    if (s == "0" || s == "no" || s == "false" || s == "off") {
        out = false;
        return true;
    }
    return false;
}

/* A text, bare or in double quotes; quoted texts know \0, \xHH, \\ and \". */
bool parseText(const std::string &text, std::string &out, std::string &why)
{
    out.clear();
    if (text.empty() || text[0] != '"') {
        out = text;
        return true;
    }
    size_t i = 1;
    while (i < text.size() && text[i] != '"') {
        char c = text[i++];
        if (c != '\\') {
            out += c;
            continue;
        }
        if (i >= text.size())
            break;
        char e = text[i++];
        switch (e) {
        case '0': out += '\0'; break;
        case '\\': out += '\\'; break;
        case '"': out += '"'; break;
        case 't': out += '\t'; break;
        case 'x': {
            uint64_t v;
            if (i + 2 > text.size() || !parseNumber("0x" + text.substr(i, 2), 255, v)) {
                why = "bad \\x escape (two hexadecimal digits expected)";
                return false;
            }
            out += char(v);
            i += 2;
            break;
        }
        default:
            why = std::string("unknown escape \\") + e;
            return false;
        }
    }
    if (i >= text.size()) {
        why = "missing closing quote";
        return false;
    }
    if (!trim(text.substr(i + 1)).empty()) {
        why = "text after the closing quote";
        return false;
    }
    return true;
}

/* Hexadecimal bytes separated by blanks: "00 00 00 FF 00 00 02 00". */
bool parseBytes(const std::string &text, uint8_t *out, size_t count)
{
    std::vector<std::string> w = words(text);
    if (w.size() != count)
        return false;
    for (size_t i = 0; i < count; i++) {
        uint64_t v;
        if (w[i].size() > 2 || !parseNumber("0x" + w[i], 255, v))
            return false;
        out[i] = uint8_t(v);
    }
    return true;
}

bool parseTiming(const std::string &key, const std::string &value, Timing &timing, std::string &why)
{
    if (key == "completion") {
        std::string v = lower(value);
        if (v == "immediate")
            timing.completion = Completion::Immediate;
        else if (v == "async")
            timing.completion = Completion::Async;
        else {
            why = "completion must be immediate or async";
            return false;
        }
        return true;
    }
    uint64_t v;
    if (!parseNumber(value, 600000, v)) {
        why = "delay_ms must be a number of milliseconds (at most 600000)";
        return false;
    }
    timing.delayMs = int(v);
    return true;
}

bool parseStatus(const std::string &value, uint8_t &out)
{
    uint64_t v;
    std::string s = trim(value);
    /* Status codes are written as in the ASPI tables: hexadecimal, with or without 0x. */
    if (lower(s).rfind("0x", 0) != 0)
        s = "0x" + s;
    if (!parseNumber(s, 255, v))
        return false;
    out = uint8_t(v);
    return true;
}

/* fault = read|write|any lba FIRST[-LAST] | after N, then in any order:
 *   status XX      the status it ends with (04, the default: SS_ERR with sense data)
 *   sense K/ASC[/ASCQ]  sense key, additional sense code and qualifier, hexadecimal
 *                  (default 3 and the command's read or write error code, qualifier 0)
 *   lose | alter   instead of failing: a write reports success but stores nothing (lose);
 *                  the data are stored or returned with a byte changed per sector (alter)
 *   times N        only the first N requests it applies to are hit */
bool parseFault(const std::string &value, Fault &fault, std::string &why)
{
    why = "fault must read: read|write|any lba FIRST[-LAST] or after N, then optionally status XX, "
          "sense K/ASC[/ASCQ], lose or alter, times N";
    std::vector<std::string> w = words(lower(value));
    if (w.size() < 3)
        return false;
    if (w[0] == "read")
        fault.onRead = true;
    else if (w[0] == "write")
        fault.onWrite = true;
    else if (w[0] == "any")
        fault.onRead = fault.onWrite = true;
    else
        return false;
    if (w[1] == "lba") {
        fault.byRange = true;
        size_t dash = w[2].find('-');
        std::string a = w[2].substr(0, dash);
        std::string b = dash == std::string::npos ? a : w[2].substr(dash + 1);
        if (!parseNumber(a, UINT64_MAX, fault.first) || !parseNumber(b, UINT64_MAX, fault.last) ||
            fault.last < fault.first)
            return false;
    } else if (w[1] == "after") {
        uint64_t n;
        if (!parseNumber(w[2], 0xFFFFFFFFu, n))
            return false;
        fault.after = uint32_t(n);
    } else {
        return false;
    }
    for (size_t i = 3; i < w.size(); i++) {
        const bool hasValue = i + 1 < w.size();
        if (w[i] == "status" && hasValue) {
            if (!parseStatus(w[++i], fault.status))
                return false;
        } else if (w[i] == "sense" && hasValue) {
            size_t slash = w[++i].find('/');
            size_t second = slash == std::string::npos ? slash : w[i].find('/', slash + 1);
            uint8_t key = 0, asc = 0, ascq = 0;
            if (slash == std::string::npos || !parseStatus(w[i].substr(0, slash), key) || key > 0x0F ||
                !parseStatus(w[i].substr(slash + 1, second - slash - 1), asc) ||
                (second != std::string::npos && !parseStatus(w[i].substr(second + 1), ascq)))
                return false;
            fault.senseKey = key;
            fault.asc = asc;
            fault.ascq = ascq;
        } else if (w[i] == "times" && hasValue) {
            uint64_t n;
            if (!parseNumber(w[++i], 0xFFFFFFFFu, n) || n == 0)
                return false;
            fault.times = uint32_t(n);
        } else if (w[i] == "lose") {
            if (!fault.onWrite || fault.onRead) {
                why = "only a write fault can lose data";
                return false;
            }
            fault.effect = FaultEffect::LoseData;
        } else if (w[i] == "alter") {
            fault.effect = FaultEffect::AlterData;
        } else {
            return false;
        }
    }
    if (fault.status == 0) {
        why = "a fault status cannot be 0 (pending)";
        return false;
    }
    return true;
}

/* The unit attention pending after power-on, as ASC | ASCQ << 8. */
bool parseAttention(const std::string &value, uint16_t &out)
{
    const std::string v = lower(value);
    if (v == "none")
        out = 0;
    else if (v == "power_on")
        out = kAscPowerOnOrReset;
    else if (v == "medium_changed")
        out = kAscMediumMayHaveChanged;
    else if (v == "mode_changed")
        out = uint16_t(kAscParametersChanged | kAscqModeParametersChanged << 8);
    else
        return false;
    return true;
}

bool parseDeviceType(const std::string &value, uint8_t &out)
{
    static const char *const names[] = {"disk", "tape", "printer", "processor", "worm",
                                        "cdrom", "scanner", "optical", "changer", "comm"};
    std::string v = lower(value);
    for (size_t i = 0; i < sizeof names / sizeof names[0]; i++)
        if (v == names[i]) {
            out = uint8_t(i);
            return true;
        }
    uint64_t n;
    if (!parseNumber(v, 255, n))
        return false;
    out = uint8_t(n);
    return true;
}

/* Copies a text into a field, padded with `pad`; false when it is too long. */
bool putField(uint8_t *field, size_t size, const std::string &text, char pad)
{
    if (text.size() > size)
        return false;
    memset(field, pad, size);
    memcpy(field, text.data(), text.size());
    return true;
}

bool isAbsolutePath(const std::string &p)
{
    return (p.size() >= 2 && p[1] == ':') || (!p.empty() && (p[0] == '\\' || p[0] == '/'));
}

std::string directoryOf(const std::string &path)
{
    size_t slash = path.find_last_of("\\/");
    return slash == std::string::npos ? std::string(".") : path.substr(0, slash);
}

std::string expandEnvironment(const std::string &s)
{
    char buffer[MAX_PATH * 2];
    DWORD n = ExpandEnvironmentStringsA(s.c_str(), buffer, sizeof buffer);
    if (n == 0 || n > sizeof buffer)
        return s;
    return buffer;
}

std::string resolvePath(const std::string &base, const std::string &value)
{
    std::string p = expandEnvironment(value);
    if (p.empty() || isAbsolutePath(p))
        return p;
    return base + "\\" + p;
}

bool readWholeFile(const std::string &path, std::string &text, std::string &error)
{
    HANDLE h = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                           OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        char msg[64];
        snprintf(msg, sizeof msg, ": cannot open the configuration (error %lu)", GetLastError());
        error = path + msg;
        return false;
    }
    char chunk[4096];
    DWORD got = 0;
    bool ok = true;
    while ((ok = ReadFile(h, chunk, sizeof chunk, &got, nullptr) != 0) && got > 0)
        text.append(chunk, got);
    CloseHandle(h);
    if (!ok)
        error = path + ": cannot read the configuration";
    return ok;
}

enum class Section { None, Bus, Adapter, Device };

struct Parser {
    Bus &bus;
    std::string iniDir;
    std::string imageDir;
    Section section = Section::None;
    Adapter *adapter = nullptr;
    size_t device = 0;
    std::vector<bool> adapterSeen;
    int maxAdapterSection = -1;

    explicit Parser(Bus &b) : bus(b) {}

    Adapter &adapterAt(size_t index)
    {
        while (bus.adapters.size() <= index) {
            bus.adapters.emplace_back();
            Adapter &a = bus.adapters.back();
            putField(a.identifier, 16, "VBUS ADAPTER", '\0');
        }
        return bus.adapters[index];
    }

    bool startSection(const std::string &header, std::string &why)
    {
        std::vector<std::string> w = words(lower(header));
        uint64_t n;
        if (w.size() == 1 && w[0] == "bus") {
            section = Section::Bus;
            return true;
        }
        if (w.size() == 2 && w[0] == "adapter") {
            if (!parseNumber(w[1], 254, n)) {
                why = "adapter number must be 0 to 254";
                return false;
            }
            if (adapterSeen.size() <= n)
                adapterSeen.resize(n + 1, false);
            if (adapterSeen[n]) {
                why = "adapter " + w[1] + " is described twice";
                return false;
            }
            adapterSeen[n] = true;
            maxAdapterSection = std::max(maxAdapterSection, int(n));
            adapter = &adapterAt(n);
            section = Section::Adapter;
            return true;
        }
        if (w.size() == 2 && w[0] == "device") {
            size_t colon = w[1].find(':');
            uint64_t a, t;
            if (colon == std::string::npos || !parseNumber(w[1].substr(0, colon), 254, a) ||
                !parseNumber(w[1].substr(colon + 1), 255, t)) {
                why = "a device section reads [device ADAPTER:TARGET], adapter 0 to 254, target 0 to 255";
                return false;
            }
            for (const Device &d : bus.devices)
                if (d.adapter == a && d.target == t) {
                    why = "device " + w[1] + " is described twice";
                    return false;
                }
            bus.devices.emplace_back();
            Device &d = bus.devices.back();
            d.adapter = uint8_t(a);
            d.target = uint8_t(t);
            putField(d.inquiryText, 8, "VBUS", ' ');
            putField(d.inquiryText + 8, 16, "VIRTUAL DISK", ' ');
            putField(d.inquiryText + 24, 4, "1.0", ' ');
            device = bus.devices.size() - 1;
            section = Section::Device;
            return true;
        }
        why = "unknown section [" + header + "] (expected [bus], [adapter N] or [device A:T])";
        return false;
    }

    bool busKey(const std::string &key, const std::string &value, std::string &why)
    {
        uint64_t n;
        std::string text;
        if (key == "status") {
            if (!parseStatus(value, bus.supportStatus)) {
                why = "status must be a status code in hexadecimal, such as 01 or E4";
                return false;
            }
        } else if (key == "adapters") {
            if (!parseNumber(value, 255, n)) {
                why = "adapters must be a number from 0 to 255";
                return false;
            }
            bus.adapterCount = int(n);
        } else if (key == "manager") {
            if (!parseText(value, text, why))
                return false;
            if (!putField(bus.managerId, 16, text, '\0')) {
                why = "manager is longer than 16 bytes";
                return false;
            }
        } else if (key == "trace") {
            if (!parseText(value, text, why))
                return false;
            bus.tracePath = resolvePath(iniDir, text);
        } else if (key == "image_dir") {
            if (!parseText(value, text, why))
                return false;
            imageDir = resolvePath(iniDir, text);
        } else if (key == "refusal_status") {
            std::string v = lower(value);
            if (v != "written" && v != "returned") {
                why = "refusal_status must be written or returned";
                return false;
            }
            bus.refusalWritesStatus = v == "written";
        } else if (key == "completion" || key == "delay_ms") {
            return parseTiming(key, value, bus.timing, why);
        } else {
            why = "unknown key \"" + key + "\" in [bus]";
            return false;
        }
        return true;
    }

    bool adapterKey(const std::string &key, const std::string &value, std::string &why)
    {
        uint64_t n;
        std::string text;
        if (key == "scsi_id") {
            if (!parseNumber(value, 255, n)) {
                why = "scsi_id must be a number from 0 to 255";
                return false;
            }
            adapter->scsiId = uint8_t(n);
        } else if (key == "identifier") {
            if (!parseText(value, text, why))
                return false;
            if (!putField(adapter->identifier, 16, text, '\0')) {
                why = "identifier is longer than 16 bytes";
                return false;
            }
        } else if (key == "max_targets") {
            if (!parseNumber(value, 255, n)) {
                why = "max_targets must be a number from 0 to 255";
                return false;
            }
            adapter->maxTargets = uint8_t(n);
        } else if (key == "completion" || key == "delay_ms") {
            return parseTiming(key, value, adapter->timing, why);
        } else {
            why = "unknown key \"" + key + "\" in an adapter section";
            return false;
        }
        return true;
    }

    bool deviceKey(const std::string &key, const std::string &value, int line, std::string &why)
    {
        Device &d = bus.devices[device];
        uint64_t n;
        std::string text;
        if (key == "type") {
            if (!parseDeviceType(value, d.type)) {
                why = "type must be a number from 0 to 255 or disk, tape, cdrom, optical, ...";
                return false;
            }
        } else if (key == "removable" || key == "read_only" || key == "no_medium" || key == "sync_cache" ||
                   key == "fua" || key == "stopped" || key == "report_medium_change") {
            bool &flag = key == "removable"    ? d.removable
                         : key == "read_only"  ? d.readOnly
                         : key == "no_medium"  ? d.noMedium
                         : key == "sync_cache" ? d.syncCache
                         : key == "stopped"    ? d.startsStopped
                         : key == "fua"        ? d.forceUnitAccess
                                               : d.reportsMediumChange;
            if (!parseBool(value, flag)) {
                why = key + " must be yes or no";
                return false;
            }
        } else if (key == "vendor" || key == "product" || key == "revision") {
            size_t offset = key == "vendor" ? 0 : key == "product" ? 8 : 24;
            size_t size = key == "vendor" ? 8 : key == "product" ? 16 : 4;
            if (!parseText(value, text, why))
                return false;
            if (!putField(d.inquiryText + offset, size, text, ' ')) {
                why = key + " is longer than " + std::to_string(size) + " bytes";
                return false;
            }
        } else if (key == "sector_size") {
            if (!parseNumber(value, 1u << 20, n) || n == 0) {
                why = "sector_size must be a number from 1 to 1048576";
                return false;
            }
            d.sectorSize = uint32_t(n);
        } else if (key == "sectors") {
            if (!parseNumber(value, 1ull << 48, n)) {
                why = "sectors must be a number";
                return false;
            }
            d.sectors = n;
            d.sectorsGiven = true;
        } else if (key == "size") {
            if (!parseSize(value, n)) {
                why = "size must be a byte count with an optional K, M, G or T";
                return false;
            }
            d.sizeBytes = n;
            d.sizeLine = line;
            d.sectorsGiven = true;
        } else if (key == "image") {
            if (!parseText(value, text, why))
                return false;
            d.image = resolvePath(imageDir.empty() ? iniDir : imageDir, text);
            d.imageLine = line;
        } else if (key == "fill") {
            std::string v = lower(value);
            if (v == "zero")
                d.fill = ImageFill::Zero;
            else if (v == "lba")
                d.fill = ImageFill::Lba;
            else {
                why = "fill must be zero or lba";
                return false;
            }
        } else if (key == "capacity_reply") {
            if (!parseBytes(value, d.capacityReply, 8)) {
                why = "capacity_reply must be 8 hexadecimal bytes, such as 00 00 00 FF 00 00 02 00";
                return false;
            }
            d.hasCapacityReply = true;
        } else if (key == "inquiry_length") {
            if (!parseNumber(value, 36, n) || n < 5) {
                why = "inquiry_length must be a number from 5 to 36";
                return false;
            }
            d.inquiryLength = uint32_t(n);
        } else if (key == "dev_type_status") {
            if (!parseStatus(value, d.devTypeStatus) || d.devTypeStatus == 0) {
                why = "dev_type_status must be a status code in hexadecimal other than 00, such as 01 or 04";
                return false;
            }
        } else if (key == "unit_attention") {
            if (!parseAttention(value, d.attentionAtPowerOn)) {
                why = "unit_attention must be none, power_on, medium_changed or mode_changed";
                return false;
            }
        } else if (key == "spin_up_ms") {
            if (!parseNumber(value, 600000, n)) {
                why = "spin_up_ms must be a number of milliseconds (at most 600000)";
                return false;
            }
            d.spinUpMs = uint32_t(n);
        } else if (key == "fault") {
            Fault f;
            if (!parseFault(value, f, why))
                return false;
            d.faults.push_back(f);
        } else if (key == "completion" || key == "delay_ms") {
            return parseTiming(key, value, d.timing, why);
        } else {
            why = "unknown key \"" + key + "\" in a device section";
            return false;
        }
        return true;
    }

    /* A bare value ends at a ';' that follows a blank (a comment); a quoted one is kept whole. */
    static std::string valueOf(const std::string &raw)
    {
        std::string v = trim(raw);
        if (!v.empty() && v[0] == '"') {
            size_t close = std::string::npos;
            for (size_t i = 1; i < v.size(); i++) {
                if (v[i] == '\\') {
                    i++;
                    continue;
                }
                if (v[i] == '"') {
                    close = i;
                    break;
                }
            }
            if (close != std::string::npos) {
                size_t c = v.find(';', close);
                if (c != std::string::npos)
                    v = trim(v.substr(0, c));
            }
            return v;
        }
        for (size_t i = 1; i < v.size(); i++)
            if (v[i] == ';' && (v[i - 1] == ' ' || v[i - 1] == '\t'))
                return trim(v.substr(0, i));
        return v;
    }

    bool parseLine(const std::string &rawLine, int line, std::string &why)
    {
        std::string s = trim(rawLine);
        if (s.empty() || s[0] == ';' || s[0] == '#')
            return true;
        if (s[0] == '[') {
            if (s.back() != ']') {
                why = "a section header must end with ]";
                return false;
            }
            if (!startSection(trim(s.substr(1, s.size() - 2)), why))
                return false;
            if (section == Section::Device)
                bus.devices[device].line = line;
            return true;
        }
        size_t eq = s.find('=');
        if (eq == std::string::npos) {
            why = "expected key = value or a [section]";
            return false;
        }
        std::string key = lower(trim(s.substr(0, eq)));
        std::string value = valueOf(s.substr(eq + 1));
        switch (section) {
        case Section::Bus: return busKey(key, value, why);
        case Section::Adapter: return adapterKey(key, value, why);
        case Section::Device: return deviceKey(key, value, line, why);
        case Section::None: break;
        }
        why = "key \"" + key + "\" before any [section]";
        return false;
    }
};

std::string located(const std::string &path, int line, const std::string &why)
{
    return path + ":" + std::to_string(line) + ": " + why;
}

/* Completion and delay: the device's own, else its adapter's, else the bus's, else immediate. */
void inherit(Timing &t, const Timing &from)
{
    if (t.completion == Completion::Inherit)
        t.completion = from.completion;
    if (t.delayMs < 0)
        t.delayMs = from.delayMs;
}

}  // namespace

std::shared_ptr<Bus> loadBus(const std::string &configPath, std::string &error)
{
    auto bus = std::make_shared<Bus>();
    bus->configPath = configPath;
    std::string text;
    if (!readWholeFile(configPath, text, error))
        return nullptr;

    Parser parser(*bus);
    parser.iniDir = directoryOf(configPath);
    int line = 0;
    size_t pos = 0;
    while (pos <= text.size()) {
        size_t end = text.find('\n', pos);
        if (end == std::string::npos)
            end = text.size();
        std::string l = text.substr(pos, end - pos);
        if (!l.empty() && l.back() == '\r')
            l.pop_back();
        line++;
        std::string why;
        if (!parser.parseLine(l, line, why)) {
            error = located(configPath, line, why);
            return nullptr;
        }
        pos = end + 1;
    }

    if (bus->adapterCount < 0) {
        /* Every adapter with a section or a device counts. */
        int highest = parser.maxAdapterSection;
        for (const Device &d : bus->devices)
            highest = std::max(highest, int(d.adapter));
        bus->adapterCount = highest + 1;
    }
    parser.adapterAt(size_t(std::max(bus->adapterCount, parser.maxAdapterSection + 1)));
    if (bus->timing.completion == Completion::Inherit)
        bus->timing.completion = Completion::Immediate;
    if (bus->timing.delayMs < 0)
        bus->timing.delayMs = 10;
    for (Adapter &a : bus->adapters)
        inherit(a.timing, bus->timing);

    for (Device &d : bus->devices) {
        char where[32];
        snprintf(where, sizeof where, "device %u:%u", d.adapter, d.target);
        if (d.adapter >= bus->adapterCount) {
            error = located(configPath, d.line, std::string(where) + " lies on an adapter beyond adapters = " +
                                                    std::to_string(bus->adapterCount));
            return nullptr;
        }
        const Adapter &a = bus->adapters[d.adapter];
        if (d.target == a.scsiId) {
            error = located(configPath, d.line, std::string(where) + " has the adapter's own SCSI id");
            return nullptr;
        }
        inherit(d.timing, a.timing);
        if (d.sizeLine) {
            if (d.sizeBytes % d.sectorSize != 0) {
                error = located(configPath, d.sizeLine, std::string(where) + ": size is not a multiple of the sector size");
                return nullptr;
            }
            d.sectors = d.sizeBytes / d.sectorSize;
        }
        if (d.sectors > (1ull << 62) / d.sectorSize) {
            error = located(configPath, d.line, std::string(where) + " is larger than 4 EiB");
            return nullptr;
        }
        std::string why;
        if (!openImage(d, why)) {
            error = located(configPath, d.imageLine ? d.imageLine : d.line, std::string(where) + ": " + why);
            return nullptr;
        }
        powerOn(d);
    }

    if (!bus->tracePath.empty()) {
        bus->trace = CreateFileA(bus->tracePath.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                 nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (bus->trace == INVALID_HANDLE_VALUE) {
            error = configPath + ": cannot open the trace file " + bus->tracePath;
            return nullptr;
        }
    }
    return bus;
}

Bus::Bus()
{
    memset(managerId, 0, sizeof managerId);
    memcpy(managerId, "VBUS ASPI32", 11);
    InitializeCriticalSection(&traceLock);
}

Bus::~Bus()
{
    for (Device &d : devices)
        closeImage(d);
    if (trace != INVALID_HANDLE_VALUE)
        CloseHandle(trace);
    DeleteCriticalSection(&traceLock);
}

const Adapter *Bus::adapter(uint8_t haId) const
{
    if (int(haId) >= adapterCount || haId >= adapters.size())
        return nullptr;
    return &adapters[haId];
}

Device *Bus::device(uint8_t haId, uint8_t target)
{
    for (Device &d : devices)
        if (d.adapter == haId && d.target == target)
            return &d;
    return nullptr;
}
