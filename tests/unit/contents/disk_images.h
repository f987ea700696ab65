/*
 * Disk images for the recognition tests, built in memory from the designs of the sampler formats'
 * fact sheet (its last section: a minimal image per format and a near-miss each), leaving out
 * what no recogniser reads (block maps, file entries, directory records). Images are sparse:
 * sectors never written read as zeros, so a ZIP-sized disk costs a few sectors of memory.
 */
#ifndef KESTROVA_TEST_DISK_IMAGES_H
#define KESTROVA_TEST_DISK_IMAGES_H

#include <array>
#include <cstdint>
#include <map>
#include <string>
#include <vector>
#include "contents.h"

struct DiskImage {
    uint64_t bytes = 0;
    std::map<uint64_t, std::array<uint8_t, 512>> sectors;

    void put(uint64_t offset, const std::vector<uint8_t> &data);
    void text(uint64_t offset, const std::string &s) { put(offset, std::vector<uint8_t>(s.begin(), s.end())); }
    void le16(uint64_t offset, uint16_t v) { put(offset, {uint8_t(v), uint8_t(v >> 8)}); }
    void le32(uint64_t offset, uint32_t v) { put(offset, {uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)}); }
    void be16(uint64_t offset, uint16_t v) { put(offset, {uint8_t(v >> 8), uint8_t(v)}); }
    void be32(uint64_t offset, uint32_t v) { put(offset, {uint8_t(v >> 24), uint8_t(v >> 16), uint8_t(v >> 8), uint8_t(v)}); }
    void fill(uint64_t offset, size_t length, uint8_t value) { put(offset, std::vector<uint8_t>(length, value)); }
    std::vector<uint8_t> read(uint64_t offset, size_t length) const;
    /* The image moved to start at origin within a larger one of bytes. */
    DiskImage placedAt(uint64_t origin, uint64_t bytes) const;
    /* Every 16-bit word's two bytes exchanged. */
    DiskImage swapped() const;
};

/* A medium over the image with sectors of sectorSize; a file when imageFile. Reads count into
   *requests; failAfter >= 0 makes every read that reaches past that byte fail with status 04h. */
Medium mediumOf(const DiskImage &image, uint32_t sectorSize = 512, bool imageFile = true, int *requests = nullptr,
                int64_t failAfter = -1);

/* Akai text: 0-9, space, A-Z as the format encodes them, padded with blanks to 12. */
std::vector<uint8_t> akaiName(const std::string &name);

/* The fact sheet's designs. */
DiskImage akaiHeader(uint64_t at, uint16_t blocks);          /* a partition header without volumes */
DiskImage ak1();
DiskImage zipAkai();    /* 100 MB ZIP disk: partitions A, B, C of 3900, 3900, 3700 blocks */
DiskImage ak9();
DiskImage em1();
DiskImage ro1();
DiskImage en1();
DiskImage ya1();
DiskImage fa12();
DiskImage kz1();
DiskImage fa32();
DiskImage mbr1();
DiskImage is1();

#endif
