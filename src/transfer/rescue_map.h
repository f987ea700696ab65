/*
 * The list of unreadable sectors of a copy as a GNU ddrescue mapfile, so that ddrescue,
 * ddrescuelog and ddrescueview read it: heading comments (which name the device the copy came
 * from), the status line, then contiguous blocks of "position size status" in bytes, from 0 to
 * the end of the copy: '+' read, '-' unreadable (bad sector), '?' not tried (the copy was
 * stopped before). Lines end in LF, as the ddrescue tools write them.
 */
#ifndef KESTROVA_RESCUE_MAP_H
#define KESTROVA_RESCUE_MAP_H

#include <cstddef>
#include <cstdint>
#include "device_identity.h"
#include "sector_runs.h"

/* Room for a map's path: an image path and ".map", or a Disk to disk map's name. */
constexpr int kMapPathSize = 260 + 64;

struct RescueMap {
    DeviceIdentity device;
    int32_t sectors;          /* sectors of the copy, from sector 0 */
    int32_t triedSectors;     /* sectors read or found unreadable, from sector 0; the rest not tried */
    SectorRuns unreadable;
};

/* The map of an image: its path with ".map" added. false when that does not fit size bytes. */
bool mapPathForImage(const char *imagePath, char *mapPath, size_t size);

/* Writes map to path, replacing the file. 1, or 0 when it cannot be written. */
int writeRescueMap(const char *path, const RescueMap &map);

/*
 * Reads a map that this program wrote: the device from its heading, the unreadable and the
 * untried sectors from its blocks. 0 when the file is missing or is not such a map.
 */
int readRescueMap(const char *path, RescueMap &map);

/* Whether the map's device is the device the program now sees at the same place. */
bool sameDevice(const DeviceIdentity &mapped, const DeviceIdentity &present);

#endif
