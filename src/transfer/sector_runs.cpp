/* Sets of sectors as sorted runs. */
#include "sector_runs.h"

#include <algorithm>

void addRun(SectorRuns &runs, uint32_t first, uint32_t count)
{
    if (count == 0)
        return;
    if (!runs.empty()) {
        SectorRun &last = runs.back();
        uint64_t lastEnd = uint64_t(last.first) + last.count;
        if (first <= lastEnd) {
            uint64_t end = std::max<uint64_t>(lastEnd, uint64_t(first) + count);
            last.count = uint32_t(end - last.first);
            return;
        }
    }
    runs.push_back({first, count});
}

void addSector(SectorRuns &runs, uint32_t sector)
{
    addRun(runs, sector, 1);
}

uint32_t sectorsIn(const SectorRuns &runs)
{
    uint32_t total = 0;
    for (const SectorRun &run : runs)
        total += run.count;
    return total;
}

uint32_t sectorsWithin(const SectorRuns &runs, uint32_t first, uint32_t count)
{
    const uint64_t end = uint64_t(first) + count;
    uint32_t total = 0;
    for (const SectorRun &run : runs) {
        uint64_t from = std::max<uint64_t>(run.first, first);
        uint64_t to = std::min<uint64_t>(uint64_t(run.first) + run.count, end);
        if (to > from)
            total += uint32_t(to - from);
    }
    return total;
}

bool holdsSector(const SectorRuns &runs, uint32_t sector)
{
    return sectorsWithin(runs, sector, 1) == 1;
}
