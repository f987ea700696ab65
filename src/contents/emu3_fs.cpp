/*
 * E-mu Emulator III, IIIx, ESI and EIV (the EMU3 file system). Sectors of 512 bytes, integers
 * little-endian. Sector 0: "EMU3", the formatted size less one, then where the folder table,
 * the directory contents, the cluster map and the data lie; these regions follow each other
 * without a gap, which a text that happens to begin with "EMU3" does not imitate.
 */
#include "recognisers.h"

namespace {

constexpr uint32_t kMaxRootSectors = 16;   /* read at most this much of the folder table */

bool probeEmu3(const Source &source, FileSystem &found)
{
    uint8_t s[512];
    if (!readBytes(source, 0, s, sizeof s))
        return false;
    const uint32_t last = le32(s + 0x04);
    const uint32_t rootStart = le32(s + 0x08), rootLength = le32(s + 0x0C);
    const uint32_t contentStart = le32(s + 0x10), contentLength = le32(s + 0x14);
    const uint32_t mapStart = le32(s + 0x18), mapLength = le32(s + 0x1C);
    const uint32_t dataStart = le32(s + 0x20), clusters = le32(s + 0x24);
    const uint8_t clusterShift = s[0x28];
    /* The regions tile: map, folder table, directory contents, data. 64-bit sums: no wrap. */
    if (mapStart < 2 || uint64_t(mapStart) + mapLength != rootStart ||
        uint64_t(rootStart) + rootLength != contentStart || uint64_t(contentStart) + contentLength != dataStart)
        return false;
    if (clusterShift > 10 || clusters > uint64_t(mapLength) * 256 - 1 || mapLength == 0)
        return false;

    for (uint32_t sector = 0; sector < rootLength && sector < kMaxRootSectors; sector++) {
        uint8_t folders[512];
        if (!readBytes(source, uint64_t(rootStart + sector) * 512, folders, sizeof folders))
            break;
        for (int f = 0; f < 16; f++) {
            const uint8_t *entry = folders + 32 * f;
            if ((entry[17] == 0x40 || entry[17] == 0x80) && le16(entry + 18) > 0 && le16(entry + 18) != 0xFFFF)
                found.entries.push_back(Entry{fieldText(entry, 16), "", false});
        }
    }
    found.family = Family::Emu3;
    found.name = "E-mu EMU3";
    found.an = true;
    found.bytes = (uint64_t(last) + 1) * 512;
    return true;
}

}  // namespace

const Recogniser kEmu3Recogniser = {"E-mu EMU3", {0, "EMU3", 4}, probeEmu3};
