/* The map of a rescue: its blocks, and its text as a ddrescue mapfile. */
#include "rescue_map.h"

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

constexpr char kCreator[] = "# Mapfile. Created by Kestrova V1.31\n";
constexpr char kCreatorStart[] = "# Mapfile. Created by Kestrova";
constexpr char kDeviceLine[] = "# Device: adapter ";
constexpr char kQuote = '\x22';

/* The block that holds sector; blocks is not empty and covers it. */
size_t indexOf(const std::vector<MapBlock> &blocks, uint32_t sector)
{
    auto after = std::upper_bound(blocks.begin(), blocks.end(), sector,
                                  [](uint32_t s, const MapBlock &b) { return s < b.first; });
    return size_t(after - blocks.begin()) - 1;
}

uint64_t endOf(const MapBlock &block)
{
    return uint64_t(block.first) + block.count;
}

/* A position or size as the ddrescue tools write it: 0x and at least eight hexadecimal digits. */
struct Hex {
    char text[24];
    explicit Hex(uint64_t value) { std::snprintf(text, sizeof text, "0x%08" PRIX64, value); }
};

bool isBlockStatus(char c)
{
    return c && std::strchr("?*/-+", c) != nullptr;
}

/* A number as ddrescue reads them: the syntax of a C++ integer constant (decimal, 0x hex, 0 octal). */
bool takeNumber(const char *&at, uint64_t &value)
{
    while (*at == ' ' || *at == '\t')
        at++;
    if (*at < '0' || *at > '9')
        return false;
    char *end = nullptr;
    value = std::strtoull(at, &end, 0);
    if (end == at)
        return false;
    at = end;
    return true;
}

bool takeStatus(const char *&at, char &status)
{
    while (*at == ' ' || *at == '\t')
        at++;
    status = *at;
    if (!status || at[1] > ' ')
        return false;
    at++;
    return true;
}

bool onlyBlanks(const char *at)
{
    while (*at == ' ' || *at == '\t' || *at == '\r')
        at++;
    return *at == '\0';
}

/* The line without its comment: '#' at its start or after a blank starts one. */
std::string withoutComment(const std::string &line)
{
    for (size_t i = 0; i < line.size(); i++)
        if (line[i] == '#' && (i == 0 || line[i - 1] == ' ' || line[i - 1] == '\t'))
            return line.substr(0, i);
    return line;
}

/* The rest of the device line: the adapter, the target and the INQUIRY texts between quotes. */
bool readDeviceLine(const char *line, DeviceIdentity &device)
{
    if (std::sscanf(line, "%d, target %d", &device.adapter, &device.target) != 2)
        return false;
    const char *open = std::strchr(line, kQuote);
    const char *close = open ? std::strrchr(line, kQuote) : nullptr;
    if (!open || close == open || size_t(close - open - 1) >= sizeof device.inquiry)
        return false;
    std::memcpy(device.inquiry, open + 1, size_t(close - open - 1));
    device.inquiry[close - open - 1] = '\0';
    return true;
}

/* The heading lines this program writes. false: a line of ours that cannot be read. */
struct Heading {
    bool ours = false, device = false, geometry = false;
    int32_t lastSector = -1;
};

bool readHeadingLine(const std::string &line, RescueMap &map, Heading &heading)
{
    DeviceIdentity &d = map.device;
    if (line.compare(0, sizeof kCreatorStart - 1, kCreatorStart) == 0) {
        heading.ours = true;
    } else if (line.compare(0, sizeof kDeviceLine - 1, kDeviceLine) == 0) {
        heading.device = readDeviceLine(line.c_str() + sizeof kDeviceLine - 1, d);
        return heading.device;
    } else if (line.compare(0, 12, "# Geometry: ") == 0) {
        heading.geometry = std::sscanf(line.c_str(), "# Geometry: %d sectors of %d bytes; this copy: sectors 0 to %d",
                                       &d.sectorCount, &d.sectorSize, &heading.lastSector) == 3 &&
                           d.sectorSize > 0 && heading.lastSector >= 0 && heading.lastSector < INT32_MAX;
        return heading.geometry;
    } else if (line.compare(0, 10, "# Sample: ") == 0) {
        DiskSample sample = {};
        char digest[kSha256TextSize + 1] = "";
        if (std::sscanf(line.c_str(), "# Sample: sector %u, SHA-256 %65s", &sample.sector, digest) != 2 ||
            std::strlen(digest) != kSha256TextSize - 1)
            return false;
        std::memcpy(sample.digest, digest, kSha256TextSize);
        map.samples.push_back(sample);
    }
    return true;
}

