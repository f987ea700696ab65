/*
 * The PC partition table (MBR) in front of a card's file systems: 55h AAh at the end of sector 0
 * and four entries of 16 bytes from 1BEh (status 00h or 80h, type, start and count in sectors,
 * little-endian). A FAT boot sector ends in 55h AAh too: a sector that holds a valid BIOS
 * parameter block is not a table. What each partition holds is probed by probe.cpp.
 */
#include "recognisers.h"

#include <algorithm>
#include <cstdio>

namespace {

bool probeMbr(const Source &source, FileSystem &found)
{
    uint8_t s[512];
    if (!readBytes(source, 0, s, sizeof s) || s[0x1FE] != 0x55 || s[0x1FF] != 0xAA || validBootSector(s))
        return false;
    uint64_t end = 0;
    for (int i = 0; i < 4; i++) {
        const uint8_t *entry = s + 0x1BE + 16 * i;
        if (entry[0] != 0x00 && entry[0] != 0x80)
            return false;
        const uint8_t type = entry[4];
        const uint32_t start = le32(entry + 8), count = le32(entry + 12);
        if (type == 0)
            continue;
        if (start == 0 || count == 0)
            return false;
        char label[32];
        std::snprintf(label, sizeof label, "%d (type %02Xh)", i + 1, type);
        Partition partition;
        partition.label = label;
        partition.offset = uint64_t(start) * 512;
        partition.bytes = uint64_t(count) * 512;
        end = std::max(end, partition.offset + partition.bytes);
        found.partitions.push_back(partition);
    }
    if (found.partitions.empty())
        return false;
    found.family = Family::Mbr;
    found.name = "MBR partition table";
    found.an = true;
    found.bytes = end;
    return true;
}

}  // namespace

const Recogniser kMbrRecogniser = {"MBR", {0x1FE, "\x55\xAA", 2}, probeMbr};
