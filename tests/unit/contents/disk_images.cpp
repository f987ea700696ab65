/* The sparse images and the fact sheet's designs. */
#include "disk_images.h"

#include <algorithm>
#include <cstring>

void DiskImage::put(uint64_t offset, const std::vector<uint8_t> &data)
{
    for (size_t i = 0; i < data.size(); i++) {
        auto &sector = sectors.try_emplace((offset + i) / 512).first->second;
        sector[(offset + i) % 512] = data[i];
    }
}

std::vector<uint8_t> DiskImage::read(uint64_t offset, size_t length) const
{
    std::vector<uint8_t> data(length);
    for (size_t i = 0; i < length; i++) {
        auto found = sectors.find((offset + i) / 512);
        data[i] = found == sectors.end() ? 0 : found->second[(offset + i) % 512];
    }
    return data;
}

DiskImage DiskImage::placedAt(uint64_t origin, uint64_t total) const
{
    DiskImage moved;
    moved.bytes = total;
    for (const auto &[number, sector] : sectors)
        moved.put(origin + number * 512, std::vector<uint8_t>(sector.begin(), sector.end()));
    return moved;
}

DiskImage DiskImage::swapped() const
{
    DiskImage turned = *this;
    for (auto &[number, sector] : turned.sectors)
        for (size_t i = 0; i < 512; i += 2)
            std::swap(sector[i], sector[i + 1]);
    return turned;
}

Medium mediumOf(const DiskImage &image, uint32_t sectorSize, bool imageFile, int *requests, int64_t failAfter)
{
    Medium medium;
    medium.bytes = image.bytes;
    medium.sectorSize = sectorSize;
    medium.imageFile = imageFile;
    medium.readSectors = [&image, sectorSize, requests, failAfter](uint64_t lba, uint32_t count, uint8_t *buffer) {
        if (requests)
            ++*requests;
        const uint64_t offset = lba * sectorSize, length = uint64_t(count) * sectorSize;
        if (offset + length > image.bytes || (failAfter >= 0 && offset + length > uint64_t(failAfter)))
            return 4;
        std::vector<uint8_t> data = image.read(offset, size_t(length));
        std::memcpy(buffer, data.data(), data.size());
        return 0;
    };
    return medium;
}

std::vector<uint8_t> akaiName(const std::string &name)
{
    std::vector<uint8_t> code(12, 0x0A);
    for (size_t i = 0; i < name.size() && i < 12; i++) {
        char c = name[i];
        code[i] = c >= '0' && c <= '9' ? uint8_t(c - '0') : c >= 'A' && c <= 'Z' ? uint8_t(0x0B + c - 'A') : 0x0A;
    }
    return code;
}

DiskImage akaiHeader(uint64_t at, uint16_t blocks)
{
    DiskImage image;
    image.le16(at, blocks);
    for (uint32_t i = 0; i < 98; i++)
        image.le16(at + 2 + 2 * i, uint16_t(i * 3333));
    image.le32(at + 0xC6, 0x002FB9D5u + blocks);
    return image;
}

namespace {
void merge(DiskImage &into, const DiskImage &from)
{
    for (const auto &[number, sector] : from.sectors)
        into.put(number * 512, std::vector<uint8_t>(sector.begin(), sector.end()));
}

void akaiVolume(DiskImage &image, uint64_t partition, int slot, const std::vector<uint8_t> &name, uint8_t type)
{
    image.put(partition + 0xCA + 16 * slot, name);
    image.put(partition + 0xCA + 16 * slot + 12, {type, 0});
    image.le16(partition + 0xCA + 16 * slot + 14, 3);
}

void akaiTable(DiskImage &image, const std::vector<uint16_t> &sizes)
{
    for (uint32_t i = 0; i < 128; i++)
        image.le16(0x4400 + 2 * i, uint16_t(i * 9999));
    image.put(0x4500, {uint8_t(sizes.size() - 1), 0});
    for (size_t k = 0; k < sizes.size(); k++)
        image.le16(0x4502 + 2 * k, sizes[k]);
}
}  // namespace

