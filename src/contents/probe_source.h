/*
 * What the recognisers read from: the medium through a cache of 8 KB chunks (so that the many
 * looks at the first sectors cost one request), seen from an origin, and for byte-swapped
 * images through a view that exchanges the two bytes of every 16-bit word.
 */
#ifndef KESTROVA_PROBE_SOURCE_H
#define KESTROVA_PROBE_SOURCE_H

#include <cstddef>
#include <cstdint>
#include <map>
#include <vector>
#include "contents.h"

/* The reads of one probe. */
struct ProbeReader {
    const Medium *medium = nullptr;
    uint64_t chunkBytes = 0;                            /* whole sectors, 8 KB or one sector */
    std::map<uint64_t, std::vector<uint8_t>> chunks;   /* by chunk number; short at the end */
    int requests = 0;
    bool nonZeroSeen = false;   /* a byte read so far was not zero */
    int failedStatus = 0;
    uint64_t failedSector = 0;
};

/* A cap on the reads of one probe: a handful is what a disk needs. */
constexpr int kMaxProbeRequests = 48;

void startReader(ProbeReader &reader, const Medium &medium);

/* Where a recogniser looks: offsets it reads count from origin. */
struct Source {
    ProbeReader *reader = nullptr;
    uint64_t origin = 0;
    bool swapped = false;
    uint64_t bytes = 0;   /* from origin to the medium's end */
};

Source sourceAt(ProbeReader &reader, uint64_t origin, bool swapped);

/* Reads length bytes at offset (from the origin). false when any of them lies beyond the
   medium's end or could not be read. */
bool readBytes(const Source &source, uint64_t offset, uint8_t *out, size_t length);

/* Little- and big-endian fields of a buffer. */
inline uint16_t le16(const uint8_t *p) { return uint16_t(p[0] | p[1] << 8); }
inline uint32_t le32(const uint8_t *p) { return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24; }
inline uint16_t be16(const uint8_t *p) { return uint16_t(p[0] << 8 | p[1]); }
inline uint32_t be32(const uint8_t *p) { return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | uint32_t(p[3]); }

/* Text of a fixed-size field: stops at a NUL, drops the trailing blanks; bytes outside printable
   ASCII show as '.'. */
std::string fieldText(const uint8_t *p, size_t length);

#endif
