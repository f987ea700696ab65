/*
 * Roland S-750 / S-760 / S-770 (S-7xx) hard disks, MO disks and CD-ROMs. Sectors of 512 bytes,
 * integers little-endian. Sector 0: four zero bytes, "S770 MR25A", free text, the disk's name at
 * 100h, its capacity in sectors at 110h and the counts of volumes, performances, patches,
 * partials and samples at 114h; the volume directory is at the fixed sector 504h. The free text
 * at 20h differs between system versions and is never looked at.
 */
#include "recognisers.h"

namespace {

constexpr uint32_t kWaveDataSector = 0x15AC;   /* a disk holds at least its fixed map */
constexpr uint64_t kVolumeDirectory = 0x504 * 512;
constexpr uint16_t kMaxCounts[5] = {128, 512, 1024, 4096, 8192};

bool probeRoland(const Source &source, FileSystem &found)
{
    uint8_t s[512];
    if (!readBytes(source, 0, s, sizeof s))
        return false;
    if (le32(s) != 0)
        return false;
    for (int i = 0; i < 5; i++)
        if (le16(s + 0x114 + 2 * i) > kMaxCounts[i])
            return false;
    const uint32_t capacity = le32(s + 0x110);
    if (capacity < kWaveDataSector)
        return false;

    const uint16_t volumes = le16(s + 0x114);
    std::vector<uint8_t> directory(size_t(volumes) * 32);
    if (volumes > 0 && readBytes(source, kVolumeDirectory, directory.data(), directory.size()))
        for (uint16_t v = 0; v < volumes; v++) {
            const uint8_t *entry = directory.data() + 32 * v;
            if (entry[0] != 0xFE)   /* deleted */
                found.entries.push_back(Entry{fieldText(entry, 16), "", false});
        }
    found.family = Family::Roland;
    found.name = "Roland S-7xx";
    found.label = fieldText(s + 0x100, 16);
    found.bytes = uint64_t(capacity) * 512;
    return true;
}

}  // namespace

const Recogniser kRolandRecogniser = {"Roland S-7xx", {4, "S770 MR25A", 10}, probeRoland};
