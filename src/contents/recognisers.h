/*
 * The recognisers, one file per family, each ending in one Recogniser entry: its name, a quick
 * look for its magic (a candidate only), and the probe that accepts the candidate only on a
 * second, independent marker and then fills in the description. kRecognisers lists them in
 * probing order: the strict sampler formats first, then ISO 9660, the PC partition table, FAT,
 * and last the weak Akai S900. Adding a format is adding a file and a line.
 *
 * Akai S1000/S1100/S3000/CD3000 (akai_fs.cpp), E-mu EMU3 (emu3_fs.cpp), Roland S-7xx
 * (roland_fs.cpp), Ensoniq EPS/ASR (ensoniq_fs.cpp), Yamaha A3000/A4000/A5000 (yamaha_fs.cpp),
 * ISO 9660 (iso9660_fs.cpp), MBR (mbr_table.cpp), FAT12/16/32 with the Kurzweil, Yamaha and
 * E-mu hints (fat_fs.cpp), Akai S900 (akai_s900_fs.cpp).
 */
#ifndef KESTROVA_RECOGNISERS_H
#define KESTROVA_RECOGNISERS_H

#include <cstddef>
#include <cstdint>
#include "contents.h"
#include "probe_source.h"

struct Magic {
    uint64_t offset;      /* from the origin */
    const char *bytes;    /* null: the format has no fixed bytes to look for first */
    size_t length;
};

struct Recogniser {
    const char *name;
    Magic magic;
    /* Fills found (offsets from the origin) and returns true when the format is there. */
    bool (*probe)(const Source &source, FileSystem &found);
};

extern const Recogniser kAkaiRecogniser;
extern const Recogniser kEmu3Recogniser;
extern const Recogniser kRolandRecogniser;
extern const Recogniser kEnsoniqRecogniser;
extern const Recogniser kYamahaRecogniser;
extern const Recogniser kIso9660Recogniser;
extern const Recogniser kMbrRecogniser;
extern const Recogniser kFatRecogniser;
extern const Recogniser kAkaiS900Recogniser;

/* In probing order. */
extern const Recogniser *const kRecognisers[];
extern const size_t kRecogniserCount;

/* Whether a sector holds a valid FAT boot sector (fat_fs.cpp): then it is no partition table. */
bool validBootSector(const uint8_t *sector);

/* Whether the magic is at the origin (always, for a recogniser without one). */
bool magicPresent(const Source &source, const Magic &magic);

#endif
