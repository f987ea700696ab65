/* The arithmetic of a transfer's chunks, percentages and alignment. */
#include "chunk_rule.h"

uint64_t ioBufferBytesFor(int32_t bufferBlocks)
{
    return bufferBlocks > 0 ? uint64_t(bufferBlocks) * 512 : 0;
}

int32_t sectorsPerBuffer(uint64_t bufferBytes, int32_t sectorSize)
{
    if (sectorSize <= 0)
        return 0;
    uint64_t perBuffer = bufferBytes / uint64_t(sectorSize);
    /* A request's SRB_BufLen is 32 bits wide. */
    uint64_t perRequest = UINT32_MAX / uint64_t(sectorSize);
    if (perBuffer > perRequest)
        perBuffer = perRequest;
    if (perBuffer > uint64_t(kMaxChunkSectors))
        perBuffer = kMaxChunkSectors;
    return int32_t(perBuffer);
}

int64_t alignmentPadBytes(int32_t sectors, int32_t sectorSize)
{
    int64_t imageBytes = int64_t(sectors) * sectorSize;
    if (imageBytes <= 0)
        return 0;
    return (kImageAlignment - imageBytes % kImageAlignment) % kImageAlignment;
}

SectorSizeFit sectorSizeFit(int32_t sectorSize, uint64_t bufferBytes)
{
    if (sectorSize <= 0)
        return SectorSizeFit::NoSectorSize;
    if (uint64_t(sectorSize) > bufferBytes)
        return SectorSizeFit::LargerThanBuffer;
    return SectorSizeFit::Fits;
}
