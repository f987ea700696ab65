/*
 * The probe of a medium: the recognisers at each place a file system can begin, the findings
 * that follow from the extents, and the verdict.
 */
#include "contents.h"

#include <algorithm>
#include "probe_source.h"
#include "recognisers.h"

namespace {

constexpr size_t kMaxFileSystems = 8;
constexpr uint64_t kSectorBytes = 512;
constexpr uint64_t kPregapBytes = 307200;            /* a CD image that kept its 150-sector pregap */
constexpr uint64_t kSlotAlignment = 1 << 20;         /* cards whose slots start at whole MB */
constexpr uint64_t kKurzweilSlot = 2147483136;       /* K-series SCSI2SD cards: 2 GB less a sector */

uint64_t roundUp(uint64_t value, uint64_t step)
{
    return (value + step - 1) / step * step;
}

void moveBy(FileSystem &fs, uint64_t origin)
{
    fs.offset += origin;
    for (Partition &p : fs.partitions)
        p.offset += origin;
}

/* What lies beyond the medium's end: the findings "truncated" and "missing". */
void markExtents(FileSystem &fs, uint64_t mediumBytes)
{
    fs.truncated = fs.offset + fs.bytes > mediumBytes;
    for (Partition &p : fs.partitions) {
        p.missing = p.offset >= mediumBytes && p.bytes > 0;
        p.truncated = !p.missing && p.offset + p.bytes > mediumBytes;
        for (FileSystem &inside : p.found)
            markExtents(inside, mediumBytes);
    }
}

/* The first recogniser that accepts what lies at origin. A partition table is looked for only at
   the places a disk starts, and its partitions are probed in turn. */
bool probeAt(ProbeReader &reader, uint64_t origin, bool swapped, bool withTable, FileSystem &found)
{
    const Source source = sourceAt(reader, origin, swapped);
    if (source.bytes < kSectorBytes)
        return false;
    for (size_t i = 0; i < kRecogniserCount; i++) {
        const Recogniser &recogniser = *kRecognisers[i];
        if ((!withTable && &recogniser == &kMbrRecogniser) || !magicPresent(source, recogniser.magic))
            continue;
        FileSystem fs;
        if (!recogniser.probe(source, fs))
            continue;
        fs.byteSwapped = swapped;
        moveBy(fs, origin);
        if (fs.family == Family::Mbr)
            for (Partition &p : fs.partitions) {
                FileSystem inside;
                if (probeAt(reader, p.offset, swapped, false, inside))
                    p.found.push_back(inside);
            }
        found = fs;
        return true;
    }
    return false;
}

/* A card may hold several file systems back to back: the next one starts where the last one
   ends, or at the next slot boundary after it. Sector by sector in between would cost too many
   reads. */
bool probeAfter(ProbeReader &reader, const FileSystem &last, FileSystem &found)
{
    const uint64_t end = last.offset + last.bytes;
    const uint64_t candidates[] = {end, roundUp(end, kSlotAlignment), roundUp(end, kKurzweilSlot)};
    for (size_t i = 0; i < 3; i++) {
        const uint64_t at = candidates[i];
        if (last.bytes == 0 || at + kSectorBytes > reader.medium->bytes ||
            std::find(candidates, candidates + i, at) != candidates + i)
            continue;
        if (probeAt(reader, at, last.byteSwapped, false, found))
            return true;
    }
    return false;
}

}  // namespace

DiskContents probeContents(const Medium &medium)
{
    DiskContents contents;
    contents.mediumBytes = medium.bytes;
    contents.sectorSize = medium.sectorSize;
    if (medium.bytes == 0 || medium.sectorSize == 0) {
        contents.verdict = Verdict::NoSectors;
        return contents;
    }
    if (medium.bytes < kSectorBytes || medium.bytes < medium.sectorSize) {
        contents.verdict = Verdict::TooSmall;
        return contents;
    }

    ProbeReader reader;
    startReader(reader, medium);
    FileSystem fs;
    bool found = probeAt(reader, 0, false, true, fs);
    if (!found && medium.imageFile && !reader.nonZeroSeen)
        found = probeAt(reader, kPregapBytes, false, true, fs);
    /* Only when nothing else is there: the swapped view never hides a plain format. */
    if (!found)
        found = probeAt(reader, 0, true, true, fs);
    while (found) {
        contents.fileSystems.push_back(fs);
        if (contents.fileSystems.size() == kMaxFileSystems)
            break;
        found = probeAfter(reader, contents.fileSystems.back(), fs);
    }

    for (FileSystem &f : contents.fileSystems) {
        markExtents(f, medium.bytes);
        contents.usedBytes = std::max(contents.usedBytes, f.offset + f.bytes);
    }
    contents.requests = reader.requests;
    contents.failedStatus = reader.failedStatus;
    contents.failedSector = reader.failedSector;
    if (!contents.fileSystems.empty())
        contents.verdict = Verdict::Recognised;
    else if (reader.failedStatus != 0)
        contents.verdict = Verdict::ReadFailed;
    else if (!reader.nonZeroSeen)
        contents.verdict = Verdict::Blank;
    else
        contents.verdict = Verdict::Unknown;
    return contents;
}

const FileSystem *mainFileSystem(const DiskContents &contents)
{
    if (contents.fileSystems.empty())
        return nullptr;
    const FileSystem &first = contents.fileSystems.front();
    if (first.family == Family::Mbr)
        for (const Partition &p : first.partitions)
            if (!p.found.empty())
                return &p.found.front();
    return &first;
}

bool holdsSeveral(const DiskContents &contents)
{
    return contents.fileSystems.size() > 1;
}
