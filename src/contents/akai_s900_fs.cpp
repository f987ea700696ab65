/*
 * Akai S900 hard disks: a header of 4 blocks of 8 KB with 128 root entries of 12 bytes (an
 * ASCII name of 10 and a start block; 0 is unused), the size in blocks, and the block map whose
 * first four entries are FFFFh. No magic of its own, so it is the weakest format and probed last:
 * the map, the size limit and names that are all printable must agree.
 */
#include "recognisers.h"

namespace {

constexpr uint64_t kBlock = 8192;
constexpr int kRootEntries = 128;
constexpr uint16_t kMaxBlocks = 0x1FFF;
constexpr uint16_t kDefaultBlocks = 0x09C4;   /* when the size is not marked valid */

bool probeS900(const Source &source, FileSystem &found)
{
    uint8_t header[0x604], map[8];
    if (!readBytes(source, 0, header, sizeof header) || !readBytes(source, 0x2000, map, sizeof map))
        return false;
    for (int i = 0; i < 4; i++)
        if (le16(map + 2 * i) != 0xFFFF)
            return false;
    const uint16_t blocks = header[0x602] == 0xFF ? le16(header + 0x600) : kDefaultBlocks;
    if (blocks == 0 || blocks > kMaxBlocks)
        return false;
    for (int e = 0; e < kRootEntries; e++)
        for (int i = 0; i < 10; i++) {
            uint8_t c = header[12 * e + i];
            if (c != 0 && (c < 0x20 || c > 0x7E))
                return false;
        }
    for (int e = 0; e < kRootEntries; e++) {
        const uint8_t *entry = header + 12 * e;
        if (le16(entry + 10) != 0)
            found.entries.push_back(Entry{fieldText(entry, 10), "", true});
    }
    found.family = Family::AkaiS900;
    found.name = "Akai S900";
    found.an = true;
    found.bytes = blocks * kBlock;
    return true;
}

/* Map entries 0 to 3. */
const char kS900Magic[] = "\xFF\xFF\xFF\xFF\xFF\xFF\xFF\xFF";

}  // namespace

const Recogniser kAkaiS900Recogniser = {"Akai S900", {0x2000, kS900Magic, 8}, probeS900};
