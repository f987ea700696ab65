/*
 * Ensoniq EPS, EPS-16+ and ASR-10. Blocks of 512 bytes, integers big-endian. Block 1 holds the
 * geometry, the total of blocks, the label and "ID"; block 2 "OS"; the root directory ends in
 * "DR" at the end of block 4 and each block of the map from block 5 on ends in "FB". All four
 * marks must be there: the device check of "ID" and "OS" alone is too weak for raw images.
 */
#include "recognisers.h"

#include <cstring>

namespace {

bool markAt(const Source &source, uint64_t offset, const char *mark)
{
    uint8_t two[2];
    return readBytes(source, offset, two, 2) && std::memcmp(two, mark, 2) == 0;
}

bool probeEnsoniq(const Source &source, FileSystem &found)
{
    uint8_t block1[512];
    if (!readBytes(source, 512, block1, sizeof block1) || std::memcmp(block1 + 0x26, "ID", 2) != 0)
        return false;
    if (!markAt(source, 2 * 512 + 0x1C, "OS") || !markAt(source, 4 * 512 + 0x1FE, "DR") ||
        !markAt(source, 5 * 512 + 0x1FE, "FB"))
        return false;
    const uint32_t total = be32(block1 + 0x0E);
    if (total == 0 || total < 5 + ((total - 1) / 170 + 1))   /* room for its own map */
        return false;
    if (block1[0x1E] == 0xFF)
        found.label = fieldText(block1 + 0x1F, 7);
    found.family = Family::Ensoniq;
    found.name = "Ensoniq EPS/ASR";
    found.an = true;
    found.bytes = uint64_t(total) * 512;
    return true;
}

}  // namespace

const Recogniser kEnsoniqRecogniser = {"Ensoniq EPS/ASR", {512 + 0x26, "ID", 2}, probeEnsoniq};
