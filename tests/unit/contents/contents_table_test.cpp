/*
 * Recognition, table-driven: the fact sheet's minimal image of each format and its near-miss,
 * built in memory (disk_images.h), each probed as an image file and each described by a summary
 * line the expected values are written in. Then what the extents say (truncated, missing,
 * several, blank, too small, a device that does not read) and the images that mkfs.fat and
 * xorriso made (contents_tool_images.sh) before this program ran.
 */
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdio>
#include <functional>
#include <string>
#include "contents.h"
#include "disk_contents.h"
#include "disk_images.h"

namespace {

/* A handful: what the whole probe of any of these disks may send. */
constexpr int kRequestBudget = 12;

std::string entries(const std::vector<Entry> &list)
{
    std::string s;
    for (const Entry &e : list)
        s += (s.empty() ? "" : ", ") + e.name + (e.kind.empty() ? "" : " (" + e.kind + ")") + (e.file ? " file" : "");
    return list.empty() ? "" : " {" + s + "}";
}

std::string summary(const FileSystem &fs)
{
    std::string s = fs.name;
    if (!fs.label.empty())
        s += " \"" + fs.label + "\"";
    if (!fs.hint.empty())
        s += " (" + fs.hint + ")";
    s += std::string(fs.byteSwapped ? " swapped" : "") + (fs.truncated ? " truncated" : "");
    s += " @" + std::to_string(fs.offset) + " +" + std::to_string(fs.bytes) + entries(fs.entries);
    for (const Partition &p : fs.partitions) {
        s += " | " + p.label + (p.missing ? " missing" : "") + (p.truncated ? " truncated" : "") +
             (p.damaged ? " damaged" : "") + " @" + std::to_string(p.offset) + " +" + std::to_string(p.bytes) +
             entries(p.entries);
        for (const FileSystem &inside : p.found)
            s += " [" + summary(inside) + "]";
    }
    return s;
}

std::string summary(const DiskContents &c)
{
    switch (c.verdict) {
    case Verdict::Blank: return "blank";
    case Verdict::Unknown: return "unknown";
    case Verdict::TooSmall: return "too small";
    case Verdict::NoSectors: return "no sectors";
    case Verdict::ReadFailed: {
        char text[64];
        std::snprintf(text, sizeof text, "read failed %02Xh at %u", c.failedStatus, unsigned(c.failedSector));
        return text;
    }
    case Verdict::Recognised: break;
    }
    std::string s;
    for (const FileSystem &fs : c.fileSystems)
        s += (s.empty() ? "" : " || ") + summary(fs);
    return s;
}

struct Case {
    const char *id;
    std::function<DiskImage()> build;
    const char *expected;
    uint64_t usedBytes;
};

void check(const Case &c, uint32_t sectorSize = 512, bool imageFile = true)
{
    SCOPED_TRACE(c.id);
    const DiskImage image = c.build();
    int requests = 0;
    const DiskContents contents = probeContents(mediumOf(image, sectorSize, imageFile, &requests));
    EXPECT_EQ(summary(contents), c.expected);
    EXPECT_EQ(contents.usedBytes, c.usedBytes);
    EXPECT_EQ(contents.requests, requests);
    EXPECT_LE(requests, kRequestBudget);
}

DiskImage with(DiskImage image, const std::function<void(DiskImage &)> &change)
{
    change(image);
    return image;
}

const char kAk1[] = "Akai S3000 @0 +524288 | A @0 +262144 {DRUMS (S3000)} | B @262144 +262144 {PIANO 1 (S1000)}";
const char kEm1[] = "E-mu EMU3 @0 +495616 {Default Folder, Loops}";
const char kEn1[] = "Ensoniq EPS/ASR \"TESTDSK\" @0 +819200";
const char kKz1[] = "FAT16 \"K2000 DISK\" (Kurzweil K2000/K2500/K2600) @0 +4300800";

}  // namespace

