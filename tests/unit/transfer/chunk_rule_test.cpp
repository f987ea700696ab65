/* The chunk rule, the percentage, the alignment and the sector-size refusals, table-driven. */
#include <gtest/gtest.h>
#include "chunk_rule.h"

TEST(ChunkRule, SectorsPerBufferAreWholeSectorsUpToTheCdbLimit)
{
    struct Case { uint64_t bufferBytes; int32_t sectorSize; int32_t expected; };
    const Case cases[] = {
        {4096, 512, 8},       {65536, 512, 128},    {4096, 2048, 2},  {65536, 2048, 32},
        {6144, 2048, 3},      {5000, 2048, 2},      {4096, 4096, 1},  {4096, 4097, 0},
        {4096, 0, 0},         {4096, -512, 0},      {0, 512, 0},      {8192, 3, 2730},
        /* a buffer larger than 65535 sectors still gives requests the CDB can count */
        {uint64_t(1) << 30, 512, 65535},           {uint64_t(65536) * 512, 512, 65535},
        {uint64_t(65535) * 512, 512, 65535},       {uint64_t(1) << 31, 1, 65535},
        /* and a byte length that fits the request's 32 bits */
        {uint64_t(1) << 40, 1 << 20, 4095},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::Message() << c.bufferBytes << " bytes / " << c.sectorSize);
        EXPECT_EQ(sectorsPerBuffer(c.bufferBytes, c.sectorSize), c.expected);
    }
}

TEST(ChunkRule, EveryChunkButTheLastIsFullAndTheChunksAddUp)
{
    struct Case { int32_t perBuffer, transferSectors; std::vector<int32_t> chunks; };
    const std::vector<Case> cases = {
        {8, 1, {1}},                 /* single chunk, smaller than the buffer */
        {8, 8, {8}},                 /* single chunk, exactly the buffer */
        {8, 24, {8, 8, 8}},          /* exact multiple */
        {8, 27, {8, 8, 8, 3}},       /* remainder */
        {128, 129, {128, 1}},
        {65535, 65536, {65535, 1}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::Message() << c.perBuffer << " per buffer, " << c.transferSectors << " sectors");
        std::vector<int32_t> chunks;
        for (int32_t done = 0; done < c.transferSectors && chunks.size() < 100;) {
            chunks.push_back(nextChunkSectors(c.perBuffer, done, c.transferSectors));
            done += chunks.back();
        }
        EXPECT_EQ(chunks, c.chunks);
    }
}

TEST(ChunkRule, TheLastChunkNearTheTopOfTheSignedRangeDoesNotOverflow)
{
    const int32_t total = INT32_MAX;
    EXPECT_EQ(nextChunkSectors(128, total - 5, total), 5);
    EXPECT_EQ(nextChunkSectors(65535, total - 65535, total), 65535);
}

TEST(Percentage, IntegerDivisionOfSectorsDoneTimesHundred)
{
    struct Case { int32_t done, total; int expected; };
    const Case cases[] = {
        {0, 1, 0},  {0, 100, 0},   {1, 100, 1},     {99, 100, 99},  {100, 100, 100},
        {1, 3, 33}, {2, 3, 66},    {128, 129, 99},  {0, 0, 0},
        /* sectorsDone * 100 leaves the signed 32-bit range: still 0 to 100 */
        {30000000, 40000000, 75}, {INT32_MAX / 2, INT32_MAX, 49}, {INT32_MAX, INT32_MAX, 100},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::Message() << c.done << " of " << c.total);
        EXPECT_EQ(transferPercent(c.done, c.total), c.expected);
    }
}

TEST(Alignment, ZeroBytesUpToTheNext2048FromTransferSectorsTimesSectorSize)
{
    struct Case { int32_t sectors, sectorSize; int64_t pad; };
    const Case cases[] = {
        {1, 512, 1536}, {2, 512, 1024}, {3, 512, 512}, {4, 512, 0},   {5, 512, 1536},
        {1, 2048, 0},   {7, 2048, 0},   {1, 1024, 1024}, {1, 4096, 0}, {1, 1, 2047},
        {0, 512, 0},
        /* products beyond 32 bits: 8 GB and an odd count of 512-byte sectors */
        {16777216, 512, 0}, {16777217, 512, 1536}, {INT32_MAX, 2048, 0}, {INT32_MAX, 512, 512},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::Message() << c.sectors << " x " << c.sectorSize);
        EXPECT_EQ(alignmentPadBytes(c.sectors, c.sectorSize), c.pad);
    }
}

TEST(SectorSize, RefusedWhenZeroOrLargerThanTheBuffer)
{
    struct Case { int32_t sectorSize; uint64_t bufferBytes; SectorSizeFit expected; };
    const Case cases[] = {
        {512, 4096, SectorSizeFit::Fits},
        {4096, 4096, SectorSizeFit::Fits},
        {2048, 65536, SectorSizeFit::Fits},
        {0, 4096, SectorSizeFit::NoSectorSize},
        {-1, 4096, SectorSizeFit::NoSectorSize},
        {4097, 4096, SectorSizeFit::LargerThanBuffer},
        {512, 0, SectorSizeFit::LargerThanBuffer},
        {512, 511, SectorSizeFit::LargerThanBuffer},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::Message() << c.sectorSize << " in " << c.bufferBytes);
        EXPECT_EQ(sectorSizeFit(c.sectorSize, c.bufferBytes), c.expected);
    }
}

TEST(BufferBytes, FiveHundredTwelveBytesPerBlock)
{
    EXPECT_EQ(ioBufferBytesFor(8), 4096u);
    EXPECT_EQ(ioBufferBytesFor(128), 65536u);
    EXPECT_EQ(ioBufferBytesFor(0), 0u);
    EXPECT_EQ(ioBufferBytesFor(-8), 0u);
    EXPECT_EQ(ioBufferBytesFor(INT32_MAX), uint64_t(INT32_MAX) * 512);
}
