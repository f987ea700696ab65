/*
 * The description of a probe as lines of text: one per file system, partition, volume and
 * finding, indented by level. The words come from the caller as printf formats (the program
 * loads them from its string table, in the user's language), in the order of ContentsText.
 */
#ifndef KESTROVA_CONTENTS_TEXT_H
#define KESTROVA_CONTENTS_TEXT_H

#include <array>
#include <cstddef>
#include <string>
#include "contents.h"

enum class ContentsText {
    FileSystem,    /* title, first sector, last sector, MB: "%s: sectors %s to %s (%.1f MB)" */
    Partition,     /* label, sectors, first sector, MB */
    Volume,        /* name */
    File,          /* name */
    Blank,
    Unknown,
    ReadFailed,    /* sector, status */
    TooSmall,      /* bytes */
    NoSectors,
    SectorSize,    /* bytes per sector, when not 512 */
    Truncated,     /* sectors there, sectors declared */
    Missing,
    Damaged,
    Trailing,      /* sectors, MB */
    Several,       /* count */
    Swapped,       /* a word: "byte-swapped" */
    Count
};
using ContentsTexts = std::array<const char *, size_t(ContentsText::Count)>;

/* Appends the lines, each starting with indent (two blanks more per level) and ending with
   lineEnd. */
void appendContentsLines(std::string &text, const DiskContents &contents, const ContentsTexts &texts,
                         const std::string &indent, const char *lineEnd);

/* "Akai S3000", "FAT16 \"K2000 DISK\" (Kurzweil K2000/K2500/K2600)", "..., byte-swapped". */
std::string fileSystemTitle(const FileSystem &fs, const char *swappedWord);

/* The volumes of every partition and of the file system, "DRUMS 1, PIANOS"; after max of
   them, ", ...". Files are not volumes and are left out. */
std::string volumeList(const FileSystem &fs, size_t max);

/* Sectors of sectorSize that bytes take, the last one counted whole. */
uint64_t sectorsFor(uint64_t bytes, uint32_t sectorSize);

/* A number as text, for the "%s" of a format: the string table's formats take no 64-bit
   conversions. */
std::string numberText(uint64_t n);

#endif
