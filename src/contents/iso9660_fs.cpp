/*
 * ISO 9660 (ECMA-119): the volume descriptor set from sector 16 of 2048 bytes on, each
 * descriptor "CD001" with its type (0 boot record, 1 primary, 2 supplementary, 3 partition,
 * 255 the set's end). The primary one gives the volume's name and its size in logical blocks,
 * each stored both little- and big-endian: the two copies must agree.
 */
#include "recognisers.h"

#include <cstring>

namespace {

constexpr uint64_t kDescriptorBytes = 2048;
constexpr uint64_t kFirstDescriptor = 16;
constexpr int kMaxDescriptors = 8;

bool probeIso9660(const Source &source, FileSystem &found)
{
    for (int i = 0; i < kMaxDescriptors; i++) {
        uint8_t d[kDescriptorBytes];
        if (!readBytes(source, (kFirstDescriptor + uint64_t(i)) * kDescriptorBytes, d, sizeof d) ||
            std::memcmp(d + 1, "CD001", 5) != 0 || d[6] != 1)
            return false;
        if (d[0] == 255)
            return false;   /* the set ended without a primary descriptor */
        if (d[0] > 3)
            return false;
        if (d[0] != 1)
            continue;
        const uint32_t blocks = le32(d + 0x50);
        const uint16_t blockSize = le16(d + 0x80);
        if (be32(d + 0x54) != blocks || be16(d + 0x82) != blockSize || blocks == 0)
            return false;
        if (blockSize != 512 && blockSize != 1024 && blockSize != 2048)
            return false;
        found.family = Family::Iso9660;
        found.name = "ISO 9660";
        found.an = true;
        found.label = fieldText(d + 0x28, 32);
        found.bytes = uint64_t(blocks) * blockSize;
        return true;
    }
    return false;
}

}  // namespace

const Recogniser kIso9660Recogniser = {"ISO 9660", {kFirstDescriptor * kDescriptorBytes + 1, "CD001", 5}, probeIso9660};
