/*
 * Akai S1000 / S1100 / S3000 / CD3000 hard disks and CD-ROMs. Blocks of 8 KB, integers
 * little-endian. A disk is a chain of partitions laid end to end, each starting with a header
 * of 3 blocks: its size in blocks, 98 words (i x 3333) mod 65536, a checksum (size plus their
 * sum), the volume directory and the block map. The first header may hold a partition table
 * (128 words (i x 9999) mod 65536, then the count, the sizes and their total); older disks have
 * none and are walked from header to header. Names use Akai's own character set.
 */
#include "recognisers.h"

namespace {

constexpr uint64_t kBlock = 8192;
constexpr size_t kHeaderBytes = 0x70A;     /* size, words, checksum, volume directory */
constexpr size_t kTableOffset = 0x4400;    /* first partition only */
constexpr size_t kTableBytes = 0x150;      /* magic, counts, sizes, DD sizes */
constexpr size_t kVolumeDirectory = 0xCA;
constexpr int kVolumeSlots = 100;
constexpr int kMaxPartitions = 18;
constexpr uint32_t kWordSum = 0x002FB9D5;  /* sum of the 98 words */
constexpr uint64_t kDdClusterBlocks = 0x20;

/* The 98 words and the checksum; blocks gets the size (0 ends the chain). */
bool validHeader(const uint8_t *header, uint16_t &blocks)
{
    for (uint32_t i = 0; i < 98; i++)
        if (le16(header + 2 + 2 * i) != uint16_t(i * 3333))
            return false;
    blocks = le16(header);
    return le32(header + 0xC6) == blocks + kWordSum;
}

bool tablePresent(const uint8_t *table)
{
    for (uint32_t i = 0; i < 128; i++)
        if (le16(table + 2 * i) != uint16_t(i * 9999))
            return false;
    return true;
}

std::string akaiName(const uint8_t *p, size_t length)
{
    std::string name;
    for (size_t i = 0; i < length; i++) {
        uint8_t b = p[i];
        if (b <= 0x09)
            name += char('0' + b);
        else if (b == 0x0A)
            name += ' ';
        else if (b <= 0x24)
            name += char('A' + b - 0x0B);
        else
            name += b == 0x25 ? '#' : b == 0x26 ? '+' : b == 0x27 ? '-' : '.';
    }
    while (!name.empty() && name.back() == ' ')   /* padding; leading blanks are real */
        name.pop_back();
    return name;
}

const char *volumeKind(uint8_t type)
{
    return type == 1 ? "S1000" : type == 3 ? "S3000" : type == 7 ? "CD3000" : nullptr;
}

void listVolumes(const uint8_t *header, Partition &partition)
{
    for (int v = 0; v < kVolumeSlots; v++) {
        const uint8_t *entry = header + kVolumeDirectory + 16 * v;
        if (const char *kind = volumeKind(entry[12]))
            partition.entries.push_back(Entry{akaiName(entry, 12), kind, false});
    }
}

/* The partition's header where the table or the chain puts it: its volumes, or damaged. A
   header beyond the end is left alone: the extent tells. */
void readPartition(const Source &source, Partition &partition, uint16_t expectedBlocks)
{
    uint8_t header[kHeaderBytes];
    if (!readBytes(source, partition.offset, header, sizeof header))
        return;
    uint16_t blocks = 0;
    if (!validHeader(header, blocks) || blocks != expectedBlocks) {
        partition.damaged = true;
        return;
    }
    listVolumes(header, partition);
}

Partition partitionAt(int index, uint64_t offset, uint64_t blocks)
{
    Partition partition;
    partition.label = std::string(1, char('A' + index));
    partition.offset = offset;
    partition.bytes = blocks * kBlock;
    return partition;
}

/* The name by the volumes' types: an S3000 volume makes it an S3000 disk. */
std::string diskName(const FileSystem &found)
{
    bool s1000 = false, s3000 = false, cd3000 = false;
    for (const Partition &p : found.partitions)
        for (const Entry &e : p.entries) {
            s1000 |= e.kind == "S1000";
            s3000 |= e.kind == "S3000";
            cd3000 |= e.kind == "CD3000";
        }
    return s3000 ? "Akai S3000" : cd3000 ? "Akai CD3000" : s1000 ? "Akai S1000" : "Akai S1000/S3000";
}

bool probeAkai(const Source &source, FileSystem &found)
{
    uint8_t first[kHeaderBytes];
    uint16_t blocks = 0;
    if (!readBytes(source, 0, first, sizeof first) || !validHeader(first, blocks) || blocks == 0)
        return false;

    uint8_t table[kTableBytes];
    const bool hasTable = readBytes(source, kTableOffset, table, sizeof table) && tablePresent(table) &&
                          table[0x100] >= 1 && table[0x100] <= kMaxPartitions && table[0x101] <= kMaxPartitions &&
                          le16(table + 0x102) == blocks;
    uint64_t offset = 0;
    if (hasTable) {
        const int count = table[0x100], ddCount = table[0x101];
        for (int k = 0; k < count; k++) {
            const uint16_t size = le16(table + 0x102 + 2 * k);
            found.partitions.push_back(partitionAt(k, offset, size));
            offset += size * kBlock;
        }
        uint64_t total = le16(table + 0x102 + 2 * count) * kBlock;
        for (int k = 0; k < ddCount; k++) {
            Partition dd;
            dd.label = "DD" + std::to_string(k + 1);
            dd.offset = total;
            dd.bytes = le16(table + 0x128 + 2 * k) * kDdClusterBlocks * kBlock;
            found.partitions.push_back(dd);
            total += dd.bytes;
        }
        /* The declared totals, which may differ from what the sizes add up to. */
        found.bytes = (le16(table + 0x102 + 2 * count) + (ddCount ? le16(table + 0x128 + 2 * ddCount) : 0) * kDdClusterBlocks) *
                      kBlock;
        for (int k = 0; k < count; k++)
            readPartition(source, found.partitions[size_t(k)], le16(table + 0x102 + 2 * k));
    } else {
        /* No table: follow the chain of headers to a size of 0, a header that is not one, or the end. */
        found.partitions.push_back(partitionAt(0, 0, blocks));
        listVolumes(first, found.partitions[0]);
        offset = blocks * kBlock;
        for (int k = 1; k < kMaxPartitions; k++) {
            uint8_t header[kHeaderBytes];
            uint16_t size = 0;
            if (!readBytes(source, offset, header, sizeof header) || !validHeader(header, size) || size == 0)
                break;
            found.partitions.push_back(partitionAt(k, offset, size));
            listVolumes(header, found.partitions.back());
            offset += size * kBlock;
        }
        found.bytes = offset;
    }
    found.family = Family::Akai;
    found.name = diskName(found);
    found.an = true;
    return true;
}

/* Words 0 to 3 of the header's magic: 0, 3333, 6666, 9999. */
const char kAkaiMagic[] = "\x00\x00\x05\x0D\x0A\x1A\x0F\x27";

}  // namespace

const Recogniser kAkaiRecogniser = {"Akai S1000/S3000", {2, kAkaiMagic, 8}, probeAkai};