DiskImage ak1()
{
    DiskImage image = akaiHeader(0, 0x20);
    image.bytes = 524288;
    image.put(0xCA, {0x0E, 0x1C, 0x1F, 0x17, 0x1D, 0x0A, 0x0A, 0x0A, 0x0A, 0x0A, 0x0A, 0x0A, 0x03, 0x00, 0x03, 0x00});
    akaiTable(image, {0x20, 0x20, 0x40});
    merge(image, akaiHeader(0x40000, 0x20));
    image.put(0x40000 + 0xCA, {0x1A, 0x13, 0x0B, 0x18, 0x19, 0x0A, 0x01, 0x0A, 0x0A, 0x0A, 0x0A, 0x0A, 0x01, 0x00, 0x03, 0x00});
    return image;
}

DiskImage zipAkai()
{
    constexpr uint16_t kBlocks[] = {3900, 3900, 3700};
    DiskImage image = akaiHeader(0, kBlocks[0]);
    image.bytes = 196608ull * 512;
    const uint64_t b = uint64_t(kBlocks[0]) * 8192, c = b + uint64_t(kBlocks[1]) * 8192;
    merge(image, akaiHeader(b, kBlocks[1]));
    merge(image, akaiHeader(c, kBlocks[2]));
    akaiTable(image, {kBlocks[0], kBlocks[1], kBlocks[2], 11500});
    akaiVolume(image, 0, 0, akaiName("DRUMS 1"), 3);
    akaiVolume(image, 0, 1, akaiName("PIANOS"), 3);
    akaiVolume(image, 0, 2, akaiName("VOLUME 003"), 0);   /* a default name, inactive */
    akaiVolume(image, b, 0, akaiName("STRINGS"), 1);
    return image;
}

DiskImage ak9()
{
    DiskImage image;
    image.bytes = 131072;
    image.text(0, "SINE      ");
    image.le16(10, 4);
    image.le16(0x600, 16);
    image.put(0x602, {0xFF});
    for (int e = 0; e < 4; e++)
        image.le16(0x2000 + 2 * e, 0xFFFF);
    return image;
}

DiskImage em1()
{
    DiskImage image;
    image.bytes = 495616;
    image.text(0, "EMU3");
    const uint32_t fields[] = {967, 3, 1, 4, 4, 2, 1, 8, 15};
    for (int i = 0; i < 9; i++)
        image.le32(4 + 4 * i, fields[i]);
    image.le16(0x1FE, 0x8487);
    image.text(3 * 512, "Default Folder  ");
    image.put(3 * 512 + 16, {0x00, 0x80, 0x04, 0x00});
    image.fill(3 * 512 + 20, 12, 0xFF);
    image.text(3 * 512 + 32, "Loops           ");
    image.put(3 * 512 + 48, {0x00, 0x40, 0x05, 0x00});
    image.fill(3 * 512 + 52, 12, 0xFF);
    return image;
}

DiskImage ro1()
{
    DiskImage image;
    image.bytes = 2859008;
    image.text(4, "S770 MR25A");
    image.put(14, {0x00, 0x20});
    image.text(0x20, "SYS-772 HardDisk Sys Ver. 2.00");
    image.text(0x40, "Copyright Roland");
    image.fill(0x60, 0xA0, 0xFF);
    image.text(0x100, "ID1:TestDisk    ");
    image.le32(0x110, 5584);
    const uint16_t counts[] = {1, 0, 0, 0, 1};
    for (int i = 0; i < 5; i++)
        image.le16(0x114 + 2 * i, counts[i]);
    image.fill(0x11E, 0x200 - 0x11E, 0xFF);
    image.text(0xA0800, "Test Volume     ");
    image.put(0xA0800 + 16, {0x40});
    return image;
}

DiskImage en1()
{
    DiskImage image;
    image.bytes = 819200;
    image.put(512 + 4, {0x00, 0x0A, 0x00, 0x02, 0x00, 0x50});
    image.be32(512 + 0x0A, 512);
    image.be32(512 + 0x0E, 1600);
    image.put(512 + 0x1E, {0xFF});
    image.text(512 + 0x1F, "TESTDSKID");
    image.be32(1024, 0x062F);
    image.text(1024 + 0x1C, "OS");
    image.text(4 * 512 + 0x1FE, "DR");
    for (int b = 5; b <= 14; b++)
        image.text(uint64_t(b) * 512 + 0x1FE, "FB");
    return image;
}

