/*
 * The map of a rescue, as GNU ddrescue keeps it: the sectors of a copy as contiguous blocks,
 * each with one of ddrescue's statuses, and the position the rescue has reached. It knows
 * nothing of the device the sectors come from: the rescue's phases (rescue_phases.cpp) set the
 * statuses, this unit keeps them, writes them as a ddrescue mapfile and reads them back.
 *
 * The file: heading comments (the device the copy came from, its geometry and a digest of a
 * few sample sectors, which tell a later run that the disk in the drive is still this one),
 * the status line, then "position size status" in bytes from 0 to the end of the copy. Lines
 * end in LF, as the ddrescue tools write them. A map file is never cut or left behind the
 * image: it is written beside, flushed to the disk and then put in place of the old one.
 */
#ifndef KESTROVA_RESCUE_MAP_H
#define KESTROVA_RESCUE_MAP_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>
#include "device_identity.h"
#include "sha256.h"

/* ddrescue's statuses, of a block and of the phase in the status line. */
constexpr char kNonTried = '?';      /* block: not tried yet; phase: copying */
constexpr char kNonTrimmed = '*';    /* a failed large read, edges not yet trimmed; phase: trimming */
constexpr char kNonScraped = '/';    /* trimmed, not yet read sector by sector; phase: scraping */
constexpr char kBadSector = '-';     /* read alone and failed; phase: retrying */
constexpr char kFinished = '+';      /* read; phase: finished */

/* Room for a map's path: an image path and ".map" (and ".bak" and a number), or a Disk to
   disk map's name. */
constexpr int kMapPathSize = 260 + 64;

struct MapBlock {
    uint32_t first;     /* sectors */
    uint32_t count;
    char status;
};

/* A sector the map keeps a digest of, so that a later run can tell the disk again. */
struct DiskSample {
    uint32_t sector;
    char digest[kSha256TextSize];
};

struct RescueMap {
    DeviceIdentity device;           /* its sectorSize counts the blocks in bytes */
    int32_t sectors;                 /* the copy: sectors 0 to sectors - 1 */
    std::vector<MapBlock> blocks;    /* contiguous from 0 to sectors, neighbours differ */
    uint32_t position;               /* the status line: where the rescue is, */
    char phase;                      /* in which phase, */
    int pass;                        /* and which pass of it */
    std::vector<DiskSample> samples;
};

/* A map of sectors sectors, none tried, of device. */
void startMap(RescueMap &map, const DeviceIdentity &device, int32_t sectors);

/* Gives [first, first + count) the status, joining neighbours of the same status. */
void setStatus(RescueMap &map, uint32_t first, uint32_t count, char status);

char statusAt(const RescueMap &map, uint32_t sector);

/* Sectors with status (within [first, first + count) in the second form). */
uint32_t sectorsWith(const RescueMap &map, char status);
uint32_t sectorsWithin(const RescueMap &map, char status, uint32_t first, uint32_t count);

/* Sectors not read (any status but '+') within [first, first + count). */
uint32_t sectorsNotRead(const RescueMap &map, uint32_t first, uint32_t count);

/* Whether nothing is left to copy, trim or scrape (bad sectors may remain). */
bool mapFinished(const RescueMap &map);

/* The first block with status that ends after from, cut to start at from. false: none. */
bool nextBlockWith(const RescueMap &map, char status, uint32_t from, MapBlock &block);

/* The last block with status that starts before end, cut to end at end. false: none. */
bool previousBlockWith(const RescueMap &map, char status, uint32_t end, MapBlock &block);

/* The file's text; now is the time its heading gives. */
std::string mapText(const RescueMap &map, const char *now);

/* Why a map's text cannot be used by this program (Usable: it can). */
enum class MapVerdict {
    Usable,
    NotAMap,       /* a line that is no status line or block of a mapfile */
    Gaps,          /* the blocks do not run on from 0 to the end of the copy, or overlap */
    NotOurs,       /* a sound mapfile, but one that another program wrote: no device is named */
};

/*
 * Reads a map's text. Every status but '+' is taken as not read, wherever it stands. The
 * blocks must run on without a gap or an overlap from 0 to the end of the copy that the
 * heading names; a map of another program (ddrescue's own) is read for its blocks, in bytes,
 * and judged NotOurs. byteBlocks, when given, receives the blocks as the file has them.
 */
struct ByteBlock {
    uint64_t position;
    uint64_t size;
    char status;
};
MapVerdict parseMap(const std::string &text, RescueMap &map, std::vector<ByteBlock> *byteBlocks = nullptr);

/* The map of an image: its path with ".map" added. false when that does not fit size bytes. */
bool mapPathForImage(const char *imagePath, char *mapPath, size_t size);

/*
 * Writes map to path: into path.new, flushed to the disk, then put in place of path. 1, or 0
 * when it cannot be written (path is then as it was).
 */
int writeMapFile(const char *path, const RescueMap &map);

/*
 * How the files beside an image (the map, the report) are written, so that a failure half way or
 * a crash leaves the old file whole: the text into path.new (temporary, of size bytes), flushed
 * to the disk; then that file in place of path. false when either cannot be done (path.new is
 * then gone again).
 */
bool writeBeside(const char *path, const std::string &text, char *temporary, size_t size);
bool putInPlace(const char *temporary, const char *path);

/* What is at a map's path, and whether this program can go on from it. */
enum class MapFileState { Missing, Read, Unreadable };
MapFileState readMapFile(const char *path, RescueMap &map, MapVerdict &verdict);

/*
 * Before a copy replaces the map at path: a file there that is not a usable map of this
 * program is kept as path.bak (or path.bak2, ...), never lost. backup receives the name it
 * got (empty when none was needed). false when it had to be kept and could not be.
 */
bool keepForeignMap(const char *path, char *backup, size_t size);

/* Called with the map's path and contents at every map write, after the rescued sectors were
   flushed and before the map takes its place. For the tests; null in the program. */
using MapWriteObserver = void (*)(const char *path, const RescueMap &map);
void observeMapWrites(MapWriteObserver observer);

#endif