const char *phaseText(char phase)
{
    switch (phase) {
    case kFinished:
        return "Finished";
    case kNonTrimmed:
        return "Stopped while trimming failed blocks";
    case kNonScraped:
        return "Stopped while scraping failed blocks";
    case kBadSector:
        return "Stopped while retrying bad sectors";
    default:
        return "Stopped before the end";
    }
}

}  // namespace

void startMap(RescueMap &map, const DeviceIdentity &device, int32_t sectors)
{
    map = RescueMap();
    map.device = device;
    map.sectors = sectors > 0 ? sectors : 0;
    if (map.sectors > 0)
        map.blocks.push_back({0, uint32_t(map.sectors), kNonTried});
    map.position = 0;
    map.phase = kNonTried;
    map.pass = 1;
}

void setStatus(RescueMap &map, uint32_t first, uint32_t count, char status)
{
    const uint64_t end64 = std::min<uint64_t>(uint64_t(first) + count, uint64_t(map.sectors));
    if (first >= end64)
        return;
    const uint32_t end = uint32_t(end64);
    std::vector<MapBlock> &blocks = map.blocks;
    const size_t i = indexOf(blocks, first), j = indexOf(blocks, end - 1);
    const MapBlock head = blocks[i], tail = blocks[j];
    MapBlock middle[3];
    size_t n = 0;
    if (head.first < first)
        middle[n++] = {head.first, first - head.first, head.status};
    middle[n++] = {first, end - first, status};
    if (endOf(tail) > end)
        middle[n++] = {end, uint32_t(endOf(tail) - end), tail.status};
    blocks.erase(blocks.begin() + ptrdiff_t(i), blocks.begin() + ptrdiff_t(j) + 1);
    blocks.insert(blocks.begin() + ptrdiff_t(i), middle, middle + n);
    /* Join the new blocks with their neighbours where the status is the same. */
    size_t k = i > 0 ? i : 1, last = std::min(blocks.size(), i + n + 1);
    while (k < last) {
        if (blocks[k - 1].status == blocks[k].status) {
            blocks[k - 1].count += blocks[k].count;
            blocks.erase(blocks.begin() + ptrdiff_t(k));
            last--;
        } else {
            k++;
        }
    }
}

char statusAt(const RescueMap &map, uint32_t sector)
{
    if (sector >= uint32_t(map.sectors))
        return '\0';
    return map.blocks[indexOf(map.blocks, sector)].status;
}

uint32_t sectorsWith(const RescueMap &map, char status)
{
    return sectorsWithin(map, status, 0, uint32_t(map.sectors));
}

uint32_t sectorsWithin(const RescueMap &map, char status, uint32_t first, uint32_t count)
{
    const uint64_t end = uint64_t(first) + count;
    uint32_t total = 0;
    for (const MapBlock &block : map.blocks) {
        if (block.first >= end)
            break;
        uint64_t from = std::max<uint64_t>(block.first, first), to = std::min(endOf(block), end);
        if (block.status == status && to > from)
            total += uint32_t(to - from);
    }
    return total;
}

uint32_t sectorsNotRead(const RescueMap &map, uint32_t first, uint32_t count)
{
    const uint64_t end = std::min<uint64_t>(uint64_t(first) + count, uint64_t(map.sectors));
    return first >= end ? 0 : uint32_t(end - first) - sectorsWithin(map, kFinished, first, uint32_t(end - first));
}

bool mapFinished(const RescueMap &map)
{
    for (const MapBlock &block : map.blocks)
        if (block.status == kNonTried || block.status == kNonTrimmed || block.status == kNonScraped)
            return false;
    return true;
}

bool nextBlockWith(const RescueMap &map, char status, uint32_t from, MapBlock &block)
{
    if (from >= uint32_t(map.sectors))
        return false;
    for (size_t i = indexOf(map.blocks, from); i < map.blocks.size(); i++) {
        const MapBlock &b = map.blocks[i];
        if (b.status != status)
            continue;
        uint32_t start = std::max(b.first, from);
        block = {start, uint32_t(endOf(b) - start), status};
        return true;
    }
    return false;
}

bool previousBlockWith(const RescueMap &map, char status, uint32_t end, MapBlock &block)
{
    end = std::min(end, uint32_t(map.sectors));
    if (end == 0)
        return false;
    for (size_t i = indexOf(map.blocks, end - 1) + 1; i-- > 0;) {
        const MapBlock &b = map.blocks[i];
        if (b.status != status)
            continue;
        uint32_t stop = uint32_t(std::min<uint64_t>(endOf(b), end));
        block = {b.first, stop - b.first, status};
        return true;
    }
    return false;
}