DiskImage ya1()
{
    DiskImage image;
    image.bytes = 2097152;
    for (uint64_t s : {0, 1}) {
        image.text(s * 512, "YAMAHA_dev3");
        image.be32(s * 512 + 0x9C, 512);
        image.be32(s * 512 + 0xA0, 4096);
        image.be32(s * 512 + 0xA8, 3);
        image.be32(s * 512 + 0xAC, 2046);
        image.be32(s * 512 + 0xB0, 2050);
        image.be32(s * 512 + 0xB4, 2046);
    }
    for (uint64_t s : {3, 5, 2050, 2052}) {
        image.text(s * 512, "YAMAHA_dev3");
        image.text(s * 512 + 0x40, s < 2050 ? "New Partition   " : "New Partition  1");
    }
    return image;
}

namespace {
/* The boot sector of FA12 and KZ1: jump, OEM, the parameter block, label and type text. */
DiskImage bootSector(const char *oem, uint16_t rootEntries, uint16_t total, uint8_t media, uint16_t fatSectors,
                     const char *label, const char *type)
{
    DiskImage image;
    image.put(0, {0xEB, 0x3C, 0x90});
    image.text(3, oem);
    image.le16(0x0B, 512);
    image.put(0x0D, {1});
    image.le16(0x0E, 1);
    image.put(0x10, {2});
    image.le16(0x11, rootEntries);
    image.le16(0x13, total);
    image.put(0x15, {media});
    image.le16(0x16, fatSectors);
    image.put(0x26, {0x29, 0x12, 0x34, 0x56, 0x78});
    image.text(0x2B, label);
    image.text(0x36, type);
    image.put(0x1FE, {0x55, 0xAA});
    return image;
}
}  // namespace

DiskImage fa12()
{
    DiskImage image = bootSector("MSDOS5.0", 224, 2880, 0xF0, 9, "SAMPLES    ", "FAT12   ");
    image.bytes = 1474560;
    return image;
}

DiskImage kz1()
{
    DiskImage image = bootSector("KMSI    ", 512, 8400, 0xF8, 33, "K2000 DISK ", "FAT16   ");
    image.bytes = 4300800;
    return image;
}

DiskImage fa32()
{
    DiskImage image;
    image.bytes = 34099200;
    image.put(0, {0xEB, 0x58, 0x90});
    image.text(3, "MSDOS5.0");
    image.le16(0x0B, 512);
    image.put(0x0D, {1});
    image.le16(0x0E, 32);
    image.put(0x10, {2});
    image.put(0x15, {0xF8});
    image.le32(0x20, 66600);
    image.le32(0x24, 516);
    image.put(0x1FE, {0x55, 0xAA});
    return image;
}

DiskImage mbr1()
{
    DiskImage image = kz1().placedAt(32256, 4333056);
    image.text(32256 + 3, "MSDOS5.0");
    image.le32(32256 + 0x1C, 63);
    image.put(0x1BE, {0x80, 0x01, 0x01, 0x00, 0x06, 0xFE, 0xFF, 0xFF});
    image.le32(0x1BE + 8, 63);
    image.le32(0x1BE + 12, 8400);
    image.put(0x1FE, {0x55, 0xAA});
    return image;
}

DiskImage is1()
{
    DiskImage image;
    image.bytes = 40960;
    const uint64_t pvd = 16 * 2048;
    image.put(pvd, {0x01});
    image.text(pvd + 1, "CD001");
    image.put(pvd + 6, {0x01});
    image.text(pvd + 0x28, "SAMPLES_CD                      ");
    image.put(pvd + 0x50, {0x14, 0, 0, 0, 0, 0, 0, 0x14});
    image.put(pvd + 0x80, {0x00, 0x08, 0x08, 0x00});
    image.put(17 * 2048, {0xFF});
    image.text(17 * 2048 + 1, "CD001");
    image.put(17 * 2048 + 6, {0x01});
    return image;
}