TEST(Recognition, EachFormatOnTheFactSheetsImage)
{
    const Case cases[] = {
        {"AK1", ak1, kAk1, 524288},
        {"ZIP disk with three Akai partitions", zipAkai,
         "Akai S3000 @0 +94208000 | A @0 +31948800 {DRUMS 1 (S3000), PIANOS (S3000)} | B @31948800 +31948800 "
         "{STRINGS (S1000)} | C @63897600 +30310400",
         94208000},
        {"AK9", ak9, "Akai S900 @0 +131072 {SINE file}", 131072},
        {"EM1", em1, kEm1, 495616},
        {"RO1", ro1, "Roland S-7xx \"ID1:TestDisk\" @0 +2859008 {Test Volume}", 2859008},
        {"EN1", en1, kEn1, 819200},
        {"YA1", ya1,
         "Yamaha A3000/A4000/A5000 @0 +2097152 | 1 \"New Partition\" @1536 +1047552 | 2 \"New Partition  1\" "
         "@1049600 +1047552",
         2097152},
        {"FA12", fa12, "FAT12 \"SAMPLES\" @0 +1474560", 1474560},
        {"KZ1", kz1, kKz1, 4300800},
        {"FA32", fa32, "FAT32 @0 +34099200", 34099200},
        {"MBR1", mbr1,
         "MBR partition table @0 +4333056 | 1 (type 06h) @32256 +4300800 [FAT16 \"K2000 DISK\" @32256 +4300800]",
         4333056},
        {"IS1", is1, "ISO 9660 \"SAMPLES_CD\" @0 +40960", 40960},
        {"IS1-GAP", [] { return is1().placedAt(307200, 307200 + 40960); },
         "ISO 9660 \"SAMPLES_CD\" @307200 +40960", 348160},
        {"CD-AK with a pregap", [] { return ak1().placedAt(307200, 307200 + 524288); },
         "Akai S3000 @307200 +524288 | A @307200 +262144 {DRUMS (S3000)} | B @569344 +262144 {PIANO 1 (S1000)}",
         831488},
        {"MULTI", [] {
             DiskImage card = ak1();
             card.bytes = 2363392;
             for (const DiskImage &part : {en1().placedAt(1048576, 2363392), em1().placedAt(1867776, 2363392)})
                 for (const auto &[n, sector] : part.sectors)
                     card.put(n * 512, std::vector<uint8_t>(sector.begin(), sector.end()));
             return card;
         },
         "Akai S3000 @0 +524288 | A @0 +262144 {DRUMS (S3000)} | B @262144 +262144 {PIANO 1 (S1000)} || "
         "Ensoniq EPS/ASR \"TESTDSK\" @1048576 +819200 || E-mu EMU3 @1867776 +495616 {Default Folder, Loops}",
         2363392},
        {"SWAP", [] { return em1().swapped(); }, "E-mu EMU3 swapped @0 +495616 {Default Folder, Loops}", 495616},
        {"N-YA2 is FAT12, not Yamaha", [] { return with(fa12(), [](DiskImage &i) { i.text(3, "YAMAHA  "); }); },
         "FAT12 \"SAMPLES\" (Yamaha A-series floppy) @0 +1474560", 1474560},
    };
    for (const Case &c : cases)
        check(c);
    /* Sampler CD-ROMs are read by byte position: the same disk on a drive of 2048-byte sectors. */
    check({"AK1 on a CD-ROM drive", ak1, kAk1, 524288}, 2048, false);
    check({"IS1 on a CD-ROM drive", is1, "ISO 9660 \"SAMPLES_CD\" @0 +40960", 40960}, 2048, false);
}

TEST(Recognition, NearMissesAreNotTakenForTheirFormat)
{
    auto unknown = [](const char *id, std::function<DiskImage()> build) { return Case{id, build, "unknown", 0}; };
    const Case cases[] = {
        {"N-AK0: zeros (word 0 of the magic is 0)", [] { DiskImage i; i.bytes = 524288; return i; }, "blank", 0},
        unknown("N-AK1: a checksum off by one", [] {
            return with(ak1(), [](DiskImage &i) { i.bytes = 262144; i.put(0xC6, {0xF6}); });
        }),
        unknown("N-AK9: map entry 3 free", [] { return with(ak9(), [](DiskImage &i) { i.le16(0x2006, 0); }); }),
        unknown("N-EM1: a text that starts with EMU3", [] {
            DiskImage i;
            i.bytes = 495616;
            i.text(0, "EMU3 bank list: Default Folder, Loops, Strings, Brass and Pads of the studio disk");
            return i;
        }),
        unknown("N-EM2: regions that do not tile", [] { return with(em1(), [](DiskImage &i) { i.le32(0x10, 5); }); }),
        unknown("N-RO1: the magic at 0", [] {
            return with(ro1(), [](DiskImage &i) { i.text(0, "S770 MR25A"); i.fill(10, 6, 0); });
        }),
        unknown("N-RO2: 65535 samples", [] { return with(ro1(), [](DiskImage &i) { i.le16(0x11C, 0xFFFF); }); }),
        unknown("N-EN1: no DR, no FB", [] {
            return with(en1(), [](DiskImage &i) {
                i.fill(4 * 512 + 0x1FE, 2, 0);
                for (int b = 5; b <= 14; b++)
                    i.fill(uint64_t(b) * 512 + 0x1FE, 2, 0);
            });
        }),
        unknown("N-EN2: DI for ID", [] { return with(en1(), [](DiskImage &i) { i.text(512 + 0x26, "DI"); }); }),
        unknown("N-YA1: no copy, no partition magic", [] {
            return with(ya1(), [](DiskImage &i) {
                for (uint64_t s : {1, 3, 5})
                    i.fill(s * 512, 512, 0);
            });
        }),
        unknown("N-FA1: 55 AA and nothing else", [] {
            DiskImage i;
            i.bytes = 1474560;
            i.put(0x1FE, {0x55, 0xAA});
            return i;
        }),
        unknown("N-FA2: 768 bytes per sector", [] { return with(kz1(), [](DiskImage &i) { i.le16(0x0B, 768); }); }),
        unknown("N-IS1: big-endian copies zero", [] {
            return with(is1(), [](DiskImage &i) {
                i.fill(16 * 2048 + 0x54, 4, 0);
                i.fill(16 * 2048 + 0x82, 2, 0);
            });
        }),
        unknown("N-IS2: descriptor type 5", [] { return with(is1(), [](DiskImage &i) { i.put(16 * 2048, {5}); }); }),
    };
    for (const Case &c : cases)
        check(c);
}

