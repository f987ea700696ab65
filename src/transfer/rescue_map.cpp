/* ddrescue mapfiles: writing the map of a copy, and reading it back for a retry. */
#include "rescue_map.h"

#include <cinttypes>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <windows.h>

namespace {

constexpr char kCreator[] = "# Mapfile. Created by Kestrova V1.31\n";
constexpr char kDeviceLine[] = "# Device: adapter ";
constexpr char kQuote = '\x22';

void localTimeText(char (&text)[32])
{
    SYSTEMTIME now;
    GetLocalTime(&now);
    std::snprintf(text, sizeof text, "%04u-%02u-%02u %02u:%02u:%02u", now.wYear, now.wMonth, now.wDay, now.wHour,
                  now.wMinute, now.wSecond);
}

/* A position or size as the ddrescue tools write it: 0x and at least eight hexadecimal digits. */
struct Hex {
    char text[24];
    explicit Hex(uint64_t value) { std::snprintf(text, sizeof text, "0x%08" PRIX64, value); }
};

void writeBlock(FILE *file, uint64_t sector, uint64_t count, int32_t sectorSize, char status)
{
    if (count > 0)
        std::fprintf(file, "%s  %s  %c\n", Hex(sector * uint64_t(sectorSize)).text,
                     Hex(count * uint64_t(sectorSize)).text, status);
}

/* One block line: position, size, status. */
bool parseBlock(const char *line, uint64_t &position, uint64_t &size, char &status)
{
    char statusText[2] = "";
    unsigned long long p = 0, s = 0;
    if (std::sscanf(line, "%lli %lli %1s", &p, &s, statusText) != 3)
        return false;
    position = p;
    size = s;
    status = statusText[0];
    return true;
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

}  // namespace

bool mapPathForImage(const char *imagePath, char *mapPath, size_t size)
{
    int length = std::snprintf(mapPath, size, "%s.map", imagePath);
    return length > 0 && size_t(length) < size;
}

int writeRescueMap(const char *path, const RescueMap &map)
{
    /* Written beside the map, then put in its place: a write that fails half way (a full disk)
       leaves the previous map as it was instead of a cut one. */
    char temporary[kMapPathSize + 8];
    if (std::snprintf(temporary, sizeof temporary, "%s.new", path) >= int(sizeof temporary))
        return 0;
    FILE *file = std::fopen(temporary, "wb");
    if (!file)
        return 0;
    char now[32];
    localTimeText(now);
    const DeviceIdentity &d = map.device;
    const bool finished = map.triedSectors >= map.sectors;
    std::fputs(kCreator, file);
    std::fprintf(file, "# Current time: %s\n", now);
    std::fprintf(file, "%s%d, target %d, LUN 0, %c%s%c\n", kDeviceLine, d.adapter, d.target, kQuote, d.inquiry,
                 kQuote);
    std::fprintf(file, "# Geometry: %d sectors of %d bytes; this copy: sectors 0 to %d\n", d.sectorCount,
                 d.sectorSize, map.sectors - 1);
    std::fprintf(file, "# %s\n", finished ? "Finished" : "Stopped before the end");
    std::fputs("# current_pos  current_status  current_pass\n", file);
    std::fprintf(file, "%s     %c               1\n",
                 Hex(uint64_t(map.triedSectors < map.sectors ? map.triedSectors : map.sectors) * uint64_t(d.sectorSize))
                     .text,
                 finished ? '+' : '?');
    std::fputs("#      pos        size  status\n", file);

    uint64_t at = 0;
    const uint64_t tried = uint64_t(map.triedSectors < map.sectors ? map.triedSectors : map.sectors);
    for (const SectorRun &run : map.unreadable) {
        if (run.first >= tried)
            break;
        uint64_t end = run.first + uint64_t(run.count) < tried ? run.first + uint64_t(run.count) : tried;
        writeBlock(file, at, run.first - at, d.sectorSize, '+');
        writeBlock(file, run.first, end - run.first, d.sectorSize, '-');
        at = end;
    }
    writeBlock(file, at, tried - at, d.sectorSize, '+');
    writeBlock(file, tried, uint64_t(map.sectors) - tried, d.sectorSize, '?');
    bool written = !std::ferror(file);
    written = std::fclose(file) == 0 && written;
    if (written && MoveFileExA(temporary, path, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        return 1;
    DeleteFileA(temporary);
    return 0;
}

int readRescueMap(const char *path, RescueMap &map)
{
    FILE *file = std::fopen(path, "rb");
    if (!file)
        return 0;
    map = RescueMap();
    char line[256];
    bool ours = false, device = false, geometry = false, statusLine = false;
    int32_t lastSector = -1;
    uint64_t expected = 0;   /* where the next block must start: the blocks are contiguous */
    bool valid = true;
    while (valid && std::fgets(line, sizeof line, file)) {
        DeviceIdentity &d = map.device;
        if (line[0] == '#') {
            if (std::strcmp(line, kCreator) == 0)
                ours = true;
            else if (std::strncmp(line, kDeviceLine, sizeof kDeviceLine - 1) == 0)
                device = readDeviceLine(line + sizeof kDeviceLine - 1, d);
            else if (std::sscanf(line, "# Geometry: %d sectors of %d bytes; this copy: sectors 0 to %d",
                                 &d.sectorCount, &d.sectorSize, &lastSector) == 3)
                geometry = d.sectorSize > 0 && lastSector >= 0 && lastSector < INT32_MAX;
            continue;
        }
        if (line[0] == '\n' || line[0] == '\r')
            continue;
        if (!statusLine) {
            statusLine = true;
            continue;
        }
        uint64_t position, size;
        char status;
        if (!geometry || !parseBlock(line, position, size, status) || position != expected ||
            position % uint64_t(d.sectorSize) != 0 || size % uint64_t(d.sectorSize) != 0 ||
            position / uint64_t(d.sectorSize) + size / uint64_t(d.sectorSize) > uint64_t(lastSector) + 1) {
            valid = false;
            break;
        }
        uint32_t first = uint32_t(position / uint64_t(d.sectorSize));
        uint32_t count = uint32_t(size / uint64_t(d.sectorSize));
        expected = position + size;
        if (status == '+')
            map.triedSectors = int32_t(first + count);
        else if (status == '-' || status == '*' || status == '/') {
            addRun(map.unreadable, first, count);
            map.triedSectors = int32_t(first + count);
        } else if (status != '?') {
            valid = false;
        }
    }
    std::fclose(file);
    if (!valid || !ours || !device || !geometry || !statusLine)
        return 0;
    map.sectors = lastSector + 1;
    return 1;
}

bool sameDevice(const DeviceIdentity &mapped, const DeviceIdentity &present)
{
    return mapped.adapter == present.adapter && mapped.target == present.target &&
           std::strcmp(mapped.inquiry, present.inquiry) == 0 && mapped.sectorSize == present.sectorSize &&
           mapped.sectorCount == present.sectorCount;
}
