/*
 * Yamaha A3000 / A4000 / A5000 hard disks (SFS). Sectors of 512 bytes, integers big-endian.
 * Sector 0 holds "YAMAHA_dev3", the sector size, the disk's total of sectors and a table of up
 * to 8 partitions (start and count); sector 1 is an exact copy. Each partition starts with the
 * same magic and its name.
 */
#include "recognisers.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr char kMagic[] = "YAMAHA_dev3";
constexpr size_t kMagicLength = 11;

bool probeYamaha(const Source &source, FileSystem &found)
{
    uint8_t s[1024];
    if (!readBytes(source, 0, s, sizeof s) || std::memcmp(s, s + 512, 512) != 0 || be32(s + 0x9C) != 512)
        return false;

    struct Slot { uint32_t start, count; int number; };
    std::vector<Slot> slots;
    for (int i = 0; i < 8; i++) {
        const uint32_t start = be32(s + 0xA8 + 8 * i), count = be32(s + 0xAC + 8 * i);
        if (start != 0 && count != 0)
            slots.push_back({start, count, i + 1});
    }
    std::vector<Slot> ordered = slots;
    std::sort(ordered.begin(), ordered.end(), [](const Slot &a, const Slot &b) { return a.start < b.start; });
    for (size_t i = 1; i < ordered.size(); i++)
        if (uint64_t(ordered[i - 1].start) + ordered[i - 1].count > ordered[i].start)
            return false;   /* partitions that overlap: not a table */

    uint64_t end = uint64_t(be32(s + 0xA0)) * 512;
    for (const Slot &slot : slots) {
        Partition partition;
        partition.offset = uint64_t(slot.start) * 512;
        partition.bytes = uint64_t(slot.count) * 512;
        partition.label = std::to_string(slot.number);
        uint8_t header[0x50];
        /* A partition inside the medium must start with the magic; one beyond it is truncated. */
        if (partition.offset + sizeof header <= source.bytes) {
            if (!readBytes(source, partition.offset, header, sizeof header))
                return false;
            if (std::memcmp(header, kMagic, kMagicLength) != 0)
                return false;
            partition.label += " \"" + fieldText(header + 0x40, 16) + "\"";
        }
        end = std::max(end, partition.offset + partition.bytes);
        found.partitions.push_back(partition);
    }
    found.family = Family::Yamaha;
    found.name = "Yamaha A3000/A4000/A5000";
    found.bytes = end;
    return true;
}

}  // namespace

const Recogniser kYamahaRecogniser = {"Yamaha A3000/A4000/A5000", {0, kMagic, kMagicLength}, probeYamaha};
