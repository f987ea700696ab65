/*
 * Reading maps: which this program goes on from, and what it takes as read. Maps of its own,
 * hand-made faulty ones, and maps GNU ddrescue itself wrote (ddrescue_maps.sh).
 */
#include <gtest/gtest.h>
#include <windows.h>
#include <fstream>
#include <iterator>
#include <string>
#include "archive.h"

namespace {

const std::string kHeading = "# Mapfile. Created by Kestrova V1.31\n"
                             "# Device: adapter 0, target 2, LUN 0, \"VBUS    SAMPLER DISK    1.0 \"\n"
                             "# Geometry: 256 sectors of 512 bytes; this copy: sectors 0 to 255\n";

std::string fileText(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

TEST(MapReading, OnlyFinishedBlocksCountAsReadAndTheBlocksMustCoverTheCopy)
{
    struct Case {
        const char *what;
        std::string text;
        MapVerdict verdict;
        uint32_t notRead, bad;   /* sectors, when usable */
    };
    const Case cases[] = {
        {"finished", kHeading + "0x20000 + 1\n0x0 0x5000 +\n0x5000 0x400 -\n0x5400 0x1AC00 +\n", MapVerdict::Usable,
         2, 2},
        {"not tried in the middle, read after it", kHeading + "0x8000 ? 1\n0 0x4000 +\n0x4000 0x4000 ?\n0x8000 0x18000 +\n",
         MapVerdict::Usable, 32, 0},
        {"non-trimmed and non-scraped", kHeading + "0 * 1\n0 0x400 *\n0x400 0x200 /\n0x600 0x1FA00 +\n",
         MapVerdict::Usable, 3, 0},
        {"decimal, comments after blocks, CR LF", kHeading + "0 + 1\r\n0 130560 +   # read\r\n130560 512 - # bad\r\n",
         MapVerdict::Usable, 1, 1},
        {"no pass in the status line (older ddrescue)", kHeading + "0 +\n0 0x20000 +\n", MapVerdict::Usable, 0, 0},
        {"a gap", kHeading + "0 + 1\n0 0x5000 +\n0x5200 0x1AE00 +\n", MapVerdict::Gaps, 0, 0},
        {"an overlap", kHeading + "0 + 1\n0 0x5000 +\n0x4E00 0x1B200 +\n", MapVerdict::Gaps, 0, 0},
        {"not from 0", kHeading + "0 + 1\n0x200 0x1FE00 +\n", MapVerdict::Gaps, 0, 0},
        {"short of the end", kHeading + "0 + 1\n0 0x1FE00 +\n", MapVerdict::Gaps, 0, 0},
        {"past the end", kHeading + "0 + 1\n0 0x20200 +\n", MapVerdict::Gaps, 0, 0},
        {"part of a sector", kHeading + "0 + 1\n0 0x100 +\n0x100 0x1FF00 +\n", MapVerdict::Gaps, 0, 0},
        {"an empty block", kHeading + "0 + 1\n0 0 ?\n0 0x20000 +\n", MapVerdict::Gaps, 0, 0},
        {"an unknown status", kHeading + "0 + 1\n0 0x20000 x\n", MapVerdict::NotAMap, 0, 0},
        {"a line that is no block", kHeading + "0 + 1\n0 0x20000 + extra\n", MapVerdict::NotAMap, 0, 0},
        {"no status line", kHeading, MapVerdict::NotAMap, 0, 0},
        {"ours without its device line",
         "# Mapfile. Created by Kestrova V1.31\n# Geometry: 256 sectors of 512 bytes; this copy: sectors 0 to 255\n"
         "0 + 1\n0 0x20000 +\n",
         MapVerdict::NotAMap, 0, 0},
        {"a sound map without the heading", "# Mapfile. Created by GNU ddrescue version 1.27\n0 + 1\n0 0x20000 +\n",
         MapVerdict::NotOurs, 0, 0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        RescueMap map;
        ASSERT_EQ(int(parseMap(c.text, map)), int(c.verdict));
        if (c.verdict != MapVerdict::Usable)
            continue;
        EXPECT_EQ(map.sectors, 256);
        EXPECT_EQ(sectorsNotRead(map, 0, 256), c.notRead);
        EXPECT_EQ(sectorsWith(map, kBadSector), c.bad);
    }
}

/* The maps ddrescue wrote of a 256-sector source whose sectors 40 to 47 fail: read for their
   blocks, judged another program's, and gone on from once they carry this program's heading. */
TEST(MapReading, MapsThatDdrescueWrote)
{
    char folder[MAX_PATH];
    ASSERT_TRUE(GetEnvironmentVariableA("KESTROVA_DDRESCUE_MAPS", folder, sizeof folder))
        << "set by ctest (ddrescue_maps.sh)";
    struct Case {
        const char *name;
        uint64_t finishedBytes;
        uint32_t notRead, bad;
    };
    const Case cases[] = {
        {"finished", 126976, 8, 8},
        {"stopped", 86016, 88, 1},      /* -X1: one bad sector, the rest of the failed read untrimmed */
        {"unscraped", 126976, 8, 2},    /* -n: the middle of the bad area left non-scraped */
        {"partial", 16384, 224, 0},     /* -s: the first 32 sectors only, the rest not tried */
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        const std::string text = fileText(std::string(folder) + "\\" + c.name + ".map");
        ASSERT_FALSE(text.empty());
        RescueMap map;
        std::vector<ByteBlock> blocks;
        ASSERT_EQ(int(parseMap(text, map, &blocks)), int(MapVerdict::NotOurs));
        uint64_t finished = 0;
        for (const ByteBlock &b : blocks)
            finished += b.status == kFinished ? b.size : 0;
        EXPECT_EQ(finished, c.finishedBytes);

        ASSERT_EQ(int(parseMap(kHeading + text, map)), int(MapVerdict::Usable));
        EXPECT_EQ(sectorsNotRead(map, 0, 256), c.notRead);
        EXPECT_EQ(sectorsWith(map, kBadSector), c.bad);
    }
}

}  // namespace
