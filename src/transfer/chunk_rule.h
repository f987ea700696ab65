/*
 * The arithmetic of a transfer: how many sectors one chunk moves, the percentage shown, the
 * zero bytes that round an image file up to 2048 bytes, and which devices a transfer refuses.
 * Pure functions; every product of sector counts and sizes is formed in 64 bits.
 */
#ifndef KESTROVA_CHUNK_RULE_H
#define KESTROVA_CHUNK_RULE_H

#include <cstdint>

/* The READ(10)/WRITE(10) CDB carries the sector count in 16 bits. */
constexpr int32_t kMaxChunkSectors = 65535;
/* Images are rounded up to a multiple of this many bytes. */
constexpr int64_t kImageAlignment = 2048;

/* Bytes of the I/O buffer for a bufferBlocks setting (units of 512 bytes); 0 when not positive. */
uint64_t ioBufferBytesFor(int32_t bufferBlocks);

/*
 * Whole sectors of sectorSize bytes that one buffer of bufferBytes holds, never more than
 * kMaxChunkSectors nor more than fit one request's 32-bit byte length. 0 when the sector size
 * is not positive or larger than the buffer.
 */
int32_t sectorsPerBuffer(uint64_t bufferBytes, int32_t sectorSize);

/* The sectors of the next chunk: a full buffer, or the rest of the transfer when that is less. */
inline int32_t nextChunkSectors(int32_t perBuffer, int32_t sectorsDone, int32_t transferSectors)
{
    return int64_t(sectorsDone) + perBuffer > transferSectors ? transferSectors - sectorsDone : perBuffer;
}

/* sectorsDone * 100 / transferSectors, integer division, without overflow; 0 when nothing is to move. */
inline int transferPercent(int32_t sectorsDone, int32_t transferSectors)
{
    return transferSectors > 0 ? int(int64_t(sectorsDone) * 100 / transferSectors) : 0;
}

/* Zero bytes that follow sectors * sectorSize bytes of image: 0 to 2047. */
int64_t alignmentPadBytes(int32_t sectors, int32_t sectorSize);

enum class SectorSizeFit {
    Fits,
    NoSectorSize,      /* 0 or negative: the device reported no capacity */
    LargerThanBuffer,  /* one sector does not fit the I/O buffer (also a buffer of 0 bytes) */
};

SectorSizeFit sectorSizeFit(int32_t sectorSize, uint64_t bufferBytes);

#endif
