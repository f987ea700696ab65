/*
 * What is on a disk or in an image: the file systems of samplers and PCs that the recognisers
 * know, their partitions and volumes, and what is wrong with them. Bytes in, a description out:
 * nothing here knows Windows, SCSI or files; the caller hands in a Medium that reads sectors.
 *
 * probe.cpp runs the recognisers (recognisers.h, one file per family) at each place a file
 * system can begin: byte 0, each partition of a PC partition table, after a CD image's pregap,
 * the end of a file system found before (cards that hold several back to back), and, when
 * nothing is found, the same places with every 16-bit word's bytes exchanged.
 */
#ifndef KESTROVA_CONTENTS_H
#define KESTROVA_CONTENTS_H

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

/* A disk or an image as the recognisers read it. */
struct Medium {
    uint64_t bytes = 0;          /* its length: sectors x sector size, or the file's length */
    uint32_t sectorSize = 512;   /* reads are of whole sectors */
    bool imageFile = false;      /* a file: a CD image may start with a pregap */
    /* Reads count sectors from sector lba into buffer (count x sectorSize bytes). Returns 0, or
       a status that says why not (for a device, the ASPI status of its READ(10)). */
    std::function<int(uint64_t lba, uint32_t count, uint8_t *buffer)> readSectors;
};

enum class Family { Mbr, Akai, AkaiS900, Emu3, Roland, Ensoniq, Yamaha, Fat, Iso9660 };

/* A volume, folder or file listed by a file system. */
struct Entry {
    std::string name;    /* decoded from the format's own character set */
    std::string kind;    /* "S3000", ...; empty when the format says nothing more */
    bool file = false;   /* a file in a root without volumes (Akai S900) */
};

struct FileSystem;

struct Partition {
    std::string label;          /* "A", "1 (type 06h)", "2 \"New Partition\"" */
    uint64_t offset = 0;        /* bytes from the start of the medium */
    uint64_t bytes = 0;         /* as the table or the header declares it */
    bool damaged = false;       /* no valid header where the table puts it */
    bool missing = false;       /* it would start beyond the medium's end */
    bool truncated = false;     /* it starts inside the medium but ends beyond it */
    std::vector<Entry> entries;
    std::vector<FileSystem> found;   /* what a PC partition holds */
};

struct FileSystem {
    Family family = Family::Fat;
    std::string name;           /* "Akai S3000", "FAT16", ... */
    bool an = false;            /* English takes "an" before the name */
    std::string label;          /* the disk's or volume's own name; empty when it has none */
    std::string hint;           /* what the label or OEM name suggests: "Kurzweil K2000/K2500/K2600" */
    uint64_t offset = 0;        /* bytes from the start of the medium */
    uint64_t bytes = 0;         /* what it declares: its end is offset + bytes */
    bool byteSwapped = false;
    bool truncated = false;     /* its end lies beyond the medium's */
    std::vector<Partition> partitions;
    std::vector<Entry> entries;
};

enum class Verdict {
    Recognised,   /* at least one file system */
    Blank,        /* every byte read was zero */
    Unknown,      /* something, but nothing recognised */
    ReadFailed,   /* nothing recognised, and a read failed */
    TooSmall,     /* shorter than one sector */
    NoSectors,    /* a device with no sectors (no medium, nothing at that id) */
};

struct DiskContents {
    Verdict verdict = Verdict::Unknown;
    uint64_t mediumBytes = 0;
    uint32_t sectorSize = 512;
    std::vector<FileSystem> fileSystems;   /* in the order of their offsets */
    uint64_t usedBytes = 0;                /* the end of the last file system; 0 with none */
    int failedStatus = 0;                  /* the first read that failed: its status, */
    uint64_t failedSector = 0;             /* and its first sector */
    int requests = 0;                      /* reads sent to the medium */
};

/* Reads what it needs (a few dozen sectors at most) and never writes. */
DiskContents probeContents(const Medium &medium);

/* The file system that names a disk: the first one, or the first inside a partition table. */
const FileSystem *mainFileSystem(const DiskContents &contents);

/* Several file systems one after the other (a card that holds several devices' images). */
bool holdsSeveral(const DiskContents &contents);

#endif