std::string mapText(const RescueMap &map, const char *now)
{
    const DeviceIdentity &d = map.device;
    const uint64_t size = uint64_t(d.sectorSize > 0 ? d.sectorSize : 1);
    char line[256];
    std::string text = kCreator;
    std::snprintf(line, sizeof line, "# Current time: %s\n", now);
    text += line;
    std::snprintf(line, sizeof line, "%s%d, target %d, LUN 0, %c%s%c\n", kDeviceLine, d.adapter, d.target, kQuote,
                  d.inquiry, kQuote);
    text += line;
    std::snprintf(line, sizeof line, "# Geometry: %d sectors of %d bytes; this copy: sectors 0 to %d\n", d.sectorCount,
                  d.sectorSize, map.sectors - 1);
    text += line;
    for (const DiskSample &sample : map.samples) {
        std::snprintf(line, sizeof line, "# Sample: sector %u, SHA-256 %s\n", sample.sector, sample.digest);
        text += line;
    }
    std::snprintf(line, sizeof line, "# %s\n", phaseText(map.phase));
    text += line;
    text += "# current_pos  current_status  current_pass\n";
    std::snprintf(line, sizeof line, "%s     %c               %d\n", Hex(map.position * size).text, map.phase,
                  map.pass);
    text += line;
    text += "#      pos        size  status\n";
    for (const MapBlock &block : map.blocks) {
        std::snprintf(line, sizeof line, "%s  %s  %c\n", Hex(block.first * size).text, Hex(block.count * size).text,
                      block.status);
        text += line;
    }
    return text;
}

MapVerdict parseMap(const std::string &text, RescueMap &map, std::vector<ByteBlock> *byteBlocks)
{
    map = RescueMap();
    map.phase = kNonTried;
    map.pass = 1;
    Heading heading;
    std::vector<ByteBlock> blocks;
    bool statusLine = false;
    uint64_t statusPosition = 0;
    for (size_t start = 0; start < text.size();) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos)
            end = text.size();
        std::string line = text.substr(start, end - start);
        start = end + 1;
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (line.compare(0, 2, "# ") == 0 && !readHeadingLine(line, map, heading))
            return MapVerdict::NotAMap;
        const std::string data = withoutComment(line);
        if (onlyBlanks(data.c_str()))
            continue;
        const char *at = data.c_str();
        uint64_t first = 0, second = 0;
        char status = 0;
        if (!statusLine) {
            /* position, the phase, then the pass (older ddrescue versions wrote no pass) */
            if (!takeNumber(at, first) || !takeStatus(at, status) || !std::strchr("?*/-+FG", status))
                return MapVerdict::NotAMap;
            if (!onlyBlanks(at) && (!takeNumber(at, second) || second == 0 || second > 1000 || !onlyBlanks(at)))
                return MapVerdict::NotAMap;
            statusLine = true;
            statusPosition = first;
            map.phase = status;
            map.pass = second ? int(second) : 1;
            continue;
        }
        if (!takeNumber(at, first) || !takeNumber(at, second) || !takeStatus(at, status) || !isBlockStatus(status) ||
            !onlyBlanks(at))
            return MapVerdict::NotAMap;
        const uint64_t expected = blocks.empty() ? 0 : blocks.back().position + blocks.back().size;
        if (first != expected || second == 0 || second > UINT64_MAX - first)
            return MapVerdict::Gaps;
        blocks.push_back({first, second, status});
    }
    if (!statusLine || blocks.empty())
        return MapVerdict::NotAMap;
    if (byteBlocks)
        *byteBlocks = blocks;
    if (!heading.ours)
        return MapVerdict::NotOurs;
    if (!heading.device || !heading.geometry)
        return MapVerdict::NotAMap;

    /* Ours: whole sectors, from 0 to the end of the copy its heading names. */
    const uint64_t size = uint64_t(map.device.sectorSize);
    const uint64_t copyEnd = (uint64_t(heading.lastSector) + 1) * size;
    if (blocks.back().position + blocks.back().size != copyEnd)
        return MapVerdict::Gaps;
    map.sectors = heading.lastSector + 1;
    for (const ByteBlock &b : blocks) {
        if (b.position % size != 0 || b.size % size != 0)
            return MapVerdict::Gaps;
        MapBlock block = {uint32_t(b.position / size), uint32_t(b.size / size), b.status};
        if (!map.blocks.empty() && map.blocks.back().status == block.status)
            map.blocks.back().count += block.count;
        else
            map.blocks.push_back(block);
    }
    map.position = uint32_t(std::min<uint64_t>(statusPosition / size, uint64_t(map.sectors)));
    return MapVerdict::Usable;
}

bool mapPathForImage(const char *imagePath, char *mapPath, size_t size)
{
    int length = std::snprintf(mapPath, size, "%s.map", imagePath);
    return length > 0 && size_t(length) < size;
}