TEST(Recognition, WhatTheExtentsAndTheReadsSay)
{
    const Case cases[] = {
        {"AK1-T: cut inside partition B", [] { return with(ak1(), [](DiskImage &i) { i.bytes = 327680; }); },
         "Akai S3000 truncated @0 +524288 | A @0 +262144 {DRUMS (S3000)} | B truncated @262144 +262144 "
         "{PIANO 1 (S1000)}",
         524288},
        {"a table that points beyond the end", [] {
             return with(mbr1(), [](DiskImage &i) {
                 i.le32(0x1BE + 12, 100000);                       /* entry 1 runs past the end */
                 i.put(0x1CE, {0x00, 0, 0, 0, 0x0B});              /* entry 2 starts past it */
                 i.le32(0x1CE + 8, 200000);
                 i.le32(0x1CE + 12, 10);
             });
         },
         "MBR partition table truncated @0 +102405120 | 1 (type 06h) truncated @32256 +51200000 "
         "[FAT16 \"K2000 DISK\" @32256 +4300800] | 2 (type 0Bh) missing @102400000 +5120",
         102405120},
        {"shorter than a sector", [] { DiskImage i; i.bytes = 100; return i; }, "too small", 0},
        {"a device of no sectors", [] { return DiskImage(); }, "no sectors", 0},
    };
    for (const Case &c : cases)
        check(c);

    /* A device that answers nothing gives "unknown" with the failed read; one whose later
       sectors fail still shows what its first ones hold. */
    const DiskImage zip = zipAkai();
    EXPECT_EQ(summary(probeContents(mediumOf(zip, 512, false, nullptr, 0))), "read failed 04h at 0");
    const DiskContents partly = probeContents(mediumOf(zip, 512, false, nullptr, 31948800));
    EXPECT_EQ(summary(partly),
              "Akai S3000 @0 +94208000 | A @0 +31948800 {DRUMS 1 (S3000), PIANOS (S3000)} | B @31948800 +31948800 "
              "| C @63897600 +30310400");
    EXPECT_EQ(partly.failedStatus, 4);
    EXPECT_EQ(partly.failedSector, 62400u);

    /* A blank ZIP disk costs a few requests; a blank image file a few more (the pregap). */
    DiskImage blank;
    blank.bytes = 196608ull * 512;
    int requests = 0;
    EXPECT_EQ(summary(probeContents(mediumOf(blank, 512, false, &requests))), "blank");
    EXPECT_LE(requests, 4);
}

/* What mkfs.fat and xorriso made, read through the program's own image-file reads. The sizes
   are the tools' own: the FAT's total of sectors, the ISO's volume space (the file's length). */
TEST(Recognition, ImagesThatTheToolsMade)
{
    char folder[MAX_PATH];
    if (!GetEnvironmentVariableA("KESTROVA_CONTENTS_TOOL_IMAGES", folder, sizeof folder))
        GTEST_SKIP() << "no tool images: run through ctest, which makes them first";
    struct ToolImage { const char *file, *expected; uint64_t bytes; };
    const ToolImage images[] = {
        {"fat12.img", "FAT12 \"TOOLFAT12\" @0 +1474560", 1474560},
        {"fat16.img", "FAT16 \"TOOLFAT16\" @0 +16777216", 16777216},
        {"fat32.img", "FAT32 \"TOOLFAT32\" @0 +40960000", 40960000},
        {"cd.iso", "ISO 9660 \"TOOLCD\" @0 +376832", 376832},
    };
    for (const ToolImage &t : images) {
        SCOPED_TRACE(t.file);
        DiskContents contents;
        ASSERT_TRUE(probeImageFile((std::string(folder) + "\\" + t.file).c_str(), -1, contents));
        EXPECT_EQ(summary(contents), t.expected);
        EXPECT_EQ(contents.mediumBytes, t.bytes) << "the file's length";
        EXPECT_LE(contents.requests, kRequestBudget);
    }
}
