/*
 * Sets of sectors kept as sorted runs: the sectors a copy found unreadable, those a map lists
 * as still to read. Sectors are added in ascending order, as a copy meets them.
 */
#ifndef KESTROVA_SECTOR_RUNS_H
#define KESTROVA_SECTOR_RUNS_H

#include <cstdint>
#include <vector>

struct SectorRun {
    uint32_t first;
    uint32_t count;
};

/* Sorted by first sector, never overlapping, touching runs merged. */
using SectorRuns = std::vector<SectorRun>;

/* Adds sector, which is above every sector already held (or equal to the last one). */
void addSector(SectorRuns &runs, uint32_t sector);
/* Adds the run [first, first + count), above every sector already held. */
void addRun(SectorRuns &runs, uint32_t first, uint32_t count);
uint32_t sectorsIn(const SectorRuns &runs);
bool holdsSector(const SectorRuns &runs, uint32_t sector);
/* How many of the sectors [first, first + count) runs holds. */
uint32_t sectorsWithin(const SectorRuns &runs, uint32_t first, uint32_t count);

#endif
