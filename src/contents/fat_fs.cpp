/*
 * MS-DOS FAT12, FAT16 and FAT32: the boot sector at the start of the volume (Microsoft's "FAT:
 * General Overview of On-Disk Format"). Every field of the BIOS parameter block must hold a
 * value the format allows, as Linux's fat_read_bpb() demands, and the layout must leave at least
 * one cluster; the type follows from the count of clusters, never from the type text. The OEM
 * name hints at the sampler that formatted it: Kurzweil K2000/K2500/K2600 ("KMSI"), a Yamaha
 * A-series floppy ("YAMAHA"), an E-mu EOS disk ("E-MU SYS").
 */
#include "recognisers.h"

#include <cstring>

namespace {

struct Layout {
    uint32_t bytesPerSector;
    uint64_t totalSectors;
    uint64_t clusters;
    bool fat32;
};

bool powerOfTwo(uint32_t n) { return n != 0 && (n & (n - 1)) == 0; }

bool readLayout(const uint8_t *s, Layout &layout)
{
    if (!((s[0] == 0xEB && s[2] == 0x90) || s[0] == 0xE9))
        return false;
    const uint32_t bytesPerSector = le16(s + 0x0B);
    const uint32_t sectorsPerCluster = s[0x0D];
    const uint32_t reserved = le16(s + 0x0E);
    const uint32_t fats = s[0x10];
    const uint32_t rootEntries = le16(s + 0x11);
    const uint32_t total = le16(s + 0x13) ? le16(s + 0x13) : le32(s + 0x20);
    const uint8_t media = s[0x15];
    const uint32_t fatSectors = le16(s + 0x16) ? le16(s + 0x16) : le32(s + 0x24);
    if (bytesPerSector != 512 && bytesPerSector != 1024 && bytesPerSector != 2048 && bytesPerSector != 4096)
        return false;
    if (!powerOfTwo(sectorsPerCluster) || sectorsPerCluster > 128 || reserved == 0 || fats == 0 || total == 0 ||
        fatSectors == 0 || (media != 0xF0 && media < 0xF8))
        return false;
    const uint64_t rootSectors = (uint64_t(rootEntries) * 32 + bytesPerSector - 1) / bytesPerSector;
    const uint64_t overhead = reserved + uint64_t(fats) * fatSectors + rootSectors;
    if (total <= overhead)
        return false;
    layout.bytesPerSector = bytesPerSector;
    layout.totalSectors = total;
    layout.clusters = (total - overhead) / sectorsPerCluster;
    layout.fat32 = layout.clusters >= 65525;
    if (layout.clusters < 1 || (layout.fat32 && rootEntries != 0))
        return false;
    return true;
}

const char *oemHint(const uint8_t *s)
{
    if (std::memcmp(s + 3, "KMSI", 4) == 0)
        return "Kurzweil K2000/K2500/K2600";
    if (std::memcmp(s + 3, "YAMAHA", 6) == 0)
        return "Yamaha A-series floppy";
    if (std::memcmp(s + 3, "E-MU SYS", 8) == 0)
        return "E-mu EOS";
    return "";
}

bool probeFat(const Source &source, FileSystem &found)
{
    uint8_t s[512];
    Layout layout;
    if (!readBytes(source, 0, s, sizeof s) || !readLayout(s, layout))
        return false;
    found.family = Family::Fat;
    found.name = layout.fat32 ? "FAT32" : layout.clusters < 4085 ? "FAT12" : "FAT16";
    const size_t extended = layout.fat32 ? 0x42 : 0x26;   /* 29h there: serial, label, type text */
    if (s[extended] == 0x29) {
        found.label = fieldText(s + extended + 5, 11);
        if (found.label == "NO NAME")
            found.label.clear();
    }
    found.hint = oemHint(s);
    found.bytes = layout.totalSectors * layout.bytesPerSector;
    return true;
}

}  // namespace

bool validBootSector(const uint8_t *sector)
{
    Layout layout;
    return readLayout(sector, layout);
}

const Recogniser kFatRecogniser = {"FAT", {0, nullptr, 0}, probeFat};
